// Update dispatch: refusals, update classes and the hand-over to each class's flow.
#include "dispatch/update_dispatch.h"

#include <cstdio>
#include <cstring>
#include <span>
#include <string>

#include "core/chip_types.h"
#include "core/core_quiet.h"
#include "engines/engine_entry.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/hba_device_list.h"
#include "frontend/host_type.h"
#include "frontend/model_predicates.h"
#include "frontend/output.h"
#include "frontend/str_util.h"
#include "image/option_rom_request.h"
#include "mgmt/sdapi.h"

namespace {

constexpr std::size_t kModelTextMax = 31;

std::string bounded(const char* text, std::size_t size) { return std::string(text, strnlen(text, size)); }

std::string key_of(const SDMDevice* port) {
    char key[VORN_SERIAL_SIZE] = {};
    GetAdapterKey(port, key, sizeof key);
    return key;
}

bool same_wwpn(const SDMDevice* a, const SDMDevice* b) {
    return std::memcmp(a->DevicePortProperty.WWN, b->DevicePortProperty.WWN, sizeof a->DevicePortProperty.WWN) == 0;
}

// The model with trailing white space removed, at most 31 characters, "-S"
// added for the OEM adapters that carry it in their name.
std::string model_text(const SDMDevice* port) {
    std::string model = bounded(port->DeviceNodeProperty.Model, sizeof port->DeviceNodeProperty.Model);
    while (!model.empty() && (model.back() == ' ' || model.back() == '\t' || model.back() == '\n' ||
                              model.back() == '\r' || model.back() == '\v' || model.back() == '\f'))
        model.pop_back();
    if (model.size() > kModelTextMax) model.resize(kModelTextMax);
    if (isSUNHBA(port) != 0 && model.find("-S") == std::string::npos) {
        model += "-S";
        if (model.size() > kModelTextMax) model.resize(kModelTextMax);
    }
    return model;
}

// The second chip's port of a four-port adapter: same adapter key, another
// WWPN, an odd port index above 2.
SDMDevice* find_partner(SDMDevice* pDevice) {
    if (GetNumberOfPortsOnThisHBA(pDevice) <= 2) return nullptr;
    const std::string key = key_of(pDevice);
    for (SDMDevice* p = GetMyDeviceList()->firstDevice; p != nullptr; p = p->next) {
        if (striscmp(key_of(p).c_str(), key.c_str()) != 0) continue;
        if (same_wwpn(p, pDevice)) continue;
        const int index = GetPortIndex(p);
        if (index > 2 && (index % 2) == 1) return p;
    }
    return nullptr;
}

bool is_go(int updateType) { return updateType == 1 || updateType == 3; }

// The flash permission of the port; with every port taken, the port-order
// rules of older adapters do not hold the update back.
int update_type(const SDMDevice* port, SD_INT32 AllPorts) {
    int updateType = CheckAdapterFlashUpdateStatus(port, 0);
    if (AllPorts != 0) {
        if (updateType == 4) updateType = 3;
        if (updateType == 2) updateType = 1;
    }
    return updateType;
}

// Console errors follow the console's silence ("-s").
bool console_silent() { return GetEnableDebugLog() != 0 && CoreGetQuietMode() != 0; }

// A flow this build does not carry must never look like an update that was
// not needed or that worked: say so where the user looks.
void report_not_available(const SDMDevice* port, const std::string& model, const char* flow) {
    scfxPrint("Flash update failed on HBA instance %u - %s: the %s is not available in this version!",
              port->DeviceNumber, model.c_str(), flow);
    if (!console_silent())
        std::fprintf(stderr, "Error: Flash update failed on HBA instance %u - %s: the %s is not available in this version!\n",
                     port->DeviceNumber, model.c_str(), flow);
}

void not_needed(const SDMDevice* port, const std::string& model) {
    VORNLogMessage(VORN_MSG_INFO, "HBA instance %lu - %s does not need to be upgraded.",
                   static_cast<unsigned long>(port->DeviceNumber), model.c_str());
}

// A refusal is said where the user looks, not only in the debug log.
void not_supported(const SDMDevice* port, const std::string& model) {
    scfxPrint("Flash update is not supported on HBA instance %lu - %s!", static_cast<unsigned long>(port->DeviceNumber),
              model.c_str());
    VORNLogMessage(VORN_MSG_INFO, "Flash update is not supported on HBA instance %lu - %s!",
                   static_cast<unsigned long>(port->DeviceNumber), model.c_str());
}

void os_refused() { VORNLogMessage(VORN_MSG_INFO, "Flash update is unsupported with current OS!"); }

// A flow of the classes that write the port and then the partner port.
enum class PortFlow { Region, StdBios, Cna, K7r, Torvi };

const char* flow_name(PortFlow flow) {
    switch (flow) {
        case PortFlow::Region: return "option ROM region update";
        case PortFlow::StdBios: return "BIOS update";
        case PortFlow::Cna: return "converged adapter flash update engine";
        case PortFlow::K7r: return "K7R flash update engine";
        case PortFlow::Torvi: return "Torvi flash update engine";
    }
    return "flash update";
}

SD_INT32 run_port_flow(PortFlow flow, SDMDevice* port, const char* file, SD_UINT16 disableReset) {
    switch (flow) {
        case PortFlow::Region: return OptionROMRegionUpdate(port, file);
        case PortFlow::StdBios: return DoStdBiosUpdate(port, file);
        case PortFlow::Cna: return CNAOptionROMRegionUpdate(port, file, disableReset);
        case PortFlow::K7r: return CNAK7ORevA0ptionROMRegionUpdate(port, file, disableReset);
        case PortFlow::Torvi: return CNATorviOptionROMRegionUpdate(port, file, disableReset);
    }
    return ENGINE_NOT_AVAILABLE;
}

// Writes the port, then the partner; the first failure ends it. The count
// is 1 only after the last written port succeeded.
SD_INT32 write_with_partner(PortFlow flow, SDMDevice* port, SDMDevice* partner, const char* file,
                            SD_UINT16 disableReset, const std::string& model, SD_UINT16* count) {
    SDMDevice* last = port;
    SD_INT32 status = run_port_flow(flow, port, file, disableReset);
    if (status == ENGINE_NOT_AVAILABLE) report_not_available(port, model, flow_name(flow));
    if (status == 0 && partner != nullptr) {
        last = partner;
        status = run_port_flow(flow, partner, file, disableReset);
        if (status == ENGINE_NOT_AVAILABLE) report_not_available(partner, model, flow_name(flow));
    }
    if (status == 0) {
        UpdateHBADeviceNodeProperty(last);
        *count = 1;
    }
    return status;
}

// The Dorne engine that takes the adapter: the on-line one when the library
// and the adapter both offer on-line update.
bool dorne_online(SDMDevice* pDevice) {
    SD_UINT64 capability = 0;
    return CoreIsOnlineFlashUpdateSupportedZOZIRA() != 0 && CheckFlashUpdateCapabilities(pDevice, &capability) == 0 &&
           capability != 0;
}

}  // namespace

