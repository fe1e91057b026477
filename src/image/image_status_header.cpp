// In-memory preparation of image-status records.
#include "image/image_status_header.h"

#include "frontend/output.h"
#include "frontend/str_util.h"

namespace {

constexpr std::size_t kChecksumAt = 8;
constexpr std::size_t kSignatureAt = 12;

SD_UINT32 GetLE32(std::span<const SD_UINT8> b, std::size_t off) {
    return SD_UINT32{b[off]} | SD_UINT32{b[off + 1]} << 8 | SD_UINT32{b[off + 2]} << 16 | SD_UINT32{b[off + 3]} << 24;
}

}  // namespace

void resetImageStatusHeader(std::span<SD_UINT8> record, SD_UINT8 imageSet) {
    if (record.size() < IMAGE_STATUS_RECORD_SIZE) return;
    if (imageSet == 1) {
        record[0] = 1;
        record[1] = 1;
    }
    for (std::size_t i = 0; i < 4; ++i)
        record[kSignatureAt + i] = static_cast<SD_UINT8>(IMAGE_STATUS_SIGNATURE_25 >> (8 * i));
    CoreCalculateChecksum32(record, IMAGE_STATUS_RECORD_SIZE, kChecksumAt);
    VORNLogMessage(VORN_MSG_DEBUG, "resetImageStatusHeader: set %u mask=%u checksum=0x%08x", imageSet, record[0],
                   GetLE32(record, kChecksumAt));
}

void getImageStatusHeader(IMAGESTATUSREGION* record, std::span<const SD_UINT8> buffer) {
    if (record == nullptr || buffer.size() < IMAGE_STATUS_RECORD_SIZE) return;
    *record = CoreDecodeImageStatus(buffer);
}

SD_UINT8 getAuxImageStatusBitMap(std::span<const SD_UINT8> buffer) {
    if (buffer.size() < IMAGE_STATUS_RECORD_SIZE) return 0;
    return CoreDecodeImageStatus(buffer).ComponentsBitMap;
}

int getAuxiliaryComponentBitmapMask(std::span<const SD_UINT8> buffer, SD_UINT8 bit) {
    if (buffer.size() < IMAGE_STATUS_RECORD_SIZE) return 0;
    return findbit(getAuxImageStatusBitMap(buffer), bit, 0);
}

int validateImageStatusChecksum(std::span<SD_UINT8> buffer, SD_UINT32 size, SD_UINT32 offset,
                                SD_UINT32* pNewChecksum) {
    if (size > buffer.size() || offset > size || size - offset < 4) {
        VORNLogMessage(VORN_MSG_DEBUG, "validateImageStatusChecksum: checksum at %u outside %u bytes", offset, size);
        return -1;
    }
    const SD_UINT32 stored = GetLE32(buffer, offset);
    const SD_UINT32 computed = CoreCalculateChecksum32(buffer, size, offset);
    if (pNewChecksum != nullptr) *pNewChecksum = computed;
    VORNLogMessage(VORN_MSG_DEBUG, "validateImageStatusChecksum: stored=0x%08x computed=0x%08x", stored, computed);
    // A wrong checksum answers 1, with the new value through pNewChecksum:
    // answering the new value itself would make a right checksum of 0 read
    // as "equal".
    return stored == computed ? 0 : 1;
}
