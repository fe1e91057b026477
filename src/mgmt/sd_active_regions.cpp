// Which copy of each region group the adapter runs from.
#include <unistd.h>

#include "mgmt/sd_library.h"
#include "mgmt/sd_log.h"
#include "mgmt/sdapi.h"
#include "mgmt/sd_shared_db.h"

namespace {
constexpr int kTries = 5;
constexpr unsigned kSecondsApart = 10;
}

SD_UINT32 SDGetActiveRegions(int Device, SD_UINT32 HbaDevPortNum, PSD_ACTIVE_REGIONS pRegions) {
    (void)HbaDevPortNum;
    if (pRegions == nullptr) return SDERR_INVALID_PARAMETER;
    *pRegions = SD_ACTIVE_REGIONS{};
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (!zvapi_is_online_update_adapter(zvapi_device_id(*call.port))) return SDERR_NOT_SUPPORTED;

    SD_UINT32 st = SDERR_SUCCESS;
    for (int attempt = 1; attempt <= kTries; ++attempt) {
        SD_ACTIVE_REGIONS answer{};
        st = zvapi_request_record(*call.port, ZVOP_ACTIVE_REGIONS, {}, &answer);
        if (st == SDERR_SUCCESS) {
            *pRegions = answer;
            return SDERR_SUCCESS;
        }
        if (st == SDERR_NOT_SUPPORTED) return st;   // the driver cannot say
        zvdbg_error("SDGetActiveRegions: instance %u try %d failed (0x%x)", call.port->Instance, attempt, st);
        if (attempt == kTries || zvapi_waits_interrupted()) break;
        ::sleep(kSecondsApart);
    }
    // A request that failed without a driver status leaves the record all
    // zero, which callers read as "unknown".
    return st <= 0x1FFFFFFF ? SDERR_SUCCESS : st;
}
