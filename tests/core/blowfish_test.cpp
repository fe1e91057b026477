// The cipher against the classic published Blowfish vectors, and the block,
// buffer and hex-text shapes around it.
#include "core/blowfish.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Hex(const std::string& text) { return ConvertEncodedStringToByteArray(text); }

struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// Eric Young's ECB set, the variable-key-length set and Schneier's text-key vectors.
const Vector kVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"F0", "FEDCBA9876543210", "F9AD597C49DB005E"},
    {"F0E1D2C3B4A59687", "FEDCBA9876543210", "E87A244E2CC85E82"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677", "FEDCBA9876543210", "05044B62FA52D080"},
};

TEST(Blowfish, KnownAnswerVectorsBothWays) {
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(std::string(v.key) + " / " + v.plain);
        BLOWFISH_CTX ctx;
        ASSERT_EQ(BlowfishInit(ctx, Hex(v.key)), 0);
        std::vector<uint8_t> out(8);
        ASSERT_EQ(BlowfishEncryptBlock(ctx, out, 0, Hex(v.plain), 0), 0);
        EXPECT_EQ(ConvertByteArrayToEncodedString(out), v.cipher);
        std::vector<uint8_t> back(8);
        ASSERT_EQ(BlowfishDecryptBlock(ctx, back, 0, out, 0), 0);
        EXPECT_EQ(ConvertByteArrayToEncodedString(back), v.plain);
    }
}

TEST(Blowfish, TextKeysAndBigEndianHalves) {
    BLOWFISH_CTX ctx;
    ASSERT_EQ(BlowfishInit(ctx, std::string_view("abcdefghijklmnopqrstuvwxyz")), 0);
    const std::string text = "BLOWFISH";
    std::vector<uint8_t> out(8);
    BlowfishEncryptBuffer(ctx, out, std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_EQ(ConvertByteArrayToEncodedString(out), "324ED0FEF413A203");

    ASSERT_EQ(BlowfishInit(ctx, std::string_view("Who is John Galt?")), 0);
    uint32_t left = 0xFEDCBA98, right = 0x76543210;
    BlowfishEncrypt(ctx, &left, &right);
    EXPECT_EQ(left, 0xCC91732Bu);
    EXPECT_EQ(right, 0x8022F684u);
    BlowfishDecrypt(ctx, &left, &right);
    EXPECT_EQ(left, 0xFEDCBA98u);
    EXPECT_EQ(right, 0x76543210u);
}

TEST(Blowfish, BufferRunsWholeBlocksOnlyAndInPlace) {
    BLOWFISH_CTX ctx;
    ASSERT_EQ(BlowfishInit(ctx, Hex("0000000000000000")), 0);
    // 20 bytes: two whole blocks; the last four bytes are left as they were.
    std::vector<uint8_t> buf(20, 0);
    buf[16] = 0xAA;
    EXPECT_EQ(BlowfishEncryptBuffer(ctx, buf, buf), 16u);
    EXPECT_EQ(ConvertByteArrayToEncodedString(std::span(buf).first(16)), "4EF997456198DD784EF997456198DD78");
    EXPECT_EQ(buf[16], 0xAA);
    EXPECT_EQ(BlowfishDecryptBuffer(ctx, buf, buf), 16u);
    EXPECT_EQ(buf, [] { std::vector<uint8_t> v(20, 0); v[16] = 0xAA; return v; }());

    // A large buffer (beyond 32767 blocks) is processed whole.
    std::vector<uint8_t> large(8 * 40000 + 8, 0x5C);
    EXPECT_EQ(BlowfishEncryptBuffer(ctx, large, large), large.size());
    EXPECT_EQ(BlowfishDecryptBuffer(ctx, large, large), large.size());
    EXPECT_EQ(large, std::vector<uint8_t>(8 * 40000 + 8, 0x5C));
}

TEST(Blowfish, RefusesBadKeysAndOffsetsWithoutWriting) {
    BLOWFISH_CTX ctx;
    EXPECT_EQ(BlowfishInit(ctx, std::span<const uint8_t>()), -1);
    EXPECT_EQ(BlowfishInit(ctx, std::vector<uint8_t>(73, 1)), -1);
    std::vector<uint8_t> in(16, 0), out(16, 0x77);
    EXPECT_EQ(BlowfishEncryptBuffer(ctx, out, in), 0u);   // no key set
    ASSERT_EQ(BlowfishInit(ctx, std::vector<uint8_t>(56, 0x42)), 0);
    EXPECT_EQ(BlowfishEncryptBlock(ctx, out, 9, in, 0), -1);
    EXPECT_EQ(BlowfishEncryptBlock(ctx, out, 0, in, 9), -1);
    EXPECT_EQ(BlowfishEncryptBlock(ctx, out, SIZE_MAX, in, 0), -1);
    EXPECT_EQ(out, std::vector<uint8_t>(16, 0x77));
}

TEST(BlowfishHexText, RoundTripWithPadding) {
    EXPECT_EQ(ConvertEncodedStringToByteArray("00ab0F1"), (std::vector<uint8_t>{0x00, 0xAB, 0x0F}));
    std::string hex;
    ASSERT_EQ(CoreEncryptHexBuffer(hex, "secret text"), 0);
    EXPECT_EQ(hex.size(), 32u);   // 11 bytes padded to 16
    std::vector<uint8_t> plain(16, 0xEE);
    ASSERT_EQ(CoreDecryptHexBuffer(plain, hex), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(plain.data())), "secret text");
}

}  // namespace
