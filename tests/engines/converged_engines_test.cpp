// The K7R and Torvi engines in process over simulated converged adapters:
// which regions reach the flash and in what order, the bytes they carry,
// the memo block and VPD steps, the final messages, and the images and
// requests that must leave the flash untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "core/core_quiet.h"
#include "engines/k7r_update.h"
#include "engines/torvi_update.h"
#include "fixtures/adapters_properties_builder.h"
#include "fixtures/board_template_builder.h"
#include "fixtures/converged_image_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/lists_host.h"
#include "frontend/output.h"
#include "image/option_rom_request.h"
#include "support/boot_code_region.h"
#include "support/e2e_support.h"
#include "support/engine_run.h"
#include "support/failing_alloc.h"

namespace {

using zvfix::Bytes;
using zvfix::ListsHost;
using zvtest::Has;

enum class Family { K7R, Torvi21, Torvi24 };

class ConvergedEngine : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /tmp and /var/log";
    }
    void TearDown() override { freeUserOptionROMReq(); }

    zvfix::AdapterSpec& Adapter(Family f, int ports = 2) {
        host = zvfix::HostBuilder{};
        zvfix::AdapterSpec& a = f == Family::K7R      ? host.AddK7R(0x54)
                                : f == Family::Torvi21 ? host.AddAdapter(0x8031, ports)
                                                       : host.AddAdapter(0x2031, ports);
        zvfix::AdapterSpec* spec = &a;
        if (f == Family::K7R && ports != 2) {
            host = zvfix::HostBuilder{};
            spec = &host.AddAdapter(0x8021, ports);
            spec->chipRevision = 0x54;
        }
        // VPDs with the version keywords the engines rewrite.
        zvfix::SetConvergedVpds(*spec, "ZV1");
        return *spec;
    }

    SD_INT32 Update(Family f, const Bytes& image, SD_UINT16 disableReset = 0, SD_UINT32 region = OPTROM_REGION_ALL) {
        ListsHost lists(host, zvfix::AdapterTable({zvfix::TableRow(host.adapters[0].subSystemId, 0x1A77)}));
        hostDir = lists.Dir() + "/host";
        const std::string file = dir.Path() + "/mbi.bin";
        zvtest::PrepareEngineRun(file, image, region);
        const int quiet = CoreGetQuietMode();
        if (trace) {
            EXPECT_EQ(SetDebugLogFile("zenbrix.log"), 0);
            SetEnableDebugLog(1);
            CoreSetQuietMode(0);
        }
        SDMDevice* port = ListsHost::Ports().at(0);
        const SD_INT32 status = f == Family::K7R ? CNAK7ORevA0ptionROMRegionUpdate(port, file.c_str(), disableReset)
                                                 : CNATorviOptionROMRegionUpdate(port, file.c_str(), disableReset);
        output = zvtest::ReadFile(GetOutPutFile());
        if (trace) {
            SetEnableDebugLog(0);
            CoreSetQuietMode(quiet);
            debugLog = zvtest::ReadFile(std::string(VORN_LOG_DIR) + "/zenbrix.log");
        }
        journal = zvfix::ReadJournal(hostDir);
        regions.clear();
        for (const zvfix::JournalEntry& e : journal) regions.push_back(e.region);
        // The host goes with `lists`.
        if (host.adapters[0].Region(0x81) != nullptr) nicVpd = zvfix::ReadRegion(hostDir, 0, 0x81);
        if (host.adapters[0].Region(0x74) != nullptr) firmware74 = zvfix::ReadRegion(hostDir, 0, 0x74);
        bootCode.clear();
        for (uint32_t code : {0x07u, 0xA2u})
            if (host.adapters[0].Region(code) != nullptr) bootCode[code] = zvfix::ReadRegion(hostDir, 0, code);
        return status;
    }

    zvfix::HostBuilder host;
    zvtest::TempDir dir;
    bool trace = false;   // the run writes the debug log
    std::string hostDir, output, debugLog;
    std::vector<zvfix::JournalEntry> journal;
    std::vector<uint32_t> regions;
    Bytes nicVpd, firmware74;
    std::map<uint32_t, Bytes> bootCode;   // 0x07 and 0xA2 after the run
};

