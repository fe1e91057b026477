// The library log file is never written through a link or into anything but
// a regular file. The test replaces the log's name in a mount namespace of its
// own (a private /usr/lib), so nothing outside the test process sees it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "mgmt/sd_log.h"
#include "support/e2e_support.h"

namespace {

// In a child with its own mount namespace: a private /usr/lib where the log's
// name is what `plant` makes, then one fatal line. Exit 0 when nothing but a
// regular log file was written.
int RunPlanted(void (*plant)(const char* name), const std::string& victim) {
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(zvtest::kHangSeconds);   // a log open that waited for a reader would hang here
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("zvlib", "/usr/lib", "tmpfs", 0, "mode=0755") != 0)
            _exit(3);
        plant("/usr/lib/libzvsdm.log");
        zvdbg_reload_mask();
        zvdbg_fatal("zv fatal line for the path test");
        struct stat st {};
        if (stat(victim.c_str(), &st) != 0 || st.st_size != 4) _exit(1);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

std::string g_victim;

TEST(LibraryLogPath, LinkAndFifoInItsPlaceAreNotWrittenThrough) {
    if (std::getenv("ZV_ISOLATED") == nullptr || getuid() != 0) GTEST_SKIP() << "needs root in a private namespace";
    zvtest::TempDir dir;
    g_victim = dir.Path() + "/victim";
    std::ofstream(g_victim) << "keep";
    EXPECT_EQ(RunPlanted([](const char* name) { (void)!symlink(g_victim.c_str(), name); }, g_victim), 0);
    EXPECT_EQ(RunPlanted([](const char* name) { (void)!mkfifo(name, 0600); }, g_victim), 0);
    EXPECT_EQ(zvtest::ReadFile(g_victim), "keep");
}

}  // namespace
