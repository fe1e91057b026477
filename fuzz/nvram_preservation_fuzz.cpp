// NVRAM images read back from an adapter for preservation: whatever the
// adapter's copies hold, keeping its settings in a new image changes only
// that image, never its size, gives the same image when done twice, and the
// byte-range copies take exactly their ranges from the adapter's image.
//
// Input: one byte (bit 0: defaults, bits 1-2: the firmware range type), then
// the adapter's initial and current NVRAM copies and the new image,
// separated. The variables go through the library over one simulated
// adapter: runs only where scripts/fuzz.sh isolates it.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "core/nvram_preservation.h"
#include "fuzz_support.h"
#include "sim_port.h"

namespace {

using Ranges = std::initializer_list<std::pair<size_t, size_t>>;   // inclusive

// The new image with the ranges taken from the existing one, as the copy must leave it.
zvfuzz::Bytes Expected(const zvfuzz::Bytes& fresh, const zvfuzz::Bytes& existing, Ranges ranges) {
    zvfuzz::Bytes out = fresh;
    for (const auto& [first, last] : ranges) std::copy(&existing[first], &existing[last] + 1, &out[first]);
    return out;
}

void CheckCopy(int (*copy)(std::span<SD_UINT8>, std::span<const SD_UINT8>), const zvfuzz::Bytes& fresh,
               const zvfuzz::Bytes& existing, zvfuzz::Bytes expected) {
    zvfuzz::Bytes out = fresh;
    const bool whole = fresh.size() >= NVRAM_IMAGE_SIZE && existing.size() >= NVRAM_IMAGE_SIZE;
    ZVFUZZ_CHECK(copy(out, existing) == (whole ? 0 : -1));
    ZVFUZZ_CHECK(out == (whole ? expected : fresh));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!zvfuzz::Isolated() || size == 0) return 0;
    zvfuzz::InstantSleeps instant;
    const zvfuzz::SimPort& sim = zvfuzz::DiscoveredPort(R"({"adapters":[{}]})");
    const int defaults = data[0] & 1;
    const int type = (data[0] >> 1) & 3;
    std::vector<zvfuzz::Bytes> pieces = zvfuzz::Split(data + 1, size - 1, 3);
    SDMDevice& port = *sim.port;
    pieces[0].resize(sizeof port.DeviceInitialNVRAM, 0xFF);
    pieces[1].resize(sizeof port.DeviceCurrentNVRAM, 0xFF);
    std::memcpy(port.DeviceInitialNVRAM, pieces[0].data(), pieces[0].size());
    std::memcpy(port.DeviceCurrentNVRAM, pieces[1].data(), pieces[1].size());
    const zvfuzz::Bytes& current = pieces[1];
    const zvfuzz::Bytes& fresh = pieces[2];

    zvfuzz::Bytes once = fresh;
    const int rc = PreserveNvramData(&port, once, defaults);
    ZVFUZZ_CHECK(rc == (fresh.size() >= NVRAM_IMAGE_SIZE ? 0 : -1));
    ZVFUZZ_CHECK(once.size() == fresh.size());
    if (rc != 0) ZVFUZZ_CHECK(once == fresh);
    zvfuzz::Bytes twice = once;
    PreserveNvramData(&port, twice, defaults);
    ZVFUZZ_CHECK(twice == once);
    ZVFUZZ_CHECK(std::equal(current.begin(), current.end(), port.DeviceCurrentNVRAM));

    // The byte-range copies against an independent reading of their ranges.
    const bool whole = fresh.size() >= NVRAM_IMAGE_SIZE;
    const zvfuzz::Bytes base = whole ? fresh : zvfuzz::Bytes(NVRAM_IMAGE_SIZE, 0);
    // (Type 2's extra bytes 0xDC-0xDF lie inside the first range.)
    zvfuzz::Bytes out = fresh;
    ZVFUZZ_CHECK(PreserveFirmwareNVRAMData(type, out, current) == (whole ? 0 : -1));
    ZVFUZZ_CHECK(out == (whole ? Expected(base, current, {{0x80, 0xFF}, {0x1E8, 0x1F6}}) : fresh));
    zvfuzz::Bytes alt = Expected(base, current, {{0x180, 0x18F}});
    alt[0x101] = static_cast<uint8_t>((base[0x101] & 0x1F) | (current[0x101] & 0xE0));
    alt[0x103] = static_cast<uint8_t>((base[0x103] & 0xFC) | (current[0x103] & 0x02));
    CheckCopy(PreserveAltWWNNVRAMData, fresh, current, alt);
    CheckCopy(PreserveMACAddressNVRAMData, fresh, current, Expected(base, current, {{0x40, 0x45}, {0x160, 0x165}}));
    return 0;
}
