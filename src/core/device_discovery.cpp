// Start-up discovery: opens every management-library instance, builds one
// device per port with its properties, NVRAM, failover capability, targets
// and LUNs, and enables its events.
#include "core/device_discovery.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>

#include "core/busy_retry.h"
#include "core/chip_types.h"
#include "core/core_log.h"
#include "core/oss_services.h"
#include "core/preferences.h"
#include "core/scsi_probe.h"
#include "mgmt/fo_api.h"
#include "mgmt/sd_shared_db.h"
#include "mgmt/sdapi.h"

const char* const foCapText[4] = {"**Unknown**", "**No**", "Target-Level", "Lun-Level"};
int foCapTextIdx = 0;

namespace {
// Bounds on counts that come from the library's answers.
constexpr SD_UINT32 kMaxPortDbEntries = 65535;
constexpr SD_UINT32 kMaxFeatureEntries = 4096;
constexpr SD_UINT32 kMaxSecurePorts = 4096;
constexpr int kSecurePortRounds = 8;
constexpr SD_UINT32 kFeatureBindingMode = 4;

#define WWN_FMT "%02x-%02x-%02x-%02x-%02x-%02x-%02x-%02x"
#define WWN_ARGS(w) (w)[0], (w)[1], (w)[2], (w)[3], (w)[4], (w)[5], (w)[6], (w)[7]

bool is_zero(const SD_UINT8* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != 0) return false;
    return true;
}

// A remote port whose node WWN has bytes 0 and 4 both zero is no target.
bool null_node(const SD_UINT8* wwn) { return wwn[0] == 0 && wwn[4] == 0; }

void set_na_texts(SDMTarget* t) {
    std::memset(t->TargetVendorID, 0, sizeof t->TargetVendorID);
    std::memset(t->TargetProductID, 0, sizeof t->TargetProductID);
    std::memset(t->TargetRevision, 0, sizeof t->TargetRevision);
    std::memcpy(t->TargetVendorID, "N/A", 3);
    std::memcpy(t->TargetProductID, "N/A", 3);
    std::memcpy(t->TargetRevision, "N/A", 3);
}

// Standard INQUIRY of LUN 0 into the target's identity fields.
bool inquire_target(SDMDevice* device, SDMTarget* t) {
    std::array<SD_UINT8, SCSI_INQUIRY_LEN> data{};
    if (ScsiInquiryTarget(device, t, 0, data) != SDERR_SUCCESS) return false;
    std::memcpy(t->TargetInquiryHeader, data.data(), 8);
    std::memcpy(t->TargetVendorID, data.data() + 8, 8);
    std::memcpy(t->TargetProductID, data.data() + 16, 16);
    std::memcpy(t->TargetRevision, data.data() + 32, 4);
    return true;
}

bool read_beacon_state(const SDMDevice* device, SDMTarget* t) {
    char key[256] = {};
    int state = 0;
    if (CoreBuildTargetBeaconKey(key, sizeof key, static_cast<int>(device->DeviceNumber),
                                 t->DiscTargetProperty.PortWWN) != 0)
        return false;
    if (CoreGetTargetBeaconState(key, &state) != 0) return false;
    t->BeaconControlFlags = static_cast<SD_UINT32>(state);
    return true;
}

bool binds_by_port_name(SDMDevice* device) {
    SD_UINT32 mode = 0;
    return isBindByPortName(device, &mode) != SDERR_SUCCESS || mode != 0;
}

FOHBADATA hba_data(const SDMDevice* device) {
    FOHBADATA h{};
    std::memcpy(h.NodeWWN, device->DeviceNodeProperty.WWN, 8);
    std::memcpy(h.PortWWN, device->DevicePortProperty.WWN, 8);
    std::memcpy(h.Model, device->DeviceNodeProperty.Model, sizeof h.Model);
    return h;
}

void apply_link_speed(SDMDevice* device, SDMTarget* t) {
    char key[256] = {};
    if (CoreBuildiiDMAKey(key, sizeof key, device->DevicePortProperty.WWN, t->DiscTargetProperty.PortWWN) != 0) {
        CoreLogMessage(ZV_MSG_ERROR, "RetrievePortSummaryForDevice: Unable to build iiDMA key!");
        return;
    }
    int value = 0;
    if (CoreGetiiDMAValue(key, &value) != 0) {
        CoreLogMessage(ZV_MSG_DEBUG, "RetrievePortSummaryForDevice: Unable to get iiDMA value, may not exist");
        return;
    }
    DESTINATIONADDRESS d{};
    d.AddressType = SD_ADDRESS_BY_PORT_WWN;
    std::memcpy(d.AddressUsing, t->DiscTargetProperty.PortWWN, 8);
    if (SDSetTargetIDMALinkSpeed(device->DeviceHandle, 0, 1, &d, static_cast<SD_UINT32>(value)) != SDERR_SUCCESS)
        CoreLogMessage(ZV_MSG_ERROR, "RetrievePortSummaryForDevice: Unable to update iiDMA value from persist value!");
}

