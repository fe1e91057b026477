// The MCTP command writing chip-type-27 adapters end to end on fixture hosts:
// every component to its counterpart in the set the adapter does not run,
// the adapter's own settings carried over, memo block, image-status and
// auxiliary records last, and the new set serving after a reboot.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "e2e/run_helpers.h"
#include "fixtures/adapters_properties_builder.h"
#include "fixtures/board_template_builder.h"
#include "fixtures/flash_cfg_builder.h"
#include "fixtures/flash_layout_builder.h"
#include "fixtures/byte_order.h"
#include "fixtures/host_builder.h"
#include "fixtures/image_component_builder.h"
#include "fixtures/memo_block_builder.h"
#include "fixtures/multiboot_image_builder.h"
#include "fixtures/rom_chain_builder.h"
#include "e2e/online_update_families.h"
#include "mgmt/sdapi.h"
#include "support/e2e_support.h"

namespace {
using zve2e::Slice;
using zve2e::Written;
using zvfix::Bytes;
using zvfix::Le16;
using zvfix::Le32;
using zvtest::Has;
using zvtest::RunResult;

constexpr uint16_t kVendor = 0x1A77;
constexpr uint16_t kSsid27 = 0x02A9;
constexpr const char* kImage = "kv_gen7_mbi.bin";
constexpr const char* kImage25 = "kv_gen6_mbi.bin";

// The set-1 codes in the image's order and their set-2 counterparts.
const std::vector<uint32_t> kSet1 = {0x9E, 0x07, 0x11, 0xD2, 0xD1, 0xCF, 0x13, 0x101, 0xD3, 0x102, 0x103, 0xBA, 0x01};
const std::vector<uint32_t> kSet2 = {0x9F, 0x09, 0x0A, 0x105, 0xF1, 0x106, 0x107, 0x108, 0xF0, 0x109, 0x10A, 0x10B, 0x02};

class VrelUpdate : public zve2e::IsolatedTest {
protected:
    // A chip-type-27 adapter whose memo blocks say 6.04.00, with the adapter's
    // own boot-code defaults and board settings in both copies (the copy that
    // serves is told apart by its defaults fill and settings).
    zvfix::AdapterSpec& AddChip27() {
        zvfix::AdapterSpec& a = host.AddChip27(0x2281);
        a.subSystemId = kSsid27;
        const Bytes memo = zvfix::MakeMemoBlock({.mbi = {6, 4, 0, 0}});
        a.SetRegion(zvfix::kRegionMemo1, memo);
        a.SetRegion(zvfix::kRegionMemo2, memo);
        a.SetRegion(zvfix::kRegionBoot1, Boot(0x11));
        a.SetRegion(zvfix::kRegionBoot2, Boot(0x22));
        a.SetRegion(zvfix::kRegionBoardConfig1, zvfix::MakeFcBoardConfig({1, 0, 0, 0}, kVendor, kSsid27, primary));
        a.SetRegion(zvfix::kRegionBoardConfig2, zvfix::MakeFcBoardConfig({1, 0, 0, 0}, kVendor, kSsid27, secondary));
        return a;
    }

    static Bytes Boot(uint8_t defaultsFill) {
        zvfix::RomImageSpec bios = zvfix::RomImageSpec::Bios(0x2281);
        bios.defaultsFill = defaultsFill;
        bios.ssvid = kVendor;
        return zvfix::MakeRomChain({bios});
    }

    static Bytes Image(std::array<uint8_t, 3> version = {6, 5, 1}) {
        zvfix::MultibootImageSpec s =
            zvfix::VrelImageSpecWithTables({.deviceId = 0x2281, .ssvid = kVendor, .ssdid = kSsid27, .cardType = 1});
        s.imageVersion = version;
        return zvfix::BuildMultibootImage(s);
    }

    // The demo's installation files (flash.cfg rows, templates), the adapter
    // table of the host and the chip-type-27 image; the host goes to `dir`.
    void Install(const Bytes& image, const std::string& dir = "") {
        host.Write(dir.empty() ? hostDir.Path() : dir);
        zvfix::WriteMctpDemoInstall(inst.Path());
        inst.WriteFile("adapters.properties", zvfix::AdapterTableFor(host));
        inst.WriteFile(kImage, std::string(image.begin(), image.end()));
    }

