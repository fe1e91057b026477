// Every region the two-set updates write (on-line, and the chip-25 off-line
// engine), under every way a write can go wrong (fails, lands in part, lies
// about what it stored, stays busy past the retries, meets a lockdown), and
// the session and firmware-attribute refusals of each on-line flow. For
// each: the exit status, the engine's status and the output file say what
// happened, the adapter boots a complete set (its old one, records untouched,
// while the records were not reached), no session token is left behind, and
// a rerun without the fault completes the update. Each family prints its
// counts.
#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "e2e/online_update_families.h"
#include "e2e/run_helpers.h"
#include "mgmt/sd_shared_db.h"

namespace {
using namespace zvonline;

bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

struct Fault {
    std::string name;
    zvfix::FaultSpec spec;
};

std::vector<Fault> RegionFaults(uint32_t region) {
    return {
        {"failed write", zvfix::FaultSpec::Fail("flash_write", 5).OnRegion(region)},
        {"partial write", zvfix::FaultSpec::PartialWrite(0x80, 5).OnRegion(region)},
        {"lying write", zvfix::FaultSpec::CorruptWrite().OnRegion(region)},
        {"busy storm", zvfix::FaultSpec::Busy("flash_write", 40).OnRegion(region)},
        {"lockdown", zvfix::FaultSpec::Lockdown().OnRegion(region)},
    };
}

std::vector<Fault> FlowFaults() {
    return {
        {"session refused", zvfix::FaultSpec::Fail("flash_update_start", 0x200000C0)},
        {"session close fails", zvfix::FaultSpec::Fail("flash_update_end", 0x200000C1)},
        {"firmware attributes refused", zvfix::FaultSpec::Fail("fw_attributes_send", 5)},
    };
}

class FaultMatrix : public zve2e::IsolatedTest {
protected:
    void Matrix(const Family& f) {
        zvfix::HostBuilder host;
        f.build(host);
        f.install(inst);
        const std::string oldOrNew = control.Path() + "/old-or-new.json", onlyNew = control.Path() + "/new.json";
        const std::vector<zvfix::JournalEntry> writes = ControlRun(f, host, inst, control.Path(), oldOrNew, onlyNew);
        ASSERT_FALSE(writes.empty());
        // Faults before the first record write leave the old set running; faults
        // after the last one meet an update already in place.
        const auto isRecord = [&](uint32_t code) {
            for (const auto& [a, b] : f.recordPairs) {
                if (code == a || code == b) return true;
            }
            return false;
        };
        size_t firstRecord = writes.size(), lastRecord = 0;
        for (size_t i = 0; i < writes.size(); ++i) {
            if (!isRecord(writes[i].region)) continue;
            firstRecord = std::min(firstRecord, i);
            lastRecord = i;
        }

        int cases = 0;
        const size_t stride = static_cast<size_t>(WriteStride(9));
        for (size_t i = 0; i < writes.size(); i += stride) {
            for (const Fault& fault : RegionFaults(writes[i].region)) {
                Case(f, host, fault, i < firstRecord ? kBefore : i > lastRecord ? kAfter : kAmong, oldOrNew, onlyNew);
                ++cases;
            }
        }
        const std::vector<Fault> flowFaults = f.session ? FlowFaults() : std::vector<Fault>{};
        for (const Fault& fault : flowFaults) {
            Case(f, host, fault, fault.name == "session close fails" ? kAfter : kBefore, oldOrNew, onlyNew);
            ++cases;
        }
        std::printf("[ matrix   ] %s: %zu regions (stride %zu) x %zu write faults + %zu session faults = %d cases\n",
                    f.name.c_str(), writes.size(), stride, RegionFaults(0).size(), flowFaults.size(), cases);
        std::fflush(stdout);
    }

    // Where the fault meets the update: before its records, among them, after them.
    enum When { kBefore, kAmong, kAfter };