// One pass over the port database of one mode; 0 or -1.
int port_summary_pass(SDMDevice* device, SD_UINT32 mode, bool byName) {
    std::vector<SD_UINT8> buffer(300, 0);
    SD_UINT32 status = SDGetPortDatabase(device->DeviceHandle, mode, buffer);
    if (status != SDERR_SUCCESS && status != SDERR_BUFFER_TOO_SMALL) {
        CoreLogMessage(ZV_MSG_WARNING,
                       "RetrievePortSummaryForDevice: SDGetPortDatabase() Returned non-standard error while querying "
                       "count (0x%x) (%s)",
                       status, SDGetErrorString(status));
        return -1;
    }
    DEVICEINFO head{};
    std::memcpy(&head, buffer.data(), sizeof(SD_UINT32) * 2);
    const SD_UINT32 total = std::min(head.TotalDevices, kMaxPortDbEntries);
    if (total == 0) return 0;

    try {
        buffer.assign(300 + 292 * static_cast<size_t>(total), 0);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    status = SDGetPortDatabase(device->DeviceHandle, mode, buffer);
    if (status == SDERR_BUFFER_TOO_SMALL) return 0;
    if (status != SDERR_SUCCESS) return -1;

    std::memcpy(&head, buffer.data(), sizeof(SD_UINT32) * 2);
    const size_t fit = (buffer.size() - offsetof(DEVICEINFO, EntryList)) / sizeof(DEVICEINFOENTRY);
    const size_t count = std::min<size_t>(head.ReturnListEntryCount, fit);
    int result = 0;
    for (size_t i = 0; i < count; ++i) {
        DEVICEINFOENTRY e{};
        std::memcpy(&e, buffer.data() + offsetof(DEVICEINFO, EntryList) + i * sizeof(DEVICEINFOENTRY), sizeof e);
        const bool nvme = (e.DeviceFlags & SDM_TGT_NVME) != 0;
        if (!byName && is_zero(e.PortID, 3)) continue;

        if (SDMTarget* found = FindTargetByWWNNAndWWPNOrPortIdInTargetList(device, e.NodeWWN, e.PortWWN, e.PortID)) {
            if (mode == 7) {
                found->TargetLoopID = e.LoopID;
                found->TargetBaseLunNumber = e.BaseLunNumber;
                found->TargetMultipathControl = e.ControlFlags;
                found->DiscTargetProperty.TargetID = e.TargetAddress.TargetID;
            }
            if (nvme) found->TargetFlags |= SDM_TGT_NVME;
            continue;
        }
        if (null_node(e.NodeWWN)) continue;

        SDMTarget* t = CreateNewTarget();
        if (t == nullptr) {
            CoreLogMessage(ZV_MSG_ERROR, "Unable to allocate memory for new target");
            result = -1;
            continue;
        }
        DISCTARGETPROPERTY& p = t->DiscTargetProperty;
        t->TargetAgentFlags = SDM_AGENT_CONFIGURED;
        t->TargetMultipathControl = e.ControlFlags;
        t->TargetAbilityFlags |= SDM_TGT_DISCOVERED;
        p.BusNumber = e.TargetAddress.BusNumber;
        p.TargetID = e.TargetAddress.TargetID;
        std::memcpy(p.NodeWWN, e.NodeWWN, 8);
        std::memcpy(p.PortWWN, e.PortWWN, 8);
        p.PortID = SDMPortIdFromBytes(e.PortID);
        t->TargetBaseLunNumber = e.BaseLunNumber;
        if (mode == 7) {
            t->TargetFlags = e.DeviceFlags & ~SDM_TGT_READY;
            t->TargetLoopID = e.LoopID;
        } else {
            // Seen only in the fabric or loop: known, not configured.
            t->TargetMultipathControl = 0x40;
            t->TargetNewMultipathControl = 0x40;
            t->TargetFlags = nvme ? (SDM_TGT_READY | SDM_TGT_NVME) : SDM_TGT_READY;
            t->TargetAgentFlags = SDM_AGENT_UNCONFIGURED;
            p.BusNumber = 0xFFFF;
            p.TargetID = 0xFFFF;
            t->TargetLoopID = mode == 8 ? 0xFFFF : e.LoopID;
        }
        if (!read_beacon_state(device, t))
            CoreLogMessage(ZV_MSG_WARNING,
                           "RetrievePortSummaryForDevice: Unable to read persist target beacon, may not exist");
        set_na_texts(t);

        if (t->TargetAgentFlags == SDM_AGENT_CONFIGURED) {
            if (CheckTargetReady(device, t) == 0) {
                t->TargetFlags |= SDM_TGT_READY;
                if (nvme) t->TargetFlags |= SDM_TGT_NVME;
                if (inquire_target(device, t)) apply_link_speed(device, t);
                UpdateTargetWithOEMParameters(device, t);
                RetrieveLunsForTarget(device, t);
            } else {
                CoreLogMessage(ZV_MSG_INFO, "Unable to query port (" WWN_FMT ") for inquiry/lun data",
                               WWN_ARGS(p.PortWWN));
            }
        } else {
            CoreLogMessage(ZV_MSG_DEBUG, "Port-summary target (" WWN_FMT ") - UNCONFIGURED", WWN_ARGS(p.PortWWN));
        }
        CoreLogMessage(ZV_MSG_INFO, "Adding port-summary recognized target [Port=(" WWN_FMT ")]", WWN_ARGS(p.PortWWN));
        if (AddTargetToTargetList(device, t) != 0) DeleteTarget(t);
    }
    return result;
}

// Names of the secure-port codes; "Unknown" for any other.
const char* code_name(SD_UINT8 code, std::initializer_list<const char*> names) {
    return code < names.size() ? names.begin()[code] : "Unknown";
}
const char* remote_type_name(SD_UINT8 t) { return code_name(t, {"Unknown", "Target", "Initiator"}); }
const char* remote_state_name(SD_UINT8 s) { return code_name(s, {"Bad", "Good"}); }
const char* auth_state_name(SD_UINT8 s) { return code_name(s, {"Undef", "Rekey", "Needed", "ELS Rcvd"}); }
const char* rekey_mode_name(SD_UINT8 m) { return code_name(m, {"Unknown", "Time", "Bytes"}); }

SECUREPORTENTRY secure_entry(std::span<const SD_UINT8> info, size_t i) {
    SECUREPORTENTRY e{};
    std::memcpy(&e, info.data() + SECUREPORTINFO_BYTES(i), sizeof e);
    return e;
}

// Entries present in a secure-port buffer: the count it says, bounded by its size.
size_t secure_entries(std::span<const SD_UINT8> info) {
    if (info.size() < SECUREPORTINFO_BYTES(0)) return 0;
    SD_UINT32 count = 0;
    std::memcpy(&count, info.data(), sizeof count);
    return std::min<size_t>(count, (info.size() - SECUREPORTINFO_BYTES(0)) / sizeof(SECUREPORTENTRY));
}
}  // namespace

