#include "mgmt/sim/sim_flash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "mgmt/sim/sim_file.h"
#include "mgmt/sim/sim_layout.h"

namespace {

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

// The adapter's flash file, opened once per process: read-write where the
// file allows it, else read-only until a write asks again. -1 and errno set
// on failure.
int FlashFd(const zvsim_adapter& a, bool forWrite) {
    zvsim_flash_handle& h = a.flashFile;
    std::lock_guard lock(h.opening);
    if (h.fd >= 0 && (h.writable || !forWrite)) {
        return h.fd;
    }
    int fd = zvsim_open_regular(a.flashPath, O_RDWR);
    bool writable = fd >= 0;
    if (fd < 0 && !forWrite && (errno == EACCES || errno == EROFS)) {
        fd = zvsim_open_regular(a.flashPath, O_RDONLY);
    }
    if (fd < 0) {
        return -1;
    }
    // A read-only descriptor another thread may still read from stays open
    // until unload.
    if (h.fd >= 0) {
        h.readOnlyFd = h.fd;
    }
    h.fd = fd;
    h.writable = writable;
    return fd;
}

// The flash file ready for a write at `offset`: a gap between its end and
// the write is filled first.
int OpenForWrite(const zvsim_adapter& a, SD_UINT32 offset, int& fd) {
    fd = FlashFd(a, true);
    if (fd < 0) {
        return errno;
    }
    // Only the size: asking for a change time makes the kernel stamp the next
    // write finely, and fdatasync then waits for an inode write.
    struct statx st{};
    if (statx(fd, "", AT_EMPTY_PATH, STATX_SIZE, &st) != 0) {
        return errno;
    }
    // A hole would read back as zeros; flash between the old end and the
    // write is erased.
    if (st.stx_size < offset) {
        return FillErased(fd, st.stx_size, offset);
    }
    return 0;
}

}  // namespace

zvsim_flash_handle::~zvsim_flash_handle() { Close(); }

void zvsim_flash_handle::Close() {
    for (int* f : {&fd, &readOnlyFd}) {
        if (*f >= 0) {
            close(*f);
        }
        *f = -1;
    }
    writable = false;
}

int zvsim_flash_read(const zvsim_adapter& a, SD_UINT32 offset, std::span<SD_UINT8> out) {
    if (static_cast<SD_UINT64>(offset) + out.size() > a.flashSize) {
        std::fill(out.begin(), out.end(), SD_UINT8{0xFF});
        return EINVAL;
    }
    const int fd = FlashFd(a, false);
    if (fd < 0) {
        const int e = errno;
        std::fill(out.begin(), out.end(), SD_UINT8{0xFF});
        return e;
    }
    size_t done = 0;
    // Only what the file does not hold reads erased; the rest is overwritten
    // by the read itself.
    struct Erased {
        std::span<SD_UINT8> out;
        size_t& done;
        ~Erased() { std::fill(out.begin() + static_cast<std::ptrdiff_t>(done), out.end(), SD_UINT8{0xFF}); }
    } erased{out, done};
    while (done < out.size()) {
        const ssize_t n = pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
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
    int fd = -1;
    if (int e = OpenForWrite(a, offset, fd)) {
        return e;
    }
    if (int e = WriteAll(fd, bytes.data(), bytes.size(), offset)) {
        return e;
    }
    return fdatasync(fd) != 0 ? errno : 0;
}

int zvsim_flash_tear(const zvsim_adapter& a, SD_UINT32 offset, std::span<const SD_UINT8> bytes, SD_UINT32 cut,
                     SD_UINT32 limit) {
    const SD_UINT64 end = static_cast<SD_UINT64>(offset) + bytes.size();
    if (end > a.flashSize || limit > a.flashSize || limit < end) {
        return EINVAL;
    }
    cut = static_cast<SD_UINT32>(std::min<size_t>(cut, bytes.size()));
    int fd = -1;
    if (int e = OpenForWrite(a, offset, fd)) {
        return e;
    }
    if (int e = WriteAll(fd, bytes.data(), cut, offset)) {
        return e;
    }
    const SD_UINT64 at = static_cast<SD_UINT64>(offset) + cut;
    const SD_UINT64 blockEnd = (at / ZVSIM_ERASE_BLOCK + 1) * ZVSIM_ERASE_BLOCK;
    if (int e = FillErased(fd, at, std::min<SD_UINT64>(blockEnd, limit))) {
        return e;
    }
    return fdatasync(fd) != 0 ? errno : 0;
}

SD_UINT64 zvsim_fnv1a64(std::span<const SD_UINT8> bytes) {
    SD_UINT64 h = 0xcbf29ce484222325ULL;
    for (SD_UINT8 b : bytes) {
        h ^= b;
        h *= 0x100000001b3ULL;
    }
    return h;
}

SD_UINT64 zvsim_hash64(std::span<const SD_UINT8> bytes) {
    // XXH3 reads the bytes many words at a time: a journal line for a 1 MiB
    // region costs a small fraction of its write.
    return XXH3_64bits(bytes.data(), bytes.size());
}
