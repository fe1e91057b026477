// Combining multiboot images for one adapter: which bytes land where in the
// combined buffer, the patches on the way, and the failures that stop it.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <utility>

#include "fixtures/image_component_builder.h"
#include "fixtures/rom_chain_builder.h"
#include "image/ilt_accessors.h"
#include "image/image_combination.h"
#include "image/image_combination_copies.h"
#include "image/image_validation_converged.h"
#include "image/word_helpers.h"
#include "image/image_combination_k7r_layout.h"
#include "image/image_validation_multiboot.h"
#include "support/discovered_host.h"
#include "image/mbi_identifiers.h"

namespace {

using zvfix::Bytes;
using zvfix::MbiComponent;

constexpr zvfix::MbiAdapter kDorne{};
constexpr zvfix::MbiAdapter kVrel{.deviceId = 0x2281, .ssdid = 0x02AE};

using zvtest::MbiIds;

Bytes Slice(const Bytes& b, size_t at, size_t n) { return Bytes(b.begin() + at, b.begin() + at + n); }
bool AllZero(const Bytes& b, size_t at, size_t n) {
    return std::all_of(b.begin() + at, b.begin() + at + n, [](uint8_t x) { return x == 0; });
}

struct Combined {
    int result;
    Bytes bytes;
};

Combined Dorne(const zvfix::MultibootImageSpec& s, uint16_t chipRev = 0) {
    Bytes img = zvfix::BuildMultibootImage(s);
    Combined c{0, Bytes(img.size(), 0)};
    c.result = CombineDorneImageComponentsInBuffer(c.bytes, img, 0, 1, MbiIds(kDorne, chipRev), chipRev);
    return c;
}

Combined Vrel(const zvfix::MultibootImageSpec& s) {
    Bytes img = zvfix::BuildMultibootImage(s);
    Combined c{0, Bytes(img.size(), 0)};
    c.result = CombineVrelImageComponentsInBuffer(c.bytes, img, 0, 1, MbiIds(kVrel), 0);
    return c;
}

TEST(ImageCombination, DorneTakesExactlyTheAdaptersComponents) {
    auto s = zvfix::DorneImageSpec(kDorne);
    s.components.push_back(MbiComponent::Filled(0x67, 0x100));   // no merge rule: counted, not copied
    s.components.push_back(MbiComponent::Filled(0xD1, 0x100));
    s.components.back().cardTypes = 4;                            // another card type
    const Bytes img = zvfix::BuildMultibootImage(s);
    const Combined c = Dorne(s);
    ASSERT_EQ(c.result, 8);
    EXPECT_EQ(c.result, HowManyImagesForCardTypeGeneric(img, 1, 0));

    for (size_t i = 0; i < s.components.size(); ++i) {
        const size_t at = zvfix::MbiComponentOffset(s, i), n = s.components[i].data.size();
        const uint16_t region = s.components[i].region;
        if (region == 0x67 || s.components[i].cardTypes == 4) {
            EXPECT_TRUE(AllZero(c.bytes, at, n)) << std::hex << region;
        } else if (region != 0x07) {
            EXPECT_EQ(Slice(c.bytes, at, n), Slice(img, at, n)) << std::hex << region;
        }
    }
    // The boot code is patched for the adapter and its BIOS checksum still holds.
    const Bytes boot = Slice(c.bytes, zvfix::MbiComponentOffset(s, 1), s.components[1].data.size());
    EXPECT_NE(boot, s.components[1].data);
    EXPECT_TRUE(zvfix::BiosChecksumOk(boot, 0));
    EXPECT_EQ(boot[32] | boot[33] << 8, kDorne.ssvid);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&boot[68]), 6), "KV2692");

    // The table heads the combined image with a fresh stamp by this program.
    const size_t ts = zvfix::MbiTimeStampOffset(s), length = zvfix::MbiTableLength(s);
    EXPECT_EQ(Slice(c.bytes, 0, 8), Slice(img, 0, 8));
    EXPECT_EQ(Slice(c.bytes, 10, ts - 10), Slice(img, 10, ts - 10));
    EXPECT_EQ(Slice(c.bytes, ts + 32, length - ts - 32), Slice(img, ts + 32, length - ts - 32));
    EXPECT_EQ(c.bytes[ts + 13], 4);                               // originator
    EXPECT_GE(c.bytes[ts + 6] | c.bytes[ts + 7] << 8, 2025);
}

