// Adapter flash kept in a flat file: reads, writes and the torn write of a
// power failure. (The boot rule, the running state and the journal have
// headers of their own, included here for the platform's users.)
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "mgmt/sd_types.h"
#include "mgmt/sim/sim_boot.h"
#include "mgmt/sim/sim_host.h"
#include "mgmt/sim/sim_journal.h"

// Reads `out.size()` bytes at `offset`; bytes past the file's end read as 0xFF
// (erased). The caller has bounded offset and length by the flash size.
// 0 or an errno value.
int zvsim_flash_read(const zvsim_adapter& a, SD_UINT32 offset, std::span<SD_UINT8> out);
// Writes exactly these bytes at `offset` (a gap past the file's end is filled
// with 0xFF first) and syncs the data (not the file times) before returning.
// 0 or an errno value.
int zvsim_flash_write(const zvsim_adapter& a, SD_UINT32 offset, std::span<const SD_UINT8> bytes);
// What power failing in the middle of erase-and-program leaves: the first
// `cut` bytes of the write are programmed, and the erase block that holds the
// cut reads erased from the cut to its end (never past `limit`, the end of
// the region written). Synced like a write. 0 or an errno value.
int zvsim_flash_tear(const zvsim_adapter& a, SD_UINT32 offset, std::span<const SD_UINT8> bytes, SD_UINT32 cut,
                     SD_UINT32 limit);

// FNV-1a 64 (boot manifests).
SD_UINT64 zvsim_fnv1a64(std::span<const SD_UINT8> bytes);
// The journal's hash of written bytes: XXH3-64 with seed 0
// (docs/simulated-platform.md).
SD_UINT64 zvsim_hash64(std::span<const SD_UINT8> bytes);
