// Start-up, command line and output channels of the whole program, run as a user would.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>

#include "e2e/run_helpers.h"
#include "fixtures/board_template_builder.h"
#include "support/e2e_support.h"

namespace {
namespace fs = std::filesystem;
using zvtest::InstallDir;
using zvtest::RunProgram;
using zvtest::RunOptions;
using zvtest::Has;
using zvtest::RunResult;
using zvfix::WriteTextFile;

RunOptions args(std::vector<std::string> a, std::string cwd = "", bool asNobody = false) {
    RunOptions o;
    o.args = std::move(a);
    o.cwd = std::move(cwd);
    o.asNobody = asNobody;
    return o;
}

using CliStartup = zve2e::IsolatedTest;

const char* const kUsage =
    "NAME\n\n     tarvikolen\n\nSYNOSIS\n\n     tarvikolen [<cmd-line options>] [hba type]\n\n"
    "DESCRIPTION\n\n     Utility to configure MCTP enablement/disablement on Dastrel Gen6 FC HBAs\n\n"
    "COMMAND-LINE OPTIONS\n\n     -h Display this usage prompt\n\n     -v Display application version\n\n"
    "     -g Display host information\n\n     -s Suppress all outputs (Silent mode)\n\n"
    "     -i <hba> | <all> Display HBA flash component version\n\n"
    "     -pci <hba> | <all> Display HBA hardware vendor and device\n          code (SSVID/SSDID)\n\n"
    "        Where\n           <hba> HBA port instance number or WWPN\n           <all> All HBAs\n\n"
    "     HBA Type\n        --kamu Updates only vobi/kamu HBAs.\n        --zuka Updates only vuzo/zuka HBAs.\n";

TEST_F(CliStartup, WithoutTheAdapterTableEveryRunEndsWithSixInSilence) {
    InstallDir inst(false);
    for (const auto& a : {std::vector<std::string>{"-h"}, {"-v"}, {}}) {
        RunResult r = RunProgram(inst, args(a));
        EXPECT_EQ(r.status, 6);
        EXPECT_EQ(r.out + r.err, "");
    }
    EXPECT_TRUE(zvtest::OutputFiles().empty());

    // The table in the working directory, or in /tmp, is enough to go on.
    zvtest::TempDir work;
    WriteTextFile(work.Path() + "/adapters.properties", "");
    EXPECT_EQ(RunProgram(inst, args({"-v"}, work.Path())).status, 0);
    WriteTextFile("/tmp/adapters.properties", "");
    EXPECT_EQ(RunProgram(inst, args({"-v"})).status, 0);
    ::unlink("/tmp/adapters.properties");
}

TEST_F(CliStartup, UsageAndVersionEndTheRunBeforeTheRootCheck) {
    InstallDir inst;
    RunResult r = RunProgram(inst, args({"-h"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.err, "");

    r = RunProgram(inst, args({"-s", "-h"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "") << "-s silences the usage text";

    r = RunProgram(inst, args({"-H", "-s"}));
    EXPECT_EQ(r.out, kUsage) << "switches after -h are not acted on";

    r = RunProgram(inst, args({"-v", "-h"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::regex_match(r.out, std::regex("tarvikolen\nv1\\.1\\.1 Build 0\n[^\n]+\n[^\n]+\nBuild Type: Release\n"
                                                   "Build Date: [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}\n")))
        << r.out;

    r = RunProgram(inst, args({"/v"}, "", true));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("tarvikolen\nv1.1.1 Build 0\n", 0), 0u);
}

TEST_F(CliStartup, InvalidLinesEndWithEightAndPrintNothing) {
    InstallDir inst;
    for (const auto& a : {std::vector<std::string>{"-i", "129"},
                          {"-i", "4294967296"},
                          {"-i", "ALL", "x", "y"},
                          {"-pci", "21:00:00:24:ff:7a:1b:2c"},
                          {"bogus"},
                          {"-b", "129", "image.bin"}}) {
        RunResult r = RunProgram(inst, args(a));
        EXPECT_EQ(r.status, 8) << a[0] << " " << a.back();
        EXPECT_EQ(r.out + r.err, "");
        EXPECT_TRUE(zvtest::OutputFiles().empty()) << "no output file before initialisation";
    }
}

TEST_F(CliStartup, UnknownFirstOfTwoWordsIsRefusedAfterInitialisation) {
    InstallDir inst;
    RunResult r = RunProgram(inst, args({"-g", "x"}));
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(r.outputFile, "Invalid command line options!\n");
    EXPECT_TRUE(std::regex_match(r.outputFilePath, std::regex("/var/log/mctp-upgrade-[0-9]{14}\\.log")));

    r = RunProgram(inst, args({"-mpi", "all"}));
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.outputFile, "Invalid command line options!\n");

    // One adapter that no port has: nothing and 0.
    r = RunProgram(inst, args({"-i", "5"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
}

TEST_F(CliStartup, OnlyRootGetsPastTheCommandLine) {
    InstallDir inst;
    RunResult r = RunProgram(inst, args({"-g", "x"}, "", true));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: You must be root to use this program.\n");
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(zvtest::OutputFiles().empty());

    // An invalid line, and a missing adapter table, are found before the check.
    r = RunProgram(inst, args({"-i", "129"}, "", true));
    EXPECT_EQ(r.status, 8);
    EXPECT_EQ(r.out + r.err, "");
    InstallDir bare(false);
    r = RunProgram(bare, args({"-g"}, "", true));
    EXPECT_EQ(r.status, 6);
    EXPECT_EQ(r.out + r.err, "");
}

TEST_F(CliStartup, TraceWritesTheDebugLogAndTheCoreLogToTheConsole) {
    InstallDir inst;
    // An old debug log goes away: each run that asks for it starts afresh.
    RunOptions o = args({"-trace", "-g", "x", "/TRACE"});
    o.keepLogs = true;
    zvtest::ClearLogs();
    WriteTextFile("/var/log/zenbrix.log", "old run\n");
    RunResult r = RunProgram(inst, o);
    EXPECT_EQ(r.status, 255);
    ASSERT_TRUE(r.debugLogExists);
    EXPECT_EQ(r.debugLog.find("old run"), std::string::npos);
    const std::regex line("[0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} (Debug|Info|Warning|Error|): .*");
    std::istringstream in(r.debugLog);
    std::string l;
    int count = 0;
    while (std::getline(in, l)) {
        if (l.empty()) continue;  // a message that ends in a newline leaves an empty line
        EXPECT_TRUE(std::regex_match(l, line)) << l;
        ++count;
    }
    EXPECT_GT(count, 0);
    // The core log is on: its start-up and clean-up lines reach the console.
    EXPECT_TRUE(Has(r.out, "Starting initialization...\n"));
    EXPECT_TRUE(Has(r.out, "CoreInitialize: g_configurationFileName is '" + inst.Path() + "/agent.properties' \n\n"));
    EXPECT_TRUE(Has(r.out, "Cleanup finished.\n"));
    EXPECT_EQ(r.outputFile, "Invalid command line options!\n");

    // Without -trace there is no debug log and the core log is silent.
    r = RunProgram(inst, args({"-g", "x"}));
    EXPECT_FALSE(r.debugLogExists);
    EXPECT_EQ(r.out, "");
}

TEST_F(CliStartup, AgentPropertiesDecidesQuietModeForTheFrontEnd) {
    InstallDir inst;
    // "-s" silences the console; a preference file without the quiet key turns quiet
    // mode off again, so the refusal of the copy below is shown.
    RunResult r = RunProgram(inst, args({"-s", "-x", inst.Path()}));
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.outputFile.find("is the installation directory"), std::string::npos);

    inst.WriteFile("agent.properties", "node.agent.polling.interval=10\n");
    r = RunProgram(inst, args({"-s", "-x", inst.Path()}));
    EXPECT_NE(r.err.find("is the installation directory"), std::string::npos) << r.err;

    inst.WriteFile("agent.properties", "node.agent.quiet.mode.enable=1\n");
    r = RunProgram(inst, args({"-s", "-x", inst.Path()}));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
}

TEST_F(CliStartup, ExtractCopiesTheInstallationFromAnotherDirectory) {
    InstallDir inst;
    inst.WriteFile("flash.cfg", "record\n");
    inst.WriteFile("templates/Vx9FWA.dat", "not copied: in a subdirectory\n");
    zvtest::TempDir work, target;
    RunResult r = RunProgram(inst, args({"-x", target.Path() + "/copy"}, work.Path()));  // no such names there
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(zvtest::ReadFile(target.Path() + "/copy/flash.cfg"), "record\n");
    EXPECT_EQ(zvtest::ReadFile(target.Path() + "/copy/tarvikolen"), zvtest::ReadFile(inst.Binary()));
    EXPECT_TRUE(fs::exists(target.Path() + "/copy/adapters.properties"));
    EXPECT_FALSE(fs::exists(target.Path() + "/copy/templates"));

    // The installation directory itself, by any name, is refused and left whole.
    const auto size = fs::file_size(inst.Binary());
    for (const std::string& self : {inst.Path(), std::string("."), inst.Path() + "/templates/.."}) {
        r = RunProgram(inst, args({"-x", self}));
        EXPECT_EQ(r.status, 255) << self;
        // An Error line: standard error, never the console's ordinary output.
        EXPECT_NE(r.err.find("Error: " + self + " is the installation directory; nothing copied.\n"),
                  std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("installation directory"), std::string::npos) << r.out;
        EXPECT_EQ(fs::file_size(inst.Binary()), size);
        EXPECT_EQ(zvtest::ReadFile(inst.Path() + "/flash.cfg"), "record\n");
    }

    // A file that cannot be written is named and the run fails.
    fs::create_directories(target.Path() + "/blocked/flash.cfg");
    r = RunProgram(inst, args({"-x", target.Path() + "/blocked"}));
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.err.find("Error: Unable to copy flash.cfg to " + target.Path() + "/blocked\n"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find("Unable to copy"), std::string::npos) << r.out;
}

// An interrupt before the update (cleaned up, status 1) is tested on a run
// that waits for a held library lock, in safety_files_test.cpp.

}  // namespace
