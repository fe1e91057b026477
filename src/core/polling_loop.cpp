// The polling loop, its event, port-state and LUN-path handlers, the refresh
// and single-user-mode flags and the failover statistics parameter.
#include "core/polling_loop.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "core/core_log.h"
#include "core/device_discovery.h"
#include "core/device_reinit.h"
#include "core/fabric_queries.h"
#include "core/oss_services.h"
#include "core/preferences.h"
#include "mgmt/fo_api.h"
#include "mgmt/sdapi.h"

namespace {

int g_forceRefresh = 0;
int g_skipAen = 0;
int g_singleUserMode = 0;
int g_configurationChanged = 0;
int g_firstPass = 1;
// Read by another thread of an agent (and the tests) while the loop runs.
std::atomic<SD_UINT32> g_lastEventCode{0};

constexpr const char* kEventNames[] = {"**Unknown**",   "Lip Occurred",   "Link Up",      "Link Down",
                                       "Lip Reset Occurred", "SCR Update", "Device Update",
                                       "Firmware Restart Done", "Dport Diagnosis", "FEC Active"};

constexpr SD_UINT32 kAbilityAen = 0x80000000;
constexpr SD_UINT32 kAbilityFoTarget = 0x08000000;   // bit 27
constexpr SD_UINT32 kAbilityFoLun = 0x04000000;      // bit 26: targets fail over per LUN path

// A rebuild request ends a handler with -2, or is remembered in single-user mode.
int rebuild_answer(const char* line) {
    if (g_singleUserMode != 0) {
        g_configurationChanged = 1;
        return 0;
    }
    CoreLogMessage(ZV_MSG_INFO, "%s", line);
    return CORE_REBUILD;
}

// The status bits of LinkState2 and LinkState1 / LinkState3.
SD_INT32 link2_bit(SD_UINT16 linkState2) {
    switch (linkState2) {
        case 1: return DEVSTAT_LINK2_1;
        case 4: return DEVSTAT_LINK2_4;
        case 5: return DEVSTAT_LINK2_5;
        case 6: return DEVSTAT_LINK2_6;
        default: return 0;
    }
}
constexpr SD_INT32 kLink2Bits = DEVSTAT_LINK2_1 | DEVSTAT_LINK2_4 | DEVSTAT_LINK2_5 | DEVSTAT_LINK2_6;

bool fec_active(const DEVICEPORTPROPERTY& p) { return p.LinkState1 == 3 && (p.LinkState3 & 0x8000) != 0; }

void notify(SDMDevice* d) { CoreGenerateHostNotificationAlarm(d, CORE_NOTIFY_DEVICE_STATUS, d->DeviceStatus, nullptr); }

}  // namespace

const char* CoreGetEventName(SD_UINT32 code) {
    return code < std::size(kEventNames) ? kEventNames[code] : kEventNames[0];
}

SD_UINT32 CoreGetLastEventCode() { return g_lastEventCode.load(); }

int CoreDoSingleRefresh() {
    OSSEnterCriticalSection();
    OSSLeaveCriticalSection();
    return g_forceRefresh;
}

int CoreRequiresSingleRefresh() {
    OSSEnterCriticalSection();
    int result = 0;
    if (GetDeviceList()->count == 0) {
        g_forceRefresh = 1;
        CoreLogMessage(ZV_MSG_DEBUG, "No Fibre Channel Adapters found need refresh.");
        result = 1;
    }
    OSSLeaveCriticalSection();
    return result;
}

int CoreClearSingleRefresh() {
    g_forceRefresh = 0;
    return 0;
}

int CoreForceSingleRefresh() {
    if (g_forceRefresh != 0) return -1;
    g_forceRefresh = 1;
    return 0;
}

int CoreBeginSingleUserMode() {
    g_singleUserMode = 1;
    return 0;
}

int CoreInSingleUserMode() { return g_singleUserMode; }

int CoreEndSingleUserMode() {
    g_singleUserMode = 0;
    if (g_configurationChanged != 0) {
        CoreLogMessage(ZV_MSG_DEBUG, "CoreEndSingleUserMode: Out of single user mode mode - Notifying clients of change");
        CoreForceSingleRefresh();
        g_configurationChanged = 0;
    }
    return 0;
}

int CoreConfigurationChanged() { return g_configurationChanged; }

void CoreSetSkipAen(int skip) { g_skipAen = skip; }
int CoreGetSkipAen() { return g_skipAen; }

