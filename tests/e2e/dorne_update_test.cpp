// The MCTP update writing chip-type-25 multiboot images end to end: the
// on-line engine writes the set the adapter does not run, its image-status
// records, memo block and VPD version keywords, and the adapter runs the new
// set after a reboot; the off-line engine writes the primary set and its
// records last.
#include <cstring>
#include <map>

#include "e2e/dorne_fixture.h"
#include "fixtures/flash_layout_builder.h"

namespace {
using namespace zvdorne;

// What an update writes, in order: the memo block made to name no version
// before the first write (until the update's own memo write a rerun must
// find nothing to call up to date: a cut may leave the records starting a
// set the block does not name), any records held on the running set (off
// line), the set's regions, the image-status records, the VPD version
// keywords and, last, the memo block naming the new version.
std::vector<uint32_t> Writes(const std::vector<uint32_t>& set, const std::vector<uint32_t>& records,
                             const std::vector<uint32_t>& held = {}) {
    std::vector<uint32_t> w = {0xDF};
    w.insert(w.end(), held.begin(), held.end());
    w.insert(w.end(), set.begin(), set.end());
    w.insert(w.end(), records.begin(), records.end());
    w.insert(w.end(), kFcVpd.begin(), kFcVpd.end());
    w.push_back(0xDF);
    return w;
}

// The FC VPD items (with their read-back lines on line) and the memo block's.
std::string VpdAndMemoLines(bool online) {
    std::string lines;
    for (int i = 0; i < 4; ++i) {
        lines += "Updating Adapter FC VPD " + std::to_string(i) + "... Success\n";
        if (online) lines += "Verifying Adapter FC VPD " + std::to_string(i) + "...Success\n";
    }
    return lines + "Updating Adapter Flash Memo Block... Success\n";
}

class DorneUpdate : public DorneTest {};

TEST_F(DorneUpdate, PrimaryActiveGetsTheSecondarySetItsRecordsMemoAndVpdAndRunsItAfterAReboot) {
    AddAdapter(1, 7, 0, 3).SetRegion(0x1C, zvfix::MakeFlashLayoutTable(3, {{.code = 0x07}}));
    zvfix::MultibootImageSpec spec = DemoSpec();
    const Bytes image = zvfix::BuildMultibootImage(spec);
    Install(image);
    std::map<uint32_t, Bytes> before;
    for (uint32_t code : kSet1) before[code] = Region(code);

    zvtest::RunResult r = Run();
    ASSERT_EQ(r.status, 1) << r.out << r.err << r.outputFile;
    EXPECT_EQ(EngineStatus(r), 201) << r.debugLog;
    // The debug log shows the secured on-line order of the set written and the layout table's version.
    EXPECT_TRUE(Has(r.debugLog, "InitDorneSecuredOnlineFlashUpdateSequence: uFlashUpdateArraySequence[0] = 0x9f"));
    EXPECT_TRUE(Has(r.debugLog, "DorneOnlineFlashUpdate: flash layout version 3\n")) << r.debugLog;
    // Every region but the signature shows its read-back; the memo block comes last.
    EXPECT_TRUE(Has(r.outputFile, "Please wait...\n"
                                  "Updating Adapter Signature... Success\n"
                                  "Updating Adapter FC Boot Code... Success\n"
                                  "Verifying Adapter FC Boot Code... Success\n"
                                  "Updating Adapter Extended MPI Fw ... Success\n"
                                  "Verifying Adapter Extended MPI Fw... Success\n"
                                  "Updating Adapter MPI Fw ... Success\n"
                                  "Verifying Adapter MPI Fw... Success\n"
                                  "Updating Adapter PEP Fw... Success\n"
                                  "Verifying Adapter PEP Fw... Success\n"
                                  "Updating Adapter Trunking PEP Fw... Success\n"
                                  "Verifying Adapter trunking PEP Fw... Success\n"
                                  "Updating Adapter FC RISC Fw... Success\n"
                                  "Verifying Adapter FC RISC Fw... Success\n"
                                  "Updating Adapter Secondary Image Status... Success\n"
                                  "Verifying Adapter Secondary Image Status...Success\n"
                                  "Updating Adapter Primary Image Status... Success\n"
                                  "Verifying Adapter Primary Image Status...Success\n" +
                                      VpdAndMemoLines(true) + kRebootNotice))
        << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2692: Upgrading MBI version from 06.04.00 to 06.05.01: completed\n"));
    EXPECT_TRUE(Has(r.out, "MCTP config enable: Update is complete.\n===================================\n"
                           "A SYSTEM REBOOT IS REQUIRED FOR THE\nNEW UPDATE TO TAKE EFFECT!\n"))
        << r.out;

    // The memo block naming no version, the set-2 regions in order, the new
    // active record before the old one, then the VPDs and the memo block; no
    // reset and no activation.
    EXPECT_EQ(WrittenRegions(), Writes(kSet2, {0x96, 0x95}));
    const std::vector<zvfix::JournalEntry> events = zvfix::ReadJournalEvents(hostDir.Path());
    for (const zvfix::JournalEntry& e : events) {
        EXPECT_EQ(e.op, "write") << e.seq;
        // Only the last memo write resets the adapter (its writer's rule).
        EXPECT_EQ(e.disableReset == 0, &e == &events.back()) << e.seq;
    }
    for (uint32_t code : kSet1) {
        if (code != 0xD3 && code != 0xD1) {
            EXPECT_EQ(Region(code), before[code]) << std::hex << code;
        }
    }

    // Region bytes: data then erased; the boot code carries the table after it.
    const auto component = [&](uint16_t region) { return spec.Component(region)->data; };
    EXPECT_EQ(Region(0x9F), Erased(component(0x9E), 0x1000));
    EXPECT_EQ(Region(0x02), Erased(component(0x01), 0x100000));
    EXPECT_EQ(Region(0xE5), Erased(component(0xE1), 0x10000));
    EXPECT_EQ(Region(0x67), Erased(component(0x66), 0x10000));
    EXPECT_EQ(Region(0xD3), Erased(component(0xD3), 0x40000));
    const Bytes boot = Region(0x09);
    const size_t bootLength = component(0x07).size();
    EXPECT_EQ(std::memcmp(boot.data() + bootLength, "ZILT", 4), 0);
    EXPECT_EQ(boot[bootLength + zvfix::MbiTableLength(spec)], 0xFF);

    EXPECT_EQ(Region(0x96), Record(1, 8));
    EXPECT_EQ(Region(0x95), Record(0, 7));
    const Bytes memo = Region(0xDF);
    EXPECT_EQ(std::memcmp(memo.data(), "FMBS", 4), 0);
    EXPECT_EQ(Bytes(memo.begin() + 20, memo.begin() + 23), (Bytes{6, 5, 1}));
    for (uint32_t code : kFcVpd) EXPECT_EQ(VpdKeyword(Region(code), "V9"), std::string("060501\0\0", 8)) << code;

    // After a reboot the adapter runs set 2, and the next run has nothing to do.
    ExpectRunsAfterReboot(2, kSet2);
    r = Run();
    EXPECT_EQ(r.status, 2) << r.out << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2692: Upgrade is not required. MBI version is up to date (06.05.01)\n"));
}

// Chip type 25 keeps one copy of the MPI and PEP firmware for both sets: an
// image without them writes the rest of the set, leaves the running copies
// as they were, and the adapter runs the new set after a reboot.
TEST_F(DorneUpdate, AnImageWithoutMpiAndPepFirmwareLeavesTheSharedCopiesAndBoots) {
    AddAdapter(1, 7, 0, 3);
    zvfix::MultibootImageSpec spec = DemoSpec();
    std::erase_if(spec.components, [](const zvfix::MbiComponent& c) { return c.region == 0xD3 || c.region == 0xD1; });
    Install(zvfix::BuildMultibootImage(spec));
    const Bytes mpi = Region(0xD3), pep = Region(0xD1);

    const zvtest::RunResult r = Run();
    ASSERT_EQ(r.status, 1) << r.out << r.err << r.outputFile;
    EXPECT_EQ(EngineStatus(r), 201) << r.debugLog;
    const std::vector<uint32_t> set = {0x9F, 0x09, 0xE5, 0x67, 0x02};
    EXPECT_EQ(WrittenRegions(), Writes(set, {0x96, 0x95}));
    EXPECT_EQ(Region(0xD3), mpi);
    EXPECT_EQ(Region(0xD1), pep);
    EXPECT_EQ(Region(0x02), Erased(spec.Component(0x01)->data, 0x100000));
    ExpectRunsAfterReboot(2, set);
}

TEST_F(DorneUpdate, SecondaryActiveGetsThePrimarySet) {
    AddAdapter(0, 3, 1, 7);
    Install(zvfix::BuildMultibootImage(DemoSpec()));
    const Bytes secondaryBoot = Region(0x09);

    const zvtest::RunResult r = Run();
    ASSERT_EQ(r.status, 1) << r.out << r.err << r.outputFile;
    EXPECT_EQ(EngineStatus(r), 201);
    EXPECT_EQ(WrittenRegions(), Writes(kSet1, {0x95, 0x96}));
    EXPECT_EQ(Region(0x95), Record(1, 8));
    EXPECT_EQ(Region(0x96), Record(0, 7));
    EXPECT_EQ(Region(0x09), secondaryBoot);

    zvfix::BootManifest manifest;
    manifest.ExpectAsNow(hostDir.Path(), 0, 1, kSet1);
    ASSERT_EQ(zvfix::Reboot(hostDir.Path()), 0);
    EXPECT_EQ(zvfix::CheckBoot(hostDir.Path(), manifest).at(0).set, 1);
}

TEST_F(DorneUpdate, APldmWrappedImageWritesWhatThePlainOneWrites) {
    AddAdapter(1, 7, 0, 3);
    zvfix::MultibootImageSpec spec = DemoSpec();
    const Bytes image = zvfix::BuildMultibootImage(spec);
    Install(image);
    ASSERT_EQ(Run().status, 1);
    const auto plain = zvfix::ReadJournal(hostDir.Path());

    zvtest::TempDir wrapped;
    Install(zvfix::WrapInPldmPackage(image), wrapped.Path());
    const zvtest::RunResult r = Run(wrapped.Path());
    ASSERT_EQ(r.status, 1) << r.outputFile;
    const auto packaged = zvfix::ReadJournal(wrapped.Path());
    ASSERT_EQ(packaged.size(), plain.size());
    for (size_t i = 0; i < plain.size(); ++i) {
        EXPECT_EQ(packaged[i].region, plain[i].region);
        // The boot code's table and the memo block carry the time of the run.
        if (plain[i].region != 0x09 && plain[i].region != 0xDF) {
            EXPECT_EQ(packaged[i].hash, plain[i].hash) << i;
        }
    }
    const long bootLength = static_cast<long>(spec.Component(0x07)->data.size());
    const Bytes a = zvfix::ReadRegion(hostDir.Path(), 0, 0x09), b = zvfix::ReadRegion(wrapped.Path(), 0, 0x09);
    EXPECT_TRUE(std::equal(a.begin(), a.begin() + bootLength, b.begin()));
}

// The disable form forces the multiboot image, never the board configuration
// back: a board configuration newer than the template stays, and is no failure.
TEST_F(DorneUpdate, DisableWithPackageCfgWritesAnEqualVersionButNoOlderBoardConfig) {
    AddAdapter(1, 7, 0, 3, 5, 1)
        .SetRegion(zvfix::kRegionBoardConfig1, zvfix::MakeFcBoardConfig({1, 1, 0, 0}, zvonline::kVendor,
                                                                         zvonline::kSsid25, {}));
    Install(zvfix::BuildMultibootImage(DemoSpec()));
    inst.WriteFile("package.cfg", "");

    const zvtest::RunResult r = Run();
    ASSERT_EQ(r.status, 1) << r.out << r.outputFile;
    EXPECT_TRUE(Has(r.out, "MCTP config disable: Update is complete.\n")) << r.out;
    EXPECT_TRUE(Has(r.outputFile, "HBA KV2692: Upgrade is not required. FBC version is up to date (1.1.0)\n"))
        << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, "Upgrading MBI version from 06.05.01 to 06.05.01: completed\n")) << r.outputFile;
    EXPECT_EQ(WrittenRegions(), Writes(kSet2, {0x96, 0x95}));
}

