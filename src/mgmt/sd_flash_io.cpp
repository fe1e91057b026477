// Flash reads and writes: by region (with the refusal rules of the two region
// writers) and by absolute offset.
#include <algorithm>
#include <array>
#include <new>
#include <unistd.h>

#include "mgmt/sd_library.h"
#include "mgmt/sd_log.h"
#include "mgmt/sd_shared_db.h"
#include "mgmt/sdapi.h"

namespace {

bool region_in(std::span<const SD_UINT32> set, SD_UINT32 region) {
    return std::find(set.begin(), set.end(), region) != set.end();
}

// Regions the older writer may touch.
bool ex_region_allowed(SD_UINT32 region, int chipType) {
    if (region >= 0x01 && region <= 0x07) return true;
    if (region >= 0x29 && region <= 0x2E) return true;
    if (region >= 0x45 && region <= 0x47) return true;
    constexpr std::array<SD_UINT32, 5> single = {0x13, 0x40, 0x41, 0xA4, 0xFF};
    if (region_in(single, region)) return true;
    return region == 0xFFFF && chipType == 27;
}

// Regions that need a live session once the on-line-update mark is set.
bool protected_region(SD_UINT32 region, int chipType) {
    constexpr std::array<SD_UINT32, 12> all = {0x01, 0x02, 0x07, 0x09, 0x66, 0x67, 0x9E, 0x9F, 0xD1, 0xD3, 0xF0, 0xF1};
    constexpr std::array<SD_UINT32, 12> chip27 = {0x0A, 0x11, 0xCF, 0xD2, 0x101, 0x102,
                                                 0x103, 0x105, 0x106, 0x108, 0x109, 0x10A};
    return region_in(all, region) || (chipType == 27 && region_in(chip27, region));
}

// NVRAM and VPD regions of the four PCI functions, both copies.
bool nvram_or_vpd_region(SD_UINT32 region) {
    constexpr std::array<SD_UINT32, 16> set = {0x14, 0x15, 0x16, 0x17, 0xD4, 0xD5, 0xD6, 0xD7,
                                              0x10C, 0x10D, 0x10E, 0x10F, 0x110, 0x111, 0x112, 0x113};
    return region_in(set, region);
}

// Regions after whose write (reset disabled) the driver re-reads its versions.
bool refreshes_versions(SD_UINT32 region, bool ex2) {
    if (region == 0x01 || region == 0x07) return true;
    constexpr std::array<SD_UINT32, 6> more = {0x02, 0x09, 0x74, 0x97, 0xA2, 0xA4};
    return ex2 && region_in(more, region);
}

bool bounded(SD_UINT32 offset, size_t length, SD_UINT32 limit) {
    return static_cast<SD_UINT64>(offset) + length <= limit;
}

SD_UINT32 update_region(int Device, SD_UINT16 DisableReset, std::span<const SD_UINT8> buffer, SD_UINT32 Region,
                        bool ex2) {
    const char* fn = ex2 ? "SDUpdateOptionRomEx2" : "SDUpdateOptionRomEx";
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    zvapi_port_record& port = *call.port;
    SD_UINT32 st = zvapi_refresh_layout(port);
    if (st != SDERR_SUCCESS) return st;

    SD_UINT16 deviceId = zvapi_device_id(port);
    int chipType = zvapi_chip_type(deviceId);
    if (port.Ident.IsPhysicalFc != 1) return SDERR_NOT_SUPPORTED;
    if (!ex2 && (deviceId == 0x0101 || deviceId == 0x8021 || deviceId == 0x8044)) return SDERR_NOT_SUPPORTED;
    if (Region == 0 || (ex2 && Region == 0xFFFFFFFF)) return SDERR_OPTROM_INVALID_REGION;
    if (!ex2 && !ex_region_allowed(Region, chipType)) return SDERR_INVALID_PARAMETER;
    const zvapi_flash_region* r = zvapi_find_region(port, Region);
    if (r == nullptr) return SDERR_INVALID_PARAMETER;
    if (buffer.size() > r->Size) return SDERR_OPTROM_TOO_BIG;
    if (buffer.empty()) return SDERR_INVALID_PARAMETER;
    if (ex2 && chipType == 27 && nvram_or_vpd_region(Region) && buffer.size() != r->Size) return SDERR_INVALID_REQUEST;

    bool online = zvapi_is_online_update_adapter(deviceId);
    if (ex2 && zvapi_online_mark() && online && protected_region(Region, chipType)) {
        // Only the session's own process may write what the session guards.
        SD_INT32 holder = zvapi_shdb_token_holder(zvapi_adapter_serial(port));
        if (holder != static_cast<SD_INT32>(getpid())) {
            zvdbg_error("%s: region 0x%x refused, no flash-update token (holder %d)", fn, Region, holder);
            return SDERR_TOKEN_NOT_SET;
        }
    }

    const zvapi_flash_region region = *r;
    st = zvapi_flash_write(port, region.Offset, Region, DisableReset, buffer);
    if (st != SDERR_SUCCESS && st != SDERR_FLASHED_NOT_ACTIVATED) {
        zvdbg_error("%s: region 0x%x write failed (0x%x)", fn, Region, st);
        return st;
    }
    if (DisableReset != 0) {
        if (refreshes_versions(Region, ex2)) zvapi_request(port, ZVOP_REFRESH_VERSIONS, {}, {}, nullptr);
        return st;
    }
    if (st != SDERR_SUCCESS) return st;
    bool activate = (region.Flags & ZVAPI_REGION_NEEDS_ACTIVATION) != 0 &&
                    (ex2 ? !(online && zvapi_online_mark()) : deviceId == 0x8001);
    if (activate) {
        SD_UINT32 code = Region;
        SD_UINT32 ast = zvapi_request(port, ZVOP_REGION_ACTIVATE, zvapi_bytes(code), {}, nullptr);
        if (ast != SDERR_SUCCESS) {
            zvdbg_error("%s: region 0x%x activation failed (0x%x)", fn, Region, ast);
            return SDERR_FLASHED_NOT_ACTIVATED;
        }
    }
    return SDERR_SUCCESS;
}

}  // namespace

