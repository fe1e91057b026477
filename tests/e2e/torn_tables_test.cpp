// The chip-type-25 preload table (0x13) and FC board configuration (0xBA) are
// on flash once. A power cut in the middle of writing one leaves it torn:
// the rerun rebuilds it from the copy the cut run kept on the host, so every
// byte ordinary templates do not name is what it was; without a copy the
// adapter fails before anything is written to it, never "completed" over
// erased settings.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <tuple>
#include <string>
#include <vector>

#include "e2e/online_update_families.h"
#include "e2e/run_helpers.h"

namespace {
using namespace zvonline;
using zvtest::Has;

class TornTables : public zve2e::IsolatedTest {
protected:
    void SetUp() override {
        IsolatedTest::SetUp();
        if (IsSkipped()) return;
        std::error_code ec;
        std::filesystem::remove_all(zvfix::kTableCopyDir, ec);
        InstallChip25(inst, zvfix::BuildMultibootImage(Chip25ImageSpec()));
        WriteChip25OrdinaryTemplates(inst);
    }
    // A chip-type-25 adapter with tables of its own (1.0.0) and an older multiboot image.
    static zvfix::AdapterSpec& AddAdapter(zvfix::HostBuilder& host) {
        zvfix::AdapterSpec& a = BuildChip25(host, 1, 7, 0, 3);
        a.SetRegion(zvfix::kRegionPreload1, Chip25OwnPreloadTable());
        a.SetRegion(zvfix::kRegionBoardConfig1, Chip25OwnBoardConfig());
        return a;
    }
    static std::vector<std::string> Copies() {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(zvfix::kTableCopyDir, ec))
            names.push_back(e.path().filename().string());
        return names;
    }
    zvtest::InstallDir inst;
};

// The cut: 64 bytes of the table land, the rest of its first erase
// block reads erased, in the preload table (the run's first write) or in the
// board configuration (its second).
TEST_F(TornTables, ACutTableIsRebuiltFromTheCopyKeptOnTheHostAsACleanRunLeavesIt) {
    zvfix::HostBuilder host;
    const zvfix::AdapterSpec& a = AddAdapter(host);
    zvtest::TempDir control;
    host.Write(control.Path());
    const std::map<uint32_t, Bytes> before = {{0x13, zvfix::ReadRegion(control.Path(), 0, 0x13)},
                                              {0xBA, zvfix::ReadRegion(control.Path(), 0, 0xBA)}};
    ASSERT_EQ(RunOn(inst, control.Path()).status, 1);
    const std::vector<zvfix::JournalEntry> clean = zvfix::ReadJournal(control.Path());
    ASSERT_GE(clean.size(), 2u);
    ASSERT_EQ(std::tuple(clean[0].region, clean[1].region), std::tuple(0x13u, 0xBAu));
    EXPECT_TRUE(Copies().empty()) << "a clean run leaves no copy";

    for (uint64_t write : {1, 2}) {
        const uint32_t region = clean[write - 1].region;
        SCOPED_TRACE("cut in region " + std::to_string(region));
        zvtest::TempDir dir;
        zvfix::HostBuilder cut = host;
        cut.powerLoss = zvfix::PowerLossSpec::During(write, 64);
        cut.Write(dir.Path());
        const zvtest::RunResult killed = RunOn(inst, dir.Path());
        ASSERT_EQ(killed.status, 128 + SIGKILL) << killed.out << killed.outputFile;
        EXPECT_NE(zvfix::ReadRegion(dir.Path(), 0, region), before.at(region)) << "torn";

        // The copy outlived the cut: the table as it was, root's own, in a directory only root may enter.
        const std::string path = zvfix::TableCopyPath(a.serial, region);
        const Bytes kept = zvfix::MakeTableCopyFile(region, before.at(region));
        EXPECT_EQ(zvtest::ReadFile(path), std::string(kept.begin(), kept.end()));
        struct stat d {}, f {};
        ASSERT_EQ(::lstat(zvfix::kTableCopyDir, &d), 0);
        ASSERT_EQ(::lstat(path.c_str(), &f), 0);
        EXPECT_EQ(std::tuple(d.st_mode & 07777, f.st_mode & 07777, f.st_uid), std::tuple(0700u, 0600u, 0u));

        ASSERT_EQ(RebootTool("--power-cycle " + dir.Path()).status, 0);
        cut.powerLoss.reset();
        RewriteHostJson(cut, dir.Path());
        const zvtest::RunResult again = RunOn(inst, dir.Path());
        EXPECT_EQ(again.status, 1) << again.out << again.outputFile;
        const char* table = write == 1 ? "FWA preload table (region 0x13)" : "FBC board configuration (region 0xBA)";
        EXPECT_TRUE(Has(again.outputFile, "HBA KV2692 (instance 0): The " + std::string(table) +
                                              " is damaged; it is rebuilt from the copy " + path + ".\n"))
            << again.outputFile;
        EXPECT_FALSE(Has(again.outputFile, "from 0.0.0")) << again.outputFile;
        for (uint32_t code : {0x13u, 0xBAu}) {
            EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, code), zvfix::ReadRegion(control.Path(), 0, code))
                << std::hex << "region 0x" << code << " unlike a clean run's";
        }
        EXPECT_TRUE(Copies().empty()) << "read back whole: the copy goes";
    }
}

