// NVRAM images and the NVRAM variables read from a caller's image.
#include <algorithm>
#include <array>

#include "mgmt/sd_library.h"
#include "mgmt/sd_log.h"
#include "mgmt/sd_shared_db.h"
#include "mgmt/sdapi.h"

namespace {

constexpr SD_UINT32 kLastVariable = 141;

// Byte offset of a 16-bit variable in the image of an adapter with this
// NVRAM size; -1 when the variable has no place there.
long variable_offset(SD_UINT32 parm, SD_UINT32 nvramSize) {
    bool large = nvramSize == 512;
    switch (parm) {
    case 0x7F: return large ? 0x1F8 : 250;   // PCI subsystem vendor id
    case 0x80: return large ? 0x1FA : 252;   // PCI subsystem device id
    default: break;
    }
    // The per-adapter settings (names, boot and EFI settings, firmware
    // options) are 16-bit words packed from 0x10, the same in both sizes.
    if ((parm >= 17 && parm <= 126) || (parm >= 129 && parm <= 131)) return 0x10 + 2 * static_cast<long>(parm - 17);
    return -1;
}

}  // namespace

SD_UINT32 SDGetNVRam(int Device, SD_UINT32 HbaDevPortNum, SD_UINT32 Mode, std::span<SD_UINT8> buffer) {
    (void)HbaDevPortNum;
    (void)Mode;   // every mode reads the same image
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    std::array<SD_UINT8, 512> image{};
    SD_UINT32 size = zvapi_nvram_size(zvapi_device_id(*call.port));
    size_t got = 0;
    SD_UINT32 st = zvapi_request(*call.port, ZVOP_NVRAM_READ, {}, std::span(image).first(size), &got);
    if (st != SDERR_SUCCESS) {
        zvdbg_error("SDGetNVRam: instance %u read failed (0x%x)", call.port->Instance, st);
        return st;
    }
    size_t n = std::min(got, buffer.size());
    std::copy_n(image.begin(), n, buffer.begin());
    return SDERR_SUCCESS;
}

SD_UINT32 SDUpdateNVRam(int Device, SD_UINT16 DisableReset, SD_UINT32 Mode, std::span<const SD_UINT8> buffer) {
    (void)Mode;
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (call.port->Ident.IsPhysicalFc != 1) return SDERR_NOT_SUPPORTED;
    SD_UINT32 size = zvapi_nvram_size(zvapi_device_id(*call.port));
    if (buffer.empty() || buffer.size() > size) return SDERR_INVALID_PARAMETER;
    SD_UINT32 st;
    {
        zvapi_sem_guard guard(ZVAPI_SEM_FLASH);
        // Without the flash semaphore another process may be writing: busy, retried by the callers.
        if (!guard.held) return SDERR_BUSY;
        st = zvapi_request(*call.port, ZVOP_NVRAM_WRITE, buffer, {}, nullptr);
    }
    if (st != SDERR_SUCCESS || DisableReset != 0) return st;
    // The firmware takes the new settings only when it reloads them.
    if (zvapi_request(*call.port, ZVOP_NVRAM_RELOAD, {}, {}, nullptr) != SDERR_SUCCESS) return SDERR_FLASHED_NOT_ACTIVATED;
    return SDERR_SUCCESS;
}

SD_UINT32 SDReloadNvramAndInitFw(int Device, SD_UINT32 HbaDevPortNum) {
    (void)HbaDevPortNum;
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    return zvapi_request(*call.port, ZVOP_NVRAM_RELOAD, {}, {}, nullptr);
}

SD_UINT32 SDGetVariableValue(int Device, std::span<const SD_UINT8> nvram, SD_UINT32 ParmNumber) {
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (ParmNumber > kLastVariable) return 0;
    long off = variable_offset(ParmNumber, zvapi_nvram_size(zvapi_device_id(*call.port)));
    if (off < 0 || static_cast<size_t>(off) + 2 > nvram.size()) return 0;
    return static_cast<SD_UINT32>(nvram[off]) | (static_cast<SD_UINT32>(nvram[off + 1]) << 8);
}

SD_UINT32 SDSetVariableValue(int Device, std::span<SD_UINT8> nvram, SD_UINT32 ParmNumber, SD_UINT32 Value) {
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (ParmNumber > kLastVariable) return SDERR_INVALID_PARAMETER;
    long off = variable_offset(ParmNumber, zvapi_nvram_size(zvapi_device_id(*call.port)));
    if (off < 0 || static_cast<size_t>(off) + 2 > nvram.size()) return SDERR_INVALID_PARAMETER;
    nvram[off] = static_cast<SD_UINT8>(Value & 0xFF);
    nvram[off + 1] = static_cast<SD_UINT8>((Value >> 8) & 0xFF);
    return SDERR_SUCCESS;
}