SDMDevice* FindSDMDeviceToUpdateFlash(SDMDevice* pDevice) {
    if (pDevice == nullptr) return nullptr;
    if (CoreGetISPType(pDevice) < 8) return pDevice;
    if ((pDevice->DeviceFlashSequenceNumber % 2) != 0) return pDevice;
    const std::string key = key_of(pDevice);
    for (SDMDevice* p = GetMyDeviceList()->firstDevice; p != nullptr; p = p->next) {
        if (isVirtualPortHBA(p) != 0) continue;
        if (striscmp(key_of(p).c_str(), key.c_str()) != 0) continue;
        if (same_wwpn(p, pDevice)) continue;
        if (p->DeviceNumber == pDevice->DeviceNumber) continue;
        if (p->DeviceFlashSequenceNumber != pDevice->DeviceFlashSequenceNumber - 1) continue;
        return p;
    }
    return pDevice;
}

SD_INT32 doISPCheckForOptionROM(SDMDevice* pDevice) {
    if (pDevice == nullptr) return UPDCLASS_UNSUPPORTED;
    const SD_UINT16 ssdid = GetNvramSubSystemID(pDevice);
    const SD_UINT16 ssvid = GetNvramSubVendorID(pDevice);
    SD_UINT16 isp = 0;
    if (isAdapterSupported(pDevice, &isp) == 0) return UPDCLASS_UNSUPPORTED;
    const bool ia64 = isHostSystemType("IA64") != 0 || isHostSystemType("ia64") != 0;
    switch (CoreGetISPType(pDevice)) {
        case 0:
        case 14:
            return UPDCLASS_UNSUPPORTED;
        case 1:
            return UPDCLASS_STD_BIOS_OLDEST;
        case 2:
        case 3:
        case 4:
            if (ia64) return UPDCLASS_OS_REFUSED;
            if ((ssvid == 0x1077 && ssdid == 0x0131) || (ssvid == 0x103C && ssdid == 0x12BA)) return UPDCLASS_OS_REFUSED;
            return UPDCLASS_STD_BIOS;
        case 5:
            return UPDCLASS_REGION_RECHECK;
        case 6:
        case 7:
            return ia64 ? UPDCLASS_OS_REFUSED : UPDCLASS_STD_BIOS_OLD;
        case 8:
        case 9:
        case 10:
        case 11:
        case 13:
            return UPDCLASS_REGION;
        case 12:
            return isVMwareSpecificInboxDriver(pDevice) != 0 ? UPDCLASS_VMWARE_INBOX : UPDCLASS_REGION;
        case 15:
            return UPDCLASS_CNA;
        case 17:
            return UPDCLASS_K7R;
        case 21:
        case 24:
            return UPDCLASS_TORVI;
        case 25:
            return UPDCLASS_DORNE;
        case 26:
            return UPDCLASS_PEMRA;
        case 27:
            return UPDCLASS_VREL;
        default:
            return UPDCLASS_UNKNOWN;
    }
}

