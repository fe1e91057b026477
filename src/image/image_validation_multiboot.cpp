// Dorne and Vrel component checks and the counts of fitting entries.
#include "image/image_validation_multiboot.h"

#include "frontend/output.h"
#include "image/image_validation_boot_code.h"
#include "image/image_validation_loop.h"
#include "image/word_helpers.h"

namespace {

constexpr SD_UINT32 kDorneRiscSupported = 64;
// The Vrel chips' firmware may declare any of these, tried in this order.
constexpr SD_UINT32 kVrelRiscSupported[] = {32, 16, 64, 128};

// Where the component versions sit: four bytes, highest first.
constexpr std::size_t kTableVersionAt = 4;    // configuration tables, SerDes
constexpr std::size_t kPepVersionAt = 76;     // PEP firmware and SoftROM

struct FourVersion {
    SD_UINT8 major, minor, sub, test;
};

// The version bytes at `at` (major at at+3 down to test at at); nothing
// when the component is too short for them.
std::optional<FourVersion> VersionDown(ComponentBytes c, std::size_t at) {
    if (c.size() < at + 4) return std::nullopt;
    return FourVersion{c[at + 3], c[at + 2], c[at + 1], c[at]};
}

int CountFitting(IltBytes buffer, SD_INT16 cardType, std::optional<SD_UINT16> chipRev, const char* who) {
    if (cardType < 0) return 0;
    const int entries = static_cast<int>(ILT_Header_GetNumOfRegionEntries(buffer)) - 1;
    int count = 0;
    for (int i = 0; i < entries; ++i) {
        const auto r = ILT_Region_GetRegionByIndex(buffer, static_cast<SD_UINT16>(i));
        if (!r) break;
        if (!CardTypeComapre(r->swapModeCardType, static_cast<SD_UINT16>(cardType))) continue;
        if (chipRev && !HwRevComapre(*chipRev, r->chipRev)) continue;
        ++count;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "%s: Found %d images for cardtype %d", who, count, cardType);
    return count > IMGVAL_MAX_COMPONENTS ? -1 : count;
}

}  // namespace

SD_INT8 HowManyImagesForCardTypeGeneric(IltBytes buffer, SD_INT16 cardType, SD_UINT16 adapterChipRev) {
    return static_cast<SD_INT8>(CountFitting(buffer, cardType, adapterChipRev, "HowManyImagesForCardTypeGeneric"));
}

SD_INT8 HowManyImagesForCardType(IltBytes buffer, SD_INT16 cardType) {
    return static_cast<SD_INT8>(CountFitting(buffer, cardType, std::nullopt, "HowManyImagesForCardType"));
}

int ValidateDorneSignatureRegion(ComponentBytes) { return 0; }

int ValidateDorneImages(const ILT_Region_t& region, ComponentBytes component, MultibootVersions* v,
                        const sHbaIdentifiers& ids) {
    switch (region.regionType) {
        case 0x9E:
            return ValidateDorneSignatureRegion(component) == 0 ? 0 : IMGVAL_SIGNATURE_REGION;
        case 0x07:
            return ValidateDorneFCBootCode(component, ids.deviceISP, v) == 0 ? 0 : IMGVAL_BOOTCODE;
        case 0x01: {
            Fw_Header_t h;
            const int fits = ValidateFirmwareGeneric(component, region, kDorneRiscSupported, &h);
            if (fits || DecodeFwHeader(component, &h)) {
                // The version is recorded whether or not the header fits.
                if (v != nullptr) {
                    v->NewRiscFwVersionMajor = HLPR_GetByte0(h.revision[0]);
                    v->NewRiscFwVersionMinor = HLPR_GetByte0(h.revision[1]);
                    v->NewRiscFwVersionSubMinor = HLPR_GetByte0(h.revision[2]);
                }
            }
            return fits ? 0 : IMGVAL_RISC_FW;
        }
        case 0x66:
            return 0;
        // These checks always accept: a component too short for its version
        // bytes passes without a version, and nothing past it is read.
        case 0xD1:
        case 0xD2: {
            const auto ver = VersionDown(component, kPepVersionAt);
            if (!ver) return 0;
            VORNLogMessage(VORN_MSG_DEBUG, "ValidateDorneImages: PEP region 0x%x version %d.%d.%d.%d",
                           region.regionType, ver->major, ver->minor, ver->sub, ver->test);
            return 0;
        }
        case 0xD3:
        case 0xE1: {
            Fw_Header_t h;
            if (!DecodeFwHeader(component, &h)) return 0;
            if (v != nullptr) {
                v->NewMpiFwVersionMajor = HLPR_GetByte0(h.revision[0]);
                v->NewMpiFwVersionMinor = HLPR_GetByte0(h.revision[1]);
                v->NewMpiFwVersionSubMinor = HLPR_GetByte0(h.revision[2]);
            }
            return 0;
        }
        default:
            VORNLogMessage(VORN_MSG_DEBUG, "ValidateDorneImages: Unrecognized Image Type...");
            return 0;
    }
}

SD_INT8 ValidateDorneImageComponents(IltBytes buffer, SD_UINT16, SD_INT16 cardType, MultibootVersions* v,
                                     const sHbaIdentifiers& ids) {
    if (buffer.empty()) return 0;
    CopyImageHeaderVersions(buffer, v);
    return static_cast<SD_INT8>(ValidateImageComponentsLoop(
        buffer, cardType, ids.chipRev, "ValidateDorneImageComponents",
        [&](const ILT_Region_t& r, ComponentBytes c) { return ValidateDorneImages(r, c, v, ids); }));
}

