// The library's shared database and semaphores across processes: what other
// users make at the old names ("/tmp/zv_shared.dat", the key of
// ftok("/tmp", 'Z')) neither stops the library nor is touched by it; a set
// recorded in the file is used only when it is root's own and fits; a /run
// that others may write stops the start with its reason; concurrent users
// leave nothing behind; the last user of a dropped file leaves the newer
// file at the name alone; an interrupt ends the wait for the file's lock; a
// closed flash gate lets no further flash operation start.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "lib_fixture.h"
#include "fixtures/board_template_builder.h"
#include "support/e2e_support.h"
#include "support/other_user.h"
#include "support/semaphore_sets.h"

namespace {

using zvtest::AsUser;
using zvtest::kNobody;
using zvtest::SemaphoreSetState;
using zvtest::SemaphoreSetsOf;

class SharedSafety : public zvtest::LibTest {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /run, /tmp and IPC";
        LibTest::SetUp();
        state->AddAdapter(0x2261, "SN1");
    }
    void TearDown() override {
        LibTest::TearDown();
        for (int id : planted) semctl(id, 0, IPC_RMID);
        zvtest::RestoreRun();
        zvapi_reset_setup_error();
    }
    // A set made by `uid` (IPC_PRIVATE unless `key`), its first semaphore at 1.
    int PlantSet(uid_t uid, int count, int mode, key_t key = IPC_PRIVATE) {
        int fds[2];
        if (pipe(fds) != 0) return -1;
        const bool made = AsUser(uid, [&] {
            const int id = semget(key, count, IPC_CREAT | IPC_EXCL | mode);
            return id >= 0 && semctl(id, 0, SETVAL, 1) == 0 && write(fds[1], &id, sizeof id) == sizeof id;
        });
        int id = -1;
        if (!made || read(fds[0], &id, sizeof id) != sizeof id) id = -1;
        close(fds[0]);
        close(fds[1]);
        if (id >= 0) planted.push_back(id);
        return id;
    }
    // Opens port 0 and takes and ends a flash-update session there, which
    // goes through the shared database and its semaphores; gives the set the
    // file then records (the port stays open in *handle).
    int UseSharedDatabase(int* handle) {
        *handle = Open(0);
        SD_INT32 token = 0;
        EXPECT_EQ(SDStartFlashUpdate(*handle, 0, &token), 0u);
        EXPECT_EQ(SDEndFlashUpdate(*handle, 0, token), 0u);
        return zvapi_shdb_sem_id();
    }
    std::vector<int> planted;
};

// One user's objects at the old names, each with what it is now.
struct Planted {
    std::string what;
    std::function<bool()> plant;   // run as the other user
};

std::string Describe(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return "gone";
    std::string d = "ino " + std::to_string(st.st_ino) + " mode " + std::to_string(st.st_mode) + " uid " +
                    std::to_string(st.st_uid) + " size " + std::to_string(st.st_size);
    if (S_ISLNK(st.st_mode)) d += " -> " + std::filesystem::read_symlink(path).string();
    if (S_ISREG(st.st_mode)) d += " " + zvtest::ReadFile(path);
    if (S_ISDIR(st.st_mode)) d += " keep: " + zvtest::ReadFile(path + "/keep");
    return d;
}

TEST_F(SharedSafety, ObjectsAnotherUserPutsAtTheOldNamesNeitherStopNorAreTouched) {
    const std::string old = "/tmp/zv_shared.dat";
    const std::vector<Planted> rows = {
        {"a directory", [&] {
             return mkdir(old.c_str(), 0777) == 0 && chmod(old.c_str(), 0777) == 0 &&
                    (zvfix::WriteTextFile(old + "/keep", "theirs\n"), true);
         }},
        {"a link", [&] { return symlink("/tmp/theirs", old.c_str()) == 0; }},
        {"a FIFO", [&] { return mkfifo(old.c_str(), 0666) == 0 && chmod(old.c_str(), 0666) == 0; }},
        {"a file others may write", [&] {
             zvfix::WriteTextFile(old, std::string(64, 'Z'));
             return chmod(old.c_str(), 0666) == 0;
         }},
    };
    const key_t oldKey = ftok("/tmp", 'Z');
    for (const Planted& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(AsUser(kNobody, row.plant));
        // Their sets: one on the old key (held), one private that others may use.
        const int onKey = PlantSet(kNobody, 4, 0600, oldKey);
        const int open = PlantSet(kNobody, 4, 0666);
        ASSERT_GE(onKey, 0);
        ASSERT_GE(open, 0);
        const std::string object = Describe(old), keyed = SemaphoreSetState(onKey), other = SemaphoreSetState(open);

        int h = -1;
        const int id = UseSharedDatabase(&h);
        EXPECT_GE(id, 0);
        EXPECT_NE(id, onKey);
        EXPECT_NE(id, open);
        Close(h);

        EXPECT_EQ(Describe(old), object);
        EXPECT_EQ(SemaphoreSetState(onKey), keyed);
        EXPECT_EQ(SemaphoreSetState(open), other);
        EXPECT_EQ(semget(oldKey, 0, 0), onKey) << "theirs is still on the key";
        EXPECT_FALSE(zvtest::SharedFileExists());
        EXPECT_TRUE(SemaphoreSetsOf(0).empty()) << "root's own set goes with its last user";
        std::filesystem::remove_all(old);
        for (int p : planted) semctl(p, 0, IPC_RMID);
        planted.clear();
    }
}