    RunResult Run(const std::string& dir = "", std::vector<std::string> args = {}) {
        zvtest::RunOptions o;
        o.args = std::move(args);
        o.env = {{"ZV_SIM_HOST", dir.empty() ? hostDir.Path() : dir}};
        o.countSleeps = true;
        return zvtest::RunProgram(inst, o);
    }

    Bytes Region(uint32_t code, int adapter = 0) { return zvfix::ReadRegion(hostDir.Path(), adapter, code); }

    void ExpectNotRequiredAfterReboot() {
        ASSERT_EQ(zvfix::Reboot(hostDir.Path()), 0);
        const size_t writes = zvfix::ReadJournal(hostDir.Path()).size();
        const RunResult r = Run();
        EXPECT_EQ(r.status, 2) << r.out << r.outputFile;
        EXPECT_TRUE(Has(r.outputFile, "HBA KV2772: Upgrade is not required. MBI version is up to date (06.05.01)"))
            << r.outputFile;
        EXPECT_TRUE(r.out.ends_with("MCTP config enable: Not required.\n")) << r.out;
        EXPECT_EQ(zvfix::ReadJournal(hostDir.Path()).size(), writes);
    }

    zvfix::HostBuilder host;
    zvfix::FcSettings primary{0x2A, true, {3, 4, 5, 6}, {true, false, true, false}};
    zvfix::FcSettings secondary{0x15, false, {7, 7, 7, 7}, {false, true, false, true}};
    zvtest::TempDir hostDir;
    zvtest::InstallDir inst;
};

// The defaults block of the BIOS image (after "MEISP ") of a boot-code region.
Bytes Defaults(const Bytes& region) { return Slice(region, zvfix::kBiosDefaultsMarker + 6, 16); }

TEST_F(VrelUpdate, PrimaryActiveWritesTheSecondarySetAndSwitchesToItAtTheNextReboot) {
    AddChip27();
    Install(Image());
    const Bytes image = Image();
    std::vector<Bytes> set1Before;
    for (uint32_t code : kSet1) set1Before.push_back(Region(code));
    const Bytes memo1Before = Region(zvfix::kRegionMemo1);

    const RunResult r = Run();
    ASSERT_EQ(r.status, 1) << r.out << r.err << r.outputFile;
    // The engine's pauses: after each region (and between the firmware's write
    // and its read-back), after the walk, before each record confirmation and
    // after the records; then the command's second after the pass.
    std::vector<long> pauses(14, 5000);
    for (long ms : {4000L, 1000L, 1000L, 1000L, 1000L, 5000L, 1000L}) pauses.push_back(ms);
    EXPECT_EQ(r.sleepsMs, pauses);
    EXPECT_TRUE(r.out.ends_with("MCTP config enable: Update is complete.\n===================================\n"
                                "A SYSTEM REBOOT IS REQUIRED FOR THE\nNEW UPDATE TO TAKE EFFECT!\n"
                                "====================================\n"))
        << r.out;
    EXPECT_TRUE(Has(r.outputFile, "Verifying Adadpter FC Boot Code... Success\n")) << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, "Updating Adapter FC RISC Fw version 9.12.1... Success\n"));
    EXPECT_TRUE(Has(r.outputFile, "Updating Adapter Secondary Aux Image Status... Success\n"));
    EXPECT_TRUE(Has(r.outputFile, "Flash update complete. Changes have been saved to all ports of this HBA.\n"));
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2772: Upgrading MBI version from 06.04.00 to 06.05.01: completed\n"));

    // Set 2's memo block names no version first (it named 6.4.0), then
    // every component to its set-2 counterpart, image status (the new
    // active record first), the auxiliary records (the one that does not
    // serve now first) and the memo block last.
    std::vector<uint32_t> expected = {zvfix::kRegionMemo2};
    expected.insert(expected.end(), kSet2.begin(), kSet2.end());
    for (uint32_t code : {0x96u, 0x95u, 0x126u, 0x125u, 0x124u}) expected.push_back(code);
    EXPECT_EQ(Written(hostDir.Path()), expected);

    for (size_t i = 0; i < kSet1.size(); ++i) EXPECT_EQ(Region(kSet1[i]), set1Before[i]) << std::hex << kSet1[i];
    EXPECT_EQ(Region(zvfix::kRegionMemo1), memo1Before);

    // The serving copies' settings are carried over: boot-code defaults from
    // 0x07, board settings from 0xBA; the firmware is the image's.
    EXPECT_EQ(Defaults(Region(0x09)), Defaults(Boot(0x11)));
    const zvfix::FcSettings carried = zvfix::ReadFcSettings(Region(0x10B));
    EXPECT_EQ(std::tie(carried.sfpPollTime, carried.bbcr, carried.fec),
              std::tie(primary.sfpPollTime, primary.bbcr, primary.fec));
    EXPECT_EQ(Le16(Region(0x10B), 18), kSsid27);
    const auto spec = zvfix::VrelImageSpecWithTables({.deviceId = 0x2281, .ssvid = kVendor, .ssdid = kSsid27});
    const size_t fw = std::find(kSet1.begin(), kSet1.end(), 0x01u) - kSet1.begin();
    EXPECT_EQ(Slice(Region(0x02), 0, 0x100), Slice(image, zvfix::MbiComponentOffset(spec, fw), 0x100));
    // Past its component every region is erased: no byte of a region written
    // before it (the boot code's table and defaults above all) is left there.
    // The boot codes carry the table after them; the board configuration is
    // the adapter's own.
    for (size_t i = 0; i < kSet1.size(); ++i) {
        if (kSet1[i] == 0x07 || kSet1[i] == 0x11 || kSet1[i] == 0xBA) continue;
        const size_t length = spec.components[i].data.size();
        const Bytes written = Region(kSet2[i]);
        ASSERT_GT(written.size(), length) << std::hex << kSet2[i];
        EXPECT_TRUE(std::all_of(written.begin() + length, written.end(), [](uint8_t b) { return b == 0xFF; }))
            << "region 0x" << std::hex << kSet2[i] << " is not erased past its component";
    }

    const Bytes memo2 = Region(zvfix::kRegionMemo2);
    EXPECT_EQ(Slice(memo2, 0, 4), Bytes({'F', 'M', 'B', 'S'}));
    EXPECT_EQ(Slice(memo2, 20, 3), Bytes({6, 5, 1}));
    const Bytes status1 = Region(0x95), status2 = Region(0x96);
    EXPECT_EQ(Slice(status1, 0, 3), Bytes({0, 1, 0}));
    EXPECT_EQ(Slice(status2, 0, 3), Bytes({1, 2, 0}));
    EXPECT_EQ(Slice(status2, 12, 4), Bytes({0xDF, 0xFA, 0xCE, 0xFA}));
    const Bytes aux1 = Region(0x125), aux2 = Region(0x126);
    EXPECT_EQ(aux1[0] & 1, 0);
    EXPECT_EQ(aux2[0] & 1, 1);
    EXPECT_EQ(aux2[5] & 1, 1) << "board configuration served from the secondary copy";

    ExpectNotRequiredAfterReboot();
}

