// The generic component check that takes every entry of an image, whatever
// card type or chip revision it is for, and the RISC firmware version reader.
#include <gtest/gtest.h>

#include <array>

#include "fixtures/firmware_image_builder.h"
#include "fixtures/multiboot_image_builder.h"
#include "image/image_validation_multiboot.h"
#include "image/image_validation_versions.h"
#include "image/mbi_identifiers.h"

namespace {

using zvfix::Bytes;

constexpr zvfix::MbiAdapter kVrel{.deviceId = 0x2281};

TEST(ImageValidationGeneric, EveryEntryIsCheckedWhateverItIsFor) {
    FlashComponentVersion v{};
    const sHbaIdentifiers ids = zvtest::MbiIds(kVrel);
    EXPECT_EQ(ValidateGenericImageComponents(zvfix::MakeVrelImage(kVrel), &v, ids), 13);
    EXPECT_EQ((std::array{v.ImageMajorVersion, v.ImageMinorVersion, v.ImageSubMinorVersion}),
              (std::array<SD_UINT8, 3>{7, 2, 3}));
    EXPECT_EQ((std::array{v.FCFwMajorVersion, v.FCFwMinorVersion, v.FCFwSubminorVersion}),
              (std::array<SD_UINT8, 3>{9, 12, 1}));

    // An entry for another card type or chip revision is counted and checked too.
    zvfix::MultibootImageSpec s = zvfix::VrelImageSpec(kVrel);
    s.Component(0x01)->cardTypes = 4;
    s.Component(0x07)->chipRev = 0x30;
    EXPECT_EQ(ValidateGenericImageComponents(zvfix::BuildMultibootImage(s), &v, ids), 13);
    s.Component(0x01)->data.assign(8, 0);   // and refused when broken
    const SD_INT8 broken = ValidateGenericImageComponents(zvfix::BuildMultibootImage(s), &v, ids);
    EXPECT_LT(broken, 0);
    EXPECT_EQ(ValidateGenericImageComponents({}, &v, ids), 0);

    // The firmware version reader always answers 1; only a firmware header gives a version.
    FlashComponentVersion fw{};
    const Bytes firmware = zvfix::MakeFirmwareImage({.revision = {4, 5, 6}});
    EXPECT_EQ(GetRiscFirmwareVersionFromFlashImage(firmware, &fw), 1);
    EXPECT_EQ((std::array{fw.FCFwMajorVersion, fw.FCFwMinorVersion, fw.FCFwSubminorVersion}),
              (std::array<SD_UINT8, 3>{4, 5, 6}));
    FlashComponentVersion none{};
    EXPECT_EQ(GetRiscFirmwareVersionFromFlashImage(Bytes(8, 0), &none), 1);
    EXPECT_EQ(none.FCFwMajorVersion, 0);
    EXPECT_EQ(GetRiscFirmwareVersionFromFlashImage(firmware, nullptr), 1);
}

}  // namespace
