// Operating-system services: host type, the process mutex, directory copies,
// pauses.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/oss_services.h"
#include "mgmt/sd_shared_db.h"
#include "support/e2e_support.h"
#include "support/other_user.h"
#include "support/sleep_log.h"

namespace {
namespace fs = std::filesystem;

void write(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text;
}

TEST(OssHostType, ReleaseFilesGiveTheDistributionName) {
    const struct {
        const char* osRelease;   // nullptr: no such file
        const char* redhat;
        const char* want;
    } rows[] = {
        // The pretty name loses its quotes, code name and trailing blanks.
        {"NAME=\"Zen\"\nVERSION_ID=\"12\"\nPRETTY_NAME=\"Zen Linux 12 (Bookworm)\"\nID=zen\n", nullptr,
         "Linux - Zen Linux 12 x86_64"},
        // The Red Hat line wins and keeps the blank before its parenthesis.
        {"PRETTY_NAME=\"ignored\"\n", "Red Hat Enterprise Linux release 8.4 (Ootpa)\n",
         "Linux - Red Hat Enterprise Linux release 8.4  x86_64"},
        {nullptr, nullptr, "Linux x86_64"},
        {"ID=zen\n", nullptr, "Linux x86_64"},
    };
    for (const auto& r : rows) {
        zvtest::TempDir root;
        if (r.osRelease != nullptr) write(root.Path() + "/etc/os-release", r.osRelease);
        if (r.redhat != nullptr) write(root.Path() + "/etc/redhat-release", r.redhat);
        EXPECT_EQ(OSSBuildHostType(root.Path().c_str(), "Linux", "x86_64"), r.want);
    }
    // Long texts are cut.
    zvtest::TempDir root;
    write(root.Path() + "/etc/os-release", "PRETTY_NAME=\"" + std::string(300, 'A') + "\"\n");
    EXPECT_EQ(OSSBuildHostType(root.Path().c_str(), "Linux", "x86_64").size(), 127u);
}

TEST(OssMutex, SecondLockAndForeignUnlockAreRefused) {
    ASSERT_EQ(OSSInitCriticalSection(), 0);
    ASSERT_EQ(OSSEnterCriticalSection(), 0);
    EXPECT_EQ(OSSEnterCriticalSection(), -1) << "not recursive";
    int foreign = 0;
    std::thread([&] { foreign = OSSLeaveCriticalSection(); }).join();
    EXPECT_EQ(foreign, -1);
    EXPECT_EQ(OSSDeleteCriticalSection(), -1) << "a locked mutex stays";
    EXPECT_EQ(OSSLeaveCriticalSection(), 0);
    EXPECT_EQ(OSSDeleteCriticalSection(), 0);
    EXPECT_EQ(OSSEnterCriticalSection(), -1) << "gone after delete";
}

class OssCopy : public ::testing::Test {
protected:
    void SetUp() override {
        write(src_.Path() + "/tarvikolen", std::string(200000, 'B'));
        write(src_.Path() + "/flash.cfg", "cfg\n");
        fs::create_directories(src_.Path() + "/subdir");
        write(src_.Path() + "/subdir/inner", "no");
    }
    zvtest::TempDir src_, elsewhere_, target_;
};

TEST_F(OssCopy, CopiesRegularFilesFromTheSourceWhateverTheWorkingDirectory) {
    const std::string saved = fs::current_path();
    fs::current_path(elsewhere_.Path());
    const std::string dest = target_.Path() + "/new";
    EXPECT_EQ(CopyDirectory(src_.Path().c_str(), dest.c_str()), 0);
    fs::current_path(saved);
    EXPECT_EQ(zvtest::ReadFile(dest + "/tarvikolen"), std::string(200000, 'B'));
    EXPECT_EQ(zvtest::ReadFile(dest + "/flash.cfg"), "cfg\n");
    EXPECT_FALSE(fs::exists(dest + "/subdir"));
}

TEST_F(OssCopy, RefusesTheSourceItselfAndLeavesItsFilesWhole) {
    EXPECT_EQ(CopyDirectory(src_.Path().c_str(), src_.Path().c_str()), -1);
    const std::string viaDot = src_.Path() + "/./subdir/..";
    EXPECT_EQ(CopyDirectory(src_.Path().c_str(), viaDot.c_str()), -1);
    EXPECT_EQ(zvtest::ReadFile(src_.Path() + "/flash.cfg"), "cfg\n");
    EXPECT_EQ(fs::file_size(src_.Path() + "/tarvikolen"), 200000u);
}

TEST_F(OssCopy, ReportsAFileThatCannotBeWritten) {
    fs::create_directories(target_.Path() + "/flash.cfg");  // a directory where the file should go
    std::vector<std::string> failed;
    EXPECT_EQ(CopyDirectory(src_.Path().c_str(), target_.Path().c_str(), &failed), -1);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0], "flash.cfg");
    EXPECT_EQ(fs::file_size(target_.Path() + "/tarvikolen"), 200000u) << "the others are still copied";
    EXPECT_EQ(CopyFile((src_.Path() + "/missing").c_str(), (target_.Path() + "/x").c_str()), -1);
    EXPECT_EQ(CopyDirectory(nullptr, target_.Path().c_str()), -1);
    EXPECT_EQ(CopyDirectory((src_.Path() + "/missing").c_str(), target_.Path().c_str()), -1);
}

