// flash.cfg reading, matching, the adapter's own record and the update policy.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "cli/flash_cfg.h"
#include "core/sdm_device.h"
#include "support/e2e_support.h"

namespace {

// The first parts of a version field.
std::vector<int> parts(const SD_UINT8* v, size_t n = 3) { return std::vector<int>(v, v + n); }
void expect_version(const SD_UINT8* v, int a, int b, int c) { EXPECT_EQ(parts(v), (std::vector<int>{a, b, c})); }

class FlashCfgFile : public ::testing::Test {
protected:
    void SetUp() override { DeleteFlashCtrVersionList(); }
    void TearDown() override { DeleteFlashCtrVersionList(); }
    std::string path() const { return tmp_.Path() + "/flash.cfg"; }
    int read(const std::string& text) {
        std::ofstream(path(), std::ios::binary) << text;
        return BuildFlashCtrListFromFile(path().c_str());
    }
    static int count() {
        int n = 0;
        for (const FlashCtrVersion* r = g_VersionCtrEntryList; r != nullptr; r = r->next) ++n;
        return n;
    }
    static const FlashCtrVersion& at(int index) {
        const FlashCtrVersion* r = g_VersionCtrEntryList;
        for (int i = 0; i < index && r != nullptr; ++i) r = r->next;
        EXPECT_NE(r, nullptr);
        return *r;
    }
    zvtest::TempDir tmp_;
};

TEST_F(FlashCfgFile, ElevenFieldsCommentsAndSeparators) {
    ASSERT_EQ(0, read("; MCTP images\n"
                   "   # indented comment\n"
                   "\n"
                   "  \t \n"
                   "0x02A1,0x1077,VN2692,1.2.3,4.5.6,7.8.9,10.11.12,13.14.15,16.17.18, mbi_a.bin ,6.05.01,extra\n"
                   "0x02a2\t0x1077,,,VN2690\t\t1.0\n"
                   ",,,\n"));
    ASSERT_EQ(count(), 2);
    const FlashCtrVersion& a = at(0);
    EXPECT_EQ((std::vector<std::string>{a.SubSysDeviceID, a.SubSysVendorID, a.Model, a.FileName}),
              (std::vector<std::string>{"0x02A1", "0x1077", "VN2692", "mbi_a.bin"}));
    EXPECT_EQ((std::vector{parts(a.FBCVer), parts(a.PepBCVer), parts(a.FWAVer), parts(a.MpiFW), parts(a.PepFW),
                           parts(a.Risc), parts(a.Multiboot)}),
              (std::vector<std::vector<int>>{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}, {13, 14, 15}, {16, 17, 18},
                                             {6, 5, 1}}));

    // A run of separators is one: the fields after it move forward.
    const FlashCtrVersion& b = at(1);
    EXPECT_STREQ(b.SubSysDeviceID, "0x02a2");
    EXPECT_STREQ(b.Model, "VN2690");
    expect_version(b.FBCVer, 1, 0, 0);
    expect_version(b.Multiboot, 0, 0, 0);
    EXPECT_STREQ(b.FileName, "");
}

TEST_F(FlashCfgFile, ShortLineLeavesVersionsZeroAndTextsAreCut) {
    ASSERT_EQ(0, read("0x0001,0x1077,A,1.1.1,1.1.1,1.1.1,1.1.1,1.1.1,1.1.1,a.bin,1.1.1\n"
                   "0x0002,0x1077,B\n"
                   "0x00030000000,0x1077," + std::string(40, 'M') + "\n"));
    ASSERT_EQ(count(), 3);
    expect_version(at(1).FBCVer, 0, 0, 0);
    expect_version(at(1).Multiboot, 0, 0, 0);
    EXPECT_STREQ(at(2).SubSysDeviceID, "0x0003000");   // 9 characters kept
    EXPECT_EQ(std::string(at(2).Model), std::string(31, 'M'));
}

