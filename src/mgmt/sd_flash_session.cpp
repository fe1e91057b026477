// On-line (secured) flash update: capabilities, sessions, firmware attributes
// and on-line activation.
#include <atomic>
#include <cstdio>
#include <unistd.h>

#include "mgmt/sd_library.h"
#include "mgmt/sd_log.h"
#include "mgmt/sd_shared_db.h"
#include "mgmt/sdapi.h"

namespace {
std::atomic<bool> g_onlineMark{false};

// The prologue every session function shares: 0 when the port may take part.
SD_UINT32 session_port(const zvapi_call& call) {
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (call.port->Ident.IsPhysicalFc != 1) return SDERR_NOT_SUPPORTED;
    if (!zvapi_is_online_update_adapter(zvapi_device_id(*call.port))) return SDERR_NOT_SUPPORTED;
    return SDERR_SUCCESS;
}

SD_UINT32 running_attributes(const zvapi_port_record& port, SD_UINT64* attributes) {
    *attributes = 0;
    return zvapi_request_record(port, ZVOP_FW_ATTRIBUTES, {}, attributes);
}
}  // namespace

bool zvapi_online_mark() { return g_onlineMark; }
void zvapi_set_online_mark(bool on) { g_onlineMark = on; }

std::string zvapi_adapter_serial(const zvapi_port_record& port) {
    DEVICENODEPROPERTY node{};
    if (zvapi_request_record(port, ZVOP_NODE_PROPERTY, {}, &node) == SDERR_SUCCESS) {
        std::string serial(node.SerialNumber, strnlen(node.SerialNumber, sizeof node.SerialNumber));
        if (!serial.empty()) return serial;
    }
    // Without a serial number the adapter is still one adapter: key it by
    // its index so that it neither shares nor escapes another's session.
    char key[32];
    std::snprintf(key, sizeof key, "#adapter-%u", port.Ident.AdapterIndex);
    return key;
}

SD_UINT32 SDGetFlashUpdateCapabilities(int Device, SD_UINT32 HbaDevPortNum, SD_UINT64* pCapabilities) {
    (void)HbaDevPortNum;
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (pCapabilities == nullptr) return SDERR_INVALID_PARAMETER;
    SD_UINT32 st = session_port(call);
    if (st != SDERR_SUCCESS) return st;
    SD_UINT64 attributes = 0;
    st = running_attributes(*call.port, &attributes);
    if (st != SDERR_SUCCESS) return st;
    if (attributes == 0) return SDERR_NOT_SUPPORTED;
    *pCapabilities |= 4;
    g_onlineMark = true;
    return SDERR_SUCCESS;
}

SD_UINT32 SDStartFlashUpdate(int Device, SD_UINT32 HbaDevPortNum, SD_INT32* pToken) {
    (void)HbaDevPortNum;
    auto call = zvapi_enter(Device);
    SD_UINT32 st = session_port(call);
    if (st != SDERR_SUCCESS) return st;
    if (pToken == nullptr) return SDERR_INVALID_PARAMETER;
    std::string serial = zvapi_adapter_serial(*call.port);
    st = zvapi_shdb_token_start(serial, static_cast<SD_INT32>(getpid()), pToken);
    if (st == SDERR_SUCCESS) {
        // The driver takes part in the session; when it refuses, the slot is freed again.
        SD_UINT32 driver = zvapi_request(*call.port, ZVOP_FLASH_UPDATE_START, {}, {}, nullptr);
        if (driver != SDERR_SUCCESS) {
            zvapi_shdb_token_end(serial, *pToken);
            st = driver;
        }
    }
    zvdbg_info("SDStartFlashUpdate: adapter %s status 0x%x", serial.c_str(), st);
    return st;
}

bool zvapi_flash_session_held(int Device) {
    auto call = zvapi_enter(Device);
    if (session_port(call) != SDERR_SUCCESS) return false;
    const SD_INT32 holder = zvapi_shdb_token_holder(zvapi_adapter_serial(*call.port));
    return holder != 0 && holder != static_cast<SD_INT32>(getpid());
}

