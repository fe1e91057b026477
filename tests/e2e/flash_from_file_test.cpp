// "-b <hba|ALL> <file>" run as a user would: the family option that selects
// the adapters, the Gen6 engines through the dispatch and the single-region
// update of older adapters (with the file's regions taken from where they lie
// in it), checked on the flash they leave.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/online_update_families.h"
#include "e2e/run_helpers.h"
#include "fixtures/adapters_properties_builder.h"
#include "fixtures/converged_image_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/memo_block_builder.h"
#include "fixtures/multiboot_image_builder.h"
#include "fixtures/rom_chain_builder.h"
#include "frontend/vpd.h"
#include "mgmt/sdapi.h"
#include "support/e2e_support.h"

namespace {
using zve2e::Slice;
using zve2e::Written;
using zvfix::Bytes;
using zvtest::Has;
using zvtest::RunResult;

constexpr uint16_t kVendor = 0x1A77;
constexpr const char* kFile = "image.bin";

std::string AsText(const Bytes& b) { return std::string(b.begin(), b.end()); }

class FlashFromFile : public zve2e::IsolatedTest {
protected:
    // Every adapter of the host supported, under its chip text.
    RunResult Run(const Bytes& file, std::vector<std::string> args, const std::string& dir = "") {
        host.Write(dir.empty() ? hostDir.Path() : dir);
        inst.WriteFile("adapters.properties", zvfix::AdapterTableFor(host));
        inst.WriteFile(kFile, AsText(file));
        return RunAgain(std::move(args), dir);
    }

    // A run over the host and files as earlier runs left them.
    RunResult RunAgain(std::vector<std::string> args, const std::string& dir = "") {
        zvtest::RunOptions o;
        o.args = std::move(args);
        o.env = {{"ZV_SIM_HOST", dir.empty() ? hostDir.Path() : dir}};
        return zvtest::RunProgram(inst, o);
    }

    zvfix::AdapterSpec& AddChip25(int ports = 2) {
        zvfix::AdapterSpec& a = host.AddChip25(0x2261, ports);
        a.subSystemId = 0x0289;
        a.SetRegion(zvfix::kRegionMemo1, zvfix::MakeMemoBlock({.mbi = {6, 4, 0, 0}}));
        return a;
    }

    static Bytes Chip25Image() {
        return zvfix::MakeDorneImage({.deviceId = 0x2261, .ssvid = kVendor, .ssdid = 0x0289, .cardType = 1});
    }

    // A chip-type-12 adapter whose layout also offers the whole multiboot
    // region (0xFF) and the combined boot-code and firmware region (0x05).
    zvfix::AdapterSpec& AddOlderWithMultibootRegions() {
        zvfix::AdapterSpec& a = host.AddOlder(0x2532);
        a.layout.push_back({0xFF, 0x100000, 0x100000, false});
        a.layout.push_back({0x05, 0x200000, 0x80000, false});
        return a;
    }