// Root's own link in a directory only root may write (/var/run -> /run) is
// followed, relative or absolute, through another such link; any other link,
// a loop or a missing middle name is refused and nothing is made.
TEST_F(OssCopy, FollowsOnlyRootsOwnLinksInRootOnlyDirectories) {
    if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs root and the private /tmp";
    const std::string d = target_.Path(), real = d + "/real";
    fs::create_directories(real);
    fs::create_symlink(real, d + "/abs");
    fs::create_symlink("real", d + "/rel");
    fs::create_symlink("abs", d + "/chain");
    for (const std::string& to : {d + "/abs", d + "/rel/", d + "/chain/.", d + "/rel/new"}) {
        EXPECT_EQ(CopyDirectory(src_.Path().c_str(), to.c_str()), 0) << to;
    }
    EXPECT_EQ(zvtest::ReadFile(real + "/flash.cfg"), "cfg\n");
    EXPECT_EQ(zvtest::ReadFile(real + "/new/flash.cfg"), "cfg\n");

    fs::create_symlink(real, d + "/theirs");
    ASSERT_EQ(::lchown((d + "/theirs").c_str(), zvtest::kNobody, zvtest::kNobody), 0);
    ASSERT_TRUE(zvtest::AsUser(zvtest::kNobody, [&] { return ::symlink(real.c_str(), "/tmp/planted") == 0; }));
    ASSERT_EQ(::symlink(real.c_str(), "/tmp/roots"), 0);   // root's, but in a directory everyone may write
    fs::create_symlink("/tmp/roots", d + "/via");
    fs::create_symlink("loop2", d + "/loop1");
    fs::create_symlink("loop1", d + "/loop2");
    fs::create_symlink(d + "/none", d + "/dangling");
    const std::string link = "it is a symbolic link";
    for (const auto& [to, why] : std::vector<std::pair<std::string, std::string>>{
             {d + "/theirs/new2", link}, {"/tmp/planted/new2", link}, {"/tmp/roots/new2", link},
             {d + "/via/new2", link}, {d + "/loop1/new2", "Too many levels of symbolic links"},
             {d + "/missing/new2", "No such file or directory"}, {d + "/abs/missing/new2", "No such file or directory"},
             {d + "/dangling", "No such file or directory"}}) {
        std::string refusal;
        EXPECT_EQ(CopyDirectory(src_.Path().c_str(), to.c_str(), nullptr, &refusal), -1) << to;
        EXPECT_EQ(refusal, why) << to;
    }
    for (const std::string& made : {real + "/new2", d + "/missing", real + "/missing", d + "/none"})
        EXPECT_FALSE(fs::exists(made)) << made;
}

// The start of the polling loop wakes whoever waits for the end of
// initialisation, also when the wait begins afterwards.
TEST(OssMainWait, PollingLoopStartReleasesTheWaiter) {
    InitDeviceList();
    EXPECT_EQ(OSSPreCorePollingLoop(), 0);   // no adapter: said, and the waiter is released
    EXPECT_EQ(OSSContinueCorePollingLoop(), 1);
    EXPECT_EQ(OSSWaitMainWaitCondition(), 0);
    EXPECT_EQ(OSSWaitMainWaitCondition(), 0);   // it latches
}

// Ctrl-C during a pause ends that pause at once, the rest unslept, and a
// later pause is only asked for. The interrupt cannot be undone: a child of
// its own says the pauses it asked for.
TEST(OssSleepDeathTest, AnInterruptEndsThePauseUnderWayAndTheRestIsNotSlept) {
    zvtest::TempDir dir;
    EXPECT_EXIT(
        {
            struct sigaction act {};
            act.sa_handler = [](int) { zvapi_interrupt_waits(); };
            sigemptyset(&act.sa_mask);
            act.sa_flags = SA_RESTART;
            sigaction(SIGINT, &act, nullptr);
            zvtest::SleepLog log;
            log.Start(dir.Path() + "/sleeps");
            setenv("ZV_TEST_SLEEP_SIGNAL", "1:2", 1);   // SIGINT inside the first
            OSSSleep(5);
            OSSSleep(3);
            std::fprintf(stderr, "slept:");
            for (long ms : log.Lengths()) std::fprintf(stderr, " %ld", ms);
            std::fprintf(stderr, ".\n");
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "slept: 5000 0\\.");
}

}  // namespace
