// The MCTP command (no command word) run as a user would, against fixture
// hosts: flash.cfg, the update policy, the chip-type-25 preload and board-
// configuration steps, busy retries and an interrupt during the update.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "e2e/run_helpers.h"
#include "fixtures/adapters_properties_builder.h"
#include "fixtures/board_template_builder.h"
#include "fixtures/flash_cfg_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/memo_block_builder.h"
#include "fixtures/multiboot_image_builder.h"
#include "mgmt/sd_shared_db.h"
#include "support/e2e_support.h"
#include "support/semaphore_sets.h"

namespace {
using zve2e::Count;
namespace fs = std::filesystem;
using zvfix::Bytes;
using zvtest::Has;
using zvtest::InstallDir;
using zvtest::RunOptions;
using zvtest::RunProgram;
using zvtest::RunResult;

constexpr uint16_t kVendor = 0x1A77;
constexpr uint16_t kSsid25 = 0x0289;
constexpr uint16_t kSsid27 = 0x02A9;
constexpr const char* kImage = "kv_mbi.bin";

zvfix::MemoBlockSpec Memo(uint8_t major, uint8_t minor, uint8_t sub) { return {.mbi = {major, minor, sub, 0}}; }

class MctpUpdate : public zve2e::IsolatedTest {
protected:
    // A chip-type-27 two-port adapter whose memo blocks say `mbi`.
    zvfix::AdapterSpec& AddChip27(const zvfix::MemoBlockSpec& mbi) {
        zvfix::AdapterSpec& a = host.AddChip27(0x2281);
        a.subSystemId = kSsid27;
        a.SetRegion(zvfix::kRegionMemo1, zvfix::MakeMemoBlock(mbi));
        a.SetRegion(zvfix::kRegionMemo2, zvfix::MakeMemoBlock(mbi));
        return a;
    }

    // A chip-type-25 adapter (two ports unless asked) with a preload table and
    // an FC board configuration of version 1.0.0 and a memo block that says `mbi`.
    zvfix::AdapterSpec& AddChip25(const zvfix::MemoBlockSpec& mbi, int ports = 2) {
        zvfix::AdapterSpec& a = host.AddChip25(0x2261, ports);
        a.subSystemId = kSsid25;
        a.SetRegion(zvfix::kRegionMemo1, zvfix::MakeMemoBlock(mbi));
        a.SetRegion(zvfix::kRegionPreload1, zvfix::MakeConfigTable("JKOZ", {1, 0, 0, 0}, 0x80, kVendor, kSsid25));
        a.SetRegion(zvfix::kRegionBoardConfig1, zvfix::MakeFcBoardConfig({1, 0, 0, 0}, kVendor, kSsid25, settings));
        return a;
    }

    // Writes the host, the adapter table (every adapter supported), flash.cfg
    // and the image file.
    void Install(const std::vector<zvfix::FlashCfgRow>& rows, const std::string& dir = "") {
        host.Write(dir.empty() ? hostDir.Path() : dir);
        inst.WriteFile("adapters.properties", zvfix::AdapterTableFor(host));
        inst.WriteFile("flash.cfg", zvfix::FlashCfg(rows));
        inst.WriteFile(kImage, zvfix::StandInImage());
    }

    RunResult Run(std::vector<std::string> args = {}, bool countSleeps = false, const std::string& dir = "") {
        RunOptions o;
        o.args = std::move(args);
        o.env = {{"ZV_SIM_HOST", dir.empty() ? hostDir.Path() : dir}};
        o.countSleeps = countSleeps;
        return RunProgram(inst, o);
    }

    // The update run in either form, enable, then disable: each ends with
    // `status` and says only `text`, led by "MCTP config <form>: ".
    void ExpectEitherFormSays(int status, const std::string& text) {
        for (const std::string mode : {"enable", "disable"}) {
            if (mode == "disable") inst.WriteFile("package.cfg", "");
            const RunResult r = Run();
            EXPECT_EQ(r.status, status) << r.out << r.err;
            const std::string line = "MCTP config " + mode + ": " + text + "\n";
            EXPECT_EQ(std::tie(r.out, r.outputFile), std::tie(line, line));
        }
    }

