// Text, WWN, checksum and directory helpers of the front end.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "frontend/checksum.h"
#include "frontend/install_dir.h"
#include "frontend/str_util.h"
#include "frontend/wwn_util.h"

namespace {

TEST(CliStrings, StriscmpNeedsEqualLengthAndIgnoresCase) {
    EXPECT_EQ(striscmp("all", "ALL"), 0);
    EXPECT_EQ(striscmp("-TRACE", "-trace"), 0);
    EXPECT_EQ(striscmp("al", "ALL"), -1);
    EXPECT_EQ(striscmp("", ""), -1);
    EXPECT_EQ(striscmp(nullptr, "x"), -1);
}

TEST(CliStrings, CheckNumberTakesDigitsOnlyAndRefusesOverflow) {
    EXPECT_EQ(CheckNumber("128"), 128);
    EXPECT_EQ(CheckNumber(""), 0);
    EXPECT_EQ(CheckNumber("12a"), -1);
    EXPECT_EQ(CheckNumber("-1"), -1);
    EXPECT_EQ(CheckNumber("2147483647"), 2147483647);
    // A value that would wrap to a small instance number must not be taken.
    EXPECT_EQ(CheckNumber("4294967296"), -1);
    EXPECT_EQ(CheckNumber("99999999999999999999999"), -1);
}

TEST(CliStrings, CleaningKeepsTheDocumentedClasses) {
    char out[64];
    ASSERT_EQ(StripEndWhiteSpace(" 1 .2 3\t\n", out, sizeof out), 0);
    EXPECT_STREQ(out, "1.23");
    ASSERT_EQ(CleanStr3("v7.10.2b", out, sizeof out), 0);
    EXPECT_STREQ(out, "7.10.2");
    EXPECT_EQ(CleanStr3("", out, sizeof out), -1);
    // The destination's size bounds the copy.
    char small[4];
    ASSERT_EQ(CleanStr2("abcdefgh", small, sizeof small), 0);
    EXPECT_STREQ(small, "abc");
}

TEST(CliStrings, TrimAndNumbers) {
    char text[] = " \t value \t ", blanks[] = " \t ";
    EXPECT_STREQ(Trim(text), "value");
    EXPECT_STREQ(RTrim(blanks), "");
    EXPECT_EQ(hexToDec("1F"), 31);
    EXPECT_EQ(hexToDec("1 F"), 31);
    EXPECT_EQ(hexToDec("1G"), -1);
    EXPECT_EQ(CheckHexNumber("abC0"), 0);
    EXPECT_EQ(CheckHexNumber("0x1"), -1);
    char version[16] = "0.0 0";
    EXPECT_EQ(getVersion(version, sizeof version), 0);
    EXPECT_STREQ(version, "N/A");
    char v2[16] = "2.10.3";
    EXPECT_EQ(getVersion(v2, sizeof v2), 15);
    EXPECT_EQ(findbit(0x8000, 15, 1), 1);
    EXPECT_EQ(findbit(0x80, 8, 0), -1);
    EXPECT_EQ(mid("abc", 5, 1), "");
    EXPECT_EQ(right("abcdef", 2), "ef");
}

TEST(CliStrings, SearchExtensionSubstringNumberAndSpeedEdges) {
    // The case-blind search answers a position inside the caller's text.
    const char* name = "Flash.CFG";
    EXPECT_EQ(strnistr(name, "cfg", 0), name + 6);
    EXPECT_EQ(strnistr(name, "cfg", 1), nullptr);
    EXPECT_EQ(strnistr(name, "CFG", 1), name + 6);
    EXPECT_EQ(strnistr(nullptr, "a", 0), nullptr);
    EXPECT_EQ(strnistr(name, nullptr, 0), nullptr);
    // Only the first 255 characters are searched without regard to case.
    const std::string longText = std::string(270, 'x') + "Needle";
    EXPECT_EQ(strnistr(longText.c_str(), "needle", 0), nullptr);
    EXPECT_EQ(strnistr(longText.c_str(), "Needle", 1), longText.c_str() + 270);

    EXPECT_EQ(CheckFileExtension("DAT", "dat"), 0);
    EXPECT_EQ(CheckFileExtension("da", "dat"), -1);
    EXPECT_EQ(CheckFileExtension(nullptr, "dat"), -1);
    char ext[8] = "old";
    EXPECT_STREQ(GetFileExtension("/opt/a.b/image.BIN", ext, sizeof ext), "BIN");
    EXPECT_EQ(GetFileExtension("/opt/noext", ext, sizeof ext), nullptr);
    EXPECT_STREQ(ext, "");
    char small[3];
    EXPECT_STREQ(GetFileExtension("pkg.tgz", small, sizeof small), "tg") << "cut to the buffer, terminated";

    char mixed[] = "MiXeD-\xC4";
    EXPECT_STREQ(strtolwr(mixed), "mixed-\xC4") << "only A to Z lowered";
    EXPECT_EQ(strtolwr(nullptr), nullptr);

    EXPECT_EQ(left("abcdef", 2), "ab");
    EXPECT_EQ(left("abc", 10), "abc");
    EXPECT_EQ(left(nullptr, 3), "");

    const std::pair<const char*, int> luns[] = {{"255", 255}, {"", 0},  {"1a", -1},
                                                {"-3", -1},   {"4294967297", -1}};
    for (const auto& [text, lun] : luns) EXPECT_EQ(CheckLunID(text), lun) << text;
    EXPECT_EQ(CheckLunID(nullptr), -1);

    char hex[16];
    EXPECT_STREQ(int2hex(0xABC, hex, sizeof hex), "ABC");
    EXPECT_STREQ(int2hex(0, hex, sizeof hex), "0");
    char four[4];
    EXPECT_STREQ(int2hex(0xFFFFFFFF, four, sizeof four), "FFF");

    // percent x Gbps x 1.0625 / 100
    EXPECT_FLOAT_EQ(PercentageToSpeed(50, 16), 8.5f);
    EXPECT_FLOAT_EQ(PercentageToSpeed(100, 32), 34.0f);
    EXPECT_FLOAT_EQ(PercentageToSpeed(0, 64), 0.0f);
}

TEST(CliWwn, StringToArrayCopiesOnlyATextOfTheGivenLength) {
    std::vector<uint8_t> bytes(8, 0xEE);
    EXPECT_EQ(StringToArray("ABCD", 4, bytes), 0);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{'A', 'B', 'C', 'D', 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(StringToArray("XYZ", 4, bytes), 0) << "another length: nothing copied";
    EXPECT_EQ(bytes[0], 'A');
    EXPECT_EQ(StringToArray(nullptr, 4, bytes), -1);
    // Never past the caller's bytes.
    EXPECT_EQ(StringToArray("0123456789", 10, bytes), -1);
    EXPECT_EQ(bytes[4], 0xEE);
}

TEST(CliWwn, PortIdAsSixLowerCaseDigits) {
    const uint8_t id[3] = {0x0A, 0xBC, 0x01};
    char text[8];
    EXPECT_EQ(GetStringPortID(id, text, sizeof text), 6);
    EXPECT_STREQ(text, "0abc01");
    char small[4];
    EXPECT_EQ(GetStringPortID(id, small, sizeof small), 3) << "cut to the buffer, terminated";
    EXPECT_STREQ(small, "0ab");
    EXPECT_EQ(GetStringPortID(nullptr, text, sizeof text), -1);
}

TEST(CliWwn, AcceptsSixteenDigitsOrDashedPairsOnly) {
    uint8_t wwn[8] = {};
    ASSERT_EQ(WWNatoi("21000024ff7a1b2c", wwn), 0);
    const uint8_t expect[8] = {0x21, 0x00, 0x00, 0x24, 0xFF, 0x7A, 0x1B, 0x2C};
    EXPECT_EQ(std::memcmp(wwn, expect, 8), 0);
    uint8_t dashed[8] = {};
    ASSERT_EQ(WWNatoi("21-00-00-24-FF-7A-1B-2C", dashed), 0);
    EXPECT_EQ(std::memcmp(dashed, expect, 8), 0);

    uint8_t untouched[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(WWNatoi("21:00:00:24:FF:7A:1B:2C", untouched), -1);
    EXPECT_EQ(WWNatoi("21-00-00-24-FF-7A-1B-2G", untouched), -1);
    EXPECT_EQ(WWNatoi("21000024ff7a1b2", untouched), -1);
    EXPECT_EQ(WWNatoi("21000024ff7a1b2x", untouched), -1);
    EXPECT_EQ(untouched[0], 1) << "a refused name must leave the bytes alone";

    char text[17];
    EXPECT_EQ(GetStringWWN(expect, text, sizeof text), 16);
    EXPECT_STREQ(text, "21000024ff7a1b2c");
}

TEST(CliWwn, ValidityAndPatterns) {
    const uint8_t ff[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const uint8_t zero[8] = {};
    const uint8_t chars[8] = {'0', '0', '0', '0', '0', '0', '0', '0'};
    const uint8_t good[8] = {0x20, 0, 0, 0x24, 0xFF, 0x7A, 0x1B, 0x2C};
    EXPECT_EQ(IsWwpnValid(ff), 0);
    EXPECT_EQ(IsWwpnValid(zero), 0);
    EXPECT_EQ(IsWwpnValid(chars), 0);
    EXPECT_EQ(IsWwpnValid(good), 1);

    uint8_t id[3] = {};
    ASSERT_EQ(PortIDatoi("01-0A-ff", id), 0);
    EXPECT_EQ(id[1], 0x0A);
    EXPECT_EQ(id[2], 0xFF);
    EXPECT_EQ(PortIDatoi("01:0A:ff", id), -1);

    uint8_t pattern[2] = {};
    EXPECT_EQ(FillDataPattern("A5-5A", pattern), 2);
    EXPECT_EQ(pattern[1], 0x5A);
    EXPECT_EQ(FillDataPattern("A55AA5", pattern), -1) << "more bytes than the buffer holds";
}

TEST(CliChecksum, ThirtyTwoBitSumStoredAndVerified) {
    uint8_t buf[16] = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0x55, 0x55, 0x55, 0x55};
    EXPECT_EQ(ComputeChecksum32(buf, 12, 1), 0xFFFFFFFAu);
    EXPECT_EQ(buf[12], 0xFA);
    EXPECT_EQ(buf[15], 0xFF);
    EXPECT_EQ(VerifyChecksum32(buf, 12), 0u);
    buf[0] ^= 1;
    EXPECT_NE(VerifyChecksum32(buf, 12), 0u);

    // A field outside the buffer is neither read nor written.
    uint8_t tiny[4] = {9, 9, 9, 9};
    EXPECT_EQ(ComputeChecksum32(tiny, 2, 1), 0u);
    EXPECT_EQ(tiny[2], 9);

    uint8_t half[6] = {1, 0, 2, 0, 0xAA, 0xAA};
    EXPECT_EQ(ComputeChecksum16(half, 4, 1), 0xFFFD);
    EXPECT_EQ(half[4], 0xFD);
}

TEST(CliDirs, GetPathCutsAtLastSlash) {
    char out[16];
    EXPECT_EQ(loc_getPath(out, sizeof out, "/opt/tool/tarvikolen"), 0);
    EXPECT_STREQ(out, "/opt/tool");
    EXPECT_EQ(loc_getPath(out, sizeof out, "/tarvikolen"), 0);
    EXPECT_STREQ(out, "/");
    EXPECT_EQ(loc_getPath(out, sizeof out, ""), 1);
    EXPECT_STREQ(out, ".");
    // A source longer than the destination still leaves it terminated.
    EXPECT_EQ(loc_getPath(out, 8, "abcdefghijklmnop"), 0);
    EXPECT_EQ(std::strlen(out), 7u);
}

TEST(CliDirs, DirectoryOf259CharactersHeldWholeLongerRefused) {
    const std::string dir259 = "/" + std::string(258, 'd');
    const std::string dir260 = dir259 + "e";
    using Set = int (*)(const char*, size_t);
    using Get = const char* (*)();
    const std::pair<Set, Get> dirs[] = {{VORNSetCurrentDir, VORNGetCurrentDir},
                                        {VORNSetInstallationDir, VORNGetInstallationDir}};
    for (const auto& [set, get] : dirs) {
        EXPECT_EQ(set(dir259.c_str(), VORN_DIR_SIZE), 0);
        EXPECT_EQ(std::string(get()), dir259);
        EXPECT_EQ(set(dir260.c_str(), VORN_DIR_SIZE), -1);
        EXPECT_STREQ(get(), "") << "never a shortened directory";
        EXPECT_EQ(set(nullptr, 10), -1);
    }
}

}  // namespace
