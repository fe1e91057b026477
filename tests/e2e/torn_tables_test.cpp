// The chip-type-25 preload table (0x13) and FC board configuration (0xBA) are
// on flash once. A power cut in the middle of writing one leaves it torn:
// the rerun writes back the copy the cut run kept on the host before it
// reads anything of the adapter, so every byte ordinary templates do not
// name is what it was; without a copy the adapter fails before anything is
// written to it, never "completed" over erased settings, unless its template
// names the whole table.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
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
    // A run of `host` (written afresh into `dir` when `fresh`, else onto the
    // flash a cut run left) that the power cut ends, and the power back.
    void CutRun(zvfix::HostBuilder host, const zvfix::PowerLossSpec& cut, const std::string& dir, bool fresh = true) {
        host.powerLoss = cut;
        if (fresh) {
            host.Write(dir);
        } else {
            RewriteHostJson(host, dir);
        }
        const zvtest::RunResult killed = RunOn(inst, dir);
        EXPECT_EQ(killed.status, 128 + SIGKILL) << killed.out << killed.outputFile;
        EXPECT_EQ(RebootTool("--power-cycle " + dir).status, 0);
        host.powerLoss.reset();
        RewriteHostJson(host, dir);
    }
    static void PlaceCopy(const std::string& path, const Bytes& file) {
        ::mkdir(zvfix::kTableCopyDir, 0700);
        zvfix::WriteBytes(path, file);
        ::chmod(path.c_str(), 0600);
    }
    // Another adapter's copy of the board configuration, renamed to this adapter's name.
    static std::string PlaceAnotherAdaptersCopy(const zvfix::AdapterSpec& a, const std::string& dir) {
        const std::string path = zvfix::TableCopyPath(a.serial, 0xBA);
        PlaceCopy(path, zvfix::MakeTableCopyFile(0xBA, zvfix::ReadRegion(dir, 0, 0xBA), "ZV00990000"));
        return path;
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
        const Bytes kept = zvfix::MakeTableCopyFile(region, before.at(region), a.serial);
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
        EXPECT_TRUE(Has(again.outputFile, "HBA KV2692 (instance 0): An earlier write of the " + std::string(table) +
                                              " may not have finished; the table is written back from the copy " +
                                              path + ".\n"))
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

// A copy still kept means its write may not have finished: it goes back
// before anything reads the adapter's tables, whatever the table looks like
// and whether a template is there, and the update then runs as from the
// table as it was. A cut while it goes back leaves it for the next run.
TEST_F(TornTables, AKeptCopyGoesBackFirstWhateverTheTableLooksLike) {
    zvfix::HostBuilder host;
    zvfix::AdapterSpec& a = AddAdapter(host);
    // The board configuration's length stops short of its SerDes table at 0x1200.
    a.SetRegion(zvfix::kRegionBoardConfig1, Chip25OwnBoardConfig(0x400));
    zvtest::TempDir control;
    host.Write(control.Path());
    const Bytes fwaBefore = zvfix::ReadRegion(control.Path(), 0, 0x13);
    ASSERT_EQ(RunOn(inst, control.Path()).status, 1);
    // Two tables, then the engine: the memo block naming no version, seven
    // regions, two records, four VPDs, the memo block.
    ASSERT_EQ(zve2e::Written(control.Path()).size(), 17u);
    const auto clean = [&](uint32_t code) { return zvfix::ReadRegion(control.Path(), 0, code); };
    const std::string fwaCopy = zvfix::TableCopyPath(a.serial, 0x13), fbcCopy = zvfix::TableCopyPath(a.serial, 0xBA);
    const std::string back = " may not have finished; the table is written back from the copy ";
    {
        SCOPED_TRACE("the SerDes table erased, the board configuration sound by its own checksum");
        zvtest::TempDir dir;
        CutRun(host, zvfix::PowerLossSpec::During(2, 0x1000), dir.Path());
        const Bytes torn = zvfix::ReadRegion(dir.Path(), 0, 0xBA);
        EXPECT_EQ(zve2e::Slice(torn, 0, 0x1000), zve2e::Slice(clean(0xBA), 0, 0x1000));
        EXPECT_EQ(zve2e::Slice(torn, 0x1200, 4), Bytes(4, 0xFF));
        const zvtest::RunResult again = RunOn(inst, dir.Path());
        EXPECT_EQ(again.status, 1) << again.out << again.outputFile;
        EXPECT_TRUE(Has(again.outputFile, "MCTP config enable: Started...\n"
                                          "HBA KV2692 (instance 0): An earlier write of the FBC board configuration "
                                          "(region 0xBA)" + back + fbcCopy + ".\n"
                                          "HBA KV2692: Upgrade is not required. FWA version is up to date (1.1.0)\n"
                                          "HBA KV2692: Upgrading FBC version from 1.0.0 to 1.1.0: started\n"
                                          "HBA KV2692: Upgrading FBC version from 1.0.0 to 1.1.0: completed\n"))
            << again.outputFile;
        EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, 0xBA), clean(0xBA));
        EXPECT_TRUE(Copies().empty());
    }
    {
        SCOPED_TRACE("the preload table torn, and no preload template on the rerun");
        zvtest::TempDir dir;
        CutRun(host, zvfix::PowerLossSpec::During(1, 64), dir.Path());
        std::filesystem::remove(inst.Path() + "/Vx9FWA.dat");
        const zvtest::RunResult again = RunOn(inst, dir.Path());
        WriteChip25OrdinaryTemplates(inst);
        EXPECT_EQ(again.status, 1) << again.out << again.outputFile;
        EXPECT_TRUE(Has(again.outputFile, "MCTP config enable: Started...\n"
                                          "HBA KV2692 (instance 0): An earlier write of the FWA preload table (region "
                                          "0x13)" + back + fwaCopy + ".\n"
                                          "HBA KV2692: Upgrading FBC version from 1.0.0 to 1.1.0: started\n"))
            << again.outputFile;
        EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, 0x13), fwaBefore) << "as it was: no template takes it further";
        EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, 0xBA), clean(0xBA));
        EXPECT_TRUE(Copies().empty());
    }
    {
        SCOPED_TRACE("a cut while the copy goes back");
        zvtest::TempDir dir;
        CutRun(host, zvfix::PowerLossSpec::During(1, 64), dir.Path());
        const std::string kept = zvtest::ReadFile(fwaCopy);
        ASSERT_FALSE(kept.empty());
        CutRun(host, zvfix::PowerLossSpec::During(1, 64), dir.Path(), false);
        ASSERT_EQ(zve2e::Written(dir.Path()), (std::vector<uint32_t>{0x13, 0x13}));
        EXPECT_EQ(zvtest::ReadFile(fwaCopy), kept) << "kept for the next run";
        const zvtest::RunResult again = RunOn(inst, dir.Path());
        EXPECT_EQ(again.status, 1) << again.out << again.outputFile;
        for (uint32_t code : {0x13u, 0xBAu}) EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, code), clean(code));
        EXPECT_TRUE(Copies().empty());
    }
}