// ---- Binding mode ----------------------------------------------------------------------

SD_UINT32 isBindByPortName(SDMDevice* device, SD_UINT32* mode) {
    if (device == nullptr) {
        CoreLogMessage(ZV_MSG_ERROR, "GetFeatures: Adapter not found.\n");
        return SDERR_INVALID_PARAMETER;
    }
    std::vector<SD_UINT8> buffer(FEATURE_GET_LIST_BYTES(1), 0);
    SD_UINT32 entries = 1;
    std::memcpy(buffer.data(), &entries, sizeof entries);
    SD_UINT32 status = SDGetHbaSupportedFeatureList(device->DeviceHandle, buffer);
    if (status == SDERR_BUFFER_TOO_SMALL) {
        std::memcpy(&entries, buffer.data(), sizeof entries);
        entries = std::clamp<SD_UINT32>(entries, 1, kMaxFeatureEntries);
        try {
            buffer.assign(FEATURE_GET_LIST_BYTES(entries), 0);
        } catch (const std::bad_alloc&) {
            CoreLogMessage(ZV_MSG_ERROR,
                           "GetFeatures: Unable to allocate memory for SDGetHbaSupportedFeatureList call.\n");
            return SDERR_OUT_OF_MEMORY;
        }
        std::memcpy(buffer.data(), &entries, sizeof entries);
        status = SDGetHbaSupportedFeatureList(device->DeviceHandle, buffer);
        if (status != SDERR_SUCCESS) {
            CoreLogMessage(ZV_MSG_DEBUG,
                           "GetFeatures: Second call to SDGetHbaSupportedFeatureList failed with error:  %d.\n",
                           static_cast<int>(status));
            return status;
        }
    } else if (status != SDERR_SUCCESS) {
        CoreLogMessage(ZV_MSG_DEBUG, "GetFeatures: SDGetHbaSupportedFeatureList failed with error:  %d.\n",
                       static_cast<int>(status));
        return status;
    }
    SD_UINT32 listed = 0;
    std::memcpy(&listed, buffer.data(), sizeof listed);
    const size_t fit = (buffer.size() - offsetof(FEATURE_GET_LIST, Entries)) / sizeof(FEATURE_GET_ENTRY);
    const size_t n = std::min<size_t>(listed, fit);
    // Without the binding feature the driver binds by port name.
    SD_UINT32 found = 1;
    for (size_t i = 0; i < n; ++i) {
        FEATURE_GET_ENTRY e{};
        std::memcpy(&e, buffer.data() + offsetof(FEATURE_GET_LIST, Entries) + i * sizeof e, sizeof e);
        if (e.Feature == kFeatureBindingMode) {
            found = e.Current;
            break;
        }
    }
    if (mode != nullptr) *mode = found;
    return SDERR_SUCCESS;
}

