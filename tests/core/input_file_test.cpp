// Which files the program reads as root: regular files only, opened without
// waiting, and in a directory others may write only root's own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "core/input_file.h"
#include "support/e2e_support.h"

namespace {

void Write(const std::string& path, uid_t owner, mode_t mode) {
    std::ofstream(path) << "x\n";
    ASSERT_EQ(::chown(path.c_str(), owner, owner), 0);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

TEST(InputFile, OnlyRegularFilesAreOpenedAndNothingWaits) {
    zvtest::TempDir dir;
    const std::string d = dir.Path() + "/";
    Write(d + "plain", 0, 0644);
    ASSERT_EQ(::mkfifo((d + "fifo").c_str(), 0666), 0);   // no writer: an open would wait for ever
    ASSERT_EQ(::mkdir((d + "dir").c_str(), 0755), 0);
    ASSERT_EQ(::symlink((d + "loop").c_str(), (d + "loop").c_str()), 0);
    ASSERT_EQ(::symlink((d + "plain").c_str(), (d + "link").c_str()), 0);
    ASSERT_EQ(::symlink((d + "gone").c_str(), (d + "dangling").c_str()), 0);

    auto probe = [&](const char* name) { return CoreProbeInputFile((d + name).c_str(), InputFileTrust::AnyOwner); };
    EXPECT_EQ(probe("plain"), InputFileStatus::Ok);
    EXPECT_EQ(probe("link"), InputFileStatus::Ok);   // a link is followed outside shared directories
    EXPECT_EQ(probe("fifo"), InputFileStatus::NotRegular);
    EXPECT_EQ(probe("dir"), InputFileStatus::NotRegular);
    EXPECT_EQ(probe("loop"), InputFileStatus::NotRegular);
    EXPECT_EQ(probe("/dev/zero"), InputFileStatus::Missing);   // joined to the directory: no such name
    EXPECT_EQ(CoreProbeInputFile("/dev/zero", InputFileTrust::AnyOwner), InputFileStatus::NotRegular);
    EXPECT_EQ(probe("dangling"), InputFileStatus::Missing);
    EXPECT_TRUE(CoreNameExists((d + "dangling").c_str()));
    EXPECT_FALSE(CoreNameExists((d + "gone").c_str()));

    // The stream of a regular file reads normally.
    std::FILE* f = CoreFopenInputFile((d + "plain").c_str(), "r", InputFileTrust::AnyOwner, nullptr);
    ASSERT_NE(f, nullptr);
    char line[8] = {};
    EXPECT_NE(std::fgets(line, sizeof line, f), nullptr);
    EXPECT_STREQ(line, "x\n");
    std::fclose(f);
}

TEST(InputFile, InASharedDirectoryOnlyRootsOwnUnwritableFileIsTrusted) {
    zvtest::TempDir dir;
    ASSERT_EQ(::chmod(dir.Path().c_str(), 01777), 0);
    const std::string d = dir.Path() + "/";
    Write(d + "root", 0, 0644);
    Write(d + "nobody", 65534, 0644);
    Write(d + "open", 0, 0666);
    Write(d + "group", 0, 0664);
    ASSERT_EQ(::symlink((d + "root").c_str(), (d + "link").c_str()), 0);

    auto probe = [&](const char* name) {
        return CoreProbeInputFile((d + name).c_str(), InputFileTrust::OwnerOnlyIfShared);
    };
    EXPECT_TRUE(CoreDirectoryIsShared((d + "root").c_str()));
    EXPECT_EQ(probe("root"), InputFileStatus::Ok);
    EXPECT_EQ(probe("nobody"), InputFileStatus::Untrusted);
    EXPECT_EQ(probe("open"), InputFileStatus::Untrusted);
    EXPECT_EQ(probe("group"), InputFileStatus::Untrusted);
    EXPECT_EQ(probe("link"), InputFileStatus::Untrusted);   // never followed there

    // The same files in a directory only its owner writes are read as before.
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    EXPECT_EQ(probe("nobody"), InputFileStatus::Ok);
    EXPECT_EQ(probe("link"), InputFileStatus::Ok);
}

}  // namespace
