// Family checks of a multiboot image's layout table.
#include "image/image_layout_table.h"

#include <algorithm>
#include <array>
#include <initializer_list>

#include "frontend/output.h"
#include "image/card_types.h"
#include "image/ilt_entry_data.h"
#include "image/word_helpers.h"

namespace {

using InitList = void (*)(std::span<SD_UINT32>, SD_UINT16);

struct Family {
    const char* headerName;
    const char* countName;
    InitList init;
    std::size_t slots;
    bool k7r;   // chip revision 0 skips the version and region checks
};

const Family kK7R{"ValidateILTImageHeader", "ValidateILTImageRegionsToUpdate", ILT_InitK7RRegionsToUpdate,
                  ILT_K7R_REGION_SLOTS, true};
const Family kTorvi{"ValidateTorviILTImageHeader", "ValidateTorviILTImageRegionsToUpdate",
                    ILT_InitTorviRegionsToUpdate, ILT_TORVI_REGION_SLOTS, false};
const Family kPemra{"ValidatePemraILTImageHeader", "ValidatePemraILTImageRegionsToUpdate",
                    ILT_InitPemraRegionsToUpdate, ILT_PEMRA_REGION_SLOTS, false};
const Family kDorne{"ValidateDorneILTImageHeader", "ValidateDorneILTImageRegionsToUpdate",
                    ILT_InitDorneSecuredOnlineRegionsToUpdate, ILT_DORNE_REGION_SLOTS, false};
const Family kVrel{"ValidateVrelILTImageHeader", "ValidateVrelILTImageRegionsToUpdate",
                   ILT_InitVrelOnlineRegionsToUpdate, ILT_VREL_REGION_SLOTS, false};

void FillList(std::span<SD_UINT32> array, std::initializer_list<SD_UINT32> codes, const char* name) {
    std::fill(array.begin(), array.end(), 0u);
    std::copy_n(codes.begin(), std::min(codes.size(), array.size()), array.begin());
    for (std::size_t i = 0; i < array.size(); ++i)
        VORNLogMessage(VORN_MSG_DEBUG, "%s: [%zu] = 0x%x", name, i, array[i]);
}

// Number of region entries, the time stamp not counted.
int RegionEntryCount(IltBytes buffer) { return static_cast<int>(ILT_Header_GetNumOfRegionEntries(buffer)) - 1; }

void LogHeader(const char* name, IltBytes buffer) {
    char version[32];
    VORNLogMessage(VORN_MSG_DEBUG, "%s: Image header size=%d", name, ILT_Header_GetImageHeaderSize(buffer));
    VORNLogMessage(VORN_MSG_DEBUG, "%s: Table version=%u length=%u checksum=0x%x entries=%u", name,
                   ILT_Header_GetTableVersion(buffer), ILT_Header_GetTableLength(buffer),
                   ILT_Header_GetTableCheckSum(buffer), ILT_Header_GetNumOfRegionEntries(buffer));
    VORNLogMessage(VORN_MSG_DEBUG, "%s: Image version=%s", name, ILT_Header_GetImageVersion(buffer, version));
}

// Signature and version as both kinds of check take them; 0 to go on.
int CheckSignatureAndVersion(const Family& f, const char* name, IltBytes buffer, SD_UINT16 chipRev) {
    if (buffer.size() < ILT_HEADER_SIZE) {
        VORNLogMessage(VORN_MSG_DEBUG, "%s: Image buffer too small", name);
        return ILT_SHORT_OR_NO_CARD_TYPE;
    }
    if (!ILT_Header_CompareSignature(buffer)) {
        VORNLogMessage(VORN_MSG_DEBUG, "%s: ILT signature not match!", name);
        return ILT_BAD_SIGNATURE;
    }
    LogHeader(name, buffer);
    if (!(f.k7r && chipRev == 0) && !ILT_Header_IsTableVersionMatched(buffer, ILT_MAX_TABLE_VERSION)) {
        VORNLogMessage(VORN_MSG_DEBUG, "%s: ILT table version not match!", name);
        return ILT_TABLE_VERSION_MISMATCH;
    }
    if (!ILT_IsTableWithinBuffer(buffer)) {
        VORNLogMessage(VORN_MSG_DEBUG, "%s: Image layout table reaches past the %zu-byte image", name,
                       buffer.size());
        return ILT_SHORT_OR_NO_CARD_TYPE;
    }
    return ILT_OK;
}

// Each required code that has entries must have one that fits the chip
// revision; the first fitting entry ends the search for that code.
int CheckRequiredRegions(const Family& f, IltBytes buffer, SD_UINT16 chipRev) {
    std::array<SD_UINT32, ILT_VREL_REGION_SLOTS> slots{};
    const std::span<SD_UINT32> list = std::span(slots).first(f.slots);
    f.init(list, chipRev);
    const int count = RegionEntryCount(buffer);
    for (const SD_UINT32 code : list) {
        bool tested = false;
        bool passed = false;
        for (int i = 0; i < count && !passed; ++i) {
            const auto region = ILT_Region_GetRegionByIndex(buffer, static_cast<SD_UINT16>(i));
            if (!region || region->regionType != code) continue;
            tested = true;
            const int status = ValidateImageChipRevision(&*region, chipRev);
            if (status == 0) {
                passed = true;
                VORNLogMessage(VORN_MSG_DEBUG, "%s: Region 0x%x is to be updated", f.headerName, code);
            } else {
                VORNLogMessage(VORN_MSG_DEBUG, "%s: Skipping region 0x%x with status=%d", f.headerName, code, status);
            }
        }
        if (tested && !passed) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s: No entry of region 0x%x fits chip revision 0x%x", f.headerName, code,
                           chipRev);
            return ILT_CHIP_REVISION_MISMATCH;
        }
    }
    return ILT_OK;
}

