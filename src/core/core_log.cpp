// Core log, time stamps, hex dump and the allocator every layer uses.
#include "core/core_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/core_quiet.h"
#include "core/oss_services.h"

namespace {
char g_timestamp[32];

// Formats into a fixed buffer; vsnprintf cuts a long message instead of overrunning.
void format_into(char (&buf)[512], const char* format, va_list ap) {
    std::memset(buf, 0, sizeof buf);
    std::vsnprintf(buf, sizeof buf, format, ap);
}

void print_piece(int level, const char* text) {
    std::fprintf(level == ZV_MSG_ERROR ? stderr : stdout, "%s: %s", CoreGetTimestamp(0), text);
}
}  // namespace

int CoreLogMessage(int level, const char* format, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, format);
    format_into(buf, format, ap);
    va_end(ap);
    OSSLogMessage(level, buf);
    return 0;
}

int CorePrint(int level, const char* format, ...) {
    if (CoreGetQuietMode() != 0) return 0;
    char buf[512];
    va_list ap;
    va_start(ap, format);
    format_into(buf, format, ap);
    va_end(ap);
    print_piece(level, buf);
    return 0;
}

const char* CoreGetTimestamp(int selector) {
    const char* fmt;
    switch (selector & 0xFF) {
        case 0: fmt = "%m/%d/%Y"; break;
        case 1: fmt = "%H:%M:%S"; break;
        case 3: fmt = "%m%d%Y%H%M%S"; break;
        default: fmt = "%m/%d/%Y %H:%M:%S"; break;
    }
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    if (std::strftime(g_timestamp, sizeof g_timestamp, fmt, &local) == 0) g_timestamp[0] = '\0';
    return g_timestamp;
}

void* CoreMalloc(size_t size) {
    if (size == 0) {
        CoreLogMessage(ZV_MSG_WARNING, "CoreMalloc: Attempted to allocate ZERO bytes - returning NULL...");
        return nullptr;
    }
    return std::malloc(size);
}

void* CoreZMalloc(size_t size) {
    void* p = CoreMalloc(size);
    if (p != nullptr) std::memset(p, 0, size);
    return p;
}

void CoreFree(void* pointer) {
    if (pointer == nullptr) {
        CoreLogMessage(ZV_MSG_WARNING, "CoreFree: Attempted to free NULL pointer...");
        return;
    }
    std::free(pointer);
}

void CoreHexDump(std::span<const unsigned char> buffer) {
    char piece[256];
    std::snprintf(piece, sizeof piece, "          %02x ", 0);
    CorePrint(ZV_MSG_DEBUG, "%s", piece);
    for (int i = 1; i <= 15; ++i) {
        std::snprintf(piece, sizeof piece, i == 15 ? "%02X \n" : "%02X ", i);
        CorePrint(ZV_MSG_DEBUG, "%s", piece);
    }
    // Each piece is its own print, so each carries the date prefix.
    size_t offset = 0;
    for (; offset < buffer.size(); offset += 16) {
        const size_t n = buffer.size() - offset < 16 ? buffer.size() - offset : 16;
        std::snprintf(piece, sizeof piece, "%08zx  ", offset);
        CorePrint(ZV_MSG_DEBUG, "%s", piece);
        for (size_t i = 0; i < n; ++i) CorePrint(ZV_MSG_DEBUG, "%02X ", buffer[offset + i]);
        CorePrint(ZV_MSG_DEBUG, "%*s", static_cast<int>(17 - n), "");
        size_t used = 0;
        for (size_t i = 0; i < n; ++i) {
            const unsigned char c = buffer[offset + i];
            piece[used++] = (c < 32 || c > 127) ? '.' : static_cast<char>(c);
        }
        piece[used] = '\0';
        CorePrint(ZV_MSG_DEBUG, "%s", piece);
        CorePrint(ZV_MSG_DEBUG, "\n");
    }
    std::snprintf(piece, sizeof piece, "%06zX  \n", offset);
    CorePrint(ZV_MSG_DEBUG, "%s", piece);
}
