// Flash layout table locator and table.
#include "image/flash_layout_table.h"

#include <gtest/gtest.h>

#include "fixtures/flash_layout_builder.h"

namespace {

using zvfix::Bytes;

TEST(FlashLayoutTable, LocatorSignatureAndK7RAddress) {
    EXPECT_EQ(ValidateFLTLocator(zvfix::MakeFltLocator(0x3F0000)), 1);
    EXPECT_EQ(ValidateFLTLocator(zvfix::MakeFltLocator(0x3F0000, "zfLt")), 1);
    EXPECT_EQ(ValidateFLTLocator(zvfix::MakeFltLocator(0x3F0000, "ZFLT", false)), 1);   // checksum not enforced
    EXPECT_EQ(ValidateFLTLocator(zvfix::MakeFltLocator(0x3F0010)), 0);                   // byte 4 is 0x10
    EXPECT_EQ(ValidateFLTLocator(zvfix::MakeFltLocator(0x3F0000, "ZFL")), 0);
    EXPECT_EQ(ValidateFLTLocator(zvfix::MakeFltLocator(0x3F0000, "ZFLX")), 0);
    EXPECT_EQ(ValidateFLTLocator(Bytes{'Z', 'F', 'L', 'T', 0}), 0);                       // short
    EXPECT_EQ(ValidateK7RFLTLocator(zvfix::MakeFltLocator(0x3F1000)), 0);
    EXPECT_EQ(ValidateK7RFLTLocator(zvfix::MakeFltLocator(0x3F0000)), 1);
    EXPECT_EQ(FLT_Locator_GetAddress(zvfix::MakeFltLocator(0x12340000)), 0x12340000u);
}

TEST(FlashLayoutTable, VersionAndEntryLookup) {
    const Bytes table = zvfix::MakeFlashLayoutTable(2, {{0x07, 1, 0x40000, 0}, {0x01, 2, 0x80000, 0x40000},
                                                        {0x07, 3, 0x100, 0xC0000}},
                                                    -1, 0xBEEF);
    EXPECT_EQ(GetFlashLayoutVersion(table), 2);
    EXPECT_EQ(GetFlashLayoutVersion({}), 0);
    EXPECT_EQ(ValidateFlashLayout(table), 1);
    const auto boot = GetFlashLayoutEntryByRegionCode(table, 0x07);
    ASSERT_TRUE(boot.has_value());
    EXPECT_EQ(boot->attribute, 1);   // the first of two
    EXPECT_EQ(boot->end_address, 0x3FFFFu);
    EXPECT_EQ(GetFlashLayoutEntryByRegionCode(table, 0x01)->begin_address, 0x40000u);
    EXPECT_FALSE(GetFlashLayoutEntryByRegionCode(table, 0x09).has_value());
    EXPECT_FALSE(GetFlashLayoutEntryByRegionCode(zvfix::MakeFlashLayoutTable(2, {{0x07}}, 0), 0x07).has_value());
    // A length past the buffer is no table.
    EXPECT_FALSE(GetFlashLayoutEntryByRegionCode(zvfix::MakeFlashLayoutTable(2, {{0x07}}, 32), 0x07).has_value());

    // Tables of more than 255 entries are searched to their end.
    std::vector<zvfix::FltEntry> many(300, {0x10, 0, 0x1000, 0});
    many[260].code = 0x42;
    EXPECT_EQ(GetFlashLayoutEntryByRegionCode(zvfix::MakeFlashLayoutTable(1, many), 0x42)->region_code, 0x42);

    std::vector<SD_UINT8> held = table;
    DestroyFlashLayout(&held);
    EXPECT_TRUE(held.empty());
    DestroyFlashLayout(nullptr);
}

}  // namespace
