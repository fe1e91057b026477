// Chip type table, the family predicates the update flows branch on, the
// library-version rule and the preservation of adapter defaults in BIOS images.
#include "core/chip_types.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

SDMDevice Device(SD_UINT16 id, SD_UINT16 subVendor = 0, SD_UINT16 subSystem = 0) {
    SDMDevice d{};
    d.DeviceChipProperty.DeviceID = id, d.DeviceChipProperty.SubVendorID = subVendor;
    d.DeviceChipProperty.SubSystemID = subSystem;
    return d;
}

// Unknown adapters are treated as 8 Gb ones; no device has no type.
TEST(ChipTypes, UnknownIdsAreEightGigabitAndNoDeviceIsNone) {
    const SDMDevice unknown = Device(0x1234);
    EXPECT_EQ(CoreGetISPType(&unknown), 12);
    EXPECT_EQ(CoreGetISPType(nullptr), 0);
    EXPECT_EQ(CoreGetISP64GbType(nullptr), 0);
}

TEST(ChipTypes, OnlineActivationNeedsLibrarySixFourOnLinux) {
    EXPECT_EQ(CoreZOZIRAVersionSupportsOnlineActivation("v6.04 build77", "Linux - Debian x86_64"), 1);
    EXPECT_EQ(CoreZOZIRAVersionSupportsOnlineActivation("v6.4 build1", "Linux"), 1);
    EXPECT_EQ(CoreZOZIRAVersionSupportsOnlineActivation("v6.3 build1", "Linux"), 0);
    EXPECT_EQ(CoreZOZIRAVersionSupportsOnlineActivation("v6.10 build1", "Linux"), 1);
    EXPECT_EQ(CoreZOZIRAVersionSupportsOnlineActivation("v7 build1", "Linux"), 1);   // no minor reads 0
    EXPECT_EQ(CoreZOZIRAVersionSupportsOnlineActivation("v6 build1", "Linux"), 0);
    EXPECT_EQ(CoreZOZIRAVersionSupportsOnlineActivation("v5.99", "Linux"), 0);
    EXPECT_EQ(CoreZOZIRAVersionSupportsOnlineActivation("", "Linux"), 0);
    EXPECT_EQ(CoreZOZIRAVersionSupportsOnlineActivation(nullptr, nullptr), 0);
    // A huge number saturates instead of wrapping round to something small.
    EXPECT_EQ(CoreZOZIRAVersionSupportsOnlineActivation("v99999999999999999999999.0", "Linux"), 1);
    // The hypervisor's own numbering.
    EXPECT_EQ(CoreZOZIRAVersionSupportsOnlineActivation("v1.3 build2", "VMkernel 7.0"), 1);
    EXPECT_EQ(CoreZOZIRAVersionSupportsOnlineActivation("v1.2 build2", "VMkernel 7.0"), 0);
    EXPECT_EQ(CoreZOZIRAVersionSupportsOnlineActivation("v2.0 build2", "VMkernel 7.0"), 1);
}

// ---- Adapter defaults in BIOS images ---------------------------------------------------

constexpr size_t kBlock = 512;
constexpr size_t kPcir = 0x40;

// One expansion-ROM image of `blocks` 512-byte blocks with its PCI data structure.
std::vector<SD_UINT8> RomImage(size_t blocks, SD_UINT8 codeType, bool last, SD_UINT8 fill) {
    std::vector<SD_UINT8> img(blocks * kBlock, fill);
    const auto length = static_cast<SD_UINT8>(blocks);
    img[0] = 0x55, img[1] = 0xAA, img[2] = length, img[0x18] = kPcir & 0xFF, img[0x19] = 0;
    std::memcpy(img.data() + kPcir, "PCIR", 4);
    img[kPcir + 0x10] = length, img[kPcir + 0x11] = 0;
    img[kPcir + 0x14] = codeType, img[kPcir + 0x15] = last ? 0x80 : 0x00;
    return img;
}

void PutSvid(std::vector<SD_UINT8>& img, size_t at, SD_UINT16 id) {
    std::memcpy(img.data() + at + 28, "SVID", 4);
    img[at + 32] = id & 0xFF;
    img[at + 33] = id >> 8;
}

SD_UINT8 ChecksumOf(const std::vector<SD_UINT8>& buf, size_t at, size_t length) {
    SD_UINT8 sum = 0;
    for (size_t i = 0; i < length; ++i)
        if (i != length - 2) sum = static_cast<SD_UINT8>(sum + buf[at + i]);
    return sum;
}

