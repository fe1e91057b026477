// Boot-code identity repair on simulated adapters: the region of the running
// set is rewritten with the port's ids, once per adapter.
#include "image/boot_code_repair.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "core/oss_services.h"
#include "fixtures/host_builder.h"
#include "fixtures/lists_host.h"
#include "fixtures/rom_chain_builder.h"
#include "frontend/output.h"
#include "image/rom_chain.h"
#include "support/e2e_support.h"

namespace {

// Boot code built for another chip and vendor: every id the repair writes is wrong.
const std::vector<zvfix::RomImageSpec> kForeign = [] {
    std::vector<zvfix::RomImageSpec> specs{zvfix::RomImageSpec::Bios(0x2071), zvfix::RomImageSpec::FCode(0x2071),
                                           zvfix::RomImageSpec::Efi(0x2071), zvfix::RomImageSpec::Pxe(0x2071)};
    specs[0].hwType = "2071";
    specs[0].ssvid = 0x1077;
    return specs;
}();

class BootCodeRepair : public ::testing::Test {
protected:
    void SetUp() override {
        OSSInitCriticalSection();
        zvtest::ClearLogs();   // an output file named in the same second would be appended to
        ResetOutputChannels();
        ASSERT_EQ(SetOutOutFile(), 0);
    }
    void TearDown() override {
        OSSDeleteCriticalSection();
        ResetOutputChannels();
    }
    static std::string OutputFile() { return zvtest::ReadFile(GetOutPutFile()); }
    // The ids the repair must have left in a chain at the region's start.
    static void ExpectRepaired(const zvfix::Bytes& rom, uint16_t deviceId, const char* hw, const char* model) {
        const auto at = zvfix::RomImageOffsets(kForeign);
        EXPECT_EQ(rom[32] | rom[33] << 8, 0x1A77);   // the NVRAM's subsystem vendor id
        EXPECT_EQ(rom[42] | rom[43] << 8, deviceId);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(rom.data()) + 9, 4), hw);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(rom.data()) + 68, 7), std::string(model) + " ");
        EXPECT_TRUE(zvfix::BiosChecksumOk(rom, 0));
        EXPECT_EQ(rom[zvfix::kBiosDefaultsMarker + 6 + 4], 0x5A);   // the adapter's defaults kept
        EXPECT_EQ(zvfix::RomDeviceId(rom, at[1]), deviceId);
        EXPECT_EQ(zvfix::RomDeviceId(rom, at[2]), deviceId);
        EXPECT_EQ(zvfix::RomDeviceId(rom, at[3]), 0x2071);          // PXE left alone
    }
};

TEST_F(BootCodeRepair, RunningSetOfEachChipIsRepaired) {
    zvfix::HostBuilder h;
    auto& a = h.AddChip25TwoPort();
    a.SetImageStatus(0, 3, 1, 4);   // secondary runs, chip-type-25 signature
    a.SetRegion(zvfix::kRegionBoot2, zvfix::MakeRomChain(kForeign));
    auto& b = h.AddChip27();
    b.SetImageStatus(0, 3, 1, 4);   // secondary runs, chip-type-27 signature
    b.SetRegion(zvfix::kRegionBoot1, zvfix::MakeRomChain(kForeign));
    b.SetRegion(zvfix::kRegionBoot2, zvfix::MakeRomChain(kForeign));
    auto& c = h.AddChip27();
    c.SetImageStatus(1, 5, 0, 4);   // primary runs
    c.SetRegion(zvfix::kRegionBoot1, zvfix::MakeRomChain(kForeign));
    zvfix::ListsHost lists(h);
    const std::string host = lists.Dir() + "/host";
    const auto ports = zvfix::ListsHost::Ports();
    ASSERT_EQ(ports.size(), 6u);
    auto portOf = [&](int adapter) {
        for (SDMDevice* d : ports) {
            if (zvfix::ListsHost::Wwpn(d) == zvfix::ListsHost::Wwpn(zvfix::ListsHost::CorePort(adapter * 2))) return d;
        }
        return static_cast<SDMDevice*>(nullptr);
    };

    ASSERT_EQ(FixAdapterOptionRomBootCode(portOf(0)), 0);
    ExpectRepaired(zvfix::ReadRegion(host, 0, zvfix::kRegionBoot2), 0x2261, "2261", "KV2692");

    ASSERT_EQ(FixAdapterOptionRomBootCode(portOf(1)), 0);
    ExpectRepaired(zvfix::ReadRegion(host, 1, zvfix::kRegionBoot2), 0x2281, "2281", "KV2772");
    EXPECT_EQ(zvfix::ReadRegion(host, 1, zvfix::kRegionBoot1), zvfix::ReadRegion(host, 2, zvfix::kRegionBoot1));

    ASSERT_EQ(FixAdapterOptionRomBootCode(portOf(2)), 0);
    ExpectRepaired(zvfix::ReadRegion(host, 2, zvfix::kRegionBoot1), 0x2281, "2281", "KV2772");

    EXPECT_EQ(OutputFile(),
              "Updating Adapter FC Boot Code... Success\n"
              "Updating Adapter FC Boot Code... Success\n"
              "Updating Adapter FC Boot Code... Success\n");
    EXPECT_EQ(FixAdapterOptionRomBootCode(nullptr), -1);
}

TEST_F(BootCodeRepair, EveryAdapterOnceAndFailuresReported) {
    zvfix::HostBuilder h;
    h.AddChip25Ports("ZV-A", {0x2100000000000002, 0x2100000000000001})
        .SetRegion(zvfix::kRegionBoot1, zvfix::MakeRomChain(kForeign));
    auto& locked = h.AddChip25Ports("ZV-B", {0x2100000000000003});
    locked.SetRegion(zvfix::kRegionBoot1, zvfix::MakeRomChain(kForeign));
    locked.faults.push_back(zvfix::FaultSpec::Lockdown());
    h.AddChip25Ports("ZV-C", {0x2100000000000004});   // erased boot code: no chain to patch
    zvfix::ListsHost lists(h);
    const std::string host = lists.Dir() + "/host";
    ASSERT_EQ(zvfix::ListsHost::Ports().size(), 4u);

    const zvfix::Bytes blank = zvfix::ReadRegion(host, 2, zvfix::kRegionBoot1);
    EXPECT_EQ(FixAllAdaptersOptionRomBootCode(), PCI_CHAIN_BROKEN);   // the last failure
    const auto writes = zvfix::ReadJournal(host);
    ASSERT_EQ(writes.size(), 1u);   // ZV-A once, from its first port
    EXPECT_EQ(writes[0].adapter, 0);
    EXPECT_EQ(writes[0].region, zvfix::kRegionBoot1);
    ExpectRepaired(zvfix::ReadRegion(host, 0, zvfix::kRegionBoot1), 0x2261, "2261", "KV2692");
    EXPECT_EQ(zvfix::ReadRegion(host, 2, zvfix::kRegionBoot1), blank);
    EXPECT_EQ(OutputFile(),
              "Updating Adapter FC Boot Code... Success\n"
              "Updating Adapter FC Boot Code... Failed\n"
              "Flash update failed with HBA instance 2 (KV2692). Firmware lockdown mode enabled!\n");
}

TEST_F(BootCodeRepair, EmptyListHasNothingToRepair) {
    zvfix::HostBuilder h;
    zvfix::ListsHost lists(h);
    EXPECT_EQ(FixAllAdaptersOptionRomBootCode(), BOOT_REPAIR_NO_DEVICE);
    EXPECT_EQ(OutputFile(), "No compatible HBA(s) found in current system !\n");
}

}  // namespace
