// Small per-port queries, the adapter header and OEM helpers.
#include "frontend/adapter_queries.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/adapter_ssid_list.h"
#include "core/core_log.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/file_util.h"
#include "frontend/hba_device_list.h"
#include "frontend/model_predicates.h"
#include "frontend/output.h"
#include "frontend/str_util.h"
#include "mgmt/sdapi.h"

namespace {

#define WWN_FMT "%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X"
#define WWN_ARGS(w) (w)[0], (w)[1], (w)[2], (w)[3], (w)[4], (w)[5], (w)[6], (w)[7]

void put(char* out, size_t size, const std::string& text) {
    if (out != nullptr && size > 0) std::snprintf(out, size, "%s", text.c_str());
}

std::string model_of(const SDMDevice* d) { return std::string(d->DeviceNodeProperty.Model, strnlen(d->DeviceNodeProperty.Model, 32)); }

// The text of a fixed field (terminated within it or not).
template <size_t N>
std::string field(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}

// The plain table's row of the port, read afresh; null without one.
struct TableRow {
    SubSystemIDListPtr table;
    const AdapterSubSystemIDList* row = nullptr;
};

TableRow row_of(const SDMDevice* port, const std::string& path) {
    TableRow r;
    r.table = BuildSubSystemListFromFile(path);
    if (r.table) r.row = FindSubSystemInSubSystemList(r.table.get(), GetNvramSubSystemID(port), GetNvramSubVendorID(port));
    return r;
}

std::string table_path() {
    std::string path(OSSGetDirPath());
    if (!path.empty() && path.back() != '/') path += '/';
    return path + kAdapterPropertiesFileName;
}

}  // namespace

int FindWhichISP2GType(const SDMDevice* pDevice) {
    if (pDevice == nullptr) return -1;
    switch (pDevice->DeviceChipProperty.DeviceID) {
        case 0x2200: return 0;
        case 0x2300:
        case 0x2310:
        case 0x2312: return 1;
        case 0x6312: return 2;
        case 0x2322: return 3;
        case 0x6322: return 4;
        default: return -1;
    }
}

int GetAdapterPCIFunctionNumber(const SDMDevice* pDevice) {
    if (pDevice == nullptr) {
        CoreLogMessage(ZV_MSG_DEBUG, "GetAdapterPCIFunctionNumber: Adapter not found!");
        return -1;
    }
    CHIPPROPERTY chip{};
    const SD_UINT32 st = SDGetHbaDeviceChipProperty(pDevice->DeviceHandle, &chip);
    if (st != SDERR_SUCCESS) {
        CoreLogMessage(ZV_MSG_DEBUG, "GetAdapterPCIFunctionNumber: SDGetHbaDeviceChipProperty failed (0x%x) (%s)", st,
                       SDGetErrorString(st));
        chip.PciBusNumber = pDevice->DeviceChipProperty.PciBusNumber;
        chip.PciSlotNumber = pDevice->DeviceChipProperty.PciSlotNumber;
    }
    const int function = chip.PciSlotNumber & 7;
    std::printf("%d", function);
    std::fflush(stdout);
    CoreLogMessage(ZV_MSG_DEBUG, "Device ID: 0x%04x", pDevice->DeviceChipProperty.DeviceID);
    CoreLogMessage(ZV_MSG_DEBUG, "Chip Type: 0x%04x", pDevice->DeviceChipProperty.ChipType);
    CoreLogMessage(ZV_MSG_DEBUG, "PCI Bus Number: %d", chip.PciBusNumber);
    CoreLogMessage(ZV_MSG_DEBUG, "PCI Device Number: %d", (chip.PciSlotNumber >> 3) & 0x1F);
    CoreLogMessage(ZV_MSG_DEBUG, "PCI Function Number: %d", function);
    return function;
}

int GetHBAHardwareType(const SDMDevice* pDevice, char* acHWType, size_t size) {
    if (pDevice != nullptr && acHWType != nullptr && size > 0) {
        const SD_UINT16 ssdid = GetNvramSubSystemID(pDevice), ssvid = GetNvramSubVendorID(pDevice);
        if (ssdid == 0x0119 || ssdid == 0x011C || ssdid == 0x012F || ssdid == 0x0130 || ssdid == 0x0132)
            CoreLogMessage(ZV_MSG_DEBUG, "Tunsby HBA detected (SSVID/SSDID = 0x%04x/0x%04x)", ssvid, ssdid);
        if (ssdid == 0x013E || ssdid == 0x013F) {
            put(acHWType, size, "2422");
        } else {
            const std::string model = model_of(pDevice);
            put(acHWType, size, model.size() > 3 ? model.substr(3) : std::string());
        }
    }
    CoreLogMessage(ZV_MSG_DEBUG, "HBA HW Type %s", (acHWType != nullptr && size > 0) ? acHWType : "");
    return 0;
}

