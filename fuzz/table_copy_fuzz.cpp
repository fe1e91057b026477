// Copies of single-copy tables kept on the host: a file's bytes are taken as a
// copy only when they are exactly what the writer makes of that data for that
// adapter (or a whole copy of the older format, for an adapter keyed by its
// serial number), never read past, another adapter's copy is told apart (a
// copy is the adapter's when it names one of its names exactly), and
// a copy's file name never leaves its directory.
//
// Input: a byte of region code, a byte whose low bit picks the owner's kind
// (serial number or WWPN), then the file's bytes (their length less a header
// is the size asked for); the same bytes, as text, are the owner's id.
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "boardcfg/table_copies.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const SD_UINT32 region = data[0];
    const std::vector<SD_UINT8> file(data + 2, data + size);
    const TableCopyOwner owner{(data[1] & 1) != 0 ? TableCopyOwnerKind::Wwpn : TableCopyOwnerKind::Serial,
                               std::string(reinterpret_cast<const char*>(data + 2), size - 2)};

    std::vector<SD_UINT8> table;
    for (const std::size_t header : {TBLCOPY_V1_HEADER_SIZE, TBLCOPY_HEADER_SIZE}) {
        const std::size_t want = file.size() >= header ? file.size() - header : 0;
        if (DecodeTableCopy(file, owner, region, want, &table) == TableCopyDecode::Ok) {
            ZVFUZZ_CHECK(table.size() == want);
            if (header == TBLCOPY_HEADER_SIZE) ZVFUZZ_CHECK(EncodeTableCopy(owner, region, table) == file);
        }
        ZVFUZZ_CHECK(DecodeTableCopy(file, owner, region, want + 1, &table) == TableCopyDecode::NotIntact);
    }
    if (file.size() <= TBLCOPY_MAX_DATA && !owner.id.empty() && owner.id.size() < TBLCOPY_OWNER_SIZE) {
        const std::vector<SD_UINT8> again = EncodeTableCopy(owner, region, file);
        ZVFUZZ_CHECK(DecodeTableCopy(again, owner, region, file.size(), &table) == TableCopyDecode::Ok && table == file);
        const TableCopyOwner other{owner.kind, owner.id + "0"};
        ZVFUZZ_CHECK(DecodeTableCopy(again, other, region, file.size(), &table) == TableCopyDecode::OtherOwner);
        // Looked for under any of an adapter's names, the copy is its own
        // when the header names one of them exactly, wherever it stands.
        const TableCopyOwner names[] = {other, owner};
        ZVFUZZ_CHECK(DecodeTableCopy(again, other, names, region, file.size(), &table) == TableCopyDecode::Ok &&
                     table == file);
        ZVFUZZ_CHECK(DecodeTableCopy(again, owner, std::span<const TableCopyOwner>(names, 1), region, file.size(),
                                     &table) == TableCopyDecode::OtherOwner);
    }

    const std::string name = TableCopyFileName(owner, region);
    ZVFUZZ_CHECK(name.find('/') == std::string::npos && name != "." && name != "..");
    ZVFUZZ_CHECK(name.empty() || name.ends_with(".copy"));
    if (owner.kind == TableCopyOwnerKind::Serial) {
        ZVFUZZ_CHECK(name.empty() == (owner.id.empty() || owner.id.size() > TBLCOPY_OWNER_SIZE));
    }
    // An unknown serial number keys by the WWPN (the file's first 8 bytes here), whose name is always one.
    if (file.size() >= 8) {
        const TableCopyOwner keyed = TableCopyOwnerOf(owner.id.c_str(), std::span<const SD_UINT8, 8>(file.data(), 8));
        const char* serial = owner.id.c_str();
        if (*serial == '\0' || std::strncmp(serial, "N/A", 3) == 0) {
            ZVFUZZ_CHECK(keyed.kind != TableCopyOwnerKind::Serial);
            ZVFUZZ_CHECK((keyed.kind == TableCopyOwnerKind::Wwpn) == !TableCopyFileName(keyed, region).empty());
        } else {
            ZVFUZZ_CHECK(keyed.kind == TableCopyOwnerKind::Serial && keyed.id == serial);
        }
    }
    return 0;
}
