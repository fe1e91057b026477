// Reading a configuration table's whole region and writing it back with a
// read-back check, through the retrying region wrappers.
#pragma once

#include <span>
#include <vector>

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// The whole region into `out`: 0, or the wrappers' status (36 for an empty region).
SD_UINT32 ReadConfigTableRegion(SDMDevice* pDevice, SD_UINT32 region, std::vector<SD_UINT8>* out);
// Writes the whole region without resetting the adapter (the new table is
// taken at the next reboot) and reads it back. 0, or the write's status, or
// the read-back status (negative).
long WriteConfigTableRegion(SDMDevice* pDevice, SD_UINT32 region, std::span<const SD_UINT8> table);
