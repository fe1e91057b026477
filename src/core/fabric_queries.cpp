// Fabric CT, ELS and QoS queries, PCI identity, private statistics and the target beacon.
#include "core/fabric_queries.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>

#include "core/busy_retry.h"
#include "core/chip_types.h"
#include "core/core_log.h"
#include "core/preferences.h"
#include "core/scsi_probe.h"
#include "mgmt/sdapi.h"

namespace {

constexpr int kNoMemory = -17;
constexpr int kNotSupported = -52;
constexpr int kReadFailed = -18;
constexpr int kWriteFailed = -19;

void put_be16(std::span<SD_UINT8> b, std::size_t at, SD_UINT16 v) {
    b[at] = static_cast<SD_UINT8>(v >> 8);
    b[at + 1] = static_cast<SD_UINT8>(v);
}

void put_port_id(std::span<SD_UINT8> b, std::size_t at, SD_UINT32 id) {
    b[at] = static_cast<SD_UINT8>(id >> 16);
    b[at + 1] = static_cast<SD_UINT8>(id >> 8);
    b[at + 2] = static_cast<SD_UINT8>(id);
}

// A request of `size` bytes behind the preamble, its answer zero-filled.
SD_UINT32 ct_send(SDMDevice* device, SD_UINT8 gsType, SD_UINT8 gsSubtype, SD_UINT16 command,
                  std::span<const SD_UINT8> payload, std::vector<SD_UINT8>& request, std::vector<SD_UINT8>& response) {
    std::array<SD_UINT8, CT_PREAMBLE_SIZE> preamble{};
    CoreBuildCTPreamble(preamble, gsType, gsSubtype, command);
    std::fill(request.begin(), request.end(), SD_UINT8{0});
    std::copy(preamble.begin(), preamble.end(), request.begin());
    std::copy(payload.begin(), payload.end(), request.begin() + CT_PREAMBLE_SIZE);
    std::fill(response.begin(), response.end(), SD_UINT8{0});
    return SDSendCTPassThru(device->DeviceHandle, request, response);
}

// The request and the answer for one name-server question about the port's own address.
int name_server_query(SDMDevice* device, SD_UINT16 command, std::span<SD_UINT8> out, const char* who) {
    if (device == nullptr || out.size() < 8) return -1;
    try {
        std::vector<SD_UINT8> request(CT_PREAMBLE_SIZE + 4), response(CT_NAME_RESPONSE_SIZE);
        std::array<SD_UINT8, 4> payload{};
        put_port_id(payload, 1, device->DevicePortProperty.PortID);
        const SD_UINT32 st = ct_send(device, CT_GS_NAME_SERVER, 0x02, command, payload, request, response);
        if (st != SDERR_SUCCESS) {
            CoreLogMessage(ZV_MSG_DEBUG, "%s: SDSendCTPassThru failed (0x%x) (%s)", who, st, SDGetErrorString(st));
            return -1;
        }
        if (CoreIsCTAccepted(response)) {
            std::copy_n(response.begin() + 16, 8, out.begin());
        } else {
            CoreLogMessage(ZV_MSG_DEBUG, "%s: request rejected (reason 0x%02x)", who, response[13]);
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
}

bool name_less(const CoreInterconnectElement& a, const CoreInterconnectElement& b) {
    return CoreCompareIEPortName(a.Name, b.Name) < 0;
}

// The element list in name order, with each element's domain id when known.
struct KnownElement {
    CoreInterconnectElement element;
    bool known;
    SD_UINT8 domain;
};

SD_INT32 sorted_elements_with_domains(SDMDevice* device, std::vector<KnownElement>& out) {
    std::vector<CoreInterconnectElement> elements;
    const SD_INT32 st = CoreGetInterconnectElements(device, elements);
    if (st != 0) return st;
    std::stable_sort(elements.begin(), elements.end(), name_less);
    for (const CoreInterconnectElement& e : elements) {
        SD_UINT8 domain = 0;
        const bool known = CoreGetSwitchDomainID(device, e.Name, &domain) == 0;
        out.push_back({e, known, domain});
    }
    return 0;
}

void log_bytes(const char* what, std::span<const SD_UINT8> b) {
    CoreLogMessage(ZV_MSG_DEBUG, "%s (%zu bytes):", what, b.size());
    for (std::size_t at = 0; at < b.size(); at += 8) {
        char line[64];
        int n = std::snprintf(line, sizeof line, "%04zx:", at);
        for (std::size_t i = at; i < std::min(at + 8, b.size()); ++i)
            n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), i == at + 4 ? " - %02x" : " %02x",
                               b[i]);
        CoreLogMessage(ZV_MSG_DEBUG, "%s", line);
    }
}

SD_UINT32 els_send(SDMDevice* device, SD_UINT32 code, std::span<const SD_UINT8> request, std::size_t answerSize,
                   std::vector<SD_UINT8>* pRetBuffer, SD_UINT32* pRetBufSize) {
    DESTINATIONADDRESS dest{};
    dest.AddressType = SD_ADDRESS_BY_PORT_ID;
    dest.AddressUsing[0] = 0xFF;
    dest.AddressUsing[1] = 0xFF;
    dest.AddressUsing[2] = 0xFE;
    log_bytes("ELS request", request);
    try {
        std::vector<SD_UINT8> response(answerSize, 0);
        SD_UINT32 got = 0;
        const SD_UINT32 st =
            SDSendElsPassThru(device->DeviceHandle, 0, &dest, request, response, &got, code);
        if (st != SDERR_SUCCESS) {
            CoreLogMessage(ZV_MSG_DEBUG, "ELS 0x%x failed (0x%x) (%s)", code, st, SDGetErrorString(st));
            return st;
        }
        // Only what came back, never more than the answer's size.
        response.resize(std::min<std::size_t>(got, answerSize));
        log_bytes("ELS response", response);
        *pRetBuffer = std::move(response);
        *pRetBufSize = static_cast<SD_UINT32>(pRetBuffer->size());
        return SDERR_SUCCESS;
    } catch (const std::bad_alloc&) {
        return CORE_ELS_NO_MEMORY;
    }
}

// The library's QoS record of one target into `out` (asked by its WWPN): the
// library's status.
SD_UINT32 qos_record_of(SDMDevice* pDevice, const SD_UINT8* wwpn, SD_LUN_QOS& out, const char* caller) {
    out = SD_LUN_QOS{};
    std::memcpy(out.WWPN, wwpn, sizeof out.WWPN);
    const SD_UINT32 st = SDGetLunQos(pDevice->DeviceHandle, 0, &out);
    if (st != SDERR_SUCCESS)
        CoreLogMessage(ZV_MSG_DEBUG, "%s: SDGetLunQos failed (0x%x) (%s)", caller, st, SDGetErrorString(st));
    return st;
}

// True when the library answered for that very WWPN.
bool qos_answers_for(const SD_LUN_QOS& rec, const SD_UINT8* wwpn) {
    return std::memcmp(rec.WWPN, wwpn, sizeof rec.WWPN) == 0;
}

}  // namespace

