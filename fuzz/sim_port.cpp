#include "sim_port.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "core/device_discovery.h"
#include "fuzz_support.h"

namespace zvfuzz {

const SimPort& DiscoveredPort(const std::string& hostJson) {
    static const SimPort sim = [&] {
        SimPort s;
        const std::string dir = ScratchDir() + "/sim";
        if (mkdir(dir.c_str(), 0700) != 0) Fail("mkdir", __FILE__, __LINE__);
        WriteFile(dir + "/host.json", hostJson);
        WriteFile(dir + "/adapter0.flash", std::string_view());
        std::string err;
        if (!zvsim_load_host(dir, s.host, err)) Fail(err.c_str(), __FILE__, __LINE__);
        setenv("ZV_SIM_HOST", dir.c_str(), 1);
        InitDeviceList();
        CoreInitializeDevices();
        s.port = GetDeviceList()->firstDevice;
        if (s.port == nullptr) Fail("no port discovered", __FILE__, __LINE__);
        return s;
    }();
    return sim;
}

void FillRegion(const SimPort& sim, SD_UINT32 code, std::span<const uint8_t> bytes) {
    const zvsim_adapter& a = sim.host.adapters.at(0);
    const zvsim_region* r = a.Region(code);
    if (r == nullptr) Fail("no such region", __FILE__, __LINE__);
    std::vector<uint8_t> region(r->size, 0xFF);
    std::copy_n(bytes.begin(), std::min(bytes.size(), region.size()), region.begin());
    // In place: the platform keeps the file open.
    const int fd = open(a.flashPath.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) Fail("open flash", __FILE__, __LINE__);
    if (pwrite(fd, region.data(), region.size(), r->offset) != static_cast<ssize_t>(region.size()))
        Fail("pwrite flash", __FILE__, __LINE__);
    close(fd);
}

}  // namespace zvfuzz
