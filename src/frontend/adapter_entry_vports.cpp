// Virtual-port bookkeeping and single-entry updates of the adapter-entry list.
#include "frontend/adapter_entry_vports.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/core_log.h"
#include "frontend/device_list_lookups.h"
#include "frontend/hba_device_list.h"
#include "frontend/output.h"
#include "frontend/wwn_util.h"

namespace {

#define WWN_FMT "%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X"
#define WWN_ARGS(w) (w)[0], (w)[1], (w)[2], (w)[3], (w)[4], (w)[5], (w)[6], (w)[7]

bool same8(const SD_UINT8* a, const SD_UINT8* b) { return std::memcmp(a, b, 8) == 0; }

// Entries of one adapter: equal adapter keys (GetAdapterKey).
bool has_key(const AdapterEntry* e, const char* key) {
    char mine[VORN_SERIAL_SIZE] = {};
    AdapterEntryKey(e, mine, sizeof mine);
    return std::strcmp(mine, key) == 0;
}

bool same_adapter(const AdapterEntry* a, const AdapterEntry* b) {
    char key[VORN_SERIAL_SIZE] = {};
    AdapterEntryKey(b, key, sizeof key);
    return has_key(a, key);
}

std::string hex_text(const SD_UINT8* bytes, size_t n) {
    std::string out;
    char pair[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        out += pair;
    }
    return out;
}

// The entry of a physical FC port, or null (also for a null port).
AdapterEntry* physical_entry(const SDMDevice* pDevice) {
    if (pDevice == nullptr || pDevice->DeviceNodeProperty.InterfaceType != ADAPTER_IF_FC) return nullptr;
    return FindAdapterInAdapterListBySDMDevice(pDevice);
}

// Visits the used virtual-port blocks of an entry, in index order; stops when
// the visitor returns true.
template <class Visit>
void for_each_used_block(const AdapterEntry* entry, Visit visit) {
    for (size_t i = 0; i < ADAPTER_VPORT_BLOCKS; ++i)
        if (IsWwpnValid(entry->WindowsVPortArray[i]) != 0 && visit(i, entry->WindowsVPortArray[i])) return;
}

int compare_ints(int32_t a, int32_t b) { return (a > b) - (a < b); }

}  // namespace

int CompareAdapterEntryWWPN(const AdapterEntry* p1, const AdapterEntry* p2) {
    return std::strcmp(hex_text(p1->WWPN, 8).c_str(), hex_text(p2->WWPN, 8).c_str());
}

int DeleteAdapterNodeFromAdapterList(const AdapterEntry* pAdapterToDelete) {
    if (pAdapterToDelete == nullptr) return -1;
    AdapterEntryList* list = GetAdapterList();
    for (AdapterEntry* e = list->first; e != nullptr; e = e->next) {
        if (!same8(e->WWNN, pAdapterToDelete->WWNN) || !same8(e->WWPN, pAdapterToDelete->WWPN)) continue;
        VORNLogMessage(VORN_MSG_DEBUG,
                       "DeleteAdapterNodeFromAdapterList: Found %02x-%02x-%02x-%02x-%02x-%02x-%02x-%02x instance %u vid %u",
                       WWN_ARGS(e->WWPN), e->Number, e->vPortId);
        RemoveAdapterFromAdapterList(e);
        return DeleteAdapter(e);
    }
    return -1;
}

AdapterEntry* FindAndUpdateAdapterInAdapterListBySDMDevice(const SDMDevice* pDevice) {
    if (pDevice == nullptr) return nullptr;
    char key[VORN_SERIAL_SIZE] = {};
    GetAdapterKey(pDevice, key, sizeof key);
    for (AdapterEntry* e = GetAdapterList()->first; e != nullptr; e = e->next) {
        if (!has_key(e, key) || !same8(e->WWNN, pDevice->DeviceNodeProperty.WWN) ||
            !same8(e->WWPN, pDevice->DevicePortProperty.WWN))
            continue;
        if (isVirtualPortHBA(pDevice) != 0) e->vPortId = static_cast<SD_UINT16>(GetVirtualPortID(pDevice));
        e->PortNumber = static_cast<SD_UINT32>(GetPortIndex(pDevice));
        return e;
    }
    return nullptr;
}

