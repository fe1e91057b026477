// Header checks, region-presence counts and accessors of the image layout
// table, on images made by the multiboot builder.
#include "image/image_layout_table.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <tuple>

#include "core/host_info.h"
#include "core/image_status.h"
#include "fixtures/multiboot_image_builder.h"
#include "image/card_types.h"
#include "image/image_status_header.h"

namespace {

using zvfix::Bytes;
using zvfix::MbiComponent;

constexpr zvfix::MbiAdapter kDorne{};                       // 0x2261, 0x1077/0x029B, card type 1
constexpr zvfix::MbiAdapter kVrel{.deviceId = 0x2281};

int Dorne(const Bytes& img, uint16_t chipRev = 0) {
    return ValidateDorneILTImageHeader(kDorne.ssdid, kDorne.ssvid, img, chipRev);
}

// A Torvi-style image: one card-type list naming the adapter, the given components.
Bytes TorviImage(std::vector<MbiComponent> components) {
    zvfix::MultibootImageSpec s;
    s.components = std::move(components);
    s.cardTypeLists = {{0, {{0x1077, 0x8030, 0x1077, 0x0240}}, std::nullopt}};
    return zvfix::BuildMultibootImage(s);
}

MbiComponent Crb(uint16_t chipRev) {
    MbiComponent c = MbiComponent::Filled(0x70, 0x40);
    c.chipRev = chipRev;
    return c;
}

TEST(ImageLayoutTable, FamilyImagesPassTheirChecksAlsoBehindAPackageHeader) {
    const Bytes dorne = zvfix::MakeDorneImage(kDorne);
    const Bytes vrel = zvfix::MakeVrelImage(kVrel);
    std::array<SD_UINT32, ILT_DORNE_REGION_SLOTS> seq{};
    ILT_InitDorneSecuredOnlineRegionsToUpdate(seq, 0);
    EXPECT_EQ(seq[4], 0x67u);
    EXPECT_EQ(seq[12], 0u);
    EXPECT_EQ(ValidateDorneILTImageRegionsToUpdate(dorne, seq, 13, 0), 0);
    EXPECT_EQ(Dorne(dorne), 0);
    EXPECT_EQ(ValidateVrelILTImageRegionsToUpdate(vrel, seq, 13, 0), 0);
    EXPECT_EQ(ValidateVrelILTImageHeader(kVrel.ssdid, kVrel.ssvid, vrel, 0x10), 0);
    EXPECT_EQ(ILT_TorviCardTypeList_GetMyCardTypeFromCardList(dorne, kDorne.ssdid, kDorne.ssvid), 1);
    // Another adapter model is not in the image.
    EXPECT_EQ(ValidateDorneILTImageHeader(0x029C, kDorne.ssvid, dorne, 0), 451);

    const Bytes pkg = zvfix::WrapInPldmPackage(dorne);
    ASSERT_EQ(CoreIsPLDMFwImage(pkg), 1);
    const SD_UINT32 skip = CoreGetPLDMFwImageHeaderSize(pkg);
    ASSERT_EQ(skip, 0x80u);
    EXPECT_EQ(Dorne(Bytes(pkg.begin() + skip, pkg.end())), 0);
    EXPECT_EQ(Dorne(pkg), 450);
}

TEST(ImageLayoutTable, HeaderStatusesInTheirOrder) {
    auto spec = zvfix::DorneImageSpec(kDorne);
    Bytes img = zvfix::BuildMultibootImage(spec);
    EXPECT_EQ(Dorne(Bytes(img.begin(), img.begin() + 31)), 451);   // before the signature is looked at

    spec.signature = {'Z', 'F', 'I', 'M'};
    EXPECT_EQ(Dorne(zvfix::BuildMultibootImage(spec)), 0);
    spec.signature = {'z', 'i', 'l', 't'};
    EXPECT_EQ(Dorne(zvfix::BuildMultibootImage(spec)), 450);
    spec.signature = {'Z', 'I', 'L', 'T'};

    spec.tableVersion = 5;
    const Bytes v5 = zvfix::BuildMultibootImage(spec);
    EXPECT_EQ(Dorne(v5), 506);
    std::array<SD_UINT32, 8> seq{0x07};
    EXPECT_EQ(ValidateDorneILTImageRegionsToUpdate(v5, seq, 8, 0), 506);
    // The K7R check with chip revision 0 goes straight to the card type.
    EXPECT_EQ(ValidateILTImageHeader(kDorne.ssdid, kDorne.ssvid, v5, 0), 0);
    EXPECT_EQ(ValidateILTImageHeader(kDorne.ssdid, kDorne.ssvid, v5, 0x54), 506);
    spec.tableVersion = 4;

    // The time stamp of a table without entries would be its header.
    spec.numOfEntries = 0;
    EXPECT_EQ(Dorne(zvfix::BuildMultibootImage(spec)), 451);
}

TEST(ImageLayoutTable, RequiredRegionsAndChipRevisions) {
    auto spec = zvfix::DorneImageSpec(kDorne);
    EXPECT_EQ(spec.Component(0x67), nullptr);
    EXPECT_EQ(Dorne(zvfix::BuildMultibootImage(spec)), 0);
    spec.components.push_back(MbiComponent::Filled(0x67, 0x40));   // never fits any revision
    EXPECT_EQ(Dorne(zvfix::BuildMultibootImage(spec)), 505);

    // The first fitting entry of a code ends its search; others may fail.
    auto torvi = [](std::vector<MbiComponent> c, uint16_t rev) {
        return ValidateTorviILTImageHeader(0x0240, 0x1077, TorviImage(std::move(c)), rev);
    };
    EXPECT_EQ(torvi({Crb(0x20), Crb(0x30)}, 0x30), 0);
    EXPECT_EQ(torvi({Crb(0x30), Crb(0x20)}, 0x30), 0);
    EXPECT_EQ(torvi({Crb(0x20), Crb(0x40)}, 0x30), 505);
    EXPECT_EQ(torvi({Crb(0x30)}, 0), 505);   // adapter without a revision
    EXPECT_EQ(torvi({Crb(0)}, 0), 0);
    // K7R picks its converged firmware code by chip revision.
    std::array<SD_UINT32, ILT_K7R_REGION_SLOTS> k7r{};
    ILT_InitK7RRegionsToUpdate(k7r, 0x54);
    EXPECT_EQ(k7r[6], 0x74u);
    ILT_InitK7RRegionsToUpdate(k7r, 0x58);
    EXPECT_EQ(std::tuple(k7r[6], k7r[7]), std::tuple(0x97u, 0x81u));
}

TEST(ImageLayoutTable, TablesAndComponentsPastTheImageAreRefused) {
    auto spec = zvfix::DorneImageSpec(kDorne);
    const Bytes good = zvfix::BuildMultibootImage(spec);
    // Cut inside the last component, inside the lists, inside the entries.
    const size_t lastEnd = zvfix::MbiComponentOffset(spec, 6) + spec.components[6].data.size();
    for (const size_t n : {lastEnd - 1, zvfix::MbiTableLength(spec) - 1, size_t{100}}) {
        const Bytes cut(good.begin(), good.begin() + static_cast<long>(n));
        EXPECT_EQ(Dorne(cut), 451) << n;
    }
    std::array<SD_UINT32, 4> seq{0x07, 0x01, 0xD3};
    EXPECT_EQ(ValidateDorneILTImageRegionsToUpdate(Bytes(good.begin(), good.begin() + 100), seq, 4, 0), 451);
    EXPECT_EQ(ValidateDorneILTImageRegionsToUpdate({}, seq, 4, 0), 0);

    // An entry whose offset + size passes the end of the file.
    spec.Component(0x01)->size = static_cast<uint32_t>(good.size());
    EXPECT_EQ(Dorne(zvfix::BuildMultibootImage(spec)), 451);
    spec.Component(0x01)->size.reset();
    spec.Component(0x01)->offset = 0xFFFFFFF0u;
    EXPECT_EQ(Dorne(zvfix::BuildMultibootImage(spec)), 451);

    // An entry count far past the buffer: accessors stop at its end.
    spec = zvfix::DorneImageSpec(kDorne);
    spec.numOfEntries = 0xFFFF;
    const Bytes many = zvfix::BuildMultibootImage(spec);
    EXPECT_EQ(Dorne(many), 451);
    EXPECT_FALSE(ILT_Region_GetRegionByIndex(many, 0xFFFD).has_value());
    EXPECT_FALSE(ILT_Region_GetTimeStampEntry(many).has_value());
    EXPECT_EQ(ValidateILTRegionLen(many, 0x9999, 0), 0);
}

TEST(ImageLayoutTable, CardTypeListsClaimingMoreThanTheImageHolds) {
    zvfix::MultibootImageSpec spec;   // no entries: lists start at byte 72
    spec.componentAlign = 1;
    spec.cardTypeLists = {{0, std::vector<zvfix::MbiCardTypeEntry>(7), std::nullopt}};   // 64 bytes of lists
    spec.noCardTypeList = 300;
    const Bytes img = zvfix::BuildMultibootImage(spec);
    ASSERT_EQ(img.size(), 72u + 64u);
    EXPECT_EQ(ValidateDorneILTImageHeader(0x029B, 0x1077, img, 0), 451);
    EXPECT_FALSE(ILT_CardTypeList_SearchSignatureInDefaultCardList(img, 0x029B, 0x1077));
    EXPECT_EQ(ILT_CardTypeList_GetMyCardTypeFromCardList(img, 0x029B, 0x1077), -1);
    EXPECT_TRUE(ILT_CardTypeList_GetCardTypeListByIndex(img, 0).has_value());
    EXPECT_FALSE(ILT_CardTypeList_GetCardTypeListByIndex(img, 1).has_value());
    EXPECT_FALSE(ILT_CardTypeList_GetCardTypeListByIndex(img, 299).has_value());

    spec.noCardTypeList.reset();
    spec.cardTypeLists[0].count = 0xFFFF;   // entries past the end
    const Bytes wide = zvfix::BuildMultibootImage(spec);
    EXPECT_EQ(ValidateDorneILTImageHeader(0x029B, 0x1077, wide, 0), 451);
    EXPECT_FALSE(ILT_CardTypeList_SearchSignatureInDefaultCardList(wide, 0x029B, 0x1077));

    // The list ends the image; the adapter is in its first entry, so only the
    // bounds check can refuse a last entry one byte short.
    spec.cardTypeLists[0] = {0, {zvfix::MbiCardTypeEntry{}, {.ssdid = 0x029C}}, std::nullopt};
    const Bytes whole = zvfix::BuildMultibootImage(spec);
    EXPECT_EQ(ValidateDorneILTImageHeader(0x029B, 0x1077, whole, 0), 0);
    EXPECT_EQ(ValidateDorneILTImageHeader(0x029B, 0x1077, Bytes(whole.begin(), whole.end() - 1), 0), 451);
}

// Each record of the table read from a buffer that ends exactly where the
// record ends is read whole; the same buffer one byte shorter gives nothing,
// never a record completed from bytes past the buffer.
TEST(ImageLayoutTable, ARecordEndingAtTheBuffersEndIsReadAndOneByteShortIsNot) {
    zvfix::MultibootImageSpec spec;
    spec.componentAlign = 1;
    spec.components = {MbiComponent::Filled(0x07, 0x40), MbiComponent::Filled(0x01, 0x23)};
    spec.cardTypeLists = {{0, {{}, {.ssdid = 0x029C}}, std::nullopt}, {1, {{.ssdid = 0x029D}}, std::nullopt}};
    const Bytes img = zvfix::BuildMultibootImage(spec);
    const size_t ts = zvfix::MbiTimeStampOffset(spec);
    ASSERT_EQ(zvfix::MbiTableLength(spec), ts + 80);
    const ILT_Region_t last = ILT_Region_GetRegionByIndex(img, 1).value();
    const size_t componentEnd = zvfix::MbiComponentOffset(spec, 1) + 0x23;
    ASSERT_EQ(componentEnd, img.size());

    auto firstList = [](IltBytes b) { return ILT_CardTypeList_First(b); };
    struct Row {
        const char* what;
        size_t end;
        std::function<bool(IltBytes)> read;
    };
    const std::vector<Row> rows = {
        {"header", 32, [](IltBytes b) { return ILT_Header_Get(b).has_value(); }},
        {"last region entry", ts, [](IltBytes b) { return ILT_Region_GetRegionByIndex(b, 1).has_value(); }},
        {"time stamp", ts + 32, [](IltBytes b) { return ILT_Region_GetTimeStampEntry(b).has_value(); }},
        {"card-type header", ts + 40,
         [](IltBytes b) { return ILT_CardType_Header_GetCardListHeader(b).has_value(); }},
        {"first list", ts + 48, [&](IltBytes b) { return firstList(b).has_value(); }},
        {"first list's last entry", ts + 64,
         [&](IltBytes b) {
             const auto pos = firstList(b);
             return pos && ILT_CardTypeList_GetEntry(b, *pos, 1).has_value();
         }},
        {"second list", ts + 72, [](IltBytes b) { return ILT_CardTypeList_GetCardTypeListByIndex(b, 1).has_value(); }},
        {"second list's entry", ts + 80,
         [&](IltBytes b) {
             const auto pos = firstList(b);
             const auto next = pos ? ILT_CardTypeList_Next(b, *pos) : std::nullopt;
             return next && ILT_CardTypeList_GetEntry(b, *next, 0).has_value();
         }},
        {"last component", componentEnd,
         [&](IltBytes b) { return ILT_Region_GetComponent(b, last).has_value(); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        // Copies of exactly that length, so that a read past the end is a read past the allocation.
        const Bytes whole(img.begin(), img.begin() + static_cast<long>(row.end));
        const Bytes shorter(img.begin(), img.begin() + static_cast<long>(row.end - 1));
        EXPECT_TRUE(row.read(whole));
        EXPECT_FALSE(row.read(shorter));
    }
    // The values read at the very end are the record's own.
    const Bytes atEnd(img.begin(), img.begin() + static_cast<long>(ts + 80));
    const auto second = ILT_CardTypeList_Next(atEnd, *ILT_CardTypeList_First(atEnd));
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->list.listForCardType, 1);
    EXPECT_EQ(ILT_CardTypeList_GetEntry(atEnd, *second, 0)->subSystemDID, 0x029D);
    EXPECT_EQ(ILT_Region_GetComponent(img, last)->back(), img.back());
}

TEST(ImageLayoutTable, AccessorsAndRegionLength) {
    auto spec = zvfix::DorneImageSpec(kDorne);
    spec.imageVersion = {6, 3, 120};
    spec.buildYear = 2027;
    spec.buildMonth = 2;
    spec.buildDay = 3;
    MbiComponent big = MbiComponent::Filled(0x72, 0x10);
    big.size = 0x20000;
    spec.components.push_back(big);
    const Bytes img = zvfix::BuildMultibootImage(spec);

    EXPECT_EQ(ValidateILTRegionLen(img, 0x72, 0x1FFFF), -4);
    EXPECT_EQ(ValidateILTRegionLen(img, 0x72, 0x20000), 0);
    EXPECT_EQ(ValidateILTRegionLen(img, 0x73, 0), 0);
    EXPECT_EQ(ValidateILTRegionLen({}, 0x72, 0), 0);

    char text[32];
    EXPECT_STREQ(ILT_Header_GetImageVersion(img, text), "06.03.120");
    std::array<char, 8> raw;
    raw.fill('#');
    EXPECT_EQ(ILT_Header_GetImageVersionNoSeparator(img, raw), 0);
    EXPECT_EQ(std::string(raw.data(), 8), "060312##");
    EXPECT_EQ(ILT_Header_GetImageVersionNoSeparator(img, std::span(raw).first(5)), -1);
    MultibootVersions v{};
    EXPECT_EQ(GetILTImageBuildDate(img, v), 0);
    EXPECT_EQ(std::tie(v.ImageBuildYear, v.ImageBuildMonth, v.ImageBuildDay), std::tuple(2027, 2, 3));
    Bytes bad = img;
    bad[0] = 'X';
    EXPECT_EQ(GetILTImageBuildDate(bad, v), 450);

    const SD_UINT16 n = ILT_Header_GetNumOfRegionEntries(img);
    EXPECT_EQ(n, spec.components.size() + 1);
    EXPECT_EQ(ILT_Region_GetRegionByIndex(img, static_cast<SD_UINT16>(n - 2))->regionType, 0x72);
    EXPECT_FALSE(ILT_Region_GetRegionByIndex(img, static_cast<SD_UINT16>(n - 1)).has_value());
    EXPECT_EQ(ILT_Region_GetTimeStampEntry(img)->dateYear, 2024);

    // One entry in all: no regions, the time stamp right after the header.
    zvfix::MultibootImageSpec bare;
    bare.timeStamp.year = 2031;
    bare.cardTypeLists = {{0, {{}}, std::nullopt}};
    const Bytes b = zvfix::BuildMultibootImage(bare);
    EXPECT_FALSE(ILT_Region_GetRegionByIndex(b, 0).has_value());
    EXPECT_EQ(ILT_Region_GetTimeStampEntry(b)->dateYear, 2031);
    EXPECT_EQ(ValidateDorneILTImageHeader(0x029B, 0x1077, b, 0), 0);
}

TEST(ImageStatusHeader, ResetKeepsTheRecordAndFixesSignatureAndChecksum) {
    const std::array<SD_UINT8, 16> junk{0, 7, 8, 1, 0, 3, 0, 9, 0xAA, 0xBB, 0xCC, 0xDD, 1, 2, 3, 4};
    std::array<SD_UINT8, 16> set2 = junk;
    resetImageStatusHeader(set2, 2);
    EXPECT_TRUE(std::equal(set2.begin(), set2.begin() + 8, junk.begin()));
    EXPECT_EQ(std::vector<SD_UINT8>(set2.begin() + 12, set2.end()), (std::vector<SD_UINT8>{0xDE, 0xFA, 0xCE, 0xFA}));
    EXPECT_TRUE(CoreIsImageStatusRegionValid(set2, IMAGE_STATUS_SIGNATURE_25));

    std::array<SD_UINT8, 16> set1 = junk;
    resetImageStatusHeader(set1, 1);
    EXPECT_EQ(std::vector<SD_UINT8>(set1.begin(), set1.begin() + 3), (std::vector<SD_UINT8>{1, 1, 8}));
    EXPECT_TRUE(CoreIsImageStatusRegionValid(set1, IMAGE_STATUS_SIGNATURE_25));
    std::array<SD_UINT8, 15> shortRecord{};
    resetImageStatusHeader(shortRecord, 1);
    EXPECT_EQ(shortRecord[0], 0);

    EXPECT_EQ(getAuxImageStatusBitMap(junk), 3);
    EXPECT_EQ(getAuxiliaryComponentBitmapMask(junk, 1), 1);
    EXPECT_EQ(getAuxiliaryComponentBitmapMask(junk, 2), 0);

    std::array<SD_UINT8, 16> rec = set1;
    SD_UINT32 fresh = 0;
    EXPECT_EQ(validateImageStatusChecksum(rec, 16, 8, &fresh), 0);
    rec[8] ^= 1;
    EXPECT_EQ(validateImageStatusChecksum(rec, 16, 8, &fresh), 1);
    EXPECT_EQ(rec, set1);   // stored back right
    std::array<SD_UINT8, 16> zero{};
    zero[8] = 5;   // wrong, though the right checksum is 0
    EXPECT_EQ(validateImageStatusChecksum(zero, 16, 8, &fresh), 1);
    EXPECT_EQ(fresh, 0u);
    EXPECT_EQ(validateImageStatusChecksum(rec, 16, 13, &fresh), -1);
    EXPECT_EQ(validateImageStatusChecksum(rec, 17, 8, &fresh), -1);
}

}  // namespace
