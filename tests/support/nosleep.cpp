// Preloaded into every test process: the product's sleeps return at once.
// When ZV_TEST_SLEEP_LOG names a file, each sleep appends its length in
// milliseconds to it, so tests can count the waits the program would make.
// ZV_TEST_SLEEP_HOLD="N:/path/marker" holds the process at its Nth sleep for
// good (after creating the marker file), so that a test can signal a program
// at a known point without any timing.
// ZV_TEST_SLEEP_SIGNAL="N:SIG" (SIG a number, e.g. 2) raises SIG inside the
// Nth sleep, so that the program's handler runs there, and returns as a real
// sleep that the signal cut short: none of the time asked for has passed
// (sleep returns it all, nanosleep copies it to *rem and fails with EINTR).
// Both count the sleeps made while they are set.
#include <atomic>
#include <cerrno>
#include <csignal>
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
std::atomic<long> g_holdSleeps{0};
std::atomic<long> g_signalSleeps{0};

// The text after "N:" of `name`'s value when this sleep is its Nth, else nullptr.
const char* at_nth_sleep(const char* name, std::atomic<long>& sleeps) {
    const char* spec = std::getenv(name);
    if (spec == nullptr) return nullptr;
    char* rest = nullptr;
    const long at = std::strtol(spec, &rest, 10);
    if (rest == nullptr || *rest != ':' || at <= 0 || ++sleeps != at) return nullptr;
    return rest + 1;
}

void hold_if_asked() {
    const char* marker = at_nth_sleep("ZV_TEST_SLEEP_HOLD", g_holdSleeps);
    if (marker == nullptr) return;
    int fd = ::open(marker, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd >= 0) ::close(fd);
    for (;;) pause();
}

// Whether this sleep is cut short by a signal (raised here, its handler run).
bool interrupted_if_asked() {
    const char* sig = at_nth_sleep("ZV_TEST_SLEEP_SIGNAL", g_signalSleeps);
    if (sig == nullptr) return false;
    ::raise(std::atoi(sig));
    errno = EINTR;
    return true;
}
}  // namespace

extern "C" {
unsigned int sleep(unsigned int seconds) {
    note(static_cast<long long>(seconds) * 1000);
    hold_if_asked();
    return interrupted_if_asked() ? seconds : 0;
}
int usleep(useconds_t usec) {
    note(static_cast<long long>(usec) / 1000);
    hold_if_asked();
    return interrupted_if_asked() ? -1 : 0;
}
int nanosleep(const struct timespec* req, struct timespec* rem) {
    if (req != nullptr) note(static_cast<long long>(req->tv_sec) * 1000 + req->tv_nsec / 1000000);
    hold_if_asked();
    const bool cut = interrupted_if_asked();
    if (rem != nullptr) {
        if (cut && req != nullptr) *rem = *req;
        else { rem->tv_sec = 0; rem->tv_nsec = 0; }
    }
    return cut ? -1 : 0;
}
int clock_nanosleep(clockid_t, int, const struct timespec* req, struct timespec* rem) {
    // Gives the error itself, not -1 and errno.
    return nanosleep(req, rem) == 0 ? 0 : EINTR;
}
}
