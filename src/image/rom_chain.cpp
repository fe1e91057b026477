// Reading PCI expansion-ROM images and walking their chains.
#include "image/rom_chain.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "frontend/output.h"

namespace {

constexpr SD_UINT8 kRomSig0 = 0x55, kRomSig1 = 0xAA;

bool IsDataImageId(SD_UINT16 did) { return did >= 1 && did <= 3; }

bool IsDriverImageOfKnownCode(const Pci_Data_t& data) { return IsDriverImage(&data) && data.codetype <= PCI_CODE_EFI; }

}  // namespace

SD_UINT16 zvpci_chg_endian(const SD_UINT8 field[2]) {
    return static_cast<SD_UINT16>(field[0] | (field[1] << 8));
}

bool IsLastImage(const Pci_Data_t* data) { return data != nullptr && (data->indicator & 0x80) != 0; }
SD_UINT32 GetImageLength(const Pci_Data_t* data) {
    return data == nullptr ? 0 : SD_UINT32{zvpci_chg_endian(data->imagelength)} * PCI_BLOCK_SIZE;
}
bool IsBiosImage(const Pci_Data_t* data) { return data != nullptr && data->codetype == PCI_CODE_BIOS; }
bool IsFcodeImage(const Pci_Data_t* data) { return data != nullptr && data->codetype == PCI_CODE_FCODE; }
bool IsPXEImage(const Pci_Data_t* data) { return data != nullptr && data->codetype == PCI_CODE_PXE; }
bool IsEfiImage(const Pci_Data_t* data) { return data != nullptr && data->codetype == PCI_CODE_EFI; }
bool IsDriverImage(const Pci_Data_t* data) { return data != nullptr && !IsDataImageId(zvpci_chg_endian(data->did)); }
bool IsVendorImage(const Pci_Data_t* data) { return data != nullptr && zvpci_chg_endian(data->vid) == PCI_VENDOR_OWN; }
SD_UINT16 GetDataLength(const Pci_Data_t* data) { return data == nullptr ? 0 : zvpci_chg_endian(data->pcidatalen); }
SD_UINT16 GetDataOffset(const Pci_Header_t* header) {
    return header == nullptr ? 0 : zvpci_chg_endian(header->dataoffset);
}

bool CompareSignature(std::span<const SD_UINT8> bytes, const char* text) {
    if (text == nullptr) return true;
    const std::size_t n = std::strlen(text);
    return n <= bytes.size() && std::memcmp(bytes.data(), text, n) == 0;
}

bool ReadPciImage(std::span<const SD_UINT8> image, Pci_Header_t* header, Pci_Data_t* data) {
    // The header is needed up to its data offset field.
    constexpr std::size_t kHeaderNeeded = offsetof(Pci_Header_t, dataoffset) + 2;
    if (image.size() < kHeaderNeeded || image[0] != kRomSig0 || image[1] != kRomSig1) return false;
    Pci_Header_t h{};
    std::memcpy(&h, image.data(), std::min(image.size(), sizeof h));
    const std::size_t at = GetDataOffset(&h);
    if (at > image.size() || image.size() - at < PCI_DATA_MIN_SIZE) return false;
    Pci_Data_t d{};
    std::memcpy(&d, image.data() + at, std::min(image.size() - at, sizeof d));
    if (std::memcmp(d.signature, "PCIR", 4) != 0) return false;
    if (header != nullptr) *header = h;
    if (data != nullptr) *data = d;
    return true;
}

int GetHeaderAndData(std::span<const SD_UINT8> image, Pci_Header_t* header, Pci_Data_t* data) {
    Pci_Header_t h;
    Pci_Data_t d;
    if (!ReadPciImage(image, &h, &d) || !IsDriverImageOfKnownCode(d)) return 0;
    if (header != nullptr) *header = h;
    if (data != nullptr) *data = d;
    return 1;
}

bool IsThisPciImage(std::span<const SD_UINT8> image) { return GetHeaderAndData(image, nullptr, nullptr) == 1; }

SD_UINT32 ImageSectorLength(std::span<const SD_UINT8> image) {
    Pci_Data_t d;
    return ReadPciImage(image, nullptr, &d) ? GetImageLength(&d) : 0;
}

namespace {
template <typename Pred>
bool TestImage(std::span<const SD_UINT8> image, Pred pred) {
    Pci_Data_t d;
    return ReadPciImage(image, nullptr, &d) && pred(&d);
}
}  // namespace

bool IsThisLastImage(std::span<const SD_UINT8> image) { return TestImage(image, IsLastImage); }
bool IsThisBiosImage(std::span<const SD_UINT8> image) { return TestImage(image, IsBiosImage); }
bool IsThisFcodeImage(std::span<const SD_UINT8> image) { return TestImage(image, IsFcodeImage); }
bool IsThisEFIImage(std::span<const SD_UINT8> image) { return TestImage(image, IsEfiImage); }
bool IsThisPXEImage(std::span<const SD_UINT8> image) { return TestImage(image, IsPXEImage); }

