// agent.properties: the reader, the writer and the settings' rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "core/core_init.h"
#include "core/core_quiet.h"
#include "core/edif_config_file.h"
#include "core/oss_services.h"
#include "core/polling_loop.h"
#include "core/preferences.h"
#include "support/e2e_support.h"

namespace {

class Prefs : public ::testing::Test {
protected:
    void SetUp() override {
        OSSSetConfigPath((dir_.Path() + "/").c_str());
        CoreInitialize();  // names the file; nothing to load yet
        CoreResetPreferences();
        CoreSetQuietMode(1);
    }
    void TearDown() override { CoreSetQuietMode(1); }
    std::string file() const { return dir_.Path() + "/agent.properties"; }
    void write(const std::string& text) const { std::ofstream(file(), std::ios::trunc) << text; }
    std::string get(const char* key) const {
        FILE* f = PrefOpenPreferenceFile(file().c_str());
        const char* v = PrefGetProperty(f, key);
        std::string out = v != nullptr ? v : "<null>";
        PrefClosePreferenceFile(f);
        return out;
    }
    int set(const char* key, const char* value) const {
        FILE* f = PrefOpenPreferenceFile(file().c_str());
        const int rc = PrefSetProperty(f, key, value);
        PrefClosePreferenceFile(f);
        return rc;
    }
    zvtest::TempDir dir_;
};

TEST_F(Prefs, ReaderSplitsAtEqualsAndNewline) {
    write("a=1\nnode.agent.polling.interval=45\nb=\n");
    EXPECT_EQ(get("node.agent.polling.interval"), "45");
    EXPECT_EQ(get("b"), "<null>");
    EXPECT_EQ(get("missing"), "<null>");
    // A value that equals the key ends the search there, without a result.
    write("x=wanted\nwanted=7\n");
    EXPECT_EQ(get("wanted"), "<null>");
}

TEST_F(Prefs, WriterRewritesOnlyLinesWhoseKeyMatches) {
    write("# comment\nk=long-old-value\nother=k\nk=second\n");
    ASSERT_EQ(set("k", "v"), 0);
    EXPECT_EQ(zvtest::ReadFile(file()), "# comment\nk=v\nother=k\nk=v\n");
    // A key that only starts like the key is another key.
    write("kk=1\n");
    ASSERT_EQ(set("k", "2"), 0);
    EXPECT_EQ(zvtest::ReadFile(file()), "kk=1\nk=2\n");
    // Appending to a file without a final newline starts a line of its own.
    write("a=1");
    ASSERT_EQ(set("b", "2"), 0);
    EXPECT_EQ(zvtest::ReadFile(file()), "a=1\nb=2\n");
    // A very long line is carried over whole.
    const std::string longLine = "long=" + std::string(2000, 'x') + "\n";
    write(longLine);
    ASSERT_EQ(set("z", "1"), 0);
    EXPECT_EQ(zvtest::ReadFile(file()), longLine + "z=1\n");
}

TEST_F(Prefs, PollingIntervalRules) {
    EXPECT_EQ(CoreLoadPollingInterval(), -1) << "no file";
    for (const char* bad : {"0", "abc"}) {
        write(std::string("node.agent.polling.interval=") + bad + "\n");
        EXPECT_EQ(CoreLoadPollingInterval(), -1) << bad;
        EXPECT_EQ(CoreGetPollingInterval(), 30);
    }
    write("node.agent.polling.interval= 45s\n");
    EXPECT_EQ(CoreLoadPollingInterval(), 0);
    EXPECT_EQ(CoreGetPollingInterval(), 45);
    EXPECT_EQ(CoreSetPollingInterval(60), 0);
    EXPECT_EQ(CoreGetPollingInterval(), 60);
    EXPECT_EQ(zvtest::ReadFile(file()), "node.agent.polling.interval=60\n");
}

TEST_F(Prefs, QuietModeFromTheFile) {
    EXPECT_EQ(CoreLoadQuietMode(), -1);
    EXPECT_EQ(CoreGetQuietMode(), 1) << "no file: unchanged";
    write("other=1\n");
    EXPECT_EQ(CoreLoadQuietMode(), 0);
    EXPECT_EQ(CoreGetQuietMode(), 0) << "a file without the key means not quiet";
    CoreSetQuietMode(1);
    for (const char* bad : {"2", "-1"}) {
        write(std::string("node.agent.quiet.mode.enable=") + bad + "\n");
        EXPECT_EQ(CoreLoadQuietMode(), -1) << bad;
        EXPECT_EQ(CoreGetQuietMode(), 1);
    }
    write("node.agent.quiet.mode.enable=0\n");
    EXPECT_EQ(CoreLoadQuietMode(), 0);
    EXPECT_EQ(CoreGetQuietMode(), 0);
}

TEST_F(Prefs, FabricScanningAndSecuredFlag) {
    write("node.agent.fabric.scanning.enable=1\nnode.agent.secured.flash.update.zvremote.enable=1\n");
    EXPECT_EQ(CoreLoadFabricScanning(), 0);
    EXPECT_EQ(CoreGetFabricScanning(), 1);
    EXPECT_EQ(CoreGetFlashUpdateConfig(), 0);
    EXPECT_EQ(CoreGetSecuredFlashUpdate(), 1);
    write("node.agent.fabric.scanning.enable=5\n");
    EXPECT_EQ(CoreLoadFabricScanning(), -1);
    EXPECT_EQ(CoreGetFabricScanning(), 1);
    EXPECT_EQ(CoreGetFlashUpdateConfig(), -1);
    EXPECT_EQ(CoreGetSecuredFlashUpdate(), 0) << "reset on every load";
}

TEST_F(Prefs, PasswordMustMatchWhole) {
    EXPECT_EQ(CoreValidateConfigurationPassword("x"), -1) << "no file";
    write("");
    ASSERT_EQ(CoreUpdateConfigurationPassword("secret"), 0);
    EXPECT_EQ(CoreValidateConfigurationPassword("secret"), 0);
    EXPECT_EQ(CoreValidateConfigurationPassword("secre"), -1);
    EXPECT_EQ(CoreValidateConfigurationPassword("secret2"), -1);
    const std::string longPw(300, 'p');
    ASSERT_EQ(CoreUpdateConfigurationPassword(longPw.c_str()), 0);
    EXPECT_EQ(CoreValidateConfigurationPassword(std::string(191, 'p').c_str()), -1);
    EXPECT_EQ(CoreValidateConfigurationPassword(longPw.c_str()), 0);
}

TEST_F(Prefs, BeaconAndLinkSpeedKeys) {
    const uint8_t wwn[8] = {0x20, 0, 0, 0x11, 0x22, 0x33, 0x44, 0xAB};
    const uint8_t rem[8] = {0x50, 1, 2, 3, 4, 5, 6, 7};
    char key[256];
    CoreBuildTargetBeaconKey(key, sizeof key, 3, wwn);
    EXPECT_STREQ(key, "node.agent.target.beacon.3.20000011223344ab");
    int state = -5;
    EXPECT_EQ(CoreGetTargetBeaconState(key, &state), -1) << "no file";
    write("");
    EXPECT_EQ(CoreGetTargetBeaconState(key, &state), 0);
    EXPECT_EQ(state, 0);
    ASSERT_EQ(CoreSetTargetBeaconState(key, 1), 0);
    EXPECT_EQ(CoreGetTargetBeaconState(key, &state), 0);
    EXPECT_EQ(state, 1);

    CoreBuildiiDMAKey(key, sizeof key, wwn, rem);
    EXPECT_STREQ(key, "node.agent.iidma.20000011223344ab.5001020304050607");
    int speed = 9;
    EXPECT_EQ(CoreGetiiDMAValue(key, &speed), -1);
    EXPECT_EQ(speed, 0);
    ASSERT_EQ(CoreSetiiDMAValue(key, 16), 0);
    EXPECT_EQ(CoreGetiiDMAValue(key, &speed), 0);
    EXPECT_EQ(speed, 16);

    char value[64] = "untouched";
    EXPECT_EQ(CoreGetStringValueFromPropertiesFile("nothing", value, sizeof value), 0);
    EXPECT_STREQ(value, "untouched");
    write("alias.wwpn=a=b\r\n");
    EXPECT_EQ(CoreGetStringValueFromPropertiesFile("alias.wwpn", value, sizeof value), 0);
    EXPECT_STREQ(value, "a=b");
}

TEST(CoreInit, ConfigurationFileFollowsTheConfigurationDirectory) {
    zvtest::TempDir dir;
    OSSSetConfigPath((dir.Path() + "/").c_str());
    std::ofstream(dir.Path() + "/agent.properties") << "node.agent.polling.interval=12\n";
    CoreSetQuietMode(1);
    CoreForceSingleRefresh();
    ASSERT_EQ(CoreInitialize(), 0);
    EXPECT_EQ(CoreDoSingleRefresh(), 0) << "initialising starts without a forced refresh";
    EXPECT_EQ(std::string(CoreGetConfigFileName()), dir.Path() + "/agent.properties");
    EXPECT_EQ(CoreGetPollingInterval(), 12);
    EXPECT_EQ(CoreGetQuietMode(), 0) << "the file has no quiet-mode key";
    EXPECT_EQ(CoreUninitialize(), 0);

    // The agent's early start reads the same settings and finds the
    // security configuration's directory.
    std::ofstream(dir.Path() + "/auth-els.conf") << "auth-els\n";
    std::ofstream(dir.Path() + "/agent.properties")
        << "node.agent.polling.interval=14\nnode.agent.edif.config.path=" << dir.Path() << "\n";
    CoreSetEDiffConfigPath("");
    ASSERT_EQ(CorePreInitialize(), 0);
    EXPECT_EQ(std::string(CoreGetConfigFileName()), dir.Path() + "/agent.properties");
    EXPECT_EQ(CoreGetPollingInterval(), 14);
    EXPECT_EQ(std::string(CoreGetEDiffConfigPath()), dir.Path());
    EXPECT_EQ(CoreUninitialize(), 0);
    CoreSetEDiffConfigPath("");

    // A directory whose file name would be cut names no file at all.
    OSSSetConfigPath(("/" + std::string(250, 'd') + "/").c_str());
    ASSERT_EQ(CoreInitialize(), 0);
    EXPECT_STREQ(CoreGetConfigFileName(), "");
    CoreSetQuietMode(1);
    CoreResetPreferences();
}

}  // namespace
