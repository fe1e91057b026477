// The one rule for every file this program reads as root (images, templates,
// flash.cfg, adapters.properties, agent.properties, the EDIF configuration,
// the files "-x" copies): a regular file, reached without following a link
// in its last component, read through the one descriptor that was checked,
// and refused when a user other than root could have placed or changed it:
//   - group or others may write the file, or
//   - its directory is one another user may write (group or others may, or
//     another user owns it) and root does not own the file, or
//   - another user owns the file, wherever it lies (its owner may rewrite it).
// (The user running the program counts as root: a file of its own gives it
// nothing it did not have.) An open never waits: a FIFO is refused, not
// opened for a writer. Every refusal but a missing or unreadable file is
// said once per run, naming the file and the reason.
#pragma once

#include <cstdio>
#include <string>

enum class InputFileStatus {
    Ok,
    Missing,         // no such name
    NotRegular,      // FIFO, device, directory or socket
    Link,            // a symbolic link (never followed)
    Unreadable,      // exists but cannot be opened (permissions and the like)
    OthersMayWrite,  // group or other users may write the file
    PlacedByOthers,  // in a directory other users may write, and not root's file
    OwnedByOthers,   // another user's file (in a directory only root may write)
};

// Opens `path` (open(2) access flags O_RDONLY or O_RDWR) under the rule
// above; the descriptor, or -1 with *status telling why. Nothing is read.
int CoreOpenInputFile(const char* path, int accessFlags, InputFileStatus* status);
// The same as a stdio stream ("r"/"rb" read, "r+" read and update).
std::FILE* CoreFopenInputFile(const char* path, const char* mode, InputFileStatus* status);
// Opens and closes again: whether the file could be read.
InputFileStatus CoreProbeInputFile(const char* path);
// Whether anything (a file, a link, a FIFO...) has this name; nothing is opened.
bool CoreNameExists(const char* path);

// The line that names a refused file, e.g. "File /tmp/x is not a regular file; it is not read!".
std::string CoreInputFileRefusalText(const char* path, InputFileStatus status);
// Says the refusal where the user sees it: through the hook the front end
// installs (console and output file), else on the core log.
void CoreReportInputFileRefusal(const char* path, InputFileStatus status);
void CoreSetInputFileNoticeHook(void (*notice)(const char* text));