// A library that cannot activate on line takes the off-line engine: the
// primary set is written, and its records only after every region was read
// back; records already naming the primary set, or unreadable, stay.
TEST_F(DorneUpdate, OfflineEngineWritesThePrimarySetAndItsRecordsLast) {
    host.libraryVersion = "v6.03 build12";
    AddAdapter(0, 3, 1, 9);
    Install(zvfix::BuildMultibootImage(DemoSpec()));
    const Bytes secondaryFirmware = Region(0x02);

    zvtest::RunResult r = Run();
    ASSERT_EQ(r.status, 1) << r.out << r.err << r.outputFile;
    EXPECT_EQ(EngineStatus(r), 0);
    const size_t firstRun = zvfix::ReadJournal(hostDir.Path()).size();
    // Every region is read back, none shows it; the records show nothing.
    EXPECT_TRUE(Has(r.outputFile, "Please wait...\n"
                                  "Updating Adapter Signature... Success\n"
                                  "Updating Adapter FC Boot Code... Success\n"
                                  "Updating Adapter Extended MPI Fw ... Success\n"
                                  "Updating Adapter MPI Fw ... Success\n"
                                  "Updating Adapter PEP Fw... Success\n"
                                  "Updating Adapter Trunking PEP Fw... Success\n"
                                  "Updating Adapter FC RISC Fw... Success\n" +
                                      VpdAndMemoLines(false) + kRebootNotice))
        << r.outputFile;
    EXPECT_EQ(WrittenRegions(), Writes(kSet1, {0x95, 0x96}));
    EXPECT_EQ(Region(0x95), Record(1, 9));
    EXPECT_EQ(Region(0x96), Record(0, 8));
    EXPECT_EQ(Region(0x02), secondaryFirmware);

    // Before the reboot the secondary set still runs while the records start
    // the primary: the records name the running set again first (its record
    // first), the primary is rewritten, and the records go back as found.
    const Bytes records = Region(0x95), secondaryRecord = Region(0x96);
    inst.WriteFile(kImage, [] {
        zvfix::MultibootImageSpec s = DemoSpec();
        s.imageVersion = {6, 5, 2};
        const Bytes b = zvfix::BuildMultibootImage(s);
        return std::string(b.begin(), b.end());
    }());
    inst.WriteFile("package.cfg", "");
    r = Run();
    ASSERT_EQ(r.status, 1) << r.outputFile;
    const std::vector<uint32_t> all = WrittenRegions();
    const std::vector<uint32_t> second(all.begin() + static_cast<long>(firstRun), all.end());
    EXPECT_EQ(second, Writes(kSet1, {0x95, 0x96}, {0x96, 0x95}));
    EXPECT_EQ(Region(0x95), records);
    EXPECT_EQ(Region(0x96), secondaryRecord);

    // With neither record readable nothing is held: the primary set, the records left alone.
    host.adapters.front().faults = {zvfix::FaultSpec::Fail("flash_read", 5).OnRegion(0x95),
                                    zvfix::FaultSpec::Fail("flash_read", 5).OnRegion(0x96)};
    zvonline::RewriteHostJson(host, hostDir.Path());
    const size_t secondRun = all.size();
    r = Run();
    EXPECT_EQ(r.status, 1) << r.outputFile;
    EXPECT_EQ(EngineStatus(r), 0);
    EXPECT_FALSE(Has(r.outputFile, "Unable to read the image status regions")) << r.outputFile;
    const std::vector<uint32_t> third = WrittenRegions();
    EXPECT_EQ(std::vector<uint32_t>(third.begin() + static_cast<long>(secondRun), third.end()), Writes(kSet1, {}));
    EXPECT_EQ(Region(0x95), records);
}