TEST_F(ConvergedEngine, K7RFinalMessagesFollowPortsResetAndVpd) {
    Adapter(Family::K7R, 1).SetRegion(0x81, Bytes(0x400, 0xFF));   // blank VPD
    const Bytes image = zvfix::BuildMultibootImage(zvfix::K7RImageSpec());
    ASSERT_EQ(Update(Family::K7R, image), 0) << output;
    EXPECT_TRUE(Has(output, "Updating Adapter VPD... Unsuccessful\n"));
    EXPECT_TRUE(Has(output, "Flash update complete on HBA instance 0 - KV8021 with errors in version updates in VPD.\n"))
        << output;
    EXPECT_EQ(nicVpd, Bytes(0x400, 0xFF));

    Adapter(Family::K7R);   // two ports, reset allowed
    ASSERT_EQ(Update(Family::K7R, image), 0) << output;
    EXPECT_TRUE(Has(output, "Option ROM update complete. Changes have been saved to both ports of this HBA.\n"
                            "You must reboot in order for changes to take effect.\n"))
        << output;

    Adapter(Family::K7R, 1);
    ASSERT_EQ(Update(Family::K7R, image, 1), 0) << output;
    EXPECT_TRUE(Has(output, "Flash update complete. Changes have been saved to all ports of this HBA.\n"
                            "You must reboot in order for the changes to become effective.\n"))
        << output;
    for (const zvfix::JournalEntry& e : journal) EXPECT_EQ(e.disableReset, 1u);

    // A VPD write that fails reaches the engine as a failure, not as success.
    Adapter(Family::K7R).faults.push_back(zvfix::FaultSpec::Fail("flash_write", 5).OnRegion(0x81));
    ASSERT_EQ(Update(Family::K7R, image), 0) << output;
    EXPECT_TRUE(Has(output, "Updating Adapter VPD... Unsuccessful\n"
                            "Flash update complete on this HBA with errors in version updates in VPD.\n"))
        << output;
    std::filesystem::remove_all(zvfix::kTableCopyDir);   // the VPD copy its failed write keeps
}

TEST_F(ConvergedEngine, K7RRefusesBeforeWritingWhatCannotBeWrittenWhole) {
    // A boot loader larger than its flash region: refused, not cut.
    Adapter(Family::K7R).SetRegionSize(0x72, 0x1F000);
    EXPECT_EQ(Update(Family::K7R, zvfix::BuildMultibootImage(zvfix::K7RImageSpec())), 34);
    EXPECT_TRUE(regions.empty());
    EXPECT_TRUE(Has(output, "Validating Flash Image File... Failed\nIncompatible flash image (Region size mismatched)!\n"))
        << output;

    // A request for one region writes nothing and says so.
    const Bytes image = zvfix::BuildMultibootImage(zvfix::K7RImageSpec());
    Adapter(Family::K7R);
    EXPECT_EQ(Update(Family::K7R, image, 0, OPTROM_REGION_FIRMWARE), 34);
    EXPECT_TRUE(regions.empty());
    EXPECT_TRUE(Has(output, "Unable to complete flash update on HBA Instance 0. Not all regions updated (0 of 7).\n"));

    // Two boot loaders would make eight writes: none is made.
    zvfix::MultibootImageSpec twice = zvfix::K7RImageSpec();
    twice.components.push_back(*twice.Component(0x72));
    Adapter(Family::K7R);
    EXPECT_EQ(Update(Family::K7R, zvfix::BuildMultibootImage(twice)), 34);
    EXPECT_TRUE(regions.empty());

    // An image for other adapters: the validation status unchanged.
    zvfix::MbiAdapter other = zvfix::kK7RAdapter;
    other.ssdid = 0x0300;
    Adapter(Family::K7R);
    EXPECT_EQ(Update(Family::K7R, zvfix::BuildMultibootImage(zvfix::K7RImageSpec(other))), 451);
    EXPECT_TRUE(regions.empty());
    EXPECT_TRUE(Has(output, "Incorrect flash image for HBA instance 0 (KV8021)(ssdid=0x311 ssvid=0x1a77)!\n"))
        << output;
}

