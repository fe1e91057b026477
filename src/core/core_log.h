// The core layer's diagnostic log, time stamps, hex dump and allocation rules.
#pragma once

#include <cstddef>
#include <span>

// Log levels (also the front end's message types).
constexpr int ZV_MSG_NONE = 0;
constexpr int ZV_MSG_INFO = 1;      // notice
constexpr int ZV_MSG_WARNING = 2;
constexpr int ZV_MSG_ERROR = 3;     // goes to standard error
constexpr int ZV_MSG_DEBUG = 100;   // trace

int CoreLogMessage(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
int CorePrint(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
const char* CoreGetTimestamp(int selector);
void* CoreMalloc(size_t size);
void* CoreZMalloc(size_t size);
void CoreFree(void* pointer);
void CoreHexDump(std::span<const unsigned char> buffer);
