// ELS echo requests.
#include "core/els_echo.h"

#include <algorithm>
#include <cstring>

#include "core/core_log.h"
#include "mgmt/sdapi.h"

namespace {

// The bytes eight a line; a short last line is filled with zeros.
void trace_bytes(const char* format, std::span<const uint8_t> bytes) {
    for (size_t at = 0; at < bytes.size(); at += 8) {
        uint8_t b[8] = {};
        std::memcpy(b, bytes.data() + at, std::min<size_t>(8, bytes.size() - at));
        CoreLogMessage(ZV_MSG_DEBUG, format, b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7]);
    }
}

}  // namespace

uint32_t CoreSendElsEcho(int handle, uint32_t port, PDESTINATIONADDRESS destination, std::span<const uint8_t> request,
                         std::span<uint8_t> response, uint32_t* responseLength) {
    if (request.empty()) return SDERR_SUCCESS;
    trace_bytes("CoreSendElsEcho: pRequestData %02x %02x %02x %02x - %02x %02x %02x %02x\n.", request);
    SD_UINT32 length = 0;
    const SD_UINT32 st = SDSendElsPassThru(handle, static_cast<SD_UINT16>(port), destination, request, response,
                                           &length, 16);
    if (st == SDERR_SUCCESS) {
        CoreLogMessage(ZV_MSG_DEBUG, "CoreSendElsEcho:  (*pRespDataSize) %u\n", length);
        trace_bytes("CoreSendElsEcho: pRespData: %02x %02x %02x %02x - %02x %02x %02x %02x\n.",
                    response.first(std::min<size_t>(length, response.size())));
    } else {
        CoreLogMessage(ZV_MSG_DEBUG, "CoreSendElsEcho:  Error Status %08X (%s)\n", st, SDGetErrorString(st));
    }
    if (responseLength != nullptr) *responseLength = length;
    return st;
}

uint32_t CoreGetElsEchoPath(int handle, uint32_t port, PDESTINATIONADDRESS destination,
                            std::span<const uint8_t> request, std::span<uint8_t> response, uint32_t* responseLength) {
    SD_UINT32 length = 0;
    const SD_UINT32 st = SDSendElsEcho(handle, port, destination, request, response, &length);
    if (st == SDERR_SUCCESS)
        CoreLogMessage(ZV_MSG_DEBUG, "CoreGetElsEchoPath:  (*pRespDataSize) %u\n", length);
    else
        CoreLogMessage(ZV_MSG_DEBUG, "CoreGetElsEchoPath:  Error Status %08X\n", st);
    if (responseLength != nullptr) *responseLength = length;
    return st;
}
