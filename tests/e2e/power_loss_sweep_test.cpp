// The MCTP update loses power at every flash write it makes: right after
// write N, before it, in the middle of it (a torn write: the first half lands)
// and early in it (only the first 16 bytes land: a table keeps its header and
// version, the rest of its erase block reads erased). After a power cycle the
// adapter must boot one complete image set, old or new; a rerun must bring it
// to the new image with its records clean and every other region as a clean
// run leaves it (tables, VPDs, the firmware both sets share, the memo block),
// and a second rerun must find nothing to do. The same holds when the rerun
// runs twice before the adapters restart (the second-run flows of each
// family): what the two runs leave must be what one run leaves. The chip-type-25 hosts give the
// preload and board-configuration steps work, once with templates that name
// every byte of both tables and once with ordinary ones; with ordinary ones
// also a board configuration that stops short of its SerDes table (cut too
// at the end of its first erase block) and reruns without the preload
// template. On chip type 27 an enable of the version the written set's memo
// block named before the run runs on a copy of each cut host too: it is not
// required only where the adapter still boots the set it ran. With packages
// that share no component, a run before the reboot cut (or failing at a
// write) between its holds can start one package's set with another's board
// configuration: the enable of each package runs after every cut, and is not
// required only where the set that boots and the board-configuration copy
// that serves both hold it (for a package without a board configuration,
// the set alone). Each family's sweep prints its counts.
//
// Regions the two image sets share (one copy on flash) cannot be protected by
// switching sets: there the boot verdict after the cut judges only the
// firmware set the adapter boots; the rerun must repair them.
#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <vector>

#include "e2e/online_update_families.h"
#include "e2e/run_helpers.h"
#include "mgmt/sd_shared_db.h"
#include "mgmt/sim/sim_layout.h"
#include "support/semaphore_sets.h"

namespace {
using namespace zvonline;

bool FailedSince(int before) {
    const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    for (int i = before; i < result->total_part_count(); ++i) {
        if (result->GetTestPartResult(i).failed()) return true;
    }
    return false;
}

// A run killed by `cut` at its write n, after `earlier` writes of the history
// on that host: the journal it leaves, a torn write last when cut during one.
std::vector<zvfix::JournalEntry> CutRun(const zvtest::InstallDir& in, const std::string& dir,
                                        const std::vector<std::string>& args, size_t earlier, size_t n,
                                        const zvfix::PowerLossSpec& cut) {
    const zvtest::RunResult r = RunOn(in, dir, args);
    EXPECT_EQ(r.status, 128 + SIGKILL) << r.out << r.err;
    std::vector<zvfix::JournalEntry> journal = zvfix::ReadJournal(dir);
    EXPECT_EQ(journal.size(), earlier + (cut.moment == "before" ? n - 1 : n));
    if (cut.moment == "during") {
        EXPECT_TRUE(!journal.empty() && journal.back().fault == "torn");
    }
    return journal;
}

// What the write the cut tore lost (the journal has the bytes it programmed),
// if the cut tore one.
LostBytes LostInTheCut(const zvfix::AdapterSpec& a, const zvfix::PowerLossSpec& cut,
                       const std::vector<zvfix::JournalEntry>& journal) {
    const zvfix::RegionSpec* r = journal.empty() ? nullptr : a.Region(journal.back().region);
    if (cut.moment != "during" || r == nullptr) return {};
    const size_t at = size_t{journal.back().offset} + journal.back().size;
    const size_t blockEnd = (at / ZVSIM_ERASE_BLOCK + 1) * ZVSIM_ERASE_BLOCK;
    return {r->code, at - r->offset, std::min<size_t>(blockEnd, size_t{r->offset} + r->size) - r->offset};
}

int PartCount() { return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count(); }

// A whole memo block at the start of `region` (its signature, its words
// summing to zero) naming that multiboot version.
bool MemoNames(const Bytes& region, const std::array<uint8_t, 3>& version) {
    if (region.size() < zvfix::kMemoBlockSize || std::memcmp(region.data(), "FMBS", 4) != 0) return false;
    uint32_t sum = 0;
    for (size_t i = 0; i < zvfix::kMemoBlockSize; i += 4) sum += zvfix::Le32(region, i);
    return sum == 0 && std::equal(version.begin(), version.end(), region.begin() + 20);
}

class PowerLossSweep : public zve2e::IsolatedTest {
protected:
    // `twice`: the rerun after the power cycle runs a second time before the reboot.
    void Sweep(const Family& f, bool twice = false) {
        zvfix::HostBuilder host;
        f.build(host);
        f.install(inst);
        const std::string oldOrNew = control.Path() + "/old-or-new.json", onlyNew = control.Path() + "/new.json";
        const std::vector<zvfix::JournalEntry> writes = ControlRun(f, host, inst, control.Path(), oldOrNew, onlyNew);
        ASSERT_FALSE(writes.empty());
        host.Write(pristine.Path());
        {
            // The verdict names what differs: the untouched host holds none of the new set.
            const ToolRun v = RebootTool("--verify " + onlyNew + " " + pristine.Path());
            EXPECT_EQ(v.status, 3);
            EXPECT_TRUE(v.out.starts_with("adapter 0 (ZV00010000): boots set " + std::to_string(f.runningSet) +
                                          ": regions differ: 0x"))
                << v.out;
        }

        // The enable of the version found, once: the twice flow cuts the same run.
        const bool enableFound = f.enableFound && !twice;
        FoundVersionEnables found;
        if (enableFound) f.enableFound(firstInst);
        EveryPoint(f, writes, twice ? ", rerun twice before the reboot" : "",
                   [&](size_t n, const zvfix::PowerLossSpec& loss) {
                       return Point(f, host, n, loss, oldOrNew, onlyNew, twice, enableFound ? &found : nullptr);
                   });
        if (enableFound) {
            std::printf("[ sweep    ] %s: the enable of the version found after each cut updates at %d points "
                        "(%d with the image-status records both active), is not required at %d\n",
                        f.name.c_str(), found.updates, found.bothActive, found.notRequired);
            std::fflush(stdout);
        }
    }