namespace {

// Four version bytes into four fields. These checks always accept: a
// component too short for its version bytes passes without a version.
int RecordFour(ComponentBytes c, std::size_t at, FlashComponentVersion* v, SD_UINT8 FlashComponentVersion::*major,
               SD_UINT8 FlashComponentVersion::*minor, SD_UINT8 FlashComponentVersion::*sub,
               SD_UINT8 FlashComponentVersion::*test) {
    const auto ver = VersionDown(c, at);
    if (!ver) return 0;
    if (v != nullptr) {
        v->*major = ver->major;
        v->*minor = ver->minor;
        v->*sub = ver->sub;
        v->*test = ver->test;
    }
    return 0;
}

// The MPI firmware and SoftROM versions: the low bytes of the header's
// revision words; always accepted, without a version when there is no header.
int RecordMpi(ComponentBytes c, FlashComponentVersion* v, SD_UINT8 FlashComponentVersion::*major,
              SD_UINT8 FlashComponentVersion::*minor, SD_UINT8 FlashComponentVersion::*sub) {
    Fw_Header_t h;
    if (!DecodeFwHeader(c, &h)) return 0;
    if (v != nullptr) {
        v->*major = HLPR_GetByte0(h.revision[0]);
        v->*minor = HLPR_GetByte0(h.revision[1]);
        v->*sub = HLPR_GetByte0(h.revision[2]);
    }
    return 0;
}

int ValidateVrelRisc(const ILT_Region_t& region, ComponentBytes component, FlashComponentVersion* v) {
    for (const SD_UINT32 supported : kVrelRiscSupported) {
        Fw_Header_t h;
        const int fits = ValidateFirmwareGeneric(component, region, supported, &h);
        if ((fits || DecodeFwHeader(component, &h)) && v != nullptr) {
            v->FCFwMajorVersion = HLPR_GetByte0(h.revision[0]);
            v->FCFwMinorVersion = HLPR_GetByte0(h.revision[1]);
            v->FCFwSubminorVersion = HLPR_GetByte0(h.revision[2]);
        }
        if (fits) return 0;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "ValidateGenericImages: Unknown firmware supported value!");
    return IMGVAL_RISC_FW;
}

}  // namespace

int ValidateGenericImages(const ILT_Region_t& region, ComponentBytes c, FlashComponentVersion* v,
                          const sHbaIdentifiers& ids) {
    using V = FlashComponentVersion;
    switch (region.regionType) {
        case 0x01:
            return ValidateVrelRisc(region, c, v);
        case 0x07:
        case 0x11:
            return ValidateVrelFCBootCode(c, ids.deviceISP, v, region.regionType == 0x11) == 0 ? 0 : IMGVAL_BOOTCODE;
        case 0x13:
            return RecordFour(c, kTableVersionAt, v, &V::FwAreaMajorVersion, &V::FwAreaMinorVersion,
                              &V::FwAreaSubminorVersion, &V::FwAreaTestVersion);
        case 0x9E:
            return ValidateVrelSignatureRegion(c, v);
        case 0xBA:
            return RecordFour(c, kTableVersionAt, v, &V::FCBoardCfgMajorVersion,
                              &V::FCBoardCfgMinorVersion, &V::FCBoardCfgSubminorVersion, &V::FCBoardCfgTestVersion);
        case 0xCF:
            return RecordFour(c, kTableVersionAt, v, &V::PEPBoardCfgMajorVersion,
                              &V::PEPBoardCfgMinorVersion, &V::PEPBoardCfgSubminorVersion,
                              &V::PEPBoardCfgTestVersion);
        case 0xD1:
            return RecordFour(c, kPepVersionAt, v, &V::PEPFwMajorVersion, &V::PEPFwMinorVersion,
                              &V::PEPFwSubminorVersion, &V::PEPFwTestVersion);
        case 0xD2:
            return RecordFour(c, kPepVersionAt, v, &V::PEPSoftROMMajorVersion,
                              &V::PEPSoftROMMinorVersion, &V::PEPSoftROMSubminorVersion, &V::PEPSoftROMTestVersion);
        case 0xD3:
            return RecordMpi(c, v, &V::MPIFwMajorVersion, &V::MPIFwMinorVersion,
                             &V::MPIFwSubminorVersion);
        case 0x101:
            return RecordMpi(c, v, &V::MPISoftROMMajorVersion, &V::MPISoftROMMinorVersion,
                             &V::MPISoftROMSubminorVersion);
        case 0x102:
            return RecordFour(c, kTableVersionAt, v, &V::PCIeSerdesMajorVersion,
                              &V::PCIeSerdesMinorVersion, &V::PCIeSerdesSubminorVersion, &V::PCIeSerdesTestVersion);
        case 0x103:
            return 0;
        default:
            VORNLogMessage(VORN_MSG_DEBUG, "ValidateGenericImages: Unrecognized Image Type...");
            return 0;
    }
}

SD_INT8 ValidateVrelImageComponents(IltBytes buffer, SD_UINT16, SD_INT16 cardType, FlashComponentVersion* v,
                                    const sHbaIdentifiers& ids) {
    if (buffer.empty()) return 0;
    CopyImageHeaderVersions(buffer, v);
    return static_cast<SD_INT8>(ValidateImageComponentsLoop(
        buffer, cardType, ids.chipRev, "ValidateVrelImageComponents",
        [&](const ILT_Region_t& r, ComponentBytes c) { return ValidateGenericImages(r, c, v, ids); }));
}

SD_INT8 ValidateGenericImageComponents(IltBytes buffer, FlashComponentVersion* v, const sHbaIdentifiers& ids) {
    if (buffer.empty()) return 0;
    CopyImageHeaderVersions(buffer, v);
    return static_cast<SD_INT8>(ValidateEveryImageComponent(
        buffer, "ValidateGenericImageComponents",
        [&](const ILT_Region_t& r, ComponentBytes c) { return ValidateGenericImages(r, c, v, ids); }));
}
