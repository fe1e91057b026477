// Start-up, interrupt handling and clean-up.
#include "cli/startup.h"

#include <pthread.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/console_texts.h"
#include "core/core_init.h"
#include "core/core_log.h"
#include "core/device_discovery.h"
#include "core/oss_services.h"
#include "frontend/file_util.h"
#include "frontend/hba_device_list.h"
#include "frontend/install_dir.h"
#include "frontend/output.h"
#include "frontend/pending_interrupt.h"
#include "frontend/update_interrupted.h"
#include "core/input_file.h"
#include "mgmt/sd_shared_db.h"

int g_bIsIA64Host = 0;
volatile sig_atomic_t g_signalHandlerInProgress = 0;

namespace {
struct termios g_CurKbdMode {};
volatile sig_atomic_t g_haveKbdMode = 0;
pthread_t g_ProgressThreadHandle{};

// The arguments and result of CmdInit when it runs on a thread of its own.
struct InitArgs {
    int argc = 0;
    char** argv = nullptr;
    int status = 0;
};
InitArgs g_initArgs;

void* RunCmdInit(void* arg) {
    auto* init = static_cast<InitArgs*>(arg);
    init->status = CmdInit(init->argc, init->argv);
    // CmdInit broadcasts at its end; a CmdInit that gave up earlier must still
    // release the waiting caller.
    OSSBroadcastMainWaitCondition();
    return nullptr;
}

constexpr const char* kAdapterTable = "adapters.properties";

// Echo back on for the shell the user returns to, whatever the run or the
// signal left the terminal in. Only a terminal has an echo: on anything else
// (cron, a script, "ssh -T", </dev/null) stty would only complain on standard
// error.
void RestoreEcho() {
    if (isatty(STDIN_FILENO) == 0) return;
    if (std::system("stty echo") != 0) {
        // Nothing more to do: the terminal stays as it was.
    }
}

// A table the reader rule refuses is said there and passed over as if it were absent.
bool probe(const char* path) {
    VORNLogMessage(VORN_MSG_DEBUG, "getConfigPath: Adapter properties file=%s", path);
    return CoreProbeInputFile(path) == InputFileStatus::Ok;
}
}  // namespace

void VORNInstallStartupSignals() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGQUIT, &ignore, nullptr);
    struct sigaction act {};
    act.sa_handler = CtrlHandler;
    sigemptyset(&act.sa_mask);
    act.sa_flags = SA_RESTART;  // the interrupted work goes on to the next safe point
    sigaction(SIGINT, &act, nullptr);
}

void VORNSaveTerminalMode() {
    if (tcgetattr(STDIN_FILENO, &g_CurKbdMode) == 0) g_haveKbdMode = 1;
}

void CtrlHandler(int sig) {
    if (g_haveKbdMode != 0) tcsetattr(STDIN_FILENO, TCSANOW, &g_CurKbdMode);
    VORNRecordInterrupt(sig);
    // A library lock wait gives up, so that the run reaches its next safe point.
    zvapi_interrupt_waits();
}

void VORNHandlePendingInterrupt() {
    const int sig = VORNPeekPendingInterrupt();
    if (sig == 0) return;
    g_signalHandlerInProgress = 1;
    CoreLogMessage(ZV_MSG_DEBUG, "Signal (%d) caught...", sig);
    cleanup();
    for (int s : {SIGINT, SIGHUP, SIGTERM, SIGPIPE}) std::signal(s, SIG_DFL);
    // Kept pending, as inside a handler, so that the exit status stays 1.
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, sig);
    sigprocmask(SIG_BLOCK, &block, nullptr);
    raise(sig);
    std::fflush(nullptr);
    RestoreEcho();
    std::exit(1);
}

void VORNEndInterruptedUpdate() {
    const int sig = VORNPeekPendingInterrupt();
    if (sig == 0) return;
    char line[VORN_LINE_SIZE];
    VORNSayUpdateInterrupted(sig, true, line);
    PrintOutPut("%s", line);
    VORNHandlePendingInterrupt();
}

int VORNExitStatus(int result) {
    const int low = result & 0xFF;
    return result != 0 && low == 0 ? 255 : low;
}

