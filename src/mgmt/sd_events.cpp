// Asynchronous events: the polling thread and the per-handle functions.
#include <array>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "mgmt/sd_library.h"
#include "mgmt/sd_log.h"
#include "mgmt/sd_shared_db.h"
#include "mgmt/sdapi.h"

namespace {

constexpr int kTicksPerPoll = 15;

struct zvapi_event_thread {
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    std::thread thread;
};

zvapi_event_thread& evt() {
    static zvapi_event_thread* e = new zvapi_event_thread;
    return *e;
}

void event_loop() {
    zvapi_event_thread& e = evt();
    int tick = 0;
    std::unique_lock<std::mutex> lock(e.mutex);
    while (!e.stop) {
        // A condition wait rather than sleep(): unload must not wait a tick.
        e.wake.wait_for(lock, std::chrono::seconds(1));
        if (e.stop) break;
        if (++tick < kTicksPerPoll) continue;
        tick = 0;
        lock.unlock();
        {
            // Unload holds the library lock while it stops this thread: skip
            // the poll rather than wait for it.
            std::unique_lock<std::recursive_mutex> libLock(zvapi_lib_mutex(), std::try_to_lock);
            if (libLock.owns_lock() && zvapi_lib_loaded()) {
                for (zvapi_port_record* p : zvapi_all_ports()) {
                    if (p->AenEnabled) zvapi_events_poll_port(*p);
                }
            }
        }
        lock.lock();
    }
}

}  // namespace

void zvapi_events_start() {
    zvapi_event_thread& e = evt();
    if (e.thread.joinable()) return;
    e.stop = false;
    try {
        e.thread = std::thread(event_loop);
    } catch (...) {
        zvdbg_fatal("zvapi_events_start: event thread not started");
    }
}

void zvapi_events_stop() {
    zvapi_event_thread& e = evt();
    if (!e.thread.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(e.mutex);
        e.stop = true;
    }
    e.wake.notify_all();
    e.thread.join();
}

void zvapi_events_poll_port(const zvapi_port_record& port) {
    std::array<ASYNCEVENT, 64> events{};
    auto bytes = std::as_writable_bytes(std::span(events));
    size_t got = 0;
    SD_UINT32 st = zvapi_request(port, ZVOP_AEN_GET, {}, {reinterpret_cast<SD_UINT8*>(bytes.data()), bytes.size()}, &got);
    if (st != SDERR_SUCCESS) return;
    for (size_t i = 0; i < got / sizeof(ASYNCEVENT); ++i) zvapi_shdb_event_push(port.Instance, events[i]);
}

static SD_UINT32 set_aen(int Device, bool on) {
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    SD_UINT32 flag = on ? 1 : 0;
    SD_UINT32 st = zvapi_request(*call.port, ZVOP_AEN_ENABLE, zvapi_bytes(flag), {}, nullptr);
    if (st == SDERR_SUCCESS) call.port->AenEnabled = on;
    return st;
}

SD_UINT32 SDEnableAen(int Device) { return set_aen(Device, true); }
SD_UINT32 SDDisableAen(int Device) { return set_aen(Device, false); }

SD_UINT32 SDGetAen(int Device, std::span<ASYNCEVENT> events, SD_UINT32* pEventCount) {
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (pEventCount == nullptr) return SDERR_INVALID_PARAMETER;
    *pEventCount = 0;
    // Fetch what the driver holds now, so a caller need not wait for a poll tick.
    if (call.port->AenEnabled) zvapi_events_poll_port(*call.port);
    *pEventCount = zvapi_shdb_event_drain(call.port->Instance, events);
    return SDERR_SUCCESS;
}
