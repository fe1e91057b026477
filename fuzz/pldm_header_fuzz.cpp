// Firmware-package (PLDM) headers: the header size is only taken when the
// buffer holds the whole header, both readers agree, and a package cut
// before its header's end is no package.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/host_info.h"
#include "fuzz_support.h"

namespace {

const SD_UINT8 kIdentifier[16] = {0xF0, 0x18, 0x87, 0x8C, 0xCB, 0x7D, 0x49, 0x43,
                                  0x98, 0x00, 0xA0, 0x2F, 0x05, 0x9A, 0xCA, 0x02};

void Check(const std::vector<SD_UINT8>& pkg) {
    const SD_UINT32 size = CoreGetPLDMFwImageHeaderSize(pkg);
    const int is = CoreIsPLDMFwImage(pkg);
    ZVFUZZ_CHECK(is == 0 || is == 1);
    ZVFUZZ_CHECK((size != 0) == (is == 1));
    if (size == 0) return;
    ZVFUZZ_CHECK(size >= PLDM_HEADER_FIXED_SIZE && size <= pkg.size());
    ZVFUZZ_CHECK(std::equal(std::begin(kIdentifier), std::end(kIdentifier), pkg.begin()));
    ZVFUZZ_CHECK(size == static_cast<SD_UINT32>(pkg[17] | pkg[18] << 8));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<SD_UINT8> pkg(data, data + size);
    Check(pkg);
    if (const SD_UINT32 header = CoreGetPLDMFwImageHeaderSize(pkg); header != 0) {
        // Exactly the header is still a package, one byte less is none.
        const std::vector<SD_UINT8> whole(pkg.begin(), pkg.begin() + header);
        const std::vector<SD_UINT8> cut(pkg.begin(), pkg.begin() + header - 1);
        ZVFUZZ_CHECK(CoreGetPLDMFwImageHeaderSize(whole) == header && CoreIsPLDMFwImage(whole) == 1);
        ZVFUZZ_CHECK(CoreGetPLDMFwImageHeaderSize(cut) == 0 && CoreIsPLDMFwImage(cut) == 0);
    }
    return 0;
}
