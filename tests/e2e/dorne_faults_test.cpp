// The Dorne engines when the adapter or the library says no: nothing is ever
// written to the set the adapter runs, the image-status records are only
// written over a complete, verified set, and the adapter keeps booting the
// old set after any failure.
#include <signal.h>

#include <cstdlib>

#include "e2e/dorne_fixture.h"
#include "mgmt/sdapi.h"

namespace {
using namespace zvdorne;

class DorneFaults : public DorneTest {};

// This test process holds a live flash-update session on the adapter, as
// another update would: the run is refused and writes nothing.
TEST_F(DorneFaults, ASessionHeldByAnotherProcessRefusesTheRunAndWritesNothing) {
    AddAdapter(1, 7, 0, 3);
    Install(zvfix::BuildMultibootImage(DemoSpec()));
    setenv("ZV_SIM_HOST", hostDir.Path().c_str(), 1);
    int handle = -1;
    ASSERT_EQ(SDOpenDevice(1, &handle), 0u);   // the adapter's second port
    SD_INT32 token = 0;
    ASSERT_EQ(SDStartFlashUpdate(handle, 0, &token), 0u);

    const zvtest::RunResult r = Run();
    EXPECT_EQ(SDEndFlashUpdate(handle, 0, token), 0u) << "the run must not end another process's session";
    SDCloseDevice(handle);
    EXPECT_EQ(r.status, 3) << r.out << r.outputFile;
    EXPECT_EQ(EngineStatus(r), 0x20D);
    EXPECT_TRUE(Has(r.outputFile, "Flash update session in progress, please wait 15 minutes and try again.\n"))
        << r.outputFile;
    EXPECT_FALSE(Has(r.outputFile, "Updating Adapter")) << r.outputFile;
    EXPECT_TRUE(WrittenRegions().empty());
}

// The same on a host of two adapters of one family (on chip type 25 with
// their preload tables and board configurations due as well; chip type 27
// through its own on-line engine): the adapter whose session this process
// holds is refused before its first write (its tables included) with the
// engine's line and status, the other is updated, and the held session is
// left as it was. The off-line engine opens no session: both of its adapters
// are updated.
TEST_F(DorneFaults, ASessionHeldOnOneAdapterRefusesItBeforeItsTablesAndTheOtherIsUpdated) {
    const struct {
        zvonline::Family family;
        bool refused;
    } rows[] = {
        {zvonline::Chip25(true, true), true},
        {zvonline::Chip25(false, true), false},
        {zvonline::Chip27(), true},
    };
    const std::string session = "Flash update session in progress, please wait 15 minutes and try again.\n";
    for (const auto& row : rows) {
        const zvonline::Family& f = row.family;
        SCOPED_TRACE(f.name);
        const bool chip25 = f.name.starts_with("chip type 25");
        const std::string model = chip25 ? "HBA KV2692: " : "HBA KV2772: ";
        const std::string upgrading = model + "Upgrading MBI version from 06.04.00 to 06.05.01: ";
        host = zvfix::HostBuilder();
        f.build(host);   // adapter 0 (instances 0, 1): its session held
        f.build(host);   // adapter 1 (instances 2, 3)
        zvtest::TempDir dir;
        host.Write(dir.Path());
        f.install(inst);
        setenv("ZV_SIM_HOST", dir.Path().c_str(), 1);
        int handle = -1;
        ASSERT_EQ(SDOpenDevice(0, &handle), 0u);
        SD_INT32 token = 0;
        ASSERT_EQ(SDStartFlashUpdate(handle, 0, &token), 0u);
        const Bytes heldBefore = zvfix::ReadFlash(dir.Path(), 0);

        const zvtest::RunResult r = Run(dir.Path());
        EXPECT_EQ(SDEndFlashUpdate(handle, 0, token), 0u) << "the run must not end another process's session";
        SDCloseDevice(handle);
        const std::vector<uint32_t> held = zve2e::Written(dir.Path(), 0), other = zve2e::Written(dir.Path(), 1);
        const auto wrote = [](const std::vector<uint32_t>& w, uint32_t code) {
            return std::count(w.begin(), w.end(), code);
        };
        if (!row.refused) {
            EXPECT_EQ(r.status, 1) << r.out << r.outputFile;
            EXPECT_FALSE(Has(r.outputFile, session)) << r.outputFile;
            EXPECT_EQ(zve2e::Count(r.outputFile, upgrading + "completed\n"), 2u) << r.outputFile;
            EXPECT_EQ(wrote(held, zvfix::kRegionPreload1), 1);
            continue;
        }
        EXPECT_EQ(r.status, 4) << r.out << r.outputFile;
        EXPECT_TRUE(Has(r.out, "MCTP config enable: Completed with errors.\n")) << r.out;
        EXPECT_EQ(EngineStatus(r), 0x20D);
        // The held adapter comes first: its lines, then the other's.
        EXPECT_TRUE(r.outputFile.starts_with("MCTP config enable: Started...\n" + upgrading + "started\n"))
            << r.outputFile;
        // Refused where the engine opens its session: after the image passed
        // its checks and the engine's "Updating Flash" line.
        const std::string updating =
            std::string("Updating Flash on HBA port(s) -   ") + (chip25 ? "KV2692" : "KV2772") + ". Please wait...\n";
        EXPECT_TRUE(Has(r.outputFile, upgrading + "started\nValidating Flash Image File... Success\n" + updating +
                                          session + upgrading + "failed\n" + model + "Upgrading " +
                                          (chip25 ? "FWA version" : "MBI version")))
            << r.outputFile;
        EXPECT_EQ(zve2e::Count(r.outputFile, session), 1u);
        EXPECT_EQ(zve2e::Count(r.outputFile, upgrading + "completed\n"), 1u);
        EXPECT_TRUE(held.empty());
        EXPECT_TRUE(zvfix::ReadFlash(dir.Path(), 0) == heldBefore) << "adapter 0 changed";
        EXPECT_EQ(wrote(other, zvfix::kRegionFirmware2), 1);
        if (chip25) {
            for (const char* table : {"FWA", "FBC"}) {
                const std::string line = model + "Upgrading " + table + " version from 1.0.0 to 1.1.0: completed\n";
                EXPECT_EQ(zve2e::Count(r.outputFile, line), 1u) << line;
            }
            EXPECT_EQ(wrote(other, zvfix::kRegionPreload1), 1);
            EXPECT_EQ(wrote(other, zvfix::kRegionBoardConfig1), 1);
        }
    }
}

TEST_F(DorneFaults, BusyAnswersAreRiddenOut) {
    AddAdapter(1, 7, 0, 3).faults.push_back(zvfix::FaultSpec::Busy("flash_write", 3));
    Install(zvfix::BuildMultibootImage(DemoSpec()));
    const zvtest::RunResult r = Run();
    EXPECT_EQ(r.status, 1) << r.outputFile;
    EXPECT_EQ(EngineStatus(r), 201);
    EXPECT_EQ(Region(0x96), Record(1, 8));
}

// `first` and then `more`.
std::vector<uint32_t> Then(std::vector<uint32_t> first, const std::vector<uint32_t>& more) {
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

// A lockdown, a write the adapter refuses, a read-back that differs (shown
// also where a matching one shows nothing: the on-line signature, every
// off-line region), a new record that cannot be written (it goes first, so
// the old one keeps its active bit): the run fails with the step's message
// and the engine's status, nothing is written after it, and the old set
// boots with its records. The off-line engine (a library without on-line
// activation) meets an adapter running its secondary set. The memo block
// names no version before any write (0xDF first among the regions written,
// its "Failed" the lockdown's first line): the rerun after a failure updates.
TEST_F(DorneFaults, AFailedStepStopsTheUpdateAndTheOldSetBoots) {
    const struct {
        bool offline;
        std::vector<zvfix::FaultSpec> faults;
        int status;
        const char* line;
        std::vector<uint32_t> written;
        int exitStatus;   // of "-b", which ends with the engine's status: never 0 for a failure
    } cases[] = {
        {false, {zvfix::FaultSpec::Lockdown()}, 0x1D3,
         "Updating Adapter Flash Memo Block... Failed\n"
         "Flash update failed with HBA instance 0 (KV2692). Firmware lockdown mode enabled!\n",
         {}, 0xD3},
        {false, {zvfix::FaultSpec::CorruptWrite().OnRegion(0x9F)}, 0x1FE,
         "Updating Adapter Signature... Success\nVerifying Adapter Signature... Failed\n"
         "Verifying Adapter Signature... \n",
         {0xDF, 0x9F}, 0xFE},
        {false, {zvfix::FaultSpec::Fail("flash_write", 5).OnRegion(0x02)}, 0x1CB,
         "Updating Adapter FC RISC Fw... Failed\nFlash update failed on this HBA (Instance 0) with error (0x5) (",
         {0xDF, 0x9F, 0x09, 0xE5, 0xD3, 0xD1, 0x67}, 0xCB},
        {false, {zvfix::FaultSpec::Fail("flash_write", 5).OnRegion(0xD1)}, 0x200,
         "Updating Adapter PEP Fw... Failed\nFlash update failed on this HBA (Instance 0) with error (0x5) (",
         {0xDF, 0x9F, 0x09, 0xE5, 0xD3}, 255},
        {false, {zvfix::FaultSpec::CorruptWrite().OnRegion(0x09)}, 0x1CA,
         "Verifying Adapter FC Boot Code... Failed\nVerifying Adapter FC Boot Code... \n", {0xDF, 0x9F, 0x09}, 0xCA},
        {false, {zvfix::FaultSpec::Fail("flash_write", 5).OnRegion(0x96)}, 0x203,
         "Updating Adapter Secondary Image Status... Failed\n", Then({0xDF}, kSet2), 0x03},
        // On line, neither image-status record readable: which set runs is
        // unknown, and nothing is written.
        {false,
         {zvfix::FaultSpec::Fail("flash_read", 5).OnRegion(0x95), zvfix::FaultSpec::Fail("flash_read", 5).OnRegion(0x96)},
         36, "Unable to read the image status regions of HBA instance 0 - KV2692!\n", {}, 36},
        // A memo block that cannot be read may name any version: nothing is written.
        {false, {zvfix::FaultSpec::Fail("flash_read", 5).OnRegion(0xDF)}, 526,
         "Updating Adapter Flash Memo Block... Failed\n", {}, 526 & 0xFF},
        {true, {zvfix::FaultSpec::Fail("flash_read", 5).OnRegion(0xDF)}, 526,
         "Updating Adapter Flash Memo Block... Failed\n", {}, 526 & 0xFF},
        {true, {zvfix::FaultSpec::CorruptWrite().OnRegion(0x9E)}, 0x1FE,
         "Please wait...\nUpdating Adapter Signature... Success\nVerifying Adapter Signature... Failed\n"
         "Verifying Adapter Signature... \n",
         {0xDF, 0x9E}, 0xFE},
        {true, {zvfix::FaultSpec::CorruptWrite().OnRegion(0xD1)}, 0x1FF,
         "Updating Adapter MPI Fw ... Success\nUpdating Adapter PEP Fw... Success\n"
         "Verifying Adapter PEP Fw... Failed\nVerifying Adapter PEP Fw... \n",
         {0xDF, 0x9E, 0x07, 0xE1, 0xD3, 0xD1}, 0xFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        host = zvfix::HostBuilder();
        if (c.offline) host.libraryVersion = "v6.03 build12";
        const Bytes oldPrimary = Record(c.offline ? 0 : 1, c.offline ? 3 : 7);
        const Bytes oldSecondary = Record(c.offline ? 1 : 0, c.offline ? 9 : 3);
        zvfix::AdapterSpec& a = c.offline ? AddAdapter(0, 3, 1, 9) : AddAdapter(1, 7, 0, 3);
        a.faults.insert(a.faults.end(), c.faults.begin(), c.faults.end());
        zvtest::TempDir dir;
        Install(zvfix::BuildMultibootImage(DemoSpec()), dir.Path());
        // The regions of the running set that the update does not touch (0xD1
        // and 0xD3 have one copy).
        const int running = c.offline ? 2 : 1;
        zvfix::BootManifest manifest;
        manifest.ExpectAsNow(dir.Path(), 0, running,
                             c.offline ? std::vector<uint32_t>{0x9F, 0x09, 0xE5, 0x67, 0x02}
                                       : std::vector<uint32_t>{0x9E, 0x07, 0xE1, 0x66, 0x01});

        const zvtest::RunResult r = Run(dir.Path());
        EXPECT_EQ(r.status, 3) << r.outputFile;
        EXPECT_EQ(EngineStatus(r), c.status);
        EXPECT_TRUE(Has(r.outputFile, c.line)) << r.outputFile;
        EXPECT_EQ(WrittenRegions(dir.Path()), c.written);
        ASSERT_EQ(zvfix::Reboot(dir.Path()), 0);
        const auto verdict = zvfix::CheckBoot(dir.Path(), manifest);
        ASSERT_EQ(verdict.size(), 1u);
        EXPECT_EQ(verdict[0].set, running);
        EXPECT_TRUE(verdict[0].Intact());
        EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, 0x95), oldPrimary);
        EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, 0x96), oldSecondary);