    // A board configuration template of the adapter's own version: that step has nothing to do.
    void WriteFbcTemplate() { inst.WriteFile("Vx9FBC.dat", zvfix::BoardTemplateSpec{"CBF(", "1.0.0", {}, {}}.Text()); }

    zvfix::HostBuilder host;
    zvfix::FcSettings settings{0x2A, true, {3, 4, 0, 0}, {true, false, false, false}};
    zvtest::TempDir hostDir;
    InstallDir inst;
};

TEST_F(MctpUpdate, WithoutFlashCfgTheRunEndsWithFive) {
    AddChip27(Memo(6, 5, 1));
    Install({});
    inst.RemoveFile("flash.cfg");
    RunResult r = Run();
    EXPECT_EQ(r.status, 5) << r.out << r.err;
    EXPECT_EQ(r.outputFile, "Unable to open file " + inst.Path() + "/flash.cfg!\n");
    EXPECT_FALSE(Has(r.out, "Started"));

    // The file is read before the host's update lock is sought: the same
    // while another run holds the lock.
    const int lock = ::open("/run/zv_mctp_update.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    const RunResult held = Run();
    ::close(lock);
    EXPECT_EQ(held.status, 5) << held.out << held.err;
    EXPECT_EQ(held.outputFile, r.outputFile);
}

TEST_F(MctpUpdate, NoAdapterWithARecordEndsWithTenInBothForms) {
    AddChip27(Memo(6, 5, 1));
    Install({zvfix::FlashCfgRowFor(0x1234, kVendor, "KV9999", "6.05.01", kImage)});
    ExpectEitherFormSays(10, "No compatible HBA found!");
}

// Another run holds the host's update lock: either form says so with its own
// lead, and writes nothing.
TEST_F(MctpUpdate, AHeldUpdateLockIsSaidWithTheLeadOfEitherForm) {
    AddChip27(Memo(6, 5, 1));
    Install({zvfix::FlashCfgRowFor(kSsid27, kVendor, "KV2772", "6.05.01", kImage)});
    const int lock = ::open("/run/zv_mctp_update.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    ExpectEitherFormSays(3, "Another update is in progress on this host; nothing was written.");
    ::close(lock);
    EXPECT_TRUE(zvfix::ReadJournal(hostDir.Path()).empty());
}

TEST_F(MctpUpdate, EqualMultibootVersionIsNotRequiredOncePerAdapterOrPerPortWithPortsAndSilently) {
    AddChip27(Memo(6, 5, 1));
    Install({zvfix::FlashCfgRowFor(kSsid27, kVendor, "KV2772", "6.05.01", kImage)});
    const Bytes before = zvfix::ReadFlash(hostDir.Path(), 0);

    RunResult r = Run();
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    const std::string line = "HBA KV2772: Upgrade is not required. MBI version is up to date (06.05.01)\n";
    EXPECT_EQ(Count(r.outputFile, line), 1u) << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, "MCTP config enable: Started...\n"));
    EXPECT_TRUE(Has(r.outputFile, "MCTP config enable: Not required.\n"));
    EXPECT_EQ(r.out.find("MCTP config enable: Started...\n"), 0u) << r.out;
    EXPECT_TRUE(Has(r.out, "Progress Status :\t[")) << r.out;
    EXPECT_TRUE(r.out.ends_with("\nMCTP config enable: Not required.\n")) << r.out;

    r = Run({"--ports"});
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_EQ(Count(r.outputFile, line), 2u) << r.outputFile;
    // "-s": nothing on the console, the output file as ever.
    r = Run({"-s"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Has(r.outputFile, "MCTP config enable: Not required.\n"));

    EXPECT_EQ(zvfix::ReadFlash(hostDir.Path(), 0), before) << "nothing needed writing";
    EXPECT_TRUE(zvfix::ReadJournal(hostDir.Path()).empty());
}

TEST_F(MctpUpdate, PackageCfgDisablesWithForceWriteAndARefusedImageNeverLooksLikeSuccess) {
    AddChip27(Memo(6, 5, 1));
    Install({zvfix::FlashCfgRowFor(kSsid27, kVendor, "KV2772", "6.05.01", kImage)});
    inst.WriteFile("package.cfg", "");
    const Bytes before = zvfix::ReadFlash(hostDir.Path(), 0);

    RunResult r = Run();
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "MCTP config disable: Started...\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "MCTP config disable: Failed.\n")) << r.out;
    EXPECT_FALSE(Has(r.out, "enable")) << r.out;
    // Force write: the equal version is written all the same.
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2772: Upgrading MBI version from 06.05.01 to 06.05.01: started\n"))
        << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2772: Upgrading MBI version from 06.05.01 to 06.05.01: failed\n"));
    // The engine refuses the stand-in image before it writes anything.
    EXPECT_TRUE(Has(r.outputFile, "Validating Flash Image File... Failed\n")) << r.outputFile;
    EXPECT_FALSE(Has(r.outputFile, "Upgrade is not required"));
    EXPECT_EQ(zvfix::ReadFlash(hostDir.Path(), 0), before);
}

TEST_F(MctpUpdate, NewerPreloadTemplateRewritesTheTableAndTheBoardConfigKeepsTheAdaptersSettings) {
    AddChip25(Memo(6, 5, 1));
    Install({zvfix::FlashCfgRowFor(kSsid25, kVendor, "KV2692", "6.05.01", kImage)});
    inst.WriteFile("Vx9FWA.dat",
                   zvfix::BoardTemplateSpec{"JKOZ", "2.0.0", {{0x40, {0x4D, 0x43, 0x54, 0x50}}}, {}}.Text());
    inst.WriteFile("Vx9FBC.dat",
                   zvfix::BoardTemplateSpec{"CBF(", "2.1.0", {{0x40, {0x11, 0x22}}, {0x1C0, {0x99, 0x00}}}, {}}.Text());

    RunResult r = Run();
    EXPECT_EQ(r.status, 2) << r.out << r.err << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2692: Upgrading FWA version from 1.0.0 to 2.0.0: completed\n"))
        << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2692: Upgrading FBC version from 1.0.0 to 2.1.0: completed\n"));
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2692: Upgrade is not required. MBI version is up to date (06.05.01)\n"));
    EXPECT_TRUE(Has(r.out, "MCTP config enable: Not required.\n"));

    const Bytes fwaRegion = zvfix::ReadRegion(hostDir.Path(), 0, zvfix::kRegionPreload1);
    EXPECT_EQ(std::string(fwaRegion.begin(), fwaRegion.begin() + 4), "JKOZ");
    EXPECT_EQ(Bytes(fwaRegion.begin() + 5, fwaRegion.begin() + 8), (Bytes{0, 0, 2}));
    EXPECT_EQ(Bytes(fwaRegion.begin() + 0x40, fwaRegion.begin() + 0x44), (Bytes{0x4D, 0x43, 0x54, 0x50}));
    const Bytes fresh = zvfix::MakeConfigTable("JKOZ", {1, 0, 0, 0}, 0x80, kVendor, kSsid25);
    EXPECT_EQ(Bytes(fwaRegion.begin() + 16, fwaRegion.begin() + 0x40), Bytes(fresh.begin() + 16, fresh.begin() + 0x40))
        << "the adapter's ids and the rest of its header stay";

    const Bytes fbcRegion = zvfix::ReadRegion(hostDir.Path(), 0, zvfix::kRegionBoardConfig1);
    EXPECT_EQ(Bytes(fbcRegion.begin() + 6, fbcRegion.begin() + 8), (Bytes{1, 2}));
    EXPECT_EQ(fbcRegion[0x40], 0x11);
    const zvfix::FcSettings kept = zvfix::ReadFcSettings(fbcRegion);
    EXPECT_EQ(std::tie(kept.sfpPollTime, kept.bbcr, kept.fec),
              std::tie(settings.sfpPollTime, settings.bbcr, settings.fec))
        << "the template may not overwrite the adapter's settings";
}

TEST_F(MctpUpdate, MissingPreloadTemplateIsNoFailureAndTheMultibootStepRuns) {
    AddChip25(Memo(6, 4, 0));
    Install({zvfix::FlashCfgRowFor(kSsid25, kVendor, "KV2692", "6.05.01", kImage)});
    const Bytes image = zvfix::MakeDorneImage({.deviceId = 0x2261, .ssvid = kVendor, .ssdid = kSsid25, .cardType = 1});
    inst.WriteFile(kImage, std::string(image.begin(), image.end()));
    WriteFbcTemplate();
    const Bytes preload = zvfix::ReadRegion(hostDir.Path(), 0, zvfix::kRegionPreload1);

    RunResult r = Run();
    // The multiboot step is reached and writes the image.
    EXPECT_EQ(r.status, 1) << r.out << r.err << r.outputFile;
    EXPECT_FALSE(Has(r.outputFile, "FWA preload table update failed")) << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2692: Upgrade is not required. FBC version is up to date (1.0.0)\n"));
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2692: Upgrading MBI version from 06.04.00 to 06.05.01: started\n"));
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2692: Upgrading MBI version from 06.04.00 to 06.05.01: completed\n"))
        << r.outputFile;
    // The image is checked before the tables too, but its lines show once.
    EXPECT_EQ(Count(r.outputFile, "Validating Flash Image File... Success\n"), 1u) << r.outputFile;
    EXPECT_EQ(zvfix::ReadRegion(hostDir.Path(), 0, zvfix::kRegionPreload1), preload);
}

// Two adapters whose serial numbers cannot be read: both are updated, each
// once, and every line names the serial number as "N/A". Four-port adapters
// alike: each is one adapter, written once, from its own ports.
TEST_F(MctpUpdate, AdaptersWithoutASerialNumberAreEachUpdatedOnce) {
    for (const int ports : {2, 4}) {
        SCOPED_TRACE(std::to_string(ports) + " ports");
        host = zvfix::HostBuilder();
        zvtest::TempDir dir;
        AddChip25(Memo(6, 4, 0), ports).serial = "";
        AddChip25(Memo(6, 4, 0), ports).serial = "";
        Install({zvfix::FlashCfgRowFor(kSsid25, kVendor, "KV2692", "6.05.01", kImage)}, dir.Path());
        const Bytes image =
            zvfix::MakeDorneImage({.deviceId = 0x2261, .ssvid = kVendor, .ssdid = kSsid25, .cardType = 1});
        inst.WriteFile(kImage, std::string(image.begin(), image.end()));
        WriteFbcTemplate();
        const Bytes before0 = zvfix::ReadFlash(dir.Path(), 0), before1 = zvfix::ReadFlash(dir.Path(), 1);

        RunResult r = Run({"-trace"}, false, dir.Path());
        EXPECT_EQ(r.status, 1) << r.out << r.err << r.outputFile;
        EXPECT_EQ(Count(r.outputFile, "HBA KV2692: Upgrading MBI version from 06.04.00 to 06.05.01: completed\n"),
                  2u)
            << r.outputFile;
        EXPECT_TRUE(Has(r.debugLog, "GetSerialNo: HBA 2 KV2692 ISP=0x19 serialNo=N/A\n")) << r.debugLog;
        EXPECT_FALSE(Has(r.debugLog, "N/A-")) << r.debugLog;
        EXPECT_EQ(Count(r.outputFile, "Please wait...\n"), 2u) << r.outputFile;
        // The same image, written once to each adapter: its memo block twice
        // (naming no version before the first write, then the image's). The
        // memo block's update time may differ by a second between adapters.
        std::vector<std::tuple<uint32_t, uint32_t, uint64_t>> writes[2];
        for (const zvfix::JournalEntry& e : zvfix::ReadJournal(dir.Path()))
            if (e.op == "write" && e.adapter >= 0 && e.adapter < 2)
                writes[e.adapter].emplace_back(e.region, e.offset, e.region == 0xDF ? 0 : e.hash);
        EXPECT_FALSE(writes[0].empty());
        EXPECT_EQ(writes[0], writes[1]);
        for (const auto& w : writes)
            EXPECT_EQ(std::count_if(w.begin(), w.end(), [](const auto& x) { return std::get<0>(x) == 0xDF; }), 2);
        EXPECT_TRUE(zvfix::ReadFlash(dir.Path(), 0) != before0) << "adapter 0 not written";
        EXPECT_TRUE(zvfix::ReadFlash(dir.Path(), 1) != before1) << "adapter 1 not written";
        // Twelve bar steps for each adapter, whatever its ports: every
        // drawing is 24 wide, from the empty bar to the full one.
        const std::string title = "Progress Status :\t[";
        std::vector<std::string> drawings;
        for (size_t at = r.out.find(title); at != std::string::npos; at = r.out.find(title, at + 1)) {
            const size_t end = r.out.find(']', at);
            ASSERT_NE(end, std::string::npos) << r.out;
            drawings.push_back(r.out.substr(at + title.size(), end - at - title.size()));
        }
        ASSERT_FALSE(drawings.empty()) << r.out;
        for (const std::string& d : drawings) EXPECT_EQ(d.size(), 24u) << d;
        EXPECT_EQ(drawings.front(), ">" + std::string(23, ' '));
        EXPECT_EQ(drawings.back(), std::string(24, '='));
    }
}

TEST_F(MctpUpdate, AFailedPreloadStepCountsTheAdapterAsFailedNotAsNotRequired) {
    AddChip25(Memo(6, 5, 1));
    AddChip27(Memo(6, 5, 1));
    Install({zvfix::FlashCfgRowFor(kSsid25, kVendor, "KV2692", "6.05.01", kImage),
             zvfix::FlashCfgRowFor(kSsid27, kVendor, "KV2772", "6.05.01", kImage)});
    inst.WriteFile("Vx9FWA.dat", "table = JKOZ\nversion = 2.0.0\n0x0040: XYZ\n");
    WriteFbcTemplate();

    RunResult r = Run();
    // The one adapter that needed work failed; the other needed none.
    EXPECT_EQ(r.status, 3) << r.out << r.err << r.outputFile;
    EXPECT_TRUE(Has(r.out, "MCTP config enable: Failed.\n"));
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2692 (instance 0): FWA preload table update failed (error 13)!\n"))
        << r.outputFile;
    EXPECT_FALSE(Has(r.outputFile, "HBA KV2692: Upgrade is not required. MBI version")) << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2692 (instance 0): MBI update skipped after a failed step"));
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2772: Upgrade is not required. MBI version is up to date (06.05.01)\n"));
}

// The lines of one adapter's turn, in the debug log of a "-trace" run: from
// its "File entry" line to the next adapter's, those that begin (after the
// time stamp and type) with one of `keys`, each given as its key.
std::vector<std::string> TurnLines(const std::string& debugLog, int instance, const std::vector<std::string>& keys) {
    const std::string start = "UpdateAdapteFwComponents: File entry HBA " + std::to_string(instance) + " ";
    std::vector<std::string> seen;
    bool inTurn = false;
    for (size_t at = 0; at < debugLog.size();) {
        size_t end = debugLog.find('\n', at);
        if (end == std::string::npos) end = debugLog.size();
        const std::string line = debugLog.substr(at, end - at);
        at = end + 1;
        if (Has(line, "UpdateAdapteFwComponents: File entry HBA ")) inTurn = Has(line, start);
        if (!inTurn) continue;
        for (const std::string& key : keys) {
            if (Has(line, key)) {
                seen.push_back(key);
                break;
            }
        }
    }
    return seen;
}

// Each chip-type-25 adapter's turn runs as the update orders it: the preload
// table and the board configuration are checked first, and only then is the
// adapter's own record read and the update policy decided ("-trace" shows it
// in the debug log), whether or not the multiboot image is to be written.
TEST_F(MctpUpdate, ThePolicyIsDecidedAfterTheTableSteps) {
    AddChip25(Memo(6, 4, 0));   // its image is written
    AddChip25(Memo(6, 5, 1));   // up to date
    Install({zvfix::FlashCfgRowFor(kSsid25, kVendor, "KV2692", "6.05.01", kImage)});
    const Bytes image = zvfix::MakeDorneImage({.deviceId = 0x2261, .ssvid = kVendor, .ssdid = kSsid25, .cardType = 1});
    inst.WriteFile(kImage, std::string(image.begin(), image.end()));
    inst.WriteFile("Vx9FWA.dat", zvfix::BoardTemplateSpec{"JKOZ", "2.0.0", {{0x40, {0x4D, 0x43}}}, {}}.Text());
    WriteFbcTemplate();

    const RunResult r = Run({"-trace"});
    EXPECT_EQ(r.status, 1) << r.out << r.err << r.outputFile;
    const std::vector<std::string> keys = {
        "UpdateAdapteFwComponents: File entry",  "UpdateAdapterMCTPSupport: Checking FWA preload...",
        "UpdateAdapterMCTPSupport: Checking FBC...", "FlashMemoBlock: length=", "UpdateAdapteFwComponents: HBA entry",
        "GetFlashUpdatePolicy: ispType=25",      "GetFlashUpdatePolicy: returns",
        "UpdateAdapteFwComponents: NeedUpdate=", "UpdateAdapteFwComponents: flash update result="};
    // The record's memo-block line comes in its turn, after the tables (the
    // engine reads the block again as it writes).
    std::vector<std::string> written(keys.begin(), keys.end() - 1);
    written.push_back("FlashMemoBlock: length=");
    written.push_back(keys.back());
    EXPECT_EQ(TurnLines(r.debugLog, 0, keys), written) << r.debugLog;
    std::vector<std::string> upToDate(keys.begin(), keys.end() - 1);
    EXPECT_EQ(TurnLines(r.debugLog, 2, keys), upToDate) << r.debugLog;
    EXPECT_TRUE(Has(r.debugLog, "UpdateAdapteFwComponents: NeedUpdate=1\n")) << r.debugLog;
    EXPECT_TRUE(Has(r.debugLog, "UpdateAdapteFwComponents: NeedUpdate=0\n")) << r.debugLog;
    // The core log's lines of the record and the policy stay with them (on
    // the console of a "-trace" run): the count reads the record too.
    EXPECT_EQ(Count(r.out, "BuildFlashCtrListFromHBA: MultibootVersion=6.04.00\n"), 2u) << r.out;
    EXPECT_EQ(Count(r.out, "BuildFlashCtrListFromHBA: MultibootVersion=6.04.00\nStandard mode.\n"), 1u) << r.out;
    // The tables came first on flash too, and the image followed on the first adapter only.
    const std::vector<uint32_t> first = zve2e::Written(hostDir.Path(), 0);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.front(), zvfix::kRegionPreload1);
    EXPECT_EQ(zve2e::Written(hostDir.Path(), 1), std::vector<uint32_t>{zvfix::kRegionPreload1});
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2692: Upgrading FWA version from 1.0.0 to 2.0.0: completed\n"
                                  "HBA KV2692: Upgrade is not required. FBC version is up to date (1.0.0)\n"
                                  "HBA KV2692: Upgrade is not required. MBI version is up to date (06.05.01)\n"))
        << r.outputFile;
}

