// Checking an option-ROM image file against an older adapter before it is
// written, and patching its common boot-code images for that adapter: the
// multiboot check of the single-region update and the whole-image check of
// the standard BIOS update. Both read the requested region from the image-
// update request (option_rom_request.h).
//
// Every offset taken from the image is bounded by the image it belongs to:
// a patch or a checksum never reaches into the next image of the chain or
// past the buffer.
#pragma once

#include <span>

#include "mgmt/sd_types.h"

// Results besides the boot-code image statuses (boot_code_images.h) and the
// firmware-file statuses (firmware_image.h).
constexpr int OPTROM_ADAPTER_LIST_UNREADABLE = 9;   // adapters.properties cannot be read
constexpr int OPTROM_NO_ADAPTER_ROW = 10;           // no row for the adapter's subsystem ids
constexpr int OPTROM_NO_HEADER_SIGNATURE = 22;      // an image without 0x55 0xAA (or the chain breaks)
constexpr int OPTROM_NO_DATA_SIGNATURE = 23;        // an image without "PCIR"
constexpr int OPTROM_UNREADABLE_IMAGE = 25;         // the first image's headers cannot be read
constexpr int OPTROM_FW_TOO_LARGE = 30;
constexpr int OPTROM_BOOT_WRONG_SIZE = 31;
constexpr int OPTROM_DATA_WRONG_SIZE = 32;

constexpr SD_UINT32 OPTROM_MAX_FIRMWARE_FILE = 0x40000;
constexpr SD_UINT32 OPTROM_BOOT_FILE_SIZE = 0x40000;
constexpr SD_UINT32 OPTROM_MULTIBOOT_FILE_SIZE = 0x100000;

// Checks the file bytes against the requested region (a request region of 0
// becomes 0xFF in the request record; any region but 1, 7 and 0xFF becomes
// 0xFF) and walks its boot-code chain from offset 0, validating and patching
// every common BIOS, EFI and FCode image for the chip "ISP%04X" of
// uDeviceChipID. 0 and 28 let the write go ahead; otherwise the failing
// check's status (10 when no image was checked). A re-validation that fails
// after a patch ends the walk with its status.
int validateUpdateMultibootOptionROM(SD_UINT16 subsysDeviceId, SD_UINT16 subsysVendorId, std::span<SD_UINT8> pFlashBuf,
                                     const char* acHBAModel, SD_UINT16 uDeviceChipID, int busType);
// The same with the hardware type taken from the adapter's row of the
// installation directory's adapters.properties (9, 10 as below).
int validateUpdateMultibootOptionROM_1(SD_UINT16 subsysDeviceId, SD_UINT16 subsysVendorId,
                                       std::span<SD_UINT8> pFlashBuf, const char* acHBAModel,
                                       SD_UINT16 uDeviceChipID, int busType);

// Reads a file of at most *maxSize bytes into the start of the buffer (which
// must hold *maxSize bytes; bytes past the file are left as they are). 0 with
// *maxSize set to the file's size; 1 cannot open (*maxSize set to 0); 3 read
// error; 4 larger than *maxSize or the buffer.
int validateOptionROMFile(const char* path, std::span<SD_UINT8> buffer, SD_UINT32* maxSize);

// Checks and patches a whole option-ROM image of an older adapter: the
// hardware type comes from the adapter's row of adapters.properties (9 when
// the table cannot be read, 10 when no row matches). A first image that is a
// BIOS image without "MODL" gives its standard validation at once; otherwise
// common images are validated, patched and validated again until the last
// image or the first image that cannot be read (25 when that is the first).
int validateUpdateOptionROM(SD_UINT16 subsysDeviceId, SD_UINT16 subsysVendorId, std::span<SD_UINT8> acBuffer,
                            const char* acHBAModel, SD_UINT16 uDeviceChipID, int busType);
