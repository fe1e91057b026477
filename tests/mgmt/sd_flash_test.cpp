// Region and offset reads and writes: the refusal rules of both region
// writers, the bytes that land on flash, activation and version refresh,
// the layout's sizing protocol and malformed layout answers.
#include <gtest/gtest.h>

#include "lib_fixture.h"

namespace zvtest {
namespace {

struct RefusalRow {
    const char* name;
    SD_UINT16 deviceId;
    SD_UINT32 physical;
    bool ex2;
    SD_UINT32 region;
    size_t size;          // 0: the region's exact size
    SD_UINT32 expected;
};

void PrintTo(const RefusalRow& row, std::ostream* os) { *os << row.name; }

class RegionWriteRefusal : public LibTest, public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(RegionWriteRefusal, AnswersAndLeavesFlashAlone) {
    const RefusalRow& row = GetParam();
    FakeAdapter& a = state->AddAdapter(row.deviceId, "SNREF");
    state->Ports[0].IsPhysicalFc = row.physical;
    size_t size = row.size;
    if (size == 0) {
        for (const auto& r : a.Layout) if ((r.Code & 0xFFFF) == row.region) size = r.Size;
    }
    if (size == 0) size = 16;
    auto before = a.Flash;
    int h = Open(0);
    auto data = Pattern(size, 3);
    SD_UINT32 st = row.ex2 ? SDUpdateOptionRomEx2(h, 1, data, row.region) : SDUpdateOptionRomEx(h, 1, data, row.region);
    EXPECT_EQ(st, row.expected);
    if (row.expected != 0) {
        EXPECT_EQ(state->Adapters[0].Flash, before);
        EXPECT_EQ(state->Count(ZVOP_FLASH_WRITE), 0);
    } else {
        EXPECT_EQ(state->Count(ZVOP_FLASH_WRITE), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RegionWriteRefusal,
    ::testing::Values(
        RefusalRow{"VirtualPortEx", 0x2261, 0, false, 0x01, 0, SDERR_NOT_SUPPORTED},
        RefusalRow{"VirtualPortEx2", 0x2261, 0, true, 0x01, 0, SDERR_NOT_SUPPORTED},
        RefusalRow{"Device0101Ex", 0x0101, 1, false, 0x01, 0, SDERR_NOT_SUPPORTED},
        RefusalRow{"Device8021Ex", 0x8021, 1, false, 0x01, 0, SDERR_NOT_SUPPORTED},
        RefusalRow{"Device8044Ex", 0x8044, 1, false, 0x01, 0, SDERR_NOT_SUPPORTED},
        RefusalRow{"Device8044Ex2Allowed", 0x8044, 1, true, 0x01, 0, 0},
        RefusalRow{"RegionZeroEx", 0x2261, 1, false, 0x00, 16, SDERR_OPTROM_INVALID_REGION},
        RefusalRow{"RegionZeroEx2", 0x2261, 1, true, 0x00, 16, SDERR_OPTROM_INVALID_REGION},
        RefusalRow{"AllOnesEx2", 0x2261, 1, true, 0xFFFFFFFF, 16, SDERR_OPTROM_INVALID_REGION},
        RefusalRow{"AllOnesEx", 0x2261, 1, false, 0xFFFFFFFF, 16, SDERR_INVALID_PARAMETER},
        RefusalRow{"Region09NotForEx", 0x2261, 1, false, 0x09, 0, SDERR_INVALID_PARAMETER},
        RefusalRow{"Region9ENotForEx", 0x2261, 1, false, 0x9E, 0, SDERR_INVALID_PARAMETER},
        RefusalRow{"Region09Ex2", 0x2261, 1, true, 0x09, 0, 0},
        RefusalRow{"Region13Ex", 0x2261, 1, false, 0x13, 0, 0},
        RefusalRow{"RegionA4Ex", 0x2261, 1, false, 0xA4, 0, 0},
        RefusalRow{"Region07Ex", 0x2261, 1, false, 0x07, 0, 0},
        RefusalRow{"RegionFFFFExChip25", 0x2261, 1, false, 0xFFFF, 0, SDERR_INVALID_PARAMETER},
        RefusalRow{"RegionFFFFExChip27", 0x2281, 1, false, 0xFFFF, 0, 0},
        RefusalRow{"MissingFromLayoutEx", 0x2261, 1, false, 0x2A, 16, SDERR_INVALID_PARAMETER},
        RefusalRow{"MissingFromLayoutEx2", 0x2261, 1, true, 0x66, 16, SDERR_INVALID_PARAMETER},
        RefusalRow{"TooBigEx", 0x2261, 1, false, 0x07, 0x801, SDERR_OPTROM_TOO_BIG},
        RefusalRow{"TooBigEx2", 0x2261, 1, true, 0x09, 0x801, SDERR_OPTROM_TOO_BIG},
        RefusalRow{"ShortNvramChip27", 0x2281, 1, true, 0x15, 0x100, SDERR_INVALID_REQUEST},
        RefusalRow{"ShortVpdChip27", 0x2281, 1, true, 0x14, 0x1FF, SDERR_INVALID_REQUEST},
        RefusalRow{"ShortNvramSecondaryChip27", 0x2281, 1, true, 0x10D, 0x10, SDERR_INVALID_REQUEST},
        RefusalRow{"ExactNvramChip27", 0x2281, 1, true, 0x15, 0x200, 0},
        RefusalRow{"ShortNvramChip25", 0x2261, 1, true, 0x15, 0x100, 0},
        RefusalRow{"FlaggedCodeWordByLowBits", 0x2261, 1, true, 0xC7, 0, 0}),
    [](const ::testing::TestParamInfo<RefusalRow>& info) { return std::string(info.param.name); });

using RegionWrite = LibTest;

TEST_F(RegionWrite, UnknownHandleAndLayoutFailure) {
    int h = OpenNew();
    auto data = Pattern(16, 1);
    EXPECT_EQ(SDUpdateOptionRomEx(h + 100, 1, data, 0x01), SDERR_INVALID_HANDLE);
    EXPECT_EQ(SDUpdateOptionRomEx2(h + 100, 1, data, 0x01), SDERR_INVALID_HANDLE);
    // The layout refresh comes first and its failure is the answer.
    state->Script[ZVOP_FLASH_LAYOUT] = {SDERR_BUSY, SDERR_BUSY};
    EXPECT_EQ(SDUpdateOptionRomEx(h, 1, data, 0x00), SDERR_BUSY);
    EXPECT_EQ(SDUpdateOptionRomEx2(h, 1, data, 0x01), SDERR_BUSY);
    EXPECT_EQ(state->Count(ZVOP_FLASH_WRITE), 0);
}

TEST_F(RegionWrite, BytesLandAtTheRegionOnlyAndReadBack) {
    int h = OpenNew();
    auto data = Pattern(0x300, 9);   // shorter than the region: the rest stays
    auto expected = state->Adapters[0].Flash;
    std::copy(data.begin(), data.end(), expected.begin() + 0x2800);
    ASSERT_EQ(SDUpdateOptionRomEx2(h, 1, data, 0x09), 0u);
    EXPECT_EQ(state->Adapters[0].Flash, expected);
    std::vector<SD_UINT8> back(0x300);
    ASSERT_EQ(SDGetOptionRomEx(h, 0, back, 0x09), 0u);
    EXPECT_EQ(back, data);
}

TEST_F(RegionWrite, ReadNeverRunsIntoTheNextRegion) {
    int h = OpenNew();
    std::vector<SD_UINT8> big(0x1000, 0xAA);   // region 0x07 holds 0x800
    SD_UINT32 read = 99;
    ASSERT_EQ(SDGetOptionRomEx(h, 0, big, 0x07, &read), 0u);
    EXPECT_EQ(state->Calls.back().OutSize, 0x800u);
    // The count says where the region's bytes end; the rest was not read.
    EXPECT_EQ(read, 0x800u);
    EXPECT_EQ(big[0x7FF], 0xFF);
    EXPECT_EQ(big[0x800], 0xAA);
    std::vector<SD_UINT8> part(0x100);
    ASSERT_EQ(SDGetOptionRomEx(h, 0, part, 0x07, &read), 0u);
    EXPECT_EQ(read, 0x100u);
    EXPECT_EQ(SDGetOptionRomEx(h, 0, big, 0x2A, &read), SDERR_INVALID_PARAMETER);
    EXPECT_EQ(read, 0u);
    state->Script[ZVOP_FLASH_READ] = {SDERR_BUSY};
    read = 99;
    EXPECT_EQ(SDGetOptionRomEx(h, 0, big, 0x07, &read), SDERR_BUSY);
    EXPECT_EQ(read, 0u);
}

TEST_F(RegionWrite, WriteFailureStatusPassesThrough) {
    int h = OpenNew();
    auto data = Pattern(16, 1);
    state->Script[ZVOP_FLASH_WRITE] = {SDERR_LOCKDOWN, SDERR_BUSY, SDERR_OPTROM_INVALID_FW};
    EXPECT_EQ(SDUpdateOptionRomEx2(h, 1, data, 0x09), SDERR_LOCKDOWN);
    EXPECT_EQ(SDUpdateOptionRomEx2(h, 1, data, 0x09), SDERR_BUSY);
    EXPECT_EQ(SDUpdateOptionRomEx(h, 1, data, 0x07), SDERR_OPTROM_INVALID_FW);
}

TEST_F(RegionWrite, ResetDisabledRefreshesVersionsAfterTheListedRegions) {
    int h = OpenNew();
    auto write = [&](bool ex2, SD_UINT32 region) {
        int before = state->Count(ZVOP_REFRESH_VERSIONS);
        auto data = Pattern(16, 2);
        SD_UINT32 st = ex2 ? SDUpdateOptionRomEx2(h, 1, data, region) : SDUpdateOptionRomEx(h, 1, data, region);
        EXPECT_EQ(st, 0u);
        EXPECT_EQ(state->Count(ZVOP_REGION_ACTIVATE), 0);
        return state->Count(ZVOP_REFRESH_VERSIONS) - before;
    };
    const std::tuple<bool, SD_UINT32, int> rows[] = {
        {false, 0x01, 1}, {false, 0x07, 1}, {false, 0x02, 0}, {false, 0xA4, 0}, {true, 0x01, 1},
        {true, 0x02, 1},  {true, 0x09, 1},  {true, 0x74, 1},  {true, 0xA4, 1},  {true, 0x13, 0}};
    for (const auto& [ex2, region, refreshes] : rows) EXPECT_EQ(write(ex2, region), refreshes) << ex2 << std::hex << region;
    // Whatever the refresh answers, the write stands.
    state->Script[ZVOP_REFRESH_VERSIONS] = {SDERR_UNKNOWN};
    EXPECT_EQ(write(true, 0x07), 1);
}

TEST_F(RegionWrite, ActivationAfterWriteWithResetAllowed) {
    state->AddAdapter(0x2061, "SNA");   // not an on-line-update adapter
    state->AddAdapter(0x8001, "SNB");
    state->AddAdapter(0x2261, "SNC");   // on-line-update adapter
    int h25 = Open(0), h8001 = Open(1), hOnline = Open(2);
    auto data = Pattern(16, 4);

    // Ex activates only on device 0x8001.
    EXPECT_EQ(SDUpdateOptionRomEx(h25, 0, data, 0x01), 0u);
    EXPECT_EQ(state->Count(ZVOP_REGION_ACTIVATE), 0);
    EXPECT_EQ(SDUpdateOptionRomEx(h8001, 0, data, 0x01), 0u);
    EXPECT_EQ(state->Count(ZVOP_REGION_ACTIVATE), 1);
    // Ex2 activates flagged regions, not others.
    EXPECT_EQ(SDUpdateOptionRomEx2(h25, 0, data, 0x02), 0u);
    EXPECT_EQ(state->Count(ZVOP_REGION_ACTIVATE), 1);
    EXPECT_EQ(SDUpdateOptionRomEx2(h25, 0, data, 0x01), 0u);
    EXPECT_EQ(state->Count(ZVOP_REGION_ACTIVATE), 2);
    SD_UINT32 code = 0;
    std::memcpy(&code, state->Calls.back().In.data(), 4);
    EXPECT_EQ(code, 0x01u);
    // A failed activation: written, not activated.
    state->Script[ZVOP_REGION_ACTIVATE] = {SDERR_UNKNOWN};
    EXPECT_EQ(SDUpdateOptionRomEx2(h25, 0, data, 0x13), SDERR_FLASHED_NOT_ACTIVATED);
    EXPECT_EQ(state->FlashBytes(0, 0x3000, 16), data);
    // "Flashed, not activated" from the driver is passed on, with no activation after it.
    int activations = state->Count(ZVOP_REGION_ACTIVATE);
    state->Script[ZVOP_FLASH_WRITE] = {SDERR_FLASHED_NOT_ACTIVATED};
    EXPECT_EQ(SDUpdateOptionRomEx2(h25, 0, data, 0x01), SDERR_FLASHED_NOT_ACTIVATED);
    EXPECT_EQ(state->Count(ZVOP_REGION_ACTIVATE), activations);

    // On an on-line-update adapter the mark suppresses activation.
    EXPECT_EQ(SDUpdateOptionRomEx2(hOnline, 0, data, 0x13), 0u);
    activations = state->Count(ZVOP_REGION_ACTIVATE);
    SD_UINT64 caps = 0;
    ASSERT_EQ(SDGetFlashUpdateCapabilities(hOnline, 0, &caps), 0u);
    EXPECT_EQ(SDUpdateOptionRomEx2(hOnline, 0, data, 0x13), 0u);
    EXPECT_EQ(state->Count(ZVOP_REGION_ACTIVATE), activations);
    SD_INT32 token = 0;
    ASSERT_EQ(SDStartFlashUpdate(hOnline, 0, &token), 0u);
    ASSERT_EQ(SDEndFlashUpdate(hOnline, 0, token), 0u);
}

using OffsetIo = LibTest;

TEST_F(OffsetIo, BoundedByTheFlash) {
    int h = OpenNew();
    auto data = Pattern(32, 5);
    // The layout's highest region ends at 0x4600.
    ASSERT_EQ(SDUpdateOptionRomOffset(h, 0, data, 0x45E0), 0u);
    EXPECT_EQ(state->FlashBytes(0, 0x45E0, 32), data);
    std::vector<SD_UINT8> back(32);
    ASSERT_EQ(SDGetOptionRomOffset(h, 0, back, 0x45E0), 0u);
    EXPECT_EQ(back, data);
    EXPECT_EQ(SDUpdateOptionRomOffset(h, 0, data, 0x45E1), SDERR_INVALID_PARAMETER);
    EXPECT_EQ(SDGetOptionRomOffset(h, 0, back, 0xFFFFFFF0), SDERR_INVALID_PARAMETER);
    // A whole image is only for older adapters.
    EXPECT_EQ(SDUpdateOptionRom(h, 0, std::vector<SD_UINT8>(0x20000, 0x11)), SDERR_NOT_SUPPORTED);
    EXPECT_EQ(state->Count(ZVOP_FLASH_WRITE), 1);
}

using Layout = LibTest;

TEST_F(Layout, SizingProtocol) {
    int h = OpenNew();
    // One-entry record: the count comes back with "Buffer too small".
    std::vector<SD_UINT8> one(SDM_OPT_ROM_LAYOUT_BYTES(1), 0);
    reinterpret_cast<SDM_OPT_ROM_LAYOUT*>(one.data())->NoOfRegions = 1;
    ASSERT_EQ(SDGetOptionRomLayout(h, 0, one), SDERR_BUFFER_TOO_SMALL);
    SD_UINT32 count = reinterpret_cast<SDM_OPT_ROM_LAYOUT*>(one.data())->NoOfRegions;
    ASSERT_EQ(count, state->Adapters[0].Layout.size());

    // A count larger than the span holds is still too small.
    std::vector<SD_UINT8> lying(SDM_OPT_ROM_LAYOUT_BYTES(2), 0);
    reinterpret_cast<SDM_OPT_ROM_LAYOUT*>(lying.data())->NoOfRegions = 1000;
    EXPECT_EQ(SDGetOptionRomLayout(h, 0, lying), SDERR_BUFFER_TOO_SMALL);

    std::vector<SD_UINT8> full(SDM_OPT_ROM_LAYOUT_BYTES(count), 0);
    auto* rec = reinterpret_cast<SDM_OPT_ROM_LAYOUT*>(full.data());
    rec->NoOfRegions = count;
    ASSERT_EQ(SDGetOptionRomLayout(h, 0, full), 0u);
    // The last region is the low 16 bits of a flagged code word.
    EXPECT_EQ(std::tuple(rec->Size, rec->RegionList[0].Region, rec->RegionList[0].Size, rec->RegionList[count - 1].Region),
              std::tuple(0x4600u, 0x01u, 0x1000u, 0xC7u));
    // A null record only refreshes.
    EXPECT_EQ(SDGetOptionRomLayout(h, 0, {}), 0u);
    EXPECT_EQ(SDGetOptionRomLayout(h + 7, 0, {}), SDERR_INVALID_HANDLE);
}

TEST_F(Layout, MalformedAnswersAreRefused) {
    int h = OpenNew();
    std::vector<SD_UINT8> buf(16);
    // A region that runs past 4 GiB.
    state->RawLayoutAnswer = {{0x01, 0xFFFFF000, 0x2000, 0}};
    EXPECT_EQ(SDGetOptionRomLayout(h, 0, {}), SDERR_UNKNOWN);
    EXPECT_EQ(SDGetOptionRomEx(h, 0, buf, 0x01), SDERR_UNKNOWN);
    // A length that is not a whole number of entries.
    state->RawLayoutAnswer = {{0x01, 0, 0x100, 0}, {0x02, 0x100, 0x100, 0}};
    state->RawLayoutBytes = 20;
    EXPECT_EQ(SDGetOptionRomLayout(h, 0, {}), SDERR_UNKNOWN);
    // No regions at all.
    state->RawLayoutBytes = 0;
    state->Adapters[0].Layout.clear();
    state->RawLayoutAnswer.clear();
    EXPECT_EQ(SDGetOptionRomLayout(h, 0, {}), SDERR_UNKNOWN);
    // Any answer longer than the span it was given.
    state->LieAboutLength = true;
    std::vector<SD_UINT8> nv(512);
    EXPECT_EQ(SDGetNVRam(h, 0, 1, nv), SDERR_UNKNOWN);
}

// Each port keeps its own copy of the layout: a change the driver reports
// is taken at the next request of every port, also one that keeps the
// number of regions.
TEST_F(Layout, ChangedLayoutIsTakenAtEachPortsNextRequest) {
    FakeAdapter& a = state->AddAdapter(0x2261, "SN1", 2);
    std::fill(a.Flash.begin() + 0x2000, a.Flash.begin() + 0x2800, SD_UINT8{0x11});
    std::fill(a.Flash.begin() + 0x2800, a.Flash.begin() + 0x3000, SD_UINT8{0x22});
    const int p0 = Open(0), p1 = Open(1);
    std::vector<SD_UINT8> buf(16);
    ASSERT_EQ(SDGetOptionRomEx(p0, 0, buf, 0x07), 0u);
    EXPECT_EQ(buf, std::vector<SD_UINT8>(16, 0x11));
    ASSERT_EQ(SDGetOptionRomEx(p1, 0, buf, 0x09), 0u);
    EXPECT_EQ(buf, std::vector<SD_UINT8>(16, 0x22));

    // Boot code and its backup trade places; the region count stays.
    std::swap(state->Adapters[0].Layout[2].Offset, state->Adapters[0].Layout[3].Offset);
    for (const int h : {p0, p1}) {
        ASSERT_EQ(SDGetOptionRomEx(h, 0, buf, 0x07), 0u);
        EXPECT_EQ(buf, std::vector<SD_UINT8>(16, 0x22)) << "handle " << h;
        ASSERT_EQ(SDGetOptionRomEx(h, 0, buf, 0x09), 0u);
        EXPECT_EQ(buf, std::vector<SD_UINT8>(16, 0x11)) << "handle " << h;
    }
    // A region that shrinks: the record and the bounds follow.
    state->Adapters[0].Layout[4].Size = 0x100;
    std::vector<SD_UINT8> rec(SDM_OPT_ROM_LAYOUT_BYTES(14), 0);
    reinterpret_cast<SDM_OPT_ROM_LAYOUT*>(rec.data())->NoOfRegions = 14;
    ASSERT_EQ(SDGetOptionRomLayout(p1, 0, rec), 0u);
    EXPECT_EQ(reinterpret_cast<SDM_OPT_ROM_LAYOUT*>(rec.data())->RegionList[4].Size, 0x100u);
    EXPECT_EQ(SDUpdateOptionRomEx2(p0, 1, std::vector<SD_UINT8>(0x200, 0), 0x13), SDERR_OPTROM_TOO_BIG);
}

TEST_F(Layout, LargeLayoutIsFetchedWhole) {
    FakeAdapter& a = state->AddAdapter(0x2261, "SN1");
    a.Layout.clear();
    for (SD_UINT32 i = 0; i < 300; ++i) a.Layout.push_back({0x200 + i, i * 0x10, 0x10, 0});
    a.Flash.assign(300 * 0x10, 0);
    int h = Open(0);
    std::vector<SD_UINT8> full(SDM_OPT_ROM_LAYOUT_BYTES(300), 0);
    reinterpret_cast<SDM_OPT_ROM_LAYOUT*>(full.data())->NoOfRegions = 300;
    ASSERT_EQ(SDGetOptionRomLayout(h, 0, full), 0u);
    EXPECT_EQ(reinterpret_cast<SDM_OPT_ROM_LAYOUT*>(full.data())->RegionList[299].Region, 0x200u + 299);
}

}  // namespace
}  // namespace zvtest
