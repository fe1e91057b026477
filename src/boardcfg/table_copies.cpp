// Host-side copies of single-copy configuration tables: file names, the
// file format, and their writing, reading and removal in a directory only root writes.
#include "boardcfg/table_copies.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/input_file.h"

namespace {

constexpr char kMagic[4] = {'T', 'K', 'T', 'C'};
constexpr const char* kSuffix = ".copy";
constexpr const char* kNewSuffix = ".copy.new";
constexpr const char* kNoOwner = "the adapter has neither a serial number nor a port name to keep it by";
// Format 2 sums everything after the sum itself: the owner and the data.
constexpr std::size_t kSummedFrom = 24;

void PutLE32(std::vector<SD_UINT8>& b, std::size_t off, SD_UINT32 v) {
    for (int i = 0; i < 4; ++i) b[off + i] = static_cast<SD_UINT8>(v >> (8 * i));
}

SD_UINT32 GetLE32(std::span<const SD_UINT8> b, std::size_t off) {
    return SD_UINT32{b[off]} | SD_UINT32{b[off + 1]} << 8 | SD_UINT32{b[off + 2]} << 16 |
           SD_UINT32{b[off + 3]} << 24;
}

SD_UINT64 Fnv1a64(std::span<const SD_UINT8> bytes) {
    SD_UINT64 h = 0xCBF29CE484222325ULL;
    for (SD_UINT8 c : bytes) {
        h ^= c;
        h *= 0x100000001B3ULL;
    }
    return h;
}

bool TrustedOwner(uid_t uid) { return uid == 0 || uid == ::geteuid(); }

std::string Errno(const char* what, int err) { return std::string(what) + " (" + std::strerror(err) + ")"; }

// The directory, opened without following a link and only when root owns it
// and no one else may write it; made (0700) when missing and `make`. -1 with
// the reason, or -1 with an empty reason when it is simply not there.
int OpenCopyDir(bool make, std::string* why) {
    const auto open_dir = [] { return ::open(TBLCOPY_DIR, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); };
    int fd = open_dir();
    if (fd < 0 && errno == ENOENT && make) {
        if (::mkdir(TBLCOPY_DIR, 0700) != 0 && errno != EEXIST) {
            *why = std::string("the directory ") + TBLCOPY_DIR + " cannot be made (" + std::strerror(errno) + ")";
            return -1;
        }
        fd = open_dir();
    }
    const std::string dir = std::string("the directory ") + TBLCOPY_DIR;
    struct stat st {};
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT && !make) {
            why->clear();
        } else if (::lstat(TBLCOPY_DIR, &st) == 0 && S_ISLNK(st.st_mode)) {
            *why = dir + " is refused: it is a symbolic link";
        } else if (err == ENOTDIR) {
            *why = dir + " is refused: it is not a directory";
        } else {
            *why = dir + " cannot be opened (" + std::strerror(err) + ")";
        }
        return -1;
    }
    if (::fstat(fd, &st) != 0) {
        *why = dir + " cannot be examined (" + std::strerror(errno) + ")";
    } else if (!TrustedOwner(st.st_uid)) {
        *why = dir + " is refused: a user other than root owns it";
    } else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        *why = dir + " is refused: group or other users may write it";
    } else {
        return fd;
    }
    ::close(fd);
    return -1;
}

const char* RefusalReason(InputFileStatus st) {
    switch (st) {
        case InputFileStatus::Link: return "it is a symbolic link";
        case InputFileStatus::NotRegular: return "it is not a regular file";
        case InputFileStatus::OthersMayWrite: return "group or other users may write it";
        case InputFileStatus::PlacedByOthers: return "a user other than root may have placed it";
        case InputFileStatus::OwnedByOthers: return "a user other than root owns it";
        default: return "it cannot be read";
    }
}