int CoreGenerateHostNotificationAlarm(SDMDevice* device, int kind, int status, const char* text) {
    return OSSGenerateHostNotificationAlarm(device, kind, status, text);
}

int CoreFOSetParameters(int mode) {
    SDMDevice* d = GetDeviceList()->firstDevice;
    if (d == nullptr || (d->DeviceAbilityFlags & (kAbilityFoTarget | kAbilityFoLun)) == 0) return -1;
    FOPARAMS params{};
    SD_UINT32 st = ISDFoGetSysParams(d->DeviceHandle, &params, 0);
    if (st != SDERR_SUCCESS) {
        CoreLogMessage(ZV_MSG_INFO, "ISDFoGetSysParams: Unable to query system paramters (0x%x) (%s)", st,
                       SDGetErrorString(st));
        return -1;
    }
    const SD_UINT32 wanted = mode == 1 ? 0 : 2;
    if (params.Words[2] == wanted) return 0;
    params.Words[2] = wanted;
    st = ISDFoSetSysParams(d->DeviceHandle, &params, 0);
    if (st != SDERR_SUCCESS) {
        CoreLogMessage(ZV_MSG_ERROR, "ISDFoSetSysParams: Unable to update system paramters (0x%x) (%s)", st,
                       SDGetErrorString(st));
        return -1;
    }
    return 0;
}

int CoreFOStartStatistics() { return CoreFOSetParameters(0); }
int CoreFOStopStatistics() { return CoreFOSetParameters(1); }

int CoreHandleAEN() {
    bool rebuild = false;
    for (SDMDevice* d = GetDeviceList()->firstDevice; d != nullptr; d = d->next) {
        const int number = static_cast<int>(d->DeviceNumber);
        if ((d->DeviceAbilityFlags & kAbilityAen) == 0) {
            CoreLogMessage(ZV_MSG_DEBUG, "CoreHandleAEN: Skipping Device [%d] (AEN Unsupported)", number);
            continue;
        }
        std::array<ASYNCEVENT, CORE_AEN_MAX_EVENTS> events{};
        SD_UINT32 count = 0;
        const SD_UINT32 st = SDGetAen(d->DeviceHandle, events, &count);
        if (st != SDERR_SUCCESS) {
            CoreLogMessage(ZV_MSG_INFO, "SDGetAen: Unable to complete query on device[%d]: (0x%x) (%s)", number, st,
                           SDGetErrorString(st));
            continue;
        }
        if (count > CORE_AEN_MAX_EVENTS) {
            CoreLogMessage(ZV_MSG_DEBUG, "CoreHandleAEN: Device [%d] ajusted count to 64", number);
            count = CORE_AEN_MAX_EVENTS;
        }
        if (count != 0) CoreLogMessage(ZV_MSG_DEBUG, "CoreHandleAEN: Device [%d] has (%d) events", number, static_cast<int>(count));
        SD_INT32 bits = 0;
        for (SD_UINT32 i = 0; i < count; ++i) {
            const SD_UINT32 code = events[i].EventCode;
            g_lastEventCode = code;
            CoreLogMessage(ZV_MSG_INFO, "CoreHandleAEN: Device[%d].Event[%d]: (%s)", number, static_cast<int>(i),
                           CoreGetEventName(code));
            switch (code) {
                case 1: bits |= DEVSTAT_LIP; break;
                case 2:
                    bits |= DEVSTAT_LINK_UP;
                    bits &= ~DEVSTAT_LINK_DOWN;
                    break;
                case 3:
                    bits |= DEVSTAT_LINK_DOWN;
                    rebuild = true;
                    break;
                case 5:
                case 6:
                    bits |= DEVSTAT_DEVICE_UPDATE;
                    rebuild = true;
                    break;
                case 8: bits |= DEVSTAT_DPORT; break;
                case 9: bits |= DEVSTAT_FEC; break;
                default: break;
            }
        }
        if (bits != 0 && bits != d->DeviceStatus) {
            const bool down = (bits & DEVSTAT_LINK_DOWN) != 0;
            d->DeviceStatus = bits | (down ? DEVSTAT_LINK_DOWN_NOTIFIED : DEVSTAT_CHANGE_PENDING);
            CoreLogMessage(ZV_MSG_DEBUG, "CoreHandleAEN: Notification status Device[%d] = [%04x]", number,
                           static_cast<unsigned>(d->DeviceStatus));
            notify(d);
            if (!down) d->DeviceStatus &= ~DEVSTAT_CHANGE_PENDING;
        }
    }
    return rebuild ? rebuild_answer("CoreHandleAEN: Flagging rebuilding of CoreDB...") : 0;
}