// The shared file as root left it: sound, recording `semId`, with no live user.
void WriteSharedFile(int semId) {
    std::vector<SD_UINT8> bytes(ZVSHDB_SIZE, 0);
    auto* db = reinterpret_cast<zvapi_shdb_file*>(bytes.data());
    std::memcpy(db->Magic, "ZVSHDB\0\0", 8);
    db->Version = ZVSHDB_VERSION;
    db->FileSize = static_cast<SD_UINT32>(ZVSHDB_SIZE);
    db->TokenSlots = ZVSHDB_TOKEN_SLOTS;
    db->EventQueues = ZVSHDB_EVENT_QUEUES;
    db->SemId = semId;
    const int fd = open(ZVSHDB_PATH, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

// A recorded set is used only when it is root's own, created by root, open
// to no one else, with four semaphores. Any other is neither used nor
// removed: a fresh set of root's is made and recorded.
TEST_F(SharedSafety, ARecordedSetIsUsedOnlyWhenItIsRootsOwnAndFits) {
    struct Row {
        const char* what;
        std::function<int()> make;
        bool used;
    };
    const std::vector<Row> rows = {
        {"root's own, mode 0600, four", [&] { return PlantSet(0, 4, 0600); }, true},
        {"another user's", [&] { return PlantSet(kNobody, 4, 0600); }, false},
        {"made by another user, handed to root",
         [&] {
             const int id = PlantSet(kNobody, 4, 0600);
             struct semid_ds ds {};
             if (id < 0 || semctl(id, 0, IPC_STAT, &ds) != 0) return -1;
             ds.sem_perm.uid = 0;
             return semctl(id, 0, IPC_SET, &ds) == 0 ? id : -1;
         },
         false},
        {"root's, the group may use it", [&] { return PlantSet(0, 4, 0660); }, false},
        {"root's, others may read it", [&] { return PlantSet(0, 4, 0604); }, false},
        {"root's, three semaphores", [&] { return PlantSet(0, 3, 0600); }, false},
        {"root's, five semaphores", [&] { return PlantSet(0, 5, 0600); }, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const int recorded = row.make();
        ASSERT_GE(recorded, 0);
        WriteSharedFile(recorded);
        const std::string before = SemaphoreSetState(recorded);

        int h = -1;
        const int id = UseSharedDatabase(&h);
        ASSERT_GE(id, 0);
        if (row.used) {
            EXPECT_EQ(id, recorded);
        } else {
            EXPECT_NE(id, recorded);
            EXPECT_EQ(SemaphoreSetState(recorded), before) << "not used";
            EXPECT_EQ(SemaphoreSetState(id), "uid 0 cuid 0 mode 600 nsems 4 values 0 0 0 0");
        }
        Close(h);
        EXPECT_FALSE(zvtest::SharedFileExists());
        EXPECT_EQ(SemaphoreSetState(id), "") << "the last user removes the set it used";
        if (!row.used) {
            EXPECT_EQ(SemaphoreSetState(recorded), before) << "never removed";
        }
        for (int p : planted) semctl(p, 0, IPC_RMID);
        planted.clear();
    }
}

// A /run that users other than root may write (or that another user owns):
// nothing is made there and no set either; the start fails with the reason.
TEST_F(SharedSafety, ARunThatOthersMayWriteIsASetUpErrorAndNothingIsMade) {
    struct Row {
        const char* what;
        uid_t owner;
        mode_t mode;
    };
    for (const Row& row : {Row{"others may write it", 0, 01777}, Row{"the group may write it", 0, 0775},
                           Row{"another user owns it", kNobody, 0755}}) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(chown(ZVSHDB_DIR, row.owner, 0), 0);
        ASSERT_EQ(chmod(ZVSHDB_DIR, row.mode), 0);
        int h = -1;
        EXPECT_EQ(SDOpenDevice(0, &h), 0x20000074u);
        EXPECT_EQ(zvapi_setup_error(), zvtest::OpenRunSetupError());
        EXPECT_FALSE(zvtest::SharedFileExists());
        EXPECT_TRUE(SemaphoreSetsOf(0).empty());
        ASSERT_EQ(chown(ZVSHDB_DIR, 0, 0), 0);
        zvtest::RestoreRun();
        zvapi_reset_setup_error();
    }
    const int h = Open(0);
    Close(h);
}

// Processes that load and unload the library at the same moment, over and
// over: every attach works, and the last user of each generation takes the
// file and its set with it, so none is left at the end.
TEST_F(SharedSafety, ConcurrentUsersNeverFailAndLeaveNoFileOrSetBehind) {
    constexpr int kChildren = 8, kRounds = 200;
    std::vector<pid_t> children;
    for (int c = 0; c < kChildren; ++c) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            for (int r = 0; r < kRounds; ++r) {
                if (zvapi_shdb_attach() != 0) {
                    ++failures;
                    continue;
                }
                const std::string serial = "SN" + std::to_string(getpid());
                SD_INT32 token = 0;
                if (zvapi_shdb_token_start(serial, getpid(), &token) != 0 ||
                    zvapi_shdb_token_end(serial, token) != 0)
                    ++failures;
                zvapi_shdb_detach();
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a child's attach or token failed";
    }
    EXPECT_FALSE(zvtest::SharedFileExists());
    EXPECT_TRUE(SemaphoreSetsOf(0).empty()) << SemaphoreSetsOf(0).size() << " sets left";
    EXPECT_EQ(zvapi_setup_error(), "");
}

// A user whose file was dropped from the name while it ran (a restart that
// cleared /run) is the last of its own generation, but the file another
// process made afresh at the name is not its: removing it would let a third
// process make yet another, and two would guard one adapter with different
// semaphores. Its own set goes with it, unless the newer file records it.
TEST_F(SharedSafety, TheLastUserOfADroppedFileLeavesTheNewerFileAtTheName) {
    for (const bool sameSet : {false, true}) {
        SCOPED_TRACE(sameSet ? "the newer file records the older set" : "the newer file made its own set");
        int toChild[2], toParent[2];
        ASSERT_EQ(pipe(toChild), 0);
        ASSERT_EQ(pipe(toParent), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // The older user: attaches, reports its set, then leaves when told.
            int id = zvapi_shdb_attach() == 0 ? zvapi_shdb_sem_id() : -1;
            char go = 0;
            if (write(toParent[1], &id, sizeof id) != sizeof id || read(toChild[0], &go, 1) != 1) _exit(2);
            zvapi_shdb_detach();
            _exit(0);
        }
        int older = -1;
        ASSERT_EQ(read(toParent[0], &older, sizeof older), static_cast<ssize_t>(sizeof older));
        ASSERT_GE(older, 0);
        ASSERT_EQ(unlink(ZVSHDB_PATH), 0);
        if (sameSet) WriteSharedFile(older);

        ASSERT_EQ(zvapi_shdb_attach(), 0u);
        const int newer = zvapi_shdb_sem_id();
        ASSERT_GE(newer, 0);
        EXPECT_EQ(newer == older, sameSet);
        struct stat made {};
        ASSERT_EQ(stat(ZVSHDB_PATH, &made), 0);

        ASSERT_EQ(write(toChild[1], "x", 1), 1);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);

        struct stat now {};
        ASSERT_EQ(stat(ZVSHDB_PATH, &now), 0) << "the newer file was removed by the older generation's last user";
        EXPECT_EQ(now.st_ino, made.st_ino);
        EXPECT_EQ(zvapi_shdb_sem_id(), newer);
        EXPECT_NE(SemaphoreSetState(newer), "") << "the set the newer file records stays";
        if (!sameSet) {
            EXPECT_EQ(SemaphoreSetState(older), "") << "the older user's own set goes with it";
        }

        zvapi_shdb_detach();
        EXPECT_FALSE(zvtest::SharedFileExists());
        EXPECT_TRUE(SemaphoreSetsOf(0).empty());
    }
}

// Another run holds the file's lock for good: an interrupt ends the wait at
// once, and that is no set-up failure.
TEST_F(SharedSafety, AnInterruptEndsTheWaitForAHeldLockWithoutASetUpFailure) {
    const int held = open(ZVSHDB_PATH, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    EXPECT_EXIT(
        {
            std::thread interrupter([] {
                ::poll(nullptr, 0, 200);
                zvapi_interrupt_waits();
            });
            int h = -1;
            const SD_UINT32 st = SDOpenDevice(0, &h);
            interrupter.join();
            _exit(st == SDERR_OUT_OF_MEMORY && zvapi_setup_error().empty() ? 7 : 1);
        },
        ::testing::ExitedWithCode(7), "");
    close(held);
}

TEST_F(SharedSafety, AClosedFlashGateLetsNoFlashOperationStart) {
    EXPECT_EXIT(
        {
            int h = -1;
            if (SDOpenDevice(0, &h) != 0) _exit(2);
            std::vector<SD_UINT8> buf(16);
            if (SDGetOptionRomEx(h, 0, buf, 0x13) != 0) _exit(3);
            if (!zvapi_quiesce_flash(1000)) _exit(4);
            std::atomic<bool> done{false};
            std::thread reader([&] {
                std::vector<SD_UINT8> b(16);
                SDGetOptionRomEx(h, 0, b, 0x13);
                done = true;
            });
            reader.detach();
            ::poll(nullptr, 0, 300);
            _exit(done ? 5 : 7);
        },
        ::testing::ExitedWithCode(7), "");
}

}  // namespace
