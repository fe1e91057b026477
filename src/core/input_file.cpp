// Opening the program's input files safely.
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

std::string directory_of(const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) return ".";
    if (slash == path) return "/";
    return std::string(path, static_cast<std::size_t>(slash - path));
}

InputFileStatus status_of_errno(int err) {
    switch (err) {
        case ENOENT:
        case ENOTDIR: return InputFileStatus::Missing;
        case ELOOP:
        case EISDIR:
        case ENXIO:
        case ENODEV: return InputFileStatus::NotRegular;
        default: return InputFileStatus::Unreadable;
    }
}

}  // namespace

bool CoreDirectoryIsShared(const char* path) {
    if (path == nullptr) return false;
    struct stat st {};
    if (::stat(directory_of(path).c_str(), &st) != 0) return false;
    return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

int CoreOpenInputFile(const char* path, int accessFlags, InputFileTrust trust, InputFileStatus* status) {
    InputFileStatus scratch;
    InputFileStatus& st = status != nullptr ? *status : scratch;
    if (path == nullptr || *path == '\0') {
        st = InputFileStatus::Missing;
        return -1;
    }
    const bool shared = trust == InputFileTrust::OwnerOnlyIfShared && CoreDirectoryIsShared(path);
    // O_NONBLOCK: opening a FIFO never waits for its writer; it is refused below.
    int flags = (accessFlags & O_ACCMODE) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (shared) flags |= O_NOFOLLOW;
    const int fd = ::open(path, flags);
    if (fd < 0) {
        const int err = errno;
        // A link planted in a shared directory is refused as untrusted, not as a loop.
        st = (shared && err == ELOOP) ? InputFileStatus::Untrusted : status_of_errno(err);
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        st = InputFileStatus::NotRegular;
        return -1;
    }
    if (shared && (info.st_uid != ::geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)) {
        ::close(fd);
        st = InputFileStatus::Untrusted;
        return -1;
    }
    // Reads of a regular file block as usual from here on.
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    st = InputFileStatus::Ok;
    return fd;
}

std::FILE* CoreFopenInputFile(const char* path, const char* mode, InputFileTrust trust, InputFileStatus* status) {
    InputFileStatus scratch;
    InputFileStatus& st = status != nullptr ? *status : scratch;
    if (mode == nullptr || (mode[0] != 'r')) {
        st = InputFileStatus::Unreadable;
        return nullptr;
    }
    const bool update = std::strchr(mode, '+') != nullptr;
    const int fd = CoreOpenInputFile(path, update ? O_RDWR : O_RDONLY, trust, &st);
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, mode);
    if (f == nullptr) {
        ::close(fd);
        st = InputFileStatus::Unreadable;
    }
    return f;
}

InputFileStatus CoreProbeInputFile(const char* path, InputFileTrust trust) {
    InputFileStatus st = InputFileStatus::Missing;
    const int fd = CoreOpenInputFile(path, O_RDONLY, trust, &st);
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
        case InputFileStatus::Unreadable: return "File " + name + " cannot be read!";
        case InputFileStatus::Untrusted:
            return "File " + name +
                   " is ignored: its directory is writable by other users and the file is not one that only root "
                   "owns and can write!";
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
