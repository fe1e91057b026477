// Saving a buffer to a file, the dump that reads its bytes back, and the
// directory test.
#include "frontend/file_util.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/oss_services.h"
#include "support/capture_support.h"
#include "support/e2e_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FileBytes(const std::string& path) {
    const std::string s = zvtest::ReadFile(path);
    return Bytes(s.begin(), s.end());
}

TEST(FileUtil, SaveAndDumpWriteTheBytesAndRefuseWhatTheyCannotCreate) {
    zvtest::TempDir dir;
    const Bytes data = {0x00, 0xFF, 0x55, 0xAA, 0x0A, 0x0D, 0x1A};
    const std::string saved = dir.Path() + "/saved.bin";
    EXPECT_EQ(saveBufferToFile(data, saved.c_str()), 0);
    EXPECT_EQ(FileBytes(saved), data);
    // A shorter second save leaves only the new bytes.
    EXPECT_EQ(saveBufferToFile(std::span<const uint8_t>(data).first(2), saved.c_str()), 0);
    EXPECT_EQ(FileBytes(saved), Bytes(data.begin(), data.begin() + 2));

    Bytes buffer = data;
    const std::string dumped = dir.Path() + "/dump.bin";
    EXPECT_EQ(DumpToFile(nullptr, buffer, dumped.c_str()), 0);
    EXPECT_EQ(FileBytes(dumped), data);
    EXPECT_EQ(buffer, data) << "read back into the buffer";

    // Never through a link: the file it names stays as it was.
    const std::string target = dir.Path() + "/target";
    const std::string link = dir.Path() + "/link";
    ASSERT_EQ(saveBufferToFile(data, target.c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    const Bytes other = {1, 2, 3};
    EXPECT_EQ(saveBufferToFile(other, link.c_str()), 1);
    Bytes dumpBuffer = other;
    int rc = 0;
    OSSSetLogQuiet(0);
    const std::string err = zvtest::CaptureStderr([&] { rc = DumpToFile(nullptr, dumpBuffer, link.c_str()); });
    OSSSetLogQuiet(1);
    EXPECT_EQ(rc, -1);
    EXPECT_NE(err.find("Failed to open file " + link + " for saving!"), std::string::npos) << err;
    EXPECT_EQ(FileBytes(target), data);
    EXPECT_EQ(dumpBuffer, other) << "a dump that could not write keeps the caller's bytes";

    EXPECT_EQ(isDirExists(dir.Path().c_str()), 1);
    EXPECT_EQ(isDirExists(saved.c_str()), 0);
    EXPECT_EQ(isDirExists(nullptr), 0);

    const std::string missing = dir.Path() + "/no-such-dir/f.bin";
    EXPECT_EQ(saveBufferToFile(data, missing.c_str()), 1);
    EXPECT_EQ(saveBufferToFile(data, nullptr), 1);
    EXPECT_EQ(DumpToFile(nullptr, buffer, nullptr), -1);
}

// "-b" takes an image file of up to 4 GiB less one byte; one of exactly
// 4 GiB, whose size does not fit 32 bits, is refused with 5 (sparse files).
TEST(FileUtil, FileSizeTakesUpToFourGibLessOneByte) {
    zvtest::TempDir dir;
    for (const uint64_t length : {0xFFFFFFFFull, 0x100000000ull, 0x100000001ull}) {
        const std::string path = dir.Path() + "/image-" + std::to_string(length);
        ASSERT_EQ(saveBufferToFile({}, path.c_str()), 0);
        ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(length)), 0);
        uint32_t size = 7;
        const int rc = getFileSize(path.c_str(), &size);
        if (length <= 0xFFFFFFFFull) {
            EXPECT_EQ(rc, 0) << length;
            EXPECT_EQ(size, length);
        } else {
            EXPECT_EQ(rc, 5) << length;
            EXPECT_EQ(size, 7u) << "left as it was";
        }
    }
}

// Saved files and dumps are made as any new file is: 0666 less the umask, so
// the administrator's umask decides who may read them.
TEST(FileUtil, SavedAndDumpedFilesTakeTheirModeFromTheUmask) {
    zvtest::TempDir dir;
    const Bytes data = {0x01, 0x02};
    Bytes buffer = data;
    for (const mode_t mask : {mode_t{022}, mode_t{077}}) {
        const mode_t old = ::umask(mask);
        const std::string saved = dir.Path() + "/saved-" + std::to_string(mask);
        const std::string dumped = dir.Path() + "/dumped-" + std::to_string(mask);
        const int savedRc = saveBufferToFile(data, saved.c_str());
        const int dumpedRc = DumpToFile(nullptr, buffer, dumped.c_str());
        ::umask(old);
        ASSERT_EQ(savedRc, 0);
        ASSERT_EQ(dumpedRc, 0);
        struct stat st {};
        ASSERT_EQ(::stat(saved.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask) << saved;
        ASSERT_EQ(::stat(dumped.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask) << dumped;
    }
}

}  // namespace