void PrintHBAHeader(const SDMDevice* pDevice) {
    if (pDevice == nullptr) return;
    const std::string rule(70, '-');
    char model[32] = {};
    const std::string raw = model_of(pDevice);
    StripEndWhiteSpace(raw.c_str(), model, sizeof model);
    if (isSUNHBA(pDevice) != 0 && std::strstr(model, "-S") == nullptr) {
        const size_t n = std::strlen(model);
        if (n + 2 < sizeof model) std::memcpy(model + n, "-S", 3);
    }
    const SD_UINT8* w = pDevice->DevicePortProperty.WWN;
    const SD_UINT32 id = pDevice->DevicePortProperty.PortID;
    PrintOutPut("%s", rule.c_str());
    if (isVirtualPortHBA(pDevice) != 0)
        PrintOutPut("HBA Instance %u: %s vPort %d WWPN " WWN_FMT " PortID %02X-%02X-%02X", pDevice->DeviceNumber, model,
                    GetVirtualPortID(pDevice), WWN_ARGS(w), (id >> 16) & 0xFF, (id >> 8) & 0xFF, id & 0xFF);
    else if (isFCOeHBA(pDevice) != 0)
        PrintOutPut("HBA Instance %u: %s", pDevice->DeviceNumber, model);
    else
        PrintOutPut("HBA Instance %u: %s Port %d WWPN " WWN_FMT " PortID %02X-%02X-%02X", pDevice->DeviceNumber, model,
                    GetPortIndex(pDevice), WWN_ARGS(w), (id >> 16) & 0xFF, (id >> 8) & 0xFF, id & 0xFF);
    PrintOutPut("%s", rule.c_str());
}

int ValidateAdapterProperties(const SDMDevice* pDeviceIter, char* acHWType, size_t size) {
    const std::string path = table_path();
    VORNLogMessage(VORN_MSG_DEBUG, "Adapter Properties File (%s)", path.c_str());
    if (pDeviceIter == nullptr) return 7;
    TableRow r = row_of(pDeviceIter, path);
    int result = 7;
    if (r.row != nullptr) {
        const AdapterSubSystemIDList& row = *r.row;
        VORNLogMessage(VORN_MSG_DEBUG, "subsysDeviceId: %s subsysVendorId: %s\nDebug: Desc: %s\nDebug: ISP: %s, Supported: %s",
                       field(row.AdapterID).c_str(), field(row.VendorID).c_str(), field(row.Desc).c_str(),
                       field(row.ISP).c_str(), field(row.Supported).c_str());
        const std::string isp = field(row.ISP);
        put(acHWType, size, isp.size() > 3 ? isp.substr(3) : std::string());
        VORNLogMessage(VORN_MSG_DEBUG, "HBA hardware type: %s", (acHWType != nullptr && size > 0) ? acHWType : "");
        result = field(row.Supported).find("TRUE") != std::string::npos ? 0 : 7;
    } else {
        VORNLogMessage(VORN_MSG_WARNING, "Unknown adapter SSDID (0x%04X) and SSVID (0x%04X)!",
                       GetNvramSubSystemID(pDeviceIter), GetNvramSubVendorID(pDeviceIter));
        char id[8];
        std::snprintf(id, sizeof id, "%x", pDeviceIter->DeviceChipProperty.DeviceID);
        put(acHWType, size, id);
    }
    if (r.table) DeleteSubSystemIDList(r.table);
    return result;
}

int DetectAdapterType(const SDMDevice* pDevice, char* acHWType, size_t size) {
    if (pDevice == nullptr) return 8;
    return ValidateAdapterProperties(pDevice, acHWType, size);
}

int GetHardwareType(const SDMDevice* pDevice, char* acHWType, size_t hwSize, char* acISPType, size_t ispSize) {
    if (pDevice == nullptr || acHWType == nullptr || hwSize == 0 || acISPType == nullptr || ispSize == 0) return 0;
    const std::string path = table_path();
    VORNLogMessage(VORN_MSG_DEBUG, "GetHardwareType: Adapter properties file (%s)...", path.c_str());
    TableRow r = row_of(pDevice, path);
    if (r.row != nullptr) {
        const AdapterSubSystemIDList& row = *r.row;
        VORNLogMessage(VORN_MSG_DEBUG, "SSVID=%s SSDID=%s, ISP=%s, Support=%s", field(row.VendorID).c_str(),
                       field(row.AdapterID).c_str(), field(row.ISP).c_str(), field(row.Supported).c_str());
        const std::string isp = field(row.ISP);
        const size_t start = isp.find_first_not_of("ISP");
        const std::string run =
            start == std::string::npos ? std::string() : isp.substr(start, isp.find_first_of("ISP", start) - start);
        put(acISPType, ispSize, run);
    }
    if (r.table) DeleteSubSystemIDList(r.table);
    acISPType[ispSize - 1] = '\0';
    VORNLogMessage(VORN_MSG_DEBUG, "GetHardwareType: HBA ISP=%s", acISPType);
    put(acHWType, hwSize, std::string(acISPType, strnlen(acISPType, 2)));
    VORNLogMessage(VORN_MSG_DEBUG, "GetHardwareType: HBA HW Type=%s", acHWType);
    return static_cast<int>(std::strlen(acHWType));
}

int GetNumberOfPortsOEMHBA(const SDMDevice* pDevice) {
    if (pDevice == nullptr) return 0;
    const SD_UINT16 ssdid = GetNvramSubSystemID(pDevice), ssvid = GetNvramSubVendorID(pDevice);
    int count = 0;
    for (const SDMDevice* d = GetMyDeviceList()->firstDevice; d != nullptr; d = d->next) {
        if (count == 3) count = 0;
        if (GetNvramSubSystemID(d) == ssdid && GetNvramSubVendorID(d) == ssvid) ++count;
    }
    return count;
}

int UpdateModelStringForBladeServer(char* pModel, size_t size) {
    if (pModel == nullptr || size == 0) return 0;
    const size_t n = strnlen(pModel, size);
    if (n >= size) return 0;
    const bool blade = std::strstr(pModel, "IBM") != nullptr || std::strstr(pModel, "FCEC") != nullptr ||
                       std::strstr(pModel, "FCI/O-CARD2Gb/s") != nullptr;
    if (blade && std::strstr(pModel, "-piva") == nullptr && n + 5 < size) std::memcpy(pModel + n, "-piva", 6);
    return 0;
}
