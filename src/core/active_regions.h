// Which copy (primary or secondary) of each duplicated flash region group an
// adapter runs from, and the mapping of a region code to its active copy or to
// the copy an update writes.
#pragma once

#include <span>

#include "mgmt/sd_types.h"

// The answer read from the image-status records in flash.
typedef struct _ACTIVE_REGIONS {
    SD_UINT8 ActiveGlobalRegions;   // 1 primary, 2 secondary, 0 unknown
    SD_UINT8 ActiveBoardConfig;
    SD_UINT8 ActiveVpdNvram;
    SD_UINT8 ActiveNpivConfig01;
    SD_UINT8 ActiveNpivConfig23;
    SD_UINT16 ActiveGenerationNumber;   // generation of the active image set
    SD_UINT8 ToolID;                    // tool id of the deciding auxiliary record
    SD_UINT8 Reserved[29];
} ACTIVE_REGIONS, *PACTIVE_REGIONS;

// In-memory part of the flash answer: decides from the record bytes of regions
// 0x95 and 0x96 (and, for chip type 27 and above, 0x125 and 0x126; empty spans
// otherwise). The component fields are set only for chip type 27 and above.
void CoreDecideFlashActiveRegions(std::span<const SD_UINT8> primary, std::span<const SD_UINT8> secondary,
                                  std::span<const SD_UINT8> auxFirst, std::span<const SD_UINT8> auxSecond,
                                  int chipType, ACTIVE_REGIONS* pActiveRegions);

// In-memory part of CoreGetActiveRegion: the active copy of `region` for a
// chip type and a known active-regions record; the code itself for chip types
// up to 24 and for codes of no pair.
SD_UINT32 CoreMapActiveRegion(int chipType, const SD_ACTIVE_REGIONS& regions, SD_UINT32 region);

// The copy of `uRegion` that an update writes, from a given active-regions
// record: the other code of its pair while the primary copy is active, the
// code itself otherwise (also for a null record).
SD_UINT32 CoreGetAlternateRegion(SD_UINT32 uRegion, const SD_ACTIVE_REGIONS* pInActiveRegions);

// ---- Queries through the management library ------------------------------------------

struct _tagSDMDevice;

// Fills the caller's record: the library first (8 tries, 8 s apart while it
// answers anything but success or "not supported"), the image-status records
// in flash when the library cannot tell. 0 when the active image set is known;
// -1 for a null device or a chip type below 25; the flash reader's status when
// neither source could tell (the record is then left all zero).
int CoreGetActiveRegions(_tagSDMDevice* pDevice, SD_ACTIVE_REGIONS* pActiveRegions);
// Reads the answer from the image-status records: 0, -1, -17 or -20.
int CoreGetAdapterFlashActiveRegions(_tagSDMDevice* pDevice, ACTIVE_REGIONS* pActiveRegions);
// The active copy of `uCurRegion`; the code itself when the chip type is 24 or
// lower, the code belongs to no pair, or the active set cannot be told; 0 for
// a null device.
SD_UINT32 CoreGetActiveRegion(_tagSDMDevice* pDevice, SD_UINT32 uCurRegion);
