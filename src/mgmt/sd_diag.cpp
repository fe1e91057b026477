// Private statistics, firmware and MPI dumps, transceiver data and LUN
// quality of service.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "mgmt/sd_library.h"
#include "mgmt/sdapi.h"

namespace {

SD_UINT32 dump(int Device, zvapi_op op, std::span<SD_UINT8> buffer, SD_UINT32* pSize) {
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (pSize == nullptr) return SDERR_INVALID_PARAMETER;
    size_t room = std::min<size_t>(*pSize, buffer.size());
    size_t got = 0;
    SD_UINT32 st = zvapi_request(*call.port, op, {}, buffer.first(room), &got);
    // With 0x20000072 the answer names the size the dump needs.
    if (st == SDERR_SUCCESS || st == SDERR_BUFFER_TOO_SMALL || st == SDERR_FW_DUMP_ZIP) {
        *pSize = static_cast<SD_UINT32>(std::min<size_t>(got, 0xFFFFFFFFu));
    }
    return st;
}

SD_UINT32 sfp(int Device, zvapi_op op, SD_UINT16 DevAddr, SD_UINT16 DataAddr, SD_UINT16 Options,
              std::span<const SD_UINT8> data, std::span<SD_UINT8> out, SD_UINT32* pExitParam) {
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    size_t len = op == ZVOP_SFP_READ ? out.size() : data.size();
    if (len == 0 || len > 0xFFFF) return SDERR_INVALID_PARAMETER;
    zvapi_sfp_io io{DevAddr, DataAddr, Options, 0, static_cast<SD_UINT32>(len)};
    std::vector<SD_UINT8> in;
    try {
        in.resize(sizeof io + data.size());
    } catch (const std::bad_alloc&) {
        return SDERR_OUT_OF_MEMORY;
    }
    std::memcpy(in.data(), &io, sizeof io);
    if (!data.empty()) std::memcpy(in.data() + sizeof io, data.data(), data.size());
    SD_UINT32 st = zvapi_request(*call.port, op, in, out, nullptr);
    if (pExitParam != nullptr) *pExitParam = st;
    return st;
}

}  // namespace

SD_UINT32 SDGetPrivStats(int Device, SD_UINT32 HbaDevPortNum, std::span<SD_UINT8> buffer) {
    (void)HbaDevPortNum;
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    return zvapi_request(*call.port, ZVOP_PRIV_STATS, {}, buffer.first(std::min<size_t>(buffer.size(), 512)), nullptr);
}

SD_UINT32 SDGetFwDump(int Device, SD_UINT32 HbaDevPortNum, std::span<SD_UINT8> buffer, SD_UINT32* pSize) {
    (void)HbaDevPortNum;
    return dump(Device, ZVOP_FW_DUMP, buffer, pSize);
}

SD_UINT32 SDGetMPIFwDump(int Device, SD_UINT32 HbaDevPortNum, std::span<SD_UINT8> buffer, SD_UINT32* pSize) {
    (void)HbaDevPortNum;
    return dump(Device, ZVOP_MPI_DUMP, buffer, pSize);
}

SD_UINT32 SDReadSFPData(int Device, SD_UINT32 HbaDevPortNum, SD_UINT16 DevAddr, std::span<SD_UINT8> buffer,
                        SD_UINT16 DataAddr, SD_UINT16 Options, SD_UINT32* pExitParam) {
    (void)HbaDevPortNum;
    return sfp(Device, ZVOP_SFP_READ, DevAddr, DataAddr, Options, {}, buffer, pExitParam);
}

SD_UINT32 SDWriteSFPData(int Device, SD_UINT32 HbaDevPortNum, SD_UINT16 DevAddr, std::span<const SD_UINT8> buffer,
                         SD_UINT16 DataAddr, SD_UINT16 Options, SD_UINT32* pExitParam) {
    (void)HbaDevPortNum;
    return sfp(Device, ZVOP_SFP_WRITE, DevAddr, DataAddr, Options, buffer, {}, pExitParam);
}

SD_UINT32 SDGetLunQosEnable(int Device, SD_UINT32 HbaDevPortNum, SD_UINT32* pEnable) {
    (void)HbaDevPortNum;
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (pEnable == nullptr) return SDERR_INVALID_PARAMETER;
    return zvapi_request_record(*call.port, ZVOP_QOS_ENABLE, {}, pEnable);
}

SD_UINT32 SDGetLunQos(int Device, SD_UINT32 HbaDevPortNum, PSD_LUN_QOS pLunQos) {
    (void)HbaDevPortNum;
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (pLunQos == nullptr) return SDERR_INVALID_PARAMETER;
    // The caller names the target by its WWPN; the answer replaces the record.
    SD_UINT8 wwpn[8];
    std::memcpy(wwpn, pLunQos->WWPN, sizeof wwpn);
    return zvapi_request_record(*call.port, ZVOP_QOS_GET, wwpn, pLunQos);
}

SD_UINT32 SDSetLunQos(int Device, SD_UINT32 HbaDevPortNum, const SD_LUN_QOS* pLunQos) {
    (void)HbaDevPortNum;
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (pLunQos == nullptr) return SDERR_INVALID_PARAMETER;
    return zvapi_request(*call.port, ZVOP_QOS_SET, zvapi_bytes(*pLunQos), {}, nullptr);
}