TEST_F(ConvergedEngine, K7RWritesTheRegionSizeOfALongerRevision54Firmware) {
    zvfix::MultibootImageSpec big = zvfix::K7RImageSpec();
    Bytes& firmware = big.Component(0x74)->data;
    firmware.resize(0x100800, 0x5A);
    // Data up to the region's last byte, erased padding past it.
    std::fill(firmware.begin() + 0xFFFF0, firmware.begin() + 0x100000, SD_UINT8{0xC3});
    std::fill(firmware.begin() + 0x100000, firmware.end(), SD_UINT8{0xFF});
    {
        // A tail past the region that holds data is never cut off: the
        // firmware would reach the flash truncated. Refused, nothing written.
        zvfix::MultibootImageSpec withData = big;
        withData.Component(0x74)->data.back() = 0x01;
        Adapter(Family::K7R);
        trace = true;
        EXPECT_EQ(Update(Family::K7R, zvfix::BuildMultibootImage(withData)), 34) << output;
        EXPECT_TRUE(regions.empty());
        EXPECT_TRUE(Has(output, "Incompatible flash image (Region size mismatched)!\n")) << output;
        EXPECT_FALSE(Has(debugLog, "Corrected region len=")) << debugLog;
    }
    Adapter(Family::K7R);
    trace = true;
    const SD_INT32 status = Update(Family::K7R, zvfix::BuildMultibootImage(big));
    ASSERT_EQ(status, 0) << output;
    EXPECT_EQ(regions, (std::vector<uint32_t>{0x07, 0x4F, 0x2E, 0x70, 0x72, 0x73, 0x74, 0x81}));
    EXPECT_TRUE(Has(output, "Updating Adapter FW... Success\n")) << output;
    ASSERT_EQ(firmware74.size(), 0x100000u);
    EXPECT_TRUE(std::equal(firmware74.begin(), firmware74.end(), firmware.begin()));
    EXPECT_TRUE(Has(debugLog, "Corrected region len=0x100000 \n")) << debugLog;
}

// The cut takes padding of either kind, zeroed or erased, and nothing else:
// a tail that holds data leaves the flash untouched.
TEST_F(ConvergedEngine, K7RCutsZeroedOrErasedPaddingButNeverData) {
    const auto image = [](const Bytes& tail) {
        zvfix::MultibootImageSpec spec = zvfix::K7RImageSpec();
        Bytes& firmware = spec.Component(0x74)->data;
        firmware.resize(0x100000, 0x5A);
        firmware.insert(firmware.end(), tail.begin(), tail.end());
        return std::make_pair(zvfix::BuildMultibootImage(spec), Bytes(firmware.begin(), firmware.begin() + 0x100000));
    };
    // Zeroed, erased, or both in either order.
    const auto mixed = [](SD_UINT8 first, SD_UINT8 second) {
        Bytes tail(0x800, first);
        std::fill(tail.begin() + 0x300, tail.end(), second);
        return tail;
    };
    for (const Bytes& tail : {Bytes(0x800, 0x00), Bytes(0x800, 0xFF), mixed(0x00, 0xFF), mixed(0xFF, 0x00)}) {
        SCOPED_TRACE(static_cast<int>(tail.front()));
        const auto [bytes, expected] = image(tail);
        Adapter(Family::K7R);
        ASSERT_EQ(Update(Family::K7R, bytes), 0) << output;
        EXPECT_EQ(regions, (std::vector<uint32_t>{0x07, 0x4F, 0x2E, 0x70, 0x72, 0x73, 0x74, 0x81}));
        EXPECT_EQ(firmware74, expected);
    }
    Bytes zeroedWithData(0x800, 0x00);
    zeroedWithData[0x400] = 0x01;
    Bytes mixedWithData = mixed(0x00, 0xFF);
    mixedWithData[0x7FF] = 0x01;
    // Data in the first byte past the region (the last the firmware holds), padding after it.
    Bytes dataAtTheEdge = mixed(0x00, 0xFF);
    dataAtTheEdge[0] = 0x01;
    for (const Bytes& tail : {zeroedWithData, mixedWithData, dataAtTheEdge, Bytes(0x800, 0x5A)}) {
        Adapter(Family::K7R);
        EXPECT_EQ(Update(Family::K7R, image(tail).first), 34) << output;
        EXPECT_TRUE(regions.empty());
        EXPECT_TRUE(Has(output, "Incompatible flash image (Region size mismatched)!\n")) << output;
        EXPECT_EQ(firmware74, Bytes(0x100000, 0xFF)) << "the erased region is left as it was";
    }
}

