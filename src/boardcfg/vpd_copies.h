// The VPDs a converged adapter's update rewrites (the NIC VPD 0x81, the FC
// VPDs 0x14 and 0x16) exist once on its flash, and a write cut short takes
// the serial and part numbers with it. Each write is guarded as a single-copy
// table's is (boardcfg/single_copy_tables.h): the region as it was is kept on
// the host before the write and dropped once the new VPD reads back; a copy
// still kept is written back before anything else is written to the adapter.
#pragma once

#include <span>

#include "boardcfg/single_copy_tables.h"
#include "core/sdm_device.h"
#include "frontend/vpd.h"
#include "image/flash_memo_block.h"
#include "mgmt/sd_types.h"

constexpr SingleCopyTable NIC_VPD_SINGLE_COPY{0x81, "", "NIC VPD", &VpdIsSound, "VPD"};
constexpr SingleCopyTable FC_VPD0_SINGLE_COPY{0x14, "", "FC VPD", &VpdIsSound, "VPD"};
constexpr SingleCopyTable FC_VPD1_SINGLE_COPY{0x16, "", "FC VPD", &VpdIsSound, "VPD"};

// The copy of the VPD could not be kept (said): nothing was written.
constexpr SD_INT32 VPD_COPY_NOT_KEPT = -1;

// Converged adapters (chip type 17, K7R; 21 and 24, Torvi), virtual ports not.
bool KeepsVpdCopies(const SDMDevice* pDevice);

// UpdateK7RVpdRegion with the region kept on the host around its write: a
// VPD that is not sound, or that cannot take its keywords, is refused as
// there with nothing kept or written; then the whole region is kept
// (VPD_COPY_NOT_KEPT when it cannot be) and the VPD written and read back.
// The copy stays when that write fails. Statuses as UpdateK7RVpdRegion's.
SD_INT32 UpdateVpdVersionsKeepingCopy(SDMDevice* pDevice, const MultibootVersions* pVersions, SD_UINT32 iRegionNo,
                                      SD_UINT32 iVpdSize, SD_UINT16 DisableReset);

// Writes back every VPD copy kept for the adapter (RollBackSingleCopyTables):
// 0, or -1 when one cannot be used or written back (said).
int RollBackVpdCopies(SDMDevice* pDevice);
