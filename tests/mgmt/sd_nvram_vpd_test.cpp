// NVRAM images and variables, VPD copies and the active-regions retries.
#include <gtest/gtest.h>

#include <cstdlib>

#include "lib_fixture.h"
#include "support/sleep_log.h"

namespace zvtest {
namespace {

using Nvram = LibTest;

TEST_F(Nvram, VariablesAtTheirOffsetsOnBothImageSizes) {
    state->AddAdapter(0x2261, "SN512");   // 512-byte NVRAM
    state->AddAdapter(0x2061, "SN256");   // 256-byte NVRAM
    state->AddAdapter(0x2281, "SN27");
    int h512 = Open(0), h256 = Open(1), h27 = Open(2);

    std::vector<SD_UINT8> image(512, 0);
    image[0x1F8] = 0x77; image[0x1F9] = 0x1A;   // vendor 0x1A77
    image[0x1FA] = 0x89; image[0x1FB] = 0x02;   // device 0x0289
    image[250] = 0x34; image[251] = 0x12;
    image[252] = 0x78; image[253] = 0x56;
    EXPECT_EQ(SDGetVariableValue(h512, image, 127), 0x1A77u);
    EXPECT_EQ(SDGetVariableValue(h512, image, 128), 0x0289u);
    EXPECT_EQ(SDGetVariableValue(h27, image, 128), 0x0289u);
    EXPECT_EQ(SDGetVariableValue(h256, image, 127), 0x1234u);
    EXPECT_EQ(SDGetVariableValue(h256, image, 128), 0x5678u);
    EXPECT_EQ(SDGetVariableValue(h512, image, 142), 0u);
    EXPECT_EQ(SDGetVariableValue(h512, image, 0xFFFFFFFF), 0u);
    EXPECT_EQ(SDGetVariableValue(h512 + 50, image, 127), SDERR_INVALID_HANDLE);
    // An image too short for the variable gives 0, never a read past it.
    std::vector<SD_UINT8> shortImage(0x1F9, 0xEE);
    EXPECT_EQ(SDGetVariableValue(h512, shortImage, 127), 0u);

    std::vector<SD_UINT8> img256(256, 0);
    ASSERT_EQ(SDSetVariableValue(h256, img256, 128, 0xABCD), 0u);
    EXPECT_EQ(std::tuple(img256[252], img256[253]), std::tuple(0xCD, 0xAB));
    EXPECT_EQ(SDSetVariableValue(h512, img256, 128, 1), SDERR_INVALID_PARAMETER);   // 0x1FA is past it
    EXPECT_EQ(SDSetVariableValue(h512, image, 142, 1), SDERR_INVALID_PARAMETER);
}

TEST_F(Nvram, ReadSizeFollowsTheAdapterAndTheCallersSpan) {
    FakeAdapter& a = state->AddAdapter(0x2371, "SN256");
    for (size_t i = 0; i < a.Nvram.size(); ++i) a.Nvram[i] = static_cast<SD_UINT8>(i ^ 0x5A);
    state->AddAdapter(0x2289, "SN27");
    int h256 = Open(0), h27 = Open(1);

    std::vector<SD_UINT8> buf(512, 0xEE);
    ASSERT_EQ(SDGetNVRam(h256, 0, 2, buf), 0u);
    EXPECT_EQ(state->Calls.back().OutSize, 256u);
    EXPECT_EQ(buf[255], static_cast<SD_UINT8>(255 ^ 0x5A));
    EXPECT_EQ(buf[256], 0xEE);
    ASSERT_EQ(SDGetNVRam(h27, 0, 1, buf), 0u);
    EXPECT_EQ(state->Calls.back().OutSize, 512u);

    std::vector<SD_UINT8> small(100, 0xEE);
    ASSERT_EQ(SDGetNVRam(h256, 0, 1, small), 0u);
    EXPECT_EQ(small[99], static_cast<SD_UINT8>(99 ^ 0x5A));

    state->Script[ZVOP_NVRAM_READ] = {SDERR_BUSY};
    EXPECT_EQ(SDGetNVRam(h256, 0, 1, buf), SDERR_BUSY);
    EXPECT_EQ(SDGetNVRam(h256 + 9, 0, 1, buf), SDERR_INVALID_HANDLE);
}

TEST_F(Nvram, UpdateWritesAndReloadsUnlessResetIsDisabled) {
    int h = OpenNew();
    auto image = Pattern(512, 1);
    ASSERT_EQ(SDUpdateNVRam(h, 1, 3, image), 0u);
    EXPECT_EQ(state->Adapters[0].Nvram, image);
    EXPECT_EQ(state->Count(ZVOP_NVRAM_RELOAD), 0);
    ASSERT_EQ(SDUpdateNVRam(h, 0, 3, image), 0u);
    EXPECT_EQ(state->Count(ZVOP_NVRAM_RELOAD), 1);
    state->Script[ZVOP_NVRAM_RELOAD] = {SDERR_UNKNOWN};
    EXPECT_EQ(SDUpdateNVRam(h, 0, 3, image), SDERR_FLASHED_NOT_ACTIVATED);
    std::vector<SD_UINT8> tooBig(513, 0);
    EXPECT_EQ(SDUpdateNVRam(h, 1, 3, tooBig), SDERR_INVALID_PARAMETER);
}

using Vpd = LibTest;

TEST_F(Vpd, CopyIsBoundedByTheCallersSize) {
    state->AddAdapter(0x2261, "SN1");
    state->AddAdapter(0x8031, "SN2");
    int h = Open(0), hBig = Open(1);
    std::vector<SD_UINT8> buf(1024, 0xEE);
    SD_UINT32 copied = 0;
    ASSERT_EQ(SDGetVpd(h, 0, std::span(buf).first(100), &copied), 0u);
    EXPECT_EQ(std::tuple(copied, buf[99], buf[100]), std::tuple(100u, 99, 0xEE));
    ASSERT_EQ(SDGetVpd(h, 0, buf, &copied), 0u);
    EXPECT_EQ(std::tuple(copied, buf[512]), std::tuple(512u, 0xEE));
    ASSERT_EQ(SDGetVpd(hBig, 0, buf, &copied), 0u);
    EXPECT_EQ(copied, 1024u);
    state->Script[ZVOP_VPD_READ] = {SDERR_UNKNOWN};
    EXPECT_EQ(SDGetVpd(h, 0, buf, &copied), SDERR_UNKNOWN);
    EXPECT_EQ(copied, 0u);
}

// Counts the sleeps the library asks for (the test preload logs them).
class ActiveRegions : public LibTest {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the test isolation's sleep seam";
        LibTest::SetUp();
        sleeps_.Start(zvfix::MakeTempDir("zvsleep") + "/sleeps.log");
    }
    zvtest::SleepLog sleeps_;
};

TEST_F(ActiveRegions, FiveTriesTenSecondsApartThenTheDriverStatus) {
    int h = OpenNew();
    state->Script[ZVOP_ACTIVE_REGIONS] = {SDERR_BUSY, SDERR_BUSY, SDERR_BUSY, SDERR_BUSY, SDERR_BUSY, SDERR_BUSY};
    SD_ACTIVE_REGIONS r{};
    r.ActiveGlobalRegions = 9;
    EXPECT_EQ(SDGetActiveRegions(h, 0, &r), SDERR_BUSY);
    EXPECT_EQ(state->Count(ZVOP_ACTIVE_REGIONS), 5);
    EXPECT_EQ(sleeps_.Lengths(), std::vector<long>(4, 10000));
    EXPECT_EQ(r.ActiveGlobalRegions, 0);
}

TEST_F(ActiveRegions, AnswersWithoutRetries) {
    FakeAdapter& a = state->AddAdapter(0x2281, "SN1");
    a.Active = {2, 1, 2, 1, 2, {}};
    state->AddAdapter(0x2061, "SN2");   // not an on-line-update adapter
    int h = Open(0), hOld = Open(1);
    SD_ACTIVE_REGIONS r{};
    ASSERT_EQ(SDGetActiveRegions(h, 0, &r), 0u);
    EXPECT_EQ(std::tuple(r.ActiveGlobalRegions, r.ActiveBoardConfig, r.ActiveVpdNvram), std::tuple(2, 1, 2));
    EXPECT_EQ(SDGetActiveRegions(hOld, 0, &r), SDERR_NOT_SUPPORTED);
    EXPECT_EQ(SDGetActiveRegions(h, 0, nullptr), SDERR_INVALID_PARAMETER);
    EXPECT_EQ(SDGetActiveRegions(h + 20, 0, &r), SDERR_INVALID_HANDLE);
    // The driver cannot say: no retry.
    state->Script[ZVOP_ACTIVE_REGIONS] = {SDERR_NOT_SUPPORTED};
    EXPECT_EQ(SDGetActiveRegions(h, 0, &r), SDERR_NOT_SUPPORTED);
    // Success at the third try after two waits.
    state->Script[ZVOP_ACTIVE_REGIONS] = {SDERR_UNKNOWN, SDERR_BUSY};
    EXPECT_EQ(SDGetActiveRegions(h, 0, &r), 0u);
    EXPECT_EQ(r.ActiveGlobalRegions, 2);
    EXPECT_EQ(sleeps_.Lengths().size(), 2u);
    // Failures without a driver status leave an all-zero record and 0.
    state->Script[ZVOP_ACTIVE_REGIONS] = {5, 5, 5, 5, 5};
    EXPECT_EQ(SDGetActiveRegions(h, 0, &r), 0u);
    EXPECT_EQ(r.ActiveGlobalRegions, 0);
    EXPECT_EQ(sleeps_.Lengths().size(), 6u);
}

}  // namespace
}  // namespace zvtest