TEST_F(ConvergedEngine, K7RFailedWriteOrMissingBufferIsNotAllRegions) {
    Adapter(Family::K7R).faults.push_back(zvfix::FaultSpec::Fail("flash_write", 5).OnRegion(0x70));
    EXPECT_EQ(Update(Family::K7R, zvfix::BuildMultibootImage(zvfix::K7RImageSpec())), 34);
    EXPECT_EQ(regions, (std::vector<uint32_t>{0x07, 0x4F, 0x2E}));
    EXPECT_TRUE(Has(output, "Updating Adapter CRBInit... Failed\n"));
    EXPECT_TRUE(Has(output, "Not all regions updated (3 of 7).\n")) << output;
    EXPECT_FALSE(Has(output, "Updating Adapter VPD"));

    // A region whose buffer cannot be had is passed over; the run still fails.
    Adapter(Family::K7R).SetRegionSize(0x73, 0x20123);
    zvtest::FailNextAllocationOf(0x20123);
    EXPECT_EQ(Update(Family::K7R, zvfix::BuildMultibootImage(zvfix::K7RImageSpec())), 34);
    EXPECT_EQ(regions, (std::vector<uint32_t>{0x07, 0x4F, 0x2E, 0x70, 0x72, 0x74}));
    EXPECT_TRUE(Has(output, "Not all regions updated (6 of 7).\n")) << output;
    EXPECT_FALSE(Has(output, "Updating Adapter VPD"));
}

TEST_F(ConvergedEngine, TorviVpdAndResetOutcomes) {
    // Blank VPDs: "N/A" for the NIC VPD, "Success" for an FC VPD. A write
    // whose settings wait for a reboot keeps every later write from resetting.
    zvfix::AdapterSpec& a = Adapter(Family::Torvi21);
    a.SetRegion(0x81, Bytes(0x400, 0xFF));
    a.SetRegion(0x14, Bytes(0x400, 0x00));
    zvfix::FaultSpec notActivated = zvfix::FaultSpec::NotActivated();
    notActivated.count = 1;
    a.faults.push_back(notActivated.OnRegion(0x2E));
    const Bytes image = zvfix::BuildMultibootImage(zvfix::TorviImageSpec());
    ASSERT_EQ(Update(Family::Torvi21, image, 0), 0) << output;
    EXPECT_TRUE(Has(output, "Updating Adapter NIC/CNA VPD... N/A\nUpdating Adapter FC VPD... Success\n")) << output;
    // Chip type 21 has no memo block region: its step fails, the update does not.
    EXPECT_TRUE(Has(output, "Updating Adapter Flash Memo Block... Failed\n"));
    EXPECT_TRUE(Has(output, "Flash update complete. Changes have been saved to all ports of this HBA.\n"
                            "You must reboot in order for the changes to become effective.\n"))
        << output;
    ASSERT_GE(journal.size(), 3u);
    EXPECT_EQ(std::tie(journal[1].region, journal[1].disableReset), std::tuple(0x2Eu, 0u));
    for (size_t i = 2; i < journal.size(); ++i) EXPECT_EQ(journal[i].disableReset, 1u) << i;

    // The same answer to the FCoE firmware's writer asks for the reboot but
    // leaves the later writes as the caller wanted them.
    Adapter(Family::Torvi21).faults.push_back(notActivated.OnRegion(0xA4));
    ASSERT_EQ(Update(Family::Torvi21, image, 0), 0) << output;
    EXPECT_TRUE(Has(output, "You must reboot in order for the changes to become effective.\n")) << output;
    const auto fcoeFw = std::find_if(journal.begin(), journal.end(), [](const auto& e) { return e.region == 0xA4; });
    ASSERT_NE(fcoeFw, journal.end());
    ASSERT_GT(journal.end() - fcoeFw, 1);
    for (auto e = fcoeFw + 1; e != journal.end(); ++e) EXPECT_EQ(e->disableReset, 0u) << e->region;

    // A layout without region 0x16: the errors message, status 0.
    Adapter(Family::Torvi21).RemoveRegion(0x16);
    ASSERT_EQ(Update(Family::Torvi21, image), 0) << output;
    EXPECT_TRUE(Has(output, "Updating Adapter NIC/CNA FW... Success\n"));
    EXPECT_TRUE(Has(output, "with errors in version updates in VPD.\n")) << output;
}

