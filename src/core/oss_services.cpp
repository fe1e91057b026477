// Linux operating-system services: start-up checks, host description, the
// configuration directory, the process mutex, polling hooks and file copies.
#include "core/oss_services.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/core_log.h"
#include "core/core_quiet.h"
#include "core/host_info.h"
#include "core/input_file.h"
#include "mgmt/root_only_dir.h"

namespace {

char g_hostSystemName[101];
char g_hostSystemType[128];
char g_hostSystemVersion[128];
char g_agentVersion[128];
char g_agentType[128];
char g_configurationPath[256];
std::unique_ptr<pthread_mutex_t> g_ossCriticalSection;
pid_t g_parentPid = 0;
int g_bContinuePolling = 1;
pthread_cond_t g_mainWaitCondition = PTHREAD_COND_INITIALIZER;
pthread_mutex_t g_mainWaitMutex = PTHREAD_MUTEX_INITIALIZER;
bool g_mainWaitSignalled = false;

// Bounded copy that always terminates (cuts a text too long for dst).
void copy_text(char* dst, size_t size, const char* src) {
    if (size == 0) return;
    const size_t n = strnlen(src, size - 1);
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

// First line of a release file (at most 126 characters), cut at its end of line
// or its first "(".
bool first_line_up_to_paren(FILE* f, std::string& out) {
    char line[127] = {};
    if (std::fgets(line, sizeof line, f) == nullptr) return false;
    line[std::strcspn(line, "\r\n(")] = '\0';
    out = line;
    return true;
}

bool is_alnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

// Distribution name from os-release: the PRETTY_NAME value without quotes,
// code name and trailing blanks.
bool os_release_name(FILE* f, std::string& out) {
    char line[256];
    bool first = true;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (first && std::strchr(line, '=') == nullptr) {
            line[std::strcspn(line, "\r\n(")] = '\0';
            out = line;
            return true;
        }
        first = false;
        if (std::strstr(line, "PRETTY_NAME") == nullptr) continue;
        const char* p = std::strchr(line, '=');
        if (p == nullptr) continue;
        ++p;
        while (*p != '\0' && !is_alnum(*p)) ++p;
        std::string value(p, std::strcspn(p, "\r\n("));
        while (!value.empty() && !is_alnum(value.back())) value.pop_back();
        out = value;
        return true;
    }
    return false;
}

std::string release_file(const char* root, const char* name) { return std::string(root) + name; }

}  // namespace

std::string OSSBuildHostType(const char* root, const char* sysname, const char* machine) {
    if (root == nullptr) root = "";
    std::string type = sysname != nullptr ? sysname : "Unknown OS";
    std::string name;
    bool found = false;
    for (const char* file : {"/etc/SuSE-release", "/etc/redhat-release"}) {
        FILE* f = std::fopen(release_file(root, file).c_str(), "r");
        if (f == nullptr) continue;
        found = first_line_up_to_paren(f, name);
        std::fclose(f);
        if (found) type = "Linux - " + name;
        found = true;  // the first readable file decides
        break;
    }
    if (!found) {
        FILE* f = std::fopen(release_file(root, "/etc/os-release").c_str(), "r");
        if (f != nullptr) {
            if (os_release_name(f, name)) type = "Linux - " + name;
            std::fclose(f);
        }
    }
    if (machine != nullptr) type += std::string(" ") + machine;
    if (type.size() > 127) type.resize(127);
    return type;
}

