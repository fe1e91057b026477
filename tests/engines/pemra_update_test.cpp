// The Pemra engine over a simulated chip-type-26 adapter: what lands on flash
// and in which order, the checks that stop it before any write, and the ends
// of a failed or empty write loop.
#include "engines/pemra_update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engines/pemra_combination.h"
#include "fixtures/adapters_properties_builder.h"
#include "fixtures/lists_host.h"
#include "fixtures/multiboot_image_builder.h"
#include "fixtures/pemra_image_builder.h"
#include "fixtures/rom_chain_builder.h"
#include "frontend/output.h"
#include "image/option_rom_request.h"
#include "support/boot_code_region.h"
#include "support/e2e_support.h"
#include "support/failing_alloc.h"

namespace {

using zvfix::Bytes;
using zvtest::Has;

constexpr uint16_t kVendor = 0x1A77;

class PemraUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /tmp and /var/log";
        zvtest::ClearLogs();
        ResetOutputChannels();
        ASSERT_EQ(SetOutOutFile(), 0);
        adapter_ = &host_.AddPemra();
        adapter_->SetRegion(0x81, zvfix::MakeVpd(adapter_->vpd, adapter_->serial, 0x400));
        spec_ = zvfix::PemraImageSpec({.deviceId = 0x8044, .ssvid = kVendor, .ssdid = adapter_->subSystemId});
    }
    void TearDown() override {
        freeUserOptionROMReq();
        ResetOutputChannels();
        zvtest::ClearLogs();
    }

    // Writes the image, starts the host and runs the engine on the first port.
    SD_INT32 Run(const Bytes& image, SD_UINT32 region = OPTROM_REGION_ALL, SD_UINT16 disableReset = 0) {
        const std::string path = dir_.Path() + "/pemra.bin";
        zvfix::WriteBytes(path, image);
        lists_ = std::make_unique<zvfix::ListsHost>(
            host_, zvfix::AdapterTable({zvfix::TableRow(adapter_->subSystemId, kVendor)}));
        EXPECT_EQ(addUserOptionROMRequest("all", path.c_str()), 0);
        g_ptrOptionROMRequest->Region = region;
        return CNAPemraOptionROMRegionUpdate(zvfix::ListsHost::Ports().at(0), path.c_str(), disableReset);
    }
    std::string HostDir() const { return lists_->Dir() + "/host"; }
    std::vector<uint32_t> WrittenRegions() const {
        std::vector<uint32_t> out;
        for (const auto& j : zvfix::ReadJournal(HostDir()))
            if (j.op == "write") out.push_back(j.region);
        return out;
    }
    static std::string Output() { return zvtest::ReadFile(GetOutPutFile()); }

    zvtest::TempDir dir_;
    zvfix::HostBuilder host_;
    zvfix::AdapterSpec* adapter_ = nullptr;
    zvfix::MultibootImageSpec spec_;
    std::unique_ptr<zvfix::ListsHost> lists_;
};

TEST_F(PemraUpdate, WritesTheSequenceThenTheVpdAndLeavesEverythingElse) {
    // Inside a firmware-update package: the image behind its header is the one written.
    ASSERT_EQ(Run(zvfix::WrapInPldmPackage(zvfix::BuildMultibootImage(spec_))), PEMRA_SUCCESS) << Output();

    EXPECT_EQ(WrittenRegions(), (std::vector<uint32_t>{0x2E, 0xA2, 0x4F, 0x70, 0x72, 0x73, 0xB1, 0xA3, 0x97, 0x81}))
        << "sequence order, no memo block, no FC regions";

    // Plain components: the entry's bytes, the rest of the region erased.
    const auto plain = [&](uint16_t code) {
        const Bytes& data = spec_.Component(code)->data;
        const Bytes region = zvfix::ReadRegion(HostDir(), 0, code);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), region.begin())) << std::hex << code;
        EXPECT_TRUE(std::all_of(region.begin() + static_cast<long>(data.size()), region.end(),
                                [](uint8_t b) { return b == 0xFF; }))
            << std::hex << code;
    };
    for (uint16_t code : {0x70, 0x72, 0x73, 0xB1, 0xA3, 0x97}) plain(code);

    // Boot code carries the image's layout table right behind its chain.
    const Bytes& nic = spec_.Component(0x2E)->data;
    const Bytes nicRegion = zvfix::ReadRegion(HostDir(), 0, 0x2E);
    EXPECT_TRUE(std::equal(nic.begin(), nic.end(), nicRegion.begin()));
    const size_t table = zvfix::MbiTableLength(spec_);
    EXPECT_EQ(std::string(nicRegion.begin() + static_cast<long>(nic.size()),
                          nicRegion.begin() + static_cast<long>(nic.size()) + 4),
              "ZILT");
    EXPECT_EQ(nicRegion[nic.size() + table], 0xFF);
    EXPECT_EQ(zvfix::RomDeviceId(zvfix::ReadRegion(HostDir(), 0, 0xA2), 0), 0x8044);

    const std::string out = Output();
    EXPECT_TRUE(Has(out, "Validating Flash Image File... Success\n")) << out;
    EXPECT_TRUE(Has(out, "Updating Flash on HBA port(s) - ")) << out;
    EXPECT_TRUE(Has(out, "Updating Adapter MiniDump Templates... Success\n")) << out;
    EXPECT_TRUE(Has(out, "Updating Adapter NIC/CNA VPD... Success\n")) << out;
    EXPECT_TRUE(Has(out, "Option ROM update complete. Changes have been saved to both ports of this HBA.\n"
                         "You must reboot in order for changes to take effect.\n")) << out;
}

