#include "mgmt/sd_shared_db.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
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
// How often a file or semaphore set that another user keeps putting in the
// way is set aside before the library gives up (each time a race lost to them).
constexpr int kSetAsideAttempts = 16;
// Longest wait for each semaphore; a holder that never lets go (or a set that
// someone else drives) can delay the program by this much, never for ever.
constexpr int kSemWaitMs[kSemCount] = {30000, 60000, 10000, 5000};
// A wait is taken in slices so that an interrupt ends it soon.
constexpr long kSemSliceMs = 100;

std::mutex g_semMutex;            // guards g_semId within the process
int g_semId = -1;
zvapi_shdb_file* g_db = nullptr;  // mapping while attached
// Detach and the clean-up of a process ending on a signal (which runs outside
// the library lock) never overlap: the mapping goes only under this lock.
std::timed_mutex g_mapMutex;
constexpr auto kExitLockWait = std::chrono::seconds(3);

// Every flash operation of the process passes this gate (taken with the flash
// semaphore); an interrupt closes it for good once no operation is under way.
std::timed_mutex g_flashGate;
std::atomic<bool> g_flashClosed{false};

volatile sig_atomic_t g_waitsInterrupted = 0;

// Why the library cannot set up its shared state; said once, then every
// further attach fails at once.
std::mutex g_setupMutex;
std::string g_setupError;
std::atomic<bool> g_setupFailed{false};

union semun_arg {
    int val;
    struct semid_ds* buf;
    unsigned short* array;
};

void setup_failed(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(g_setupMutex);
        if (g_setupFailed) return;
        g_setupError = text;
        g_setupFailed = true;
    }
    zvdbg_fatal("%s", text.c_str());
}

std::string errno_text(int err) { return std::strerror(err); }

// The key follows the directory the file lives in, so that a private /tmp
// (as in a container) gets its own semaphores.
key_t sem_key() {
    key_t key = ftok("/tmp", 'Z');
    return key == -1 ? static_cast<key_t>(0x5A560001) : key;
}

// A set that another user made, or that others may alter, could be held or
// driven by them: it is never waited on. Another user's set is removed
// (root may) and root's own made in its place, so that no user can stop
// the library by making the set first; a set of root's that does not fit
// (another program's, or one others may alter) is left alone and the
// library does not start.
// *planted tells a set that another user made or owns (never one of root's).
bool sem_trusted(int id, std::string* why, bool* planted) {
    struct semid_ds ds {};
    semun_arg arg{};
    arg.buf = &ds;
    if (semctl(id, 0, IPC_STAT, arg) != 0) {
        *why = "its state cannot be read (" + errno_text(errno) + ")";
        return false;
    }
    const uid_t self = ::geteuid();
    if (ds.sem_perm.cuid != self || ds.sem_perm.uid != self) {
        *why = "it was not created by root (creator uid " + std::to_string(ds.sem_perm.cuid) + ", owner uid " +
               std::to_string(ds.sem_perm.uid) + ")";
        if (planted != nullptr) *planted = true;
        return false;
    }
    if ((ds.sem_perm.mode & 0022) != 0) {
        *why = "other users may change it (mode 0" + std::to_string((ds.sem_perm.mode >> 6) & 7) +
               std::to_string((ds.sem_perm.mode >> 3) & 7) + std::to_string(ds.sem_perm.mode & 7) + ")";
        return false;
    }
    if (ds.sem_nsems < static_cast<unsigned long>(kSemCount)) {
        *why = "it holds too few semaphores";
        return false;
    }
    return true;
}

