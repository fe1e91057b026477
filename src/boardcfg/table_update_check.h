// What the MCTP update does with an adapter's single-copy configuration
// tables before anything else reads or writes them, and the check it makes of
// them before it writes anything else to the adapter.
#pragma once

#include "core/sdm_device.h"

// Chip type 25 keeps its preload table and its FC board configuration once.
// A copy of either still kept on the host means that its write may not have
// finished: each is written back to its region and read back before it is
// removed (boardcfg/single_copy_tables.h). Every command that writes such an
// adapter calls it before its first write. 0 (also for other chip types and
// virtual ports); when a copy cannot be used or written back (said; the
// adapter is to fail, nothing written when the copy could not be used), the
// status of the first such table: 350 the preload table, 360 the board
// configuration. A converged adapter's VPDs are kept the same way
// (boardcfg/vpd_copies.h): 161 when one of those cannot be used or written back.
int RollBackTableCopiesBeforeUpdate(SDMDevice* pDevice);

// Each table the update may rewrite (the preload table only when its template
// `pFwPreloadFileName` is found) that is damaged must be one its template
// names whole. Both are judged and each failure said with its region. 0, or
// -1 (the adapter is to be left untouched). Other chip types: 0.
int CheckSingleCopyTablesBeforeUpdate(SDMDevice* pDevice, const char* pFwPreloadFileName);
