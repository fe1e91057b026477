// The installation directory and the working directory.
#include "frontend/install_dir.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {
char g_InstallationDir[VORN_DIR_SIZE] = {};
char g_CurrentDir[VORN_DIR_SIZE] = {};
char g_exeDir[VORN_DIR_SIZE + 1] = {};
char g_wipDir[VORN_DIR_SIZE + 1] = {};

int set_dir(char (&dst)[VORN_DIR_SIZE], const char* text, size_t length) {
    std::memset(dst, 0, sizeof dst);
    if (text == nullptr) return -1;
    const size_t limit = length < VORN_DIR_SIZE - 1 ? length : VORN_DIR_SIZE - 1;
    const size_t len = strnlen(text, limit + 1);
    if (len > limit) return -1;
    std::memcpy(dst, text, len);
    return 0;
}
}  // namespace

const char* VORNGetInstallationDir() { return g_InstallationDir; }
const char* VORNGetCurrentDir() { return g_CurrentDir; }
int VORNSetInstallationDir(const char* text, size_t length) { return set_dir(g_InstallationDir, text, length); }
int VORNSetCurrentDir(const char* text, size_t length) { return set_dir(g_CurrentDir, text, length); }

const char* coreu_get_install_dir() {
    char link[32];
    std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(::getpid()));
    char exe[VORN_DIR_SIZE + 1] = {};
    const ssize_t n = ::readlink(link, exe, VORN_DIR_SIZE);
    // A failed or cut link gives no path rather than a wrong one.
    if (n <= 0 || n >= static_cast<ssize_t>(VORN_DIR_SIZE)) exe[0] = '\0';
    else exe[n] = '\0';
    loc_getPath(g_exeDir, sizeof g_exeDir, exe);
    return g_exeDir;
}

const char* coreu_utils_get_wip() {
    std::memset(g_wipDir, 0, sizeof g_wipDir);
    if (::getcwd(g_wipDir, VORN_DIR_SIZE) == nullptr) g_wipDir[0] = '\0';
    return g_wipDir;
}

const char* zvtrace_get_install_dir() { return coreu_get_install_dir(); }
const char* zvtrace_get_wip() { return coreu_utils_get_wip(); }

int loc_getPath(char* dst, size_t size, const char* src) {
    if (dst == nullptr || size == 0) return 1;
    std::memset(dst, 0, size);
    if (src == nullptr || *src == '\0') {
        std::snprintf(dst, size, "%s", ".");
        return 1;
    }
    std::snprintf(dst, size, "%s", src);
    char* slash = std::strrchr(dst, '/');
    if (slash == dst) dst[1] = '\0';
    else if (slash != nullptr) *slash = '\0';
    return 0;
}

int loc_MIN(int a, int b) { return a < b ? a : b; }
