// The shared database "/run/zv_shared.dat" and the System V semaphores that
// serialise library instances across processes.
//
// The file is a fixed, versioned layout: a header with the id of the
// semaphore set and the table of user processes, 32 flash-update token slots
// and one bounded event queue per port instance. It exists while any library
// instance runs; the last user removes it together with the semaphores. It
// lives in "/run", where only root may put anything, and the set is made
// without a key (IPC_PRIVATE) and found through the file: no other user can
// take either name first.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <sys/types.h>

#include "mgmt/sd_types.h"

constexpr const char* ZVSHDB_DIR = "/run";
constexpr const char* ZVSHDB_NAME = "zv_shared.dat";
constexpr const char* ZVSHDB_PATH = "/run/zv_shared.dat";
constexpr size_t ZVSHDB_SIZE = 256 * 1024;
constexpr SD_UINT32 ZVSHDB_VERSION = 2;
constexpr int ZVSHDB_MAX_USERS = 64;
constexpr int ZVSHDB_TOKEN_SLOTS = 32;
constexpr int ZVSHDB_EVENT_QUEUES = 128;       // port instances with a queue
constexpr int ZVSHDB_EVENTS_PER_QUEUE = 64;
constexpr SD_INT64 ZVAPI_TOKEN_LIFETIME = 900; // seconds

struct zvapi_shdb_token {
    SD_UINT32 InUse;
    SD_INT32 Token;                // owner's process id
    SD_INT64 StartTime;            // seconds since the epoch
    char Serial[32];               // adapter serial number, NUL-terminated
};
static_assert(sizeof(zvapi_shdb_token) == 48);

struct zvapi_shdb_queue {
    SD_UINT32 Head;                // index of the oldest event
    SD_UINT32 Count;
    ASYNCEVENT Events[ZVSHDB_EVENTS_PER_QUEUE];
};
static_assert(sizeof(zvapi_shdb_queue) == 8 + 64 * 16);

struct zvapi_shdb_file {
    char Magic[8];                 // "ZVSHDB\0\0"
    SD_UINT32 Version;
    SD_UINT32 FileSize;
    SD_UINT32 TokenSlots;
    SD_UINT32 EventQueues;
    SD_INT32 SemId;                // the semaphore set's id, -1 none
    SD_UINT32 Reserved;            // zero; keeps the tokens 8-byte aligned
    SD_INT32 Users[ZVSHDB_MAX_USERS];   // process ids, 0 = free
    zvapi_shdb_token Tokens[ZVSHDB_TOKEN_SLOTS];
    zvapi_shdb_queue Queues[ZVSHDB_EVENT_QUEUES];
};
static_assert(offsetof(zvapi_shdb_file, SemId) == 24);
static_assert(offsetof(zvapi_shdb_file, Users) == 32);
static_assert(offsetof(zvapi_shdb_file, Tokens) == 288);
static_assert(offsetof(zvapi_shdb_file, Queues) == 288 + 32 * 48);
static_assert(sizeof(zvapi_shdb_file) <= ZVSHDB_SIZE);

// ---- Semaphores -------------------------------------------------------------
// The set is made by attach (IPC_PRIVATE, mode 0600) and its id recorded in
// the file. A recorded id is used only when the set is this process's user's
// (root's) own, created and owned, open to neither group nor others, with
// exactly four semaphores; otherwise a fresh set is made and recorded, and
// the other left alone. Every wait is bounded and ends early once
// zvapi_interrupt_waits was called.
// The load semaphore is no longer taken (attach and detach serialise on an
// flock of the file); the set keeps its four.
enum zvapi_sem_index { ZVAPI_SEM_LOAD = 0, ZVAPI_SEM_FLASH = 1, ZVAPI_SEM_SHDB = 2, ZVAPI_SEM_DEBUG_LOG = 3 };
// The id of the set recorded in the file at ZVSHDB_PATH when it is one the
// library would use, else -1. Reads the file only (no attach): for a restart
// that drops the set, and for tests.
int zvapi_shdb_sem_id();
// Takes one semaphore (false when the set is not open, the wait timed out or
// was interrupted). A crashed holder's lock is undone by the kernel. The flash
// semaphore also passes the process's flash gate (see zvapi_quiesce_flash).
bool zvapi_sem_lock(zvapi_sem_index which);
void zvapi_sem_unlock(zvapi_sem_index which);

