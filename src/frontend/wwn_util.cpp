// World-wide names and port ids as texts.
#include "frontend/wwn_util.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/core_log.h"

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads pairs of hex digits with a "-" after each pair (when dashed) into out.
int parse_pairs(const char* text, std::span<uint8_t> out, bool dashed, const char* hexError) {
    const size_t step = dashed ? 3 : 2;
    for (size_t i = 0; i < out.size(); ++i) {
        const char* p = text + i * step;
        const int hi = hex_value(p[0]);
        const int lo = hex_value(p[1]);
        if (hi < 0 || lo < 0) {
            CoreLogMessage(ZV_MSG_DEBUG, hexError, text);
            return -1;
        }
        if (dashed && i + 1 < out.size() && p[2] != '-') {
            CoreLogMessage(ZV_MSG_DEBUG, "%s character position %d is not a hyphen!", text, static_cast<int>(i * 3 + 2));
            return -1;
        }
        out[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return 0;
}

}  // namespace

int WWNatoi(const char* text, std::span<uint8_t, 8> bytes) {
    if (text == nullptr) return -1;
    const size_t len = std::strlen(text);
    uint8_t tmp[8] = {};
    int rc;
    if (len == 23) rc = parse_pairs(text, tmp, true, "%s is not in valid hex format.");
    else if (len == 16) rc = parse_pairs(text, tmp, false, " %s is not in valid hex format.");
    else {
        CoreLogMessage(ZV_MSG_DEBUG, "*** invalid WWN %s!", text);
        return -1;
    }
    if (rc == 0) std::memcpy(bytes.data(), tmp, sizeof tmp);
    return rc;
}

int PortIDatoi(const char* text, std::span<uint8_t, 3> bytes) {
    if (text == nullptr) return -1;
    if (std::strlen(text) != 8) {
        CoreLogMessage(ZV_MSG_DEBUG, "*** invalid port id %s!", text);
        return -1;
    }
    uint8_t tmp[3] = {};
    if (parse_pairs(text, tmp, true, "%s is not in valid hex format.") != 0) return -1;
    std::memcpy(bytes.data(), tmp, sizeof tmp);
    return 0;
}

int FillDataPattern(const char* text, std::span<uint8_t> bytes) {
    if (text == nullptr) return -1;
    const bool dashed = std::strchr(text, '-') != nullptr;
    size_t n = 0;
    const char* p = text;
    while (*p != '\0') {
        if (dashed && *p == '-') {
            ++p;
            continue;
        }
        const int hi = hex_value(p[0]);
        const int lo = hi < 0 ? -1 : hex_value(p[1]);
        if (hi < 0 || lo < 0 || n >= bytes.size()) {
            CoreLogMessage(ZV_MSG_DEBUG, "%s is not in valid hex format.", text);
            return -1;
        }
        bytes[n++] = static_cast<uint8_t>(hi << 4 | lo);
        p += 2;
    }
    return static_cast<int>(n);
}

int GetStringWWN(const uint8_t* wwn, char* text, size_t size) {
    if (wwn == nullptr || text == nullptr || size == 0) return -1;
    std::snprintf(text, size, "%02x%02x%02x%02x%02x%02x%02x%02x", wwn[0], wwn[1], wwn[2], wwn[3], wwn[4], wwn[5], wwn[6],
                  wwn[7]);
    return static_cast<int>(std::strlen(text));
}

int GetStringPortID(const uint8_t* id, char* text, size_t size) {
    if (id == nullptr || text == nullptr || size == 0) return -1;
    std::snprintf(text, size, "%02x%02x%02x", id[0], id[1], id[2]);
    return static_cast<int>(std::strlen(text));
}

int IsWwpnValid(const uint8_t* wwpn) {
    if (wwpn == nullptr) return 0;
    bool zero = true, ff = true, ch0 = true;
    for (int i = 0; i < 8; ++i) {
        zero = zero && wwpn[i] == 0;
        ff = ff && wwpn[i] == 0xFF;
        ch0 = ch0 && wwpn[i] == '0';
    }
    return (zero || ff || ch0) ? 0 : 1;
}

int StringToArray(const char* text, size_t length, std::span<uint8_t> bytes) {
    if (text == nullptr) return -1;
    if (std::strlen(text) != length) return 0;
    if (length > bytes.size()) return -1;
    std::memcpy(bytes.data(), text, length);
    return 0;
}
