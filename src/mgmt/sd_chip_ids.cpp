// Adapter classes by PCI device id, as the library's functions need them.
#include <algorithm>
#include <array>

#include "mgmt/sd_library.h"

namespace {
constexpr std::array<SD_UINT16, 10> kChip25 = {0x2061, 0x2071, 0x2171, 0x2261, 0x2271,
                                              0x2371, 0x2871, 0x2971, 0x2A61, 0x2B61};
constexpr std::array<SD_UINT16, 11> kChip27 = {0x2081, 0x2089, 0x2181, 0x2189, 0x2281, 0x2289,
                                              0x2381, 0x2389, 0x2881, 0x2981, 0x2989};
constexpr std::array<SD_UINT16, 6> kOnline25 = {0x2071, 0x2261, 0x2271, 0x2871, 0x2971, 0x2A61};
constexpr std::array<SD_UINT16, 3> kSmallNvram = {0x2061, 0x2171, 0x2371};
constexpr std::array<SD_UINT16, 5> kLargeVpd = {0x0101, 0x8021, 0x8031, 0x8831, 0x8044};

template <size_t N>
bool in(const std::array<SD_UINT16, N>& set, SD_UINT16 id) {
    return std::find(set.begin(), set.end(), id) != set.end();
}
}  // namespace

int zvapi_chip_type(SD_UINT16 deviceId) {
    if (in(kChip25, deviceId)) return 25;
    if (in(kChip27, deviceId)) return 27;
    return 0;
}

bool zvapi_is_online_update_adapter(SD_UINT16 deviceId) {
    return in(kOnline25, deviceId) || in(kChip27, deviceId);
}

SD_UINT32 zvapi_nvram_size(SD_UINT16 deviceId) {
    return zvapi_chip_type(deviceId) != 0 && !in(kSmallNvram, deviceId) ? 512 : 256;
}

SD_UINT32 zvapi_vpd_size(SD_UINT16 deviceId) { return in(kLargeVpd, deviceId) ? 1024 : 512; }
