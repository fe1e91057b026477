// Torvi, Pemra, K7R and first-generation component checks.
#include "image/image_validation_converged.h"

#include "frontend/output.h"
#include "image/boot_code_chain.h"
#include "image/flash_layout_table.h"
#include "image/image_validation_boot_code.h"
#include "image/image_validation_loop.h"
#include "image/rom_chain.h"
#include "image/word_helpers.h"

namespace {

using V = MultibootVersions;
using HeaderCheck = int (*)(std::span<const SD_UINT8>, SD_UINT16);
using VersionReader = int (*)(ComponentBytes, SD_UINT16, MultibootVersions*);

struct BootCodeRule {
    SD_UINT16 deviceId;
    HeaderCheck headers;
    VersionReader versions;
    bool locator;   // a flash-layout locator follows the chain (K7R, first generation)
    int failure;
};

// The locator after the chain's end, when the chain has one, must be valid.
bool LocatorAfterChainHolds(ComponentBytes c) {
    const SD_UINT8* end = GetBootCodeEnd(c);
    if (end == nullptr) return true;
    const std::size_t at = static_cast<std::size_t>(end - c.data());
    if (ValidateFLTLocator(c.subspan(at)) == 1) return true;
    VORNLogMessage(VORN_MSG_DEBUG, "Boot code: no valid flash layout locator after the ROM chain");
    return false;
}

int CheckBootCode(ComponentBytes c, const BootCodeRule& rule, MultibootVersions* v) {
    if (rule.headers(c, rule.deviceId) != 1) return rule.failure;
    if (rule.versions(c, rule.deviceId, v) != 0) return rule.failure;
    if (rule.locator && !LocatorAfterChainHolds(c)) return rule.failure;
    return 0;
}

int CheckRisc(const ILT_Region_t& r, ComponentBytes c, SD_UINT32 supported, MultibootVersions* v, bool fcoe) {
    Fw_Header_t h;
    const int fits = supported == 8 ? ValidateFirmware(c, r, &h) : ValidateFirmwareGeneric(c, r, supported, &h);
    if ((fits || DecodeFwHeader(c, &h)) && v != nullptr) {
        (fcoe ? v->NewFCoERiscFwVersionMajor : v->NewRiscFwVersionMajor) = HLPR_GetByte0(h.revision[0]);
        (fcoe ? v->NewFCoERiscFwVersionMinor : v->NewRiscFwVersionMinor) = HLPR_GetByte0(h.revision[1]);
        (fcoe ? v->NewFCoERiscFwVersionSubMinor : v->NewRiscFwVersionSubMinor) = HLPR_GetByte0(h.revision[2]);
    }
    return fits ? 0 : IMGVAL_RISC_FW;
}

struct TrailerRule {
    SD_UINT32 signature;
    int failure;
    SD_UINT8 V::*major;
    SD_UINT8 V::*minor;
    SD_UINT8 V::*sub;
};

constexpr TrailerRule kCrbInit{CNA_CRBINIT_SIGNATURE, IMGVAL_CRBINIT, &V::NewCRBinitVersionMajor,
                               &V::NewCRBinitVersionMinor, &V::NewCRBinitVersionSubMinor};
constexpr TrailerRule kBootLoader{CNA_BOOTLOADER_SIGNATURE, IMGVAL_BOOTLOADER, &V::NewBootlaoderVersionMajor,
                                  &V::NewBootlaoderVersionMinor, &V::NewBootlaoderVersionSubMinor};
constexpr TrailerRule kPegtune{CNA_PEGTUNE_SIGNATURE, IMGVAL_PEGTUNE, &V::NewPegtuneVersionMajor,
                               &V::NewPegtuneVersionMinor, &V::NewPegtuneVersionSubMinor};
constexpr TrailerRule kFirmware{CNA_FIRMWARE_SIGNATURE, IMGVAL_CNA_FW, &V::NewK7RFirmwareVersionMajor,
                                &V::NewK7RFirmwareVersionMinor, &V::NewK7RFirmwareVersionSubMinor};

int Record(const TrailerRule& rule, bool holds, const SD_UINT8 ver[3], MultibootVersions* v) {
    if (!holds) return rule.failure;
    if (v != nullptr) {
        v->*rule.major = ver[0];
        v->*rule.minor = ver[1];
        v->*rule.sub = ver[2];
    }
    return 0;
}

// `size` 0: the trailer ends the component; else the component has that fixed size.
int CheckTrailerAtEnd(ComponentBytes c, std::size_t size, const TrailerRule& rule, MultibootVersions* v) {
    SD_UINT8 ver[3]{};
    return Record(rule, ValidateCnaTrailerAtEnd(c, size, rule.signature, ver) == 1, ver, v);
}

int CheckFirmwareTrailer(ComponentBytes c, MultibootVersions* v) {
    SD_UINT8 ver[3]{};
    return Record(kFirmware, ValidateCnaTrailerAtStart(c, kFirmware.signature, ver) == 1, ver, v);
}

// Torvi and Pemra differ only in their boot-code device ids and in the
// Pemra's accepted minidump and reset-sequence regions.
struct ConvergedFamily {
    const char* name;
    const BootCodeRule* fcBoot;    // 0x07 (Torvi only)
    BootCodeRule nicBoot;          // 0x2E
    BootCodeRule iscsiBoot;        // 0x4F
    BootCodeRule fcoeBoot;         // 0xA2
};

constexpr BootCodeRule kTorviFcBoot{0x2031, ValidateFCoEPciHeaders, GetTorviImageVersions, false,
                                    IMGVAL_NIC_FC_BOOTCODE};
constexpr ConvergedFamily kTorvi{
    "ValidateTorviImages", &kTorviFcBoot,
    {0x8030, ValidateNICPciHeaders, GetTorviImageVersions, false, IMGVAL_NIC_FC_BOOTCODE},
    {0x8032, ValidateiSCSIPciHeaders, GetTorviImageVersions, false, IMGVAL_FCOE_ISCSI_BOOTCODE},
    {0x8031, ValidateFCoEPciHeaders, GetTorviImageVersions, false, IMGVAL_FCOE_ISCSI_BOOTCODE}};
constexpr ConvergedFamily kPemra{
    "ValidatePemraImages", nullptr,
    {0x8040, ValidateNICPciHeaders, GetPemraImageVersions, false, IMGVAL_NIC_FC_BOOTCODE},
    {0x8042, ValidateiSCSIPciHeaders, GetPemraImageVersions, false, IMGVAL_FCOE_ISCSI_BOOTCODE},
    {0x8044, ValidateFCoEPciHeaders, GetPemraImageVersions, false, IMGVAL_FCOE_ISCSI_BOOTCODE}};

int ValidateConvergedFamily(const ConvergedFamily& f, const ILT_Region_t& r, ComponentBytes c,
                            MultibootVersions* v) {
    switch (r.regionType) {
        case 0x01: return CheckRisc(r, c, 0x20, v, false);
        case 0x07:
            if (f.fcBoot != nullptr) return CheckBootCode(c, *f.fcBoot, v);
            break;
        case 0x2E: return CheckBootCode(c, f.nicBoot, v);
        case 0x4F: return CheckBootCode(c, f.iscsiBoot, v);
        case 0xA2: return CheckBootCode(c, f.fcoeBoot, v);
        case 0xA4: return CheckRisc(r, c, 0x10, v, true);
        case 0x70: return CheckTrailerAtEnd(c, 0, kCrbInit, v);
        case 0x72: return CheckTrailerAtEnd(c, 0, kBootLoader, v);
        case 0x73: return CheckTrailerAtEnd(c, 0, kPegtune, v);
        case 0x97: return CheckFirmwareTrailer(c, v);
        default: break;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "%s: region 0x%x not checked", f.name, r.regionType);
    return 0;
}

constexpr BootCodeRule kK7RFcoeBoot{0x8021, ValidateFCoEPciHeaders, GetK7RImageVersions, true,
                                    IMGVAL_FCOE_ISCSI_BOOTCODE};
constexpr BootCodeRule kK7RNicBoot{0x8020, ValidateNICPciHeaders, GetK7RImageVersions, true, IMGVAL_NIC_FC_BOOTCODE};
constexpr BootCodeRule kK7RIscsiBoot{0x8022, ValidateiSCSIPciHeaders, GetK7RImageVersions, true,
                                     IMGVAL_FCOE_ISCSI_BOOTCODE};
constexpr BootCodeRule kK7RPartition{0x8023, ValidateNICPartitionPciHeaders, GetK7RImageVersions, false,
                                     IMGVAL_NIC_FC_BOOTCODE};
constexpr BootCodeRule kFirstFcoeBoot{0x8001, ValidateFCoEPciHeaders, GetImageVersions, true,
                                      IMGVAL_FCOE_ISCSI_BOOTCODE};
constexpr BootCodeRule kFirstNicBoot{0x8000, ValidateNICPciHeaders, GetImageVersions, true, IMGVAL_NIC_FC_BOOTCODE};

// K7R boot loader, pegtune and CRB init: an entry built for another chip
// revision is not this adapter's to check.
int CheckK7RRevisionTrailer(const ILT_Region_t& r, ComponentBytes c, std::size_t size, const TrailerRule& rule,
                            SD_UINT16 adapterRev, MultibootVersions* v) {
    if (r.chipRev != 0 && (r.chipRev < K7R_FIRST_CONVERGED_REVISION || r.chipRev != adapterRev)) return 0;
    return CheckTrailerAtEnd(c, size, rule, v);
}

int CheckK7RFirmware(const ILT_Region_t& r, ComponentBytes c, SD_UINT16 adapterRev, MultibootVersions* v) {
    const bool firmwareRegion = r.regionType == 0x74 || r.regionType == 0x97;
    if (r.chipRev != 0 && (adapterRev < K7R_FIRST_CONVERGED_REVISION || !firmwareRegion || r.chipRev != adapterRev))
        return 0;
    return CheckFirmwareTrailer(c, v);
}

template <typename Check>
SD_INT8 Loop(IltBytes buffer, SD_INT16 cardType, std::optional<SD_UINT16> chipRev, MultibootVersions* v,
             bool headerVersions, const char* who, Check check) {
    if (buffer.empty()) return 0;
    if (headerVersions) CopyImageHeaderVersions(buffer, v);
    return static_cast<SD_INT8>(ValidateImageComponentsLoop(buffer, cardType, chipRev, who, check));
}

}  // namespace

