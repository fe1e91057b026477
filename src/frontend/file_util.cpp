// File and path helpers of the front end.
#include "frontend/file_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "core/core_log.h"
#include "core/image_file.h"
#include "core/input_file.h"
#include "core/oss_services.h"

int isFileExists(const char* path) {
    if (path == nullptr) return 0;
    // Only a file the reader rule accepts counts.
    return CoreProbeInputFile(path) == InputFileStatus::Ok ? 1 : 0;
}

int isDirExists(const char* path) {
    if (path == nullptr) return 0;
    struct stat st {};
    return (::stat(path, &st) == 0 && S_ISDIR(st.st_mode)) ? 1 : 0;
}

int getFileSize(const char* path, uint32_t* size) {
    if (path == nullptr || size == nullptr) return 1;
    // A file the update run has read already is not opened again.
    std::size_t known = 0;
    if (CoreImageFileRunSize(path, known)) {
        if (known > 0xFFFFFFFFul) return 5;
        *size = static_cast<uint32_t>(known);
        return 0;
    }
    FILE* f = CoreFopenInputFile(path, "rb", nullptr);
    if (f == nullptr) return 1;
    int rc = 0;
    if (std::fseek(f, 0, SEEK_END) != 0) {
        rc = 5;
    } else {
        const long end = std::ftell(f);
        if (end < 0 || static_cast<unsigned long>(end) > 0xFFFFFFFFul) rc = 5;
        else *size = static_cast<uint32_t>(end);
    }
    std::fclose(f);
    return rc;
}

namespace {
// A file this program writes as root: never through a link, never into
// anything but a regular file; its mode is what the umask leaves of 0666.
FILE* open_for_writing(const char* path) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    struct stat st {};
    FILE* f = nullptr;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::fcntl(fd, F_SETFL, 0) == 0) f = ::fdopen(fd, "wb");
    if (f == nullptr) ::close(fd);
    return f;
}
}  // namespace

int saveBufferToFile(std::span<const uint8_t> buffer, const char* path) {
    if (path == nullptr) return 1;
    FILE* f = open_for_writing(path);
    if (f == nullptr) return 1;
    // An empty buffer makes an empty file; fwrite is never handed its null data.
    const bool ok = buffer.empty() || std::fwrite(buffer.data(), 1, buffer.size(), f) == buffer.size();
    return (std::fclose(f) == 0 && ok) ? 0 : 1;
}

int DumpToFile(const SDMDevice* /*port*/, std::span<uint8_t> buffer, const char* path) {
    if (path == nullptr) return -1;
    FILE* f = open_for_writing(path);
    if (f == nullptr) {
        CoreLogMessage(ZV_MSG_ERROR, "Failed to open file %s for saving!", path);
        return -1;
    }
    const bool written = buffer.empty() || std::fwrite(buffer.data(), 1, buffer.size(), f) == buffer.size();
    if (std::fclose(f) != 0 || !written) {
        CoreLogMessage(ZV_MSG_ERROR, "Not enough space !");
        return -1;
    }
    std::memset(buffer.data(), 0, buffer.size());
    f = CoreFopenInputFile(path, "rb", nullptr);
    if (f == nullptr) {
        CoreLogMessage(ZV_MSG_ERROR, "Failed to open file %s for reading!", path);
        return -1;
    }
    const bool read_back = std::fread(buffer.data(), 1, buffer.size(), f) == buffer.size();
    std::fclose(f);
    if (!read_back) {
        CoreLogMessage(ZV_MSG_ERROR, "File is corrupted!");
        return -1;
    }
    return 0;
}

int GetFileNameNoExtension(char* name, size_t size) {
    if (name == nullptr || size < 1) return -1;
    const size_t len = strnlen(name, size);
    if (len == size) return -1;  // not terminated within its buffer
    char* dot = std::strrchr(name, '.');
    if (dot != nullptr) *dot = '\0';
    return 0;
}

int VORNJoinPath(char* out, size_t size, const char* dir, const char* name) {
    if (out == nullptr || size == 0) return -1;
    out[0] = '\0';
    if (dir == nullptr || name == nullptr) return -1;
    const int n = std::snprintf(out, size, "%s/%s", dir, name);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        out[0] = '\0';
        return -1;
    }
    return 0;
}

const char* OSSGetDirPath() { return OSSGetConfigPath(); }
