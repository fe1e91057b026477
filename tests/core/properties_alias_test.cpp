// The alias writer and the merge of agent.properties.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/core_init.h"
#include "core/oss_services.h"
#include "core/properties_alias.h"
#include "core/properties_merge.h"
#include "fixtures/host_builder.h"
#include "support/discovered_host.h"
#include "support/e2e_support.h"

namespace {

class AliasWriter : public zvtest::DiscoveredHostTest {
protected:
    void SetUp() override {
        DiscoveredHostTest::SetUp();
        OSSSetConfigPath((dir_ + "/").c_str());
        CoreInitialize();
        zvfix::HostBuilder h;
        h.AddChip25Ports("SN-ALIAS", {0x21000024FF000001, 0x21000024FF000002});
        Discover(h);
    }
    std::string File() const { return dir_ + "/agent.properties"; }
    void Put(const std::string& text) const { std::ofstream(File(), std::ios::trunc) << text; }
    static constexpr const char* kPortKey = "node.agent.hba.wwpn.21-00-00-24-ff-00-00-02.aname";
    static constexpr const char* kOthers =
        "# agent settings\nnode.agent.polling.interval=30\n\nnode.agent.quiet.mode.enable=1\n";
};

TEST_F(AliasWriter, AdapterFromTheNameInTheKey) {
    EXPECT_EQ(GetAdapterNumberFromWWPNString(kPortKey), 1);
    EXPECT_EQ(GetAdapterNumberFromWWPNString("node.agent.hba.wwpn.21-00-00-24-ff-00-00-09.aname"), -1);
    EXPECT_EQ(GetAdapterNumberFromWWPNString("short.name"), -1);
    EXPECT_EQ(GetAdapterNumberFromWWNNString(kPortKey), -1);   // a port name is no node name
}

TEST_F(AliasWriter, SetsReplacesAndRemovesKeepingEveryOtherLine) {
    Put(kOthers);
    for (const char* alias : {"db-server", "web"}) {   // set, then replaced
        const std::string line = std::string(kPortKey) + "=" + alias;
        ASSERT_EQ(CoreSetStringIntoPropertiesFile(line.c_str(), alias), 0);
        EXPECT_EQ(zvtest::ReadFile(File()), kOthers + line + "\n");
    }
    ASSERT_EQ(CoreSetStringIntoPropertiesFile((std::string(kPortKey) + "=").c_str(), ""), 0);
    EXPECT_EQ(zvtest::ReadFile(File()), kOthers);
}

TEST_F(AliasWriter, FileWithoutSettingsHoldsOnlyTheNewOne) {
    Put("# only comments\n");
    const std::string line = std::string(kPortKey) + "=db";
    EXPECT_EQ(CoreSetStringIntoPropertiesFile(line.c_str(), "db"), -1);
    EXPECT_EQ(zvtest::ReadFile(File()), line + "\n");
    std::filesystem::remove(File());
    EXPECT_EQ(CoreSetStringIntoPropertiesFile(line.c_str(), "db"), -1);   // no file to read
    EXPECT_FALSE(std::filesystem::exists(File()));
}

TEST(PropertiesMerge, OldSettingsWinNewKeysAreAdded) {
    zvtest::TempDir dir;
    const std::string current = dir.Path() + "/agent.properties";
    std::ofstream(current) << "node.agent.polling.interval=60\nnode.agent.new=1\nkeep = 2\n# new comment\n";
    std::ofstream(current + ".orig") << "node.agent.polling.interval=15\nkeepalive=9\n";
    ASSERT_EQ(MergePropertiesFilesIn(dir.Path().c_str()), 0);
    // "keep" is not "keepalive": both stay.
    const std::string merged = "node.agent.polling.interval=15\nkeepalive=9\nnode.agent.new=1\nkeep = 2\n# new comment\n";
    EXPECT_EQ(zvtest::ReadFile(current), merged);
    EXPECT_FALSE(std::filesystem::exists(current + ".orig"));
    EXPECT_FALSE(std::filesystem::exists(current + ".temp"));
    // Without the old copy nothing changes.
    EXPECT_EQ(MergePropertiesFilesIn(dir.Path().c_str()), -1);
    EXPECT_EQ(zvtest::ReadFile(current), merged);
}

}  // namespace
