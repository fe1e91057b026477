// The reader rule itself: which planted names are refused, with which reason,
// and that nothing waits. (Every reader of the program is run over the same
// plantings in tests/cli/input_file_readers_test.cpp.)
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/input_file.h"
#include "support/e2e_support.h"

// Runs once, right after the reader has looked at the name `g_swapName`
// inside its directory: the moment another user would swap the file.
std::string g_swapName;
std::function<void()> g_swap;

// Every fstatat of this test program passes here (the reader looks at a name
// before it opens it).
extern "C" int fstatat(int dirFd, const char* name, struct stat* info, int flags) noexcept {
    const int rc = static_cast<int>(::syscall(SYS_newfstatat, dirFd, name, info, flags));
    if (g_swap && g_swapName == name) {
        const std::function<void()> swap = std::move(g_swap);
        g_swap = nullptr;
        swap();
    }
    return rc;
}

namespace {

constexpr uid_t kNobody = 65534;

void Write(const std::string& path, uid_t owner, mode_t mode) {
    std::ofstream(path) << "x\n";
    ASSERT_EQ(::chown(path.c_str(), owner, owner), 0);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

std::vector<std::string> g_said;
void Capture(const char* text) { g_said.emplace_back(text); }

TEST(InputFile, EachPlantingIsRefusedWithItsReason) {
    zvtest::TempDir root;
    const std::string r = root.Path() + "/";
    // Directories: root's own, writable by everyone (sticky, as /tmp), by its
    // group, and one another user owns.
    struct Dir {
        const char* name;
        uid_t owner;
        mode_t mode;
    };
    for (const Dir& d : {Dir{"own", 0, 0755}, Dir{"tmp", 0, 01777}, Dir{"group", 0, 0775}, Dir{"users", kNobody, 0755}}) {
        ASSERT_EQ(::mkdir((r + d.name).c_str(), 0700), 0);
        ASSERT_EQ(::chown((r + d.name).c_str(), d.owner, 0), 0);
        ASSERT_EQ(::chmod((r + d.name).c_str(), d.mode), 0);
    }
    Write(r + "own/plain", 0, 0644);
    Write(r + "own/theirs", kNobody, 0644);   // its directory only root may write
    Write(r + "own/open", 0, 0666);
    Write(r + "own/groupw", 0, 0664);
    ASSERT_EQ(::symlink((r + "own/plain").c_str(), (r + "own/link").c_str()), 0);
    ASSERT_EQ(::symlink((r + "own/gone").c_str(), (r + "own/dangling").c_str()), 0);
    ASSERT_EQ(::symlink((r + "own/loop").c_str(), (r + "own/loop").c_str()), 0);
    ASSERT_EQ(::mkfifo((r + "own/fifo").c_str(), 0600), 0);   // no writer: an open would wait for ever
    ASSERT_EQ(::mkdir((r + "own/dir").c_str(), 0755), 0);
    Write(r + "tmp/root", 0, 0644);
    Write(r + "tmp/nobody", kNobody, 0644);
    Write(r + "group/nobody", kNobody, 0644);
    Write(r + "users/nobody", kNobody, 0644);
    Write(r + "users/root", 0, 0644);

    const std::string placed = " is ignored: it is in a directory that users other than root may write, and root "
                               "does not own it!";
    struct Case {
        std::string name;
        InputFileStatus status;
        std::string said;   // after "File <path>"; empty: nothing said
    };
    const std::vector<Case> cases = {
        {"own/plain", InputFileStatus::Ok, ""},
        {"tmp/root", InputFileStatus::Ok, ""},
        {"users/root", InputFileStatus::Ok, ""},
        {"own/none", InputFileStatus::Missing, ""},
        {"none/x", InputFileStatus::Missing, ""},
        {"own/link", InputFileStatus::Link, " is a symbolic link; it is not read!"},
        {"own/dangling", InputFileStatus::Link, " is a symbolic link; it is not read!"},
        {"own/loop", InputFileStatus::Link, " is a symbolic link; it is not read!"},
        {"own/fifo", InputFileStatus::NotRegular, " is not a regular file; it is not read!"},
        {"own/dir", InputFileStatus::NotRegular, " is not a regular file; it is not read!"},
        {"own/dir/", InputFileStatus::NotRegular, " is not a regular file; it is not read!"},
        {"own/open", InputFileStatus::OthersMayWrite, " is ignored: users other than root may write it!"},
        {"own/groupw", InputFileStatus::OthersMayWrite, " is ignored: users other than root may write it!"},
        {"tmp/nobody", InputFileStatus::PlacedByOthers, placed},
        {"group/nobody", InputFileStatus::PlacedByOthers, placed},
        {"users/nobody", InputFileStatus::PlacedByOthers, placed},
        {"own/theirs", InputFileStatus::OwnedByOthers, " is ignored: a user other than root owns it!"},
    };
    CoreSetInputFileNoticeHook(Capture);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = r + c.name;
        g_said.clear();
        EXPECT_EQ(CoreProbeInputFile(path.c_str()), c.status);
        const std::vector<std::string> said =
            c.said.empty() ? std::vector<std::string>{} : std::vector<std::string>{"File " + path + c.said};
        EXPECT_EQ(g_said, said);
        InputFileStatus st = InputFileStatus::Ok;
        std::FILE* f = CoreFopenInputFile(path.c_str(), "r+", &st);
        EXPECT_EQ(st, c.status);
        EXPECT_EQ(f != nullptr, c.status == InputFileStatus::Ok);
        if (f != nullptr) std::fclose(f);
        EXPECT_EQ(g_said, said) << "each refusal is said once per run";
    }
    // A device is refused before it is opened.
    EXPECT_EQ(CoreProbeInputFile("/dev/zero"), InputFileStatus::NotRegular);
    CoreSetInputFileNoticeHook(nullptr);

    // A name relative to the working directory is judged with that directory.
    const std::string saved = std::filesystem::current_path();
    ASSERT_EQ(::chdir((r + "tmp").c_str()), 0);
    EXPECT_EQ(CoreProbeInputFile("nobody"), InputFileStatus::PlacedByOthers);
    EXPECT_EQ(CoreProbeInputFile("root"), InputFileStatus::Ok);
    ASSERT_EQ(::chdir(saved.c_str()), 0);

    // What is accepted is read normally, and reads block again.
    std::FILE* f = CoreFopenInputFile((r + "own/plain").c_str(), "r", nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(::fcntl(::fileno(f), F_GETFL) & O_NONBLOCK, 0);
    char line[8] = {};
    EXPECT_NE(std::fgets(line, sizeof line, f), nullptr);
    EXPECT_STREQ(line, "x\n");
    std::fclose(f);
    EXPECT_TRUE(CoreNameExists((r + "own/dangling").c_str()));
    EXPECT_FALSE(CoreNameExists((r + "own/gone").c_str()));
}

// A link swapped in between the look at the name and the open is not
// followed: the open itself refuses it, whatever the look saw.
TEST(InputFile, ALinkSwappedInAfterTheLookIsNotFollowed) {
    zvtest::TempDir root;
    const std::string r = root.Path() + "/";
    Write(r + "plain", 0, 0644);
    Write(r + "swapped", 0, 0644);
    ASSERT_EQ(::symlink((r + "plain").c_str(), (r + "link").c_str()), 0);
    g_said.clear();
    CoreSetInputFileNoticeHook(Capture);
    g_swapName = "swapped";
    g_swap = [&] { ASSERT_EQ(::rename((r + "link").c_str(), (r + "swapped").c_str()), 0); };
    InputFileStatus st = InputFileStatus::Ok;
    const int fd = CoreOpenInputFile((r + "swapped").c_str(), O_RDONLY, &st);
    CoreSetInputFileNoticeHook(nullptr);
    EXPECT_FALSE(g_swap) << "the reader never looked at the name";
    g_swap = nullptr;
    EXPECT_LT(fd, 0);
    if (fd >= 0) ::close(fd);
    EXPECT_EQ(st, InputFileStatus::Link);
    EXPECT_EQ(g_said, std::vector<std::string>{"File " + r + "swapped is a symbolic link; it is not read!"});
}

}  // namespace
