// Damaged memo-block regions: the signature and checksum checks never read
// past a short buffer, and a rewrite always leaves a block the adapter accepts
// without touching the rest of a region that already held one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "fixtures/memo_block_builder.h"
#include "image/flash_memo_block.h"
#include "support/mutate.h"

namespace {

using zvfix::Bytes;

TEST(FlashMemoBlockMutation, DamagedRegionsAreRewrittenIntoValidBlocks) {
    const Bytes valid = zvfix::MakeMemoRegion(zvfix::MemoBlockSpec{}, 0x100);
    SDMDevice device{};
    MultibootVersions versions{};
    versions.NewMultibootVersionMajor = 6;
    versions.ImageBuildYear = 65535;   // wider than the four digits it gets
    versions.ImageBuildMonth = 255;
    zvtest::Mutator m(6006);
    for (int i = 0; i < 1000; ++i) {
        const Bytes region = m.Bytes(valid);
        const int sig = isCorrectFlashMemoBlockSignature(region);
        ASSERT_EQ(sig, region.size() >= 4 && std::memcmp(region.data(), "FMBS", 4) == 0 ? 1 : 0);
        const int ck = VerifyChecksum32Bit(region, static_cast<SD_UINT32>(m.Below(80)));
        ASSERT_TRUE(ck == 0 || ck == 25 || ck == 29 || ck == 40) << ck;
        SFlashMemoBlock block{};
        ASSERT_EQ(FlashMemoBlockDecode(region, &block), region.size() >= FLASH_MEMO_BLOCK_SIZE);

        Bytes out = region;
        const int rc = UpdateFlashMemoBlockData(&device, out, m.Chance(50) ? &versions : nullptr);
        if (region.size() < FLASH_MEMO_BLOCK_SIZE) {
            ASSERT_EQ(rc, FLASH_MEMO_NULL_RECORD);
            ASSERT_EQ(out, region);
            continue;
        }
        ASSERT_EQ(rc, 0);
        ASSERT_EQ(isCorrectFlashMemoBlockSignature(out), 1);
        ASSERT_EQ(VerifyChecksum32Bit(out, FLASH_MEMO_BLOCK_WORDS), 0);
        ASSERT_EQ(std::memcmp(out.data() + 32, "TRMB", 4), 0);
        const bool had = sig == 1;
        ASSERT_TRUE(std::equal(out.begin() + FLASH_MEMO_BLOCK_SIZE, out.end(),
                               had ? region.begin() + FLASH_MEMO_BLOCK_SIZE : Bytes(out.size(), 0xFF).begin()));
    }
}

TEST(FlashMemoBlockMutation, EveryTruncationIsReadSafely) {
    const Bytes block = zvfix::MakeMemoBlock(zvfix::MemoBlockSpec{});
    for (size_t n = 0; n <= block.size(); ++n) {
        const Bytes cut(block.begin(), block.begin() + static_cast<long>(n));
        EXPECT_EQ(isCorrectFlashMemoBlockSignature(cut), n >= 4 ? 1 : 0);
        EXPECT_EQ(VerifyChecksum32Bit(cut, FLASH_MEMO_BLOCK_WORDS), n == 0 ? 40 : n < 48 ? 29 : 0) << n;
        SFlashMemoBlock b{};
        EXPECT_EQ(FlashMemoBlockDecode(cut, &b), n == block.size());
    }
    EXPECT_EQ(VerifyChecksum32Bit(block, 0x40000001), 29);   // a length far past the buffer
}

}  // namespace
