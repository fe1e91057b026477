// Repair of the adapter identity (PCI subsystem ids, device id, model) that
// the images of an adapter's active FC boot code carry.
#pragma once

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

constexpr SD_INT32 BOOT_REPAIR_NO_DEVICE = 8;
constexpr SD_INT32 BOOT_REPAIR_FAILED = 34;
constexpr SD_INT32 BOOT_REPAIR_NO_MEMORY = 115;
constexpr SD_INT32 BOOT_REPAIR_VIRTUAL_PORT = 286;

// The boot-code region an adapter runs from and its image set (1 or 2):
// 0xA2 on chip type 21; on chip types above 24, 0x09 (set 2) when the primary
// image-status record is valid for the chip and marked inactive; else 0x07.
// False only when memory runs out.
bool GetActiveBootCodeRegion(SDMDevice* pDevice, SD_UINT32* pRegion, SD_INT32* pSet);

// Rewrites the ids of every image of the port's active boot code from the
// port's NVRAM and properties, keeping the adapter's preserved BIOS defaults:
// 0; -1 no device; 286 virtual port; 115 no memory; the region wrappers'
// status when the region cannot be sized or read; the patcher's status; 34
// when the defaults cannot be kept or the write fails.
SD_INT32 FixAdapterOptionRomBootCode(SDMDevice* pDevice);
// The same for the first port of every adapter of the front end's device
// list: 8 for an empty list, else 0 or the last failure.
SD_INT32 FixAllAdaptersOptionRomBootCode();