// A torn table and no copy (the cut happened before this tool kept copies,
// or the copy is gone): the adapter fails with the region named before
// anything is written to it, and the run says so in its status. A header the
// cut erased is the adapter's damage, not the template's.
TEST_F(TornTables, WithoutACopyTheAdapterFailsBeforeAnythingIsWrittenToIt) {
    zvfix::HostBuilder host;
    zvfix::AdapterSpec& headerless = AddAdapter(host);
    Bytes fwa = headerless.regionData.at(zvfix::kRegionPreload1);
    std::fill(fwa.begin(), fwa.end(), uint8_t{0xFF});
    headerless.SetRegion(zvfix::kRegionPreload1, fwa);
    zvfix::AdapterSpec& torn = AddAdapter(host);
    Bytes fbc = torn.regionData.at(zvfix::kRegionBoardConfig1);
    std::fill(fbc.begin() + 64, fbc.begin() + 0x1000, uint8_t{0xFF});
    torn.SetRegion(zvfix::kRegionBoardConfig1, fbc);
    AddAdapter(host);
    zvtest::TempDir dir;
    host.Write(dir.Path());
    inst.WriteFile("adapters.properties", zvfix::AdapterTableFor(host));

    const zvtest::RunResult r = RunOn(inst, dir.Path());
    EXPECT_EQ(r.status, 4) << r.out << r.outputFile;
    EXPECT_TRUE(Has(r.out, "MCTP config enable: Completed with errors.\n")) << r.out;
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2692 (instance 0): The FWA preload table (region 0x13) on the adapter is "
                                  "damaged and no intact copy of it is kept in /var/lib/tarvikolen; nothing was "
                                  "written to the adapter!\n"))
        << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2692 (instance 2): The FBC board configuration (region 0xBA) on the adapter "
                                  "is damaged and no intact copy of it is kept in /var/lib/tarvikolen; nothing was "
                                  "written to the adapter!\n"))
        << r.outputFile;
    EXPECT_FALSE(Has(r.outputFile, "appears to be corrupted")) << "the template is sound";
    // Refused at the start of the adapter's work, before any table step.
    EXPECT_FALSE(Has(r.outputFile, "(instance 0): FWA preload table update failed")) << r.outputFile;
    EXPECT_FALSE(Has(r.outputFile, "(instance 2): FBC board configuration update failed")) << r.outputFile;
    EXPECT_EQ(zve2e::Count(r.outputFile, "Upgrading FWA version from 1.0.0 to 1.1.0: completed"), 1u);
    EXPECT_TRUE(zve2e::Written(dir.Path(), 0).empty());
    EXPECT_TRUE(zve2e::Written(dir.Path(), 1).empty());
    EXPECT_FALSE(zve2e::Written(dir.Path(), 2).empty());
}

}  // namespace