AdapterEntry* UpdateAdapterEntryInAdapterList(const AdapterEntry* pAdapterEntry) {
    if (pAdapterEntry == nullptr) return nullptr;
    for (AdapterEntry* e = GetAdapterList()->first; e != nullptr; e = e->next) {
        if (!same_adapter(e, pAdapterEntry) || !same8(e->WWPN, pAdapterEntry->WWPN) ||
            !same8(e->WWNN, pAdapterEntry->WWNN))
            continue;
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterEntryInAdapterList: Updating wwpn " WWN_FMT " physical port=%u",
                       WWN_ARGS(pAdapterEntry->WWPN), pAdapterEntry->PortNumber);
        e->QoSSettingEnable = pAdapterEntry->QoSSettingEnable;
        e->QoSSettingLock = pAdapterEntry->QoSSettingLock;
        e->QoSType = pAdapterEntry->QoSType;
        e->QoSBwType = pAdapterEntry->QoSBwType;
        e->QoSVal = pAdapterEntry->QoSVal;
        e->PortNumber = pAdapterEntry->PortNumber;
        e->vPortId = pAdapterEntry->vPortId;
        return e;
    }
    return nullptr;
}

int UpdateAdapterEntryList(const SDMDevice* pDevice) {
    AdapterEntry* entry = pDevice != nullptr ? FindAdapterInAdapterListBySDMDevice(pDevice) : nullptr;
    if (entry == nullptr) return 8;
    VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterEntryList: HBA instance %u physical port=%u", pDevice->DeviceNumber,
                   entry->PortNumber);
    if (entry->InterfaceType == ADAPTER_IF_VPORT) {
        entry->vPortId = static_cast<SD_UINT16>(GetVirtualPortID(pDevice));
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterEntryList: HBA instance %u vPort Id=%u", pDevice->DeviceNumber,
                       entry->vPortId);
    }
    UpdateAdapterEntryInAdapterList(entry);
    return 0;
}

int UpdateAdapterEntryVportList(const SDMDeviceList* /*HBAList*/) {
    VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterEntryVportList: Enter...");
    VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterEntryVportList: exit\n");
    return 0;
}

AdapterEntry* FindPhysicalAdapterEntryByVirtualPortInAdapterList(const AdapterEntry* pVirtualPort) {
    if (pVirtualPort == nullptr) return nullptr;
    VORNLogMessage(VORN_MSG_DEBUG, "Instance=%u vPort SN=%s interface=%u", pVirtualPort->Number,
                   pVirtualPort->SerialNumber, pVirtualPort->InterfaceType);
    for (AdapterEntry* e = GetAdapterList()->first; e != nullptr; e = e->next) {
        VORNLogMessage(VORN_MSG_DEBUG, WWN_FMT, WWN_ARGS(e->WWPN));
        VORNLogMessage(VORN_MSG_DEBUG, "Instance=%u List  SN=%s interface=%u", e->Number, e->SerialNumber,
                       e->InterfaceType);
        if (same_adapter(e, pVirtualPort) && e->InterfaceType != ADAPTER_IF_VPORT) return e;
    }
    return nullptr;
}

SDMDevice* FindPhysicalPortByVirtualPortInAdapterList(const AdapterEntry* pVirtualPort) {
    const AdapterEntry* physical = FindPhysicalAdapterEntryByVirtualPortInAdapterList(pVirtualPort);
    return physical != nullptr ? FindZOZIRAAdapterByWWPN(physical->WWPN) : nullptr;
}

