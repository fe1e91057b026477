// Merging an installed agent.properties with the settings kept from before an
// upgrade, and opening a preference file for writing.
#include "core/properties_merge.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "core/preferences.h"
#include "support/e2e_support.h"

namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::trunc) << text; }

// (The merge's basic case and a missing old copy: properties_alias_test.cpp.)
TEST(PropertiesMerge, OldSettingsFirstThenOnlyTheNewKeys) {
    struct Row {
        const char* what;
        const char* installed;
        const char* kept;   // agent.properties.orig
        int result;
        const char* after;  // agent.properties afterwards
    };
    const Row rows[] = {
        {"old values win, new keys appended, last line ended",
         "a=2\nkeep=3\n# comment\nkey = new\nx.a.b=5\nlast=9",
         "a=1\n# comment\nkey=old\na.b=7\n", 0,
         "a=1\n# comment\nkey=old\na.b=7\nkeep=3\nx.a.b=5\nlast=9\n"},
        {"empty old file: the installed file as it was", "a=2\n", "", 0, "a=2\n"},
        {"empty installed file: the old settings", "", "a=1\nb=2", 0, "a=1\nb=2\n"},
    };
    for (const Row& r : rows) {
        zvtest::TempDir dir;
        const std::string current = dir.Path() + "/agent.properties";
        Write(current, r.installed);
        Write(current + ".orig", r.kept);
        EXPECT_EQ(MergePropertiesFilesIn(dir.Path().c_str()), r.result) << r.what;
        EXPECT_EQ(zvtest::ReadFile(current), r.after) << r.what;
        EXPECT_FALSE(Exists(current + ".orig")) << r.what;
        EXPECT_FALSE(Exists(current + ".temp")) << r.what;
    }

    // No installed file: the old one stays.
    zvtest::TempDir dir;
    Write(dir.Path() + "/agent.properties.orig", "a=1\n");
    EXPECT_EQ(MergePropertiesFilesIn(dir.Path().c_str()), -1);
    EXPECT_EQ(zvtest::ReadFile(dir.Path() + "/agent.properties.orig"), "a=1\n");
    EXPECT_EQ(MergePropertiesFilesIn(nullptr), -1);
}

TEST(PropertiesMerge, WriteModeTruncatesARegularFileAndRefusesLinks) {
    zvtest::TempDir dir;
    const std::string path = dir.Path() + "/agent.properties";
    Write(path, "old.key=1\nother=2\n");
    FILE* f = PrefOpenPreferenceFileWriteMode(path.c_str());
    ASSERT_NE(f, nullptr);
    std::fputs("new.key=3\n", f);
    std::rewind(f);
    char line[32] = {};
    ASSERT_NE(std::fgets(line, sizeof line, f), nullptr) << "opened for reading too";
    EXPECT_STREQ(line, "new.key=3\n");
    EXPECT_EQ(PrefClosePreferenceFile(f), 0);
    EXPECT_EQ(zvtest::ReadFile(path), "new.key=3\n");

    // Created when missing, mode 0640 at most.
    const std::string fresh = dir.Path() + "/fresh.properties";
    f = PrefOpenPreferenceFileWriteMode(fresh.c_str());
    ASSERT_NE(f, nullptr);
    PrefClosePreferenceFile(f);
    struct stat st {};
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0137, 0u);

    // Never through a link, never a directory: the file a link names keeps its bytes.
    const std::string link = dir.Path() + "/link.properties";
    ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
    EXPECT_EQ(PrefOpenPreferenceFileWriteMode(link.c_str()), nullptr);
    EXPECT_EQ(zvtest::ReadFile(path), "new.key=3\n");
    EXPECT_EQ(PrefOpenPreferenceFileWriteMode(dir.Path().c_str()), nullptr);
    EXPECT_EQ(PrefOpenPreferenceFileWriteMode((dir.Path() + "/no-dir/x").c_str()), nullptr);
    EXPECT_EQ(PrefOpenPreferenceFileWriteMode(nullptr), nullptr);
}

}  // namespace