        zvtest::TempDir one;
        host.Write(one.Path());
        const zvtest::RunResult b = zvonline::RunOn(inst, one.Path(), {"--kamu", "-b", "0", kImage});
        EXPECT_EQ(b.status, c.exitStatus) << b.out << b.outputFile;
        EXPECT_TRUE(Has(b.outputFile, c.line)) << b.outputFile;
    }
}

// The memo block is written last, and names no version from the first
// write on, so a power cut after any write before its last (the records, the VPD
// version keywords) makes the rerun redo the whole update: the keywords end
// current, never left stale behind "up to date". The rerun finds the block
// naming none and writes it only last.
TEST_F(DorneFaults, ACutBeforeTheMemoBlockMakesTheRerunRedoTheUpdate) {
    for (const bool online : {true, false}) {
        // Writes 9 to 14 of 15: the records and the four VPDs; the memo block is the 15th.
        for (size_t n = 9; n <= 14; ++n) {
            const zvonline::Family f = zvonline::Chip25(online);
            SCOPED_TRACE(f.name + ": cut after write " + std::to_string(n));
            host = zvfix::HostBuilder();
            f.build(host);
            host.powerLoss = zvfix::PowerLossSpec::After(n);
            zvtest::TempDir dir;
            Install(zvfix::BuildMultibootImage(DemoSpec()), dir.Path());
            ASSERT_EQ(Run(dir.Path()).status, 128 + SIGKILL);
            ASSERT_EQ(zvonline::RebootTool("--power-cycle " + dir.Path()).status, 0);
            host.powerLoss.reset();
            zvonline::RewriteHostJson(host, dir.Path());
            // "-i" reads the block naming no version as none.
            const zvtest::RunResult info = zvonline::RunOn(inst, dir.Path(), {"-i", "0"});
            EXPECT_EQ(info.status, 0) << info.out;
            const size_t at = info.out.find("Flash Image Version");
            EXPECT_TRUE(at != std::string::npos && info.out.substr(at, info.out.find('\n', at) - at).ends_with(": N/A"))
                << info.out;

            const size_t before = WrittenRegions(dir.Path()).size();
            const zvtest::RunResult r = Run(dir.Path());
            EXPECT_EQ(r.status, 1) << r.outputFile;
            EXPECT_TRUE(Has(r.outputFile, "Upgrading MBI version from 00.00.00 to 06.05.01: completed\n"))
                << r.outputFile;
            // The block names none already: written once, last.
            const std::vector<uint32_t> rerun = WrittenRegions(dir.Path());
            EXPECT_EQ(std::count(rerun.begin() + static_cast<long>(before), rerun.end(), 0xDFu), 1);
            EXPECT_EQ(rerun.back(), 0xDFu);
            for (uint32_t code : kFcVpd) {
                EXPECT_EQ(VpdKeyword(zvfix::ReadRegion(dir.Path(), 0, code), "V9"), std::string("060501\0\0", 8))
                    << std::hex << code;
            }
        }
    }
}

