// Versions of the components of a flash image or of an adapter's flash
// regions, read from the component bytes into a FlashComponentVersion record.
#pragma once

#include <span>

#include "image/flash_memo_block.h"
#include "mgmt/sd_types.h"

// Statuses of the boot-code walk.
constexpr int BOOTVER_UNKNOWN_IMAGE = 2;
constexpr int BOOTVER_NO_HEADER = 3;
constexpr int BOOTVER_INVALID_DEVICE = 4;

// Whether boot code for this PCI device id carries versions this program reads.
bool IsBootCodeVersionDevice(SD_UINT16 deviceId);

// Walks the ROM chain at the buffer's start and records the BIOS (also PXE),
// FCode and EFI versions (code revision: high byte major, low byte minor):
// 0 at the image flagged last; 2 an image of another code type; 3 an image
// whose headers cannot be read or whose length leaves the buffer (the first
// image's header is read before the device id is judged); 4 a device id this
// program does not read boot code of (nothing recorded). Images before a
// failure keep their recorded versions.
int GetImageBootCodesVersion(std::span<const SD_UINT8> pBuffer, SD_UINT16 deviceId,
                             FlashComponentVersion* pVersions);