int CheckCardType(const char* name, IltBytes buffer, SD_UINT32 ssdid, SD_UINT32 ssvid) {
    const SD_UINT16 lists = ILT_CardType_Header_GetNumOfCardTypeList(buffer);
    VORNLogMessage(VORN_MSG_DEBUG, "%s: Number of card type lists=%u", name, lists);
    auto pos = ILT_CardTypeList_First(buffer);
    for (SD_UINT32 i = 0; i < lists && pos; ++i) {
        if (i > 0) pos = ILT_CardTypeList_Next(buffer, *pos);
        if (pos)
            VORNLogMessage(VORN_MSG_DEBUG, "%s: List %u for card type 0x%x has %u entries", name, i,
                           pos->list.listForCardType, pos->list.noEntriesInList);
    }
    if (!ILT_CardTypeList_SearchSignatureInDefaultCardList(buffer, ssdid, ssvid)) {
        VORNLogMessage(VORN_MSG_DEBUG, "%s: No matching card type (Signature not OK)", name);
        return ILT_SHORT_OR_NO_CARD_TYPE;
    }
    const SD_INT16 cardType = ILT_CardTypeList_GetMyCardTypeFromCardList(buffer, ssdid, ssvid);
    if (cardType == CARD_TYPE_NONE) {
        VORNLogMessage(VORN_MSG_DEBUG, "%s: No matching card type!", name);
        return ILT_SHORT_OR_NO_CARD_TYPE;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "%s: Current card type=0x%x", name, static_cast<SD_UINT16>(cardType));
    return ILT_OK;
}

int CheckHeader(const Family& f, SD_UINT32 ssdid, SD_UINT32 ssvid, IltBytes buffer, SD_UINT16 chipRev) {
    if (int status = CheckSignatureAndVersion(f, f.headerName, buffer, chipRev); status != ILT_OK) return status;
    // A component reaching past the image would be read past it by the
    // component checks and written short by the engines.
    if (!ILT_AreComponentsWithinBuffer(buffer)) {
        VORNLogMessage(VORN_MSG_DEBUG, "%s: A component reaches past the %zu-byte image", f.headerName,
                       buffer.size());
        return ILT_SHORT_OR_NO_CARD_TYPE;
    }
    if (!(f.k7r && chipRev == 0)) {
        if (int status = CheckRequiredRegions(f, buffer, chipRev); status != ILT_OK) return status;
    }
    return CheckCardType(f.headerName, buffer, ssdid, ssvid);
}

