// Patching and checking boot-code chains image by image.
#include "image/boot_code_chain.h"

#include <cstdio>

#include "frontend/output.h"
#include "image/boot_code_images.h"
#include "image/rom_chain.h"

namespace {

using BiosPatch = int (*)(SD_UINT16, SD_UINT16, std::span<SD_UINT8>, const char*, const char*, unsigned int);

struct ChipTexts {
    char isp[16];   // "ISP%04X"
    char hw[8];     // "%04X"
};

ChipTexts TextsOf(SD_UINT16 deviceID) {
    ChipTexts t{};
    std::snprintf(t.isp, sizeof t.isp, "ISP%04X", deviceID);
    std::snprintf(t.hw, sizeof t.hw, "%04X", deviceID);
    return t;
}

// A BIOS image is patched only when its size byte is sound, the image it
// describes stays within its place in the chain, and its PCI data structure
// lies clear of the patched fields and the checksum byte; otherwise the
// patch or the checksum would overwrite the chain's own structure.
bool BiosImageFitsChain(std::span<const SD_UINT8> buf, const PciChainImage& img) {
    const SD_UINT32 size = BiosImageSize(buf, static_cast<unsigned int>(img.offset));
    const std::size_t data = GetDataOffset(&img.header);
    return size != 0 && size <= img.length && data >= BIOS_PATCHED_END && data + PCI_DATA_MIN_SIZE < size;
}

int PatchImage(std::span<SD_UINT8> buf, const PciChainImage& img, BiosPatch patchBios, SD_UINT16 ssvid,
               SD_UINT16 ssdid, const ChipTexts& chip, const char* model) {
    const unsigned int off = static_cast<unsigned int>(img.offset);
    if (IsBiosImage(&img.data)) {
        if (!BiosImageFitsChain(buf, img)) {
            VORNLogMessage(VORN_MSG_ERROR, "UpdateAllPciHeaders: BIOS image at offset 0x%x has an invalid size!", off);
            return BOOT_IMAGE_INVALID;
        }
        const int st = patchBios(ssdid, ssvid, buf, model, chip.isp, off);
        if (st != BOOT_IMAGE_OK) return st;
        ComputeChecksum(true, buf, off);
        return Validate(buf, chip.hw, off);
    }
    if (IsEfiImage(&img.data)) return UpdateImageEFI(ssdid, ssvid, buf, chip.isp, off);
    if (IsFcodeImage(&img.data)) return updateImageFCode(ssdid, ssvid, buf, chip.isp, off);
    return BOOT_IMAGE_OK;   // PXE images are left alone
}

int PatchChain(std::span<SD_UINT8> buf, BiosPatch patchBios, SD_UINT16 ssvid, SD_UINT16 ssdid, SD_UINT16 deviceID,
               const char* model) {
    const ChipTexts chip = TextsOf(deviceID);
    int status = BOOT_IMAGE_OK;
    const PciChainWalk walk = WalkPciChain(buf, [&](const PciChainImage& img) {
        status = PatchImage(buf, img, patchBios, ssvid, ssdid, chip, model);
        return status == BOOT_IMAGE_OK;
    });
    if (walk.end == PciChainEnd::Broken) return PCI_CHAIN_BROKEN;
    return status;
}

// The FCoE and iSCSI walks differ only in their log lines.
struct ConvergedLines {
    const char* efi;
    const char* efiDone;
    const char* fcode;
    const char* fcodeDone;
    const char* invalidHeader;   // may be null
    const char* notFound;
};

int ValidateConverged(std::span<const SD_UINT8> buf, SD_UINT16 deviceID, const ConvergedLines& lines) {
    const ChipTexts chip = TextsOf(deviceID);
    const PciChainWalk walk = WalkPciChain(buf, [&](const PciChainImage& img) {
        const unsigned int off = static_cast<unsigned int>(img.offset);
        if (IsEfiImage(&img.data)) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s", lines.efi);
            if (ValidateEFI(buf, chip.hw, off) == BOOT_IMAGE_OK) VORNLogMessage(VORN_MSG_DEBUG, "%s", lines.efiDone);
        } else if (IsFcodeImage(&img.data)) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s", lines.fcode);
            if (validateFCode(buf, chip.hw, 0, off) == BOOT_IMAGE_OK)
                VORNLogMessage(VORN_MSG_DEBUG, "%s", lines.fcodeDone);
        }
        return true;
    });
    if (walk.end == PciChainEnd::Last) return 1;
    if (lines.invalidHeader != nullptr) VORNLogMessage(VORN_MSG_DEBUG, "%s", lines.invalidHeader);
    VORNLogMessage(VORN_MSG_DEBUG, "%s", lines.notFound);
    return 0;
}

}  // namespace

