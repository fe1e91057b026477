// Preloaded into every test process: the product's sleeps return at once.
// When ZV_TEST_SLEEP_LOG names a file, each sleep appends its length in
// milliseconds to it, so tests can count the waits the program would make.
// ZV_TEST_SLEEP_HOLD="N:/path/marker" holds the process at its Nth sleep for
// good (after creating the marker file), so that a test can signal a program
// at a known point without any timing.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The log stays open while its name stays and the file is there: a run sleeps
// thousands of times, and a benchmark should not time an open for each.
std::mutex g_logMutex;
std::string g_logPath;
int g_logFd = -1;

void note(long long ms) {
    const char* path = std::getenv("ZV_TEST_SLEEP_LOG");
    if (path == nullptr || *path == '\0') return;
    std::lock_guard<std::mutex> lock(g_logMutex);
    // Only the link count: a query of the change time would make the
    // program's next flash write dirty its inode for fdatasync.
    struct statx st {};
    if (g_logFd >= 0 &&
        (g_logPath != path || ::statx(g_logFd, "", AT_EMPTY_PATH, STATX_NLINK, &st) != 0 || st.stx_nlink == 0)) {
        ::close(g_logFd);
        g_logFd = -1;
    }
    if (g_logFd < 0) {
        g_logFd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        if (g_logFd < 0) return;
        g_logPath = path;
    }
    char line[32];
    int n = std::snprintf(line, sizeof line, "%lld\n", ms);
    if (n > 0) (void)!::write(g_logFd, line, static_cast<size_t>(n));
}
std::atomic<long> g_sleeps{0};

void hold_if_asked() {
    const char* hold = std::getenv("ZV_TEST_SLEEP_HOLD");
    if (hold == nullptr) return;
    char* rest = nullptr;
    const long at = std::strtol(hold, &rest, 10);
    if (rest == nullptr || *rest != ':' || at <= 0 || ++g_sleeps != at) return;
    int fd = ::open(rest + 1, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd >= 0) ::close(fd);
    for (;;) pause();
}
}  // namespace

extern "C" {
unsigned int sleep(unsigned int seconds) {
    note(static_cast<long long>(seconds) * 1000);
    hold_if_asked();
    return 0;
}
int usleep(useconds_t usec) {
    note(static_cast<long long>(usec) / 1000);
    hold_if_asked();
    return 0;
}
int nanosleep(const struct timespec* req, struct timespec* rem) {
    if (req != nullptr) note(static_cast<long long>(req->tv_sec) * 1000 + req->tv_nsec / 1000000);
    hold_if_asked();
    if (rem != nullptr) { rem->tv_sec = 0; rem->tv_nsec = 0; }
    return 0;
}
int clock_nanosleep(clockid_t, int, const struct timespec* req, struct timespec* rem) {
    return nanosleep(req, rem);
}
}
