// BIOS checksum positions, the BIOS patch and validation, and the EFI and
// FCode device-id rules.
#include "image/boot_code_images.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "core/chip_types.h"
#include "fixtures/rom_chain_builder.h"

namespace {

using zvfix::Bytes;
using zvfix::RomImageSpec;

std::string Text(const Bytes& b, size_t at, size_t n) { return std::string(reinterpret_cast<const char*>(b.data()) + at, n); }

TEST(BiosChecksum, SumsUpToSizeMinusThreeAndStoresAtSizeMinusOne) {
    RomImageSpec s = RomImageSpec::Bios();
    s.blocks = 0x40;   // 32 KiB
    Bytes b = zvfix::MakeRomImage(s);
    b.resize(b.size() + 512, 0xEE);   // the next image must not be touched
    b[0x1234] ^= 0x5A;
    EXPECT_EQ(ComputeChecksum(false, b, 0), 0);
    EXPECT_EQ(ComputeChecksum(true, b, 0), 1);
    EXPECT_TRUE(zvfix::BiosChecksumOk(b, 0));
    b[0x7FFE] ^= 0xFF;   // outside the sum
    EXPECT_EQ(ComputeChecksum(false, b, 0), 1);
    EXPECT_EQ(b[0x8000], 0xEE);
    EXPECT_TRUE(isBIOSImage(b, 0x20000, 0));
    EXPECT_FALSE(isBIOSImage(b, 0x1FFFF, 0));
}

TEST(BiosChecksum, InvalidSizeByteOrShortBufferWritesNothing) {
    Bytes good = zvfix::MakeRomImage(RomImageSpec::Bios());
    good.resize(BIOS_FILE_SIZE, 0x11);   // room for any size byte
    for (SD_UINT8 size : {0x00, 0x80, 0xC0, 0xFF}) {
        Bytes b = good;
        b[2] = size;
        const Bytes before = b;
        EXPECT_EQ(ComputeChecksum(true, b, 0), 0) << int(size);
        EXPECT_EQ(b, before);
    }
    Bytes b = zvfix::MakeRomImage(RomImageSpec::Bios());
    b[2] = 5;   // runs past the 4-block buffer
    EXPECT_EQ(ComputeChecksum(true, b, 0), 0);
    EXPECT_EQ(b.back(), zvfix::MakeRomImage(RomImageSpec::Bios()).back());
    EXPECT_EQ(ComputeChecksum(true, b, static_cast<unsigned>(b.size() - 1)), 0);
    EXPECT_EQ(ComputeChecksum(true, b, 0xFFFFFFFFu), 0);
}

TEST(BiosPatch, FieldsWrittenAndModelCut) {
    Bytes b = zvfix::MakeRomImage(RomImageSpec::Bios());
    std::memset(b.data() + 68, 'x', 19);
    ASSERT_EQ(UpdateImage(0x0001, 0x1590, b, "ABCDEFGHIJKLMNOPQRST", "ISP2B61", 0), 0);
    EXPECT_EQ(Text(b, 68, 19), "ABCDEFGHIJKLMNOPQR ");
    EXPECT_EQ(Text(b, 9, 4), "2B61");
    EXPECT_EQ(b[32] | b[33] << 8, 0x1590);
    EXPECT_EQ(b[42] | b[43] << 8, 0x2B61);

    ASSERT_EQ(UpdateImage(0, 0x1077, b, "M1", "ISP2261", 0), 0);
    EXPECT_EQ(Text(b, 68, 19), std::string("M1 ") + std::string(16, '\0'));

    // Unknown chip: 9, the other fields still written, the device id left.
    ASSERT_EQ(UpdateImage(0, 0x1234, b, "M2", "ISP9999", 0), 9);
    EXPECT_EQ(Text(b, 9, 4), "9999");
    EXPECT_EQ(b[32] | b[33] << 8, 0x1234);
    EXPECT_EQ(b[42] | b[43] << 8, 0x2261);

    Bytes tiny(80, 0);
    EXPECT_EQ(UpdateImage(0, 0x1077, tiny, "M", "ISP2261", 0), 12);
    EXPECT_EQ(tiny, Bytes(80, 0));
}

TEST(BiosValidate, HardwareTypeFamilyCodeAndChecksum) {
    RomImageSpec standard = RomImageSpec::Bios(0x2261);
    standard.common = false;
    Bytes s = zvfix::MakeRomImage(standard);
    EXPECT_EQ(Validate(s, "2261", 0), 0);
    EXPECT_EQ(Validate(s, "2281", 0), 10);
    s[100] ^= 1;   // a standard image is not checksum-checked here
    EXPECT_EQ(Validate(s, "2261", 0), 0);

    Bytes c = zvfix::MakeRomImage(RomImageSpec::Bios(0x2261));
    ASSERT_EQ(UpdateImage(0, 0x1077, c, "M", "ISP2261", 0), 0);
    ComputeChecksum(true, c, 0);
    EXPECT_EQ(Validate(c, "2261", 0), 0);
    const SD_UINT8 own = c[20];
    ASSERT_EQ(UpdateImage(0, 0x1077, c, "M", "ISP2281", 0), 0);   // another family's code
    std::memcpy(c.data() + 9, "2261", 4);
    ComputeChecksum(true, c, 0);
    EXPECT_EQ(Validate(c, "2261", 0), 10);
    c[20] = own;
    EXPECT_EQ(Validate(c, "2261", 0), 12);   // checksum no longer holds
    c[20] = 0xEE;                             // a code no family uses
    ComputeChecksum(true, c, 0);
    EXPECT_EQ(Validate(c, "2261", 0), 0);
    std::memcpy(c.data() + 9, "9999", 4);
    EXPECT_EQ(Validate(c, "9999", 0), 10);   // unknown chip
}

TEST(EfiAndFCode, DeviceIdRules) {
    auto efi = [](SD_UINT16 id) { return zvfix::MakeRomImage(RomImageSpec::Efi(id)); };
    auto fcode = [](SD_UINT16 id) { return zvfix::MakeRomImage(RomImageSpec::FCode(id)); };

    for (const char* hw : {"2261", "2071", "2A61", "8031"}) EXPECT_EQ(ValidateEFI(efi(0x2532), hw, 0), 0) << hw;
    EXPECT_EQ(ValidateEFI(efi(0x2261), "2281", 0), 0);
    EXPECT_EQ(ValidateEFI(efi(0x2261), "2071", 0), 11);
    EXPECT_EQ(ValidateEFI(efi(0x2A61), "2A61", 0), 0);   // hex digits match in any case
    Bytes none(1024, 0);
    EXPECT_EQ(ValidateEFI(none, "2261", 0), 23);
    EXPECT_EQ(validateFCode(none, "2261", 0, 0), 23);

    EXPECT_EQ(validateFCode(fcode(0x2261), "2261", 0, 0), 0);
    EXPECT_EQ(validateFCode(fcode(0x2661), "2261", 0, 0), 11);   // "22": all four digits
    EXPECT_EQ(validateFCode(fcode(0x2471), "2071", 0, 0), 0);    // second digit raised by 4
    EXPECT_EQ(validateFCode(fcode(0x2071), "2071", 0, 0), 0);    // else the second digit
    EXPECT_EQ(validateFCode(fcode(0x2171), "2071", 0, 0), 11);
    EXPECT_EQ(validateFCode(fcode(0x2371), "2371", 0, 0), 0);
    EXPECT_EQ(validateFCode(fcode(0x2312), "2310", 0, 0), 11);
    EXPECT_EQ(validateFCode(fcode(0x2310), "2310", 0, 0), 0);

    // Older system bus: the second name character deep in the image, then 0xF1 first.
    Bytes sbus(FCODE_SBUS_NAME_OFFSET + 2, 0);
    sbus[FCODE_SBUS_NAME_OFFSET + 1] = '2';
    EXPECT_EQ(validateFCode(sbus, "2312", 1, 0), 23);
    sbus[0] = 0xF1;
    EXPECT_EQ(validateFCode(sbus, "2312", 1, 0), 0);
    EXPECT_EQ(validateFCode(sbus, "2322", 1, 0), 0);
    EXPECT_EQ(validateFCode(sbus, "2300", 1, 0), 11);
    EXPECT_EQ(validateFCode(sbus, "2262", 1, 0), 11);
    EXPECT_EQ(validateFCode(Bytes(100, 0xF1), "2312", 1, 0), 11);

    Bytes e = efi(0x2071);
    ASSERT_EQ(UpdateImageEFI(0, 0, e, "ISP8432", 0), 0);
    EXPECT_EQ(zvfix::RomDeviceId(e, 0), 0x2432);
    EXPECT_EQ(updateImageFCode(0, 0, e, "ISP1234", 0), 9);
    EXPECT_EQ(UpdateImageEFI(0, 0, none, "ISP2261", 0), 23);
    EXPECT_TRUE(isCommonEFIImage({}, "2281"));
    EXPECT_FALSE(isCommonFCodeImage({}, "2432"));
}

TEST(ChipNames, EveryGen6AndGen7ChipCanBePatched) {
    Bytes b = zvfix::MakeRomImage(RomImageSpec::Bios());
    for (unsigned id = 0; id <= 0xFFFF; ++id) {
        const int type = CoreGetISPTypeFromDeviceId(static_cast<SD_UINT16>(id));
        if (type != 25 && type != 27) continue;
        char isp[16];
        std::snprintf(isp, sizeof isp, "ISP%04X", id);
        EXPECT_EQ(UpdateImage(0, 0x1077, b, "M", isp, 0), 0) << isp;
        EXPECT_EQ(b[42] | b[43] << 8, static_cast<int>(id)) << isp;
    }
}

}  // namespace