int sem_get_id() {
    std::string failure, removed;
    int found = -1;
    {
        std::lock_guard<std::mutex> lock(g_semMutex);
        if (g_semId >= 0) return g_semId;
        if (g_setupFailed) return -1;
        const key_t key = sem_key();
        bool lastRemoved = false;
        for (int attempt = 0; attempt < kSetAsideAttempts && failure.empty() && found < 0; ++attempt) {
            lastRemoved = false;
            int id = semget(key, kSemCount, IPC_CREAT | IPC_EXCL | 0600);
            if (id >= 0) {
                found = id;
                break;
            }
            if (errno != EEXIST) break;
            id = semget(key, 0, 0);
            if (id < 0) {
                if (errno == ENOENT) continue;   // its last user just removed it
                break;
            }
            std::string why;
            bool planted = false;
            if (sem_trusted(id, &why, &planted)) {
                found = id;
            } else if (planted && semctl(id, 0, IPC_RMID) == 0) {
                removed = why;
                lastRemoved = true;
            } else {
                char hex[16];
                std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(key));
                failure = std::string("The management library cannot start: its semaphore set (key ") + hex +
                          ") is not used because " + why + ".";
            }
        }
        if (found >= 0) {
            g_semId = found;
        } else if (failure.empty()) {
            failure = lastRemoved ? "The management library cannot start: another user's semaphore set keeps "
                                    "taking the place of its own."
                                  : "The management library cannot start: its semaphores cannot be made (" +
                                        errno_text(errno) + ").";
        }
    }
    // Said outside the lock: the log itself may take a semaphore.
    if (!removed.empty()) zvdbg_error("zvapi_sem_open: a semaphore set under its key was removed: %s", removed.c_str());
    if (found >= 0) return found;
    setup_failed(failure);
    return -1;
}

void sem_forget(int id) {
    std::lock_guard<std::mutex> lock(g_semMutex);
    if (g_semId == id) g_semId = -1;
}

long long now_ms() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

enum class WaitResult { Taken, TimedOut, Interrupted, Removed, Failed };

// Waits for the semaphore to be zero and takes it (SEM_UNDO gives it back if
// this process dies holding it), at most `limitMs`, in short slices.
WaitResult sem_wait_take(int id, zvapi_sem_index which, long long limitMs, bool honourInterrupt) {
    const long long deadline = now_ms() + limitMs;
    for (;;) {
        if (honourInterrupt && g_waitsInterrupted != 0) return WaitResult::Interrupted;
        const long long left = deadline - now_ms();
        if (left <= 0) return WaitResult::TimedOut;
        const long long slice = left < kSemSliceMs ? left : kSemSliceMs;
        struct timespec ts {};
        ts.tv_sec = static_cast<time_t>(slice / 1000);
        ts.tv_nsec = static_cast<long>(slice % 1000) * 1000000L;
        sembuf ops[2] = {{static_cast<unsigned short>(which), 0, 0},
                         {static_cast<unsigned short>(which), 1, SEM_UNDO}};
        if (semtimedop(id, ops, 2, &ts) == 0) return WaitResult::Taken;
        if (errno == EAGAIN || errno == EINTR) continue;
        if (errno == EIDRM || errno == EINVAL) return WaitResult::Removed;
        return WaitResult::Failed;
    }
}

// Whether this thread's last failed wait ran out of time.
thread_local bool g_lastWaitTimedOut = false;

bool sem_lock_impl(zvapi_sem_index which, long long limitMs, bool honourInterrupt) {
    g_lastWaitTimedOut = false;
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
        switch (sem_wait_take(id, which, limitMs, honourInterrupt)) {
            case WaitResult::Taken: return true;
            case WaitResult::Removed:
                // The last user of the previous generation removed the set.
                sem_forget(id);
                if (which != ZVAPI_SEM_LOAD) return false;
                continue;
            case WaitResult::TimedOut:
                g_lastWaitTimedOut = true;
                // (The debug log's own semaphore is not logged: that would wait again.)
                if (which != ZVAPI_SEM_DEBUG_LOG)
                    zvdbg_error("zvapi_sem_lock: semaphore %d still held after %lld ms", static_cast<int>(which),
                                limitMs);
                return false;
            case WaitResult::Interrupted:
            case WaitResult::Failed: return false;
        }
    }
    return false;
}