bool WriteAll(int fd, std::span<const SD_UINT8> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

TableCopyOwner TableCopyOwnerOf(const char* serial, std::span<const SD_UINT8, 8> firstPortWwpn) {
    if (serial != nullptr && *serial != '\0' && std::strncmp(serial, "N/A", 3) != 0) {
        return {TableCopyOwnerKind::Serial, serial};
    }
    if (std::all_of(firstPortWwpn.begin(), firstPortWwpn.end(), [](SD_UINT8 b) { return b == 0; })) return {};
    std::string id;
    for (std::size_t i = 0; i < 8; ++i) {
        char part[4];
        std::snprintf(part, sizeof part, i == 0 ? "%02X" : ":%02X", firstPortWwpn[i]);
        id += part;
    }
    return {TableCopyOwnerKind::Wwpn, id};
}

std::string TableCopyFileName(const TableCopyOwner& owner, SD_UINT32 region) {
    if (owner.kind == TableCopyOwnerKind::None || owner.id.empty() || owner.id.size() > TBLCOPY_OWNER_SIZE) return {};
    std::string name;
    if (owner.kind == TableCopyOwnerKind::Wwpn) {
        // Hex digits and ':', which a serial number's name always escapes.
        const bool plain = std::all_of(owner.id.begin(), owner.id.end(), [](char c) {
            return c == ':' || std::isxdigit(static_cast<unsigned char>(c)) != 0;
        });
        if (!plain) return {};
        name = owner.id;
    } else {
        for (const char ch : owner.id) {
            const unsigned char c = static_cast<unsigned char>(ch);
            if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '_') {
                name += static_cast<char>(c);
            } else {
                char esc[4];
                std::snprintf(esc, sizeof esc, "%%%02X", c);
                name += esc;
            }
        }
    }
    char tail[32];
    std::snprintf(tail, sizeof tail, "-0x%X%s", region, kSuffix);
    return name + tail;
}

std::string TableCopyPath(const TableCopyOwner& owner, SD_UINT32 region) {
    return std::string(TBLCOPY_DIR) + "/" + TableCopyFileName(owner, region);
}

std::vector<SD_UINT8> EncodeTableCopy(const TableCopyOwner& owner, SD_UINT32 region, std::span<const SD_UINT8> data) {
    std::vector<SD_UINT8> file(TBLCOPY_HEADER_SIZE + data.size());
    std::memcpy(file.data(), kMagic, 4);
    PutLE32(file, 4, TBLCOPY_FORMAT);
    PutLE32(file, 8, region);
    PutLE32(file, 12, static_cast<SD_UINT32>(data.size()));
    const std::size_t idLength = std::min(owner.id.size(), TBLCOPY_OWNER_SIZE);
    PutLE32(file, 24, static_cast<SD_UINT32>(owner.kind));
    PutLE32(file, 28, static_cast<SD_UINT32>(idLength));
    std::copy_n(owner.id.begin(), idLength, file.begin() + 32);
    std::copy(data.begin(), data.end(), file.begin() + TBLCOPY_HEADER_SIZE);
    // The sum covers whose copy it is as well as the data.
    const SD_UINT64 h = Fnv1a64(std::span<const SD_UINT8>(file).subspan(kSummedFrom));
    PutLE32(file, 16, static_cast<SD_UINT32>(h));
    PutLE32(file, 20, static_cast<SD_UINT32>(h >> 32));
    return file;
}

TableCopyDecode DecodeTableCopy(std::span<const SD_UINT8> file, const TableCopyOwner& owner, SD_UINT32 region,
                                std::size_t size, std::vector<SD_UINT8>* data) {
    return DecodeTableCopy(file, owner, std::span<const TableCopyOwner>(&owner, 1), region, size, data);
}

