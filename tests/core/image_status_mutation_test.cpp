// Damaged image-status and auxiliary records: whatever the flash held, a
// switch that reports success leaves the requested set active and both
// records sealed; short records are read as zero, never past their end.
#include <gtest/gtest.h>

#include <vector>

#include "core/image_status.h"
#include "fixtures/host_builder.h"
#include "support/mutate.h"

namespace {

using zvfix::Bytes;

Bytes Record16(zvtest::Mutator& m, const Bytes& valid) {
    Bytes r = m.Chance(20) ? valid : m.Bytes(valid);
    r.resize(16, 0xFF);   // damage that shortens keeps the record size; erased tail
    return r;
}

TEST(ImageStatusMutation, SwitchAndFlipLeaveSealedRecords) {
    const Bytes p = zvfix::MakeImageStatusRecord(1, 7, zvfix::kSigImageStatus27);
    const Bytes s = zvfix::MakeImageStatusRecord(0, 6, zvfix::kSigImageStatus27);
    const Bytes a1 = zvfix::MakeImageStatusRecord(1, 3, zvfix::kSigAuxImageStatus, 0x05);
    const Bytes a2 = zvfix::MakeImageStatusRecord(0, 2, zvfix::kSigAuxImageStatus, 0x04);
    zvtest::Mutator m(5005);
    for (int i = 0; i < 1000; ++i) {
        Bytes first = Record16(m, p), second = Record16(m, s);
        const int set = 1 + static_cast<int>(m.Below(2));
        ASSERT_EQ(CoreBuildImageStatusSwitch(first, second, 27, set), 0);
        const Bytes& on = set == 1 ? first : second;
        const Bytes& off = set == 1 ? second : first;
        EXPECT_TRUE(CoreIsImageStatusRegionValid(on, IMAGE_STATUS_SIGNATURE_27));
        EXPECT_EQ(CoreGetImageStatusMask(on) & 1, 1);
        EXPECT_EQ(CoreGetImageStatusMask(off) & 1, 0);
        EXPECT_EQ(CoreValidateChecksum32(off, 16), 0);

        Bytes x = Record16(m, a1), y = Record16(m, a2);
        const bool xValid = CoreIsImageStatusRegionValid(x, AUX_IMAGE_STATUS_SIGNATURE);
        const bool yValid = CoreIsImageStatusRegionValid(y, AUX_IMAGE_STATUS_SIGNATURE);
        const Bytes x0 = x, y0 = y;
        int which = 0;
        ASSERT_EQ(CoreBuildAuxImageStatusFlip(x, y, 0x02, 0x4D, &which), 0);
        ASSERT_TRUE(which == 1 || which == 2);
        const Bytes& upd = which == 1 ? x : y;
        const Bytes& other0 = which == 1 ? y0 : x0;
        const bool otherValid = which == 1 ? yValid : xValid;
        EXPECT_TRUE(CoreIsImageStatusRegionValid(upd, AUX_IMAGE_STATUS_SIGNATURE));
        EXPECT_EQ(CoreGetImageStatusToolId(upd), 0x4D);
        // Only the requested component changes against the copy the adapter runs from.
        EXPECT_EQ(CoreGetImageStatusComponentsBitMap(upd), static_cast<SD_UINT8>((otherValid ? other0[5] : 0) ^ 0x02));
        EXPECT_EQ(CoreValidateChecksum32(which == 1 ? y : x, 16), 0);
    }
}

TEST(ImageStatusMutation, ShortRecordsAndChecksumBoundsStayInside) {
    const Bytes rec = zvfix::MakeImageStatusRecord(1, 0x1234, zvfix::kSigImageStatus25, 0x0F, 9);
    for (size_t n = 0; n < 16; ++n) {
        const Bytes cut(rec.begin(), rec.begin() + static_cast<long>(n));   // exact size on the heap
        EXPECT_EQ(CoreGetImageStatusSignature(cut) | CoreGetImageStatusGenerationNumber(cut) |
                      CoreGetImageStatusCheckSum(cut) | CoreGetImageStatusToolId(cut),
                  0u);
        EXPECT_FALSE(CoreIsImageStatusRegionValid(cut, IMAGE_STATUS_SIGNATURE_25));
        Bytes a = cut, b = rec;
        EXPECT_EQ(CoreBuildImageStatusSwitch(a, b, 25, 1), CORE_FLASH_FAILED);
        EXPECT_EQ(CoreBuildAuxImageStatusFlip(b, a, 1, 1, nullptr), CORE_FLASH_FAILED);
    }
    zvtest::Mutator m(5006);
    for (int i = 0; i < 500; ++i) {
        Bytes buf(m.Below(40));
        const Bytes before = buf;
        const SD_UINT32 size = static_cast<SD_UINT32>(m.Below(48)), offset = static_cast<SD_UINT32>(m.Below(48));
        const SD_UINT32 sum = CoreCalculateChecksum32(buf, size, offset);
        if (offset + 4 > std::min<size_t>(size, buf.size())) {
            EXPECT_EQ(sum, 0u);
            EXPECT_EQ(buf, before);
        } else {
            EXPECT_EQ(CoreValidateChecksum32(buf, std::min<SD_UINT32>(size, static_cast<SD_UINT32>(buf.size()))), 0);
        }
        EXPECT_EQ(CoreValidateChecksum32(buf, static_cast<SD_UINT32>(buf.size() + 1 + m.Below(8))), -1);
    }
}

}  // namespace