TEST_F(VrelUpdate, SecondaryActiveWritesThePrimarySetEvenWithAnErasedPrimaryRecordAndASessionThatWillNotClose) {
    zvfix::AdapterSpec& a = AddChip27();
    a.SetRegion(zvfix::kRegionImageStatus1, Bytes(16, 0xFF));
    a.SetRegion(zvfix::kRegionImageStatus2, zvfix::MakeImageStatusRecord(1, 3, zvfix::kSigImageStatus27));
    a.SetAuxImageStatus(0, 1, 0, 1, 2, 0x01);
    a.faults.push_back(zvfix::FaultSpec::Fail("flash_update_end", 0x200000C1));
    Install(Image());

    const RunResult r = Run();
    ASSERT_EQ(r.status, 1) << r.out << r.err << r.outputFile;
    std::vector<uint32_t> expected = {zvfix::kRegionMemo1};
    expected.insert(expected.end(), kSet1.begin(), kSet1.end());
    for (uint32_t code : {0x95u, 0x96u, 0x125u, 0x126u, 0xDFu}) expected.push_back(code);
    EXPECT_EQ(Written(hostDir.Path()), expected);
    EXPECT_TRUE(Has(r.outputFile, "Updating Adapter Primary Image Status... Success\n")) << r.outputFile;
    // The session that will not close leaves a complete set for the next reboot.
    EXPECT_TRUE(Has(r.outputFile, "Flash update complete. Changes have been saved to all ports of this HBA.\n"));
    EXPECT_FALSE(Has(r.outputFile, "Option ROM update complete"));

    EXPECT_EQ(Defaults(Region(0x07)), Defaults(Boot(0x22)));
    EXPECT_EQ(zvfix::ReadFcSettings(Region(0xBA)).bbcr, secondary.bbcr);
    EXPECT_EQ(Slice(Region(zvfix::kRegionMemo1), 20, 3), Bytes({6, 5, 1}));
    const Bytes status1 = Region(0x95);
    EXPECT_EQ(status1[0] & 1, 1) << "the erased record became a valid active one";
    EXPECT_EQ(Slice(status1, 1, 2), Bytes({4, 0}));
    EXPECT_EQ(zvfix::ImageStatusChecksum(Slice(status1, 0, 16)), Le32(status1, 8));
    EXPECT_EQ(Slice(status1, 12, 4), Bytes({0xDF, 0xFA, 0xCE, 0xFA}));
    EXPECT_EQ(Region(0x96)[0] & 1, 0);
    EXPECT_EQ(Region(0x125)[5] & 1, 0) << "board configuration served from the primary copy";

    ExpectNotRequiredAfterReboot();
}