// An FC VPD that a write cut short left damaged is found before the versions
// are compared: rebuilt from the function's other copy when that copy agrees,
// else the adapter fails with a line naming the region and nothing is built
// from the damaged bytes. Never "up to date" over it.
TEST_F(MctpUpdate, ACutShortVpdIsRebuiltFromItsOtherCopyOrTheAdapterFails) {
    const auto vpd = [](const zvfix::AdapterSpec& a, const std::string& v9, const std::string& serial) {
        zvfix::VpdSpec spec = a.vpd;
        spec.extra = {{"V0", "Gen6 FC"}, {"V9", v9}};
        return zvfix::MakeVpd(spec, serial, 512);
    };
    std::vector<Bytes> written, cut;
    for (int i = 0; i < 2; ++i) {
        zvfix::AdapterSpec& a = AddChip25(Memo(6, 5, 1));
        written.push_back(vpd(a, std::string("060501\0\0", 8), a.serial));   // what the update to 6.05.01 wrote
        cut.push_back(written.back());
        std::fill(cut.back().begin() + 70, cut.back().end(), uint8_t{0xFF});   // cut after the serial number
        a.SetRegion(0x14, cut.back());
        // The second adapter's other copy is some other adapter's VPD.
        if (i == 1) a.SetRegion(0x10C, vpd(a, "01.02.03", "ZV99999999"));
    }
    Install({zvfix::FlashCfgRowFor(kSsid25, kVendor, "KV2692", "6.05.01", kImage)});
    WriteFbcTemplate();

    const RunResult r = Run();
    EXPECT_EQ(r.status, 3) << r.out << r.err << r.outputFile;
    EXPECT_EQ(zvfix::ReadRegion(hostDir.Path(), 0, 0x14), written[0]);
    EXPECT_EQ(zvfix::ReadRegion(hostDir.Path(), 1, 0x14), cut[1]);
    EXPECT_EQ(zve2e::Written(hostDir.Path(), 0), std::vector<uint32_t>{0x14});
    EXPECT_TRUE(zve2e::Written(hostDir.Path(), 1).empty());
    EXPECT_TRUE(Has(r.outputFile, "Rebuilding Adapter FC VPD region 0x14 from region 0x10C... Success\n"
                                  "HBA KV2692: Upgrade is not required. MBI version is up to date (06.05.01)\n"))
        << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2692 (instance 2): FC VPD region 0x14 is damaged and the adapter holds no "
                                  "intact copy of it!\nHBA KV2692 (instance 2): MBI update skipped after a failed "
                                  "step; the adapter was not updated.\n"));
    EXPECT_EQ(Count(r.outputFile, "MBI version is up to date"), 1u);
}

