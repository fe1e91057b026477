// The off-line flash update of Dorne adapters (chip type 25), for adapters
// or libraries without on-line update: the primary image set is written
// without a session, every region read back, and the image-status records
// are rewritten last to make the primary set the one the adapter starts from.
// While the secondary set runs and the records already start the primary (a
// run since the adapter started wrote it), they first name the running set
// again, so that a cut in the rewrite never leaves a torn set to start from.
// Nothing is activated: the new image runs after the next reboot.
#pragma once

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// 0, or a failure status as the on-line engine's (no session, so never 201,
// 0x4B3, 0x20B, 0x20C or 0x20D; a failed PEP firmware gives 0x1FF, a failed
// image-status record 0x202). A null device gives 0 and does nothing.
SD_INT32 DorneFlashUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset);

// The steps the engine takes before its first write, alone (as
// DorneOnlineCheckImage): 0 when it would go on to write, else its status.
SD_INT32 DorneOfflineCheckImage(SDMDevice* pDevice, const char* pFlashImageFile);