int OSSInitialize(int /*argc*/, char** /*argv*/) {
    std::memset(g_hostSystemName, 0, sizeof g_hostSystemName);
    std::memset(g_hostSystemType, 0, sizeof g_hostSystemType);
    std::memset(g_hostSystemVersion, 0, sizeof g_hostSystemVersion);
    std::memset(g_agentVersion, 0, sizeof g_agentVersion);
    std::memset(g_agentType, 0, sizeof g_agentType);
    std::memset(g_configurationPath, 0, sizeof g_configurationPath);
    OSSSetLogQuiet(CoreGetQuietMode());
    copy_text(g_hostSystemName, sizeof g_hostSystemName, "<unknown>");
    copy_text(g_hostSystemType, sizeof g_hostSystemType, "Unknown OS");
    copy_text(g_hostSystemVersion, sizeof g_hostSystemVersion, "Unknown Version");

    struct utsname uts {};
    if (::uname(&uts) == 0) {
        copy_text(g_hostSystemName, sizeof g_hostSystemName, uts.nodename);
        copy_text(g_hostSystemVersion, sizeof g_hostSystemVersion, uts.release);
        copy_text(g_hostSystemType, sizeof g_hostSystemType, OSSBuildHostType("", uts.sysname, uts.machine).c_str());
    }

    if (::getuid() != 0) {
        std::fputs("Error: You must be root to use this program.\n", stderr);
        std::exit(1);
    }
    if (OSSInitCriticalSection() != 0) {
        std::fputs("*** UNABLE TO INITIALIZE...TERMINATING...\n\n", stderr);
        std::exit(1);
    }

    char cwd[256];
    const size_t room = sizeof g_configurationPath;
    if (::getcwd(cwd, sizeof cwd) != nullptr && std::strlen(cwd) + 1 < room) {
        const size_t len = std::strlen(cwd);
        std::memcpy(g_configurationPath, cwd, len);
        g_configurationPath[len] = '/';
        g_configurationPath[len + 1] = '\0';
    } else
        copy_text(g_configurationPath, sizeof g_configurationPath, "./etc/");
    g_parentPid = ::getpid();
    return 0;
}

int OSSUninitialize() {
    OSSDeleteCriticalSection();
    std::fflush(stdout);
    return 0;
}

const char* OSSGetConfigPath() { return g_configurationPath; }

int OSSSetConfigPath(const char* path) {
    if (path == nullptr) return -1;
    copy_text(g_configurationPath, sizeof g_configurationPath, path);
    return 0;
}

const char* OSSGetHostName() { return g_hostSystemName; }
const char* OSSGetHostSystemType() { return g_hostSystemType; }
const char* OSSGetHostSystemVersion() { return g_hostSystemVersion; }
const char* OSSGetAgentVersion() { return g_agentVersion; }

int OSSGetHostInformation(_HostInformation* record) {
    if (record == nullptr) return -1;
    copy_text(record->HostName, sizeof record->HostName, g_hostSystemName);
    copy_text(record->HostVersion, sizeof record->HostVersion, g_hostSystemVersion);
    copy_text(record->HostType, sizeof record->HostType, g_hostSystemType);
    copy_text(record->AgentVersion, sizeof record->AgentVersion, g_agentVersion);
    return 0;
}

int OSSInitCriticalSection() {
    auto m = std::unique_ptr<pthread_mutex_t>(new (std::nothrow) pthread_mutex_t);
    if (!m) {
        CoreLogMessage(ZV_MSG_ERROR, "OSSInitCriticalSection: Unable to allocate memory for mutex");
        return -1;
    }
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
    const int rc = pthread_mutex_init(m.get(), &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) return -1;
    if (g_ossCriticalSection) OSSDeleteCriticalSection();
    g_ossCriticalSection = std::move(m);
    return 0;
}

int OSSDeleteCriticalSection() {
    if (!g_ossCriticalSection) return -1;
    const int rc = pthread_mutex_destroy(g_ossCriticalSection.get());
    if (rc == EBUSY) {
        CoreLogMessage(ZV_MSG_ERROR, "OSSDeleteCriticalSection: The mutex is currently locked!");
        return -1;
    }
    if (rc != 0) return -1;
    g_ossCriticalSection.reset();
    return 0;
}

