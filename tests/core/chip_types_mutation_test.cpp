// Damaged boot-code chains for the carrying-over of adapter defaults: image
// lengths, data-structure pointers and markers that point anywhere must end
// the walk, never read or write outside either buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/chip_types.h"
#include "support/mutate.h"

namespace {

using Bytes = std::vector<SD_UINT8>;

// One expansion-ROM image of `blocks` 512-byte blocks: signature, length,
// data-structure pointer, "PCIR" with length, code type and last-image flag.
Bytes RomImage(SD_UINT8 blocks, SD_UINT8 codeType, bool last) {
    Bytes img(blocks * 512u, 0x00);
    img[0] = 0x55;
    img[1] = 0xAA;
    img[2] = blocks;
    img[0x18] = 0x40;
    std::memcpy(img.data() + 0x40, "PCIR", 4);
    img[0x50] = blocks;
    img[0x54] = codeType;
    img[0x55] = last ? 0x80 : 0x00;
    std::memcpy(img.data() + 28, "SVID", 4);
    return img;
}

Bytes Chain(SD_UINT16 svid, bool withDefaults) {
    Bytes bios = RomImage(3, 0, false), efi = RomImage(1, 3, false), bios2 = RomImage(2, 0, true);
    bios[32] = static_cast<SD_UINT8>(svid);
    bios[33] = static_cast<SD_UINT8>(svid >> 8);
    if (withDefaults) {
        std::memcpy(bios.data() + 0x100, "MEISP ISP ", 10);
        for (size_t i = 0x10A; i < 0x300; ++i) bios[i] = static_cast<SD_UINT8>(i);
    }
    Bytes out = bios;
    out.insert(out.end(), efi.begin(), efi.end());
    out.insert(out.end(), bios2.begin(), bios2.end());
    return out;
}

TEST(ChipTypesMutation, DamagedRomChainsEndTheWalkInsideTheBuffers) {
    SDMDevice dev{};
    dev.DeviceChipProperty.DeviceID = 0x2261;
    const Bytes ori = Chain(0x1A77, true), img = Chain(0x1077, true);
    zvtest::Mutator m(8008);
    for (int i = 0; i < 1500; ++i) {
        const bool damageOri = m.Chance(30);
        const Bytes from = damageOri ? m.Bytes(ori) : ori;
        Bytes to = damageOri ? img : m.Bytes(img);
        const size_t size = to.size();
        const int rc = CorePreserveISPDefaults(&dev, from, to);
        ASSERT_TRUE(rc == 0 || rc == -1) << rc;
        ASSERT_EQ(to.size(), size);
    }
    // Undamaged, the adapter's subsystem vendor id reaches the new code.
    Bytes to = img;
    ASSERT_EQ(CorePreserveISPDefaults(&dev, ori, to), 0);
    EXPECT_EQ(to[32] | to[33] << 8, 0x1A77);
}

}  // namespace
