// Files and locks a root program can trust: input files that are no regular
// file, a table planted by another user, a shared database or semaphore set
// planted by another user (set aside, the run goes on),
// links planted where the program writes, and a run blocked on a lock.
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>

#include "e2e/safety_fixture.h"

namespace {
namespace fs = std::filesystem;
using zvfix::WriteTextFile;
using zvsafety::Has;

constexpr uid_t kNobody = 65534;

// A semaphore set of `count` under the program's key, made by `uid` with
// `mode` (and handed to root as its owner when `rootOwns`), whose load
// semaphore is held.
int PlantSemaphores(uid_t uid, int mode, int count = 4, bool rootOwns = false) {
    const key_t key = ftok("/tmp", 'Z');
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgid(uid) != 0 || setuid(uid) != 0) _exit(1);
        const int id = semget(key, count, IPC_CREAT | mode);
        if (id < 0 || semctl(id, 0, SETVAL, 1) != 0) _exit(2);
        if (rootOwns) {
            struct semid_ds ds {};
            if (semctl(id, 0, IPC_STAT, &ds) != 0) _exit(3);
            ds.sem_perm.uid = 0;
            if (semctl(id, 0, IPC_SET, &ds) != 0) _exit(4);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return semget(key, 0, 0);
}

class SafetyFiles : public zvsafety::SafetyTest {
protected:
    void TearDown() override { if (semId_ >= 0) semctl(semId_, 0, IPC_RMID); }
    int semId_ = -1;
};

TEST_F(SafetyFiles, AFifoInPlaceOfAnyInputFileIsRefusedAtOnce) {
    AddChip25(0x0289);
    struct Case {
        std::string name;       // in the installation directory (also the working directory)
        int status;
        std::string shown;      // the path the refusal names
    };
    const std::string dir = inst.Path() + "/";
    const std::vector<Case> cases = {
        {"adapters.properties", 6, dir + "adapters.properties"},
        {"flash.cfg", 5, dir + "flash.cfg"},
        {"Vx9FWA.dat", 3, dir + "Vx9FWA.dat"},
        {"Vx9FBC.dat", 3, "Vx9FBC.dat"},         // opened by name from the working directory
        {zvsafety::kImage, 3, zvsafety::kImage},
        {"agent.properties", 2, dir + "agent.properties"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Install();
        if (c.name == zvsafety::kImage) {   // an image that needs writing
            inst.WriteFile("flash.cfg", zvfix::FlashCfg({zvfix::FlashCfgRowFor(0x0289, zvsafety::kVendor, "KV2692",
                                                                                "6.05.02", zvsafety::kImage)}));
        }
        inst.RemoveFile(c.name);
        ASSERT_EQ(::mkfifo((dir + c.name).c_str(), 0666), 0);
        zvtest::RunResult r = RunWithin(Options());
        EXPECT_EQ(r.status, c.status) << r.out << r.err << r.outputFile;
        EXPECT_TRUE(Has(r.err, "File " + c.shown + " is not a regular file; it is not read!\n")) << r.err;
        inst.RemoveFile(c.name);
    }
}

TEST_F(SafetyFiles, ATableAnotherUserPlantedInTmpIsIgnored) {
    AddChip25(0x0289);
    Install();
    inst.RemoveFile("adapters.properties");
    const std::string planted = "/tmp/adapters.properties";
    WriteTextFile(planted, zvfix::AdapterTable({zvfix::TableRow(0x0289, zvsafety::kVendor, "TRUE")}));
    ASSERT_EQ(::chown(planted.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chmod(planted.c_str(), 0644), 0);
    const auto before = Flashes();

    for (const std::string& cwd : {inst.Path(), std::string("/tmp")}) {
        zvtest::RunOptions o = Options();
        o.cwd = cwd;
        zvtest::RunResult r = RunWithin(o);
        EXPECT_EQ(r.status, 6) << cwd << r.out << r.err;
        EXPECT_TRUE(Has(r.err, "File " + planted + " is ignored")) << r.err;
        EXPECT_TRUE(zvfix::ReadJournal(hostDir.Path()).empty());
        EXPECT_EQ(Flashes(), before);
    }
    // Root's own table, that only root can write, is used as before (read from
    // the working directory); one that others may write is not.
    zvtest::RunOptions inTmp = Options();
    inTmp.cwd = "/tmp";
    ASSERT_EQ(::chown(planted.c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(planted.c_str(), 0666), 0);
    EXPECT_EQ(RunWithin(inTmp).status, 6);
    ASSERT_EQ(::chmod(planted.c_str(), 0644), 0);
    WriteTextFile("/tmp/Vx9FBC.dat", zvtest::ReadFile(inst.Path() + "/Vx9FBC.dat"));   // opened from there
    zvtest::RunResult r = RunWithin(inTmp);
    EXPECT_EQ(r.status, 2) << r.out << r.err << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, "Upgrading FWA version from 1.0.0 to 2.0.0: completed")) << r.outputFile;
}

TEST_F(SafetyFiles, APlantedSharedDatabaseIsReplacedNeverUsedOrWrittenThrough) {
    AddChip25(0x0289);
    Install();
    const std::string db = "/tmp/zv_shared.dat", victim = "/tmp/victim";
    WriteTextFile(victim, "root's data\n");

    // Another user's file, then a link to root's file: both go, the run works.
    WriteTextFile(db, std::string(4096, 'Z'));
    ASSERT_EQ(::chown(db.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chmod(db.c_str(), 0666), 0);
    zvtest::RunResult r = RunWithin(Options());
    EXPECT_EQ(r.status, 2) << r.out << r.err << r.outputFile;
    struct stat st {};
    EXPECT_NE(::lstat(db.c_str(), &st), 0) << "the last user removes the file it made";

    ASSERT_EQ(::symlink(victim.c_str(), db.c_str()), 0);
    r = RunWithin(Options());
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_EQ(zvtest::ReadFile(victim), "root's data\n");

    // A second name of root's file: the file keeps its bytes.
    ASSERT_EQ(::link(victim.c_str(), db.c_str()), 0);
    r = RunWithin(Options());
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_EQ(zvtest::ReadFile(victim), "root's data\n");

    // A directory another user made there is moved aside, its contents as
    // they were, and the run goes on.
    ASSERT_EQ(::mkdir(db.c_str(), 0777), 0);
    WriteTextFile(db + "/keep", "x");
    ASSERT_EQ(::chown((db + "/keep").c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chown(db.c_str(), kNobody, kNobody), 0);
    r = RunWithin(Options());
    EXPECT_EQ(r.status, 2) << r.out << r.err << r.outputFile;
    EXPECT_NE(::lstat(db.c_str(), &st), 0);
    std::vector<fs::path> aside;
    for (const auto& e : fs::directory_iterator("/tmp"))
        if (e.path().filename().string().starts_with("zv_shared.dat.")) aside.push_back(e.path());
    ASSERT_EQ(aside.size(), 1u);
    ASSERT_EQ(::lstat(aside[0].c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kNobody);
    EXPECT_EQ(zvtest::ReadFile(aside[0] / "keep"), "x");
}

// What the library cannot use (root's own semaphore set under its key that
// does not fit) is one clear error, not an empty host.
TEST_F(SafetyFiles, ALibraryThatCannotStartIsOneClearError) {
    AddChip25(0x0289);
    Install();
    semId_ = semget(ftok("/tmp", 'Z'), 1, IPC_CREAT | IPC_EXCL | 0600);
    ASSERT_GE(semId_, 0);
    WriteTextFile("/usr/lib/libzvsdm.log", "");
    const zvtest::RunResult r = RunWithin(Options());
    EXPECT_EQ(r.status, 12) << r.out << r.err;
    char key[16];
    std::snprintf(key, sizeof key, "0x%08x", static_cast<unsigned>(ftok("/tmp", 'Z')));
    EXPECT_EQ(r.err, std::string("Error: The management library cannot start: its semaphore set (key ") + key +
                         ") is not used because it holds too few semaphores.\n");
    EXPECT_TRUE(Has(r.outputFile, "Error: The management library cannot start")) << r.outputFile;
    EXPECT_FALSE(Has(r.out + r.outputFile, "No compatible HBA found"));
    const std::string libLog = zvtest::ReadFile("/usr/lib/libzvsdm.log");
    EXPECT_LE(std::count(libLog.begin(), libLog.end(), '\n'), 3) << libLog;
}

// A set another user made or owns under the key (its load semaphore held) is
// removed and the run goes on with root's own; a set of root's that others
// may change is never used.
TEST_F(SafetyFiles, ASemaphoreSetAnotherUserMadeIsRemovedOneOthersMayChangeIsNotUsed) {
    AddChip25(0x0289);
    Install();
    struct Case {
        const char* what;
        uid_t uid;
        int mode;
        bool rootOwns;
        int status;
    };
    for (const Case& c : {Case{"another user's", kNobody, 0600, false, 2},
                          Case{"another user's, others may change it", kNobody, 0666, false, 2},
                          Case{"made by another user, handed to root", kNobody, 0600, true, 2},
                          Case{"root's, others may change it", 0, 0666, false, 12}}) {
        SCOPED_TRACE(c.what);
        host.Write(hostDir.Path());
        const auto before = Flashes();
        const size_t written = zvfix::ReadJournal(hostDir.Path()).size();
        semId_ = PlantSemaphores(c.uid, c.mode, 4, c.rootOwns);
        ASSERT_GE(semId_, 0);
        // Never waited on: the planted set is removed, root's own refused at once.
        zvtest::Running running = zvtest::Start(inst, Options());
        if (zvtest::WaitUntil(running, [&] { return semctl(semId_, 0, GETZCNT) > 0; })) {
            ADD_FAILURE() << "the run waited for a semaphore of the planted set";
            ::kill(running.pid, SIGKILL);
        }
        zvtest::RunResult r = WaitWithin(running);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        struct semid_ds ds {};
        if (c.status == 12) {
            EXPECT_TRUE(Has(r.err, "Error: The management library cannot start: its semaphore set")) << r.err;
            EXPECT_EQ(zvfix::ReadJournal(hostDir.Path()).size(), written);
            EXPECT_EQ(Flashes(), before);
            EXPECT_EQ(semctl(semId_, 0, IPC_STAT, &ds), 0) << "root's own set is left alone";
        } else {
            EXPECT_EQ(r.err, "") << r.err;
            EXPECT_NE(semctl(semId_, 0, IPC_STAT, &ds), 0) << "the planted set is gone";
            EXPECT_LT(semget(ftok("/tmp", 'Z'), 0, 0), 0) << "the run removed its own set at its end";
        }
        semctl(semId_, 0, IPC_RMID);
        semId_ = -1;
    }
}

TEST_F(SafetyFiles, ARunWaitingForAHeldLibraryLockStillEndsOnSigint) {
    AddChip25(0x0289);
    Install();
    semId_ = PlantSemaphores(0, 0600);   // root's own set, its load semaphore held
    ASSERT_GE(semId_, 0);
    zvtest::RunOptions o = Options({"-trace"});
    zvtest::Running running = zvtest::Start(inst, o);
    ASSERT_TRUE(zvtest::WaitUntil(running, [&] { return semctl(semId_, 0, GETZCNT) >= 1; }))
        << "the run never waited for the lock";
    ASSERT_EQ(::kill(running.pid, SIGINT), 0);
    zvtest::RunResult r = zvtest::Wait(running);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "Signal (2) caught...\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "Cleanup finished.\n"));
}

TEST_F(SafetyFiles, ExtractAndTheLogFilesNeverWriteThroughAPlantedLink) {
    AddChip25(0x0289);
    Install();
    const std::string victim = "/tmp/victim";
    WriteTextFile(victim, "root's data\n");
    inst.WriteFile("flash.cfg", "record\n");
    zvtest::TempDir target;
    ASSERT_EQ(::symlink(victim.c_str(), (target.Path() + "/flash.cfg").c_str()), 0);
    ASSERT_EQ(::mkfifo((target.Path() + "/adapters.properties").c_str(), 0666), 0);

    // Links planted under every output-file name of the seconds the run may take.
    const std::time_t now = std::time(nullptr);
    for (int s = 0; s <= zvtest::kHangSeconds; ++s) {
        const std::time_t t = now + s;
        char name[64];
        std::strftime(name, sizeof name, "/var/log/mctp-upgrade-%m%d%Y%H%M%S.log", std::localtime(&t));
        ASSERT_EQ(::symlink(victim.c_str(), name), 0);
    }
    zvtest::RunOptions o = Options({"-trace", "-x", target.Path()});
    o.keepLogs = true;
    const mode_t old = ::umask(0);
    zvtest::RunResult r = RunWithin(o);
    ::umask(old);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(zvtest::ReadFile(victim), "root's data\n");
    struct stat st {};
    ASSERT_EQ(::lstat((target.Path() + "/flash.cfg").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(zvtest::ReadFile(target.Path() + "/flash.cfg"), "record\n");
    ASSERT_EQ(::lstat((target.Path() + "/adapters.properties").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "the FIFO was replaced, never opened";
    ASSERT_EQ(::lstat("/var/log/zenbrix.log", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "a permissive umask changes nothing";
}

}  // namespace