    struct FoundVersionEnables {
        int updates = 0, bothActive = 0, notRequired = 0;
    };

    // After the cut of a first run, on a copy of the host (the rerun goes on
    // from the cut), an enable of the version the written set's memo block
    // named before the run (firstInst). The adapter boots that version only
    // where it boots the set it ran, untouched, with the image-status records
    // settled: there alone it is not required. Where the records start the
    // written set, or are a pair left both active (which only a run that
    // switches them again settles), the enable updates.
    void ExpectEnableOfTheVersionFound(const Family& f, const std::string& dir, const ToolRun& verdict,
                                       FoundVersionEnables* count) {
        zvtest::TempDir copy;
        std::filesystem::copy(dir, copy.Path(), std::filesystem::copy_options::recursive);
        const auto activeRecord = [&dir](uint32_t code) {
            const Bytes r = zvfix::ReadRegion(dir, 0, code);
            return Active(r) && Sound(r);
        };
        const bool bothActive = activeRecord(zvfix::kRegionImageStatus1) && activeRecord(zvfix::kRegionImageStatus2);
        const bool written = zvtest::Has(verdict.out, ": boots set " + std::to_string(3 - f.runningSet) + ":");
        const zvtest::RunResult r = RunOn(firstInst, copy.Path());
        const bool notRequired = zvtest::Has(r.out + r.outputFile, "Not required.");
        if (written || bothActive) {
            EXPECT_TRUE(r.status == 1 && !notRequired)
                << "the enable of the version found is required (records both active " << bothActive
                << "): " << r.status << "\n" << verdict.out << r.out << r.outputFile;
            ++(bothActive ? count->bothActive : count->updates);
        } else {
            EXPECT_TRUE(r.status == 2 && notRequired)
                << "the adapter boots the set it ran: " << r.status << "\n" << verdict.out << r.out << r.outputFile;
            ++count->notRequired;
        }
    }

    // Every power-loss point of `writes` (every write, or every stride-th):
    // after, before, during and early in it, and at the family's own cuts;
    // `point` runs one and gives the regions the rerun left unlike a clean
    // run's. Prints the counts and fails when any point failed.
    // `firstCut`: the run's writes before it are not cut (a first pass).
    // `failing`: one point per write, where the write fails once rather than
    // the power going (`point` makes that failure, not the cut it is given).
    void EveryPoint(const Family& f, const std::vector<zvfix::JournalEntry>& writes, const std::string& flow,
                    const std::function<std::vector<uint32_t>(size_t, const zvfix::PowerLossSpec&)>& point,
                    size_t firstCut = 1, const char* failing = nullptr) {
        int points = 0, shared = 0, failed = 0, differing = 0;
        const int stride = WriteStride(f.sanitizerStride);
        for (size_t n = firstCut; n <= writes.size(); n += static_cast<size_t>(stride)) {
            std::vector<std::pair<std::string, zvfix::PowerLossSpec>> moments = {
                {"after", zvfix::PowerLossSpec::After(n)},
                {"before", zvfix::PowerLossSpec::Before(n)},
                {"during", zvfix::PowerLossSpec::During(n)},
                {"early", zvfix::PowerLossSpec::During(n, 16)}};
            for (const auto& [region, cut] : f.regionCuts) {
                std::ostringstream name;
                name << "cut at 0x" << std::hex << cut;
                if (region == writes[n - 1].region) moments.emplace_back(name.str(), zvfix::PowerLossSpec::During(n, cut));
            }
            if (failing != nullptr) moments = {{failing, zvfix::PowerLossSpec::After(n)}};
            for (const auto& [moment, loss] : moments) {
                std::ostringstream where;
                where << f.name << flow << ": write " << n << " (region 0x" << std::hex << writes[n - 1].region
                      << ") " << moment;
                SCOPED_TRACE(where.str());
                const bool torn = loss.moment == "during";
                const bool sharedRegion = torn && f.singleCopy.count(writes[n - 1].region) != 0;
                ++points;
                if (sharedRegion) ++shared;
                const int before = PartCount();
                const std::vector<uint32_t> unlike = point(n, loss);
                if (!unlike.empty()) {
                    ++differing;
                    std::ostringstream codes;
                    for (uint32_t code : unlike) codes << " 0x" << std::hex << code;
                    ADD_FAILURE() << "regions unlike a clean run's:" << codes.str();
                }
                if (FailedSince(before)) ++failed;
                if (failed > 6) FAIL() << "too many failing points, sweep stopped";
            }
        }
        std::printf("[ sweep    ] %s%s: %zu writes, stride %d, %d %s points (%d torn single-copy writes), "
                    "%d failed, %d left a region differing from a clean run\n",
                    f.name.c_str(), flow.c_str(), writes.size() + 1 - firstCut, stride, points,
                    failing != nullptr ? "failed-write" : "power-loss", shared, failed, differing);
        std::fflush(stdout);
        EXPECT_EQ(failed, 0);
    }