// The FCoE boot code takes the adapter's defaults and subsystem vendor id
// from its current region, is patched for the FCoE function and carries the
// image's table behind its ROM chain. A current region that cannot be read
// stops the update before any write.
TEST_F(PemraUpdate, FcoeBootCodeKeepsTheAdaptersDefaultsAndCarriesTheTable) {
    zvfix::RomImageSpec current = zvfix::RomImageSpec::Bios(0x8044);
    current.defaultsFill = 0xCA;
    current.ssvid = 0x0A2A;
    adapter_->SetRegion(0xA2, zvfix::MakeRomChain({current}));
    const Bytes image = zvfix::BuildMultibootImage(spec_);
    ASSERT_EQ(Run(image), PEMRA_SUCCESS) << Output();
    const Bytes fcoe = zvfix::ReadRegion(HostDir(), 0, 0xA2);
    EXPECT_EQ(zvtest::DefaultsFill(fcoe, 0), 0xCA);
    EXPECT_EQ(fcoe[32] | fcoe[33] << 8, 0x0A2A);
    EXPECT_EQ(std::string(fcoe.begin() + 9, fcoe.begin() + 13), "8044");
    EXPECT_EQ(std::string(fcoe.begin() + 68, fcoe.begin() + 74), "KV8044");
    EXPECT_TRUE(zvfix::BiosChecksumOk(fcoe, 0));
    EXPECT_TRUE(zvtest::TableThenErasedBehindChain(fcoe, spec_.Component(0xA2)->data.size(), image, spec_));

    freeUserOptionROMReq();
    lists_.reset();
    ResetOutputChannels();
    zvtest::ClearLogs();
    ASSERT_EQ(SetOutOutFile(), 0);
    adapter_->faults.push_back(zvfix::FaultSpec::Fail("flash_read", 0x20000001).OnRegion(0xA2));
    EXPECT_EQ(Run(image), PEMRA_BOOT_CODE_UNREADABLE);
    EXPECT_TRUE(WrittenRegions().empty());
    EXPECT_EQ(Output(), "Unable to read FCoE boot code region of adapter 0 (KV8044)!\n");
}

TEST_F(PemraUpdate, OtherRevisionCrbInitAndMissingOptionalRegionsAreLeftOut) {
    zvfix::MbiComponent other = *spec_.Component(0x70);
    other.chipRev = 0x99;
    other.data = zvfix::MbiFill(0x70, 0x400);   // would not even validate
    spec_.components.insert(spec_.components.begin(), other);
    spec_.components.erase(std::remove_if(spec_.components.begin(), spec_.components.end(),
                                          [](const auto& c) { return c.region == 0xB1 || c.region == 0xA3; }),
                           spec_.components.end());
    ASSERT_EQ(Run(zvfix::BuildMultibootImage(spec_)), PEMRA_SUCCESS) << Output();
    EXPECT_EQ(WrittenRegions(), (std::vector<uint32_t>{0x2E, 0xA2, 0x4F, 0x70, 0x72, 0x73, 0x97, 0x81}));
    const Bytes& skipped = spec_.Component(0x70)->data;   // the first 0x70 entry, the other revision's
    const Bytes& fitting = spec_.components[4].data;
    ASSERT_NE(skipped, fitting);
    const Bytes region = zvfix::ReadRegion(HostDir(), 0, 0x70);
    EXPECT_TRUE(std::equal(fitting.begin(), fitting.end(), region.begin()));
}