void CoreBuildCTPreamble(std::span<SD_UINT8, CT_PREAMBLE_SIZE> out, SD_UINT8 gsType, SD_UINT8 gsSubtype,
                         SD_UINT16 command) {
    std::fill(out.begin(), out.end(), SD_UINT8{0});
    out[0] = 1;
    out[4] = gsType;
    out[5] = gsSubtype;
    put_be16(out, 8, command);
}

bool CoreIsCTAccepted(std::span<const SD_UINT8> response) {
    return response.size() >= 10 && ((response[8] << 8) | response[9]) == CT_ACCEPT;
}

SD_INT32 CoreGetInterconnectElements(SDMDevice* pDevice, std::vector<CoreInterconnectElement>& elements) {
    elements.clear();
    if (pDevice == nullptr) return -1;
    try {
        std::vector<SD_UINT8> request(CT_PREAMBLE_SIZE), response(CT_IE_LIST_RESPONSE_SIZE);
        SD_UINT32 st = ct_send(pDevice, CT_GS_FABRIC_CONFIG, 0x01, CT_CMD_IE_LIST, {}, request, response);
        if (st == SDERR_CT_REJECT) {
            st = ct_send(pDevice, CT_GS_FABRIC_CONFIG, 0x01, CT_CMD_IE_LIST_OLD, {}, request, response);
            if (st != SDERR_SUCCESS) {
                CoreLogMessage(ZV_MSG_DEBUG, "CoreGetInterconnectElements: both list requests failed (0x%x)", st);
                return -1;
            }
        }
        if (st != SDERR_SUCCESS) return static_cast<SD_INT32>(st);
        if (!CoreIsCTAccepted(response)) {
            CoreLogMessage(ZV_MSG_DEBUG, "CoreGetInterconnectElements: list rejected (reason 0x%02x)", response[13]);
            return 0;
        }
        const SD_UINT32 count = (SD_UINT32{response[16]} << 24) | (SD_UINT32{response[17]} << 16) |
                                (SD_UINT32{response[18]} << 8) | SD_UINT32{response[19]};
        if (count > CT_IE_MAX)
            CoreLogMessage(ZV_MSG_DEBUG, "CoreGetInterconnectElements: %u elements claimed, %zu fit the answer", count,
                           CT_IE_MAX);
        const std::size_t n = std::min<std::size_t>(count, CT_IE_MAX);
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t at = CT_IE_FIRST + i * CT_IE_SIZE;
            CoreInterconnectElement e{};
            std::memcpy(e.Name, response.data() + at, 8);
            e.Type = response[at + 11];
            elements.push_back(e);
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
}

int CoreCompareIEPortName(const SD_UINT8* p1, const SD_UINT8* p2) {
    char a[17], b[17];
    std::snprintf(a, sizeof a, "%02x%02x%02x%02x%02x%02x%02x%02x", p1[0], p1[1], p1[2], p1[3], p1[4], p1[5], p1[6],
                  p1[7]);
    std::snprintf(b, sizeof b, "%02x%02x%02x%02x%02x%02x%02x%02x", p2[0], p2[1], p2[2], p2[3], p2[4], p2[5], p2[6],
                  p2[7]);
    return std::strcmp(a, b);
}

SD_INT32 CoreGetSwitchDomainID(SDMDevice* pDevice, const SD_UINT8* pFabricWWN, SD_UINT8* pDomainID) {
    if (pDevice == nullptr || pFabricWWN == nullptr || pDomainID == nullptr) return -1;
    try {
        std::vector<SD_UINT8> request(CT_PREAMBLE_SIZE + 8), response(CT_DOMAIN_RESPONSE_SIZE);
        const SD_UINT32 st = ct_send(pDevice, CT_GS_FABRIC_CONFIG, 0x01, CT_CMD_DOMAIN_ID,
                                     std::span<const SD_UINT8>(pFabricWWN, 8), request, response);
        if (st == SDERR_CT_REJECT) return -1;
        if (st != SDERR_SUCCESS) return static_cast<SD_INT32>(st);
        if (!CoreIsCTAccepted(response)) {
            CoreLogMessage(ZV_MSG_DEBUG, "CoreGetSwitchDomainID: request rejected (reason 0x%02x)", response[13]);
            return -1;
        }
        *pDomainID = response[17];
        return 0;
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
}

SD_INT32 CoreGetPrincipalFabricWWN(SDMDevice* pDevice, std::span<SD_UINT8> pSwWWN) {
    if (pDevice == nullptr || pSwWWN.size() < 8) return -1;
    std::vector<KnownElement> list;
    const SD_INT32 st = sorted_elements_with_domains(pDevice, list);
    if (st != 0) return st;
    std::array<SD_UINT8, 8> best{};
    bool have = false;
    SD_UINT8 bestDomain = 0, previous = 0;
    for (const KnownElement& k : list) {
        const SD_UINT8 domain = k.known ? k.domain : previous;
        previous = domain;
        if (!have || domain < bestDomain) {
            have = true;
            bestDomain = domain;
            std::memcpy(best.data(), k.element.Name, 8);
        }
    }
    std::copy(best.begin(), best.end(), pSwWWN.begin());
    return 0;
}

SD_INT32 CoreGetAttachedSwitchFabricWWN(SDMDevice* pDevice, std::span<SD_UINT8> pSwWWN) {
    if (pDevice == nullptr || pSwWWN.size() < 8) return -1;
    std::vector<KnownElement> list;
    const SD_INT32 st = sorted_elements_with_domains(pDevice, list);
    if (st != 0) return st;
    const SD_UINT8 ownDomain = static_cast<SD_UINT8>(pDevice->DevicePortProperty.PortID >> 16);
    std::array<SD_UINT8, 8> name{};
    for (const KnownElement& k : list)
        if (k.known && k.domain == ownDomain) std::memcpy(name.data(), k.element.Name, 8);
    std::copy(name.begin(), name.end(), pSwWWN.begin());
    return 0;
}

int CoreGetDestinationAddressType(SDMDevice* pDevice, const SD_UINT8* pWWN) {
    if (pDevice == nullptr || pWWN == nullptr) return SD_ADDRESS_BY_PORT_ID;
    std::vector<CoreInterconnectElement> elements;
    CoreGetInterconnectElements(pDevice, elements);
    for (const CoreInterconnectElement& e : elements) {
        if (std::memcmp(e.Name, pWWN, 8) == 0) {
            CoreLogMessage(ZV_MSG_DEBUG, "CoreGetDestinationAddressType: Destination is a fabric controller");
            return SD_ADDRESS_BY_PORT_ID;
        }
    }
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetDestinationAddressType: Destination is a target device");
    return SD_ADDRESS_BY_PORT_WWN;
}

int CoreGetAdjacentFabricWWN(SDMDevice* pDevice, std::span<SD_UINT8> pSwWWN) {
    return name_server_query(pDevice, CT_CMD_FABRIC_PORT_NAME, pSwWWN, "CoreGetAdjacentFabricWWN");
}

int CoreGetAdjacentAdapterPortName(SDMDevice* pDevice, std::span<SD_UINT8> pSwWWN) {
    return name_server_query(pDevice, CT_CMD_PORT_NAME, pSwWWN, "CoreGetAdjacentAdapterPortName");
}

int CoreUpdateFabricWWN() {
    for (SDMDevice* d = GetDeviceList()->firstDevice; d != nullptr; d = d->next) {
        std::array<SD_UINT8, 8> name{};
        if (CoreGetPrincipalFabricWWN(d, name) == 0)
            std::memcpy(d->DevicePortProperty.PrincipalFabricWWN, name.data(), 8);
        // A rejected question leaves the name as it was.
        std::memcpy(name.data(), d->DevicePortProperty.AdjacentFabricWWN, 8);
        if (CoreGetAdjacentFabricWWN(d, name) == 0)
            std::memcpy(d->DevicePortProperty.AdjacentFabricWWN, name.data(), 8);
    }
    return 0;
}

SD_INT32 CoreGetAdapterPCIProperty(SDMDevice* pDevice, PCIPROPERTY* pPCIData) {
    if (pDevice == nullptr) return -1;
    CHIPPROPERTY chip = pDevice->DeviceChipProperty;
    SD_INT32 result = 0;
    if (pPCIData == nullptr) result = static_cast<SD_INT32>(SDGetHbaDeviceChipProperty(pDevice->DeviceHandle, &chip));
    PCIPROPERTY p{};
    p.DeviceID = chip.DeviceID;
    p.ChipRev = static_cast<SD_UINT16>(CoreGetISPType(pDevice));
    p.PciBusNumber = chip.PciBusNumber;
    p.PciFuncNumber = static_cast<SD_UINT16>(chip.PciSlotNumber & 0x7);
    p.PciDeviceNumber = static_cast<SD_UINT16>((chip.PciSlotNumber & 0xF8) >> 3);
    p.PortNumber = (p.PciFuncNumber == 0 || p.PciFuncNumber == 2 || p.PciFuncNumber == 6) ? 1 : 2;
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetAdapterPCIProperty: DeviceID=0x%04x ChipRev=%u PortNumber=%u", p.DeviceID,
                   p.ChipRev, p.PortNumber);
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetAdapterPCIProperty: Bus=%u Device=%u Function=%u", p.PciBusNumber,
                   p.PciDeviceNumber, p.PciFuncNumber);
    if (pPCIData != nullptr) *pPCIData = p;
    return result;
}

