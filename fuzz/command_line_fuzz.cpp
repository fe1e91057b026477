// The command line: any argument vector either selects one operation with a
// sound adapter argument and names that fit their buffers, or is refused with
// one of the parser's results; WWNatoi and CheckNumber agree with the text
// of every argument.
//
// Input: the arguments after the program's name, separated by NUL bytes. The
// switches write the debug log under the real "/var/log": runs only where
// scripts/fuzz.sh isolates it.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cmdline.h"
#include "core/core_quiet.h"
#include "frontend/cli_settings.h"
#include "frontend/install_dir.h"
#include "frontend/output.h"
#include "frontend/str_util.h"
#include "frontend/wwn_util.h"
#include "fuzz_support.h"

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The eight bytes a 16-digit or dashed 23-character WWN spells, or nothing.
bool SpelledWwn(std::string_view t, uint8_t (&out)[8]) {
    const bool dashed = t.size() == 23;
    if (!dashed && t.size() != 16) return false;
    const size_t step = dashed ? 3 : 2;
    for (size_t i = 0; i < 8; ++i) {
        const int hi = HexDigit(t[i * step]), lo = HexDigit(t[i * step + 1]);
        if (hi < 0 || lo < 0 || (dashed && i < 7 && t[i * step + 2] != '-')) return false;
        out[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return true;
}

long long DecimalOf(std::string_view t) {
    long long v = 0;
    for (const char c : t) {
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
        if (v > INT_MAX) return -1;
    }
    return v;
}

void CheckHelpers(const std::string& text) {
    ZVFUZZ_CHECK(CheckNumber(text.c_str()) == DecimalOf(text));
    uint8_t expected[8] = {}, got[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    const bool spelled = SpelledWwn(text, expected);
    const int rc = WWNatoi(text.c_str(), got);
    ZVFUZZ_CHECK(rc == (spelled ? 0 : -1));
    if (spelled) ZVFUZZ_CHECK(std::memcmp(got, expected, sizeof got) == 0);
}

bool Terminated(const char (&name)[VORN_NAME_SIZE]) { return strnlen(name, sizeof name) < sizeof name; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!zvfuzz::Isolated()) return 0;
    static const bool set = VORNSetInstallationDir(zvfuzz::ScratchDir().c_str(), VORN_DIR_SIZE) == 0;
    ZVFUZZ_CHECK(set);

    std::vector<std::string> words = {"tarvikolen"};
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    for (size_t from = 0; from <= all.size();) {
        const size_t nul = std::min(all.find('\0', from), all.size());
        words.emplace_back(all.substr(from, nul - from));
        from = nul + 1;
    }
    for (size_t i = 1; i < words.size(); ++i) CheckHelpers(words[i]);

    std::vector<std::vector<char>> store;
    std::vector<char*> argv;
    for (const std::string& w : words) store.emplace_back(w.c_str(), w.c_str() + w.size() + 1);
    for (std::vector<char>& s : store) argv.push_back(s.data());
    argv.push_back(nullptr);

    ResetOutputChannels();
    CoreSetQuietMode(1);
    const int rc = ParseArg(static_cast<int>(words.size()), argv.data());
    ZVFUZZ_CHECK(rc == VORN_PARSE_OK || rc == VORN_PARSE_USAGE || rc == VORN_PARSE_VERSION ||
                 rc == VORN_PARSE_INVALID || rc == VORN_PARSE_NO_MEMORY || rc == VORN_PARSE_BAD_ADAPTER);
    if (rc == VORN_PARSE_USAGE) ZVFUZZ_CHECK(g_CmdOperation == VORN_OP_USAGE);
    if (rc == VORN_PARSE_VERSION) ZVFUZZ_CHECK(g_CmdOperation == VORN_OP_VERSION);
    if (rc == VORN_PARSE_OK) {
        ZVFUZZ_CHECK(g_CmdOperation >= VORN_OP_NONE && g_CmdOperation <= VORN_OP_PCI_VENDOR);
        ZVFUZZ_CHECK(g_AdapterInputType <= VORN_INPUT_WWPN);
        if (g_AdapterInputType == VORN_INPUT_NUMBER) ZVFUZZ_CHECK(hbaNumber <= 128);
        ZVFUZZ_CHECK(Terminated(FileName) && Terminated(DirectoryName));
    }
    // The switches may have turned the console and the debug log on.
    ResetOutputChannels();
    CoreSetQuietMode(1);
    SetEnableDebugLog(0);
    return 0;
}
