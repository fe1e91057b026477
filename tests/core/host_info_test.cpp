// Board-configuration preservation, PLDM package recognition and the lockdown
// refusals: the bytes that end up in a board configuration written to flash,
// and no read past a short or lying buffer.
#include "core/host_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t LE32(const Bytes& b, size_t off) {
    return b[off] | b[off + 1] << 8 | b[off + 2] << 16 | static_cast<uint32_t>(b[off + 3]) << 24;
}
void PutLE32(Bytes& b, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t WordSum(const Bytes& b, size_t size) {
    uint32_t sum = 0;
    for (size_t i = 0; i < size; i += 4) sum += LE32(b, i);
    return sum;
}

constexpr size_t kBoardSize = 0x1000;

Bytes MakeBoardConfig(uint8_t fill) {
    Bytes b(kBoardSize, fill);
    PutLE32(b, 0, FC_BRDCFG_SIGNATURE);
    PutLE32(b, 4, 0x01020304);
    PutLE32(b, 8, 0);
    PutLE32(b, 12, kBoardSize / 4);
    return b;
}

TEST(BoardConfigPreserve, CarriesTheAdapterSettingsIntoTheTemplate) {
    Bytes adapter = MakeBoardConfig(0x00);
    Bytes file = MakeBoardConfig(0x00);
    adapter[FC_BRDCFG_OFF_SFP_POLL_TIME] = 0x3C;
    adapter[FC_BRDCFG_OFF_SFP_POLL_ENABLE] = 0x01;
    file[FC_BRDCFG_OFF_SFP_POLL_ENABLE] = 0xFE;
    for (size_t port = 0; port < 4; ++port) {
        adapter[FC_BRDCFG_OFF_BBCR[port]] = static_cast<uint8_t>(0x10 + port);
        // Port 1 and 3 have FEC on in the adapter; the template has every other bit set.
        adapter[FC_BRDCFG_OFF_FEC[port]] = port % 2 ? 0x02 : 0xFD;
        file[FC_BRDCFG_OFF_FEC[port]] = port % 2 ? 0xFD : 0xFF;
    }
    const Bytes original = file;

    ASSERT_EQ(CorePreserveFCBrdCfgBuffers(25, 0x1A77, 0x0289, adapter, file), 0);
    EXPECT_EQ(file[FC_BRDCFG_OFF_SFP_POLL_TIME], 0x3C);
    EXPECT_EQ(file[FC_BRDCFG_OFF_SFP_POLL_ENABLE], 0xFF);
    for (size_t port = 0; port < 4; ++port) {
        EXPECT_EQ(file[FC_BRDCFG_OFF_BBCR[port]], 0x10 + port);
        EXPECT_EQ(file[FC_BRDCFG_OFF_FEC[port]], port % 2 ? 0xFF : 0xFD) << "port " << port + 1;
    }
    EXPECT_EQ(file[16] | file[17] << 8, 0x1A77);
    EXPECT_EQ(file[18] | file[19] << 8, 0x0289);
    EXPECT_EQ(WordSum(file, kBoardSize), 0u);
    // Nothing else moved.
    size_t changed = 0;
    for (size_t i = 20; i < kBoardSize; ++i) changed += file[i] != original[i];
    EXPECT_EQ(changed, 2u + 4u + 4u);   // poll time and enable, four credit bytes, four FEC bytes

    // The poll-enable bit also clears: adapter 0x00 over template 0xFF gives 0xFE.
    Bytes off = MakeBoardConfig(0x00);
    Bytes tmpl = MakeBoardConfig(0x00);
    tmpl[FC_BRDCFG_OFF_SFP_POLL_ENABLE] = 0xFF;
    ASSERT_EQ(CorePreserveFCBrdCfgBuffers(27, 0x1A77, 0x02B1, off, tmpl), 0);
    EXPECT_EQ(tmpl[FC_BRDCFG_OFF_SFP_POLL_ENABLE], 0xFE);
}

TEST(BoardConfigPreserve, RefusesWithoutTouchingTheTemplate) {
    const Bytes adapter = MakeBoardConfig(0x5A);
    auto refused = [&](int chip, Bytes file, std::span<const uint8_t> from) {
        const Bytes before = file;
        const int rc = CorePreserveFCBrdCfgBuffers(chip, 0x1A77, 0x0289, from, file);
        EXPECT_EQ(file, before);
        return rc;
    };
    EXPECT_EQ(refused(24, MakeBoardConfig(0), adapter), -1);
    Bytes badSig = MakeBoardConfig(0);
    badSig[0] ^= 1;
    EXPECT_EQ(refused(25, badSig, adapter), -1);
    // A length field beyond the buffer, or too small to cover the header.
    Bytes longLen = MakeBoardConfig(0);
    PutLE32(longLen, 12, kBoardSize / 4 + 1);
    EXPECT_EQ(refused(25, longLen, adapter), -1);
    PutLE32(longLen, 12, 0xFFFFFFFF);
    EXPECT_EQ(refused(25, longLen, adapter), -1);
    PutLE32(longLen, 12, 2);
    EXPECT_EQ(refused(25, longLen, adapter), -1);
    // Buffers too short for the fields carried over.
    Bytes shortFile = MakeBoardConfig(0);
    shortFile.resize(FC_BRDCFG_MIN_SIZE - 1);
    PutLE32(shortFile, 12, static_cast<uint32_t>(shortFile.size() / 4));
    EXPECT_EQ(refused(25, shortFile, adapter), -1);
    EXPECT_EQ(refused(25, MakeBoardConfig(0), std::span(adapter).first(0x400)), -1);

    EXPECT_EQ(CorePreserveFCBrdCfgData(nullptr, adapter, shortFile), -1);
}

// A DSP0267 package header with the given header size and version text.
Bytes MakePldmHeader(uint16_t headerSize, const std::string& version, size_t total) {
    Bytes b = {0xF0, 0x18, 0x87, 0x8C, 0xCB, 0x7D, 0x49, 0x43, 0x98, 0x00, 0xA0, 0x2F, 0x05, 0x9A, 0xCA, 0x02, 0x01,
               static_cast<uint8_t>(headerSize), static_cast<uint8_t>(headerSize >> 8)};
    for (int i = 0; i < 13; ++i) b.push_back(static_cast<uint8_t>(0x20 + i));
    b.insert(b.end(), {0x08, 0x00, 0x01, static_cast<uint8_t>(version.size())});
    b.insert(b.end(), version.begin(), version.end());
    b.resize(total, 0xA5);
    return b;
}

TEST(PldmPackage, RecognisesTheHeaderAndItsSize) {
    const Bytes pkg = MakePldmHeader(0x180, "KV-MB-10.02.03-extra-long", 0x1000);
    EXPECT_EQ(CoreIsPLDMFwImage(pkg), 1);
    EXPECT_EQ(CoreGetPLDMFwImageHeaderSize(pkg), 0x180u);
    // A header exactly as long as the file is still whole.
    const Bytes exact = MakePldmHeader(0x40, "v1", 0x40);
    EXPECT_EQ(CoreGetPLDMFwImageHeaderSize(exact), 0x40u);

    // Any other first 16 bytes: the image starts at its first byte.
    Bytes other = pkg;
    other[15] ^= 0x01;
    EXPECT_EQ(CoreIsPLDMFwImage(other), 0);
    EXPECT_EQ(CoreGetPLDMFwImageHeaderSize(other), 0u);
}

TEST(PldmPackage, ShortOrLyingBuffersAreNoPackage) {
    const Bytes pkg = MakePldmHeader(0x180, "KV", 0x1000);
    for (size_t n : {size_t{0}, size_t{15}, size_t{16}, size_t{18}, size_t{19}, size_t{35}}) {
        // A copy of exactly n bytes, so a read past it is caught.
        const Bytes cut(pkg.begin(), pkg.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(CoreIsPLDMFwImage(cut), 0) << n;
        EXPECT_EQ(CoreGetPLDMFwImageHeaderSize(cut), 0u) << n;
    }
    // The header claims more than the file holds.
    const Bytes lying = MakePldmHeader(0xFFFF, "KV", 0x200);
    EXPECT_EQ(CoreIsPLDMFwImage(lying), 0);
    EXPECT_EQ(CoreGetPLDMFwImageHeaderSize(lying), 0u);
    // A header size below the fixed part is no header.
    for (uint16_t tooSmall : {uint16_t{0}, uint16_t{0x23}}) {
        const Bytes small = MakePldmHeader(tooSmall, "KV", 0x200);
        EXPECT_EQ(CoreIsPLDMFwImage(small), 0) << tooSmall;
        EXPECT_EQ(CoreGetPLDMFwImageHeaderSize(small), 0u) << tooSmall;
    }
    // A version length that runs past the buffer is only shown as far as it goes.
    Bytes tail = MakePldmHeader(0x24, "", 0x24);
    tail[35] = 0xFF;
    EXPECT_EQ(CoreIsPLDMFwImage(tail), 1);
}

TEST(Lockdown, RefusalsBeforeAnyLibraryCall) {
    SYSTEM_LOCKDOWN_INFO info{};
    SDMDevice device{};
    EXPECT_EQ(CoreGetAdapterLockDownState(&device, nullptr), -1);
    EXPECT_EQ(CoreGetAdapterLockDownState(nullptr, &info), -1);
    // A driver that does not announce lockdown support.
    EXPECT_EQ(CoreGetAdapterLockDownState(&device, &info), -56);
    EXPECT_EQ(GetHostInformation(nullptr), -1);
}

}  // namespace
