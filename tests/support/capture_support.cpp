#include "support/capture_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "support/e2e_support.h"

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
    close(tmp);
    std::string out = ReadFile(path);
    unlink(path);
    return out;
}
}  // namespace

std::string CaptureStdout(const std::function<void()>& fn) { return capture(1, fn); }
std::string CaptureStderr(const std::function<void()>& fn) { return capture(2, fn); }
}  // namespace zvtest