SD_INT32 CheckUpdateRefusal(SDMDevice* pDevice, SD_INT32 AllPorts, bool report) {
    if (pDevice == nullptr) return UPD_NO_DEVICE;
    SD_INT32 refusal = UPD_SUCCESS;
    if (isVirtualPortHBA(pDevice) != 0) {
        refusal = UPD_VIRTUAL_PORT;
    } else {
        SDMDevice* port = AllPorts != 0 ? FindSDMDeviceToUpdateFlash(pDevice) : pDevice;
        // A lockdown query that fails does not refuse the update.
        SD_UINT8 lockdown = 0;
        if (GetAdapterLockdownMode(port, 1, &lockdown) == 0 && lockdown != 0) {
            refusal = UPD_LOCKDOWN;
        } else if (CoreGetISP8GbType(port) != 0 && isVMwareSpecificInboxDriver(port) != 0) {
            refusal = UPD_DRIVER_REFUSED;
        } else if (const int updateType = update_type(port, AllPorts);
                   updateType == 5 || updateType == 6 || updateType == 7) {
            refusal = UPD_UNSUPPORTED;
        }
    }
    if (report) ReportUpdateRefusal(pDevice, AllPorts, refusal);
    return refusal;
}

void ReportUpdateRefusal(SDMDevice* pDevice, SD_INT32 AllPorts, SD_INT32 refusal) {
    if (pDevice == nullptr) return;
    const SDMDevice* port = AllPorts != 0 && refusal != UPD_VIRTUAL_PORT ? FindSDMDeviceToUpdateFlash(pDevice) : pDevice;
    switch (refusal) {
        case UPD_VIRTUAL_PORT: {
            const SD_UINT8* w = pDevice->DevicePortProperty.WWN;
            VORNLogMessage(VORN_MSG_DEBUG,
                           "updateOptionROMSingleHBA: Option is not available with virtual port HBA "
                           "(%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X)!",
                           w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
            break;
        }
        case UPD_LOCKDOWN:
            scfxPrint("Fw lockdown is enabled. Flash update is restricted to HBA instance %d (%s)!",
                      static_cast<int>(port->DeviceNumber),
                      bounded(port->DeviceNodeProperty.Model, sizeof port->DeviceNodeProperty.Model).c_str());
            break;
        case UPD_DRIVER_REFUSED:
            VORNLogMessage(VORN_MSG_INFO, "Option is currently disabled with current OS/driver!");
            break;
        case UPD_UNSUPPORTED:
            not_supported(port, model_text(port));
            break;
        default:
            break;
    }
}

SD_INT32 CheckUpdateImage(SDMDevice* pDevice, const char* ROMFileName, SD_INT32 AllPorts) {
    if (pDevice == nullptr || isVirtualPortHBA(pDevice) != 0) return UPD_SUCCESS;
    SDMDevice* port = AllPorts != 0 ? FindSDMDeviceToUpdateFlash(pDevice) : pDevice;
    // The other flows read and check their file before their first write.
    if (doISPCheckForOptionROM(port) != UPDCLASS_DORNE) return UPD_SUCCESS;
    const char* file = ROMFileName != nullptr ? ROMFileName : "";
    if (const int rc = addUserOptionROMRequest("all", file); rc != 0) return rc;
    SD_INT32 status = UPD_SUCCESS;
    // An adapter the update would not write has no image to refuse.
    if (is_go(update_type(port, AllPorts)))
        status = dorne_online(pDevice) ? DorneOnlineCheckImage(pDevice, file) : DorneOfflineCheckImage(pDevice, file);
    freeUserOptionROMReq();
    VORNLogMessage(VORN_MSG_DEBUG, "CheckUpdateImage: HBA %u status %d", pDevice->DeviceNumber, status);
    return status;
}

SD_INT32 CheckUpdateSession(SDMDevice* pDevice, SD_INT32 AllPorts) {
    if (pDevice == nullptr || isVirtualPortHBA(pDevice) != 0) return UPD_SUCCESS;
    SDMDevice* port = AllPorts != 0 ? FindSDMDeviceToUpdateFlash(pDevice) : pDevice;
    if (doISPCheckForOptionROM(port) != UPDCLASS_DORNE) return UPD_SUCCESS;
    if (!is_go(update_type(port, AllPorts))) return UPD_SUCCESS;
    // The engine opens its session on the handle it is given.
    if (!zvapi_flash_session_held(pDevice->DeviceHandle) || !dorne_online(pDevice)) return UPD_SUCCESS;
    const SD_INT32 status = DorneOnlineRefuseHeldSession(pDevice);
    VORNLogMessage(VORN_MSG_DEBUG, "CheckUpdateSession: HBA %u status %d", pDevice->DeviceNumber, status);
    return status;
}

SD_INT32 updateOptionROMSingleHBA(SDMDevice* pDevice, const char* ROMFileName, SD_UINT16* NoHBAUpdated,
                                  SD_INT32 AllPorts, SD_UINT16 DisableReset) {
    SD_UINT16 count = 0;
    if (pDevice == nullptr) {
        if (NoHBAUpdated != nullptr) *NoHBAUpdated = 0;
        return UPD_NO_DEVICE;
    }
    if (const SD_INT32 refusal = CheckUpdateRefusal(pDevice, AllPorts); refusal != UPD_SUCCESS) return refusal;
    SDMDevice* port = AllPorts != 0 ? FindSDMDeviceToUpdateFlash(pDevice) : pDevice;
    const int chipType = CoreGetISPType(port);
    if (chipType == 24) DisableReset = 0;
    const std::string model = model_text(port);
    SDMDevice* partner = find_partner(pDevice);
    int updateType = update_type(port, AllPorts);

    const char* file = ROMFileName != nullptr ? ROMFileName : "";
    SD_INT32 status = UPD_SUCCESS;
    bool freeRequest = false;
    const SD_INT32 updateClass = doISPCheckForOptionROM(port);
    switch (updateClass) {
        case UPDCLASS_REGION_RECHECK:
            updateType = CheckAdapterFlashUpdateStatus(port, 0);
            [[fallthrough]];
        case UPDCLASS_REGION:
            if (is_go(updateType)) {
                if (const int rc = addUserOptionROMRequest("all", file); rc != 0) return rc;
                status = write_with_partner(PortFlow::Region, port, partner, file, DisableReset, model, &count);
                freeRequest = true;
            } else if (updateClass == UPDCLASS_REGION) {
                not_needed(port, model);
                status = UPD_NOT_NEEDED;
                count = 1;
            } else if (updateType == 5) {
                os_refused();
                status = UPD_OS_REFUSED;
            } else {
                not_supported(port, model);
                status = UPD_UNSUPPORTED;
            }
            break;
        case UPDCLASS_STD_BIOS:
        case UPDCLASS_STD_BIOS_OLD:
        case UPDCLASS_STD_BIOS_OLDEST:
            if (is_go(updateType)) {
                if (const int rc = addUserOptionROMRequest(nullptr, file); rc != 0) return rc;
                status = write_with_partner(PortFlow::StdBios, port, partner, file, DisableReset, model, &count);
                freeRequest = true;
            } else if (updateType == 5) {
                os_refused();
                status = UPD_OS_REFUSED;
            } else {
                not_supported(port, model);
                status = UPD_UNSUPPORTED;
            }
            break;
        case UPDCLASS_OS_REFUSED:
            scfxPrint("Flash update is unsupported with current OS!");
            status = UPD_OS_REFUSED;
            break;
        case UPDCLASS_UNKNOWN:
            scfxPrint("Unknown adapter type (HBA %ld ssvid=0x%04x ssdid=0x%04x)!", static_cast<long>(port->DeviceNumber),
                      GetNvramSubVendorID(port), GetNvramSubSystemID(port));
            status = UPD_UNKNOWN_ADAPTER;
            break;
        case UPDCLASS_UNSUPPORTED:
            scfxPrint("Flash update is not supported on HBA instance %lu - %s!",
                      static_cast<unsigned long>(port->DeviceNumber), model.c_str());
            status = UPD_UNSUPPORTED;
            break;
        case UPDCLASS_CNA:
        case UPDCLASS_K7R:
        case UPDCLASS_TORVI: {
            const PortFlow flow = updateClass == UPDCLASS_CNA ? PortFlow::Cna
                                  : updateClass == UPDCLASS_K7R ? PortFlow::K7r
                                                                : PortFlow::Torvi;
            if (is_go(updateType)) {
                if (const int rc = addUserOptionROMRequest("all", file); rc != 0) return rc;
                status = write_with_partner(flow, port, partner, file, DisableReset, model, &count);
                freeRequest = true;
            } else if (updateType >= 4 && updateType <= 7) {
                if (updateClass == UPDCLASS_TORVI) {
                    not_needed(port, model);
                } else {
                    os_refused();
                }
                status = updateClass == UPDCLASS_K7R ? UPD_OS_REFUSED : UPD_UNSUPPORTED;
            } else {
                not_needed(port, model);
                status = UPD_NOT_NEEDED;
                count = 1;
            }
            break;
        }
        case UPDCLASS_DORNE:
        case UPDCLASS_VREL: {
            if (const int rc = addUserOptionROMRequest("all", file); rc != 0) return rc;
            if (!is_go(updateType)) {
                not_needed(port, model);
                if (updateType == 19 || (updateType >= 5 && updateType <= 7)) {
                    status = UPD_UNSUPPORTED;
                } else {
                    status = UPD_NOT_NEEDED;
                    count = 1;
                }
                break;
            }
            const char* engine = nullptr;
            if (updateClass == UPDCLASS_DORNE) {
                if (dorne_online(pDevice)) {
                    engine = "Dorne online flash update engine";
                    status = DorneOnlineFlashUpdate(pDevice, file, DisableReset);
                } else {
                    engine = "Dorne offline flash update engine";
                    status = DorneFlashUpdate(pDevice, file, DisableReset);
                }
            } else {
                engine = "Vrel online flash update engine";
                status = VrelOnlineFlashUpdate(pDevice, file, DisableReset, 0);
                if (status != 0 && status != UPD_SUCCESS_REBOOT)
                    VORNLogMessage(VORN_MSG_INFO, "Flash update failed (Error=%d)", status);
            }
            if (status == ENGINE_NOT_AVAILABLE) report_not_available(pDevice, model, engine);
            if (status == 0 || status == UPD_SUCCESS_REBOOT) {
                count = 1;
                if (partner != nullptr) UpdateHBADeviceNodeProperty(pDevice);
            }
            break;
        }
        default:
            not_supported(port, model);
            status = UPD_UNSUPPORTED_FAMILY;
            break;
    }
    if (freeRequest) freeUserOptionROMReq();
    if (NoHBAUpdated != nullptr) *NoHBAUpdated = count;
    VORNLogMessage(VORN_MSG_DEBUG, "updateOptionROMSingleHBA: retVal=%d NoHBAUpdated=%d ", status, count);
    return status;
}