TableCopyDecode DecodeTableCopy(std::span<const SD_UINT8> file, const TableCopyOwner& name,
                                std::span<const TableCopyOwner> adapter, SD_UINT32 region, std::size_t size,
                                std::vector<SD_UINT8>* data) {
    constexpr TableCopyDecode kNot = TableCopyDecode::NotIntact;
    if (data == nullptr || size > TBLCOPY_MAX_DATA || file.size() < TBLCOPY_V1_HEADER_SIZE) return kNot;
    const SD_UINT32 format = GetLE32(file, 4);
    const std::size_t header = format == 1 ? TBLCOPY_V1_HEADER_SIZE : TBLCOPY_HEADER_SIZE;
    if ((format != 1 && format != TBLCOPY_FORMAT) || file.size() != header + size) return kNot;
    if (std::memcmp(file.data(), kMagic, 4) != 0 || GetLE32(file, 8) != region || GetLE32(file, 12) != size) {
        return kNot;
    }
    const SD_UINT64 h = SD_UINT64{GetLE32(file, 16)} | SD_UINT64{GetLE32(file, 20)} << 32;
    const std::span<const SD_UINT8> body = file.subspan(header);
    if (format == 1) {
        // Kept by serial number only, with nothing but the name to say whose.
        if (name.kind != TableCopyOwnerKind::Serial || Fnv1a64(body) != h) return kNot;
        data->assign(body.begin(), body.end());
        return TableCopyDecode::Ok;
    }
    if (Fnv1a64(file.subspan(kSummedFrom)) != h) return kNot;
    const SD_UINT32 kind = GetLE32(file, 24);
    const SD_UINT32 idLength = GetLE32(file, 28);
    const std::span<const SD_UINT8> idField = file.subspan(32, TBLCOPY_OWNER_SIZE);
    if ((kind != static_cast<SD_UINT32>(TableCopyOwnerKind::Serial) &&
         kind != static_cast<SD_UINT32>(TableCopyOwnerKind::Wwpn)) ||
        idLength == 0 || idLength > TBLCOPY_OWNER_SIZE ||
        std::any_of(idField.begin() + idLength, idField.end(), [](SD_UINT8 b) { return b != 0; })) {
        return kNot;
    }
    // Exactly one of the adapter's names: a serial number that only begins
    // or ends like this one's is another adapter's.
    const bool mine = std::any_of(adapter.begin(), adapter.end(), [&](const TableCopyOwner& owner) {
        return kind == static_cast<SD_UINT32>(owner.kind) && idLength == owner.id.size() &&
               std::memcmp(owner.id.data(), idField.data(), idLength) == 0;
    });
    if (!mine) return TableCopyDecode::OtherOwner;
    data->assign(body.begin(), body.end());
    return TableCopyDecode::Ok;
}

int SaveTableCopy(const TableCopyOwner& owner, SD_UINT32 region, std::span<const SD_UINT8> data, std::string* why) {
    std::string scratch;
    std::string& reason = why != nullptr ? *why : scratch;
    const std::string name = TableCopyFileName(owner, region);
    if (name.empty()) {
        reason = kNoOwner;
        return -1;
    }
    if (data.size() > TBLCOPY_MAX_DATA) {
        reason = "the table is too large";
        return -1;
    }
    const int dir = OpenCopyDir(true, &reason);
    if (dir < 0) return -1;
    const std::string fresh = name.substr(0, name.size() - std::strlen(kSuffix)) + kNewSuffix;
    const std::string path = std::string(TBLCOPY_DIR) + "/" + name;
    // A fresh file, renamed over the old copy only once it is whole on disk:
    // a cut while it is written never costs the copy a torn table may need.
    ::unlinkat(dir, fresh.c_str(), 0);
    int rc = -1;
    const int fd = ::openat(dir, fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        reason = Errno(("the copy " + path + " cannot be made").c_str(), errno);
    } else {
        const std::vector<SD_UINT8> bytes = EncodeTableCopy(owner, region, data);
        if (::fchmod(fd, 0600) != 0 || !WriteAll(fd, bytes) || ::fsync(fd) != 0) {
            reason = Errno(("the copy " + path + " cannot be written").c_str(), errno);
        } else if (::renameat(dir, fresh.c_str(), dir, name.c_str()) != 0) {
            reason = Errno(("the copy " + path + " cannot be put in place").c_str(), errno);
        } else if (::fsync(dir) != 0) {
            reason = Errno(("the directory " + std::string(TBLCOPY_DIR) + " cannot be synced").c_str(), errno);
        } else {
            rc = 0;
        }
        ::close(fd);
        if (rc != 0) ::unlinkat(dir, fresh.c_str(), 0);
    }
    ::close(dir);
    return rc;
}