    zvfix::HostBuilder host;
    zvtest::TempDir hostDir;
    zvtest::InstallDir inst;
};

// ---- Gen6 adapters through their engines ----------------------------------------------------

TEST_F(FlashFromFile, AllWithAChip25ImageWritesEachChip25AdapterOnceAndNothingElse) {
    AddChip25();
    host.AddChip27(0x2281).subSystemId = 0x02A9;
    AddChip25();
    const RunResult r = Run(Chip25Image(), {"--vobi", "-b", "ALL", kFile});
    // Success, though each write asks for a reboot.
    EXPECT_EQ(r.status, 0) << r.out << r.err << r.outputFile;
    // The second port of each adapter does not write the same flash again.
    for (int adapter : {0, 2}) {
        const std::vector<uint32_t> w = Written(hostDir.Path(), adapter);
        EXPECT_EQ(std::count(w.begin(), w.end(), zvfix::kRegionFirmware2), 1) << "adapter " << adapter;
    }
    EXPECT_TRUE(Written(hostDir.Path(), 1).empty());
    EXPECT_EQ(Slice(zvfix::ReadRegion(hostDir.Path(), 0, zvfix::kRegionMemo1), 20, 2), Bytes({6, 10}));   // MBI 6.10.12
}

// Adapters whose serial numbers cannot be read are two adapters all the same:
// each is written, once, two-port and four-port alike.
TEST_F(FlashFromFile, AllWritesEachAdapterWithoutASerialNumberOnce) {
    for (const int ports : {2, 4}) {
        SCOPED_TRACE(std::to_string(ports) + " ports");
        host = zvfix::HostBuilder();
        zvtest::TempDir dir;
        AddChip25(ports).serial = "";
        AddChip25(ports).serial = "";
        const RunResult r = Run(Chip25Image(), {"--vobi", "-b", "ALL", kFile}, dir.Path());
        EXPECT_EQ(r.status, 0) << r.out << r.err << r.outputFile;
        for (int adapter : {0, 1}) {
            const std::vector<uint32_t> w = Written(dir.Path(), adapter);
            // One update: its memo block named no version first, then the image's.
            EXPECT_EQ(std::count(w.begin(), w.end(), zvfix::kRegionMemo1), 2) << "adapter " << adapter;
            EXPECT_EQ(std::count(w.begin(), w.end(), zvfix::kRegionFirmware2), 1) << "adapter " << adapter;
            EXPECT_EQ(Slice(zvfix::ReadRegion(dir.Path(), adapter, zvfix::kRegionMemo1), 20, 2), Bytes({6, 10}));
        }
    }

    // Chip type 24, four ports on two chips: the dispatch writes the second
    // chip through its own port. Each chip is written once, both in its
    // adapter's turn: the adapter's writes are one unbroken stretch of the
    // journal, holding every region twice.
    SCOPED_TRACE("chip type 24, four ports");
    host = zvfix::HostBuilder();
    zvtest::TempDir dir;
    for (int i = 0; i < 2; ++i) {
        zvfix::AdapterSpec& a = host.AddAdapter(0x2031, 4);
        a.serial = "";
        zvfix::SetConvergedVpds(a, "");
    }
    const RunResult r = Run(zvfix::BuildMultibootImage(zvfix::TorviImageSpec(zvfix::kTorvi24Adapter)),
                            {"--wexi", "-b", "ALL", kFile}, dir.Path());
    EXPECT_EQ(r.status, 0) << r.out << r.err << r.outputFile;
    std::vector<int> turns;
    for (const zvfix::JournalEntry& e : zvfix::ReadJournal(dir.Path()))
        if (turns.empty() || turns.back() != e.adapter) turns.push_back(e.adapter);
    EXPECT_EQ(turns.size(), 2u) << testing::PrintToString(turns);
    for (int adapter : {0, 1}) {
        const std::vector<uint32_t> w = Written(dir.Path(), adapter);
        for (const uint32_t region : {0x07u, 0x2Eu, 0xA2u, 0x4Fu, 0x70u, 0x72u, 0x73u, 0xA4u, 0x01u, 0x97u, 0x89u})
            EXPECT_EQ(std::count(w.begin(), w.end(), region), 2) << "adapter " << adapter << " region " << region;
        EXPECT_EQ(Slice(zvfix::ReadRegion(dir.Path(), adapter, zvfix::kRegionMemo24), 20, 3), Bytes({6, 10, 12}));
    }
}

// Only a family option selects adapters: without one no adapter matches.
TEST_F(FlashFromFile, FamilyOptionSkipsTheOtherFamiliesAndNoneSelectsNothing) {
    AddChip25();
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string outputFile;
    };
    const std::string zero = "Skipping flash update on HBA 0 - KV2692. MBI file does not match with hardware type!\n";
    const std::string one = "Skipping flash update on HBA 1 - KV2692. MBI file does not match with hardware type!\n";
    const Case cases[] = {
        {{"--zuka", "-b", "ALL", kFile}, 34, zero + one},
        {{"-b", "ALL", kFile}, 34, zero + one},
        {{"--zuka", "-b", "1", kFile}, 19, one},
        {{"-b", "1", kFile}, 19, one},
    };
    for (const Case& c : cases) {
        const RunResult r = Run(Chip25Image(), c.args);
        EXPECT_EQ(r.status, c.status) << r.out << r.err << r.outputFile;
        EXPECT_EQ(r.outputFile, c.outputFile);
        EXPECT_TRUE(zvfix::ReadJournal(hostDir.Path()).empty());
    }
}