// A blank FC VPD copy that the adapter does not read (it reads the
// secondary copies) is left as it is: a run with nothing to do writes nothing.
// The same blank copy, read by the adapter, is rebuilt.
TEST_F(MctpUpdate, ABlankVpdCopyIsRebuiltOnlyWhereTheAdapterReadsIt) {
    for (const uint8_t reads : {2, 1}) {
        SCOPED_TRACE(reads);
        host = zvfix::HostBuilder();
        zvfix::AdapterSpec& a = AddChip25(Memo(6, 5, 1));
        a.activeVpdNvram = reads;
        a.SetRegion(0x14, Bytes(512, 0xFF));
        Install({zvfix::FlashCfgRowFor(kSsid25, kVendor, "KV2692", "6.05.01", kImage)});
        WriteFbcTemplate();
        // A host of its own: the platform keeps an adapter's running state.
        zvtest::TempDir dir;
        host.Write(dir.Path());

        const RunResult r = Run({}, false, dir.Path());
        EXPECT_EQ(r.status, 2) << r.out << r.err << r.outputFile;
        EXPECT_TRUE(Has(r.out, "MCTP config enable: Not required.\n"));
        const bool rebuilt = reads == 1;
        EXPECT_EQ(Has(r.outputFile, "Rebuilding Adapter FC VPD region 0x14 from region 0x10C... Success\n"), rebuilt)
            << r.outputFile;
        EXPECT_EQ(zve2e::Written(dir.Path()), rebuilt ? std::vector<uint32_t>{0x14} : std::vector<uint32_t>{});
        EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, 0x14) == Bytes(512, 0xFF), !rebuilt);
    }
}

