// Region write orders: what an engine ends up writing for each image set,
// and that no order overruns or half-fills the caller's array.
#include "image/region_sequences.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using Seq = std::vector<SD_UINT32>;

Seq Used(const Seq& s) { return Seq(s.begin(), std::find(s.begin(), s.end(), 0u)); }

TEST(RegionSequences, ImageStatusOfTheSetBeingWrittenComesFirst) {
    Seq s(2, 0xAA);
    InitImageStatusFlashUpdateSequence(s, 0, 1);
    EXPECT_EQ(s, (Seq{0x95, 0x96}));
    InitImageStatusFlashUpdateSequence(s, 0, 2);
    EXPECT_EQ(s, (Seq{0x96, 0x95}));
}

TEST(RegionSequences, VpdRegionsAreSharedByBothSetsAndTheRestKept) {
    for (SD_UINT32 set : {1u, 2u}) {
        Seq s(6, 0x77);
        InitDorneVpdUpdateSequence(s, 0, set);
        EXPECT_EQ(s, (Seq{0x14, 0x16, 0xD4, 0xD6, 0x77, 0x77}));
        // The set mapping leaves them where they are.
        for (size_t i = 0; i < 4; ++i) EXPECT_EQ(GetActualRegionToUpdate(s[i], nullptr, 2), s[i]);
    }
    Seq s(4, 0x77);
    InitDorneVpdUpdateSequence(s, 0, 3);
    EXPECT_EQ(s, Seq(4, 0x77));
}

TEST(RegionSequences, DorneOfflineOrderMappedToTheSecondSet) {
    Seq s(REGION_SEQ_DORNE_SIZE, 0xAA);
    InitDorneFlashUpdateSequence(s, 0);
    const Seq order = Used(s);
    ASSERT_EQ(order.size(), 11u);
    EXPECT_EQ(std::count(s.begin() + 11, s.end(), 0u), 3);
    EXPECT_EQ(order[1], 0x07u);   // boot code early

    Seq mapped;
    for (SD_UINT32 code : order) {
        SD_UINT32 out = 0;
        EXPECT_EQ(GetActualRegionToUpdate(code, &out, 1), code);
        mapped.push_back(GetActualRegionToUpdate(code, &out, 2));
        EXPECT_EQ(out, mapped.back());
    }
    EXPECT_EQ(mapped, (Seq{0x9F, 0x09, 0xE5, 0xD3, 0xD1, 0x67, 0x02, 0x14, 0x16, 0xD4, 0xD6}));
    EXPECT_EQ(GetDorneFlashImageILTRegion(0xD1, 2), 0xF1u);
    EXPECT_EQ(GetDorneFlashImageILTRegion(0xD3, 1), 0xD3u);
}

TEST(RegionSequences, OnlineOrdersEndWithTheStatusRegions) {
    Seq s(REGION_SEQ_DORNE_SIZE, 0xAA);
    InitDorneSecuredOnlineFlashUpdateSequence(s, 0, 2);
    ASSERT_EQ(Used(s).size(), 13u);
    EXPECT_EQ(s[0], 0x9Fu);

    Seq v(REGION_SEQ_VREL_SIZE, 0xAA);
    InitOnlineFlashUpdateSequenceForVrelAdapter(v, 0, 1);
    ASSERT_EQ(Used(v).size(), 16u);
    EXPECT_EQ((Seq{v[13], v[14], v[15]}), (Seq{0xDF, 0x95, 0x125}));
    InitOnlineFlashUpdateSequenceForVrelAdapter(v, 0, 2);
    EXPECT_EQ((Seq{v[13], v[14], v[15]}), (Seq{0x124, 0x96, 0x126}));
}

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
