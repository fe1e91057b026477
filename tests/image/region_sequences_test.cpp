// Region write orders of the image sets, entry by entry, and that they never
// overrun or half-fill the caller's array.
#include "image/region_sequences.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using Seq = std::vector<SD_UINT32>;

TEST(RegionSequences, OrdersOfEachSet) {
    struct Case {
        const char* name;
        void (*fill)(std::span<SD_UINT32>);
        std::size_t capacity;
        Seq want;   // the rest of the array: 0
    };
    const Case cases[] = {
        {"Dorne off-line", [](std::span<SD_UINT32> s) { InitDorneFlashUpdateSequence(s, 0x54); }, REGION_SEQ_DORNE_SIZE,
         {0x9E, 0x07, 0xE1, 0xD3, 0xD1, 0x66, 0x01, 0x14, 0x16, 0xD4, 0xD6}},
        {"Dorne secured on-line, set 1", [](std::span<SD_UINT32> s) { InitDorneSecuredOnlineFlashUpdateSequence(s, 0, 1); },
         REGION_SEQ_DORNE_SIZE, {0x9E, 0x07, 0xE1, 0xD3, 0xD1, 0x67, 0x01, 0x95, 0x96, 0x14, 0x16, 0xD4, 0xD6}},
        {"Dorne secured on-line, set 2", [](std::span<SD_UINT32> s) { InitDorneSecuredOnlineFlashUpdateSequence(s, 0, 2); },
         REGION_SEQ_DORNE_SIZE, {0x9F, 0x09, 0xE1, 0xD3, 0xD1, 0x68, 0x02, 0x95, 0x96, 0x50, 0x52, 0xD8, 0xDA}},
        {"Vrel on-line, set 1", [](std::span<SD_UINT32> s) { InitOnlineFlashUpdateSequenceForVrelAdapter(s, 0, 1); },
         REGION_SEQ_VREL_SIZE,
         {0x9E, 0x07, 0x11, 0xD2, 0xD1, 0xCF, 0x13, 0x101, 0xD3, 0x102, 0x103, 0xBA, 0x01, 0xDF, 0x95, 0x125}},
        {"Vrel on-line, set 2", [](std::span<SD_UINT32> s) { InitOnlineFlashUpdateSequenceForVrelAdapter(s, 0, 2); },
         REGION_SEQ_VREL_SIZE,
         {0x9F, 0x09, 0x0A, 0x105, 0xF1, 0x106, 0x107, 0x108, 0xF0, 0x109, 0x10A, 0x10B, 0x02, 0x124, 0x96, 0x126}},
        {"image status, set 1", [](std::span<SD_UINT32> s) { InitImageStatusFlashUpdateSequence(s, 0, 1); },
         REGION_SEQ_IMAGE_STATUS_SIZE, {0x95, 0x96}},
        {"image status, set 2", [](std::span<SD_UINT32> s) { InitImageStatusFlashUpdateSequence(s, 0, 2); },
         REGION_SEQ_IMAGE_STATUS_SIZE, {0x96, 0x95}},
        {"VPD, set 2 as set 1", [](std::span<SD_UINT32> s) { InitDorneVpdUpdateSequence(s, 0, 2); }, REGION_SEQ_VPD_SIZE,
         {0x14, 0x16, 0xD4, 0xD6}},
    };
    for (const Case& c : cases) {
        Seq s(c.capacity, 0xAA);
        c.fill(s);
        Seq want = c.want;
        want.resize(c.capacity, 0);
        EXPECT_EQ(s, want) << c.name;
    }
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
