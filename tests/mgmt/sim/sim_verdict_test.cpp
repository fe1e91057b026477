// The boot verdict: the set each adapter boots, checked against expected
// region hashes, names every region that differs.
#include <gtest/gtest.h>

#include <fstream>

#include "fixtures/host_builder.h"
#include "fixtures/sim_client.h"

namespace {

using zvfix::Bytes;

void Damage(const std::string& dir, uint32_t offset) {
    std::fstream f(dir + "/adapter0.flash", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(offset);
    f.put('\x5A');
}

TEST(SimVerdict, NamesTheDamagedRegionsOfTheSetThatBoots) {
    zvfix::HostBuilder h;
    auto& a = h.AddChip27();
    a.SetRegion(zvfix::kRegionFirmware1, Bytes(0x400, 0x01));
    a.SetRegion(zvfix::kRegionBoot1, Bytes(0x400, 0x07));
    a.SetRegion(zvfix::kRegionBoardConfig1, Bytes(0x100, 0xBA));
    const std::string dir = zvfix::WriteSimHost(h);
    zvfix::BootManifest m;
    m.ExpectAsNow(dir, 0, 1, {zvfix::kRegionFirmware1, zvfix::kRegionBoot1});
    m.Expect(0, 1, zvfix::kRegionBoardConfig1, Bytes(0x100, 0xBA));

    auto v = zvfix::CheckBoot(dir, m);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].set, 1);
    EXPECT_TRUE(v[0].Intact());

    // One byte past what the board-config expectation covers does not count;
    // one byte inside the boot code and the firmware does.
    const uint32_t fw = a.Region(zvfix::kRegionFirmware1)->offset;
    const uint32_t boot = a.Region(zvfix::kRegionBoot1)->offset;
    Damage(dir, a.Region(zvfix::kRegionBoardConfig1)->offset + 0x100);
    Damage(dir, boot + 0x3FF);
    Damage(dir, fw + 0x10);
    v = zvfix::CheckBoot(dir, m);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_FALSE(v[0].Intact());
    EXPECT_EQ(v[0].differing, (std::vector<uint32_t>{zvfix::kRegionFirmware1, zvfix::kRegionBoot1}));

    // Once set 2 is what boots, the manifest has nothing to say for it.
    {
        auto t = zvfix::OpenSimHost(dir);
        ASSERT_EQ(zvfix::SimWriteRegion(*t, 0, 0x96, zvfix::MakeImageStatusRecord(1, 2, zvfix::kSigImageStatus27)), 0u);
    }
    v = zvfix::CheckBoot(dir, m);
    EXPECT_EQ(v[0].set, 2);
    EXPECT_FALSE(v[0].expected);
}

TEST(SimVerdict, ManifestThatDoesNotFitIsRefused) {
    zvfix::HostBuilder h;
    h.AddChip25TwoPort();
    const std::string dir = zvfix::WriteSimHost(h);
    zvfix::BootManifest m;
    m.ExpectWhole(1, 1, 0x01, 0);   // no adapter 1
    EXPECT_THROW(zvfix::CheckBoot(dir, m), std::runtime_error);

    zvfix::BootManifest missing;
    missing.ExpectWhole(0, 1, 0x124, 0);   // a region chip type 25 lacks differs
    const auto v = zvfix::CheckBoot(dir, missing);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].differing, std::vector<uint32_t>{0x124});
}

}  // namespace