// A copy that cannot be used, here another adapter's renamed to this
// adapter's name, is never written: the adapter fails before anything is
// written to it, and the copy stays for the administrator to look at.
TEST_F(TornTables, ACopyThatCannotBeUsedFailsTheAdapterBeforeAnythingIsWritten) {
    zvfix::HostBuilder host;
    const zvfix::AdapterSpec& a = AddAdapter(host);
    zvtest::TempDir dir;
    host.Write(dir.Path());
    const std::string path = PlaceAnotherAdaptersCopy(a, dir.Path());
    const std::string placed = zvtest::ReadFile(path);

    const zvtest::RunResult r = RunOn(inst, dir.Path());
    EXPECT_EQ(r.status, 3) << r.out << r.outputFile;
    EXPECT_TRUE(Has(r.out, "MCTP config enable: Failed.\n")) << r.out;
    EXPECT_TRUE(Has(r.outputFile, "MCTP config enable: Started...\n"
                                  "HBA KV2692 (instance 0): No table copy is used: the copy " + path +
                                  " is refused: it was kept for another adapter.\n"
                                  "HBA KV2692 (instance 0): An earlier write of the FBC board configuration (region "
                                  "0xBA) may not have finished and no intact copy of it is kept in /var/lib/tarvikolen; "
                                  "nothing was written to the adapter!\n"
                                  "MCTP config enable: Failed.\n"))
        << r.outputFile;
    EXPECT_TRUE(zve2e::Written(dir.Path()).empty());
    EXPECT_EQ(zvtest::ReadFile(path), placed);
}