// The final memo write fails: the engine's status is not its, so the run
// ends written ("-b": 201 on line, 0 off line), but the block still names no
// version, and the next run writes the adapter again.
TEST_F(DorneFaults, AFailedFinalMemoWriteEndsWrittenAndTheNextRunWritesAgain) {
    for (const bool online : {true, false}) {
        const zvonline::Family f = zvonline::Chip25(online);
        SCOPED_TRACE(f.name);
        host = zvfix::HostBuilder();
        f.build(host);
        // The first write of the block is its hold, the second its final write.
        host.adapters.front().faults.push_back(zvfix::FaultSpec::Fail("flash_write", 5).OnRegion(0xDF).Skip(1));
        zvtest::TempDir dir;
        Install(zvfix::BuildMultibootImage(DemoSpec()), dir.Path());
        const zvtest::RunResult b = zvonline::RunOn(inst, dir.Path(), {"--kamu", "-b", "0", kImage});
        EXPECT_EQ(b.status, online ? 201 : 0) << b.out << b.outputFile;
        EXPECT_TRUE(Has(b.outputFile, "Updating Adapter Flash Memo Block... Failed\n"
                                      "Flash update complete. Changes have been saved to all ports of this HBA.\n"))
            << b.outputFile;
        const zvtest::RunResult info = zvonline::RunOn(inst, dir.Path(), {"-i", "0"});
        EXPECT_TRUE(Has(info.out, "Flash Image Version            : N/A\n")) << info.out;

        host.adapters.front().faults.clear();
        zvonline::RewriteHostJson(host, dir.Path());
        const size_t before = WrittenRegions(dir.Path()).size();
        const zvtest::RunResult r = Run(dir.Path());
        EXPECT_EQ(r.status, 1) << r.outputFile;
        EXPECT_TRUE(Has(r.outputFile, "Upgrading MBI version from 00.00.00 to 06.05.01: completed\n")) << r.outputFile;
        const std::vector<uint32_t> rerun = WrittenRegions(dir.Path());
        EXPECT_GT(rerun.size(), before + 1) << "the set is written again";
        EXPECT_EQ(rerun.back(), 0xDFu);
    }
}