int OSSEnterCriticalSection() {
    const int rc = g_ossCriticalSection ? pthread_mutex_lock(g_ossCriticalSection.get()) : EINVAL;
    if (rc == 0) return 0;
    if (rc == EINVAL)
        CoreLogMessage(ZV_MSG_ERROR, "OSSEnterCriticalSection: The mutex has not been properly initialized!");
    else if (rc == EDEADLK)
        CoreLogMessage(ZV_MSG_ERROR, "OSSEnterCriticalSection: The mutex is already locked by the caller!");
    return -1;
}

int OSSLeaveCriticalSection() {
    const int rc = g_ossCriticalSection ? pthread_mutex_unlock(g_ossCriticalSection.get()) : EINVAL;
    if (rc == 0) return 0;
    if (rc == EPERM)
        CoreLogMessage(ZV_MSG_ERROR, "OSSLeaveCriticalSection: The caller does not own the mutex!");
    else
        CoreLogMessage(ZV_MSG_ERROR, "OSSLeaveCriticalSection: The mutex has not been properly initialized!");
    return -1;
}

int OSSGenerateHostNotificationAlarm(SDMDevice* /*device*/, int /*kind*/, int /*status*/, const char* /*text*/) {
    return 0;
}

int OSSRebootHost() { return -1; }

int OSSContinueCorePollingLoop() { return g_bContinuePolling; }

int OSSStopCorePollingLoop() {
    g_bContinuePolling = 0;
    return 0;
}

int OSSPreInitializeDevices() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGPIPE);
    const int rc = pthread_sigmask(SIG_BLOCK, &set, nullptr);
    if (rc == 0) return 0;
    if (rc == EFAULT) CoreLogMessage(ZV_MSG_ERROR, "pthread_sigmask failed (%d) (mask points to invalid address)", rc);
    else if (rc == EINVAL) CoreLogMessage(ZV_MSG_ERROR, "pthread_sigmask failed (%d) (invalid arguments)", rc);
    else CoreLogMessage(ZV_MSG_ERROR, "pthread_sigmask failed (%d) (unknown error)", rc);
    return -1;
}

int OSSPreCorePollingLoop() {
    g_bContinuePolling = 1;
    if (GetDeviceList()->count == 0) {
        CoreLogMessage(ZV_MSG_ERROR, "**NO** compatible HBAs found during scan - Terminating...");
        if (g_parentPid != 0) ::kill(g_parentPid, SIGTERM);
    }
    OSSBroadcastMainWaitCondition();
    return 0;
}

int OSSBroadcastMainWaitCondition() {
    int rc = pthread_mutex_lock(&g_mainWaitMutex);
    if (rc != 0) return rc;
    g_mainWaitSignalled = true;
    rc = pthread_cond_broadcast(&g_mainWaitCondition);
    pthread_mutex_unlock(&g_mainWaitMutex);
    return rc;
}

int OSSWaitMainWaitCondition() {
    int rc = pthread_mutex_lock(&g_mainWaitMutex);
    if (rc != 0) return rc;
    // The flag keeps a broadcast that came before the wait from being lost.
    while (!g_mainWaitSignalled && rc == 0) rc = pthread_cond_wait(&g_mainWaitCondition, &g_mainWaitMutex);
    pthread_mutex_unlock(&g_mainWaitMutex);
    return rc;
}

int OSSPostInitializeDevices() { return 0; }
int OSSPostCorePollingLoop() { return 0; }
int OSSInnerCorePollingLoop() { return 0; }
int OSSOuterCorePollingLoop() { return 0; }
int OSSUpdateCoreDevices() { return 0; }

int GetAppDataPath(char* buffer, size_t size) {
    if (buffer == nullptr) return -1;
    if (size > 0) copy_text(buffer, size, "/var/log");
    return 0;
}