int CoreGetAdapterFwPrivateStatsData(SDMDevice* pDevice, FWPRIVATESTATS* pFwPrivateStatsRetBuf,
                                     SD_UINT32 iBufferSize) {
    if (pDevice == nullptr || pFwPrivateStatsRetBuf == nullptr || iBufferSize < sizeof(FWPRIVATESTATS)) return -1;
    if (CoreGetISPType(pDevice) < 25) return -1;
    FWPRIVATESTATS stats{};
    const SD_UINT32 st =
        SDGetPrivStats(pDevice->DeviceHandle, 0, {reinterpret_cast<SD_UINT8*>(stats.Words), sizeof stats.Words});
    if (st != SDERR_SUCCESS) {
        CoreLogMessage(ZV_MSG_DEBUG, "CoreGetAdapterFwPrivateStatsData: SDGetPrivStats failed (0x%x) (%s)", st,
                       SDGetErrorString(st));
        return st == SDERR_OUT_OF_MEMORY ? kNoMemory : -1;
    }
    static constexpr std::pair<int, int> kWords[] = {{0, 10},  {16, 16}, {28, 31}, {33, 36},
                                                     {38, 38}, {43, 50}, {52, 61}};
    for (const auto& [first, last] : kWords)
        for (int w = first; w <= last; ++w) pFwPrivateStatsRetBuf->Words[w] = stats.Words[w];
    return 0;
}

