// The host's update lock.
#include "cli/update_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "frontend/output.h"
#include "mgmt/root_only_dir.h"

namespace {

// One update per host at a time, whichever command writes the flash (the
// MCTP command, "-b"). A second run would otherwise write the same adapters'
// tables or regions while the first is between its writes (the adapters'
// flash-update sessions only guard the image sets, and off-line updates
// have none). The lock is
// an flock on a file root owns, held until the process ends (also when it
// is killed). It lives in "/run", which only root may write, so no other
// user can plant a file, link or FIFO under its name and block every
// update ("/run/lock" is writable by everyone on many hosts). A lock that
// cannot be used for any reason but a live holder is said with its reason.
constexpr const char* kUpdateLockDir = "/run";
constexpr const char* kUpdateLockName = "zv_mctp_update.lock";
constexpr const char* kUpdateLockPath = "/run/zv_mctp_update.lock";

// flock needs no write access: a lock file others may open for reading
// lets them hold it for ever and stop every update.
bool others_may_open(const struct stat& st) { return (st.st_mode & (S_IRGRP | S_IROTH)) != 0; }

}  // namespace

UpdateLock TakeUpdateLock(std::string& why) {
    static int fd = -1;
    if (fd >= 0) return UpdateLock::Taken;
    const int dir = zvapi_open_root_only_dir(kUpdateLockDir, why);
    if (dir < 0) return UpdateLock::Unusable;
    const int f = ::openat(dir, kUpdateLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                           0600);
    const int openErr = errno;
    ::close(dir);
    if (f < 0) {
        why = openErr == ELOOP ? "it is a symbolic link" : std::string("it cannot be opened (") + std::strerror(openErr) + ")";
        return UpdateLock::Unusable;
    }
    UpdateLock result = UpdateLock::Unusable;
    struct stat st {};
    if (::fstat(f, &st) != 0) why = std::strerror(errno);
    else if (!S_ISREG(st.st_mode)) why = "it is not a regular file";
    else if (!zvapi_root_only(st)) why = "it is not a file that only root owns and may write";
    else if (others_may_open(st)) why = "users other than root may open it, and so hold it";
    else if (::flock(f, LOCK_EX | LOCK_NB) == 0) result = UpdateLock::Taken;
    else if (errno == EWOULDBLOCK) result = UpdateLock::Held;
    else why = std::string("it cannot be locked (") + std::strerror(errno) + ")";
    if (result == UpdateLock::Taken) fd = f;
    else ::close(f);
    return result;
}

bool TakeUpdateLockOrSay(const char* prefix) {
    std::string why;
    const UpdateLock lock = TakeUpdateLock(why);
    if (lock == UpdateLock::Taken) return true;
    char line[VORN_LINE_SIZE];
    if (lock == UpdateLock::Held)
        std::snprintf(line, sizeof line, "%sAnother update is in progress on this host; nothing was written.", prefix);
    else
        std::snprintf(line, sizeof line, "%sThe update lock %s cannot be used: %s; nothing was written.", prefix,
                      kUpdateLockPath, why.c_str());
    PrintOutPut("%s", line);
    scfxPrint("%s", line);
    return false;
}
