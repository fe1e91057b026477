// Look-ups and maintenance of the front end's device list.
#include "frontend/device_list_lookups.h"

#include <cstdio>
#include <cstring>

#include "core/core_log.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/hba_device_list.h"
#include "frontend/output.h"
#include "frontend/str_util.h"
#include "mgmt/sdapi.h"

namespace {

#define WWN_FMT "%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X"
#define WWN_ARGS(w) (w)[0], (w)[1], (w)[2], (w)[3], (w)[4], (w)[5], (w)[6], (w)[7]

bool same8(const SD_UINT8* a, const SD_UINT8* b) { return std::memcmp(a, b, 8) == 0; }

std::string key_of(const SDMDevice* d) {
    char key[VORN_SERIAL_SIZE] = {};
    GetAdapterKey(d, key, sizeof key);
    return key;
}

void model_of(const SDMDevice* d, char (&model)[33]) {
    std::memcpy(model, d->DeviceNodeProperty.Model, 32);
    model[32] = '\0';
}

}  // namespace

SDMDevice* FindAdapterByInstanceNumber(uint32_t HBANumber) {
    for (SDMDevice* d = GetMyDeviceList()->firstDevice; d != nullptr; d = d->next)
        if (d->DeviceNumber == HBANumber) return d;
    return nullptr;
}

SDMDevice* FindZOZIRAAdapterByAdapterNumber(int32_t hbaNumber) {
    for (SDMDevice* d = GetMyDeviceList()->firstDevice; d != nullptr; d = d->next)
        if (static_cast<int32_t>(d->DeviceNumber) == hbaNumber) return d;
    return nullptr;
}

SDMDevice* FindSDMDeviceInSDMDeviceList(uint32_t deviceNumber) {
    for (SDMDevice* d = GetDeviceList()->firstDevice; d != nullptr; d = d->next)
        if (d->DeviceNumber == deviceNumber) return d;
    return nullptr;
}

SDMDevice* FindAdapterByWWPN(const SD_UINT8* HBAWWPN) {
    if (HBAWWPN == nullptr) return nullptr;
    for (SDMDevice* d = GetMyDeviceList()->firstDevice; d != nullptr; d = d->next)
        if (same8(d->DevicePortProperty.WWN, HBAWWPN)) return d;
    return nullptr;
}

SDMDevice* GetAdapterFromAdapterLocalList(const SDMDevice* pDeviceToFind) {
    if (pDeviceToFind == nullptr) return nullptr;
    for (SDMDevice* d = GetMyDeviceList()->firstDevice; d != nullptr; d = d->next)
        if (same8(d->DeviceNodeProperty.WWN, pDeviceToFind->DeviceNodeProperty.WWN) &&
            same8(d->DevicePortProperty.WWN, pDeviceToFind->DevicePortProperty.WWN) &&
            SDMSamePortId(d->DevicePortProperty.PortID, pDeviceToFind->DevicePortProperty.PortID))
            return d;
    return nullptr;
}

SDMDevice* FindAdapterPortMultiPortHBA(const SDMDevice* pDevice) {
    if (pDevice == nullptr) return nullptr;
    char model[33];
    model_of(pDevice, model);
    VORNLogMessage(VORN_MSG_DEBUG, "FindAdapterPortMultiPortHBA: HBA %s " WWN_FMT, model,
                   WWN_ARGS(pDevice->DevicePortProperty.WWN));
    const std::string mine = key_of(pDevice);
    for (SDMDevice* d = GetDeviceList()->firstDevice; d != nullptr; d = d->next) {
        // A port with the same node name is passed over even when its port name differs.
        if (key_of(d) != mine || same8(d->DeviceNodeProperty.WWN, pDevice->DeviceNodeProperty.WWN) ||
            same8(d->DevicePortProperty.WWN, pDevice->DevicePortProperty.WWN) || d->DeviceNumber == pDevice->DeviceNumber)
            continue;
        model_of(d, model);
        VORNLogMessage(VORN_MSG_DEBUG, "FindAdapterPortMultiPortHBA: HBA %s " WWN_FMT, model,
                       WWN_ARGS(d->DevicePortProperty.WWN));
        return d;
    }
    return nullptr;
}

SDMDevice* FindVMwareVirtualPort(const SDMDevice* pDevice, const char* pPhysAdapterSN, uint32_t vp_id) {
    if (pDevice == nullptr || pPhysAdapterSN == nullptr || isVirtualPortHBA(pDevice) != 0) return nullptr;
    const SD_UINT32 id = pDevice->DevicePortProperty.PortID & 0xFFFFFF;
    if (id == 0) return nullptr;
    VORNLogMessage(VORN_MSG_DEBUG, "FindVMwareVirtualPort: HBA %u Interface=%u PortId %02X-%02X-%02X",
                   pDevice->DeviceNumber, pDevice->DeviceNodeProperty.InterfaceType, (id >> 16) & 0xFF, (id >> 8) & 0xFF,
                   id & 0xFF);
    for (SDMDevice* d = GetDeviceList()->firstDevice; d != nullptr; d = d->next) {
        if (isVirtualPortHBA(d) == 0) continue;
        char key[VORN_SERIAL_SIZE] = {};
        GetAdapterKey(d, key, sizeof key);
        const SD_UINT32 other = d->DevicePortProperty.PortID & 0xFFFFFF;
        if (striscmp(key, pPhysAdapterSN) != 0 || ((other >> 16) & 0xFF) != ((id >> 16) & 0xFF) ||
            d->DeviceNumber == pDevice->DeviceNumber || d->DeviceNodeProperty.NumberOfPorts != vp_id)
            continue;
        VORNLogMessage(VORN_MSG_DEBUG, "FindVMwareVirtualPort: *HBA %u Interface=%u PortId %02X-%02X-%02X",
                       d->DeviceNumber, d->DeviceNodeProperty.InterfaceType, (other >> 16) & 0xFF, (other >> 8) & 0xFF,
                       other & 0xFF);
        return d;
    }
    return nullptr;
}