namespace {

// Copies `source` to the fresh file `name` of the directory `dirFd`.
int copy_file_at(const char* source, int dirFd, const char* name) {
    FILE* in = CoreFopenInputFile(source, "rb", nullptr);
    if (in == nullptr) return -1;
    // The copy is always a fresh file, made without following a link: a name
    // planted in the target directory (a link, a FIFO) is removed, never
    // written through. A name that cannot be removed (a directory) fails.
    if (::unlinkat(dirFd, name, 0) != 0 && errno != ENOENT) {
        std::fclose(in);
        return -1;
    }
    struct stat src {};
    const mode_t mode = ::fstat(::fileno(in), &src) == 0 ? (src.st_mode & 0755) : 0644;
    const int fd = ::openat(dirFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode);
    FILE* out = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (out == nullptr) {
        if (fd >= 0) {
            ::close(fd);
            ::unlinkat(dirFd, name, 0);
        }
        std::fclose(in);
        return -1;
    }
    std::unique_ptr<char[]> buf(new (std::nothrow) char[64 * 1024]());
    bool ok = static_cast<bool>(buf);
    while (ok) {
        const size_t n = std::fread(buf.get(), 1, 64 * 1024, in);
        if (n == 0) {
            ok = std::ferror(in) == 0;
            break;
        }
        if (std::fwrite(buf.get(), 1, n, out) != n) ok = false;
    }
    std::fclose(in);
    if (std::fclose(out) != 0) ok = false;
    if (!ok) {
        ::unlinkat(dirFd, name, 0);
        return -1;
    }
    return 0;
}

// A link that root owns, in a directory that only root may write, cannot
// have been planted by another user (/var/run -> /run, /bin -> usr/bin): the
// target directory's path follows it, at most this many, so a loop ends.
constexpr int kMaxTargetLinks = 40;

struct TargetName {
    std::string name;
    bool fromLink;  // a name of a link's target, never made
};

// Puts the names of `path` on `rest` (the next one to open last).
void push_path_names(std::vector<TargetName>& rest, const std::string& path, bool fromLink) {
    const std::size_t first = rest.size();
    for (std::size_t at = 0; at < path.size();) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        if (end > at) rest.push_back({path.substr(at, end - at), fromLink});
        at = end + 1;
    }
    std::reverse(rest.begin() + static_cast<std::ptrdiff_t>(first), rest.end());
}

// The target of the link `name` (whose lstat is `st`) in `dirFd`, when root
// owns the link and only root may write its directory; else empty, with
// the reason in `why`.
std::string trusted_link_target(int dirFd, const char* name, const struct stat& st, std::string& why) {
    struct stat dir {};
    if ((st.st_uid != 0 && st.st_uid != ::geteuid()) || ::fstat(dirFd, &dir) != 0 || !zvapi_root_only(dir)) {
        why = "it is a symbolic link";
        return {};
    }
    char target[PATH_MAX];
    const ssize_t n = ::readlinkat(dirFd, name, target, sizeof target);
    if (n < 0) why = std::strerror(errno);
    else if (n == 0) why = std::strerror(ENOENT);
    else if (static_cast<std::size_t>(n) >= sizeof target) why = std::strerror(ENAMETOOLONG);
    else return std::string(target, static_cast<std::size_t>(n));
    return {};
}

