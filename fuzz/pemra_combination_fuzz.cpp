// The Pemra combination over any image: nothing is written outside the
// combined buffer, whatever the table says, and the result is a count of
// merged entries, -1 or a failure code.
//
// Input: the image (its table at the start); the card type and chip revision
// are taken from its first bytes past the header when there are any.
#include <cstdint>
#include <vector>

#include "engines/pemra_combination.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<SD_UINT8> image(data, data + size);
    const SD_INT16 cardType = size > 33 ? static_cast<SD_INT16>(data[32] | (data[33] & 0x7F) << 8) : 1;
    const SD_UINT16 chipRev = size > 34 ? data[34] : 0;
    sHbaIdentifiers ids{};
    ids.vendorId = 0x1A77;
    ids.deviceId = 0x031A;
    ids.chipRev = chipRev;

    constexpr size_t kGuard = 64;
    std::vector<SD_UINT8> out(size + kGuard, 0xA5);
    const SD_INT16 rc = CombinePemraImageComponentsInBuffer(std::span<SD_UINT8>(out).first(size), image, 0, cardType,
                                                            chipRev, ids);
    ZVFUZZ_CHECK(rc >= -1 && rc <= 0xFF);
    ZVFUZZ_CHECK(rc <= COMBINE_MAX_ENTRIES || rc >= 0x80);
    for (size_t i = size; i < out.size(); ++i) ZVFUZZ_CHECK(out[i] == 0xA5);
    return 0;
}
