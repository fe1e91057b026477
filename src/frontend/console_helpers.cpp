// Hex dump, Enter key and product-id text.
#include "frontend/console_helpers.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "frontend/output.h"
#include "frontend/str_util.h"

void HexDump(std::span<const uint8_t> buffer) {
    std::string header = "            ";
    char piece[32];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(piece, sizeof piece, "%02X ", i);
        header += piece;
    }
    PrintOutPut("%s", header.c_str());
    for (size_t at = 0; at < buffer.size(); at += 16) {
        std::snprintf(piece, sizeof piece, "%08zx    ", at);
        std::string line = piece;
        std::string text;
        for (size_t i = at; i < at + 16; ++i) {
            if (i < buffer.size()) {
                std::snprintf(piece, sizeof piece, "%02X ", buffer[i]);
                line += piece;
                text += std::isprint(buffer[i]) != 0 ? static_cast<char>(buffer[i]) : '.';
            } else {
                line += "   ";
            }
        }
        PrintOutPut("%s %s", line.c_str(), text.c_str());
    }
    PrintOutPut("%06zX  ", buffer.size());
}

void GetEnterKeystroke() {
    int c;
    while ((c = std::getchar()) != EOF && c != '\n') {
    }
}

int GetProductIDStr(const char* text, char* out, size_t size) {
    if (text == nullptr || *text == '\0' || out == nullptr || size == 0) return -1;
    std::string id;
    if (std::strncmp(text, "RAID", 4) == 0 && (text[4] == '\0' || std::isspace(static_cast<unsigned char>(text[4])))) {
        // "RAID" and the word after it.
        const std::string s(text, strnlen(text, 64));
        const size_t second = s.find_first_not_of(" \t", 4);
        const size_t end = second == std::string::npos ? std::string::npos : s.find_first_of(" \t", second);
        id = second == std::string::npos ? "RAID" : s.substr(0, end);
    } else {
        char clean[65] = {};
        const std::string s(text, strnlen(text, 64));
        if (CleanDeviceStr(s.c_str(), clean, sizeof clean) != 0) return -1;
        id = clean;
    }
    std::snprintf(out, size, "%s", id.c_str());
    return 0;
}