// A boot code that fits its region only without the table after it is
// refused before the session: nothing is written.
TEST_F(DorneFaults, ABootCodeThatCannotHoldTheTableIsRefusedBeforeAnyWrite) {
    AddAdapter(1, 7, 0, 3);
    zvfix::MultibootImageSpec spec = DemoSpec();
    spec.Component(0x07)->data.resize(0x40000 - 0x20, 0xFF);
    Install(zvfix::BuildMultibootImage(spec));

    const zvtest::RunResult r = Run();
    EXPECT_EQ(r.status, 3) << r.outputFile;
    EXPECT_EQ(EngineStatus(r), 34);
    EXPECT_TRUE(Has(r.outputFile, "Validating Flash Image File... Incompatible flash image (Region size mismatched)!\n"))
        << r.outputFile;
    EXPECT_FALSE(Has(r.outputFile, "Please wait")) << r.outputFile;
    EXPECT_TRUE(WrittenRegions().empty());
}

// An image that is no complete set for the adapter (the firmware's entry
// cleared to region 0, a component over the table or another one, a
// component missing, ...) fails the adapter at validation, on line and off
// line: nothing is written, every flash byte stays, the old set still boots.
TEST_F(DorneFaults, AnImageThatIsNoCompleteSetFailsValidationAndLeavesEveryFlashByte) {
    for (const bool offline : {false, true}) {
        for (const zvfix::MbiVariant& v : zvfix::BrokenSetVariants(DemoSpec(), 25)) {
            // The firmware's entry cleared, a component over the table, a
            // component missing stand for the rest (the engines' tests take
            // every variant); off line the first one does.
            const std::string name = v.name;
            if (name != "firmware entry for region 0" &&
                (offline || (name != "MPI firmware over the layout table" && name != "no boot code")))
                continue;
            SCOPED_TRACE(std::string(v.name) + (offline ? " off line" : " on line"));
            host = zvfix::HostBuilder();
            if (offline) host.libraryVersion = "v6.03 build12";
            // Off line the records must switch to the primary set: with it
            // booting already the set is written in place, and an image that
            // lacks the firmware leaves the one on flash.
            if (offline) {
                AddAdapter(0, 3, 1, 7);
            } else {
                AddAdapter(1, 7, 0, 3);
            }
            zvtest::TempDir dir;
            Install(zvfix::BuildMultibootImage(v.spec), dir.Path());
            const Bytes before = zvfix::ReadFlash(dir.Path(), 0);

            const zvtest::RunResult r = Run(dir.Path());
            EXPECT_EQ(EngineStatus(r), 507);
            zve2e::ExpectRefusedAsNoCompleteSet(r, dir.Path(), before);
        }
    }
}

}  // namespace
