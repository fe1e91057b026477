// Loading flash.cfg: 12,500 to 200,000 records, each appended to the version
// list. Appending by walking the list from its head made a file of 200,000
// rows take minutes; the load must stay linear in the rows.
//
//   scripts/bench.sh flashcfg
//
// Counters: rows loaded (checked against the file), rows_per_s; the fitted
// complexity (BigO, RMS) closes the table.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "cli/flash_cfg.h"
#include "fixtures/host_builder.h"

namespace {

std::string WriteFlashCfg(const std::string& dir, long rows) {
    const std::string path = dir + "/flash.cfg";
    std::ofstream out(path, std::ios::binary);
    for (long i = 0; i < rows; ++i) out << "0x0001,0x1077,M" << i << ",0,0,0,0,0,0,f.bin,1.0.0\n";
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
}

void BM_LoadFlashCfg(benchmark::State& state) {
    const long rows = state.range(0);
    const std::string dir = zvfix::MakeTempDir("zvbench");
    const std::string path = WriteFlashCfg(dir, rows);
    long loaded = 0;
    for (auto _ : state) {
        if (BuildFlashCtrListFromFile(path.c_str()) != 0) {
            state.SkipWithError("flash.cfg was not loaded");
            break;
        }
        state.PauseTiming();
        loaded = 0;
        for (const FlashCtrVersion* r = g_VersionCtrEntryList; r != nullptr; r = r->next) ++loaded;
        DeleteFlashCtrVersionList();
        state.ResumeTiming();
    }
    if (loaded != rows) state.SkipWithError("not every row was loaded");
    state.SetComplexityN(rows);
    state.counters["rows"] = static_cast<double>(loaded);
    state.counters["rows_per_s"] =
        benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsIterationInvariantRate);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_LoadFlashCfg)->Arg(12500)->Arg(50000)->Arg(200000)->ArgName("rows")
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