int UpdatePhysicalAdapterEntryVportArray(const SDMDevice* pDevice, AdapterEntry* pAdapterEntryToUpdate) {
    VORNLogMessage(VORN_MSG_DEBUG, "UpdatePhysicalAdapterEntryVportArray: Enter...");
    if (pDevice == nullptr || pAdapterEntryToUpdate == nullptr) return 8;
    if (isVirtualPortHBA(pDevice) != 0) return 286;
    const SD_UINT32 id = pDevice->DevicePortProperty.PortID;
    VORNLogMessage(VORN_MSG_DEBUG, "UpdatePhysicalAdapterEntryVportArray: pPort instance=%u " WWN_FMT " %02X-%02X-%02X",
                   pDevice->DeviceNumber, WWN_ARGS(pDevice->DevicePortProperty.WWN), (id >> 16) & 0xFF,
                   (id >> 8) & 0xFF, id & 0xFF);
    for (SD_UINT32 i = 0; i < ADAPTER_VPORT_BLOCKS; ++i) {
        VPORT_INFO* info = FindVPortByVPortID(pDevice->DeviceNumber, i);
        if (info == nullptr) continue;
        if (IsWwpnValid(info->wwpn) != 0) {
            CoreLogMessage(ZV_MSG_DEBUG,
                           "UpdatePhysicalAdapterEntryVportArray: Updating adapter entry VPort Array[%u] with WWPN " WWN_FMT,
                           info->id, WWN_ARGS(info->wwpn));
            std::memcpy(pAdapterEntryToUpdate->WindowsVPortArray[i], info->wwpn, 8);
            pAdapterEntryToUpdate->vPortId = static_cast<SD_UINT16>(info->id);
            VORNLogMessage(VORN_MSG_DEBUG, "UpdatePhysicalAdapterEntryVportArray: vPort id=%u", info->id);
        }
        CoreFree(info);
    }
    VORNLogMessage(VORN_MSG_DEBUG, "UpdatePhysicalAdapterEntryVportArray: return...");
    return 0;
}

AdapterEntry* UpdatePhysicalAdapterEntryByVirtualPortInAdapterList(const AdapterEntry* pVirtualPort) {
    VORNLogMessage(VORN_MSG_DEBUG, "UpdatePhysicalAdapterEntryByVirtualPortInAdapterList: Enter...");
    if (pVirtualPort == nullptr) return nullptr;
    for (AdapterEntry* e = GetAdapterList()->first; e != nullptr; e = e->next) {
        if (!same_adapter(e, pVirtualPort) || e->InterfaceType != ADAPTER_IF_FC ||
            e->PortID[0] != pVirtualPort->PortID[0] || e->PortID[1] != pVirtualPort->PortID[1])
            continue;
        e->QoSType = pVirtualPort->QoSType;
        e->QoSBwType = pVirtualPort->QoSBwType;
        e->QoSVal = static_cast<SD_INT16>(pVirtualPort->QoSType == 1 ? 100 : 1);
        VORNLogMessage(VORN_MSG_DEBUG,
                       "UpdatePhysicalAdapterEntryByVirtualPortInAdapterList: Updating PhyPort %s QoS type=%d Val=%d",
                       e->cPortName, e->QoSType, e->QoSVal);
        return e;
    }
    return nullptr;
}

int UpdateAdapterEntryNodeInAdapterList(const AdapterEntry* pAdapterEntry, int iToggle, int iForceUpdate) {
    if (pAdapterEntry == nullptr) return 8;
    for (AdapterEntry* e = GetAdapterList()->first; e != nullptr; e = e->next) {
        if (!same_adapter(e, pAdapterEntry) || !same8(e->WWPN, pAdapterEntry->WWPN) ||
            !same8(e->WWNN, pAdapterEntry->WWNN))
            continue;
        if (e != pAdapterEntry) {
            // The virtual-port blocks are part of the entry, so the copy owns its own.
            AdapterEntry* next = e->next;
            AdapterEntry* prev = e->prev;
            std::memcpy(static_cast<void*>(e), pAdapterEntry, sizeof *e);
            e->next = next;
            e->prev = prev;
        }
        if (iForceUpdate != 0) e->ConfigStatus = static_cast<SD_UINT8>(iToggle);
        else e->ConfigStatus = e->ConfigStatus != 0 ? 0 : 1;
        return 0;
    }
    return 0;
}

