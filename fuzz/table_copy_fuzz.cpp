// Copies of single-copy tables kept on the host: a file's bytes are taken as a
// copy only when they are exactly what the writer makes of that data, never
// read past, and a copy's file name never leaves its directory.
//
// Input: a byte of region code, then the file's bytes (their length less the
// header is the size asked for); the same bytes, as text, are a serial number.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "boardcfg/table_copies.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const SD_UINT32 region = data[0];
    const std::vector<SD_UINT8> file(data + 1, data + size);
    const std::size_t want = file.size() >= TBLCOPY_HEADER_SIZE ? file.size() - TBLCOPY_HEADER_SIZE : 0;

    std::vector<SD_UINT8> table;
    if (DecodeTableCopy(file, region, want, &table)) {
        ZVFUZZ_CHECK(table.size() == want);
        ZVFUZZ_CHECK(EncodeTableCopy(region, table) == file);
    }
    ZVFUZZ_CHECK(!DecodeTableCopy(file, region, want + 1, &table));
    if (file.size() <= TBLCOPY_MAX_DATA) {
        const std::vector<SD_UINT8> again = EncodeTableCopy(region, file);
        ZVFUZZ_CHECK(DecodeTableCopy(again, region, file.size(), &table) && table == file);
    }

    const std::string serial(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string name = TableCopyFileName(serial.c_str(), region);
    ZVFUZZ_CHECK(name.find('/') == std::string::npos && name != "." && name != "..");
    ZVFUZZ_CHECK(name.empty() == (serial.c_str()[0] == '\0' || std::strcmp(serial.c_str(), "N/A") == 0));
    return 0;
}
