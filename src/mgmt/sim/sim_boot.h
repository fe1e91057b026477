// What the hardware decides at boot: the image set it runs (from the
// image-status records), the component copies, and what the running firmware
// and the driver then report; and the running state kept between processes
// in state.json.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "mgmt/sd_types.h"
#include "mgmt/sim/sim_host.h"

// The running state of one adapter.
struct zvsim_running {
    SD_UINT8 global = 1, boardConfig = 1, vpdNvram = 1, npiv01 = 1, npiv23 = 1;
    SD_UINT16 generation = 0;
    zvsim_live live;
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

// Boot rule: the running set computed from the records in flash, with the
// firmware and flash versions of that set.
zvsim_running zvsim_boot(const zvsim_adapter& a);
// The image set alone (1 primary, 2 secondary).
SD_UINT8 zvsim_boot_set(const zvsim_adapter& a, SD_UINT16* generation = nullptr);
// Only the components (auxiliary records) recomputed; global kept.
void zvsim_boot_components(const zvsim_adapter& a, zvsim_running& r);

// state.json of the host dir: the running state of every adapter and the
// platform clock's offset from the wall clock.
struct zvsim_state {
    std::vector<zvsim_running> adapters;
    SD_INT64 clockOffset = 0;
};
// The state a text of state.json gives the host: adapters without a fitting
// entry boot (`booted` says whether any did).
zvsim_state zvsim_parse_state(const zvsim_host& host, const std::string& text, bool& booted);
// state.json read; adapters without a fitting entry boot (and the result is saved).
zvsim_state zvsim_load_state(const zvsim_host& host);
// Written atomically (temporary file, rename). Not synced: the running state
// is volatile, and a simulated power loss ends only the process.
bool zvsim_save_state(const zvsim_host& host, const zvsim_state& state);
// The file's text for a state, and that text written as zvsim_save_state does.
// The text is laid out in slots of zvsim_state_slot_size() bytes, each a
// line padded with spaces: slot 0 the clock offset (zvsim_state_header),
// slot i+1 adapter i's entry (zvsim_state_slot), then "]}\n". One entry is
// thus rewritten in place without touching the others.
std::string zvsim_state_text(const zvsim_host& host, const zvsim_state& state);
bool zvsim_write_state_text(const zvsim_host& host, const std::string& text);
size_t zvsim_state_slot_size();
std::string zvsim_state_header(const zvsim_state& state);
std::string zvsim_state_slot(const zvsim_host& host, const zvsim_state& state, size_t index);
// Recomputes every adapter's running state and saves it (the clock offset
// stays). 0 or -1 (err filled).
int zvsim_reboot_host(const std::string& dir, std::string& err);
