// "auth-els.conf": what the parser makes of the service's layout, a file read
// and written back unchanged, the list operations and the string helpers.
#include "core/edif_config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "core/core_init.h"
#include "core/core_log.h"
#include "core/edif_config_file.h"
#include "core/edif_strings.h"
#include "core/oss_services.h"
#include "support/capture_support.h"
#include "support/e2e_support.h"

namespace {

// The service's layout, as the writer reproduces it.
const char* const kConf =
    "# host-side link security\n"
    "auth-els\n"
    "{\n"
    "   load = 1\n"
    "   disabled_remotes\n"
    "   {\n"
    "      remote_1\n"
    "      {\n"
    "            wwpn = 21:00:00:24:ff:00:00:01\n"
    "      }\n"
    "      remote_2\n"
    "      {\n"
    "            wwpn = 21:00:00:24:ff:00:00:02\n"
    "      }\n"
    "   }\n"
    "   rekey_config\n"
    "   {\n"
    "      rekey_1\n"
    "      {\n"
    "            reauth_time = 3600\n"
    "            # rekey_time = 600\n"
    "      }\n"
    "   }\n"
    "   shared_secret_config\n"
    "   {\n"
    "      shared_secret_1\n"
    "      {\n"
    "            shared_secret = 0042\n"
    "            # shared_secret=old\n"
    "      }\n"
    "   }\n"
    "   algorithm_config\n"
    "   {\n"
    "      esp_proposal = aes256gcm16-sha256\n"
    "      ike_proposal = aes256-sha256-ecp384\n"
    "   }\n"
    "}\n"
    "\n";

struct ListGuard {
    EDIFCONF* list = nullptr;
    ~ListGuard() { CoreEDifConfigDestroyList(&list); }
};

class EdifConfig : public ::testing::Test {
protected:
    std::string Write(const std::string& text) const {
        const std::string path = dir_.Path() + "/auth-els.conf";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        return path;
    }
    zvtest::TempDir dir_;
};

TEST_F(EdifConfig, RoundTripKeepsTheLayout) {
    ListGuard g;
    ASSERT_EQ(CoreEDifConfigCreateListFromFile(&g.list, Write(kConf).c_str()), 1);
    const std::string out = dir_.Path() + "/out.conf";
    ASSERT_EQ(CoreEDifConfigWriteToFile(g.list, out.c_str()), 1);
    EXPECT_EQ(zvtest::ReadFile(out), kConf);
    struct stat st {};
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);   // a new file of secrets is private

    // Reading the written file gives the same entries again.
    ListGuard again;
    ASSERT_EQ(CoreEDifConfigCreateListFromFile(&again.list, out.c_str()), 1);
    EXPECT_EQ(configGetConfigListSize(again.list), configGetConfigListSize(g.list));
}

TEST_F(EdifConfig, ParserSortsWordsIntoGroupsTypesAndValues) {
    ListGuard g;
    ASSERT_EQ(CoreEDifConfigCreateListFromFile(&g.list, Write(kConf).c_str()), 1);
    int pos = -1;
    const EDIFCONF* load = configGetGroupIndex(g.list, "load", nullptr, EDIF_GROUP_AUTH_ELS, &pos);
    ASSERT_NE(load, nullptr);
    EXPECT_EQ(std::tuple(load->type, load->value.ival, pos), std::tuple(EDIF_TYPE_INTEGER, 1, load->idx));

    const EDIFCONF* rekey = configSearchGroupEntry(g.list, "rekey_1", "rekey_time", EDIF_GROUP_REKEY, &pos);
    ASSERT_NE(rekey, nullptr);
    EXPECT_EQ(rekey->value.ival, 600);
    EXPECT_EQ(CoreConfigGetDisabledMode(rekey), 1);   // written commented out
    const EDIFCONF* reauth = configSearchGroupEntry(g.list, "rekey_1", "reauth_time", EDIF_GROUP_REKEY, &pos);
    ASSERT_NE(reauth, nullptr);
    EXPECT_EQ(CoreConfigGetDisabledMode(reauth), 0);
    EXPECT_STREQ(reauth->parent, "rekey_1");

    // A secret of digits keeps its leading zeros.
    const EDIFCONF* secret =
        configSearchSectionEntry(g.list, "shared_secret_", "shared_secret", EDIF_GROUP_SHARED_SECRET, &pos);
    ASSERT_NE(secret, nullptr);
    EXPECT_STREQ(CoreConfigGetString(secret), "0042");

    const EDIFCONF* wwpn = configSearchGroupEntry(g.list, "remote_2", "wwpn", EDIF_GROUP_REMOTE, &pos);
    ASSERT_NE(wwpn, nullptr);
    EXPECT_STREQ(CoreConfigGetString(wwpn), "21:00:00:24:ff:00:00:02");
    EXPECT_EQ(configFindDuplicateStringValue(g.list, "21:00:00:24:FF:00:00:01", EDIF_GROUP_REMOTE), 1);
    EXPECT_EQ(configFindDuplicateStringValue(g.list, "old", EDIF_GROUP_SHARED_SECRET), 0);   // disabled

    EXPECT_EQ(std::tuple(g.list->type, g.list->group, CoreConfigGetDisabledMode(g.list)),
              std::tuple(EDIF_TYPE_COMMENT, EDIF_GROUP_PREAMBLE, 1));   // the opening comment
}