// The FC and the FCoE boot code each take the adapter's defaults from their
// own current region, are patched for their own function, and carry the
// image's table behind their ROM chain.
TEST_F(ConvergedEngine, TorviBootCodesKeepTheirOwnDefaultsAndCarryTheTable) {
    using zvfix::RomImageSpec;
    const auto bios = [](uint16_t deviceId, uint8_t fill, uint16_t ssvid) {
        RomImageSpec b = RomImageSpec::Bios(deviceId);
        b.defaultsFill = fill;
        b.ssvid = ssvid;
        return b;
    };
    zvfix::MultibootImageSpec spec = zvfix::TorviImageSpec();
    spec.Component(0x07)->data = zvfix::MakeRomChain({bios(0x2031, 0x11, 0x1A77), RomImageSpec::Efi(0x2031)});
    spec.Component(0xA2)->data = zvfix::MakeRomChain({bios(0x8031, 0x11, 0x1A77), RomImageSpec::Efi(0x8031)});
    zvfix::AdapterSpec& a = Adapter(Family::Torvi21);
    a.SetRegion(0x07, zvfix::MakeRomChain({bios(0x2031, 0xC7, 0x0707)}));
    a.SetRegion(0xA2, zvfix::MakeRomChain({bios(0x8031, 0xCA, 0x0A2A)}));
    const Bytes image = zvfix::BuildMultibootImage(spec);
    ASSERT_EQ(Update(Family::Torvi21, image), 0) << output;

    const struct {
        uint32_t code;
        int fill;
        uint16_t svid;
        const char* hwType;
    } regionsOf[] = {{0x07, 0xC7, 0x0707, "2031"}, {0xA2, 0xCA, 0x0A2A, "8031"}};
    for (const auto& r : regionsOf) {
        const Bytes& flash = bootCode.at(r.code);
        EXPECT_EQ(zvtest::DefaultsFill(flash, 0), r.fill) << std::hex << r.code;
        EXPECT_EQ(flash[32] | flash[33] << 8, r.svid) << std::hex << r.code;
        EXPECT_EQ(std::string(flash.begin() + 9, flash.begin() + 13), r.hwType) << std::hex << r.code;
        EXPECT_EQ(std::string(flash.begin() + 68, flash.begin() + 74), "KV8031") << std::hex << r.code;
        EXPECT_TRUE(zvfix::BiosChecksumOk(flash, 0)) << std::hex << r.code;
        EXPECT_TRUE(zvtest::TableThenErasedBehindChain(flash, spec.Component(static_cast<uint16_t>(r.code))->data.size(),
                                                       image, spec))
            << std::hex << r.code;
    }
}

TEST_F(ConvergedEngine, TorviWritesNothingForAnotherRequestOrTooManyEntries) {
    const Bytes image = zvfix::BuildMultibootImage(zvfix::TorviImageSpec(zvfix::kTorvi24Adapter));
    Adapter(Family::Torvi24);
    EXPECT_EQ(Update(Family::Torvi24, image, 0, OPTROM_REGION_BOOT), 34);
    EXPECT_TRUE(regions.empty());   // no region, no memo block, no VPD
    EXPECT_TRUE(Has(output, "Not all regions updated (0 of 10).\n")) << output;

    zvfix::MultibootImageSpec eleven = zvfix::TorviImageSpec(zvfix::kTorvi24Adapter);
    eleven.components.push_back(*eleven.Component(0x73));
    Adapter(Family::Torvi24);
    EXPECT_EQ(Update(Family::Torvi24, zvfix::BuildMultibootImage(eleven)), 34);
    EXPECT_TRUE(regions.empty());

    // Entries for another chip revision are passed over; the rest is written.
    zvfix::MultibootImageSpec other = zvfix::TorviImageSpec(zvfix::kTorvi24Adapter);
    other.Component(0x72)->chipRev = 0x30;
    Adapter(Family::Torvi24);
    EXPECT_EQ(Update(Family::Torvi24, zvfix::BuildMultibootImage(other)), 0) << output;
    EXPECT_EQ(std::count(regions.begin(), regions.end(), 0x72u), 0);
    EXPECT_EQ(std::count(regions.begin(), regions.end(), 0x73u), 1);

    // A region whose buffer cannot be had is passed over; the run fails all
    // the same, though fewer writes than the set holds may pass.
    Adapter(Family::Torvi24).SetRegionSize(0x73, 0x20123);
    zvtest::FailNextAllocationOf(0x20123);
    EXPECT_EQ(Update(Family::Torvi24, image), 34);
    EXPECT_EQ(regions, (std::vector<uint32_t>{0x07, 0x2E, 0xA2, 0x4F, 0x70, 0x72, 0xA4, 0x01, 0x97}));
    EXPECT_TRUE(Has(output, "Not all regions updated (9 of 10).\n")) << output;
    EXPECT_FALSE(Has(output, "VPD"));
}