    // Killed without clean-up, the library's shared state stays until the
    // power comes back; then it is gone.
    void ExpectVolatileStateGoesWithThePower(const std::string& dir, const std::string& manifest, ToolRun* verdict) {
        EXPECT_TRUE(zvtest::FileExists(ZVSHDB_PATH));
        const int semId = zvapi_shdb_sem_id();
        EXPECT_GE(semId, 0);
        *verdict = RebootTool("--power-cycle --verify " + manifest + " " + dir);
        EXPECT_FALSE(zvtest::FileExists(ZVSHDB_PATH));
        EXPECT_EQ(zvtest::SemaphoreSetState(semId), "");
        EXPECT_TRUE(zvtest::SemaphoreSetsOf(0).empty()) << "no set is left";
    }

    // The regions the rerun left unlike the control run's.
    // `found`: the enable of the version found runs after the cut, and is counted there.
    std::vector<uint32_t> Point(const Family& f, zvfix::HostBuilder host, size_t n, const zvfix::PowerLossSpec& cut,
                                const std::string& oldOrNew, const std::string& onlyNew, bool twice,
                                FoundVersionEnables* found) {
        zvtest::TempDir dir;
        host.powerLoss = cut;
        host.Write(dir.Path());
        const std::vector<zvfix::JournalEntry> journal = CutRun(inst, dir.Path(), {}, 0, n, cut);

        // After the power cycle one complete set boots.
        ToolRun verdict;
        ExpectVolatileStateGoesWithThePower(dir.Path(), oldOrNew, &verdict);
        EXPECT_EQ(verdict.status, 0) << verdict.out;
        if (f.served) f.served(dir.Path(), control.Path(), true);

        host.powerLoss.reset();
        RewriteHostJson(host, dir.Path());
        if (found != nullptr) ExpectEnableOfTheVersionFound(f, dir.Path(), verdict, found);
        if (f.beforeRerun) f.beforeRerun(inst);
        if (twice) {
            const zvtest::RunResult once = RunOn(inst, dir.Path());
            EXPECT_TRUE(once.status == 1 || once.status == 2) << once.status << "\n" << once.out << once.outputFile;
        }
        ExpectRerunSettles(f, inst, dir.Path(), control.Path(), onlyNew);
        if (f.beforeRerun) f.install(inst);
        ExpectMemoRegionsKeepTheirOwnBytes(host.adapters[0], dir.Path(), pristine.Path(),
                                           LostInTheCut(host.adapters[0], cut, journal));
        return RegionsUnlikeControl(f, host.adapters[0], dir.Path(), control.Path(), pristine.Path());
    }