TEST_F(EdifConfig, CommentedLineWithoutValueDoesNotDisableTheNextOne) {
    ListGuard g;
    ASSERT_EQ(1, CoreEDifConfigCreateListFromFile(&g.list, Write("auth-els\n{\n   # load =\n   load = 2\n}\n").c_str()));
    int pos = 0;
    const EDIFCONF* e = configGetGroupIndex(g.list, "load", nullptr, EDIF_GROUP_AUTH_ELS, &pos);
    ASSERT_NE(e, nullptr);
    // The first "load" entry has no value; the second carries 2, enabled.
    ASSERT_NE(e->next, nullptr);
    EXPECT_EQ(std::tuple(e->next->value.ival, e->next->value.disabled), std::tuple(2, 0));
}

TEST_F(EdifConfig, SetLookupsAndFreeRemoteNumber) {
    ListGuard g;
    ASSERT_EQ(CoreEDifConfigCreateListFromFile(&g.list, Write(kConf).c_str()), 1);
    int pos = -1;
    EDIFCONF* section = configGetDisabledRemotesGroupIndex(g.list, "disabled_remotes", nullptr, 2, &pos);
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(std::tuple(section->count, section->nameid), std::tuple(2u, 1));
    EDIFCONF* set = configGetDisabledRemotesGroupIndex(g.list, "remote_2", "wwpn", 3, &pos);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->count, 1u);
    // No such set: the next free remote number.
    EXPECT_EQ(configGetDisabledRemotesGroupIndex(g.list, "remote_9", nullptr, 3, &pos), nullptr);
    EXPECT_EQ(pos, 3);
    EXPECT_EQ(configGetRekeyGroupIndex(g.list, "rekey_", nullptr, 5, &pos)->count, 2u);
    EXPECT_EQ(configGetRekeyGroupIndex(g.list, "rekey_", nullptr, 3, &pos), nullptr);   // "Invalid group!"
    EXPECT_NE(configGetEncryptionAlgorithmGroupIndex(g.list, "algorithm", nullptr, 8, &pos), nullptr);

    EXPECT_EQ(configValidateGroupName(g.list, "remote_1", 3), 0);
    EXPECT_EQ(configValidateGroupName(g.list, "remote_3", 3), 1);
    EXPECT_EQ(configValidateGroupName(g.list, "anything", 2), 0);   // only groups 3 and 7
}

TEST_F(EdifConfig, SharedSecretLookupsAndDisabledModeAsWritten) {
    ListGuard g;
    ASSERT_EQ(CoreEDifConfigCreateListFromFile(&g.list, Write(kConf).c_str()), 1);
    int pos = -1;
    EDIFCONF* section = configGetSharedSecretGroupIndex(g.list, "shared_secret_config", nullptr, 6, &pos);
    ASSERT_NE(section, nullptr);
    EXPECT_STREQ(section->name, "shared_secret_config");
    EXPECT_EQ(std::tuple(section->count, section->nameid, pos), std::tuple(1u, 1, int{section->idx}));
    // A set counts its members, the commented-out one too, and must hold the member asked for.
    EDIFCONF* set = configGetSharedSecretGroupIndex(g.list, "secret_1", "shared_secret", 7, &pos);
    ASSERT_NE(set, nullptr);
    EXPECT_STREQ(set->name, "shared_secret_1");
    EXPECT_EQ(std::tuple(set->count, set->nameid, pos), std::tuple(2u, 1, int{set->idx}));
    pos = -1;
    EXPECT_EQ(configGetSharedSecretGroupIndex(g.list, "shared_secret_1", "wwpn", 7, &pos), nullptr);
    EXPECT_EQ(configGetSharedSecretGroupIndex(g.list, "shared_secret_2", nullptr, 7, &pos), nullptr);
    EXPECT_EQ(configGetSharedSecretGroupIndex(g.list, "shared_secret", nullptr, 5, &pos), nullptr);   // other group
    EXPECT_EQ(pos, -1) << "no position for what was not found";

    // Disabling writes the member commented out; enabling puts it back.
    EDIFCONF* load = configGetGroupIndex(g.list, "load", nullptr, EDIF_GROUP_AUTH_ELS, &pos);
    ASSERT_NE(load, nullptr);
    EXPECT_EQ(CoreConfigSetDisabledMode(load, 1), 1);
    EXPECT_EQ(CoreConfigGetDisabledMode(load), 1);
    const std::string out = dir_.Path() + "/out.conf";
    ASSERT_EQ(CoreEDifConfigWriteToFile(g.list, out.c_str()), 1);
    std::string expected = kConf;
    expected.replace(expected.find("   load = 1"), 11, "   # load = 1");
    EXPECT_EQ(zvtest::ReadFile(out), expected);
    EXPECT_EQ(CoreConfigSetDisabledMode(load, 0), 1);
    ASSERT_EQ(CoreEDifConfigWriteToFile(g.list, out.c_str()), 1);
    EXPECT_EQ(zvtest::ReadFile(out), kConf);
    EXPECT_EQ(CoreConfigSetDisabledMode(nullptr, 1), -1);

    // The display shows the file's layout line by line (without the empty last line).
    OSSSetLogQuiet(0);
    const std::string shown = zvtest::CaptureStdout([&] { CoreEDifConfigDisplay(g.list); });
    const std::string none = zvtest::CaptureStdout([] { CoreEDifConfigDisplay(nullptr); });
    OSSSetLogQuiet(1);
    EXPECT_EQ(shown, std::string(kConf, std::strlen(kConf) - 1));
    EXPECT_EQ(none, "CoreEDifConfigDisplay: List is empty!\n");
}

