// SCSI, CT, ELS and mailbox passthrough; link speed and target swap.
#include <algorithm>
#include <new>
#include <vector>

#include "mgmt/sd_library.h"
#include "mgmt/sdapi.h"

namespace {

std::vector<SD_UINT8> concat(std::span<const SD_UINT8> head, std::span<const SD_UINT8> tail) {
    std::vector<SD_UINT8> v(head.size() + tail.size());
    std::copy(head.begin(), head.end(), v.begin());
    std::copy(tail.begin(), tail.end(), v.begin() + static_cast<long>(head.size()));
    return v;
}

SD_UINT32 scsi(int Device, PDESTINATIONADDRESS pDestAddr, std::span<const SD_UINT8> cdb,
               std::span<const SD_UINT8> request, std::span<SD_UINT8> response, std::span<SD_UINT8> sense) {
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (pDestAddr == nullptr || cdb.empty() || cdb.size() > 16) return SDERR_INVALID_PARAMETER;
    if (response.size() > 0xFFFFFFFFu) return SDERR_INVALID_PARAMETER;
    zvapi_scsi_request req{};
    req.Dest = *pDestAddr;
    std::copy(cdb.begin(), cdb.end(), req.Cdb);
    req.CdbLength = static_cast<SD_UINT32>(cdb.size());
    req.DataInLength = static_cast<SD_UINT32>(response.size());
    try {
        std::vector<SD_UINT8> in = concat(zvapi_bytes(req), request);
        std::vector<SD_UINT8> out(sizeof(zvapi_scsi_reply) + response.size());
        size_t got = 0;
        SD_UINT32 st = zvapi_request(*call.port, ZVOP_SCSI, in, out, &got);
        if (got < sizeof(zvapi_scsi_reply)) return st == SDERR_SUCCESS ? SDERR_UNKNOWN : st;
        zvapi_scsi_reply reply{};
        std::memcpy(&reply, out.data(), sizeof reply);
        // Data and sense come back also with a check condition or an under/overrun.
        size_t data = std::min<size_t>({reply.DataLength, got - sizeof reply, response.size()});
        std::copy_n(out.begin() + sizeof reply, data, response.begin());
        size_t senseLen = std::min<size_t>({reply.SenseLength, sizeof reply.Sense, sense.size()});
        std::copy_n(reply.Sense, senseLen, sense.begin());
        return st;
    } catch (const std::bad_alloc&) {
        return SDERR_OUT_OF_MEMORY;
    }
}

}  // namespace

SD_UINT32 SDSendScsiPassThruFC(int Device, PDESTINATIONADDRESS pDestAddr, std::span<const SD_UINT8> cdb,
                               std::span<const SD_UINT8> request, std::span<SD_UINT8> response,
                               std::span<SD_UINT8> sense) {
    return scsi(Device, pDestAddr, cdb, request, response, sense);
}

SD_UINT32 SDSendScsiInquiryCmdFC(int Device, PDESTINATIONADDRESS pDestAddr, std::span<SD_UINT8> response,
                                 std::span<SD_UINT8> sense) {
    auto len = static_cast<SD_UINT8>(std::min<size_t>(response.size(), 0xFF));
    const SD_UINT8 cdb[6] = {0x12, 0, 0, 0, len, 0};
    return scsi(Device, pDestAddr, cdb, {}, response.first(len), sense);
}

SD_UINT32 SDSendScsiReadCapacityCmdFC(int Device, PDESTINATIONADDRESS pDestAddr, std::span<SD_UINT8> response,
                                      std::span<SD_UINT8> sense) {
    const SD_UINT8 cdb[10] = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    return scsi(Device, pDestAddr, cdb, {}, response, sense);
}

