// The MCTP command writes flash only where the run may write: an adapter the
// update would refuse gets nothing, both templates are checked before either
// table is written, and a flash.cfg image name that cannot be kept whole or an
// unreadable "package.cfg" fails before anything is written.
#include <sys/stat.h>

#include "e2e/safety_fixture.h"

namespace {
using zvsafety::Has;

class SafetyWrites : public zvsafety::SafetyTest {};

TEST_F(SafetyWrites, RefusedAdaptersAreLeftByteForByteAndOnlyTheAllowedOneIsWritten) {
    AddChip25(0x0289);                          // instances 0, 1: marked unsupported
    AddChip25(0x028A);                          // 2, 3: no row in the table
    zvfix::AdapterSpec& locked = AddChip25(0x028B);   // 4, 5: firmware-update lockdown
    locked.lockdownStatus = 0x20000113;
    locked.lockdownSupport = 0x2;
    locked.fwUpdateDisable = 0x1;
    locked.ispFwLockdown = 0x1;
    AddChip25(0x028C);                          // 6, 7: may be written
    Install({0x0289}, {0x028A});
    const auto before = Flashes();

    zvtest::RunResult r = RunWithin(Options());
    // The refused adapters failed; the allowed one needed no multiboot image.
    EXPECT_EQ(r.status, 3) << r.out << r.err << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, "Flash update is not supported on HBA instance 0 - KV2692!\n")) << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, "Flash update is not supported on HBA instance 2 - KV2692!\n"));
    EXPECT_TRUE(Has(r.outputFile, "Fw lockdown is enabled. Flash update is restricted to HBA instance 4 (KV2692)!\n"));
    EXPECT_EQ(zvfix::ReadJournal(hostDir.Path()).size(), 2u) << "the allowed adapter's two tables only";
    for (const zvfix::JournalEntry& e : zvfix::ReadJournal(hostDir.Path())) EXPECT_EQ(e.adapter, 3);
    const auto after = Flashes();
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(after[i], before[i]) << "adapter " << i;
    EXPECT_NE(after[3], before[3]);
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
}

TEST_F(SafetyWrites, APackageCfgThatExistsButCannotBeReadIsAnError) {
    AddChip25(0x0289);
    Install();
    const std::string path = inst.Path() + "/package.cfg";
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
    zvtest::RunResult r = RunWithin(Options());
    EXPECT_EQ(r.status, 5) << r.out << r.err << r.outputFile;
    EXPECT_TRUE(Has(r.err, "Error: File " + path + " is not a regular file; it is not read!\n")) << r.err;
    EXPECT_TRUE(Has(r.outputFile, path + " is not a regular file")) << r.outputFile;
    EXPECT_FALSE(Has(r.out + r.outputFile, "MCTP config enable")) << "never a silent enable";
    EXPECT_TRUE(zvfix::ReadJournal(hostDir.Path()).empty());
}

}  // namespace