TEST_F(FlashCfgFile, LongLineIsOneRecord) {
    // The file name field alone is longer than any fixed line buffer.
    const std::string longName(300, 'f');
    ASSERT_EQ(0, read("0x0011,0x1077,LongOne,1.0.0,0,0,0,0,0," + longName + ",2.03.04\n"
                   "0x0012,0x1077,Next,0,0,0,0,0,0,n.bin,3.0.0\n"));
    ASSERT_EQ(count(), 2);
    EXPECT_EQ(std::string(at(0).FileName), std::string(FLASHCTR_FILE_SIZE - 1, 'f'));   // never cut to 135
    EXPECT_TRUE(FlashCtrFileNameTooLong(&at(0)));
    EXPECT_FALSE(FlashCtrFileNameTooLong(&at(1)));
    expect_version(at(0).Multiboot, 2, 3, 4);
    EXPECT_STREQ(at(1).Model, "Next");
}

TEST_F(FlashCfgFile, AVeryLongFileLoadsWholeAndInOrder) {
    // Appending by walking the list took minutes for this many rows; how fast
    // the load is, is measured in bench/ (bench_flash_cfg).
    constexpr int kRows = 200000;
    std::string text;
    text.reserve(kRows * 48);
    for (int i = 0; i < kRows; ++i) text += "0x0001,0x1077,M" + std::to_string(i) + ",0,0,0,0,0,0,f.bin,1.0.0\n";
    ASSERT_EQ(read(text), 0);
    ASSERT_EQ(count(), kRows);
    int outOfPlace = 0;
    int i = 0;
    for (const FlashCtrVersion* r = g_VersionCtrEntryList; r != nullptr; r = r->next, ++i)
        if (r->Model[0] != 'M' || std::string(r->Model + 1) != std::to_string(i)) ++outOfPlace;
    EXPECT_EQ(outOfPlace, 0);
    // Appending after the list was emptied starts a new one.
    DeleteFlashCtrVersionList();
    ASSERT_EQ(read("0x0002,0x1077,Again,0,0,0,0,0,0,g.bin,2.0.0\n"), 0);
    ASSERT_EQ(count(), 1);
    EXPECT_STREQ(at(0).Model, "Again");
}

TEST_F(FlashCfgFile, AFifoInItsPlaceIsRefusedAtOnce) {
    ASSERT_EQ(mkfifo(path().c_str(), 0666), 0);
    EXPECT_EQ(BuildFlashCtrListFromFile(path().c_str()), FLASHCTR_OPEN_FAILED);
    EXPECT_EQ(count(), 0);
}

TEST_F(FlashCfgFile, PartAbove255InvalidatesOnlyThatField) {
    ASSERT_EQ(read("0x0021,0x1077,Wrap,1.256.0,0,0,0,0,0,w.bin,6.05.01\n"), 0);
    ASSERT_EQ(count(), 1);
    expect_version(at(0).FBCVer, 0, 0, 0);   // not 1.0.0 from a wrapped byte
    expect_version(at(0).Multiboot, 6, 5, 1);
    EXPECT_EQ(BuildFlashCtrListFromFile((tmp_.Path() + "/none.cfg").c_str()), FLASHCTR_OPEN_FAILED);
}

TEST(FillVersion, PartsAndMalformedText) {
    SD_UINT8 v[3] = {9, 9, 9};
    EXPECT_EQ(FillVersion("1.2.3.4", v), 0);
    expect_version(v, 1, 2, 3);
    EXPECT_EQ(FillVersion("7", v), 0);
    expect_version(v, 7, 0, 0);
    EXPECT_EQ(FillVersion("6a.x5.01", v), 0);   // conversion stops at the first non-digit
    expect_version(v, 6, 0, 1);
    EXPECT_EQ(FillVersion("1.2.99999999999999", v), -1);   // no overflow into a small number
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(FillVersion("1.2.300", v), -1);
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(FillVersion("-1.2.3", v), -1);
    EXPECT_EQ(FillVersion(nullptr, v), -1);
    SD_UINT8 two[2] = {0, 0};
    EXPECT_EQ(FillVersion("4.5.6", two), 0);   // only as many parts as the field holds
    EXPECT_EQ(parts(two, 2), (std::vector<int>{4, 5}));
}