// Off line with the primary set booting (masks 1/0) the set is rewritten in
// place: an image with boot code alone updates the boot code and leaves every
// other component as it is, a complete update. Where the records would switch
// to the primary set (masks 0/1) the same image is no complete set.
TEST_F(DorneUpdate, OfflineInPlaceImageWithBootCodeAloneUpdatesTheBootCode) {
    zvfix::MultibootImageSpec spec = DemoSpec();
    std::erase_if(spec.components, [](const zvfix::MbiComponent& c) { return c.region != 0x07; });
    const Bytes image = zvfix::BuildMultibootImage(spec);
    host.libraryVersion = "v6.03 build12";
    AddAdapter(1, 7, 0, 3);
    Install(image);
    std::map<uint32_t, Bytes> before;
    for (uint32_t code : kSet1) before[code] = Region(code);
    const Bytes primaryRecord = Region(0x95), secondaryRecord = Region(0x96);

    const zvtest::RunResult r = Run();
    ASSERT_EQ(r.status, 1) << r.out << r.err << r.outputFile;
    EXPECT_EQ(EngineStatus(r), 0) << r.debugLog;
    EXPECT_TRUE(Has(r.outputFile, "Please wait...\nUpdating Adapter FC Boot Code... Success\n" +
                                      VpdAndMemoLines(false) + kRebootNotice))
        << r.outputFile;
    EXPECT_TRUE(Has(r.out, "MCTP config enable: Update is complete.\n")) << r.out;
    EXPECT_EQ(WrittenRegions(), Writes({0x07}, {}));
    const Bytes boot = Region(0x07);
    EXPECT_NE(boot, before[0x07]);
    EXPECT_EQ(std::memcmp(boot.data() + spec.Component(0x07)->data.size(), "ZILT", 4), 0);
    for (uint32_t code : kSet1) {
        if (code != 0x07) {
            EXPECT_EQ(Region(code), before[code]) << std::hex << code;
        }
    }
    EXPECT_EQ(Region(0x95), primaryRecord);
    EXPECT_EQ(Region(0x96), secondaryRecord);
    ExpectRunsAfterReboot(1, kSet1);

    host = zvfix::HostBuilder();
    host.libraryVersion = "v6.03 build12";
    AddAdapter(0, 3, 1, 7);
    zvtest::TempDir dir;
    Install(image, dir.Path());
    const Bytes flash = zvfix::ReadFlash(dir.Path(), 0);
    const zvtest::RunResult refused = Run(dir.Path());
    EXPECT_EQ(EngineStatus(refused), 507);
    zve2e::ExpectRefusedAsNoCompleteSet(refused, dir.Path(), flash);
}

}  // namespace
