// Default flash layouts of the simulated adapters, and the chip type the
// driver reports for a PCI device id.
#pragma once

#include <vector>

#include "mgmt/sim/sim_host.h"

// Regions of a chip-type-25 or -27 adapter in flash order; small regions that
// carry data first so that a fresh flash file stays short.
std::vector<zvsim_region> zvsim_default_layout(SD_UINT16 chipType);
constexpr SD_UINT32 ZVSIM_DEFAULT_FLASH_SIZE = 0x1000000;
// 25 or 27 for the ids of those families, else 12.
SD_UINT16 zvsim_chip_type_of(SD_UINT16 deviceId);