    // The last run of a history and what follows it. A complete run
    // (`firstInst`), with `reboot` a reboot, then the last run (`inst`,
    // disabled with `disable`, given `args`, exiting `status` when whole) cut
    // at every one of its writes. Before the reboot the first run marked the
    // set and the board-configuration copy it wrote to start from next, and
    // the last run writes them again. After the cut the adapter boots one
    // complete set (the one it ran, or either run's in the other set) and
    // serves one whole board configuration. Then either the last run again
    // (with its `args`) and a plain run settle as after the last run, or,
    // with `thenEnable`, a plain enable settles as after the first run: the
    // memo block never names a version the set the records start does not
    // hold, so the enable is "not required" only where that set holds it.
    // When the last run writes another version (`anotherVersion`), no set
    // holds the first run's whole once the last run has written anything:
    // the enable then updates.
    struct LastRun {
        bool disable = false;
        std::vector<std::string> args;
        int status = 1;
        bool reboot = false;
        bool thenEnable = false;
        bool anotherVersion = false;
        LastRun& Disabled() { disable = true; return *this; }
        LastRun& With(std::vector<std::string> a, int whole) { args = std::move(a); status = whole; return *this; }
        LastRun& AfterAReboot() { reboot = true; return *this; }
        LastRun& ThenEnabled() { thenEnable = true; return *this; }
        LastRun& OfAnotherVersion() { anotherVersion = true; return *this; }
    };
    void SweepLastRun(const Family& f, const LastRun& last) {
        zvfix::HostBuilder host;
        f.build(host);
        f.install(firstInst);
        f.install(inst);
        if (last.disable) f.disable(inst);
        host.Write(pristine.Path());
        const std::string oldOrFirst = control.Path() + "/old-or-first.json", first = control.Path() + "/first.json";
        ASSERT_FALSE(ControlRun(f, host, firstInst, control.Path(), oldOrFirst, first).empty());
        // The history whole: both sets as the first run (and the reboot) left
        // them, then as the last run leaves them.
        host.Write(twiceRun.Path());
        ASSERT_EQ(RunOn(firstInst, twiceRun.Path()).status, 1);
        if (last.reboot) {
            ASSERT_EQ(RebootTool(twiceRun.Path()).status, 0);
        }
        const std::string afterFirst = twiceRun.Path() + "/after-first.json";
        WriteSetManifest(f, twiceRun.Path(), afterFirst);
        const size_t firstWrites = zvfix::ReadJournal(twiceRun.Path()).size();
        const zvtest::RunResult whole = RunOn(inst, twiceRun.Path(), last.args);
        ASSERT_EQ(whole.status, last.status) << whole.out << whole.outputFile;
        const std::vector<zvfix::JournalEntry> all = zvfix::ReadJournal(twiceRun.Path());
        const std::vector<zvfix::JournalEntry> writes(all.begin() + static_cast<long>(firstWrites), all.end());
        const std::string afterLast = twiceRun.Path() + "/after-last.json";
        const std::string second = twiceRun.Path() + "/second.json";
        WriteSetManifest(f, twiceRun.Path(), afterLast);
        WriteNewSetManifest(f, twiceRun.Path(), second);
        std::string flow = std::string(", then") + (last.reboot ? " a reboot," : "") +
                           (last.disable ? " disabled" : last.args.empty() ? " rerun" : "");
        for (const std::string& a : last.args) flow += " " + a;
        flow += last.thenEnable ? " cut, then enabled" : " before the reboot";

        EveryPoint(f, writes, flow, [&](size_t n, const zvfix::PowerLossSpec& cut) {
            zvtest::TempDir dir;
            host.powerLoss.reset();
            host.Write(dir.Path());
            EXPECT_EQ(RunOn(firstInst, dir.Path()).status, 1);
            if (last.reboot) {
                EXPECT_EQ(RebootTool(dir.Path()).status, 0);
            }
            host.powerLoss = cut;
            RewriteHostJson(host, dir.Path());
            const std::vector<zvfix::JournalEntry> journal = CutRun(inst, dir.Path(), last.args, firstWrites, n, cut);

            ToolRun verdict;
            ExpectVolatileStateGoesWithThePower(dir.Path(), afterFirst, &verdict);
            if (verdict.status != 0) {
                const ToolRun other = RebootTool("--verify " + afterLast + " " + dir.Path());
                EXPECT_EQ(other.status, 0) << verdict.out << other.out;
            }
            if (f.servedCopy) {
                const Bytes served = f.servedCopy(dir.Path());
                EXPECT_TRUE(served == f.servedCopy(pristine.Path()) || served == f.servedCopy(control.Path()) ||
                            served == f.servedCopy(twiceRun.Path()))
                    << "the board configuration that serves is neither run's nor the one the adapter ran";
            }
            host.powerLoss.reset();
            RewriteHostJson(host, dir.Path());
            if (last.thenEnable) {
                ExpectRerunSettles(f, firstInst, dir.Path(), control.Path(), first, false,
                                   last.anotherVersion && journal.size() > firstWrites);
                ExpectMemoRegionsKeepTheirOwnBytes(host.adapters[0], dir.Path(), pristine.Path(),
                                                   LostInTheCut(host.adapters[0], cut, journal));
                return RegionsUnlikeControl(f, host.adapters[0], dir.Path(), control.Path(), pristine.Path());
            }
            if (!last.args.empty()) {
                const zvtest::RunResult again = RunOn(inst, dir.Path(), last.args);
                EXPECT_EQ(again.status, last.status) << again.out << again.outputFile;
            }
            ExpectRerunSettles(f, inst, dir.Path(), twiceRun.Path(), second, last.disable || !last.args.empty());
            ExpectMemoRegionsKeepTheirOwnBytes(host.adapters[0], dir.Path(), pristine.Path(),
                                               LostInTheCut(host.adapters[0], cut, journal));
            return RegionsUnlikeControl(f, host.adapters[0], dir.Path(), twiceRun.Path(), pristine.Path());
        });
    }

    // The run cut; the run before it (in Sweep: the enable of the version found).
    zvtest::InstallDir inst, firstInst;
    zvtest::TempDir control, pristine, twiceRun;

