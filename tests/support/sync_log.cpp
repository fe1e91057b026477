// Preloaded by tests of the order in which a run makes things durable. Each
// line appended to $ZV_TEST_SYNC_LOG names one call, in the order made:
//   sync <path>          fsync or fdatasync of a file or directory
//   rename <from> <to>   rename or renameat (paths as resolved)
//   flash <path>         a write to a simulated flash file ("*.flash")
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string PathOf(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string("?");
}

std::string AtPath(int dirfd, const char* name) {
    if (name == nullptr) return "?";
    if (name[0] == '/' || dirfd == AT_FDCWD) return name;
    return PathOf(dirfd) + "/" + name;
}

void Log(const std::string& line) {
    const char* log = std::getenv("ZV_TEST_SYNC_LOG");
    if (log == nullptr) return;
    const int fd = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    const std::string text = line + "\n";
    (void)!::write(fd, text.data(), text.size());
    ::close(fd);
}

bool IsFlash(const std::string& path) { return path.size() > 6 && path.compare(path.size() - 6, 6, ".flash") == 0; }

template <class Fn>
Fn Real(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int fsync(int fd) {
    static const auto real = Real<int (*)(int)>("fsync");
    Log("sync " + PathOf(fd));
    return real != nullptr ? real(fd) : 0;
}

extern "C" int fdatasync(int fd) {
    static const auto real = Real<int (*)(int)>("fdatasync");
    Log("sync " + PathOf(fd));
    return real != nullptr ? real(fd) : 0;
}

extern "C" int rename(const char* from, const char* to) {
    static const auto real = Real<int (*)(const char*, const char*)>("rename");
    Log("rename " + AtPath(AT_FDCWD, from) + " " + AtPath(AT_FDCWD, to));
    return real != nullptr ? real(from, to) : -1;
}

extern "C" int renameat(int fromDir, const char* from, int toDir, const char* to) {
    static const auto real = Real<int (*)(int, const char*, int, const char*)>("renameat");
    Log("rename " + AtPath(fromDir, from) + " " + AtPath(toDir, to));
    return real != nullptr ? real(fromDir, from, toDir, to) : -1;
}

extern "C" ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
    static const auto real = Real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    if (const std::string path = PathOf(fd); IsFlash(path)) Log("flash " + path);
    return real != nullptr ? real(fd, buf, count, offset) : -1;
}

extern "C" ssize_t pwrite64(int fd, const void* buf, size_t count, off_t offset) {
    static const auto real = Real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite64");
    if (const std::string path = PathOf(fd); IsFlash(path)) Log("flash " + path);
    return real != nullptr ? real(fd, buf, count, offset) : -1;
}
