// The on-line (secured) flash update of Dorne adapters (chip type 25): the
// multiboot image goes into the image set the adapter does not run, inside a
// flash-update session of the management library; every region is read back,
// and only then do the image-status records make the new set the one the
// adapter starts from. The adapter keeps running meanwhile.
#pragma once

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// 0 (activated on line), 201 (written, takes effect at the next reboot), or
// a failure status: 1, 0x0B, 0x21, 0x22, 0x24, 0x73, 0x11E, 0x4B3, 0x20D, the
// validation statuses, a region's status (0x1FE, 0x1FF, 0x200, 0x201, 0x1CA,
// 0x1CB, 0x1D3), 0x202/0x203 (image-status records), 0x20B/0x20C (activation).
// A null device gives 0 and does nothing. `DisableReset` non-zero: no
// activation, the new set runs after the next reboot.
SD_INT32 DorneOnlineFlashUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset);

// The steps the engine takes before its first write, alone: the same
// refusals with the same lines, the image read through the reader rule and
// validated for the adapter, nothing written. 0 when the engine would go on
// to write; else the status it would return.
SD_INT32 DorneOnlineCheckImage(SDMDevice* pDevice, const char* pFlashImageFile);

// The engine's refusal of its session, for a caller that learns of another
// process's session on the adapter before the engine would open its own: the
// lines the engine says as it is refused ("Updating Flash on HBA ..." and the
// session-in-progress line), its status (0x20D) given.
SD_INT32 DorneOnlineRefuseHeldSession(SDMDevice* pDevice);
