// The adapter's VPD image.
#include <algorithm>
#include <array>

#include "mgmt/sd_library.h"
#include "mgmt/sdapi.h"

SD_UINT32 SDGetVpd(int Device, SD_UINT32 HbaDevPortNum, std::span<SD_UINT8> buffer, SD_UINT32* pCopied) {
    (void)HbaDevPortNum;
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (pCopied != nullptr) *pCopied = 0;
    std::array<SD_UINT8, 1024> image{};
    SD_UINT32 size = zvapi_vpd_size(zvapi_device_id(*call.port));
    size_t got = 0;
    SD_UINT32 st = zvapi_request(*call.port, ZVOP_VPD_READ, {}, std::span(image).first(size), &got);
    if (st != SDERR_SUCCESS) return st;
    size_t n = std::min(got, buffer.size());
    std::copy_n(image.begin(), n, buffer.begin());
    if (pCopied != nullptr) *pCopied = static_cast<SD_UINT32>(n);
    return SDERR_SUCCESS;
}