TEST(ImageCombination, DorneFailuresStopBeforeTheStamp) {
    auto s = zvfix::DorneImageSpec(kDorne);
    s.Component(0x07)->data[2] = 0;                                // BIOS size byte 0: cannot be patched
    Combined c = Dorne(s);
    EXPECT_EQ(c.result, COMBINE_BOOTCODE_FAILED);
    EXPECT_TRUE(AllZero(c.bytes, 0, zvfix::MbiTableLength(s)));

    s = zvfix::DorneImageSpec(kDorne);
    s.Component(0x66)->size = 0x100000;                            // past the image's end
    c = Dorne(s);
    EXPECT_EQ(c.result, COMBINE_OUT_OF_BOUNDS);
    EXPECT_TRUE(AllZero(c.bytes, 0, zvfix::MbiTableLength(s)));

    // A combined buffer shorter than the image takes nothing that does not fit it.
    s = zvfix::DorneImageSpec(kDorne);
    Bytes img = zvfix::BuildMultibootImage(s);
    Bytes small(zvfix::MbiComponentOffset(s, 6), 0);
    EXPECT_EQ(CombineDorneImageComponentsInBuffer(small, img, 0, 1, MbiIds(kDorne), 0), COMBINE_OUT_OF_BOUNDS);
}

TEST(ImageCombination, VrelPatchesItsConfigurationTables) {
    const auto s = zvfix::VrelImageSpecWithTables(kVrel);
    const Combined c = Vrel(s);
    ASSERT_EQ(c.result, 13);
    auto at = [&](uint16_t region) {
        for (size_t i = 0; i < s.components.size(); ++i)
            if (s.components[i].region == region) return zvfix::MbiComponentOffset(s, i);
        return size_t{0};
    };
    for (const auto& [region, length] : {std::pair{0x13, 0x200}, {0xBA, 0x400}, {0xCF, 0x300}}) {
        const size_t t = at(static_cast<uint16_t>(region));
        EXPECT_EQ(zvfix::Le16(c.bytes, t + 16), kVrel.ssvid) << std::hex << region;
        EXPECT_EQ(zvfix::Le16(c.bytes, t + 18), kVrel.ssdid) << std::hex << region;
        EXPECT_EQ(zvfix::LeWordSum(c.bytes, t, length), 0u) << std::hex << region;
    }
    EXPECT_EQ(zvfix::Le16(c.bytes, at(0xCF) + 264), kVrel.ssdid);
    EXPECT_EQ(zvfix::Le16(c.bytes, at(0xCF) + 266), kVrel.ssvid);
    const size_t serdes = at(0xBA) + 0x1200;
    EXPECT_EQ(zvfix::Le16(c.bytes, serdes + 18), kVrel.ssdid);
    EXPECT_EQ(zvfix::LeWordSum(c.bytes, serdes, 0x200), 0u);
    // The plain copies are the image's bytes.
    const Bytes img = zvfix::BuildMultibootImage(s);
    EXPECT_EQ(Slice(c.bytes, at(0x102), 0x200), Slice(img, at(0x102), 0x200));
}

TEST(ImageCombination, VrelRefusesTablesThatCannotBePatched) {
    auto s = zvfix::VrelImageSpecWithTables(kVrel);
    s.Component(0xBA)->data[0] = 'X';                              // no "CBF(" signature
    Combined c = Vrel(s);
    EXPECT_EQ(c.result, COMBINE_FC_BRDCFG_FAILED);
    EXPECT_TRUE(AllZero(c.bytes, 0, zvfix::MbiTableLength(s)));

    s = zvfix::VrelImageSpecWithTables(kVrel);
    s.Component(0xCF)->data[13] = 0x10;                            // length 0x10c0 words: past the table
    EXPECT_EQ(Vrel(s).result, COMBINE_PEP_BRDCFG_FAILED);
    s = zvfix::VrelImageSpecWithTables(kVrel);
    s.Component(0xBA)->data.resize(0x1210);                        // SerDes table cut short
    EXPECT_EQ(Vrel(s).result, COMBINE_FC_BRDCFG_FAILED);
    EXPECT_EQ(Vrel(zvfix::VrelImageSpec(kVrel)).result, COMBINE_PEP_BRDCFG_FAILED);   // filler, no tables
}

