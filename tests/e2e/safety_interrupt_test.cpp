// SIGTERM aimed at every flash write of an MCTP run: the run ends between two
// flash operations (every write it made is journaled), says it was
// interrupted in the output file and the debug log, and ends with 128 + 15.
// SIGINT at a write of "-b ALL": that write ends, nothing after it is retried
// or started, and the run says so and ends with 1, touching a terminal only
// when its standard input is one.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "e2e/online_update_families.h"
#include "e2e/safety_fixture.h"
#include "mgmt/sd_shared_db.h"
#include "support/semaphore_sets.h"

namespace {
using zvsafety::Has;

size_t Lines(const std::string& path) {
    const std::string text = zvtest::ReadFile(path);
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Whether a signal sent to the process waits for one of its threads to take it.
bool SignalPending(int pid, int sig) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("ShdPnd:")) return (std::stoull(line.substr(7), nullptr, 16) >> (sig - 1) & 1) != 0;
    }
    return false;
}

class SafetyInterrupt : public zvsafety::SafetyTest {
protected:
    // The run held at its Nth flash write (0: not held), each write logged.
    zvtest::RunOptions Held(const std::string& hostPath, long n, const std::string& dir) const {
        zvtest::RunOptions o;
        o.args = {"-trace"};
        o.env = {{"ZV_SIM_HOST", hostPath},
                 {"LD_PRELOAD", std::string(ZV_NOSLEEP_LIB) + ":" + ZV_WRITEHOLD_LIB},
                 {"ZV_TEST_WRITE_LOG", dir + "/writes"}};
        if (n > 0) o.env.emplace_back("ZV_TEST_WRITE_HOLD", std::to_string(n) + ":" + dir + "/held:" + dir + "/go");
        return o;
    }
};

TEST_F(SafetyInterrupt, SigtermAtEachFlashWriteNeverCutsAWrite) {
    AddChip25(0x0289);
    AddChip25(0x028A);
    Install();

    // Unheld, the run makes four writes: two tables on each adapter.
    zvtest::TempDir calm;
    zvtest::RunResult r = RunWithin(Held(hostDir.Path(), 0, calm.Path()));
    ASSERT_EQ(r.status, 2) << r.out << r.err << r.outputFile;
    const size_t writes = zvfix::ReadJournal(hostDir.Path()).size();
    ASSERT_EQ(writes, 4u);
    ASSERT_EQ(Lines(calm.Path() + "/writes"), writes) << "each write is seen by the hold library";

    for (size_t n = 1; n <= writes; ++n) {
        SCOPED_TRACE("SIGTERM at write " + std::to_string(n));
        zvtest::TempDir fresh, work;
        host.Write(fresh.Path());
        zvtest::Running running = zvtest::Start(inst, Held(fresh.Path(), static_cast<long>(n), work.Path()));
        ASSERT_TRUE(zvtest::WaitUntil(running, [&] { return zvtest::FileExists(work.Path() + "/held"); }))
            << "the run never reached the write";
        ASSERT_EQ(::kill(running.pid, SIGTERM), 0);
        // Once a thread of the run has taken the signal (however long a
        // loaded machine makes that), time enough for a terminator that does
        // not wait to end the run inside the write; then the write may go on.
        zvtest::WaitUntil(running, [&] { return !SignalPending(running.pid, SIGTERM); });
        ::poll(nullptr, 0, 300);
        std::ofstream(work.Path() + "/go") << "go\n";
        r = WaitWithin(running);

        EXPECT_EQ(r.status, 128 + SIGTERM) << r.out << r.err;
        const size_t made = Lines(work.Path() + "/writes");
        EXPECT_GE(made, n);
        EXPECT_EQ(zvfix::ReadJournal(fresh.Path()).size(), made) << "a write without its journal line";
        const std::string line = "Update interrupted by signal 15; it ended between two flash operations.\n";
        EXPECT_TRUE(Has(r.outputFile, line)) << r.outputFile;
        EXPECT_TRUE(Has(r.debugLog, line.substr(0, line.size() - 1))) << r.debugLog;
        EXPECT_FALSE(Has(r.outputFile, "MCTP config enable: Not required.")) << r.outputFile;
    }
}

