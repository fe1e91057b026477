// Character classes, trimming and keyword tests of "auth-els.conf".
#include "core/edif_strings.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "core/core_log.h"

namespace {

bool is_blank_or_tab(char c) { return c == ' ' || c == '\t'; }

bool same_word(const char* word, const char* keyword) { return word != nullptr && strcasecmp(word, keyword) == 0; }

// The prefix somewhere in the word (case-insensitive), followed by a digit.
bool has_set_prefix(const char* word, const char* prefix) {
    if (word == nullptr) return false;
    const size_t n = std::strlen(prefix);
    for (const char* p = word; *p != '\0'; ++p) {
        if (strncasecmp(p, prefix, n) == 0 && std::isdigit(static_cast<unsigned char>(p[n])) != 0) return true;
    }
    return false;
}

}  // namespace

int CoreIsCommentChar(char c) { return (c == '!' || c == '#') ? 1 : 0; }
int CoreIsLeftBraceChar(char c) { return c == '{' ? 1 : 0; }
int CoreIsRightBraceChar(char c) { return c == '}' ? 1 : 0; }
int CoreIsAssignmentChar(char c) { return c == '=' ? 1 : 0; }

int CoreIsDelimiterChar(char c) {
    return (c != '\0' && std::strchr("= ()[]{}';", c) != nullptr) ? 1 : 0;
}

int CoreIsOperatorChar(char c) {
    return (c != '\0' && std::strchr("!%*+-/<>^", c) != nullptr) ? 1 : 0;
}

int CoreIsEmptyStr(const char* text) {
    if (text == nullptr) return 1;
    for (; *text != '\0'; ++text)
        if (std::isspace(static_cast<unsigned char>(*text)) == 0) return 0;
    return 1;
}

char* CoreRTrim(char* text) {
    if (text == nullptr) return text;
    size_t n = std::strlen(text);
    while (n > 0 && is_blank_or_tab(text[n - 1])) --n;
    text[n] = '\0';
    return text;
}

char* CoreLTrim(char* text) {
    if (text == nullptr) return text;
    size_t skip = 0;
    while (is_blank_or_tab(text[skip])) ++skip;
    if (skip > 0) std::memmove(text, text + skip, std::strlen(text + skip) + 1);
    return text;
}

char* CoreTrim(char* text) {
    if (text == nullptr) return text;
    CoreRTrim(text);
    if (*text == '\0') return text;
    return CoreLTrim(text);
}

int CoreIsIntegerStr(const char* text) {
    if (text == nullptr) return 0;
    for (; *text != '\0'; ++text) {
        const auto c = static_cast<unsigned char>(*text);
        if (std::isdigit(c) == 0 && std::isspace(c) == 0) return 0;
    }
    return 1;
}

int CoreIsHexaDecimalStr(const char* text) {
    if (text == nullptr) return 0;
    for (; *text != '\0'; ++text) {
        const auto c = static_cast<unsigned char>(*text);
        if (std::isxdigit(c) == 0 && std::isspace(c) == 0) return 0;
    }
    return 1;
}

char* CoreGetSubString(const char* text, size_t left, size_t right) {
    if (text == nullptr || right < left) return nullptr;
    const size_t length = std::strlen(text);
    if (right >= length) return nullptr;
    const size_t n = right - left + 1;
    auto* out = static_cast<char*>(CoreZMalloc(n + 1));
    if (out == nullptr) return nullptr;
    std::memcpy(out, text + left, n);
    return out;
}

int CoreGetRemoteNameID(const char* text) {
    if (text == nullptr) return -1;
    const char* start = std::strchr(text, '_');
    if (start == nullptr) return -1;
    ++start;
    const char* end = std::strchr(start, '_');
    const size_t n = end != nullptr ? static_cast<size_t>(end - start) : std::strlen(start);
    if (n == 0 || n > 9) return -1;
    int value = 0;
    for (size_t i = 0; i < n; ++i) {
        if (std::isdigit(static_cast<unsigned char>(start[i])) == 0) return -1;
        value = value * 10 + (start[i] - '0');
    }
    return value;
}

const char* CoreGetRemotePortWWN(const char* text) {
    if (text == nullptr) return nullptr;
    const char* eq = std::strrchr(text, '=');
    return eq != nullptr ? eq + 1 : nullptr;
}

int CoreIsAuthElsGroupStr(const char* word) { return same_word(word, "auth-els") ? 1 : 0; }
int CoreIsAuthElsGroupMemberLoadStr(const char* word) { return same_word(word, "load") ? 1 : 0; }
int CoreIsDisabledRemotesGroupStr(const char* word) { return same_word(word, "disabled_remotes") ? 1 : 0; }
int CoreIsRekeyConfigGroupStr(const char* word) { return same_word(word, "rekey_config") ? 1 : 0; }
int CoreIsRemoteGroupStr(const char* word) { return has_set_prefix(word, "remote_") ? 1 : 0; }
int CoreIsRekeyGroupStr(const char* word) { return has_set_prefix(word, "rekey_") ? 1 : 0; }

int CoreIsRemoteGroupMemberStr(const char* word) {
    return (same_word(word, "wwpn") || same_word(word, "wwpn_separator")) ? 1 : 0;
}

int CoreIsRekeyGroupMemberStr(const char* word) {
    for (const char* k : {"reauth_time", "rekey_time", "disable_encryption", "reauth_rekey_jitter",
                          "ike_auth_direct_child", "override_lower_limits"})
        if (same_word(word, k)) return 1;
    return 0;
}

int CoreIsSharedSecretConfigGroupStr(const char* word) { return same_word(word, "shared_secret_config") ? 1 : 0; }
int CoreIsSharedSecretGroupStr(const char* word) { return has_set_prefix(word, "shared_secret_") ? 1 : 0; }
int CoreIsSharedSecretGroupMemberStr(const char* word) { return same_word(word, "shared_secret") ? 1 : 0; }
int CoreIsAlgorithmConfigGroupStr(const char* word) { return same_word(word, "algorithm_config") ? 1 : 0; }
int CoreIsAlgorithmConfigGroupMemberEspStr(const char* word) { return same_word(word, "esp_proposal") ? 1 : 0; }
int CoreIsAlgorithmConfigGroupMemberIkeStr(const char* word) { return same_word(word, "ike_proposal") ? 1 : 0; }