void CoreBuildRDPRequest(std::span<SD_UINT8, RDP_REQUEST_SIZE> out, SD_UINT32 portId) {
    std::fill(out.begin(), out.end(), SD_UINT8{0});
    out[3] = 12;   // descriptor-list length
    out[7] = 3;    // descriptor tag
    out[11] = 4;   // descriptor length
    put_port_id(out, 13, portId);
}

void CoreBuildLCBRequest(std::span<SD_UINT8, LCB_REQUEST_SIZE> out, const LCB_REQUEST& request) {
    std::fill(out.begin(), out.end(), SD_UINT8{0});
    out[0] = request.SubCommand;
    out[3] = request.Capability;
    out[4] = request.Status;
    out[5] = request.Frequency;
    put_be16(out, 6, request.Duration);
}

SD_UINT32 CoreELSendRDP(SDMDevice* pDevice, std::vector<SD_UINT8>* pRetBuffer, SD_UINT32* pRetBufSize) {
    if (pDevice == nullptr || pRetBuffer == nullptr || pRetBufSize == nullptr) return CORE_ELS_NO_DEVICE;
    DEVICEPORTPROPERTY port{};
    const SD_UINT32 st = SDGetHbaDevicePortProperty(pDevice->DeviceHandle, 0, &port);
    if (st != SDERR_SUCCESS) return st;
    std::array<SD_UINT8, RDP_REQUEST_SIZE> request{};
    CoreBuildRDPRequest(request, port.PortID);
    return els_send(pDevice, ELS_CODE_RDP, request, RDP_RESPONSE_SIZE, pRetBuffer, pRetBufSize);
}

