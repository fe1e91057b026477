// VPD walks: checksum, keyword reads with their trimming, in-place updates, and
// malformed images that must neither crash nor be half-rewritten.
#include "frontend/vpd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Keywords = std::vector<std::pair<std::string, std::string>>;

void Put(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

void PutKeyword(Bytes& b, const std::string& k, const std::string& v) {
    Put(b, k);
    b.push_back(static_cast<uint8_t>(v.size()));
    Put(b, v);
}

// 0x82 identifier, 0x90 with the read-only keywords and "RV", 0x91 with the
// read-write keywords, 0x78, the rest 0xFF.
Bytes MakeVpd(const Keywords& ro, const Keywords& rw = {{"RW", std::string(4, '\0')}}, size_t size = 512) {
    Bytes b{0x82};
    const std::string id = "Korvex Gen6 FC Adapter";
    b.push_back(static_cast<uint8_t>(id.size()));
    b.push_back(0);
    Put(b, id);
    const size_t roTag = b.size();
    b.insert(b.end(), {0x90, 0, 0});
    for (const auto& [k, v] : ro) PutKeyword(b, k, v);
    const size_t rv = b.size();
    PutKeyword(b, "RV", std::string(3, '\0'));
    const size_t roLen = b.size() - roTag - 3;
    b[roTag + 1] = static_cast<uint8_t>(roLen);
    b[roTag + 2] = static_cast<uint8_t>(roLen >> 8);
    uint8_t sum = 0;
    for (size_t i = 0; i < rv + 3; ++i) sum = static_cast<uint8_t>(sum + b[i]);
    b[rv + 3] = static_cast<uint8_t>(0x100 - sum);
    const size_t rwTag = b.size();
    b.insert(b.end(), {0x91, 0, 0});
    for (const auto& [k, v] : rw) PutKeyword(b, k, v);
    b[rwTag + 1] = static_cast<uint8_t>(b.size() - rwTag - 3);
    b.push_back(0x78);
    b.resize(size, 0xFF);
    return b;
}

const Keywords kStandard = {{"PN", "KV2692-01 "}, {"SN", "  SER123  "}, {"EC", "A01"},
                            {"MN", "  1A77  "},   {"V9", "01.02.03  "}, {"V0", "Gen6"}};

std::string Read(const Bytes& vpd, const char* keyword, size_t resultSize = 64, int* status = nullptr) {
    std::vector<char> result(resultSize, 'X');
    result.back() = '\0';
    const int rc = VpdGetKeywordValue(vpd, keyword, result);
    if (status != nullptr) *status = rc;
    return rc == VPD_SUCCESS ? std::string(result.data()) : std::string("<") + std::to_string(rc) + ">";
}

size_t Find(const Bytes& vpd, const std::string& keyword) {
    for (size_t i = 0; i + 1 < vpd.size(); ++i) {
        if (vpd[i] == static_cast<uint8_t>(keyword[0]) && vpd[i + 1] == static_cast<uint8_t>(keyword[1])) return i;
    }
    return vpd.size();
}

TEST(Vpd, ChecksumHoldsAndCatchesAnyChangedByte) {
    const Bytes vpd = MakeVpd(kStandard);
    EXPECT_EQ(verifyVpdChecksum(vpd), VPD_SUCCESS);
    const size_t rv = Find(vpd, "RV");
    for (size_t i : {size_t{0}, size_t{5}, Find(vpd, "SN") + 4, rv + 3}) {
        Bytes bad = vpd;
        bad[i] ^= 0x01;
        EXPECT_EQ(verifyVpdChecksum(bad), VPD_BAD_CHECKSUM) << "byte " << i;
    }
    // An end tag before any "RV".
    Bytes early{0x82, 0x01, 0x00, 'K', 0x90, 0x00, 0x00, 'P', 'N', 0x01, 'x', 0x78, 'R', 'V', 0x01, 0x00};
    EXPECT_EQ(verifyVpdChecksum(early), VPD_BAD_CHECKSUM);
}

TEST(Vpd, KeywordValuesAndTrimming) {
    const Bytes vpd = MakeVpd(kStandard);
    EXPECT_EQ(Read(vpd, "SN"), "  SER123  ");   // serial numbers keep their blanks
    EXPECT_EQ(Read(vpd, "PN"), "KV2692-01 ");
    EXPECT_EQ(Read(vpd, "MN"), "1A77");
    EXPECT_EQ(Read(vpd, "V9"), "01.02.03");
    EXPECT_EQ(Read(vpd, "RV").size(), 2u);       // the checksum byte as two hex digits
    EXPECT_EQ(Read(vpd, "YA"), "<164>");
    // A value is cut to the caller's buffer and stays terminated.
    EXPECT_EQ(Read(vpd, "PN", 4), "KV2");
    EXPECT_EQ(Read(vpd, "SN", 1), "");

    std::array<char, 32> sn{};
    EXPECT_EQ(getSerialNoFromVPD(vpd, sn), VPD_SUCCESS);
    EXPECT_STREQ(sn.data(), "  SER123  ");
    EXPECT_EQ(getSerialNoFromVPD(Bytes(512, 0xFF), sn), VPD_CORRUPTED);

    Bytes noStart = vpd;
    noStart[0] = 0x81;
    int status = 0;
    Read(noStart, "SN", 64, &status);
    EXPECT_EQ(status, VPD_NO_START_TAG);
    Bytes noEnd = MakeVpd(kStandard);
    std::replace(noEnd.begin(), noEnd.end(), uint8_t{0x78}, uint8_t{0x77});
    Read(noEnd, "SN", 64, &status);
    EXPECT_EQ(status, VPD_NO_END_TAG);
}

TEST(Vpd, UpdateRewritesEveryOccurrenceAndFixesTheChecksum) {
    Bytes vpd = MakeVpd({{"V9", "01.00.00  "}, {"PN", "KV2692"}, {"V9", "01.00.00  "}});
    ASSERT_EQ(verifyVpdChecksum(vpd), VPD_SUCCESS);
    const Bytes before = vpd;
    EXPECT_EQ(UpdateVpdField(vpd, "V9", "02.05.07  "), VPD_SUCCESS);
    EXPECT_EQ(verifyVpdChecksum(vpd), VPD_SUCCESS);
    const std::string text(vpd.begin(), vpd.end());
    EXPECT_EQ(text.find("01.00.00"), std::string::npos);
    const size_t first = text.find("V9\x0A" "02.05.07  ");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(text.find("V9\x0A" "02.05.07  ", first + 1), std::string::npos);
    // Only the values and the checksum byte changed.
    size_t changed = 0;
    for (size_t i = 0; i < vpd.size(); ++i) changed += vpd[i] != before[i];
    EXPECT_LE(changed, 2 * 4 + 1u);

    // A shorter value is padded with blanks, a longer one cut to the length byte.
    EXPECT_EQ(UpdateVpdField(vpd, "V9", "3.1"), VPD_SUCCESS);
    EXPECT_EQ(Read(vpd, "V9"), "3.1");
    EXPECT_NE(std::string(vpd.begin(), vpd.end()).find("V9\x0A" "3.1       "), std::string::npos);
    EXPECT_EQ(UpdateVpdField(vpd, "PN", "KV2692-LONGER"), VPD_SUCCESS);
    EXPECT_EQ(Read(vpd, "PN"), "KV2692");
    EXPECT_EQ(verifyVpdChecksum(vpd), VPD_SUCCESS);
}

TEST(Vpd, UpdateLeavesTheImageAloneWhenItCannotUpdate) {
    Bytes vpd = MakeVpd(kStandard);
    const Bytes before = vpd;
    EXPECT_EQ(UpdateVpdField(vpd, "YA", "asset"), VPD_NOT_FOUND);
    EXPECT_EQ(vpd, before);

    Bytes blank(512, 0xFF);
    EXPECT_EQ(UpdateVpdField(blank, "V9", "x"), VPD_INVALID);
    EXPECT_EQ(blank, Bytes(512, 0xFF));

    // A keyword after a value that runs past the end: the walk is invalid and
    // nothing is written, not even the keyword found before it.
    Bytes cut = MakeVpd(kStandard);
    const size_t sn = Find(cut, "SN");
    cut[sn + 2] = 0xF0;
    cut.resize(sn + 40);
    cut.back() = 0x78;   // an end tag exists somewhere, as the tag check asks
    const Bytes cutBefore = cut;
    EXPECT_EQ(UpdateVpdField(cut, "PN", "NEWPARTNUM"), VPD_INVALID);
    EXPECT_EQ(cut, cutBefore);
    EXPECT_EQ(Read(cut, "PN"), "KV2692-01 ");          // found before the bad item
    EXPECT_EQ(Read(cut, "V0"), "<164>");
    EXPECT_EQ(verifyVpdChecksum(cut), VPD_BAD_CHECKSUM);

    // Without an "RV" the update reports a bad checksum (values are changed).
    Bytes noRv{0x82, 0x01, 0x00, 'K', 0x90, 0x05, 0x00, 'P', 'N', 0x02, 'a', 'b', 0x78};
    EXPECT_EQ(UpdateVpdField(noRv, "PN", "cd"), VPD_BAD_CHECKSUM);
    EXPECT_EQ(noRv[10], 'c');
}

TEST(Vpd, MalformedLengthsEndTheWalk) {
    // An identifier string whose length runs past the buffer.
    Bytes longId{0x82, 0xFF, 0x7F, 'K', 'V', 0x78};
    EXPECT_EQ(Read(longId, "SN"), "<164>");
    EXPECT_EQ(verifyVpdChecksum(longId), VPD_BAD_CHECKSUM);
    EXPECT_EQ(UpdateVpdField(longId, "SN", "x"), VPD_INVALID);

    // A keyword header cut by the buffer's end, and a value that overruns it.
    // (The identifier's value is an 0x78 byte, so the end-tag check passes.)
    for (Bytes b : {Bytes{0x82, 0x01, 0x00, 0x78, 0x90, 0x00, 0x00, 'S', 'N'},
                    Bytes{0x82, 0x01, 0x00, 0x78, 0x90, 0x00, 0x00, 'S', 'N', 0x20, 'A', 0x78},
                    Bytes{0x82, 0x01, 0x00, 0x78, 0x90, 0x00, 0x00, 'R', 'V', 0x00, 0x78},
                    Bytes{0x82, 0x01, 0x00, 0x78, 0x90, 0x00, 0x00, 'R', 'V'}}) {
        EXPECT_EQ(Read(b, "SN"), "<164>");
        EXPECT_EQ(verifyVpdChecksum(b), VPD_BAD_CHECKSUM);
        const Bytes copy = b;
        EXPECT_NE(UpdateVpdField(b, "SN", "ZZZZ"), VPD_SUCCESS);
        EXPECT_EQ(b, copy);
    }

    // Zero items: the reader steps over three bytes, the checksum walk reads a length.
    Bytes zeros{0x82, 0x00, 0x00, 0x00, 0x00, 0x00, 'S', 'N', 0x02, 'A', 'B', 0x78};
    EXPECT_EQ(Read(zeros, "SN"), "AB");
}

TEST(Vpd, BlankImages) {
    EXPECT_EQ(IsBlankVpd(Bytes(512, 0xFF)), 1);
    EXPECT_EQ(IsBlankVpd(Bytes(1024, 0x00)), 1);
    Bytes almost(512, 0xFF);
    almost.back() = 0x00;
    EXPECT_EQ(IsBlankVpd(almost), 0);
    EXPECT_EQ(IsBlankVpd({}), 0);
}

}  // namespace
