// The MCTP enable run (the real tarvikolen, no command word) over hosts of N
// simulated adapters of chip type 25 or 27, side by side with its floor: the
// same writes (offsets and sizes from the run's journal, the bytes it left)
// into copies of the same flash files with pwrite + fsync and a read-back,
// nothing else.
//
//   scripts/bench.sh mctp
//
// Each point runs ZV_BENCH_REPS (at least 5) repetitions, each the program
// and then its floor, and gives medians: Time (the run's wall time),
// run_cpu_s (its user + system CPU), floor_s and floor_cpu_s (the floor's
// wall time and CPU, both over its timed writes only), ratio (the median of
// the repetitions' run / floor);
// written and read (flash bytes, journal and I/O counter), reads_per_region
// (flash read calls per region written), rss_mib (the largest peak resident
// set of the runs), rss_limit_mib (3x the image file + 16 MiB), paused_s
// (seconds of pauses the no-sleep preload skipped).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "fixtures/adapters_properties_builder.h"
#include "fixtures/board_template_builder.h"
#include "fixtures/flash_cfg_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/image_component_builder.h"
#include "fixtures/memo_block_builder.h"
#include "fixtures/multiboot_image_builder.h"
#include "preload/io_count.h"

namespace fs = std::filesystem;

extern char** environ;

