// Carrying the adapter's defaults (subsystem vendor id, "MEISP " block) into
// new boot code: image lengths, data-structure pointers and markers that
// point anywhere end the walk inside both buffers; a successful run changes
// bytes only inside x86 BIOS images of the new chain, each of which is then
// left with an option-ROM checksum that holds.
//
// Input: a byte choosing the adapter's device id, then the boot code read
// from the adapter, separator, the new boot code.
#include <cstdint>
#include <vector>

#include "core/chip_types.h"
#include "fuzz_support.h"

namespace {

const SD_UINT16 kDeviceIds[] = {0x2261, 0x2281, 0x2532, 0x2071};

struct Image {
    size_t offset, length;
};

size_t Le16(const std::vector<SD_UINT8>& b, size_t at) { return at + 2 <= b.size() ? b[at] | b[at + 1] << 8 : 0; }

// The x86 BIOS images of a chain as it was handed over.
std::vector<Image> BiosImages(const std::vector<SD_UINT8>& b) {
    std::vector<Image> images;
    for (size_t off = 0; off + 0x1A <= b.size() && images.size() < 4096;) {
        const size_t pcir = off + Le16(b, off + 0x18);
        if (pcir + 0x16 > b.size()) break;
        const size_t length = size_t{b[off + 2]} * 512;
        if (b[pcir + 0x14] == 0 && length != 0 && off + length <= b.size()) images.push_back({off, length});
        const size_t next = Le16(b, pcir + 0x10) * 512;
        if ((b[pcir + 0x15] & 0x80) != 0 || next == 0) break;
        off += next;
    }
    return images;
}

bool ChecksumHolds(const std::vector<SD_UINT8>& b, const Image& image) {
    SD_UINT8 sum = 0;
    for (size_t i = 0; i + 2 < image.length; ++i) sum = static_cast<SD_UINT8>(sum + b[image.offset + i]);
    return static_cast<SD_UINT8>(sum + b[image.offset + image.length - 1]) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    SDMDevice device{};
    device.DeviceChipProperty.DeviceID = kDeviceIds[data[0] % 4];
    const std::vector<zvfuzz::Bytes> pieces = zvfuzz::Split(data + 1, size - 1, 2);
    const zvfuzz::Bytes& adapter = pieces[0];
    const zvfuzz::Bytes before = pieces[1];
    zvfuzz::Bytes code = pieces[1];
    const int rc = CorePreserveISPDefaults(&device, adapter, code);
    ZVFUZZ_CHECK(rc == 0 || rc == -1);
    if (rc != 0) return 0;
    const std::vector<Image> images = BiosImages(before);
    std::vector<bool> touched(images.size(), false);
    for (size_t i = 0; i < code.size(); ++i) {
        if (code[i] == before[i]) continue;
        bool inside = false;
        for (size_t k = 0; k < images.size(); ++k) {
            if (i < images[k].offset || i >= images[k].offset + images[k].length) continue;
            inside = touched[k] = true;
        }
        ZVFUZZ_CHECK(inside);
    }
    for (size_t k = 0; k < images.size(); ++k) {
        if (touched[k]) ZVFUZZ_CHECK(ChecksumHolds(code, images[k]));
    }
    return 0;
}