SD_UINT32 CoreELSendLCB(SDMDevice* pDevice, const LCB_REQUEST* pRequest, std::vector<SD_UINT8>* pRetBuffer,
                        SD_UINT32* pRetBufSize) {
    if (pDevice == nullptr || pRequest == nullptr || pRetBuffer == nullptr || pRetBufSize == nullptr)
        return CORE_ELS_NO_DEVICE;
    std::array<SD_UINT8, LCB_REQUEST_SIZE> request{};
    CoreBuildLCBRequest(request, *pRequest);
    return els_send(pDevice, ELS_CODE_LCB, request, LCB_RESPONSE_SIZE, pRetBuffer, pRetBufSize);
}

SD_UINT32 CoreGetLunQoSFlashOffset(int chipType, int hwPort) {
    if (chipType == 24) return hwPort == 2 ? 0xFE0000 : 0xFC0000;
    if (chipType == 25) {
        switch (hwPort) {
            case 2: return 0x460000;
            case 3: return 0x480000;
            case 4: return 0x4A0000;
            default: return 0x440000;
        }
    }
    switch (hwPort) {
        case 1: return 0xD00000;
        case 2: return 0xD20000;
        case 3: return 0xD40000;
        case 4: return 0xD60000;
        default: return 0xCE0000;
    }
}

