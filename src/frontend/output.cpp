// The front end's output channels. Files are opened and closed for every line so
// that each line is on disk at once, also when the run is interrupted.
#include "frontend/output.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "core/core_log.h"
#include "core/core_quiet.h"
#include "frontend/file_util.h"

namespace {
int g_EnableDebugMessage = 0;
char g_OutPutFileName[VORN_PATH_SIZE] = {};
char g_LogFileName[VORN_PATH_SIZE] = {};

void format_line(char (&line)[VORN_LINE_SIZE], const char* format, va_list ap) {
    std::memset(line, 0, sizeof line);
    std::vsnprintf(line, sizeof line, format, ap);
}

void append_to_output_file(const char* text, bool newline) {
    if (g_OutPutFileName[0] == '\0') return;
    FILE* f = std::fopen(g_OutPutFileName, "a+");
    if (f == nullptr) return;
    std::fputs(text, f);
    if (newline) std::fputc('\n', f);
    std::fclose(f);
}
}  // namespace

void PrintOutPut(const char* format, ...) {
    if (format == nullptr) return;
    if (g_EnableDebugMessage != 0 && CoreGetQuietMode() != 0) return;
    char line[VORN_LINE_SIZE];
    va_list ap;
    va_start(ap, format);
    format_line(line, format, ap);
    va_end(ap);
    std::fprintf(stdout, "%s\n", line);
    std::fflush(stdout);
}

void scfxPrint(const char* format, ...) {
    if (format == nullptr) return;
    char line[VORN_LINE_SIZE];
    va_list ap;
    va_start(ap, format);
    format_line(line, format, ap);
    va_end(ap);
    append_to_output_file(line, true);
}

void scfxDiagnosticsPrint(const char* format, ...) {
    if (format == nullptr) return;
    char line[VORN_LINE_SIZE];
    va_list ap;
    va_start(ap, format);
    format_line(line, format, ap);
    va_end(ap);
    append_to_output_file(line, false);
}

void VORNLogMessage(int type, const char* format, ...) {
    // Debug lines are the most frequent output and are silent in most runs:
    // skip the formatting when VORNOSSLogMessage would drop the line anyway.
    if (format == nullptr || CoreGetQuietMode() != 0 || g_EnableDebugMessage == 0) return;
    char line[VORN_LINE_SIZE];
    va_list ap;
    va_start(ap, format);
    format_line(line, format, ap);
    va_end(ap);
    VORNOSSLogMessage(type, line);
}

void VORNOSSLogMessage(int type, const char* text) {
    if (text == nullptr || CoreGetQuietMode() != 0 || g_EnableDebugMessage == 0) return;
    const char* stamp = CoreGetTimestamp(2);
    char when[32];
    std::snprintf(when, sizeof when, "%s", stamp);
    FILE* f = g_LogFileName[0] != '\0' ? std::fopen(g_LogFileName, "a+") : nullptr;
    if (f != nullptr) {
        std::fprintf(f, "%s %s: %s\n", when, VORNTranslateMessageTypeToString(type), text);
        std::fclose(f);
        return;
    }
    FILE* console = type == VORN_MSG_ERROR ? stderr : stdout;
    std::fprintf(console, "%s %s: %s\n", when, VORNTranslateMessageTypeToString(type), text);
    std::fflush(console);
}

const char* VORNTranslateMessageTypeToString(int type) {
    switch (type) {
        case VORN_MSG_NONE: return "";
        case VORN_MSG_INFO: return "Info";
        case VORN_MSG_WARNING: return "Warning";
        case VORN_MSG_ERROR: return "Error";
        case VORN_MSG_DEBUG: return "Debug";
        default: return "Unknown";
    }
}

int GetEnableDebugLog() { return g_EnableDebugMessage; }

int SetEnableDebugLog(int value) {
    g_EnableDebugMessage = value;
    return value;
}

const char* GetDebugLogFile() { return g_LogFileName; }
const char* GetOutPutFile() { return g_OutPutFileName; }

int SetDebugLogFile(const char* name) {
    if (name == nullptr) return -1;
    char path[VORN_PATH_SIZE];
    const int n = std::snprintf(path, sizeof path, "%s/%s", VORN_LOG_DIR, name);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path) {
        g_LogFileName[0] = '\0';  // a cut path would name another file
        return -1;
    }
    std::memcpy(g_LogFileName, path, sizeof path);
    ::unlink(g_LogFileName);
    return 0;
}

int SetOutOutFile() {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%s", CoreGetTimestamp(3));
    char base[64];
    std::snprintf(base, sizeof base, "%s", "mctp-upgrade.log");
    if (GetFileNameNoExtension(base, sizeof base) != 0) return -1;
    std::snprintf(g_OutPutFileName, sizeof g_OutPutFileName, "%s/%s-%s.log", VORN_LOG_DIR, base, stamp);
    return 0;
}

void ResetOutputChannels() {
    g_OutPutFileName[0] = '\0';
    g_LogFileName[0] = '\0';
    g_EnableDebugMessage = 0;
}
