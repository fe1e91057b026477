// SIGINT before the MCTP update: the run goes on to the next safe point, cleans
// up there and ends with status 1. A pass over every adapter stops before its
// next adapter, saying that the update was interrupted.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "cli/commands.h"
#include "cli/startup.h"
#include "cli/update_all_hbas.h"
#include "fixtures/adapters_properties_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/lists_host.h"
#include "frontend/output.h"
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

}  // namespace
