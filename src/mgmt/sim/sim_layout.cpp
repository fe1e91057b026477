#include "mgmt/sim/sim_layout.h"

#include <algorithm>
#include <array>

namespace {

struct LayoutRow {
    SD_UINT32 code;
    SD_UINT32 size;
    bool chip27Only;
};

// Order matters: the regions that carry data in a fresh host come first.
constexpr LayoutRow kRows[] = {
    {0x14, 0x200, false}, {0x15, 0x200, false}, {0x16, 0x200, false}, {0x17, 0x200, false},
    {0xD4, 0x200, false}, {0xD5, 0x200, false}, {0xD6, 0x200, false}, {0xD7, 0x200, false},
    {0x10C, 0x200, false}, {0x10D, 0x200, false}, {0x10E, 0x200, false}, {0x10F, 0x200, false},
    {0x110, 0x200, false}, {0x111, 0x200, false}, {0x112, 0x200, false}, {0x113, 0x200, false},
    {0x95, 0x10000, false}, {0x96, 0x10000, false}, {0x125, 0x10000, true}, {0x126, 0x10000, true},
    {0xDF, 0x1000, false}, {0x124, 0x1000, false},
    {0x1C, 0x1000, false},
    {0x9E, 0x1000, false}, {0x9F, 0x1000, false},
    {0xBA, 0x10000, false}, {0x10B, 0x10000, false},
    {0x13, 0x10000, false}, {0x107, 0x10000, false},
    {0xCF, 0x10000, false}, {0x106, 0x10000, false},
    {0xE1, 0x10000, false}, {0xE5, 0x10000, false},
    {0x66, 0x10000, false}, {0x67, 0x10000, false},
    {0xD2, 0x10000, false}, {0x105, 0x10000, false},
    {0x101, 0x10000, false}, {0x108, 0x10000, false},
    {0x102, 0x10000, false}, {0x109, 0x10000, false},
    {0x103, 0x10000, false}, {0x10A, 0x10000, false},
    {0xD1, 0x40000, false}, {0xF1, 0x40000, false},
    {0xD3, 0x40000, false}, {0xF0, 0x40000, false},
    {0x07, 0x40000, false}, {0x09, 0x40000, false},
    {0x11, 0x40000, true}, {0x0A, 0x40000, true},
    {0x01, 0x100000, false}, {0x02, 0x100000, false},
};

}  // namespace

std::vector<zvsim_region> zvsim_default_layout(SD_UINT16 chipType) {
    std::vector<zvsim_region> out;
    SD_UINT32 offset = 0;
    for (const LayoutRow& row : kRows) {
        if ((row.chip27Only && chipType != 27)) {
            continue;
        }
        // Keep bigger regions aligned to their 4 KiB sectors.
        if (row.size >= 0x1000) {
            offset = (offset + 0xFFF) & ~SD_UINT32{0xFFF};
        }
        zvsim_region r;
        r.code = row.code;
        r.offset = offset;
        r.size = row.size;
        r.needsActivation = row.code == 0x01;
        out.push_back(r);
        offset += row.size;
    }
    return out;
}

SD_UINT16 zvsim_chip_type_of(SD_UINT16 deviceId) {
    static constexpr std::array<SD_UINT16, 10> k25{0x2061, 0x2071, 0x2171, 0x2261, 0x2271,
                                                   0x2371, 0x2871, 0x2971, 0x2A61, 0x2B61};
    static constexpr std::array<SD_UINT16, 11> k27{0x2081, 0x2089, 0x2181, 0x2189, 0x2281, 0x2289,
                                                   0x2381, 0x2389, 0x2881, 0x2981, 0x2989};
    if (std::find(k25.begin(), k25.end(), deviceId) != k25.end()) {
        return 25;
    }
    if (std::find(k27.begin(), k27.end(), deviceId) != k27.end()) {
        return 27;
    }
    return 12;
}
