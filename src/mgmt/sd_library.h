// Internals shared by the library's SD functions: the loaded library (transport,
// handle table, port records), the call prologue and request helpers.
#pragma once

#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "mgmt/sd_types.h"
#include "mgmt/transport.h"

// What the library keeps about one opened port.
struct zvapi_port_record {
    SD_UINT32 Instance = 0;
    zvapi_port_ident Ident{};
    CHIPPROPERTY Chip{};
    bool ChipValid = false;
    std::vector<zvapi_flash_region> Layout;   // last layout read from the driver
    SD_UINT32 FlashSize = 0;                  // end of the highest region
    bool AenEnabled = false;
};

// What the library keeps about one adapter (shared by its ports).
struct zvapi_adapter_record {
    SD_UINT64 NewFwAttributes = 0;
    SD_UINT32 OutageDuration = 0;
};

// Replaces the factory that the next library load uses (tests install a fake
// transport); an empty function restores the platform's transport.
void zvapi_set_transport_factory(std::function<std::unique_ptr<zvapi_transport>()> factory);

// A new transport from the installed factory (or the platform's).
std::unique_ptr<zvapi_transport> zvapi_make_transport();
// Text the platform gives for a Describe key, or `fallback` when it gives none.
std::string zvapi_describe(const std::string& key, const char* fallback);

// The library lock: every SD function holds it for its whole call.
std::recursive_mutex& zvapi_lib_mutex();
bool zvapi_lib_loaded();
zvapi_transport* zvapi_get_transport();
// Port record of a handle, null when unknown (lock held).
zvapi_port_record* zvapi_find_port(int device);
// Records of every open handle (lock held), for the event thread.
std::vector<zvapi_port_record*> zvapi_all_ports();
zvapi_adapter_record& zvapi_adapter(SD_UINT32 adapterIndex);

// The lock plus the port of a handle; port is null for an unknown handle.
struct zvapi_call {
    std::unique_lock<std::recursive_mutex> lock;
    zvapi_port_record* port;
};
zvapi_call zvapi_enter(int device);

// One transport request. Bounds *outLen by the span, turns exceptions into
// statuses; 0x20000075 when no transport is loaded.
SD_UINT32 zvapi_request(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> in, std::span<SD_UINT8> out,
                        size_t* outLen);
inline SD_UINT32 zvapi_request(const zvapi_port_record& port, zvapi_op op, std::span<const SD_UINT8> in,
                               std::span<SD_UINT8> out, size_t* outLen) {
    return zvapi_request(port.Instance, op, in, out, outLen);
}
// The same with the input in two parts (zvapi_transport::RequestParts).
SD_UINT32 zvapi_request_parts(const zvapi_port_record& port, zvapi_op op, std::span<const SD_UINT8> head,
                              std::span<const SD_UINT8> body, std::span<SD_UINT8> out, size_t* outLen);

// A fixed record answer. The record is filled whenever the answer has the
// record's exact size (also with a failure status that carries one); a
// success without it is 0x20000075.
template <class T>
SD_UINT32 zvapi_request_record(const zvapi_port_record& port, zvapi_op op, std::span<const SD_UINT8> in, T* pOut) {
    T tmp{};
    size_t got = 0;
    SD_UINT32 st = zvapi_request(port, op, in, zvapi_bytes_out(tmp), &got);
    if (got == sizeof(T)) {
        std::memcpy(static_cast<void*>(pOut), &tmp, sizeof(T));
    } else if (st == SDERR_SUCCESS) {
        return SDERR_UNKNOWN;
    }
    return st;
}

// Chip classes by PCI device id.
int zvapi_chip_type(SD_UINT16 deviceId);          // 25, 27 or 0 for others
bool zvapi_is_online_update_adapter(SD_UINT16 deviceId);
SD_UINT32 zvapi_nvram_size(SD_UINT16 deviceId);   // 512 or 256
SD_UINT32 zvapi_vpd_size(SD_UINT16 deviceId);     // 512 or 1024
inline SD_UINT16 zvapi_device_id(const zvapi_port_record& p) { return p.ChipValid ? p.Chip.DeviceID : 0; }

// Flash layout: re-reads the port's layout into its record.
SD_UINT32 zvapi_refresh_layout(zvapi_port_record& port);
const zvapi_flash_region* zvapi_find_region(const zvapi_port_record& port, SD_UINT32 region);
// Raw flash I/O at absolute offsets, serialised across processes.
SD_UINT32 zvapi_flash_read(const zvapi_port_record& port, SD_UINT32 offset, SD_UINT32 region, std::span<SD_UINT8> out);
SD_UINT32 zvapi_flash_write(const zvapi_port_record& port, SD_UINT32 offset, SD_UINT32 region,
                            SD_UINT16 disableReset, std::span<const SD_UINT8> data);

// Serial number of the port's adapter (node property), the session key.
std::string zvapi_adapter_serial(const zvapi_port_record& port);
// Process-wide on-line-update mark (set by SDGetFlashUpdateCapabilities).
bool zvapi_online_mark();
void zvapi_set_online_mark(bool on);

// Event thread: started at load, stopped at unload.
void zvapi_events_start();
void zvapi_events_stop();
// Moves the driver's pending events of a port to its shared queue (lock held).
void zvapi_events_poll_port(const zvapi_port_record& port);

// Copies text into a caller's buffer, cut to fit and always terminated.
inline void zvapi_copy_text(std::span<char> out, const std::string& text) {
    if (out.empty()) return;
    size_t n = text.size() < out.size() - 1 ? text.size() : out.size() - 1;
    std::memcpy(out.data(), text.data(), n);
    out[n] = '\0';
}