int CountRegions(const Family& f, IltBytes buffer, std::span<const SD_UINT32> sequence, SD_UINT16 iMaxSeqSize,
                 SD_UINT16 chipRev) {
    if (buffer.empty()) return ILT_OK;
    if (int status = CheckSignatureAndVersion(f, f.countName, buffer, chipRev); status != ILT_OK) return status;
    const int codes = std::min(static_cast<int>(iMaxSeqSize) - 1, static_cast<int>(sequence.size()));
    int matched = 0;
    if (!(f.k7r && chipRev == 0)) {
        const int count = RegionEntryCount(buffer);
        for (int k = 0; k < codes; ++k) {
            for (int i = 0; i < count; ++i) {
                const auto region = ILT_Region_GetRegionByIndex(buffer, static_cast<SD_UINT16>(i));
                if (region && region->regionType == sequence[static_cast<std::size_t>(k)]) {
                    ++matched;
                    break;
                }
            }
        }
    }
    VORNLogMessage(VORN_MSG_DEBUG, "%s: numberOfMatchedRegion=%d, max seq size=%d", f.countName, matched,
                   static_cast<int>(iMaxSeqSize) - 1);
    return ILT_OK;
}

}  // namespace

void ILT_InitK7RRegionsToUpdate(std::span<SD_UINT32> array, SD_UINT16 chipRevision) {
    const SD_UINT32 firmware = chipRevision == 0x54 ? 0x74 : 0x97;
    FillList(array, {0x07, 0x4F, 0x2E, 0x70, 0x72, 0x73, firmware, 0x81}, "ILT_InitK7RRegionsToUpdate");
}

void ILT_InitTorviRegionsToUpdate(std::span<SD_UINT32> array, SD_UINT16) {
    FillList(array, {0x07, 0x2E, 0xA2, 0x4F, 0x70, 0x72, 0x73, 0xA4, 0x01, 0x97, 0x81, 0x14, 0x16},
             "ILT_InitTorviRegionsToUpdate");
}

void ILT_InitPemraRegionsToUpdate(std::span<SD_UINT32> array, SD_UINT16) {
    FillList(array, {0x2E, 0xA2, 0x4F, 0x70, 0x72, 0x73, 0xB1, 0xA3, 0x97, 0x81}, "ILT_InitPemraRegionsToUpdate");
}

void ILT_InitDorneSecuredOnlineRegionsToUpdate(std::span<SD_UINT32> array, SD_UINT16) {
    FillList(array, {0x9E, 0x07, 0xD3, 0xD1, 0x67, 0x01, 0x95, 0x96, 0x14, 0x16, 0xD4, 0xD6},
             "ILT_InitDorneSecuredOnlineRegionsToUpdate");
}

void ILT_InitVrelOnlineRegionsToUpdate(std::span<SD_UINT32> array, SD_UINT16) {
    FillList(array, {0x9E, 0x07, 0xD3, 0xD1, 0x67, 0x01, 0x95, 0x96, 0x14, 0x16, 0xD4, 0xD6},
             "ILT_InitVrelOnlineRegionsToUpdate");
}

int ValidateILTImageHeader(SD_UINT32 subsysDeviceId, SD_UINT32 subsysVendorId, IltBytes buffer,
                           SD_UINT16 adapterChipRev) {
    return CheckHeader(kK7R, subsysDeviceId, subsysVendorId, buffer, adapterChipRev);
}

int ValidateTorviILTImageHeader(SD_UINT32 subsysDeviceId, SD_UINT32 subsysVendorId, IltBytes buffer,
                                SD_UINT16 adapterChipRev) {
    return CheckHeader(kTorvi, subsysDeviceId, subsysVendorId, buffer, adapterChipRev);
}

int ValidatePemraILTImageHeader(SD_UINT32 subsysDeviceId, SD_UINT32 subsysVendorId, IltBytes buffer,
                                SD_UINT16 adapterChipRev) {
    return CheckHeader(kPemra, subsysDeviceId, subsysVendorId, buffer, adapterChipRev);
}

