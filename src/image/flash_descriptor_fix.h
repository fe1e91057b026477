// One-off repair of the flash descriptor table (region 0x1A) of chip-type-24
// adapters whose Winbond flash part was described with a wrong erase code.
#pragma once

#include <cstddef>
#include <span>

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

constexpr SD_UINT32 FDT_REGION = 0x1A;
// Where the table keeps the flash part id, its erase code and its checksum.
constexpr std::size_t FDT_OFF_PART_ID = 0x3F001C;
constexpr std::size_t FDT_OFF_ERASE_CODE = 0x3F0021;
constexpr std::size_t FDT_OFF_CHECKSUM = 0x3F0008;
// A region must reach past the erase code to hold the table.
constexpr std::size_t FDT_MIN_REGION_SIZE = FDT_OFF_ERASE_CODE + 2;

constexpr SD_INT32 FDT_ERASE_CODE_OK = 430;
constexpr SD_INT32 FDT_WRITE_FAILED = 34;

// Whether the part id bytes say Winbond (0xEF 0x00 0x18 0x40); false for a
// buffer that does not reach them.
bool IsWinBondFlashPart(std::span<const SD_UINT8> pBuffer);
// Whether the erase code is 0xD8 0x20; false for a buffer that does not reach it.
bool IsCorrectEraseCode(std::span<const SD_UINT8> pBuffer);

// Repairs the table of a chip-type-24 adapter, with its lines in the output
// file: 0 (another chip type or flash part, or repaired), 201 (repaired, active
// after a reboot), 430 (nothing to repair), 34 (write failed), 115 (memory),
// 8 (no device), the region wrappers' status when the region cannot be sized
// or read, or 36 when the region is too small to hold the table.
SD_INT32 ModifyFlashDescriptorTableAdapter(SDMDevice* pDevice);
