// File and path helpers of the front end, shared with the image subsystems.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/sdm_device.h"

// 1 when the path names a regular file that can be opened for reading (opened
// without waiting, nothing read); else 0.
int isFileExists(const char* path);
int isDirExists(const char* path);
// 0 and the size; 1 when the file cannot be opened or is not a regular file (said
// on the console and in the output file); 5 when its end cannot be found
// (or the size does not fit 32 bits).
int getFileSize(const char* path, uint32_t* size);
// Writes the bytes to a new file (never through a link or into anything but a
// regular file; mode 0666 less the umask); 1 when it cannot be created or
// written, else 0.
int saveBufferToFile(std::span<const uint8_t> buffer, const char* path);
// Writes the bytes, then reads them back into the cleared buffer; 0 or -1.
int DumpToFile(const SDMDevice* port, std::span<uint8_t> buffer, const char* path);
// Cuts name in place before its last "."; -1 for a null name or a size below 1.
int GetFileNameNoExtension(char* name, size_t size);
// "%s/%s" of dir and name into out; -1 (out empty) when the result would be cut.
int VORNJoinPath(char* out, size_t size, const char* dir, const char* name);
// The operating-system layer's configuration directory (ends in "/").
const char* OSSGetDirPath();
