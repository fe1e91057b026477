#include "frontend/adapter_entry_list.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <span>
#include <string>

#include "core/adapter_ssid_list.h"
#include "core/chip_types.h"
#include "core/core_log.h"
#include "core/host_info.h"
#include "core/input_file.h"
#include "core/oss_services.h"
#include "frontend/hba_device_list.h"
#include "frontend/model_predicates.h"
#include "frontend/output.h"
#include "frontend/str_util.h"
#include "frontend/wwn_util.h"
#include "mgmt/sdapi.h"

namespace {

AdapterEntryList g_AdapterList{};

// The list's entries by WWNN and WWPN (a pair the list holds once), so that
// a port finds its entry without walking the list: the front end asks for a
// port's entry inside loops over every port.
using WwnPair = std::array<SD_UINT8, 16>;
struct WwnPairHash {
    size_t operator()(const WwnPair& key) const {
        SD_UINT64 node = 0, port = 0;
        std::memcpy(&node, key.data(), 8);
        std::memcpy(&port, key.data() + 8, 8);
        return std::hash<SD_UINT64>{}(node * 0x9E3779B97F4A7C15ULL ^ port);
    }
};
std::unordered_map<WwnPair, AdapterEntry*, WwnPairHash> g_EntryIndex;

WwnPair PairOf(const SD_UINT8* wwnn, const SD_UINT8* wwpn) {
    WwnPair key{};
    std::memcpy(key.data(), wwnn, 8);
    std::memcpy(key.data() + 8, wwpn, 8);
    return key;
}

AdapterEntry* IndexedEntry(const SD_UINT8* wwnn, const SD_UINT8* wwpn) {
    const auto it = g_EntryIndex.find(PairOf(wwnn, wwpn));
    return it != g_EntryIndex.end() ? it->second : nullptr;
}

#define WWN_FMT "%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X"
#define WWN_ARGS(w) (w)[0], (w)[1], (w)[2], (w)[3], (w)[4], (w)[5], (w)[6], (w)[7]

bool SameWwn(const SD_UINT8* a, const SD_UINT8* b) { return std::memcmp(a, b, 8) == 0; }

// Bounded copy of a fixed-size, possibly unterminated text field.
template <size_t N, size_t M>
void CopyField(char (&dst)[N], const char (&src)[M]) {
    const size_t n = strnlen(src, M);
    const size_t k = std::min(n, N - 1);
    std::memcpy(dst, src, k);
    dst[k] = '\0';
}

void WwnText(const SD_UINT8* w, char* text, size_t size) { std::snprintf(text, size, WWN_FMT, WWN_ARGS(w)); }

// WWPNs of two entries in the order of their texts (upper-case hex pairs
// sort as the bytes do).
int CompareWwpnText(const AdapterEntry* a, const AdapterEntry* b) { return std::memcmp(a->WWPN, b->WWPN, 8); }

int ChipCode(const SDMDevice* port) { return CoreGetISPType(port); }

// Fills the virtual-port blocks of a physical port from the library's records,
// by virtual-port id; stops once every virtual port the library counts was seen.
void FillVirtualPortBlocks(const SDMDevice* port, AdapterEntry* entry) {
    SD_UINT32 seen = 0;
    for (SD_UINT32 id = 0; id < ADAPTER_VPORT_BLOCKS; ++id) {
        VPORT_INFO info{};
        if (SDVportGetinfo(port->DeviceHandle, id, &info) != SDERR_SUCCESS || info.id != id) continue;
        if (IsWwpnValid(info.wwpn) != 0) {
            std::memcpy(entry->WindowsVPortArray[id], info.wwpn, 8);
            entry->vPortId = static_cast<SD_UINT16>(id);
        }
        if (++seen >= info.used) break;
    }
}

}  // namespace

// ---- The list ----------------------------------------------------------------------

void InitAdapterList() {
    g_AdapterList = AdapterEntryList{};
    g_EntryIndex.clear();
}
AdapterEntryList* GetAdapterList() { return &g_AdapterList; }
SD_UINT32 GetCountOfEntryInAdapterList() { return g_AdapterList.count; }

AdapterEntry* CreateNewAdapter() { return static_cast<AdapterEntry*>(CoreZMalloc(sizeof(AdapterEntry))); }

int DeleteAdapter(AdapterEntry* entry) {
    if (entry == nullptr) return 8;
    CoreFree(entry);
    return 0;
}

