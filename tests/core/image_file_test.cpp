// An update run reads each image file once: every adapter of the run is
// written from the bytes the first read found, and nothing of a run is seen
// by a read outside it.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "core/image_file.h"
#include "support/e2e_support.h"

namespace {

void Put(const std::string& path, const std::vector<SD_UINT8>& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(bytes.data()),
                                                                   static_cast<std::streamsize>(bytes.size()));
}

TEST(ImageFileRun, EachFileIsReadOncePerRunAndNeverOutsideIt) {
    zvtest::TempDir dir;
    const std::string path = dir.Path() + "/img.bin";
    const std::vector<SD_UINT8> first{1, 2, 3, 4}, second{9, 9};
    Put(path, first);
    std::vector<SD_UINT8> bytes;
    size_t size = 0;
    {
        const ImageFileRun run;
        EXPECT_FALSE(CoreImageFileRunSize(path.c_str(), size)) << "not read yet";
        ASSERT_EQ(CoreReadImageFile(path.c_str(), {}, bytes), ImageFileResult::Ok);
        ASSERT_TRUE(CoreImageFileRunSize(path.c_str(), size));
        EXPECT_EQ(size, first.size());
        // Changed, then gone: the run keeps what it read, under each caller's own limits.
        Put(path, second);
        std::remove(path.c_str());
        ASSERT_EQ(CoreReadImageFile(path.c_str(), {}, bytes), ImageFileResult::Ok);
        EXPECT_EQ(bytes, first);
        EXPECT_EQ(CoreReadImageFile(path.c_str(), {.maxSize = 3}, bytes), ImageFileResult::Corrupted);
        // A read that fails is not kept: the file is read once it is there.
        const std::string later = dir.Path() + "/later.bin";
        EXPECT_EQ(CoreReadImageFile(later.c_str(), {}, bytes), ImageFileResult::OpenFailed);
        Put(later, second);
        ASSERT_EQ(CoreReadImageFile(later.c_str(), {}, bytes), ImageFileResult::Ok);
        EXPECT_EQ(bytes, second);
    }
    // After the run the file is read again, as it now is.
    EXPECT_FALSE(CoreImageFileRunSize(path.c_str(), size));
    EXPECT_EQ(CoreReadImageFile(path.c_str(), {}, bytes), ImageFileResult::OpenFailed);
    Put(path, second);
    ASSERT_EQ(CoreReadImageFile(path.c_str(), {}, bytes), ImageFileResult::Ok);
    EXPECT_EQ(bytes, second);
    EXPECT_FALSE(CoreImageFileRunSize(path.c_str(), size)) << "nothing is kept outside a run";
}

}  // namespace
