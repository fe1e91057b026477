// Damaged VPD images: walks stop at the buffer's end, a read never overfills
// the caller's buffer, and an update either refuses untouched or leaves a
// checksum that holds.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fixtures/host_builder.h"
#include "frontend/vpd.h"
#include "support/mutate.h"

namespace {

using zvfix::Bytes;

TEST(VpdMutation, DamagedImagesReadAndUpdateWithinBounds) {
    const Bytes valid = zvfix::MakeVpd(zvfix::VpdSpec{}, "KVX1234567", 512);
    ASSERT_EQ(verifyVpdChecksum(valid), VPD_SUCCESS);
    zvtest::Mutator m(4004);
    int updated = 0, read = 0;
    const char* keywords[] = {"SN", "PN", "V9", "RV", "MN", "ZZ"};
    for (int i = 0; i < 1500; ++i) {
        const Bytes vpd = i % 8 == 0 ? Bytes(valid.begin(), valid.begin() + static_cast<long>(m.Below(valid.size())))
                                     : m.Bytes(valid);
        const char* keyword = keywords[m.Below(6)];
        // Exactly-sized heap result so any overrun is seen.
        std::vector<char> result(1 + m.Below(24), '\x7F');
        const int rc = VpdGetKeywordValue(vpd, keyword, result);
        ASSERT_TRUE(rc == VPD_SUCCESS || rc == VPD_NO_START_TAG || rc == VPD_NO_END_TAG || rc == VPD_NOT_FOUND) << rc;
        // Text keywords are always stored terminated ("RV" and unknown ones may leave it as it was).
        if (rc == VPD_SUCCESS && std::strchr("SPVM", keyword[0]) != nullptr) {
            ASSERT_LT(strnlen(result.data(), result.size()), result.size()) << keyword;
        }
        const int sn = getSerialNoFromVPD(vpd, result);
        ASSERT_TRUE(sn == VPD_SUCCESS || sn == VPD_NOT_FOUND || sn == VPD_INVALID || sn == VPD_CORRUPTED) << sn;
        const int ck = verifyVpdChecksum(vpd);
        ASSERT_TRUE(ck == VPD_SUCCESS || ck == VPD_BAD_CHECKSUM);
        IsBlankVpd(vpd);

        Bytes after = vpd;
        const int up = UpdateVpdField(after, keyword, "NEW-VALUE-0123456789");
        ASSERT_TRUE(up == VPD_SUCCESS || up == VPD_INVALID || up == VPD_NOT_FOUND || up == VPD_BAD_CHECKSUM) << up;
        if (up == VPD_INVALID || up == VPD_NOT_FOUND) { ASSERT_EQ(after, vpd); }
        if (up == VPD_SUCCESS) { ASSERT_EQ(verifyVpdChecksum(after), VPD_SUCCESS); }
        updated += up == VPD_SUCCESS;
        read += rc == VPD_SUCCESS;
        ASSERT_EQ(after.size(), vpd.size());
    }
    EXPECT_GT(updated, 100);
    EXPECT_GT(read, 100);
}

TEST(VpdMutation, LengthsPastTheEndAreRefused) {
    Bytes vpd = zvfix::MakeVpd(zvfix::VpdSpec{}, "KVX1234567", 512);
    // The identifier string claims more bytes than the image holds.
    vpd[1] = 0xFF;
    vpd[2] = 0x7F;
    std::vector<char> out(8);
    EXPECT_EQ(VpdGetKeywordValue(vpd, "SN", out), VPD_NOT_FOUND);
    Bytes copy = vpd;
    EXPECT_EQ(UpdateVpdField(copy, "SN", "X"), VPD_INVALID);
    EXPECT_EQ(copy, vpd);
    EXPECT_EQ(verifyVpdChecksum(vpd), VPD_BAD_CHECKSUM);
    // A long serial number into a short buffer is cut, terminated.
    const Bytes longSn = zvfix::MakeVpd(zvfix::VpdSpec{}, std::string(40, 'S'), 512);
    std::vector<char> small(5, '\x7F');
    ASSERT_EQ(getSerialNoFromVPD(longSn, small), VPD_SUCCESS);
    EXPECT_STREQ(small.data(), "SSSS");
}

}  // namespace
