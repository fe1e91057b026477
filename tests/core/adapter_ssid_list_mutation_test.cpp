// Damaged adapter tables, plain and enciphered: every row's fields stay
// terminated inside their arrays and the list keeps its empty first row.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <vector>

#include "core/adapter_ssid_list.h"
#include "fixtures/adapters_properties_builder.h"
#include "support/e2e_support.h"
#include "support/mutate.h"
#include "support/openssl_blowfish.h"

namespace {

template <size_t N>
bool Terminated(const char (&field)[N]) {
    return strnlen(field, N) < N;
}

void ExpectSaneList(const SubSystemIDListPtr& list, size_t maxRows) {
    if (!list) return;
    EXPECT_STREQ(list->AdapterID, "");
    size_t rows = 0;
    for (const AdapterSubSystemIDList* r = list.get(); r != nullptr; r = r->next.get(), ++rows) {
        ASSERT_TRUE(Terminated(r->AdapterID) && Terminated(r->VendorID) && Terminated(r->ISP) &&
                    Terminated(r->Desc) && Terminated(r->Supported) && Terminated(r->SupportedVI) &&
                    Terminated(r->SupportedEP));
    }
    EXPECT_LE(rows, maxRows + 1);
}

TEST(AdapterTableMutation, DamagedPlainAndEncipheredTablesStayBounded) {
    zvtest::TempDir dir;
    const std::string path = dir.Path() + "/adapters.properties";
    std::vector<zvfix::AdapterTableRow> rows = {zvfix::TableRow(0x0289, 0x1A77),
                                                zvfix::TableRow(0x02B1, 0x1A77, "FALSE")};
    rows[1].supportedVI = "TRUE";
    rows[1].supportedEP = "TRUE";
    const std::string valid = zvfix::AdapterTable(rows);
    const std::string cipher = zvtest::EncipherWithOpenSsl(zvfix::AdapterTable(rows, false), kAdapterPropertiesKey);
    zvtest::Mutator m(2002);
    for (int i = 0; i < 500; ++i) {
        const std::string plain = m.Text(valid);
        const size_t lines = static_cast<size_t>(std::count(plain.begin(), plain.end(), '\n')) + 1;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << plain;
        ExpectSaneList(BuildSubSystemListFromFile(path), lines);
        // The same damage under the cipher, and damage to the cipher text itself.
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            << zvtest::EncipherWithOpenSsl(plain, kAdapterPropertiesKey);
        ExpectSaneList(BuildSubSystemListFromEncryptedFile(path, kAdapterPropertiesKey), plain.size());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << m.Bytes(cipher);
        ExpectSaneList(LoadAdapterSubSystemList(path), cipher.size() + 16);
    }
}

TEST(AdapterTableMutation, RowFromAnUnterminatedLineIsCutToItsFields) {
    // The line's buffer holds no zero byte: the reader must stop at its end.
    std::string text = "0x0289,0x1A77," + std::string(300, '7') + "," + std::string(300, 'd') + ",TRUE,TRUEVI,TRUEEP";
    const std::vector<char> line(text.begin(), text.end());
    AdapterSubSystemIDList row;
    ASSERT_EQ(PopulateSubSystemData(row, line), 1);
    EXPECT_EQ(std::string(row.ISP), std::string(sizeof row.ISP - 1, '7'));
    EXPECT_EQ(std::string(row.Desc), std::string(sizeof row.Desc - 1, 'd'));
    EXPECT_STREQ(row.SupportedEP, "TRUEEP");
    // Every prefix of it, down to nothing, is either a row or refused.
    for (size_t n = 0; n <= line.size(); n += 7) {
        AdapterSubSystemIDList cut;
        const int rc = PopulateSubSystemData(cut, std::span<const char>(line).first(n));
        ASSERT_TRUE(rc == 0 || rc == 1);
        ASSERT_TRUE(Terminated(cut.SupportedEP) && Terminated(cut.Desc));
    }
}

}  // namespace
