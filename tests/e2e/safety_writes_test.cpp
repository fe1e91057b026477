// The MCTP command writes flash only where the run may write: an adapter the
// update would refuse gets nothing, both templates are checked before either
// table is written, a flash.cfg image name that cannot be kept whole fails
// before anything is written, and "package.cfg" counts by its name alone.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <functional>

#include "e2e/safety_fixture.h"
#include "fixtures/multiboot_image_builder.h"

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
        // The allowed adapter's two tables only, and only where its image is
        // not needed: the stand-in image it would need is refused before them.
        ASSERT_EQ(journal.size(), earlier + (upToDate ? 2 : 0)) << r.outputFile;
        for (size_t i = earlier; i < journal.size(); ++i) EXPECT_EQ(journal[i].adapter, 3);
        const auto after = Flashes();
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(after[i], before[i]) << "adapter " << i;
        EXPECT_EQ(after[3] != before[3], upToDate);
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

// Every refusal of an adapter is decided before its first write: its FC VPDs,
// and the image file it needs, opened through the reader rule and validated
// for it. The adapter fails with its lines and nothing is written to it (its
// tables stay at 1.0.0). An image the adapter does not need is not judged.
TEST_F(SafetyWrites, EveryRefusalOfAnAdapterComesBeforeItsFirstWrite) {
    const zvfix::Bytes valid =
        zvfix::MakeDorneImage({.deviceId = 0x2261, .ssvid = zvsafety::kVendor, .ssdid = 0x0289, .cardType = 1});
    const std::string image = inst.Path() + "/" + zvsafety::kImage;
    const std::string upgrading = "HBA KV2692: Upgrading MBI version from 06.05.01 to 06.05.02: ";
    const auto damage = [](zvfix::AdapterSpec& a, uint32_t code) {
        zvfix::Bytes vpd = zvfix::MakeVpd(a.vpd, a.serial, 512);
        vpd[10] ^= 0x01;   // inside the identifier: the checksum fails
        a.SetRegion(code, vpd);
    };
    struct Row {
        const char* name;
        std::function<void(zvfix::AdapterSpec&)> adapter;
        std::function<void()> files;
        std::vector<std::string> lines;   // in this order, each whole
    };
    const Row rows[] = {
        {"both FC VPD copies fail their checksum", [&](zvfix::AdapterSpec& a) {
             damage(a, 0x14);
             damage(a, 0x10C);
         },
         [] {},
         {"HBA KV2692 (instance 0): FC VPD region 0x14 is damaged and the adapter holds no intact copy of it!\n"
          "HBA KV2692 (instance 0): MBI update skipped after a failed step; the adapter was not updated.\n"}},
        {"the image file removed", [](zvfix::AdapterSpec&) {}, [&] { ASSERT_EQ(::unlink(image.c_str()), 0); },
         {upgrading + "started\nUnable to open file kv_mbi.bin!\n" + upgrading + "failed\n"}},
        {"the image file cut to half its length", [](zvfix::AdapterSpec&) {},
         [&] { inst.WriteFile(zvsafety::kImage, std::string(valid.begin(), valid.begin() + valid.size() / 2)); },
         {upgrading + "started\nValidating Flash Image File... Failed\n", upgrading + "failed\n"}},
        {"a device node in its place", [](zvfix::AdapterSpec&) {},
         [&] {
             ASSERT_EQ(::unlink(image.c_str()), 0);
             ASSERT_EQ(::mknod(image.c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);
         },
         {upgrading + "started\n", upgrading + "failed\n"}},
        {"another user's file in a directory others may write", [](zvfix::AdapterSpec&) {},
         [&] {
             const std::string planted = "/tmp/kv_mbi.bin";
             zvfix::WriteBytes(planted, valid);
             ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);
             inst.WriteFile("flash.cfg", zvfix::FlashCfg({zvfix::FlashCfgRowFor(0x0289, zvsafety::kVendor, "KV2692",
                                                                                "6.05.02", planted)}));
         },
         {upgrading + "started\n", upgrading + "failed\n"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        host = zvfix::HostBuilder();
        row.adapter(AddChip25(0x0289));
        Install();
        inst.WriteFile("flash.cfg",
                       zvfix::FlashCfg({zvfix::FlashCfgRowFor(0x0289, zvsafety::kVendor, "KV2692", "6.05.02",
                                                              zvsafety::kImage)}));
        inst.WriteFile(zvsafety::kImage, std::string(valid.begin(), valid.end()));
        row.files();
        const auto before = Flashes();
        const size_t earlier = zvfix::ReadJournal(hostDir.Path()).size();

        const zvtest::RunResult r = RunWithin(Options());
        EXPECT_EQ(r.status, 3) << r.out << r.err << r.outputFile;
        EXPECT_TRUE(Has(r.out, "MCTP config enable: Failed.\n")) << r.out;
        for (const std::string& line : row.lines) EXPECT_TRUE(Has(r.outputFile, line)) << line << "\n" << r.outputFile;
        EXPECT_FALSE(Has(r.outputFile, "Upgrading FWA version")) << r.outputFile;
        EXPECT_EQ(zvfix::ReadJournal(hostDir.Path()).size(), earlier);
        EXPECT_EQ(Flashes(), before);
        ::unlink(image.c_str());
    }

    // The adapter carries the record's version: its image is not needed, and
    // a missing one refuses nothing (the tables are brought up to date).
    host = zvfix::HostBuilder();
    AddChip25(0x0289);
    Install();
    ASSERT_EQ(::unlink(image.c_str()), 0);
    const zvtest::RunResult r = RunWithin(Options());
    EXPECT_EQ(r.status, 2) << r.out << r.err << r.outputFile;
    EXPECT_FALSE(Has(r.outputFile, "Unable to open")) << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2692: Upgrading FWA version from 1.0.0 to 2.0.0: completed\n"))
        << r.outputFile;
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
