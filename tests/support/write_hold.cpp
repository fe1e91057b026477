// Preloaded by tests that aim a signal at a flash write: the simulated
// platform stores a write's bytes and then syncs the flash file (fsync or
// fdatasync) before it journals the write, so a sync of a "*.flash" file is the
// moment a write is on flash but not yet journaled.
//
// ZV_TEST_WRITE_LOG=/path        each such write appends a line "<n>" there
//                                (when its bytes are down, before the sync)
// ZV_TEST_WRITE_HOLD=N:/mark:/go the Nth one creates /mark and waits there
//                                until /go exists, then goes on
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
std::atomic<long> g_writes{0};

bool is_flash_file(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    if (n <= 0) return false;
    const std::string path(target, static_cast<size_t>(n));
    return path.size() > 6 && path.compare(path.size() - 6, 6, ".flash") == 0;
}

void append(const char* path, long n) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return;
    char line[32];
    const int len = std::snprintf(line, sizeof line, "%ld\n", n);
    if (len > 0) (void)!::write(fd, line, static_cast<size_t>(len));
    ::close(fd);
}

void hold_if_asked(long n) {
    const char* spec = std::getenv("ZV_TEST_WRITE_HOLD");
    if (spec == nullptr) return;
    char* rest = nullptr;
    if (std::strtol(spec, &rest, 10) != n || rest == nullptr || *rest != ':') return;
    const std::string paths(rest + 1);
    const size_t colon = paths.find(':');
    if (colon == std::string::npos) return;
    const std::string mark = paths.substr(0, colon), go = paths.substr(colon + 1);
    append(mark.c_str(), n);
    // poll() waits for real (the no-sleep preload only answers the sleeps);
    // a signal landing here is just what the test wants.
    while (::access(go.c_str(), F_OK) != 0) ::poll(nullptr, 0, 5);
}
}  // namespace

namespace {
// A write's bytes are down: count it, log it and hold it when asked.
void note_flash_sync(int fd) {
    if (!is_flash_file(fd)) return;
    const long n = ++g_writes;
    if (const char* log = std::getenv("ZV_TEST_WRITE_LOG"); log != nullptr) append(log, n);
    hold_if_asked(n);
}
}  // namespace

extern "C" int fsync(int fd) {
    using fsync_fn = int (*)(int);
    static fsync_fn real = reinterpret_cast<fsync_fn>(dlsym(RTLD_NEXT, "fsync"));
    note_flash_sync(fd);
    return real != nullptr ? real(fd) : 0;
}

extern "C" int fdatasync(int fd) {
    using fsync_fn = int (*)(int);
    static fsync_fn real = reinterpret_cast<fsync_fn>(dlsym(RTLD_NEXT, "fdatasync"));
    note_flash_sync(fd);
    return real != nullptr ? real(fd) : 0;
}
