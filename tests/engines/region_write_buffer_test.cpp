// The kept region buffer: whatever earlier regions wrote into it, the next
// region's bytes past its component are erased, or the flash would get an
// earlier component's bytes in a region's tail.
#include "engines/region_write_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>

namespace {

struct Take {
    std::size_t regionSize, keep, changed;
};

TEST(RegionWriteBuffer, EveryTailIsErasedWhateverEarlierRegionsChanged) {
    // Sizes as the engines meet them: large and small regions in turn, boot
    // code patched past its component, a region larger than the buffer so far.
    const Take takes[] = {
        {4096, 1000, 1000}, {4096, 10, 10},      {1024, 1024, 1024}, {4096, 0, 0},
        {512, 100, 512},    {8192, 300, 8192},   {2048, 200, 200},   {8192, 8000, 8000},
        {100, 50, 50},      {8192, 60, 60},      {8192, 0, 0},       {16384, 16, 16},
    };
    RegionWriteBuffer buffer;
    SD_UINT8 stamp = 0x10;
    for (const Take& t : takes) {
        SCOPED_TRACE(testing::Message() << "region " << t.regionSize << " keep " << t.keep << " changed " << t.changed);
        const auto region = TakeRegionWriteBuffer(buffer, t.regionSize, t.keep, t.changed);
        ASSERT_EQ(region.size(), t.regionSize);
        const auto tail = region.subspan(t.keep);
        EXPECT_TRUE(std::all_of(tail.begin(), tail.end(), [](SD_UINT8 b) { return b == 0xFF; }));
        // The caller's component, then its patches up to where it said.
        std::fill_n(region.begin(), t.changed, ++stamp);
    }
}

TEST(RegionWriteBuffer, AKeepOrChangeBeyondTheRegionIsTakenAsTheRegion) {
    RegionWriteBuffer buffer;
    auto region = TakeRegionWriteBuffer(buffer, 64, 1000, 2000);
    ASSERT_EQ(region.size(), 64u);
    std::fill(region.begin(), region.end(), SD_UINT8{0});
    region = TakeRegionWriteBuffer(buffer, 128, 1, 1);
    EXPECT_TRUE(std::all_of(region.begin() + 1, region.end(), [](SD_UINT8 b) { return b == 0xFF; }));
}

}  // namespace
