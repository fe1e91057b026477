// The on-line Dorne engine when the adapter or the library says no: nothing
// is ever written to the set the adapter runs, the image-status records are
// only written over a complete, verified set, and the adapter keeps booting
// the old set after any failure.
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

TEST_F(DorneFaults, BusyAnswersAreRiddenOut) {
    AddAdapter(1, 7, 0, 3).faults.push_back(zvfix::FaultSpec::Busy("flash_write", 3));
    Install(zvfix::BuildMultibootImage(DemoSpec()));
    const zvtest::RunResult r = Run();
    EXPECT_EQ(r.status, 1) << r.outputFile;
    EXPECT_EQ(EngineStatus(r), 201);
    EXPECT_EQ(Region(0x96), Record(1, 8));
}

// A lockdown, a write the adapter refuses, a read-back that differs, a new
// record that cannot be written (it goes first, so the old one keeps its
// active bit): the run fails with the step's message and the engine's status,
// nothing is written after it, and the old set boots with its records.
TEST_F(DorneFaults, AFailedStepStopsTheUpdateAndTheOldSetBoots) {
    const struct {
        zvfix::FaultSpec fault;
        int status;
        const char* line;
        std::vector<uint32_t> written;
    } cases[] = {
        {zvfix::FaultSpec::Lockdown(), 0x1D3,
         "Updating Adapter Signature... Failed\n"
         "Flash update failed with HBA instance 0 (KV2692). Firmware lockdown mode enabled!\n",
         {}},
        {zvfix::FaultSpec::Fail("flash_write", 5).OnRegion(0x02), 0x1CB,
         "Updating Adapter FC RISC Fw... Failed\nFlash update failed on this HBA (Instance 0) with error (0x5) (",
         {0x9F, 0x09, 0xE5, 0xD3, 0xD1, 0x67}},
        {zvfix::FaultSpec::CorruptWrite().OnRegion(0x09), 0x1CA,
         "Verifying Adapter FC Boot Code... Failed\nVerifying Adapter FC Boot Code... \n", {0x9F, 0x09}},
        {zvfix::FaultSpec::Fail("flash_write", 5).OnRegion(0x96), 0x203,
         "Updating Adapter Secondary Image Status... Failed\n", kSet2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        host = zvfix::HostBuilder();
        AddAdapter(1, 7, 0, 3).faults.push_back(c.fault);
        zvtest::TempDir dir;
        Install(zvfix::BuildMultibootImage(DemoSpec()), dir.Path());
        // The regions of set 1 that no set-2 update touches (0xD1 and 0xD3 have one copy).
        zvfix::BootManifest manifest;
        manifest.ExpectAsNow(dir.Path(), 0, 1, {0x9E, 0x07, 0xE1, 0x66, 0x01});

        const zvtest::RunResult r = Run(dir.Path());
        EXPECT_EQ(r.status, 3) << r.outputFile;
        EXPECT_EQ(EngineStatus(r), c.status);
        EXPECT_TRUE(Has(r.outputFile, c.line)) << r.outputFile;
        EXPECT_EQ(WrittenRegions(dir.Path()), c.written);
        ASSERT_EQ(zvfix::Reboot(dir.Path()), 0);
        const auto verdict = zvfix::CheckBoot(dir.Path(), manifest);
        ASSERT_EQ(verdict.size(), 1u);
        EXPECT_EQ(verdict[0].set, 1);
        EXPECT_TRUE(verdict[0].Intact());
        EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, 0x95), Record(1, 7));
        EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, 0x96), Record(0, 3));
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

}  // namespace