// The board configuration has a copy choice of its own: the copy that serves
// is carried over and the other one written, whatever the image set.
TEST_F(VrelUpdate, TheServingBoardConfigurationCopyIsCarriedAndTheOtherOneWritten) {
    zvfix::AdapterSpec& a = AddChip27();
    a.SetAuxImageStatus(1, 2, 0x01, 0, 1, 0);
    Install(Image());
    const RunResult r = Run();
    ASSERT_EQ(r.status, 1) << r.out << r.outputFile;
    const std::vector<uint32_t> written = Written(hostDir.Path());
    EXPECT_NE(std::find(written.begin(), written.end(), 0xBAu), written.end());
    EXPECT_EQ(std::find(written.begin(), written.end(), 0x10Bu), written.end());
    EXPECT_EQ(std::vector<uint32_t>(written.begin(), written.begin() + 2),
              (std::vector<uint32_t>{zvfix::kRegionMemo2, 0x9Fu}))
        << "the image set is still the secondary one";
    const zvfix::FcSettings carried = zvfix::ReadFcSettings(Region(0xBA));
    EXPECT_EQ(std::tie(carried.bbcr, carried.sfpPollTime), std::tie(secondary.bbcr, secondary.sfpPollTime));
    EXPECT_EQ(zvfix::ReadFcSettings(Region(0x10B)).bbcr, secondary.bbcr) << "the serving copy is untouched";
    EXPECT_EQ(Region(0x126)[5] & 1, 0) << "the written primary copy serves next";
    ExpectNotRequiredAfterReboot();
}

