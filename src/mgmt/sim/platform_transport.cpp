// The platform under the management library: the simulated host that
// ZV_SIM_HOST names, or nothing (as a host without the adapters' driver).
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "mgmt/sim/sim_transport.h"
#include "mgmt/transport.h"

namespace {

struct zvsim_no_port_transport : zvapi_transport {
    SD_UINT32 PortCount() override { return 0; }
    SD_UINT32 Request(SD_UINT32, zvapi_op, std::span<const SD_UINT8>, std::span<SD_UINT8>, size_t* outLen) override {
        if (outLen != nullptr) {
            *outLen = 0;
        }
        return SDERR_DEVICE_NOT_FOUND;
    }
};

}  // namespace

std::unique_ptr<zvapi_transport> zvapi_create_platform_transport() {
    const char* dir = std::getenv("ZV_SIM_HOST");
    if (dir == nullptr || *dir == '\0') {
        return std::make_unique<zvsim_no_port_transport>();
    }
    std::string err;
    std::unique_ptr<zvapi_transport> t = zvsim_open_host(dir, err);
    if (!t) {
        // The library opens the platform more than once per run (versions are
        // asked before the first open); one report of the same fault is enough.
        static std::string reported;
        if (err != reported) {
            std::fprintf(stderr, "Simulated host error: %s\n", err.c_str());
            reported = err;
        }
        return std::make_unique<zvsim_no_port_transport>();
    }
    return t;
}
