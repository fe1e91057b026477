// Boot-code versions of a ROM chain.
#include "image/component_versions.h"

#include <algorithm>
#include <array>

#include "frontend/output.h"
#include "image/rom_chain.h"

namespace {

// The chips whose boot code the version readers know.
constexpr std::array<SD_UINT16, 19> kBootCodeDevices{0x2532, 0x2432, 0x8021, 0x8001, 0x2031, 0x8031, 0x2171,
                                                     0x2071, 0x2371, 0x2271, 0x2971, 0x2871, 0x2A61, 0x2261,
                                                     0x2081, 0x2B61, 0x2089, 0x2281, 0x2289};

}  // namespace

bool IsBootCodeVersionDevice(SD_UINT16 deviceId) {
    return std::find(kBootCodeDevices.begin(), kBootCodeDevices.end(), deviceId) != kBootCodeDevices.end();
}

int GetImageBootCodesVersion(std::span<const SD_UINT8> pBuffer, SD_UINT16 deviceId,
                             FlashComponentVersion* pVersions) {
    if (pVersions == nullptr || pBuffer.empty()) return BOOTVER_NO_HEADER;
    std::size_t off = 0;
    while (off < pBuffer.size()) {
        Pci_Header_t header{};
        Pci_Data_t data{};
        if (!ReadPciImage(pBuffer.subspan(off), &header, &data)) {
            VORNLogMessage(VORN_MSG_DEBUG, "GetImageBootCodesVersion: No image header at offset 0x%zx", off);
            return BOOTVER_NO_HEADER;
        }
        // The device is judged once there is an image to record.
        if (!IsBootCodeVersionDevice(deviceId)) {
            VORNLogMessage(VORN_MSG_DEBUG, "GetImageBootCodesVersion: Invalid BOOTCODE Type %04X", deviceId);
            return BOOTVER_INVALID_DEVICE;
        }
        const SD_UINT8 major = data.revisionlevel[1];
        const SD_UINT8 minor = data.revisionlevel[0];
        if (IsBiosImage(&data) || IsPXEImage(&data)) {
            pVersions->BiosMajorVersion = major;
            pVersions->BiosMinorVersion = minor;
        } else if (IsFcodeImage(&data)) {
            pVersions->FCodeMajorVersion = major;
            pVersions->FCodeMinorVersion = minor;
        } else if (IsEfiImage(&data)) {
            pVersions->EFIMajorVersion = major;
            pVersions->EFIMinorVersion = minor;
        } else {
            VORNLogMessage(VORN_MSG_DEBUG, "GetImageBootCodesVersion: Unknown Image");
            return BOOTVER_UNKNOWN_IMAGE;
        }
        if (IsLastImage(&data)) return 0;
        const std::size_t length = GetImageLength(&data);
        if (length == 0 || length > pBuffer.size() - off) return BOOTVER_NO_HEADER;
        off += length;
    }
    return BOOTVER_NO_HEADER;
}
