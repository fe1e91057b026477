// BIOS, EFI and FCode image rules.
#include "image/boot_code_images.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "frontend/output.h"
#include "image/chip_name_table.h"
#include "image/rom_chain.h"

namespace {

constexpr std::size_t kHwTypeMax = 9;

std::string TextOf(const char* s) { return s == nullptr ? std::string() : std::string(s); }

// The hardware type of a chip name: without its leading "ISP", at most 9 characters.
std::string HardwareTypeOf(const char* ispString) {
    std::string hw = TextOf(ispString);
    if (hw.compare(0, 3, "ISP") == 0) hw.erase(0, 3);
    return hw.substr(0, kHwTypeMax);
}

// The first four characters, zero-padded as they stand in an image.
std::array<char, BIOS_HWTYPE_LENGTH> HwTypeField(const std::string& hw) {
    std::array<char, BIOS_HWTYPE_LENGTH> f{};
    std::memcpy(f.data(), hw.data(), std::min(hw.size(), f.size()));
    return f;
}

bool Fits(std::span<const SD_UINT8> data, unsigned int iOffset, std::size_t length) {
    return iOffset <= data.size() && data.size() - iOffset >= length;
}

void PutLE16(std::span<SD_UINT8> b, std::size_t at, SD_UINT16 v) {
    b[at] = static_cast<SD_UINT8>(v & 0xFF);
    b[at + 1] = static_cast<SD_UINT8>(v >> 8);
}

bool SameHexDigit(char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

bool SameHexText(const std::string& a, const char* b, std::size_t n) {
    if (a.size() < n || std::strlen(b) < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (!SameHexDigit(a[i], b[i])) return false;
    return true;
}

bool InList(const std::string& hw, std::initializer_list<const char*> list) {
    for (const char* item : list)
        if (hw == item) return true;
    return false;
}

// Offset of the PCI data structure of the image at iOffset, when it has one.
bool DataStructureAt(std::span<const SD_UINT8> data, unsigned int iOffset, std::size_t* at) {
    if (iOffset > data.size()) return false;
    Pci_Header_t h;
    if (!ReadPciImage(data.subspan(iOffset), &h, nullptr)) return false;
    *at = iOffset + GetDataOffset(&h);
    return true;
}

// The image's device id as four lower-case hex characters, high byte first.
std::string ImageIdText(std::span<const SD_UINT8> data, std::size_t dataAt) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x", data[dataAt + 7], data[dataAt + 6]);
    return text;
}

int PatchBios(std::span<const ChipNameRow> table, const char* func, SD_UINT16 ssvid, std::span<SD_UINT8> m_Data,
              const char* model, const char* ispString, unsigned int iOffset) {
    if (!Fits(m_Data, iOffset, BIOS_PATCHED_END)) return BOOT_IMAGE_INVALID;
    std::span<SD_UINT8> img = m_Data.subspan(iOffset);

    const std::string name = TextOf(model).substr(0, BIOS_MODEL_MAX);
    std::memset(img.data() + BIOS_MODEL_OFFSET, 0, BIOS_MODEL_FIELD);
    std::memcpy(img.data() + BIOS_MODEL_OFFSET, name.data(), name.size());
    img[BIOS_MODEL_OFFSET + name.size()] = ' ';

    const auto hw = HwTypeField(HardwareTypeOf(ispString));
    std::memcpy(img.data() + BIOS_HWTYPE_OFFSET, hw.data(), hw.size());

    int status = BOOT_IMAGE_OK;
    const ChipNameRow* row = FindChipNameRow(table, ispString);
    if (row != nullptr) {
        img[BIOS_ADAPTER_TYPE_CODE_OFFSET] = row->adapterTypeCode;
    } else {
        VORNLogMessage(VORN_MSG_ERROR, "%s: Unknown hardware type (%s)!", func, TextOf(ispString).c_str());
        status = BOOT_IMAGE_UNKNOWN_HWTYPE;
    }
    PutLE16(img, BIOS_SVID_OFFSET, ssvid);
    if (row != nullptr && row->deviceId != 0) PutLE16(img, BIOS_DEVICE_ID_OFFSET, row->deviceId);
    return status;
}

int PatchDataStructureId(const char* func, std::span<SD_UINT8> m_Data, const char* ispString, unsigned int iOffset) {
    std::size_t at = 0;
    if (!DataStructureAt(m_Data, iOffset, &at)) return BOOT_IMAGE_NO_SIGNATURE;
    const ChipNameRow* row = FindChipNameRow(FcChipNameTable(), ispString);
    if (row == nullptr) {
        VORNLogMessage(VORN_MSG_ERROR, "%s: Unknown hardware type (%s)!", func, TextOf(ispString).c_str());
        return BOOT_IMAGE_UNKNOWN_HWTYPE;
    }
    if (row->deviceId != 0) PutLE16(m_Data, at + offsetof(Pci_Data_t, did), row->deviceId);
    return BOOT_IMAGE_OK;
}

bool CommonKind(const char* hardwareType, bool ChipNameRow::*flag) {
    const ChipNameRow* row = FindChipNameRow(FcChipNameTable(), ("ISP" + TextOf(hardwareType)).c_str());
    return row != nullptr && row->*flag;
}

}  // namespace

SD_UINT32 BiosImageSize(std::span<const SD_UINT8> m_Data, unsigned int iOffset) {
    if (!Fits(m_Data, iOffset, BIOS_SIZE_OFFSET + 1)) return 0;
    const SD_UINT32 blocks = m_Data[iOffset + BIOS_SIZE_OFFSET];
    if (blocks == 0 || blocks > BIOS_MAX_BLOCKS) return 0;
    const SD_UINT32 size = blocks * PCI_BLOCK_SIZE;
    return Fits(m_Data, iOffset, size) ? size : 0;
}

namespace {
// The checksum the image should carry; false when its size is invalid.
bool ExpectedChecksum(std::span<const SD_UINT8> m_Data, unsigned int iOffset, SD_UINT32* size, SD_UINT8* sum) {
    *size = BiosImageSize(m_Data, iOffset);
    if (*size == 0) return false;
    SD_UINT8 s = 0;
    for (SD_UINT32 i = 0; i + 2 < *size; ++i) s = static_cast<SD_UINT8>(s + m_Data[iOffset + i]);
    *sum = static_cast<SD_UINT8>(0x100 - s);
    return true;
}
}  // namespace

int ComputeChecksum(bool bUpdate, std::span<SD_UINT8> m_Data, unsigned int iOffset) {
    SD_UINT32 size = 0;
    SD_UINT8 sum = 0;
    if (!ExpectedChecksum(m_Data, iOffset, &size, &sum)) return 0;
    SD_UINT8& stored = m_Data[iOffset + size - 1];
    if (bUpdate) stored = sum;
    return stored == sum ? 1 : 0;
}

bool BiosChecksumHolds(std::span<const SD_UINT8> m_Data, unsigned int iOffset) {
    SD_UINT32 size = 0;
    SD_UINT8 sum = 0;
    return ExpectedChecksum(m_Data, iOffset, &size, &sum) && m_Data[iOffset + size - 1] == sum;
}

bool isCommonBIOSImage(std::span<const SD_UINT8> m_Data, unsigned int iOffset) {
    return Fits(m_Data, iOffset, BIOS_MODL_OFFSET + 4) &&
           std::memcmp(m_Data.data() + iOffset + BIOS_MODL_OFFSET, "MODL", 4) == 0;
}

bool isBIOSImage(std::span<const SD_UINT8> m_Data, SD_UINT32 fSize, unsigned int iOffset) {
    return fSize == BIOS_FILE_SIZE && BiosChecksumHolds(m_Data, iOffset);
}

bool isCommonEFIImage(std::span<const SD_UINT8>, const char* hardwareType) {
    return CommonKind(hardwareType, &ChipNameRow::commonEfi);
}

bool isCommonFCodeImage(std::span<const SD_UINT8>, const char* hardwareType) {
    return CommonKind(hardwareType, &ChipNameRow::commonFCode);
}

int UpdateImage(SD_UINT16, SD_UINT16 subsysVendorId, std::span<SD_UINT8> m_Data, const char* HBAModel,
                const char* ISPString, unsigned int iOffset) {
    return PatchBios(FcChipNameTable(), "UpdateImage", subsysVendorId, m_Data, HBAModel, ISPString, iOffset);
}

int UpdateiSCSIImage(SD_UINT16, SD_UINT16 subsysVendorId, std::span<SD_UINT8> m_Data, const char* HBAModel,
                     const char* ISPString, unsigned int iOffset) {
    return PatchBios(IscsiChipNameTable(), "UpdateiSCSIImage", subsysVendorId, m_Data, HBAModel, ISPString, iOffset);
}

int Validate(std::span<const SD_UINT8> m_Data, const char* adapterhwtype, unsigned int iOffset) {
    if (!Fits(m_Data, iOffset, BIOS_MODL_OFFSET + 4)) return BOOT_IMAGE_INVALID;
    const std::string hw = TextOf(adapterhwtype).substr(0, kHwTypeMax);
    const auto field = HwTypeField(hw);
    if (std::memcmp(m_Data.data() + iOffset + BIOS_HWTYPE_OFFSET, field.data(), field.size()) != 0)
        return BOOT_IMAGE_WRONG_ADAPTER;
    if (!isCommonBIOSImage(m_Data, iOffset)) return BOOT_IMAGE_OK;

    const std::span<const ChipNameRow> table = FcChipNameTable();
    const ChipNameRow* row = FindChipNameRow(table, ("ISP" + hw).c_str());
    if (row == nullptr) {
        VORNLogMessage(VORN_MSG_DEBUG, "Validate: Unknown ISP %s", hw.c_str());
        return BOOT_IMAGE_WRONG_ADAPTER;
    }
    const SD_UINT8 code = m_Data[iOffset + BIOS_ADAPTER_TYPE_CODE_OFFSET];
    if (IsReservedAdapterTypeCode(table, code) && !RowAcceptsAdapterTypeCode(*row, code)) {
        VORNLogMessage(VORN_MSG_DEBUG, "Validate: ERROR_INVALID_SSID %s ADAPTER_TYPE_CODE_OFFSET 0X%X", hw.c_str(),
                       code);
        return BOOT_IMAGE_WRONG_ADAPTER;
    }
    return BiosChecksumHolds(m_Data, iOffset) ? BOOT_IMAGE_OK : BOOT_IMAGE_INVALID;
}

int UpdateImageEFI(SD_UINT16, SD_UINT16, std::span<SD_UINT8> m_Data, const char* ISPString, unsigned int iOffset) {
    return PatchDataStructureId("UpdateImageEFI", m_Data, ISPString, iOffset);
}

int updateImageFCode(SD_UINT16, SD_UINT16, std::span<SD_UINT8> m_Data, const char* ISPString, unsigned int iOffset) {
    return PatchDataStructureId("updateImageFCode", m_Data, ISPString, iOffset);
}

int ValidateEFI(std::span<const SD_UINT8> m_Data, const char* adapterhwtype, unsigned int iOffset) {
    std::size_t at = 0;
    if (!DataStructureAt(m_Data, iOffset, &at)) return BOOT_IMAGE_NO_SIGNATURE;
    const std::string image = ImageIdText(m_Data, at);
    const std::string hw = TextOf(adapterhwtype);
    // Hex digits compare in any case: the image's text is lower case, the
    // adapter's upper case.
    if (image[1] == '5' || (hw.size() >= 2 && SameHexDigit(image[1], hw[1]))) return BOOT_IMAGE_OK;
    return BOOT_IMAGE_ID_MISMATCH;
}

int validateFCode(std::span<const SD_UINT8> m_Data, const char* hardwareType, int iType, unsigned int iOffset) {
    const std::string hw = TextOf(hardwareType);
    if (iType != 0) {
        // Older system bus: no PCI header; the chip-name characters sit deep in the image.
        if (hw.compare(0, 2, "23") != 0 || hw.size() < 4) return BOOT_IMAGE_ID_MISMATCH;
        if (!Fits(m_Data, iOffset, FCODE_SBUS_NAME_OFFSET + 2)) return BOOT_IMAGE_ID_MISMATCH;
        // Both characters equal, or else the second alone: the second decides.
        const SD_UINT8 second = m_Data[iOffset + FCODE_SBUS_NAME_OFFSET + 1];
        if (second != static_cast<SD_UINT8>(hw[3])) return BOOT_IMAGE_ID_MISMATCH;
        return m_Data[iOffset] == FCODE_SBUS_FIRST_BYTE ? BOOT_IMAGE_OK : BOOT_IMAGE_NO_SIGNATURE;
    }

    std::size_t at = 0;
    if (!DataStructureAt(m_Data, iOffset, &at)) return BOOT_IMAGE_NO_SIGNATURE;
    const std::string image = ImageIdText(m_Data, at);

    // The 22xx chips and the older 23xx chips carry their own id exactly.
    if (hw.compare(0, 2, "22") == 0 || InList(hw, {"2300", "2310", "2312"}))
        return SameHexText(image, hw.c_str(), 4) ? BOOT_IMAGE_OK : BOOT_IMAGE_ID_MISMATCH;

    // These chips' FCode images carry the chip id with its second digit raised by 4.
    if (InList(hw, {"2031", "2261", "2071", "2081", "2181", "2281", "2381", "2089", "2189", "2289", "2389"})) {
        VORNLogMessage(VORN_MSG_DEBUG,
                       "validateFCode(PCI): hardwareType = %s, Buffer ISP[0]=%x ISP[1]=%x ISP[2]=%x ISP[3]= %x",
                       hw.c_str(), image[0], image[1], image[2], image[3]);
        const unsigned long chip = std::strtoul(hw.c_str(), nullptr, 16);
        const unsigned long id = std::strtoul(image.c_str(), nullptr, 16);
        if (id == chip + 0x400) return BOOT_IMAGE_OK;
    }
    return hw.size() >= 2 && SameHexDigit(image[1], hw[1]) ? BOOT_IMAGE_OK : BOOT_IMAGE_ID_MISMATCH;
}

int ValidateBIOS(std::span<const SD_UINT8> buffer, SD_UINT16 chipId) {
    Pci_Data_t data;
    if (!ReadPciImage(buffer, nullptr, &data)) return BOOT_IMAGE_NO_HEADER;
    if (chipId == 0x8030) return BOOT_IMAGE_OK;
    return zvpci_chg_endian(data.did) == chipId ? BOOT_IMAGE_OK : BOOT_IMAGE_WRONG_ADAPTER;
}
