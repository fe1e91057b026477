// PCI expansion-ROM chains: boot code (BIOS, FCode, PXE and EFI images) stored
// one image after the other, each with a ROM header and a PCI data structure,
// the last one flagged. Recognising images, walking a chain and finding its
// end, in memory and in files.
//
// Every reader takes the buffer with its length: an image whose header or data
// structure does not lie inside the buffer is no image, and a chain whose step
// is zero or leaves the buffer is broken.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <span>

#include "mgmt/sd_types.h"

// ---- On-flash records (byte arrays only: alignment 1, exact sizes) -------------------------
constexpr std::size_t PCI_HEADER_SIZE = 32;
constexpr std::size_t PCI_DATA_SIZE = 32;
// The fields up to `reserved1` must be present; `pad` may be cut by the buffer's end.
constexpr std::size_t PCI_DATA_MIN_SIZE = 24;
constexpr std::size_t PCI_BLOCK_SIZE = 512;

typedef struct _Pci_Header_t {
    SD_UINT8 signature[2];    // 0x55 0xAA
    SD_UINT8 reserved[22];    // BIOS images: size byte, hardware type, ... (boot_code_images.h)
    SD_UINT8 dataoffset[2];   // offset of the PCI data structure from the image start
    SD_UINT8 pad[6];
} Pci_Header_t;

typedef struct _Pci_Data_t {
    char signature[4];        // "PCIR"
    SD_UINT8 vid[2];
    SD_UINT8 did[2];
    SD_UINT8 reserved0[2];
    SD_UINT8 pcidatalen[2];
    SD_UINT8 pcidatarev;
    SD_UINT8 classcode[3];
    SD_UINT8 imagelength[2];  // in 512-byte units
    SD_UINT8 revisionlevel[2];// minor, major
    SD_UINT8 codetype;        // 0 BIOS, 1 FCode, 2 PXE, 3 EFI
    SD_UINT8 indicator;       // bit 7: last image of the chain
    SD_UINT8 reserved1[2];
    SD_UINT8 pad[8];
} Pci_Data_t;

static_assert(sizeof(Pci_Header_t) == PCI_HEADER_SIZE);
static_assert(sizeof(Pci_Data_t) == PCI_DATA_SIZE);
static_assert(offsetof(Pci_Header_t, dataoffset) == 24);
static_assert(offsetof(Pci_Data_t, did) == 6);
static_assert(offsetof(Pci_Data_t, imagelength) == 16);
static_assert(offsetof(Pci_Data_t, codetype) == 20);
static_assert(offsetof(Pci_Data_t, indicator) == 21);

constexpr SD_UINT8 PCI_CODE_BIOS = 0;
constexpr SD_UINT8 PCI_CODE_FCODE = 1;
constexpr SD_UINT8 PCI_CODE_PXE = 2;
constexpr SD_UINT8 PCI_CODE_EFI = 3;
constexpr SD_UINT16 PCI_VENDOR_OWN = 0x1077;

// Chain statuses.
constexpr int PCI_CHAIN_BROKEN = 22;

// A 16-bit field stored low byte first.
SD_UINT16 zvpci_chg_endian(const SD_UINT8 field[2]);

// ---- Predicates on a data structure and a header --------------------------------------------
bool IsLastImage(const Pci_Data_t* data);
SD_UINT32 GetImageLength(const Pci_Data_t* data);    // bytes
bool IsBiosImage(const Pci_Data_t* data);
bool IsFcodeImage(const Pci_Data_t* data);
bool IsPXEImage(const Pci_Data_t* data);
bool IsEfiImage(const Pci_Data_t* data);
bool IsDriverImage(const Pci_Data_t* data);          // device id not 1, 2 or 3 (data images)
bool IsVendorImage(const Pci_Data_t* data);          // vendor id 0x1077
SD_UINT16 GetDataLength(const Pci_Data_t* data);
SD_UINT16 GetDataOffset(const Pci_Header_t* header);
// The first strlen(text) bytes equal the text (an empty text matches); false
// when the bytes are fewer.
bool CompareSignature(std::span<const SD_UINT8> bytes, const char* text);

// ---- An image in memory (the span runs from the image's first byte to the buffer's end) ----
// Copies the header and data structure when both signatures are present and
// both lie inside the span; true then, whatever the image's kind.
bool ReadPciImage(std::span<const SD_UINT8> image, Pci_Header_t* header, Pci_Data_t* data);
// Driver image of code type 0 to 3 (data images and other code types are not).
bool IsThisPciImage(std::span<const SD_UINT8> image);
SD_UINT32 ImageSectorLength(std::span<const SD_UINT8> image);   // bytes, 0 when no image
bool IsThisLastImage(std::span<const SD_UINT8> image);
bool IsThisBiosImage(std::span<const SD_UINT8> image);
bool IsThisFcodeImage(std::span<const SD_UINT8> image);
bool IsThisEFIImage(std::span<const SD_UINT8> image);
bool IsThisPXEImage(std::span<const SD_UINT8> image);
// Copies of the header and data structure; 1 for a driver image of code type 0 to 3, else 0.
int GetHeaderAndData(std::span<const SD_UINT8> image, Pci_Header_t* header, Pci_Data_t* data);

// ---- Walking a chain --------------------------------------------------------------------------
struct PciChainImage {
    std::size_t offset;       // of the image's first byte in the chain
    std::size_t length;       // imagelength in bytes, never 0
    Pci_Header_t header;
    Pci_Data_t data;
};

enum class PciChainEnd {
    Last,      // the image flagged last was reached; it ends inside the buffer
    Broken,    // an image before the last is no PCI image, has length 0, leaves the buffer
               // or has its data structure outside its own length
    Stopped,   // the visitor asked to stop
};

struct PciChainWalk {
    PciChainEnd end;
    std::size_t endOffset;    // Last: just past the last image
    std::size_t images;       // images visited
};

// Visits each image in chain order; the visitor returns false to stop. Every
// image it sees is a PCI image whose whole length lies inside the buffer.
PciChainWalk WalkPciChain(std::span<const SD_UINT8> chain, const std::function<bool(const PciChainImage&)>& visit);

// Just past the last image of the chain at the buffer's start; null when the
// chain breaks before its last image (or the last image leaves the buffer).
const SD_UINT8* GetBootCodeEnd(std::span<const SD_UINT8> buffer);

// ---- Files and debug output ---------------------------------------------------------------
// Reads the header at `start` and the data structure `dataoffset` bytes further:
// 1, or 0 after an error line.
int GetFileImageHeader(std::FILE* fp, Pci_Header_t* header, Pci_Data_t* data, long start);
// Debug lines describing one image.
void PrintDataStructure(const Pci_Header_t* header, const Pci_Data_t* data, int index);
