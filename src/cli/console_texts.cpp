// The program's fixed console texts. All go through PrintOutPut, so "-s" silences them.
#include "cli/console_texts.h"

#include "cli/cmdline.h"
#include "frontend/output.h"

namespace {
constexpr int kMajor = 1, kMinor = 1, kPatch = 1, kBuild = 0;

void legal_notice() {
    PrintOutPut("Copyright (c) 2026 tarvikolen developers.");
    PrintOutPut("All rights reserved.");
}

void usage_of(CliHelp section) {
    for (const CliWord& w : CliWords()) {
        if (w.help != section) continue;
        for (const char* line : w.usage)
            if (line != nullptr) PrintOutPut("%s", line);
    }
}
}  // namespace

void ShowUsage() {
    PrintOutPut("NAME\n");
    PrintOutPut("     %s\n", VORN_PROGRAM_NAME);
    PrintOutPut("SYNOSIS\n");
    PrintOutPut("     %s [<cmd-line options>] [hba type]\n", VORN_PROGRAM_NAME);
    PrintOutPut("DESCRIPTION\n");
    PrintOutPut("     %s\n", "Utility to configure MCTP enablement/disablement on Dastrel Gen6 FC HBAs");
    PrintOutPut("COMMAND-LINE OPTIONS\n");
    usage_of(CliHelp::Option);
    PrintOutPut("        Where");
    PrintOutPut("           <hba> HBA port instance number or WWPN");
    PrintOutPut("           <all> All HBAs\n");
    PrintOutPut("     HBA Type");
    usage_of(CliHelp::HbaType);
}

void ShowVersion() {
    DisplayVersion();
    PrintOutPut("Build Type: Release");
    PrintOutPut("Build Date: %s %s", __DATE__, __TIME__);
}

void DisplayVersion() {
    PrintOutPut("%s\nv%d.%d.%d Build %d", VORN_PROGRAM_NAME, kMajor, kMinor, kPatch, kBuild);
    legal_notice();
}
