// Gating of the console, output file and debug log.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <utility>

#include "core/core_quiet.h"
#include "frontend/output.h"
#include "frontend/xml_output.h"
#include "support/capture_support.h"
#include "support/e2e_support.h"

namespace {

class Output : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /var/log";
        zvtest::ClearLogs();
        ResetOutputChannels();
    }
    void TearDown() override {
        ResetOutputChannels();
        CoreSetQuietMode(1);
        zvtest::ClearLogs();
    }
};

TEST_F(Output, ConsoleIsSilentOnlyWhenQuietAndDebugFlagBothSet) {
    CoreSetQuietMode(1);
    SetEnableDebugLog(0);
    EXPECT_EQ(zvtest::CaptureStdout([] { PrintOutPut("line %d", 1); }), "line 1\n");
    SetEnableDebugLog(1);
    EXPECT_EQ(zvtest::CaptureStdout([] { PrintOutPut("line %d", 2); }), "");
    CoreSetQuietMode(0);
    EXPECT_EQ(zvtest::CaptureStdout([] { PrintOutPut("line %d", 3); }), "line 3\n");
    // Lines are cut at 255 characters, never overrun.
    const std::string big(1000, 'z');
    EXPECT_EQ(zvtest::CaptureStdout([&] { PrintOutPut("%s", big.c_str()); }), std::string(255, 'z') + "\n");
}

TEST_F(Output, OutputFileDropsLinesUntilNamedThenAppends) {
    scfxPrint("before");
    EXPECT_TRUE(zvtest::OutputFiles().empty());
    ASSERT_EQ(SetOutOutFile(), 0);
    EXPECT_TRUE(std::regex_match(std::string(GetOutPutFile()), std::regex("/var/log/mctp-upgrade-[0-9]{14}\\.log")))
        << GetOutPutFile();
    scfxDiagnosticsPrint("Updating %s... ", "x");
    scfxPrint("Success");
    scfxPrint("%s", std::string(600, 'q').c_str());
    EXPECT_EQ(zvtest::ReadFile(GetOutPutFile()), "Updating x... Success\n" + std::string(255, 'q') + "\n");
}

// Held lines are written, in order, only when the hold ends with keep; the
// console is never held.
TEST_F(Output, HeldOutputFileLinesAreWrittenOrDroppedWhenTheHoldEnds) {
    ASSERT_EQ(SetOutOutFile(), 0);
    scfxPrint("before");
    HoldOutputFileLines();
    scfxDiagnosticsPrint("Validating... ");
    scfxPrint("Failed");
    EXPECT_EQ(zvtest::CaptureStdout([] { PrintOutPut("console"); }), "console\n");
    EXPECT_EQ(zvtest::ReadFile(GetOutPutFile()), "before\n");
    ReleaseOutputFileLines(false);
    scfxPrint("between");
    HoldOutputFileLines();
    scfxDiagnosticsPrint("Validating... ");
    scfxPrint("Failed");
    ReleaseOutputFileLines(true);
    scfxPrint("after");
    EXPECT_EQ(zvtest::ReadFile(GetOutPutFile()), "before\nbetween\nValidating... Failed\nafter\n");
}

TEST_F(Output, DebugLinesNeedQuietOffAndTheFlag) {
    ASSERT_EQ(SetDebugLogFile("zenbrix.log"), 0);
    CoreSetQuietMode(1);
    SetEnableDebugLog(1);
    VORNLogMessage(VORN_MSG_DEBUG, "hidden");
    CoreSetQuietMode(0);
    SetEnableDebugLog(0);
    VORNLogMessage(VORN_MSG_DEBUG, "hidden too");
    EXPECT_FALSE(zvtest::FileExists("/var/log/zenbrix.log"));

    SetEnableDebugLog(1);
    VORNLogMessage(VORN_MSG_DEBUG, "Func: Enter...");
    VORNLogMessage(VORN_MSG_NONE, "plain");
    VORNLogMessage(42, "odd");
    const std::string log = zvtest::ReadFile("/var/log/zenbrix.log");
    const std::string stamp = "[0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}";
    EXPECT_TRUE(std::regex_match(log, std::regex(stamp + " Debug: Func: Enter...\n" + stamp + " : plain\n" + stamp +
                                                 " Unknown: odd\n")))
        << log;

    // A second -trace starts the log afresh.
    ASSERT_EQ(SetDebugLogFile("zenbrix.log"), 0);
    EXPECT_FALSE(zvtest::FileExists("/var/log/zenbrix.log"));
}