int RemoveAllAdaptersFromAdapterList() {
    AdapterEntry* e = g_AdapterList.first;
    while (e != nullptr) {
        AdapterEntry* next = e->next;
        VORNLogMessage(VORN_MSG_DEBUG, "RemoveAllAdaptersFromAdapterList: Freeing HBA %u", e->Number);
        DeleteAdapter(e);
        e = next;
    }
    InitAdapterList();
    return 0;
}

AdapterEntry* FindAdapterInAdapterList(const AdapterEntry* entry) {
    if (entry == nullptr) return nullptr;
    return IndexedEntry(entry->WWNN, entry->WWPN) != nullptr ? const_cast<AdapterEntry*>(entry) : nullptr;
}

int AddNewAdapterToAdapterList(AdapterEntry* entry) {
    if (entry == nullptr || FindAdapterInAdapterList(entry) != nullptr) return -1;
    g_EntryIndex[PairOf(entry->WWNN, entry->WWPN)] = entry;
    entry->next = nullptr;
    entry->prev = g_AdapterList.last;
    if (g_AdapterList.last != nullptr) g_AdapterList.last->next = entry; else g_AdapterList.first = entry;
    g_AdapterList.last = entry;
    ++g_AdapterList.count;
    return 0;
}

int AddAdapterToAdapterList(AdapterEntry* entry) {
    if (entry == nullptr || FindAdapterInAdapterList(entry) != nullptr) return -1;
    // K7R ports stand in descending WWPN order among themselves; all others ascend.
    AdapterEntry* before = nullptr;
    int position = 0;
    for (AdapterEntry* e = g_AdapterList.first; e != nullptr; e = e->next, ++position) {
        const bool eitherVirtual = e->InterfaceType == ADAPTER_IF_VPORT || entry->InterfaceType == ADAPTER_IF_VPORT;
        const bool bothK7R = isK7RAdapter(e) != 0 && isK7RAdapter(entry) != 0;
        const int cmp = (eitherVirtual || !bothK7R) ? CompareWwpnText(e, entry) : CompareWwpnText(entry, e);
        if (cmp > 0) {
            before = e;
            break;
        }
    }
    VORNLogMessage(VORN_MSG_DEBUG, "FindLocationInAdapterEntryList: returns %d", before != nullptr ? position : -1);
    if (before == nullptr) return AddNewAdapterToAdapterList(entry);
    g_EntryIndex[PairOf(entry->WWNN, entry->WWPN)] = entry;
    entry->next = before;
    entry->prev = before->prev;
    if (before->prev != nullptr) before->prev->next = entry; else g_AdapterList.first = entry;
    before->prev = entry;
    ++g_AdapterList.count;
    return 0;
}

int RemoveAdapterFromAdapterList(AdapterEntry* entry) {
    if (entry == nullptr || IndexedEntry(entry->WWNN, entry->WWPN) != entry) return -1;
    g_EntryIndex.erase(PairOf(entry->WWNN, entry->WWPN));
    if (entry->prev != nullptr) entry->prev->next = entry->next; else g_AdapterList.first = entry->next;
    if (entry->next != nullptr) entry->next->prev = entry->prev; else g_AdapterList.last = entry->prev;
    entry->next = entry->prev = nullptr;
    --g_AdapterList.count;
    return 0;
}

AdapterEntry* FindAdapterInAdapterListBySDMDevice(const SDMDevice* port) {
    if (port == nullptr) return nullptr;
    return IndexedEntry(port->DeviceNodeProperty.WWN, port->DevicePortProperty.WWN);
}

AdapterEntry* FindAdapterInAdapterListByWWN(const SD_UINT8* wwpn) {
    if (wwpn == nullptr) return nullptr;
    for (AdapterEntry* e = g_AdapterList.first; e != nullptr; e = e->next)
        if (SameWwn(e->WWPN, wwpn)) return e;
    return nullptr;
}

SDMDevice* FindDeviceInDeviceListByAdapterEntry(const AdapterEntry* entry) {
    if (entry == nullptr) return nullptr;
    for (SDMDevice* d = GetMyDeviceList()->firstDevice; d != nullptr; d = d->next)
        if (SameWwn(d->DeviceNodeProperty.WWN, entry->WWNN) && SameWwn(d->DevicePortProperty.WWN, entry->WWPN)) return d;
    return nullptr;
}

