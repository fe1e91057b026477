// Boot-code version walk over any bytes: it never reads past the buffer, it
// answers one of its statuses, and a device it does not read boot code of
// leaves the record as it was.
//
// Input: the boot code (as read from a flash region or a component).
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "image/component_versions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<SD_UINT8> input(data, data + size);   // exact size: reads past it are caught
    for (SD_UINT16 device : {SD_UINT16{0x2261}, SD_UINT16{0x2281}}) {
        FlashComponentVersion v{};
        const int st = GetImageBootCodesVersion(input, device, &v);
        ZVFUZZ_CHECK(st == 0 || st == BOOTVER_UNKNOWN_IMAGE || st == BOOTVER_NO_HEADER);
        if (input.empty()) ZVFUZZ_CHECK(st == BOOTVER_NO_HEADER);
    }
    FlashComponentVersion untouched{};
    std::memset(&untouched, 0xA5, sizeof untouched);
    FlashComponentVersion v;
    std::memcpy(&v, &untouched, sizeof v);
    // The first header is read before the device is judged: no header gives 3 whatever the device.
    const int unknown = GetImageBootCodesVersion(input, 0x1234, &v);
    ZVFUZZ_CHECK(unknown == BOOTVER_NO_HEADER || unknown == BOOTVER_INVALID_DEVICE);
    if (input.empty()) ZVFUZZ_CHECK(unknown == BOOTVER_NO_HEADER);
    ZVFUZZ_CHECK(std::memcmp(&v, &untouched, sizeof v) == 0);
    return 0;
}
