// The console progress bar of the MCTP update: one bar per process, redrawn
// about once a second by its own thread while the process status is 1, and
// the signal handling that stays in force from the start of the update.
//
// The update (main thread) writes the progress and the status; the redraw
// thread only reads them. Both are atomics. The thread is stopped and joined
// before the bar is freed.
#pragma once

#include <atomic>
#include <string>

#include "mgmt/sd_types.h"

typedef struct _ProgressBar {
    std::atomic<SD_INT32> barProgress{0};   // 0 to barSize
    std::atomic<SD_INT32> barSize{0};       // full progress; also the width in characters
    const char* barTitle = nullptr;         // not copied: the caller keeps it alive
    char barChar = '=';
    char barArrow = '>';
    SD_UINT8 barCrtl = 0;                   // 1: redraw in place; 0: one line per drawing
} ProgressBar;

// The process's bar (created on first use and reused), set up and drawn once;
// null when it cannot be allocated.
ProgressBar* CreateNewProgressBar(const char* pBarTitle, SD_INT32 maxSize, SD_UINT8 type);
ProgressBar* GetCurrentProgressBar();
// Stops and joins the redraw thread, then releases the bar.
void ProgressBarFree(ProgressBar* bar);

void ProgressBarIncrement(ProgressBar* bar);
void ProgressBarSetProgress(ProgressBar* bar, SD_INT32 value);
SD_INT32 ProgressBarGetProgress(const ProgressBar* bar);
void ProgressBarSetInfoText(ProgressBar* bar, const char* text);
void ProgressBarSetBarChar(ProgressBar* bar, char c);
void ProgressBarSetBarArrow(ProgressBar* bar, char c);

// The text of one drawing (carriage return first in redraw-in-place mode,
// newline last otherwise).
std::string ProgressBarFormat(const ProgressBar* bar);
// Draws the bar on standard output unless the run is silent ("-s").
void ProgressBarPrintBar(const ProgressBar* bar);
// Silent runs draw nothing (the front end sets this from its settings).
void ProgressBarSetSilent(int silent);

// Process status: 1 while the update runs; the redraw thread runs while it is 1.
void SetProcessStatus(SD_UINT32 value);
SD_UINT32 GetProcessStatus();

// Installs the update's signal handling and starts the redraw thread.
void DisplayProcessProgressBar(ProgressBar* bar);
// 0 when the redraw thread was started.
int CreateProgressBarThread(ProgressBar* bar);
// The redraw loop (the thread body); returns the last status read.
SD_UINT32 ShowProgressBar(ProgressBar* bar);
// Stops the redraw thread and waits for it (no-op when none runs).
void StopProgressBarThread();

// Run by the signal handler before the process ends, e.g. to release a
// flash-update session that the process holds (null: nothing).
void SetTerminationCleanup(void (*cleanup)(int sig));
// Called between the update's steps (the bar's advances do it): once a
// termination signal came, the calling thread stops here for good while the
// terminator thread ends the process.
void UpdateStopIfTerminating();
// Signal handler of the update: records the first signal, makes library lock
// waits give up and wakes the update's terminator thread. The terminator waits
// (at most a few seconds) for the update to reach its next step boundary and
// (longer, only while one is under way) for the current flash operation to end,
// closes the way to further flash operations, writes the "interrupted" line to
// the output file and the debug log, runs the clean-up hook and ends the
// process with status 128 + sig. The handler itself does nothing unsafe.
void termination_handler(int sig);