TEST_F(MctpUpdate, BusyAnswersAreRiddenOutOneSecondApart) {
    AddChip27(Memo(6, 5, 1));
    Install({zvfix::FlashCfgRowFor(kSsid27, kVendor, "KV2772", "6.05.01", kImage)});
    RunResult calm = Run({}, true);
    ASSERT_EQ(calm.status, 2) << calm.out << calm.err;

    host.adapters[0].faults.push_back(zvfix::FaultSpec::Busy("flash_read", 3).OnRegion(zvfix::kRegionMemo1));
    host.Write(hostDir.Path());
    RunResult busy = Run({}, true);
    EXPECT_EQ(busy.status, 2) << busy.out << busy.err << busy.outputFile;
    EXPECT_TRUE(Has(busy.outputFile, "Upgrade is not required. MBI version is up to date (06.05.01)\n"))
        << "the version read after the retries";
    auto seconds = [](const RunResult& r) { return std::count(r.sleepsMs.begin(), r.sleepsMs.end(), 1000L); };
    EXPECT_EQ(seconds(busy), seconds(calm) + 3);
}

// SIGTERM while the update runs: the update's handler ends the run with
// 128 + 15, without a summary, and the next run goes through unhindered.
TEST_F(MctpUpdate, SigtermDuringTheUpdateEndsWith143AndTheNextRunIsNotRefused) {
    AddChip25(Memo(6, 5, 1));
    Install({zvfix::FlashCfgRowFor(kSsid25, kVendor, "KV2692", "6.05.01", kImage)});
    WriteFbcTemplate();

    // The run is held at its second sleep (after the preload step, before the
    // summary); the marker file says it got there, so no timing is involved.
    zvtest::TempDir holdDir;
    const std::string marker = holdDir.Path() + "/held";
    RunOptions o;
    o.args = {"-trace"};
    o.env = {{"ZV_SIM_HOST", hostDir.Path()}, {"ZV_TEST_SLEEP_HOLD", "2:" + marker}};
    zvtest::Running running = zvtest::Start(inst, o);
    ASSERT_TRUE(zvtest::WaitUntil(running, [&] { return ::access(marker.c_str(), F_OK) == 0; }))
        << "the run never reached its second sleep";
    ASSERT_EQ(::kill(running.pid, SIGTERM), 0);
    RunResult r = zvtest::Wait(running);
    EXPECT_EQ(r.status, 128 + SIGTERM) << r.out << r.err;
    EXPECT_TRUE(Has(r.debugLog, "Signal (15) caught...")) << r.debugLog;
    EXPECT_TRUE(Has(r.debugLog, "termination_handler: exit 143.")) << r.debugLog;
    EXPECT_TRUE(Has(r.outputFile, "MCTP config enable: Started...\n"));
    EXPECT_FALSE(Has(r.outputFile, "MCTP config enable: Not required.")) << r.outputFile;
    // Its handler cleaned up: the library's shared file and set are gone.
    EXPECT_FALSE(zvtest::FileExists(ZVSHDB_PATH));
    EXPECT_TRUE(zvtest::SemaphoreSetsOf(0).empty());

    RunResult next = Run();
    EXPECT_EQ(next.status, 2) << next.out << next.err << next.outputFile;
    EXPECT_TRUE(Has(next.outputFile, "MCTP config enable: Not required.\n"));
}