// An adapter whose serial number cannot be read keeps its copies by its
// first port's WWPN, in the file's name and in its header, and its tables are
// written like any other adapter's.
TEST_F(TornTables, AnAdapterWithoutASerialNumberKeepsItsCopiesByItsFirstPortsWwpn) {
    zvfix::HostBuilder host;
    zvfix::AdapterSpec& a = AddAdapter(host);
    a.serial = "";
    a.faults.push_back(zvfix::FaultSpec::Fail("vpd_read", 0x20000075));
    zvtest::TempDir control;
    host.Write(control.Path());
    const Bytes before = zvfix::ReadRegion(control.Path(), 0, 0x13);
    const zvtest::RunResult clean = RunOn(inst, control.Path());
    ASSERT_EQ(clean.status, 1) << clean.out << clean.outputFile;

    zvtest::TempDir dir;
    CutRun(host, zvfix::PowerLossSpec::During(1, 64), dir.Path());
    const std::string wwpn = zvfix::WwpnText(a.ports[0].portWwn);
    const std::string path = zvfix::TableCopyPath(wwpn, 0x13);
    EXPECT_EQ(Copies(), (std::vector<std::string>{wwpn + "-0x13.copy"}));
    const Bytes kept = zvfix::MakeTableCopyFile(0x13, before, wwpn, zvfix::kCopyOwnerWwpn);
    EXPECT_EQ(zvtest::ReadFile(path), std::string(kept.begin(), kept.end()));

    const zvtest::RunResult again = RunOn(inst, dir.Path());
    EXPECT_EQ(again.status, 1) << again.out << again.outputFile;
    EXPECT_TRUE(Has(again.outputFile, "An earlier write of the FWA preload table (region 0x13) may not have finished; "
                                      "the table is written back from the copy " + path + ".\n"))
        << again.outputFile;
    for (uint32_t code : {0x13u, 0xBAu}) {
        EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, code), zvfix::ReadRegion(control.Path(), 0, code));
    }
    EXPECT_TRUE(Copies().empty());
}

// A template that names every byte of its table needs no copy: written over
// a damaged table with none kept, it is the repair (from 0.0.0: a damaged
// table holds no version), and it keeps no copy of the torn bytes.
TEST_F(TornTables, ATemplateThatNamesTheWholeTableRepairsItWithoutACopy) {
    WriteChip25TableTemplates(inst);
    zvfix::HostBuilder host;
    zvfix::AdapterSpec& a = AddAdapter(host);
    zvtest::TempDir control;
    host.Write(control.Path());
    ASSERT_EQ(RunOn(inst, control.Path()).status, 1);
    for (uint32_t code : {zvfix::kRegionPreload1, zvfix::kRegionBoardConfig1}) {
        Bytes torn = a.regionData.at(code);
        for (size_t i = 64; i < std::min<size_t>(torn.size(), 0x1000); ++i) torn[i] = 0xFF;
        a.SetRegion(code, torn);
    }
    zvtest::TempDir dir;
    host.Write(dir.Path());

    const zvtest::RunResult r = RunOn(inst, dir.Path());
    EXPECT_EQ(r.status, 1) << r.out << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, "MCTP config enable: Started...\n"
                                  "HBA KV2692: Upgrading FWA version from 0.0.0 to 1.1.0: started\n"
                                  "HBA KV2692: Upgrading FWA version from 0.0.0 to 1.1.0: completed\n"
                                  "HBA KV2692: Upgrading FBC version from 0.0.0 to 1.1.0: started\n"
                                  "HBA KV2692: Upgrading FBC version from 0.0.0 to 1.1.0: completed\n"))
        << r.outputFile;
    for (uint32_t code : {0x13u, 0xBAu}) {
        EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, code), zvfix::ReadRegion(control.Path(), 0, code));
    }
    EXPECT_TRUE(Copies().empty());

    // A cut in the repair, of the preload table (the run's first write) or of
    // the board configuration (its second), leaves it torn and no copy of
    // its torn bytes: the rerun repairs it again.
    for (uint64_t write : {1, 2}) {
        SCOPED_TRACE("cut in write " + std::to_string(write));
        zvtest::TempDir cut;
        CutRun(host, zvfix::PowerLossSpec::During(write, 64), cut.Path());
        EXPECT_EQ(zve2e::Written(cut.Path()).back(), write == 1 ? 0x13u : 0xBAu);
        EXPECT_TRUE(Copies().empty()) << "no copy of the torn bytes";
        const zvtest::RunResult again = RunOn(inst, cut.Path());
        EXPECT_EQ(again.status, 1) << again.out << again.outputFile;
        EXPECT_FALSE(Has(again.outputFile, "may not have finished")) << again.outputFile;
        for (uint32_t code : {0x13u, 0xBAu}) {
            EXPECT_EQ(zvfix::ReadRegion(cut.Path(), 0, code), zvfix::ReadRegion(control.Path(), 0, code));
        }
        EXPECT_TRUE(Copies().empty());
    }
}

