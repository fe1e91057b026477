// The FC VPD step of the online multiboot engine: after the image and its
// image-status records are written, every FC VPD region of the adapter is
// checked, and exactly the regions whose check passed get the new version
// keywords, each with its progress item on the output file.
#pragma once

#include <span>
#include <vector>

#include "core/sdm_device.h"
#include "image/flash_memo_block.h"
#include "image/region_io.h"
#include "mgmt/sd_types.h"

// VPD status of a step in which a region's update failed.
constexpr SD_INT32 FC_VPD_UPDATE_FAILED = 0x27;

// One FC VPD region to update: its code, its size in the flash layout, and
// its number in the progress text ("Updating Adapter FC VPD <number>... ").
struct FcVpdRegion {
    SD_UINT32 code = 0;
    SD_UINT32 size = 0;
    SD_UINT32 number = 0;
};

// Checks, in order, each candidate region that the layout holds
// (CheckForValidVpdRegion) and gives the regions whose VPD is valid, numbered
// by their place in `candidates`. *pLastStatus gets the result of the last
// check made (left as it is when the layout holds none; 115 when the list
// cannot be had).
std::vector<FcVpdRegion> CheckFcVpdRegions(SDMDevice* pDevice, const SDMOptRomLayoutCopy& layout,
                                           std::span<const SD_UINT32> candidates, SD_INT32* pLastStatus);

// Updates exactly `regions` (UpdateAndRestoreTorviFcVPD with the caller's
// reset flag): "Success", "Verifying Adapter FC VPD <n>...", a 1-second pause
// and "Success" for each region done, "Unsuccessful" for each that failed.
// Gives the VPD status: `vpdStatus` when the list is empty, else 0 when every
// region was updated and 0x27 when any was not (a later success does not hide it).
SD_INT32 UpdateFcVpdRegions(SDMDevice* pDevice, const MultibootVersions* pVersions,
                            std::span<const FcVpdRegion> regions, SD_UINT16 DisableReset, SD_INT32 vpdStatus);
