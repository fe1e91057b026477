// Files and locks a root program can trust: input files that are no regular
// file, a table planted by another user, objects another user put at the old
// names of the shared database and its semaphores (never used nor touched),
// links planted where the program writes, and a run blocked on a lock.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <functional>

#include "e2e/safety_fixture.h"
#include "mgmt/sd_shared_db.h"
#include "support/other_user.h"
#include "support/semaphore_sets.h"

namespace {
namespace fs = std::filesystem;
using zvfix::WriteTextFile;
using zvsafety::Has;

using zvtest::kNobody;

// A semaphore set of another user's on the old key of the library, its first
// semaphore held; -1 when it cannot be made.
int PlantSetOnOldKey(int mode) {
    const key_t key = ftok("/tmp", 'Z');
    if (!zvtest::AsUser(kNobody, [&] {
            const int id = semget(key, 4, IPC_CREAT | IPC_EXCL | mode);
            return id >= 0 && semctl(id, 0, SETVAL, 1) == 0;
        }))
        return -1;
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

// The shared database lives in /run, where only root may put anything, and
// its semaphore set has no key: whatever another user makes at the old names
// ("/tmp/zv_shared.dat", the key of ftok("/tmp", 'Z')) neither stops a run
// nor is touched by it.
TEST_F(SafetyFiles, WhatAnotherUserPutsAtTheOldSharedNamesNeitherStopsNorIsTouched) {
    AddChip25(0x0289);
    Install();
    const std::string old = "/tmp/zv_shared.dat";
    struct Case {
        const char* what;
        std::function<bool()> plant;   // run as the other user
        int setMode;                   // of their set on the old key
    };
    const std::vector<Case> cases = {
        {"a directory",
         [&] {
             return ::mkdir(old.c_str(), 0777) == 0 && ::chmod(old.c_str(), 0777) == 0 &&
                    (WriteTextFile(old + "/keep", "x"), true);
         },
         0600},
        {"a link", [&] { return ::symlink("/tmp/victim", old.c_str()) == 0; }, 0666},
        {"a FIFO", [&] { return ::mkfifo(old.c_str(), 0666) == 0; }, 0600},
        {"a file others may write",
         [&] {
             WriteTextFile(old, std::string(4096, 'Z'));
             return ::chmod(old.c_str(), 0666) == 0;
         },
         0666},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host.Write(hostDir.Path());
        ASSERT_TRUE(zvtest::AsUser(kNobody, c.plant));
        semId_ = PlantSetOnOldKey(c.setMode);
        ASSERT_GE(semId_, 0);
        struct stat before {}, after {};
        ASSERT_EQ(::lstat(old.c_str(), &before), 0);
        const std::string set = zvtest::SemaphoreSetState(semId_);

        const zvtest::RunResult r = RunWithin(Options());
        EXPECT_EQ(r.status, 2) << r.out << r.err << r.outputFile;
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(Has(r.outputFile, "Upgrading FWA version from 1.0.0 to 2.0.0: completed")) << r.outputFile;

        ASSERT_EQ(::lstat(old.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_uid, kNobody);
        EXPECT_EQ(after.st_size, before.st_size);
        if (S_ISDIR(after.st_mode)) {
            EXPECT_EQ(zvtest::ReadFile(old + "/keep"), "x");
        }
        EXPECT_FALSE(fs::exists("/tmp/victim")) << "nothing made through their link";
        EXPECT_EQ(zvtest::SemaphoreSetState(semId_), set) << "their set as it was";
        EXPECT_FALSE(zvtest::FileExists(ZVSHDB_PATH)) << "the run removed its own file at its end";
        EXPECT_TRUE(zvtest::SemaphoreSetsOf(0).empty()) << "and its own set";
        fs::remove_all(old);
        semctl(semId_, 0, IPC_RMID);
        semId_ = -1;
    }
}

// What the library cannot use (a /run others may write) is one clear error,
// not an empty host.
TEST_F(SafetyFiles, ALibraryThatCannotStartIsOneClearError) {
    AddChip25(0x0289);
    Install();
    ASSERT_EQ(::chmod(ZVSHDB_DIR, 01777), 0);   // the test's private /run
    WriteTextFile("/usr/lib/libzvsdm.log", "");
    const zvtest::RunResult r = RunWithin(Options());
    ::chmod(ZVSHDB_DIR, 0755);
    EXPECT_EQ(r.status, 12) << r.out << r.err;
    EXPECT_EQ(r.err, "Error: The management library cannot start: its shared database /run/zv_shared.dat cannot be "
                     "used: users other than root may write its directory.\n");
    EXPECT_TRUE(Has(r.outputFile, "Error: The management library cannot start")) << r.outputFile;
    EXPECT_FALSE(Has(r.out + r.outputFile, "No compatible HBA found"));
    EXPECT_FALSE(zvtest::FileExists(ZVSHDB_PATH));
    EXPECT_TRUE(zvtest::SemaphoreSetsOf(0).empty());
    const std::string libLog = zvtest::ReadFile("/usr/lib/libzvsdm.log");
    EXPECT_LE(std::count(libLog.begin(), libLog.end(), '\n'), 3) << libLog;
}

// Another run holds the shared database's lock for good: this one waits for
// it, and still ends at once on SIGINT.
TEST_F(SafetyFiles, ARunWaitingForAHeldLibraryLockStillEndsOnSigint) {
    AddChip25(0x0289);
    Install();
    const int held = ::open(ZVSHDB_PATH, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    zvtest::RunOptions o = Options({"-trace"});
    zvtest::Running running = zvtest::Start(inst, o);
    // Waiting: the program (not the child before its exec, which still has
    // the test's descriptor) has the file open and cannot get past the lock.
    const auto hasItOpen = [&] {
        const std::string proc = "/proc/" + std::to_string(running.pid);
        std::error_code ec;
        if (fs::read_symlink(proc + "/exe", ec).filename() != "tarvikolen") return false;
        for (const auto& e : fs::directory_iterator(proc + "/fd", ec))
            if (fs::read_symlink(e.path(), ec) == ZVSHDB_PATH) return true;
        return false;
    };
    ASSERT_TRUE(zvtest::WaitUntil(running, hasItOpen)) << "the run never waited for the lock";
    ASSERT_EQ(::kill(running.pid, SIGINT), 0);
    zvtest::RunResult r = zvtest::Wait(running);
    ::close(held);
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
    EXPECT_EQ(st.st_mode & 07777, 0666u) << "0666 less the umask, as an append-mode open makes it";
}

}  // namespace
