// Merging the components of a multiboot image for one adapter.
#include "image/image_combination.h"

#include <functional>
#include <optional>

#include "frontend/output.h"
#include "image/ilt_accessors.h"
#include "image/ilt_entry_data.h"
#include "image/image_combination_config_tables.h"

namespace {

using Merge = std::function<SD_UINT8(const ILT_Region_t&)>;

SD_UINT8 Plain(CombinedBytes out, const ILT_Region_t* region, ImageBytes in) {
    return UpdateGenericImageRegion(out, in, region) == 1 ? 0 : COMBINE_OUT_OF_BOUNDS;
}

SD_UINT8 OrFail(SD_INT32 done, SD_UINT8 failure) { return done == 1 ? 0 : failure; }

SD_INT16 CombineLoop(CombinedBytes out, std::span<SD_UINT8> in, SD_INT16 cardType, std::optional<SD_UINT16> chipRev,
                     const char* who, const char* failedLine, const Merge& merge) {
    int count = 0;
    // A negative card type names no adapter: no entry is merged for it.
    const int entries = cardType < 0 ? 0 : static_cast<int>(ILT_Header_GetNumOfRegionEntries(in)) - 1;
    for (int i = 0; i < entries; ++i) {
        const auto region = ILT_Region_GetRegionByIndex(in, static_cast<SD_UINT16>(i));
        if (!region) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s: entry %d cannot be read", who, i);
            return -1;
        }
        if (!CardTypeComapre(region->swapModeCardType, static_cast<SD_UINT16>(cardType))) continue;
        if (chipRev && !HwRevComapre(*chipRev, region->chipRev)) continue;
        const SD_UINT8 rc = merge(*region);
        if (rc != 0) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s", failedLine);
            return rc;
        }
        // Counts share the result with failure codes from 128 up.
        if (++count > COMBINE_MAX_ENTRIES) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s: more than %d entries", who, COMBINE_MAX_ENTRIES);
            return COMBINE_TOO_MANY;
        }
    }
    // Without its table the combined image is no image: never report it combined.
    if (UdpateTimeStamp(out, in) != 1) {
        VORNLogMessage(VORN_MSG_DEBUG, "%s: the image layout table cannot be stamped", who);
        return COMBINE_OUT_OF_BOUNDS;
    }
    return static_cast<SD_INT16>(count);
}

using BufferPatch = SD_UINT8 (*)(std::span<SD_UINT8>, const sHbaIdentifiers*);

SD_INT32 CopyAndPatch(CombinedBytes out, ImageBytes in, const ILT_Region_t* region, const sHbaIdentifiers& ids,
                      BufferPatch patch, const char* who) {
    const auto copy = CopyImageRegion(out, in, region, who);
    if (!copy) return 0;
    const SD_UINT8 st = patch(*copy, &ids);
    if (st != 0) VORNLogMessage(VORN_MSG_DEBUG, "%s: patch refused the region (%u)", who, st);
    return st == 0 ? 1 : 0;
}

void LogIdentity(const char* who, const sHbaIdentifiers& ids) {
    VORNLogMessage(VORN_MSG_DEBUG, "%s: device 0x%04x chip revision 0x%x", who, ids.deviceISP, ids.chipRev);
}

}  // namespace

// ---- Dorne ------------------------------------------------------------------------------------------

SD_UINT8 CombineDorneImage(CombinedBytes out, const ILT_Region_t* region, ImageBytes in, const sHbaIdentifiers& ids) {
    if (region == nullptr) return COMBINE_OUT_OF_BOUNDS;
    LogIdentity("CombineDorneImage", ids);
    switch (region->regionType) {
        case 0x01:
            return OrFail(UpdateCNAFirmware(out, in, region), COMBINE_OUT_OF_BOUNDS);
        case 0x07:
            return OrFail(UpdateCNAFCoEBootCode(out, in, region, ids, ids.deviceISP), COMBINE_BOOTCODE_FAILED);
        case 0x66:
        case 0x9E:
        case 0xD1:
        case 0xD3:
        case 0xE1:
            return Plain(out, region, in);
        default:
            VORNLogMessage(VORN_MSG_DEBUG, "CombineDorneImage: Unrecognized Image region 0x%X...", region->regionType);
            return 0;
    }
}

