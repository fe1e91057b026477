// The core device model's lists and the process-wide values beside them.
#include "core/sdm_device.h"

#include <cstdio>
#include <cstring>

#include "core/core_log.h"
#include "core/device_discovery.h"
#include "mgmt/sdapi.h"

namespace {
SDMDeviceList g_DeviceList{};
SD_UINT8 g_AuxToolId = 0;
char g_ToolVersion[32] = {};
SD_UINT8 g_TargesLUNsDiscovery = 1;

bool same8(const SD_UINT8* a, const SD_UINT8* b) { return std::memcmp(a, b, 8) == 0; }

// Node WWN, port WWN and the 24 bits of the port id identify a remote or local port.
bool same_target(const SDMTarget* a, const SDMTarget* b) {
    return same8(a->DiscTargetProperty.NodeWWN, b->DiscTargetProperty.NodeWWN) &&
           same8(a->DiscTargetProperty.PortWWN, b->DiscTargetProperty.PortWWN) &&
           SDMSamePortId(a->DiscTargetProperty.PortID, b->DiscTargetProperty.PortID);
}

bool same_device(const SDMDevice* a, const SDMDevice* b) {
    return same8(a->DeviceNodeProperty.WWN, b->DeviceNodeProperty.WWN) &&
           same8(a->DevicePortProperty.WWN, b->DevicePortProperty.WWN) &&
           SDMSamePortId(a->DevicePortProperty.PortID, b->DevicePortProperty.PortID);
}
}  // namespace

// ---- Tool identity and switches ---------------------------------------------------

SD_UINT8 CoreGetToolId() { return g_AuxToolId; }
void CoreSetToolId(SD_UINT32 id) { g_AuxToolId = static_cast<SD_UINT8>(id & 0xFF); }

void CoreSetToolVersion(SD_UINT8 a, SD_UINT8 b, SD_UINT8 c, SD_UINT8 d) {
    std::memset(g_ToolVersion, 0, sizeof g_ToolVersion);
    std::snprintf(g_ToolVersion, sizeof g_ToolVersion, "%02hhu:%02hhu:%02hhu:%02hhu", a, b, c, d);
}
const char* CoreGetToolVersion() { return g_ToolVersion; }

SD_UINT8 CoreGetTargestLUNDiscoveryOption() { return g_TargesLUNsDiscovery; }
void CoreSetTargestLUNDiscoveryOption(SD_UINT32 value) {
    if (value == 0 || value == 1) g_TargesLUNsDiscovery = static_cast<SD_UINT8>(value);
}

// ---- Device list ------------------------------------------------------------------

// The three lists share one shape (count, first, last, elements linked by
// next/prev); appending is the same for all of them.
template <class Elem, class Count>
void append_linked(Count& count, Elem*& first, Elem*& last, Elem* item) {
    item->next = nullptr;
    item->prev = last;
    if (last != nullptr)
        last->next = item;
    else
        first = item;
    last = item;
    ++count;
}

SDMDeviceList* GetDeviceList() { return &g_DeviceList; }

void InitDeviceList() {
    g_DeviceList.count = 0;
    g_DeviceList.firstDevice = nullptr;
    g_DeviceList.lastDevice = nullptr;
}

SDMDevice* CreateNewDevice() { return static_cast<SDMDevice*>(CoreZMalloc(sizeof(SDMDevice))); }

SDMDevice* FindDeviceInDeviceList(const SDMDevice* device) {
    if (device == nullptr) return nullptr;
    for (SDMDevice* d = g_DeviceList.firstDevice; d != nullptr; d = d->next)
        if (same_device(d, device)) return d;
    return nullptr;
}

int AddDeviceToDeviceList(SDMDevice* device) {
    if (device == nullptr || FindDeviceInDeviceList(device) != nullptr) return -1;
    append_linked(g_DeviceList.count, g_DeviceList.firstDevice, g_DeviceList.lastDevice, device);
    return 0;
}