// ---- Building ----------------------------------------------------------------------

int GetAdapterPciPhysicalPortNumber(const SDMDevice* port) {
    if (port == nullptr) return -1;
    CHIPPROPERTY chip = port->DeviceChipProperty;
    const SD_UINT32 status = SDGetHbaDeviceChipProperty(port->DeviceHandle, &chip);
    if (status != SDERR_SUCCESS) {
        VORNLogMessage(VORN_MSG_DEBUG, "GetAdapterPciPhysicalPortNumber: Unable to read chip property of HBA %u (0x%x)",
                       port->DeviceNumber, status);
        chip = port->DeviceChipProperty;
    }
    const unsigned function = chip.PciSlotNumber & 7;
    int index = 0;
    if (function == 0 || function == 2 || function == 6) index = 1;
    else if (function == 1 || function == 3 || function == 7) index = 2;
    return std::max(index, static_cast<int>(chip.PortNumber));
}

int CreateAdapterEntryFromSDMDevice(SDMDevice* port, AdapterEntry* entry) {
    if (port == nullptr || entry == nullptr) return 8;
    const DEVICENODEPROPERTY& node = port->DeviceNodeProperty;
    const CHIPPROPERTY& chip = port->DeviceChipProperty;
    entry->EnableStatus = 0;
    entry->Number = port->DeviceNumber;
    entry->InterfaceType = node.InterfaceType;
    entry->DeviceID = chip.DeviceID;
    entry->ChipType = chip.ChipType;
    entry->Handle = port->DeviceHandle;
    entry->ConfigStatus = 0;
    entry->BeaconStatus = port->BeaconControlFlags;
    entry->NVRAMType = ChipCode(port) < 8 ? 1 : 2;
    entry->NumberOfPorts = node.NumberOfPorts;
    GetSerialNo(port, entry->SerialNumber, sizeof entry->SerialNumber);
    entry->PciBusNumber = static_cast<SD_UINT8>(chip.PciBusNumber);
    entry->PciDeviceNumber = static_cast<SD_UINT8>((chip.PciSlotNumber >> 3) & 0x1F);
    entry->PciFuncNumber = static_cast<SD_UINT8>(chip.PciSlotNumber & 7);
    entry->PortNumber = static_cast<SD_UINT32>(std::max(0, GetAdapterPciPhysicalPortNumber(port)));
    std::memcpy(entry->WWNN, node.WWN, 8);
    std::memcpy(entry->WWPN, port->DevicePortProperty.WWN, 8);
    WwnText(entry->WWNN, entry->cNodeName, sizeof entry->cNodeName);
    WwnText(entry->WWPN, entry->cPortName, sizeof entry->cPortName);
    CopyField(entry->Model, node.Model);
    const SD_UINT32 portId = port->DevicePortProperty.PortID;
    entry->PortID[0] = static_cast<SD_UINT8>(portId >> 16);
    entry->PortID[1] = static_cast<SD_UINT8>(portId >> 8);
    entry->PortID[2] = static_cast<SD_UINT8>(portId);
    entry->QoSType = static_cast<SD_INT16>(port->QoSType);
    entry->QoSVal = static_cast<SD_INT16>(port->QoS);
    entry->QoSBwType = 0;
    entry->QoSSettingLock = 0;
    entry->QoSSettingEnable = 0;
    entry->vSANBound = -1;
    entry->PortSpeed = static_cast<SD_UINT32>(ConvertPortSpeedToDecimal(static_cast<int>(port->DevicePortProperty.PortSpeed)));
    entry->SubSystemID = GetNvramSubSystemID(port);
    entry->SubVendorID = GetNvramSubVendorID(port);
    VORNLogMessage(VORN_MSG_DEBUG, "CreateAdapterEntryFromSDMDevice: HBA %u SN=%s SSDID=0x%04x SSVID=0x%04x port=%u",
                   entry->Number, entry->SerialNumber, entry->SubSystemID, entry->SubVendorID, entry->PortNumber);
    if (isVirtualPortHBA(port)) {
        entry->InterfaceType = ADAPTER_IF_VPORT;
        entry->vPortId = static_cast<SD_UINT16>(GetVirtualPortID(port));
    } else if (isFCOeHBA(port)) {
        entry->InterfaceType = ADAPTER_IF_FCOE;
    }
    GetHBADevicePortStatus(port);
    GetAdapterStatus(port, entry->cAdapterState, sizeof entry->cAdapterState);
    if (entry->InterfaceType == ADAPTER_IF_FC) FillVirtualPortBlocks(port, entry);
    return 0;
}

