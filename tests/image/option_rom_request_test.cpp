// The image-update request: request words against file sizes, and records
// left alone when a file cannot be taken.
#include "image/option_rom_request.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "fixtures/host_builder.h"
#include "frontend/output.h"

namespace {

class OptionRomRequest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = zvfix::MakeTempDir("zvoptreq");
        ResetOutputChannels();
        freeUserOptionROMReq();
    }
    void TearDown() override {
        freeUserOptionROMReq();
        ResetOutputChannels();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string File(const std::string& name, size_t size) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << std::string(size, 'x');
        return path;
    }
    static std::string OutputFile() {
        std::ifstream f(GetOutPutFile());
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    std::string dir_;
};

TEST_F(OptionRomRequest, RequestWordsChooseTheRegionBySize) {
    ASSERT_EQ(addUserOptionROMRequest("all", File("a", 0x10000).c_str()), OPTROM_REQ_SUCCESS);
    ASSERT_NE(g_ptrOptionROMRequest, nullptr);
    EXPECT_EQ(g_ptrOptionROMRequest->Region, OPTROM_REGION_STANDARD);
    EXPECT_EQ(g_ptrOptionROMRequest->iFileSize, 0x10000u);

    EXPECT_EQ(addUserOptionROMRequest("ALL", File("b", 0x10001).c_str()), OPTROM_REQ_SUCCESS);
    EXPECT_EQ(g_ptrOptionROMRequest->Region, OPTROM_REGION_ALL);
    EXPECT_EQ(std::string(g_ptrOptionROMRequest->optROMFile), dir_ + "/b");

    EXPECT_EQ(addUserOptionROMRequest("all", File("c", 0x20000).c_str()), OPTROM_REQ_SUCCESS);
    EXPECT_EQ(g_ptrOptionROMRequest->Region, OPTROM_REGION_STANDARD);

    EXPECT_EQ(addUserOptionROMRequest("Fw", File("d", 0x10000).c_str()), OPTROM_REQ_SUCCESS);
    EXPECT_EQ(g_ptrOptionROMRequest->Region, OPTROM_REGION_FIRMWARE);
    EXPECT_EQ(addUserOptionROMRequest("fw", File("e", 0xFFFF).c_str()), OPTROM_REQ_BAD_SIZE);

    EXPECT_EQ(addUserOptionROMRequest("boot", File("f", 0x40000).c_str()), OPTROM_REQ_SUCCESS);
    EXPECT_EQ(g_ptrOptionROMRequest->Region, OPTROM_REGION_BOOT);
    EXPECT_EQ(addUserOptionROMRequest("boot", File("g", 0x40001).c_str()), OPTROM_REQ_BAD_SIZE);

    // Another word keeps the region; no word is a standard update.
    EXPECT_EQ(addUserOptionROMRequest("other", File("h", 10).c_str()), OPTROM_REQ_SUCCESS);
    EXPECT_EQ(g_ptrOptionROMRequest->Region, OPTROM_REGION_BOOT);
    EXPECT_EQ(addUserOptionROMRequest(nullptr, nullptr), OPTROM_REQ_SUCCESS);
    EXPECT_EQ(g_ptrOptionROMRequest->Region, OPTROM_REGION_STANDARD);

    freeUserOptionROMReq();
    EXPECT_EQ(g_ptrOptionROMRequest, nullptr);
}

TEST_F(OptionRomRequest, UnusableFileLeavesTheRecordAsItWas) {
    ASSERT_EQ(SetOutOutFile(), 0);
    const std::string good = File("good.bin", 0x20001);
    ASSERT_EQ(addUserOptionROMRequest("all", good.c_str()), OPTROM_REQ_SUCCESS);

    const std::string missing = dir_ + "/missing.bin";
    EXPECT_EQ(addUserOptionROMRequest("boot", missing.c_str()), OPTROM_REQ_OPEN_FAILED);
    // A name longer than the record holds would name another file once cut.
    const std::string longName = dir_ + "/" + std::string(300, 'n');
    EXPECT_EQ(addUserOptionROMRequest("boot", longName.c_str()), OPTROM_REQ_OPEN_FAILED);
    const std::string edge = std::string(255, 'e');
    EXPECT_EQ(addUserOptionROMRequest("boot", (edge + "e").c_str()), OPTROM_REQ_OPEN_FAILED);

    EXPECT_EQ(std::string(g_ptrOptionROMRequest->optROMFile), good);
    EXPECT_EQ(g_ptrOptionROMRequest->Region, OPTROM_REGION_ALL);
    EXPECT_EQ(g_ptrOptionROMRequest->iFileSize, 0x20001u);
    const std::string out = OutputFile();
    EXPECT_NE(out.find("Unable to open file " + missing + "!\n"), std::string::npos) << out;
}

}  // namespace
