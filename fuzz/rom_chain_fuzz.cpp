// ROM chain walkers, patcher and checks: any buffer gives an end inside it or
// none, a broken chain is never reported patched, and a chain patched
// successfully still ends where it ended before.
//
// Input: the chain (boot code as read from a file or a flash region).
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "image/boot_code_chain.h"
#include "image/boot_code_images.h"
#include "image/rom_chain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<SD_UINT8> input(data, data + size);   // exact size: reads past it are caught
    const std::span<const SD_UINT8> in(input);
    const SD_UINT8* end = GetBootCodeEnd(in);
    ZVFUZZ_CHECK(end == nullptr || (end > in.data() && end <= in.data() + in.size()));

    for (SD_UINT16 chip : {SD_UINT16{0x2261}, SD_UINT16{0x8021}, SD_UINT16{0x8030}}) {
        std::vector<SD_UINT8> fc(input);
        if (UpdateAllPciHeaders(fc, 0x1077, 0x0001, chip, "FUZZ-MODEL-NAME-TOO-LONG") == 0) {
            ZVFUZZ_CHECK(end != nullptr);
            ZVFUZZ_CHECK(GetBootCodeEnd(fc) == fc.data() + (end - in.data()));
        }
        std::vector<SD_UINT8> iscsi(input);
        if (UpdateiSCSIPciHeaders(iscsi, 0x1077, 0x0001, chip, "M") == 0) ZVFUZZ_CHECK(end != nullptr);
        const int fcoe = ValidateFCoEPciHeaders(in, chip);
        ZVFUZZ_CHECK(fcoe == (end != nullptr ? 1 : 0));
        ZVFUZZ_CHECK(ValidateiSCSIPciHeaders(in, chip) == fcoe);
        ZVFUZZ_CHECK(ValidateNICPartitionPciHeaders(in, chip) == fcoe);
        if (ValidateNICPciHeaders(in, chip) == 1) ZVFUZZ_CHECK(end != nullptr);
    }

    // Single-image rules at a few offsets, including ones past the buffer.
    std::vector<SD_UINT8> copy(input);
    for (unsigned off : {0u, 1u, 512u, static_cast<unsigned>(size), 0xFFFFFFF0u}) {
        ComputeChecksum(true, copy, off);
        Validate(in, "2261", off);
        ValidateEFI(in, "2A61", off);
        validateFCode(in, "2071", 0, off);
        validateFCode(in, "2312", 1, off);
        UpdateImage(0, 0x1077, copy, "M", "ISP2261", off);
        UpdateImageEFI(0, 0, copy, "ISP2261", off);
    }
    return 0;
}
