// A record of an image-status or auxiliary pair that is not valid (torn by an
// earlier cut partway through its write) must come out of every update that
// rewrites the pair valid: signature, checksum, and a generation below the
// active record's, as a clean run leaves it. The adapter then boots the set
// the update made active, and a rerun finds nothing to do.
#include <signal.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "e2e/online_update_families.h"
#include "e2e/run_helpers.h"
#include "fixtures/byte_order.h"

namespace {
using namespace zvonline;

// Both records of a pair as the adapter accepts them, one active, and the
// inactive one behind it; format, reserved and tool-id bytes as the clean run
// left them.
void ExpectPairSound(const std::string& dir, const std::string& control, uint32_t one, uint32_t two,
                     uint32_t signature, uint32_t active) {
    SCOPED_TRACE(testing::Message() << std::hex << "records 0x" << one << "/0x" << two);
    const Bytes on = zvfix::ReadRegion(dir, 0, active), off = zvfix::ReadRegion(dir, 0, active == one ? two : one);
    for (const Bytes* r : {&on, &off}) {
        EXPECT_EQ(zvfix::Le32(*r, 12), signature);
        EXPECT_EQ(zvfix::Le32(*r, 8), zvfix::ImageStatusChecksum(*r)) << "checksum";
    }
    EXPECT_EQ(std::pair(on[0], off[0]), std::pair(uint8_t{1}, uint8_t{0}));
    EXPECT_LT(zvfix::Le16(off, 1), zvfix::Le16(on, 1));
    const Bytes clean = zvfix::ReadRegion(control, 0, active == one ? two : one);
    EXPECT_EQ(Bytes(off.begin() + 3, off.begin() + 8), Bytes(clean.begin() + 3, clean.begin() + 8));
}

class TornStatusRecord : public zve2e::IsolatedTest {
protected:
    zvtest::InstallDir inst;
    zvtest::TempDir control;
};

// A chip-type-27 adapter running set 1 whose record is torn from byte `from`
// on: the update writes set 2, makes it active and leaves the torn record
// valid and inactive.
TEST_F(TornStatusRecord, Chip27RecordTornPartwayIsValidAfterTheUpdate) {
    const Family f = Chip27();
    f.install(inst);
    zvfix::HostBuilder host;
    f.build(host);
    const std::string oldOrNew = control.Path() + "/old-or-new.json", onlyNew = control.Path() + "/new.json";
    ControlRun(f, host, inst, control.Path(), oldOrNew, onlyNew);

    struct Case {
        uint32_t region;
        size_t from;
    };
    for (const Case c : {Case{zvfix::kRegionImageStatus1, 4}, Case{zvfix::kRegionImageStatus1, 8},
                         Case{zvfix::kRegionAuxStatus1, 4}, Case{zvfix::kRegionAuxStatus1, 8}}) {
        SCOPED_TRACE(testing::Message() << std::hex << "region 0x" << c.region << " torn from byte " << c.from);
        zvfix::HostBuilder torn;
        f.build(torn);
        const bool aux = c.region == zvfix::kRegionAuxStatus1;
        Bytes record = zvfix::MakeImageStatusRecord(1, 1, aux ? zvfix::kSigAuxImageStatus : zvfix::kSigImageStatus27);
        std::fill(record.begin() + static_cast<long>(c.from), record.end(), uint8_t{0xFF});
        torn.adapters[0].SetRegion(c.region, record);
        zvtest::TempDir dir;
        torn.Write(dir.Path());
        {
            // Before the update the adapter boots set 1 all the same.
            const ToolRun v = RebootTool("--verify " + oldOrNew + " " + dir.Path());
            EXPECT_EQ(v.status, 0) << v.out;
            EXPECT_NE(v.out.find("boots set 1: intact"), std::string::npos) << v.out;
        }

        const zvtest::RunResult r = RunOn(inst, dir.Path());
        EXPECT_EQ(r.status, 1) << r.out << r.err << r.outputFile;
        EXPECT_NE(r.out.find("Update is complete."), std::string::npos) << r.out;
        ExpectPairSound(dir.Path(), control.Path(), zvfix::kRegionImageStatus1, zvfix::kRegionImageStatus2,
                        zvfix::kSigImageStatus27, zvfix::kRegionImageStatus2);
        ExpectPairSound(dir.Path(), control.Path(), zvfix::kRegionAuxStatus1, zvfix::kRegionAuxStatus2,
                        zvfix::kSigAuxImageStatus, zvfix::kRegionAuxStatus2);
        // The new set boots whole, the board configuration just written serves,
        // and a rerun writes nothing.
        ExpectRerunSettles(f, inst, dir.Path(), control.Path(), onlyNew);
        const ToolRun v = RebootTool("--power-cycle --verify " + onlyNew + " " + dir.Path());
        EXPECT_NE(v.out.find("boots set 2: intact"), std::string::npos) << v.out;
    }
}

// The off-line chip-type-25 engine, cut while it writes the second record
// (nothing of it lands): after the power cycle the primary set boots from its
// record alone, and the rerun must write the secondary record back valid.
TEST_F(TornStatusRecord, Chip25OfflineCutInTheSecondRecordIsRepairedByTheRerun) {
    const Family f = Chip25(false, true);
    f.install(inst);
    zvfix::HostBuilder host;
    f.build(host);
    const std::string oldOrNew = control.Path() + "/old-or-new.json", onlyNew = control.Path() + "/new.json";
    const std::vector<zvfix::JournalEntry> writes = ControlRun(f, host, inst, control.Path(), oldOrNew, onlyNew);
    const auto at = std::find_if(writes.begin(), writes.end(),
                                 [](const zvfix::JournalEntry& e) { return e.region == zvfix::kRegionImageStatus2; });
    ASSERT_NE(at, writes.end());
    const uint64_t n = static_cast<uint64_t>(at - writes.begin()) + 1;
    // The two tables, the memo block naming no version, seven regions, 0x95, 0x96.
    EXPECT_EQ(n, 12u);

    for (const std::optional<uint32_t> landed : {std::optional<uint32_t>{0}, std::optional<uint32_t>{8}}) {
        SCOPED_TRACE(testing::Message() << "bytes landed " << *landed);
        zvtest::TempDir dir;
        zvfix::HostBuilder cut = host;
        cut.powerLoss = zvfix::PowerLossSpec::During(n, landed);
        cut.Write(dir.Path());
        const zvtest::RunResult r = RunOn(inst, dir.Path());
        EXPECT_EQ(r.status, 128 + SIGKILL) << r.out << r.err;
        EXPECT_EQ(RebootTool("--power-cycle --verify " + oldOrNew + " " + dir.Path()).status, 0);

        cut.powerLoss.reset();
        RewriteHostJson(cut, dir.Path());
        ExpectRerunSettles(f, inst, dir.Path(), control.Path(), onlyNew);
        // The booting primary's record was written once, by the cut run, never again.
        const std::vector<uint32_t> written = zve2e::Written(dir.Path());
        EXPECT_EQ(std::count(written.begin(), written.end(), zvfix::kRegionImageStatus1), 1);
        // Every byte of both records as the clean run left them.
        for (uint32_t code : {zvfix::kRegionImageStatus1, zvfix::kRegionImageStatus2}) {
            EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, code), zvfix::ReadRegion(control.Path(), 0, code))
                << std::hex << "region 0x" << code;
        }
        const ToolRun v = RebootTool("--power-cycle --verify " + onlyNew + " " + dir.Path());
        EXPECT_NE(v.out.find("boots set 1: intact"), std::string::npos) << v.out;
    }
}

}  // namespace
