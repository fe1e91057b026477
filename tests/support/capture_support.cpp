#include "support/capture_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace zvtest {
namespace {
std::string capture(int fd, const std::function<void()>& fn) {
    std::fflush(nullptr);
    char path[] = "/tmp/zvcapXXXXXX";
    const int tmp = mkstemp(path);
    const int saved = dup(fd);
    dup2(tmp, fd);
    fn();
    std::fflush(nullptr);
    dup2(saved, fd);
    close(saved);
    std::string out;
    lseek(tmp, 0, SEEK_SET);
    char buf[4096];
    ssize_t n;
    while ((n = read(tmp, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(tmp);
    unlink(path);
    return out;
}
}  // namespace

std::string CaptureStdout(const std::function<void()>& fn) { return capture(1, fn); }
std::string CaptureStderr(const std::function<void()>& fn) { return capture(2, fn); }
}  // namespace zvtest
