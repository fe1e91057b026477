// One simulated adapter for the targets that read through the library: the
// host is written and discovered once per process, and each input then
// replaces region bytes in its flash file, which the platform reads anew at
// every request.
#pragma once

#include <span>
#include <string>

#include "core/sdm_device.h"
#include "mgmt/sim/sim_host.h"

namespace zvfuzz {

struct SimPort {
    zvsim_host host;                 // as the platform loaded it
    SDMDevice* port = nullptr;       // the adapter's first port, discovered
};

// The host of this host.json, one adapter with the default flash file name
// (the file starts erased), loaded and
// discovered on the first call; later calls return the same port (the text is
// only read the first time). Discovery uses the real "/tmp", "/var/log" and
// semaphores: call only where Isolated().
const SimPort& DiscoveredPort(const std::string& hostJson);

// The region of the first adapter holds these bytes from its start, the rest
// erased (0xFF); bytes past the region are dropped.
void FillRegion(const SimPort& sim, SD_UINT32 code, std::span<const uint8_t> bytes);

}  // namespace zvfuzz
