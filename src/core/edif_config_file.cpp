// "auth-els.conf": parser, writer, display, location and service reload.
#include "core/edif_config_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/core_file_utils.h"
#include "core/core_log.h"
#include "core/edif_strings.h"
#include "core/input_file.h"
#include "core/preferences.h"

namespace {

char g_edifConfigPath[260];

// The parser's state, carried from line to line of one file.
struct ParserState {
    int16_t group = EDIF_GROUP_PREAMBLE;
    int16_t nextIdx = 0;
    int16_t lastIdx = -1;
    int lbraces = 0;
    int rbraces = 0;
    uint8_t disabled = 0;
    std::string currentName;
    std::string section;   // the last section header, parent of the members after it
};
ParserState g_parser;

struct Keyword {
    int (*test)(const char*);
    int16_t group;
    int16_t type;
};

// In the order the words are tested.
const Keyword kKeywords[] = {
    {CoreIsAuthElsGroupStr, EDIF_GROUP_AUTH_ELS, EDIF_TYPE_SECTION},
    {CoreIsAuthElsGroupMemberLoadStr, EDIF_GROUP_AUTH_ELS, EDIF_TYPE_STRING},
    {CoreIsDisabledRemotesGroupStr, EDIF_GROUP_DISABLED_REMOTES, EDIF_TYPE_SECTION},
    {CoreIsRekeyConfigGroupStr, EDIF_GROUP_REKEY_CONFIG, EDIF_TYPE_SECTION},
    {CoreIsRemoteGroupStr, EDIF_GROUP_REMOTE, EDIF_TYPE_SECTION},
    {CoreIsRekeyGroupStr, EDIF_GROUP_REKEY, EDIF_TYPE_SECTION},
    {CoreIsRemoteGroupMemberStr, EDIF_GROUP_REMOTE, EDIF_TYPE_STRING},
    {CoreIsRekeyGroupMemberStr, EDIF_GROUP_REKEY, EDIF_TYPE_STRING},
    {CoreIsSharedSecretConfigGroupStr, EDIF_GROUP_SHARED_SECRET_CONFIG, EDIF_TYPE_SECTION},
    {CoreIsSharedSecretGroupStr, EDIF_GROUP_SHARED_SECRET, EDIF_TYPE_SECTION},
    {CoreIsSharedSecretGroupMemberStr, EDIF_GROUP_SHARED_SECRET, EDIF_TYPE_STRING},
    {CoreIsAlgorithmConfigGroupStr, EDIF_GROUP_ALGORITHM_CONFIG, EDIF_TYPE_SECTION},
    {CoreIsAlgorithmConfigGroupMemberEspStr, EDIF_GROUP_PROPOSALS, EDIF_TYPE_STRING},
    {CoreIsAlgorithmConfigGroupMemberIkeStr, EDIF_GROUP_PROPOSALS, EDIF_TYPE_STRING},
};

EDIFCONF* last_entry(EDIFCONF* list) {
    while (list != nullptr && list->next != nullptr) list = list->next;
    return list;
}

void add_entry(EDIFCONF** list, const char* name, int16_t group, int16_t type) {
    if (configAdd(list, name, group, type, g_parser.nextIdx) == 0) return;
    g_parser.lastIdx = g_parser.nextIdx++;
}

// A value is kept as an integer only when writing it back gives the same
// text: a shared secret "0042" must not come back as "42".
bool canonical_integer(const std::string& word, int64_t& value) {
    if (word.empty() || word.size() > 18 || CoreIsIntegerStr(word.c_str()) == 0) return false;
    if (word.find_first_not_of("0123456789") != std::string::npos) return false;
    if (word.size() > 1 && word[0] == '0') return false;
    value = std::strtoll(word.c_str(), nullptr, 10);
    return true;
}

void take_word(EDIFCONF** list, std::string word) {
    std::vector<char> text(word.begin(), word.end());
    text.push_back('\0');
    CoreTrim(text.data());
    word = text.data();
    if (word.empty()) return;
    if (word.size() == 1 && CoreIsOperatorChar(word[0]) != 0) {
        CoreLogMessage(ZV_MSG_DEBUG, "CoreConfigParseString: '%c' is an operator", word[0]);
        return;
    }
    for (const Keyword& k : kKeywords) {
        if (k.test(word.c_str()) == 0) continue;
        g_parser.currentName = word;
        g_parser.group = k.group;
        add_entry(list, word.c_str(), k.group, k.type);
        EDIFCONF* added = last_entry(*list);
        if (k.type == EDIF_TYPE_SECTION) {
            g_parser.section = word;
        } else if (added != nullptr && added->idx == g_parser.lastIdx && added->parent == nullptr &&
                   !g_parser.section.empty()) {
            const size_t n = g_parser.section.size();
            added->parent = static_cast<char*>(CoreMalloc(n + 1));
            if (added->parent != nullptr) std::memcpy(added->parent, g_parser.section.c_str(), n + 1);
        }
        return;
    }
    int64_t number = 0;
    if (canonical_integer(word, number))
        CoreEDifConfigSetInteger(*list, g_parser.currentName.c_str(), number, g_parser.group, g_parser.lastIdx,
                                 g_parser.disabled);
    else
        CoreEDifConfigSetString(*list, g_parser.currentName.c_str(), word.c_str(), g_parser.group, g_parser.lastIdx,
                                g_parser.disabled);
    g_parser.disabled = 0;
}

void right_brace(EDIFCONF** list) {
    ++g_parser.rbraces;
    CoreLogMessage(ZV_MSG_DEBUG, "CoreConfigParseString: group=%d lbraces=%d rbraces=%d", g_parser.group,
                   g_parser.lbraces, g_parser.rbraces);
    int16_t entryGroup = g_parser.group;
    switch (g_parser.group) {
        case EDIF_GROUP_REKEY_CONFIG:
        case EDIF_GROUP_SHARED_SECRET_CONFIG:
        case EDIF_GROUP_PROPOSALS: g_parser.group = EDIF_GROUP_AUTH_ELS; break;
        case EDIF_GROUP_REKEY: g_parser.group = EDIF_GROUP_REKEY_CONFIG; break;
        case EDIF_GROUP_SHARED_SECRET: g_parser.group = EDIF_GROUP_SHARED_SECRET_CONFIG; break;
        case EDIF_GROUP_REMOTE:
            if (g_parser.rbraces + 1 >= g_parser.lbraces) entryGroup = g_parser.group = EDIF_GROUP_DISABLED_REMOTES;
            break;
        default: break;
    }
    add_entry(list, "}", entryGroup, EDIF_TYPE_SECTION);
}

// ---- Layout --------------------------------------------------------------------

const char* header_indent(int16_t group) {
    switch (group) {
        case EDIF_GROUP_PREAMBLE:
        case EDIF_GROUP_AUTH_ELS: return "";
        case EDIF_GROUP_REMOTE:
        case EDIF_GROUP_REKEY:
        case EDIF_GROUP_SHARED_SECRET: return "      ";
        default: return "   ";
    }
}

const char* member_indent(int16_t group) {
    switch (group) {
        case EDIF_GROUP_PREAMBLE: return "";
        case EDIF_GROUP_AUTH_ELS: return "   ";
        case EDIF_GROUP_REMOTE:
        case EDIF_GROUP_REKEY:
        case EDIF_GROUP_SHARED_SECRET: return "            ";
        default: return "      ";
    }
}

std::string left_trimmed(const char* text) {
    std::string s(text != nullptr ? text : "");
    const size_t first = s.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : s.substr(first);
}

// The lines of one entry, each ending in a newline.
void render(const EDIFCONF* e, std::vector<std::string>& lines) {
    const char* name = e->name != nullptr ? e->name : "";
    switch (e->type) {
        case EDIF_TYPE_SECTION:
            lines.push_back(std::string(header_indent(e->group)) + name + "\n");
            if ((e->options & EDIF_OPTION_BRACE) != 0 && e->group != EDIF_GROUP_PROPOSALS)
                lines.push_back(std::string(header_indent(e->group)) + "{\n");
            return;
        case EDIF_TYPE_COMMENT:
            lines.push_back(std::string(member_indent(e->group)) + left_trimmed(name) + "\n");
            return;
        default: break;
    }
    // A disabled member is written commented out in every group, so that a
    // file read and written back never turns a commented-out setting on.
    const std::string lead = std::string(member_indent(e->group)) + (e->value.disabled != 0 ? "# " : "");
    if (e->type == EDIF_TYPE_INTEGER) {
        char number[32];
        std::snprintf(number, sizeof number, "%" PRId64, e->value.ival);
        lines.push_back(lead + left_trimmed(name) + " = " + number + "\n");
    } else if (e->value.sval == nullptr) {
        lines.push_back(lead + name + "\n");
    } else if (e->group == EDIF_GROUP_SHARED_SECRET && e->value.disabled != 0) {
        lines.push_back(lead + name + "=" + e->value.sval + "\n");
    } else {
        lines.push_back(lead + name + " = " + e->value.sval + "\n");
    }
}

std::vector<std::string> render_list(const EDIFCONF* list) {
    std::vector<std::string> lines;
    for (const EDIFCONF* e = list; e != nullptr; e = e->next) render(e, lines);
    return lines;
}

bool is_regular_file(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool take_config_dir(const char* key) {
    char dir[512] = {};
    if (CoreGetStringValueFromPropertiesFile(key, dir, sizeof dir) != 0 || dir[0] == '\0') return false;
    const std::string path = std::string(dir) + "/" + EDIF_CONFIG_FILE_NAME;
    if (std::strlen(dir) >= sizeof g_edifConfigPath || !is_regular_file(path)) return false;
    return CoreSetEDiffConfigPath(dir) == 0;
}

}  // namespace

int CoreFindEDiffConfigPath() {
    if (take_config_dir(PREF_KEY_EDIF_CONFIG_PATH) || take_config_dir(PREF_KEY_EDIF_SOURCE_PATH)) return 0;
    return -1;
}

int CoreSetEDiffConfigPath(const char* path) {
    if (path == nullptr) return -1;
    // A cut directory would name another one, where the file would then be
    // read and written: none rather than that.
    if (std::strlen(path) >= sizeof g_edifConfigPath) {
        g_edifConfigPath[0] = '\0';
        return -1;
    }
    std::snprintf(g_edifConfigPath, sizeof g_edifConfigPath, "%s", path);
    return 0;
}

const char* CoreGetEDiffConfigPath() { return g_edifConfigPath; }

int CoreRestartStrongSwanService() {
    int rc = -1;
    if (CoreGetFilePermission("/usr/sbin/swanctl", 1) == 1)
        rc = std::system("/usr/sbin/swanctl --reload-settings > /dev/null 2>&1");
    CoreLogMessage(ZV_MSG_DEBUG, "CoreRestartStrongSwanService: return %d", rc);
    return rc;
}

void CoreConfigParseString(EDIFCONF** list, const char* line) {
    if (list == nullptr || line == nullptr) return;
    std::vector<char> buf(line, line + std::strlen(line));
    buf.push_back('\0');
    CoreTrim(buf.data());
    const std::string text = buf.data();
    size_t start = 0;
    if (!text.empty() && CoreIsCommentChar(text[0]) != 0) {
        if (text.find('=') == std::string::npos) {
            add_entry(list, text.c_str(), g_parser.group, EDIF_TYPE_COMMENT);
            CoreLogMessage(ZV_MSG_DEBUG, "CoreConfigParseString: Return ");
            return;
        }
        start = 1;
        g_parser.disabled = 1;
    }
    size_t wordStart = start;
    for (size_t cur = start; cur <= text.size(); ++cur) {
        const char c = cur < text.size() ? text[cur] : '\0';
        if (c != '\0' && CoreIsDelimiterChar(c) == 0) continue;
        if (cur > wordStart) take_word(list, text.substr(wordStart, cur - wordStart));
        if (c == '\0') break;
        if (CoreIsLeftBraceChar(c) != 0) {
            ++g_parser.lbraces;
            CoreLogMessage(ZV_MSG_DEBUG, "CoreConfigParseString: '%c' is a left brace group=%d", c, g_parser.group);
            add_entry(list, text.c_str() + cur, g_parser.group, EDIF_TYPE_SECTION);
            break;
        }
        if (CoreIsRightBraceChar(c) != 0) right_brace(list);
        else if (CoreIsAssignmentChar(c) != 0)
            CoreLogMessage(ZV_MSG_DEBUG, "CoreConfigParseString: '%c' is an assignment", c);
        wordStart = cur + 1;
    }
    // A commented-out line without a value must not disable the next line's value.
    g_parser.disabled = 0;
    CoreLogMessage(ZV_MSG_DEBUG, "CoreConfigParseString: Return ");
}

int CoreEDifConfigCreateListFromFile(EDIFCONF** list, const char* path) {
    if (list == nullptr || path == nullptr) return -2;
    std::FILE* f = CoreFopenInputFile(path, "r", nullptr);
    if (f == nullptr) return -2;
    CoreEDifConfigDestroyList(list);
    // One pass in small pieces first, so that a read error is seen before any
    // entry is made.
    char piece[128];
    while (std::fread(piece, 1, sizeof piece, f) == sizeof piece) {
    }
    if (std::ferror(f) != 0) {
        std::fclose(f);
        return -1;
    }
    std::rewind(f);
    g_parser = ParserState{};
    std::string line;
    int c;
    bool pending = false;
    while ((c = std::fgetc(f)) != EOF) {
        pending = true;
        if (c != '\n') {
            line.push_back(static_cast<char>(c));
            continue;
        }
        CoreConfigParseString(list, line.c_str());
        line.clear();
        pending = false;
    }
    if (pending) CoreConfigParseString(list, line.c_str());
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        CoreEDifConfigDestroyList(list);
        return -1;
    }
    CoreEDifConfigResyncList(list);
    return 1;
}