int CoreIsLunQoSEnable(SDMDevice* pDevice) {
    if (pDevice == nullptr) return -1;
    SD_UINT32 enable = 0;
    if (SDGetLunQosEnable(pDevice->DeviceHandle, 0, &enable) == SDERR_SUCCESS && enable != 0) return 0;
    CoreLogMessage(ZV_MSG_DEBUG, "CoreIsLunQoSEnable: SmartSan QoS is not supported!");
    return kNotSupported;
}

int CoreGetTargetLunQoSData(SDMDevice* pDevice, LUN_QOS* pLunQoS) {
    const int enabled = CoreIsLunQoSEnable(pDevice);
    if (enabled != 0) return enabled;
    if (pLunQoS == nullptr) return -1;
    SD_LUN_QOS rec{};
    if (qos_record_of(pDevice, pLunQoS->WWPN, rec, "CoreGetTargetLunQoSData") != SDERR_SUCCESS) return -1;
    if (qos_answers_for(rec, pLunQoS->WWPN))
        std::memcpy(pLunQoS->LunQosData, rec.LunQosData, sizeof pLunQoS->LunQosData);
    return 0;
}

int CoreSetTargetLunQoSConfig(SDMDevice* pDevice, const LUN_QOS* pLunQoS) {
    if (pDevice == nullptr) return -1;
    const int enabled = CoreIsLunQoSEnable(pDevice);
    if (enabled != 0) return enabled;
    if (pLunQoS == nullptr) return -1;
    SD_LUN_QOS rec{};
    if (qos_record_of(pDevice, pLunQoS->WWPN, rec, "CoreSetTargetLunQoSConfig") != SDERR_SUCCESS) return -1;
    if (!qos_answers_for(rec, pLunQoS->WWPN)) return 0;
    std::memcpy(rec.LunQosData, pLunQoS->LunQosData, sizeof rec.LunQosData);
    const SD_UINT32 st = SDSetLunQos(pDevice->DeviceHandle, 0, &rec);
    if (st != SDERR_SUCCESS) {
        CoreLogMessage(ZV_MSG_DEBUG, "CoreSetTargetLunQoSConfig: SDSetLunQos failed (0x%x) (%s)", st, SDGetErrorString(st));
        return -1;
    }
    return 0;
}