SDMDevice* FindZOZIRAAdapterByWWPN(const SD_UINT8* wwpn) {
    if (wwpn == nullptr) return nullptr;
    for (SDMDevice* d = g_DeviceList.firstDevice; d != nullptr; d = d->next) {
        const SD_UINT8* w = d->DevicePortProperty.WWN;
        if (!same8(w, wwpn)) continue;
        CoreLogMessage(ZV_MSG_DEBUG, "Found HBA WWPN 0x%02x%02x%02x%02x%02x%02x%02x%02x\n", w[0], w[1], w[2],
                       w[3], w[4], w[5], w[6], w[7]);
        CoreLogMessage(ZV_MSG_DEBUG, "Matching HBA WWPN 0x%02x%02x%02x%02x%02x%02x%02x%02x\n", wwpn[0], wwpn[1],
                       wwpn[2], wwpn[3], wwpn[4], wwpn[5], wwpn[6], wwpn[7]);
        return d;
    }
    return nullptr;
}

int DeleteDevice(SDMDevice* device) {
    if (device == nullptr) return -1;
    RemoveAllTargetsFromTargetList(device);
    if ((device->DeviceAbilityFlags & SDM_DEV_AEN_ENABLED) != 0) {
        const SD_UINT32 status = SDDisableAen(device->DeviceHandle);
        if (status != SDERR_SUCCESS)
            CoreLogMessage(ZV_MSG_ERROR, "SDDisableAen: Failed on device[%d]: (0x%x) (%s)",
                           static_cast<int>(device->DeviceNumber), status, SDGetErrorString(status));
    }
    const SD_UINT32 status = SDCloseDevice(device->DeviceHandle);
    if (status != SDERR_SUCCESS)
        CoreLogMessage(ZV_MSG_ERROR, "SDCloseDevice: Unable to close device[%d]: (0x%x) (%s)",
                       static_cast<int>(device->DeviceNumber), status, SDGetErrorString(status));
    CoreFree(device);
    return 0;
}

int RemoveAllDevicesFromDeviceList() {
    while (g_DeviceList.firstDevice != nullptr) {
        SDMDevice* d = g_DeviceList.firstDevice;
        g_DeviceList.firstDevice = d->next;
        DeleteDevice(d);
    }
    InitDeviceList();
    return 0;
}

// ---- Target list ------------------------------------------------------------------

void InitTargetList(SDMDevice* device) {
    if (device == nullptr) return;
    device->TargetList.count = 0;
    device->TargetList.firstTarget = nullptr;
    device->TargetList.lastTarget = nullptr;
}

SDMTarget* CreateNewTarget() {
    auto* t = static_cast<SDMTarget*>(CoreZMalloc(sizeof(SDMTarget)));
    if (t != nullptr) t->TargetType = SDM_TARGET_TYPE_UNKNOWN;
    return t;
}

SDMTarget* FindTargetInTargetList(SDMDevice* device, const SDMTarget* target) {
    if (device == nullptr || target == nullptr) return nullptr;
    for (SDMTarget* t = device->TargetList.firstTarget; t != nullptr; t = t->next)
        if (same_target(t, target)) return t;
    return nullptr;
}

int AddTargetToTargetList(SDMDevice* device, SDMTarget* target) {
    if (device == nullptr || target == nullptr || FindTargetInTargetList(device, target) != nullptr) return -1;
    SDMTargetList& list = device->TargetList;
    append_linked(list.count, list.firstTarget, list.lastTarget, target);
    return 0;
}

int DeleteTarget(SDMTarget* target) {
    if (target == nullptr) return -1;
    RemoveAllLunsFromLunList(target);
    CoreFree(target);
    return 0;
}

int RemoveAllTargetsFromTargetList(SDMDevice* device) {
    if (device == nullptr) return -1;
    SDMTarget* t = device->TargetList.firstTarget;
    while (t != nullptr) {
        SDMTarget* next = t->next;
        DeleteTarget(t);
        t = next;
    }
    InitTargetList(device);
    return 0;
}

SDMTarget* FindTargetByWWNNInTargetList(SDMDevice* device, const SD_UINT8* nodeWWN) {
    if (device == nullptr || nodeWWN == nullptr) return nullptr;
    for (SDMTarget* t = device->TargetList.firstTarget; t != nullptr; t = t->next)
        if (same8(t->DiscTargetProperty.NodeWWN, nodeWWN)) return t;
    return nullptr;
}

SDMTarget* FindTargetByWWNNAndWWPNInTargetList(SDMDevice* device, const SD_UINT8* nodeWWN,
                                               const SD_UINT8* portWWN) {
    if (device == nullptr || nodeWWN == nullptr || portWWN == nullptr) return nullptr;
    for (SDMTarget* t = device->TargetList.firstTarget; t != nullptr; t = t->next)
        if (same8(t->DiscTargetProperty.NodeWWN, nodeWWN) && same8(t->DiscTargetProperty.PortWWN, portWWN))
            return t;
    return nullptr;
}