// Until the reboot the adapter keeps its board configuration from the copy
// it started with, so every run before it writes the other copy: the
// auxiliary records must name that copy whatever an earlier run since the
// start wrote to them. A second run, a disable or "-b" after the enable, or
// a rerun after a run killed past its records, then the reboot: the adapter
// serves the new table, as after one run. No write of the second run resets
// the adapter before its final records, the holds' included.
TEST_F(VrelUpdate, ARunBeforeTheRebootLeavesTheBoardConfigurationAsOneRunWould) {
    AddChip27();
    zvtest::TempDir control;
    Install(Image(), control.Path());
    ASSERT_EQ(Run(control.Path()).status, 1);
    const Bytes newTable = zvfix::ReadRegion(control.Path(), 0, 0x10B);
    const std::vector<uint32_t> controlWrites = Written(control.Path());
    const size_t lastRecord = static_cast<size_t>(
        std::find(controlWrites.begin(), controlWrites.end(), 0x125u) - controlWrites.begin() + 1);
    ASSERT_LT(lastRecord, controlWrites.size());

    for (const char* flow : {"enable twice", "enable, disable", "enable, -b", "killed past its records, rerun"}) {
        SCOPED_TRACE(flow);
        const std::string f = flow;
        host.powerLoss.reset();
        if (f.starts_with("killed")) host.powerLoss = zvfix::PowerLossSpec::After(lastRecord);
        std::remove((inst.Path() + "/package.cfg").c_str());
        zvtest::TempDir dir;
        host.Write(dir.Path());
        const RunResult first = Run(dir.Path());
        if (f.starts_with("killed")) {
            EXPECT_NE(first.status, 1);
            host.powerLoss.reset();
            zvonline::RewriteHostJson(host, dir.Path());
        } else {
            EXPECT_EQ(first.status, 1) << first.out << first.outputFile;
        }
        if (f == "enable, disable") inst.WriteFile("package.cfg", "");
        const size_t before = zvfix::ReadJournal(dir.Path()).size();
        const bool fromFile = f == "enable, -b";
        const RunResult second =
            fromFile ? Run(dir.Path(), {"-b", "0", kImage, "--zuka"}) : Run(dir.Path());
        EXPECT_EQ(second.status, fromFile ? 201 : 1) << second.out << second.outputFile;
        // The memo hold, the record holds and the components: every write
        // up to the final records (which reset by their writer's rule).
        const std::vector<zvfix::JournalEntry> journal = zvfix::ReadJournal(dir.Path());
        const auto isRecord = [](uint32_t r) { return r == 0x95 || r == 0x96 || r == 0x125 || r == 0x126; };
        size_t last = journal.size();
        while (last > before && (isRecord(journal[last - 1].region) || journal[last - 1].region == 0x124))
            --last;
        ASSERT_GT(last, before + 4);
        EXPECT_TRUE(isRecord(journal[before + 1].region)) << "the records are held";
        for (size_t i = before; i < last; ++i)
            EXPECT_EQ(journal[i].disableReset, 1u) << std::hex << "region 0x" << journal[i].region << " write " << i;

        ASSERT_EQ(zvfix::Reboot(dir.Path()), 0);
        const Bytes aux1 = zvfix::ReadRegion(dir.Path(), 0, 0x125), aux2 = zvfix::ReadRegion(dir.Path(), 0, 0x126);
        ASSERT_NE(aux1[0] & 1, aux2[0] & 1);
        const Bytes& serving = (aux1[0] & 1) != 0 ? aux1 : aux2;
        EXPECT_EQ(serving[5] & 1, 1) << "board configuration served from the primary copy (0xBA)";
        EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, 0x10B), newTable);
        std::ifstream state(dir.Path() + "/state.json");
        const std::string text((std::istreambuf_iterator<char>(state)), std::istreambuf_iterator<char>());
        EXPECT_TRUE(Has(text, "\"board_config\":2")) << text;
        if (f == "enable twice") {
            std::remove((inst.Path() + "/package.cfg").c_str());
            const size_t writes = zvfix::ReadJournal(dir.Path()).size();
            EXPECT_EQ(Run(dir.Path()).status, 2);
            EXPECT_EQ(zvfix::ReadJournal(dir.Path()).size(), writes);
        }
    }
}

TEST_F(VrelUpdate, ActiveSetFromFlashWhenTheLibraryCannotTellAndRefusedWhenNothingCan) {
    zvfix::AdapterSpec& a = AddChip27();
    a.faults.push_back(zvfix::FaultSpec::ActiveRegionsUnsupported());
    Install(Image());
    RunResult r = Run();
    ASSERT_EQ(r.status, 1) << r.out << r.outputFile;
    const std::vector<uint32_t> written = Written(hostDir.Path());
    ASSERT_GE(written.size(), 2u);
    EXPECT_EQ(std::vector<uint32_t>(written.begin(), written.begin() + 2),
              (std::vector<uint32_t>{zvfix::kRegionMemo2, 0x9Fu}));

    zvfix::HostBuilder refused;
    zvfix::AdapterSpec& b = refused.AddChip27(0x2281);
    b.subSystemId = kSsid27;
    b.faults.push_back(zvfix::FaultSpec::Fail("active_regions", 5));
    b.faults.push_back(zvfix::FaultSpec::Fail("flash_read", 5).OnRegion(0x95));
    host = refused;
    zvtest::TempDir other;
    host.Write(other.Path());
    r = Run(other.Path(), {"-trace"});
    EXPECT_EQ(r.status, 3) << r.out << r.outputFile;
    // The engine ends with the read's status and no line of its own.
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2772: Upgrading MBI version from 00.00.00 to 06.05.01: started\n"
                                  "HBA KV2772: Upgrading MBI version from 00.00.00 to 06.05.01: failed\n"))
        << r.outputFile;
    EXPECT_TRUE(Has(r.debugLog, "flash update result=-20")) << r.debugLog;
    EXPECT_TRUE(Written(other.Path()).empty());
    // "-b" ends with that status's low byte, the output file as silent.
    r = Run(other.Path(), {"--zuka", "-b", "0", kImage});
    EXPECT_EQ(r.status, -20 & 0xFF) << r.out;
    EXPECT_EQ(r.outputFile, "");
    EXPECT_TRUE(Written(other.Path()).empty());
}