SD_INT16 CombineDorneImageComponentsInBuffer(CombinedBytes out, std::span<SD_UINT8> in, SD_UINT16, SD_INT16 cardType,
                                             const sHbaIdentifiers& ids, SD_UINT16 adapterChipRev) {
    return CombineLoop(out, in, cardType, adapterChipRev, "CombineDorneImageComponentsInBuffer",
                       "CombineDorneImageComponentsInBuffer: CombineTorviImage failed!",
                       [&](const ILT_Region_t& r) { return CombineDorneImage(out, &r, in, ids); });
}

// ---- Vrel -------------------------------------------------------------------------------------------

SD_INT32 UpdateFWAPreloadImageRegion(CombinedBytes out, ImageBytes in, const ILT_Region_t* region,
                                     const sHbaIdentifiers& ids) {
    return CopyAndPatch(out, in, region, ids, UpdateFWAPreloadBuffer, "UpdateFWAPreloadImageRegion");
}

SD_INT32 UpdateFCBoardCfgImageRegion(CombinedBytes out, ImageBytes in, const ILT_Region_t* region,
                                     const sHbaIdentifiers& ids) {
    return CopyAndPatch(out, in, region, ids, UpdateFBCBuffer, "UpdateFCBoardCfgImageRegion");
}

SD_INT32 UpdatePEPBoardCfgImageRegion(CombinedBytes out, ImageBytes in, const ILT_Region_t* region,
                                      const sHbaIdentifiers& ids) {
    return CopyAndPatch(out, in, region, ids, UpdatePEPBrdCfgBuffer, "UpdatePEPBoardCfgImageRegion");
}

SD_UINT8 CombineVrelImage(CombinedBytes out, const ILT_Region_t* region, ImageBytes in, const sHbaIdentifiers& ids) {
    if (region == nullptr) return COMBINE_OUT_OF_BOUNDS;
    LogIdentity("CombineVrelImage", ids);
    switch (region->regionType) {
        case 0x07:
        case 0x11:
            return OrFail(UpdateCNAFCoEBootCode(out, in, region, ids, ids.deviceISP), COMBINE_BOOTCODE_FAILED);
        case 0x13:
            return OrFail(UpdateFWAPreloadImageRegion(out, in, region, ids), COMBINE_PRELOAD_FAILED);
        case 0xBA:
            return OrFail(UpdateFCBoardCfgImageRegion(out, in, region, ids), COMBINE_FC_BRDCFG_FAILED);
        case 0xCF:
            return OrFail(UpdatePEPBoardCfgImageRegion(out, in, region, ids), COMBINE_PEP_BRDCFG_FAILED);
        case 0x01:
        case 0x9E:
        case 0xD1:
        case 0xD2:
        case 0xD3:
        case 0xE1:
        case 0x101:
        case 0x102:
        case 0x103:
            return Plain(out, region, in);
        default:
            VORNLogMessage(VORN_MSG_DEBUG, "CombineVrelImage: Unrecognized Image region 0x%X...", region->regionType);
            return 0;
    }
}

SD_INT16 CombineVrelImageComponentsInBuffer(CombinedBytes out, std::span<SD_UINT8> in, SD_UINT16, SD_INT16 cardType,
                                            const sHbaIdentifiers& ids, SD_UINT16 adapterChipRev) {
    return CombineLoop(out, in, cardType, adapterChipRev, "CombineVrelImageComponentsInBuffer",
                       "CombineVrelImageComponentsInBuffer: CombineTorviImage failed!",
                       [&](const ILT_Region_t& r) { return CombineVrelImage(out, &r, in, ids); });
}

// ---- Converged -----------------------------------------------------------------------------------------