TEST(ImageCombination, ConvergedMergesFollowChipRevisionAndLocator) {
    zvfix::MultibootImageSpec s;
    s.components = {MbiComponent::Filled(0x70, 0x200), MbiComponent::Filled(0x74, 0x200),
                    MbiComponent::Filled(0x97, 0x200), MbiComponent::Filled(0x99, 0x200)};
    s.components[0].chipRev = 0x30;
    Bytes img = zvfix::BuildMultibootImage(s);
    Bytes out(img.size(), 0);
    const sHbaIdentifiers ids = MbiIds({.deviceId = 0x8031}, 0x54);
    // Torvi: the CRB init of another revision is neither merged nor counted.
    EXPECT_EQ(CombineTorviImageComponentsInBuffer(out, img, 0, 1, ids, 0x54), 3);
    EXPECT_TRUE(AllZero(out, zvfix::MbiComponentOffset(s, 0), 0x200));
    // K7R: both firmware entries are copied, whatever the revision.
    std::fill(out.begin(), out.end(), 0);
    EXPECT_EQ(CombineK7RImageComponentsInBuffer(out, img, 0, 1, ids), 4);
    EXPECT_EQ(Slice(out, zvfix::MbiComponentOffset(s, 1), 0x200), s.components[1].data);
    EXPECT_EQ(Slice(out, zvfix::MbiComponentOffset(s, 2), 0x200), s.components[2].data);

    // K7R NIC boot code: a chain that ends must be followed by a locator.
    Bytes rom = zvfix::MakeRomChain({zvfix::RomImageSpec::Pxe(0x8020)});
    const Bytes locator = zvfix::MakeFltLocator(0x100000);
    zvfix::MultibootImageSpec k;
    k.components = {MbiComponent::Filled(0x2E, 0)};
    k.components[0].data = rom;
    k.components[0].data.insert(k.components[0].data.end(), locator.begin(), locator.end());
    auto combineK7R = [&] {
        Bytes image = zvfix::BuildMultibootImage(k);
        Bytes combined(image.size(), 0);
        return CombineK7RImageComponentsInBuffer(combined, image, 0, 1, ids);
    };
    EXPECT_EQ(combineK7R(), 1);
    k.components[0].data[rom.size()] = 'Y';                        // "YFLT"
    EXPECT_EQ(combineK7R(), COMBINE_CNA_REGION_FAILED);
    zvfix::SetRomLast(k.components[0].data, 0, false);             // no end: nothing to check
    EXPECT_EQ(combineK7R(), 1);
}

