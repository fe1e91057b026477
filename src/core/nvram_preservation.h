// Keeping an adapter's own NVRAM settings when a new NVRAM image (a default
// image, say) is about to replace the adapter's: its names, boot and EFI
// settings, MAC addresses and firmware-specific bytes are copied from the
// images the device record holds into the new image. Also the unused areas
// of an option-ROM image.
//
// Variables travel through the library's variable table (SDGetVariableValue,
// SDSetVariableValue) with their full width; a variable the adapter's table
// has no place for is left as it is.
#pragma once

#include <cstddef>
#include <span>

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// NVRAM images are this long; the byte-range copies need both images whole.
constexpr std::size_t NVRAM_IMAGE_SIZE = 512;
// Option-ROM images are 1 MiB.
constexpr std::size_t OPTION_ROM_IMAGE_SIZE = 0x100000;

// Copies the adapter's variables from the device's initial and current NVRAM
// copies into `nvram`; with iDefaults non-zero the current copy's settings
// are not taken. 0; -1 for a null device or an image shorter than 512 bytes.
int PreserveNvramData(const SDMDevice* queryDevice, std::span<SD_UINT8> nvram, int iDefaults);

// Bytes 0x80-0xFF and 0x1E8-0x1F6 of the existing image (type 2 also
// 0xDC-0xDF, which lie inside the first range). 0, or -1 (nothing copied)
// when either image is shorter than 512 bytes.
int PreserveFirmwareNVRAMData(int iType, std::span<SD_UINT8> newnvramdata, std::span<const SD_UINT8> existingnvramdata);
// The alternate world-wide names (0x180-0x18F); byte 0x101 takes its top
// three bits from the existing image; byte 0x103 takes bit 1 from it and has
// bit 0 cleared. 0 or -1 as above.
int PreserveAltWWNNVRAMData(std::span<SD_UINT8> newnvramdata, std::span<const SD_UINT8> existingnvramdata);
// The two MAC addresses (0x40-0x45, 0x160-0x165). 0 or -1 as above.
int PreserveMACAddressNVRAMData(std::span<SD_UINT8> newnvramdata, std::span<const SD_UINT8> existingnvramdata);
// Bytes 0x40000-0x7FFFF and 0xC0000-0xFFFFF of a 1 MiB option-ROM image. 0,
// or -1 (nothing copied) when either image is shorter than 1 MiB.
int PreserveOptionROMUnusedData(std::span<SD_UINT8> newoptdata, std::span<const SD_UINT8> existingoptdata);
