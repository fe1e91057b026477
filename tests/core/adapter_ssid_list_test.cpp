// The adapter table readers. Enciphered files are made with OpenSSL's
// Blowfish, an implementation independent of the one the program uses.
#include "core/adapter_ssid_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fixtures/adapters_properties_builder.h"
#include "support/e2e_support.h"
#include "support/openssl_blowfish.h"

namespace {

namespace fs = std::filesystem;

using zvtest::EncipherWithOpenSsl;

class AdapterTableTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string p = tmp_.Path() + "/" + name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    zvtest::TempDir tmp_;
    const fs::path dir_ = tmp_.Path();
};

using Texts = std::vector<std::string>;

// AdapterID, VendorID, ISP, Desc, Supported, SupportedVI, SupportedEP.
Texts Fields(const AdapterSubSystemIDList* r) {
    return {r->AdapterID, r->VendorID, r->ISP, r->Desc, r->Supported, r->SupportedVI, r->SupportedEP};
}

std::vector<const AdapterSubSystemIDList*> Rows(const SubSystemIDListPtr& list) {
    std::vector<const AdapterSubSystemIDList*> rows;
    for (const AdapterSubSystemIDList* r = list.get(); r != nullptr; r = r->next.get()) rows.push_back(r);
    return rows;
}

TEST_F(AdapterTableTest, PlainRowsFollowTheSplittingRules) {
    const std::string text =
        "# models, flags\n"                                  // one comma: passed over
        "\n"
        "0x0240,0x1077,2432,Model A,TRUE\n"                  // five fields
        "0x0241,0x1077,2432,Model B\n"                       // three commas: passed over
        "0x0242,0x1077,,Model C,TRUE\n"                      // empty field: only four fields, failed line
        "0x0243,0x1077,2432,Model D,FALSE,TRUE,TRUE,extra\n" // seven fields taken
        "0x02a0,0x1077,2432,Model E,TRUE\n"                  // lower-case id: kept as written
        "0x0244,0x1077,2432," + std::string(200, 'd') + ",TRUE\n";
    SubSystemIDListPtr list = BuildSubSystemListFromFile(Write("adapters.properties", text));
    ASSERT_TRUE(list);
    const auto rows = Rows(list);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(CountSubSystemID(list.get()), 5);
    // The list is headed by one empty row.
    EXPECT_EQ(Fields(rows[0]), Texts(7, ""));
    // The last field keeps the newline.
    EXPECT_EQ(Fields(rows[1]), (Texts{"0x0240", "0x1077", "2432", "Model A", "TRUE\n", "FALSE", "FALSE"}));
    EXPECT_EQ(Fields(rows[2]), (Texts{"0x0243", "0x1077", "2432", "Model D", "FALSE", "TRUE", "TRUE"}));
    EXPECT_EQ(std::string(rows[4]->Desc), std::string(127, 'd'));   // cut to the field

    // Lookups format "0x%04X": a lower-case row never matches.
    const AdapterSubSystemIDList* a = FindSubSystemInSubSystemList(list.get(), 0x240, 0x1077);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, rows[1]);
    EXPECT_EQ(IsSubSystemRowSupported(a), 1);
    EXPECT_EQ(IsSubSystemRowSupported(FindSubSystemInSubSystemList(list.get(), 0x243, 0x1077)), 0);
    EXPECT_EQ(FindSubSystemInSubSystemList(list.get(), 0x2A0, 0x1077), nullptr);
    EXPECT_EQ(FindSubSystemInSubSystemList(list.get(), 0x241, 0x1077), nullptr);
    EXPECT_EQ(FindSubSystemInSubSystemList(list.get(), 0x242, 0x1077), nullptr);
}

TEST_F(AdapterTableTest, PlainFileEdges) {
    SubSystemIDListPtr comments = BuildSubSystemListFromFile(Write("c", "# only\n# comments here\n"));
    ASSERT_TRUE(comments);
    EXPECT_EQ(CountSubSystemID(comments.get()), 1);
    SubSystemIDListPtr empty = BuildSubSystemListFromFile(Write("e", ""));
    ASSERT_TRUE(empty);
    EXPECT_EQ(CountSubSystemID(empty.get()), 1);
    // A last row without a newline still counts.
    SubSystemIDListPtr last = BuildSubSystemListFromFile(Write("l", "0x0289,0x1A77,2261,Gen6,TRUE"));
    ASSERT_TRUE(last);
    EXPECT_EQ(IsSubSystemRowSupported(FindSubSystemInSubSystemList(last.get(), 0x289, 0x1A77)), 1);

    EXPECT_FALSE(BuildSubSystemListFromFile((dir_ / "missing").string()));
    EXPECT_FALSE(BuildSubSystemListFromFile(dir_.string()));   // a directory cannot be read
    EXPECT_FALSE(BuildSubSystemListFromEncryptedFile(dir_.string(), kAdapterPropertiesKey));
    EXPECT_FALSE(BuildSubSystemListFromEncryptedFile(Write("e2", ""), kAdapterPropertiesKey));
}

