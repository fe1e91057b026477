// Single entries of an image layout table: the chip-revision rule, the copy
// of a component and the time stamp written into a combined image.
#include "image/ilt_entry_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "fixtures/multiboot_image_builder.h"
#include "image/ilt_accessors.h"

namespace {

using zvfix::Bytes;

int Rule(uint16_t region, uint16_t imageRev, uint16_t adapterRev, uint16_t cardTypes = 0) {
    ILT_Region_t r{};
    r.regionType = region;
    r.chipRev = imageRev;
    r.swapModeCardType = cardTypes;
    return ValidateImageChipRevision(&r, adapterRev);
}

TEST(IltEntryData, ChipRevisionRules) {
    EXPECT_EQ(Rule(0x74, 0, 0x54), 0);
    EXPECT_EQ(Rule(0x74, 0, 0x55), -13);
    EXPECT_EQ(Rule(0x74, 0x54, 0x54), 0);
    EXPECT_EQ(Rule(0x74, 0x54, 0x58), -3);
    EXPECT_EQ(Rule(0x74, 0x55, 0x54), -13);
    EXPECT_EQ(Rule(0x97, 0x58, 0x57), -13);
    EXPECT_EQ(Rule(0x97, 0x58, 0x58), 0);
    EXPECT_EQ(Rule(0x97, 0x58, 0x59), -3);
    EXPECT_EQ(Rule(0x97, 0, 0), 0);
    EXPECT_EQ(Rule(0xA3, 1, 1), -16);
    EXPECT_EQ(Rule(0xA3, 0, 7), 0);
    EXPECT_EQ(Rule(0xB1, 2, 2), -15);
    EXPECT_EQ(Rule(0x70, 0x30, 0), -12);
    EXPECT_EQ(Rule(0x70, 0x30, 0x30), 0);
    EXPECT_EQ(Rule(0x70, 0x30, 0x20), -3);
    for (const uint16_t never : {0x02, 0x05, 0x09, 0x67, 0x68, 0x81, 0xDF, 0x113}) EXPECT_EQ(Rule(never, 0, 0), -3);
    for (const uint16_t any : {0x00, 0x07, 0x9E, 0xE5, 0x112}) EXPECT_EQ(Rule(any, 0x77, 0x11), 0);
    EXPECT_EQ(Rule(0xD1, 0x99, 0x11, 7), 0);
    EXPECT_EQ(ValidateImageChipRevision(nullptr, 0), -3);
}

TEST(IltEntryData, ComponentCopyIsBoundedByImageAndDestination) {
    auto spec = zvfix::DorneImageSpec();
    const Bytes img = zvfix::BuildMultibootImage(spec);
    const auto entry = ILT_Region_GetRegionByIndex(img, 6);
    ASSERT_TRUE(entry.has_value());
    const Bytes& fw = spec.components[6].data;

    Bytes dest(0x10000, 0xEE);
    ASSERT_EQ(GetSpecificImageComponentInBuffer(dest, img, &*entry), 0);
    EXPECT_TRUE(std::equal(fw.begin(), fw.end(), dest.begin()));
    EXPECT_EQ(dest[fw.size()], 0xEE);

    Bytes small(fw.size() - 1, 0xEE);
    EXPECT_EQ(GetSpecificImageComponentInBuffer(small, img, &*entry), -2);
    EXPECT_EQ(small, Bytes(fw.size() - 1, 0xEE));
    EXPECT_EQ(GetSpecificImageComponentInBuffer(dest, std::span(img).first(img.size() - 1), &*entry), -2);
    ILT_Region_t far = *entry;
    far.offsetHi = 0xFFFF;
    EXPECT_EQ(GetSpecificImageComponentInBuffer(dest, img, &far), -2);

    Bytes untouched(16, 0xEE);
    EXPECT_EQ(GetSpecificImageComponentInBuffer(untouched, img, nullptr), -1);
    EXPECT_EQ(untouched, Bytes(16, 0xEE));
}

TEST(IltEntryData, TimeStampIsWrittenIntoTheCopyOnly) {
    auto spec = zvfix::DorneImageSpec();
    spec.timeStamp.regionType = 0x55;
    Bytes img = zvfix::BuildMultibootImage(spec);
    const size_t length = ILT_Header_GetTableLength(img);
    const size_t stampAt = zvfix::MbiTimeStampOffset(spec);
    ASSERT_NE(ILT_Header_GetTableCheckSum(img), 0);

    std::tm when{};
    when.tm_year = 2027 - 1900;
    when.tm_mon = 1;
    when.tm_mday = 3;
    when.tm_hour = 9;
    when.tm_min = 5;
    Bytes dest(img.size(), 0xEE);
    const Bytes before = img;
    ASSERT_EQ(UdpateTimeStampAt(dest, img, &when), 1);

    const auto stamp = ILT_Region_GetTimeStampEntry(dest);
    ASSERT_TRUE(stamp.has_value());
    EXPECT_EQ(std::tie(stamp->dateMonth, stamp->dateDay, stamp->dateYear, stamp->timeHour, stamp->timeMin,
                       stamp->funSource, stamp->originatorID, stamp->regionType),
              std::tuple(2, 3, 2027, 9, 5, 0, 4, 0x55));
    EXPECT_EQ(ILT_Header_GetTableCheckSum(dest), 0);
    EXPECT_EQ(ILT_Header_GetTableCheckSum(img), 0);
    EXPECT_EQ(dest[length], 0xEE);   // nothing past the table
    // The table's other bytes are copied as they were; the source keeps its stamp.
    EXPECT_TRUE(std::equal(before.begin() + 10, before.begin() + static_cast<long>(stampAt), dest.begin() + 10));
    EXPECT_TRUE(std::equal(before.begin() + 10, before.end(), img.begin() + 10));

    // The real clock stamps the same writer ids.
    Bytes now(img.size(), 0);
    ASSERT_EQ(UdpateTimeStamp(now, img), 1);
    EXPECT_GE(ILT_Region_GetTimeStampEntry(now)->dateYear, 2024);
    EXPECT_EQ(ILT_Region_GetTimeStampEntry(now)->originatorID, 4);
    EXPECT_EQ(GetImageTimeStamp(now), 0);
}

TEST(IltEntryData, TablesThatCannotBeStampedSafelyAreLeftAlone) {
    auto spec = zvfix::DorneImageSpec();
    auto refused = [](const zvfix::MultibootImageSpec& s, size_t destSize) {
        Bytes img = zvfix::BuildMultibootImage(s);
        const Bytes before = img;
        Bytes dest(destSize, 0xEE);
        const int rc = UdpateTimeStampAt(dest, img, nullptr);
        return rc == 0 && img == before && dest == Bytes(destSize, 0xEE);
    };
    spec.numOfEntries = 0;   // the stamp would overwrite the header
    EXPECT_TRUE(refused(spec, 0x1000));
    spec.numOfEntries.reset();
    EXPECT_TRUE(refused(spec, zvfix::MbiTableLength(spec) - 1));
    spec.tableLength = static_cast<uint16_t>(zvfix::MbiTimeStampOffset(spec) + 31);
    EXPECT_TRUE(refused(spec, 0x1000));
    spec.tableLength = 0xFFFF;
    EXPECT_TRUE(refused(spec, 0x20000));
    Bytes empty;
    EXPECT_EQ(UdpateTimeStamp(empty, empty), 0);
    EXPECT_EQ(GetImageTimeStamp(empty), -1);
}

}  // namespace
