// Firmware image files: both segment sums, lengths that run past the buffer
// or wrap, the family name check, the multiboot block and the attributes.
#include "image/firmware_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "fixtures/firmware_image_builder.h"

namespace {

using zvfix::Bytes;

TEST(FirmwareChecksum, BothSegmentsSummed) {
    const Bytes good = zvfix::MakeFirmwareImage({});
    EXPECT_EQ(computeFirmwareChecksum(good), FW_IMAGE_VALID);

    EXPECT_EQ(computeFirmwareChecksum(zvfix::MakeFirmwareImage({.goodSum1 = false})), FW_IMAGE_BAD_CHECKSUM);
    EXPECT_EQ(computeFirmwareChecksum(zvfix::MakeFirmwareImage({.goodSum2 = false})), FW_IMAGE_BAD_CHECKSUM);

    Bytes noFirst = good;
    zvfix::SetFirmwareWord(noFirst, 3, 0);
    EXPECT_EQ(computeFirmwareChecksum(noFirst), FW_IMAGE_BAD_CHECKSUM);
    Bytes noSecond = good;
    zvfix::SetFirmwareWord(noSecond, 64 + 3, 0);
    EXPECT_EQ(computeFirmwareChecksum(noSecond), FW_IMAGE_BAD_CHECKSUM);
}

TEST(FirmwareChecksum, LengthsPastTheBufferOrWrappingAreRefused) {
    const Bytes good = zvfix::MakeFirmwareImage({});   // 64 + 16 words
    const auto with = [&](size_t word, uint32_t value) {
        Bytes b = good;
        zvfix::SetFirmwareWord(b, word, value);
        return computeFirmwareChecksum(b);
    };
    EXPECT_EQ(with(3, 81), FW_IMAGE_TOO_SHORT);           // first segment longer than the file
    EXPECT_EQ(with(3, 77), FW_IMAGE_TOO_SHORT);           // its end fits, the second length word not
    EXPECT_EQ(with(3, 0x40000000), FW_IMAGE_TOO_SHORT);   // 4 * L wraps in 32 bits
    EXPECT_EQ(with(3, 0xFFFFFFFF), FW_IMAGE_TOO_SHORT);
    EXPECT_EQ(with(64 + 3, 17), FW_IMAGE_TOO_SHORT);      // second segment past the end
    EXPECT_EQ(with(64 + 3, 0xFFFFFFF0), FW_IMAGE_TOO_SHORT);   // L + L2 wraps in 32 bits
    EXPECT_EQ(computeFirmwareChecksum(std::span<const SD_UINT8>(good).first(15)), FW_IMAGE_TOO_SHORT);
    EXPECT_EQ(computeFirmwareChecksum({}), FW_IMAGE_TOO_SHORT);
}

TEST(FirmwareFile, FamilyNameAndRegionDecide) {
    const Bytes fw = zvfix::MakeFirmwareImage({});   // "ISP25xx" ... "Firmware"
    EXPECT_EQ(isCorrectFirmwareImage(fw, "ISP2532"), FW_IMAGE_VALID);
    EXPECT_EQ(isCorrectFirmwareImage(fw, "ISP2261"), FW_IMAGE_WRONG_IMAGE);
    EXPECT_EQ(isCorrectFirmwareImage({}, "ISP2532"), FW_IMAGE_WRONG_IMAGE);
    EXPECT_EQ(isCorrectFirmwareImage(fw, "ISP"), FW_IMAGE_WRONG_IMAGE);
    Bytes shifted = fw;
    std::memmove(shifted.data() + 76 + 9, "Firmware", 8);
    shifted[76 + 8] = ' ';
    EXPECT_EQ(isCorrectFirmwareImage(shifted, "ISP2532"), FW_IMAGE_WRONG_IMAGE);

    EXPECT_EQ(validateFirmware(fw, "ISP2532", 1), FW_IMAGE_VALID);
    EXPECT_EQ(validateFirmware(fw, "ISP2532", 7), FW_IMAGE_WRONG_IMAGE);
    EXPECT_EQ(validateFirmware(zvfix::MakeFirmwareImage({.family = "ISP22xx"}), "ISP2261", 1),
              FW_IMAGE_WRONG_IMAGE);   // no such check
    EXPECT_EQ(validateFirmware(zvfix::MakeFirmwareImage({.goodSum2 = false}), "ISP2532", 1), FW_IMAGE_BAD_CHECKSUM);
}

TEST(FirmwareRegion, MultibootBlockAndAttributes) {
    const Bytes mb = zvfix::MakeFirmwareMultibootRegion(6, 2, 11);
    EXPECT_EQ(isCorrectFirmwareMBImage(mb), 1);
    MultibootVersions v{};
    getMBImageVersionInFirmware(mb, &v);
    EXPECT_EQ(
        std::tie(v.ExistingMultibootVersionMajor, v.ExistingMultibootVersionMinor, v.ExistingMultibootVersionSubMinor),
        std::tuple(6, 2, 11));

    const Bytes fw = zvfix::MakeFirmwareImage({});
    EXPECT_EQ(isCorrectFirmwareMBImage(fw), 0);
    EXPECT_EQ(isCorrectFirmwareMBImage({}), FW_IMAGE_WRONG_IMAGE);
    getMBImageVersionInFirmware(fw, &v);
    EXPECT_EQ(v.ExistingMultibootVersionMajor + v.ExistingMultibootVersionMinor + v.ExistingMultibootVersionSubMinor, 0);

    SD_UINT64 attrs = 7;
    EXPECT_EQ(GetFirmwareAttribute(fw, 0x2261, &attrs), 0);
    EXPECT_EQ(attrs, 7u);   // firmware of another chip: left as it was
    EXPECT_EQ(GetFirmwareAttribute(fw, 0x2532, &attrs), 0);
    EXPECT_EQ(attrs, 0x00000C0D0000A0B0ull);
    EXPECT_EQ(GetFirmwareAttribute(std::span<const SD_UINT8>(fw).first(119), 0x2532, &attrs), FW_ATTRIBUTE_NO_BUFFER);
    EXPECT_EQ(GetFirmwareAttribute({}, 0x2532, &attrs), FW_ATTRIBUTE_NO_BUFFER);
}

TEST(FirmwareRegion, ZantoImages) {
    Bytes fw = zvfix::MakeFirmwareImage({});
    EXPECT_EQ(validateZantoFirmware(fw, ZANTO_CHIP_NAME, 1), FW_IMAGE_WRONG_IMAGE);
    std::memcpy(fw.data() + 82, "Zanto", 5);   // over the family text's "Firmware"
    std::memcpy(fw.data() + 100, "Firmware", 8);
    EXPECT_EQ(validateZantoFirmware(fw, ZANTO_CHIP_NAME, 1), 0);
    EXPECT_EQ(validateZantoFirmware(fw, ZANTO_CHIP_NAME, 2), FW_IMAGE_WRONG_IMAGE);
    EXPECT_EQ(validateZantoFirmware(fw, "ISP2532", 1), FW_IMAGE_WRONG_IMAGE);

    Bytes v(12, 0);
    v[8] = 0x03;
    v[9] = 0x1A;
    v[10] = 0x02;
    char text[16];
    EXPECT_EQ(GetZantoFirmwareVersionFromImage(v, text), 0);
    EXPECT_STREQ(text, "2.1a.3");
    EXPECT_EQ(GetZantoFirmwareVersionFromImage(std::span<const SD_UINT8>(v).first(11), text), FW_IMAGE_WRONG_IMAGE);
}

}  // namespace
