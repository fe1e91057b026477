// The converged engines' write plan over any combined image: every planned
// entry that passes the fit check lies inside the image and, with the table
// behind boot code, inside its flash region, and its region buffer is built
// without touching anything else; entries that do not fit are refused.
//
// Input: the combined image (its table at the start).
#include <array>
#include <cstdint>
#include <vector>

#include "engines/k7r_engine_common.h"
#include "fuzz_support.h"
#include "image/ilt_accessors.h"
#include "image/option_rom_request.h"

namespace {

constexpr std::array<SD_UINT32, 10> kRegions = {0x07, 0x2E, 0xA2, 0x4F, 0x70, 0x72, 0x73, 0xA4, 0x01, 0x97};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static OptionROMUserRequest request{};
    request.Region = OPTROM_REGION_ALL;
    g_ptrOptionROMRequest = &request;

    CnaEngineRun run;
    run.combined.assign(data, data + size);
    // Small regions, so that sizes from the table often miss them.
    for (size_t i = 0; i < kRegions.size(); ++i)
        run.layout.Regions.push_back({kRegions[i], static_cast<SD_UINT32>(0x100 << (i % 6))});
    const std::vector<CnaPlannedWrite> plan =
        CnaPlanWrites(run, kRegions, [](SD_UINT32, const ILT_Region_t&) { return true; });
    const std::uint64_t table = ILT_Header_GetTableLength(run.combined);
    for (const CnaPlannedWrite& w : plan) {
        const std::array<CnaPlannedWrite, 1> one = {w};
        if (CnaCheckPlanFits(run, one) != 0) continue;
        ZVFUZZ_CHECK(std::uint64_t{w.offset} + w.length <= run.combined.size());
        ZVFUZZ_CHECK(std::uint64_t{w.length} + (w.withTable ? table : 0) <= w.layoutSize);
        std::vector<SD_UINT8> buffer(w.layoutSize + 16, 0xA5);
        CnaBuildRegionBuffer(run, w, std::span<SD_UINT8>(buffer).first(w.layoutSize));
        for (size_t i = w.layoutSize; i < buffer.size(); ++i) ZVFUZZ_CHECK(buffer[i] == 0xA5);
        for (size_t i = 0; i < w.length; ++i) ZVFUZZ_CHECK(buffer[i] == run.combined[w.offset + i]);
    }
    g_ptrOptionROMRequest = nullptr;
    return 0;
}