TEST_F(Output, UnwritableDebugLogFallsBackToTheConsole) {
    ASSERT_EQ(SetDebugLogFile("no-such-dir/zenbrix.log"), 0);
    CoreSetQuietMode(0);
    SetEnableDebugLog(1);
    const std::string out = zvtest::CaptureStdout([] { VORNLogMessage(VORN_MSG_INFO, "to console"); });
    EXPECT_NE(out.find(" Info: to console\n"), std::string::npos);
    const std::string err = zvtest::CaptureStderr([] { VORNLogMessage(VORN_MSG_ERROR, "to stderr"); });
    EXPECT_NE(err.find(" Error: to stderr\n"), std::string::npos);
    EXPECT_EQ(SetDebugLogFile(std::string(300, 'n').c_str()), -1) << "a cut path is refused";
    EXPECT_STREQ(GetDebugLogFile(), "");
}

TEST_F(Output, FilesAreNeverWrittenThroughALinkAndAreMadeUnderTheUmask) {
    ::unlink("/tmp/victim");
    ASSERT_EQ(SetOutOutFile(), 0);
    ASSERT_EQ(::symlink("/tmp/victim", GetOutPutFile()), 0);
    scfxPrint("through the link");
    EXPECT_FALSE(zvtest::FileExists("/tmp/victim"));
    ::unlink(GetOutPutFile());

    // As an append-mode stdio open makes them: 0666 less the umask.
    ASSERT_EQ(SetDebugLogFile("zenbrix.log"), 0);
    CoreSetQuietMode(0);
    SetEnableDebugLog(1);
    for (const auto& [mask, mode] : {std::pair<mode_t, mode_t>{022, 0644}, {077, 0600}}) {
        ::unlink(GetOutPutFile());
        ::unlink(GetDebugLogFile());
        const mode_t old = ::umask(mask);
        scfxPrint("kept");
        VORNLogMessage(VORN_MSG_DEBUG, "logged");
        ::umask(old);
        for (const char* path : {GetOutPutFile(), GetDebugLogFile()}) {
            struct stat st {};
            ASSERT_EQ(::lstat(path, &st), 0) << path;
            EXPECT_EQ(st.st_mode & 07777, mode) << path << " under umask 0" << std::oct << mask;
        }
        EXPECT_EQ(zvtest::ReadFile(GetOutPutFile()), "kept\n");
    }
}