int UpdateAllPciHeaders(std::span<SD_UINT8> buf, SD_UINT16 ssvid, SD_UINT16 ssdid, SD_UINT16 deviceID,
                        const char* model) {
    return PatchChain(buf, UpdateImage, ssvid, ssdid, deviceID, model);
}

int UpdateiSCSIPciHeaders(std::span<SD_UINT8> buf, SD_UINT16 ssvid, SD_UINT16 ssdid, SD_UINT16 deviceID,
                          const char* model) {
    // A chain that breaks after its first image is refused like one that
    // breaks at once: the unpatched rest must not reach the flash.
    return PatchChain(buf, UpdateiSCSIImage, ssvid, ssdid, deviceID, model);
}

int ValidateFCoEPciHeaders(std::span<const SD_UINT8> buf, SD_UINT16 deviceID) {
    static constexpr ConvergedLines kLines{
        "ValidateFCoEPciHeaders: Validate EFI Image", "ValidateFCoEPciHeaders: Validate EFI Image Done",
        "ValidateFCoEPciHeaders: Validate FCODE Image", "UpdateAllPciHeaders: Validate FCODE Image Done", nullptr,
        "ValidateFCoEPciHeaders: Last Image not found\n"};
    return ValidateConverged(buf, deviceID, kLines);
}

int ValidateiSCSIPciHeaders(std::span<const SD_UINT8> buf, SD_UINT16 deviceID) {
    static constexpr ConvergedLines kLines{
        "ValidateiSCSIPciHeaders: Validate EFI Image", "ValidateiSCSIPciHeaders: Validate EFI Image Done",
        "ValidateiSCSIPciHeaders: Validate FCODE Image", "ValidateiSCSIPciHeaders: Validate FCODE Image Done",
        "ValidateiSCSIPciHeaders: Invalid PCI header!", "ValidateiSCSIPciHeaders: Last Image not found\n"};
    return ValidateConverged(buf, deviceID, kLines);
}

int ValidateNICPciHeaders(std::span<const SD_UINT8> buf, SD_UINT16 deviceID) {
    const ChipTexts chip = TextsOf(deviceID);
    const PciChainWalk walk = WalkPciChain(buf, [&](const PciChainImage& img) {
        const unsigned int off = static_cast<unsigned int>(img.offset);
        if (IsBiosImage(&img.data) || IsPXEImage(&img.data)) {
            const int st = ValidateBIOS(buf.subspan(img.offset), deviceID);
            if (st == BOOT_IMAGE_NO_HEADER) VORNLogMessage(VORN_MSG_DEBUG, "ValidateNICPciHeaders: Invalid BIOS Boot code");
            if (st == BOOT_IMAGE_WRONG_ADAPTER) VORNLogMessage(VORN_MSG_DEBUG, "ValidateNICPciHeaders: Invalid SSID");
            return st == BOOT_IMAGE_OK;
        }
        if (IsEfiImage(&img.data)) {
            if (ValidateEFI(buf, chip.hw, off) == BOOT_IMAGE_OK) return true;
            VORNLogMessage(VORN_MSG_DEBUG, "ValidateNICPciHeaders: Invalid SSID");
            return false;
        }
        // FCode: the image's device id must be the chip's.
        if (deviceID == 0x8030 || zvpci_chg_endian(img.data.did) == deviceID) return true;
        VORNLogMessage(VORN_MSG_DEBUG, "ValidateNICPciHeaders: Invalid SSID");
        return false;
    });
    return walk.end == PciChainEnd::Last ? 1 : 0;
}

int ValidateNICPartitionPciHeaders(std::span<const SD_UINT8> buf, SD_UINT16) {
    return WalkPciChain(buf, nullptr).end == PciChainEnd::Last ? 1 : 0;
}
