// Reading a configuration table's whole region and writing it back with a
// read-back check, through the retrying region wrappers.
#pragma once

#include <span>
#include <vector>

#include "core/flash_read_buffer.h"
#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// The whole region into `out`: 0, or the wrappers' status (36 for an empty region).
SD_UINT32 ReadConfigTableRegion(SDMDevice* pDevice, SD_UINT32 region, std::vector<SD_UINT8>* out);
// The same into storage that is not cleared first, for a table only looked
// at: out->Bytes() holds the region after 0, nothing after a failure.
SD_UINT32 ReadConfigTableRegion(SDMDevice* pDevice, SD_UINT32 region, FlashReadBuffer* out);
// Writes the whole region without resetting the adapter (the new table is
// taken at the next reboot) and reads it back. 0, or the write's status, or
// the read-back status (negative).
long WriteConfigTableRegion(SDMDevice* pDevice, SD_UINT32 region, std::span<const SD_UINT8> table);