int ValidateDorneILTImageHeader(SD_UINT32 subsysDeviceId, SD_UINT32 subsysVendorId, IltBytes buffer,
                                SD_UINT16 adapterChipRev) {
    return CheckHeader(kDorne, subsysDeviceId, subsysVendorId, buffer, adapterChipRev);
}

int ValidateVrelILTImageHeader(SD_UINT32 subsysDeviceId, SD_UINT32 subsysVendorId, IltBytes buffer,
                               SD_UINT16 adapterChipRev) {
    return CheckHeader(kVrel, subsysDeviceId, subsysVendorId, buffer, adapterChipRev);
}

int ValidateILTImageRegionsToUpdate(IltBytes buffer, std::span<const SD_UINT32> flashUpdateSequence,
                                    SD_UINT16 iMaxSeqSize, SD_UINT16 adapterChipRev) {
    return CountRegions(kK7R, buffer, flashUpdateSequence, iMaxSeqSize, adapterChipRev);
}

int ValidateTorviILTImageRegionsToUpdate(IltBytes buffer, std::span<const SD_UINT32> flashUpdateSequence,
                                         SD_UINT16 iMaxSeqSize, SD_UINT16 adapterChipRev) {
    return CountRegions(kTorvi, buffer, flashUpdateSequence, iMaxSeqSize, adapterChipRev);
}

int ValidatePemraILTImageRegionsToUpdate(IltBytes buffer, std::span<const SD_UINT32> flashUpdateSequence,
                                         SD_UINT16 iMaxSeqSize, SD_UINT16 adapterChipRev) {
    return CountRegions(kPemra, buffer, flashUpdateSequence, iMaxSeqSize, adapterChipRev);
}

int ValidateDorneILTImageRegionsToUpdate(IltBytes buffer, std::span<const SD_UINT32> flashUpdateSequence,
                                         SD_UINT16 iMaxSeqSize, SD_UINT16 adapterChipRev) {
    return CountRegions(kDorne, buffer, flashUpdateSequence, iMaxSeqSize, adapterChipRev);
}

int ValidateVrelILTImageRegionsToUpdate(IltBytes buffer, std::span<const SD_UINT32> flashUpdateSequence,
                                        SD_UINT16 iMaxSeqSize, SD_UINT16 adapterChipRev) {
    return CountRegions(kVrel, buffer, flashUpdateSequence, iMaxSeqSize, adapterChipRev);
}

int ValidateILTRegionLen(IltBytes buffer, SD_UINT32 regionCode, SD_UINT32 flashRegionSize) {
    const int count = RegionEntryCount(buffer);
    for (int i = 0; i < count; ++i) {
        const auto region = ILT_Region_GetRegionByIndex(buffer, static_cast<SD_UINT16>(i));
        if (!region) break;   // entries past the buffer are not read
        if (region->regionType != regionCode) continue;
        const SD_UINT32 size = HLPR_GetDoubleWord(region->sizeLo, region->sizeHi);
        if (size > flashRegionSize) {
            VORNLogMessage(VORN_MSG_DEBUG, "ValidateILTRegionLen: Incorrect region size!!!");
            VORNLogMessage(VORN_MSG_DEBUG, "ValidateILTRegionLen: region 0x%x entry 0x%x bytes, flash 0x%x bytes",
                           regionCode, size, flashRegionSize);
            return ILT_REGION_TOO_LARGE;
        }
        return ILT_OK;
    }
    return ILT_OK;
}

int GetILTImageBuildDate(IltBytes buffer, MultibootVersions& versions) {
    const auto header = ILT_Header_Get(buffer);
    if (!header) return ILT_SHORT_OR_NO_CARD_TYPE;
    if (!ILT_Header_CompareSignature(buffer)) return ILT_BAD_SIGNATURE;
    versions.ImageBuildMonth = header->imageBuildMonth;
    versions.ImageBuildDay = header->imageBuildDay;
    versions.ImageBuildYear = header->imageBuildYear;
    return ILT_OK;
}
