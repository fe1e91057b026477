// The FC VPD step of the online multiboot engine: after the image and its
// image-status records are written, every FC VPD region of the adapter is
// checked, and exactly the regions whose check passed get the new version
// keywords, each with its progress item on the output file. And the repair,
// before an update, of an FC VPD region that a write cut short has damaged.
#pragma once

#include <span>
#include <string>
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

// The function's other VPD copy of an FC VPD region (0x14 and 0x10C, 0x16 and
// 0x10E, 0xD4 and 0x110, 0xD6 and 0x112, either way); 0 for any other code.
SD_UINT32 FcVpdOtherCopy(SD_UINT32 region);

// True when `damaged` is what a write of `source` cut short leaves: byte for
// byte the source up to some point (the values of the version keywords and the
// checksum byte aside, which an update rewrites) and erased (0xFF) from there
// on. Blank (all erased) is such a copy; buffers of different sizes are not.
bool IsCutShortCopyOf(std::span<const SD_UINT8> damaged, std::span<const SD_UINT8> source);

// The serial numbers ("SN") that the adapter's sound FC VPD copies on flash
// hold, each once, in the order of the regions (0x14, 0x10C, 0x16, 0x10E,
// 0xD4, 0x110, 0xD6, 0x112, as the layout holds them). Nothing is written.
// For an adapter whose serial number cannot be read through its running VPD
// (torn by a write cut short, which the repair rebuilds from its other copy).
std::vector<std::string> FcVpdSerialNumbers(SDMDevice* pDevice);

// One FC VPD region to rebuild: its code, the function's other copy and
// that copy's bytes as read.
struct FcVpdRebuild {
    SD_UINT32 code = 0;
    SD_UINT32 otherCode = 0;
    std::vector<SD_UINT8> source;
};
struct FcVpdRepairPlan {
    std::vector<FcVpdRebuild> rebuilds;
};

// Judges each FC VPD region of the adapter (0x14, 0x16, 0xD4, 0xD6, as the
// layout holds them), writing nothing. A damaged one (not sound and not
// blank, or blank while the adapter reads it and its other copy holds a VPD)
// is to be rebuilt from the function's other copy when that copy is sound and
// the damaged bytes are a cut-short copy of it. A blank copy the adapter does
// not read (it reads the secondary copies) is left alone. Gives 0 and the
// rebuilds in *plan when every region is sound, blank, unreadable or can be
// rebuilt; else the first region that cannot, with the line "HBA <model>
// (instance <n>): FC VPD region 0x<code> is damaged and the adapter holds no
// intact copy of it!" (and an empty plan).
SD_UINT32 PlanFcVpdRepair(SDMDevice* pDevice, FcVpdRepairPlan* plan);

// Writes the rebuilds of a plan: each the other copy's bytes with the version
// keywords of `pVersions` ("Rebuilding Adapter FC VPD region ... Success" or
// "Failed"). Nothing built from damaged bytes is ever written. 0, or the
// first region whose rebuild failed (the rest are not tried).
SD_UINT32 ApplyFcVpdRepair(SDMDevice* pDevice, const FcVpdRepairPlan& plan, const MultibootVersions* pVersions,
                           SD_UINT16 DisableReset);

// PlanFcVpdRepair, then ApplyFcVpdRepair: 0 when nothing is left damaged,
// else the first region left so.
SD_UINT32 RepairFcVpdRegions(SDMDevice* pDevice, const MultibootVersions* pVersions, SD_UINT16 DisableReset);
