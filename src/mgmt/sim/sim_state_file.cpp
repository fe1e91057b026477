#include "mgmt/sim/sim_state_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <span>

#include "mgmt/sim/sim_file.h"
#include "mgmt/sim/sim_flash.h"

namespace {

SD_UINT64 Hash(std::string_view text) {
    return zvsim_hash64({reinterpret_cast<const SD_UINT8*>(text.data()), text.size()});
}

// The file's identity from statx without its times: a query of the change
// time makes the kernel stamp the next write finely, and every flash
// fdatasync after it then waits for an inode write.
constexpr unsigned kIdentityMask = STATX_INO | STATX_SIZE;

template <typename Identity>
Identity IdentityOf(const struct statx& st) {
    return Identity{makedev(st.stx_dev_major, st.stx_dev_minor), static_cast<ino_t>(st.stx_ino),
                    static_cast<off_t>(st.stx_size)};
}

void Lock(int fd, int how) {
    while (flock(fd, how) != 0 && errno == EINTR) {
    }
}

// The whole file under a shared lock, so that no write in place is seen half done.
bool ReadAll(int fd, std::string& text) {
    text.clear();
    Lock(fd, LOCK_SH);
    struct statx st{};
    bool ok = statx(fd, "", AT_EMPTY_PATH, STATX_SIZE, &st) == 0 && st.stx_size <= kZvsimMaxTextFile;
    if (ok) {
        text.resize(static_cast<size_t>(st.stx_size));
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = pread(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
        text.resize(done);
    }
    Lock(fd, LOCK_UN);
    return ok;
}

bool WriteAt(int fd, const std::string& text, off_t at) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = pwrite(fd, text.data() + done, text.size() - done, at + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

zvsim_state_file::~zvsim_state_file() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

zvsim_state zvsim_state_file::Load(const zvsim_host& host) {
    path_ = host.dir + "/state.json";
    if (fd_ >= 0) {
        close(fd_);
    }
    fd_ = zvsim_open_regular(path_, O_RDWR);
    std::string text;
    if (fd_ >= 0 && !ReadAll(fd_, text)) {
        text.clear();
    }
    bool booted = false;
    zvsim_state state = zvsim_parse_state(host, text, booted);
    if (booted) {
        Rewrite(host, state);
    } else {
        const std::string canonical = zvsim_state_text(host, state);
        Remember(host, state, canonical, text == canonical);
    }
    return state;
}

void zvsim_state_file::SaveAdapter(const zvsim_host& host, const zvsim_state& state, size_t index) {
    Save(host, state, index + 1, zvsim_state_slot(host, state, index));
}

void zvsim_state_file::SaveClock(const zvsim_host& host, const zvsim_state& state) {
    Save(host, state, 0, zvsim_state_header(state));
}

bool zvsim_state_file::Unchanged() const {
    struct statx st{};
    if (fd_ < 0 || statx(AT_FDCWD, path_.c_str(), AT_SYMLINK_NOFOLLOW, kIdentityMask, &st) != 0) {
        return false;
    }
    return IdentityOf<Identity>(st) == seen_;
}

void zvsim_state_file::Save(const zvsim_host& host, const zvsim_state& state, size_t slot, const std::string& text) {
    const SD_UINT64 hash = Hash(text);
    const bool unchanged = Unchanged();
    // A reset that reloads the same firmware changes nothing.
    if (unchanged && slot < slotHash_.size() && slotHash_[slot] == hash) {
        return;
    }
    const size_t slotSize = zvsim_state_slot_size();
    if (unchanged && laidOut_ && slot < slotHash_.size() && text.size() == slotSize) {
        // One slot never spans two pages (slots are a power of two, at most
        // a page, from the file's start), so a process killed in the write
        // leaves the old slot or the new one.
        Lock(fd_, LOCK_EX);
        const bool written = WriteAt(fd_, text, static_cast<off_t>(slot * slotSize));
        struct statx st{};
        const bool stated = statx(fd_, "", AT_EMPTY_PATH, kIdentityMask, &st) == 0;
        Lock(fd_, LOCK_UN);
        if (written && stated) {
            slotHash_[slot] = hash;
            seen_ = IdentityOf<Identity>(st);
            return;
        }
    }
    Rewrite(host, state);
}

void zvsim_state_file::Rewrite(const zvsim_host& host, const zvsim_state& state) {
    const std::string text = zvsim_state_text(host, state);
    if (!zvsim_write_state_text(host, text)) {
        // Not written: the next change tries again.
        laidOut_ = false;
        seen_ = {};
        return;
    }
    if (fd_ >= 0) {
        close(fd_);
    }
    fd_ = zvsim_open_regular(path_, O_RDWR);
    Remember(host, state, text, true);
}

void zvsim_state_file::Remember(const zvsim_host& host, const zvsim_state& state, const std::string& text,
                                bool isFile) {
    const size_t slotSize = zvsim_state_slot_size();
    const size_t slots = host.adapters.size() + 1;
    const bool lined = text.size() == slotSize * slots + 3;
    laidOut_ = isFile && lined;
    slotHash_.assign(slots, 0);
    for (size_t k = 0; k < slots; ++k) {
        slotHash_[k] = lined ? Hash(std::string_view(text).substr(k * slotSize, slotSize))
                       : k == 0 ? Hash(zvsim_state_header(state))
                                : Hash(zvsim_state_slot(host, state, k - 1));
    }
    struct statx st{};
    if (fd_ >= 0 && statx(fd_, "", AT_EMPTY_PATH, kIdentityMask, &st) == 0) {
        seen_ = IdentityOf<Identity>(st);
    } else {
        seen_ = {};
    }
}