// A copy is named by the serial number, or by the first port's WWPN while
// the serial number cannot be read (here: the VPDs the adapter runs from,
// torn; the node property names no serial number either). Whichever name it
// has, the next run finds it when the serial number has since become
// readable (the VPDs whole again) or unreadable (torn; their other copies,
// which the update rebuilds them from, still hold it), and writes it back.
TEST_F(TornTables, AKeptCopyIsFoundUnderEitherNameItsAdapterHasHad) {
    zvfix::HostBuilder host;
    zvfix::AdapterSpec& a = AddAdapter(host);
    a.serial = "";
    a.vpd.sn = "ZV00770000";
    zvtest::TempDir control;
    host.Write(control.Path());
    ASSERT_EQ(RunOn(inst, control.Path()).status, 1);
    const Bytes sound = zvfix::ReadRegion(control.Path(), 0, 0x10C);
    Bytes torn = sound;
    std::fill(torn.begin() + 40, torn.end(), uint8_t{0xFF});   // from inside the part number on
    const uint32_t running[] = {zvfix::VpdRegion(0, false), zvfix::VpdRegion(1, false)};
    const std::string wwpnCopy = zvfix::TableCopyPath(zvfix::WwpnText(a.ports[0].portWwn), 0xBA);
    const std::string serialCopy = zvfix::TableCopyPath("ZV00770000", 0xBA);
    const std::string back = "HBA KV2692 (instance 0): An earlier write of the FBC board configuration (region 0xBA) "
                             "may not have finished; the table is written back from the copy ";
    {
        SCOPED_TRACE("kept by the WWPN while the VPDs were torn, found once they are whole again");
        zvfix::HostBuilder tornHost = host;
        for (const uint32_t code : running) tornHost.adapters[0].SetRegion(code, torn);
        zvtest::TempDir dir;
        CutRun(tornHost, zvfix::PowerLossSpec::During(2, 64), dir.Path());
        ASSERT_EQ(Copies(), (std::vector<std::string>{zvfix::WwpnText(a.ports[0].portWwn) + "-0xBA.copy"}));
        for (const uint32_t code : running) zvfix::WriteRegion(dir.Path(), 0, code, sound);
        const zvtest::RunResult again = RunOn(inst, dir.Path());
        EXPECT_EQ(again.status, 1) << again.out << again.outputFile;
        EXPECT_TRUE(Has(again.outputFile, back + wwpnCopy + ".\n")) << again.outputFile;
        EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, 0xBA), zvfix::ReadRegion(control.Path(), 0, 0xBA));
        EXPECT_TRUE(Copies().empty());
    }
    {
        SCOPED_TRACE("kept by the serial number, found while torn VPDs hide it");
        zvtest::TempDir dir;
        CutRun(host, zvfix::PowerLossSpec::During(2, 64), dir.Path());
        ASSERT_EQ(Copies(), (std::vector<std::string>{"ZV00770000-0xBA.copy"}));
        // Every primary FC VPD torn, of the functions the adapter runs and
        // the others alike: only the secondary copies still name it.
        for (uint32_t function = 0; function < 4; ++function)
            zvfix::WriteRegion(dir.Path(), 0, zvfix::VpdRegion(function, false), torn);
        const zvtest::RunResult again = RunOn(inst, dir.Path());
        EXPECT_EQ(again.status, 1) << again.out << again.outputFile;
        EXPECT_TRUE(Has(again.outputFile, back + serialCopy + ".\n")) << again.outputFile;
        EXPECT_TRUE(Has(again.outputFile, "Rebuilding Adapter FC VPD region 0x14 from region 0x10C... Success\n"))
            << again.outputFile;
        EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, 0xBA), zvfix::ReadRegion(control.Path(), 0, 0xBA));
        EXPECT_TRUE(Copies().empty());
    }
}