int CoreEDifConfigWriteToFile(EDIFCONF* list, const char* path) {
    if (list == nullptr) {
        CoreLogMessage(ZV_MSG_DEBUG, "CoreEDifConfigWriteToFile: List is empty!");
        return 0;
    }
    if (path == nullptr) return -1;
    CoreEDifConfigResyncList(&list);
    std::string content;
    for (const std::string& l : render_list(list)) content += l;
    content += "\n";

    // The file holds secrets: the new copy keeps the old one's mode (0600 for
    // a new file), and replaces it only once it is completely written.
    struct stat old {};
    const mode_t mode = (::lstat(path, &old) == 0 && S_ISREG(old.st_mode)) ? (old.st_mode & 07777) : 0600;
    if (::lstat(path, &old) == 0 && !S_ISREG(old.st_mode)) return -1;
    std::string temp = std::string(path) + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return -1;
    bool ok = ::fchmod(fd, mode) == 0;
    size_t done = 0;
    while (ok && done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += static_cast<size_t>(n);
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(temp.c_str(), path) != 0) ok = false;
    if (!ok) {
        ::unlink(temp.c_str());
        return -1;
    }
    return 1;
}

void CoreEDifConfigDisplay(const EDIFCONF* list) {
    if (list == nullptr) {
        CoreLogMessage(ZV_MSG_DEBUG, "CoreEDifConfigDisplay: List is empty!");
        return;
    }
    for (std::string l : render_list(list)) {
        l.pop_back();
        CoreLogMessage(ZV_MSG_DEBUG, "%s", l.c_str());
    }
}
