// Opening the simulated platform's own files (host.json, state.json, the
// flash files, the journal, a verdict manifest): never through a link, never
// waiting (a FIFO in a file's place would hang the run for ever), and only a
// regular file is used. The platform stands in for hardware below the
// management library, so it keeps this rule of its own rather than reaching
// up to the program's reader rule.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

// The largest host.json, state.json or manifest the platform reads.
inline constexpr std::size_t kZvsimMaxTextFile = 16 * 1024 * 1024;

// open(2) of `path` with `flags` (O_CREAT with `mode` allowed) plus
// O_NOFOLLOW, O_NONBLOCK and O_CLOEXEC; the descriptor, back to blocking
// reads and writes, of a regular file, or -1 with errno set (ELOOP for a
// link, EINVAL for anything but a regular file).
int zvsim_open_regular(const std::string& path, int flags, mode_t mode = 0);

// Reads the whole regular file `path` of at most `maxSize` bytes into `text`;
// false with `err` ("<path>: <reason>") when it is missing, no regular file,
// larger, or cannot be read whole.
bool zvsim_read_file(const std::string& path, std::size_t maxSize, std::string& text, std::string& err);
