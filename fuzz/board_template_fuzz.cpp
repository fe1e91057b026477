// Preload and board-configuration templates: a template that parses names
// only bytes inside the table and changes nothing else; one that does not
// leaves the caller's table alone. The file reader agrees with the parser.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "boardcfg/board_template.h"
#include "fuzz_support.h"

namespace {

constexpr SD_UINT32 kTableSize = 0x400;

void CheckApplied(const BoardTemplate& tpl) {
    // A table of recognisable bytes, so that a byte written where no patch
    // points is seen.
    std::vector<SD_UINT8> fresh(kTableSize);
    for (size_t i = 0; i < fresh.size(); ++i) fresh[i] = static_cast<SD_UINT8>(i * 13 + 5);
    std::vector<bool> named(kTableSize, false);
    for (size_t i = 4; i < 8; ++i) named[i] = true;   // the version bytes
    for (const BoardTemplatePatch& p : tpl.patches) {
        ZVFUZZ_CHECK(!p.bytes.empty());
        ZVFUZZ_CHECK(uint64_t{p.offset} + p.bytes.size() <= kTableSize);
        for (size_t i = 0; i < p.bytes.size(); ++i) named[p.offset + i] = true;
    }
    std::vector<SD_UINT8> table = fresh;
    ZVFUZZ_CHECK(ApplyBoardTemplate(tpl, table));
    ZVFUZZ_CHECK(table[7] == tpl.version[0] && table[4] == tpl.version[3]);
    for (size_t i = 0; i < table.size(); ++i) ZVFUZZ_CHECK(named[i] || table[i] == fresh[i]);

    // Into a shorter buffer either everything fits or nothing is written.
    std::vector<SD_UINT8> half(fresh.begin(), fresh.begin() + kTableSize / 2);
    if (!ApplyBoardTemplate(tpl, half)) ZVFUZZ_CHECK(std::equal(half.begin(), half.end(), fresh.begin()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = zvfuzz::ScratchDir() + "/template.dat";
    const std::string text(reinterpret_cast<const char*>(data), size);
    zvfuzz::WriteFile(path, text);
    for (std::string_view signature : {"JKOZ", "CBF(", "IKOZ"}) {
        BoardTemplate tpl;
        std::string reason;
        const bool parsed = ParseBoardTemplate(text, signature, kTableSize, &tpl, &reason);
        ZVFUZZ_CHECK(parsed || !reason.empty());
        if (parsed) {
            ZVFUZZ_CHECK(std::string_view(tpl.table.data(), tpl.table.size()) == signature);
            CheckApplied(tpl);
        }
        BoardTemplate fromFile;
        const int rc = LoadBoardTemplateFile(path.c_str(), signature, kTableSize, &fromFile);
        ZVFUZZ_CHECK(rc == (parsed ? 0 : 13));
        if (parsed) ZVFUZZ_CHECK(fromFile.version == tpl.version && fromFile.patches.size() == tpl.patches.size());
    }
    return 0;
}
