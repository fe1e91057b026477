// Flash layout table as read from region 0x1C, and the locator that follows a
// boot-code chain: the version is the header's, an entry found lies whole
// inside the entries the header's length gives and carries the code asked
// for, and a locator passes only with its signature.
//
// Input: one byte, the region code looked up; the table, separator, the
// locator (with whatever follows it).
#include <cctype>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "image/flash_layout_table.h"

namespace {

bool SignatureHolds(const zvfuzz::Bytes& l) {
    if (l.size() < FLT_LOCATOR_SIZE || l[4] != 0) return false;
    for (size_t i = 0; i < 4; ++i)
        if (std::toupper(l[i]) != "ZFLT"[i]) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const SD_UINT8 code = data[0];
    const std::vector<zvfuzz::Bytes> pieces = zvfuzz::Split(data + 1, size - 1, 2);
    const zvfuzz::Bytes& table = pieces[0];
    const zvfuzz::Bytes& locator = pieces[1];

    const bool header = table.size() >= FLT_HEADER_SIZE;
    ZVFUZZ_CHECK(ValidateFlashLayout(table) == (header ? 1 : 0));
    ZVFUZZ_CHECK(GetFlashLayoutVersion(table) == (header ? (table[0] | table[1] << 8) : 0));
    if (const auto entry = GetFlashLayoutEntryByRegionCode(table, code)) {
        ZVFUZZ_CHECK(header && entry->region_code == code);
        const size_t end = FLT_HEADER_SIZE + (table[2] | table[3] << 8);
        bool inside = false;
        for (size_t at = FLT_HEADER_SIZE; !inside && at + FLT_ENTRY_SIZE <= end; at += FLT_ENTRY_SIZE)
            inside = table[at] == code && std::memcmp(table.data() + at, &*entry, FLT_ENTRY_SIZE) == 0;
        ZVFUZZ_CHECK(inside && end <= table.size());
    }

    const bool holds = SignatureHolds(locator);
    ZVFUZZ_CHECK(ValidateFLTLocator(locator) == (holds ? 1 : 0));
    const SD_UINT32 address = FLT_Locator_GetAddress(locator);
    if (locator.size() < FLT_LOCATOR_SIZE) ZVFUZZ_CHECK(address == 0);
    else ZVFUZZ_CHECK(address == (locator[4] | locator[5] << 8 | locator[6] << 16 | SD_UINT32{locator[7]} << 24));
    ZVFUZZ_CHECK(ValidateK7RFLTLocator(locator) == (holds && address != FLT_K7R_INVALID_ADDRESS ? 1 : 0));
    return 0;
}
