// The image update of the first-generation converged adapters (chip type
// 15): the components of a multiboot image that serve the adapter's card
// type are combined for it and written to its boot-code and firmware
// regions through the region writer that activates what it writes.
#pragma once

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// Statuses besides the image checks' (451, 452, 453 and those of the header check).
constexpr SD_INT32 CNA1_SUCCESS = 0;
constexpr SD_INT32 CNA1_OPEN_FAILED = 1;
constexpr SD_INT32 CNA1_UNSUPPORTED = 7;          // not a first-generation converged adapter
constexpr SD_INT32 CNA1_NO_DEVICE = 8;
constexpr SD_INT32 CNA1_FILE_CORRUPTED = 0x21;
constexpr SD_INT32 CNA1_NOT_ALL_REGIONS = 0x22;   // a write failed, nothing to write, or an entry too large
constexpr SD_INT32 CNA1_BOOT_CODE_UNREADABLE = 0x24;
constexpr SD_INT32 CNA1_NO_REGIONS = 0x25;
constexpr SD_INT32 CNA1_NO_LAYOUT = 0x26;
constexpr SD_INT32 CNA1_NO_MEMORY = 0x73;
constexpr SD_INT32 CNA1_VIRTUAL_PORT = 0x11E;

// The regions written, in this order, when the image has them for the adapter.
constexpr unsigned CNA1_SEQUENCE_SIZE = 4;   // 0x07, 0x2E, 0x01, 0xA4

// Writes the image file to the adapter of pDevice with the process-wide
// request (which must be for all regions): 0 when every planned region was
// written, otherwise a positive status. Every entry must fit its flash
// region and no region may have two entries; both are checked before the
// first write.
SD_INT32 CNAOptionROMRegionUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset);
