#include "fuzz_support.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace zvfuzz {
namespace {
thread_local bool t_instant = false;

int RealNanosleep(clockid_t clock, int flags, const timespec* req, timespec* rem) {
    // Straight to the kernel: the libc entry points are the ones replaced below.
    const long rc = syscall(SYS_clock_nanosleep, clock, flags, req, rem);
    return static_cast<int>(rc);
}
}  // namespace

std::vector<Bytes> Split(const uint8_t* data, size_t size, size_t atLeast) {
    std::vector<Bytes> pieces;
    const uint8_t* end = data + size;
    const uint8_t* from = data;
    for (;;) {
        const uint8_t* at = std::search(from, end, std::begin(kSeparator), std::end(kSeparator));
        pieces.emplace_back(from, at);
        if (at == end) break;
        from = at + sizeof kSeparator;
    }
    while (pieces.size() < atLeast) pieces.emplace_back();
    return pieces;
}

void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::abort();
}

bool Isolated() {
    static const bool isolated = [] {
        const char* flag = std::getenv("ZV_FUZZ_ISOLATED");
        const bool on = flag != nullptr && std::string_view(flag) == "1";
        if (!on) std::fprintf(stderr, "not in the private namespaces of scripts/fuzz.sh: this target does nothing\n");
        return on;
    }();
    return isolated;
}

const std::string& ScratchDir() {
    static const std::string dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zvfuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp", __FILE__, __LINE__);
        return pattern;
    }();
    return dir;
}

void WriteFile(const std::string& path, std::span<const uint8_t> bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) Fail("open for writing", __FILE__, __LINE__);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Fail("write", __FILE__, __LINE__);
        done += static_cast<size_t>(n);
    }
    close(fd);
}

void WriteFile(const std::string& path, std::string_view text) {
    WriteFile(path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

InstantSleeps::InstantSleeps() : before_(t_instant) { t_instant = true; }
InstantSleeps::~InstantSleeps() { t_instant = before_; }

}  // namespace zvfuzz

// The libc sleeps, replaced for the whole program: instant inside an
// InstantSleeps scope, real everywhere else (libFuzzer's own threads sleep).
extern "C" {
int clock_nanosleep(clockid_t clock, int flags, const timespec* req, timespec* rem) {
    if (zvfuzz::t_instant) {
        if (rem != nullptr) *rem = timespec{};
        return 0;
    }
    const int rc = zvfuzz::RealNanosleep(clock, flags, req, rem);
    return rc < 0 ? errno : 0;
}
int nanosleep(const timespec* req, timespec* rem) {
    if (zvfuzz::t_instant) {
        if (rem != nullptr) *rem = timespec{};
        return 0;
    }
    return zvfuzz::RealNanosleep(CLOCK_MONOTONIC, 0, req, rem) < 0 ? -1 : 0;
}
int usleep(useconds_t usec) {
    const timespec req{static_cast<time_t>(usec / 1000000), static_cast<long>(usec % 1000000) * 1000};
    return nanosleep(&req, nullptr);
}
unsigned int sleep(unsigned int seconds) {
    timespec req{static_cast<time_t>(seconds), 0};
    timespec rem{};
    if (nanosleep(&req, &rem) == 0) return 0;
    return static_cast<unsigned int>(rem.tv_sec);
}
}
