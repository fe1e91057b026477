// Whole-file reads, bounded copies, string replacement and access tests.
#include "core/core_file_utils.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "core/core_log.h"
#include "support/e2e_support.h"

namespace {

class FileUtils : public ::testing::Test {
protected:
    std::string Put(const std::string& name, const std::string& text) const {
        const std::string path = dir_.Path() + "/" + name;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        return path;
    }
    zvtest::TempDir dir_;
};

TEST_F(FileUtils, ReadsWholeRegularFilesWithinTheLimit) {
    uint8_t* data = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(CoreReadFileToBuffer(&data, Put("a.bin", std::string("ab\0cd", 5)).c_str(), &size), 0);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("ab\0cd", 5));
    CoreFree(data);

    // One byte over the limit is refused before any memory is taken (a sparse file).
    const std::string big = dir_.Path() + "/big.bin";
    const int fd = open(big.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(CORE_FILE_SIZE_MAX + 1)), 0);
    close(fd);
    EXPECT_EQ(CoreReadFileToBuffer(&data, big.c_str(), &size), -1);
    EXPECT_EQ(data, nullptr);
    // ... and a copy of it leaves the destination as it was.
    const std::string kept = Put("copy.bin", "earlier copy");
    EXPECT_EQ(CoreCopyFile(big.c_str(), kept.c_str()), -1);
    EXPECT_EQ(zvtest::ReadFile(kept), "earlier copy");

    const std::string fifo = dir_.Path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(CoreReadFileToBuffer(&data, fifo.c_str(), &size), -1);   // never blocks
    EXPECT_EQ(CoreReadFileToBuffer(&data, (dir_.Path() + "/none").c_str(), &size), -1);
}

TEST_F(FileUtils, CopyNeverWritesThroughALink) {
    const std::string src = Put("src", "dump bytes");
    const std::string dst = dir_.Path() + "/dst";
    ASSERT_EQ(CoreCopyFile(src.c_str(), dst.c_str()), 0);
    EXPECT_EQ(zvtest::ReadFile(dst), "dump bytes");
    ASSERT_EQ(CoreCopyFile(Put("short", "x").c_str(), dst.c_str()), 0);
    EXPECT_EQ(zvtest::ReadFile(dst), "x");   // emptied first

    const std::string victim = Put("victim", "keep");
    const std::string link = dir_.Path() + "/link";
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
    EXPECT_EQ(CoreCopyFile(src.c_str(), link.c_str()), -1);
    EXPECT_EQ(zvtest::ReadFile(victim), "keep");
}

TEST(ReplaceString, EveryOccurrenceWithinTheBuffer) {
    char out[512] = {};
    ASSERT_EQ(CoreReplaceString("a-b-c", "-", "--", out), 0);
    EXPECT_STREQ(out, "a--b--c");
    ASSERT_EQ(CoreReplaceString("aaaa", "aa", "b", out), 0);
    EXPECT_STREQ(out, "bb");   // left to right, not overlapping
    EXPECT_EQ(CoreReplaceString("abc", "", "x", out), -1);   // an empty search string would never end
    EXPECT_EQ(CoreReplaceString("", "a", "x", out), -1);
    const std::string many(300, 'a');
    EXPECT_EQ(CoreReplaceString(many.c_str(), "a", "bb", out), -1);   // 600 characters do not fit
    char small[4];
    EXPECT_EQ(CoreReplaceString("abcd", "x", "y", small), -1);
}

TEST_F(FileUtils, AccessModes) {
    const std::string f = Put("f", "x");
    ASSERT_EQ(chmod(f.c_str(), 0600), 0);
    EXPECT_EQ(CoreGetFilePermission(f.c_str(), 0), 0);
    EXPECT_EQ(CoreGetFilePermission(f.c_str(), 4), 4);
    EXPECT_EQ(CoreGetFilePermission(f.c_str(), 6), 6);
    EXPECT_EQ(CoreGetFilePermission(f.c_str(), 1), -1);   // no execute bit, even for root
    EXPECT_EQ(CoreGetFilePermission(f.c_str(), 3), -1);   // unknown mode
    EXPECT_EQ(CoreGetFilePermission((dir_.Path() + "/none").c_str(), 0), -1);
    EXPECT_EQ(CoreGetFilePermission(nullptr, 0), -1);
}

}  // namespace
