// Persistent failover configuration and target replacement.
#include "core/failover_config.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "core/core_log.h"
#include "core/device_reinit.h"
#include "core/host_info.h"
#include "mgmt/fo_api.h"
#include "mgmt/sdapi.h"

namespace {

#define WWN_FMT "%02x-%02x-%02x-%02x-%02x-%02x-%02x-%02x"
#define WWN_ARGS(w) (w)[0], (w)[1], (w)[2], (w)[3], (w)[4], (w)[5], (w)[6], (w)[7]

// Control byte of an unbound (unconfigured) target.
constexpr SD_UINT8 kUnbound = 0x40;
// The persistent store holds nothing yet.
constexpr SD_UINT32 kNoStore1 = 0x20000076;
constexpr SD_UINT32 kNoStore2 = 0x20000078;

template <class T>
std::unique_ptr<T> new_record() {
    auto p = std::unique_ptr<T>(new (std::nothrow) T);
    if (p) std::memset(static_cast<void*>(p.get()), 0, sizeof(T));
    return p;
}

FOHBADATA hba_data(const SDMDevice* device) {
    FOHBADATA h{};
    std::memcpy(h.NodeWWN, device->DeviceNodeProperty.WWN, 8);
    std::memcpy(h.PortWWN, device->DevicePortProperty.WWN, 8);
    std::memcpy(h.Model, device->DeviceNodeProperty.Model, sizeof h.Model);
    return h;
}

bool unbound(const SDMTarget* t) { return (t->TargetNewMultipathControl & kUnbound) != 0; }
bool configured(const SDMTarget* t) { return (t->TargetAgentFlags & SDM_AGENT_CONFIGURED) != 0; }

// The list's entry of the target, or a new one at its end (null when full).
FOEXTERNALLUNDATAENTRY* lun_entry(FOLUNDATALIST& list, const SDMTarget* t, bool* added) {
    const DISCTARGETPROPERTY& p = t->DiscTargetProperty;
    const size_t n = std::min<size_t>(list.EntryCount, FO_MAX_ENTRIES);
    for (size_t i = 0; i < n; ++i)
        if (std::memcmp(list.Entries[i].NodeName, p.NodeWWN, 8) == 0 &&
            std::memcmp(list.Entries[i].PortName, p.PortWWN, 8) == 0) {
            if (added != nullptr) *added = false;
            return &list.Entries[i];
        }
    if (n >= FO_MAX_ENTRIES) return nullptr;
    FOEXTERNALLUNDATAENTRY& e = list.Entries[n];
    std::memset(&e, 0, sizeof e);
    std::memcpy(e.NodeName, p.NodeWWN, 8);
    std::memcpy(e.PortName, p.PortWWN, 8);
    list.EntryCount = static_cast<SD_UINT16>(n + 1);
    if (added != nullptr) *added = true;
    return &e;
}

FOPORTSUMMARYENTRY* target_entry(FOPORTSUMMARYLISTBUFFER& list, const SDMTarget* t) {
    const DISCTARGETPROPERTY& p = t->DiscTargetProperty;
    const size_t n = std::min<size_t>(list.EntryCount, FO_MAX_ENTRIES);
    for (size_t i = 0; i < n; ++i)
        if (std::memcmp(list.Entries[i].NodeName, p.NodeWWN, 8) == 0 &&
            std::memcmp(list.Entries[i].PortName, p.PortWWN, 8) == 0)
            return &list.Entries[i];
    if (n >= FO_MAX_ENTRIES) return nullptr;
    FOPORTSUMMARYENTRY& e = list.Entries[n];
    std::memset(&e, 0, sizeof e);
    std::memcpy(e.NodeName, p.NodeWWN, 8);
    std::memcpy(e.PortName, p.PortWWN, 8);
    list.EntryCount = static_cast<SD_UINT16>(n + 1);
    return &e;
}

void fill_target_entry(FOPORTSUMMARYENTRY& e, const SDMTarget* t, SD_UINT8 control) {
    const DISCTARGETPROPERTY& p = t->DiscTargetProperty;
    e.TargetId = p.TargetID;
    e.LoopId = t->TargetLoopID;
    e.BaseLunNumber = t->TargetBaseLunNumber;
    e.DeviceFlags = t->TargetFlags;
    e.MultipathControl = control;
    e.PortId[0] = static_cast<SD_UINT8>(p.PortID >> 16);
    e.PortId[1] = static_cast<SD_UINT8>(p.PortID >> 8);
    e.PortId[2] = static_cast<SD_UINT8>(p.PortID);
}

void put_lun_bytes(FOEXTERNALLUNDATAENTRY& e, const SDMTarget* t, bool zero) {
    e.TargetId = t->DiscTargetProperty.TargetID;
    for (const SDMLun* l = t->LunList.firstLun; l != nullptr; l = l->next)
        if (l->LunID < FO_MAX_LUNS) e.Data[l->LunID] = zero ? 0 : l->LunNewData;
}

DEVICEINFOENTRY info_entry(const SDMTarget* t) {
    DEVICEINFOENTRY e{};
    const DISCTARGETPROPERTY& p = t->DiscTargetProperty;
    std::memcpy(e.NodeWWN, p.NodeWWN, 8);
    std::memcpy(e.PortWWN, p.PortWWN, 8);
    e.PortID[0] = static_cast<SD_UINT8>(p.PortID >> 16);
    e.PortID[1] = static_cast<SD_UINT8>(p.PortID >> 8);
    e.PortID[2] = static_cast<SD_UINT8>(p.PortID);
    e.ControlFlags = t->TargetMultipathControl;
    e.TargetAddress.BusNumber = p.BusNumber;
    e.TargetAddress.TargetID = p.TargetID;
    e.DeviceFlags = t->TargetFlags;
    e.LoopID = t->TargetLoopID;
    e.BaseLunNumber = t->TargetBaseLunNumber;
    return e;
}

}  // namespace

