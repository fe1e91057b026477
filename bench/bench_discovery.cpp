// Start-up discovery of a large host: 64 two-port adapters, each port with
// 8 targets of 8 LUNs. Measures building and tearing down the device model
// (library load and unload included); no answer of the host asks for a sleep.
//
//   build/bench/bench_discovery
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/device_discovery.h"
#include "fixtures/host_builder.h"

namespace {

std::string WriteLargeHost() {
    zvfix::HostBuilder host;
    for (int a = 0; a < 64; ++a) {
        auto& adapter = host.AddChip25TwoPort();
        for (auto& port : adapter.ports)
            for (int t = 0; t < 8; ++t) {
                auto& target = port.AddTarget();
                for (SD_UINT16 lun = 1; lun < 8; ++lun) target.AddLun(lun);
            }
    }
    const std::string dir = zvfix::MakeTempDir("zvbench") + "/host";
    host.Write(dir);
    return dir;
}

void BM_DiscoverLargeHost(benchmark::State& state) {
    const std::string dir = WriteLargeHost();
    setenv("ZV_SIM_HOST", dir.c_str(), 1);
    size_t ports = 0, luns = 0;
    for (auto _ : state) {
        InitDeviceList();
        CoreInitializeDevices();
        ports = GetDeviceList()->count;
        luns = 0;
        for (SDMDevice* d = GetDeviceList()->firstDevice; d != nullptr; d = d->next)
            for (SDMTarget* t = d->TargetList.firstTarget; t != nullptr; t = t->next) luns += t->LunList.count;
        RemoveAllDevicesFromDeviceList();
    }
    state.counters["ports"] = static_cast<double>(ports);
    state.counters["luns"] = static_cast<double>(luns);
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(dir).parent_path(), ec);
}
BENCHMARK(BM_DiscoverLargeHost)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
