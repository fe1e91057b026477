// The Dorne engines' image file reader: what counts as an image, and files
// that must not be read.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "engines/dorne_image_file.h"
#include "fixtures/multiboot_image_builder.h"
#include "support/e2e_support.h"

namespace {

class DorneImageFile : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const zvfix::Bytes& bytes) {
        const std::string path = dir.Path() + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    SD_INT32 Read(const std::string& path, bool unwrap) { return DorneReadImageFile(path.c_str(), unwrap, &image, msg); }

    zvtest::TempDir dir;
    std::vector<SD_UINT8> image;
    DorneMessage msg;
};

TEST_F(DorneImageFile, APackageHeaderIsTakenOffOnlyWhenAsked) {
    const zvfix::Bytes plain = zvfix::MakeDorneImage();
    const std::string path = Write("pkg.bin", zvfix::WrapInPldmPackage(plain, 0x90));
    ASSERT_EQ(Read(path, true), 0);
    EXPECT_EQ(image, plain);
    ASSERT_EQ(Read(path, false), 0);
    EXPECT_EQ(image.size(), plain.size() + 0x90);
}

TEST_F(DorneImageFile, AHeaderThatReachesTheEndIsACorruptedFileAndNothingIsAnEmptyImage) {
    const std::string only = Write("only.bin", zvfix::WrapInPldmPackage({}, 0x80));
    EXPECT_EQ(Read(only, true), DORNE_FILE_CORRUPTED);
    EXPECT_STREQ(msg.text.data(), ("File " + only + " appears to be corrupted!").c_str());
    EXPECT_TRUE(image.empty());

    EXPECT_EQ(Read(Write("empty.bin", {}), true), DORNE_NO_MEMORY);
    EXPECT_STREQ(msg.text.data(), "Memory allocation error!");
}

TEST_F(DorneImageFile, OnlyRegularFilesAreRead) {
    const std::string fifo = dir.Path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(Read(fifo, true), DORNE_OPEN_FAILED);   // refused without waiting for a writer
    EXPECT_EQ(Read(dir.Path() + "/missing", true), DORNE_OPEN_FAILED);
    EXPECT_STREQ(msg.text.data(), ("Unable to open boot/multi-boot image file (" + dir.Path() + "/missing)!").c_str());
}

}  // namespace