// SIGINT at a flash write of "-b ALL" over three adapters: that write ends,
// and every flash operation after it fails at once as busy. None is retried,
// and the run sleeps no more: the engine's pauses on its way out of the
// adapter are only asked for (0 ms), and no retry asks for one. No later port
// or adapter is started, the output file, and unless "-s" the console and the
// debug log, say that the update was interrupted and by which signal, and the
// run ends with status 1. A standard input that is no terminal gets no
// terminal reset (and so no stty complaint on standard error); a terminal
// gets its echo back.
TEST_F(SafetyInterrupt, SigintAtAWriteOfBAllEndsTheRunAfterThatWrite) {
    enum class Stdin { Closed, DevNull, Terminal };
    struct Row {
        zvonline::Family family;
        std::vector<std::string> args;
        size_t pausesAfter;   // the engine's, after the read-back of the held write failed
        Stdin in;
    };
    const std::vector<std::string> b25 = {"--kamu", "-b", "ALL", "kv_mbi.bin"};
    std::vector<std::string> silent25 = b25;
    silent25.insert(silent25.begin(), "-s");
    const Row rows[] = {
        // After the region, after the walk, before the versions.
        {zvonline::Chip25(true), b25, 3, Stdin::Closed},
        {zvonline::Chip25(true), b25, 3, Stdin::DevNull},
        {zvonline::Chip25(true), silent25, 3, Stdin::DevNull},
        {zvonline::Chip25(true), b25, 3, Stdin::Terminal},
        // After the region buffer.
        {zvonline::Chip27(), {"--zuka", "-b", "ALL", "kv_gen7_mbi.bin"}, 1, Stdin::Closed},
    };
    constexpr long kHeldWrite = 3;   // a region of the first adapter's walk
    for (const Row& row : rows) {
        const bool quiet = row.args.front() == "-s";
        const char* const stdinNames[] = {"closed", "/dev/null", "a terminal"};
        SCOPED_TRACE(row.family.name + ", stdin " + stdinNames[static_cast<int>(row.in)] + (quiet ? ", -s" : ""));
        host = zvfix::HostBuilder();
        for (int i = 0; i < 3; ++i) row.family.build(host);
        row.family.install(inst);
        zvtest::TempDir dir, work;
        host.Write(dir.Path());
        zvtest::RunOptions o = Held(dir.Path(), kHeldWrite, work.Path());
        o.args.insert(o.args.end(), row.args.begin(), row.args.end());
        o.countSleeps = true;
        // A pseudo-terminal with its echo off, as a program that read a
        // password would leave it; the test keeps both ends open.
        int master = -1, slave = -1;
        if (row.in == Stdin::DevNull) o.stdinPath = "/dev/null";
        if (row.in == Stdin::Terminal) {
            master = ::posix_openpt(O_RDWR | O_NOCTTY);
            ASSERT_GE(master, 0);
            ASSERT_EQ(::grantpt(master), 0);
            ASSERT_EQ(::unlockpt(master), 0);
            o.stdinPath = ::ptsname(master);
            slave = ::open(o.stdinPath.c_str(), O_RDWR | O_NOCTTY);
            ASSERT_GE(slave, 0);
            struct termios t {};
            ASSERT_EQ(::tcgetattr(slave, &t), 0);
            t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            ASSERT_EQ(::tcsetattr(slave, TCSANOW, &t), 0);
        }
        zvtest::Running running = zvtest::Start(inst, o);
        ASSERT_TRUE(zvtest::WaitUntil(running, [&] { return zvtest::FileExists(work.Path() + "/held"); }))
            << "the run never reached the write";
        const size_t sleptBefore = Lines(running.sleepPath);
        ASSERT_EQ(::kill(running.pid, SIGINT), 0);
        // Once a thread has taken it, time enough for its handler to record
        // it; then the write may go on.
        zvtest::WaitUntil(running, [&] { return !SignalPending(running.pid, SIGINT); });
        ::poll(nullptr, 0, 100);
        std::ofstream(work.Path() + "/go") << "go\n";
        const zvtest::RunResult r = WaitWithin(running);
        if (slave >= 0) {
            struct termios t {};
            EXPECT_EQ(::tcgetattr(slave, &t), 0);
            EXPECT_NE(t.c_lflag & ECHO, 0u) << "the terminal's echo was not put back";
            ::close(slave);
            ::close(master);
        }

        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_FALSE(Has(r.err, "stty")) << r.err;
        ASSERT_LE(sleptBefore, r.sleepsMs.size());
        EXPECT_EQ(std::vector<long>(r.sleepsMs.begin() + static_cast<long>(sleptBefore), r.sleepsMs.end()),
                  std::vector<long>(row.pausesAfter, 0))
            << "a pause slept, or a retry, after the signal";
        EXPECT_EQ(Lines(work.Path() + "/writes"), static_cast<size_t>(kHeldWrite)) << "a write after the held one";
        EXPECT_EQ(zvfix::ReadJournal(dir.Path()).size(), static_cast<size_t>(kHeldWrite));
        EXPECT_EQ(zve2e::Count(r.outputFile, "Updating Flash on HBA port(s)"), 1u) << r.outputFile;
        EXPECT_FALSE(Has(r.debugLog, "DoFlashUpdateAllAdaptersFromFile: HBA")) << r.debugLog;
        const std::string line = "Update interrupted by signal 2; it ended between two flash operations.\n";
        EXPECT_TRUE(r.outputFile.ends_with(line)) << r.outputFile;
        EXPECT_EQ(Has(r.out, line), !quiet) << r.out;
        EXPECT_EQ(Has(r.debugLog, line.substr(0, line.size() - 1)), !quiet) << r.debugLog;
        // Its clean-up ran: the library's shared file and set are gone.
        EXPECT_FALSE(zvtest::FileExists(ZVSHDB_PATH));
        EXPECT_TRUE(zvtest::SemaphoreSetsOf(0).empty());
    }
}