// ---- Discovery steps ---------------------------------------------------------------------

int RetrieveTargetSummaryForDevice(SDMDevice* device) {
    if (device == nullptr) return -1;
    RemoveAllTargetsFromTargetList(device);
    int result = 0;
    const SD_UINT32 count = device->DevicePortProperty.DiscTargetCount;
    for (SD_UINT32 index = 0; index < count; ++index) {
        SDMTarget* t = CreateNewTarget();
        if (t == nullptr) {
            CoreLogMessage(ZV_MSG_ERROR, "Unable to allocate memory for new target");
            result = -1;
            continue;
        }
        DISCTARGETPROPERTY& p = t->DiscTargetProperty;
        const SD_UINT32 status = SDGetDiscTargetProperty(device->DeviceHandle, 0, index, 0, &p);
        if (status != SDERR_SUCCESS) {
            CoreLogMessage(ZV_MSG_INFO, "Unable to query target (%d) - (0x%x) (%s)", static_cast<int>(index), status,
                           SDGetErrorString(status));
            DeleteTarget(t);
            continue;
        }
        if (null_node(p.NodeWWN)) {
            CoreLogMessage(ZV_MSG_DEBUG, "Skipping null Target (%d) [Node=(" WWN_FMT ")]", static_cast<int>(index),
                           WWN_ARGS(p.NodeWWN));
            DeleteTarget(t);
            continue;
        }
        t->TargetFlags &= ~SDM_TGT_READY;
        t->TargetAbilityFlags |= SDM_TGT_DISCOVERED | SDM_TGT_ASK_WWULN;
        t->TargetAgentFlags = SDM_AGENT_CONFIGURED;
        set_na_texts(t);
        if (CheckTargetReady(device, t) != 0) {
            CoreLogMessage(ZV_MSG_INFO, "Unable to query target (" WWN_FMT ") for inquiry/lun data",
                           WWN_ARGS(p.PortWWN));
        } else {
            t->TargetFlags |= SDM_TGT_READY;
            if (p.PortType == 1) t->TargetFlags |= SDM_TGT_NVME;
            inquire_target(device, t);
            UpdateTargetWithOEMParameters(device, t);
            RetrieveLunsForTarget(device, t);
            if (!read_beacon_state(device, t))
                CoreLogMessage(ZV_MSG_WARNING, "RetrieveTargetSummaryForDevice: Unable to read persist target beacon");
        }
        CoreLogMessage(ZV_MSG_INFO, "Adding Target (%d) [Port=(" WWN_FMT ")]", static_cast<int>(p.TargetID),
                       WWN_ARGS(p.PortWWN));
        if (AddTargetToTargetList(device, t) != 0) DeleteTarget(t);
    }
    return result;
}

int RetrievePortSummaryForDevice(SDMDevice* device) {
    if (device == nullptr) return -1;
    const bool byName = binds_by_port_name(device);
    int result = 0;
    for (const SD_UINT32 mode : {7u, 8u, 16u})
        if (port_summary_pass(device, mode, byName) != 0) result = -1;
    return result;
}

// The failover records are large (up to a megabyte); a failed allocation is a
// failed query, never an exception out of discovery.
template <class T>
std::unique_ptr<T> new_record() {
    return std::unique_ptr<T>(new (std::nothrow) T());
}

