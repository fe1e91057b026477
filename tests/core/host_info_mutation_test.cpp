// Damaged firmware-package headers and board configurations: a header size
// is only taken when the buffer holds it, and a preserved board configuration
// either validates over its own length or is refused.
#include <gtest/gtest.h>

#include <vector>

#include "core/host_info.h"
#include "core/image_status.h"
#include "fixtures/board_template_builder.h"
#include "support/mutate.h"

namespace {

using zvfix::Bytes;

Bytes PldmPackage() {
    Bytes b = {0xF0, 0x18, 0x87, 0x8C, 0xCB, 0x7D, 0x49, 0x43, 0x98, 0x00, 0xA0, 0x2F, 0x05, 0x9A, 0xCA, 0x02,
               0x01, 0x60, 0x00};                      // revision, header size 0x60
    b.resize(32, 0x31);                                // release date
    b.insert(b.end(), {0x08, 0x00, 0x01, 20});         // bitmap length, string type, string length
    const std::string version = "KV-MB-10.02.03-long";
    b.insert(b.end(), version.begin(), version.end());
    b.resize(0x80, 0xA5);
    return b;
}

TEST(HostInfoMutation, PldmHeaderSizeNeverPointsPastTheBuffer) {
    const Bytes valid = PldmPackage();
    ASSERT_EQ(CoreIsPLDMFwImage(valid), 1);
    zvtest::Mutator m(7007);
    for (int i = 0; i < 1500; ++i) {
        const Bytes pkg = i < static_cast<int>(valid.size()) ? Bytes(valid.begin(), valid.begin() + i) : m.Bytes(valid);
        const SD_UINT32 size = CoreGetPLDMFwImageHeaderSize(pkg);
        ASSERT_LE(size, pkg.size());
        const int is = CoreIsPLDMFwImage(pkg);
        ASSERT_TRUE(is == 0 || is == 1);
        if (size != 0) { ASSERT_EQ(is, 1); }
        if (i < static_cast<int>(valid.size())) { ASSERT_EQ(is, i >= 0x60 ? 1 : 0) << i; }
    }
}

TEST(HostInfoMutation, PreservedBoardConfigValidatesOrIsRefused) {
    zvfix::FcSettings s;
    s.sfpPollTime = 0x3C;
    s.bbcr = {1, 2, 3, 4};
    const Bytes adapter = zvfix::MakeFcBoardConfig({1, 0, 0, 0}, 0x1A77, 0x0289, s, 0x1400);
    const Bytes file = zvfix::MakeFcBoardConfig({1, 1, 0, 0}, 0x1077, 0x0000, {}, 0x1400);
    zvtest::Mutator m(7008);
    int preserved = 0;
    for (int i = 0; i < 800; ++i) {
        const bool damageFile = m.Chance(70);
        const Bytes from = damageFile ? adapter : m.Bytes(adapter);
        Bytes to = damageFile ? m.Bytes(file) : file;
        const int rc = CorePreserveFCBrdCfgBuffers(25, 0x1A77, 0x02B1, from, to);
        ASSERT_TRUE(rc == 0 || rc == -1) << rc;
        if (rc != 0) continue;
        ++preserved;
        const SD_UINT32 words = to[12] | to[13] << 8 | to[14] << 16 | static_cast<SD_UINT32>(to[15]) << 24;
        ASSERT_EQ(CoreValidateChecksum32(to, words * 4), 0);
        ASSERT_EQ(to[18] | to[19] << 8, 0x02B1);
        ASSERT_EQ(to[FC_BRDCFG_OFF_SFP_POLL_TIME], from[FC_BRDCFG_OFF_SFP_POLL_TIME]);
        ASSERT_EQ(to[FC_BRDCFG_OFF_BBCR[3]], from[FC_BRDCFG_OFF_BBCR[3]]);
    }
    EXPECT_GT(preserved, 100);
}

}  // namespace
