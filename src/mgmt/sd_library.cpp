// Library load and unload, the handle table and SDOpenDevice/SDCloseDevice.
#include "mgmt/sd_library.h"

#include <climits>
#include <ctime>
#include <map>
#include <new>
#include <unistd.h>

#include "mgmt/sd_log.h"
#include "mgmt/sd_shared_db.h"
#include "mgmt/sdapi.h"

namespace {

struct zvapi_library {
    std::recursive_mutex mutex;
    bool loaded = false;
    std::unique_ptr<zvapi_transport> transport;
    std::map<int, std::unique_ptr<zvapi_port_record>> handles;
    std::map<SD_UINT32, zvapi_adapter_record> adapters;
    int nextHandle = 1;   // never reused within the process, so stale handles stay unknown
    std::function<std::unique_ptr<zvapi_transport>()> factory;
};

zvapi_library& lib() {
    static zvapi_library* l = new zvapi_library;   // outlives static destructors of callers
    return *l;
}

// Session lifetimes run on the platform's clock.
SD_INT64 transport_now() {
    zvapi_transport* t = lib().transport.get();
    return t != nullptr ? t->Now() : static_cast<SD_INT64>(std::time(nullptr));
}

SD_UINT32 load_library() {
    zvapi_library& l = lib();
    // A shared database or semaphore set that could not be set up was said
    // once; every further open fails at once and quietly, as does every open
    // after an interrupt (the run is ending).
    if (!zvapi_setup_error().empty() || zvapi_waits_interrupted()) return SDERR_OUT_OF_MEMORY;
    zvdbg_reload_mask();
    l.transport = zvapi_make_transport();
    if (!l.transport) {
        zvdbg_fatal("zvapi_load: no transport to the adapters");
        return SDERR_UNKNOWN;
    }
    SD_UINT32 st = zvapi_shdb_attach();
    if (st != SDERR_SUCCESS) {
        if (zvapi_setup_error().empty()) zvdbg_fatal("zvapi_load: shared database not set up (0x%x)", st);
        l.transport.reset();
        return SDERR_OUT_OF_MEMORY;
    }
    l.loaded = true;
    zvapi_shdb_set_clock(&transport_now);
    zvapi_events_start();
    zvdbg_info("zvapi_load: library loaded, %u port instance(s)", l.transport->PortCount());
    return SDERR_SUCCESS;
}

void unload_library() {
    zvapi_library& l = lib();
    if (!l.loaded) return;
    zvapi_events_stop();
    zvapi_shdb_set_clock(nullptr);
    zvapi_set_online_mark(false);
    zvapi_shdb_detach();
    l.transport.reset();
    l.adapters.clear();
    l.loaded = false;
    zvdbg_info("zvapi_unload: library unloaded");
}

}  // namespace

void zvapi_set_transport_factory(std::function<std::unique_ptr<zvapi_transport>()> factory) {
    std::lock_guard<std::recursive_mutex> lock(lib().mutex);
    lib().factory = std::move(factory);
}

std::unique_ptr<zvapi_transport> zvapi_make_transport() {
    try {
        return lib().factory ? lib().factory() : zvapi_create_platform_transport();
    } catch (...) {
        return nullptr;
    }
}

std::recursive_mutex& zvapi_lib_mutex() { return lib().mutex; }
bool zvapi_lib_loaded() { return lib().loaded; }
zvapi_transport* zvapi_get_transport() { return lib().transport.get(); }

zvapi_port_record* zvapi_find_port(int device) {
    auto& h = lib().handles;
    auto it = h.find(device);
    return it == h.end() ? nullptr : it->second.get();
}

std::vector<zvapi_port_record*> zvapi_all_ports() {
    std::vector<zvapi_port_record*> out;
    for (auto& [handle, port] : lib().handles) out.push_back(port.get());
    return out;
}

zvapi_adapter_record& zvapi_adapter(SD_UINT32 adapterIndex) { return lib().adapters[adapterIndex]; }

zvapi_call zvapi_enter(int device) {
    zvapi_call call{std::unique_lock<std::recursive_mutex>(lib().mutex), nullptr};
    call.port = zvapi_find_port(device);
    return call;
}

