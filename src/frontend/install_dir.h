// The installation directory (the running executable's) and the working directory.
#pragma once

#include <cstddef>

constexpr size_t VORN_DIR_SIZE = 260;  // at most 259 characters and a terminator

// Never null; empty until start-up fills them.
const char* VORNGetInstallationDir();
const char* VORNGetCurrentDir();
// Clear the buffer, then copy the text: -1 for null or for a text longer than
// min(length, 259) characters (a cut directory would name another one), else 0.
int VORNSetInstallationDir(const char* text, size_t length);
int VORNSetCurrentDir(const char* text, size_t length);

// Directory of the running executable, from /proc/<pid>/exe ("." when unknown).
const char* coreu_get_install_dir();
// The working directory, or "" when it cannot be read.
const char* coreu_utils_get_wip();
const char* zvtrace_get_install_dir();
const char* zvtrace_get_wip();

// dst := src cut at its last "/" (the "/" removed; "/" alone stays "/");
// "." and 1 for a null or empty src, else 0. dst is always terminated.
int loc_getPath(char* dst, size_t size, const char* src);
int loc_MIN(int a, int b);