// "-b" writes a chip-type-25 adapter too: a copy a cut MCTP run left (inside
// its board-configuration write) goes back, is read back and removed before
// anything else is written to the adapter, by the code the MCTP run uses;
// the image set and the VPDs follow, and the board configuration is whole.
TEST_F(TornTables, AnImageWrittenFromAFileWritesAKeptCopyBackFirst) {
    zvfix::HostBuilder host;
    const zvfix::AdapterSpec& a = AddAdapter(host);
    const Bytes fbcBefore = a.regionData.at(zvfix::kRegionBoardConfig1);
    zvtest::TempDir dir;
    CutRun(host, zvfix::PowerLossSpec::During(2, 64), dir.Path());
    ASSERT_NE(zvfix::ReadRegion(dir.Path(), 0, 0xBA), fbcBefore) << "torn";
    const std::string path = zvfix::TableCopyPath(a.serial, 0xBA);
    ASSERT_EQ(Copies(), (std::vector<std::string>{a.serial + "-0xBA.copy"}));
    const Bytes fwaAfterCut = zvfix::ReadRegion(dir.Path(), 0, 0x13);
    const size_t cutWrites = zvfix::ReadJournal(dir.Path()).size();

    const zvtest::RunResult r = RunOn(inst, dir.Path(), {"--vobi", "-b", "0", "kv_mbi.bin"});
    EXPECT_TRUE(r.status == 0 || r.status == 201) << r.status << r.out << r.outputFile;
    EXPECT_TRUE(r.outputFile.starts_with("HBA KV2692 (instance 0): An earlier write of the FBC board configuration "
                                         "(region 0xBA) may not have finished; the table is written back from the "
                                         "copy " + path + ".\n"))
        << r.outputFile;
    const std::vector<uint32_t> written = zve2e::Written(dir.Path());
    ASSERT_GT(written.size(), cutWrites + 1);
    EXPECT_EQ(written[cutWrites], 0xBAu) << "the copy goes back first";
    EXPECT_EQ(std::count(written.begin() + static_cast<long>(cutWrites), written.end(), 0xBAu), 1);
    EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, 0xBA), fbcBefore);
    EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, 0x13), fwaAfterCut) << "no table step in -b";
    EXPECT_TRUE(Copies().empty());

    // After the reboot the table is the adapter's own, and the MCTP run takes it from its own version.
    ASSERT_EQ(RebootTool(dir.Path()).status, 0);
    EXPECT_EQ(zvfix::ReadRegion(dir.Path(), 0, 0xBA), fbcBefore);
    const zvtest::RunResult mctp = RunOn(inst, dir.Path());
    EXPECT_TRUE(Has(mctp.outputFile, "HBA KV2692: Upgrading FBC version from 1.0.0 to 1.1.0: completed\n"))
        << mctp.status << mctp.outputFile;
    EXPECT_FALSE(Has(mctp.outputFile, "may not have finished")) << mctp.outputFile;
}