    void Case(const Family& f, zvfix::HostBuilder host, const Fault& fault, When when, const std::string& oldOrNew,
              const std::string& onlyNew) {
        std::ostringstream where;
        where << f.name << ": " << fault.name;
        if (fault.spec.region) where << " at region 0x" << std::hex << *fault.spec.region;
        SCOPED_TRACE(where.str());
        zvtest::TempDir dir;
        host.adapters.front().faults = {fault.spec};
        host.Write(dir.Path());
        std::vector<zvfix::Bytes> records;
        for (const auto& [a, b] : f.recordPairs) {
            records.push_back(zvfix::ReadRegion(dir.Path(), 0, a));
            records.push_back(zvfix::ReadRegion(dir.Path(), 0, b));
        }
        const zvtest::RunResult r = RunOn(inst, dir.Path(), {"-trace"});
        if (std::getenv("ZV_MATRIX_DEBUG")) {
            std::printf("%s: status %d\n%s\n", where.str().c_str(), r.status, r.outputFile.c_str());
        }

        // What the run says: a failure, or (once the records are written) a
        // complete update whose output names the step that went wrong.
        if (r.status == 1 && when == kAfter) {
            EXPECT_TRUE(Has(r.outputFile, "06.05.01: completed\n")) << r.outputFile;
            if (fault.name != "session close fails") {
                EXPECT_TRUE(Has(r.outputFile, "... Failed\n") || Has(r.outputFile, "... Unsuccessful\n"))
                    << r.outputFile;
            }
        } else {
            EXPECT_EQ(r.status, 3) << r.out << r.outputFile;
            EXPECT_TRUE(Has(r.outputFile, "06.05.01: failed\n")) << r.outputFile;
            EXPECT_TRUE(Has(r.out + r.outputFile, "MCTP config enable: Failed.\n")) << r.out;
            // The engine ends with the status of the region that failed (a
            // lockdown has its own, but for the records).
            const auto own = fault.spec.region ? f.failStatus.find(*fault.spec.region) : f.failStatus.end();
            if (own != f.failStatus.end()) {
                const bool record = own->first == zvfix::kRegionImageStatus1 ||
                                    own->first == zvfix::kRegionImageStatus2;
                EXPECT_EQ(EngineStatus(r), fault.name == "lockdown" && !record ? 0x1D3 : own->second);
            }
        }
        if (when == kBefore) {
            // Not reached: the records are as they were.
            size_t i = 0;
            for (const auto& [a, b] : f.recordPairs) {
                EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, a), records[i++]) << std::hex << a;
                EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, b), records[i++]) << std::hex << b;
            }
        }

        // No session outlives the run.
        ASSERT_EQ(zvapi_shdb_attach(), 0u);
        EXPECT_EQ(zvapi_shdb_token_holder(host.adapters.front().serial), 0);
        zvapi_shdb_detach();

        // A complete set boots: the old one while the records were not reached.
        const ToolRun verdict = RebootTool("--verify " + oldOrNew + " " + dir.Path());
        EXPECT_EQ(verdict.status, 0) << verdict.out;
        if (when == kBefore) {
            EXPECT_NE(verdict.out.find("boots set " + std::to_string(f.runningSet) + ": intact"), std::string::npos)
                << verdict.out;
        }
        if (f.served) f.served(dir.Path(), control.Path(), true);

        host.adapters.front().faults.clear();
        RewriteHostJson(host, dir.Path());
        ExpectRerunSettles(f, inst, dir.Path(), control.Path(), onlyNew);
    }

    zvtest::InstallDir inst;
    zvtest::TempDir control;
};

TEST_F(FaultMatrix, Chip25OnlineUpdate) { Matrix(Chip25(true)); }
TEST_F(FaultMatrix, Chip25OfflineUpdate) { Matrix(Chip25(false)); }
TEST_F(FaultMatrix, Chip27OnlineUpdate) { Matrix(Chip27()); }

}  // namespace
