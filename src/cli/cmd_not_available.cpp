// The answer of a command that this build does not carry yet: never a success.
#include <cstdio>

#include "cli/commands.h"
#include "core/core_quiet.h"
#include "frontend/output.h"

int CmdNotAvailable(const char* what) {
    // The console error follows the console's silence ("-s").
    if (!(GetEnableDebugLog() != 0 && CoreGetQuietMode() != 0))
        std::fprintf(stderr, "Error: %s is not available in this version.\n", what != nullptr ? what : "This command");
    scfxPrint("Error: %s is not available in this version.", what != nullptr ? what : "This command");
    return -1;
}