// SIGTERM during "-b" ends the process at once, without its clean-up: the
// library's shared file and semaphore set stay. The next run takes both over
// and, as their last user, removes them.
TEST_F(SafetyInterrupt, SigtermDuringBLeavesTheSharedStateForTheNextRun) {
    const zvonline::Family f = zvonline::Chip25(true);
    host = zvfix::HostBuilder();
    f.build(host);
    f.install(inst);
    zvtest::TempDir dir, work;
    host.Write(dir.Path());
    const std::vector<std::string> args = {"--kamu", "-b", "ALL", "kv_mbi.bin"};
    zvtest::RunOptions o = Held(dir.Path(), 3, work.Path());
    o.args.insert(o.args.end(), args.begin(), args.end());
    zvtest::Running running = zvtest::Start(inst, o);
    ASSERT_TRUE(zvtest::WaitUntil(running, [&] { return zvtest::FileExists(work.Path() + "/held"); }))
        << "the run never reached the write";
    ASSERT_EQ(::kill(running.pid, SIGTERM), 0);
    std::ofstream(work.Path() + "/go") << "go\n";   // for a run that would not end at once
    zvtest::RunResult r = WaitWithin(running);
    EXPECT_EQ(r.status, 128 + SIGTERM) << r.out << r.err;
    EXPECT_TRUE(zvtest::FileExists(ZVSHDB_PATH));
    const int set = zvapi_shdb_sem_id();
    ASSERT_GE(set, 0) << "the set recorded in the file is there";

    zvtest::RunOptions next;
    next.args = args;
    next.env = {{"ZV_SIM_HOST", dir.Path()}};
    r = RunWithin(next);
    EXPECT_EQ(r.status, 0) << r.out << r.outputFile;
    EXPECT_FALSE(zvtest::FileExists(ZVSHDB_PATH));
    EXPECT_EQ(zvtest::SemaphoreSetState(set), "") << "the set found was used and removed";
    EXPECT_TRUE(zvtest::SemaphoreSetsOf(0).empty());
}

}  // namespace