// Opens the directory the files are copied into: each name is opened inside
// the directory opened before it, without following a link, so a link
// planted at any level is refused ("dir/." included); only root's own link
// in a directory only root may write is followed, its target walked by the
// same rule. A missing name is made only when it is the path's last (a
// missing middle name, or a link's missing target, is refused), and the
// directory reached must be one that no user but root may write. The
// descriptor, or -1 with the reason.
int open_target_directory(const char* destination, std::string& why) {
    const std::string path = destination;
    if (path.empty()) {
        why = std::strerror(ENOENT);
        return -1;
    }
    std::vector<TargetName> rest;
    push_path_names(rest, path, false);
    int fd = ::open(path[0] == '/' ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        why = std::strerror(errno);
        return -1;
    }
    int links = 0;
    while (!rest.empty()) {
        const TargetName next = std::move(rest.back());
        rest.pop_back();
        const char* name = next.name.c_str();
        const auto open_directory = [&] { return ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); };
        int opened = open_directory();
        // A directory root makes is its own and written by no one else.
        if (opened < 0 && errno == ENOENT && rest.empty() && !next.fromLink && ::mkdirat(fd, name, 0755) == 0)
            opened = open_directory();
        if (opened >= 0) {
            ::close(fd);
            fd = opened;
            continue;
        }
        const int err = errno;
        struct stat st {};
        if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
            const std::string target = trusted_link_target(fd, name, st, why);
            if (!target.empty() && ++links <= kMaxTargetLinks) {
                push_path_names(rest, target, true);
                if (target[0] != '/') continue;
                ::close(fd);
                fd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                if (fd >= 0) continue;
                why = std::strerror(errno);
                return -1;
            }
            if (!target.empty()) why = std::strerror(ELOOP);
        } else if (err == ENOTDIR) why = "it is not a directory";
        else why = std::strerror(err);
        ::close(fd);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) why = std::strerror(errno);
    else if (st.st_uid != 0 && st.st_uid != ::geteuid()) why = "a user other than root owns it";
    else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) why = "group or other users may write it";
    else return fd;
    ::close(fd);
    return -1;
}

}  // namespace

int CopyFile(const char* source, const char* destination) {
    if (source == nullptr || destination == nullptr) return -1;
    return copy_file_at(source, AT_FDCWD, destination);
}

int CopyDirectory(const char* source, const char* destination, std::vector<std::string>* failed, std::string* refusal) {
    if (source == nullptr || destination == nullptr) return -1;
    DIR* src = ::opendir(source);
    if (src == nullptr) return -1;
    std::string why;
    const int dst = open_target_directory(destination, why);
    if (dst < 0) {
        CoreLogMessage(ZV_MSG_ERROR, "CopyDirectory: %s is refused: %s", destination, why.c_str());
        if (refusal != nullptr) *refusal = why;
        ::closedir(src);
        return -1;
    }
    // Copying a directory onto itself would truncate every file it holds.
    struct stat src_st {}, dst_st {};
    if (::fstat(::dirfd(src), &src_st) != 0 || ::fstat(dst, &dst_st) != 0 ||
        (src_st.st_dev == dst_st.st_dev && src_st.st_ino == dst_st.st_ino)) {
        CoreLogMessage(ZV_MSG_ERROR, "CopyDirectory: %s is the source directory itself", destination);
        ::close(dst);
        ::closedir(src);
        return -1;
    }

    int rc = 0;
    CoreLogMessage(ZV_MSG_DEBUG, "Contents of directory:");
    while (const dirent* e = ::readdir(src)) {
        CoreLogMessage(ZV_MSG_DEBUG, "   %s", e->d_name);
        char from[260];
        const int nf = std::snprintf(from, sizeof from, "%s/%s", source, e->d_name);
        struct stat st {};
        if (nf < 0 || static_cast<size_t>(nf) >= sizeof from) {
            rc = -1;
            if (failed != nullptr) failed->emplace_back(e->d_name);
            continue;
        }
        if (::stat(from, &st) != 0 || !S_ISREG(st.st_mode)) continue;
        char to[260];
        const int nt = std::snprintf(to, sizeof to, "%s/%s", destination, e->d_name);
        if (nt < 0 || static_cast<size_t>(nt) >= sizeof to) {
            rc = -1;  // a cut name would create another file
            if (failed != nullptr) failed->emplace_back(e->d_name);
            continue;
        }
        CoreLogMessage(ZV_MSG_DEBUG, "Destination file: %s (%ld)", to, static_cast<long>(st.st_size));
        if (copy_file_at(from, dst, e->d_name) != 0) {
            CoreLogMessage(ZV_MSG_ERROR, "CopyDirectory: Unable to copy %s", from);
            rc = -1;
            if (failed != nullptr) failed->emplace_back(e->d_name);
        }
    }
    ::close(dst);
    ::closedir(src);
    return rc;
}