int CoreHandlePortStateChange() {
    bool rebuild = false;
    for (SDMDevice* d = GetDeviceList()->firstDevice; d != nullptr; d = d->next) {
        const int number = static_cast<int>(d->DeviceNumber);
        DEVICEPORTPROPERTY port{};
        if (SDGetHbaDevicePortProperty(d->DeviceHandle, 0, &port) != SDERR_SUCCESS) {
            CoreLogMessage(ZV_MSG_ERROR, "CoreHandlePortStateChange: Cannot retrieve port status for device (%d)",
                           number);
            continue;
        }
        if (port.PortState == 1) {
            if ((d->DeviceStatus & DEVSTAT_LINK_DOWN) != 0) {
                d->DeviceStatus &= ~DEVSTAT_LINK_DOWN;
                if ((d->DeviceStatus & DEVSTAT_LINK_DOWN_NOTIFIED) != 0) {
                    d->DeviceStatus &= ~DEVSTAT_LINK_DOWN_NOTIFIED;
                    CoreLogMessage(ZV_MSG_DEBUG, "CoreHandlePortStateChange: Device (%d) - Notification status [%04x]",
                                   number, static_cast<unsigned>(d->DeviceStatus));
                    notify(d);
                }
                if (g_skipAen != 0)
                    CoreLogMessage(ZV_MSG_DEBUG, "CoreHandlePortStateChange: Skipping Rebuild due to disabled AEN");
                else
                    rebuild = true;
            }
            const SD_INT32 before = d->DeviceStatus;
            d->DeviceStatus &= ~(kLink2Bits & ~link2_bit(port.LinkState2));
            if (port.LinkState1 != 2) d->DeviceStatus &= ~DEVSTAT_DPORT;
            if (fec_active(port))
                d->DeviceStatus |= DEVSTAT_FEC;
            else
                d->DeviceStatus &= ~DEVSTAT_FEC;
            if (d->DeviceStatus != before) notify(d);
        } else if (port.PortState == 2 || port.PortState == 3) {
            d->DeviceStatus |= DEVSTAT_LINK_DOWN;
            CoreLogMessage(ZV_MSG_DEBUG, "CoreHandlePortStateChange: Device (%d) - Link Down", number);
            if ((d->DeviceStatus & DEVSTAT_LINK_DOWN_NOTIFIED) == 0) {
                d->DeviceStatus |= DEVSTAT_LINK_DOWN_NOTIFIED;
                if (g_skipAen != 0)
                    CoreLogMessage(ZV_MSG_DEBUG, "CoreHandlePortStateChange: Skipping Rebuild due to disabled AEN");
                else
                    rebuild = true;
            }
            CoreLogMessage(ZV_MSG_DEBUG, "CoreHandlePortStateChange: Device (%d) - Link State [%04x]", number,
                           static_cast<unsigned>(port.LinkState2));
            d->DeviceStatus = (d->DeviceStatus & ~kLink2Bits) | link2_bit(port.LinkState2);
            if (port.LinkState1 == 2)
                d->DeviceStatus |= DEVSTAT_DPORT;
            else
                d->DeviceStatus &= ~DEVSTAT_DPORT;
            notify(d);
        }
    }
    return rebuild ? rebuild_answer("CoreHandlePortStateChange: Rebuilding CoreDB...") : 0;
}