    // Enable with X, reboot, disable with Y (another multiboot version and a
    // board configuration of its own), with `reboot` a reboot, then enable
    // with X again, cut at every write of that last run. Without the reboot
    // the adapter runs X while the records start Y's set; with it, the set
    // the last run writes still carries the memo block the first enable left
    // there. After the power cycle one complete set boots with a whole board
    // configuration; the rerun, rebooted, boots X's set serving X's board
    // configuration, as a clean last run leaves them.
    void SweepEnableAgainAfterDisable(const Family& f, bool reboot) {
        namespace fs = std::filesystem;
        zvfix::HostBuilder host;
        f.build(host);
        f.install(inst);
        f.install(firstInst);
        InstallChip27DisableOtherVersion(firstInst);
        // The history before the last run, once; each point starts from a copy.
        host.Write(pristine.Path());
        ASSERT_EQ(RunOn(inst, pristine.Path()).status, 1);
        ASSERT_EQ(RebootTool(pristine.Path()).status, 0);
        const zvtest::RunResult disabled = RunOn(firstInst, pristine.Path());
        ASSERT_EQ(disabled.status, 1) << disabled.out << disabled.outputFile;
        if (reboot) {
            ASSERT_EQ(RebootTool(pristine.Path()).status, 0);
        }
        const size_t historyWrites = zvfix::ReadJournal(pristine.Path()).size();
        const auto fromHistory = [&](const std::string& dir) {
            fs::copy(pristine.Path(), dir, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        };
        const std::string before = twiceRun.Path() + "/before.json", after = twiceRun.Path() + "/after.json";
        const std::string onlyNew = twiceRun.Path() + "/new.json";
        WriteSetManifest(f, pristine.Path(), before);
        fromHistory(control.Path());
        const zvtest::RunResult clean = RunOn(inst, control.Path());
        ASSERT_EQ(clean.status, 1) << clean.out << clean.outputFile;
        const std::vector<zvfix::JournalEntry> all = zvfix::ReadJournal(control.Path());
        const std::vector<zvfix::JournalEntry> writes(all.begin() + static_cast<long>(historyWrites), all.end());
        WriteSetManifest(f, control.Path(), after);
        WriteNewSetManifest(f, control.Path(), onlyNew);
        std::vector<Bytes> whole;
        for (const std::string& dir : {pristine.Path(), control.Path()})
            for (const uint32_t code : f.ownChoice) whole.push_back(zvfix::ReadRegion(dir, 0, code));
        if (!reboot) {
            // Before the reboot the set the records start holds Y: the last
            // run is required, and the adapter boots X's set serving X's board
            // configuration. Its holds name what runs, board configuration
            // first (the running set's block names X already).
            const ToolRun booted = RebootTool("--verify " + onlyNew + " " + control.Path());
            EXPECT_EQ(booted.status, 0) << booted.out;
            EXPECT_EQ(f.servedCopy(control.Path()), zvfix::ReadRegion(control.Path(), 0, zvfix::kRegionBoardConfig1));
            EXPECT_NE(zvfix::ReadRegion(control.Path(), 0, zvfix::kRegionBoardConfig1),
                      zvfix::ReadRegion(pristine.Path(), 0, zvfix::kRegionBoardConfig1));
            EXPECT_TRUE(zvtest::Has(clean.outputFile, "Upgrading MBI version from 06.05.01 to 06.05.01: completed"))
                << clean.outputFile;
        }
        Family settled = f;
        settled.served = [servedCopy = f.servedCopy](const std::string& dir, const std::string& clean, bool) {
            EXPECT_EQ(servedCopy(dir), servedCopy(clean)) << "the board configuration that serves is not X's";
        };

        const std::string flow = reboot ? ", enabled again after a disable and a reboot"
                                        : ", enabled again after a disable before the reboot";
        EveryPoint(f, writes, flow, [&](size_t n, const zvfix::PowerLossSpec& cut) {
            zvtest::TempDir dir;
            fromHistory(dir.Path());
            host.powerLoss = cut;
            RewriteHostJson(host, dir.Path());
            const std::vector<zvfix::JournalEntry> journal = CutRun(inst, dir.Path(), {}, historyWrites, n, cut);

            ToolRun verdict;
            ExpectVolatileStateGoesWithThePower(dir.Path(), before, &verdict);
            if (verdict.status != 0) {
                const ToolRun other = RebootTool("--verify " + after + " " + dir.Path());
                EXPECT_EQ(other.status, 0) << verdict.out << other.out;
            }
            const Bytes served = f.servedCopy(dir.Path());
            EXPECT_TRUE(std::any_of(whole.begin(), whole.end(), [&served](const Bytes& b) { return b == served; }))
                << "the board configuration that serves is torn";
            host.powerLoss.reset();
            RewriteHostJson(host, dir.Path());
            ExpectRerunSettles(settled, inst, dir.Path(), control.Path(), onlyNew);
            ExpectMemoRegionsKeepTheirOwnBytes(host.adapters[0], dir.Path(), pristine.Path(),
                                               LostInTheCut(host.adapters[0], cut, journal));
            return RegionsUnlikeControl(f, host.adapters[0], dir.Path(), control.Path(), pristine.Path());
        });
    }

    // The packages of kChip27Packages share no component. The adapter runs P
    // (enabled, rebooted); with `enableAFirst` A is enabled before the
    // reboot; then the last run (package `package`, disabled with `disable`,
    // given `args`, exiting one of `whole` when whole) is cut at each of its
    // writes, with `secondPass` only at those of its second pass over the
    // adapter (`--ports`); with `failing`, each of its writes fails once with
    // EIO instead, and the run ends "Failed." (3).
    struct MixedCut {
        bool enableAFirst = false;
        size_t package = 0;
        bool disable = false;
        std::vector<std::string> args;
        std::set<int> whole{1};
        bool secondPass = false;
        bool failing = false;
        MixedCut& AfterAnEnableOfA() { enableAFirst = true; return *this; }
        MixedCut& Of(size_t p) { package = p; return *this; }
        MixedCut& Disabled() { disable = true; return *this; }
        MixedCut& With(std::vector<std::string> a, std::set<int> w = {1}) {
            args = std::move(a);
            whole = std::move(w);
            return *this;
        }
        MixedCut& InTheSecondPass() { secondPass = true; return *this; }
        MixedCut& FailingEachWriteOnce() { failing = true; return *this; }
    };
    struct PackageEnables {
        int updates = 0, updatesOverItsOwn = 0, notRequired = 0;
    };

    // After each cut and a power cycle, on a copy of the host for each
    // package X, the enable of X. The adapter boots X only where the set that
    // boots holds X's regions and the board-configuration copy that serves
    // holds X's board configuration (any whole one for N, which has none of
    // its own): there alone may it be "not required", and there it must be
    // where that set's memo block names X (the image-status records settled).
    // Anywhere else it updates.
    void SweepMixedPackages(const std::string& flow, const MixedCut& last) {
        namespace fs = std::filesystem;
        static constexpr size_t kCount = kChip27Packages.size();   // also: no package
        const Family f = Chip27();
        zvfix::HostBuilder host;
        f.build(host);
        std::array<zvtest::InstallDir, kCount> enables;
        for (size_t i = 0; i < kCount; ++i) InstallChip27Package(enables[i], kChip27Packages[i]);
        zvtest::InstallDir disableB;
        InstallChip27Package(disableB, kChip27Packages[2], true);
        InstallChip27Package(inst, kChip27Packages[last.package], last.disable);

        // Each package's bytes as a clean run leaves them: P enabled, a
        // reboot, A enabled, B disabled, N enabled; the history is taken on
        // the way. N's run leaves the board configuration it found serving.
        std::array<std::string, kCount> manifests;
        std::array<Bytes, kCount> boardConfigs;
        std::array<std::vector<Bytes>, kCount> sets;
        host.Write(control.Path());
        const auto clean = [&](const zvtest::InstallDir& in, size_t i) {
            const zvtest::RunResult r = RunOn(in, control.Path());
            EXPECT_EQ(r.status, 1) << r.out << r.outputFile;
            manifests[i] = control.Path() + "/" + kChip27Packages[i].name + ".json";
            WriteNewSetManifest(f, control.Path(), manifests[i]);
            boardConfigs[i] = f.servedCopy(control.Path());
            const bool first = Active(zvfix::ReadRegion(control.Path(), 0, zvfix::kRegionImageStatus1));
            for (const uint32_t code : first ? f.set1 : f.set2)
                sets[i].push_back(zvfix::ReadRegion(control.Path(), 0, code));
        };
        const auto takeHistory = [&] {
            fs::copy(control.Path(), pristine.Path(),
                     fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        };
        clean(enables[0], 0);
        ASSERT_EQ(RebootTool(control.Path()).status, 0);
        if (!last.enableAFirst) takeHistory();
        clean(enables[1], 1);
        if (last.enableAFirst) takeHistory();
        clean(disableB, 2);
        clean(enables[3], 3);
        ASSERT_FALSE(HasFailure());
        for (size_t i = 0; i < kCount; ++i) {
            for (size_t j = i + 1; j < kCount; ++j) {
                const bool ownConfigs = kChip27Packages[i].boardConfig && kChip27Packages[j].boardConfig;
                if (ownConfigs) {
                    EXPECT_NE(boardConfigs[i], boardConfigs[j]);
                }
                for (size_t k = 0; k < f.set1.size(); ++k) {
                    if (!ownConfigs && f.ownChoice.count(f.set1[k]) != 0) continue;
                    EXPECT_NE(sets[i][k], sets[j][k]) << std::hex << "packages " << kChip27Packages[i].name
                                                      << " and " << kChip27Packages[j].name << " share component 0x"
                                                      << f.set1[k];
                }
            }
        }

        const size_t historyWrites = zvfix::ReadJournal(pristine.Path()).size();
        fs::copy(pristine.Path(), twiceRun.Path(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        const zvtest::RunResult whole = RunOn(inst, twiceRun.Path(), last.args);
        ASSERT_EQ(last.whole.count(whole.status), 1u) << whole.status << "\n" << whole.out << whole.outputFile;
        const std::vector<zvfix::JournalEntry> all = zvfix::ReadJournal(twiceRun.Path());
        const std::vector<zvfix::JournalEntry> writes(all.begin() + static_cast<long>(historyWrites), all.end());
        size_t firstCut = 1;
        if (last.secondPass) {
            zvtest::TempDir onePass;
            fs::copy(pristine.Path(), onePass.Path(), fs::copy_options::recursive);
            ASSERT_EQ(RunOn(inst, onePass.Path()).status, 1);
            firstCut = zvfix::ReadJournal(onePass.Path()).size() - historyWrites + 1;
            ASSERT_LT(firstCut, writes.size()) << "the second pass writes";
        }

        std::array<PackageEnables, kCount> counts;
        int mixed = 0;
        EveryPoint(f, writes, flow, [&](size_t n, const zvfix::PowerLossSpec& cut) -> std::vector<uint32_t> {
            zvtest::TempDir dir;
            fs::copy(pristine.Path(), dir.Path(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
            ToolRun verdict;
            if (last.failing) {
                const uint32_t passed = static_cast<uint32_t>(n - 1);
                host.adapters[0].faults = {zvfix::FaultSpec::Fail("flash_write", 5, 1).Skip(passed)};
                RewriteHostJson(host, dir.Path());
                const zvtest::RunResult r = RunOn(inst, dir.Path(), last.args);
                EXPECT_TRUE(r.status == 3 && zvtest::Has(r.out + r.outputFile, "Failed."))
                    << r.status << "\n" << r.out << r.outputFile;
                host.adapters[0].faults.clear();
                verdict = RebootTool("--power-cycle --verify " + manifests[0] + " " + dir.Path());
            } else {
                host.powerLoss = cut;
                RewriteHostJson(host, dir.Path());
                CutRun(inst, dir.Path(), last.args, historyWrites, n, cut);
                ExpectVolatileStateGoesWithThePower(dir.Path(), manifests[0], &verdict);
            }

            // What boots: the package whose set verifies, and the one whose
            // board configuration the copy that serves holds (none: kCount).
            size_t setOf = verdict.status == 0 ? 0 : kCount;
            for (size_t i = 1; i < kCount; ++i) {
                if (RebootTool("--verify " + manifests[i] + " " + dir.Path()).status == 0) setOf = i;
            }
            const size_t at = verdict.out.find(": boots set ");
            const int bootSet = at == std::string::npos ? 0 : verdict.out[at + 12] - '0';
            const Bytes served = f.servedCopy(dir.Path());
            const uint32_t copy = served == zvfix::ReadRegion(dir.Path(), 0, zvfix::kRegionBoardConfig1)
                                      ? zvfix::kRegionBoardConfig1
                                      : zvfix::kRegionBoardConfig2;
            size_t copyOf = kCount;
            for (size_t i = 0; i < kCount; ++i) {
                if (kChip27Packages[i].boardConfig && served == boardConfigs[i]) copyOf = i;
            }
            const auto named = [](size_t i) { return i < kCount ? kChip27Packages[i].name : "no package"; };
            std::ostringstream boots;
            boots << "boots set " << bootSet << " holding " << named(setOf) << ", board configuration 0x" << std::hex
                  << copy << " holding " << named(copyOf) << "\n";
            EXPECT_TRUE(setOf < kCount && copyOf < kCount) << "no whole package boots: " << boots.str() << verdict.out;
            if (setOf < kCount && copyOf < kCount && setOf != copyOf && kChip27Packages[setOf].boardConfig) ++mixed;

            host.powerLoss.reset();
            RewriteHostJson(host, dir.Path());
            const Bytes memo =
                zvfix::ReadRegion(dir.Path(), 0, bootSet == 2 ? zvfix::kRegionMemo2 : zvfix::kRegionMemo1);
            const auto activeRecord = [&dir](uint32_t code) {
                const Bytes r = zvfix::ReadRegion(dir.Path(), 0, code);
                return Active(r) && Sound(r);
            };
            const bool settled =
                !(activeRecord(zvfix::kRegionImageStatus1) && activeRecord(zvfix::kRegionImageStatus2));
            for (size_t i = 0; i < kCount; ++i) {
                const Chip27Package& x = kChip27Packages[i];
                zvtest::TempDir scratch;
                const bool lastEnable = i + 1 == kCount;
                if (!lastEnable) fs::copy(dir.Path(), scratch.Path(), fs::copy_options::recursive);
                const zvtest::RunResult r = RunOn(enables[i], lastEnable ? dir.Path() : scratch.Path());
                const bool notRequired = zvtest::Has(r.out + r.outputFile, "Not required.");
                const bool itsOwn = setOf == i && (copyOf == i || !x.boardConfig);
                if (itsOwn && settled && MemoNames(memo, x.version)) {
                    EXPECT_TRUE(r.status == 2 && notRequired)
                        << "the adapter boots " << x.name << ": " << r.status << " " << boots.str() << r.out
                        << r.outputFile;
                    ++counts[i].notRequired;
                } else {
                    EXPECT_TRUE(r.status == 1 && !notRequired)
                        << "the enable of " << x.name << " must update: " << r.status << " " << boots.str() << r.out
                        << r.outputFile;
                    ++counts[i].updates;
                    if (itsOwn) ++counts[i].updatesOverItsOwn;
                }
            }
            return {};
        }, firstCut, last.failing ? "fails once with EIO" : nullptr);
        std::printf("[ sweep    ] %s%s: after each %s the enable of", f.name.c_str(), flow.c_str(),
                    last.failing ? "failed write" : "cut");
        for (size_t i = 0; i < kCount; ++i) {
            std::printf("%s %s updates at %d points (%d where it boots), is not required at %d", i == 0 ? "" : ";",
                        kChip27Packages[i].name, counts[i].updates, counts[i].updatesOverItsOwn,
                        counts[i].notRequired);
        }
        std::printf("; %d points boot one package's set with another's board configuration\n", mixed);
        std::fflush(stdout);
    }
};

TEST_F(PowerLossSweep, Chip25OnlineUpdate) { Sweep(Chip25(true, true)); }
TEST_F(PowerLossSweep, Chip25OfflineUpdate) { Sweep(Chip25(false, true)); }
TEST_F(PowerLossSweep, Chip27OnlineUpdate) { Sweep(Chip27()); }
TEST_F(PowerLossSweep, Chip27OnlineUpdateRerunTwiceBeforeReboot) { Sweep(Chip27(), true); }
// A second run before the reboot rewrites the set and the board
// configuration the first one marked to start from next.
TEST_F(PowerLossSweep, Chip27OnlineUpdateSecondRunBeforeRebootCut) { SweepLastRun(Chip27(), LastRun()); }
TEST_F(PowerLossSweep, Chip27OnlineUpdateDisableBeforeRebootCut) { SweepLastRun(Chip27(), LastRun().Disabled()); }
// The chip-type-25 on-line engine takes the set it writes from the records:
// never the one they mark to start from next.
TEST_F(PowerLossSweep, Chip25OnlineUpdateDisableBeforeRebootCut) {
    SweepLastRun(Chip25(true, true), LastRun().Disabled());
}
TEST_F(PowerLossSweep, Chip25OnlineUpdateRerunTwiceBeforeReboot) { Sweep(Chip25(true, true), true); }
TEST_F(PowerLossSweep, Chip25OfflineUpdateRerunTwiceBeforeReboot) { Sweep(Chip25(false, true), true); }
// Templates that name a few bytes: what a cut tears in a single-copy table
// comes back from the copy the update kept on the host.
TEST_F(PowerLossSweep, Chip25OnlineUpdateOrdinaryTemplates) { Sweep(Chip25OrdinaryTemplates(true)); }
TEST_F(PowerLossSweep, Chip25OfflineUpdateOrdinaryTemplates) { Sweep(Chip25OrdinaryTemplates(false)); }
// A cut at the end of the board configuration's first erase block erases its
// SerDes table while its own checksum still holds: the copy goes back all the same.
TEST_F(PowerLossSweep, Chip25OnlineUpdateBoardConfigShortOfItsSerdesTable) { Sweep(Chip25ShortBoardConfig(true)); }
// The reruns find no preload template: the preload table's copy goes back all the same.
TEST_F(PowerLossSweep, Chip25OnlineUpdateNoPreloadTemplateOnRerun) { Sweep(Chip25NoPreloadTemplateOnRerun(true)); }
// The chip-type-25 off-line engine always writes the primary set: with the
// secondary running, a second run before the reboot rewrites the set the
// first marked to start from next.
TEST_F(PowerLossSweep, Chip25OfflineUpdateDisableBeforeRebootCut) {
    SweepLastRun(Chip25(false, true), LastRun().Disabled());
}
TEST_F(PowerLossSweep, Chip25OfflineUpdateForcedBeforeRebootCut) {
    SweepLastRun(Chip25(false, true), LastRun().With({"--force"}, 1));
}
TEST_F(PowerLossSweep, Chip25OfflineUpdateImageFromFileBeforeRebootCut) {
    SweepLastRun(Chip25(false, true), LastRun().With({"--vobi", "-b", "0", "kv_mbi.bin"}, 0));
}
// Histories whose last run leaves the records starting a set other than the
// one the memo block names, unless the block names none first: enable,
// reboot, disable of another version cut (on line: after its record switch
// the set it wrote starts); enable, then a forced run, a disable or "-b"
// before the reboot cut (off line: after its hold the running set starts;
// chip type 27, a disable of another version without a board configuration:
// after its image-status hold the running set starts, after its switch the
// set it wrote, the auxiliary records never held). A plain enable follows
// each cut; after a last run of another version it updates wherever that
// run wrote.
TEST_F(PowerLossSweep, Chip25OnlineUpdateRebootThenDisableCutThenEnable) {
    SweepLastRun(Chip25DisableOfAnotherVersion(true),
                 LastRun().Disabled().OfAnotherVersion().AfterAReboot().ThenEnabled());
}
TEST_F(PowerLossSweep, Chip25OfflineUpdateForcedBeforeRebootCutThenEnable) {
    SweepLastRun(Chip25(false, true), LastRun().With({"--force"}, 1).ThenEnabled());
}
TEST_F(PowerLossSweep, Chip25OfflineUpdateDisableBeforeRebootCutThenEnable) {
    SweepLastRun(Chip25DisableOfAnotherVersion(false), LastRun().Disabled().OfAnotherVersion().ThenEnabled());
}
TEST_F(PowerLossSweep, Chip27OnlineUpdateDisableBeforeRebootCutThenEnable) {
    SweepLastRun(Chip27DisableOfAnotherVersion(), LastRun().Disabled().OfAnotherVersion().ThenEnabled());
}
TEST_F(PowerLossSweep, Chip25OfflineUpdateImageFromFileBeforeRebootCutThenEnable) {
    SweepLastRun(Chip25(false, true), LastRun().With({"--vobi", "-b", "0", "kv_mbi.bin"}, 0).ThenEnabled());
}

// Enable, reboot, disable with another version, (reboot,) enable again: the
// set the last run writes, or the set the records start, names the version
// of the run from an earlier one.
TEST_F(PowerLossSweep, Chip27OnlineUpdateEnableAgainAfterDisableAndReboot) {
    SweepEnableAgainAfterDisable(Chip27(), true);
}
TEST_F(PowerLossSweep, Chip27OnlineUpdateEnableAgainAfterDisableBeforeReboot) {
    SweepEnableAgainAfterDisable(Chip27(), false);
}

// A, enabled before the reboot over the P the adapter runs, and then a
// disable with B cut: a cut between its holds may start P's set with A's
// board configuration or A's set with P's, never called up to date.
TEST_F(PowerLossSweep, Chip27MixedPackagesDisableOfAnotherAfterAnEnableBeforeRebootCut) {
    SweepMixedPackages(", P running, A enabled, then B disabled cut",
                       MixedCut().AfterAnEnableOfA().Of(2).Disabled());
}
// The same, then P enabled again cut: its holds bring back the P the
// adapter runs, set and board configuration, which only then is up to date.
TEST_F(PowerLossSweep, Chip27MixedPackagesEnableOfTheRunningAfterAnEnableBeforeRebootCut) {
    SweepMixedPackages(", P running, A enabled, then P enabled cut", MixedCut().AfterAnEnableOfA().Of(0));
}
// An enable of A over every port: its second pass rewrites what the first
// wrote, as a second run before the reboot does.
TEST_F(PowerLossSweep, Chip27MixedPackagesEnableOnEveryPortCutInTheSecondPass) {
    SweepMixedPackages(", P running, A enabled with --ports cut in its second pass",
                       MixedCut().Of(1).With({"--ports"}).InTheSecondPass());
}
// A, enabled before the reboot over the P the adapter runs, and then an
// enable of N, whose image has no board configuration, cut or failing: the
// set that boots never passes for P's over A's board configuration.
TEST_F(PowerLossSweep, Chip27MixedPackagesEnableWithoutABoardConfigurationAfterAnEnableBeforeRebootCut) {
    SweepMixedPackages(", P running, A enabled, then N enabled cut", MixedCut().AfterAnEnableOfA().Of(3));
}
TEST_F(PowerLossSweep, Chip27MixedPackagesEnableWithoutABoardConfigurationAfterAnEnableBeforeRebootFailing) {
    SweepMixedPackages(", P running, A enabled, then N enabled failing",
                       MixedCut().AfterAnEnableOfA().Of(3).FailingEachWriteOnce());
}
TEST_F(PowerLossSweep, Chip27MixedPackagesImageWithoutABoardConfigurationFromFileAfterAnEnableBeforeRebootCut) {
    SweepMixedPackages(", P running, A enabled, then N written with -b cut",
                       MixedCut().AfterAnEnableOfA().Of(3).With({"-b", "0", "kv_gen7_mbi.bin", "--zuka"}, {0, 201}));
}

}  // namespace