TEST_F(EdifConfig, ConfigDirectoryFromAgentProperties) {
    // Directories with and without a regular auth-els.conf.
    const std::string withConf = dir_.Path() + "/with", other = dir_.Path() + "/other";
    const std::string without = dir_.Path() + "/without", confDir = dir_.Path() + "/confdir";
    for (const std::string& d : {withConf, other, without, confDir}) ASSERT_EQ(::mkdir(d.c_str(), 0700), 0);
    std::ofstream(withConf + "/auth-els.conf") << kConf;
    std::ofstream(other + "/auth-els.conf") << kConf;
    ASSERT_EQ(::mkdir((confDir + "/auth-els.conf").c_str(), 0700), 0);
    // A directory whose name the path buffer cannot hold, with a file inside.
    const std::string tooLong = dir_.Path() + "/" + std::string(150, 'a') + "/" + std::string(150, 'b');
    ASSERT_EQ(::mkdir(tooLong.substr(0, tooLong.rfind('/')).c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(tooLong.c_str(), 0700), 0);
    std::ofstream(tooLong + "/auth-els.conf") << kConf;

    OSSSetConfigPath((dir_.Path() + "/").c_str());
    CoreInitialize();
    struct Row {
        const char* what;
        std::string properties;   // "": no agent.properties
        int result;
        std::string path;         // what CoreGetEDiffConfigPath gives afterwards
    };
    const std::string configKey = "node.agent.edif.config.path=", sourceKey = "node.agent.edif.source.path=";
    const Row rows[] = {
        {"config path first", configKey + withConf + "\n" + sourceKey + other + "\n", 0, withConf},
        {"source path when the config path holds no file", configKey + without + "\n" + sourceKey + other + "\n", 0,
         other},
        {"a directory of that name is no file", configKey + confDir + "\n", -1, "unchanged"},
        {"neither key", "other.key=1\n", -1, "unchanged"},
        {"a directory too long to keep", configKey + tooLong + "\n", -1, "unchanged"},
        {"no agent.properties", "", -1, "unchanged"},
    };
    const std::string properties = dir_.Path() + "/agent.properties";
    for (const Row& r : rows) {
        ::unlink(properties.c_str());
        if (!r.properties.empty()) std::ofstream(properties) << r.properties;
        ASSERT_EQ(CoreSetEDiffConfigPath("unchanged"), 0);
        EXPECT_EQ(CoreFindEDiffConfigPath(), r.result) << r.what;
        EXPECT_EQ(std::string(CoreGetEDiffConfigPath()), r.path) << r.what;
    }

    // The setter holds 259 characters whole; a longer directory is refused,
    // never kept cut (that would name another directory).
    const std::string dir259 = "/" + std::string(258, 'p');
    EXPECT_EQ(CoreSetEDiffConfigPath(dir259.c_str()), 0);
    EXPECT_EQ(std::string(CoreGetEDiffConfigPath()), dir259);
    EXPECT_EQ(CoreSetEDiffConfigPath(nullptr), -1);
    EXPECT_EQ(std::string(CoreGetEDiffConfigPath()), dir259);
    EXPECT_EQ(CoreSetEDiffConfigPath((dir259 + "q").c_str()), -1);
    EXPECT_STREQ(CoreGetEDiffConfigPath(), "");
}

TEST_F(EdifConfig, BuildingDeletingAndSetting) {
    ListGuard g;
    ASSERT_EQ(configAdd(&g.list, "auth-els", 1, EDIF_TYPE_SECTION, 0), 1);
    ASSERT_EQ(configAdd(&g.list, "load", 1, EDIF_TYPE_STRING, 1), 1);
    ASSERT_EQ(configPush(&g.list, "# first", 0, EDIF_TYPE_COMMENT, 2), 1);
    EDIFCONF* remote = configInsert(g.list, "remote_12", 3, EDIF_TYPE_SECTION, 3);
    ASSERT_NE(remote, nullptr);
    EXPECT_EQ(remote->nameid, 12);
    EXPECT_EQ(configGetConfigListSize(g.list), 4);

    // Deleting the head leaves the list at the next entry.
    EDIFCONF* head = configDelete(&g.list, nullptr, 0, 2);
    ASSERT_NE(head, nullptr);
    EXPECT_STREQ(head->name, "# first");
    EXPECT_EQ(g.list, remote);
    configFreeEntry(head);
    EXPECT_EQ(configDelete(&g.list, nullptr, 0, 42), nullptr);

    EXPECT_EQ(CoreEDifConfigSetInteger(g.list, "LOAD", 7, 1, 1, 0), 1);
    EXPECT_EQ(CoreEDifConfigSetInteger(g.list, "load", 7, 1, 9, 0), -1);   // wrong index
    EXPECT_EQ(CoreEDifConfigSetString(g.list, "load", "yes", 1, 1, 1), 1);
    const EDIFCONF* load = configSearch(g.list, "load", 1, 1);
    EXPECT_EQ(load->type, EDIF_TYPE_STRING);
    EXPECT_STREQ(CoreConfigGetString(load), "yes");
    EXPECT_EQ(configSetComment(g.list, "load", "x", 1), -1);   // not a comment (and index 1)

    EDIFCONF* header = configSearch(g.list, "auth-els", 1, 0);
    configSetOption(header, EDIF_OPTION_BRACE, 1);
    EXPECT_EQ(configGetOption(header, EDIF_OPTION_BRACE), 1);
    const std::string out = dir_.Path() + "/built.conf";
    ASSERT_EQ(CoreEDifConfigWriteToFile(g.list, out.c_str()), 1);
    EXPECT_EQ(zvtest::ReadFile(out), "      remote_12\nauth-els\n{\n   # load = yes\n\n");

    EXPECT_EQ(CoreEDifConfigWriteToFile(nullptr, out.c_str()), 0);
    EXPECT_EQ(CoreEDifConfigCreateListFromFile(&g.list, dir_.Path().c_str()), -2);   // a directory
}

TEST(EdifStrings, HelpersAndKeywordTests) {
    EXPECT_EQ(CoreGetRemoteNameID("remote_12"), 12);
    EXPECT_EQ(CoreGetRemoteNameID("remote_3_x"), 3);
    EXPECT_EQ(CoreGetRemoteNameID("remote"), -1);
    EXPECT_EQ(CoreGetRemoteNameID("remote_"), -1);
    EXPECT_STREQ(CoreGetRemotePortWWN("wwpn = a = 21:00"), " 21:00");
    EXPECT_EQ(CoreGetRemotePortWWN("wwpn"), nullptr);

    char blanks[] = "  \t ", text[] = " \t x y \t";
    EXPECT_STREQ(CoreTrim(blanks), "");
    EXPECT_STREQ(CoreTrim(text), "x y");
    EXPECT_EQ(CoreIsEmptyStr(" \n"), 1);
    EXPECT_EQ(CoreIsIntegerStr(""), 1);
    EXPECT_EQ(CoreIsIntegerStr("12 3"), 1);
    EXPECT_EQ(CoreIsIntegerStr("12a"), 0);
    EXPECT_EQ(CoreIsHexaDecimalStr("1fA"), 1);
    EXPECT_EQ(CoreIsHexaDecimalStr(nullptr), 0);

    char* sub = CoreGetSubString("abcdef", 1, 3);
    ASSERT_NE(sub, nullptr);
    EXPECT_STREQ(sub, "bcd");
    CoreFree(sub);
    EXPECT_EQ(CoreGetSubString("abc", 2, 5), nullptr);

    EXPECT_EQ(CoreIsRekeyGroupStr("rekey_2"), 1);
    EXPECT_EQ(CoreIsRekeyGroupStr("rekey_time"), 0);   // a member, not a set
    EXPECT_EQ(CoreIsSharedSecretGroupStr("shared_secret_config"), 0);
    EXPECT_EQ(CoreIsAuthElsGroupStr("AUTH-ELS"), 1);
    EXPECT_EQ(CoreIsDelimiterChar(';'), 1);
    EXPECT_EQ(CoreIsDelimiterChar('-'), 0);
    EXPECT_EQ(CoreIsOperatorChar('-'), 1);
}

}  // namespace