std::vector<SD_UINT8> Concat(std::initializer_list<std::vector<SD_UINT8>> parts) {
    std::vector<SD_UINT8> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

class PreserveDefaults : public ::testing::Test {
protected:
    SDMDevice dev = Device(0x2261);
};

TEST_F(PreserveDefaults, ImageWithoutMarkerKeepsBytesAndChecksumOlderChipsRefused) {
    std::vector<SD_UINT8> ori = RomImage(4, 0, true, 0x11);
    std::vector<SD_UINT8> img = RomImage(4, 0, true, 0x22);
    img.back() = 0x5A;  // whatever checksum it came with
    const auto before = img;
    EXPECT_EQ(CorePreserveISPDefaults(&dev, ori, img), 0);
    EXPECT_EQ(img, before);
    // Older chips are refused.
    const SDMDevice old = Device(0x2432);
    EXPECT_EQ(CorePreserveISPDefaults(&old, ori, img), -1);
    EXPECT_EQ(CorePreserveISPDefaults(nullptr, ori, img), -1);
}

TEST_F(PreserveDefaults, DefaultsBlockAndSubsystemIdAreCarriedOver) {
    std::vector<SD_UINT8> ori = RomImage(8, 0, true, 0x00);
    std::vector<SD_UINT8> img = RomImage(8, 0, true, 0x00);
    PutSvid(ori, 0, 0x1A77);
    PutSvid(img, 0, 0x0000);
    std::memcpy(ori.data() + 0x200, "MEISP ", 6);
    for (size_t i = 0; i < 512; ++i) ori[0x202 + i] = static_cast<SD_UINT8>(i * 7 + 3);
    std::memcpy(ori.data() + 0x202, "ISP ", 4);
    std::memcpy(img.data() + 0x300, "MEISP ", 6);
    // The subsystem id and the block after the marker are taken over; nothing else moves but the checksum.
    auto want = img;
    want[32] = 0x77, want[33] = 0x1A;
    std::copy_n(ori.begin() + 0x202, 512, want.begin() + 0x302);

    ASSERT_EQ(CorePreserveISPDefaults(&dev, ori, img), 0);
    want.back() = img.back();
    EXPECT_EQ(img, want);
    EXPECT_EQ(ChecksumOf(img, 0, img.size()), 0);
}

TEST_F(PreserveDefaults, TheMarkerIsFoundBehindNearMisses) {
    std::vector<SD_UINT8> ori = RomImage(8, 0, true, 0x00);
    std::vector<SD_UINT8> img = RomImage(8, 0, true, 0x00);
    // Near misses first: a wrong letter, a cut-off marker, then "MMEISP " whose
    // marker starts one byte after the first M.
    std::memcpy(ori.data() + 0x100, "MEISX MEIS", 10);
    std::memcpy(ori.data() + 0x1FF, "MMEISP ", 7);
    for (size_t i = 0; i < 512; ++i) ori[0x206 + i] = static_cast<SD_UINT8>(i * 5 + 1);
    std::memcpy(img.data() + 0x300, "MEISP ", 6);
    auto want = img;
    std::copy_n(ori.begin() + 0x202, 512, want.begin() + 0x302);
    ASSERT_EQ(CorePreserveISPDefaults(&dev, ori, img), 0);
    want.back() = img.back();
    EXPECT_EQ(img, want);
}

TEST_F(PreserveDefaults, ChangedSubsystemIdAloneStillFixesTheChecksum) {
    std::vector<SD_UINT8> ori = RomImage(2, 0, true, 0x00);
    std::vector<SD_UINT8> img = RomImage(2, 0, true, 0x00);
    PutSvid(ori, 0, 0x1A77);
    PutSvid(img, 0, 0x1077);
    EXPECT_EQ(CorePreserveISPDefaults(&dev, ori, img), 0);
    EXPECT_EQ(img[32], 0x77);
    EXPECT_EQ(ChecksumOf(img, 0, img.size()), 0);
}

TEST_F(PreserveDefaults, EveryBiosImageOfTheChainIsTreatedOthersPassedOver) {
    std::vector<SD_UINT8> ori = RomImage(2, 0, true, 0x00);
    PutSvid(ori, 0, 0x1A77);
    auto bios1 = RomImage(2, 0, false, 0x01);
    auto efi = RomImage(2, 3, false, 0x02);
    auto bios2 = RomImage(2, 0, true, 0x03);
    PutSvid(bios1, 0, 0x1077);
    PutSvid(efi, 0, 0x1077);
    PutSvid(bios2, 0, 0x1077);
    std::vector<SD_UINT8> img = Concat({bios1, efi, bios2});
    const auto efiBefore = std::vector<SD_UINT8>(img.begin() + 1024, img.begin() + 2048);

    EXPECT_EQ(CorePreserveISPDefaults(&dev, ori, img), 0);
    EXPECT_EQ(img[32], 0x77);
    EXPECT_EQ(img[2048 + 32], 0x77);
    EXPECT_EQ(std::vector<SD_UINT8>(img.begin() + 1024, img.begin() + 2048), efiBefore);
    EXPECT_EQ(ChecksumOf(img, 0, 1024), 0);
    EXPECT_EQ(ChecksumOf(img, 2048, 1024), 0);
}

TEST_F(PreserveDefaults, MalformedChainsEndWithoutReadingOutside) {
    const std::vector<SD_UINT8> ori = RomImage(2, 0, true, 0x00);
    auto preserve = [&](std::vector<SD_UINT8> img) { return CorePreserveISPDefaults(&dev, ori, img); };
    auto with = [](std::vector<SD_UINT8> img, size_t at, SD_UINT8 v) { img[at] = v; return img; };
    // Not last but of length 0 (would loop for ever); a chain that runs past the buffer.
    EXPECT_EQ(preserve(with(RomImage(2, 3, false, 0), kPcir + 0x10, 0)), -1);
    EXPECT_EQ(preserve(RomImage(2, 3, false, 0)), -1);
    // A header length larger than the buffer holds, or 0.
    EXPECT_EQ(preserve(with(RomImage(2, 0, true, 0), 2, 200)), -1);
    EXPECT_EQ(preserve(with(RomImage(2, 0, true, 0), 2, 0)), -1);
    // A PCI data structure pointer (0x1F0) beyond the buffer.
    EXPECT_EQ(preserve(with(with(RomImage(1, 0, true, 0), 0x18, 0xF0), 0x19, 0x01)), -1);
    EXPECT_EQ(preserve(std::vector<SD_UINT8>(16, 0)), -1);
}

TEST_F(PreserveDefaults, DefaultsBlockGoesOnlyIntoTheImageThatHoldsIt) {
    std::vector<SD_UINT8> ori = RomImage(2, 0, true, 0x00);
    std::memcpy(ori.data() + 0x100, "MEISP ", 6);
    std::memset(ori.data() + 0x106, 0xEE, 0x200);
    // The first BIOS image has no marker, the second has one; the block is
    // the second image's, whose checksum must then hold.
    auto bios1 = RomImage(2, 0, false, 0x01);
    auto bios2 = RomImage(2, 0, true, 0x02);
    std::memcpy(bios2.data() + 0x100, "MEISP ", 6);
    std::vector<SD_UINT8> img = Concat({bios1, bios2});
    const auto firstBefore = std::vector<SD_UINT8>(img.begin(), img.begin() + 1024);
    ASSERT_EQ(CorePreserveISPDefaults(&dev, ori, img), 0);
    EXPECT_EQ(std::vector<SD_UINT8>(img.begin(), img.begin() + 1024), firstBefore);
    EXPECT_EQ(img[1024 + 0x102 + 10], 0xEE);
    EXPECT_EQ(ChecksumOf(img, 1024, 1024), 0);

    // A block that would run past its image's end (into bytes behind the
    // chain that no checksum covers) is not copied.
    std::vector<SD_UINT8> tail = Concat({RomImage(2, 0, true, 0x03), std::vector<SD_UINT8>(1024, 0x44)});
    std::memcpy(tail.data() + 1024 - 100, "MEISP ", 6);
    const auto tailBefore = tail;
    ASSERT_EQ(CorePreserveISPDefaults(&dev, ori, tail), 0);
    EXPECT_EQ(tail, tailBefore);
    // Nor is one that would run past the buffer's end.
    std::vector<SD_UINT8> near = RomImage(2, 0, true, 0x00);
    std::memcpy(near.data() + near.size() - 100, "MEISP ", 6);
    const auto nearBefore = near;
    ASSERT_EQ(CorePreserveISPDefaults(&dev, ori, near), 0);
    EXPECT_EQ(near, nearBefore);
}

}  // namespace
