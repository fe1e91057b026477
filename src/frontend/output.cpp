// The front end's output channels. The output file and the debug log are each
// kept open while their name still names the file that was opened; every line
// goes out in one write of its own, so that it is in the file at once, also
// when the run is interrupted, and in the file the name names at that moment.
#include "frontend/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

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

// Notices said before the output file has a name, written into it once it has one.
std::mutex g_noticeMutex;
std::vector<std::string> g_earlyNotices;
constexpr size_t kMaxEarlyNotices = 16;

// Which file a descriptor or a name stands for.
struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const FileId&) const = default;
};

// The output file and the debug log live in a directory root writes: they are
// opened without following a link and never as anything but a regular file of
// this process's user. Created as an append-mode stdio open would: 0666 less
// the umask. Gives the descriptor and the file's identity, or -1.
int open_log_file(const char* path, FileId* id) {
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    struct statx st {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_UID | STATX_INO, &st) != 0 || !S_ISREG(st.stx_mode) ||
        st.stx_uid != ::geteuid()) {
        ::close(fd);
        return -1;
    }
    *id = {makedev(st.stx_dev_major, st.stx_dev_minor), st.stx_ino};
    return fd;
}

// The identity of what the name names now (a link is not followed); false
// when nothing has the name.
// Only the inode number is asked: a query of the change time makes the next
// flash write dirty its inode, which its fdatasync then writes.
bool name_id(const char* path, FileId* id) {
    struct statx st {};
    if (::statx(AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, STATX_INO, &st) != 0) return false;
    *id = {makedev(st.stx_dev_major, st.stx_dev_minor), st.stx_ino};
    return true;
}

// One write per line keeps lines whole.
void write_text(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// A file kept open for the name it was opened under, while that name names
// it. Opened again when the name changes, names another file or nothing (a
// log rotation renamed or removed it), or the last open failed.
struct KeptFile {
    std::mutex mutex;
    std::string name;
    int fd = -1;
    FileId id;

    void Close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
        name.clear();
    }
    void Forget() {
        std::lock_guard<std::mutex> lock(mutex);
        Close();
    }
    // False when the file cannot be opened.
    bool Write(const char* path, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        FileId now;
        if (fd >= 0 && (name != path || !name_id(path, &now) || now != id)) Close();
        if (fd < 0) {
            fd = open_log_file(path, &id);
            if (fd < 0) return false;
            name = path;
        }
        write_text(fd, text);
        return true;
    }
};
KeptFile g_OutputFile;
KeptFile g_LogFile;

// Output-file text kept back while a hold lasts (HoldOutputFileLines).
std::mutex g_holdMutex;
bool g_holding = false;
std::string g_held;
constexpr size_t kMaxHeld = 64 * 1024;

// Debug lines kept back while a deferral lasts (DeferDebugLines).
std::mutex g_deferMutex;
bool g_deferring = false;
DeferredDebugLines g_deferred;
constexpr size_t kMaxDeferredLines = 256;

// Keeps the line back when a deferral lasts; false when it is to be written now.
bool defer_debug_line(int type, const char* text) {
    std::lock_guard<std::mutex> lock(g_deferMutex);
    if (!g_deferring) return false;
    if (g_deferred.lines.size() < kMaxDeferredLines) g_deferred.lines.emplace_back(type, text);
    return true;
}

void append_to_output_file(const char* text, bool newline) {
    if (g_OutPutFileName[0] == '\0') return;
    std::string line(text);
    if (newline) line += '\n';
    {
        std::lock_guard<std::mutex> lock(g_holdMutex);
        if (g_holding) {
            if (g_held.size() + line.size() <= kMaxHeld) g_held += line;
            return;
        }
    }
    g_OutputFile.Write(g_OutPutFileName, line);
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
    if (defer_debug_line(type, text)) return;
    const char* stamp = CoreGetTimestamp(2);
    char when[32];
    std::snprintf(when, sizeof when, "%s", stamp);
    if (g_LogFileName[0] != '\0' && g_LogFile.Write(g_LogFileName, std::string(when) + " " +
                                                    VORNTranslateMessageTypeToString(type) + ": " + text + "\n")) {
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
    g_LogFile.Forget();
    ::unlink(g_LogFileName);
    return 0;
}

int SetOutOutFile() {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%s", CoreGetTimestamp(3));
    char base[64];
    std::snprintf(base, sizeof base, "%s", "mctp-upgrade.log");
    if (GetFileNameNoExtension(base, sizeof base) != 0) return -1;
    g_OutputFile.Forget();
    std::snprintf(g_OutPutFileName, sizeof g_OutPutFileName, "%s/%s-%s.log", VORN_LOG_DIR, base, stamp);
    std::vector<std::string> early;
    {
        std::lock_guard<std::mutex> lock(g_noticeMutex);
        early.swap(g_earlyNotices);
    }
    for (const std::string& line : early) append_to_output_file(line.c_str(), true);
    return 0;
}

void VORNReportNotice(const char* text) {
    if (text == nullptr) return;
    if (!(g_EnableDebugMessage != 0 && CoreGetQuietMode() != 0)) {
        std::fprintf(stderr, "%s\n", text);
        std::fflush(stderr);
    }
    if (g_OutPutFileName[0] != '\0') {
        append_to_output_file(text, true);
        return;
    }
    std::lock_guard<std::mutex> lock(g_noticeMutex);
    if (g_earlyNotices.size() < kMaxEarlyNotices) g_earlyNotices.emplace_back(text);
}

void HoldOutputFileLines() {
    std::lock_guard<std::mutex> lock(g_holdMutex);
    g_holding = true;
    g_held.clear();
}

void ReleaseOutputFileLines(bool keep) {
    std::string held;
    {
        std::lock_guard<std::mutex> lock(g_holdMutex);
        g_holding = false;
        held.swap(g_held);
    }
    if (keep && !held.empty() && g_OutPutFileName[0] != '\0') g_OutputFile.Write(g_OutPutFileName, held);
}

void DeferDebugLines() {
    std::lock_guard<std::mutex> lock(g_deferMutex);
    g_deferring = true;
    g_deferred.lines.clear();
}

DeferredDebugLines EndDeferDebugLines() {
    std::lock_guard<std::mutex> lock(g_deferMutex);
    g_deferring = false;
    DeferredDebugLines out;
    out.lines.swap(g_deferred.lines);
    return out;
}

void WriteDeferredDebugLines(const DeferredDebugLines& deferred) {
    for (const auto& [type, text] : deferred.lines) VORNOSSLogMessage(type, text.c_str());
}

void ResetOutputChannels() {
    ReleaseOutputFileLines(false);
    EndDeferDebugLines();
    {
        std::lock_guard<std::mutex> lock(g_noticeMutex);
        g_earlyNotices.clear();
    }
    g_OutputFile.Forget();
    g_LogFile.Forget();
    g_OutPutFileName[0] = '\0';
    g_LogFileName[0] = '\0';
    g_EnableDebugMessage = 0;
}
