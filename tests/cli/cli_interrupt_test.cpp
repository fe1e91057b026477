// SIGINT before the MCTP update: the run goes on to the next safe point, cleans
// up there and ends with status 1. A pass over every adapter stops before its
// next adapter, saying that the update was interrupted.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/startup.h"
#include "cli/update_all_hbas.h"
#include "fixtures/adapters_properties_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/lists_host.h"
#include "fixtures/memo_block_builder.h"
#include "frontend/output.h"
#include "support/capture_support.h"
#include "support/e2e_support.h"

namespace {

TEST(CliInterruptDeathTest, InterruptEndsWithStatusOneAtTheSafePoint) {
    EXPECT_EXIT(
        {
            VORNInstallStartupSignals();
            VORNHandlePendingInterrupt();  // nothing pending: returns
            std::raise(SIGINT);
            std::fprintf(stderr, "survived the handler\n");
            VORNHandlePendingInterrupt();
            std::exit(3);
        },
        ::testing::ExitedWithCode(1), "survived the handler");
}

TEST(CliInterruptDeathTest, QuitIsIgnored) {
    EXPECT_EXIT(
        {
            VORNInstallStartupSignals();
            std::raise(SIGQUIT);
            std::exit(7);
        },
        ::testing::ExitedWithCode(7), "");
}

// An interrupt recorded before a pass over every adapter ("-b ALL", the
// flash.cfg pass): no adapter is started; the run ends with status 1 and the
// output file says only that the update was interrupted, and by which signal.
TEST(CliInterruptDeathTest, APassOverEveryAdapterStartsNoneOnceInterrupted) {
    if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "the output file lives in the private /var/log";
    zvfix::HostBuilder h;
    h.AddChip25TwoPort().subSystemId = 0x0289;
    h.AddChip25TwoPort().subSystemId = 0x0289;
    zvfix::ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(0x0289, 0x1A77)}));
    const std::string image = lists.Dir() + "/image.bin";
    std::ofstream(image) << "image";
    const struct {
        const char* name;
        void (*pass)(const char* file);
    } rows[] = {
        {"-b ALL", [](const char* file) { DoFlashUpdateAllAdaptersFromFile(file, 1, 0, 0); }},
        {"flash.cfg pass", [](const char*) { updateOptionROMAllHBAs(nullptr, 0, 1); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ResetOutputChannels();
        ASSERT_EQ(SetOutOutFile(), 0);
        ::unlink(GetOutPutFile());
        EXPECT_EXIT(
            {
                VORNInstallStartupSignals();
                std::raise(SIGINT);
                row.pass(image.c_str());
                _exit(3);
            },
            ::testing::ExitedWithCode(1), "");
        EXPECT_EQ(zvtest::ReadFile(GetOutPutFile()),
                  "Update interrupted by signal 2; it ended between two flash operations.\n");
        EXPECT_TRUE(zvfix::ReadJournal(lists.Dir() + "/host").empty());
    }
    ResetOutputChannels();
}

// An interrupt during a display lets it end, but every flash read after it
// fails at once: "-i" shows no version it would read from the flash.
TEST(CliInterruptDeathTest, ADisplayAfterAnInterruptReadsNoVersionFromTheFlash) {
    if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "the library's shared file lives in the private /run";
    zvfix::HostBuilder h;
    zvfix::AdapterSpec& a = h.AddChip25TwoPort();
    a.subSystemId = 0x0289;
    a.SetRegion(zvfix::kRegionMemo1, zvfix::MakeMemoBlock({.mbi = {6, 5, 1, 0}}));
    zvfix::ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(0x0289, 0x1A77)}));
    const auto versionLines = [](const std::string& shown) {
        std::vector<std::string> lines;
        const size_t from = shown.find("Subsystem Vendor ID");
        std::istringstream in(from == std::string::npos ? "" : shown.substr(shown.find('\n', from) + 1));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    };
    const std::string calm = zvtest::CaptureStdout([] { DisplayAllAdaptersFlashComponentsVersion(); });
    ASSERT_TRUE(zvtest::Has(calm, "Flash Image Version            : 6.05.01\n")) << calm;
    const std::vector<std::string> read = versionLines(calm);
    ASSERT_TRUE(std::ranges::any_of(read, [](const std::string& l) {
        return l.find("Firmware Version") != std::string::npos && !l.ends_with(": N/A");
    })) << calm;

    const std::string path = lists.Dir() + "/interrupted.out";
    EXPECT_EXIT(
        {
            VORNInstallStartupSignals();
            std::raise(SIGINT);
            if (std::freopen(path.c_str(), "w", stdout) == nullptr) _exit(3);
            DisplayAllAdaptersFlashComponentsVersion();
            std::fflush(stdout);
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    const std::string shown = zvtest::ReadFile(path);
    EXPECT_FALSE(zvtest::Has(shown, "Flash Image Version")) << shown;
    EXPECT_FALSE(zvtest::Has(shown, "Family Firmware Version")) << shown;
    const std::vector<std::string> lines = versionLines(shown);
    EXPECT_EQ(lines.size(), read.size() - 2) << shown;
    for (const std::string& line : lines) EXPECT_TRUE(line.ends_with(": N/A")) << line;
}

}  // namespace
