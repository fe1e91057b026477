// Reading the text templates of the configuration tables.
#include "boardcfg/board_template.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/input_file.h"
#include "frontend/output.h"

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A hexadecimal number of at most `maxDigits` digits (an optional "0x" first).
bool ParseHex(std::string_view s, std::size_t maxDigits, SD_UINT32* value) {
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
    if (s.empty() || s.size() > maxDigits) return false;
    SD_UINT32 v = 0;
    for (char c : s) {
        const int d = HexDigit(c);
        if (d < 0) return false;
        v = v << 4 | static_cast<SD_UINT32>(d);
    }
    *value = v;
    return true;
}

bool ParseVersion(std::string_view s, std::array<SD_UINT8, 4>* version) {
    std::array<SD_UINT8, 4> v{};
    std::size_t parts = 0;
    while (true) {
        const std::size_t dot = s.find('.');
        const std::string_view part = s.substr(0, dot);
        SD_UINT32 value = 0;
        if (parts == 4 || !ParseHex(part, 2, &value) || part.starts_with("0x") || part.starts_with("0X")) {
            return false;
        }
        v[parts++] = static_cast<SD_UINT8>(value);
        if (dot == std::string_view::npos) break;
        s.remove_prefix(dot + 1);
    }
    if (parts < 3) return false;
    *version = v;
    return true;
}

bool ParsePatch(std::string_view offsetText, std::string_view bytesText, SD_UINT32 maxTableSize,
                BoardTemplatePatch* patch, std::string* reason) {
    SD_UINT32 offset = 0;
    if (!ParseHex(Trim(offsetText), 8, &offset)) {
        *reason = "bad offset";
        return false;
    }
    std::vector<SD_UINT8> bytes;
    std::size_t i = 0;
    while (i < bytesText.size()) {
        const char c = bytesText[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        if (i + 1 >= bytesText.size() || HexDigit(c) < 0 || HexDigit(bytesText[i + 1]) < 0 ||
            (i + 2 < bytesText.size() && bytesText[i + 2] != ' ' && bytesText[i + 2] != '\t' &&
             bytesText[i + 2] != '\r')) {
            *reason = "bad byte";
            return false;
        }
        bytes.push_back(static_cast<SD_UINT8>(HexDigit(c) << 4 | HexDigit(bytesText[i + 1])));
        i += 2;
    }
    if (bytes.empty()) {
        *reason = "no bytes";
        return false;
    }
    if (std::uint64_t{offset} + bytes.size() > maxTableSize) {
        *reason = "bytes beyond the table";
        return false;
    }
    patch->offset = offset;
    patch->bytes = std::move(bytes);
    return true;
}

}  // namespace

bool ParseBoardTemplate(std::string_view text, std::string_view tableSignature, SD_UINT32 maxTableSize,
                        BoardTemplate* pTemplate, std::string* pReason) {
    std::string scratch;
    std::string& reason = pReason != nullptr ? *pReason : scratch;
    if (pTemplate == nullptr || tableSignature.size() != 4) {
        reason = "no table";
        return false;
    }
    BoardTemplate tpl;
    bool haveTable = false, haveVersion = false;
    std::size_t lineNo = 0;
    while (!text.empty()) {
        ++lineNo;
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (line.find('\0') != std::string_view::npos) {
            reason = "NUL byte in line " + std::to_string(lineNo);
            return false;
        }
        if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
        line = Trim(line);
        if (line.empty()) continue;

        const std::size_t eq = line.find('=');
        const std::size_t colon = line.find(':');
        if (eq != std::string_view::npos && (colon == std::string_view::npos || eq < colon)) {
            const std::string_view key = Trim(line.substr(0, eq));
            const std::string_view value = Trim(line.substr(eq + 1));
            if (key == "table" && !haveTable) {
                if (value != tableSignature) {
                    reason = "template of another table in line " + std::to_string(lineNo);
                    return false;
                }
                std::memcpy(tpl.table.data(), value.data(), 4);
                haveTable = true;
            } else if (key == "version" && !haveVersion) {
                if (!ParseVersion(value, &tpl.version)) {
                    reason = "bad version in line " + std::to_string(lineNo);
                    return false;
                }
                haveVersion = true;
            } else {
                reason = "unknown or repeated key in line " + std::to_string(lineNo);
                return false;
            }
        } else if (colon != std::string_view::npos) {
            BoardTemplatePatch patch;
            if (!ParsePatch(line.substr(0, colon), line.substr(colon + 1), maxTableSize, &patch, &reason)) {
                reason += " in line " + std::to_string(lineNo);
                return false;
            }
            tpl.patches.push_back(std::move(patch));
        } else {
            reason = "unreadable line " + std::to_string(lineNo);
            return false;
        }
    }
    if (!haveTable || !haveVersion) {
        reason = haveTable ? "no version" : "no table";
        return false;
    }
    *pTemplate = std::move(tpl);
    return true;
}

int LoadBoardTemplateFile(const char* path, std::string_view tableSignature, SD_UINT32 maxTableSize,
                          BoardTemplate* pTemplate) {
    if (path == nullptr) return 1;
    // Through the reader rule: a FIFO, a device, a link or a file another
    // user could have planted is refused at once (and said).
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(CoreFopenInputFile(path, "rb", nullptr), &std::fclose);
    if (!file) return 1;
    std::string text;
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        if (text.size() + n > BRDTPL_MAX_FILE_SIZE) {
            VORNLogMessage(VORN_MSG_DEBUG, "LoadBoardTemplateFile: %s is larger than %zu bytes", path,
                           BRDTPL_MAX_FILE_SIZE);
            return 13;
        }
        text.append(chunk, n);
    }
    if (std::ferror(file.get())) return 1;
    std::string reason;
    if (!ParseBoardTemplate(text, tableSignature, maxTableSize, pTemplate, &reason)) {
        VORNLogMessage(VORN_MSG_DEBUG, "LoadBoardTemplateFile: %s: %s", path, reason.c_str());
        return 13;
    }
    return 0;
}

bool ApplyBoardTemplate(const BoardTemplate& tpl, std::span<SD_UINT8> table) {
    if (table.size() < 8) return false;
    for (const auto& p : tpl.patches) {
        if (std::uint64_t{p.offset} + p.bytes.size() > table.size()) return false;
    }
    for (const auto& p : tpl.patches) std::copy(p.bytes.begin(), p.bytes.end(), table.begin() + p.offset);
    // The version line wins over any patch of the version bytes.
    table[7] = tpl.version[0];
    table[6] = tpl.version[1];
    table[5] = tpl.version[2];
    table[4] = tpl.version[3];
    return true;
}
