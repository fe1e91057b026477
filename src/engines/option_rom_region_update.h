// The single-region option-ROM update of older adapters (update classes 1 and
// 8): the image file, checked and patched for the adapter, written over the
// requested flash region, or for a whole multiboot image over the boot-code,
// combined and firmware regions in turn.
#pragma once

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// Statuses besides those of the file check (image/option_rom_validation.h).
constexpr SD_INT32 OPTROM_UPD_OPEN_FAILED = 1;
constexpr SD_INT32 OPTROM_UPD_NO_DEVICE = 8;
constexpr SD_INT32 OPTROM_UPD_NO_MEMORY = 11;
constexpr SD_INT32 OPTROM_UPD_FILE_CORRUPTED = 33;
constexpr SD_INT32 OPTROM_UPD_FAILED = 34;
constexpr SD_INT32 OPTROM_UPD_NOT_SUPPORTED = 37;
constexpr SD_INT32 OPTROM_UPD_NEEDS_REBOOT = 201;

// Writes the file named by ROMFileName to the adapter's region that the
// image-update request names. 0 when every write succeeded, 201 when one
// answered that the new contents need a reboot, 34 when a write failed or
// nothing was written, else the refusal's status. Nothing is written unless
// every region's bytes lie within the file and the region was read first.
SD_INT32 OptionROMRegionUpdate(SDMDevice* pDevice, const char* ROMFileName);