TEST_F(AdapterTableTest, EncipheredTableIsReadWithTheTableKey) {
    zvfix::AdapterTableRow vi = zvfix::TableRow(0x0290, 0x1A77, "FALSE", "Gen6 single port");
    vi.supportedVI = "TRUE";
    const std::string plain = zvfix::AdapterTable(
        {zvfix::TableRow(0x0289, 0x1A77), vi, zvfix::TableRow(0x02B1, 0x1A77, "TRUE", "Gen7 quad port")},
        /*withHeader=*/false);
    const std::string path = Write("adapters.properties", EncipherWithOpenSsl(plain, kAdapterPropertiesKey));

    SubSystemIDListPtr list = BuildSubSystemListFromEncryptedFile(path, kAdapterPropertiesKey);
    ASSERT_TRUE(list);
    EXPECT_EQ(CountSubSystemID(list.get()), 4);
    EXPECT_EQ(IsSubSystemRowSupported(FindSubSystemInSubSystemList(list.get(), 0x289, 0x1A77)), 1);
    const AdapterSubSystemIDList* row = FindSubSystemInSubSystemList(list.get(), 0x290, 0x1A77);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(IsSubSystemRowSupported(row), 0);
    EXPECT_STREQ(row->Desc, "Gen6 single port");
    EXPECT_STREQ(row->SupportedVI, "TRUE\n");

    // The front end's loader takes the enciphered form first.
    SubSystemIDListPtr loaded = LoadAdapterSubSystemList(path);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(CountSubSystemID(loaded.get()), 4);
}

TEST_F(AdapterTableTest, EncipheredLineFailures) {
    const std::string good = zvfix::AdapterTable({zvfix::TableRow(0x0289, 0x1A77)}, false);
    // A first line of text that is not a row (a header) does not lose the table behind it.
    SubSystemIDListPtr headed = BuildSubSystemListFromEncryptedFile(
        Write("first", EncipherWithOpenSsl("# header\n" + good, kAdapterPropertiesKey)), kAdapterPropertiesKey);
    ASSERT_TRUE(headed);
    EXPECT_NE(FindSubSystemInSubSystemList(headed.get(), 0x289, 0x1A77), nullptr);
    // A bad line after a good row is passed over.
    SubSystemIDListPtr later = BuildSubSystemListFromEncryptedFile(
        Write("later", EncipherWithOpenSsl(good + "broken line\n" + zvfix::AdapterTableLine(zvfix::TableRow(
                                                                          0x0290, 0x1A77)),
                                           kAdapterPropertiesKey)),
        kAdapterPropertiesKey);
    ASSERT_TRUE(later);
    EXPECT_EQ(CountSubSystemID(later.get()), 3);
    EXPECT_NE(FindSubSystemInSubSystemList(later.get(), 0x290, 0x1A77), nullptr);
    // A different key deciphers to noise, which is no table.
    EXPECT_FALSE(BuildSubSystemListFromEncryptedFile(Write("other", EncipherWithOpenSsl(good, "another key")),
                                                     kAdapterPropertiesKey));
}

TEST_F(AdapterTableTest, PlainTableFallsBackFromTheEncipheredReader) {
    const std::string path = Write("adapters.properties",
                                   zvfix::AdapterTable({zvfix::TableRow(0x0289, 0x1A77, "TRUE"),
                                                        zvfix::TableRow(0x028A, 0x1A77, "FALSE")}));
    EXPECT_FALSE(BuildSubSystemListFromEncryptedFile(path, kAdapterPropertiesKey));
    SubSystemIDListPtr list = LoadAdapterSubSystemList(path);
    ASSERT_TRUE(list);
    EXPECT_EQ(CountSubSystemID(list.get()), 3);
    EXPECT_EQ(IsSubSystemRowSupported(FindSubSystemInSubSystemList(list.get(), 0x28A, 0x1A77)), 0);
}

TEST_F(AdapterTableTest, LargeEncipheredFileIsReadWhole) {
    // Well over 262,136 bytes: every row, the last included, must come back.
    std::string plain;
    const int rows = 9000;
    for (int i = 0; i < rows; ++i) {
        zvfix::AdapterTableRow r = zvfix::TableRow(static_cast<uint16_t>(i), 0x1A77, i % 2 ? "TRUE" : "FALSE");
        r.description = "Model number " + std::to_string(i);
        plain += zvfix::AdapterTableLine(r);
    }
    ASSERT_GT(plain.size(), 262136u);
    SubSystemIDListPtr list = BuildSubSystemListFromEncryptedFile(
        Write("big", EncipherWithOpenSsl(plain, kAdapterPropertiesKey)), kAdapterPropertiesKey);
    ASSERT_TRUE(list);
    EXPECT_EQ(CountSubSystemID(list.get()), rows + 1);
    const AdapterSubSystemIDList* lastRow = FindSubSystemInSubSystemList(list.get(), rows - 1, 0x1A77);
    ASSERT_NE(lastRow, nullptr);
    EXPECT_STREQ(lastRow->Desc, ("Model number " + std::to_string(rows - 1)).c_str());
    EXPECT_EQ(IsSubSystemRowSupported(lastRow), 1);
}

TEST(AdapterTableList, AddAndRightTrim) {
    SubSystemIDListPtr list;
    AddSubSystemToSubSystemList(list, "0x0001", "0x1A77", "2261", "One", "TRUE", nullptr, "X");
    AdapterSubSystemIDList* second =
        AddSubSystemToSubSystemList(list, "0x0002", "0x1A77", nullptr, "Two", "FALSE", "TRUE", nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(list->next.get(), second);
    EXPECT_STREQ(list->SupportedVI, "FALSE");
    EXPECT_STREQ(second->SupportedEP, "FALSE");
    EXPECT_EQ(RightTrim("v01.02.03", 5), "02.03");
    EXPECT_EQ(RightTrim("abc", 10), "abc");
}

}  // namespace