// "-b" holds the host's update lock as the MCTP command does: while another
// run holds it, the run ends with 3 and writes nothing, to one adapter or all.
TEST_F(FlashFromFile, WhileAnotherRunHoldsTheUpdateLockNothingIsWritten) {
    AddChip25();
    const std::string refused = "Another update is in progress on this host; nothing was written.\n";
    const int lock = ::open("/run/zv_mctp_update.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    for (const std::string which : {"ALL", "0"}) {
        SCOPED_TRACE(which);
        const RunResult r = Run(Chip25Image(), {"--vobi", "-b", which, kFile});
        EXPECT_EQ(r.status, 3) << r.out << r.err << r.outputFile;
        EXPECT_TRUE(Has(r.out, refused)) << r.out;
        EXPECT_EQ(r.outputFile, refused);
        EXPECT_TRUE(zvfix::ReadJournal(hostDir.Path()).empty());
    }
    ::close(lock);
    const RunResult r = Run(Chip25Image(), {"--vobi", "-b", "0", kFile});
    EXPECT_TRUE(r.status == 0 || r.status == 201) << r.status << r.outputFile;
    EXPECT_FALSE(zvfix::ReadJournal(hostDir.Path()).empty());
}

// "-b" cut while it writes an FC VPD (16 bytes land), then a power cycle:
// the rerun rebuilds the torn region from its intact other copy before it
// writes the image, as the MCTP command does, and every FC VPD ends sound.
TEST_F(FlashFromFile, ARerunRebuildsAnFcVpdACutRunTore) {
    AddChip25();
    const std::vector<std::string> args = {"--vobi", "-b", "0", kFile};
    RunResult r = Run(Chip25Image(), args);
    ASSERT_TRUE(r.status == 0 || r.status == 201) << r.status << r.outputFile;
    const std::vector<zvfix::JournalEntry> control = zvfix::ReadJournal(hostDir.Path());
    const auto vpdWrite = std::find_if(control.begin(), control.end(), [](const auto& e) { return e.region == 0x14; });
    ASSERT_NE(vpdWrite, control.end());

    host.powerLoss = zvfix::PowerLossSpec::During(static_cast<uint64_t>(vpdWrite - control.begin()) + 1, 16);
    r = Run(Chip25Image(), args);
    ASSERT_EQ(r.status, 128 + SIGKILL) << r.outputFile;
    const Bytes torn = zvfix::ReadRegion(hostDir.Path(), 0, 0x14);
    ASSERT_FALSE(VpdIsSound(torn));
    ASSERT_EQ(zvonline::RebootTool("--power-cycle " + hostDir.Path()).status, 0);
    host.powerLoss.reset();
    zvonline::RewriteHostJson(host, hostDir.Path());

    r = RunAgain(args);
    EXPECT_TRUE(r.status == 0 || r.status == 201) << r.status << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, "Rebuilding Adapter FC VPD region 0x14 from region 0x10C... Success\n"))
        << r.outputFile;
    for (const uint32_t code : {0x14u, 0x16u, 0xD4u, 0xD6u})
        EXPECT_TRUE(VpdIsSound(zvfix::ReadRegion(hostDir.Path(), 0, code))) << std::hex << code;

}

