// Opening the files this program reads as root: only regular files are read
// (a FIFO, device, directory or link loop is refused before any read, and an
// open never waits for a writer), and a file that other users could have
// planted is refused where the caller asks for that.
#pragma once

#include <cstdio>
#include <string>

enum class InputFileStatus {
    Ok,
    Missing,      // no such name
    NotRegular,   // FIFO, device, directory, socket or a link loop
    Unreadable,   // exists but cannot be opened (permissions and the like)
    Untrusted,    // in a directory others may write, and not a root-owned file only root can write
};

enum class InputFileTrust {
    AnyOwner,          // any regular file
    OwnerOnlyIfShared, // in a directory group or others may write: no link, owned by
                       // this process's user, writable by neither group nor others
};

// Opens `path` (open(2) access flags O_RDONLY or O_RDWR) under the rules above;
// the descriptor, or -1 with *status telling why. Nothing is read.
int CoreOpenInputFile(const char* path, int accessFlags, InputFileTrust trust, InputFileStatus* status);
// The same as a stdio stream ("r"/"rb" read, "r+" read and update).
std::FILE* CoreFopenInputFile(const char* path, const char* mode, InputFileTrust trust, InputFileStatus* status);
// Opens and closes again: whether the file could be read.
InputFileStatus CoreProbeInputFile(const char* path, InputFileTrust trust);
// Whether anything (a file, a link, a FIFO...) has this name; nothing is opened.
bool CoreNameExists(const char* path);
// True when group or others may write the directory that holds `path`.
bool CoreDirectoryIsShared(const char* path);

// The line that names a refused file, e.g. "File /tmp/x is not a regular file; it is not read!".
std::string CoreInputFileRefusalText(const char* path, InputFileStatus status);
// Says the refusal where the user sees it: through the hook the front end
// installs (console and output file), else on the core log.
void CoreReportInputFileRefusal(const char* path, InputFileStatus status);
void CoreSetInputFileNoticeHook(void (*notice)(const char* text));