int RetrieveTargetPersistForDevice(SDMDevice* device) {
    if (device == nullptr) return -1;
    auto list = new_record<FOPORTSUMMARYLISTBUFFER>();
    if (!list) return -1;
    const FOHBADATA hba = hba_data(device);
    if (ISDFoGetTargetData(device->DeviceHandle, device->DeviceNumber, &hba, list.get(), 1) != SDERR_SUCCESS) return 0;
    const size_t n = std::min<size_t>(list->EntryCount, FO_MAX_ENTRIES);
    for (size_t i = 0; i < n; ++i) {
        const FOPORTSUMMARYENTRY& e = list->Entries[i];
        if (is_zero(e.NodeName, 8) || is_zero(e.PortName, 8)) continue;
        if (FindTargetByWWNNAndWWPNInTargetList(device, e.NodeName, e.PortName) != nullptr) continue;
        SDMTarget* t = CreateNewTarget();
        if (t == nullptr) return -1;
        DISCTARGETPROPERTY& p = t->DiscTargetProperty;
        std::memcpy(p.NodeWWN, e.NodeName, 8);
        std::memcpy(p.PortWWN, e.PortName, 8);
        p.PortID = SDMPortIdFromBytes(e.PortId);
        p.TargetID = e.TargetId;
        t->TargetMultipathControl = e.MultipathControl;
        t->TargetFlags &= ~SDM_TGT_READY;
        t->TargetAbilityFlags |= SDM_TGT_DISCOVERED | SDM_TGT_ASK_WWULN;
        t->TargetAgentFlags = SDM_AGENT_CONFIGURED;
        set_na_texts(t);
        if (!read_beacon_state(device, t))
            CoreLogMessage(ZV_MSG_WARNING, "RetrieveTargetPersistForDevice: Unable to read persist target beacon");
        CoreLogMessage(ZV_MSG_INFO, "Adding Target (%d) [Node=(" WWN_FMT ")]", static_cast<int>(p.TargetID),
                       WWN_ARGS(p.NodeWWN));
        CoreLogMessage(ZV_MSG_INFO, "Adding Target (%d) [Port=(" WWN_FMT ")]", static_cast<int>(p.TargetID),
                       WWN_ARGS(p.PortWWN));
        CoreLogMessage(ZV_MSG_INFO, "Adding Target (%d) [Port ID=(%02x-%02x-%02x)]", static_cast<int>(p.TargetID),
                       e.PortId[0], e.PortId[1], e.PortId[2]);
        if (AddTargetToTargetList(device, t) != 0) DeleteTarget(t);
    }
    return 0;
}

int RetrieveLunDataForTargets(SDMDevice* device) {
    if (device == nullptr) return -1;
    // Not zeroed first: a successful answer fills the whole megabyte, and a
    // failed one is not read.
    std::unique_ptr<FOLUNDATALIST> list(new (std::nothrow) FOLUNDATALIST);
    if (!list) return -1;
    const FOHBADATA hba = hba_data(device);
    const SD_UINT32 status = ISDFoGetLunData(device->DeviceHandle, device->DeviceNumber, &hba, list.get(), 0);
    if (status != SDERR_SUCCESS) {
        CoreLogMessage(ZV_MSG_WARNING, "RetrieveLunDataForTargets: Unable to get lun data (0x%x) (%s)", status,
                       SDGetErrorString(status));
        return -1;
    }
    int result = 0;
    const size_t n = std::min<size_t>(list->EntryCount, FO_MAX_ENTRIES);
    for (size_t i = 0; i < n; ++i) {
        const FOEXTERNALLUNDATAENTRY& e = list->Entries[i];
        if (is_zero(e.PortName, 8)) continue;
        SDMTarget* t = FindTargetByWWNNAndWWPNInTargetList(device, e.NodeName, e.PortName);
        if (t == nullptr) {
            CoreLogMessage(ZV_MSG_INFO, "Unable to find target (" WWN_FMT ") for lun data", WWN_ARGS(e.PortName));
            result = -1;
            continue;
        }
        for (SDMLun* l = t->LunList.firstLun; l != nullptr; l = l->next)
            if (l->LunID < FO_MAX_LUNS) l->LunData = e.Data[l->LunID];
        t->TargetAgentFlags |= SDM_AGENT_LUN_DATA;
    }
    return result;
}

int RetrieveTargetDataForTargets(SDMDevice* device) {
    if (device == nullptr) return -1;
    auto list = new_record<FOPORTSUMMARYLISTBUFFER>();
    if (!list) return -1;
    const FOHBADATA hba = hba_data(device);
    const SD_UINT32 status = ISDFoGetTargetData(device->DeviceHandle, device->DeviceNumber, &hba, list.get(), 0);
    if (status != SDERR_SUCCESS) {
        CoreLogMessage(ZV_MSG_WARNING, "RetrieveTargetDataForTargets: Unable to get target data (0x%x) (%s)", status,
                       SDGetErrorString(status));
        return -1;
    }
    int result = 0;
    const size_t n = std::min<size_t>(list->EntryCount, FO_MAX_ENTRIES);
    for (size_t i = 0; i < n; ++i) {
        const FOPORTSUMMARYENTRY& e = list->Entries[i];
        SDMTarget* t = FindTargetByWWNNAndWWPNOrPortIdInTargetList(device, e.NodeName, e.PortName, e.PortId);
        if (t == nullptr) {
            CoreLogMessage(ZV_MSG_INFO, "Unable to find target (" WWN_FMT ") for target data", WWN_ARGS(e.PortName));
            result = -1;
            continue;
        }
        t->TargetNewMultipathControl = 0;
        t->TargetMultipathControl = e.MultipathControl;
        t->DiscTargetProperty.TargetID = e.TargetId;
        DISCTARGETPROPERTY fresh{};
        // Refresh only from an answer about this very remote port.
        if (SDGetDiscTargetProperty(device->DeviceHandle, 0, e.TargetId, 0, &fresh) == SDERR_SUCCESS &&
            std::memcmp(fresh.PortWWN, t->DiscTargetProperty.PortWWN, 8) == 0) {
            t->DiscTargetProperty.BusNumber = fresh.BusNumber;
            t->DiscTargetProperty.TargetID = fresh.TargetID;
            t->DiscTargetProperty.PortType = fresh.PortType;
            t->DiscTargetProperty.PortState = fresh.PortState;
        }
        const bool named = (t->TargetMultipathControl & 0xC0) == 0;
        for (SDMLun* l = t->LunList.firstLun; l != nullptr; l = l->next) {
            if (named && (l->LunData & 0x80) != 0 &&
                GetSingleTargetsOSMapping(device, t, l->LunID, l->LunOSSDeviceName) == 0)
                continue;
            std::memset(l->LunOSSDeviceName, 0, sizeof l->LunOSSDeviceName);
        }
    }
    return result;
}

