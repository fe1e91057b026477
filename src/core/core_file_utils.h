// Plain file work of the core layer: a whole file into memory, a copy with a
// size limit, string replacement and an access test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Longest file either operation takes.
constexpr uint64_t CORE_FILE_SIZE_MAX = 409600000;

// Reads a whole regular file into a new zero-filled buffer of exactly its size
// (CoreZMalloc; the caller releases it with CoreFree). 0 with *size set; -1
// when it cannot be opened, is longer than CORE_FILE_SIZE_MAX, or reads short
// or fails; -17 when the buffer cannot be allocated.
int CoreReadFileToBuffer(uint8_t** buffer, const char* path, uint32_t* size);
// Copies a regular file of at most CORE_FILE_SIZE_MAX bytes into `destination`
// (created, or emptied, without following a link); 0 when every byte was
// copied, else -1.
int CoreCopyFile(const char* source, const char* destination);
// The same between open descriptors (the source a regular file); `source` names
// it in log lines.
int CoreCopyFileDescriptors(int in, const char* source, int out);
// Replaces every occurrence of `wanted` (not empty), left to right and not
// overlapping; the result (at most 511 characters) goes to `out`. 0, or -1
// when the text is empty or longer than 512 characters, the search string is
// empty, or the result does not fit.
int CoreReplaceString(const char* text, const char* wanted, const char* replacement, std::span<char> out);
// Mode 0 exists, 1 execute, 2 write, 4 read, 6 read and write: the mode when
// the process has that access, else -1 (also for a missing file, a null path
// or another mode).
int CoreGetFilePermission(const char* path, int mode);