// A copy that cannot be used fails "-b" on its adapter as it fails the MCTP
// run: the same lines, nothing written, the copy left for the administrator.
TEST_F(TornTables, AnImageWrittenFromAFileFailsAnAdapterWhoseCopyCannotBeUsed) {
    zvfix::HostBuilder host;
    const zvfix::AdapterSpec& a = AddAdapter(host);
    zvtest::TempDir dir;
    host.Write(dir.Path());
    const std::string path = PlaceAnotherAdaptersCopy(a, dir.Path());
    const std::string placed = zvtest::ReadFile(path);
    const auto on = [&](int instance) {
        const std::string hba = "HBA KV2692 (instance " + std::to_string(instance) + "): ";
        return hba + "No table copy is used: the copy " + path + " is refused: it was kept for another adapter.\n" +
               hba + "An earlier write of the FBC board configuration (region 0xBA) may not have finished and no "
                     "intact copy of it is kept in /var/lib/tarvikolen; nothing was written to the adapter!\n";
    };

    zvtest::RunResult r = RunOn(inst, dir.Path(), {"--vobi", "-b", "0", "kv_mbi.bin"});
    EXPECT_EQ(r.status, 360 & 0xFF) << r.out << r.outputFile;   // the board configuration's status
    EXPECT_EQ(r.outputFile, on(0));
    EXPECT_TRUE(zvfix::ReadJournal(dir.Path()).empty());
    EXPECT_EQ(zvtest::ReadFile(path), placed);

    // Every port of the adapter: each fails the same way, as neither wrote it.
    r = RunOn(inst, dir.Path(), {"--vobi", "-b", "ALL", "kv_mbi.bin"});
    EXPECT_EQ(r.status, 34) << r.out << r.outputFile;
    EXPECT_EQ(r.outputFile, on(0) + on(1));
    EXPECT_TRUE(zvfix::ReadJournal(dir.Path()).empty());
    EXPECT_EQ(zvtest::ReadFile(path), placed);
}

// The copy is on disk before its table's write: its bytes synced, then
// renamed into place, then its directory synced, and only then the flash written.
TEST_F(TornTables, TheCopyIsOnDiskBeforeTheFlashIsWritten) {
    zvfix::HostBuilder host;
    const zvfix::AdapterSpec& a = AddAdapter(host);
    zvtest::TempDir dir;
    host.Write(dir.Path());
    const std::string log = dir.Path() + "/sync.log";
    zvtest::RunOptions o;
    o.env = {{"ZV_SIM_HOST", dir.Path()},
             {"LD_PRELOAD", std::string(ZV_NOSLEEP_LIB) + ":" + ZV_SYNCLOG_LIB},
             {"ZV_TEST_SYNC_LOG", log}};
    const zvtest::RunResult r = zvtest::RunProgram(inst, o);
    ASSERT_EQ(r.status, 1) << r.out << r.outputFile;

    // The calls that matter here, consecutive flash writes as one.
    const std::string copyDir = zvfix::kTableCopyDir;
    std::vector<std::string> steps;
    std::istringstream lines(zvtest::ReadFile(log));
    for (std::string line; std::getline(lines, line);) {
        std::string step;
        if (line.starts_with("flash ")) {
            step = "flash";
        } else if (line == "sync " + copyDir) {
            step = "directory synced";
        } else if (line.starts_with("sync " + copyDir + "/")) {
            step = "synced " + line.substr(6 + copyDir.size());
        } else if (line.starts_with("rename " + copyDir + "/")) {
            step = "renamed to " + line.substr(line.rfind('/') + 1);
        }
        if (!step.empty() && !(step == "flash" && !steps.empty() && steps.back() == "flash")) steps.push_back(step);
    }
    std::ostringstream all;
    for (const std::string& step : steps) all << step << "\n";
    SCOPED_TRACE(all.str());
    ASSERT_EQ(zve2e::Written(dir.Path()).front(), 0x13u);
    for (const char* region : {"0x13", "0xBA"}) {
        const std::string name = a.serial + "-" + region + ".copy";
        const auto at = std::find(steps.begin(), steps.end(), "synced " + name + ".new");
        ASSERT_NE(at, steps.end()) << name;
        const std::vector<std::string> next(at, at + std::min<std::ptrdiff_t>(4, steps.end() - at));
        EXPECT_EQ(next, (std::vector<std::string>{"synced " + name + ".new", "renamed to " + name, "directory synced",
                                                  "flash"}));
    }
    EXPECT_EQ(steps.front(), "synced " + a.serial + "-0x13.copy.new") << "nothing written before the first copy";
}

}  // namespace
