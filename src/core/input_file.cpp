// The reader rule for every input file.
#include "core/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>

#include "core/core_log.h"

namespace {

std::atomic<void (*)(const char*)> g_notice{nullptr};
// Each refusal is said once per run, however often the file is asked for.
std::mutex g_reportedMutex;
std::set<std::string> g_reported;
constexpr std::size_t kMaxReported = 64;

// Root, or the user running the program (who gains nothing from its own file).
bool trusted_owner(uid_t uid) { return uid == 0 || uid == ::geteuid(); }

bool others_may_write(const struct stat& st) {
    return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 || !trusted_owner(st.st_uid);
}

InputFileStatus status_of_errno(int err) {
    switch (err) {
        case ENOENT:
        case ENOTDIR: return InputFileStatus::Missing;
        case ELOOP: return InputFileStatus::Link;
        case EISDIR:
        case ENXIO:
        case ENODEV: return InputFileStatus::NotRegular;
        default: return InputFileStatus::Unreadable;
    }
}

// Whether the status is a refusal of the rule (said to the user) rather
// than a file that simply is not there or cannot be opened.
bool is_refusal(InputFileStatus status) {
    return status == InputFileStatus::NotRegular || status == InputFileStatus::Link ||
           status == InputFileStatus::OthersMayWrite || status == InputFileStatus::PlacedByOthers ||
           status == InputFileStatus::OwnedByOthers;
}

// The checks on the open directory and the open file.
InputFileStatus judge(const struct stat& dir, const struct stat& file) {
    if (!S_ISREG(file.st_mode)) return InputFileStatus::NotRegular;
    if ((file.st_mode & (S_IWGRP | S_IWOTH)) != 0) return InputFileStatus::OthersMayWrite;
    if (others_may_write(dir) && !trusted_owner(file.st_uid)) return InputFileStatus::PlacedByOthers;
    // Even in root's own directory: its owner may rewrite it at any time.
    if (!trusted_owner(file.st_uid)) return InputFileStatus::OwnedByOthers;
    return InputFileStatus::Ok;
}

int open_checked(const char* path, int accessFlags, InputFileStatus& st) {
    if (path == nullptr || *path == '\0') {
        st = InputFileStatus::Missing;
        return -1;
    }
    // The directory is opened first, and the file inside that very directory,
    // so the directory judged is the one the file came from.
    const char* slash = std::strrchr(path, '/');
    const std::string dirName = slash == nullptr ? "." : slash == path ? "/" : std::string(path, slash);
    const char* base = slash == nullptr ? path : slash + 1;
    if (*base == '\0') {
        st = InputFileStatus::NotRegular;   // "dir/": a directory by its very name
        return -1;
    }
    const int dirFd = ::open(dirName.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        st = status_of_errno(errno) == InputFileStatus::Missing ? InputFileStatus::Missing : InputFileStatus::Unreadable;
        return -1;
    }
    // Looked at before it is opened: a device is never opened, a link never followed.
    struct stat dirInfo {}, before {};
    if (::fstat(dirFd, &dirInfo) != 0 || ::fstatat(dirFd, base, &before, AT_SYMLINK_NOFOLLOW) != 0) {
        st = status_of_errno(errno);
        ::close(dirFd);
        return -1;
    }
    if (S_ISLNK(before.st_mode) || !S_ISREG(before.st_mode)) {
        st = S_ISLNK(before.st_mode) ? InputFileStatus::Link : InputFileStatus::NotRegular;
        ::close(dirFd);
        return -1;
    }
    // O_NONBLOCK: a FIFO put in its place meanwhile never makes the open wait.
    const int fd = ::openat(dirFd, base, (accessFlags & O_ACCMODE) | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    const int openErr = errno;
    ::close(dirFd);
    if (fd < 0) {
        st = status_of_errno(openErr);
        return -1;
    }
    struct stat info {};
    // What was opened is judged, whatever the name held a moment before.
    st = ::fstat(fd, &info) != 0 ? InputFileStatus::Unreadable : judge(dirInfo, info);
    if (st != InputFileStatus::Ok) {
        ::close(fd);
        return -1;
    }
    // Reads of a regular file block as usual from here on.
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    return fd;
}

}  // namespace

int CoreOpenInputFile(const char* path, int accessFlags, InputFileStatus* status) {
    InputFileStatus scratch = InputFileStatus::Missing;
    InputFileStatus& st = status != nullptr ? *status : scratch;
    const int fd = open_checked(path, accessFlags, st);
    if (fd < 0 && is_refusal(st)) CoreReportInputFileRefusal(path, st);
    return fd;
}

std::FILE* CoreFopenInputFile(const char* path, const char* mode, InputFileStatus* status) {
    InputFileStatus scratch;
    InputFileStatus& st = status != nullptr ? *status : scratch;
    if (mode == nullptr || (mode[0] != 'r')) {
        st = InputFileStatus::Unreadable;
        return nullptr;
    }
    const bool update = std::strchr(mode, '+') != nullptr;
    const int fd = CoreOpenInputFile(path, update ? O_RDWR : O_RDONLY, &st);
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, mode);
    if (f == nullptr) {
        ::close(fd);
        st = InputFileStatus::Unreadable;
    }
    return f;
}

InputFileStatus CoreProbeInputFile(const char* path) {
    InputFileStatus st = InputFileStatus::Missing;
    const int fd = CoreOpenInputFile(path, O_RDONLY, &st);
    if (fd >= 0) ::close(fd);
    return st;
}

bool CoreNameExists(const char* path) {
    if (path == nullptr || *path == '\0') return false;
    struct stat st {};
    return ::lstat(path, &st) == 0;
}

std::string CoreInputFileRefusalText(const char* path, InputFileStatus status) {
    const std::string name = path != nullptr ? path : "";
    switch (status) {
        case InputFileStatus::Ok: return {};
        case InputFileStatus::Missing: return "File " + name + " does not exist!";
        case InputFileStatus::NotRegular: return "File " + name + " is not a regular file; it is not read!";
        case InputFileStatus::Link: return "File " + name + " is a symbolic link; it is not read!";
        case InputFileStatus::Unreadable: return "File " + name + " cannot be read!";
        case InputFileStatus::OthersMayWrite:
            return "File " + name + " is ignored: users other than root may write it!";
        case InputFileStatus::PlacedByOthers:
            return "File " + name + " is ignored: it is in a directory that users other than root may write, and root "
                                    "does not own it!";
        case InputFileStatus::OwnedByOthers: return "File " + name + " is ignored: a user other than root owns it!";
    }
    return {};
}

void CoreReportInputFileRefusal(const char* path, InputFileStatus status) {
    if (status == InputFileStatus::Ok) return;
    const std::string text = CoreInputFileRefusalText(path, status);
    {
        std::lock_guard<std::mutex> lock(g_reportedMutex);
        if (g_reported.count(text) != 0) return;
        if (g_reported.size() < kMaxReported) g_reported.insert(text);
    }
    if (void (*notice)(const char*) = g_notice.load(); notice != nullptr) {
        notice(text.c_str());
    } else {
        CoreLogMessage(ZV_MSG_ERROR, "%s", text.c_str());
    }
}

void CoreSetInputFileNoticeHook(void (*notice)(const char* text)) { g_notice = notice; }
