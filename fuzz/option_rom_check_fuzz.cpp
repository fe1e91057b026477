// The option-ROM file check of the single-region update over any bytes, for
// each request region: it answers one of its statuses, never touches a byte
// outside the file buffer, and leaves the buffer as it was when the file is
// refused for its size.
//
// Input: the image file.
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "image/option_rom_request.h"
#include "image/option_rom_validation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<SD_UINT8> input(data, data + size);
    OptionROMUserRequest request{};
    g_ptrOptionROMRequest = &request;
    for (SD_UINT32 region : {SD_UINT32{0}, SD_UINT32{1}, SD_UINT32{7}, SD_UINT32{0xFF}, SD_UINT32{0x13}}) {
        std::vector<SD_UINT8> file = input;   // exact size: reads and writes past it are caught
        request.Region = region;
        const int st = validateUpdateMultibootOptionROM(0x0289, 0x1A77, file, "KV2532 model name!", 0x2532, 0);
        ZVFUZZ_CHECK(st >= 0 && st <= 32);
        ZVFUZZ_CHECK(request.Region == 1 || request.Region == 7 || request.Region == 0xFF);
        if (st == OPTROM_DATA_WRONG_SIZE || st == OPTROM_BOOT_WRONG_SIZE || st == OPTROM_FW_TOO_LARGE)
            ZVFUZZ_CHECK(file == input);
    }
    g_ptrOptionROMRequest = nullptr;
    return 0;
}
