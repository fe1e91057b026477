// The library's own log: "/usr/lib/libzvsdm.log", gated by a bit mask that
// ZV_FCAPI_DEBUG (hexadecimal) widens.
#pragma once

#include "mgmt/sd_types.h"

constexpr SD_UINT32 ZVDBG_TO_FILE = 0x1;       // lines go to the log file
constexpr SD_UINT32 ZVDBG_ERROR = 0x2;
constexpr SD_UINT32 ZVDBG_INFO = 0x4;
constexpr SD_UINT32 ZVDBG_TRACE = 0x8;
constexpr SD_UINT32 ZVDBG_ERROR2 = 0x20;
constexpr SD_UINT32 ZVDBG_INFO2 = 0x200;
constexpr SD_UINT32 ZVDBG_FATAL = 0x400;
constexpr SD_UINT32 ZVDBG_DEFAULT_MASK = 0x401;

constexpr const char* ZVDBG_LOG_PATH = "/usr/lib/libzvsdm.log";

// Re-reads ZV_FCAPI_DEBUG (done at every library load).
void zvdbg_reload_mask();
SD_UINT32 zvdbg_get_mask();
// True when ZV_FCAPI_DEBUG was set at the last reload.
bool zvdbg_env_set();

// Writes one line when the mask has any of `bits`.
void zvdbg_print(SD_UINT32 bits, const char* format, ...) __attribute__((format(printf, 2, 3)));

#define zvdbg_fatal(...) zvdbg_print(ZVDBG_FATAL, __VA_ARGS__)
#define zvdbg_error(...) zvdbg_print(ZVDBG_ERROR | ZVDBG_ERROR2, __VA_ARGS__)
#define zvdbg_info(...) zvdbg_print(ZVDBG_INFO | ZVDBG_INFO2, __VA_ARGS__)
#define zvdbg_trace(...) zvdbg_print(ZVDBG_TRACE, __VA_ARGS__)