SD_UINT32 zvapi_flash_read(const zvapi_port_record& port, SD_UINT32 offset, SD_UINT32 region, std::span<SD_UINT8> out) {
    if (out.size() > 0xFFFFFFFFu) return SDERR_INVALID_PARAMETER;
    zvapi_flash_io io{offset, static_cast<SD_UINT32>(out.size()), region, 0};
    zvapi_sem_guard guard(ZVAPI_SEM_FLASH);
    // Without the flash semaphore another process may be writing: busy, retried by the callers.
    if (!guard.held) return SDERR_BUSY;
    size_t got = 0;
    SD_UINT32 st = zvapi_request(port, ZVOP_FLASH_READ, zvapi_bytes(io), out, &got);
    if (st == SDERR_SUCCESS && got != out.size()) {
        zvdbg_error("zvapi_flash_read: %zu of %zu bytes at 0x%x", got, out.size(), offset);
        return SDERR_UNKNOWN;
    }
    return st;
}

SD_UINT32 zvapi_flash_write(const zvapi_port_record& port, SD_UINT32 offset, SD_UINT32 region,
                            SD_UINT16 disableReset, std::span<const SD_UINT8> data) {
    if (data.size() > 0xFFFFFFFFu - sizeof(zvapi_flash_io)) return SDERR_INVALID_PARAMETER;
    const zvapi_flash_io io{offset, static_cast<SD_UINT32>(data.size()), region, disableReset};
    zvapi_sem_guard guard(ZVAPI_SEM_FLASH);
    // Without the flash semaphore another process may be writing: busy, retried by the callers.
    if (!guard.held) return SDERR_BUSY;
    // The header and the bytes go apart: a region write is up to a megabyte.
    return zvapi_request_parts(port, ZVOP_FLASH_WRITE, zvapi_bytes(io), data, {}, nullptr);
}

SD_UINT32 SDGetOptionRomEx(int Device, SD_UINT32 HbaDevPortNum, std::span<SD_UINT8> buffer, SD_UINT32 Region,
                           SD_UINT32* pRead) {
    (void)HbaDevPortNum;
    if (pRead != nullptr) *pRead = 0;
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    SD_UINT32 st = zvapi_refresh_layout(*call.port);
    if (st != SDERR_SUCCESS) return st;
    const zvapi_flash_region* r = zvapi_find_region(*call.port, Region);
    if (r == nullptr) return SDERR_INVALID_PARAMETER;
    // A buffer larger than the region gets the region's bytes only; the read
    // never runs into the next region. The count tells the caller where the
    // bytes read end: the rest of its buffer is as it was.
    const SD_UINT32 n = static_cast<SD_UINT32>(std::min<size_t>(buffer.size(), r->Size));
    st = zvapi_flash_read(*call.port, r->Offset, Region, buffer.first(n));
    if (st == SDERR_SUCCESS && pRead != nullptr) *pRead = n;
    return st;
}

SD_UINT32 SDGetOptionRomOffset(int Device, SD_UINT32 HbaDevPortNum, std::span<SD_UINT8> buffer, SD_UINT32 Offset) {
    (void)HbaDevPortNum;
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    SD_UINT32 st = zvapi_refresh_layout(*call.port);
    if (st != SDERR_SUCCESS) return st;
    if (buffer.empty() || !bounded(Offset, buffer.size(), call.port->FlashSize)) return SDERR_INVALID_PARAMETER;
    return zvapi_flash_read(*call.port, Offset, 0, buffer);
}

SD_UINT32 SDUpdateOptionRomOffset(int Device, SD_UINT32 HbaDevPortNum, std::span<const SD_UINT8> buffer,
                                  SD_UINT32 Offset) {
    (void)HbaDevPortNum;
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (call.port->Ident.IsPhysicalFc != 1) return SDERR_NOT_SUPPORTED;
    SD_UINT32 st = zvapi_refresh_layout(*call.port);
    if (st != SDERR_SUCCESS) return st;
    if (buffer.empty() || !bounded(Offset, buffer.size(), call.port->FlashSize)) return SDERR_INVALID_PARAMETER;
    return zvapi_flash_write(*call.port, Offset, 0, 1, buffer);
}

SD_UINT32 SDUpdateOptionRom(int Device, SD_UINT32 HbaDevPortNum, std::span<const SD_UINT8> buffer) {
    (void)HbaDevPortNum;
    constexpr size_t kImageSize = 0x20000;
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (call.port->Ident.IsPhysicalFc != 1) return SDERR_NOT_SUPPORTED;
    // Adapters with a flash layout table take regions, never a whole image at 0.
    if (zvapi_chip_type(zvapi_device_id(*call.port)) != 0) return SDERR_NOT_SUPPORTED;
    if (buffer.size() != kImageSize) return SDERR_INVALID_PARAMETER;
    return zvapi_flash_write(*call.port, 0, 0, 0, buffer);
}

SD_UINT32 SDUpdateOptionRomEx(int Device, SD_UINT16 DisableReset, std::span<const SD_UINT8> buffer, SD_UINT32 Region) {
    return update_region(Device, DisableReset, buffer, Region, false);
}

SD_UINT32 SDUpdateOptionRomEx2(int Device, SD_UINT16 DisableReset, std::span<const SD_UINT8> buffer, SD_UINT32 Region) {
    return update_region(Device, DisableReset, buffer, Region, true);
}
