// Whole-file reads, bounded copies, string replacement and access tests.
#include "core/core_file_utils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/core_log.h"
#include "core/input_file.h"

namespace {

// The size of an open regular file, or -1.
long long file_size(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<long long>(st.st_size);
}

bool write_all(int fd, const uint8_t* data, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

}  // namespace

int CoreReadFileToBuffer(uint8_t** buffer, const char* path, uint32_t* size) {
    if (buffer == nullptr || path == nullptr || size == nullptr) return -1;
    *buffer = nullptr;
    const int fd = CoreOpenInputFile(path, O_RDONLY, nullptr);
    if (fd < 0) {
        CoreLogMessage(ZV_MSG_ERROR, "CoreGetDumpFile: Could not open file %s!", path);
        return -1;
    }
    const long long length = file_size(fd);
    if (length < 0 || static_cast<unsigned long long>(length) > CORE_FILE_SIZE_MAX) {
        CoreLogMessage(ZV_MSG_ERROR, "CoreReadFileToBuffer: Read file %s length %lld too long!", path, length);
        ::close(fd);
        return -1;
    }
    // One byte more than the file, so that a file that grew is seen.
    auto* data = static_cast<uint8_t*>(CoreZMalloc(static_cast<size_t>(length) + 1));
    if (data == nullptr) {
        CoreLogMessage(ZV_MSG_ERROR, "CoreReadFileToBuffer: Out of Memory.");
        ::close(fd);
        return -17;
    }
    size_t total = 0;
    bool failed = false;
    while (total <= static_cast<size_t>(length)) {
        const size_t want = std::min<size_t>(1024, static_cast<size_t>(length) + 1 - total);
        const ssize_t n = ::read(fd, data + total, want);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed = true;
        if (n <= 0) break;
        total += static_cast<size_t>(n);
    }
    ::close(fd);
    CoreLogMessage(ZV_MSG_DEBUG, "CoreReadFileToBuffer: totalBytes %zu bytes", total);
    if (failed || total != static_cast<size_t>(length)) {
        CoreLogMessage(ZV_MSG_ERROR, "Failed to read the %s file!", path);
        CoreFree(data);
        return -1;
    }
    *buffer = data;
    *size = static_cast<uint32_t>(length);
    return 0;
}

namespace {
// The length of a source that may be copied, or -1 (said on the log).
long long copyable_length(int in, const char* source) {
    const long long length = file_size(in);
    if (length < 0 || static_cast<unsigned long long>(length) > CORE_FILE_SIZE_MAX) {
        CoreLogMessage(ZV_MSG_ERROR, "CoreCopyFile: read file %s length %lld too long!", source, length);
        return -1;
    }
    return length;
}
}  // namespace

// Copies an open regular file into an open destination; 0 when every byte of
// the source went over.
int CoreCopyFileDescriptors(int in, const char* source, int out) {
    const long long length = copyable_length(in, source);
    if (length < 0) return -1;
    uint8_t piece[1024];
    long long total = 0;
    for (;;) {
        const ssize_t n = ::read(in, piece, sizeof piece);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            CoreLogMessage(ZV_MSG_ERROR, "CoreCopyFile: Failed to read the %s file!", source);
            return -1;
        }
        if (n == 0) break;
        if (!write_all(out, piece, static_cast<size_t>(n))) return -1;
        total += n;
    }
    CoreLogMessage(ZV_MSG_DEBUG, "CoreCopyFile: totalBytes %lld bytes", total);
    return total == length ? 0 : -1;
}

int CoreCopyFile(const char* source, const char* destination) {
    if (source == nullptr || destination == nullptr) return -1;
    const int in = CoreOpenInputFile(source, O_RDONLY, nullptr);
    if (in < 0) {
        CoreLogMessage(ZV_MSG_ERROR, "CoreCopyFile: Could not open file %s  !", source);
        return -1;
    }
    // A source refused as too long leaves the destination as it was: it is
    // looked at before the destination is opened (and emptied).
    if (copyable_length(in, source) < 0) {
        ::close(in);
        return -1;
    }
    const int out = ::open(destination, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    struct stat st {};
    if (out < 0 || ::fstat(out, &st) != 0 || !S_ISREG(st.st_mode)) {
        CoreLogMessage(ZV_MSG_ERROR, "CoreCopyFile: Could not open file %s!", destination);
        if (out >= 0) ::close(out);
        ::close(in);
        return -1;
    }
    int rc = CoreCopyFileDescriptors(in, source, out);
    ::close(in);
    if (::close(out) != 0) rc = -1;
    return rc;
}

int CoreReplaceString(const char* text, const char* wanted, const char* replacement, std::span<char> out) {
    constexpr size_t kWork = 512;
    const size_t length = text != nullptr ? std::strlen(text) : 0;
    if (text == nullptr || length == 0 || length > kWork || wanted == nullptr || *wanted == '\0' ||
        replacement == nullptr || out.empty()) {
        CoreLogMessage(ZV_MSG_DEBUG, "ReplaceString: search for string to strWanted %s\n", wanted != nullptr ? wanted : "");
        CoreLogMessage(ZV_MSG_DEBUG, "ReplaceString: strWanted with string %s\n",
                       replacement != nullptr ? replacement : "");
        return -1;
    }
    const size_t wantedLength = std::strlen(wanted);
    std::string result;
    for (size_t at = 0; at < length;) {
        const char* hit = std::strstr(text + at, wanted);
        if (hit == nullptr) {
            result.append(text + at);
            break;
        }
        result.append(text + at, static_cast<size_t>(hit - (text + at)));
        result.append(replacement);
        at = static_cast<size_t>(hit - text) + wantedLength;
        if (result.size() >= kWork) return -1;
    }
    if (result.size() >= kWork || result.size() >= out.size()) return -1;
    CoreLogMessage(ZV_MSG_DEBUG, "ReplaceString: newStr = %s\n", result.c_str());
    std::memcpy(out.data(), result.c_str(), result.size() + 1);
    return 0;
}

int CoreGetFilePermission(const char* path, int mode) {
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetFilePermission: Enter...");
    int rc = -1;
    if (path != nullptr) {
        CoreLogMessage(ZV_MSG_DEBUG, "CoreGetFilePermission: pFileName=%s", path);
        if (::access(path, F_OK) != 0) {
            CoreLogMessage(ZV_MSG_DEBUG, "CoreGetFilePermission: File %s not found!", path);
        } else {
            int flags = -1;
            switch (mode) {
                case 0: flags = F_OK; break;
                case 1: flags = X_OK; break;
                case 2: flags = W_OK; break;
                case 4: flags = R_OK; break;
                case 6: flags = R_OK | W_OK; break;
                default: CoreLogMessage(ZV_MSG_DEBUG, "CoreGetFilePermission: Unknown access mode!"); break;
            }
            if (flags >= 0 && ::access(path, flags) == 0) rc = mode;
        }
    }
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetFilePermission: return %d", rc);
    return rc;
}