int CoreGetSecurePortInfo(SDMDevice* device, std::vector<SD_UINT8>& info) {
    if (device == nullptr) return -1;
    SD_UINT32 count = 0;
    for (int round = 0; round < kSecurePortRounds; ++round) {
        try {
            info.assign(SECUREPORTINFO_BYTES(count), 0);
        } catch (const std::bad_alloc&) {
            return -1;
        }
        std::memcpy(info.data(), &count, sizeof count);
        const SD_UINT32 status = SDGetSecurePortInfo(device->DeviceHandle, info);
        if (status == SDERR_SUCCESS) return 0;
        if (status != SDERR_BUFFER_TOO_SMALL) return -1;
        std::memcpy(&count, info.data(), sizeof count);
        if (count > kMaxSecurePorts) return -1;
    }
    return -1;
}

void CorePrintSecurePortInfo(std::span<const SD_UINT8> info) {
    const size_t n = secure_entries(info);
    for (size_t i = 0; i < n; ++i) {
        const SECUREPORTENTRY e = secure_entry(info, i);
        CoreLogMessage(ZV_MSG_DEBUG, "Secure port [%zu] Remote WWPN: " WWN_FMT, i, WWN_ARGS(e.RemoteWWPN));
        CoreLogMessage(ZV_MSG_DEBUG, "Secure port [%zu] Remote port id: %06x", i,
                       static_cast<unsigned>(SDMPortIdFromBytes(e.RemotePID)));
        CoreLogMessage(ZV_MSG_DEBUG, "Secure port [%zu] Remote type: %s", i, remote_type_name(e.RemoteType));
        CoreLogMessage(ZV_MSG_DEBUG, "Secure port [%zu] Remote state: %s", i, remote_state_name(e.RemoteState));
        CoreLogMessage(ZV_MSG_DEBUG, "Secure port [%zu] Auth state: %s", i, auth_state_name(e.AuthState));
        CoreLogMessage(ZV_MSG_DEBUG, "Secure port [%zu] Rekey mode: %s", i, rekey_mode_name(e.RekeyMode));
        CoreLogMessage(ZV_MSG_DEBUG, "Secure port [%zu] Rekey count: %lld", i, static_cast<long long>(e.RekeyCount));
        CoreLogMessage(ZV_MSG_DEBUG, "Secure port [%zu] Rekey configured value: %lld", i,
                       static_cast<long long>(e.RekeyConfigValue));
        CoreLogMessage(ZV_MSG_DEBUG, "Secure port [%zu] Rekey consumed value: %lld", i,
                       static_cast<long long>(e.RekeyConsumedValue));
    }
}

int RetrieveSecureInfoForTargets(SDMDevice* device) {
    if (device == nullptr) return -1;
    CHIPPROPERTY chip{};
    if (SDGetHbaDeviceChipProperty(device->DeviceHandle, &chip) == SDERR_SUCCESS &&
        CoreGetISPTypeFromDeviceId(chip.DeviceID) != ZV_CHIP_TYPE_GEN7_64G) {
        CoreLogMessage(ZV_MSG_DEBUG, "RetrieveSecureInfoForTargets: Unsupported chip ID 0x%x",
                       static_cast<unsigned>(chip.DeviceID));
        return -1;
    }
    std::vector<SD_UINT8> info;
    if (CoreGetSecurePortInfo(device, info) != 0) return -1;
    CorePrintSecurePortInfo(info);
    const size_t n = secure_entries(info);
    for (size_t i = 0; i < n; ++i) {
        const SECUREPORTENTRY e = secure_entry(info, i);
        const SD_UINT32 pid = SDMPortIdFromBytes(e.RemotePID);
        for (SDMTarget* t = device->TargetList.firstTarget; t != nullptr; t = t->next)
            if (std::memcmp(t->DiscTargetProperty.PortWWN, e.RemoteWWPN, 8) == 0 &&
                SDMSamePortId(t->DiscTargetProperty.PortID, pid))
                t->TargetSecurePortInfo = e;
    }
    return 0;
}

