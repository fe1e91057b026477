// The standard BIOS update of the oldest adapters (update classes 2 to 4): a
// whole 128 KiB option-ROM image, checked and patched for the adapter,
// written through the management library's whole-image write.
#pragma once

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

constexpr SD_UINT32 STD_BIOS_IMAGE_SIZE = 0x20000;

// 0 done, 201 done and a reboot is needed, -1 for a file or write failure,
// else the image check's status. A file shorter than 128 KiB is written with
// erased bytes (0xFF) after it.
SD_INT32 DoStdBiosUpdate(SDMDevice* pDevice, const char* ROMFileName);