// Images and requests that cannot be written whole stop before the first write.
TEST_F(PemraUpdate, WhatCannotBeWrittenWholeStopsBeforeAnyWrite) {
    const zvfix::MultibootImageSpec plain = spec_;
    zvfix::MultibootImageSpec big = plain;
    big.Component(0x72)->data = zvfix::MbiFill(0x72, 0x10001);   // flash region: 0x10000
    zvfix::MultibootImageSpec boot = plain;
    boot.Component(0x2E)->data.resize(0x40000 - 16, 0);          // fits, but not with the table behind it
    zvfix::MultibootImageSpec ten = plain;
    ten.components.push_back(*ten.Component(0x72));              // a second boot loader: ten writes
    const struct {
        const zvfix::MultibootImageSpec& spec;
        SD_UINT32 region;
        const char* message;
    } cases[] = {
        {big, OPTROM_REGION_ALL, "Validating Flash Image File... Failed\nIncompatible flash image (Region size mismatched)!"},
        {boot, OPTROM_REGION_ALL, ""},
        {ten, OPTROM_REGION_ALL, "Not all regions updated (0 of 9)."},
        {plain, OPTROM_REGION_FIRMWARE, "Not all regions updated (0 of 9)."},   // a request for one region
    };
    for (const auto& c : cases) {
        ASSERT_EQ(Run(zvfix::BuildMultibootImage(c.spec), c.region), PEMRA_INCOMPLETE);
        EXPECT_TRUE(WrittenRegions().empty());
        EXPECT_TRUE(Has(Output(), c.message)) << Output();
        freeUserOptionROMReq();
        lists_.reset();
        ResetOutputChannels();
        zvtest::ClearLogs();
        ASSERT_EQ(SetOutOutFile(), 0);
    }
}

TEST_F(PemraUpdate, FailedWriteEndsTheWritingWithItsMessage) {
    adapter_->faults.push_back(zvfix::FaultSpec::Fail("flash_write", 0x20000001).OnRegion(0x70));
    ASSERT_EQ(Run(zvfix::BuildMultibootImage(spec_)), PEMRA_INCOMPLETE);
    EXPECT_EQ(WrittenRegions(), (std::vector<uint32_t>{0x2E, 0xA2, 0x4F}));
    const std::string out = Output();
    EXPECT_TRUE(Has(out, "Updating Adapter CRBInit... Failed\n"
                         "Flash update failed on this HBA (Instance 0) with error (0x20000001)")) << out;
    EXPECT_TRUE(Has(out, "Unable to complete flash update on HBA Instance 0. Not all regions updated (3 of 9).")) << out;
    EXPECT_FALSE(Has(out, "VPD")) << "no VPD step after a failed write";
}

TEST_F(PemraUpdate, RegionWithoutItsBufferLeavesTheUpdateIncomplete) {
    adapter_->SetRegionSize(0x73, 0x20123);
    zvtest::FailNextAllocationOf(0x20123);
    ASSERT_EQ(Run(zvfix::BuildMultibootImage(spec_)), PEMRA_INCOMPLETE) << Output();
    EXPECT_EQ(WrittenRegions(), (std::vector<uint32_t>{0x2E, 0xA2, 0x4F, 0x70, 0x72, 0xB1, 0xA3, 0x97}));
    const std::string out = Output();
    EXPECT_TRUE(Has(out, "Unable to complete flash update on HBA Instance 0. Not all regions updated (8 of 9).")) << out;
    EXPECT_FALSE(Has(out, "VPD")) << out;
}

TEST_F(PemraUpdate, BlankVpdCompletesWithTheVpdErrorMessage) {
    adapter_->regionData.erase(0x81);
    ASSERT_EQ(Run(zvfix::BuildMultibootImage(spec_), OPTROM_REGION_ALL, 1), PEMRA_SUCCESS) << Output();
    const std::string out = Output();
    EXPECT_TRUE(Has(out, "Updating Adapter NIC/CNA VPD... N/A\n")) << out;
    EXPECT_TRUE(Has(out, "Flash update complete on HBA instance 0 - KV8044 with errors in version updates in VPD."))
        << out;
    for (const auto& j : zvfix::ReadJournal(HostDir())) EXPECT_EQ(j.disableReset, 1u) << std::hex << j.region;
}

TEST(PemraCombination, ComponentPastTheImageFailsWithItsRegionsCode) {
    const zvfix::MbiAdapter a{.deviceId = 0x8044, .ssvid = kVendor, .ssdid = 0x031A};
    const Bytes image = zvfix::BuildMultibootImage(zvfix::PemraImageSpec(a));
    Bytes out(image.size(), 0);
    ILT_Region_t entry{};
    entry.regionType = 0xB1;
    entry.offsetLo = static_cast<SD_UINT16>(image.size() - 4);
    entry.sizeLo = 8;
    const sHbaIdentifiers ids{};
    EXPECT_EQ(static_cast<SD_INT8>(CombinePemraImage(out, &entry, image, ids)), -24);
    entry.regionType = 0xA3;
    EXPECT_EQ(static_cast<SD_INT8>(CombinePemraImage(out, &entry, image, ids)), -25);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0; })) << "nothing copied";
}

}  // namespace
