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
#include <poll.h>
#include <sys/file.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include "mgmt/root_only_dir.h"
#include "mgmt/sd_log.h"
#include "mgmt/sdapi.h"

namespace {

constexpr char kMagic[8] = {'Z', 'V', 'S', 'H', 'D', 'B', 0, 0};
constexpr int kSemCount = 4;
// Longest wait for each semaphore; a holder that never lets go can delay the
// program by this much, never for ever.
constexpr int kSemWaitMs[kSemCount] = {30000, 60000, 10000, 5000};
// Longest wait for the file's lock at attach and detach (the load lock).
constexpr long long kFileLockWaitMs = 30000;
// A wait is taken in slices so that an interrupt ends it soon.
constexpr long kSemSliceMs = 100;

std::mutex g_semMutex;            // guards g_semId within the process
int g_semId = -1;
zvapi_shdb_file* g_db = nullptr;  // mapping while attached
// The file mapped (st_dev, st_ino): detach removes the name only while it
// still names this file.
dev_t g_dbDev = 0;
ino_t g_dbIno = 0;
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

std::string cannot_start(const std::string& what) {
    return "The management library cannot start: its shared database " + std::string(ZVSHDB_PATH) + " " + what + ".";
}

// A set that another user made or owns, or that others may use, could be held
// or driven by them: it is never waited on, nor removed (it is not ours).
// Root's own with another count is another program's.
bool sem_fits(int id, std::string* why) {
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
        return false;
    }
    if ((ds.sem_perm.mode & 0077) != 0) {
        *why = "other users may use it (mode 0" + std::to_string((ds.sem_perm.mode >> 6) & 7) +
               std::to_string((ds.sem_perm.mode >> 3) & 7) + std::to_string(ds.sem_perm.mode & 7) + ")";
        return false;
    }
    if (ds.sem_nsems != static_cast<unsigned long>(kSemCount)) {
        *why = "it holds " + std::to_string(ds.sem_nsems) + " semaphores";
        return false;
    }
    return true;
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

// Takes the file's lock (flock, given back by the kernel when the process
// dies), at most `limitMs`, in slices that grow to kSemSliceMs. A wait for a
// lock, not a pause of the product: poll(), not a sleep.
WaitResult file_lock_take(int fd, long long limitMs, bool honourInterrupt) {
    const long long deadline = now_ms() + limitMs;
    long long pause = 1;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return WaitResult::Taken;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return WaitResult::Failed;
        if (honourInterrupt && g_waitsInterrupted != 0) return WaitResult::Interrupted;
        const long long left = deadline - now_ms();
        if (left <= 0) return WaitResult::TimedOut;
        ::poll(nullptr, 0, static_cast<int>(std::min(pause, left)));
        pause = std::min<long long>(pause * 2, kSemSliceMs);
    }
}

// Whether this thread's last failed wait ran out of time.
thread_local bool g_lastWaitTimedOut = false;

