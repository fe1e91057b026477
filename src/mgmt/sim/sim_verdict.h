// Boot verdict: would each adapter start from a complete, intact image set?
// A manifest (written by a test) gives, per adapter and image set, the
// FNV-1a hashes the set's regions must have; the verdict takes the set the
// boot rule picks from flash and names every region that differs.
//
// Manifest (JSON):
//   {"adapters": {"0": {"1": {"0x01": "<16 hex digits>",
//                             "0x07": {"fnv1a": "<16 hex digits>", "size": 4096}},
//                       "2": {...}}}}
// A plain hash covers the whole region, the object form its first `size` bytes.
#pragma once

#include <string>
#include <vector>

#include "mgmt/sd_types.h"
#include "mgmt/sim/sim_host.h"

struct zvsim_verdict {
    int adapter = 0;
    std::string serial;
    SD_UINT8 set = 1;                  // the set the adapter boots
    bool expected = false;             // the manifest names that set
    std::vector<SD_UINT32> differing;  // regions whose bytes are not as expected
    bool Intact() const { return expected && differing.empty(); }
};

// Verdicts of the adapters the manifest names, in adapter order. false (and
// `err`) when the manifest cannot be read or is not as above.
bool zvsim_check_boot(const zvsim_host& host, const std::string& manifestPath, std::vector<zvsim_verdict>& out,
                      std::string& err);
// "adapter 0 (ZV00010000): boots set 2: intact" (or ": regions differ: 0x2 0x9",
// or ": set not in the manifest").
std::string zvsim_verdict_line(const zvsim_verdict& v);