TEST_F(ConvergedEngine, WritersKeepToTheirRegionsAndTheRequest) {
    Adapter(Family::K7R).faults.push_back(zvfix::FaultSpec::NotActivated().OnRegion(0x73));
    ListsHost lists(host, zvfix::AdapterTable({zvfix::TableRow(host.adapters[0].subSystemId, 0x1A77)}));
    SDMDevice* port = ListsHost::Ports().at(0);
    const Bytes data(0x1000, 0x3C);
    ASSERT_EQ(addUserOptionROMRequest("all", nullptr), 0);
    EXPECT_EQ(FCUpdateK7ROptionRom(port, data, 0x2E, 0x1000, 1), 0x13);         // the NIC writer's region
    EXPECT_EQ(FCUpdateK7ROptionRom(port, data, 0x97, 0x1000, 1), 0x13);         // the other revision's firmware
    EXPECT_EQ(EthernetUpdateK7ROptionRom(port, data, 0x07, 0x1000, 1), 8);
    EXPECT_EQ(FCUpdateK7ROptionRom(nullptr, data, 0x07, 0x1000, 1), 0x13);
    EXPECT_TRUE(zvfix::ReadJournal(lists.Dir() + "/host").empty());
    EXPECT_EQ(EthernetUpdateK7ROptionRom(port, data, 0x2E, 0x1000, 1), 0);
    // A request for one region lets the FC writer write that region only.
    g_ptrOptionROMRequest->Region = 0x70;
    EXPECT_EQ(FCUpdateK7ROptionRom(port, data, 0x72, 0x1000, 1), 0x13);
    EXPECT_EQ(FCUpdateK7ROptionRom(port, data, 0x70, 0x1000, 1), 0);
    std::vector<uint32_t> written;
    for (const zvfix::JournalEntry& e : zvfix::ReadJournal(lists.Dir() + "/host")) written.push_back(e.region);
    EXPECT_EQ(written, (std::vector<uint32_t>{0x2E, 0x70}));
    EXPECT_EQ(FCUpdateTorviOptionRom(nullptr, data, 0x07, 0x1000), 0x13);
    EXPECT_EQ(FCUpdateTorviOptionRom(port, {}, 0x07, 0x1000), 0x13);
    // The Torvi writer takes any region, reset allowed; "written, not activated" is success.
    EXPECT_EQ(FCUpdateTorviOptionRom(port, data, 0x73, 0x1000), 0);
    const auto last = zvfix::ReadJournal(lists.Dir() + "/host").back();
    EXPECT_EQ(std::tie(last.region, last.disableReset), std::tuple(0x73u, 0u));
    const Bytes pegtune = zvfix::ReadRegion(lists.Dir() + "/host", 0, 0x73);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), pegtune.begin()));

    MultibootVersions v{};
    v.NewBiosVersionMajor = 3;
    v.NewBiosVersionMinor = 5;
    v.NewK7RFirmwareVersionMajor = 5;
    v.NewK7RFirmwareVersionMinor = 6;
    v.NewK7RFirmwareVersionSubMinor = 7;
    zvtest::ClearLogs();
    ResetOutputChannels();
    ASSERT_EQ(SetOutOutFile(), 0);
    EXPECT_EQ(DisplayCNAK7RFlashComponentVersions(&v), 0);
    const std::string shown = zvtest::ReadFile(GetOutPutFile());
    EXPECT_TRUE(Has(shown, "BIOS Version                      : 3.05\n")) << shown;
    EXPECT_TRUE(Has(shown, "Firmware Version                  : 5.06.07\n"));
    EXPECT_TRUE(Has(shown, "EDC Version                       : 0.00.00\n"));
}

}  // namespace
