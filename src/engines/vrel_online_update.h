// The on-line flash update of chip-type-27 (Vrel) adapters: a multiboot image
// is validated and combined for the adapter, written into the image set the
// adapter does not run, read back, and that set is made the one the adapter
// starts from next (memo block, image-status and auxiliary records).
#pragma once

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// Statuses of the engine besides the validation table's and the region failures'.
constexpr SD_INT32 VREL_NO_DEVICE = 8;
constexpr SD_INT32 VREL_SSID_MISMATCH = 11;
constexpr SD_INT32 VREL_OPEN_FAILED = 1;
constexpr SD_INT32 VREL_FILE_CORRUPTED = 33;
constexpr SD_INT32 VREL_LAYOUT_UNREADABLE = 36;
constexpr SD_INT32 VREL_NOTHING_WRITTEN = 34;
constexpr SD_INT32 VREL_NO_MEMORY = 115;
constexpr SD_INT32 VREL_SUCCESS_REBOOT = 201;
constexpr SD_INT32 VREL_VIRTUAL_PORT = 286;
constexpr SD_INT32 VREL_ACTIVATE_REBOOT = 523;
constexpr SD_INT32 VREL_ACTIVATE_FAILED = 524;
constexpr SD_INT32 VREL_SESSION_IN_PROGRESS = 525;
constexpr SD_INT32 VREL_UNSUPPORTED = 1203;

// Writes the image file to the adapter of pDevice. 201 when complete and
// active after the next reboot (always so with DisableReset set, and when
// the session could not be closed after a complete write); 0 when complete
// and activated on line; otherwise the failure's status, the adapter still
// starting from the set it ran. The active set must be known (1 or 2) before
// anything is written. uPrimaryOnly has no effect.
SD_INT32 VrelOnlineFlashUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset,
                               SD_UINT32 uPrimaryOnly);

// Makes the secondary set (uSetActiveRegion 2) or the primary set (any other
// value) the one the adapter starts from, by the image-status records alone;
// uComponentUpdate non-zero also makes the auxiliary records name that set's
// copy of the component (a call repeated changes nothing). 0, 8, 286,
// the active-regions query's status, 203 or 204.
SD_INT32 SetAdapterActiveRegion(SDMDevice* pDevice, SD_UINT8 uSetActiveRegion, SD_UINT8 uComponentUpdate);
