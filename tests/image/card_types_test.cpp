// Card-type lists of multiboot images: the wildcard rule of the generic
// compare, the searches, and the component fit rules.
#include "image/card_types.h"

#include <gtest/gtest.h>

#include "fixtures/multiboot_image_builder.h"
#include "image/image_layout_table.h"
#include "image/word_helpers.h"

namespace {

using zvfix::Bytes;
using zvfix::MbiCardTypeEntry;

Bytes WithLists(std::vector<zvfix::MbiCardTypeList> lists) {
    zvfix::MultibootImageSpec s;
    s.cardTypeLists = std::move(lists);
    return zvfix::BuildMultibootImage(s);
}

TEST(CardTypes, GenericCompareTakesFFFFAsAnyOnlyForTheOlderConvergedModels) {
    const ILT_CardTypeList_Entry_t k7rAny{0x1077, 0x8020, 0xFFFF, 0xFFFF};
    EXPECT_TRUE(ILT_CardTypeList_CompareSignature(&k7rAny, 0x0240, 0x1077));
    EXPECT_TRUE(ILT_CardTypeList_CompareSignature(&k7rAny, 0x1234, 0x103C));
    const ILT_CardTypeList_Entry_t fennickDid{0x1077, 0x8001, 0x103C, 0xFFFF};
    EXPECT_TRUE(ILT_CardTypeList_CompareSignature(&fennickDid, 0x1234, 0x103C));
    EXPECT_FALSE(ILT_CardTypeList_CompareSignature(&fennickDid, 0x1234, 0x1077));
    const ILT_CardTypeList_Entry_t fcAny{0x1077, 0x2031, 0xFFFF, 0xFFFF};
    EXPECT_FALSE(ILT_CardTypeList_CompareSignature(&fcAny, 0x0240, 0x1077));
    EXPECT_TRUE(ILT_CardTypeList_CompareSignature(&fcAny, 0xFFFF, 0xFFFF));
    const ILT_CardTypeList_Entry_t otherVendor{0x10DF, 0x8020, 0xFFFF, 0xFFFF};
    EXPECT_FALSE(ILT_CardTypeList_CompareSignature(&otherVendor, 0x0240, 0x1077));
    EXPECT_FALSE(ILT_CardTypeList_CompareSignature(nullptr, 0, 0));
    // The exact compare never takes a wildcard, whatever the device.
    EXPECT_FALSE(ILT_TorviCardTypeList_CompareSignature(&k7rAny, 0x0240, 0x1077));
    const ILT_CardTypeList_Entry_t exact{0x1077, 0x2261, 0x1077, 0x029B};
    EXPECT_TRUE(ILT_TorviCardTypeList_CompareSignature(&exact, 0x029B, 0x1077));
    EXPECT_FALSE(ILT_TorviCardTypeList_CompareSignature(&exact, 0x1077, 0x029B));   // ids swapped
}

TEST(CardTypes, SearchesOverDefaultAndTypedLists) {
    const MbiCardTypeEntry me{0x1077, 0x2261, 0x1077, 0x029B};
    const MbiCardTypeEntry other{0x1077, 0x2261, 0x1077, 0x02A0};
    const MbiCardTypeEntry wildcard{0x1077, 0x8020, 0xFFFF, 0xFFFF};

    const Bytes onlyDefault = WithLists({{0, {other, me}, std::nullopt}});
    EXPECT_EQ(ILT_CardTypeList_GetMyCardTypeFromCardList(onlyDefault, 0x029B, 0x1077), 0);
    EXPECT_EQ(ILT_TorviCardTypeList_GetMyCardTypeFromCardList(onlyDefault, 0x029B, 0x1077), 0);

    const Bytes typed = WithLists({{0, {me, other}, std::nullopt}, {4, {other}, std::nullopt},
                                   {2, {me}, std::nullopt}});
    EXPECT_EQ(ILT_TorviCardTypeList_GetMyCardTypeFromCardList(typed, 0x029B, 0x1077), 2);
    EXPECT_EQ(ILT_K7RCardTypeList_GetMyCardTypeFromCardList(typed, 0x02A0, 0x1077), 4);
    EXPECT_EQ(ILT_CardTypeList_GetMyCardTypeFromCardList(typed, 0x0999, 0x1077), -1);

    // A wildcard-only default list names every adapter for the header
    // checks, but gives no card type when other lists exist.
    const Bytes wild = WithLists({{0, {wildcard}, std::nullopt}, {2, {other}, std::nullopt}});
    EXPECT_TRUE(ILT_CardTypeList_SearchSignatureInDefaultCardList(wild, 0x1234, 0x5678));
    EXPECT_EQ(ILT_CardTypeList_GetMyCardTypeFromCardList(wild, 0x1234, 0x5678), -1);
    EXPECT_EQ(ValidateDorneILTImageHeader(0x1234, 0x5678, wild, 0), 451);
    const Bytes wildOnly = WithLists({{0, {wildcard}, std::nullopt}});
    EXPECT_EQ(ILT_CardTypeList_GetMyCardTypeFromCardList(wildOnly, 0x1234, 0x5678), 0);
    EXPECT_EQ(ILT_TorviCardTypeList_GetMyCardTypeFromCardList(wildOnly, 0x1234, 0x5678), -1);

    // Named only in a typed list: no default match.
    const Bytes noDefault = WithLists({{0, {other}, std::nullopt}, {2, {me}, std::nullopt}});
    EXPECT_FALSE(ILT_CardTypeList_SearchSignatureInDefaultCardList(noDefault, 0x029B, 0x1077));
    EXPECT_FALSE(ILT_CardTypeList_SearchSignatureInDefaultCardList(WithLists({}), 0x029B, 0x1077));

    // More than 255 lists are refused, not searched with a wrapping count.
    std::vector<zvfix::MbiCardTypeList> lists(256, {3, {other}, std::nullopt});
    lists.push_back({2, {me}, std::nullopt});
    lists.front() = {0, {me}, std::nullopt};
    EXPECT_EQ(ILT_TorviCardTypeList_GetMyCardTypeFromCardList(WithLists(lists), 0x029B, 0x1077), -1);
    lists.resize(255);
    lists.back() = {2, {me}, std::nullopt};
    EXPECT_EQ(ILT_TorviCardTypeList_GetMyCardTypeFromCardList(WithLists(lists), 0x029B, 0x1077), 2);
}

TEST(CardTypes, ComponentMasksChipRevisionsAndHelpers) {
    EXPECT_TRUE(CardTypeComapre(0x8000, 0x0004));   // swap bit only: every card type
    EXPECT_TRUE(CardTypeComapre(0x0000, 0x0000));
    EXPECT_TRUE(CardTypeComapre(0x0006, 0x0004));
    EXPECT_FALSE(CardTypeComapre(0x0003, 0x0004));
    EXPECT_FALSE(CardTypeComapre(0x0001, 0x0000));  // card type 0 takes only mask 0
    EXPECT_FALSE(CardTypeComapre(0x0001, 0x8000));
    EXPECT_TRUE(CardTypeComapre(0x8002, 0x8002));

    EXPECT_TRUE(HwRevComapre(0x20, 0));
    EXPECT_TRUE(HwRevComapre(0x30, 0x30));
    EXPECT_FALSE(HwRevComapre(0x20, 0x30));

    SD_UINT16 ct = 0x8005;
    ResetSwapBit(&ct);
    EXPECT_EQ(ct, 0x0005);
    ResetSwapBit(nullptr);

    const Bytes junk{1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(CalculateChksum(junk, 1000), 0);
    EXPECT_EQ(HLPR_Sum32(junk, 2), 0u);
    EXPECT_EQ(HLPR_GetDoubleWord(0x5678, 0x1234), 0x12345678u);
    EXPECT_EQ(HLPR_GetByte2(0x12345678), 0x34);
    EXPECT_EQ(HLPR_BEndian4(junk), 0x01020304u);
    EXPECT_EQ(HLPR_BEndian4(std::span(junk).first(3)), 0u);
}

}  // namespace