TEST_F(VrelUpdate, AComponentThatDoesNotReadBackOrCannotAnnounceItsFirmwareStopsBeforeTheRecords) {
    struct Case {
        zvfix::FaultSpec fault;
        const char* line;
        int status;
        uint32_t last;
        int exitStatus;   // of "-b", which ends with the engine's status: never 0 for a failure
    };
    const Case cases[] = {
        {zvfix::FaultSpec::CorruptWrite().OnRegion(0xF1), "Verifying Adapter PEP FW... Failed\n", 512, 0xF1, 255},
        {zvfix::FaultSpec::Fail("fw_attributes_send", 5), "Updating Adapter FC RISC Fw version 9.12.1... Failed\n",
         459, 0x10B, 459 & 0xFF},
    };
    const std::vector<uint32_t> set1 = {0x95, 0x96, 0x125, 0x126, 0xDF, 0x07, 0x11, 0xD1, 0xBA, 0x01};
    for (const Case& c : cases) {
        host = zvfix::HostBuilder();
        AddChip27().faults.push_back(c.fault);
        host.adapters[0].SetRegion(0x1C, zvfix::MakeFlashLayoutTable(3, {{.code = 0x07}}));
        zvtest::TempDir dir;
        Install(Image(), dir.Path());
        zvfix::BootManifest manifest;
        manifest.ExpectAsNow(dir.Path(), 0, 1, set1);
        const RunResult r = Run(dir.Path(), {"-trace"});
        EXPECT_EQ(r.status, 3) << r.out << r.outputFile;
        EXPECT_TRUE(Has(r.outputFile, c.line)) << r.outputFile;
        EXPECT_TRUE(Has(r.debugLog, "flash update result=" + std::to_string(c.status))) << r.debugLog;
        // Read for the debug log only.
        EXPECT_TRUE(Has(r.debugLog, "VrelOnlineFlashUpdate: flash layout version 3\n"));
        EXPECT_TRUE(Has(r.outputFile, "MCTP config enable: Failed.\n"));
        const std::vector<uint32_t> written = Written(dir.Path());
        ASSERT_FALSE(written.empty());
        EXPECT_EQ(written.back(), c.last);
        // No record was touched: after a reboot the adapter runs its old set as it was.
        ASSERT_EQ(zvfix::Reboot(dir.Path()), 0);
        const std::vector<zvfix::BootVerdict> verdict = zvfix::CheckBoot(dir.Path(), manifest);
        ASSERT_EQ(verdict.size(), 1u);
        EXPECT_TRUE(verdict[0].Intact()) << verdict[0].set;

        zvtest::TempDir one;
        host.Write(one.Path());
        const RunResult b = Run(one.Path(), {"--zuka", "-b", "0", kImage});
        EXPECT_EQ(b.status, c.exitStatus) << b.out << b.outputFile;
        EXPECT_TRUE(Has(b.outputFile, c.line)) << b.outputFile;
    }
}

