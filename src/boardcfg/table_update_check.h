// The check the MCTP update makes of an adapter's configuration tables before
// it writes anything to the adapter.
#pragma once

#include "core/sdm_device.h"

// Chip type 25 keeps its preload table and its FC board configuration once:
// each that the update may rewrite (the preload table only when its template
// `pFwPreloadFileName` is found) and that is damaged must have an intact copy
// kept on the host. Both are judged and each failure said with its region.
// 0, or -1 (the adapter is to be left untouched). Other chip types: 0.
int CheckSingleCopyTablesBeforeUpdate(SDMDevice* pDevice, const char* pFwPreloadFileName);
