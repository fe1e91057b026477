// Start-up, interrupt handling and clean-up around the one command of a run.
#pragma once

#include <csignal>

extern int g_bIsIA64Host;
extern volatile sig_atomic_t g_signalHandlerInProgress;

// SIGQUIT ignored, SIGINT to CtrlHandler; then the terminal mode is saved.
void VORNInstallStartupSignals();
void VORNSaveTerminalMode();
// The SIGINT handler: restores the terminal at once and records the signal. The
// clean-up it asks for is not safe inside a handler, so it runs at the next safe
// point (VORNHandlePendingInterrupt) on the main thread.
void CtrlHandler(int sig);
// At a safe point: when an interrupt was recorded, clean up, run "stty echo" and
// end the process with status 1. Returns when none is pending.
void VORNHandlePendingInterrupt();
// The same at a safe point of an update between two adapters (no flash
// operation under way): a recorded interrupt is first said as the update's
// own signal handling says it ("Update interrupted by signal N; it ended
// between two flash operations.": console, output file, debug log).
void VORNEndInterruptedUpdate();

// 0 when adapters.properties is in the installation directory, the working
// directory or "/tmp/"; else 6. Only a regular file counts, and in a directory
// that group or others may write only one that root owns and alone can write;
// a refused one is said (console, output file) and passed over.
int getConfigPath();
// Exit status of a run whose management library cannot set up its shared
// database or semaphores (the reason is said on standard error and in the
// output file).
constexpr int VORN_STATUS_LIBRARY_UNUSABLE = 12;

// The process's exit status for a command's result: its low 8 bits, except
// that a failure never reads as success: a non-zero result whose low byte is
// 0 (an engine's 512, say) ends the process with 255, as -1 does.
int VORNExitStatus(int result);

// Initialisation of the lower layers and the front-end lists; the device-update
// status, or VORN_STATUS_LIBRARY_UNUSABLE.
int CmdInit(int argc, char** argv);
void cleanup();

// Initialisation on a thread of its own while the caller waits for it (no
// command starts it): CmdInit runs on the new thread; the caller waits until
// it has broadcast the main wait condition, then restores the terminal.
// CmdInit's status, or the pthread_create error (no wait then).
int initialize(int argc, char** argv);
// Starts that thread; 0 or the pthread_create error.
int CreateInitializeStatusThread(int argc, char** argv);
