#include "mgmt/sd_shared_db.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include "mgmt/sd_log.h"

namespace {

constexpr char kMagic[8] = {'Z', 'V', 'S', 'H', 'D', 'B', 0, 0};
constexpr int kSemCount = 4;

std::mutex g_semMutex;            // guards g_semId within the process
int g_semId = -1;
zvapi_shdb_file* g_db = nullptr;  // mapping while attached

// The key follows the directory the file lives in, so that a private /tmp
// (as in a container) gets its own semaphores.
key_t sem_key() {
    key_t key = ftok("/tmp", 'Z');
    return key == -1 ? static_cast<key_t>(0x5A560001) : key;
}

int sem_get_id() {
    std::lock_guard<std::mutex> lock(g_semMutex);
    if (g_semId < 0) g_semId = semget(sem_key(), kSemCount, IPC_CREAT | 0600);
    return g_semId;
}

void sem_forget(int id) {
    std::lock_guard<std::mutex> lock(g_semMutex);
    if (g_semId == id) g_semId = -1;
}

SD_INT64 now_seconds() { return static_cast<SD_INT64>(std::time(nullptr)); }

bool token_live(const zvapi_shdb_token& t, SD_INT64 now) {
    if (t.InUse != 1) return false;
    SD_INT64 age = now - t.StartTime;
    return age < ZVAPI_TOKEN_LIFETIME;   // a clock that went back counts as live
}

std::string slot_serial(const zvapi_shdb_token& t) {
    return std::string(t.Serial, strnlen(t.Serial, sizeof t.Serial));
}

bool pid_alive(SD_INT32 pid) {
    if (pid <= 0) return false;
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

void init_file(zvapi_shdb_file* db) {
    std::memset(static_cast<void*>(db), 0, ZVSHDB_SIZE);
    std::memcpy(db->Magic, kMagic, sizeof kMagic);
    db->Version = ZVSHDB_VERSION;
    db->FileSize = static_cast<SD_UINT32>(ZVSHDB_SIZE);
    db->TokenSlots = ZVSHDB_TOKEN_SLOTS;
    db->EventQueues = ZVSHDB_EVENT_QUEUES;
}

bool file_valid(const zvapi_shdb_file* db) {
    if (std::memcmp(db->Magic, kMagic, sizeof kMagic) != 0) return false;
    if (db->Version != ZVSHDB_VERSION || db->FileSize != ZVSHDB_SIZE) return false;
    if (db->TokenSlots != ZVSHDB_TOKEN_SLOTS || db->EventQueues != ZVSHDB_EVENT_QUEUES) return false;
    for (const auto& t : db->Tokens) {
        if (t.InUse > 1) return false;
        if (t.InUse && strnlen(t.Serial, sizeof t.Serial) == sizeof t.Serial) return false;
    }
    for (const auto& q : db->Queues) {
        if (q.Head >= ZVSHDB_EVENTS_PER_QUEUE || q.Count > ZVSHDB_EVENTS_PER_QUEUE) return false;
    }
    return true;
}

void prune_users(zvapi_shdb_file* db) {
    for (auto& u : db->Users) {
        if (u != 0 && !pid_alive(u)) u = 0;
    }
}

}  // namespace

// ---- Semaphores ---------------------------------------------------------------

bool zvapi_sem_open() { return sem_get_id() >= 0; }

bool zvapi_sem_lock(zvapi_sem_index which) {
    // Wait for zero, then take it; SEM_UNDO gives it back if we die holding it.
    for (int attempt = 0; attempt < 8; ++attempt) {
        int id;
        {
            std::lock_guard<std::mutex> lock(g_semMutex);
            id = g_semId;
        }
        if (id < 0) {
            // Only the load semaphore may create the set; the others are
            // used while attached.
            if (which != ZVAPI_SEM_LOAD) return false;
            id = sem_get_id();
            if (id < 0) return false;
        }
        sembuf ops[2] = {{static_cast<unsigned short>(which), 0, 0},
                         {static_cast<unsigned short>(which), 1, SEM_UNDO}};
        if (semop(id, ops, 2) == 0) return true;
        if (errno == EINTR) { --attempt; continue; }
        if (errno == EIDRM || errno == EINVAL) {
            // The last user of the previous generation removed the set.
            sem_forget(id);
            if (which != ZVAPI_SEM_LOAD) return false;
            continue;
        }
        return false;
    }
    return false;
}

void zvapi_sem_unlock(zvapi_sem_index which) {
    int id;
    {
        std::lock_guard<std::mutex> lock(g_semMutex);
        id = g_semId;
    }
    if (id < 0) return;
    sembuf op = {static_cast<unsigned short>(which), -1, static_cast<short>(SEM_UNDO | IPC_NOWAIT)};
    while (semop(id, &op, 1) != 0 && errno == EINTR) {
    }
}

// ---- Attach and detach ------------------------------------------------------------

SD_UINT32 zvapi_shdb_attach() {
    if (g_db != nullptr) return SDERR_SUCCESS;
    if (!zvapi_sem_lock(ZVAPI_SEM_LOAD)) {
        zvdbg_fatal("zvapi_shdb_attach: semaphores unavailable (errno %d)", errno);
        return SDERR_OUT_OF_MEMORY;
    }
    SD_UINT32 status = SDERR_SUCCESS;
    int fd = ::open(ZVSHDB_PATH, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        zvdbg_fatal("zvapi_shdb_attach: cannot open %s (errno %d)", ZVSHDB_PATH, errno);
        status = SDERR_OUT_OF_MEMORY;
    } else {
        bool fresh = static_cast<size_t>(st.st_size) != ZVSHDB_SIZE;
        if (fresh && (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(ZVSHDB_SIZE)) != 0)) {
            zvdbg_fatal("zvapi_shdb_attach: cannot size %s (errno %d)", ZVSHDB_PATH, errno);
            status = SDERR_OUT_OF_MEMORY;
        } else {
            void* map = mmap(nullptr, ZVSHDB_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (map == MAP_FAILED) {
                zvdbg_fatal("zvapi_shdb_attach: cannot map %s (errno %d)", ZVSHDB_PATH, errno);
                status = SDERR_OUT_OF_MEMORY;
            } else {
                auto* db = static_cast<zvapi_shdb_file*>(map);
                if (fresh || !file_valid(db)) {
                    if (!fresh) zvdbg_error("zvapi_shdb_attach: %s was corrupt, re-initialised", ZVSHDB_PATH);
                    init_file(db);
                }
                prune_users(db);
                auto self = static_cast<SD_INT32>(getpid());
                auto* slot = std::find(std::begin(db->Users), std::end(db->Users), self);
                if (slot == std::end(db->Users)) slot = std::find(std::begin(db->Users), std::end(db->Users), 0);
                if (slot == std::end(db->Users)) {
                    zvdbg_fatal("zvapi_shdb_attach: too many library users");
                    munmap(map, ZVSHDB_SIZE);
                    status = SDERR_OUT_OF_MEMORY;
                } else {
                    *slot = self;
                    g_db = db;
                }
            }
        }
    }
    if (fd >= 0) ::close(fd);
    zvapi_sem_unlock(ZVAPI_SEM_LOAD);
    return status;
}

void zvapi_shdb_detach() {
    if (g_db == nullptr) return;
    bool locked = zvapi_sem_lock(ZVAPI_SEM_LOAD);
    auto self = static_cast<SD_INT32>(getpid());
    for (auto& u : g_db->Users) {
        if (u == self) u = 0;
    }
    prune_users(g_db);
    bool last = std::all_of(std::begin(g_db->Users), std::end(g_db->Users), [](SD_INT32 u) { return u == 0; });
    if (last) ::unlink(ZVSHDB_PATH);
    munmap(g_db, ZVSHDB_SIZE);
    g_db = nullptr;
    if (locked && last) {
        int id;
        {
            std::lock_guard<std::mutex> lock(g_semMutex);
            id = g_semId;
            g_semId = -1;
        }
        // Waiters get EIDRM and start a new generation.
        if (id >= 0) semctl(id, 0, IPC_RMID);
    } else if (locked) {
        zvapi_sem_unlock(ZVAPI_SEM_LOAD);
    }
}

bool zvapi_shdb_attached() { return g_db != nullptr; }

// ---- Tokens ---------------------------------------------------------------------------

SD_UINT32 zvapi_shdb_token_start(const std::string& serial, SD_INT32 pid, SD_INT32* pToken) {
    if (g_db == nullptr) return SDERR_NOT_SUPPORTED;
    zvapi_sem_guard guard(ZVAPI_SEM_SHDB);
    SD_INT64 now = now_seconds();
    zvapi_shdb_token* free_slot = nullptr;
    for (auto& t : g_db->Tokens) {
        // A holder that died can no longer write; its slot is free.
        if (t.InUse == 1 && !pid_alive(t.Token)) t.InUse = 0;
        if (t.InUse == 1 && slot_serial(t) == serial) {
            if (token_live(t, now)) return SDERR_SESSION_IN_PROGRESS;
            if (free_slot == nullptr || free_slot->InUse == 0) free_slot = &t;   // reuse the expired one
        } else if (t.InUse == 0 && free_slot == nullptr) {
            free_slot = &t;
        }
    }
    if (free_slot == nullptr) {
        for (auto& t : g_db->Tokens) {
            if (!token_live(t, now)) { free_slot = &t; break; }
        }
    }
    if (free_slot == nullptr) return SDERR_UNKNOWN;
    std::memset(static_cast<void*>(free_slot), 0, sizeof *free_slot);
    size_t n = std::min(serial.size(), sizeof free_slot->Serial - 1);
    std::memcpy(free_slot->Serial, serial.data(), n);
    free_slot->Token = pid;
    free_slot->StartTime = now;
    free_slot->InUse = 1;
    if (pToken != nullptr) *pToken = pid;
    return SDERR_SUCCESS;
}

SD_UINT32 zvapi_shdb_token_end(const std::string& serial, SD_INT32 token) {
    if (g_db == nullptr) return SDERR_UNKNOWN;
    zvapi_sem_guard guard(ZVAPI_SEM_SHDB);
    SD_INT64 now = now_seconds();
    zvapi_shdb_token* mine = nullptr;
    bool expired = false;
    for (auto& t : g_db->Tokens) {
        if (t.InUse != 1 || slot_serial(t) != serial) continue;
        if (t.Token == token) mine = &t;
        else if (!token_live(t, now)) expired = true;
    }
    if (mine != nullptr) {
        if (!token_live(*mine, now)) return SDERR_SESSION_EXPIRED;
        std::memset(static_cast<void*>(mine), 0, sizeof *mine);
        return SDERR_SUCCESS;
    }
    return expired ? SDERR_SESSION_EXPIRED : SDERR_UNKNOWN;
}

SD_INT32 zvapi_shdb_token_holder(const std::string& serial) {
    if (g_db == nullptr) return 0;
    zvapi_sem_guard guard(ZVAPI_SEM_SHDB);
    SD_INT64 now = now_seconds();
    for (const auto& t : g_db->Tokens) {
        if (token_live(t, now) && slot_serial(t) == serial && pid_alive(t.Token)) return t.Token;
    }
    return 0;
}

int zvapi_shdb_release_pid(SD_INT32 pid) {
    if (g_db == nullptr) return 0;
    zvapi_sem_guard guard(ZVAPI_SEM_SHDB);
    int cleared = 0;
    for (auto& t : g_db->Tokens) {
        if (t.InUse == 1 && t.Token == pid) {
            std::memset(static_cast<void*>(&t), 0, sizeof t);
            ++cleared;
        }
    }
    return cleared;
}

void zvapi_shdb_backdate_tokens(SD_INT64 seconds) {
    if (g_db == nullptr) return;
    zvapi_sem_guard guard(ZVAPI_SEM_SHDB);
    for (auto& t : g_db->Tokens) {
        if (t.InUse == 1) t.StartTime -= seconds;
    }
}

// ---- Events ------------------------------------------------------------------------------

void zvapi_shdb_event_push(SD_UINT32 instance, const ASYNCEVENT& event) {
    if (g_db == nullptr || instance >= ZVSHDB_EVENT_QUEUES) return;
    zvapi_sem_guard guard(ZVAPI_SEM_SHDB);
    auto& q = g_db->Queues[instance];
    // Another process may have scribbled on the file: keep indexes in range.
    q.Head %= ZVSHDB_EVENTS_PER_QUEUE;
    q.Count = std::min<SD_UINT32>(q.Count, ZVSHDB_EVENTS_PER_QUEUE);
    if (q.Count == ZVSHDB_EVENTS_PER_QUEUE) {
        q.Head = (q.Head + 1) % ZVSHDB_EVENTS_PER_QUEUE;
        --q.Count;
    }
    q.Events[(q.Head + q.Count) % ZVSHDB_EVENTS_PER_QUEUE] = event;
    ++q.Count;
}

SD_UINT32 zvapi_shdb_event_drain(SD_UINT32 instance, std::span<ASYNCEVENT> out) {
    if (g_db == nullptr || instance >= ZVSHDB_EVENT_QUEUES) return 0;
    zvapi_sem_guard guard(ZVAPI_SEM_SHDB);
    auto& q = g_db->Queues[instance];
    q.Head %= ZVSHDB_EVENTS_PER_QUEUE;
    q.Count = std::min<SD_UINT32>(q.Count, ZVSHDB_EVENTS_PER_QUEUE);
    SD_UINT32 n = 0;
    while (q.Count > 0 && n < out.size()) {
        out[n++] = q.Events[q.Head];
        q.Head = (q.Head + 1) % ZVSHDB_EVENTS_PER_QUEUE;
        --q.Count;
    }
    return n;
}
