// The MCTP command writes flash only where the run may write: an adapter the
// update would refuse gets nothing, both templates are checked before either
// table is written, a flash.cfg image name that cannot be kept whole fails
// before anything is written, and "package.cfg" counts by its name alone.
#include <sys/stat.h>

#include "e2e/safety_fixture.h"

namespace {
using zvsafety::Has;

class SafetyWrites : public zvsafety::SafetyTest {};

// A refused adapter gets nothing written; whether it needed its multiboot
// image (a failure) or not ("not required", silently) is the policy's verdict.
TEST_F(SafetyWrites, RefusedAdaptersAreLeftByteForByteAndOnlyTheAllowedOneIsWritten) {
    AddChip25(0x0289);                          // instances 0, 1: marked unsupported
    AddChip25(0x028A);                          // 2, 3: no row in the table
    zvfix::AdapterSpec& locked = AddChip25(0x028B);   // 4, 5: firmware-update lockdown
    locked.lockdownStatus = 0x20000113;
    locked.lockdownSupport = 0x2;
    locked.fwUpdateDisable = 0x1;
    locked.ispFwLockdown = 0x1;
    AddChip25(0x028C);                          // 6, 7: may be written
    const std::string refusals[] = {"Flash update is not supported on HBA instance 0 - KV2692!\n",
                                    "Flash update is not supported on HBA instance 2 - KV2692!\n",
                                    "Fw lockdown is enabled. Flash update is restricted to HBA instance 4 (KV2692)!\n"};
    struct Case {
        const char* multiboot;   // of every flash.cfg record; the adapters carry 6.05.01
        int status;
        const char* summary;
    };
    for (const Case c : {Case{"6.05.01", 2, "MCTP config enable: Not required.\n"},
                         Case{"6.05.02", 3, "MCTP config enable: Failed.\n"}}) {
        SCOPED_TRACE(c.multiboot);
        Install({0x0289}, {0x028A});
        std::vector<zvfix::FlashCfgRow> rows;
        for (const zvfix::AdapterSpec& a : host.adapters)
            rows.push_back(zvfix::FlashCfgRowFor(a.subSystemId, a.subVendorId, a.model, c.multiboot, zvsafety::kImage));
        inst.WriteFile("flash.cfg", zvfix::FlashCfg(rows));
        const auto before = Flashes();
        const size_t earlier = zvfix::ReadJournal(hostDir.Path()).size();

        zvtest::RunResult r = RunWithin(Options());
        EXPECT_EQ(r.status, c.status) << r.out << r.err << r.outputFile;
        EXPECT_TRUE(Has(r.out, c.summary)) << r.out;
        const bool upToDate = c.status == 2;
        EXPECT_EQ(zve2e::Count(r.outputFile, "HBA KV2692: Upgrade is not required. MBI version is up to date (06.05.01)\n"),
                  upToDate ? 4u : 0u)
            << r.outputFile;
        for (const std::string& refusal : refusals) EXPECT_EQ(Has(r.outputFile, refusal), !upToDate) << refusal;
        const std::vector<zvfix::JournalEntry> journal = zvfix::ReadJournal(hostDir.Path());
        ASSERT_EQ(journal.size(), earlier + 2) << "the allowed adapter's two tables only";
        for (size_t i = earlier; i < journal.size(); ++i) EXPECT_EQ(journal[i].adapter, 3);
        const auto after = Flashes();
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(after[i], before[i]) << "adapter " << i;
        EXPECT_NE(after[3], before[3]);
    }
}

TEST_F(SafetyWrites, ABadSecondTemplateLeavesBothTablesUnwritten) {
    AddChip25(0x0289);
    Install();
    const auto before = Flashes();
    // Unparsable, and well-formed but not fitting the adapter's table.
    for (const std::string& fbc : {std::string("table = CBF(\nversion = 2.0.0\n0x0040: XYZ\n"),
                                   zvfix::BoardTemplateSpec{"CBF(", "2.0.0", {{0xFFFFF0, {0x11}}}, {}}.Text()}) {
        inst.WriteFile("Vx9FBC.dat", fbc);
        zvtest::RunResult r = RunWithin(Options());
        EXPECT_EQ(r.status, 3) << r.out << r.err << r.outputFile;
        EXPECT_TRUE(Has(r.outputFile, "Neither the FWA preload table nor the FBC board configuration was written."))
            << r.outputFile;
        EXPECT_FALSE(Has(r.outputFile, "Upgrading FWA version")) << r.outputFile;
        EXPECT_TRUE(zvfix::ReadJournal(hostDir.Path()).empty());
        EXPECT_EQ(Flashes(), before);
    }
}

TEST_F(SafetyWrites, AnImageNameLongerThanKeptFailsTheAdapterBeforeAnyWrite) {
    AddChip25(0x0289);
    Install();
    const std::string longName(200, 'm');
    zvfix::FlashCfgRow row = zvfix::FlashCfgRowFor(0x0289, zvsafety::kVendor, "KV2692", "6.05.02", longName);
    inst.WriteFile("flash.cfg", zvfix::FlashCfg({row}));
    // The name cut to 135 characters would open this file.
    inst.WriteFile(longName.substr(0, 135), zvfix::StandInImage());
    const auto before = Flashes();

    zvtest::RunResult r = RunWithin(Options());
    EXPECT_EQ(r.status, 3) << r.out << r.err << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2692 (instance 0): The image file name in flash.cfg is longer than 135 "
                                  "characters; the adapter is not updated!\n"))
        << r.outputFile;
    EXPECT_TRUE(zvfix::ReadJournal(hostDir.Path()).empty());
    EXPECT_EQ(Flashes(), before);

    // A record the adapter already carries needs no image, whatever its name.
    row.multiboot = "6.05.01";
    inst.WriteFile("flash.cfg", zvfix::FlashCfg({row}));
    r = RunWithin(Options());
    EXPECT_EQ(r.status, 2) << r.out << r.err << r.outputFile;
    EXPECT_EQ(r.outputFile, "MCTP config enable: Started...\n"
                            "HBA KV2692: Upgrade is not required. MBI version is up to date (06.05.01)\n"
                            "MCTP config enable: Not required.\n");
    EXPECT_TRUE(zvfix::ReadJournal(hostDir.Path()).empty());
}

// Its name alone selects the disable form: whatever has it is never opened.
TEST_F(SafetyWrites, APackageCfgThatIsNoRegularFileStillSelectsDisable) {
    AddChip25(0x0289);
    Install();
    inst.WriteFile("flash.cfg", zvfix::FlashCfg({}));   // no record: nothing to write
    const std::string path = inst.Path() + "/package.cfg";
    for (const bool fifo : {false, true}) {
        ASSERT_EQ(fifo ? ::mkfifo(path.c_str(), 0666) : ::mkdir(path.c_str(), 0755), 0);
        zvtest::RunResult r = RunWithin(Options());
        EXPECT_EQ(r.status, 10) << r.out << r.err << r.outputFile;
        EXPECT_EQ(r.outputFile, "MCTP config disable: No compatible HBA found!\n");
        EXPECT_EQ(r.err, "");
        ::remove(path.c_str());
    }
    EXPECT_TRUE(zvfix::ReadJournal(hostDir.Path()).empty());
}

}  // namespace
