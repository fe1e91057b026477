// Failover requests of the management library.
#include <cstdio>

#include "mgmt/fo_api.h"
#include "mgmt/sd_library.h"

namespace {

template <class T>
SD_UINT32 fo_get(int Device, zvapi_op op, std::span<const SD_UINT8> in, T* pOut) {
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (pOut == nullptr) return SDERR_INVALID_PARAMETER;
    return zvapi_request_record(*call.port, op, in, pOut);
}

template <class T>
SD_UINT32 fo_set(int Device, zvapi_op op, const T* pIn) {
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (pIn == nullptr) return SDERR_INVALID_PARAMETER;
    return zvapi_request(*call.port, op, zvapi_bytes(*pIn), {}, nullptr);
}

// The large lists (up to a megabyte) are read straight into the caller's
// record, as a fixed record is: filled by an answer of the record's size;
// counts are bounded by the list.
template <class List>
SD_UINT32 fo_get_list(int Device, zvapi_op op, SD_UINT32 persistent, List* pList) {
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    size_t got = 0;
    SD_UINT32 st = zvapi_request(*call.port, op, zvapi_bytes(persistent), zvapi_bytes_out(*pList), &got);
    if (st == SDERR_SUCCESS && got != sizeof(List)) st = SDERR_UNKNOWN;
    if (st == SDERR_SUCCESS && pList->EntryCount > FO_MAX_ENTRIES) pList->EntryCount = FO_MAX_ENTRIES;
    return st;
}

}  // namespace

SD_UINT32 ISDFoGetApiVersion(std::span<char> version) {
    std::string text = zvapi_describe("failover_api_version", "");
    if (text.empty()) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%ld.%ld.%ld build%ld", 6L, 4L, 0L, 77L);
        text = buf;
    }
    zvapi_copy_text(version, text);
    return SDERR_SUCCESS;
}

SD_UINT32 ISDFoGetFoCapability(int Device, SD_UINT32* pCapability) {
    return fo_get(Device, ZVOP_FO_CAPABILITY, {}, pCapability);
}

SD_UINT32 ISDFoGetFoDriverVersion(int Device, PFODRIVERVERSION pDriverVersion) {
    return fo_get(Device, ZVOP_FO_DRIVER_VERSION, {}, pDriverVersion);
}

SD_UINT32 ISDFoGetSysParams(int Device, PFOPARAMS pParams, SD_UINT32 Flags) {
    (void)Flags;
    return fo_get(Device, ZVOP_FO_SYS_PARAMS_GET, {}, pParams);
}

SD_UINT32 ISDFoSetSysParams(int Device, const FOPARAMS* pParams, SD_UINT32 Flags) {
    (void)Flags;
    return fo_set(Device, ZVOP_FO_SYS_PARAMS_SET, pParams);
}

SD_UINT32 ISDFoGetPaths(int Device, const FOGETPATHS* pRequest, PFOPATHSINFO pPathsInfo, SD_UINT32 Flags) {
    (void)Flags;
    if (pRequest == nullptr) return SDERR_INVALID_PARAMETER;
    return fo_get(Device, ZVOP_FO_PATHS, zvapi_bytes(*pRequest), pPathsInfo);
}

SD_UINT32 ISDFoGetTargetData(int Device, SD_UINT32 Instance, const FOHBADATA* pHbaData,
                             PFOPORTSUMMARYLISTBUFFER pList, SD_UINT32 Persistent) {
    (void)Instance;
    if (pHbaData == nullptr || pList == nullptr) return SDERR_INVALID_PARAMETER;
    return fo_get_list(Device, ZVOP_FO_TARGET_DATA_GET, Persistent, pList);
}

SD_UINT32 ISDFoGetLunData(int Device, SD_UINT32 Instance, const FOHBADATA* pHbaData, PFOLUNDATALIST pList,
                          SD_UINT32 Persistent) {
    (void)Instance;
    if (pHbaData == nullptr || pList == nullptr) return SDERR_INVALID_PARAMETER;
    return fo_get_list(Device, ZVOP_FO_LUN_DATA_GET, Persistent, pList);
}

SD_UINT32 ISDFoSetTargetData(int Device, SD_UINT32 Instance, const FOHBADATA* pHbaData,
                             const FOPORTSUMMARYLISTBUFFER* pList, SD_UINT32 Flags) {
    (void)Instance;
    (void)Flags;
    if (pHbaData == nullptr || pList == nullptr || pList->EntryCount > FO_MAX_ENTRIES) return SDERR_INVALID_PARAMETER;
    return fo_set(Device, ZVOP_FO_TARGET_DATA_SET, pList);
}

SD_UINT32 ISDFoSetLunData(int Device, SD_UINT32 Instance, const FOHBADATA* pHbaData, const FOLUNDATALIST* pList,
                          SD_UINT32 Flags) {
    (void)Instance;
    (void)Flags;
    if (pHbaData == nullptr || pList == nullptr || pList->EntryCount > FO_MAX_ENTRIES) return SDERR_INVALID_PARAMETER;
    return fo_set(Device, ZVOP_FO_LUN_DATA_SET, pList);
}