int CoreSaveTargetLunQoSConfig(SDMDevice* pDevice, int hwPort) {
    if (pDevice == nullptr) return -1;
    const int enabled = CoreIsLunQoSEnable(pDevice);
    if (enabled != 0) return enabled;
    const SD_UINT32 targets = pDevice->TargetList.count;
    if (targets > QOS_FLASH_MAX_TARGETS) {
        CoreLogMessage(ZV_MSG_DEBUG, "CoreSaveTargetLunQoSConfig: %u targets do not fit the area", targets);
        return -1;
    }
    const int chip = CoreGetISPType(pDevice);
    const SD_UINT32 offset = CoreGetLunQoSFlashOffset(chip, hwPort);
    CoreLogMessage(ZV_MSG_DEBUG, "CoreSaveTargetLunQoSConfig: area 0x%x-0x%x", offset,
                   offset + static_cast<SD_UINT32>((chip != 24 && chip != 25 && (hwPort < 1 || hwPort > 4))
                                                       ? 0x8000
                                                       : QOS_FLASH_AREA_SIZE) - 1);
    std::vector<SD_UINT8> area;
    try {
        area.assign(QOS_FLASH_AREA_SIZE, 0);
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
    if (CoreRetryWhileBusy(CORE_READ_RETRY_SECONDS,
                           [&] { return SDGetOptionRomOffset(pDevice->DeviceHandle, 0, area, offset); }) != SDERR_SUCCESS)
        return kReadFailed;

    std::fill(area.begin(), area.end(), SD_UINT8{0});
    const SD_UINT32 length = static_cast<SD_UINT32>(QOS_FLASH_HEADER_SIZE + sizeof(LUN_QOS) * targets);
    std::size_t at = QOS_FLASH_HEADER_SIZE;
    for (SDMTarget* t = pDevice->TargetList.firstTarget; t != nullptr && at + sizeof(LUN_QOS) <= area.size();
         t = t->next, at += sizeof(LUN_QOS)) {
        if (t->LunList.count == 0) continue;
        SD_LUN_QOS rec{};
        if (qos_record_of(pDevice, t->DiscTargetProperty.PortWWN, rec, "CoreSaveTargetLunQoSConfig") == SDERR_SUCCESS &&
            qos_answers_for(rec, t->DiscTargetProperty.PortWWN))
            std::memcpy(area.data() + at, &rec, sizeof rec);
    }
    area[0] = 1;   // version
    area[4] = static_cast<SD_UINT8>(length);
    area[5] = static_cast<SD_UINT8>(length >> 8);
    area[6] = static_cast<SD_UINT8>(length >> 16);
    area[7] = static_cast<SD_UINT8>(length >> 24);
    area[8] = static_cast<SD_UINT8>(targets);
    area[9] = static_cast<SD_UINT8>(targets >> 8);
    SD_UINT16 sum = 0;
    for (std::size_t i = 0; i + 1 < length; i += 2) sum = static_cast<SD_UINT16>(sum + (area[i] | (area[i + 1] << 8)));
    const SD_UINT16 checksum = static_cast<SD_UINT16>(0x10000 - sum);
    area[2] = static_cast<SD_UINT8>(checksum);
    area[3] = static_cast<SD_UINT8>(checksum >> 8);
    return SDUpdateOptionRomOffset(pDevice->DeviceHandle, 0, area, offset) == SDERR_SUCCESS ? 0 : kWriteFailed;
}

SD_UINT32 CoreHandleTargetBeacon() {
    SD_UINT32 last = 0;
    for (SDMDevice* d = GetDeviceList()->firstDevice; d != nullptr; d = d->next) {
        for (SDMTarget* t = d->TargetList.firstTarget; t != nullptr; t = t->next) {
            char key[256] = {};
            int state = 0;
            if (CoreBuildTargetBeaconKey(key, sizeof key, static_cast<int>(d->DeviceNumber),
                                         t->DiscTargetProperty.PortWWN) != 0 ||
                CoreGetTargetBeaconState(key, &state) != 0) {
                CoreLogMessage(ZV_MSG_ERROR, "CoreHandleTargetBeacon: Unable to read persist target beacon");
                continue;
            }
            t->BeaconControlFlags = static_cast<SD_UINT32>(state);
            if (t->BeaconControlFlags != 1) continue;
            DESTINATIONADDRESS dest{};
            dest.AddressType = SD_ADDRESS_BY_PORT_WWN;
            std::memcpy(dest.AddressUsing, t->DiscTargetProperty.PortWWN, 8);
            dest.LunNumber = t->lunNumberForInquiry;
            for (int i = 0; i < 3; ++i) {
                std::array<SD_UINT8, SCSI_INQUIRY_LEN> data{};
                std::array<SD_UINT8, 32> sense{};
                last = SDSendScsiInquiryCmdFC(d->DeviceHandle, &dest, data, sense);
                if (last != SDERR_SUCCESS) {
                    CoreLogMessage(ZV_MSG_ERROR, "CoreHandleTargetBeacon: Error retrieving SCSI inquiry data");
                    break;
                }
            }
        }
    }
    return last;
}