int RetrievePathInfoForTargets(SDMDevice* device) {
    if (device == nullptr) return -1;
    int result = 0;
    auto info = new_record<FOPATHSINFO>();
    if (!info) return -1;
    for (SDMTarget* t = device->TargetList.firstTarget; t != nullptr; t = t->next) {
        if ((t->TargetAgentFlags & SDM_AGENT_CONFIGURED) == 0 || (t->TargetFlags & SDM_TGT_READY) == 0) continue;
        FOGETPATHS request{};
        request.HbaInstance = device->DeviceNumber;
        if ((t->TargetMultipathControl & 0x10) == 0) {
            request.HbaAddr.AddressType = SD_ADDRESS_BY_NODE_WWN;
            std::memcpy(request.HbaAddr.AddressUsing, t->DiscTargetProperty.NodeWWN, 8);
        } else {
            request.HbaAddr.AddressType = SD_ADDRESS_BY_PORT_WWN;
            std::memcpy(request.HbaAddr.AddressUsing, t->DiscTargetProperty.PortWWN, 8);
        }
        *info = FOPATHSINFO{};
        const SD_UINT32 status = ISDFoGetPaths(device->DeviceHandle, &request, info.get(), 0);
        if (status != SDERR_SUCCESS) {
            CoreLogMessage(ZV_MSG_INFO,
                           "ISDFoGetPaths: Unable to query target (" WWN_FMT ") for path information (0x%x) (%s)",
                           WWN_ARGS(t->DiscTargetProperty.PortWWN), status, SDGetErrorString(status));
            result = -1;
            continue;
        }
        for (SDMLun* l = t->LunList.firstLun; l != nullptr; l = l->next) {
            if (l->LunID >= FO_MAX_LUNS) continue;
            const SD_UINT8 index = info->CurrentPathIndex[l->LunID];
            if (index >= 255) {
                l->LunIsCurrentPath = 1;
                continue;
            }
            const FOPATHENTRY& path = info->PathEntry[index];
            l->LunIsCurrentPath = (path.HbaInstance == info->HbaInstance &&
                                   std::memcmp(path.PortName, t->DiscTargetProperty.PortWWN, 8) == 0)
                                      ? 1
                                      : 0;
        }
    }
    return result;
}

// ---- Device creation -------------------------------------------------------------------

