// A power cut that programs none of an image-status or auxiliary record's
// write leaves the record erased. After the power cycle the rerun must write
// the record whole, as a clean run does: no erased byte kept in its mask,
// bitmap, reserved or tool-id bytes. Where the rerun gives the record the
// role the clean run gave it (the first record written of each pair: the
// rerun writes the same set again), every byte of its region equals the
// clean run's.
#include <signal.h>

#include <sstream>
#include <string>
#include <vector>

#include "e2e/online_update_families.h"
#include "e2e/run_helpers.h"

namespace {
using namespace zvonline;

class RecordCut : public zve2e::IsolatedTest {
protected:
    void Check(const Family& f) {
        zvfix::HostBuilder host;
        f.build(host);
        f.install(inst);
        const std::string oldOrNew = control.Path() + "/old-or-new.json", onlyNew = control.Path() + "/new.json";
        const std::vector<zvfix::JournalEntry> writes = ControlRun(f, host, inst, control.Path(), oldOrNew, onlyNew);
        for (const auto& [one, two] : f.recordPairs) {
            bool firstOfPair = true;
            for (size_t n = 1; n <= writes.size(); ++n) {
                const uint32_t code = writes[n - 1].region;
                if (code != one && code != two) continue;
                std::ostringstream where;
                where << f.name << ": write " << n << " (region 0x" << std::hex << code << ")";
                SCOPED_TRACE(where.str());
                zvtest::TempDir dir;
                host.powerLoss = zvfix::PowerLossSpec::During(n, 0);
                host.Write(dir.Path());
                const zvtest::RunResult r = RunOn(inst, dir.Path());
                EXPECT_EQ(r.status, 128 + SIGKILL) << r.out << r.err;
                const Bytes cut = zvfix::ReadRegion(dir.Path(), 0, code);
                EXPECT_EQ(Bytes(cut.begin(), cut.begin() + 16), Bytes(16, 0xFF)) << "nothing of the record landed";
                EXPECT_EQ(RebootTool("--power-cycle --verify " + oldOrNew + " " + dir.Path()).status, 0);
                host.powerLoss.reset();
                RewriteHostJson(host, dir.Path());
                ExpectRerunSettles(f, inst, dir.Path(), control.Path(), onlyNew);

                const Bytes now = zvfix::ReadRegion(dir.Path(), 0, code);
                const Bytes clean = zvfix::ReadRegion(control.Path(), 0, code);
                EXPECT_TRUE(now[0] == 0 || now[0] == 1) << "mask " << int{now[0]};
                // The clean run's record carries the format, reserved and tool-id bytes the pair holds.
                EXPECT_EQ(Bytes(now.begin() + 3, now.begin() + 5), Bytes(clean.begin() + 3, clean.begin() + 5));
                EXPECT_NE(now[5], 0xFF);
                EXPECT_EQ(now[6], clean[6]);
                EXPECT_NE(now[7], 0xFF);
                if (firstOfPair) {
                    EXPECT_EQ(now, clean) << "unlike the clean run's record";
                }
                firstOfPair = false;
            }
        }
    }
    zvtest::InstallDir inst;
    zvtest::TempDir control;
};

TEST_F(RecordCut, Chip25OnlineUpdate) { Check(Chip25(true)); }
TEST_F(RecordCut, Chip27OnlineUpdate) { Check(Chip27()); }
// The off-line engine leaves the primary set booting from its record alone
// when the secondary's write is cut: the rerun writes that one back.
TEST_F(RecordCut, Chip25OfflineUpdate) { Check(Chip25(false, true)); }

}  // namespace
