// Boot-code checks and version walks of image components.
#include "image/image_validation_boot_code.h"

#include <algorithm>
#include <array>
#include <functional>

#include "frontend/output.h"
#include "image/boot_code_chain.h"
#include "image/component_versions.h"
#include "image/rom_chain.h"

namespace {

constexpr std::array<SD_UINT16, 10> kDorneDevices{0x2171, 0x2071, 0x2371, 0x2271, 0x2971,
                                                  0x2871, 0x2A61, 0x2261, 0x2081, 0x2B61};

constexpr int kWalkDone = 0;
constexpr int kWalkUnknown = 2;
constexpr int kWalkNoHeader = 3;
constexpr int kWalkInvalidDevice = 4;

// Records one image's version; false for a code type the walk does not know.
using Recorder = std::function<bool(SD_UINT8 codeType, SD_UINT8 major, SD_UINT8 minor)>;

int WalkVersions(ComponentBytes chain, bool deviceKnown, SD_UINT16 deviceId, const char* who,
                 const Recorder& record) {
    std::size_t off = 0;
    while (off < chain.size()) {
        Pci_Header_t header{};
        Pci_Data_t data{};
        if (!ReadPciImage(chain.subspan(off), &header, &data)) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s: No image header at offset 0x%zx", who, off);
            return kWalkNoHeader;
        }
        if (!deviceKnown) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s: Invalid BOOTCODE Type %04X", who, deviceId);
            return kWalkInvalidDevice;
        }
        // Code revision: high byte major, low byte minor.
        if (!record(data.codetype, data.revisionlevel[1], data.revisionlevel[0])) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s: Unknown Image", who);
            return kWalkUnknown;
        }
        if (IsLastImage(&data)) return kWalkDone;
        const std::size_t length = GetImageLength(&data);
        if (length == 0 || length > chain.size() - off) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s: Image at offset 0x%zx has no sound length", who, off);
            return kWalkNoHeader;
        }
        off += length;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "%s: Last image not found", who);
    return kWalkNoHeader;
}

using VersionField = SD_UINT8 MultibootVersions::*;
struct VersionPair {
    VersionField major;
    VersionField minor;
};

// The version pairs of one boot-code function, by image kind.
struct FunctionPairs {
    VersionPair bios;    // BIOS and PXE images
    VersionPair fcode;
    VersionPair efi;
};

constexpr FunctionPairs kFcPairs{
    {&MultibootVersions::NewBiosVersionMajor, &MultibootVersions::NewBiosVersionMinor},
    {&MultibootVersions::NewFcodeVersionMajor, &MultibootVersions::NewFcodeVersionMinor},
    {&MultibootVersions::NewEfiVersionMajor, &MultibootVersions::NewEfiVersionMinor}};
constexpr FunctionPairs kFcoePairs{
    {&MultibootVersions::NewFCoEBiosVersionMajor, &MultibootVersions::NewFCoEBiosVersionMinor},
    {&MultibootVersions::NewFCoEFcodeVersionMajor, &MultibootVersions::NewFCoEFcodeVersionMinor},
    {&MultibootVersions::NewFCoEEfiVersionMajor, &MultibootVersions::NewFCoEEfiVersionMinor}};
constexpr FunctionPairs kNicPairs{
    {&MultibootVersions::NewPxeBootVersionMajor, &MultibootVersions::NewPxeBootVersionMinor},
    {&MultibootVersions::NewNicFcodeVersionMajor, &MultibootVersions::NewNicFcodeVersionMinor},
    {&MultibootVersions::NewNicEfiVersionMajor, &MultibootVersions::NewNicEfiVersionMinor}};
constexpr FunctionPairs kIscsiPairs{
    {&MultibootVersions::NewiSCSIBiosVersionMajor, &MultibootVersions::NewiSCSIBiosVersionMinor},
    {&MultibootVersions::NewiSCSIFcodeVersionMajor, &MultibootVersions::NewiSCSIFcodeVersionMinor},
    {&MultibootVersions::NewiSCSIEfiVersionMajor, &MultibootVersions::NewiSCSIEfiVersionMinor}};

Recorder MultibootRecorder(const FunctionPairs& pairs, MultibootVersions* v) {
    return [&pairs, v](SD_UINT8 code, SD_UINT8 major, SD_UINT8 minor) {
        const VersionPair* pair = nullptr;
        if (code == PCI_CODE_BIOS || code == PCI_CODE_PXE) pair = &pairs.bios;
        else if (code == PCI_CODE_FCODE) pair = &pairs.fcode;
        else if (code == PCI_CODE_EFI) pair = &pairs.efi;
        if (pair == nullptr) return false;
        if (v != nullptr) {
            v->*(pair->major) = major;
            v->*(pair->minor) = minor;
        }
        return true;
    };
}