// README command 1 with stand-in images: every adapter reaches its image
// check, and nothing is written to any of them.
TEST_F(MctpUpdate, DemoHostRunsThroughTheTableStepsToTheEngines) {
    zvtest::TempDir demo;
    zvfix::WriteDemoHost(demo.Path());
    zvfix::WriteMctpDemoFiles(demo.Path());
    for (const auto& entry : fs::directory_iterator(demo.Path() + "/install"))
        inst.WriteFile(entry.path().filename().string(), zvtest::ReadFile(entry.path().string()));
    RunResult r = Run({}, false, demo.Path() + "/host");
    EXPECT_EQ(r.status, 3) << r.out << r.err << r.outputFile;
    // The table steps' files carry stand-in images, which every engine
    // refuses: on the chip-type-25 adapters before either table is written.
    EXPECT_EQ(Count(r.outputFile, "Upgrading FWA version"), 0u) << r.outputFile;
    EXPECT_EQ(Count(r.outputFile, "Upgrading FBC version"), 0u);
    EXPECT_EQ(Count(r.outputFile, "Upgrading MBI version from 06.04.00 to 06.05.01: started\n"), 3u);
    EXPECT_EQ(Count(r.outputFile, "Validating Flash Image File... Failed\n"), 3u);
    EXPECT_EQ(Count(r.outputFile, "Upgrading MBI version from 06.04.00 to 06.05.01: failed\n"), 3u);
    EXPECT_TRUE(zvfix::ReadJournal(demo.Path() + "/host").empty());
    EXPECT_TRUE(Has(r.out, "MCTP config enable: Failed.\n"));
}

}  // namespace