VPORT_INFO* FindVPortByVPortID(uint32_t iAdapterNumber, uint32_t vportid) {
    const SDMDevice* port = FindSDMDeviceInSDMDeviceList(iAdapterNumber);
    if (port == nullptr) return nullptr;
    auto* info = static_cast<VPORT_INFO*>(CoreZMalloc(sizeof(VPORT_INFO)));
    if (info == nullptr) {
        VORNLogMessage(VORN_MSG_DEBUG, "FindVPortByVPortID: Unable allocated memory!");
        return nullptr;
    }
    for (SD_UINT32 index = 0; index < 64; ++index) {
        std::memset(info, 0, sizeof *info);
        if (SDVportGetinfo(port->DeviceHandle, index, info) == SDERR_SUCCESS && info->id == vportid) {
            VORNLogMessage(VORN_MSG_DEBUG, "FindVPortByVPortID: Found matching vport %u", vportid);
            return info;
        }
    }
    CoreFree(info);
    VORNLogMessage(VORN_MSG_DEBUG, "FindVPortByVPortID: return no matching vport id %u", vportid);
    return nullptr;
}

SDMDevice* FindLocationInList(const SDMDeviceList* list, const SDMDevice* device) {
    return FindLocationInListFor(list, device, DetectLinuxVmWareDriver() != 0);
}

SDMDevice* FindLocationInListFor(const SDMDeviceList* list, const SDMDevice* device, bool vmware) {
    if (list == nullptr || device == nullptr) return nullptr;
    // In the order of the texts "%06x" of the port ids and "%02x..." of the
    // WWPNs, which sort as the numbers and the bytes do.
    for (SDMDevice* d = list->firstDevice; d != nullptr; d = d->next) {
        int cmp = 0;
        if (vmware && (isVirtualPortHBA(d) != 0 || isVirtualPortHBA(device) != 0)) {
            const SD_UINT32 a = d->DevicePortProperty.PortID & 0xFFFFFF, b = device->DevicePortProperty.PortID & 0xFFFFFF;
            cmp = (a > b) - (a < b);
        } else {
            cmp = std::memcmp(d->DevicePortProperty.WWN, device->DevicePortProperty.WWN, 8);
        }
        if (cmp > 0) return d;
    }
    return nullptr;
}

int RemoveAllDevicesFromMyDeviceList() {
    // A record of the list is a copy of a core port and shares its targets:
    // they are released once, through the core port that owns them, and no
    // header is left pointing at them.
    for (SDMDevice* d = GetMyDeviceList()->firstDevice; d != nullptr; d = d->next) {
        for (SDMDevice* c = GetDeviceList()->firstDevice; c != nullptr; c = c->next)
            if (c->DeviceNumber == d->DeviceNumber && c->DeviceHandle == d->DeviceHandle) RemoveAllTargetsFromTargetList(c);
        InitTargetList(d);
    }
    InitMyDeviceList();
    return 0;
}

int DeleteSDMDeviceFromSDMDeviceList(const SDMDevice* pDeviceToDelete) {
    if (pDeviceToDelete == nullptr) return -1;
    SDMDeviceList* list = GetMyDeviceList();
    for (SDMDevice* d = list->firstDevice; d != nullptr; d = d->next) {
        if (!same8(d->DeviceNodeProperty.WWN, pDeviceToDelete->DeviceNodeProperty.WWN) ||
            !same8(d->DevicePortProperty.WWN, pDeviceToDelete->DevicePortProperty.WWN))
            continue;
        VORNLogMessage(VORN_MSG_DEBUG,
                       "DeleteSDMDeviceFromSDMDeviceList: Found %02x-%02x-%02x-%02x-%02x-%02x-%02x-%02x instance %u",
                       WWN_ARGS(d->DevicePortProperty.WWN), d->DeviceNumber);
        if (d->prev != nullptr) d->prev->next = d->next; else list->firstDevice = d->next;
        if (d->next != nullptr) d->next->prev = d->prev; else list->lastDevice = d->prev;
        --list->count;
        // The chain that clean-up frees must not keep the record either.
        VORNForgetDeviceListRecord(d);
        d->next = d->prev = nullptr;
        // Its targets belong to the core port it was copied from.
        InitTargetList(d);
        return DeleteDevice(d);
    }
    return -1;
}

void CoreInitializeTargets() {
    for (SDMDevice* d = GetMyDeviceList()->firstDevice; d != nullptr; d = d->next)
        for (SDMTarget* t = d->TargetList.firstTarget; t != nullptr; t = t->next)
            for (SDMLun* l = t->LunList.firstLun; l != nullptr; l = l->next) l->LunNewData = l->LunData;
}

int ResyncAllAdaptersFlashVersion() { return 0; }
