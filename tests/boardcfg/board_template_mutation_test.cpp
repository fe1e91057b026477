// Damaged configuration-table templates: a template that parses only names
// bytes inside the table; one that does not leaves the caller's table alone.
#include <gtest/gtest.h>

#include <vector>

#include "boardcfg/board_template.h"
#include "fixtures/board_template_builder.h"
#include "support/mutate.h"

namespace {

TEST(BoardTemplateMutation, ParsedPatchesAlwaysFitTheTable) {
    constexpr SD_UINT32 kTableSize = 0x400;
    zvfix::BoardTemplateSpec spec{"JKOZ", "2.1.0"};
    spec.patches = {{0x40, {0xAA, 0xBB}}, {0x3FE, {0x01, 0x02}}, {0x0, {0x4A}}};
    spec.extraLines = {"# trailing comment", "0x0100: C0 DE C0 DE"};
    const std::string valid = spec.Text();
    const zvfix::Bytes fresh = zvfix::MakeConfigTable("JKOZ", {1, 0, 0, 0}, kTableSize / 4, 0x1A77, 0x0289);
    zvtest::Mutator m(3003);
    int parsed = 0;
    for (int i = 0; i < 1500; ++i) {
        const std::string text = m.Text(valid);
        BoardTemplate tpl;
        std::string reason;
        if (!ParseBoardTemplate(text, "JKOZ", kTableSize, &tpl, &reason)) {
            ASSERT_FALSE(reason.empty());
            continue;
        }
        ++parsed;
        zvfix::Bytes table = fresh;
        ASSERT_TRUE(ApplyBoardTemplate(tpl, table)) << text;
        EXPECT_EQ(table.size(), fresh.size());
        EXPECT_EQ(table[7], tpl.version[0]);
        EXPECT_EQ(table[4], tpl.version[3]);
        // Into a shorter buffer either everything fits or nothing is written.
        zvfix::Bytes half(fresh.begin(), fresh.begin() + kTableSize / 2);
        const zvfix::Bytes before = half;
        if (!ApplyBoardTemplate(tpl, half)) { ASSERT_EQ(half, before); }
    }
    EXPECT_GT(parsed, 100);
}

TEST(BoardTemplateMutation, LimitsAreRefused) {
    BoardTemplate tpl;
    std::string reason;
    const std::string head = "table = JKOZ\nversion = 1.2.3\n";
    for (const char* bad : {"FFFFFFFF: 01\n", "0x3FF: 01 02\n", "123456789: 01\n", "10: 1\n", "10: 0102\n",
                            "10:\n", "x: 01\n", "version = 1.2.3\n", "table = CBF(\n"}) {
        EXPECT_FALSE(ParseBoardTemplate(head + bad, "JKOZ", 0x400, &tpl, &reason)) << bad;
    }
    const std::string withNul("table = JKOZ\0\nversion = 1.0.0\n", 30);
    EXPECT_FALSE(ParseBoardTemplate(withNul, "JKOZ", 0x400, &tpl, &reason));
    EXPECT_FALSE(ParseBoardTemplate("version = 100.0.0\ntable = JKOZ\n", "JKOZ", 0x400, &tpl, &reason));
    ASSERT_TRUE(ParseBoardTemplate(head + "3FF: 01\n", "JKOZ", 0x400, &tpl, &reason)) << reason;
    std::vector<SD_UINT8> tooShort(7, 0);
    EXPECT_FALSE(ApplyBoardTemplate(tpl, tooShort));
    EXPECT_EQ(tooShort, std::vector<SD_UINT8>(7, 0));
}

}  // namespace