void sem_unlock_impl(zvapi_sem_index which) {
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

// Token times: the platform's clock while the library is loaded.
std::atomic<SD_INT64 (*)()> g_clock{nullptr};

SD_INT64 now_seconds() {
    SD_INT64 (*clock)() = g_clock.load();
    return clock != nullptr ? clock() : static_cast<SD_INT64>(std::time(nullptr));
}

bool token_live(const zvapi_shdb_token& t, SD_INT64 now) {
    if (t.InUse != 1) return false;
    // A clock that went back counts as live; a start time from a damaged
    // file may lie anywhere, so the age is taken without overflow.
    if (t.StartTime >= now) return true;
    const SD_UINT64 age = static_cast<SD_UINT64>(now) - static_cast<SD_UINT64>(t.StartTime);
    return age < static_cast<SD_UINT64>(ZVAPI_TOKEN_LIFETIME);
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

// Root's own file: a regular file of this process's user, with no other name
// (a hard link to another of root's files would be truncated and mapped),
// that neither group nor others may write.
bool own_shared_file(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_nlink == 1 &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Takes what is in the file's place out of the way without following or
// opening it: anything but a directory is removed (root may remove another
// user's name in the sticky /tmp), a directory is renamed onto a fresh empty
// directory of root's with an unguessable name beside it, its contents
// untouched. False with *why set when neither works.
bool set_aside(std::string* why) {
    if (::unlink(ZVSHDB_PATH) == 0 || errno == ENOENT) return true;
    if (errno != EISDIR && errno != EPERM) {
        *why = "cannot be made afresh: what is in its place cannot be removed (" + errno_text(errno) + ")";
        return false;
    }
    char aside[] = "/tmp/zv_shared.dat.XXXXXX";
    if (::mkdtemp(aside) == nullptr) {
        *why = "cannot be made afresh: the directory in its place cannot be set aside (" + errno_text(errno) + ")";
        return false;
    }
    if (::rename(ZVSHDB_PATH, aside) != 0) {
        const int err = errno;
        ::rmdir(aside);
        // Gone or replaced by something else meanwhile: looked at again.
        if (err == ENOENT || err == ENOTDIR || err == EISDIR) return true;
        *why = "cannot be made afresh: the directory in its place cannot be set aside (" + errno_text(err) + ")";
        return false;
    }
    zvdbg_error("zvapi_shdb_attach: the directory in place of %s was moved to %s", ZVSHDB_PATH, aside);
    return true;
}

// Opens the shared file when it is root's own (see own_shared_file), reached
// without a link; anything else in its place (another user's file or
// directory, a link, a FIFO, a file others may write) is set aside and the
// file made afresh, exclusively. -1 with *why set when that cannot be done.
int open_shared_file(bool* fresh, std::string* why) {
    *fresh = false;
    for (int attempt = 0; attempt < kSetAsideAttempts; ++attempt) {
        // Looked at before it is opened: a FIFO or device is never opened.
        struct stat before {};
        int fd = -1;
        bool missing = false;
        if (::lstat(ZVSHDB_PATH, &before) != 0) {
            missing = errno == ENOENT;
        } else if (S_ISREG(before.st_mode)) {
            fd = ::open(ZVSHDB_PATH, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            missing = fd < 0 && errno == ENOENT;
        }
        if (fd >= 0) {
            if (own_shared_file(fd)) return fd;
            ::close(fd);
        } else if (missing) {
            fd = ::open(ZVSHDB_PATH, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
            if (fd < 0 && errno == EEXIST) continue;   // put there meanwhile: looked at again
            if (fd < 0) {
                *why = "cannot be created (" + errno_text(errno) + ")";
                return -1;
            }
            if (::fchmod(fd, 0600) != 0) {
                *why = "cannot be given mode 0600 (" + errno_text(errno) + ")";
                ::close(fd);
                ::unlink(ZVSHDB_PATH);
                return -1;
            }
            *fresh = true;
            return fd;
        }
        zvdbg_error("zvapi_shdb_attach: %s is not a file of this user only; made afresh", ZVSHDB_PATH);
        if (!set_aside(why)) return -1;
    }
    *why = "cannot be made afresh: what is put in its place keeps coming back";
    return -1;
}

}  // namespace

// ---- Semaphores ---------------------------------------------------------------

key_t zvapi_sem_key() { return sem_key(); }

bool zvapi_sem_open() { return sem_get_id() >= 0; }

bool zvapi_sem_lock(zvapi_sem_index which) {
    if (which == ZVAPI_SEM_FLASH) {
        // Closed by an interrupt: this thread waits here until the process ends.
        g_flashGate.lock();
        if (!sem_lock_impl(which, kSemWaitMs[which], true)) {
            g_flashGate.unlock();
            return false;
        }
        return true;
    }
    return sem_lock_impl(which, kSemWaitMs[which], true);
}

void zvapi_sem_unlock(zvapi_sem_index which) {
    sem_unlock_impl(which);
    if (which == ZVAPI_SEM_FLASH) g_flashGate.unlock();
}

void zvapi_interrupt_waits() { g_waitsInterrupted = 1; }

bool zvapi_waits_interrupted() { return g_waitsInterrupted != 0; }

bool zvapi_quiesce_flash(int timeoutMs) {
    if (g_flashClosed) return true;
    if (!g_flashGate.try_lock_for(std::chrono::milliseconds(timeoutMs))) return false;
    // Held for the rest of the process: no flash operation starts again.
    g_flashClosed = true;
    return true;
}

std::string zvapi_setup_error() {
    std::lock_guard<std::mutex> lock(g_setupMutex);
    return g_setupError;
}

void zvapi_reset_setup_error() {
    std::lock_guard<std::mutex> lock(g_setupMutex);
    g_setupError.clear();
    g_setupFailed = false;
}

// ---- Attach and detach ------------------------------------------------------------

SD_UINT32 zvapi_shdb_attach() {
    if (g_db != nullptr) return SDERR_SUCCESS;
    if (g_setupFailed) return SDERR_OUT_OF_MEMORY;
    if (!zvapi_sem_lock(ZVAPI_SEM_LOAD)) {
        // An interrupted wait is no set-up failure: the run is ending anyway.
        if (!g_setupFailed && g_waitsInterrupted == 0)
            setup_failed(g_lastWaitTimedOut
                             ? "The management library cannot start: another process has held its load semaphore for "
                               "too long."
                             : "The management library cannot start: its load semaphore cannot be taken (" +
                                   errno_text(errno) + ").");
        return SDERR_OUT_OF_MEMORY;
    }
    SD_UINT32 status = SDERR_SUCCESS;
    bool fresh = false;
    std::string why;
    int fd = open_shared_file(&fresh, &why);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        setup_failed("The management library cannot start: its shared database " + std::string(ZVSHDB_PATH) + " " +
                     why + ".");
        status = SDERR_OUT_OF_MEMORY;
    } else {
        fresh = fresh || static_cast<size_t>(st.st_size) != ZVSHDB_SIZE;
        // Every page is given its blocks now: a sparse file on a full /tmp
        // would end the process with SIGBUS at the first store through the map.
        int sized = fresh && ftruncate(fd, 0) != 0 ? errno : 0;
        if (sized == 0) sized = posix_fallocate(fd, 0, static_cast<off_t>(ZVSHDB_SIZE));
        if (sized != 0) {
            setup_failed("The management library cannot start: its shared database " + std::string(ZVSHDB_PATH) +
                         " cannot be sized (" + errno_text(sized) + ").");
            status = SDERR_OUT_OF_MEMORY;
        } else {
            void* map = mmap(nullptr, ZVSHDB_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (map == MAP_FAILED) {
                setup_failed("The management library cannot start: its shared database " +
                             std::string(ZVSHDB_PATH) + " cannot be mapped (" + errno_text(errno) + ").");
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

namespace {
// Unregisters this process; the last user removes the file and the semaphores.
void leave(bool locked) {
    auto self = static_cast<SD_INT32>(getpid());
    for (auto& u : g_db->Users) {
        if (u == self) u = 0;
    }
    prune_users(g_db);
    bool last = std::all_of(std::begin(g_db->Users), std::end(g_db->Users), [](SD_INT32 u) { return u == 0; });
    if (last) ::unlink(ZVSHDB_PATH);
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
        sem_unlock_impl(ZVAPI_SEM_LOAD);
    }
}
}  // namespace

void zvapi_shdb_detach() {
    std::lock_guard<std::timed_mutex> map(g_mapMutex);
    if (g_db == nullptr) return;
    const bool locked = sem_lock_impl(ZVAPI_SEM_LOAD, kSemWaitMs[ZVAPI_SEM_LOAD], false);
    zvapi_shdb_file* db = g_db;
    leave(locked);
    munmap(db, ZVSHDB_SIZE);
    g_db = nullptr;
}

void zvapi_shdb_leave_on_exit() {
    std::unique_lock<std::timed_mutex> map(g_mapMutex, kExitLockWait);
    if (!map.owns_lock() || g_db == nullptr) return;
    // Other threads may still touch the mapping until the process ends: it stays.
    const bool locked = sem_lock_impl(ZVAPI_SEM_LOAD, 2000, false);
    leave(locked);
}

bool zvapi_shdb_attached() { return g_db != nullptr; }

// ---- Tokens ---------------------------------------------------------------------------

void zvapi_shdb_set_clock(SD_INT64 (*clock)()) { g_clock = clock; }

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
    std::unique_lock<std::timed_mutex> map(g_mapMutex, kExitLockWait);
    if (!map.owns_lock() || g_db == nullptr) return 0;
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
