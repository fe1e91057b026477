// Component copies into the combined image.
#include "image/image_combination_copies.h"

#include <cstring>

#include "frontend/output.h"
#include "image/boot_code_chain.h"
#include "image/flash_layout_table.h"
#include "image/rom_chain.h"
#include "image/word_helpers.h"

namespace {

using HeaderPatch = int (*)(std::span<SD_UINT8>, SD_UINT16, SD_UINT16, SD_UINT16, const char*);

// The model text, terminated whatever the record holds.
struct ModelText {
    char text[sizeof(sHbaIdentifiers::acHBAModel) + 1]{};
    explicit ModelText(const sHbaIdentifiers& ids) {
        std::memcpy(text, ids.acHBAModel, sizeof ids.acHBAModel);
    }
};

bool PatchBootCode(std::span<SD_UINT8> copy, HeaderPatch patch, const sHbaIdentifiers& ids, SD_UINT16 deviceID,
                   const char* who) {
    const ModelText model(ids);
    const int st = patch(copy, static_cast<SD_UINT16>(ids.vendorId), static_cast<SD_UINT16>(ids.deviceId), deviceID,
                         model.text);
    if (st != 0) VORNLogMessage(VORN_MSG_DEBUG, "%s: Unable to update PCI headers (%d).", who, st);
    return st == 0;
}

// A chain whose end is found must be followed by a valid locator.
bool LocatorHolds(std::span<const SD_UINT8> copy, const char* who) {
    const SD_UINT8* end = GetBootCodeEnd(copy);
    if (end == nullptr) return true;
    if (ValidateFLTLocator(copy.subspan(static_cast<std::size_t>(end - copy.data()))) == 1) return true;
    VORNLogMessage(VORN_MSG_DEBUG, "%s: Unable to validate FLTDS.", who);
    return false;
}

SD_INT32 Plain(CombinedBytes out, ImageBytes in, const ILT_Region_t* region, const char* who) {
    return CopyImageRegion(out, in, region, who) ? 1 : 0;
}

}  // namespace

std::optional<std::span<SD_UINT8>> CopyImageRegion(CombinedBytes out, ImageBytes in, const ILT_Region_t* region,
                                                   const char* who) {
    if (region == nullptr) return std::nullopt;
    const auto component = ILT_Region_GetComponent(in, *region);
    const std::size_t offset = HLPR_GetDoubleWord(region->offsetLo, region->offsetHi);
    if (!component || offset > out.size() || out.size() - offset < component->size()) {
        VORNLogMessage(VORN_MSG_DEBUG, "%s: region 0x%x (0x%zx bytes at 0x%zx) lies past the image", who,
                       region->regionType, std::size_t{HLPR_GetDoubleWord(region->sizeLo, region->sizeHi)}, offset);
        return std::nullopt;
    }
    std::memmove(out.data() + offset, component->data(), component->size());
    return out.subspan(offset, component->size());
}

SD_INT32 UpdateGenericImageRegion(CombinedBytes out, ImageBytes in, const ILT_Region_t* region) {
    return Plain(out, in, region, "UpdateGenericImageRegion");
}
SD_INT32 UpdateCNABootLoaderRegion(CombinedBytes out, ImageBytes in, const ILT_Region_t* region) {
    return Plain(out, in, region, "UpdateCNABootLoaderRegion");
}
SD_INT32 UpdateK7RBoardConfigRegion(CombinedBytes out, ImageBytes in, const ILT_Region_t* region) {
    return Plain(out, in, region, "UpdateK7RBoardConfigRegion");
}
SD_INT32 UpdateCNAPegTuneRegion(CombinedBytes out, ImageBytes in, const ILT_Region_t* region) {
    return Plain(out, in, region, "UpdateCNAPegTuneRegion");
}
SD_INT32 UpdateCNACRBInitRegion(CombinedBytes out, ImageBytes in, const ILT_Region_t* region) {
    return Plain(out, in, region, "UpdateCNACRBInitRegion");
}
SD_INT32 UpdateCNAFirmware(CombinedBytes out, ImageBytes in, const ILT_Region_t* region) {
    return Plain(out, in, region, "UpdateCNAFirmware");
}
SD_INT32 UpdateK7RNICPartition(CombinedBytes out, ImageBytes in, const ILT_Region_t* region) {
    return Plain(out, in, region, "UpdateK7RNICPartition");
}

SD_INT32 UpdateCNANICBootCode(CombinedBytes out, ImageBytes in, const ILT_Region_t* region, const sHbaIdentifiers&,
                              SD_UINT16 deviceID) {
    VORNLogMessage(VORN_MSG_DEBUG, "UpdateCNANICBootCode: device 0x%04x", deviceID);
    return Plain(out, in, region, "UpdateCNANICBootCode");
}

SD_INT32 UpdateCNAFCoEBootCode(CombinedBytes out, ImageBytes in, const ILT_Region_t* region,
                               const sHbaIdentifiers& ids, SD_UINT16 deviceID) {
    const auto copy = CopyImageRegion(out, in, region, "UpdateCNAFCoEBootCode");
    return copy && PatchBootCode(*copy, UpdateAllPciHeaders, ids, deviceID, "UpdateCNAFCoEBootCode") ? 1 : 0;
}

SD_INT32 UpdateCNAiSCSIBootCode(CombinedBytes out, ImageBytes in, const ILT_Region_t* region,
                                const sHbaIdentifiers& ids, SD_UINT16 deviceID) {
    const auto copy = CopyImageRegion(out, in, region, "UpdateCNAiSCSIBootCode");
    return copy && PatchBootCode(*copy, UpdateiSCSIPciHeaders, ids, deviceID, "UpdateCNAiSCSIBootCode") ? 1
                                                                                                                   : 0;
}

SD_INT32 UpdateK7RNICBootCode(CombinedBytes out, ImageBytes in, const ILT_Region_t* region) {
    const auto copy = CopyImageRegion(out, in, region, "UpdateK7RNICBootCode");
    return copy && LocatorHolds(*copy, "UpdateK7RNICBootCode") ? 1 : 0;
}

SD_INT32 UpdateK7RFCoEBootCode(CombinedBytes out, ImageBytes in, const ILT_Region_t* region,
                               const sHbaIdentifiers& ids, SD_UINT16 deviceID) {
    const auto copy = CopyImageRegion(out, in, region, "UpdateK7RFCoEBootCode");
    return copy && PatchBootCode(*copy, UpdateAllPciHeaders, ids, deviceID, "UpdateK7RFCoEBootCode") &&
                   LocatorHolds(*copy, "UpdateK7RFCoEBootCode")
               ? 1
               : 0;
}

SD_INT32 UpdateK7RiSCSIBootCode(CombinedBytes out, ImageBytes in, const ILT_Region_t* region,
                                const sHbaIdentifiers& ids, SD_UINT16 deviceID) {
    const auto copy = CopyImageRegion(out, in, region, "UpdateK7RiSCSIBootCode");
    return copy && PatchBootCode(*copy, UpdateiSCSIPciHeaders, ids, deviceID, "UpdateK7RiSCSIBootCode") &&
                   LocatorHolds(*copy, "UpdateK7RiSCSIBootCode")
               ? 1
               : 0;
}