PciChainWalk WalkPciChain(std::span<const SD_UINT8> chain, const std::function<bool(const PciChainImage&)>& visit) {
    PciChainWalk walk{PciChainEnd::Broken, 0, 0};
    std::size_t off = 0;
    // Each step moves forward by at least one block, so the walk ends.
    while (off < chain.size()) {
        PciChainImage img{};
        img.offset = off;
        if (GetHeaderAndData(chain.subspan(off), &img.header, &img.data) != 1) return walk;
        img.length = GetImageLength(&img.data);
        if (img.length == 0 || img.length > chain.size() - off) return walk;
        // A data structure outside its own image would let a patch reach the next one.
        if (GetDataOffset(&img.header) + PCI_DATA_MIN_SIZE > img.length) return walk;
        ++walk.images;
        if (visit && !visit(img)) {
            walk.end = PciChainEnd::Stopped;
            return walk;
        }
        if (IsLastImage(&img.data)) {
            walk.end = PciChainEnd::Last;
            walk.endOffset = off + img.length;
            return walk;
        }
        off += img.length;
    }
    return walk;
}

const SD_UINT8* GetBootCodeEnd(std::span<const SD_UINT8> buffer) {
    const PciChainWalk walk = WalkPciChain(buffer, nullptr);
    return walk.end == PciChainEnd::Last ? buffer.data() + walk.endOffset : nullptr;
}

int GetFileImageHeader(std::FILE* fp, Pci_Header_t* header, Pci_Data_t* data, long start) {
    if (fp == nullptr || header == nullptr || data == nullptr || start < 0) {
        VORNLogMessage(VORN_MSG_ERROR, "Failed to wind file to header!");
        return 0;
    }
    if (std::fseek(fp, start, SEEK_SET) != 0) {
        VORNLogMessage(VORN_MSG_ERROR, "Failed to wind file to header!");
        return 0;
    }
    if (std::fread(header, sizeof *header, 1, fp) != 1) {
        VORNLogMessage(VORN_MSG_ERROR, "Failed to read header from file!");
        return 0;
    }
    if (header->signature[0] != kRomSig0 || header->signature[1] != kRomSig1) {
        VORNLogMessage(VORN_MSG_ERROR, "Failed to recognize header signature!");
        return 0;
    }
    if (start > LONG_MAX - 0xFFFF || std::fseek(fp, start + GetDataOffset(header), SEEK_SET) != 0) {
        VORNLogMessage(VORN_MSG_ERROR, "Failed to wind file to data!");
        return 0;
    }
    if (std::fread(data, sizeof *data, 1, fp) != 1) {
        VORNLogMessage(VORN_MSG_ERROR, "Failed to read data from file!");
        return 0;
    }
    if (std::memcmp(data->signature, "PCIR", 4) != 0) {
        VORNLogMessage(VORN_MSG_ERROR, "Failed to recognize data signature!");
        return 0;
    }
    return 1;
}

void PrintDataStructure(const Pci_Header_t* header, const Pci_Data_t* data, int index) {
    (void)header;
    if (data == nullptr) return;
    static constexpr const char* kDataImageNames[] = {"", "(VPD Data)", "(ISP23xx Firmware)", "(ISP24xx Firmware)"};
    static constexpr const char* kCodeNames[] = {"(Intel X86 PC compatible)", "(PCI Open firmware)", "(HP PA RISC)",
                                                 "(EFI driver)"};
    const SD_UINT16 did = zvpci_chg_endian(data->did);
    VORNLogMessage(VORN_MSG_DEBUG, "Image %d  %s", index, IsLastImage(data) ? "(Last)" : "(More)");
    VORNLogMessage(VORN_MSG_DEBUG, "Signature %.4s", data->signature);
    VORNLogMessage(VORN_MSG_DEBUG, "Vendor Id %04X", zvpci_chg_endian(data->vid));
    VORNLogMessage(VORN_MSG_DEBUG, "Device Id %04X %s", did, IsDataImageId(did) ? kDataImageNames[did] : "");
    VORNLogMessage(VORN_MSG_DEBUG, "Revision  %02d.%02d", data->revisionlevel[1], data->revisionlevel[0]);
    VORNLogMessage(VORN_MSG_DEBUG, "Length    %d bytes", static_cast<int>(GetImageLength(data)));
    VORNLogMessage(VORN_MSG_DEBUG, "Code Type %02X  %s", data->codetype,
                   data->codetype <= PCI_CODE_EFI ? kCodeNames[data->codetype] : "");
}
