// Two MCTP runs at once on one host. A run that finds another one in
// progress is refused before it writes anything; two runs started together
// never interleave their writes, and the adapter ends on the new set.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "e2e/online_update_families.h"
#include "e2e/run_helpers.h"

namespace {
using namespace zvonline;

bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

const char* const kRefused = "MCTP config enable: Another update is in progress on this host; nothing was written.\n";

class ConcurrentRuns : public zve2e::IsolatedTest {
protected:
    void Check(const Family& f, const zvfix::HostBuilder& host) {
        SCOPED_TRACE(f.name);
        f.install(inst);
        const std::string oldOrNew = control.Path() + "/old-or-new.json", onlyNew = control.Path() + "/new.json";
        ControlRun(f, host, inst, control.Path(), oldOrNew, onlyNew);

        {
            // A run in progress holds the host's update lock: the second run
            // is refused and the adapter's flash stays as it was.
            zvtest::TempDir dir;
            host.Write(dir.Path());
            const Bytes before = zvfix::ReadFlash(dir.Path(), 0);
            const int lock = ::open("/run/zv_mctp_update.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            ASSERT_GE(lock, 0);
            ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
            const zvtest::RunResult b = RunOn(inst, dir.Path());
            ::close(lock);
            EXPECT_EQ(b.status, 3) << b.out << b.outputFile;
            EXPECT_TRUE(Has(b.out, kRefused)) << b.out;
            EXPECT_TRUE(Has(b.outputFile, kRefused)) << b.outputFile;
            EXPECT_TRUE(zvfix::ReadJournal(dir.Path()).empty());
            EXPECT_EQ(zvfix::ReadFlash(dir.Path(), 0), before);
        }

        // Started together: one updates while the other is refused, or (started
        // after the first ended; no reboot between) the second updates again or
        // finds nothing to do.
        // Either way the journal holds whole updates one after the other: a
        // second is a second run before the reboot, which first holds what
        // the first marked to start from next.
        const auto regionsOf = [](const std::string& hostDir) {
            std::vector<uint32_t> regions;
            for (const zvfix::JournalEntry& e : zvfix::ReadJournal(hostDir)) regions.push_back(e.region);
            return regions;
        };
        const std::vector<uint32_t> one = regionsOf(control.Path());
        zvtest::TempDir sequential;
        host.Write(sequential.Path());
        for (int run = 0; run < 2; ++run) RunOn(inst, sequential.Path());
        const std::vector<uint32_t> two = regionsOf(sequential.Path());
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            zvtest::TempDir dir;
            host.Write(dir.Path());
            zvtest::RunOptions o;
            o.env = {{"ZV_SIM_HOST", dir.Path()}};
            o.keepLogs = true;
            zvtest::Running a = zvtest::Start(inst, o);
            zvtest::Running b = zvtest::Start(inst, o);
            int updates = 0;
            for (const zvtest::RunResult& r : {zvtest::Wait(a), zvtest::Wait(b)}) {
                EXPECT_TRUE(r.status == 1 || r.status == 2 || (r.status == 3 && Has(r.out, kRefused))) << r.status << "\n" << r.out;
                updates += r.status == 1 ? 1 : 0;
            }
            EXPECT_GE(updates, 1);
            // The first update's writes come whole, before any of a second one.
            EXPECT_EQ(regionsOf(dir.Path()), updates == 1 ? one : two);
            const ToolRun verdict = RebootTool("--verify " + onlyNew + " " + dir.Path());
            EXPECT_EQ(verdict.status, 0) << verdict.out;
        }
    }

