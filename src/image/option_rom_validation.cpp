// Option-ROM image checks of the older adapters' updates.
#include "image/option_rom_validation.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "core/adapter_ssid_list.h"
#include "core/input_file.h"
#include "frontend/install_dir.h"
#include "frontend/output.h"
#include "image/boot_code_images.h"
#include "image/firmware_image.h"
#include "image/option_rom_request.h"
#include "image/rom_chain.h"

namespace {

constexpr std::size_t kReadPiece = 0x10000;

struct ChipTexts {
    std::string isp;   // "ISP2532"
    std::string hw;    // "2532"
};

ChipTexts FromDeviceId(SD_UINT16 deviceId) {
    char isp[16], hw[8];
    std::snprintf(isp, sizeof isp, "ISP%04X", deviceId);
    std::snprintf(hw, sizeof hw, "%04X", deviceId);
    return {isp, hw};
}

// The chip text of an adapter-table row ("2312", also accepted as "ISP2312").
ChipTexts FromRow(const AdapterSubSystemIDList& row) {
    std::string hw(row.ISP, strnlen(row.ISP, sizeof row.ISP));
    if (hw.compare(0, 3, "ISP") == 0) hw.erase(0, 3);
    return {"ISP" + hw, hw};
}

// The adapter's row of the installation directory's table: 0, 9 or 10.
int FindAdapterRow(SD_UINT16 ssdid, SD_UINT16 ssvid, ChipTexts* chip) {
    const std::string path = std::string(VORNGetInstallationDir()) + "/" + kAdapterPropertiesFileName;
    const SubSystemIDListPtr list = LoadAdapterSubSystemList(path);
    if (!list) return OPTROM_ADAPTER_LIST_UNREADABLE;
    const AdapterSubSystemIDList* row = FindSubSystemInSubSystemList(list.get(), ssdid, ssvid);
    if (row == nullptr) {
        VORNLogMessage(VORN_MSG_DEBUG, "validateUpdateOptionROM: No adapter entry for SSDID=0x%04x SSVID=0x%04x", ssdid,
                       ssvid);
        return OPTROM_NO_ADAPTER_ROW;
    }
    *chip = FromRow(*row);
    return 0;
}

enum class ImageAt { Ok, NoHeader, NoData, Broken };

// The image of the chain at `off`: its data structure and the image's own
// bytes (the span every check and patch of it is confined to).
ImageAt ReadImage(std::span<SD_UINT8> buf, std::size_t off, Pci_Data_t* data, std::span<SD_UINT8>* image) {
    if (off >= buf.size() || buf.size() - off < 2 || buf[off] != 0x55 || buf[off + 1] != 0xAA) return ImageAt::NoHeader;
    if (buf.size() - off < offsetof(Pci_Header_t, dataoffset) + 2) return ImageAt::NoHeader;
    const std::size_t dataOffset = zvpci_chg_endian(&buf[off + offsetof(Pci_Header_t, dataoffset)]);
    const std::size_t at = off + dataOffset;
    if (at > buf.size() || buf.size() - at < PCI_DATA_MIN_SIZE || std::memcmp(&buf[at], "PCIR", 4) != 0)
        return ImageAt::NoData;
    std::memset(data, 0, sizeof *data);
    std::memcpy(data, &buf[at], std::min<std::size_t>(PCI_DATA_SIZE, buf.size() - at));
    const std::size_t length = GetImageLength(data);
    // An image of no length, one that leaves the buffer or one whose data
    // structure lies outside its own bytes ends the chain.
    if (length == 0 || length > buf.size() - off || dataOffset + PCI_DATA_MIN_SIZE > length) return ImageAt::Broken;
    *image = buf.subspan(off, length);
    return ImageAt::Ok;
}

int StatusOf(ImageAt read) {
    return read == ImageAt::NoData ? OPTROM_NO_DATA_SIGNATURE : OPTROM_NO_HEADER_SIGNATURE;
}

// Validates, patches and validates again one common image of the chain; 0 or
// the failing step's status. *checked tells whether the image was one.
int CheckCommonImage(std::span<SD_UINT8> img, const Pci_Data_t& data, const ChipTexts& chip, SD_UINT16 ssdid,
                     SD_UINT16 ssvid, const char* model, bool* checked) {
    *checked = false;
    const char* hw = chip.hw.c_str();
    const char* isp = chip.isp.c_str();
    int st = 0;
    if (IsBiosImage(&data)) {
        if (!isCommonBIOSImage(img, 0)) return 0;
        *checked = true;
        st = Validate(img, hw, 0);
        if (st == BOOT_IMAGE_WRONG_ADAPTER || st == BOOT_IMAGE_ID_MISMATCH) return st;
        // The checksum byte must lie inside the image for the patch to be sealed.
        if (BiosImageSize(img, 0) == 0) return BOOT_IMAGE_INVALID;
        if ((st = UpdateImage(ssdid, ssvid, img, model, isp, 0)) != 0) return st;
        ComputeChecksum(true, img, 0);
        return Validate(img, hw, 0);
    }
    if (IsFcodeImage(&data)) {
        if (!isCommonFCodeImage(img, hw)) return 0;
        *checked = true;
        if ((st = validateFCode(img, hw, 0, 0)) != 0) return st;
        if ((st = updateImageFCode(ssdid, ssvid, img, isp, 0)) != 0) return st;
        return validateFCode(img, hw, 0, 0);
    }
    if (IsEfiImage(&data)) {
        if (!isCommonEFIImage(img, hw)) return 0;
        *checked = true;
        if ((st = ValidateEFI(img, hw, 0)) == 0) st = UpdateImageEFI(ssdid, ssvid, img, isp, 0);
        if (st != 0) {
            VORNLogMessage(VORN_MSG_DEBUG, "validateUpdateMultibootOptionROM: Failed to validate EFI image!");
            return st;
        }
        return ValidateEFI(img, hw, 0);
    }
    return 0;   // PXE and other images are left alone
}

int MultibootWalk(std::span<SD_UINT8> buf, const ChipTexts& chip, SD_UINT16 ssdid, SD_UINT16 ssvid,
                  const char* model) {
    int status = BOOT_IMAGE_WRONG_ADAPTER;   // no image checked
    std::size_t off = 0;
    for (;;) {
        Pci_Data_t data;
        std::span<SD_UINT8> img;
        const ImageAt read = ReadImage(buf, off, &data, &img);
        if (read != ImageAt::Ok) return StatusOf(read);
        bool checked = false;
        const int st = CheckCommonImage(img, data, chip, ssdid, ssvid, model, &checked);
        if (st != 0) return st;
        if (checked) status = 0;
        if (IsLastImage(&data)) return status;
        off += img.size();
    }
}

int MultibootCheck(std::span<SD_UINT8> buf, const ChipTexts& chip, SD_UINT16 ssdid, SD_UINT16 ssvid,
                   const char* model) {
    SD_UINT32 region = g_ptrOptionROMRequest != nullptr ? g_ptrOptionROMRequest->Region : OPTROM_REGION_ALL;
    // A standard request and any region this check does not know stand for
    // the whole multiboot image; the record says so for the writer.
    if (region != OPTROM_REGION_FIRMWARE && region != OPTROM_REGION_BOOT) region = OPTROM_REGION_ALL;
    const bool sized = g_ptrOptionROMRequest == nullptr || g_ptrOptionROMRequest->Region == region ||
                       g_ptrOptionROMRequest->Region == OPTROM_REGION_STANDARD;
    if (g_ptrOptionROMRequest != nullptr) g_ptrOptionROMRequest->Region = region;
    const std::size_t size = buf.size();
    if (region == OPTROM_REGION_FIRMWARE) {
        if (size > OPTROM_MAX_FIRMWARE_FILE) return OPTROM_FW_TOO_LARGE;
        const int st = validateFirmware(buf, chip.isp.c_str(), OPTROM_REGION_FIRMWARE);
        if (st == FW_IMAGE_BAD_CHECKSUM || st == FW_IMAGE_WRONG_IMAGE || st == FW_IMAGE_VALID) return st;
    } else if (region == OPTROM_REGION_BOOT) {
        if (size != OPTROM_BOOT_FILE_SIZE) return OPTROM_BOOT_WRONG_SIZE;
    } else if (sized && size != OPTROM_MULTIBOOT_FILE_SIZE) {
        return OPTROM_DATA_WRONG_SIZE;
    }
    return MultibootWalk(buf, chip, ssdid, ssvid, model);
}

}  // namespace