SDMTarget* FindTargetByWWNNAndWWPNOrPortIdInTargetList(SDMDevice* device, const SD_UINT8* nodeWWN,
                                                       const SD_UINT8* portWWN, const SD_UINT8* portId) {
    if (device == nullptr) return nullptr;
    SD_UINT32 mode = 0;
    // A port whose binding mode cannot be read is treated as binding by name.
    const bool byName = isBindByPortName(device, &mode) != SDERR_SUCCESS || mode != 0;
    if (byName) return FindTargetByWWNNAndWWPNInTargetList(device, nodeWWN, portWWN);
    if (portId == nullptr) return nullptr;
    const SD_UINT32 id = SDMPortIdFromBytes(portId);
    for (SDMTarget* t = device->TargetList.firstTarget; t != nullptr; t = t->next)
        if (SDMSamePortId(t->DiscTargetProperty.PortID, id)) return t;
    return nullptr;
}

SDMTarget* FindTargetInTargetListPrim(const SD_UINT8* nodeWWN, const SD_UINT8* portWWN) {
    if (portWWN == nullptr) return nullptr;
    for (SDMDevice* d = g_DeviceList.firstDevice; d != nullptr; d = d->next)
        for (SDMTarget* t = d->TargetList.firstTarget; t != nullptr; t = t->next) {
            if (nodeWWN != nullptr && !same8(t->DiscTargetProperty.NodeWWN, nodeWWN)) continue;
            if (same8(t->DiscTargetProperty.PortWWN, portWWN)) return t;
        }
    return nullptr;
}

// ---- LUN list ------------------------------------------------------------------------

void InitLunList(SDMTarget* target) {
    if (target == nullptr) return;
    target->LunList.count = 0;
    target->LunList.firstLun = nullptr;
    target->LunList.lastLun = nullptr;
}

SDMLun* CreateNewLun() { return static_cast<SDMLun*>(CoreZMalloc(sizeof(SDMLun))); }

int DeleteLun(SDMLun* lun) {
    if (lun == nullptr) return -1;
    CoreFree(lun);
    return 0;
}

SDMLun* FindLunInLunList(SDMTarget* target, const SDMLun* lun) {
    if (target == nullptr || lun == nullptr) return nullptr;
    for (SDMLun* l = target->LunList.firstLun; l != nullptr; l = l->next)
        if (l->LunID == lun->LunID) return l;
    return nullptr;
}

int AddLunToLunList(SDMTarget* target, SDMLun* lun) {
    if (target == nullptr || lun == nullptr || FindLunInLunList(target, lun) != nullptr) return -1;
    SDMLunList& list = target->LunList;
    append_linked(list.count, list.firstLun, list.lastLun, lun);
    return 0;
}

int RemoveAllLunsFromLunList(SDMTarget* target) {
    if (target == nullptr) return -1;
    SDMLun* l = target->LunList.firstLun;
    while (l != nullptr) {
        SDMLun* next = l->next;
        DeleteLun(l);
        l = next;
    }
    InitLunList(target);
    return 0;
}

// ---- Copies ----------------------------------------------------------------------------

SDMDevice* CloneCopySDMDeviceList(const SDMDeviceList* list) {
    if (list == nullptr || list->firstDevice == nullptr) return nullptr;
    SDMDevice* first = nullptr;
    SDMDevice* last = nullptr;
    for (const SDMDevice* d = list->firstDevice; d != nullptr; d = d->next) {
        auto* copy = static_cast<SDMDevice*>(CoreZMalloc(sizeof(SDMDevice)));
        if (copy == nullptr) {
            // A partial copy is of no use to anyone: give it back.
            CloneFreeSDMDeviceList(first);
            return nullptr;
        }
        std::memcpy(copy, d, sizeof(SDMDevice));
        copy->next = nullptr;
        copy->prev = last;
        if (last != nullptr)
            last->next = copy;
        else
            first = copy;
        last = copy;
    }
    return first;
}

int CloneFreeSDMDeviceList(SDMDevice* first) {
    while (first != nullptr) {
        SDMDevice* next = first->next;
        CoreFree(first);
        first = next;
    }
    return 0;
}

int CheckAndAddNewTargets(SDMDevice* device) {
    (void)device;
    return 0;
}
