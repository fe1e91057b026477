// Text helpers of the front end.
#include "frontend/str_util.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool is_alnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }
bool is_punct(char c) { return std::ispunct(static_cast<unsigned char>(c)) != 0; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_xdigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }
bool is_blank_or_tab(char c) { return c == ' ' || c == '\t'; }

// Copies the characters of src that keep() accepts, after skipping one leading
// white-space character; returns the number of characters written.
template <class Keep>
size_t filter_copy(const char* src, char* dst, size_t size, Keep keep) {
    if (size == 0) return 0;
    const char* p = src;
    if (is_space(*p)) ++p;
    size_t n = 0;
    for (; *p != '\0' && n + 1 < size; ++p)
        if (keep(*p)) dst[n++] = *p;
    dst[n] = '\0';
    return n;
}

}  // namespace

int striscmp(const char* a, const char* b) {
    if (a == nullptr || b == nullptr || *a == '\0' || *b == '\0') return -1;
    const size_t la = std::strlen(a);
    if (la != std::strlen(b)) return -1;
    for (size_t i = 0; i < la; ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return -1;
    return 0;
}

const char* strnistr(const char* haystack, const char* needle, int caseSensitive) {
    if (haystack == nullptr || needle == nullptr) return nullptr;
    if (caseSensitive != 0) return std::strstr(haystack, needle);
    char h[256] = {};
    char n[256] = {};
    std::snprintf(h, sizeof h, "%s", haystack);
    std::snprintf(n, sizeof n, "%s", needle);
    strtolower(h);
    strtolower(n);
    const char* found = std::strstr(h, n);
    return found == nullptr ? nullptr : haystack + (found - h);
}

char* strtolower(char* text) {
    if (text == nullptr) return text;
    for (char* p = text; *p != '\0'; ++p) *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    return text;
}

char* strtolwr(char* text) {
    if (text == nullptr) return text;
    for (char* p = text; *p != '\0'; ++p)
        if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
    return text;
}

int CheckFileExtension(const char* a, const char* b) { return striscmp(a, b) == 0 ? 0 : -1; }

char* GetFileExtension(const char* path, char* ext, size_t size) {
    if (ext != nullptr && size > 0) ext[0] = '\0';
    if (path == nullptr || ext == nullptr || size == 0) return nullptr;
    const char* dot = std::strrchr(path, '.');
    if (dot == nullptr) return nullptr;
    std::snprintf(ext, size, "%s", dot + 1);
    return ext;
}

int CleanStr(const char* src, char* dst, size_t size) {
    if (src == nullptr || dst == nullptr || *src == '\0') return 0;
    return static_cast<int>(filter_copy(src, dst, size, [](char c) { return is_alnum(c) || is_space(c) || is_punct(c); }));
}

int CleanStr2(const char* src, char* dst, size_t size) {
    if (src == nullptr || dst == nullptr || *src == '\0') return -1;
    filter_copy(src, dst, size, [](char c) { return is_alnum(c) || is_punct(c) || is_space(c); });
    return 0;
}

int CleanStr3(const char* src, char* dst, size_t size) {
    if (src == nullptr || dst == nullptr || *src == '\0') return -1;
    filter_copy(src, dst, size, [](char c) { return is_digit(c) || c == '.'; });
    return 0;
}

int CleanDeviceStr(const char* src, char* dst, size_t size) {
    if (src == nullptr || dst == nullptr || *src == '\0') return -1;
    filter_copy(src, dst, size, [](char c) {
        return is_alnum(c) || c == '.' || c == '-' || c == '/' || c == '(' || c == ')' || is_space(c);
    });
    return 0;
}

int StripEndWhiteSpace(const char* src, char* dst, size_t size) {
    if (src == nullptr || dst == nullptr || *src == '\0') return -1;
    filter_copy(src, dst, size, [](char c) { return is_alnum(c) || is_punct(c); });
    return 0;
}

char* RTrim(char* text) {
    if (text == nullptr) return text;
    size_t n = std::strlen(text);
    while (n > 0 && is_blank_or_tab(text[n - 1])) --n;
    text[n] = '\0';
    return text;
}

char* LTrim(char* text) {
    if (text == nullptr) return text;
    size_t skip = 0;
    while (is_blank_or_tab(text[skip])) ++skip;
    if (skip > 0) std::memmove(text, text + skip, std::strlen(text + skip) + 1);
    return text;
}

char* Trim(char* text) { return LTrim(RTrim(text)); }

std::string left(const char* text, size_t n) {
    if (text == nullptr) return {};
    const std::string s(text);
    return s.substr(0, n);
}

std::string right(const char* text, size_t n) {
    if (text == nullptr) return {};
    const std::string s(text);
    return n >= s.size() ? s : s.substr(s.size() - n);
}

std::string mid(const char* text, size_t start, size_t n) {
    if (text == nullptr) return {};
    const std::string s(text);
    if (start >= s.size()) return {};
    return s.substr(start, n);
}

int CheckNumber(const char* text) {
    if (text == nullptr) return -1;
    long long value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (!is_digit(*p)) return -1;
        value = value * 10 + (*p - '0');
        if (value > INT_MAX) return -1;  // refused rather than wrapped
    }
    return static_cast<int>(value);
}

int CheckLunID(const char* text) { return CheckNumber(text); }

int CheckHexNumber(const char* text) {
    if (text == nullptr) return -1;
    for (const char* p = text; *p != '\0'; ++p)
        if (!is_xdigit(*p)) return -1;
    return 0;
}

long long hexToDec(const char* text) {
    if (text == nullptr) return -1;
    long long value = 0;
    int shift = 0;
    for (size_t i = std::strlen(text); i > 0; --i) {
        const char c = text[i - 1];
        if (is_space(c)) continue;
        if (!is_xdigit(c)) return -1;
        const int digit = is_digit(c) ? c - '0' : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        if (shift >= 60) {
            if (digit != 0) return -1;  // would not fit
            continue;
        }
        value |= static_cast<long long>(digit) << shift;
        shift += 4;
    }
    return value;
}

char* int2hex(unsigned int value, char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) return buffer;
    std::snprintf(buffer, size, "%X", value);
    return buffer;
}

int getVersion(char* text, size_t size) {
    if (text == nullptr) return 0;
    long long sum = 0;
    const char* p = text;
    while (*p != '\0') {
        while (*p == ' ' || *p == '.' || *p == '\t' || *p == '\n') ++p;
        if (*p == '\0') break;
        const char* start = p;
        while (*p != '\0' && *p != ' ' && *p != '.' && *p != '\t' && *p != '\n') ++p;
        std::string token(start, static_cast<size_t>(p - start));
        long v = std::strtol(token.c_str(), nullptr, 10);
        if (v > INT_MAX) v = INT_MAX;
        if (v < INT_MIN) v = INT_MIN;
        sum += v;
    }
    if (sum == 0 && size > 0) std::snprintf(text, size, "%s", "N/A");
    return static_cast<int>(sum);
}

int findbit(unsigned int value, int bit, int wide) {
    const int width = wide != 0 ? 16 : 8;
    if (bit < 0 || bit >= width) return -1;
    return static_cast<int>((value >> bit) & 1u);
}

float PercentageToSpeed(int percent, int speed) {
    return static_cast<float>(percent * speed * 1.0625 * 0.01);
}

int ConvertPortSpeedToDecimal(int code) { return code == 16 ? 10 : code; }
