// SIGINT before the MCTP update: the run goes on to the next safe point, cleans
// up there and ends with status 1.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "cli/startup.h"

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

}  // namespace