int BuildAdapterEntryList(SDMDevice* first) {
    VORNLogMessage(VORN_MSG_DEBUG, "BuildAdapterEntryList: Enter...");
    const char* configDir = OSSGetConfigPath();
    VORNLogMessage(VORN_MSG_DEBUG, "BuildAdapterEntryList: pInstallationPath: %s", configDir);
    std::string path(configDir != nullptr ? configDir : "");
    if (path.empty() || path.back() != '/') path += '/';
    path += kAdapterPropertiesFileName;
    VORNLogMessage(VORN_MSG_DEBUG, "BuildAdapterEntryList: Adapter file: %s", path.c_str());
    // A table the reader rule refuses is said there and read as absent.
    SubSystemIDListPtr table = LoadAdapterSubSystemList(path);
    for (SDMDevice* port = first; port != nullptr; port = port->next) {
        const SD_UINT8* w = port->DevicePortProperty.WWN;
        VORNLogMessage(VORN_MSG_DEBUG, "BuildAdapterEntryList: Instance=%u WWPN=" WWN_FMT, port->DeviceNumber, WWN_ARGS(w));
        AdapterEntry* entry = CreateNewAdapter();
        if (entry == nullptr) continue;
        if (CreateAdapterEntryFromSDMDevice(port, entry) != 0) {
            DeleteAdapter(entry);
            continue;
        }
        if (table) {
            const AdapterSubSystemIDList* row =
                FindSubSystemInSubSystemList(table.get(), entry->SubSystemID, entry->SubVendorID);
            if (row != nullptr) {
                entry->EnableStatus = IsSubSystemRowSupported(row) ? 1 : 0;
                CopyField(entry->Description, row->Desc);
            }
        }
        VORNLogMessage(VORN_MSG_DEBUG, "BuildAdapterEntryList: Instance=%u SSDID=0x%04x SSVID=0x%04x EnableStatus=%u (%s)",
                       entry->Number, entry->SubSystemID, entry->SubVendorID, entry->EnableStatus, entry->Description);
        if (AddNewAdapterToAdapterList(entry) != 0) DeleteAdapter(entry);
    }
    if (table) DeleteSubSystemIDList(table);
    return 0;
}

// ---- Queries -------------------------------------------------------------------------

int GetPortIndex(const SDMDevice* port) {
    const AdapterEntry* e = FindAdapterInAdapterListBySDMDevice(port);
    return e != nullptr ? static_cast<int>(e->PortNumber) : 1;
}

int isVirtualPortHBA(const SDMDevice* port) {
    return (port != nullptr && port->DeviceNodeProperty.InterfaceType == ADAPTER_IF_VPORT) ? 1 : 0;
}

int isFCOeHBA(const SDMDevice* port) {
    return (port != nullptr && port->DeviceNodeProperty.InterfaceType == ADAPTER_IF_FCOE) ? 1 : 0;
}

int isAdapterSupported(const SDMDevice* pDevice, SD_UINT16* pISPType) {
    if (pDevice == nullptr) return 0;
    const SD_UINT8* w = pDevice->DevicePortProperty.WWN;
    VORNLogMessage(VORN_MSG_DEBUG, "isAdapterSupported: HBA %s WWPN " WWN_FMT, pDevice->DeviceNodeProperty.Model,
                   WWN_ARGS(w));
    const AdapterEntry* e = FindAdapterInAdapterListBySDMDevice(pDevice);
    if (e == nullptr) return 0;
    if (pISPType != nullptr) *pISPType = e->ChipType;
    VORNLogMessage(VORN_MSG_DEBUG, "isAdapterSupported: " WWN_FMT " SP=%d EnableStatus=%u", WWN_ARGS(e->WWPN),
                   e->ChipType, e->EnableStatus);
    return e->EnableStatus != 0 ? 1 : 0;
}

int DetectSupportedAdapter() {
    for (const AdapterEntry* e = g_AdapterList.first; e != nullptr; e = e->next)
        if (e->EnableStatus != 0) return 1;
    return 0;
}

