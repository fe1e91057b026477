#include "mgmt/sim/sim_flash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "mgmt/sim/sim_layout.h"

namespace {

// Closes the descriptor on every path.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) {
            close(fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

int WriteAll(int fd, const SD_UINT8* p, size_t n, off_t at) {
    while (n > 0) {
        const ssize_t w = pwrite(fd, p, n, at);
        if (w < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (w == 0) {
            return EIO;
        }
        p += w;
        n -= static_cast<size_t>(w);
        at += w;
    }
    return 0;
}

// Erased bytes from `from` up to `to` (exclusive), in pieces.
int FillErased(int fd, SD_UINT64 from, SD_UINT64 to) {
    std::vector<SD_UINT8> ff(static_cast<size_t>(std::min<SD_UINT64>(to - from, 0x10000)), 0xFF);
    while (from < to) {
        const size_t n = static_cast<size_t>(std::min<SD_UINT64>(ff.size(), to - from));
        if (int e = WriteAll(fd, ff.data(), n, static_cast<off_t>(from))) {
            return e;
        }
        from += n;
    }
    return 0;
}

// Opens the flash file for writing and fills a gap between its end and `offset`.
int OpenForWrite(const zvsim_adapter& a, SD_UINT32 offset, int& fd) {
    fd = open(a.flashPath.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return errno;
    }
    struct stat st{};
    if (fstat(fd, &st) != 0) {
        return errno;
    }
    // A hole would read back as zeros; flash between the old end and the
    // write is erased.
    if (static_cast<SD_UINT64>(st.st_size) < offset) {
        return FillErased(fd, static_cast<SD_UINT64>(st.st_size), offset);
    }
    return 0;
}

}  // namespace

int zvsim_flash_read(const zvsim_adapter& a, SD_UINT32 offset, std::span<SD_UINT8> out) {
    std::fill(out.begin(), out.end(), SD_UINT8{0xFF});
    if (static_cast<SD_UINT64>(offset) + out.size() > a.flashSize) {
        return EINVAL;
    }
    Fd f(open(a.flashPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (f.fd < 0) {
        return errno;
    }
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = pread(f.fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            break;  // past the file's end: erased
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

int zvsim_flash_write(const zvsim_adapter& a, SD_UINT32 offset, std::span<const SD_UINT8> bytes) {
    if (static_cast<SD_UINT64>(offset) + bytes.size() > a.flashSize) {
        return EINVAL;
    }
    int raw = -1;
    const int opened = OpenForWrite(a, offset, raw);
    Fd f(raw);
    if (opened != 0) {
        return opened;
    }
    if (int e = WriteAll(f.fd, bytes.data(), bytes.size(), offset)) {
        return e;
    }
    return fsync(f.fd) != 0 ? errno : 0;
}

int zvsim_flash_tear(const zvsim_adapter& a, SD_UINT32 offset, std::span<const SD_UINT8> bytes, SD_UINT32 cut,
                     SD_UINT32 limit) {
    const SD_UINT64 end = static_cast<SD_UINT64>(offset) + bytes.size();
    if (end > a.flashSize || limit > a.flashSize || limit < end) {
        return EINVAL;
    }
    cut = static_cast<SD_UINT32>(std::min<size_t>(cut, bytes.size()));
    int raw = -1;
    const int opened = OpenForWrite(a, offset, raw);
    Fd f(raw);
    if (opened != 0) {
        return opened;
    }
    if (int e = WriteAll(f.fd, bytes.data(), cut, offset)) {
        return e;
    }
    const SD_UINT64 at = static_cast<SD_UINT64>(offset) + cut;
    const SD_UINT64 blockEnd = (at / ZVSIM_ERASE_BLOCK + 1) * ZVSIM_ERASE_BLOCK;
    if (int e = FillErased(f.fd, at, std::min<SD_UINT64>(blockEnd, limit))) {
        return e;
    }
    return fsync(f.fd) != 0 ? errno : 0;
}

SD_UINT64 zvsim_fnv1a64(std::span<const SD_UINT8> bytes) {
    SD_UINT64 h = 0xcbf29ce484222325ULL;
    for (SD_UINT8 b : bytes) {
        h ^= b;
        h *= 0x100000001b3ULL;
    }
    return h;
}