// A torn FC VPD (cut after its serial number) beside a copy that holds
// another adapter's VPD: the adapter fails before anything is written to it.
TEST_F(FlashFromFile, ATornFcVpdWithoutAnIntactCopyFailsTheAdapterBeforeAnyWrite) {
    zvfix::AdapterSpec& a = AddChip25();
    Bytes torn = zvfix::MakeVpd(a.vpd, a.serial, 512);
    std::fill(torn.begin() + 70, torn.end(), uint8_t{0xFF});
    a.SetRegion(0x14, torn);
    a.SetRegion(0x10C, zvfix::MakeVpd(a.vpd, "ZV99999999", 512));
    const RunResult r = Run(Chip25Image(), {"--vobi", "-b", "0", kFile});
    EXPECT_EQ(r.status, 161) << r.outputFile;
    EXPECT_EQ(r.outputFile, "HBA KV2692 (instance 0): FC VPD region 0x14 is damaged and the adapter holds no intact "
                            "copy of it!\nHBA KV2692 (instance 0): MBI update skipped after a failed step; the adapter "
                            "was not updated.\n");
    EXPECT_TRUE(zvfix::ReadJournal(hostDir.Path()).empty());
    EXPECT_EQ(zvfix::ReadRegion(hostDir.Path(), 0, 0x14), torn);
}

// Another process holds the flash-update session of the first of two
// adapters, whose FC VPD a cut write tore (it would be rebuilt before the
// image): that adapter is refused with the engine's line before anything is
// written to it, the VPD repair included; the other is written.
TEST_F(FlashFromFile, ASessionHeldByAnotherProcessRefusesItsAdapterBeforeTheVpdRepair) {
    zvfix::AdapterSpec& a = AddChip25();
    Bytes torn = zvfix::MakeVpd(a.vpd, a.serial, 512);
    std::fill(torn.begin() + 70, torn.end(), uint8_t{0xFF});
    a.SetRegion(0x14, torn);
    AddChip25();
    host.Write(hostDir.Path());
    const Bytes heldBefore = zvfix::ReadFlash(hostDir.Path(), 0);
    setenv("ZV_SIM_HOST", hostDir.Path().c_str(), 1);
    int handle = -1;
    ASSERT_EQ(SDOpenDevice(0, &handle), 0u);
    SD_INT32 token = 0;
    ASSERT_EQ(SDStartFlashUpdate(handle, 0, &token), 0u);

    const RunResult r = Run(Chip25Image(), {"--vobi", "-b", "ALL", kFile});
    EXPECT_EQ(SDEndFlashUpdate(handle, 0, token), 0u) << "the run must not end another process's session";
    SDCloseDevice(handle);
    EXPECT_EQ(r.status, 0) << r.out << r.err << r.outputFile;
    EXPECT_TRUE(r.outputFile.starts_with("Validating Flash Image File... Success\n"
                                         "Updating Flash on HBA port(s) -   KV2692. Please wait...\n"
                                         "Flash update session in progress, please wait 15 minutes and try again.\n"))
        << r.outputFile;
    // Each port of the held adapter is tried, as neither wrote it.
    EXPECT_EQ(zve2e::Count(r.outputFile, "Flash update session in progress"), 2u) << r.outputFile;
    EXPECT_FALSE(Has(r.outputFile, "Rebuilding Adapter FC VPD")) << r.outputFile;
    EXPECT_TRUE(Written(hostDir.Path(), 0).empty());
    EXPECT_TRUE(zvfix::ReadFlash(hostDir.Path(), 0) == heldBefore) << "adapter 0 changed";
    const std::vector<uint32_t> w = Written(hostDir.Path(), 1);
    EXPECT_EQ(std::count(w.begin(), w.end(), zvfix::kRegionFirmware2), 1);
}