int validateUpdateMultibootOptionROM(SD_UINT16 subsysDeviceId, SD_UINT16 subsysVendorId, std::span<SD_UINT8> pFlashBuf,
                                     const char* acHBAModel, SD_UINT16 uDeviceChipID, int /*busType*/) {
    return MultibootCheck(pFlashBuf, FromDeviceId(uDeviceChipID), subsysDeviceId, subsysVendorId,
                          acHBAModel != nullptr ? acHBAModel : "");
}

int validateUpdateMultibootOptionROM_1(SD_UINT16 subsysDeviceId, SD_UINT16 subsysVendorId,
                                       std::span<SD_UINT8> pFlashBuf, const char* acHBAModel,
                                       SD_UINT16 /*uDeviceChipID*/, int /*busType*/) {
    ChipTexts chip;
    if (const int st = FindAdapterRow(subsysDeviceId, subsysVendorId, &chip); st != 0) return st;
    return MultibootCheck(pFlashBuf, chip, subsysDeviceId, subsysVendorId, acHBAModel != nullptr ? acHBAModel : "");
}

int validateOptionROMFile(const char* path, std::span<SD_UINT8> buffer, SD_UINT32* maxSize) {
    if (maxSize == nullptr) return 1;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        CoreFopenInputFile(path != nullptr ? path : "", "rb", nullptr), &std::fclose);
    if (!file) {
        *maxSize = 0;
        return 1;
    }
    const std::size_t limit = std::min<std::size_t>(*maxSize, buffer.size());
    // Read in pieces: the size is learnt from what the file gives, not from
    // what it claims, and nothing lands past the limit.
    std::size_t total = 0;
    SD_UINT8 piece[kReadPiece];
    for (;;) {
        const std::size_t got = std::fread(piece, 1, sizeof piece, file.get());
        if (got > 0) {
            if (got > limit - total) return 4;
            std::memcpy(buffer.data() + total, piece, got);
            total += got;
        }
        if (got < sizeof piece) {
            if (std::ferror(file.get())) return 3;
            break;
        }
    }
    *maxSize = static_cast<SD_UINT32>(total);
    return 0;
}

