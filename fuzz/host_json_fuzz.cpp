// Simulated host descriptions (host.json with its flash files): any
// description either loads into a host whose regions all lie inside their
// flash and whose port instances exist, which the platform then serves and
// discovery walks, or is refused with one line.
//
// Input: host.json, then the flash files adapter0.flash, adapter1.flash ...
// (at most eight), separated. Discovery loads the library, which uses the
// real "/tmp", "/var/log" and semaphores: runs only where scripts/fuzz.sh
// isolates it.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/device_discovery.h"
#include "core/sdm_device.h"
#include "fuzz_support.h"
#include "mgmt/sim/sim_host.h"
#include "mgmt/sim/sim_transport.h"
#include "mgmt/transport.h"

namespace {

constexpr size_t kMaxFlashFiles = 8;

// The platform stack serves every region of every port, a few bytes each.
void ReadRegions(const std::string& dir) {
    std::string err;
    std::unique_ptr<zvapi_transport> t = zvsim_open_host(dir, err);
    ZVFUZZ_CHECK(t != nullptr);
    for (SD_UINT32 inst = 0; inst < t->PortCount() && inst < 4; ++inst) {
        std::vector<zvapi_flash_region> layout(512);
        size_t len = 0;
        const std::span<SD_UINT8> out(reinterpret_cast<SD_UINT8*>(layout.data()), layout.size() * sizeof layout[0]);
        if (t->Request(inst, ZVOP_FLASH_LAYOUT, {}, out, &len) != SDERR_SUCCESS) continue;
        ZVFUZZ_CHECK(len <= out.size());
        layout.resize(len / sizeof(zvapi_flash_region));
        for (const zvapi_flash_region& r : layout) {
            std::vector<SD_UINT8> head(std::min<SD_UINT32>(r.Size, 16));
            zvapi_flash_io io{r.Offset, static_cast<SD_UINT32>(head.size()), r.Code, 0};
            size_t got = 0;
            t->Request(inst, ZVOP_FLASH_READ, zvapi_bytes(io), head, &got);
            ZVFUZZ_CHECK(got <= head.size());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!zvfuzz::Isolated()) return 0;
    zvfuzz::InstantSleeps instant;
    static const std::string dir = zvfuzz::ScratchDir() + "/host";
    static const bool made = mkdir(dir.c_str(), 0700) == 0;
    ZVFUZZ_CHECK(made);
    const std::vector<zvfuzz::Bytes> pieces = zvfuzz::Split(data, size);
    zvfuzz::WriteFile(dir + "/host.json", pieces[0]);
    for (size_t i = 0; i < kMaxFlashFiles; ++i) {
        const std::string flash = dir + "/adapter" + std::to_string(i) + ".flash";
        if (i + 1 < pieces.size()) zvfuzz::WriteFile(flash, pieces[i + 1]);
        else unlink(flash.c_str());
    }
    unlink((dir + "/state.json").c_str());

    zvsim_host host;
    std::string err;
    if (!zvsim_load_host(dir, host, err)) {
        ZVFUZZ_CHECK(!err.empty() && err.find('\n') == std::string::npos);
        return 0;
    }
    // A power-loss fault ends the process at a write by design.
    if (host.powerLoss) return 0;
    for (const zvsim_adapter& a : host.adapters) {
        ZVFUZZ_CHECK(a.flashSize > 0);
        for (const zvsim_region& r : a.layout) ZVFUZZ_CHECK(uint64_t{r.offset} + r.size <= a.flashSize);
    }
    for (const auto& [adapter, port] : host.instances) {
        ZVFUZZ_CHECK(adapter >= 0 && static_cast<size_t>(adapter) < host.adapters.size());
        ZVFUZZ_CHECK(port >= 0 && static_cast<size_t>(port) < host.adapters[adapter].ports.size());
    }
    ReadRegions(dir);

    // And the whole discovery over it (properties, VPD, targets, LUNs).
    setenv("ZV_SIM_HOST", dir.c_str(), 1);
    InitDeviceList();
    CoreInitializeDevices();
    size_t ports = 0;
    for (const SDMDevice* d = GetDeviceList()->firstDevice; d != nullptr; d = d->next) ++ports;
    ZVFUZZ_CHECK(ports <= host.instances.size());
    RemoveAllDevicesFromDeviceList();
    unsetenv("ZV_SIM_HOST");
    return 0;
}
