// Image layout table: any image gives one of the checks' statuses, an image
// the header check accepts has its whole table and every component inside
// it, and the copies never write past their buffers or change a refused table.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "fuzz_support.h"
#include "image/card_types.h"
#include "image/ilt_accessors.h"
#include "image/ilt_entry_data.h"
#include "image/image_layout_table.h"

namespace {

bool IsHeaderStatus(int s) { return s == 0 || s == 450 || s == 451 || s == 505 || s == 506; }

using HeaderCheck = int (*)(SD_UINT32, SD_UINT32, IltBytes, SD_UINT16);
constexpr std::array<HeaderCheck, 5> kHeaderChecks = {ValidateILTImageHeader, ValidateTorviILTImageHeader,
                                                      ValidatePemraILTImageHeader, ValidateDorneILTImageHeader,
                                                      ValidateVrelILTImageHeader};
using RegionCount = int (*)(IltBytes, std::span<const SD_UINT32>, SD_UINT16, SD_UINT16);
constexpr std::array<RegionCount, 5> kRegionCounts = {
    ValidateILTImageRegionsToUpdate, ValidateTorviILTImageRegionsToUpdate, ValidatePemraILTImageRegionsToUpdate,
    ValidateDorneILTImageRegionsToUpdate, ValidateVrelILTImageRegionsToUpdate};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> image(data, data + size);   // exact size: a read past it is caught
    const IltBytes img(image);

    // The adapter named by the image's first list entry, so that matches happen.
    SD_UINT32 ssdid = 0x029B;
    SD_UINT32 ssvid = 0x1077;
    if (const auto first = ILT_CardTypeList_First(img)) {
        if (const auto e = ILT_CardTypeList_GetEntry(img, *first, 0)) {
            ssdid = e->subSystemDID;
            ssvid = e->subSystemVID;
        }
    }
    std::array<SD_UINT32, ILT_VREL_REGION_SLOTS> sequence{};
    ILT_InitVrelOnlineRegionsToUpdate(sequence, 0);

    for (const SD_UINT16 rev : {0, 0x30, 0x54, 0x58}) {
        for (const HeaderCheck check : kHeaderChecks) {
            const int s = check(ssdid, ssvid, img, rev);
            ZVFUZZ_CHECK(IsHeaderStatus(s));
            if (s == 0) {
                ZVFUZZ_CHECK(ILT_IsTableWithinBuffer(img));
                ZVFUZZ_CHECK(ILT_AreComponentsWithinBuffer(img));
            }
        }
        for (const RegionCount count : kRegionCounts) {
            const int s = count(img, sequence, static_cast<SD_UINT16>(sequence.size() + rev), rev);
            ZVFUZZ_CHECK(s == 0 || s == 450 || s == 451 || s == 506);
        }
    }
    ILT_CardTypeList_GetMyCardTypeFromCardList(img, ssdid, ssvid);
    ILT_TorviCardTypeList_GetMyCardTypeFromCardList(img, ssdid, ssvid);
    ILT_CardTypeList_SearchSignatureInDefaultCardList(img, ssdid, ssvid);
    ILT_CardTypeList_GetCardTypeListByIndex(img, static_cast<SD_UINT16>(size));
    ILT_Region_GetTimeStampEntry(img);
    char version[32];
    ILT_Header_GetImageVersion(img, version);
    ZVFUZZ_CHECK(std::find(version, version + sizeof version, '\0') != version + sizeof version);

    // Every entry: the copy stays inside the destination and the image.
    std::vector<uint8_t> dest(0x1000, 0xEE);
    const int entries = static_cast<int>(ILT_Header_GetNumOfRegionEntries(img)) - 1;
    for (int i = 0; i < entries && i < 64; ++i) {
        const auto region = ILT_Region_GetRegionByIndex(img, static_cast<SD_UINT16>(i));
        if (!region) break;
        ValidateImageChipRevision(&*region, 0x30);
        ValidateILTRegionLen(img, region->regionType, 0x1000);
        const int rc = GetSpecificImageComponentInBuffer(dest, img, &*region);
        ZVFUZZ_CHECK(rc == 0 || rc == -2);
    }

    // The stamp: a refused table is left exactly as it was.
    std::vector<uint8_t> table = image;
    std::vector<uint8_t> copy(size / 2 + 64, 0xEE);
    std::tm when{};
    when.tm_year = 127;
    if (UdpateTimeStampAt(copy, table, &when) == 0) {
        ZVFUZZ_CHECK(table == image);
        ZVFUZZ_CHECK(std::all_of(copy.begin(), copy.end(), [](uint8_t b) { return b == 0xEE; }));
    } else {
        const size_t length = ILT_Header_GetTableLength(table);
        ZVFUZZ_CHECK(length <= copy.size());
        ZVFUZZ_CHECK(std::all_of(copy.begin() + static_cast<long>(length), copy.end(),
                                 [](uint8_t b) { return b == 0xEE; }));
        ZVFUZZ_CHECK(ILT_Region_GetTimeStampEntry(copy)->dateYear == 2027);
    }
    return 0;
}
