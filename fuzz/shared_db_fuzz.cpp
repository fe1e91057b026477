// The shared database file, damaged by another process or a crash: attaching
// still works (a damaged file is re-initialised), the file then holds a sound
// layout, and tokens and event queues never index outside it.
//
// Input: the file's first bytes (the rest of the file is zero).
// Runs only in the private /run and IPC namespace that scripts/fuzz.sh makes:
// the file's path and the semaphores are the real ones.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <span>
#include <vector>

#include "fuzz_support.h"
#include "mgmt/sd_shared_db.h"

namespace {

// The file as it is now: its size and its layout's bytes.
struct DbFile {
    size_t size = 0;
    zvapi_shdb_file db{};
};

DbFile ReadDb() {
    DbFile f;
    const int fd = open(ZVSHDB_PATH, O_RDONLY | O_CLOEXEC);
    ZVFUZZ_CHECK(fd >= 0);
    struct stat st {};
    ZVFUZZ_CHECK(fstat(fd, &st) == 0);
    f.size = static_cast<size_t>(st.st_size);
    ZVFUZZ_CHECK(pread(fd, &f.db, sizeof f.db, 0) == static_cast<ssize_t>(std::min(sizeof f.db, f.size)));
    close(fd);
    return f;
}

// The layout rules a file in use must keep.
void CheckSound(const DbFile& file) {
    ZVFUZZ_CHECK(file.size == ZVSHDB_SIZE);
    const zvapi_shdb_file& db = file.db;
    ZVFUZZ_CHECK(std::memcmp(db.Magic, "ZVSHDB\0\0", 8) == 0);
    ZVFUZZ_CHECK(db.Version == ZVSHDB_VERSION && db.FileSize == ZVSHDB_SIZE);
    ZVFUZZ_CHECK(db.TokenSlots == ZVSHDB_TOKEN_SLOTS && db.EventQueues == ZVSHDB_EVENT_QUEUES);
    for (const zvapi_shdb_token& t : db.Tokens) {
        ZVFUZZ_CHECK(t.InUse <= 1);
        if (t.InUse != 0) ZVFUZZ_CHECK(strnlen(t.Serial, sizeof t.Serial) < sizeof t.Serial);
    }
    for (const zvapi_shdb_queue& q : db.Queues)
        ZVFUZZ_CHECK(q.Head < ZVSHDB_EVENTS_PER_QUEUE && q.Count <= ZVSHDB_EVENTS_PER_QUEUE);
    ZVFUZZ_CHECK(std::count(std::begin(db.Users), std::end(db.Users), static_cast<SD_INT32>(getpid())) >= 1);
    // Whatever id the bytes recorded, the set in use is root's own.
    ZVFUZZ_CHECK(db.SemId >= 0 && zvapi_shdb_sem_id() == db.SemId);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!zvfuzz::Isolated()) return 0;
    // The rest of the file reads as zeros: extended, not written.
    zvfuzz::WriteFile(ZVSHDB_PATH, std::span(data, std::min(size, ZVSHDB_SIZE)));
    ZVFUZZ_CHECK(truncate(ZVSHDB_PATH, static_cast<off_t>(ZVSHDB_SIZE)) == 0);
    ZVFUZZ_CHECK(chmod(ZVSHDB_PATH, 0600) == 0);   // root's own, as the library makes it

    const SD_UINT32 rc = zvapi_shdb_attach();
    if (rc != 0) {
        // Only a sound file whose every user slot names a live process is refused.
        ZVFUZZ_CHECK(rc == SDERR_OUT_OF_MEMORY);
        const DbFile now = ReadDb();
        const zvapi_shdb_file& db = now.db;
        ZVFUZZ_CHECK(std::none_of(std::begin(db.Users), std::end(db.Users), [](SD_INT32 u) { return u == 0; }));
        return 0;
    }
    CheckSound(ReadDb());
    std::vector<ASYNCEVENT> out(70);
    for (SD_UINT32 inst : {0u, 5u, 7u, 127u, 128u}) ZVFUZZ_CHECK(zvapi_shdb_event_drain(inst, out) <= 64);
    zvapi_shdb_event_push(0, ASYNCEVENT{99, {}});
    ZVFUZZ_CHECK(zvapi_shdb_event_drain(0, out) == 1 && out[0].EventCode == 99);
    zvapi_shdb_token_holder("SER1");
    const SD_UINT32 st = zvapi_shdb_token_start("SER2", getpid(), nullptr);
    ZVFUZZ_CHECK(st == 0 || st == SDERR_SESSION_IN_PROGRESS || st == SDERR_UNKNOWN);
    if (st == 0) ZVFUZZ_CHECK(zvapi_shdb_token_holder("SER2") == getpid());
    zvapi_shdb_release_pid(getpid());
    ZVFUZZ_CHECK(zvapi_shdb_token_holder("SER2") != getpid());
    CheckSound(ReadDb());
    zvapi_shdb_detach();
    ZVFUZZ_CHECK(!zvapi_shdb_attached());
    return 0;
}
