// Preloaded into the program a benchmark runs: counts the reads and writes
// that reach simulated flash files ("*.flash"). The counters live in a small
// shared file named by ZV_BENCH_IO_COUNT, so they survive however the process
// ends (the product may leave through _exit).
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "io_count.h"

namespace {

ZvBenchIoCounters* g_counters = nullptr;

ZvBenchIoCounters* Counters() {
    static bool tried = false;
    if (!tried) {
        tried = true;
        const char* path = std::getenv("ZV_BENCH_IO_COUNT");
        if (path != nullptr && *path != '\0') {
            const int fd = ::open(path, O_RDWR | O_CLOEXEC);
            if (fd >= 0) {
                void* p = mmap(nullptr, sizeof(ZvBenchIoCounters), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
                ::close(fd);
                if (p != MAP_FAILED) g_counters = static_cast<ZvBenchIoCounters*>(p);
            }
        }
    }
    return g_counters;
}

bool NamesFlashFile(int fd) {
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n < 6) return false;
    return std::memcmp(target + n - 6, ".flash", 6) == 0;
}

// Whether a descriptor is a flash file, decided once when it is opened (the
// floor pays no such look-up, so the run must not pay one per call).
// Descriptors beyond the table are looked up on each call.
constexpr int kTrackedFds = 65536;
unsigned char g_isFlash[kTrackedFds];

void NoteOpen(int fd) {
    if (fd >= 0 && fd < kTrackedFds) __atomic_store_n(&g_isFlash[fd], NamesFlashFile(fd) ? 1 : 0, __ATOMIC_RELAXED);
}

bool IsFlashFile(int fd) {
    if (fd >= 0 && fd < kTrackedFds) return __atomic_load_n(&g_isFlash[fd], __ATOMIC_RELAXED) != 0;
    return NamesFlashFile(fd);
}

template <typename F>
F Next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

void Note(int fd, ssize_t done, bool write) {
    ZvBenchIoCounters* c = Counters();
    if (c == nullptr || done < 0 || !IsFlashFile(fd)) return;
    if (write) {
        __atomic_fetch_add(&c->writeCalls, 1, __ATOMIC_RELAXED);
        __atomic_fetch_add(&c->writeBytes, static_cast<unsigned long long>(done), __ATOMIC_RELAXED);
    } else {
        __atomic_fetch_add(&c->readCalls, 1, __ATOMIC_RELAXED);
        __atomic_fetch_add(&c->readBytes, static_cast<unsigned long long>(done), __ATOMIC_RELAXED);
    }
}

// The program's own peak resident set (the exec'd image only: the rusage of
// a spawned child also carries its parent's peak).
void NotePeak() {
    ZvBenchIoCounters* c = Counters();
    if (c == nullptr) return;
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    char text[4096];
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    ::close(fd);
    if (n <= 0) return;
    text[n] = '\0';
    if (const char* at = std::strstr(text, "VmHWM:")) c->peakRssKiB = std::strtoull(at + 6, nullptr, 10);
}

__attribute__((destructor)) void AtExit() { NotePeak(); }

int Opened(int fd) {
    NoteOpen(fd);
    return fd;
}

}  // namespace

extern "C" {
[[noreturn]] void _exit(int status) {
    NotePeak();
    static auto real = Next<void (*)(int)>("_exit");
    real(status);
    __builtin_unreachable();
}
[[noreturn]] void _Exit(int status) { _exit(status); }
// The mode argument is passed only with O_CREAT or O_TMPFILE.
#define ZV_OPEN_MODE(flags)                                                  \
    mode_t mode = 0;                                                         \
    if (((flags) & O_CREAT) != 0 || ((flags) & O_TMPFILE) == O_TMPFILE) {   \
        va_list ap;                                                          \
        va_start(ap, flags);                                                 \
        mode = static_cast<mode_t>(va_arg(ap, int));                         \
        va_end(ap);                                                          \
    }
int open(const char* path, int flags, ...) {
    ZV_OPEN_MODE(flags)
    static auto real = Next<int (*)(const char*, int, ...)>("open");
    return Opened(real(path, flags, mode));
}
int open64(const char* path, int flags, ...) {
    ZV_OPEN_MODE(flags)
    static auto real = Next<int (*)(const char*, int, ...)>("open64");
    return Opened(real(path, flags, mode));
}
int openat(int dir, const char* path, int flags, ...) {
    ZV_OPEN_MODE(flags)
    static auto real = Next<int (*)(int, const char*, int, ...)>("openat");
    return Opened(real(dir, path, flags, mode));
}
int openat64(int dir, const char* path, int flags, ...) {
    ZV_OPEN_MODE(flags)
    static auto real = Next<int (*)(int, const char*, int, ...)>("openat64");
    return Opened(real(dir, path, flags, mode));
}
int close(int fd) {
    if (fd >= 0 && fd < kTrackedFds) __atomic_store_n(&g_isFlash[fd], 0, __ATOMIC_RELAXED);
    static auto real = Next<int (*)(int)>("close");
    return real(fd);
}
ssize_t pread(int fd, void* buf, size_t n, off_t at) {
    static auto real = Next<ssize_t (*)(int, void*, size_t, off_t)>("pread");
    const ssize_t r = real(fd, buf, n, at);
    Note(fd, r, false);
    return r;
}
ssize_t pread64(int fd, void* buf, size_t n, off_t at) { return pread(fd, buf, n, at); }
ssize_t pwrite(int fd, const void* buf, size_t n, off_t at) {
    static auto real = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    const ssize_t r = real(fd, buf, n, at);
    Note(fd, r, true);
    return r;
}
ssize_t pwrite64(int fd, const void* buf, size_t n, off_t at) { return pwrite(fd, buf, n, at); }
ssize_t read(int fd, void* buf, size_t n) {
    static auto real = Next<ssize_t (*)(int, void*, size_t)>("read");
    const ssize_t r = real(fd, buf, n);
    Note(fd, r, false);
    return r;
}
}