namespace {
// Visits every device-list port of the given port's adapter (same adapter key)
// and returns how many there are. Asked for every port of every adapter,
// several times per update: one entry look-up per port.
template <class Visit>
int visit_ports_of_adapter(const SDMDevice* port, Visit visit) {
    char mine[VORN_SERIAL_SIZE]{};
    GetAdapterKey(port, mine, sizeof mine);
    int n = 0;
    for (const SDMDevice* d = GetMyDeviceList()->firstDevice; d != nullptr; d = d->next) {
        char other[VORN_SERIAL_SIZE]{};
        GetAdapterKey(d, other, sizeof other);
        if (std::strcmp(mine, other) != 0) continue;
        ++n;
        visit(d, n);
    }
    return n;
}
}  // namespace

int GetNumberOfPortsOnThisHBA(const SDMDevice* port) {
    if (port == nullptr) return 0;
    return visit_ports_of_adapter(port, [](const SDMDevice*, int) {});
}

const SDMDevice* GetFirstPortOnThisHBA(const SDMDevice* port) {
    const SDMDevice* first = port;
    if (port != nullptr) {
        visit_ports_of_adapter(port, [&first](const SDMDevice* d, int index) {
            if (index == 1) first = d;
        });
    }
    return first;
}

int QueryHBAType(const SDMDevice* port) {
    if (port == nullptr) return 0;
    const int n = visit_ports_of_adapter(port, [](const SDMDevice* d, int index) {
        char serial[VORN_SERIAL_SIZE]{};
        GetAdapterSerialNo(d, serial, sizeof serial);
        VORNLogMessage(VORN_MSG_DEBUG, "Found HBA port %d - %s " WWN_FMT, index, serial,
                       WWN_ARGS(d->DevicePortProperty.WWN));
    });
    return n > 1 ? 1 : 0;
}

int GetPortIndexOEM(const SDMDevice* port) {
    if (port == nullptr) return 0;
    if (GetMyDeviceList()->firstDevice == nullptr) return -1;
    const SD_UINT16 ssdid = GetNvramSubSystemID(port), ssvid = GetNvramSubVendorID(port);
    int number = -1;
    for (const SDMDevice* d = GetMyDeviceList()->firstDevice; d != nullptr; d = d->next) {
        if (GetNvramSubSystemID(d) == ssdid && GetNvramSubVendorID(d) == ssvid) number = (number + 1) % 2;
        if (SameWwn(d->DeviceNodeProperty.WWN, port->DeviceNodeProperty.WWN) &&
            SameWwn(d->DevicePortProperty.WWN, port->DevicePortProperty.WWN))
            break;
    }
    if (number < 0) number = 0;
    VORNLogMessage(VORN_MSG_DEBUG, "GetPortIndexOEM: return HBA %s " WWN_FMT " (hw port=%d)",
                   port->DeviceNodeProperty.Model, WWN_ARGS(port->DevicePortProperty.WWN), number);
    return number;
}

int CheckPortUpdateOption(const SDMDevice* port, int allPorts) {
    if (port == nullptr) return 6;
    if (GetNvramSubVendorID(port) == 0x1137 && GetNvramSubSystemID(port) == 0x004A) allPorts = 1;
    (void)allPorts;
    const int chip = ChipCode(port);
    int status = 6;
    if (chip > 7 && GetNumberOfPortsOnThisHBA(port) == 1) {
        status = 1;
    } else {
        char mine[VORN_SERIAL_SIZE]{};
        GetAdapterKey(port, mine, sizeof mine);
        const SDMDevice* found = nullptr;
        // The WWNs first: an adapter key is asked only of the port's own records.
        for (const SDMDevice* d = GetMyDeviceList()->firstDevice; d != nullptr && found == nullptr; d = d->next) {
            if (!SameWwn(d->DeviceNodeProperty.WWN, port->DeviceNodeProperty.WWN) ||
                !SameWwn(d->DevicePortProperty.WWN, port->DevicePortProperty.WWN))
                continue;
            char other[VORN_SERIAL_SIZE]{};
            GetAdapterKey(d, other, sizeof other);
            if (std::strcmp(mine, other) == 0) found = d;
        }
        if (found == nullptr) {
            status = 6;
        } else if (chip > 7) {
            status = 1;
        } else {
            switch (hasSingleBIOSChip(port)) {
                case 0: status = 1; break;
                case 1: status = (GetPortIndexOEM(port) % 2 != 0) ? 2 : 1; break;
                case 2: status = (GetPortIndexOEM(port) % 2 != 0) ? 1 : 2; break;
                default: status = 6; break;
            }
            if (CoreIsHostSystemType("IA64") || CoreIsHostSystemType("ia64")) status = 5;
        }
    }
    VORNLogMessage(VORN_MSG_DEBUG, "CheckPortUpdateOption: HBA instance %u (%s) Port %d " WWN_FMT ": updateStatus=%d",
                   port->DeviceNumber, port->DeviceNodeProperty.Model, GetPortIndex(port),
                   WWN_ARGS(port->DevicePortProperty.WWN), status);
    return status;
}

