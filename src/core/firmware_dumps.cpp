// Firmware and MPI firmware dumps.
#include "core/firmware_dumps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/core_file_utils.h"
#include "core/core_log.h"
#include "core/input_file.h"
#include "mgmt/sdapi.h"

namespace {

// The terminated text in a buffer the library filled.
std::string text_of(std::span<const char> buffer) {
    size_t n = 0;
    while (n < buffer.size() && buffer[n] != '\0') ++n;
    return std::string(buffer.data(), n);
}

// The extension of a file name from its last "." (with the "."); empty when
// it has none or it is not a plain short suffix.
std::string extension_of(const std::string& name) {
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos) return {};
    std::string ext = name.substr(dot);
    if (ext.size() > 16 || ext.find('/') != std::string::npos) return {};
    return ext;
}

// Copies the library's dump file to a new file of an unpredictable name made
// from `prefix`; the new name, or "" on failure.
std::string copy_dump_file(const std::string& libraryFile, const char* prefix) {
    const std::string ext = extension_of(libraryFile);
    std::string name = std::string(prefix) + "XXXXXX" + ext;
    const int out = ::mkstemps(name.data(), static_cast<int>(ext.size()));
    if (out < 0) {
        CoreLogMessage(ZV_MSG_ERROR, "CoreCopyFile: Could not open file %s!", name.c_str());
        return {};
    }
    const int in = CoreOpenInputFile(libraryFile.c_str(), O_RDONLY, nullptr);
    int rc = -1;
    if (in < 0) {
        CoreLogMessage(ZV_MSG_ERROR, "CoreCopyFile: Could not open file %s  !", libraryFile.c_str());
    } else {
        rc = CoreCopyFileDescriptors(in, libraryFile.c_str(), out);
        ::close(in);
    }
    if (::close(out) != 0) rc = -1;
    if (rc != 0) {
        ::unlink(name.c_str());
        return {};
    }
    return name;
}

using DumpCall = SD_UINT32 (*)(int, SD_UINT32, std::span<SD_UINT8>, SD_UINT32*);

uint32_t dump_size(const char* op, DumpCall call, const char* prefix, const SDMDevice* device,
                   std::span<char> nameBuffer, int32_t* size) {
    SD_UINT32 bufferSize = static_cast<SD_UINT32>(nameBuffer.size());
    const SD_UINT32 st = call(device->DeviceHandle, 0,
                              {reinterpret_cast<SD_UINT8*>(nameBuffer.data()), nameBuffer.size()}, &bufferSize);
    CoreLogMessage(ZV_MSG_DEBUG, "%s: BufferSize = %u, result = (0x%x) (%s)", op, bufferSize, st,
                   SDGetErrorString(st));
    if (st == SDERR_SUCCESS || st == SDERR_BUFFER_TOO_SMALL) {
        *size = static_cast<int32_t>(bufferSize);
    } else if (st == SDERR_FW_DUMP_ZIP) {
        *size = static_cast<int32_t>(bufferSize);
        const std::string libraryFile = text_of(nameBuffer);
        if (std::strcmp(prefix, "/tmp/MpiFwDumpRaw") == 0)
            CoreLogMessage(ZV_MSG_DEBUG, "CoreGetMpiFwDumpSize: Compressed mpi fw dump file name=%s",
                           libraryFile.c_str());
        else
            CoreLogMessage(ZV_MSG_DEBUG, "CoreGetDumpDataSize: dump file name fileExt  (%s)",
                           extension_of(libraryFile).c_str());
        const std::string copy = copy_dump_file(libraryFile, prefix);
        if (!copy.empty() && copy.size() < nameBuffer.size()) {
            std::memset(nameBuffer.data(), 0, nameBuffer.size());
            std::memcpy(nameBuffer.data(), copy.c_str(), copy.size());
            CoreLogMessage(ZV_MSG_DEBUG, "CoreGetDumpDataSize: dump file name to send to client (%s)", copy.c_str());
        } else if (!copy.empty()) {
            ::unlink(copy.c_str());
        }
    } else if (st == SDERR_ADAPTER_NOT_READY) {
        *size = -1;
    }
    return st;
}

}  // namespace

uint32_t CoreGetFirmwareDumpData(const SDMDevice* device, std::span<uint8_t> buffer, uint32_t dumpType) {
    CoreLogMessage(ZV_MSG_DEBUG, "GerFirmwareDumpData: Enter");
    if (device == nullptr || dumpType > 3) return SDERR_DEVICE_NOT_FOUND;
    if (buffer.empty()) return SDERR_INVALID_REQUEST;
    std::memset(buffer.data(), 0, buffer.size());
    SD_UINT32 size = static_cast<SD_UINT32>(buffer.size());
    SD_UINT32 st;
    if (dumpType < 3) {
        st = SDGetFwDump(device->DeviceHandle, 0, buffer, &size);
        CoreLogMessage(ZV_MSG_DEBUG, "GerFirmwareDumpData: SDGetFwDump() returns 0x%x (%s)", st, SDGetErrorString(st));
    } else {
        st = SDGetMPIFwDump(device->DeviceHandle, 0, buffer, &size);
        CoreLogMessage(ZV_MSG_DEBUG, "GerFirmwareDumpData: SDGetMPIFwDump() returns 0x%x (%s)", st,
                       SDGetErrorString(st));
    }
    return st;
}