SDMDevice device_with(SD_UINT16 pciDevice, SD_UINT16 ssdid, SD_UINT16 ssvid) {
    SDMDevice d{};
    d.DeviceChipProperty.DeviceID = pciDevice, d.DeviceChipProperty.SubSystemID = ssdid;
    d.DeviceChipProperty.SubVendorID = ssvid;
    return d;
}

TEST_F(FlashCfgFile, MatchingIgnoresCaseNeedsFourDigitsFirstWins) {
    ASSERT_EQ(0, read("0x2a1,0x1077,Short,0,0,0,0,0,0,short.bin,1.0.0\n"
                   "0X02A1,0X1077,First,0,0,0,0,0,0,first.bin,2.0.0\n"
                   "0x02a1,0x1077,Second,0,0,0,0,0,0,second.bin,3.0.0\n"));
    SDMDevice d = device_with(0x2261, 0x02A1, 0x1077);
    FlashCtrVersion record{};
    ASSERT_EQ(GetVersionFromFlashCtrFile(&d, &record), &record);
    EXPECT_STREQ(record.Model, "First");
    EXPECT_STREQ(record.FileName, "first.bin");
    EXPECT_EQ(record.next, nullptr);

    SDMDevice other = device_with(0x2261, 0x02A2, 0x1077);
    FlashCtrVersion miss{};
    ASSERT_EQ(GetVersionFromFlashCtrFile(&other, &miss), &miss);
    EXPECT_STREQ(miss.SubSysDeviceID, "");
    EXPECT_EQ(GetVersionFromFlashCtrFile(nullptr, &miss), nullptr);
}

TEST(AdapterRecord, VersionsByChipType) {
    DEVICENODEPROPERTY node{};
    std::snprintf(node.Model, sizeof node.Model, "VN2692");
    std::snprintf(node.OptionRomVersion, sizeof node.OptionRomVersion, " 3.64");
    node.BIValid = 0x1;   // firmware valid, EFI not
    node.BIFwVersion[0] = 9, node.BIFwVersion[1] = 10, node.BIFwVersion[2] = 2;
    node.BIEfiVersion[0] = 7, node.BIEfiVersion[1] = 80, node.BIFCodeVersion[0] = 4, node.BIFCodeVersion[1] = 13;
    const SD_UINT8 mbi[3] = {6, 5, 1};

    FlashCtrVersion r{};
    FillFlashCtrVersionFromAdapter(&r, 27, 0x02A1, 0x1077, node, mbi);
    EXPECT_EQ((std::vector<std::string>{r.SubSysDeviceID, r.SubSysVendorID, r.Model}),
              (std::vector<std::string>{"0x02a1", "0x1077", "VN2692"}));
    EXPECT_EQ(parts(r.BIOS, 2), (std::vector<int>{3, 64}));
    EXPECT_EQ(r.EFI[0], 0);    // EFI not valid
    EXPECT_EQ(parts(r.FCode, 2), (std::vector<int>{4, 13}));
    expect_version(r.Risc, 9, 10, 2);
    expect_version(r.Multiboot, 6, 5, 1);

    node.BIValid = 0x2;
    FlashCtrVersion efi{};
    FillFlashCtrVersionFromAdapter(&efi, 11, 1, 2, node, mbi);
    EXPECT_EQ(parts(efi.EFI, 2), (std::vector<int>{7, 80}));
    EXPECT_EQ(efi.Risc[0], 0);
    EXPECT_EQ(efi.Multiboot[0], 0);   // below chip type 12 no multiboot version

    FlashCtrVersion old{};
    FillFlashCtrVersionFromAdapter(&old, 7, 1, 2, node, mbi);
    EXPECT_STREQ(old.SubSysDeviceID, "0x0001");
    EXPECT_EQ(old.BIOS[0], 0);
    EXPECT_EQ(old.FCode[0], 0);
}