struct DeviceFunction {
    SD_UINT16 deviceId;
    const FunctionPairs* pairs;
};

int WalkFamily(ComponentBytes chain, SD_UINT16 deviceId, MultibootVersions* v, std::span<const DeviceFunction> table,
               const char* who) {
    const auto it = std::find_if(table.begin(), table.end(), [&](const DeviceFunction& f) { return f.deviceId == deviceId; });
    const FunctionPairs& pairs = it != table.end() ? *it->pairs : kFcPairs;
    return WalkVersions(chain, it != table.end(), deviceId, who, MultibootRecorder(pairs, v));
}

constexpr DeviceFunction kTorviFunctions[] = {
    {0x2031, &kFcPairs}, {0x8030, &kNicPairs}, {0x8032, &kIscsiPairs}, {0x8031, &kFcoePairs}};
constexpr DeviceFunction kPemraFunctions[] = {{0x8040, &kNicPairs}, {0x8042, &kIscsiPairs}, {0x8044, &kFcoePairs}};
constexpr DeviceFunction kK7RFunctions[] = {
    {0x8020, &kNicPairs}, {0x8021, &kFcPairs}, {0x8022, &kIscsiPairs}, {0x8023, &kNicPairs}};
constexpr DeviceFunction kFirstGenFunctions[] = {{0x8000, &kNicPairs}, {0x8001, &kFcPairs}};

}  // namespace

bool IsDorneBootCodeDevice(SD_UINT16 deviceId) {
    return std::find(kDorneDevices.begin(), kDorneDevices.end(), deviceId) != kDorneDevices.end();
}

int GetDorneImageVersions(ComponentBytes chain, SD_UINT16 deviceId, MultibootVersions* pVersions) {
    return WalkVersions(chain, IsDorneBootCodeDevice(deviceId), deviceId, "GetDorneImageVersions",
                        MultibootRecorder(kFcPairs, pVersions));
}

int GetCheckedFCBootCodeVersions(ComponentBytes chain, SD_UINT16 deviceId, MultibootVersions* pVersions) {
    return WalkVersions(chain, true, deviceId, "GetCheckedFCBootCodeVersions", MultibootRecorder(kFcPairs, pVersions));
}

int ValidateDorneFCBootCode(ComponentBytes component, SD_UINT16 deviceId, MultibootVersions* pVersions) {
    if (ValidateFCoEPciHeaders(component, deviceId) != 1) {
        VORNLogMessage(VORN_MSG_DEBUG, "ValidateDorneFCBootCode: ROM chain check failed");
        return kWalkNoHeader;
    }
    return GetDorneImageVersions(component, deviceId, pVersions);
}

int ValidateVrelFCBootCode(ComponentBytes component, SD_UINT16 deviceId, FlashComponentVersion* pVersions,
                           bool expansion) {
    if (ValidateFCoEPciHeaders(component, deviceId) != 1) {
        VORNLogMessage(VORN_MSG_DEBUG, "ValidateVrelFCBootCode: ROM chain check failed");
        return kWalkNoHeader;
    }
    if (!expansion) return GetImageBootCodesVersion(component, deviceId, pVersions);
    // The expansion's versions have fields of their own.
    FlashComponentVersion walked{};
    const int st = GetImageBootCodesVersion(component, deviceId, &walked);
    if (pVersions != nullptr) {
        pVersions->BiosExpMajorVersion = walked.BiosMajorVersion;
        pVersions->BiosExpMinorVersion = walked.BiosMinorVersion;
        pVersions->FCodeExpMajorVersion = walked.FCodeMajorVersion;
        pVersions->FCodeExpMinorVersion = walked.FCodeMinorVersion;
        pVersions->EFIExpMajorVersion = walked.EFIMajorVersion;
        pVersions->EFIExpMinorVersion = walked.EFIMinorVersion;
    }
    return st;
}

int GetTorviImageVersions(ComponentBytes chain, SD_UINT16 deviceId, MultibootVersions* pVersions) {
    return WalkFamily(chain, deviceId, pVersions, kTorviFunctions, "GetTorviImageVersions");
}

int GetPemraImageVersions(ComponentBytes chain, SD_UINT16 deviceId, MultibootVersions* pVersions) {
    return WalkFamily(chain, deviceId, pVersions, kPemraFunctions, "GetPemraImageVersions");
}

int GetK7RImageVersions(ComponentBytes chain, SD_UINT16 deviceId, MultibootVersions* pVersions) {
    return WalkFamily(chain, deviceId, pVersions, kK7RFunctions, "GetK7RImageVersions");
}

int GetImageVersions(ComponentBytes chain, SD_UINT16 deviceId, MultibootVersions* pVersions) {
    return WalkFamily(chain, deviceId, pVersions, kFirstGenFunctions, "GetImageVersions");
}