int UpdateAllAdapterEntryNodesInAdapterList(const SDMDevice* pDevice, int iToggle) {
    if (pDevice == nullptr) return 8;
    const AdapterEntry* entry = physical_entry(pDevice);
    if (entry == nullptr) return 0;
    int result = 0;
    for_each_used_block(entry, [&](size_t i, const SD_UINT8* w) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateAllAdapterEntryNodesInAdapterList: vport %zu wwpn=" WWN_FMT " ival=%d", i,
                       WWN_ARGS(w), iToggle);
        if (const AdapterEntry* v = FindAdapterInAdapterListByWWN(w); v != nullptr)
            result = UpdateAdapterEntryNodeInAdapterList(v, iToggle, 1);
        return false;
    });
    return result;
}

int CheckAdapterEntryConfigStatusInAdapterList(const SDMDevice* pDevice) {
    const AdapterEntry* entry = physical_entry(pDevice);
    if (entry == nullptr) return 0;
    int result = 0;
    for_each_used_block(entry, [&](size_t i, const SD_UINT8* w) {
        VORNLogMessage(VORN_MSG_DEBUG, "CheckAdapterEntryConfigStatusInAdapterList: vport %zu wwpn=" WWN_FMT, i,
                       WWN_ARGS(w));
        const AdapterEntry* v = FindAdapterInAdapterListByWWN(w);
        if (v != nullptr && v->ConfigStatus == 1) result = 1;
        return result == 1;
    });
    return result;
}

int CheckvPortConfigStatusInAdapterList(const SDMDevice* pDevice, int iCfgState) {
    if (pDevice == nullptr) return 8;
    VORNLogMessage(VORN_MSG_DEBUG, "CheckvPortConfigStatusInAdapterList: iCfgState=%d", iCfgState);
    const AdapterEntry* entry = physical_entry(pDevice);
    if (entry == nullptr) return 0;
    int result = 0;
    for_each_used_block(entry, [&](size_t i, const SD_UINT8* w) {
        const AdapterEntry* v = FindAdapterInAdapterListByWWN(w);
        if (v == nullptr) return false;
        VORNLogMessage(VORN_MSG_DEBUG, "CheckvPortConfigStatusInAdapterList: vport %zu " WWN_FMT " (%u)", i, WWN_ARGS(w),
                       v->ConfigStatus);
        if (v->ConfigStatus != iCfgState) result = 1;
        return result == 1;
    });
    return result;
}