void CreateNewSDMDevice(int handle, SD_UINT32 instance) {
    SDMDevice* d = CreateNewDevice();
    if (d == nullptr) {
        // No record to own the handle: give it back at once.
        SDCloseDevice(handle);
        return;
    }
    d->DeviceAbilityFlags &= ~(SDM_DEV_FO_TARGET_LEVEL | SDM_DEV_FO_LUN_LEVEL);
    d->DeviceNumber = instance;
    d->DeviceHandle = handle;
    d->ImageSetUpdatingInProgress = 'U';

    SD_UINT32 cap = 0;
    const SD_UINT32 foStatus = ISDFoGetFoCapability(handle, &cap);
    foCapTextIdx = 0;
    if (foStatus != SDERR_SUCCESS) {
        CoreLogMessage(ZV_MSG_INFO, "ISDFoGetFoCapability failed (0x%x) (%s)", foStatus, SDGetErrorString(foStatus));
    } else if (cap == FO_CAP_NONE) {
        foCapTextIdx = 1;
    } else if (cap == FO_CAP_TARGET_LEVEL) {
        d->DeviceAbilityFlags |= SDM_DEV_FO_TARGET_LEVEL;
        foCapTextIdx = 2;
    } else if (cap == FO_CAP_LUN_LEVEL) {
        d->DeviceAbilityFlags |= SDM_DEV_FO_LUN_LEVEL;
        foCapTextIdx = 3;
    }
    CoreLogMessage(ZV_MSG_INFO, "HBA has %s failover capabilities...", foCapText[foCapTextIdx]);

    auto check = [](const char* call, SD_UINT32 status) {
        if (status != SDERR_SUCCESS)
            CoreLogMessage(ZV_MSG_INFO, "%s failed (0x%x) (%s)", call, status, SDGetErrorString(status));
    };
    check("SDGetHbaDeviceChipProperty", SDGetHbaDeviceChipProperty(handle, &d->DeviceChipProperty));
    check("SDGetHbaDeviceDriverProperty", SDGetHbaDeviceDriverProperty(handle, &d->DeviceDriverProperty));
    check("SDGetHbaDeviceNodeProperty", SDGetHbaDeviceNodeProperty(handle, &d->DeviceNodeProperty));
    check("SDGetHbaDevicePortProperty", SDGetHbaDevicePortProperty(handle, 0, &d->DevicePortProperty));

    const SD_UINT32 beacon = SDGetBeaconControl(handle, &d->BeaconControlFlags);
    char model[sizeof d->DeviceNodeProperty.Model + 1] = {};
    std::memcpy(model, d->DeviceNodeProperty.Model, sizeof d->DeviceNodeProperty.Model);
    if (beacon != SDERR_SUCCESS && std::strstr(model, "23") != nullptr) check("SDGetBeaconControl", beacon);

    check("SDGetStatistics", SDGetStatistics(handle, 0, &d->DeviceStatistics));
    d->DeviceFlashSequenceNumber = 0;
    d->DeviceNVRAMSequenceNumber = 0;
    // Read as every flash read is: a busy adapter is asked again.
    check("SDGetNVRam", CoreRetryWhileBusy(CORE_READ_RETRY_SECONDS,
                                           [&] { return SDGetNVRam(handle, 0, 2, d->DeviceInitialNVRAM); }));
    check("SDGetNVRam", CoreRetryWhileBusy(CORE_READ_RETRY_SECONDS,
                                           [&] { return SDGetNVRam(handle, 0, 1, d->DeviceCurrentNVRAM); }));

    if (CoreGetTargestLUNDiscoveryOption() != 0) {
        RetrieveTargetSummaryForDevice(d);
        RetrievePortSummaryForDevice(d);
        if (!binds_by_port_name(d)) RetrieveTargetPersistForDevice(d);
        RetrieveLunDataForTargets(d);
        RetrieveTargetDataForTargets(d);
        RetrieveSecureInfoForTargets(d);
        if ((d->DeviceAbilityFlags & SDM_DEV_FO_LUN_LEVEL) != 0) RetrievePathInfoForTargets(d);
    }

    if (AddDeviceToDeviceList(d) != 0) {
        CoreLogMessage(ZV_MSG_WARNING, "Duplicate device found: Instance = (%d)", static_cast<int>(instance));
        DeleteDevice(d);
        return;
    }
    const SD_UINT32 aen = SDEnableAen(handle);
    if (aen == SDERR_SUCCESS) {
        d->DeviceAbilityFlags |= SDM_DEV_AEN_ENABLED;
    } else {
        d->DeviceAbilityFlags &= ~SDM_DEV_AEN_ENABLED;
        CoreLogMessage(ZV_MSG_INFO, "SDEnableAen failed (0x%x) (%s)", aen, SDGetErrorString(aen));
    }
}

// ---- Instance loop -----------------------------------------------------------------------

int CoreInitializeDevices() {
    constexpr int kUnsupportedRetries = 6;
    int retries = 0;
    SD_UINT32 instance = 0;
    while (instance < SDM_MAX_INSTANCES) {
        int handle = 0;
        const SD_UINT32 status = SDOpenDevice(instance, &handle);
        if (status == SDERR_SUCCESS) {
            CoreLogMessage(ZV_MSG_DEBUG, "Found Korvex HBA - instance (%d)", static_cast<int>(instance));
            CreateNewSDMDevice(handle, instance);
        } else if (status == SDERR_UNSUPPORTED_VERSION) {
            if (retries < kUnsupportedRetries && !zvapi_waits_interrupted()) {
                ++retries;
                CoreLogMessage(ZV_MSG_DEBUG, "SDOpenDevice(%d, xx) failed (0x%x) (%s), Retrying after a sleep...",
                               static_cast<int>(instance), status, SDGetErrorString(status));
                OSSSleep(5);
                continue;
            }
            CoreLogMessage(ZV_MSG_INFO,
                           "Found *UNSUPPORTED* Korvex HBA - instance (%d) -- Please check the README file for "
                           "supported adapters and driver versions.",
                           static_cast<int>(instance));
        } else if (status == SDERR_DEVICE_NOT_FOUND) {
            break;
        } else if (!zvapi_setup_error().empty() || zvapi_waits_interrupted()) {
            // The library itself could not start (or the run is being
            // interrupted): no later instance can open either.
            CoreLogMessage(ZV_MSG_ERROR, "SDOpenDevice(%d, xx) failed (0x%x) (%s) skipping", static_cast<int>(instance),
                           status, SDGetErrorString(status));
            break;
        } else {
            CoreLogMessage(ZV_MSG_ERROR, "SDOpenDevice(%d, xx) failed (0x%x) (%s) skipping", static_cast<int>(instance),
                           status, SDGetErrorString(status));
        }
        // Every instance gets its own retries.
        retries = 0;
        ++instance;
    }
    return 0;
}