FlashCtrVersion mbi(SD_UINT8 a, SD_UINT8 b, SD_UINT8 c) {
    FlashCtrVersion r{};
    r.Multiboot[0] = a, r.Multiboot[1] = b, r.Multiboot[2] = c;
    return r;
}

TEST(FlashUpdatePolicy, ModesAndChipTypes) {
    SDMDevice vrel = device_with(0x2281, 0, 0);   // chip type 27
    SDMDevice older = device_with(0x2532, 0, 0);  // chip type 12
    const FlashCtrVersion same = mbi(6, 5, 1);
    const FlashCtrVersion newer = mbi(6, 6, 0);
    const FlashCtrVersion older_v = mbi(6, 4, 9);

    // Standard: only when the versions differ, or forced.
    EXPECT_EQ(GetFlashUpdatePolicy(&vrel, &same, &same, FLASH_MODE_STANDARD, 0), FLASH_POLICY_NO_UPDATE);
    EXPECT_EQ(GetFlashUpdatePolicy(&vrel, &same, &same, FLASH_MODE_STANDARD, 1), FLASH_POLICY_UPDATE);
    EXPECT_EQ(GetFlashUpdatePolicy(&vrel, &same, &newer, FLASH_MODE_STANDARD, 0), FLASH_POLICY_UPDATE);
    EXPECT_EQ(GetFlashUpdatePolicy(&vrel, &newer, &same, FLASH_MODE_STANDARD, 0), FLASH_POLICY_UPDATE);
    EXPECT_EQ(GetFlashUpdatePolicy(&older, &same, &newer, FLASH_MODE_STANDARD, 1), FLASH_POLICY_NO_UPDATE);
    // Force write: always.
    EXPECT_EQ(GetFlashUpdatePolicy(&older, &same, &same, FLASH_MODE_FORCE_WRITE, 0), FLASH_POLICY_UPDATE);
    EXPECT_EQ(GetFlashUpdatePolicy(nullptr, &same, &same, FLASH_MODE_FORCE_WRITE, 0), FLASH_POLICY_UPDATE);
    // Rewrite: the adapter's version the same or older.
    EXPECT_EQ(GetFlashUpdatePolicy(&vrel, &same, &same, FLASH_MODE_REWRITE, 0), FLASH_POLICY_UPDATE);
    EXPECT_EQ(GetFlashUpdatePolicy(&vrel, &older_v, &same, FLASH_MODE_REWRITE, 0), FLASH_POLICY_UPDATE);
    EXPECT_EQ(GetFlashUpdatePolicy(&vrel, &newer, &same, FLASH_MODE_REWRITE, 0), FLASH_POLICY_NO_UPDATE);
    EXPECT_EQ(GetFlashUpdatePolicy(&older, &older_v, &same, FLASH_MODE_REWRITE, 0), FLASH_POLICY_NO_UPDATE);
    // Downgrade: whenever they differ.
    EXPECT_EQ(GetFlashUpdatePolicy(&vrel, &newer, &same, FLASH_MODE_DOWNGRADE, 0), FLASH_POLICY_DOWNGRADE);
    EXPECT_EQ(GetFlashUpdatePolicy(&vrel, &older_v, &same, FLASH_MODE_DOWNGRADE, 0), FLASH_POLICY_DOWNGRADE);
    EXPECT_EQ(GetFlashUpdatePolicy(&vrel, &same, &same, FLASH_MODE_DOWNGRADE, 1), FLASH_POLICY_NO_UPDATE);
    EXPECT_EQ(GetFlashUpdatePolicy(&older, &newer, &same, FLASH_MODE_DOWNGRADE, 0), FLASH_POLICY_NO_UPDATE);
    // Unknown mode; a port-less call counts as an old chip.
    EXPECT_EQ(GetFlashUpdatePolicy(&vrel, &same, &newer, 7, 1), FLASH_POLICY_NO_UPDATE);
    EXPECT_EQ(GetFlashUpdatePolicy(nullptr, &same, &newer, FLASH_MODE_STANDARD, 1), FLASH_POLICY_NO_UPDATE);
}

}  // namespace
