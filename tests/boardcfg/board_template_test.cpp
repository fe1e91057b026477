// Parsing the table templates: well-formed templates, and every malformed one
// refused rather than half-applied.
#include "boardcfg/board_template.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "fixtures/board_template_builder.h"

namespace {

TEST(BoardTemplate, ParsesVersionAndPatchesAndAppliesThem) {
    zvfix::BoardTemplateSpec spec{.table = "JKOZ", .version = "2.1a.3"};
    spec.patches.push_back({0x40, {0xAA, 0xBB, 0x0c}});
    spec.patches.push_back({0x7, {0x99}});   // the version line wins over it
    spec.extraLines = {"", "   # only a comment", "0x00ff: 01   02\t03   # tail comment"};
    BoardTemplate tpl;
    std::string reason;
    ASSERT_TRUE(ParseBoardTemplate(spec.Text(), "JKOZ", 0x102, &tpl, &reason)) << reason;
    EXPECT_EQ(tpl.version, (std::array<SD_UINT8, 4>{2, 0x1a, 3, 0}));
    ASSERT_EQ(tpl.patches.size(), 3u);

    std::vector<SD_UINT8> table(0x102, 0x11);
    ASSERT_TRUE(ApplyBoardTemplate(tpl, table));
    EXPECT_EQ(std::tuple(table[0x40], table[0x42], table[0x101]), std::tuple(0xAA, 0x0C, 0x03));
    EXPECT_EQ((std::vector<SD_UINT8>(table.begin() + 4, table.begin() + 8)), (std::vector<SD_UINT8>{0, 3, 0x1a, 2}));
    EXPECT_EQ(table[0x43], 0x11);

    // The same template does not fit a smaller table: nothing changes.
    std::vector<SD_UINT8> small(0x100, 0x11);
    EXPECT_FALSE(ApplyBoardTemplate(tpl, small));
    EXPECT_EQ(std::count(small.begin(), small.end(), 0x11), 0x100);

    ASSERT_TRUE(ParseBoardTemplate("table=CBF(\nversion=1.2.3.4\n", "CBF(", 0x10, &tpl, &reason)) << reason;
    EXPECT_EQ(tpl.version, (std::array<SD_UINT8, 4>{1, 2, 3, 4}));
    EXPECT_TRUE(tpl.patches.empty());
}

TEST(BoardTemplate, MalformedTemplatesAreRefused) {
    const std::string head = "table = JKOZ\nversion = 1.0.0\n";
    const std::vector<std::string> bad = {
        "",
        "table = JKOZ\n",                       // no version
        "version = 1.0.0\n",                    // no table
        "table = CBF(\nversion = 1.0.0\n",      // another table's template
        "table = JKOZ\nversion = 1.0\n",
        "table = JKOZ\nversion = 1.0.0.0.0\n",
        "table = JKOZ\nversion = 1.100.0\n",
        "table = JKOZ\nversion = 1..0\n",
        "table = JKOZ\nversion = 0x1.0.0\n",
        head + "version = 2.0.0\n",            // repeated key
        head + "colour = red\n",
        head + "0x10: 1G\n",
        head + "0x10: 123\n",
        head + "0x10:\n",
        head + "zz: 00\n",
        head + "0x1: 00 00\n0xFFFFFFFF: 00\n",
        head + "0xfe: 00 00 00\n",              // past the 0x100-byte table
        head + "just words\n",
        head + std::string("0x10: 00\0 01\n", 13),
    };
    for (const auto& text : bad) {
        BoardTemplate tpl;
        std::string reason;
        EXPECT_FALSE(ParseBoardTemplate(text, "JKOZ", 0x100, &tpl, &reason)) << "accepted: " << text;
        EXPECT_FALSE(reason.empty());
    }
}

TEST(BoardTemplate, FileStatuses) {
    const std::string dir = zvfix::MakeTempDir("zvtpl");
    BoardTemplate tpl;
    EXPECT_EQ(LoadBoardTemplateFile((dir + "/none").c_str(), "JKOZ", 0x100, &tpl), 1);
    EXPECT_EQ(LoadBoardTemplateFile(nullptr, "JKOZ", 0x100, &tpl), 1);
    zvfix::WriteTextFile(dir + "/bad", "table = JKOZ\nversion = x\n");
    EXPECT_EQ(LoadBoardTemplateFile((dir + "/bad").c_str(), "JKOZ", 0x100, &tpl), 13);
    zvfix::WriteTextFile(dir + "/huge", std::string(BRDTPL_MAX_FILE_SIZE + 1, '#'));
    EXPECT_EQ(LoadBoardTemplateFile((dir + "/huge").c_str(), "JKOZ", 0x100, &tpl), 13);
    zvfix::WriteTextFile(dir + "/good", "table = JKOZ\r\nversion = 3.2.1\r\n0x10: ff\r\n");
    EXPECT_EQ(LoadBoardTemplateFile((dir + "/good").c_str(), "JKOZ", 0x100, &tpl), 0);
    EXPECT_EQ(tpl.version[0], 3);
}

}  // namespace
