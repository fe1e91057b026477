#include "mgmt/sd_log.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "mgmt/sd_shared_db.h"

namespace {
std::atomic<SD_UINT32> g_mask{0};
std::atomic<bool> g_loaded{false};
std::atomic<bool> g_envSet{false};

void write_all(int fd, const char* text, size_t len) {
    while (len > 0) {
        ssize_t n = ::write(fd, text, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        text += n;
        len -= static_cast<size_t>(n);
    }
}
}  // namespace

void zvdbg_reload_mask() {
    SD_UINT32 mask = ZVDBG_DEFAULT_MASK;
    const char* env = std::getenv("ZV_FCAPI_DEBUG");
    bool set = env != nullptr && *env != '\0';
    if (set) mask |= static_cast<SD_UINT32>(std::strtoul(env, nullptr, 16));
    g_mask = mask;
    g_envSet = set;
    g_loaded = true;
}

SD_UINT32 zvdbg_get_mask() {
    if (!g_loaded) zvdbg_reload_mask();
    return g_mask;
}

bool zvdbg_env_set() {
    if (!g_loaded) zvdbg_reload_mask();
    return g_envSet;
}

void zvdbg_print(SD_UINT32 bits, const char* format, ...) {
    SD_UINT32 mask = zvdbg_get_mask();
    if ((mask & bits) == 0) return;

    char message[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);

    char stamp[32] = "";
    std::time_t now = std::time(nullptr);
    std::tm tmv{};
    if (localtime_r(&now, &tmv) != nullptr) std::strftime(stamp, sizeof stamp, "%m/%d/%Y %H:%M:%S", &tmv);

    char line[1200];
    int n = std::snprintf(line, sizeof line, "%s [%d] %s\n", stamp, static_cast<int>(getpid()), message);
    if (n < 0) return;
    size_t len = static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1;
    if (len > 0 && line[len - 1] != '\n') line[len - 1] = '\n';

    // Lines of several processes must not interleave while debugging is on.
    bool locked = g_envSet && zvapi_sem_lock(ZVAPI_SEM_DEBUG_LOG);
    if (mask & ZVDBG_TO_FILE) {
        // Never through a link and never into anything but a regular file: a
        // FIFO or device planted in its place must not hang or receive the line.
        int fd = ::open(ZVDBG_LOG_PATH, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY,
                        0644);
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) write_all(fd, line, len);
        if (fd >= 0) ::close(fd);
    }
    if (mask != ZVDBG_DEFAULT_MASK) write_all(2, line, len);
    if (locked) zvapi_sem_unlock(ZVAPI_SEM_DEBUG_LOG);
}
