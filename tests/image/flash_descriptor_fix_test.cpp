// The flash descriptor repair of chip-type-24 adapters over a simulated host:
// exactly the erase code and checksum bytes change, and only on a Winbond
// part whose erase code is wrong.
#include "image/flash_descriptor_fix.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fixtures/adapters_properties_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/lists_host.h"
#include "frontend/output.h"
#include "support/e2e_support.h"

namespace {

using zvfix::Bytes;
using zvfix::ListsHost;

// A descriptor region start that reaches past the erase code.
Bytes Descriptor(std::array<uint8_t, 4> part, std::array<uint8_t, 2> eraseCode) {
    Bytes b(FDT_MIN_REGION_SIZE, 0x3C);
    std::copy(part.begin(), part.end(), b.begin() + FDT_OFF_PART_ID);
    std::copy(eraseCode.begin(), eraseCode.end(), b.begin() + FDT_OFF_ERASE_CODE);
    return b;
}

class FlashDescriptorFix : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /tmp and /var/log";
    }

    // Runs the repair on a one-adapter host; the region's bytes after it go to `after`.
    SD_INT32 Repair(const Bytes& region, uint16_t deviceId = 0x2031, std::vector<zvfix::FaultSpec> faults = {},
                    uint32_t regionSize = 0) {
        zvfix::HostBuilder h;
        zvfix::AdapterSpec& a = h.AddAdapter(deviceId);
        if (regionSize != 0) a.SetRegionSize(FDT_REGION, regionSize);
        if (a.Region(FDT_REGION) != nullptr) a.SetRegion(FDT_REGION, region);
        a.faults = std::move(faults);
        ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(a.subSystemId, a.subVendorId)}));
        zvtest::ClearLogs();
        ResetOutputChannels();
        EXPECT_EQ(SetOutOutFile(), 0);
        const SD_INT32 status = ModifyFlashDescriptorTableAdapter(ListsHost::Ports().at(0));
        output = zvtest::ReadFile(GetOutPutFile());
        writes = zvfix::ReadJournal(lists.Dir() + "/host").size();
        if (a.Region(FDT_REGION) != nullptr) {
            const Bytes whole = zvfix::ReadRegion(lists.Dir() + "/host", 0, FDT_REGION);
            after.assign(whole.begin(), whole.begin() + static_cast<long>(std::min(whole.size(), region.size())));
        }
        return status;
    }

    std::string output;
    size_t writes = 0;
    Bytes after;
};

constexpr std::array<uint8_t, 4> kWinbond{0xEF, 0x00, 0x18, 0x40};

TEST_F(FlashDescriptorFix, AWrongEraseCodeOnAWinbondPartIsRepairedByteForByte) {
    const Bytes region = Descriptor(kWinbond, {0x20, 0xD8});
    EXPECT_EQ(Repair(region), 0);
    Bytes expected = region;
    expected[FDT_OFF_ERASE_CODE] = 0xD8;
    expected[FDT_OFF_ERASE_CODE + 1] = 0x20;
    expected[FDT_OFF_CHECKSUM] = 0x95;
    expected[FDT_OFF_CHECKSUM + 1] = 0xF6;
    EXPECT_EQ(after, expected);
    EXPECT_EQ(output, "HBA 0 (KV2031):  Updating FDT erase code and patching checksum...\nSuccess.\n");

    EXPECT_EQ(Repair(region, 0x2031, {zvfix::FaultSpec::NotActivated()}), 201);
    EXPECT_EQ(after, expected);
    EXPECT_TRUE(output.ends_with("Success (Reboot required).\n")) << output;

    EXPECT_EQ(Repair(region, 0x2031, {zvfix::FaultSpec::Fail("flash_write", 5)}), FDT_WRITE_FAILED);
    EXPECT_EQ(after, region);
    EXPECT_TRUE(output.ends_with("HBA 0 (KV2031): Unable to update flash descriptor table!\n")) << output;
}

TEST_F(FlashDescriptorFix, NothingIsWrittenWhereThereIsNothingToRepairOrNoRoomForTheTable) {
    EXPECT_EQ(Repair(Descriptor(kWinbond, {0xD8, 0x20})), FDT_ERASE_CODE_OK);
    EXPECT_EQ(output, "HBA 0 (KV2031): FDT Erase code OK\n");
    EXPECT_EQ(writes, 0u);

    EXPECT_EQ(Repair(Descriptor({0xC2, 0x20, 0x18, 0x40}, {0x20, 0xD8})), 0);   // another flash part
    EXPECT_EQ(writes, 0u);
    EXPECT_EQ(Repair(Descriptor(kWinbond, {0x20, 0xD8}), 0x2281), 0);          // another chip type
    EXPECT_EQ(writes, 0u);
    EXPECT_EQ(output, "");

    EXPECT_EQ(Repair(Bytes(0x1000, 0x3C), 0x2031, {}, 0x1000), 36);
    EXPECT_EQ(writes, 0u);
    EXPECT_EQ(output, "HBA 0 (KV2031): Unable to get flash descriptor table!\n");

    EXPECT_EQ(ModifyFlashDescriptorTableAdapter(nullptr), 8);
    EXPECT_FALSE(IsWinBondFlashPart(Bytes(FDT_OFF_PART_ID + 3, 0)));
    EXPECT_FALSE(IsCorrectEraseCode(Bytes(FDT_OFF_ERASE_CODE + 1, 0xD8)));
}

}  // namespace
