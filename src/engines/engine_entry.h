// Entry points through which the update dispatch hands an adapter to the flow
// of its update class: the family engines (Dorne online and offline, Vrel),
// the converged-adapter engines and the single-region flows of older adapters.
//
// An engine this build does not carry yet has an entry point that writes
// nothing to flash and answers ENGINE_NOT_AVAILABLE, which the dispatch
// reports as a failed update (never as success).
#pragma once

#include "core/sdm_device.h"
#include "image/flash_update_queries.h"   // CheckFlashUpdateCapabilities
#include "mgmt/sd_types.h"

// Status of an entry point whose engine this build does not carry.
constexpr SD_INT32 ENGINE_NOT_AVAILABLE = 1290;

// Chip type 25 (update class 13): the online engine needs a flash-update
// session; the offline one writes the primary set.
#include "engines/dorne_offline_update.h"   // DorneFlashUpdate
#include "engines/dorne_online_update.h"    // DorneOnlineFlashUpdate
// Chip type 27 (update class 14): VrelOnlineFlashUpdate.
#include "engines/vrel_online_update.h"
// Converged adapters: chip type 15 (class 9), K7R (class 10), Torvi (class 11),
// Pemra (class 12).
#include "boardcfg/cna_option_rom_update.h"   // CNAOptionROMRegionUpdate
#include "engines/k7r_update.h"                 // CNAK7ORevA0ptionROMRegionUpdate
#include "engines/torvi_update.h"               // CNATorviOptionROMRegionUpdate
#include "engines/pemra_update.h"               // CNAPemraOptionROMRegionUpdate
// Older adapters: one region (classes 1 and 8) or the whole image (classes 2 to 4).
#include "engines/option_rom_region_update.h"   // OptionROMRegionUpdate
#include "engines/std_bios_update.h"           // DoStdBiosUpdate
