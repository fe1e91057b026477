#include "frontend/hba_device_list.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "core/chip_types.h"
#include "core/core_log.h"
#include "core/adapter_ssid_list.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/device_list_lookups.h"
#include "frontend/file_util.h"
#include "frontend/model_predicates.h"
#include "frontend/output.h"
#include "frontend/vpd.h"
#include "mgmt/sdapi.h"

namespace {

// Both headers name the same chain of copies, owned here.
SDMDeviceList g_VORNDeviceList{};
SDMDeviceList g_MyDeviceList{};

#define WWN_FMT "%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X"
#define WWN_ARGS(w) (w)[0], (w)[1], (w)[2], (w)[3], (w)[4], (w)[5], (w)[6], (w)[7]

bool IsZeroWwn(const SD_UINT8* w) {
    static const SD_UINT8 zero[8]{};
    return std::memcmp(w, zero, 8) == 0;
}

// A fixed-size text field of a property, terminated, cut to the destination.
template <size_t M>
void CopyText(char* dst, size_t size, const char (&src)[M]) {
    const size_t n = std::min(strnlen(src, M), size - 1);
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

void AppendRecord(SDMDeviceList& list, SDMDevice* d) {
    d->next = nullptr;
    d->prev = list.lastDevice;
    if (list.lastDevice != nullptr) list.lastDevice->next = d; else list.firstDevice = d;
    list.lastDevice = d;
    ++list.count;
}

void FreeChain(SDMDevice* first) {
    while (first != nullptr) {
        SDMDevice* next = first->next;
        CoreFree(first);
        first = next;
    }
}

}  // namespace

SDMDeviceList* GetMyDeviceList() { return &g_MyDeviceList; }
void InitMyDeviceList() { g_MyDeviceList = SDMDeviceList{}; }

int CloneFreeVORNDeviceList() {
    FreeChain(g_VORNDeviceList.firstDevice);
    g_VORNDeviceList = SDMDeviceList{};
    InitMyDeviceList();
    VORNLogMessage(VORN_MSG_DEBUG, "Deallocating HBA list...");
    return 0;
}

// ---- Serial numbers ------------------------------------------------------------------

int GetSerialNo(const SDMDevice* port, char* text, size_t size) {
    if (port == nullptr || text == nullptr || size == 0) return 8;
    char serial[VORN_SERIAL_SIZE]{};
    const int chip = CoreGetISPType(port);
    if (chip > 7) {
        if (retrieveSpecificVpdField(port, "SN", std::span<char>(serial, sizeof serial)) != VPD_SUCCESS) serial[0] = '\0';
    }
    if (serial[0] == '\0') CopyText(serial, sizeof serial, port->DeviceNodeProperty.SerialNumber);
    if (serial[0] == '\0') std::snprintf(serial, sizeof serial, "%s", "N/A");
    VORNLogMessage(VORN_MSG_DEBUG, "GetSerialNo: HBA %u %s ISP=0x%x serialNo=%s", port->DeviceNumber,
                   port->DeviceNodeProperty.Model, static_cast<unsigned>(chip), serial);
    std::snprintf(text, size, "%s", serial);
    return 0;
}

int GetAdapterSerialNo(const SDMDevice* port, char* text, size_t size) {
    if (text == nullptr || size == 0) return 8;
    if (port == nullptr) {
        std::snprintf(text, size, "%s", "N/A");
        return 0;
    }
    const AdapterEntry* e = FindAdapterInAdapterListBySDMDevice(port);
    if (e != nullptr) {
        CopyText(text, size, e->SerialNumber);
        return 0;
    }
    return GetSerialNo(port, text, size);
}

bool IsUnknownAdapterSerial(const char* serial) {
    return serial == nullptr || serial[0] == '\0' || std::strcmp(serial, "N/A") == 0;
}

namespace {
// A control character, which no serial number text holds, keeps the key of an
// unknown serial number from ever equalling a real one.
void PutKey(char* key, size_t size, const char* serial, unsigned bus, unsigned device) {
    if (IsUnknownAdapterSerial(serial)) {
        std::snprintf(key, size, "N/A\x1F%02X:%02X", bus & 0xFF, device & 0x1F);
        return;
    }
    // Asked for every port several times per update: a plain copy.
    const size_t n = std::min(std::strlen(serial), size - 1);
    std::memcpy(key, serial, n);
    key[n] = '\0';
}
}  // namespace

void AdapterEntryKey(const AdapterEntry* entry, char* key, size_t size) {
    if (key == nullptr || size == 0) return;
    key[0] = '\0';
    if (entry == nullptr) return;
    char serial[VORN_SERIAL_SIZE]{};
    CopyText(serial, sizeof serial, entry->SerialNumber);
    PutKey(key, size, serial, entry->PciBusNumber, entry->PciDeviceNumber);
}

int GetAdapterKey(const SDMDevice* port, char* key, size_t size) {
    if (key == nullptr || size == 0) return 8;
    if (port == nullptr) {
        std::snprintf(key, size, "%s", "N/A");
        return 0;
    }
    if (const AdapterEntry* e = FindAdapterInAdapterListBySDMDevice(port); e != nullptr) {
        AdapterEntryKey(e, key, size);
        return 0;
    }
    char serial[VORN_SERIAL_SIZE]{};
    GetSerialNo(port, serial, sizeof serial);
    const CHIPPROPERTY& c = port->DeviceChipProperty;
    PutKey(key, size, serial, c.PciBusNumber, c.PciSlotNumber >> 3);
    return 0;
}

// ---- Port state ----------------------------------------------------------------------

int isFirmwareWithFECSupport(const char* version) {
    if (version != nullptr) {
        std::string major(version);
        major = major.substr(0, major.find_first_of(". "));
        char* end = nullptr;
        const long value = std::strtol(major.c_str(), &end, 10);
        if (end != major.c_str() && value >= 8) return 1;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "isFirmwareWithFECSupport: Unsupported FEC firmware!");
    return 0;
}

int GetHBADevicePortStatus(SDMDevice* port) {
    if (port == nullptr) return 2;
    DEVICEPORTPROPERTY pp{};
    if (SDGetHbaDevicePortProperty(port->DeviceHandle, 0, &pp) != SDERR_SUCCESS) return 2;
    auto status = static_cast<SD_UINT32>(port->DeviceStatus);
    const auto put = [&status](int bit, bool on) {
        if (on) status |= (1u << bit); else status &= ~(1u << bit);
    };
    if (pp.PortState == 1) {
        put(0, false);
        put(12, false);
        if (pp.LinkState2 != 1) put(5, false);
        if (pp.LinkState2 != 4) put(6, false);
        if (pp.LinkState2 != 5) put(7, false);
        if (pp.LinkState2 != 6) put(8, false);
        if (pp.LinkState1 != 2) put(9, false);
    } else if (pp.PortState == 2 || pp.PortState == 3) {
        put(0, true);
        put(5, pp.LinkState2 == 1);
        put(6, pp.LinkState2 == 4);
        put(7, pp.LinkState2 == 5);
        put(8, pp.LinkState2 == 6);
        put(9, pp.LinkState1 == 2);
    }
    port->DeviceStatus = static_cast<SD_INT32>(status);
    return pp.PortState;
}

int GetAdapterStatus(SDMDevice* port, char* text, size_t size) {
    if (port == nullptr || text == nullptr || size == 0) return 1;
    DEVICEPORTPROPERTY pp{};
    if (SDGetHbaDevicePortProperty(port->DeviceHandle, 0, &pp) != SDERR_SUCCESS) {
        std::snprintf(text, size, "%s", "Unknown");
        return 1;
    }
    const int chip = CoreGetISPType(port);
    const SD_INT32 ds = port->DeviceStatus;
    const char* state = "Unknown";
    if (ds == 0) {
        if (pp.PortState == 1) {
            char fw[sizeof port->DeviceNodeProperty.FirmwareVersion + 1]{};
            CopyText(fw, sizeof fw, port->DeviceNodeProperty.FirmwareVersion);
            const bool fec = chip >= 24 && (pp.LinkState3 & 0x8000) != 0 && isFirmwareWithFECSupport(fw) != 0;
            state = fec ? "Online (FEC)" : "Online";
        } else if (pp.PortState == 2) {
            state = (isDolvanHBA(port) || isFCoECNA(port)) ? "Link Down" : "Loop down";
        } else if (pp.PortState == 3) {
            state = chip > 7 ? "Link Down" : "Loop down";
        }
    } else if (ds != 1 && (pp.LinkState2 == 2 || pp.LinkState2 == 3 || pp.LinkState2 == 7)) {
        if (chip < 8) state = "Loop down";
        else if (ds == 0x201 && !isBrocadeFeatureUnSupportedAdapters(port)) state = "Loop Down, Diagnostic Mode";
        else state = "Link Down";
    } else if (pp.LinkState2 == 6) {
        switch (pp.LinkState3) {
            case 1: state = "Unsupported SFP Vendor"; break;
            case 2: state = "Invalid SFP Speed"; break;
            case 3: state = "SFP Access Failure"; break;
            default: state = "Link Down"; break;
        }
    } else if (pp.LinkState2 == 1) {
        state = chip > 7 ? "SFP not present" : "Loop down";
    } else {
        state = chip > 7 ? "Link Down" : "Loop down";
    }
    std::snprintf(text, size, "%s", state);
    return ds;
}

int GetVirtualPortID(const SDMDevice* port) {
    // A virtual port's node property carries its virtual-port id in NumberOfPorts.
    return isVirtualPortHBA(port) ? port->DeviceNodeProperty.NumberOfPorts : 0;
}

// ---- Refresh -------------------------------------------------------------------------

int UpdateHBADeviceNodeProperty(SDMDevice* port) {
    if (port == nullptr) return 8;
    DEVICENODEPROPERTY node{};
    if (SDGetHbaDeviceNodeProperty(port->DeviceHandle, &node) != SDERR_SUCCESS) return 8;
    char mine[VORN_SERIAL_SIZE]{};
    GetAdapterKey(port, mine, sizeof mine);
    port->DeviceNodeProperty = node;
    // The other ports of the adapter carry the same versions; refresh their records too.
    for (SDMDevice* d = g_MyDeviceList.firstDevice; d != nullptr; d = d->next) {
        char other[VORN_SERIAL_SIZE]{};
        GetAdapterKey(d, other, sizeof other);
        if (std::strcmp(mine, other) != 0) continue;
        if (d->DeviceNumber == port->DeviceNumber) {
            d->DeviceNodeProperty = node;
            continue;
        }
        DEVICENODEPROPERTY sibling{};
        if (SDGetHbaDeviceNodeProperty(d->DeviceHandle, &sibling) == SDERR_SUCCESS) d->DeviceNodeProperty = sibling;
    }
    return 0;
}

// ---- Lookups -------------------------------------------------------------------------

SDMDevice* FindDeviceInDeviceListByDeviceNumber(uint32_t deviceNumber) {
    for (SDMDevice* d = g_MyDeviceList.firstDevice; d != nullptr; d = d->next)
        if (d->DeviceNumber == deviceNumber) return d;
    return nullptr;
}

SDMDevice* FindDeviceInDeviceListByDeviceWWPN(const uint8_t* deviceWWPN) {
    if (deviceWWPN == nullptr) return nullptr;
    for (SDMDevice* d = g_MyDeviceList.firstDevice; d != nullptr; d = d->next)
        if (std::memcmp(d->DevicePortProperty.WWN, deviceWWPN, 8) == 0) return d;
    return nullptr;
}

int isCurrDriverType(const SDMDevice* port, const char* text) {
    if (port == nullptr || text == nullptr) return 0;
    char version[sizeof port->DeviceNodeProperty.DriverVersion + 1]{};
    CopyText(version, sizeof version, port->DeviceNodeProperty.DriverVersion);
    return std::strstr(version, text) != nullptr ? 1 : 0;
}

int DetectLinuxVmWareDriver() {
    for (const SDMDevice* d = GetDeviceList()->firstDevice; d != nullptr; d = d->next)
        if (isCurrDriverType(d, "-vm") || isCurrDriverType(d, "vmw")) return 1;
    return 0;
}

int isVMwareSpecificInboxDriver(const SDMDevice* port) {
    if (port == nullptr) return 0;
    return ((isCurrDriverType(port, "-vm") || isCurrDriverType(port, "vmw")) && CoreGetISP8GbType(port)) ? 1 : 0;
}

// ---- Building ------------------------------------------------------------------------

void VORNForgetDeviceListRecord(const SDMDevice* record) {
    if (record == nullptr) return;
    if (g_VORNDeviceList.firstDevice == record) g_VORNDeviceList.firstDevice = record->next;
    if (g_VORNDeviceList.lastDevice == record) g_VORNDeviceList.lastDevice = record->prev;
    if (g_VORNDeviceList.count > 0) --g_VORNDeviceList.count;
}

namespace {

void InsertBefore(SDMDeviceList& list, SDMDevice* at, SDMDevice* d) {
    if (at == nullptr) {
        AppendRecord(list, d);
        return;
    }
    d->next = at;
    d->prev = at->prev;
    if (at->prev != nullptr) at->prev->next = d; else list.firstDevice = d;
    at->prev = d;
    ++list.count;
}

SDMDevice* CopyRecord(const SDMDevice* source) {
    auto* copy = static_cast<SDMDevice*>(CoreZMalloc(sizeof(SDMDevice)));
    if (copy == nullptr) return nullptr;
    std::memcpy(static_cast<void*>(copy), source, sizeof(SDMDevice));
    copy->next = copy->prev = nullptr;
    return copy;
}

// The WWPNs of the virtual ports that a VMware driver shows as ports of their
// own go into the physical port's entry, by virtual-port id.
void RecordVMwareVirtualPorts(const SDMDevice* port, AdapterEntry* entry) {
    if (entry->InterfaceType != ADAPTER_IF_FC) return;
    char key[VORN_SERIAL_SIZE]{};
    AdapterEntryKey(entry, key, sizeof key);
    for (SD_UINT32 id = 0; id < ADAPTER_VPORT_BLOCKS; ++id) {
        const SDMDevice* v = FindVMwareVirtualPort(port, key, id);
        if (v == nullptr) continue;
        std::memcpy(entry->WindowsVPortArray[id], v->DevicePortProperty.WWN, 8);
        entry->vPortId = static_cast<SD_UINT16>(id);
    }
}

}  // namespace

// Walks the core model: an adapter entry for every named port, inserted in WWPN
// order into the adapter-entry list, and a chain of copies of the physical FC
// ports in WWPN order. Null (the chain released) when a copy cannot be made.
SDMDevice* SortAdapterList(SDMDeviceList* core, SDMDeviceList* chain) {
    *chain = SDMDeviceList{};
    std::string path(OSSGetDirPath());
    if (path.empty() || path.back() != '/') path += '/';
    path += kAdapterPropertiesFileName;
    SubSystemIDListPtr table = LoadAdapterSubSystemList(path);
    const bool vmware = DetectLinuxVmWareDriver() != 0;
    for (SDMDevice* d = core->firstDevice; d != nullptr; d = d->next) {
        const SD_UINT8* n = d->DeviceNodeProperty.WWN;
        const SD_UINT8* p = d->DevicePortProperty.WWN;
        if (IsZeroWwn(n) && IsZeroWwn(p)) {
            VORNLogMessage(VORN_MSG_DEBUG, "SortAdapterList: Skipping HBA=%u WWNN=" WWN_FMT " WWPN=" WWN_FMT,
                           d->DeviceNumber, WWN_ARGS(n), WWN_ARGS(p));
            continue;
        }
        if (AdapterEntry* entry = CreateNewAdapter(); entry != nullptr) {
            if (CreateAdapterEntryFromSDMDevice(d, entry) == 0) {
                if (const AdapterSubSystemIDList* row =
                        table ? FindSubSystemInSubSystemList(table.get(), entry->SubSystemID, entry->SubVendorID)
                              : nullptr) {
                    entry->EnableStatus = IsSubSystemRowSupported(row) ? 1 : 0;
                    std::snprintf(entry->Description, sizeof entry->Description, "%.*s",
                                  static_cast<int>(sizeof row->Desc), row->Desc);
                }
                if (vmware) RecordVMwareVirtualPorts(d, entry);
                if (AddAdapterToAdapterList(entry) != 0) DeleteAdapter(entry);
            } else {
                DeleteAdapter(entry);
            }
        }
        if (d->DeviceNodeProperty.InterfaceType != ADAPTER_IF_FC) continue;
        SDMDevice* copy = CopyRecord(d);
        if (copy == nullptr) {
            VORNLogMessage(VORN_MSG_DEBUG, "SortAdapterList: Unable to allocate memory!");
            FreeChain(chain->firstDevice);
            *chain = SDMDeviceList{};
            break;
        }
        InsertBefore(*chain, FindLocationInListFor(chain, copy, vmware), copy);
    }
    if (table) DeleteSubSystemIDList(table);
    return chain->firstDevice;
}

// Moves the chain's records into a new list in ascending serial-number order
// (by adapter key, so adapters of unknown serial number stay apart; ports of
// one adapter keep the chain's order; the chain is left empty) and rebuilds
// the adapter-entry list from it. The chain is dropped
// right after: a copy of each record would leave a freed record between the
// adapter entries for every port, heap the process keeps until it ends.
SDMDeviceList BuildVORNDeviceList(SDMDeviceList* chain) {
    SDMDeviceList list{};
    std::vector<std::string> keys;
    SDMDevice* d = chain->firstDevice;
    *chain = SDMDeviceList{};
    while (d != nullptr) {
        SDMDevice* const record = d;
        d = d->next;
        record->next = record->prev = nullptr;
        char key[VORN_SERIAL_SIZE]{};
        GetAdapterKey(record, key, sizeof key);
        // After every record whose key is not greater.
        SDMDevice* at = list.firstDevice;
        size_t index = 0;
        while (at != nullptr && keys[index] <= key) {
            at = at->next;
            ++index;
        }
        InsertBefore(list, at, record);
        keys.insert(keys.begin() + static_cast<std::ptrdiff_t>(index), key);
        char serial[VORN_SERIAL_SIZE]{};
        GetAdapterSerialNo(record, serial, sizeof serial);
        VORNLogMessage(VORN_MSG_DEBUG, "BuildVORNDeviceList: Adapter instance %u port %d (%d) (%s) " WWN_FMT,
                       record->DeviceNumber, static_cast<int>(record->DeviceChipProperty.PortNumber),
                       static_cast<int>(record->DeviceChipProperty.PciSlotNumber & 7), serial,
                       WWN_ARGS(record->DevicePortProperty.WWN));
    }
    RemoveAllAdaptersFromAdapterList();
    InitAdapterList();
    BuildAdapterEntryList(list.firstDevice);
    VORNLogMessage(VORN_MSG_DEBUG, "BuildVORNDeviceList: Total number of HBAs=%u", list.count);
    return list;
}

int BuildHBADevices() {
    VORNLogMessage(VORN_MSG_DEBUG, "BuildHBADevices: Enter...");
    CloneFreeVORNDeviceList();
    RemoveAllAdaptersFromAdapterList();

    SDMDeviceList chain{};
    SortAdapterList(GetDeviceList(), &chain);
    const SDMDeviceList list = BuildVORNDeviceList(&chain);

    g_VORNDeviceList = list;
    g_MyDeviceList = list;
    for (SDMDevice* d = g_MyDeviceList.firstDevice; d != nullptr; d = d->next) {
        updateModelStrForSingleBIOSHBA(d);
        VORNLogMessage(VORN_MSG_DEBUG, "BuildHBADevices: Adding (HBA %u " WWN_FMT " %s) to HBA list.", d->DeviceNumber,
                       WWN_ARGS(d->DevicePortProperty.WWN), d->DeviceNodeProperty.Model);
    }
    VORNLogMessage(VORN_MSG_DEBUG, "BuildHBADevices: Added %u HBA(s)", g_MyDeviceList.count);
    for (SDMDevice* d = g_MyDeviceList.firstDevice; d != nullptr; d = d->next) {
        VORNLogMessage(VORN_MSG_DEBUG, "BuildHBADevices: HBA %u %s physical port %d WWPN " WWN_FMT, d->DeviceNumber,
                       d->DeviceNodeProperty.Model, GetPortIndex(d), WWN_ARGS(d->DevicePortProperty.WWN));
        if (isSingleBIOSChipOEM(d) == 12) {
            VORNLogMessage(VORN_MSG_DEBUG, "BuildHBADevices: Found OEM HBA with single BIOS chip.");
            UpdateHBAVersionForOEM(d);
        }
    }
    return 0;
}
