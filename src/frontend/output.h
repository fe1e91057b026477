// The front end's output channels: console, per-run output file and debug log.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// Message types of the front end's debug lines (same numbers as the core log levels).
constexpr int VORN_MSG_NONE = 0;
constexpr int VORN_MSG_INFO = 1;
constexpr int VORN_MSG_WARNING = 2;
constexpr int VORN_MSG_ERROR = 3;
constexpr int VORN_MSG_DEBUG = 100;

// Every line is formatted into a 256-byte buffer: longer texts are cut at 255 characters.
constexpr size_t VORN_LINE_SIZE = 256;
constexpr size_t VORN_PATH_SIZE = 260;

// Console line (newline added); silent when quiet mode and the debug-log flag are both on.
void PrintOutPut(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Output-file line (newline added) and the same without the newline; dropped while
// the output file has no name or cannot be opened. The file is never opened
// through a link or as anything but a regular file of this user; created 0666
// less the umask. Each line is written at once, to the file the name names
// at that moment.
void scfxPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
void scfxDiagnosticsPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Debug line: written only while quiet mode is off and the debug-log flag is on.
void VORNLogMessage(int type, const char* format, ...) __attribute__((format(printf, 2, 3)));
void VORNOSSLogMessage(int type, const char* text);
const char* VORNTranslateMessageTypeToString(int type);

int GetEnableDebugLog();
int SetEnableDebugLog(int value);
const char* GetDebugLogFile();
const char* GetOutPutFile();
// "/var/log/<name>", removing an existing file of that name; -1 for null or a name too long.
int SetDebugLogFile(const char* name);
// Fixes the output file name from the current time; 0, or -1 (name stays empty).
int SetOutOutFile();
// A line the user must see whatever the debug switches say (a refused input
// file, a library that cannot start): standard error unless the run is silent,
// and the output file, into which lines said before it has a name are written
// when it gets one.
void VORNReportNotice(const char* text);
// While a hold lasts, output-file text is kept back instead of written: a
// check that runs a step's own checks ahead of it shows their lines only when
// it refuses, since the step shows them again when it runs. Not nested.
void HoldOutputFileLines();
// Ends the hold: writes what was kept back (keep) or drops it.
void ReleaseOutputFileLines(bool keep);
// Debug lines said between these two calls are kept back, in order, instead
// of written (a step that reads ahead of its turn says them in its turn);
// WriteDeferredDebugLines writes them then. Not nested.
struct DeferredDebugLines {
    std::vector<std::pair<int, std::string>> lines;   // type and text
};
void DeferDebugLines();
DeferredDebugLines EndDeferDebugLines();
void WriteDeferredDebugLines(const DeferredDebugLines& deferred);
// Forgets both file names (used between runs inside one test process).
void ResetOutputChannels();

// Directory of the output file and the debug log.
inline constexpr const char* VORN_LOG_DIR = "/var/log";
