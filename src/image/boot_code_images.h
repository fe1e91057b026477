// Per-image rules for the boot code of a ROM chain: recognising a common
// (placeholder-carrying) image, patching it with an adapter's identity,
// validating it against the adapter's chip, and the BIOS image checksum.
//
// Every function takes the buffer holding the chain with its length and the
// offset of the image's first byte in it; nothing is read or written outside
// the buffer, and a patch that does not fit writes nothing.
#pragma once

#include <cstddef>
#include <span>

#include "mgmt/sd_types.h"

// BIOS image fields (offsets from the image start).
constexpr std::size_t BIOS_SIZE_OFFSET = 2;               // size in 512-byte blocks
constexpr std::size_t BIOS_HWTYPE_OFFSET = 9;             // four characters, "%04X" of the device id
constexpr std::size_t BIOS_HWTYPE_LENGTH = 4;
constexpr std::size_t BIOS_ADAPTER_TYPE_CODE_OFFSET = 20;
constexpr std::size_t BIOS_SVID_TAG_OFFSET = 28;          // "SVID"
constexpr std::size_t BIOS_SVID_OFFSET = 32;              // subsystem vendor id, little-endian
constexpr std::size_t BIOS_DEVICE_ID_OFFSET = 42;         // little-endian
constexpr std::size_t BIOS_MODL_OFFSET = 64;              // "MODL" in a common image
constexpr std::size_t BIOS_MODEL_OFFSET = 68;
constexpr std::size_t BIOS_MODEL_FIELD = 19;              // up to 18 characters, a blank, zeros
constexpr std::size_t BIOS_MODEL_MAX = 18;
constexpr std::size_t BIOS_PATCHED_END = BIOS_MODEL_OFFSET + BIOS_MODEL_FIELD;   // 87
constexpr SD_UINT32 BIOS_MAX_BLOCKS = 127;
constexpr SD_UINT32 BIOS_FILE_SIZE = 0x20000;

// FCode images for the older system bus: the chip-name characters they carry.
constexpr std::size_t FCODE_SBUS_NAME_OFFSET = 98360;
constexpr SD_UINT8 FCODE_SBUS_FIRST_BYTE = 0xF1;

// Statuses.
constexpr int BOOT_IMAGE_OK = 0;
constexpr int BOOT_IMAGE_UNKNOWN_HWTYPE = 9;
constexpr int BOOT_IMAGE_WRONG_ADAPTER = 10;
constexpr int BOOT_IMAGE_ID_MISMATCH = 11;
constexpr int BOOT_IMAGE_INVALID = 12;       // checksum, or a size that does not fit
constexpr int BOOT_IMAGE_NO_SIGNATURE = 23;
constexpr int BOOT_IMAGE_NO_HEADER = 31;

// Bytes of the BIOS image by its size byte; 0 when the byte is 0 or above 127
// or the image runs past the buffer.
SD_UINT32 BiosImageSize(std::span<const SD_UINT8> m_Data, unsigned int iOffset);
// 1 when the checksum byte (size - 1) is the two's complement of the bytes 0
// to size - 3; stores it first when bUpdate. An image whose size is invalid
// gives 0 and nothing is written.
int ComputeChecksum(bool bUpdate, std::span<SD_UINT8> m_Data, unsigned int iOffset);
bool BiosChecksumHolds(std::span<const SD_UINT8> m_Data, unsigned int iOffset);

bool isCommonBIOSImage(std::span<const SD_UINT8> m_Data, unsigned int iOffset);
bool isBIOSImage(std::span<const SD_UINT8> m_Data, SD_UINT32 fSize, unsigned int iOffset);
// The chip takes common EFI or FCode images (the image itself is not inspected).
bool isCommonEFIImage(std::span<const SD_UINT8> m_Data, const char* hardwareType);
bool isCommonFCodeImage(std::span<const SD_UINT8> m_Data, const char* hardwareType);

// Patches a BIOS image for an adapter: model name, hardware type, adapter type
// code, subsystem vendor id, device id. 0; 9 for a chip missing from the table
// (the other fields are still written); 12 when the fields do not fit in the
// buffer (nothing written).
int UpdateImage(SD_UINT16 subsysDeviceId, SD_UINT16 subsysVendorId, std::span<SD_UINT8> m_Data,
                const char* HBAModel, const char* ISPString, unsigned int iOffset);
// The same with the iSCSI BIOS table.
int UpdateiSCSIImage(SD_UINT16 subsysDeviceId, SD_UINT16 subsysVendorId, std::span<SD_UINT8> m_Data,
                     const char* HBAModel, const char* ISPString, unsigned int iOffset);
// 0 valid, 10 other adapter or unknown chip, 12 checksum (or an image too short).
int Validate(std::span<const SD_UINT8> m_Data, const char* adapterhwtype, unsigned int iOffset);

// Write the table's device id into the image's PCI data structure: 0, 9 for an
// unknown chip, 23 when there is no image with a data structure at the offset.
int UpdateImageEFI(SD_UINT16 subsysDeviceId, SD_UINT16 subsysVendorId, std::span<SD_UINT8> m_Data,
                   const char* ISPString, unsigned int iOffset);
int updateImageFCode(SD_UINT16 subsysDeviceId, SD_UINT16 subsysVendorId, std::span<SD_UINT8> m_Data,
                     const char* ISPString, unsigned int iOffset);

// EFI image against a hardware type ("%04X" of the device id): 0 when the
// second hex digit of the image's device id equals the hardware type's (any
// case) or is 5; 11 otherwise; 23 without an image at the offset.
int ValidateEFI(std::span<const SD_UINT8> m_Data, const char* adapterhwtype, unsigned int iOffset);
// FCode image against a hardware type: 0, 11 or 23. iType selects images for
// the older system bus.
int validateFCode(std::span<const SD_UINT8> m_Data, const char* hardwareType, int iType, unsigned int iOffset);
// BIOS or PXE image of a NIC chain (the span starts at the image): 0; 31 without
// header or data structure; 10 when its device id is not the chip id (chip
// 0x8030 takes any).
int ValidateBIOS(std::span<const SD_UINT8> buffer, SD_UINT16 chipId);