int SaveLinuxDeviceConfiguration(SDMDevice* device) {
    if (device == nullptr) return -1;
    auto luns = new_record<FOLUNDATALIST>();
    auto targets = new_record<FOPORTSUMMARYLISTBUFFER>();
    if (!luns || !targets) return -1;
    const FOHBADATA hba = hba_data(device);
    SD_UINT32 st = ISDFoGetLunData(device->DeviceHandle, device->DeviceNumber, &hba, luns.get(), 0);
    if (st != SDERR_SUCCESS) {
        CoreLogMessage(ZV_MSG_WARNING, "SaveLinuxDeviceConfiguration: Unable to get lun data (0x%x) (%s)", st,
                       SDGetErrorString(st));
        return -1;
    }
    st = ISDFoGetTargetData(device->DeviceHandle, device->DeviceNumber, &hba, targets.get(), 0);
    if (st != SDERR_SUCCESS) {
        CoreLogMessage(ZV_MSG_WARNING, "SaveLinuxDeviceConfiguration: Unable to get target data (0x%x) (%s)", st,
                       SDGetErrorString(st));
        return -1;
    }
    luns->EntryCount = static_cast<SD_UINT16>(std::min<size_t>(luns->EntryCount, FO_MAX_ENTRIES));
    targets->EntryCount = static_cast<SD_UINT16>(std::min<size_t>(targets->EntryCount, FO_MAX_ENTRIES));
    for (const SDMTarget* t = device->TargetList.firstTarget; t != nullptr; t = t->next) {
        const SD_UINT8* w = t->DiscTargetProperty.PortWWN;
        if (!configured(t) || unbound(t)) {
            CoreLogMessage(ZV_MSG_DEBUG,
                           "Not adding unconfigured/unbound target (" WWN_FMT ") to FOLunDataList [mp=%02x, nmp=%02x]",
                           WWN_ARGS(w), t->TargetMultipathControl, t->TargetNewMultipathControl);
            CoreLogMessage(ZV_MSG_DEBUG,
                           "Not adding unconfigured/unbound target (" WWN_FMT
                           ") to FOPortSummaryList [mp=%02x, nmp=%02x]",
                           WWN_ARGS(w), t->TargetMultipathControl, t->TargetNewMultipathControl);
            continue;
        }
        if (FOEXTERNALLUNDATAENTRY* e = lun_entry(*luns, t, nullptr)) {
            CoreLogMessage(ZV_MSG_DEBUG, "Adding newly configured target (" WWN_FMT ") to FOLunDataList", WWN_ARGS(w));
            put_lun_bytes(*e, t, false);
        }
        if (FOPORTSUMMARYENTRY* e = target_entry(*targets, t)) {
            CoreLogMessage(ZV_MSG_DEBUG, "Adding newly configured target (" WWN_FMT ") with target 0x%x  to FOPortSummaryList",
                           WWN_ARGS(w), t->DiscTargetProperty.TargetID);
            fill_target_entry(*e, t, t->TargetNewMultipathControl);
        }
    }
    if (ISDFoSetLunData(device->DeviceHandle, device->DeviceNumber, &hba, luns.get(), 0) != SDERR_SUCCESS) return -1;
    if (ISDFoSetTargetData(device->DeviceHandle, device->DeviceNumber, &hba, targets.get(), 0) != SDERR_SUCCESS)
        return -1;
    return 0;
}

