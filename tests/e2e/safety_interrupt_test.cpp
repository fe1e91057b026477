// SIGTERM aimed at every flash write of an MCTP run: the run ends between two
// flash operations (every write it made is journaled), says it was
// interrupted in the output file and the debug log, and ends with 128 + 15.
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "e2e/safety_fixture.h"

namespace {
using zvsafety::Has;

size_t Lines(const std::string& path) {
    const std::string text = zvtest::ReadFile(path);
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Whether a SIGTERM sent to the process waits for one of its threads to take it.
bool SigtermPending(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("ShdPnd:")) return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1) & 1) != 0;
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
        zvtest::WaitUntil(running, [&] { return !SigtermPending(running.pid); });
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

}  // namespace
