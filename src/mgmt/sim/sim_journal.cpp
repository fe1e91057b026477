#include "mgmt/sim/sim_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "mgmt/sim/sim_flash.h"
#include "mgmt/sim/sim_file.h"

namespace {

// Counts newlines of the file from `from` to `to`.
SD_UINT64 CountLines(int fd, off_t from, off_t to) {
    if (from >= to) {
        return 0;   // the usual case: only this instance appended
    }
    std::vector<char> buf(0x10000);
    SD_UINT64 n = 0;
    while (from < to) {
        const ssize_t got = pread(fd, buf.data(), static_cast<size_t>(std::min<off_t>(to - from, 0x10000)), from);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        n += static_cast<SD_UINT64>(std::count(buf.begin(), buf.begin() + got, '\n'));
        from += got;
    }
    return n;
}

}  // namespace

zvsim_journal::~zvsim_journal() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

void zvsim_journal::Append(const zvsim_journal_line& line) {
    // Opened once per instance and kept; opened again when the file was
    // removed or replaced meanwhile.
    // statx with only the fields used: a query of the change time makes the
    // next flash write dirty its inode, which fdatasync then has to write.
    struct statx st{};
    if (fd_ >= 0 && (statx(fd_, "", AT_EMPTY_PATH, STATX_NLINK, &st) != 0 || st.stx_nlink == 0)) {
        close(fd_);
        fd_ = -1;
    }
    if (fd_ < 0) {
        fd_ = zvsim_open_regular(path_, O_RDWR | O_CREAT | O_APPEND, 0644);
        knownSize_ = 0;
        knownLines_ = 0;
    }
    if (fd_ < 0) {
        return;
    }
    const int fd = fd_;
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    // Lines appended by other processes since the last count.
    if (statx(fd, "", AT_EMPTY_PATH, STATX_SIZE, &st) == 0) {
        const off_t size = static_cast<off_t>(st.stx_size);
        if (size < knownSize_) {
            knownSize_ = 0;
            knownLines_ = 0;
        }
        knownLines_ += CountLines(fd, knownSize_, size);
        knownSize_ = size;
    }
    char text[256];
    const int n = std::snprintf(
        text, sizeof text,
        "seq=%llu op=%s adapter=%d region=0x%X offset=0x%X size=%zu hash=%016llx disable_reset=%u fault=%s\n",
        static_cast<unsigned long long>(knownLines_ + 1), line.op, line.adapter, line.region, line.offset,
        line.bytes.size(), static_cast<unsigned long long>(line.write ? zvsim_hash64(line.bytes) : 0),
        line.disableReset, line.fault);
    if (n > 0) {
        // One write call per line keeps lines whole.
        const size_t len = std::min(static_cast<size_t>(n), sizeof text - 1);
        ssize_t w;
        do {
            w = write(fd, text, len);
        } while (w < 0 && errno == EINTR);
        if (w == static_cast<ssize_t>(len)) {
            ++knownLines_;
            knownSize_ += static_cast<off_t>(len);
        }
    }
    flock(fd, LOCK_UN);
}
