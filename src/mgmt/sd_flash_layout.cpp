// The adapter's flash layout: read from the driver, checked, kept per port.
#include <algorithm>
#include <new>

#include "mgmt/sd_library.h"
#include "mgmt/sd_log.h"
#include "mgmt/sdapi.h"

namespace {
constexpr size_t kMaxRegions = 4096;   // far more than any flash layout table holds
}

SD_UINT32 zvapi_refresh_layout(zvapi_port_record& port) {
    std::vector<zvapi_flash_region> regions;
    size_t got = 0;
    SD_UINT32 st = SDERR_SUCCESS;
    try {
        regions.resize(64);
        for (int round = 0; round < 3; ++round) {
            auto bytes = std::as_writable_bytes(std::span(regions));
            st = zvapi_request(port, ZVOP_FLASH_LAYOUT, {},
                               {reinterpret_cast<SD_UINT8*>(bytes.data()), bytes.size()}, &got);
            if (st != SDERR_BUFFER_TOO_SMALL) break;
            size_t need = (got + sizeof(zvapi_flash_region) - 1) / sizeof(zvapi_flash_region);
            if (need <= regions.size() || need > kMaxRegions) {
                st = SDERR_UNKNOWN;
                break;
            }
            regions.resize(need);
        }
    } catch (const std::bad_alloc&) {
        return SDERR_OUT_OF_MEMORY;
    }
    if (st != SDERR_SUCCESS) {
        zvdbg_error("zvapi_refresh_layout: instance %u layout request failed (0x%x)", port.Instance, st);
        return st;
    }
    if (got % sizeof(zvapi_flash_region) != 0) {
        zvdbg_error("zvapi_refresh_layout: instance %u layout answer of %zu bytes", port.Instance, got);
        return SDERR_UNKNOWN;
    }
    regions.resize(got / sizeof(zvapi_flash_region));
    if (regions.empty()) {
        zvdbg_error("zvapi_refresh_layout: instance %u has no layout", port.Instance);
        return SDERR_UNKNOWN;
    }
    SD_UINT64 end = 0;
    for (const auto& r : regions) {
        SD_UINT64 last = static_cast<SD_UINT64>(r.Offset) + r.Size;
        if (last > 0xFFFFFFFFull) {
            zvdbg_error("zvapi_refresh_layout: region 0x%x runs past 4 GiB", r.Code);
            return SDERR_UNKNOWN;
        }
        end = std::max(end, last);
    }
    // The record keeps an exact copy, not the answer buffer with room for 64
    // regions: one layout per opened port lives as long as the library. A
    // layout that has not changed since the last refresh is left as it is.
    const auto same = [](const zvapi_flash_region& x, const zvapi_flash_region& y) {
        return x.Code == y.Code && x.Offset == y.Offset && x.Size == y.Size && x.Flags == y.Flags;
    };
    if (!std::equal(port.Layout.begin(), port.Layout.end(), regions.begin(), regions.end(), same)) {
        try {
            port.Layout.assign(regions.begin(), regions.end());
        } catch (const std::bad_alloc&) {
            return SDERR_OUT_OF_MEMORY;
        }
    }
    port.FlashSize = static_cast<SD_UINT32>(end);
    return SDERR_SUCCESS;
}

const zvapi_flash_region* zvapi_find_region(const zvapi_port_record& port, SD_UINT32 region) {
    // Callers name regions by the low 16 bits of the driver's code word.
    for (const auto& r : port.Layout) {
        if (r.Code == region) return &r;
    }
    if (region > 0xFFFF) return nullptr;
    for (const auto& r : port.Layout) {
        if ((r.Code & 0xFFFF) == region) return &r;
    }
    return nullptr;
}

SD_UINT32 SDGetOptionRomLayout(int Device, SD_UINT32 HbaDevPortNum, std::span<SD_UINT8> layout) {
    (void)HbaDevPortNum;
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    SD_UINT32 st = zvapi_refresh_layout(*call.port);
    if (st != SDERR_SUCCESS || layout.empty()) return st;

    constexpr size_t kHeader = offsetof(SDM_OPT_ROM_LAYOUT, RegionList);
    if (layout.size() < kHeader) return SDERR_INVALID_PARAMETER;
    SDM_OPT_ROM_LAYOUT head{};
    std::memcpy(&head, layout.data(), kHeader);
    const auto& regions = call.port->Layout;
    size_t fits = std::min<size_t>(head.NoOfRegions, (layout.size() - kHeader) / sizeof(SDM_OPT_ROM_REGION));
    head.NoOfRegions = static_cast<SD_UINT32>(regions.size());
    if (fits < regions.size()) {
        std::memcpy(layout.data() + offsetof(SDM_OPT_ROM_LAYOUT, NoOfRegions), &head.NoOfRegions,
                    sizeof head.NoOfRegions);
        return SDERR_BUFFER_TOO_SMALL;
    }
    head.Size = call.port->FlashSize;
    std::memcpy(layout.data(), &head, kHeader);
    for (size_t i = 0; i < regions.size(); ++i) {
        SDM_OPT_ROM_REGION e{regions[i].Code & 0xFFFF, regions[i].Size};
        std::memcpy(layout.data() + kHeader + i * sizeof e, &e, sizeof e);
    }
    return SDERR_SUCCESS;
}