uint32_t CoreGetDumpDataSize(const SDMDevice* device, std::span<char> nameBuffer, int32_t* size) {
    if (device == nullptr || nameBuffer.empty() || size == nullptr) return static_cast<uint32_t>(-1);
    return dump_size("CoreGetDumpDataSize", SDGetFwDump, "/tmp/dumpFile", device, nameBuffer, size);
}

uint32_t CoreGetMpiFwDumpSize(const SDMDevice* device, std::span<char> nameBuffer, int32_t* size) {
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetMpiFwDumpSize: Enter...");
    if (device == nullptr || nameBuffer.empty() || size == nullptr) return SDERR_UNKNOWN;
    return dump_size("CoreGetMpiFwDumpSize", SDGetMPIFwDump, "/tmp/MpiFwDumpRaw", device, nameBuffer, size);
}

int CoreGetMpiFwDump(const SDMDevice* device, const char* path) {
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetMpiFwDump: Enter...");
    int rc = -1;
    SD_UINT8* buffer = nullptr;
    SD_UINT32 size = 64;
    if (device != nullptr && path != nullptr && (buffer = static_cast<SD_UINT8*>(CoreZMalloc(size))) != nullptr) {
        SD_UINT32 st = SDGetMPIFwDump(device->DeviceHandle, 0, {buffer, size}, &size);
        CoreLogMessage(ZV_MSG_DEBUG, "CoreGetMpiFwDump: SDGetMPIFwDump() returns (0x%x) (%s). Buffer size=%u", st,
                       SDGetErrorString(st), size);
        if (st == SDERR_BUFFER_TOO_SMALL) {
            CoreFree(buffer);
            buffer = nullptr;
            // The size comes from the library: a dump larger than any file
            // this layer handles is not taken.
            if (size > 0 && size <= CORE_FILE_SIZE_MAX) buffer = static_cast<SD_UINT8*>(CoreZMalloc(size));
            CoreLogMessage(ZV_MSG_DEBUG, "CoreGetMpiFwDump: sizeAllocated=%u", buffer != nullptr ? size : 0);
            if (buffer != nullptr) {
                st = SDGetMPIFwDump(device->DeviceHandle, 0, {buffer, size}, &size);
                CoreLogMessage(ZV_MSG_DEBUG, "CoreGetMpiFwDump: SDGetMPIFwDump() returns (0x%x) (%s)", st,
                               SDGetErrorString(st));
            }
        }
        if (buffer == nullptr) {
            rc = -1;
        } else if (st == SDERR_FW_DUMP_ZIP) {
            // The library named the file it wrote: that file is the dump.
            const std::string libraryFile = text_of({reinterpret_cast<const char*>(buffer), size > 0 ? size : 64});
            CoreLogMessage(ZV_MSG_DEBUG, "CoreGetMpiFwDump: Compressed mpi fw dump file name=%s", libraryFile.c_str());
            rc = CoreCopyFile(libraryFile.c_str(), path);
        } else if (st == SDERR_NO_FW_DUMP) {
            CoreLogMessage(ZV_MSG_DEBUG, "CoreGetMpiFwDump: No MPI Fw dump available");
            rc = 26;
        } else if (st == SDERR_ADAPTER_NOT_READY) {
            rc = 26;
        } else if (st != SDERR_SUCCESS) {
            rc = -1;
        } else {
            CoreHexDump({buffer, size});
            const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
            struct stat st_out {};
            if (fd < 0 || ::fstat(fd, &st_out) != 0 || !S_ISREG(st_out.st_mode)) {
                CoreLogMessage(ZV_MSG_ERROR, "CoreGetMpiFwDump: Cannot open file %s for writing\n", path);
                if (fd >= 0) ::close(fd);
                rc = -1;
            } else {
                CoreLogMessage(ZV_MSG_DEBUG, "CoreGetMpiFwDump: Saving mpi fw dump as %s...", path);
                size_t done = 0;
                bool ok = true;
                while (ok && done < size) {
                    const ssize_t n = ::write(fd, buffer + done, size - done);
                    if (n < 0 && errno == EINTR) continue;
                    if (n <= 0) ok = false;
                    else done += static_cast<size_t>(n);
                }
                if (::close(fd) != 0) ok = false;
                rc = ok ? 0 : -1;
            }
        }
    }
    CoreFree(buffer);
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetMpiFwDump: return %d", rc);
    return rc;
}