int CoreHandleLunPathChange() {
    std::unique_ptr<FOPATHSINFO> info(new (std::nothrow) FOPATHSINFO{});
    if (!info) return 0;
    for (SDMDevice* d = GetDeviceList()->firstDevice; d != nullptr; d = d->next) {
        if ((d->DeviceAbilityFlags & kAbilityFoLun) == 0) continue;
        for (SDMTarget* t = d->TargetList.firstTarget; t != nullptr; t = t->next) {
            if ((t->TargetAgentFlags & SDM_AGENT_CONFIGURED) == 0 || (t->TargetFlags & SDM_TGT_READY) == 0) continue;
            FOGETPATHS request{};
            request.HbaInstance = d->DeviceNumber;
            const bool byPort = (t->TargetMultipathControl & 0x10) != 0;
            const SD_UINT8* wwn = byPort ? t->DiscTargetProperty.PortWWN : t->DiscTargetProperty.NodeWWN;
            request.HbaAddr.AddressType = byPort ? SD_ADDRESS_BY_PORT_WWN : SD_ADDRESS_BY_NODE_WWN;
            std::memcpy(request.HbaAddr.AddressUsing, wwn, 8);
            *info = FOPATHSINFO{};
            const SD_UINT32 st = ISDFoGetPaths(d->DeviceHandle, &request, info.get(), 0);
            if (st != SDERR_SUCCESS) {
                CoreLogMessage(ZV_MSG_INFO,
                               "Unable to query target (%02x-%02x-%02x-%02x-%02x-%02x-%02x-%02x) for path information "
                               "(0x%x) (%s)",
                               wwn[0], wwn[1], wwn[2], wwn[3], wwn[4], wwn[5], wwn[6], wwn[7], st, SDGetErrorString(st));
                continue;
            }
            for (SDMLun* l = t->LunList.firstLun; l != nullptr; l = l->next) {
                const SD_UINT8 index = l->LunID < FO_MAX_LUNS ? info->CurrentPathIndex[l->LunID] : 0xFF;
                if (index >= 255) {
                    l->LunIsCurrentPath = 1;
                    continue;
                }
                if (std::memcmp(info->PathEntry[index].PortName, t->DiscTargetProperty.PortWWN, 8) != 0) {
                    l->LunIsCurrentPath = 0;
                    continue;
                }
                if (l->LunIsCurrentPath == 1) continue;
                const SD_UINT8* n = t->DiscTargetProperty.NodeWWN;
                const SD_UINT8* p = t->DiscTargetProperty.PortWWN;
                char text[128];
                std::snprintf(text, sizeof text,
                              "%02x-%02x-%02x-%02x-%02x-%02x-%02x-%02x,%02x-%02x-%02x-%02x-%02x-%02x-%02x-%02x,%d,1",
                              n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7], p[0], p[1], p[2], p[3], p[4], p[5], p[6],
                              p[7], static_cast<int>(l->LunID));
                CoreLogMessage(ZV_MSG_DEBUG, "CoreHandleLunPathChange: Updating path %s to clients...", text);
                CoreGenerateHostNotificationAlarm(d, CORE_NOTIFY_LUN_PATH, 0, text);
                l->LunIsCurrentPath = 1;
            }
        }
    }
    return 0;
}

int CorePollingLoop() {
    CoreLogMessage(ZV_MSG_DEBUG, "CorePollingLoop() starting...");
    OSSEnterCriticalSection();
    OSSPreInitializeDevices();
    CoreInitializeDevices();
    OSSPostInitializeDevices();
    OSSUpdateCoreDevices();
    OSSLeaveCriticalSection();
    OSSPreCorePollingLoop();

    std::time_t lastPoll = 0;
    while (OSSContinueCorePollingLoop() != 0) {
        const std::time_t now = std::time(nullptr);
        const bool refresh = g_forceRefresh != 0 || (g_firstPass == 0 && CoreRequiresSingleRefresh() != 0);
        if (now - lastPoll > 5) {
            OSSEnterCriticalSection();
            CoreHandleTargetBeacon();
            OSSLeaveCriticalSection();
        }
        if (!refresh && now - lastPoll <= CoreGetPollingInterval()) {
            OSSSleep(1);
            g_firstPass = 0;
            continue;
        }
        OSSEnterCriticalSection();
        lastPoll = now;
        if (refresh) {
            if (g_singleUserMode == 0) {
                CoreLogMessage(ZV_MSG_INFO, "CorePollingLoop: Forcing rebuild of CoreDB - Notifying clients of change");
                CoreReinitializeDevices(1);
            } else {
                g_configurationChanged = 1;
            }
        } else {
            int events = 0;
            if (g_skipAen != 0)
                CoreLogMessage(ZV_MSG_DEBUG, "CorePollingLoop: Skipping AEN");
            else
                events = CoreHandleAEN();
            const int ports = CoreHandlePortStateChange();
            CoreHandleLunPathChange();
            CoreFOStopStatistics();
            if (g_firstPass == 0 && (events == CORE_REBUILD || ports == CORE_REBUILD)) {
                CoreLogMessage(ZV_MSG_INFO, "CorePollingLoop:  Rebuilding CoreDB - Notifying clients of change");
                CoreReinitializeDevices(1);
            }
        }
        g_forceRefresh = 0;
        OSSLeaveCriticalSection();
        OSSSleep(1);
        g_firstPass = 0;
    }
    CoreLogMessage(ZV_MSG_DEBUG, "CorePollingLoop() ending...");
    return 0;
}