int getConfigPath() {
    const char* install = zvtrace_get_install_dir();
    if (install != nullptr && *install != '\0') {
        VORNLogMessage(VORN_MSG_DEBUG, "getConfigPath: install directory=%s", install);
        VORNSetInstallationDir(install, VORN_DIR_SIZE);
    }
    const char* wip = zvtrace_get_wip();
    if (wip != nullptr && *wip != '\0') {
        VORNLogMessage(VORN_MSG_DEBUG, "getConfigPath: working directory=%s", wip);
        VORNSetCurrentDir(wip, VORN_DIR_SIZE);
    }

    char path[VORN_DIR_SIZE];
    bool found = false;
    // A directory that is unknown, or a path that would be cut, is not probed.
    if (*VORNGetInstallationDir() != '\0' && VORNJoinPath(path, sizeof path, VORNGetInstallationDir(), kAdapterTable) == 0)
        found = probe(path);
    if (!found && *VORNGetCurrentDir() != '\0' &&
        VORNJoinPath(path, sizeof path, VORNGetCurrentDir(), kAdapterTable) == 0)
        found = probe(path);
    if (!found) {
        OSSSetConfigPath("/tmp/");
        std::snprintf(path, sizeof path, "%s%s", OSSGetConfigPath(), kAdapterTable);
        found = probe(path);
    }
    if (!found) {
        scfxPrint("Configuration files not found in default or alternate paths!");
        return 6;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "getConfigPath: Adapter properties file=%s", path);
    return 0;
}

int CmdInit(int /*argc*/, char** /*argv*/) {
    CoreLogMessage(ZV_MSG_DEBUG, "Starting initialization...");
    CoreLogMessage(ZV_MSG_DEBUG, "OSSInitialize finished.");
    CoreInitialize();
    CoreLogMessage(ZV_MSG_DEBUG, "CoreInitialize finished.");
    VORNHandlePendingInterrupt();
    CoreInitializeDevices();
    CoreLogMessage(ZV_MSG_DEBUG, "CoreOSSInitializeDevices finished.");
    VORNHandlePendingInterrupt();
    // A library that cannot set up its shared state is one clear error, not an
    // empty host.
    if (const std::string why = zvapi_setup_error(); !why.empty()) {
        SetOutOutFile();
        VORNReportNotice(("Error: " + why).c_str());
        return VORN_STATUS_LIBRARY_UNUSABLE;
    }
    OSSPostInitializeDevices();
    CoreLogMessage(ZV_MSG_DEBUG, "OSSPostInitializeDevices finished.");
    const int status = OSSUpdateCoreDevices();
    CoreLogMessage(ZV_MSG_DEBUG, "OSSUpdateCoreDevices finished.");
    SetOutOutFile();
    BuildHBADevices();
    CoreLogMessage(ZV_MSG_DEBUG, "BuildHBADevices finished.");
    CoreLogMessage(ZV_MSG_DEBUG, "CmdInit finished.");
    CoreLogMessage(ZV_MSG_DEBUG, "pthread broadcast starting...");
    OSSBroadcastMainWaitCondition();
    g_bIsIA64Host = isHostSystemType("ia64");
    VORNHandlePendingInterrupt();
    return status;
}

void cleanup() {
    CoreLogMessage(ZV_MSG_DEBUG, "Shutting down...");
    OSSStopCorePollingLoop();
    CoreLogMessage(ZV_MSG_DEBUG, "OSSStopCorePollingLoop stopped ...");
    CoreLogMessage(ZV_MSG_DEBUG, "Deallocating local resources..");
    CoreUninitialize();
    CoreLogMessage(ZV_MSG_DEBUG, "Deallocating OSS resources...");
    OSSUninitialize();
    CloneFreeVORNDeviceList();
    CoreLogMessage(ZV_MSG_DEBUG, "Cleanup finished.");
    RemoveAllAdaptersFromAdapterList();
}

int CreateInitializeStatusThread(int argc, char** argv) {
    g_initArgs = InitArgs{argc, argv, 0};
    const int rc = pthread_create(&g_ProgressThreadHandle, nullptr, RunCmdInit, &g_initArgs);
    if (rc == 0) CoreLogMessage(ZV_MSG_DEBUG, "Debug: CreateInitializeStatusThread: exiting.");
    else if (rc == EAGAIN) CoreLogMessage(ZV_MSG_DEBUG, "pthread_create failed (%d) (insufficient resources)", rc);
    else if (rc == EINVAL) CoreLogMessage(ZV_MSG_DEBUG, "pthread_create failed (%d) (invalid arguments)", rc);
    else CoreLogMessage(ZV_MSG_DEBUG, "pthread_create failed (%d) (unknown error)", rc);
    return rc;
}

int initialize(int argc, char** argv) {
    // Without the thread nobody would ever broadcast: no wait then.
    const int rc = CreateInitializeStatusThread(argc, argv);
    if (rc != 0) return rc;
    OSSWaitMainWaitCondition();
    pthread_join(g_ProgressThreadHandle, nullptr);
    if (g_haveKbdMode != 0 && isatty(STDIN_FILENO) != 0) tcsetattr(STDIN_FILENO, TCSANOW, &g_CurKbdMode);
    RestoreEcho();
    return g_initArgs.status;
}