SD_UINT32 SDEndFlashUpdate(int Device, SD_UINT32 HbaDevPortNum, SD_INT32 Token) {
    (void)HbaDevPortNum;
    auto call = zvapi_enter(Device);
    SD_UINT32 st = session_port(call);
    if (st != SDERR_SUCCESS) return st;
    std::string serial = zvapi_adapter_serial(*call.port);
    st = zvapi_shdb_token_end(serial, Token);
    if (st == SDERR_SUCCESS) {
        // The slot is free whatever the driver says; its failure is the answer.
        SD_UINT32 driver = zvapi_request(*call.port, ZVOP_FLASH_UPDATE_END, {}, {}, nullptr);
        if (driver != SDERR_SUCCESS) st = driver;
    }
    zvdbg_info("SDEndFlashUpdate: adapter %s token %d status 0x%x", serial.c_str(), Token, st);
    if (st == SDERR_SESSION_EXPIRED) return st;
    g_onlineMark = false;
    // The written image set may have changed what the driver reports.
    zvapi_refresh_layout(*call.port);
    SD_ACTIVE_REGIONS active{};
    zvapi_request_record(*call.port, ZVOP_ACTIVE_REGIONS, {}, &active);
    return st;
}

SD_UINT32 SDSendFlashUpdateFWAttributes(int Device, SD_UINT32 HbaDevPortNum, SD_UINT64 Attributes,
                                        SD_UINT32 OutageDuration) {
    (void)HbaDevPortNum;
    auto call = zvapi_enter(Device);
    SD_UINT32 st = session_port(call);
    if (st != SDERR_SUCCESS) return st;
    zvapi_fw_attributes sent{Attributes, OutageDuration, 0};
    st = zvapi_request(*call.port, ZVOP_FW_ATTRIBUTES_SEND, zvapi_bytes(sent), {}, nullptr);
    if (st != SDERR_SUCCESS) return st;
    zvapi_adapter_record& a = zvapi_adapter(call.port->Ident.AdapterIndex);
    a.NewFwAttributes = Attributes;
    a.OutageDuration = OutageDuration;
    return SDERR_SUCCESS;
}

SD_UINT32 SDOnlineActivateFlashUpdate(int Device, SD_UINT32 HbaDevPortNum) {
    (void)HbaDevPortNum;
    auto call = zvapi_enter(Device);
    SD_UINT32 st = session_port(call);
    if (st != SDERR_SUCCESS) return st;
    zvapi_port_record& port = *call.port;
    SD_UINT64 running = 0;
    if (running_attributes(port, &running) != SDERR_SUCCESS ||
        running != zvapi_adapter(port.Ident.AdapterIndex).NewFwAttributes) {
        zvdbg_info("SDOnlineActivateFlashUpdate: firmware attributes differ, activation waits for a reboot");
        return SDERR_FLASHED_NOT_ACTIVATED;
    }
    // The driver's own answer when it does not activate (0x20000100, 0x20000063 ...).
    st = zvapi_request(port, ZVOP_ONLINE_ACTIVATE, {}, {}, nullptr);
    if (st != SDERR_SUCCESS) return st;
    st = zvapi_refresh_layout(port);
    if (st != SDERR_SUCCESS) return st;
    const zvapi_flash_region* fw = zvapi_find_region(port, 0x01);
    if (fw != nullptr && (fw->Flags & ZVAPI_REGION_NEEDS_ACTIVATION)) {
        SD_UINT32 code = 0x01;
        if (zvapi_request(port, ZVOP_REGION_ACTIVATE, zvapi_bytes(code), {}, nullptr) != SDERR_SUCCESS) {
            return SDERR_FLASHED_NOT_ACTIVATED;
        }
    }
    return SDERR_SUCCESS;
}