namespace {
template <class Call>
SD_UINT32 checked_request(SD_UINT32 instance, zvapi_op op, std::span<SD_UINT8> out, size_t* outLen, Call call) {
    size_t got = 0;
    SD_UINT32 st;
    zvapi_transport* t = lib().transport.get();
    if (t == nullptr) {
        st = SDERR_UNKNOWN;
    } else {
        try {
            st = call(*t, &got);
        } catch (const std::bad_alloc&) {
            st = SDERR_OUT_OF_MEMORY;
            got = 0;
        } catch (...) {
            st = SDERR_UNKNOWN;
            got = 0;
        }
    }
    // A sizing answer may name more bytes than the span; anything else must fit.
    if (got > out.size() && st != SDERR_BUFFER_TOO_SMALL) {
        zvdbg_error("zvapi_request: op %u answered %zu bytes into %zu", static_cast<unsigned>(op), got, out.size());
        got = 0;
        if (st == SDERR_SUCCESS) st = SDERR_UNKNOWN;
    }
    if (st != SDERR_SUCCESS) zvdbg_trace("zvapi_request: instance %u op %u status 0x%x", instance, static_cast<unsigned>(op), st);
    if (outLen != nullptr) *outLen = got;
    return st;
}
}  // namespace

SD_UINT32 zvapi_request(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> in, std::span<SD_UINT8> out,
                        size_t* outLen) {
    return checked_request(instance, op, out, outLen, [&](zvapi_transport& t, size_t* got) {
        return t.Request(instance, op, in, out, got);
    });
}

SD_UINT32 zvapi_request_parts(const zvapi_port_record& port, zvapi_op op, std::span<const SD_UINT8> head,
                              std::span<const SD_UINT8> body, std::span<SD_UINT8> out, size_t* outLen) {
    return checked_request(port.Instance, op, out, outLen, [&](zvapi_transport& t, size_t* got) {
        return t.RequestParts(port.Instance, op, head, body, out, got);
    });
}

// ---- Open and close -------------------------------------------------------------------

SD_UINT32 SDOpenDevice(SD_UINT32 Instance, int* pDevice) {
    if (pDevice == nullptr) return SDERR_INVALID_PARAMETER;
    zvapi_library& l = lib();
    std::lock_guard<std::recursive_mutex> lock(l.mutex);
    if (!l.loaded) {
        SD_UINT32 st = load_library();
        if (st != SDERR_SUCCESS) return st;
    }
    auto fail = [&](SD_UINT32 st) {
        if (l.handles.empty()) unload_library();
        return st;
    };
    if (Instance >= l.transport->PortCount()) return fail(SDERR_DEVICE_NOT_FOUND);

    auto port = std::make_unique<zvapi_port_record>();
    port->Instance = Instance;
    zvapi_port_ident ident{};
    size_t got = 0;
    SD_UINT32 st = zvapi_request(Instance, ZVOP_OPEN, {}, zvapi_bytes_out(ident), &got);
    if (st == SDERR_SUCCESS && got != sizeof ident) st = SDERR_UNKNOWN;
    if (st != SDERR_SUCCESS) {
        zvdbg_error("SDOpenDevice: instance %u cannot be opened (0x%x)", Instance, st);
        return fail(st);
    }
    port->Ident = ident;
    port->ChipValid = zvapi_request_record(*port, ZVOP_CHIP_PROPERTY, {}, &port->Chip) == SDERR_SUCCESS;

    if (l.nextHandle == INT_MAX) return fail(SDERR_UNKNOWN);
    int handle = l.nextHandle++;
    l.handles.emplace(handle, std::move(port));
    *pDevice = handle;
    zvdbg_info("SDOpenDevice: instance %u opened as handle %d", Instance, handle);
    return SDERR_SUCCESS;
}

SD_UINT32 SDCloseDevice(int Device) {
    zvapi_library& l = lib();
    std::lock_guard<std::recursive_mutex> lock(l.mutex);
    if (l.handles.empty()) return SDERR_SUCCESS;
    auto it = l.handles.find(Device);
    if (it == l.handles.end()) return SDERR_INVALID_HANDLE;
    SD_UINT32 instance = it->second->Instance;
    SD_UINT32 st = zvapi_request(instance, ZVOP_CLOSE, {}, {}, nullptr);
    // The handle is gone whatever the driver says, so that the library can unload.
    l.handles.erase(it);
    if (l.handles.empty()) unload_library();
    return st;
}

void zvapi_release_process_sessions() {
    zvapi_shdb_release_pid(static_cast<SD_INT32>(getpid()));
    zvapi_set_online_mark(false);
}