int validateUpdateOptionROM(SD_UINT16 subsysDeviceId, SD_UINT16 subsysVendorId, std::span<SD_UINT8> acBuffer,
                            const char* acHBAModel, SD_UINT16 /*uDeviceChipID*/, int /*busType*/) {
    ChipTexts chip;
    if (const int st = FindAdapterRow(subsysDeviceId, subsysVendorId, &chip); st != 0) return st;
    const char* model = acHBAModel != nullptr ? acHBAModel : "";
    if (g_ptrOptionROMRequest != nullptr && g_ptrOptionROMRequest->Region == OPTROM_REGION_FIRMWARE) {
        const int st = validateFirmware(acBuffer, chip.isp.c_str(), OPTROM_REGION_FIRMWARE);
        if (st == FW_IMAGE_BAD_CHECKSUM || st == FW_IMAGE_WRONG_IMAGE || st == FW_IMAGE_VALID) return st;
    }
    int status = BOOT_IMAGE_WRONG_ADAPTER;   // no image checked
    std::size_t off = 0;
    for (bool first = true;; first = false) {
        Pci_Data_t data;
        std::span<SD_UINT8> img;
        if (ReadImage(acBuffer, off, &data, &img) != ImageAt::Ok) return first ? OPTROM_UNREADABLE_IMAGE : status;
        if (first && IsBiosImage(&data) && !isCommonBIOSImage(img, 0)) return Validate(img, chip.hw.c_str(), 0);
        bool checked = false;
        const int st = CheckCommonImage(img, data, chip, subsysDeviceId, subsysVendorId, model, &checked);
        if (st != 0) return st;
        if (checked) status = 0;
        if (IsLastImage(&data)) return status;
        off += img.size();
    }
}