bool sem_lock_impl(zvapi_sem_index which, long long limitMs, bool honourInterrupt) {
    g_lastWaitTimedOut = false;
    int id;
    {
        std::lock_guard<std::mutex> lock(g_semMutex);
        id = g_semId;
    }
    // The set is known only while attached.
    if (id < 0) return false;
    switch (sem_wait_take(id, which, limitMs, honourInterrupt)) {
        case WaitResult::Taken: return true;
        case WaitResult::Removed:
            // Removed by the last user of its generation (or by hand).
            sem_forget(id);
            return false;
        case WaitResult::TimedOut:
            g_lastWaitTimedOut = true;
            // (The debug log's own semaphore is not logged: that would wait again.)
            if (which != ZVAPI_SEM_DEBUG_LOG)
                zvdbg_error("zvapi_sem_lock: semaphore %d still held after %lld ms", static_cast<int>(which), limitMs);
            return false;
        case WaitResult::Interrupted:
        case WaitResult::Failed: return false;
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
    // The record only: the rest of the file is never used, and clearing it
    // would make every one of its pages resident in each library user.
    std::memset(static_cast<void*>(db), 0, sizeof *db);
    std::memcpy(db->Magic, kMagic, sizeof kMagic);
    db->Version = ZVSHDB_VERSION;
    db->FileSize = static_cast<SD_UINT32>(ZVSHDB_SIZE);
    db->TokenSlots = ZVSHDB_TOKEN_SLOTS;
    db->EventQueues = ZVSHDB_EVENT_QUEUES;
    db->SemId = -1;
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
// that neither group nor others may open (flock needs only read access: one
// who may read it could hold its lock for ever). Only root can have put it
// there, so anything else is a fault of the host, said with its reason.
bool own_shared_file(const struct stat& st, std::string* why) {
    if (!S_ISREG(st.st_mode)) *why = "is not a regular file";
    else if (st.st_uid != ::geteuid()) *why = "is not root's own";
    else if (st.st_nlink > 1) *why = "has more than one name";
    else if ((st.st_mode & 0077) != 0) *why = "may be opened by users other than root";
    else return true;
    return false;
}

// "/run", opened when only root may write it.
int open_dir(std::string* why) {
    std::string reason;
    const int dir = zvapi_open_root_only_dir(ZVSHDB_DIR, reason);
    if (dir < 0) *why = "cannot be used: " + reason;
    return dir;
}

enum class Opened { Locked, Missing, Failed, TimedOut, Interrupted };

// Opens the file in `dir` (made, mode 0600, when `create`) without following
// a link or opening a FIFO for good, checks it is root's own, takes its lock
// and checks that the name still names the file locked: the last user of a
// generation removes the name under the lock, and a file it removed is opened
// again. *fd holds the locked file on Locked; *why tells a failure.
Opened open_locked(int dir, bool create, long long limitMs, bool honourInterrupt, int* fd, std::string* why) {
    const long long deadline = now_ms() + limitMs;
    *fd = -1;
    for (;;) {
        const int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (create ? O_CREAT : 0);
        const int f = ::openat(dir, ZVSHDB_NAME, flags, 0600);
        if (f < 0) {
            if (errno == ENOENT && !create) return Opened::Missing;
            *why = errno == ELOOP ? "is a symbolic link" : "cannot be opened (" + errno_text(errno) + ")";
            return Opened::Failed;
        }
        struct stat st {};
        if (::fstat(f, &st) != 0) {
            *why = "cannot be examined (" + errno_text(errno) + ")";
            ::close(f);
            return Opened::Failed;
        }
        if (!own_shared_file(st, why)) {
            ::close(f);
            return Opened::Failed;
        }
        const long long left = std::max(deadline - now_ms(), 0LL);
        switch (file_lock_take(f, left, honourInterrupt)) {
            case WaitResult::Taken: break;
            case WaitResult::TimedOut: ::close(f); return Opened::TimedOut;
            case WaitResult::Interrupted: ::close(f); return Opened::Interrupted;
            default:
                *why = "cannot be locked (" + errno_text(errno) + ")";
                ::close(f);
                return Opened::Failed;
        }
        struct stat named {};
        if (::fstat(f, &st) == 0 && st.st_nlink != 0 &&
            ::fstatat(dir, ZVSHDB_NAME, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == st.st_dev &&
            named.st_ino == st.st_ino) {
            *fd = f;
            return Opened::Locked;
        }
        // Removed (or replaced) while this process waited: another generation.
        ::close(f);
        if (now_ms() >= deadline) return Opened::TimedOut;
    }
}

// The id of the set recorded in an open shared file; -1 when it records none
// or is no shared file of this layout.
SD_INT32 recorded_set(int fd) {
    // The header only, field by field: the whole layout is too big for a stack.
    unsigned char head[offsetof(zvapi_shdb_file, Users)] = {};
    if (::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) return -1;
    SD_UINT32 version = 0;
    SD_INT32 id = -1;
    std::memcpy(&version, head + offsetof(zvapi_shdb_file, Version), sizeof version);
    std::memcpy(&id, head + offsetof(zvapi_shdb_file, SemId), sizeof id);
    if (std::memcmp(head, kMagic, sizeof kMagic) != 0 || version != ZVSHDB_VERSION) return -1;
    return id;
}

// The recorded set when it fits, else a fresh one of root's, recorded; -1
// with *why set when none can be made. Called under the file's lock.
int find_or_make_set(zvapi_shdb_file* db, std::string* why) {
    std::string unfit;
    if (db->SemId >= 0 && sem_fits(db->SemId, &unfit)) return db->SemId;
    if (db->SemId >= 0)
        zvdbg_error("zvapi_shdb_attach: semaphore set %d recorded in %s is not used: %s", static_cast<int>(db->SemId),
                    ZVSHDB_PATH, unfit.c_str());
    const int id = semget(IPC_PRIVATE, kSemCount, IPC_CREAT | 0600);
    if (id < 0) {
        *why = "The management library cannot start: its semaphores cannot be made (" + errno_text(errno) + ").";
        return -1;
    }
    db->SemId = id;
    return id;
}

}  // namespace

// ---- Semaphores ---------------------------------------------------------------

int zvapi_shdb_sem_id() {
    std::string why;
    const int dir = open_dir(&why);
    if (dir < 0) return -1;
    const int fd = ::openat(dir, ZVSHDB_NAME, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    ::close(dir);
    if (fd < 0) return -1;
    struct stat st {};
    const int id = ::fstat(fd, &st) == 0 && own_shared_file(st, &why) ? recorded_set(fd) : -1;
    ::close(fd);
    return id >= 0 && sem_fits(id, &why) ? id : -1;
}

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

namespace {

// Maps the locked file (sizing and re-initialising it as needed), finds or
// makes the set and registers this process; the set-up error on failure.
std::string attach_locked(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return cannot_start("cannot be examined (" + errno_text(errno) + ")");
    const bool fresh = static_cast<size_t>(st.st_size) != ZVSHDB_SIZE;
    // Every page is given its blocks now: a sparse file on a full file system
    // would end the process with SIGBUS at the first store through the map.
    int sized = fresh && ftruncate(fd, 0) != 0 ? errno : 0;
    if (sized == 0) sized = posix_fallocate(fd, 0, static_cast<off_t>(ZVSHDB_SIZE));
    if (sized != 0) return cannot_start("cannot be sized (" + errno_text(sized) + ")");
    void* map = mmap(nullptr, ZVSHDB_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) return cannot_start("cannot be mapped (" + errno_text(errno) + ")");
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
        return "";   // no set-up fault: a later attach may find a free slot
    }
    std::string why;
    const int id = find_or_make_set(db, &why);
    if (id < 0) {
        munmap(map, ZVSHDB_SIZE);
        return why;
    }
    *slot = self;
    {
        std::lock_guard<std::mutex> lock(g_semMutex);
        g_semId = id;
    }
    g_dbDev = st.st_dev;
    g_dbIno = st.st_ino;
    g_db = db;
    return "";
}

}  // namespace

SD_UINT32 zvapi_shdb_attach() {
    if (g_db != nullptr) return SDERR_SUCCESS;
    if (g_setupFailed) return SDERR_OUT_OF_MEMORY;
    std::string why;
    const int dir = open_dir(&why);
    if (dir < 0) {
        setup_failed(cannot_start(why));
        return SDERR_OUT_OF_MEMORY;
    }
    int fd = -1;
    const Opened opened = open_locked(dir, true, kFileLockWaitMs, true, &fd, &why);
    if (opened != Opened::Locked) {
        ::close(dir);
        // An interrupted wait is no set-up failure: the run is ending anyway.
        if (opened == Opened::TimedOut)
            setup_failed("The management library cannot start: another process has held its shared database for "
                         "too long.");
        else if (opened != Opened::Interrupted)
            setup_failed(cannot_start(why));
        return SDERR_OUT_OF_MEMORY;
    }
    const std::string failure = attach_locked(fd);
    if (g_db == nullptr) {
        // A file this process made and could not use is not left behind.
        struct stat st {};
        if (::fstat(fd, &st) == 0 && st.st_size == 0) ::unlinkat(dir, ZVSHDB_NAME, 0);
        if (!failure.empty()) setup_failed(failure);
    }
    // Given back by hand: the mapping keeps the open file, and with it a lock
    // that only closing would not end.
    ::flock(fd, LOCK_UN);
    ::close(fd);
    ::close(dir);
    return g_db != nullptr ? SDERR_SUCCESS : SDERR_OUT_OF_MEMORY;
}

namespace {
// Unregisters this process. The last user removes the name only under the
// file's lock and while the name still names the file it mapped: a file made
// afresh meanwhile (after a restart that dropped this one) is another
// generation's. Its own set goes with it either way.
void leave(long long limitMs) {
    auto self = static_cast<SD_INT32>(getpid());
    std::string why;
    const int dir = open_dir(&why);
    int fd = -1;
    const Opened opened = dir >= 0 ? open_locked(dir, false, limitMs, false, &fd, &why) : Opened::Failed;
    bool locked = false;
    if (opened == Opened::Locked) {
        struct stat st {};
        locked = ::fstat(fd, &st) == 0 && st.st_dev == g_dbDev && st.st_ino == g_dbIno;
    }
    for (auto& u : g_db->Users) {
        if (u == self) u = 0;
    }
    prune_users(g_db);
    const bool last =
        std::all_of(std::begin(g_db->Users), std::end(g_db->Users), [](SD_INT32 u) { return u == 0; });
    if (last) {
        if (locked) ::unlinkat(dir, ZVSHDB_NAME, 0);
        int id;
        {
            std::lock_guard<std::mutex> lock(g_semMutex);
            id = g_semId;
        }
        // The set is this generation's alone, also once its file was dropped
        // from the name: it goes unless the file now at the name records it
        // (or that file could not be looked at).
        const bool ours = locked || opened == Opened::Missing || (opened == Opened::Locked && recorded_set(fd) != id);
        if (ours && id >= 0) {
            sem_forget(id);
            semctl(id, 0, IPC_RMID);
        }
    }
    if (fd >= 0) {
        ::flock(fd, LOCK_UN);
        ::close(fd);
    }
    if (dir >= 0) ::close(dir);
}
}  // namespace

void zvapi_shdb_detach() {
    std::lock_guard<std::timed_mutex> map(g_mapMutex);
    if (g_db == nullptr) return;
    leave(kFileLockWaitMs);
    munmap(g_db, ZVSHDB_SIZE);
    g_db = nullptr;
}

void zvapi_shdb_leave_on_exit() {
    std::unique_lock<std::timed_mutex> map(g_mapMutex, kExitLockWait);
    if (!map.owns_lock() || g_db == nullptr) return;
    // Other threads may still touch the mapping until the process ends: it stays.
    leave(2000);
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
