// Damaged flash.cfg files: every record stays terminated inside its fields,
// no line gives more than one record, and out-of-range versions are dropped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "cli/flash_cfg.h"
#include "fixtures/flash_cfg_builder.h"
#include "support/e2e_support.h"
#include "support/mutate.h"

namespace {

int ReadCfg(const std::string& path, const std::string& text) {
    DeleteFlashCtrVersionList();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    return BuildFlashCtrListFromFile(path.c_str());
}

TEST(FlashCfgMutation, DamagedFilesGiveBoundedRecords) {
    zvtest::TempDir dir;
    const std::string path = dir.Path() + "/flash.cfg";
    const std::string valid = zvfix::FlashCfg({zvfix::FlashCfgRowFor(0x0289, 0x1A77, "KV2692", "6.05.01", "mbi.bin"),
                                               zvfix::FlashCfgRowFor(0x02B1, 0x1A77, "KV2772", "7.01.00", "mb7.bin")});
    zvtest::Mutator m(1001);
    for (int i = 0; i < 600; ++i) {
        const std::string text = m.Text(valid);
        ASSERT_EQ(ReadCfg(path, text), 0);
        size_t records = 0;
        for (const FlashCtrVersion* r = g_VersionCtrEntryList; r != nullptr; r = r->next, ++records) {
            ASSERT_LT(strnlen(r->SubSysDeviceID, sizeof r->SubSysDeviceID), sizeof r->SubSysDeviceID);
            ASSERT_LT(strnlen(r->SubSysVendorID, sizeof r->SubSysVendorID), sizeof r->SubSysVendorID);
            ASSERT_LT(strnlen(r->Model, sizeof r->Model), sizeof r->Model);
            ASSERT_LE(strnlen(r->FileName, sizeof r->FileName), FLASHCTR_FILE_MAX);
        }
        ASSERT_LE(records, static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1) << text;
    }
    DeleteFlashCtrVersionList();
}

TEST(FlashCfgMutation, OversizedFieldsAreCutOrDropped) {
    zvtest::TempDir dir;
    zvfix::FlashCfgRow row = zvfix::FlashCfgRowFor(0x0289, 0x1A77, std::string(500, 'M'), "6.256.01",
                                                   std::string(4000, 'f'));
    row.ssdid = "0x0289" + std::string(100, '9');
    row.risc = "99999999999999999999";
    ASSERT_EQ(ReadCfg(dir.Path() + "/flash.cfg", zvfix::FlashCfg({row})), 0);
    ASSERT_NE(g_VersionCtrEntryList, nullptr);
    const FlashCtrVersion& r = *g_VersionCtrEntryList;
    EXPECT_STREQ(r.SubSysDeviceID, "0x0289999");
    EXPECT_EQ(std::string(r.Model), std::string(FLASHCTR_MODEL_SIZE - 1, 'M'));
    EXPECT_EQ(std::string(r.FileName), std::string(FLASHCTR_FILE_MAX, 'f'));
    // A part above 255 must not wrap into a smaller, plausible version.
    EXPECT_EQ(r.Multiboot[0] | r.Multiboot[1] | r.Multiboot[2], 0);
    EXPECT_EQ(r.Risc[0] | r.Risc[1] | r.Risc[2], 0);
    EXPECT_EQ(r.MpiFW[0], 3);   // its neighbours are still read
    DeleteFlashCtrVersionList();
}

}  // namespace