// Two entries for the PEP board configuration serve the adapter: both are
// written, in table order, and the second's bytes are what the region holds.
TEST_F(VrelUpdate, TwoEntriesForOneRegionAreBothWrittenInTableOrderTheSecondLast) {
    AddChip27();
    zvfix::MultibootImageSpec s =
        zvfix::VrelImageSpecWithTables({.deviceId = 0x2281, .ssvid = kVendor, .ssdid = kSsid27, .cardType = 1});
    zvfix::MbiComponent second = *s.Component(0xCF);
    second.data = zvfix::MakeConfigTable("IKOZ", 0x600, 0x300, {2, 0, 9});
    second.version = {2, 0, 9};
    s.components.push_back(second);
    s.imageVersion = {6, 5, 1};
    const Bytes image = zvfix::BuildMultibootImage(s);
    Install(image);

    const RunResult r = Run();
    ASSERT_EQ(r.status, 1) << r.out << r.err << r.outputFile;
    std::vector<uint32_t> expected = kSet2;
    expected.insert(std::find(expected.begin(), expected.end(), 0x106u), 0x106u);
    expected.insert(expected.begin(), zvfix::kRegionMemo2);
    for (uint32_t code : {0x96u, 0x95u, 0x126u, 0x125u, 0x124u}) expected.push_back(code);
    EXPECT_EQ(Written(hostDir.Path()), expected);
    EXPECT_EQ(zve2e::Count(r.outputFile, "Verifying Adapter PEP Board Config... Success\n"), 2u) << r.outputFile;
    // Past the header the adapter's ids are patched into: the second
    // component's bytes, as long as it is, then erased.
    const Bytes pep = Region(0x106);
    const size_t at = zvfix::MbiComponentOffset(s, s.components.size() - 1);
    EXPECT_EQ(Slice(pep, 0x300, 0x300), Slice(image, at + 0x300, 0x300));
    EXPECT_TRUE(std::all_of(pep.begin() + 0x600, pep.end(), [](uint8_t b) { return b == 0xFF; }));
    ExpectNotRequiredAfterReboot();
}

// An image that is no complete set for the adapter fails it at validation:
// nothing is written, every flash byte stays, and the run says so.
TEST_F(VrelUpdate, AnImageThatIsNoCompleteSetFailsValidationAndLeavesEveryFlashByte) {
    const zvfix::MultibootImageSpec good =
        zvfix::VrelImageSpecWithTables({.deviceId = 0x2281, .ssvid = kVendor, .ssdid = kSsid27, .cardType = 1});
    for (const zvfix::MbiVariant& v : zvfix::BrokenSetVariants(good, 27)) {
        // The firmware's entry cleared, a component over the table, no PEP
        // firmware stand for the rest (the engine's test takes every variant).
        const std::string name = v.name;
        if (name != "firmware entry for region 0" && name != "MPI firmware over the layout table" &&
            name != "no PEP firmware")
            continue;
        SCOPED_TRACE(v.name);
        host = zvfix::HostBuilder();
        AddChip27();
        zvtest::TempDir dir;
        Install(zvfix::BuildMultibootImage(v.spec), dir.Path());
        const Bytes before = zvfix::ReadFlash(dir.Path(), 0);

        const RunResult r = Run(dir.Path(), {"-trace"});
        zve2e::ExpectRefusedAsNoCompleteSet(r, dir.Path(), before);
    }
}

// Another process holds the adapter's flash-update session. Nothing is
// written to the adapter before its engine, so the engine meets that session
// where it opens its own: after the image passed its checks and the
// "Updating Flash" line, with 525 and the 15-minute line; an image it refuses
// is refused for what it is, session or none. The MCTP command and "-b"
// alike; "-b" ends with the engine's status. Nothing is written.
TEST_F(VrelUpdate, AHeldSessionIsMetWhereTheEngineOpensItsOwnAfterTheImageChecks) {
    AddChip27();
    Install(Image());
    const Bytes before = zvfix::ReadFlash(hostDir.Path(), 0);
    setenv("ZV_SIM_HOST", hostDir.Path().c_str(), 1);
    int handle = -1;
    ASSERT_EQ(SDOpenDevice(1, &handle), 0u);   // the adapter's second port
    SD_INT32 token = 0;
    ASSERT_EQ(SDStartFlashUpdate(handle, 0, &token), 0u);

    const std::string upgrading = "HBA KV2772: Upgrading MBI version from 06.04.00 to 06.05.01: ";
    const std::string session = "Flash update session in progress, please wait 15 minutes and try again.\n";
    const std::string met = "Validating Flash Image File... Success\n"
                            "Updating Flash on HBA port(s) -   KV2772. Please wait...\n" + session;
    const RunResult mctp = Run("", {"-trace"});
    EXPECT_EQ(mctp.status, 3) << mctp.out << mctp.outputFile;
    EXPECT_EQ(zvonline::EngineStatus(mctp), 525);
    EXPECT_TRUE(Has(mctp.outputFile, "MCTP config enable: Started...\n" + upgrading + "started\n" + met + upgrading +
                                         "failed\n"))
        << mctp.outputFile;
    const RunResult one = Run("", {"--zuka", "-b", "0", kImage});
    EXPECT_EQ(one.status, 525 & 0xFF) << one.out << one.outputFile;
    EXPECT_EQ(one.outputFile, met);

    // An image the engine refuses: its own status, no word of the session.
    inst.WriteFile(kImage, zvfix::StandInImage());
    const RunResult bad = Run("", {"-trace"});
    EXPECT_EQ(bad.status, 3) << bad.out << bad.outputFile;
    const int refused = zvonline::EngineStatus(bad);
    EXPECT_NE(refused, 525);
    EXPECT_TRUE(Has(bad.outputFile, upgrading + "started\nValidating Flash Image File... Failed\n")) << bad.outputFile;
    EXPECT_FALSE(Has(bad.outputFile, "Updating Flash on HBA")) << bad.outputFile;
    EXPECT_FALSE(Has(bad.outputFile, session)) << bad.outputFile;
    const RunResult badOne = Run("", {"--zuka", "-b", "0", kImage});
    EXPECT_EQ(badOne.status, refused & 0xFF) << badOne.out << badOne.outputFile;
    EXPECT_TRUE(badOne.outputFile.starts_with("Validating Flash Image File... Failed\n")) << badOne.outputFile;
    EXPECT_FALSE(Has(badOne.outputFile, session)) << badOne.outputFile;

    EXPECT_EQ(SDEndFlashUpdate(handle, 0, token), 0u) << "no run may end another process's session";
    SDCloseDevice(handle);
    EXPECT_TRUE(zvfix::ReadJournal(hostDir.Path()).empty());
    EXPECT_EQ(zvfix::ReadFlash(hostDir.Path(), 0), before);
}