// Holds one semaphore for a scope.
struct zvapi_sem_guard {
    explicit zvapi_sem_guard(zvapi_sem_index w) : which(w), held(zvapi_sem_lock(w)) {}
    ~zvapi_sem_guard() { if (held) zvapi_sem_unlock(which); }
    zvapi_sem_guard(const zvapi_sem_guard&) = delete;
    zvapi_sem_guard& operator=(const zvapi_sem_guard&) = delete;
    zvapi_sem_index which;
    bool held;
};

// ---- Interrupts and set-up failures -------------------------------------------
// Async-signal-safe: every semaphore wait of the process gives up from now on.
void zvapi_interrupt_waits();
// Whether that happened. Every flash operation then answers busy until the run
// ends, so no caller tries a failed call again (a retry loop would only wait
// out its tries), nor sleeps.
bool zvapi_waits_interrupted();
// Waits (at most timeoutMs) until no flash operation of the process is under
// way, then closes the gate for good: a thread that starts another one waits
// until the process ends. True once closed.
bool zvapi_quiesce_flash(int timeoutMs);
// Why the shared database or the semaphores could not be set up ("" when they
// could). Once set, every attach fails at once without a further log line.
std::string zvapi_setup_error();
void zvapi_reset_setup_error();   // tests

// ---- Attach and detach ------------------------------------------------------
// Maps the file (creating, repairing or re-initialising it), prunes dead users,
// finds or makes the semaphore set and registers this process. 0 or
// 0x20000074. Only root can put anything in "/run": a directory there that
// others may write, or anything at the file's name but this user's own
// regular file with a single name that neither group nor others may open, is
// a set-up failure (zvapi_setup_error says why), never followed or used.
SD_UINT32 zvapi_shdb_attach();
// Unregisters this process; the last user removes the file (under the file's
// lock, and only while the name still names its file) and its semaphores
// (unless a newer file at the name records them).
void zvapi_shdb_detach();
// The same for a process that is about to end on a signal: the mapping stays,
// as other threads may still touch it.
void zvapi_shdb_leave_on_exit();
bool zvapi_shdb_attached();

// ---- Flash-update tokens ------------------------------------------------------
// Where token times come from: the platform's clock while the library is
// loaded (null: the system clock).
void zvapi_shdb_set_clock(SD_INT64 (*clock)());
// 0 and *pToken = pid; 0x200000C0 while a live token names `serial`;
// 0x20000075 when no slot is free.
SD_UINT32 zvapi_shdb_token_start(const std::string& serial, SD_INT32 pid, SD_INT32* pToken);
// 0x200000C1 when the slot of `serial` has expired (nothing changed); 0 when
// the slot of `serial` and `token` was cleared; 0x20000075 when none exists.
SD_UINT32 zvapi_shdb_token_end(const std::string& serial, SD_INT32 token);
// Process id holding a live token for `serial`, 0 when none.
SD_INT32 zvapi_shdb_token_holder(const std::string& serial);
// Clears every slot that `pid` holds; gives the number cleared.
int zvapi_shdb_release_pid(SD_INT32 pid);

// ---- Event queues -------------------------------------------------------------
// Appends to the queue of a port instance; the oldest event goes when full.
void zvapi_shdb_event_push(SD_UINT32 instance, const ASYNCEVENT& event);
// Moves up to out.size() queued events of the instance to `out`; gives the count.
SD_UINT32 zvapi_shdb_event_drain(SD_UINT32 instance, std::span<ASYNCEVENT> out);