int ValidateTorviImages(const ILT_Region_t& region, ComponentBytes component, MultibootVersions* v, SD_UINT16) {
    return ValidateConvergedFamily(kTorvi, region, component, v);
}

int ValidatePemraImages(const ILT_Region_t& region, ComponentBytes component, MultibootVersions* v, SD_UINT16) {
    // The minidump template (0xA3) and reset sequence (0xB1) pass unchecked.
    return ValidateConvergedFamily(kPemra, region, component, v);
}

int ValidateK7RImages(const ILT_Region_t& r, ComponentBytes c, MultibootVersions* v, SD_UINT16 adapterRev) {
    switch (r.regionType) {
        case 0x07: return CheckBootCode(c, kK7RFcoeBoot, v);
        case 0x2E: return CheckBootCode(c, kK7RNicBoot, v);
        case 0x4F: return CheckBootCode(c, kK7RIscsiBoot, v);
        case 0x70: return CheckK7RRevisionTrailer(r, c, K7R_CRBINIT_SIZE, kCrbInit, adapterRev, v);
        case 0x72: return CheckK7RRevisionTrailer(r, c, K7R_BOOTLOADER_SIZE, kBootLoader, adapterRev, v);
        case 0x73: return CheckK7RRevisionTrailer(r, c, K7R_PEGTUNE_SIZE, kPegtune, adapterRev, v);
        case 0x74:
        case 0x97: return CheckK7RFirmware(r, c, adapterRev, v);
        default:
            VORNLogMessage(VORN_MSG_DEBUG, "ValidateK7RImages: region 0x%x not checked", r.regionType);
            return 0;
    }
}