SD_UINT32 SDSendScsiReportLunsCmdFC(int Device, PDESTINATIONADDRESS pDestAddr, std::span<SD_UINT8> response,
                                    std::span<SD_UINT8> sense) {
    auto len = static_cast<SD_UINT32>(std::min<size_t>(response.size(), 0xFFFFFFFFu));
    const SD_UINT8 cdb[12] = {0xA0, 0, 0, 0, 0, 0,
                              static_cast<SD_UINT8>(len >> 24), static_cast<SD_UINT8>(len >> 16),
                              static_cast<SD_UINT8>(len >> 8), static_cast<SD_UINT8>(len), 0, 0};
    return scsi(Device, pDestAddr, cdb, {}, response, sense);
}

SD_UINT32 SDSendCTPassThru(int Device, std::span<const SD_UINT8> request, std::span<SD_UINT8> response) {
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (request.empty()) return SDERR_INVALID_PARAMETER;
    return zvapi_request(*call.port, ZVOP_CT, request, response, nullptr);
}

SD_UINT32 SDSendElsPassThru(int Device, SD_UINT32 HbaDevPortNum, PDESTINATIONADDRESS pTargetAddr,
                            std::span<const SD_UINT8> request, std::span<SD_UINT8> response,
                            SD_UINT32* pResponseSize, SD_UINT32 Opcode) {
    (void)HbaDevPortNum;
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (pTargetAddr == nullptr) return SDERR_INVALID_PARAMETER;
    zvapi_els_request req{};
    req.Dest = *pTargetAddr;
    req.Opcode = Opcode;
    size_t got = 0;
    SD_UINT32 st;
    try {
        st = zvapi_request(*call.port, ZVOP_ELS, concat(zvapi_bytes(req), request), response, &got);
    } catch (const std::bad_alloc&) {
        return SDERR_OUT_OF_MEMORY;
    }
    if (pResponseSize != nullptr) *pResponseSize = static_cast<SD_UINT32>(std::min(got, response.size()));
    return st;
}

SD_UINT32 SDSendElsEcho(int Device, SD_UINT32 HbaDevPortNum, PDESTINATIONADDRESS pTargetAddr,
                        std::span<const SD_UINT8> request, std::span<SD_UINT8> response, SD_UINT32* pResponseSize) {
    return SDSendElsPassThru(Device, HbaDevPortNum, pTargetAddr, request, response, pResponseSize, 0);
}

SD_UINT32 SDMailboxPassthru(int Device, SD_UINT32 HbaDevPortNum, std::span<const SD_UINT16> mbxIn,
                            std::span<SD_UINT16> mbxOut) {
    (void)HbaDevPortNum;
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (mbxIn.empty()) return SDERR_INVALID_PARAMETER;
    auto in = std::as_bytes(mbxIn);
    auto out = std::as_writable_bytes(mbxOut);
    return zvapi_request(*call.port, ZVOP_MAILBOX, {reinterpret_cast<const SD_UINT8*>(in.data()), in.size()},
                         {reinterpret_cast<SD_UINT8*>(out.data()), out.size()}, nullptr);
}

SD_UINT32 SDSetTargetIDMALinkSpeed(int Device, SD_UINT32 HbaDevPortNum, SD_UINT32 Flags,
                                   PDESTINATIONADDRESS pTargetAddr, SD_UINT32 Speed) {
    (void)HbaDevPortNum;
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (pTargetAddr == nullptr) return SDERR_INVALID_PARAMETER;
    zvapi_link_speed req{*pTargetAddr, Flags, Speed};
    return zvapi_request(*call.port, ZVOP_LINK_SPEED, zvapi_bytes(req), {}, nullptr);
}

SD_UINT32 SDSwapTargetDevice(int Device, const DEVICEINFOENTRY* pExisting, const DEVICEINFOENTRY* pNew) {
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (pExisting == nullptr || pNew == nullptr) return SDERR_INVALID_PARAMETER;
    DEVICEINFOENTRY pair[2] = {*pExisting, *pNew};
    return zvapi_request(*call.port, ZVOP_SWAP_TARGET, zvapi_bytes(pair), {}, nullptr);
}
