// Runs a piece of a test as another user: a forked child switched to
// uid/gid `uid` for good (setresgid, setresuid), so that what it makes is
// theirs as if they had made it themselves.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace zvtest {

constexpr uid_t kNobody = 65534;

// True when `body` ran as `uid` and returned true.
inline bool AsUser(uid_t uid, const std::function<bool()>& body) {
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        if (::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0) _exit(1);
        _exit(body() ? 0 : 2);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace zvtest
