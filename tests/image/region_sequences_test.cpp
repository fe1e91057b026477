// Region write orders never overrun or half-fill the caller's array. (What
// each order makes an engine write is checked by the engines' runs.)
#include "image/region_sequences.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using Seq = std::vector<SD_UINT32>;

TEST(RegionSequences, NoOrderForAnUnknownSetOrASmallArray) {
    Seq s(REGION_SEQ_VREL_SIZE, 0xAA);
    InitOnlineFlashUpdateSequenceForVrelAdapter(s, 0, 0);
    EXPECT_EQ(s, Seq(REGION_SEQ_VREL_SIZE, 0));
    s.assign(REGION_SEQ_DORNE_SIZE, 0xAA);
    InitDorneSecuredOnlineFlashUpdateSequence(s, 0, 3);
    EXPECT_EQ(s, Seq(REGION_SEQ_DORNE_SIZE, 0));

    // A cut-short order would let an engine skip the status regions: none at all instead.
    Seq guarded(12, 0xAA);
    InitOnlineFlashUpdateSequenceForVrelAdapter(std::span<SD_UINT32>(guarded).subspan(1, 10), 0, 1);
    EXPECT_EQ(guarded, (Seq{0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA}));
    Seq vpd(3, 0x77);
    InitDorneVpdUpdateSequence(vpd, 0, 1);
    EXPECT_EQ(vpd, Seq(3, 0x77));
}

}  // namespace