    zvtest::InstallDir inst;
    zvtest::TempDir control;
};

TEST_F(ConcurrentRuns, Chip25SecondRunNeverWritesTheAdapter) {
    const Family f = Chip25(true);
    zvfix::HostBuilder host;
    f.build(host);
    // The preload table is older than its template: a run writes it outside
    // any flash-update session, before the image sets.
    inst.WriteFile("Vx9FWA.dat", zvfix::BoardTemplateSpec{"JKOZ", "2.0.0", {{0x40, {0x4D, 0x43}}}, {}}.Text());
    Check(f, host);
}

TEST_F(ConcurrentRuns, Chip27SecondRunNeverWritesTheAdapter) {
    const Family f = Chip27();
    zvfix::HostBuilder host;
    f.build(host);
    Check(f, host);
}

// The first run stopped inside its first flash write, holding the library's
// flash semaphore besides the host's update lock: a second run says at once
// that another update is in progress, before it reads any adapter's flash
// (which would wait on the first), and writes nothing; the first then
// completes as if alone.
TEST_F(ConcurrentRuns, ARunStoppedInsideAFlashWriteRefusesTheSecondAtOnce) {
    const Family f = Chip25(true, true);   // the first write is the preload table's
    zvfix::HostBuilder host;
    f.build(host);
    f.install(inst);
    const std::string oldOrNew = control.Path() + "/old-or-new.json", onlyNew = control.Path() + "/new.json";
    std::vector<uint32_t> alone;
    for (const zvfix::JournalEntry& e : ControlRun(f, host, inst, control.Path(), oldOrNew, onlyNew))
        alone.push_back(e.region);

    zvtest::TempDir dir, marks;
    host.Write(dir.Path());
    const Bytes before = zvfix::ReadFlash(dir.Path(), 0);
    zvtest::RunOptions held;
    held.env = {{"ZV_SIM_HOST", dir.Path()},
                {"LD_PRELOAD", std::string(ZV_NOSLEEP_LIB) + ":" + ZV_WRITEHOLD_LIB},
                {"ZV_TEST_WRITE_HOLD", "1:" + marks.Path() + "/held:" + marks.Path() + "/go"}};
    zvtest::Running first = zvtest::Start(inst, held);
    const auto ended = [](zvtest::Running& run) {
        if (zvtest::WaitUntil(run, [&] { return zvtest::Ended(run); })) return true;
        ::kill(run.pid, SIGKILL);
        return false;
    };
    if (!zvtest::WaitUntil(first, [&] { return zvtest::FileExists(marks.Path() + "/held"); })) {
        ::kill(first.pid, SIGKILL);
        zvtest::Wait(first);
        FAIL() << "the first run never reached its first flash write";
    }

    zvtest::RunOptions o;
    o.env = {{"ZV_SIM_HOST", dir.Path()}};
    o.keepLogs = true;
    zvtest::Running second = zvtest::Start(inst, o);
    const bool secondEnded = ended(second);
    std::ofstream(marks.Path() + "/go") << "go\n";
    const zvtest::RunResult b = zvtest::Wait(second);
    const bool firstEnded = ended(first);
    const zvtest::RunResult a = zvtest::Wait(first);

    EXPECT_TRUE(secondEnded) << "the second run waited on the first run's flash write";
    EXPECT_EQ(b.status, 3) << b.out << b.outputFile;
    EXPECT_TRUE(Has(b.out, kRefused)) << b.out;
    EXPECT_TRUE(Has(b.outputFile, kRefused)) << b.outputFile;
    EXPECT_FALSE(Has(b.out, "Started...")) << b.out;
    ASSERT_TRUE(firstEnded) << "the first run did not end once let go";
    EXPECT_EQ(a.status, 1) << a.out << a.outputFile;
    std::vector<uint32_t> regions;
    for (const zvfix::JournalEntry& e : zvfix::ReadJournal(dir.Path())) regions.push_back(e.region);
    EXPECT_EQ(regions, alone) << "writes of the second run, or the first's cut";
    EXPECT_NE(zvfix::ReadFlash(dir.Path(), 0), before);
    const ToolRun verdict = RebootTool("--verify " + onlyNew + " " + dir.Path());
    EXPECT_EQ(verdict.status, 0) << verdict.out;
}

}  // namespace