// A log rotation renames the file between two lines: the next line goes to a
// new file at the name, and the renamed file keeps only what it had. Whatever
// is at the name then is opened under the same rules: a regular file of ours
// takes the line, a link does not.
TEST_F(Output, ALineGoesToTheFileTheNameNamesAtThatMoment) {
    ASSERT_EQ(SetOutOutFile(), 0);
    ASSERT_EQ(SetDebugLogFile("zenbrix.log"), 0);
    CoreSetQuietMode(0);
    SetEnableDebugLog(1);
    const std::string out = GetOutPutFile(), log = GetDebugLogFile();
    scfxPrint("first");
    VORNLogMessage(VORN_MSG_DEBUG, "first");
    ASSERT_EQ(::rename(out.c_str(), (out + ".1").c_str()), 0);
    ASSERT_EQ(::rename(log.c_str(), (log + ".1").c_str()), 0);
    scfxPrint("second");
    VORNLogMessage(VORN_MSG_DEBUG, "second");
    EXPECT_EQ(zvtest::ReadFile(out + ".1"), "first\n");
    EXPECT_EQ(zvtest::ReadFile(out), "second\n");
    EXPECT_TRUE(zvtest::ReadFile(log + ".1").ends_with(" Debug: first\n")) << zvtest::ReadFile(log + ".1");
    EXPECT_EQ(zvtest::ReadFile(log).find("first"), std::string::npos);
    EXPECT_TRUE(zvtest::ReadFile(log).ends_with(" Debug: second\n")) << zvtest::ReadFile(log);

    // Rotated again, a fresh file made at the name by the rotation.
    ASSERT_EQ(::rename(out.c_str(), (out + ".2").c_str()), 0);
    std::ofstream(out) << "made by the rotation\n";
    scfxPrint("third");
    EXPECT_EQ(zvtest::ReadFile(out), "made by the rotation\nthird\n");
    EXPECT_EQ(zvtest::ReadFile(out + ".2"), "second\n");

    // A link at the name: the line is dropped, nothing written through it.
    ::unlink("/tmp/victim");
    ASSERT_EQ(::rename(out.c_str(), (out + ".3").c_str()), 0);
    ASSERT_EQ(::symlink("/tmp/victim", out.c_str()), 0);
    scfxPrint("fourth");
    EXPECT_FALSE(zvtest::FileExists("/tmp/victim"));
    EXPECT_EQ(zvtest::ReadFile(out + ".3"), "made by the rotation\nthird\n");
    for (const std::string& old : {out + ".1", out + ".2", out + ".3", log + ".1", out}) ::unlink(old.c_str());
}

TEST_F(Output, NoticesReachStandardErrorAndTheOutputFileOnceItIsNamed) {
    CoreSetQuietMode(1);
    SetEnableDebugLog(0);
    EXPECT_EQ(zvtest::CaptureStderr([] { VORNReportNotice("before the name"); }), "before the name\n");
    ASSERT_EQ(SetOutOutFile(), 0);
    VORNReportNotice("after it");
    EXPECT_EQ(zvtest::ReadFile(GetOutPutFile()), "before the name\nafter it\n");
    SetEnableDebugLog(1);   // "-s": the console stays silent
    EXPECT_EQ(zvtest::CaptureStderr([] { VORNReportNotice("silent"); }), "");
}

TEST_F(Output, XmlStatusMessageGoesToTheOutputFile) {
    ASSERT_EQ(SetOutOutFile(), 0);
    SDMDevice port{};
    port.DeviceNumber = 3;
    for (int i = 0; i < 8; ++i) {
        port.DeviceNodeProperty.WWN[i] = static_cast<SD_UINT8>(0x20 + i);
        port.DevicePortProperty.WWN[i] = static_cast<SD_UINT8>(0xA0 + i);
    }
    XML_EmitStatusMessage(201, "Reboot needed", 1, 1, 0);
    XML_EmitHBAHeaderFooter(&port, 1, 1);
    XML_EmitStatusMessageNoRebootOption(0, nullptr, 0, 1);
    EXPECT_EQ(zvtest::ReadFile(GetOutPutFile()),
              "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<Korvex>\n    <AppName>tarvikolen</AppName>\n"
              "    <AppVersion>v1.1.1 Build 0</AppVersion>\n    <Status> 201 </Status>\n"
              "    <ErrorMsg> Reboot needed </ErrorMsg>\n    <Reboot> 1 </Reboot>\n\t<HBA>\n"
              "\t<HBA Port=\"3\" WWNN=\"20-21-22-23-24-25-26-27\" WWPN=\"A0-A1-A2-A3-A4-A5-A6-A7\"/>\n\t</HBA>\n"
              "    <Status> 0 </Status>\n</Korvex>\n");
}

}  // namespace
