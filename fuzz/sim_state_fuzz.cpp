// The simulated platform's running state (state.json) as a transport keeps
// it: whatever the file holds, each adapter's state is either taken whole or
// booted from flash, the platform's clock (the wall clock plus the state's
// offset) can be told, and a change saved in place or whole reads back as
// the state it makes.
//
// Input: the state.json text. The host is fixed: one chip-25 adapter whose
// flash holds no region.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_support.h"
#include "mgmt/sim/sim_boot.h"
#include "mgmt/sim/sim_host.h"
#include "mgmt/sim/sim_state_file.h"

namespace {

bool IsCopy(SD_UINT8 v) { return v == 1 || v == 2; }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

const zvsim_host& Host() {
    static const zvsim_host host = [] {
        const std::string dir = zvfuzz::ScratchDir() + "/host";
        ZVFUZZ_CHECK(mkdir(dir.c_str(), 0700) == 0);
        // No regions: booting reads nothing, so each input costs little.
        zvfuzz::WriteFile(dir + "/host.json", R"({"adapters":[{"flash":{"size":4096,"regions":[]}}]})");
        zvfuzz::WriteFile(dir + "/adapter0.flash", std::string_view());
        zvsim_host h;
        std::string err;
        ZVFUZZ_CHECK(zvsim_load_host(dir, h, err));
        return h;
    }();
    return host;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const zvsim_host& host = Host();
    const std::string path = host.dir + "/state.json";
    zvfuzz::WriteFile(path, std::span(data, size));

    zvsim_state_file file;
    zvsim_state state = file.Load(host);
    ZVFUZZ_CHECK(state.adapters.size() == host.adapters.size());
    // The platform's clock is the wall clock plus the offset.
    SD_INT64 now = 0;
    ZVFUZZ_CHECK(!__builtin_add_overflow(static_cast<SD_INT64>(std::time(nullptr)), state.clockOffset, &now));
    for (const zvsim_running& r : state.adapters) {
        ZVFUZZ_CHECK(IsCopy(r.global) && IsCopy(r.boardConfig) && IsCopy(r.vpdNvram) && IsCopy(r.npiv01) &&
                     IsCopy(r.npiv23));
        ZVFUZZ_CHECK(r.live.firmwareVersion.size() <= 31 && r.live.optionRomVersion.size() <= 31);
    }

    // A change saved (in place or whole) reads back as the state it makes,
    // whatever the file held before.
    state.adapters[0].global = state.adapters[0].global == 1 ? 2 : 1;
    file.SaveAdapter(host, state, 0);
    state.clockOffset += state.clockOffset > 0 ? -1 : 1;
    file.SaveClock(host, state);
    const std::string text = ReadFile(path);
    bool booted = true;
    const zvsim_state back = zvsim_parse_state(host, text, booted);
    ZVFUZZ_CHECK(!booted && zvsim_state_text(host, back) == zvsim_state_text(host, state));
    ZVFUZZ_CHECK(text == zvsim_state_text(host, state));
    return 0;
}
