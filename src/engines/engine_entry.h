// Entry points through which the update dispatch hands an adapter to the flow
// of its update class: the family engines (Dorne online and offline, Vrel),
// the converged-adapter engines and the single-region flows of older adapters.
//
// The engines themselves are not carried by this build yet. Until one is, its
// entry point writes nothing to flash and answers ENGINE_NOT_AVAILABLE, which
// the dispatch reports as a failed update (never as success).
#pragma once

#include "core/sdm_device.h"
#include "image/flash_update_queries.h"   // CheckFlashUpdateCapabilities
#include "mgmt/sd_types.h"

// Status of an entry point whose engine this build does not carry.
constexpr SD_INT32 ENGINE_NOT_AVAILABLE = 1290;

// Chip type 25 (update class 13): the online engine needs a flash-update
// session; the offline one writes the primary set.
SD_INT32 DorneOnlineFlashUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset);
SD_INT32 DorneFlashUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset);
// Chip type 27 (update class 14); uPrimaryOnly is accepted and has no effect.
SD_INT32 VrelOnlineFlashUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset,
                               SD_UINT32 uPrimaryOnly);
// Converged adapters: chip type 15 (class 9), K7R (class 10), Torvi (class 11).
SD_INT32 CNAOptionROMRegionUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset);
SD_INT32 CNAK7ORevA0ptionROMRegionUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset);
SD_INT32 CNATorviOptionROMRegionUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset);
// Older adapters: one region (classes 1 and 8) or the whole image (classes 2 to 4).
SD_INT32 OptionROMRegionUpdate(SDMDevice* pDevice, const char* ROMFileName);
SD_INT32 DoStdBiosUpdate(SDMDevice* pDevice, const char* ROMFileName);