int SaveDeviceConfiguration(SDMDevice* device) { return SaveLinuxDeviceConfiguration(device); }

int UpdateDeviceConfiguration(SDMDevice* device, SD_UINT32 flags) {
    if (device == nullptr) return -1;
    auto luns = new_record<FOLUNDATALIST>();
    auto targets = new_record<FOPORTSUMMARYLISTBUFFER>();
    if (!luns || !targets) return -1;
    const FOHBADATA hba = hba_data(device);
    const SD_UINT32 st = ISDFoGetLunData(device->DeviceHandle, device->DeviceNumber, &hba, luns.get(), 1);
    if (st == kNoStore1 || st == kNoStore2) {
        std::memset(static_cast<void*>(luns.get()), 0, sizeof *luns);
    } else if (st != SDERR_SUCCESS) {
        CoreLogMessage(ZV_MSG_WARNING, "UpdateDeviceConfiguration: Unable to get lun data (0x%x) (%s)", st,
                       SDGetErrorString(st));
        return -1;
    }
    luns->EntryCount = static_cast<SD_UINT16>(std::min<size_t>(luns->EntryCount, FO_MAX_ENTRIES));

    HostInformation host{};
    GetHostInformation(&host);
    for (const SDMTarget* t = device->TargetList.firstTarget; t != nullptr; t = t->next) {
        bool added = false;
        FOEXTERNALLUNDATAENTRY* e = lun_entry(*luns, t, &added);
        if (e == nullptr) continue;
        put_lun_bytes(*e, t, unbound(t));
        // A newly configured array of that vendor starts with every LUN byte
        // clear when the host runs the vendor's own failover.
        if (added && std::strncmp(t->TargetVendorID, "DGC", 3) == 0 && host.bOEM_AlternateFailoverProcessDetected != 0)
            std::memset(e->Data, 0, sizeof e->Data);
        if (FOPORTSUMMARYENTRY* te = target_entry(*targets, t))
            fill_target_entry(*te, t, unbound(t) ? kUnbound : t->TargetNewMultipathControl);
    }
    if (ISDFoSetLunData(device->DeviceHandle, device->DeviceNumber, &hba, luns.get(), flags) != SDERR_SUCCESS)
        return -1;
    if (ISDFoSetTargetData(device->DeviceHandle, device->DeviceNumber, &hba, targets.get(), flags) != SDERR_SUCCESS)
        return -1;
    return 0;
}

int ApplyDeviceConfiguration() {
    int result = 0;
    for (SDMDevice* d = GetDeviceList()->firstDevice; d != nullptr && result == 0; d = d->next) {
        result = SaveDeviceConfiguration(d);
        if (result == 0) result = UpdateDeviceConfiguration(d, 0);
    }
    CoreReinitializeDevices(1);
    return result;
}

int CoreTargetDeviceReplacement(SDMDevice* device, const SD_UINT8* oldNodeWwn, const SD_UINT8* oldPortWwn,
                                const SD_UINT8* oldPortId, const SD_UINT8* newNodeWwn, const SD_UINT8* newPortWwn,
                                const SD_UINT8* newPortId) {
    if (device == nullptr || oldNodeWwn == nullptr || oldPortWwn == nullptr || oldPortId == nullptr ||
        newNodeWwn == nullptr || newPortWwn == nullptr || newPortId == nullptr)
        return -1;
    const SDMTarget* oldTarget = FindTargetByWWNNAndWWPNOrPortIdInTargetList(device, oldNodeWwn, oldPortWwn, oldPortId);
    if (oldTarget == nullptr) {
        CoreLogMessage(ZV_MSG_WARNING, "CoreTargetDeviceReplacement: Unable to find old device");
        return -1;
    }
    const SDMTarget* newTarget = FindTargetByWWNNAndWWPNOrPortIdInTargetList(device, newNodeWwn, newPortWwn, newPortId);
    if (newTarget == nullptr) {
        CoreLogMessage(ZV_MSG_WARNING, "CoreTargetDeviceReplacement: Unable to find new device");
        return -1;
    }
    const DEVICEINFOENTRY before = info_entry(oldTarget);
    const DEVICEINFOENTRY after = info_entry(newTarget);
    const SD_UINT32 st = SDSwapTargetDevice(device->DeviceHandle, &before, &after);
    if (st != SDERR_SUCCESS) {
        CoreLogMessage(ZV_MSG_ERROR, "CoreTargetDeviceReplacement: Failed to perform device replacement (0x%x) (%s)", st,
                       SDGetErrorString(st));
        return -1;
    }
    CoreReinitializeDevices(1);
    return 0;
}
