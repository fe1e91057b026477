// The two passes of the command line. (The dispatcher's refusals and the
// exit statuses of refused lines are checked by whole runs at start-up.)
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "cli/cmdline.h"
#include "core/core_quiet.h"
#include "frontend/cli_settings.h"
#include "frontend/install_dir.h"
#include "frontend/output.h"
#include "support/e2e_support.h"

namespace {

// Runs ParseArg over a copy of the words (the first pass blanks switches in place).
int parse(std::vector<std::string> words) {
    words.insert(words.begin(), "tarvikolen");
    std::vector<std::vector<char>> store;
    std::vector<char*> argv;
    for (auto& w : words) {
        store.emplace_back(w.begin(), w.end());
        store.back().push_back('\0');
    }
    for (auto& s : store) argv.push_back(s.data());
    argv.push_back(nullptr);
    return ParseArg(static_cast<int>(words.size()), argv.data());
}

class CmdLine : public ::testing::Test {
protected:
    void SetUp() override {
        ResetOutputChannels();
        CoreSetQuietMode(1);
        VORNSetInstallationDir(inst_.Path().c_str(), VORN_DIR_SIZE);
    }
    void TearDown() override {
        ResetOutputChannels();
        CoreSetQuietMode(1);
    }
    zvtest::TempDir inst_;
};

TEST_F(CmdLine, NoWordIsEnableOrDisableWithPackageFile) {
    EXPECT_EQ(parse({}), VORN_PARSE_OK);
    EXPECT_EQ(g_CmdOperation, VORN_OP_MCTP_ENABLE);
    ASSERT_TRUE(std::ofstream(inst_.Path() + "/package.cfg"));
    EXPECT_EQ(parse({"--force"}), VORN_PARSE_OK);
    EXPECT_EQ(g_CmdOperation, VORN_OP_MCTP_DISABLE);
    EXPECT_EQ(GetForceUpdateOption(), 1);
    EXPECT_EQ(GetFlashUpdateMode(), 1);
}

TEST_F(CmdLine, SwitchesActInOrderAndHelpStopsThePass) {
    EXPECT_EQ(parse({"-s", "-trace"}), VORN_PARSE_OK);
    EXPECT_EQ(CoreGetQuietMode(), 0);
    EXPECT_EQ(GetEnableDebugLog(), 1);
    EXPECT_STREQ(GetDebugLogFile(), "/var/log/zenbrix.log");
    EXPECT_EQ(parse({"/?"}), VORN_PARSE_USAGE);   // further forms in the whole-program start-up tests
}

TEST_F(CmdLine, FamilyAndPortSwitches) {
    EXPECT_EQ(parse({"--KAMU", "/ports"}), VORN_PARSE_OK);
    EXPECT_EQ(GetAdapterFamilyType(), VORN_FAMILY_KAMU);
    EXPECT_EQ(GetAdapterPortUpdateOption(), 1);
    EXPECT_EQ(parse({"/wexi"}), VORN_PARSE_OK);
    EXPECT_EQ(GetAdapterFamilyType(), VORN_FAMILY_TAMO);
    EXPECT_EQ(parse({"--zuka", "--runa"}), VORN_PARSE_OK);
    EXPECT_EQ(GetAdapterFamilyType(), VORN_FAMILY_RUNA);
    EXPECT_EQ(parse({}), VORN_PARSE_OK);
    EXPECT_EQ(GetAdapterFamilyType(), VORN_FAMILY_DEFAULT) << "settings start afresh on every parse";
}

TEST_F(CmdLine, AdapterArgumentForms) {
    EXPECT_EQ(parse({"-i", "aLl"}), VORN_PARSE_OK);
    EXPECT_EQ(g_CmdOperation, VORN_OP_FLASH_VERSIONS);
    EXPECT_EQ(g_AdapterInputType, VORN_INPUT_ALL);

    EXPECT_EQ(parse({"/PCI", "128"}), VORN_PARSE_OK);
    EXPECT_EQ(g_CmdOperation, VORN_OP_PCI_VENDOR);
    EXPECT_EQ(g_AdapterInputType, VORN_INPUT_NUMBER);
    EXPECT_EQ(hbaNumber, 128u);

    EXPECT_EQ(parse({"-l", "21-00-00-24-ff-7a-1b-2c"}), VORN_PARSE_OK);
    EXPECT_EQ(g_AdapterInputType, VORN_INPUT_WWPN);
    EXPECT_EQ(hbaWWPN[7], 0x2C);
    EXPECT_EQ(parse({"-mpi", "21000024FF7A1B2D"}), VORN_PARSE_OK);
    EXPECT_EQ(hbaWWPN[7], 0x2D);

    EXPECT_EQ(parse({"-i", "-1"}), VORN_PARSE_INVALID);   // more refusals run whole in the start-up tests
}

TEST_F(CmdLine, WordCountsDecideValidity) {
    EXPECT_EQ(parse({"-g"}), VORN_PARSE_OK);
    EXPECT_EQ(g_CmdOperation, VORN_OP_HOST_INFO);
    EXPECT_EQ(parse({"-i"}), VORN_PARSE_INVALID);
    // Two words whose first is no command pass with no operation.
    EXPECT_EQ(parse({"-g", "x"}), VORN_PARSE_OK);
    EXPECT_EQ(g_CmdOperation, VORN_OP_NONE);
    EXPECT_EQ(parse({"-b", "ALL", "image.bin"}), VORN_PARSE_OK);
    EXPECT_EQ(g_CmdOperation, VORN_OP_FLASH_FROM_FILE);
    EXPECT_STREQ(FileName, "image.bin");
    EXPECT_EQ(parse({"-b", "300", "image.bin"}), VORN_PARSE_BAD_ADAPTER);
    EXPECT_EQ(parse({"-x", "a", "b"}), VORN_PARSE_INVALID);
    EXPECT_EQ(parse({"", "-v"}), VORN_PARSE_VERSION) << "empty arguments are skipped";
}

TEST_F(CmdLine, NamesThatWouldBeCutAreRefused) {
    EXPECT_EQ(parse({"-x", std::string(259, 'd')}), VORN_PARSE_OK);
    EXPECT_EQ(std::strlen(DirectoryName), 259u);
    EXPECT_EQ(parse({"-x", std::string(260, 'd')}), VORN_PARSE_INVALID);
    EXPECT_EQ(parse({"-b", "ALL", std::string(260, 'f')}), VORN_PARSE_INVALID);
}

TEST_F(CmdLine, AtMost255CommandWords) {
    std::vector<std::string> words(255, "w");
    EXPECT_EQ(parse(words), VORN_PARSE_INVALID);  // too many for any command, but read whole
    words.push_back("w");
    EXPECT_EQ(parse(words), VORN_PARSE_INVALID);
}

}  // namespace
