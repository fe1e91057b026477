// Files another user planted where a root run looks: an image or template in
// a directory everyone may write, an installation directory everyone may
// write, another user's file in root's own directory, a link named as (or
// standing anywhere in) the "-x" target, the update lock, and FIFOs in place
// of the simulated platform's files. Nothing of theirs is read or written
// through; each refusal names the file and the reason.
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include "e2e/online_update_families.h"
#include "e2e/safety_fixture.h"

namespace {
namespace fs = std::filesystem;
using zvsafety::Has;

constexpr uid_t kNobody = 65534;
const std::string kPlacedByOthers =
    " is ignored: it is in a directory that users other than root may write, and root does not own it!";

void Plant(const std::string& path, const std::string& content, uid_t owner, mode_t mode) {
    zvfix::WriteTextFile(path, content);
    ASSERT_EQ(::chown(path.c_str(), owner, owner), 0);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

std::string FileText(const std::string& path) { return zvtest::ReadFile(path); }

class PlantedInputs : public zvsafety::SafetyTest {};

// The chip-27 image, read by the MCTP command from the working directory and
// named by "-b ALL": refused like the chip-25 one, nothing written.
TEST_F(PlantedInputs, AChip27ImageAnotherUserPlantedIsNeverFlashed) {
    const zvonline::Family f = zvonline::Chip27();
    f.build(host);
    host.Write(hostDir.Path());
    f.install(inst);
    const std::string image = "/tmp/kv_gen7_mbi.bin";
    Plant(image, FileText(inst.Path() + "/kv_gen7_mbi.bin"), kNobody, 0644);
    // Root's own table in the working directory, where the run reads it.
    Plant("/tmp/adapters.properties", FileText(inst.Path() + "/adapters.properties"), 0, 0644);
    const auto before = Flashes();

    zvtest::RunOptions mctp = Options();
    mctp.cwd = "/tmp";
    zvtest::RunResult r = RunWithin(mctp);
    EXPECT_EQ(r.status, 3) << r.out << r.err << r.outputFile;
    EXPECT_TRUE(Has(r.err, "File kv_gen7_mbi.bin" + kPlacedByOthers)) << r.out << r.err << r.outputFile;
    EXPECT_TRUE(zvfix::ReadJournal(hostDir.Path()).empty());
    EXPECT_EQ(Flashes(), before);

    r = RunWithin(Options({"-b", "ALL", image}));
    EXPECT_NE(r.status, 0) << r.out << r.err << r.outputFile;
    EXPECT_NE(r.status, 201);
    EXPECT_TRUE(Has(r.err, "File " + image + kPlacedByOthers)) << r.err;
    EXPECT_TRUE(zvfix::ReadJournal(hostDir.Path()).empty());
    EXPECT_EQ(Flashes(), before);

    // The same image as root's own file is flashed.
    ASSERT_EQ(::chown(image.c_str(), 0, 0), 0);
    r = RunWithin(mctp);
    EXPECT_EQ(r.status, 1) << r.out << r.err << r.outputFile;
    EXPECT_NE(Flashes(), before);
}

// A board-configuration template planted in "/tmp" and read from there, or a
// template others may write in an installation directory everyone may write:
// the adapter fails and nothing is written to it (its region 0xBA stays).
TEST_F(PlantedInputs, ABoardTemplateOthersCouldChangeIsNeverWritten) {
    AddChip25(0x0289);
    Install();
    const auto before = Flashes();
    const std::string newer = zvfix::BoardTemplateSpec{"CBF(", "7.7.7", {{0x40, {0x77, 0x77}}}, {}}.Text();
    Plant("/tmp/Vx9FBC.dat", newer, kNobody, 0644);
    Plant("/tmp/adapters.properties", FileText(inst.Path() + "/adapters.properties"), 0, 0644);

    zvtest::RunOptions inTmp = Options();
    inTmp.cwd = "/tmp";
    zvtest::RunResult r = RunWithin(inTmp);
    EXPECT_TRUE(Has(r.err, "File Vx9FBC.dat" + kPlacedByOthers)) << r.err;
    EXPECT_EQ(r.status, 3) << r.out << r.outputFile;
    EXPECT_FALSE(Has(r.outputFile, "7.7.7")) << r.outputFile;
    EXPECT_EQ(Flashes(), before);

    ASSERT_EQ(::chmod(inst.Path().c_str(), 01777), 0);
    inst.WriteFile("Vx9FBC.dat", newer);
    ASSERT_EQ(::chmod((inst.Path() + "/Vx9FBC.dat").c_str(), 0666), 0);
    r = RunWithin(Options());
    EXPECT_TRUE(Has(r.err, "File Vx9FBC.dat is ignored: users other than root may write it!")) << r.err;
    EXPECT_EQ(r.status, 3) << r.out << r.outputFile;
    EXPECT_FALSE(Has(r.outputFile, "7.7.7")) << r.outputFile;
    EXPECT_EQ(Flashes(), before);
    ASSERT_EQ(::chmod(inst.Path().c_str(), 0755), 0);
}

// Another user's file in root's own installation directory (0755, the file
// 0644): its owner could rewrite it at any time, so it is never used.
TEST_F(PlantedInputs, AnotherUsersFileInRootsOwnDirectoryIsNeverUsed) {
    AddChip25(0x0289);
    struct Case {
        std::string name;    // in the installation directory (also the working directory)
        int status;
        std::string shown;   // the path the refusal names
    };
    const std::string dir = inst.Path() + "/";
    // (The image itself: below.)
    for (const Case& c : {Case{"flash.cfg", 5, dir + "flash.cfg"}, Case{"Vx9FBC.dat", 3, "Vx9FBC.dat"},
                          Case{"Vx9FWA.dat", 3, dir + "Vx9FWA.dat"}}) {
        SCOPED_TRACE(c.name);
        Install();
        ASSERT_EQ(::chmod(inst.Path().c_str(), 0755), 0);
        const auto before = Flashes();
        ASSERT_EQ(::chown((dir + c.name).c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(::chmod((dir + c.name).c_str(), 0644), 0);
        zvtest::RunResult r = RunWithin(Options());
        EXPECT_EQ(r.status, c.status) << r.out << r.err << r.outputFile;
        EXPECT_TRUE(Has(r.err, "File " + c.shown + " is ignored: a user other than root owns it!\n")) << r.err;
        EXPECT_TRUE(zvfix::ReadJournal(hostDir.Path()).empty());
        EXPECT_EQ(Flashes(), before);
        ASSERT_EQ(::chown((dir + c.name).c_str(), 0, 0), 0);
    }
}

// The same for the multiboot image itself: refused, nothing flashed; as
// root's own file it is flashed.
TEST_F(PlantedInputs, AnotherUsersImageInRootsOwnDirectoryIsNeverFlashed) {
    const zvonline::Family f = zvonline::Chip25(true);
    f.build(host);
    host.Write(hostDir.Path());
    f.install(inst);
    ASSERT_EQ(::chmod(inst.Path().c_str(), 0755), 0);
    const std::string image = inst.Path() + "/kv_mbi.bin";
    ASSERT_EQ(::chown(image.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chmod(image.c_str(), 0644), 0);
    const auto before = Flashes();
    zvtest::RunResult r = RunWithin(Options());
    EXPECT_EQ(r.status, 3) << r.out << r.err << r.outputFile;
    EXPECT_TRUE(Has(r.err, "File kv_mbi.bin is ignored: a user other than root owns it!\n")) << r.err;
    EXPECT_TRUE(zvfix::ReadJournal(hostDir.Path()).empty());
    EXPECT_EQ(Flashes(), before);

    ASSERT_EQ(::chown(image.c_str(), 0, 0), 0);
    r = RunWithin(Options());
    EXPECT_EQ(r.status, 1) << r.out << r.err << r.outputFile;
    EXPECT_NE(Flashes(), before);
}

// "-x" into a link another user planted, to a directory only root may write,
// or into a directory others own or may write: nothing is copied there.
TEST_F(PlantedInputs, ExtractNeverCopiesIntoADirectoryAnotherUserCouldHavePlanted) {
    AddChip25(0x0289);
    Install();
    zvtest::TempDir rootOnly;
    ASSERT_EQ(::chmod(rootOnly.Path().c_str(), 0700), 0);
    zvfix::WriteTextFile(rootOnly.Path() + "/flash.cfg", "root's\n");
    ASSERT_EQ(::symlink(rootOnly.Path().c_str(), "/tmp/out"), 0);
    ASSERT_EQ(::mkdir("/tmp/theirs", 0755), 0);
    ASSERT_EQ(::chown("/tmp/theirs", kNobody, kNobody), 0);
    ASSERT_EQ(::mkdir("/tmp/open", 0755), 0);
    ASSERT_EQ(::chmod("/tmp/open", 0777), 0);
    ASSERT_EQ(::mkdir("/tmp/group", 0755), 0);
    ASSERT_EQ(::chmod("/tmp/group", 0775), 0);
    // A link higher up the path: to root's directory, and to one that holds it.
    ASSERT_EQ(::symlink(fs::path(rootOnly.Path()).parent_path().c_str(), "/tmp/up"), 0);
    const std::string viaUp = "/tmp/up/" + fs::path(rootOnly.Path()).filename().string();
    struct Case {
        std::string target, reason;
    };
    for (const Case& c : {Case{"/tmp/out", "it is a symbolic link"}, Case{"/tmp/out/", "it is a symbolic link"},
                          Case{"/tmp/out/.", "it is a symbolic link"}, Case{"/tmp/out/./", "it is a symbolic link"},
                          Case{viaUp, "it is a symbolic link"}, Case{"/tmp/out/sub", "it is a symbolic link"},
                          Case{"/tmp/theirs", "a user other than root owns it"},
                          Case{"/tmp/open", "group or other users may write it"},
                          Case{"/tmp/group", "group or other users may write it"}}) {
        SCOPED_TRACE(c.target);
        zvtest::RunResult r = RunWithin(Options({"-x", c.target}));
        EXPECT_NE(r.status, 0) << r.out << r.err;
        EXPECT_TRUE(Has(r.err, "Error: Directory " + c.target + " is refused: " + c.reason + "; nothing copied.\n"))
            << r.err;
        EXPECT_FALSE(Has(r.out, "is refused")) << r.out;
    }
    EXPECT_EQ(FileText(rootOnly.Path() + "/flash.cfg"), "root's\n");
    EXPECT_FALSE(zvtest::FileExists(rootOnly.Path() + "/sub"));
    EXPECT_FALSE(zvtest::FileExists("/tmp/theirs/flash.cfg"));
    EXPECT_FALSE(zvtest::FileExists("/tmp/open/flash.cfg"));
    EXPECT_FALSE(zvtest::FileExists("/tmp/group/flash.cfg"));

    // A new directory is made root's own, and the files land in it.
    zvtest::RunResult r = RunWithin(Options({"-x", "/tmp/new"}));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    struct stat st {};
    ASSERT_EQ(::lstat("/tmp/new", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(FileText("/tmp/new/flash.cfg"), FileText(inst.Path() + "/flash.cfg"));
}

// Root's own link in a directory only root may write, as /var/run -> /run:
// "-x" copies into its target; the same link owned by another user is refused.
TEST_F(PlantedInputs, ExtractFollowsRootsOwnLinkInARootOnlyDirectory) {
    AddChip25(0x0289);
    Install();
    ASSERT_EQ(::mkdir("/run/real", 0755), 0);
    ASSERT_EQ(::symlink("/run/real", "/run/alias"), 0);
    zvtest::RunResult r = RunWithin(Options({"-x", "/run/alias/out"}));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(FileText("/run/real/out/flash.cfg"), FileText(inst.Path() + "/flash.cfg"));

    ASSERT_EQ(::lchown("/run/alias", kNobody, kNobody), 0);
    r = RunWithin(Options({"-x", "/run/alias/again"}));
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "Error: Directory /run/alias/again is refused: it is a symbolic link; nothing copied.\n"))
        << r.err;
    EXPECT_FALSE(zvtest::FileExists("/run/real/again"));
}

// Nothing another user can make blocks the update: the old lock name in /tmp
// is no lock any more, and a lock file in "/run" that is not root's own is
// said with its reason, never taken for a run in progress.
TEST_F(PlantedInputs, TheUpdateLockIsRootsOwnOrSaidWhyNot) {
    AddChip25(0x0289);
    Install();
    const std::string old = "/tmp/zv_mctp_update.lock";
    Plant(old, "", kNobody, 0666);
    zvtest::RunResult r = RunWithin(Options());
    EXPECT_EQ(r.status, 2) << r.out << r.err << r.outputFile;

    const std::string lock = "/run/zv_mctp_update.lock";
    struct Case {
        std::string name, reason;
        std::function<void()> plant;
    };
    const std::vector<Case> cases = {
        {"link", "it is a symbolic link", [&] { ASSERT_EQ(::symlink(old.c_str(), lock.c_str()), 0); }},
        {"FIFO", "it is not a regular file", [&] { ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0); }},
        {"another user's", "it is not a file that only root owns and may write", [&] { Plant(lock, "", kNobody, 0600); }},
        {"writable by others", "it is not a file that only root owns and may write", [&] { Plant(lock, "", 0, 0666); }},
        {"writable by its group", "it is not a file that only root owns and may write", [&] { Plant(lock, "", 0, 0660); }},
        {"readable by others", "users other than root may open it, and so hold it", [&] { Plant(lock, "", 0, 0644); }},
        {"readable by its group", "users other than root may open it, and so hold it", [&] { Plant(lock, "", 0, 0640); }},
    };
    const auto before = Flashes();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::unlink(lock.c_str());
        c.plant();
        r = RunWithin(Options());
        EXPECT_EQ(r.status, 3) << r.out << r.err;
        const std::string said = "MCTP config enable: The update lock " + lock + " cannot be used: " + c.reason +
                                 "; nothing was written.\n";
        EXPECT_TRUE(Has(r.out, said)) << r.out;
        EXPECT_TRUE(Has(r.outputFile, said)) << r.outputFile;
        EXPECT_EQ(Flashes(), before);
    }
    // A /run that others may write stops the run earlier, at the library's
    // start (its shared database lives there too), with nothing written; the
    // lock's own refusal of it is tests/cli/update_lock_test.cpp.
    ::unlink(lock.c_str());
    for (const mode_t mode : {01777, 0775}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(::chmod("/run", mode), 0);
        r = RunWithin(Options());
        ASSERT_EQ(::chmod("/run", 0755), 0);
        EXPECT_EQ(r.status, 12) << r.out << r.err;
        EXPECT_EQ(r.err, "Error: The management library cannot start: its shared database /run/zv_shared.dat cannot "
                         "be used: users other than root may write its directory.\n");
        EXPECT_EQ(Flashes(), before);
    }
}

// A FIFO in place of a file of the simulated platform ends the run at once,
// also while a writer holds it open (a read of it would wait for that writer).
TEST_F(PlantedInputs, AFifoInPlaceOfAPlatformFileNeverHangsTheRun) {
    AddChip25(0x0289);
    Install();
    struct Case {
        std::string name;
        bool writer;
    };
    for (const Case& c : {Case{"host.json", false}, Case{"state.json", false}, Case{"flash0.bin", false},
                          Case{"host.json", true}}) {
        SCOPED_TRACE(c.name + (c.writer ? " with a writer" : ""));
        const std::string path = hostDir.Path() + "/" + c.name;
        const std::string kept = zvtest::FileExists(path) ? FileText(path) : "";
        ::unlink(path.c_str());
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        const int writer = c.writer ? ::open(path.c_str(), O_RDWR | O_CLOEXEC) : -1;
        if (c.writer) {
            ASSERT_GE(writer, 0);
        }
        const zvtest::RunResult r = RunWithin(Options({"-i", "ALL"}));
        EXPECT_LT(r.status, 128) << r.out << r.err;
        if (writer >= 0) ::close(writer);
        ::unlink(path.c_str());
        if (!kept.empty()) zvfix::WriteTextFile(path, kept);
    }
}

}  // namespace
