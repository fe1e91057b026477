// Each adapter family gets its own flash layout from its chip type, and the
// platform refuses regions the family does not have.
#include <gtest/gtest.h>

#include <fstream>

#include "fixtures/host_builder.h"
#include "fixtures/sim_client.h"
#include "mgmt/sim/sim_layout.h"

namespace {

struct Family {
    const char* name;
    SD_UINT16 deviceId;
    SD_UINT16 chipType;
    std::vector<SD_UINT32> has;        // regions the family's engine writes
    std::vector<SD_UINT32> lacks;      // codes it must refuse
    std::vector<SD_UINT32> activate;   // regions flagged as needing activation
};

void PrintTo(const Family& f, std::ostream* os) { *os << f.name; }

class SimFamily : public ::testing::TestWithParam<Family> {};

TEST_P(SimFamily, LayoutFromTheChipTypeAndRegionsOutsideItRefused) {
    const Family& f = GetParam();
    const std::string dir = zvfix::MakeTempDir("simfamily");
    // host.json names only the device: chip type and layout are the platform's.
    std::ofstream(dir + "/host.json") << "{\"adapters\":[{\"device_id\":" << f.deviceId << "}]}";
    std::ofstream(dir + "/adapter0.flash").flush();
    auto t = zvfix::OpenSimHost(dir);

    CHIPPROPERTY chip{};
    ASSERT_EQ(zvfix::SimGet(*t, 0, ZVOP_CHIP_PROPERTY, chip), SDERR_SUCCESS);
    EXPECT_EQ(chip.ChipType, f.chipType);
    const auto layout = zvfix::SimLayout(*t, 0);
    for (SD_UINT32 code : f.has) {
        const zvapi_flash_region* r = zvfix::SimFind(layout, code);
        ASSERT_NE(r, nullptr) << std::hex << code;
        const bool flagged = (r->Flags & ZVAPI_REGION_NEEDS_ACTIVATION) != 0;
        EXPECT_EQ(flagged, std::count(f.activate.begin(), f.activate.end(), code) == 1) << std::hex << code;
        // Writable from its start to its end, not one byte further.
        EXPECT_EQ(zvfix::SimFlashWrite(*t, 0, code, r->Offset + r->Size - 1, std::vector<SD_UINT8>{0x5A}),
                  SDERR_SUCCESS)
            << std::hex << code;
        EXPECT_EQ(zvfix::SimFlashWrite(*t, 0, code, r->Offset + r->Size - 1, std::vector<SD_UINT8>{1, 2}),
                  SDERR_INVALID_PARAMETER);
    }
    for (SD_UINT32 code : f.lacks) {
        EXPECT_EQ(zvfix::SimFind(layout, code), nullptr) << std::hex << code;
        EXPECT_EQ(zvfix::SimFlashWrite(*t, 0, code, 0, std::vector<SD_UINT8>{1}), SDERR_INVALID_PARAMETER)
            << std::hex << code;
        std::vector<SD_UINT8> buf(1);
        EXPECT_EQ(zvfix::SimFlashRead(*t, 0, code, 0, buf), SDERR_INVALID_PARAMETER) << std::hex << code;
    }
    // Large regions start on an erase block.
    for (const zvapi_flash_region& r : layout)
        EXPECT_TRUE(r.Size < ZVSIM_ERASE_BLOCK || r.Offset % ZVSIM_ERASE_BLOCK == 0) << std::hex << r.Code;
}

INSTANTIATE_TEST_SUITE_P(
    Families, SimFamily,
    ::testing::Values(
        Family{"Dorne", 0x2261, 25,
               {0x01, 0x02, 0x07, 0x09, 0x9E, 0x9F, 0xE1, 0xE5, 0x66, 0x67, 0xD1, 0xD3, 0x95, 0x96, 0xDF, 0x14, 0x1C},
               {0xF0, 0xF1, 0x124, 0x125, 0x107, 0x10B, 0x0A, 0x11},
               {0x01}},
        Family{"Vrel", 0x2281, 27,
               {0x9E, 0x9F, 0x07, 0x09, 0x11, 0x0A, 0xD2, 0x105, 0xD1, 0xF1, 0xCF, 0x106, 0x13, 0x107, 0x101, 0x108,
                0xD3, 0xF0, 0x102, 0x109, 0x103, 0x10A, 0xBA, 0x10B, 0x01, 0x02, 0xDF, 0x124, 0x95, 0x96, 0x125, 0x126},
               {0x66, 0xE1},
               {0x01}},
        Family{"K7R", 0x8021, 17, {0x07, 0x4F, 0x2E, 0x70, 0x72, 0x73, 0x74, 0x97, 0x81, 0x14, 0x15}, {0x95, 0xDF}, {}},
        Family{"TorviCna", 0x8031, 21, {0x07, 0x2E, 0xA2, 0x4F, 0x70, 0x72, 0x73, 0xA4, 0x01, 0x97, 0x81, 0x14, 0x16},
               {0x89, 0x1A, 0x95}, {}},
        Family{"TorviFc", 0x2031, 24, {0x07, 0x01, 0x89, 0x1A, 0x14, 0x16}, {0xDF, 0x95}, {}},
        Family{"Pemra", 0x8044, 26, {0x2E, 0xA2, 0x4F, 0x70, 0x72, 0x73, 0xB1, 0xA3, 0x97, 0x81}, {0x07, 0x01}, {}},
        Family{"ConvergedGen1", 0x8001, 15, {0x07, 0x2E, 0x01, 0xA4, 0x13, 0x15}, {0x95, 0x97}, {0x01, 0xA4}},
        Family{"Older", 0x2432, 11, {0x07, 0x01, 0x15}, {0x95, 0x1C, 0x13}, {}}),
    [](const ::testing::TestParamInfo<Family>& i) { return std::string(i.param.name); });

TEST(SimFamily, DescriptorRegionHoldsTheRepairedBytesAndOldAdaptersTakeAWholeImageAtZero) {
    // The flash-descriptor repair writes bytes up to 0x3F0022 of region 0x1A.
    const auto torvi = zvsim_default_layout(24);
    const auto fdt = std::find_if(torvi.begin(), torvi.end(), [](const zvsim_region& r) { return r.code == 0x1A; });
    ASSERT_NE(fdt, torvi.end());
    EXPECT_GT(fdt->size, 0x3F0022u);
    // The whole 128 KiB option-ROM image of an older adapter lands in its boot-code region.
    const auto older = zvsim_default_layout(4);
    ASSERT_FALSE(older.empty());
    EXPECT_EQ(std::tuple(older.front().code, older.front().offset), std::tuple(0x07u, 0u));
    EXPECT_GE(older.front().size, 0x20000u);
}

TEST(SimFamily, ChipRevisionIsWhatTheChipPropertyReports) {
    zvfix::HostBuilder h;
    h.AddK7R(0x54);
    h.AddTorvi(0x2031);
    auto t = zvfix::OpenSimHost(h);
    CHIPPROPERTY chip{};
    ASSERT_EQ(zvfix::SimGet(*t, 0, ZVOP_CHIP_PROPERTY, chip), SDERR_SUCCESS);
    EXPECT_EQ(std::tuple(chip.ChipType, chip.DeviceID), std::tuple(0x54, 0x8021));
    ASSERT_EQ(zvfix::SimGet(*t, 2, ZVOP_CHIP_PROPERTY, chip), SDERR_SUCCESS);
    EXPECT_EQ(chip.ChipType, 24);
    // The builders lay out the same regions the platform answers.
    EXPECT_NE(zvfix::SimFind(zvfix::SimLayout(*t, 2), 0x1A), nullptr);
    // Chips without image-status records cannot say which set runs.
    SD_UINT32 st = 0;
    zvfix::SimActive(*t, 0, &st);
    EXPECT_EQ(st, SDERR_NOT_SUPPORTED);
}

}  // namespace