namespace {

using zvfix::Bytes;
using Clock = std::chrono::steady_clock;

constexpr uint16_t kVendor = 0x1A77;
constexpr uint16_t kSsid25 = 0x0289;
constexpr uint16_t kSsid27 = 0x02A9;

// Where hosts are laid out: a disk-backed directory (fsync must mean
// something), by default beside the benchmark binary.
std::string WorkRoot() {
    const char* dir = std::getenv("ZV_BENCH_DIR");
    return dir != nullptr && *dir != '\0' ? dir : ZV_BENCH_DEFAULT_DIR;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
}

struct Setup {
    std::string root, pristine, install;
    uint64_t imageBytes = 0;
};

void AddChip25(zvfix::HostBuilder& host) {
    zvfix::AdapterSpec& a = host.AddChip25TwoPort(0x2261);
    a.subSystemId = kSsid25;
    zvfix::MemoBlockSpec memo;
    memo.mbi = {6, 4, 0, 0};
    a.SetRegion(zvfix::kRegionMemo1, zvfix::MakeMemoBlock(memo));
    a.SetRegion(zvfix::kRegionPreload1, zvfix::MakeConfigTable("JKOZ", {1, 0, 0, 0}, 0x80, kVendor, kSsid25));
    a.SetRegion(zvfix::kRegionBoardConfig1, zvfix::MakeFcBoardConfig({1, 0, 0, 0}, kVendor, kSsid25, {}));
    a.SetImageStatus(1, 7, 0, 3);
}

void AddChip27(zvfix::HostBuilder& host) {
    zvfix::AdapterSpec& a = host.AddChip27(0x2281);
    a.subSystemId = kSsid27;
    zvfix::MemoBlockSpec memo;
    memo.mbi = {6, 4, 0, 0};
    a.SetRegion(zvfix::kRegionMemo1, zvfix::MakeMemoBlock(memo));
    a.SetRegion(zvfix::kRegionMemo2, zvfix::MakeMemoBlock(memo));
    a.SetRegion(zvfix::kRegionBoardConfig1, zvfix::MakeFcBoardConfig({1, 0, 0, 0}, kVendor, kSsid27, {}));
    a.SetRegion(zvfix::kRegionBoardConfig2, zvfix::MakeFcBoardConfig({1, 0, 0, 0}, kVendor, kSsid27, {}));
}

// ZV_BENCH_SHORT_FLASH=1 keeps the fixture's flash files, which stop where the
// regions the builder fills stop: the run then also writes the erased gap in
// front of a write past a file's end, which the floor leaves as a hole.
bool ShortFlashFiles() {
    const char* v = std::getenv("ZV_BENCH_SHORT_FLASH");
    return v != nullptr && std::string(v) == "1";
}

// An adapter's flash file erased (0xFF) up to the end of its layout, as the
// flash of a real adapter is whole.
void EraseToLayoutEnd(const std::string& dir, size_t index, const zvfix::AdapterSpec& a) {
    uint64_t end = 0;
    for (const zvfix::RegionSpec& r : a.layout) end = std::max<uint64_t>(end, uint64_t{r.offset} + r.size);
    const std::string path = dir + "/" + (a.flashFile.empty() ? "adapter" + std::to_string(index) + ".flash" : a.flashFile);
    const uint64_t size = fs::file_size(path);
    if (size >= end) return;
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << std::string(static_cast<size_t>(end - size), '\xFF');
    if (!out) throw std::runtime_error("cannot extend " + path);
}

// A host of n adapters of the chip type and an installation whose flash.cfg
// asks for multiboot 6.05.01 over the adapters' 6.04.00.
Setup MakeSetup(int chip, int n) {
    Setup s;
    fs::create_directories(WorkRoot());
    s.root = WorkRoot() + "/mctp-" + std::to_string(chip) + "-" + std::to_string(n);
    fs::remove_all(s.root);
    s.pristine = s.root + "/pristine";
    s.install = s.root + "/install";
    fs::create_directories(s.install);
    zvfix::HostBuilder host;
    for (int i = 0; i < n; ++i) chip == 25 ? AddChip25(host) : AddChip27(host);
    host.Write(s.pristine);
    if (!ShortFlashFiles()) {
        for (size_t i = 0; i < host.adapters.size(); ++i) EraseToLayoutEnd(s.pristine, i, host.adapters[i]);
    }
    fs::copy_file(ZV_TARVIKOLEN_BINARY, s.install + "/tarvikolen");
    Bytes image;
    if (chip == 25) {
        zvfix::MbiAdapter a;
        a.deviceId = 0x2261;
        a.ssvid = kVendor;
        a.ssdid = kSsid25;
        zvfix::MultibootImageSpec spec = zvfix::DorneImageSpec(a);
        spec.imageVersion = {6, 5, 1};
        image = zvfix::BuildMultibootImage(spec);
        WriteFile(s.install + "/adapters.properties", zvfix::AdapterTable({zvfix::TableRow(kSsid25, kVendor)}));
        WriteFile(s.install + "/flash.cfg",
                  zvfix::FlashCfg({zvfix::FlashCfgRowFor(kSsid25, kVendor, "KV2692", "6.05.01", "kv_mbi.bin")}));
        WriteFile(s.install + "/Vx9FBC.dat", zvfix::BoardTemplateSpec{"CBF(", "1.0.0", {}, {}}.Text());
        WriteFile(s.install + "/kv_mbi.bin", std::string(image.begin(), image.end()));
    } else {
        zvfix::MultibootImageSpec spec = zvfix::VrelImageSpecWithTables(
            {.deviceId = 0x2281, .ssvid = kVendor, .ssdid = kSsid27, .cardType = 1});
        spec.imageVersion = {6, 5, 1};
        image = zvfix::BuildMultibootImage(spec);
        zvfix::WriteMctpDemoInstall(s.install);
        WriteFile(s.install + "/adapters.properties", zvfix::AdapterTable({zvfix::TableRow(kSsid27, kVendor)}));
        WriteFile(s.install + "/kv_gen7_mbi.bin", std::string(image.begin(), image.end()));
    }
    s.imageBytes = image.size();
    return s;
}

void CopyHost(const std::string& from, const std::string& to) {
    fs::remove_all(to);
    fs::copy(from, to, fs::copy_options::recursive);
}

double SecondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

struct RunOutcome {
    int status = -1;
    double seconds = 0;
    long maxRssKiB = 0;
    double cpuSeconds = 0;
};

// Runs the installation's copy against the host; output goes to `log`.
RunOutcome RunProgram(const Setup& s, const std::string& host, const std::string& ioCount,
                      const std::string& sleepLog, const std::string& log) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string v = *e;
        if (v.starts_with("ZV_SIM_HOST=") || v.starts_with("ZV_TEST_SLEEP_LOG=") || v.starts_with("LD_PRELOAD=") ||
            v.starts_with("ZV_BENCH_IO_COUNT="))
            continue;
        env.push_back(v);
    }
    env.push_back("ZV_SIM_HOST=" + host);
    env.push_back("ZV_TEST_SLEEP_LOG=" + sleepLog);
    env.push_back("ZV_BENCH_IO_COUNT=" + ioCount);
    env.push_back(std::string("LD_PRELOAD=") + ZV_NOSLEEP_LIB + ":" + ZV_IO_COUNT_LIB);
    std::vector<char*> envp;
    for (std::string& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string binary = s.install + "/tarvikolen";
    char* argv[] = {binary.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addchdir_np(&actions, s.install.c_str());
    RunOutcome out;
    pid_t pid = -1;
    const Clock::time_point t0 = Clock::now();
    const int rc = posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return out;
    int status = 0;
    struct rusage ru{};
    if (wait4(pid, &status, 0, &ru) != pid) return out;
    out.seconds = SecondsSince(t0);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    out.maxRssKiB = ru.ru_maxrss;
    out.cpuSeconds = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                     static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    return out;
}

double ProcessCpuSeconds() {
    struct rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// The floor: the run's writes replayed into a fresh copy of the flash files,
// each pwrite + fsync, then read back. Its wall time, and in `cpuSeconds`
// the process's CPU over the same timed window (the preparation left out).
double Floor(const std::string& written, const std::string& copy, const std::vector<zvfix::JournalEntry>& writes,
             double& cpuSeconds) {
    std::map<int, std::string> files;
    for (const auto& f : fs::directory_iterator(copy))
        if (f.path().extension() == ".flash") {
            const std::string name = f.path().stem().string();   // adapter<N>
            files[std::atoi(name.c_str() + 7)] = f.path().filename().string();
        }
    // The bytes come from what the run left in flash (read outside the timing).
    struct Op {
        std::string path;
        uint32_t offset;
        std::vector<uint8_t> bytes;
    };
    std::vector<Op> ops;
    std::map<std::string, std::vector<uint8_t>> finals;
    for (const zvfix::JournalEntry& e : writes) {
        if (e.op != "write" || files.count(e.adapter) == 0) continue;
        const std::string name = files[e.adapter];
        Op op{copy + "/" + name, e.offset, std::vector<uint8_t>(e.size, 0xFF)};
        const int fd = ::open((written + "/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ssize_t ignored = ::pread(fd, op.bytes.data(), op.bytes.size(), e.offset);
            (void)ignored;
            ::close(fd);
        }
        ops.push_back(std::move(op));
    }
    std::vector<uint8_t> back;
    const double cpu0 = ProcessCpuSeconds();
    const Clock::time_point t0 = Clock::now();
    for (const Op& op : ops) {
        const int fd = ::open(op.path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) throw std::runtime_error("floor: cannot open " + op.path);
        if (::pwrite(fd, op.bytes.data(), op.bytes.size(), op.offset) != static_cast<ssize_t>(op.bytes.size()) ||
            ::fsync(fd) != 0)
            throw std::runtime_error("floor: write failed on " + op.path);
        back.resize(op.bytes.size());
        if (::pread(fd, back.data(), back.size(), op.offset) != static_cast<ssize_t>(back.size()))
            throw std::runtime_error("floor: read-back failed on " + op.path);
        benchmark::DoNotOptimize(back.data());
        ::close(fd);
    }
    const double wall = SecondsSince(t0);
    cpuSeconds = ProcessCpuSeconds() - cpu0;
    return wall;
}

double SleptSeconds(const std::string& path) {
    std::ifstream in(path);
    double ms = 0;
    for (long v; in >> v;) ms += static_cast<double>(v);
    return ms / 1000.0;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 == 1 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// Repetitions per point: ZV_BENCH_REPS, at least 5.
int Reps() {
    const char* v = std::getenv("ZV_BENCH_REPS");
    const int n = v != nullptr ? std::atoi(v) : 0;
    return std::max(n, 5);
}


void BM_MctpUpdate(benchmark::State& state) {
    const int chip = static_cast<int>(state.range(0));
    const int n = static_cast<int>(state.range(1));
    Setup s;
    try {
        s = MakeSetup(chip, n);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    const std::string host = s.root + "/host", floorHost = s.root + "/floor";
    const std::string ioCount = s.root + "/io.count", sleepLog = s.root + "/sleeps.log", log = s.root + "/run.log";
    std::vector<double> runs, cpus, floors, floorCpus, ratios;
    double slept = 0;
    long rssKiB = 0;
    uint64_t written = 0, writes = 0;
    ZvBenchIoCounters io{};
    for (auto _ : state) {
        // Run and floor alternate, so that a change of load meets both.
        for (int rep = 0; rep < Reps(); ++rep) {
            CopyHost(s.pristine, host);
            CopyHost(s.pristine, floorHost);
            WriteFile(ioCount, std::string(sizeof(ZvBenchIoCounters), '\0'));
            std::remove(sleepLog.c_str());
            ::sync();
            const RunOutcome r = RunProgram(s, host, ioCount, sleepLog, log);
            if (r.status != 1) {
                state.SkipWithError(("tarvikolen ended with status " + std::to_string(r.status) + "; see " + log).c_str());
                return;
            }
            const std::vector<zvfix::JournalEntry> journal = zvfix::ReadJournal(host);
            ::sync();
            double floorCpu = 0;
            const double f = Floor(host, floorHost, journal, floorCpu);
            floorCpus.push_back(floorCpu);
            runs.push_back(r.seconds);
            cpus.push_back(r.cpuSeconds);
            floors.push_back(f);
            ratios.push_back(f > 0 ? r.seconds / f : 0);
            slept = SleptSeconds(sleepLog);
            written = writes = 0;
            for (const zvfix::JournalEntry& e : journal) {
                written += e.size;
                ++writes;
            }
            const int fd = ::open(ioCount.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0) {
                ssize_t ignored = ::read(fd, &io, sizeof io);
                (void)ignored;
                ::close(fd);
            }
            // The preload reports the program's own peak (the rusage of a
            // spawned child also carries the benchmark's).
            rssKiB = std::max(rssKiB, static_cast<long>(io.peakRssKiB));
        }
        state.SetIterationTime(Median(runs));
    }
    state.counters["reps"] = static_cast<double>(runs.size());
    state.counters["run_cpu_s"] = Median(cpus);
    state.counters["floor_s"] = Median(floors);
    state.counters["floor_cpu_s"] = Median(floorCpus);
    state.counters["ratio"] = Median(ratios);
    state.counters["written"] = static_cast<double>(written);
    state.counters["read"] = static_cast<double>(io.readBytes);
    state.counters["reads_per_region"] = writes > 0 ? static_cast<double>(io.readCalls) / static_cast<double>(writes) : 0;
    state.counters["rss_mib"] = static_cast<double>(rssKiB) / 1024.0;
    state.counters["rss_limit_mib"] = 3.0 * static_cast<double>(s.imageBytes) / (1024.0 * 1024.0) + 16.0;
    state.counters["paused_s"] = slept;
    // ZV_BENCH_KEEP=1 leaves the host, its pristine copy and the installation
    // for profiling the run by hand.
    if (std::getenv("ZV_BENCH_KEEP") == nullptr) {
        std::error_code ec;
        fs::remove_all(s.root, ec);
    }
}

void Sizes(benchmark::internal::Benchmark* b) {
    for (int chip : {25, 27})
        for (int n : {1, 8, 32, 128, 512}) b->Args({chip, n});
}
BENCHMARK(BM_MctpUpdate)->Apply(Sizes)->ArgNames({"chip", "adapters"})->UseManualTime()->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
