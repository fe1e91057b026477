// Default flash layouts of the simulated adapters, one per adapter family,
// and the chip type code the driver derives from a PCI device id.
#pragma once

#include <vector>

#include "mgmt/sim/sim_host.h"

// The family's regions in flash order (small regions that carry data first,
// so that a fresh flash file stays short; on the older adapters the option
// ROM comes first, since their whole-image write starts at byte 0).
std::vector<zvsim_region> zvsim_default_layout(SD_UINT16 chipType);
constexpr SD_UINT32 ZVSIM_DEFAULT_FLASH_SIZE = 0x1000000;
// The chip type code of a PCI device id (12 for ids the table does not know).
SD_UINT16 zvsim_chip_type_of(SD_UINT16 deviceId);
// Bytes that one erase of the flash part clears (regions of this size and
// larger start on such a boundary).
constexpr SD_UINT32 ZVSIM_ERASE_BLOCK = 0x1000;