TEST_F(VrelUpdate, MixedHostWithOneAdapterFailingCompletesWithErrors) {
    zvonline::BuildChip25(host, 1, 7, 0, 3);
    AddChip27().faults.push_back(zvfix::FaultSpec::Fail("flash_update_start", 0x200000C0));
    Install(Image());
    const Bytes dorneImage = zvfix::BuildMultibootImage(zvonline::Chip25ImageSpec());
    inst.WriteFile(kImage25, std::string(dorneImage.begin(), dorneImage.end()));

    const RunResult r = Run();
    EXPECT_EQ(r.status, 4) << r.out << r.outputFile;
    EXPECT_TRUE(r.out.ends_with("MCTP config enable: Completed with errors.\n")) << r.out;
    EXPECT_TRUE(Has(r.outputFile, "Flash update session in progress, please wait 15 minutes and try again.\n"));
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2772: Upgrading MBI version from 06.04.00 to 06.05.01: failed\n"));
    EXPECT_TRUE(Written(hostDir.Path(), 1).empty());
}

// With --ports each port's pass writes the adapter, which runs the set it
// started with: the second pass writes the set again. A pass that fails
// counts as a failed adapter, though the first wrote it whole.
TEST_F(VrelUpdate, EveryPortsPassWritesTheAdapterAndAFailedPassCompletesWithErrors) {
    AddChip27();
    zvtest::TempDir both;
    Install(Image(), both.Path());
    RunResult r = Run(both.Path(), {"--ports"});
    EXPECT_EQ(r.status, 1) << r.out << r.outputFile;
    const std::vector<uint32_t> twice = Written(both.Path());
    EXPECT_EQ(std::count(twice.begin(), twice.end(), 0x9Fu), 2) << "the set's signature, once in each pass";

    zvfix::FaultSpec secondPort = zvfix::FaultSpec::Fail("flash_write", 5);
    secondPort.port = 1;
    host.adapters.front().faults.push_back(secondPort);
    Install(Image());
    r = Run("", {"--ports"});
    EXPECT_EQ(r.status, 4) << r.out << r.outputFile;
    EXPECT_TRUE(r.out.ends_with("MCTP config enable: Completed with errors.\n")) << r.out;
    const std::string line = "HBA KV2772: Upgrading MBI version from 06.04.00 to 06.05.01: ";
    EXPECT_TRUE(Has(r.outputFile, line + "completed\n")) << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, line + "failed\n")) << r.outputFile;
    // The first pass's writes are whole: the new set serves after the reboot.
    ExpectNotRequiredAfterReboot();
}

}  // namespace
