// The simulated platform's own files.
#include "mgmt/sim/sim_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

int zvsim_open_regular(const std::string& path, int flags, mode_t mode) {
    const int fd = open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0) {
        return -1;
    }
    // statx without the times: a query of the change time makes the next
    // flash write dirty its inode, which its fdatasync then has to write.
    struct statx st{};
    if (statx(fd, "", AT_EMPTY_PATH, STATX_TYPE, &st) != 0 || !S_ISREG(st.stx_mode)) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    const int fl = fcntl(fd, F_GETFL);
    if (fl >= 0) {
        fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    }
    return fd;
}

bool zvsim_read_file(const std::string& path, std::size_t maxSize, std::string& text, std::string& err) {
    text.clear();
    const int fd = zvsim_open_regular(path, O_RDONLY);
    if (fd < 0) {
        err = path + (errno == EINVAL ? ": not a regular file" : errno == ELOOP ? ": a symbolic link" : ": cannot be read");
        return false;
    }
    struct statx st{};
    bool ok = statx(fd, "", AT_EMPTY_PATH, STATX_SIZE, &st) == 0 && st.stx_size <= maxSize;
    if (!ok) {
        err = path + ": larger than " + std::to_string(maxSize) + " bytes";
    } else {
        text.reserve(static_cast<std::size_t>(st.stx_size));   // not twice a large host.json
    }
    char piece[65536];
    while (ok) {
        const ssize_t n = read(fd, piece, sizeof piece);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 || text.size() + static_cast<std::size_t>(n) > maxSize) {
            err = path + (n < 0 ? ": cannot be read" : ": larger than " + std::to_string(maxSize) + " bytes");
            ok = false;
        } else if (n == 0) {
            break;
        } else {
            text.append(piece, static_cast<std::size_t>(n));
        }
    }
    close(fd);
    return ok;
}
