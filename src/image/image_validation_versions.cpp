// Version listing of single Vrel image components.
#include "image/image_validation_versions.h"

#include "frontend/output.h"
#include "image/image_validation_boot_code.h"
#include "image/image_validation_multiboot.h"
#include "image/word_helpers.h"

namespace {

constexpr std::size_t kPepVersionAt = 76;

// Always 0: a component too short for its version bytes has no version.
int PepVersion(ComponentBytes c, SD_UINT8& major, SD_UINT8& minor, SD_UINT8& sub, SD_UINT8& test) {
    if (c.size() < kPepVersionAt + 4) return 0;
    major = c[kPepVersionAt + 3];
    minor = c[kPepVersionAt + 2];
    sub = c[kPepVersionAt + 1];
    test = c[kPepVersionAt];
    return 0;
}

}  // namespace

int GetFCBootCodeVersion(ComponentBytes component, const sHbaIdentifiers& ids, FlashComponentVersion* v,
                         bool expansion) {
    FlashComponentVersion local{};
    FlashComponentVersion& out = v != nullptr ? *v : local;
    if (ValidateVrelFCBootCode(component, ids.deviceISP, &out, expansion) != 0) return IMGVAL_BOOTCODE;
    if (expansion) {
        scfxPrint("BIOS Exp. version: %d.%d.%d", out.BiosExpMajorVersion, out.BiosExpMinorVersion,
                  out.BiosExpSubminorVersion);
        scfxPrint("FCode Exp. version: %d.%d.%d", out.FCodeExpMajorVersion, out.FCodeExpMinorVersion,
                  out.FCodeExpSubminorVersion);
    } else {
        scfxPrint("BIOS version: %d.%d.%d", out.BiosMajorVersion, out.BiosMinorVersion, out.BiosSubminorVersion);
        scfxPrint("FCode version: %d.%d.%d", out.FCodeMajorVersion, out.FCodeMinorVersion, out.FCodeSubminorVersion);
    }
    return 0;
}

int GetRiscFirmwareVersionFromFlashImage(ComponentBytes component, FlashComponentVersion* v) {
    Fw_Header_t h;
    if (v != nullptr && DecodeFwHeader(component, &h)) {
        v->FCFwMajorVersion = HLPR_GetByte0(h.revision[0]);
        v->FCFwMinorVersion = HLPR_GetByte0(h.revision[1]);
        v->FCFwSubminorVersion = HLPR_GetByte0(h.revision[2]);
    }
    return 1;
}

int GetPepFwVersion(ComponentBytes component, FlashComponentVersion* v) {
    FlashComponentVersion local{};
    FlashComponentVersion& o = v != nullptr ? *v : local;
    return PepVersion(component, o.PEPFwMajorVersion, o.PEPFwMinorVersion, o.PEPFwSubminorVersion,
                      o.PEPFwTestVersion);
}

int GetPEPSoftROMVersion(ComponentBytes component, FlashComponentVersion* v) {
    FlashComponentVersion local{};
    FlashComponentVersion& o = v != nullptr ? *v : local;
    return PepVersion(component, o.PEPSoftROMMajorVersion, o.PEPSoftROMMinorVersion,
                      o.PEPSoftROMSubminorVersion, o.PEPSoftROMTestVersion);
}

int GetFlashImageComponentVersion(const ILT_Region_t* region, IltBytes image, FlashComponentVersion* v,
                                  const sHbaIdentifiers& ids) {
    if (region == nullptr) return IMGVAL_OUT_OF_BOUNDS;
    scfxPrint("\nRegion Type=0x%X", region->regionType);
    scfxPrint("Region VerLen=0x%X", region->regionVerLen);
    scfxPrint("SwapModeCardType=0x%04X", region->swapModeCardType);
    const auto component = ILT_Region_GetComponent(image, *region);
    if (!component) {
        VORNLogMessage(VORN_MSG_DEBUG, "GetFlashImageComponentVersion: region 0x%x lies past the image",
                       region->regionType);
        return IMGVAL_OUT_OF_BOUNDS;
    }
    switch (region->regionType) {
        case 0x07:
        case 0x11:
            return GetFCBootCodeVersion(*component, ids, v, region->regionType == 0x11);
        case 0x01:
            GetRiscFirmwareVersionFromFlashImage(*component, v);
            return 0;
        case 0xD1:
            return GetPepFwVersion(*component, v);
        case 0xD2:
            return GetPEPSoftROMVersion(*component, v);
        default:
            return ValidateGenericImages(*region, *component, v, ids);
    }
}