int UpdateOtherPortDeviceNodeProperty(const SDMDevice* pDevice, const DEVICENODEPROPERTY* pDeviceNodeProperty) {
    VORNLogMessage(VORN_MSG_DEBUG, "UpdateOtherPortDeviceNodeProperty: Begin");
    int result = 8;
    if (pDevice != nullptr && pDeviceNodeProperty != nullptr) {
        char model[33] = {};
        std::memcpy(model, pDevice->DeviceNodeProperty.Model, 32);
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateOtherPortDeviceNodeProperty: HBA %u %s " WWN_FMT, pDevice->DeviceNumber,
                       model, WWN_ARGS(pDevice->DevicePortProperty.WWN));
        const int p = GetPortIndex(pDevice);
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateOtherPortDeviceNodeProperty: portIndex=%d", p);
        char mine[VORN_SERIAL_SIZE] = {};
        GetAdapterKey(pDevice, mine, sizeof mine);
        for (SDMDevice* d = GetMyDeviceList()->firstDevice; d != nullptr; d = d->next) {
            char other[VORN_SERIAL_SIZE] = {};
            GetAdapterKey(d, other, sizeof other);
            if (std::strcmp(mine, other) != 0 || same8(d->DeviceNodeProperty.WWN, pDevice->DeviceNodeProperty.WWN) ||
                same8(d->DevicePortProperty.WWN, pDevice->DevicePortProperty.WWN) || d->DeviceNumber == pDevice->DeviceNumber)
                continue;
            const int q = GetPortIndex(d);
            VORNLogMessage(VORN_MSG_DEBUG, "UpdateOtherPortDeviceNodeProperty: portIndex2=%d", q);
            if (q != p + 1) continue;
            std::memcpy(model, d->DeviceNodeProperty.Model, 32);
            VORNLogMessage(VORN_MSG_DEBUG, "UpdateOtherPortDeviceNodeProperty: Updating HBA %u %s " WWN_FMT "...",
                           d->DeviceNumber, model, WWN_ARGS(d->DevicePortProperty.WWN));
            DEVICENODEPROPERTY& n = d->DeviceNodeProperty;
            std::memcpy(n.FirmwareVersion, pDeviceNodeProperty->FirmwareVersion, sizeof n.FirmwareVersion);
            std::memcpy(n.OptionRomVersion, pDeviceNodeProperty->OptionRomVersion, sizeof n.OptionRomVersion);
            std::memcpy(n.BIFwVersion, pDeviceNodeProperty->BIFwVersion, sizeof n.BIFwVersion);
            std::memcpy(n.BIEfiVersion, pDeviceNodeProperty->BIEfiVersion, sizeof n.BIEfiVersion);
            std::memcpy(n.BIFCodeVersion, pDeviceNodeProperty->BIFCodeVersion, sizeof n.BIFCodeVersion);
            result = 0;
            break;
        }
    }
    VORNLogMessage(VORN_MSG_DEBUG, "UpdateOtherPortDeviceNodeProperty: Exit %d", result);
    return result;
}

int ComparePortName(const void* p1, const void* p2) {
    const auto* a = static_cast<const sHBAPortInfo*>(p1);
    const auto* b = static_cast<const sHBAPortInfo*>(p2);
    return std::strcmp(hex_text(a->PortName, 8).c_str(), hex_text(b->PortName, 8).c_str());
}

int ComparePortID(const void* p1, const void* p2) {
    const auto* a = static_cast<const sHBAPortInfo*>(p1);
    const auto* b = static_cast<const sHBAPortInfo*>(p2);
    VORNLogMessage(VORN_MSG_DEBUG, "ComparePortID: p1 vp_id=%d " WWN_FMT " %02x-%02x-%02x\n", a->VportId,
                   WWN_ARGS(a->PortName), a->PortId[0], a->PortId[1], a->PortId[2]);
    VORNLogMessage(VORN_MSG_DEBUG, "ComparePortID: p2 vp_id=%d " WWN_FMT " %02x-%02x-%02x\n", b->VportId,
                   WWN_ARGS(b->PortName), b->PortId[0], b->PortId[1], b->PortId[2]);
    return std::strcmp(hex_text(a->PortId, 3).c_str(), hex_text(b->PortId, 3).c_str());
}

// The sign of the difference, without the overflow of a subtraction.
int CompareVportId(const void* p1, const void* p2) {
    return compare_ints(static_cast<const sHBAPortInfo*>(p1)->VportId, static_cast<const sHBAPortInfo*>(p2)->VportId);
}

int CompareInstanceNumber(const void* p1, const void* p2) {
    return compare_ints(static_cast<const sHBAPortInfo*>(p1)->InstanceNumber,
                        static_cast<const sHBAPortInfo*>(p2)->InstanceNumber);
}

void SortVirtualPortArray(sHBAPortInfo* pHBAPortInfo, size_t iArraySize, int Type) {
    if (pHBAPortInfo == nullptr || iArraySize < 2) return;
    int (*compare)(const void*, const void*) = CompareInstanceNumber;
    switch (Type) {
        case 1: compare = ComparePortName; break;
        case 2: compare = ComparePortID; break;
        case 3: compare = CompareVportId; break;
        default: break;
    }
    std::qsort(pHBAPortInfo, iArraySize, sizeof *pHBAPortInfo, compare);
}
