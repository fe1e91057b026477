// Firmware image checks: any buffer is judged without reading past it, and a
// buffer judged valid really holds both segments.
//
// Input: the firmware file (or firmware region).
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "image/firmware_image.h"

namespace {
uint64_t Word(const std::vector<uint8_t>& d, uint64_t w) {
    return uint64_t{d[w * 4]} << 24 | uint64_t{d[w * 4 + 1]} << 16 | uint64_t{d[w * 4 + 2]} << 8 | d[w * 4 + 3];
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<SD_UINT8> input(data, data + size);
    const std::span<const SD_UINT8> in(input);
    const int sum = computeFirmwareChecksum(in);
    ZVFUZZ_CHECK(sum == 25 || sum == 28 || sum == 29);
    if (sum == 28) {
        const uint64_t words = size / 4;
        const uint64_t l1 = Word(input, 3);
        ZVFUZZ_CHECK(l1 != 0 && l1 + 4 <= words);
        const uint64_t l2 = Word(input, l1 + 3);
        ZVFUZZ_CHECK(l2 != 0 && l1 + l2 <= words);
    }
    const int family = isCorrectFirmwareImage(in, "ISP2532");
    const int valid = validateFirmware(in, "ISP2532", 1);
    ZVFUZZ_CHECK(valid == (family == 28 ? sum : family));
    isCorrectFirmwareMBImage(in);
    MultibootVersions v{};
    getMBImageVersionInFirmware(in, &v);
    SD_UINT64 attrs = 0;
    ZVFUZZ_CHECK((GetFirmwareAttribute(in, 0x2532, &attrs) == 0) == (size >= 120));
    validateZantoFirmware(in, ZANTO_CHIP_NAME, 1);
    char text[6];
    GetZantoFirmwareVersionFromImage(in, text);
    return 0;
}