TableCopyStatus LoadTableCopy(const TableCopyOwner& name, std::span<const TableCopyOwner> adapter, SD_UINT32 region,
                              std::size_t size, std::vector<SD_UINT8>* data, std::string* why) {
    std::string scratch;
    std::string& reason = why != nullptr ? *why : scratch;
    reason.clear();
    if (data == nullptr) return TableCopyStatus::Missing;
    const std::string file = TableCopyFileName(name, region);
    if (file.empty()) {
        reason = kNoOwner;
        return TableCopyStatus::Refused;
    }
    const std::string path = std::string(TBLCOPY_DIR) + "/" + file;
    const int dir = OpenCopyDir(false, &reason);
    if (dir < 0) return reason.empty() ? TableCopyStatus::Missing : TableCopyStatus::Refused;
    ::close(dir);
    InputFileStatus st = InputFileStatus::Missing;
    const int fd = CoreOpenInputFile(path.c_str(), O_RDONLY, &st);
    if (fd < 0) {
        if (st == InputFileStatus::Missing) return TableCopyStatus::Missing;
        reason = "the copy " + path + " is refused: " + RefusalReason(st);
        return TableCopyStatus::Refused;
    }
    struct stat info {};
    TableCopyStatus result = TableCopyStatus::NotIntact;
    if (::fstat(fd, &info) != 0) {
        reason = Errno(("the copy " + path + " cannot be examined").c_str(), errno);
        result = TableCopyStatus::Refused;
    } else if (!TrustedOwner(info.st_uid)) {
        reason = "the copy " + path + " is refused: a user other than root owns it";
        result = TableCopyStatus::Refused;
    } else if (const auto length = static_cast<std::uint64_t>(info.st_size);
               size > TBLCOPY_MAX_DATA || (length != TBLCOPY_HEADER_SIZE + std::uint64_t{size} &&
                                           length != TBLCOPY_V1_HEADER_SIZE + std::uint64_t{size})) {
        reason = "the copy " + path + " is not intact";
    } else {
        std::vector<SD_UINT8> bytes(static_cast<std::size_t>(length));
        std::size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        const TableCopyDecode decoded = got == bytes.size() ? DecodeTableCopy(bytes, name, adapter, region, size, data)
                                                            : TableCopyDecode::NotIntact;
        if (decoded == TableCopyDecode::Ok) {
            result = TableCopyStatus::Ok;
        } else if (decoded == TableCopyDecode::OtherOwner) {
            reason = "the copy " + path + " is refused: it was kept for another adapter";
            result = TableCopyStatus::Refused;
        } else {
            reason = "the copy " + path + " is not intact";
        }
    }
    ::close(fd);
    return result;
}

bool TableCopyPresent(const TableCopyOwner& owner, SD_UINT32 region) {
    const std::string name = TableCopyFileName(owner, region);
    return !name.empty() && CoreNameExists((std::string(TBLCOPY_DIR) + "/" + name).c_str());
}

void RemoveTableCopy(const TableCopyOwner& owner, SD_UINT32 region) {
    const std::string name = TableCopyFileName(owner, region);
    if (name.empty()) return;
    std::string why;
    const int dir = OpenCopyDir(false, &why);
    if (dir < 0) return;
    // With a fresh file a cut left half written, if any.
    const std::string fresh = name.substr(0, name.size() - std::strlen(kSuffix)) + kNewSuffix;
    const bool gone = ::unlinkat(dir, name.c_str(), 0) == 0;
    if (::unlinkat(dir, fresh.c_str(), 0) == 0 || gone) ::fsync(dir);
    ::close(dir);
}