TEST(ImageCombination, K7RNicPartitionAndBoardConfigTakenAsTheyAre) {
    // Partition boot code needs only a whole chain; no locator follows it.
    zvfix::RomImageSpec pxe = zvfix::RomImageSpec::Pxe(0x8023);
    pxe.versionMajor = 4;
    pxe.versionMinor = 10;
    zvfix::RomImageSpec efi = zvfix::RomImageSpec::Efi(0x8023);
    efi.versionMajor = 5;
    efi.versionMinor = 2;
    const Bytes partition = zvfix::MakeRomChain({pxe, efi});
    Bytes broken = partition;
    broken[zvfix::RomImageOffsets({pxe, efi})[1]] = 0;
    Bytes unflagged = partition;
    zvfix::SetRomLast(unflagged, zvfix::RomImageOffsets({pxe, efi})[1], false);
    struct Row {
        const char* what;
        Bytes component;
        int result;
    };
    const Row rows[] = {{"whole chain", partition, 0},
                        {"second image without its header", broken, -5},
                        {"no last image", unflagged, -5},
                        {"empty", Bytes{}, -5}};
    for (const Row& r : rows) {
        MultibootVersions v{};
        EXPECT_EQ(ValidateK7RNICPartition(r.component, &v), r.result) << r.what;
        if (r.result != 0) continue;
        EXPECT_EQ(std::tuple(v.NewPxeBootVersionMajor, v.NewPxeBootVersionMinor), std::tuple(4, 10)) << r.what;
        EXPECT_EQ(std::tuple(v.NewNicEfiVersionMajor, v.NewNicEfiVersionMinor), std::tuple(5, 2)) << r.what;
    }

    // The merge copies board configuration and partition boot code unpatched,
    // whatever they hold.
    zvfix::MultibootImageSpec s;
    s.components = {MbiComponent::Filled(0x71, 0x300), MbiComponent::Of(0x7A, partition),
                    MbiComponent::Of(0x7B, broken)};
    Bytes img = zvfix::BuildMultibootImage(s);
    Bytes out(img.size(), 0);
    EXPECT_EQ(CombineK7RImageComponentsInBuffer(out, img, 0, 1, MbiIds({.deviceId = 0x8021}, 0x54)), 3);
    for (size_t i = 0; i < s.components.size(); ++i)
        EXPECT_EQ(Slice(out, zvfix::MbiComponentOffset(s, i), s.components[i].data.size()), s.components[i].data) << i;

    // Each copy takes exactly its entry's bytes; an entry past the image copies nothing.
    const auto board = ILT_Region_GetRegionByIndex(img, 0);
    const auto nic = ILT_Region_GetRegionByIndex(img, 1);
    ASSERT_TRUE(board && nic);
    using Copy = SD_INT32 (*)(CombinedBytes, ImageBytes, const ILT_Region_t*);
    const std::pair<Copy, ILT_Region_t> copies[] = {{UpdateK7RBoardConfigRegion, *board}, {UpdateK7RNICPartition, *nic}};
    for (const auto& [copy, entry] : copies) {
        std::fill(out.begin(), out.end(), 0);
        ASSERT_EQ(copy(out, img, &entry), 1);
        const size_t at = HLPR_GetDoubleWord(entry.offsetLo, entry.offsetHi);
        const size_t n = HLPR_GetDoubleWord(entry.sizeLo, entry.sizeHi);
        EXPECT_EQ(Slice(out, at, n), Slice(img, at, n));
        EXPECT_TRUE(AllZero(out, 0, at));
        EXPECT_TRUE(AllZero(out, at + n, out.size() - at - n));

        ILT_Region_t past = entry;
        const SD_UINT32 beyond = static_cast<SD_UINT32>(img.size() - n + 1);
        past.offsetLo = static_cast<SD_UINT16>(beyond & 0xFFFF);
        past.offsetHi = static_cast<SD_UINT16>(beyond >> 16);
        std::fill(out.begin(), out.end(), 0);
        EXPECT_EQ(copy(out, img, &past), 0);
        EXPECT_TRUE(AllZero(out, 0, out.size()));
        EXPECT_EQ(copy(out, img, nullptr), 0);
    }
}

class K7RFlashLayout : public zvtest::DiscoveredHostTest {};

TEST_F(K7RFlashLayout, FollowsTheBootCodeLocatorToTheTable) {
    zvfix::HostBuilder host;
    auto& a = host.AddK7R();
    a.layout = {{0x14, 0x1000, 0x400},   {0x15, 0x1400, 0x400},   {0x16, 0x1800, 0x400},
                {0x17, 0x1C00, 0x400},   {0x2E, 0x80000, 0x10000}, {0x1D, 0x100000, 0x1000}};
    Bytes boot = zvfix::MakeRomChain({zvfix::RomImageSpec::Pxe(0x8020)});
    const Bytes locator = zvfix::MakeFltLocator(0x100000);
    boot.insert(boot.end(), locator.begin(), locator.end());
    a.SetRegion(0x2E, boot);
    Bytes table(0x1000, 0);
    table[0] = 1;                                                   // version 1, no entries
    a.SetRegion(0x1D, table);
    const auto devices = Discover(host);
    ASSERT_FALSE(devices.empty());
    std::vector<SD_UINT8> layout;
    EXPECT_EQ(CreateK7RFlashLayout(devices[0]->DeviceHandle, 0, &layout), K7R_LAYOUT_OK);
    ASSERT_EQ(layout.size(), K7R_FLASH_LAYOUT_SIZE);
    EXPECT_EQ(Bytes(layout.begin(), layout.begin() + 16), Slice(table, 0, 16));

    // A locator naming the address the K7R refuses.
    boot.resize(boot.size() - 16);
    const Bytes refused = zvfix::MakeFltLocator(0x3F1000);
    boot.insert(boot.end(), refused.begin(), refused.end());
    a.SetRegion(0x2E, boot);
    RemoveAllDevicesFromDeviceList();
    InitDeviceList();
    const auto again = Discover(host);
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(CreateK7RFlashLayout(again[0]->DeviceHandle, 0, &layout), K7R_LAYOUT_BAD_LOCATOR);
    EXPECT_TRUE(layout.empty());
}

}  // namespace
