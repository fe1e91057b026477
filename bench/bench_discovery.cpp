// Start-up discovery of large hosts: 16, 32, 64 and 128 two-port adapters, each
// port with 8 targets of 8 LUNs. Measures building and tearing down the device
// model (library load and unload included); no answer of the host asks for a
// sleep.
//
//   scripts/bench.sh discovery
//
// Counters: ports, luns; platform_ms is the time per discovery spent inside
// the platform (the simulated host answering requests and being opened),
// own_ms the rest (the library and the device model); host_open_ms the part
// of platform_ms spent opening the host; host_loads the platform transports
// made per discovery. ZV_BENCH_OPS=1 also prints the platform's time per
// request kind. first_ms is the process's first discovery, which also parses
// host.json (outside the timing).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "core/device_discovery.h"
#include "fixtures/host_builder.h"
#include "mgmt/sd_library.h"
#include "mgmt/transport.h"

namespace {

using Clock = std::chrono::steady_clock;

double g_platformSeconds = 0;
double g_openSeconds = 0;
long g_transports = 0;
std::map<int, std::pair<long, double>> g_ops;   // op -> calls, seconds

// Times every request the platform answers.
struct TimedTransport : zvapi_transport {
    std::unique_ptr<zvapi_transport> inner;
    explicit TimedTransport(std::unique_ptr<zvapi_transport> t) : inner(std::move(t)) {}
    SD_UINT32 PortCount() override { return inner->PortCount(); }
    SD_UINT32 Request(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> in, std::span<SD_UINT8> out,
                      size_t* outLen) override {
        const Clock::time_point t0 = Clock::now();
        const SD_UINT32 st = inner->Request(instance, op, in, out, outLen);
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        g_platformSeconds += s;
        auto& op_ = g_ops[static_cast<int>(op)];
        ++op_.first;
        op_.second += s;
        return st;
    }
    std::string Describe(const std::string& key) override { return inner->Describe(key); }
    SD_INT64 Now() override { return inner->Now(); }
};

std::string WriteLargeHost(int adapters) {
    zvfix::HostBuilder host;
    for (int a = 0; a < adapters; ++a) {
        auto& adapter = host.AddChip25TwoPort();
        for (auto& port : adapter.ports)
            for (int t = 0; t < 8; ++t) {
                auto& target = port.AddTarget();
                for (SD_UINT16 lun = 0; lun < 8; ++lun) target.AddLun(lun);
            }
    }
    const std::string dir = zvfix::MakeTempDir("zvbench") + "/host";
    host.Write(dir);
    return dir;
}

void BM_DiscoverLargeHost(benchmark::State& state) {
    const std::string dir = WriteLargeHost(static_cast<int>(state.range(0)));
    setenv("ZV_SIM_HOST", dir.c_str(), 1);
    zvapi_set_transport_factory([] {
        const Clock::time_point t0 = Clock::now();
        auto t = std::make_unique<TimedTransport>(zvapi_create_platform_transport());
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        g_platformSeconds += s;
        g_openSeconds += s;
        ++g_transports;
        return t;
    });
    // The first discovery of the process also parses host.json; later
    // library loads reuse the parsed host. It is reported apart (first_ms).
    const Clock::time_point first = Clock::now();
    InitDeviceList();
    CoreInitializeDevices();
    RemoveAllDevicesFromDeviceList();
    const double firstSeconds = std::chrono::duration<double>(Clock::now() - first).count();
    g_platformSeconds = g_openSeconds = 0;
    g_transports = 0;
    g_ops.clear();
    size_t ports = 0, luns = 0;
    double wall = 0;
    for (auto _ : state) {
        const Clock::time_point t0 = Clock::now();
        InitDeviceList();
        CoreInitializeDevices();
        ports = GetDeviceList()->count;
        luns = 0;
        for (SDMDevice* d = GetDeviceList()->firstDevice; d != nullptr; d = d->next)
            for (SDMTarget* t = d->TargetList.firstTarget; t != nullptr; t = t->next) luns += t->LunList.count;
        RemoveAllDevicesFromDeviceList();
        wall += std::chrono::duration<double>(Clock::now() - t0).count();
    }
    zvapi_set_transport_factory(nullptr);
    const double iterations = static_cast<double>(state.iterations());
    state.counters["first_ms"] = 1000.0 * firstSeconds;
    state.counters["ports"] = static_cast<double>(ports);
    state.counters["luns"] = static_cast<double>(luns);
    state.counters["platform_ms"] = 1000.0 * g_platformSeconds / iterations;
    state.counters["own_ms"] = 1000.0 * (wall - g_platformSeconds) / iterations;
    state.counters["host_open_ms"] = 1000.0 * g_openSeconds / iterations;
    state.counters["host_loads"] = static_cast<double>(g_transports) / iterations;
    // ZV_BENCH_OPS=1: where the platform's time goes, per request kind.
    if (std::getenv("ZV_BENCH_OPS") != nullptr)
        for (const auto& [op, v] : g_ops)
            std::fprintf(stderr, "op %3d: %8.1f calls %8.3f ms per discovery\n", op, v.first / iterations,
                         1000.0 * v.second / iterations);
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(dir).parent_path(), ec);
}
BENCHMARK(BM_DiscoverLargeHost)->Arg(16)->Arg(32)->Arg(64)->Arg(128)->ArgName("adapters")->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