int ValidateImages(const ILT_Region_t& r, ComponentBytes c, MultibootVersions* v) {
    switch (r.regionType) {
        case 0x01: return CheckRisc(r, c, 8, v, false);
        case 0x07: return CheckBootCode(c, kFirstFcoeBoot, v);
        case 0x2E: return CheckBootCode(c, kFirstNicBoot, v);
        case 0x40: return ValidateMpiFirmware(c, r, v) == 1 ? 0 : IMGVAL_MPI;
        case 0x41: return ValidateMpiConfig(c, v) == 1 ? 0 : IMGVAL_MPI;
        case 0x45: return ValidateEDCFirmware(c, r, v) == 1 ? 0 : IMGVAL_EDC;
        default:
            VORNLogMessage(VORN_MSG_DEBUG, "ValidateImages: region 0x%x not checked", r.regionType);
            return 0;
    }
}

SD_INT8 ValidateTorviImageComponents(IltBytes buffer, SD_UINT16, SD_INT16 cardType, MultibootVersions* v,
                                     SD_UINT16 adapterChipRev) {
    return Loop(buffer, cardType, adapterChipRev, v, true, "ValidateTorviImageComponents",
                [&](const ILT_Region_t& r, ComponentBytes c) { return ValidateTorviImages(r, c, v, adapterChipRev); });
}

SD_INT8 ValidatePemraImageComponents(IltBytes buffer, SD_UINT16, SD_INT16 cardType, MultibootVersions* v,
                                     SD_UINT16 adapterChipRev) {
    return Loop(buffer, cardType, adapterChipRev, v, true, "ValidatePemraImageComponents",
                [&](const ILT_Region_t& r, ComponentBytes c) { return ValidatePemraImages(r, c, v, adapterChipRev); });
}

SD_INT8 ValidateK7RImageComponents(IltBytes buffer, SD_UINT16, SD_INT16 cardType, MultibootVersions* v,
                                   SD_UINT16 adapterChipRev) {
    return Loop(buffer, cardType, std::nullopt, v, true, "ValidateK7RImageComponents",
                [&](const ILT_Region_t& r, ComponentBytes c) { return ValidateK7RImages(r, c, v, adapterChipRev); });
}

SD_INT8 ValidateImageComponents(IltBytes buffer, SD_UINT16, SD_INT16 cardType, MultibootVersions* v) {
    return Loop(buffer, cardType, std::nullopt, v, false, "ValidateImageComponents",
                [&](const ILT_Region_t& r, ComponentBytes c) { return ValidateImages(r, c, v); });
}

int ValidateK7RNICPartition(ComponentBytes component, MultibootVersions* v) {
    return CheckBootCode(component, kK7RPartition, v);
}
