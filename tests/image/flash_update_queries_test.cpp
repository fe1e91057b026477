// Online-update capability, image-status and flash-layout queries against
// simulated adapters.
#include "image/flash_update_queries.h"

#include <gtest/gtest.h>

#include "core/oss_services.h"
#include "fixtures/flash_layout_builder.h"
#include "fixtures/host_builder.h"
#include "support/discovered_host.h"

namespace {

class FlashQueries : public zvtest::DiscoveredHostTest {
protected:
    void SetUp() override {
        DiscoveredHostTest::SetUp();
        OSSInitCriticalSection();
    }
    void TearDown() override {
        DiscoveredHostTest::TearDown();
        OSSDeleteCriticalSection();
    }
};

TEST_F(FlashQueries, CapabilityOutcomes) {
    zvfix::HostBuilder host;
    host.AddChip25TwoPort();
    host.AddChip25TwoPort().fwAttributes = 0;   // firmware without online update
    const auto devs = Discover(host);
    ASSERT_EQ(devs.size(), 4u);

    SD_UINT64 caps = 0x55;
    EXPECT_EQ(CheckFlashUpdateCapabilities(nullptr, &caps), 8);
    EXPECT_EQ(caps, 0x55u);
    EXPECT_EQ(CheckFlashUpdateCapabilities(devs[0], &caps), 0);
    EXPECT_EQ(caps, 4u);
    caps = 0x55;
    EXPECT_EQ(CheckFlashUpdateCapabilities(devs[2], &caps), FLASH_CAPABILITY_UNUSABLE);
    EXPECT_EQ(caps, 0u);
}

TEST_F(FlashQueries, ImageStatusRecordsByChipSignature) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.SetImageStatus(0, 7, 1, 8);
    a.SetRegion(zvfix::kRegionAuxStatus1, zvfix::MakeImageStatusRecord(1, 2, zvfix::kSigImageStatus25));
    auto& b = host.AddChip27();
    b.SetImageStatus(1, 5, 0, 4);
    b.SetAuxImageStatus(1, 9, 0, 0, 8, 0);
    // A chip-type-25 record on a chip-type-27 adapter is no record.
    b.SetRegion(zvfix::kRegionImageStatus2, zvfix::MakeImageStatusRecord(1, 6, zvfix::kSigImageStatus25));
    const auto devs = Discover(host);
    ASSERT_EQ(devs.size(), 4u);

    SD_UINT32 mask = 0xEE;
    SD_UINT16 gen = 0xEEEE;
    EXPECT_EQ(GetAdapterFlashActiveRegionInfo(devs[0], 0x95, &mask, &gen), 0);   // inactive: outputs stand
    EXPECT_EQ(mask, 0xEEu);
    EXPECT_EQ(gen, 0xEEEE);
    EXPECT_EQ(GetAdapterFlashActiveRegionInfo(devs[0], 0x96, &mask, &gen), 0);
    EXPECT_EQ(mask, 1u);
    EXPECT_EQ(gen, 8);
    EXPECT_EQ(GetAdapterFlashActiveRegionInfo(devs[0], 0x97, &mask, &gen), FLASH_QUERY_NOT_STATUS_REGION);
    EXPECT_EQ(GetAdapterFlashActiveRegionInfo(devs[0], 0x125, &mask, &gen), -1);   // chip type 25 has none
    EXPECT_EQ(GetAdapterFlashActiveRegionInfo(nullptr, 0x95, &mask, &gen), FLASH_QUERY_NO_DEVICE);

    EXPECT_EQ(GetAdapterFlashActiveRegionInfo(devs[2], 0x95, &mask, &gen), 0);
    EXPECT_EQ(gen, 5);
    EXPECT_EQ(GetAdapterFlashActiveRegionInfo(devs[2], 0x96, &mask, &gen), FLASH_QUERY_INVALID_RECORD);
    // The auxiliary records carry their own signature.
    EXPECT_EQ(GetAdapterFlashActiveRegionInfo(devs[2], 0x125, nullptr, &gen), 0);
    EXPECT_EQ(gen, 9);
}

TEST_F(FlashQueries, FlashLayoutVersion) {
    zvfix::HostBuilder host;
    host.AddChip25TwoPort().SetRegion(0x1C, zvfix::MakeFlashLayoutTable(3, {{.code = 0x07}}));
    host.AddChip25TwoPort().RemoveRegion(0x1C);
    host.AddChip25TwoPort().SetRegion(0x1C, zvfix::MakeFlashLayoutTable(0, {{.code = 0x07}}));
    const auto devs = Discover(host);
    ASSERT_EQ(devs.size(), 6u);
    EXPECT_EQ(GetAdapterFlashLayoutVersion(devs[0]), 3);
    EXPECT_EQ(GetAdapterFlashLayoutVersion(devs[2]), 0);
    EXPECT_EQ(GetAdapterFlashLayoutVersion(devs[4]), 0);
    EXPECT_EQ(GetAdapterFlashLayoutVersion(nullptr), 0);
}

}  // namespace
