// Keeping an adapter's own NVRAM settings in a new image: the fixed byte
// ranges, and the variables taken from the device's initial and current
// copies through the library's variable table (full 16-bit values).
#include "core/nvram_preservation.h"

#include <gtest/gtest.h>

#include <vector>

#include "mgmt/sdapi.h"
#include "support/discovered_host.h"

namespace {

using Image = std::vector<SD_UINT8>;

Image Pattern(size_t size) {
    Image b(size);
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<SD_UINT8>(0x80 | (i * 7));
    return b;
}

// Bytes that differ from `before`, as inclusive ranges.
std::vector<std::pair<size_t, size_t>> Changed(const Image& before, const Image& after) {
    std::vector<std::pair<size_t, size_t>> r;
    for (size_t i = 0; i < before.size(); ++i) {
        if (before[i] == after[i]) continue;
        if (!r.empty() && r.back().second + 1 == i)
            r.back().second = i;
        else
            r.push_back({i, i});
    }
    return r;
}

TEST(NvramPreservation, ByteRangesCopyExactlyTheirBytes) {
    const Image existing = Pattern(512);
    Image fresh(512, 0);
    ASSERT_EQ(PreserveFirmwareNVRAMData(1, fresh, existing), 0);
    EXPECT_EQ(Changed(Image(512, 0), fresh), (std::vector<std::pair<size_t, size_t>>{{0x80, 0xFF}, {0x1E8, 0x1F6}}));

    fresh.assign(512, 0);
    ASSERT_EQ(PreserveMACAddressNVRAMData(fresh, existing), 0);
    EXPECT_EQ(Changed(Image(512, 0), fresh), (std::vector<std::pair<size_t, size_t>>{{0x40, 0x45}, {0x160, 0x165}}));

    // Alternate names whole; two flag bytes merged bit by bit.
    Image mine(512, 0);
    mine[0x101] = 0x1F;        // low five bits kept
    mine[0x103] = 0xFD;        // bits 2-7 kept, bit 1 from the existing image, bit 0 cleared
    Image theirs(512, 0);
    theirs[0x101] = 0xE0;
    theirs[0x103] = 0x00;
    for (size_t i = 0x180; i <= 0x18F; ++i) theirs[i] = static_cast<SD_UINT8>(i);
    ASSERT_EQ(PreserveAltWWNNVRAMData(mine, theirs), 0);
    EXPECT_EQ(mine[0x101], 0xFF);
    EXPECT_EQ(mine[0x103], 0xFC);
    EXPECT_EQ(Image(mine.begin() + 0x180, mine.begin() + 0x190), Image(theirs.begin() + 0x180, theirs.begin() + 0x190));
    theirs[0x103] = 0x03;
    ASSERT_EQ(PreserveAltWWNNVRAMData(mine, theirs), 0);
    EXPECT_EQ(mine[0x103], 0xFE);

    // Option-ROM images: the two unused quarters.
    const Image rom = Pattern(OPTION_ROM_IMAGE_SIZE);
    Image newRom(OPTION_ROM_IMAGE_SIZE, 0);
    ASSERT_EQ(PreserveOptionROMUnusedData(newRom, rom), 0);
    EXPECT_EQ(Changed(Image(OPTION_ROM_IMAGE_SIZE, 0), newRom),
              (std::vector<std::pair<size_t, size_t>>{{0x40000, 0x7FFFF}, {0xC0000, 0xFFFFF}}));
}

TEST(NvramPreservation, ShortImagesAreLeftAlone) {
    Image small(256, 0);
    const Image existing = Pattern(512);
    EXPECT_EQ(PreserveFirmwareNVRAMData(2, small, existing), -1);
    EXPECT_EQ(PreserveAltWWNNVRAMData(small, existing), -1);
    EXPECT_EQ(PreserveMACAddressNVRAMData(small, existing), -1);
    Image full(512, 0);
    EXPECT_EQ(PreserveMACAddressNVRAMData(full, Image(511, 1)), -1);
    EXPECT_EQ(full, Image(512, 0));
    EXPECT_EQ(small, Image(256, 0));
    EXPECT_EQ(PreserveOptionROMUnusedData(full, Image(OPTION_ROM_IMAGE_SIZE, 1)), -1);
    EXPECT_EQ(PreserveNvramData(nullptr, full, 0), -1);
}

class NvramVariables : public zvtest::DiscoveredHostTest {};

TEST_F(NvramVariables, VariablesKeepTheirFullWidth) {
    zvfix::HostBuilder host;
    host.AddChip25TwoPort(0x2261);   // a 32 Gb adapter: also variables 130 and 131
    const auto devices = Discover(host);
    ASSERT_FALSE(devices.empty());
    SDMDevice* d = devices[0];
    const int h = d->DeviceHandle;
    auto set = [&](SD_UINT8* image, SD_UINT32 n, SD_UINT32 v) {
        ASSERT_EQ(SDSetVariableValue(h, std::span<SD_UINT8>(image, 512), n, v), SDERR_SUCCESS) << n;
    };
    auto get = [&](const Image& image, SD_UINT32 n) { return SDGetVariableValue(h, image, n); };
    for (SD_UINT32 n = 17; n <= 131; ++n) {
        if (n == 127 || n == 128) continue;
        set(d->DeviceInitialNVRAM, n, 0x1000 + n);
        set(d->DeviceCurrentNVRAM, n, 0x2000 + n);
    }

    Image fresh(512, 0);
    ASSERT_EQ(PreserveNvramData(d, fresh, 0), 0);
    EXPECT_EQ(get(fresh, 24), 0x1018u);    // names from the initial copy, whole 16-bit values
    EXPECT_EQ(get(fresh, 17), 0x1011u);
    EXPECT_EQ(get(fresh, 35), 0x1023u);    // variable 17 set: 35-42 taken too
    EXPECT_EQ(get(fresh, 58), 0x203Au);    // settings from the current copy
    EXPECT_EQ(get(fresh, 124), 0x207Cu);
    EXPECT_EQ(get(fresh, 131), 0x2083u);
    EXPECT_EQ(get(fresh, 64), 0x2040u);
    EXPECT_EQ(get(fresh, 43), 0u);         // not on any list
    EXPECT_EQ(get(fresh, 97), 0u);

    // With defaults asked for, the current copy's settings stay out; without
    // variable 17 neither do 35-42 come in.
    set(d->DeviceInitialNVRAM, 17, 0);
    fresh.assign(512, 0);
    ASSERT_EQ(PreserveNvramData(d, fresh, 1), 0);
    EXPECT_EQ(get(fresh, 31), 0x101Fu);
    EXPECT_EQ(get(fresh, 35), 0u);
    EXPECT_EQ(get(fresh, 58), 0u);
    EXPECT_EQ(get(fresh, 131), 0u);
}

}  // namespace
