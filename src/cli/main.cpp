// tarvikolen: one command per run; the exit status is the command's result.
#include "cli/cmdline.h"
#include "cli/console_texts.h"
#include "cli/startup.h"
#include "core/core_quiet.h"
#include "core/input_file.h"
#include "core/oss_services.h"
#include "core/sdm_device.h"
#include "frontend/cli_settings.h"
#include "frontend/output.h"
#include "frontend/progress_bar.h"

int main(int argc, char** argv) {
    // Refused input files are said where the user looks.
    CoreSetInputFileNoticeHook(VORNReportNotice);
    VORNInstallStartupSignals();
    VORNSaveTerminalMode();
    CoreSetToolId(9);  // carried by the image-status records this program writes
    SetEnableDebugLog(0);
    CoreSetQuietMode(1);

    int rc = getConfigPath();
    if (rc != 0) return VORNExitStatus(rc);

    switch (ParseArg(argc, argv)) {
        case VORN_PARSE_USAGE:
            ShowUsage();
            return 0;
        case VORN_PARSE_VERSION:
            ShowVersion();
            return 0;
        case VORN_PARSE_NO_MEMORY:
            VORNLogMessage(VORN_MSG_ERROR, "Memory allocation error!");
            return 11;
        case VORN_PARSE_INVALID:
            VORNLogMessage(VORN_MSG_ERROR, "Invalid command line options!");
            return 8;
        case VORN_PARSE_BAD_ADAPTER:
            return 8;
        default:
            break;
    }
    VORNHandlePendingInterrupt();

    OSSInitialize(argc, argv);
    rc = CmdInit(argc, argv);
    if (rc != 0) {
        cleanup();
        return VORNExitStatus(rc);
    }
    rc = ProcessArg();
    // An update that a termination signal ended stops here, before the clean-up.
    UpdateStopIfTerminating();
    VORNHandlePendingInterrupt();
    cleanup();
    return VORNExitStatus(rc);
}