TEST_F(FlashFromFile, MissingFileAndNoPort) {
    AddChip25();
    RunResult r = Run(Chip25Image(), {"--kamu", "-b", "ALL", "absent.bin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.outputFile, "Failed to open file absent.bin for reading!")) << r.outputFile;
    host.adapters.clear();
    r = Run(Chip25Image(), {"--kamu", "-b", "ALL", kFile});
    EXPECT_EQ(r.status, 8);
    EXPECT_EQ(r.outputFile, "No compatible HBA(s) found in current system !\n");
}

// ---- The single-region update of older adapters ----------------------------------------------

TEST_F(FlashFromFile, FileOfAWrongSizeIsRefusedBeforeAnythingIsWritten) {
    host.AddOlder(0x2532);
    const RunResult r = Run(zvfix::MakeOptionRomFile(0x2532, 0x10000), {"--kefa", "-b", "0", kFile});
    EXPECT_EQ(r.status, 32) << r.out << r.err;
    EXPECT_EQ(r.outputFile, std::string(kFile) +
                                " is not an acceptable flash data file for this HBA (Instance 0 - KV2532), wrong size!\n");
    EXPECT_TRUE(zvfix::ReadJournal(hostDir.Path()).empty());
}

TEST_F(FlashFromFile, MultibootFileGoesToEachRegionFromItsOwnOffset) {
    AddOlderWithMultibootRegions();
    const Bytes file = zvfix::MakeOptionRomFile(0x2532, 0x100000, 0x80000, "FIRMWARE-PART");
    const RunResult r = Run(file, {"--kefa", "-b", "0", kFile});
    ASSERT_EQ(r.status, 0) << r.out << r.err << r.outputFile;
    EXPECT_EQ(Written(hostDir.Path(), 0), (std::vector<uint32_t>{0x07, 0x01, 0x05}));
    const Bytes boot = zvfix::ReadRegion(hostDir.Path(), 0, 0x07);
    EXPECT_TRUE(zvfix::BiosChecksumOk(boot, 0));
    EXPECT_EQ(AsText(Slice(boot, 68, 7)), "KV2532 ");   // the common image now names the adapter
    EXPECT_EQ(Slice(boot, 0x1000, 0x3F000), Slice(file, 0x1000, 0x3F000));
    EXPECT_EQ(AsText(Slice(zvfix::ReadRegion(hostDir.Path(), 0, 0x01), 0, 13)), "FIRMWARE-PART");
    EXPECT_EQ(Slice(zvfix::ReadRegion(hostDir.Path(), 0, 0x05), 0x1000, 0x7F000), Slice(file, 0x1000, 0x7F000));
    EXPECT_TRUE(Has(r.outputFile, "Option ROM update complete. Changes have been saved to both ports of this HBA.\n"
                                  "You must reboot in order for changes to take effect.\n"));
}

TEST_F(FlashFromFile, ANotActivatedAnswerOnAnyRegionNeedsAReboot) {
    AddOlderWithMultibootRegions().faults.push_back(zvfix::FaultSpec::NotActivated().OnRegion(0x07));
    const RunResult r = Run(zvfix::MakeOptionRomFile(0x2532, 0x100000), {"--kefa", "-b", "0", kFile});
    EXPECT_EQ(r.status, 201) << r.outputFile;
    EXPECT_EQ(Written(hostDir.Path(), 0), (std::vector<uint32_t>{0x07, 0x01, 0x05}));
}

TEST_F(FlashFromFile, UnreadableRegionOrFailedWriteEndsTheUpdate) {
    AddOlderWithMultibootRegions().faults.push_back(zvfix::FaultSpec::Fail("flash_read", 0x20000075).OnRegion(0xFF));
    RunResult r = Run(zvfix::MakeOptionRomFile(0x2532, 0x100000), {"--kefa", "-b", "0", kFile});
    EXPECT_EQ(r.status, 34) << r.outputFile;
    EXPECT_TRUE(zvfix::ReadJournal(hostDir.Path()).empty());

    host.adapters.clear();
    AddOlderWithMultibootRegions().faults.push_back(zvfix::FaultSpec::Fail("flash_write", 0x20000066).OnRegion(0x01));
    r = Run(zvfix::MakeOptionRomFile(0x2532, 0x100000), {"--kefa", "-b", "0", kFile});
    EXPECT_EQ(r.status, 34);
    EXPECT_TRUE(Has(r.outputFile, "Flash update failed on this HBA (Instance 0) with error (0x20000066)")) << r.outputFile;
    EXPECT_EQ(Written(hostDir.Path(), 0), (std::vector<uint32_t>{0x07}));
}

}  // namespace
