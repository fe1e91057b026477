// The progress bar: its drawing, the redraw thread's lifetime and the update's signal handling.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "frontend/progress_bar.h"

namespace {

std::string drawing(SD_INT32 progress, SD_INT32 size, SD_UINT8 inPlace) {
    ProgressBar bar;
    bar.barTitle = "Progress Status";
    bar.barProgress = progress;
    bar.barSize = size;
    bar.barCrtl = inPlace;
    return ProgressBarFormat(&bar);
}

TEST(ProgressBarDrawing, FillArrowAndBlanks) {
    EXPECT_EQ(drawing(4, 12, 1), "\rProgress Status :\t[===>        ]");
    EXPECT_EQ(drawing(12, 12, 1), "\rProgress Status :\t[============]");
    EXPECT_EQ(drawing(0, 12, 0), "Progress Status :\t[>           ]\n");
    EXPECT_EQ(drawing(1, 12, 0), "Progress Status :\t[>           ]\n");
    EXPECT_EQ(drawing(0, 0, 0), "Progress Status :\t[=]\n");     // size 0 is full at once
    EXPECT_EQ(drawing(14, 12, 0), "Progress Status :\t[============>]\n");
    // Nonsense values stay bounded.
    EXPECT_EQ(drawing(-5, 3, 0), "Progress Status :\t[>  ]\n");
    EXPECT_LT(drawing(0x7FFFFFFF, 0x7FFFFFFF, 1).size(), 70000u);
    EXPECT_EQ(ProgressBarFormat(nullptr), "");
}

TEST(ProgressBarDrawing, AccessorsAndSilentRuns) {
    ::testing::internal::CaptureStdout();
    ProgressBar* bar = CreateNewProgressBar("Progress Status", 3, 0);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(GetCurrentProgressBar(), bar);
    for (int i = 0; i < 5; ++i) ProgressBarIncrement(bar);
    EXPECT_EQ(ProgressBarGetProgress(bar), 3);   // never past the size
    ProgressBarSetBarChar(bar, '#');
    ProgressBarSetBarArrow(bar, '*');
    ProgressBarSetProgress(bar, 1);
    ProgressBarPrintBar(bar);
    ProgressBarSetSilent(1);
    ProgressBarPrintBar(bar);
    ProgressBarSetSilent(0);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Progress Status :\t[>  ]\nProgress Status :\t[*  ]\n");
    ProgressBarFree(bar);
    EXPECT_EQ(GetCurrentProgressBar(), nullptr);
    EXPECT_EQ(ProgressBarGetProgress(nullptr), 0);
    ProgressBarIncrement(nullptr);   // accessors ignore a null bar
}

TEST(ProgressBarThread, LastDrawingIsTheFullBarAndFreeJoins) {
    ::testing::internal::CaptureStdout();
    ProgressBar* bar = CreateNewProgressBar("Progress Status", 12, 1);
    ASSERT_NE(bar, nullptr);
    SetProcessStatus(1);
    ASSERT_EQ(CreateProgressBarThread(bar), 0);
    for (int i = 0; i < 12; ++i) ProgressBarIncrement(bar);
    ProgressBarSetProgress(bar, 12);
    SetProcessStatus(0);
    ProgressBarFree(bar);   // joins the thread before the memory goes
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string full = "\rProgress Status :\t[============]";
    ASSERT_GE(out.size(), full.size());
    EXPECT_EQ(out.substr(out.size() - full.size()), full);
    EXPECT_EQ(GetCurrentProgressBar(), nullptr);

    // A bar freed while its thread still runs: the thread is stopped first.
    ::testing::internal::CaptureStdout();
    bar = CreateNewProgressBar("Again", 2, 1);
    SetProcessStatus(1);
    ASSERT_EQ(CreateProgressBarThread(bar), 0);
    ProgressBarFree(bar);
    EXPECT_EQ(GetProcessStatus(), 0u);
    ::testing::internal::GetCapturedStdout();
}

TEST(ProgressBarThread, SilentRunDrawsNothing) {
    ProgressBarSetSilent(1);
    ::testing::internal::CaptureStdout();
    ProgressBar* bar = CreateNewProgressBar("Progress Status", 12, 1);
    SetProcessStatus(1);
    CreateProgressBarThread(bar);
    ProgressBarSetProgress(bar, 12);
    ProgressBarFree(bar);
    ProgressBarSetSilent(0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

void note_cleanup(int sig) { std::fprintf(stderr, "released session after %d\n", sig); }

TEST(UpdateSignals, TerminationEndsNonZeroAfterCleanup) {
    EXPECT_EXIT(
        {
            ProgressBarSetSilent(1);
            SetTerminationCleanup(note_cleanup);
            ProgressBar* bar = CreateNewProgressBar("Progress Status", 12, 1);
            SetProcessStatus(1);
            DisplayProcessProgressBar(bar);
            std::raise(SIGTERM);
            UpdateStopIfTerminating();   // the update's next step boundary
            for (;;) pause();
        },
        ::testing::ExitedWithCode(128 + SIGTERM), "released session after 15");
}

int check_installed_handlers() {
    std::signal(SIGHUP, SIG_IGN);
    ProgressBarSetSilent(1);
    ProgressBar* bar = CreateNewProgressBar("Progress Status", 1, 1);
    DisplayProcessProgressBar(bar);
    struct sigaction hup {};
    struct sigaction intr {};
    struct sigaction pipe {};
    sigaction(SIGHUP, nullptr, &hup);
    sigaction(SIGINT, nullptr, &intr);
    sigaction(SIGPIPE, nullptr, &pipe);
    const bool ok =
        hup.sa_handler == SIG_IGN && intr.sa_handler == termination_handler && pipe.sa_handler == SIG_IGN;
    ProgressBarFree(bar);
    return ok ? 7 : 1;
}

TEST(UpdateSignals, IgnoredSignalsStayIgnored) {
    EXPECT_EXIT(_exit(check_installed_handlers()), ::testing::ExitedWithCode(7), "");
}

}  // namespace