int CheckAdapterFlashUpdateStatus(const SDMDevice* port, int allPorts) {
    int status;
    if (port == nullptr || isAdapterSupported(port, nullptr) == 0) {
        status = 6;
    } else if (ChipCode(port) > 7 && isFCOeHBA(port)) {
        status = 7;
    } else if (ChipCode(port) > 7 && isISPfumo(port)) {
        status = 6;
    } else {
        status = CheckPortUpdateOption(port, allPorts);
    }
    VORNLogMessage(VORN_MSG_DEBUG, "CheckAdapterFlashUpdateStatus: return=%d", status);
    return status;
}

int UpdateFlashAccessAdapterEntry(const SDMDevice* port, SD_UINT32 token) {
    if (port == nullptr || port->DeviceNodeProperty.InterfaceType != ADAPTER_IF_FC) return 8;
    AdapterEntry* e = FindAdapterInAdapterListBySDMDevice(port);
    if (e == nullptr) return 8;
    e->FlashUpdateToken = token;
    return 0;
}

int GetAdapterChipRevision(const SDMDevice* port) { return port != nullptr ? port->DeviceChipProperty.ChipType : 0; }

int GetAdapterLockdownMode(const SDMDevice* pDevice, SD_UINT32 uType, SD_UINT8* uLockdownMode) {
    if (pDevice == nullptr) {
        VORNLogMessage(VORN_MSG_DEBUG, "GetAdapterLockdownMode: Invalid adapter handle");
        return 8;
    }
    if (ChipCode(pDevice) < 25) {
        VORNLogMessage(VORN_MSG_DEBUG, "GetAdapterLockdownMode: Feature not supported with HBA %u (%s)",
                       pDevice->DeviceNumber, pDevice->DeviceNodeProperty.Model);
        return 121;
    }
    SD_UINT8 mode = 0;
    if (uLockdownMode != nullptr) *uLockdownMode = 0;
    SYSTEM_LOCKDOWN_INFO info{};
    const int status = CoreGetAdapterLockDownState(pDevice, &info);
    if (status == -55) {
        VORNLogMessage(VORN_MSG_DEBUG, "GetAdapterLockdownMode: Risc/Mpi fw not support lockdown feature!");
        return 222;
    }
    if (status == -56) {
        VORNLogMessage(VORN_MSG_DEBUG, "GetAdapterLockdownMode: Driver not support lockdown feature!");
        return 223;
    }
    if (status != 0) return status;
    const MPI_LOCKDOWN_INFO& mpi = info.MPIFwLockdown;
    const auto rule = [](SD_UINT32 flags) -> SD_UINT8 { return (flags & 0x1) ? 1 : ((flags >> 3) & 1); };
    switch (uType) {
        case 0:
            if (mpi.LockdownSupport & 0x1) mode = rule(mpi.ConfigDisableFlags);
            else VORNLogMessage(VORN_MSG_DEBUG, "GetAdapterLockdownMode: Config lockdown is disabled");
            break;
        case 1:
            if (mpi.LockdownSupport & 0x2) mode = rule(mpi.FwUpdateDisableFlags);
            else VORNLogMessage(VORN_MSG_DEBUG, "GetAdapterLockdownMode: FW update lockdown is disabled");
            break;
        case 2:
            if (mpi.LockdownSupport & 0x4) mode = mpi.MpiDisableFlags & 1;
            else VORNLogMessage(VORN_MSG_DEBUG, "GetAdapterLockdownMode: MPI lockdown is disabled");
            break;
        default:
            break;
    }
    if (uLockdownMode != nullptr) *uLockdownMode = mode;
    return 0;
}