SD_UINT8 CombineK7RImage(CombinedBytes out, const ILT_Region_t* region, ImageBytes in, const sHbaIdentifiers& ids) {
    if (region == nullptr) return COMBINE_OUT_OF_BOUNDS;
    switch (region->regionType) {
        case 0x07:
            return OrFail(UpdateK7RFCoEBootCode(out, in, region, ids, 0x8021), COMBINE_CNA_BOOTCODE_FAILED);
        case 0x2E:
            return OrFail(UpdateK7RNICBootCode(out, in, region), COMBINE_CNA_REGION_FAILED);
        case 0x4F:
            return OrFail(UpdateK7RiSCSIBootCode(out, in, region, ids, 0x8022), COMBINE_CNA_ISCSI_FAILED);
        case 0x70:
            return OrFail(UpdateCNACRBInitRegion(out, in, region), COMBINE_CNA_REGION_FAILED);
        case 0x71:
            return OrFail(UpdateK7RBoardConfigRegion(out, in, region), COMBINE_CNA_REGION_FAILED);
        case 0x72:
            return OrFail(UpdateCNABootLoaderRegion(out, in, region), COMBINE_CNA_REGION_FAILED);
        case 0x73:
            return OrFail(UpdateCNAPegTuneRegion(out, in, region), COMBINE_CNA_REGION_FAILED);
        case 0x74:
        case 0x97:
            return OrFail(UpdateCNAFirmware(out, in, region), COMBINE_CNA_FIRMWARE_FAILED);
        case 0x78:
        case 0x79:
            return OrFail(UpdateK7RNICBootCode(out, in, region), COMBINE_CNA_BOOTCODE_FAILED);
        case 0x7A:
        case 0x7B:
            return OrFail(UpdateK7RNICPartition(out, in, region), COMBINE_CNA_BOOTCODE_FAILED);
        case 0x7C:
        case 0x7D:
            return OrFail(UpdateK7RiSCSIBootCode(out, in, region, ids, 0x8022), COMBINE_CNA_BOOTCODE_FAILED);
        case 0x7E:
        case 0x7F:
            return OrFail(UpdateK7RFCoEBootCode(out, in, region, ids, 0x8021), COMBINE_CNA_BOOTCODE_FAILED);
        default:
            VORNLogMessage(VORN_MSG_DEBUG, "CombineK7RImage: Unrecognized Image Type...\n");
            return 0;
    }
}

SD_UINT8 CombineTorviImage(CombinedBytes out, const ILT_Region_t* region, ImageBytes in, const sHbaIdentifiers& ids) {
    if (region == nullptr) return COMBINE_OUT_OF_BOUNDS;
    switch (region->regionType) {
        case 0x01:
        case 0x97:
        case 0xA4:
            return OrFail(UpdateCNAFirmware(out, in, region), COMBINE_CNA_FIRMWARE_FAILED);
        case 0x07:
            return OrFail(UpdateCNAFCoEBootCode(out, in, region, ids, 0x2031), COMBINE_CNA_BOOTCODE_FAILED);
        case 0x2E:
            return OrFail(UpdateCNANICBootCode(out, in, region, ids, 0x8030), COMBINE_CNA_REGION_FAILED);
        case 0x4F:
            return OrFail(UpdateCNAiSCSIBootCode(out, in, region, ids, 0x8032), COMBINE_CNA_ISCSI_FAILED);
        case 0x70:
            if (region->chipRev != 0 && region->chipRev != ids.chipRev) return 0;
            return OrFail(UpdateCNACRBInitRegion(out, in, region), COMBINE_CNA_REGION_FAILED);
        case 0x72:
            return OrFail(UpdateCNABootLoaderRegion(out, in, region), COMBINE_CNA_REGION_FAILED);
        case 0x73:
            return OrFail(UpdateCNAPegTuneRegion(out, in, region), COMBINE_CNA_REGION_FAILED);
        case 0xA2:
            return OrFail(UpdateCNAFCoEBootCode(out, in, region, ids, 0x8031), COMBINE_CNA_BOOTCODE_FAILED);
        default:
            VORNLogMessage(VORN_MSG_DEBUG, "CombineTorviImage: Unrecognized Image Type...\n");
            return 0;
    }
}

SD_INT16 CombineK7RImageComponentsInBuffer(CombinedBytes out, std::span<SD_UINT8> in, SD_UINT16, SD_INT16 cardType,
                                           const sHbaIdentifiers& ids) {
    return CombineLoop(out, in, cardType, std::nullopt, "CombineK7RImageComponentsInBuffer",
                       "CombineK7RImageComponentsInBuffer: CombineK7RImage failed!",
                       [&](const ILT_Region_t& r) { return CombineK7RImage(out, &r, in, ids); });
}

SD_INT16 CombineTorviImageComponentsInBuffer(CombinedBytes out, std::span<SD_UINT8> in, SD_UINT16, SD_INT16 cardType,
                                             const sHbaIdentifiers& ids, SD_UINT16 adapterChipRev) {
    return CombineLoop(out, in, cardType, adapterChipRev, "CombineTorviImageComponentsInBuffer",
                       "CombineTorviImageComponentsInBuffer: CombineTorviImage failed!",
                       [&](const ILT_Region_t& r) { return CombineTorviImage(out, &r, in, ids); });
}
