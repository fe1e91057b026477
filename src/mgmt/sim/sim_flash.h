// Adapter flash kept in a flat file, the boot rule that picks the running
// image set from the image-status records, the persisted running state and
// the journal of flash writes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "mgmt/sd_types.h"
#include "mgmt/sim/sim_host.h"

// Reads `out.size()` bytes at `offset`; bytes past the file's end read as 0xFF
// (erased). The caller has bounded offset and length by the flash size.
// 0 or an errno value.
int zvsim_flash_read(const zvsim_adapter& a, SD_UINT32 offset, std::span<SD_UINT8> out);
// Writes exactly these bytes at `offset` (a gap past the file's end is filled
// with 0xFF first) and syncs before returning. 0 or an errno value.
int zvsim_flash_write(const zvsim_adapter& a, SD_UINT32 offset, std::span<const SD_UINT8> bytes);

// The running state of one adapter (what the hardware booted from).
struct zvsim_running {
    SD_UINT8 global = 1, boardConfig = 1, vpdNvram = 1, npiv01 = 1, npiv23 = 1;
    SD_UINT16 generation = 0;
};

// Image-status record checks as the hardware makes them.
struct zvsim_status_record {
    bool valid = false;
    SD_UINT8 mask = 0;                 // bit 0 of byte 0
    SD_UINT16 generation = 0;
    SD_UINT8 components = 0;
};
zvsim_status_record zvsim_parse_status(std::span<const SD_UINT8> record16, SD_UINT32 signature);
SD_UINT32 zvsim_status_signature(const zvsim_adapter& a);   // 0 for chips without records

// Boot rule: the running set computed from the records in flash.
zvsim_running zvsim_boot(const zvsim_adapter& a);
// Only the components (auxiliary records) recomputed; global kept.
void zvsim_boot_components(const zvsim_adapter& a, zvsim_running& r);

// state.json in the host dir. Load fills `states` (one per adapter; missing
// ones computed by a boot and saved). Save writes atomically.
std::vector<zvsim_running> zvsim_load_state(const zvsim_host& host);
bool zvsim_save_state(const zvsim_host& host, const std::vector<zvsim_running>& states);
// Recomputes every adapter's running state and saves it. 0 or -1 (err filled).
int zvsim_reboot_host(const std::string& dir, std::string& err);

// Appends one journal line for a write the platform performed.
void zvsim_journal(const zvsim_host& host, int adapter, SD_UINT32 region, SD_UINT32 offset,
                   std::span<const SD_UINT8> bytes, SD_UINT32 disableReset, const char* fault);
SD_UINT64 zvsim_fnv1a64(std::span<const SD_UINT8> bytes);
