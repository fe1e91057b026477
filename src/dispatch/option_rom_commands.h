// Further operations of the update dispatch that no command reaches: the
// update-type answer of a port for an option-ROM disable, and the test of a
// Windows FCoE driver version that can update without a reset.
#pragma once

#include "core/sdm_device.h"

// 19 for a null port or one that adapters.properties does not allow, else
// CheckAdapterFlashUpdateStatus(pDevice, 1).
int disableOptionROMCmdOnHBA(const SDMDevice* pDevice);
// 1 for "9.1.9.39", "9.1.9.46" and any version whose numbers (separated by
// ".", "," or blanks, missing ones 0) compare above 9.1.9.38 (flag set) or
// 9.1.9.45 (flag clear), field by field; else 0 (also for null); 115 when
// memory runs out.
int isWindowsFCoEDriverWithResetDisableSupport(const char* version, int flag);
