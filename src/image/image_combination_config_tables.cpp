// Patching the configuration tables of a multiboot image for one adapter.
#include "image/image_combination_config_tables.h"

#include <cstdint>
#include <cstring>

#include "core/image_status.h"
#include "frontend/output.h"
#include "image/word_helpers.h"

namespace {

constexpr std::size_t kChecksumAt = 8;
constexpr std::size_t kLengthAt = 12;
constexpr std::size_t kSsvidAt = 16;
constexpr std::size_t kSsdidAt = 18;
constexpr std::size_t kHeaderSize = 20;
// The preload and FC board-configuration tables are checked over this many words.
constexpr SD_UINT32 kTableCheckWords = 32768;

void Put16(std::span<SD_UINT8> b, std::size_t at, SD_UINT32 v) {
    b[at] = static_cast<SD_UINT8>(v);
    b[at + 1] = static_cast<SD_UINT8>(v >> 8);
}

// The bytes the header's length covers; 0 when the length is below the header or past the buffer.
std::size_t Covered(std::span<const SD_UINT8> t) {
    if (t.size() < kHeaderSize) return 0;
    const std::uint64_t words = SD_UINT32{t[kLengthAt]} | SD_UINT32{t[kLengthAt + 1]} << 8 |
                                SD_UINT32{t[kLengthAt + 2]} << 16 | SD_UINT32{t[kLengthAt + 3]} << 24;
    const std::uint64_t bytes = words * 4;
    return bytes < kHeaderSize || bytes > t.size() ? 0 : static_cast<std::size_t>(bytes);
}

// Signature, the (unenforced) word sum over `words`, and a sound length.
bool TableValid(std::span<const SD_UINT8> t, const char* signature, SD_UINT32 words) {
    if (t.size() < kHeaderSize || std::memcmp(t.data(), signature, 4) != 0) return false;
    if (HLPR_Sum32(t, words) != 0) return false;
    return Covered(t) != 0;
}

void PatchIds(std::span<SD_UINT8> t, const sHbaIdentifiers& ids) {
    Put16(t, kSsvidAt, ids.vendorId);
    Put16(t, kSsdidAt, ids.deviceId);
}

void Reseal(std::span<SD_UINT8> t) {
    const std::size_t covered = Covered(t);
    CoreCalculateChecksum32(t, static_cast<SD_UINT32>(covered), kChecksumAt);
}

}  // namespace

SD_UINT8 UpdateFWAPreloadBuffer(std::span<SD_UINT8> pBuffer, const sHbaIdentifiers* ids) {
    if (pBuffer.data() == nullptr) return CFGBUF_PATCHED;
    if (ids == nullptr) return CFGBUF_NO_IDS;
    if (!TableValid(pBuffer, "JKOZ", kTableCheckWords)) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateFWAPreloadBuffer: FWA preload validation failed!");
        return CFGBUF_INVALID;
    }
    PatchIds(pBuffer, *ids);
    Reseal(pBuffer);
    return CFGBUF_PATCHED;
}

SD_UINT8 UpdateFBCBuffer(std::span<SD_UINT8> pBuffer, const sHbaIdentifiers* ids) {
    if (pBuffer.data() == nullptr) return CFGBUF_PATCHED;
    if (ids == nullptr) return CFGBUF_NO_IDS;
    if (!TableValid(pBuffer, "CBF(", kTableCheckWords)) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateFBCBuffer: FBC validation failed!");
        return CFGBUF_INVALID;
    }
    PatchIds(pBuffer, *ids);
    Reseal(pBuffer);
    const std::span<SD_UINT8> serdes =
        pBuffer.size() > CFGBUF_SERDES_OFFSET ? pBuffer.subspan(CFGBUF_SERDES_OFFSET) : std::span<SD_UINT8>();
    if (!TableValid(serdes, "ULS(", static_cast<SD_UINT32>(serdes.size() / 4))) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateFBCBuffer: FC Serdes validation failed!");
        return CFGBUF_INVALID;
    }
    PatchIds(serdes, *ids);
    Reseal(serdes);
    return CFGBUF_PATCHED;
}

SD_UINT8 UpdatePEPBrdCfgBuffer(std::span<SD_UINT8> pBuffer, const sHbaIdentifiers* ids) {
    if (pBuffer.data() == nullptr) return CFGBUF_PATCHED;
    // The second copy of the ids must lie inside the covered table.
    const bool valid = TableValid(pBuffer, "IKOZ", static_cast<SD_UINT32>(Covered(pBuffer) / 4)) &&
                       Covered(pBuffer) >= CFGBUF_PEP_SSVID_COPY + 2;
    if (!valid) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdatePEPBrdCfgBuffer: validation failed!");
        return CFGBUF_INVALID;
    }
    if (ids == nullptr) return CFGBUF_PATCHED;
    PatchIds(pBuffer, *ids);
    Put16(pBuffer, CFGBUF_PEP_SSDID_COPY, ids->deviceId);
    Put16(pBuffer, CFGBUF_PEP_SSVID_COPY, ids->vendorId);
    Reseal(pBuffer);
    return CFGBUF_PATCHED;
}
