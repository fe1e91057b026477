// Component checks of multiboot images and the versions they collect, on
// images made by the fixture builders.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "fixtures/firmware_image_builder.h"
#include "fixtures/image_component_builder.h"
#include "fixtures/rom_chain_builder.h"
#include "image/component_versions.h"
#include "image/image_validation_boot_code.h"
#include "image/image_validation_converged.h"
#include "image/image_validation_multiboot.h"
#include "image/image_validation_region_fit.h"
#include "image/image_validation_versions.h"
#include "frontend/output.h"
#include "support/e2e_support.h"
#include "image/mbi_identifiers.h"

namespace {

using zvfix::Bytes;
using zvfix::MbiComponent;

constexpr zvfix::MbiAdapter kDorne{};                    // 0x2261, card type 1
constexpr zvfix::MbiAdapter kVrel{.deviceId = 0x2281};

using zvtest::MbiIds;

int Dorne(const Bytes& img, MultibootVersions* v = nullptr, const zvfix::MbiAdapter& a = kDorne,
          uint16_t chipRev = 0) {
    MultibootVersions local{};
    return ValidateDorneImageComponents(img, 0, static_cast<SD_INT16>(a.cardType), v ? v : &local, MbiIds(a, chipRev));
}

int Vrel(const Bytes& img, FlashComponentVersion* v = nullptr, const zvfix::MbiAdapter& a = kVrel) {
    FlashComponentVersion local{};
    return ValidateVrelImageComponents(img, 0, static_cast<SD_INT16>(a.cardType), v ? v : &local, MbiIds(a));
}

TEST(ImageValidation, DorneImageValidatesWithItsCountAndVersions) {
    const Bytes img = zvfix::MakeDorneImage(kDorne);
    MultibootVersions v{};
    EXPECT_EQ(HowManyImagesForCardTypeGeneric(img, 1, 0), 7);
    EXPECT_EQ(Dorne(img, &v), 7);
    EXPECT_EQ((std::array{v.NewMultibootVersionMajor, v.NewMultibootVersionMinor, v.NewMultibootVersionSubMinor}),
              (std::array<SD_UINT8, 3>{6, 10, 12}));
    // FFV 9.8.7 build 5: the sub-minor goes to the "sub build" field.
    EXPECT_EQ((std::array{v.NewFFVersionMajor, v.NewFFVersionMinor, v.NewFFVrsionSubBuild, v.NewFFVrsionBuild}),
              (std::array<SD_UINT8, 4>{9, 8, 7, 5}));
    EXPECT_EQ(v.ImageBuildYear, 2024);
    EXPECT_EQ((std::array{v.NewRiscFwVersionMajor, v.NewRiscFwVersionMinor, v.NewRiscFwVersionSubMinor}),
              (std::array<SD_UINT8, 3>{9, 10, 2}));
    EXPECT_EQ(v.NewMpiFwVersionSubMinor, 5);   // 0xD3 follows 0xE1 in the table
    EXPECT_EQ(std::tie(v.NewBiosVersionMajor, v.NewBiosVersionMinor, v.NewEfiVersionMajor), std::tuple(3, 65, 3));
    // Nothing is changed in the image.
    EXPECT_EQ(img, zvfix::MakeDorneImage(kDorne));
}

TEST(ImageValidation, EntriesForOtherCardTypesOrRevisionsAreNeitherCheckedNorCounted) {
    auto s = zvfix::DorneImageSpec(kDorne);
    s.Component(0x01)->cardTypes = 4;                       // another card type, and broken
    s.Component(0x01)->data.assign(8, 0);
    s.Component(0x07)->chipRev = 0x30;                      // another chip revision
    s.Component(0x07)->data.assign(8, 0);
    const Bytes img = zvfix::BuildMultibootImage(s);
    EXPECT_EQ(HowManyImagesForCardTypeGeneric(img, 1, 0), 5);
    EXPECT_EQ(Dorne(img), 5);
    // The adapter of that revision gets the boot code checked (and refused).
    EXPECT_EQ(HowManyImagesForCardTypeGeneric(img, 1, 0x30), 6);
    EXPECT_EQ(Dorne(img, nullptr, kDorne, 0x30), IMGVAL_BOOTCODE);
    EXPECT_EQ(HowManyImagesForCardType(img, 1), 6);
    EXPECT_EQ(HowManyImagesForCardTypeGeneric(img, -1, 0), 0);
    EXPECT_EQ(Dorne(img, nullptr, {.cardType = 0xFFFF}), 0);   // a negative card type checks nothing
}

TEST(ImageValidation, RiscFirmwareMustMatchItsEntryAndTheFamily) {
    auto s = zvfix::DorneImageSpec(kDorne);
    s.Component(0x01)->version = {9, 11, 2};                // entry says minor 11, header 10
    MultibootVersions v{};
    EXPECT_EQ(Dorne(zvfix::BuildMultibootImage(s), &v), IMGVAL_RISC_FW);
    EXPECT_EQ(v.NewRiscFwVersionMinor, 10);                 // recorded before the test

    // Vrel: supported 64 passes on the third try, 8 on none.
    auto vs = zvfix::VrelImageSpec(kVrel);
    zvfix::FirmwareSpec fw{.revision = {9, 12, 1}, .supported = 64};
    vs.Component(0x01)->data = zvfix::MakeFirmwareImage(fw);
    EXPECT_EQ(Vrel(zvfix::BuildMultibootImage(vs)), 13);
    fw.supported = 8;
    vs.Component(0x01)->data = zvfix::MakeFirmwareImage(fw);
    EXPECT_EQ(Vrel(zvfix::BuildMultibootImage(vs)), IMGVAL_RISC_FW);
}

TEST(ImageValidation, BootCodeDeviceListsDifferByFamily) {
    const zvfix::MbiAdapter old{.deviceId = 0x2532};
    EXPECT_EQ(Dorne(zvfix::MakeDorneImage(old), nullptr, old), IMGVAL_BOOTCODE);
    EXPECT_EQ(Vrel(zvfix::MakeVrelImage(old), nullptr, old), 13);

    // A chain whose last image never comes is refused, not walked for ever.
    auto s = zvfix::DorneImageSpec(kDorne);
    Bytes& rom = s.Component(0x07)->data;
    const auto at = zvfix::RomImageOffsets({zvfix::RomImageSpec::Bios(), zvfix::RomImageSpec::FCode(),
                                           zvfix::RomImageSpec::Efi(), zvfix::RomImageSpec::Pxe()});
    MultibootVersions v{};
    EXPECT_EQ(GetDorneImageVersions(rom, 0x2532, &v), 4);
    // The first header is read before the device id is judged, in both walks.
    FlashComponentVersion fv{};
    EXPECT_EQ(GetImageBootCodesVersion(rom, 0x2532, &fv), 0);
    EXPECT_EQ(GetImageBootCodesVersion(rom, 0x1234, &fv), 4);
    EXPECT_EQ(GetImageBootCodesVersion(Bytes(64, 0), 0x1234, &fv), 3);
    EXPECT_EQ(GetDorneImageVersions(Bytes(64, 0), 0x2532, &v), 3);
    zvfix::SetRomLast(rom, at.back(), false);
    EXPECT_EQ(GetDorneImageVersions(rom, 0x2261, &v), 3);
    EXPECT_EQ(Dorne(zvfix::BuildMultibootImage(s)), IMGVAL_BOOTCODE);
    zvfix::SetRomLast(rom, at.back(), true);
    zvfix::SetRomCodeType(rom, at[1], 7);                   // unknown code type
    EXPECT_EQ(GetDorneImageVersions(rom, 0x2261, &v), 2);
    EXPECT_EQ(Dorne(zvfix::BuildMultibootImage(s)), IMGVAL_BOOTCODE);
}

TEST(ImageValidation, VrelImageRecordsComponentVersions) {
    FlashComponentVersion v{};
    v.SktMajorVersion = 0xAA;
    EXPECT_EQ(HowManyImagesForCardTypeGeneric(zvfix::MakeVrelImage(kVrel), 1, 0), 13);
    EXPECT_EQ(Vrel(zvfix::MakeVrelImage(kVrel), &v), 13);
    EXPECT_EQ((std::array{v.ImageMajorVersion, v.ImageMinorVersion, v.ImageSubMinorVersion}),
              (std::array<SD_UINT8, 3>{7, 2, 3}));
    EXPECT_EQ((std::array{v.FCFwMajorVersion, v.FCFwMinorVersion, v.FCFwSubminorVersion}),
              (std::array<SD_UINT8, 3>{9, 12, 1}));
    EXPECT_EQ((std::array{v.PEPFwMajorVersion, v.PEPFwMinorVersion, v.PEPFwSubminorVersion}),
              (std::array<SD_UINT8, 3>{1, 5, 8}));
    EXPECT_EQ((std::array{v.FCBoardCfgMajorVersion, v.FCBoardCfgMinorVersion, v.FCBoardCfgSubminorVersion}),
              (std::array<SD_UINT8, 3>{5, 1, 2}));
    EXPECT_EQ(std::tie(v.MPISoftROMSubminorVersion, v.MPIFwSubminorVersion, v.BiosExpMajorVersion), std::tuple(0, 1, 3));
    EXPECT_EQ(v.SktMajorVersion, 0xAA);                     // a region without "08KS" records nothing
}

TEST(ImageValidation, SignatureBlockIsBoundedAndSummed) {
    auto s = zvfix::VrelImageSpec(kVrel);
    s.Component(0x9E)->data = zvfix::MakeSignatureBlock({4, 3, 2});
    FlashComponentVersion v{};
    EXPECT_EQ(Vrel(zvfix::BuildMultibootImage(s), &v), 13);
    EXPECT_EQ((std::array{v.SktMajorVersion, v.SktMinorVersion, v.SktSubminorVersion}),
              (std::array<SD_UINT8, 3>{4, 3, 2}));

    Bytes block = zvfix::MakeSignatureBlock({4, 3, 2});
    block[100] ^= 1;                                        // the sum breaks
    EXPECT_EQ(ValidateVrelSignatureRegion(block, nullptr), IMGVAL_SKT);
    block = zvfix::MakeSignatureBlock({4, 3, 2});
    block[13] = 0x10;                                       // Length past the component
    EXPECT_EQ(ValidateVrelSignatureRegion(block, nullptr), IMGVAL_SKT);
    // Too short for its second signature: no block, accepted without a version.
    FlashComponentVersion untouched{};
    untouched.SktMajorVersion = 0xAA;
    EXPECT_EQ(ValidateVrelSignatureRegion(Bytes(block.begin(), block.begin() + 391), &untouched), 0);
    EXPECT_EQ(untouched.SktMajorVersion, 0xAA);
}

TEST(ImageValidation, ComponentsPastTheImageAreRefusedTooShortOnesHaveNoVersion) {
    auto s = zvfix::DorneImageSpec(kDorne);
    s.Component(0x66)->size = 0x100000;                     // past the image's end
    EXPECT_EQ(Dorne(zvfix::BuildMultibootImage(s)), IMGVAL_OUT_OF_BOUNDS);

    // Components whose checks always accept, too short for their version
    // bytes: accepted, no version read (from past them or at all).
    s = zvfix::DorneImageSpec(kDorne);
    s.Component(0xD1)->data.resize(79);
    s.Component(0xD3)->data.resize(20);
    MultibootVersions dv{};
    dv.NewMpiFwVersionMajor = 0xAA;
    s.Component(0xE1)->data.resize(20);
    EXPECT_EQ(Dorne(zvfix::BuildMultibootImage(s), &dv), 7);
    EXPECT_EQ(dv.NewMpiFwVersionMajor, 0xAA);
    auto v = zvfix::VrelImageSpec(kVrel);
    for (uint16_t code : {0x13, 0xBA, 0xCF, 0x102}) v.Component(code)->data.resize(7);
    for (uint16_t code : {0xD1, 0xD2}) v.Component(code)->data.resize(79);
    for (uint16_t code : {0xD3, 0x101}) v.Component(code)->data.resize(20);
    FlashComponentVersion fv{};
    std::memset(&fv, 0xAA, sizeof fv);
    EXPECT_EQ(Vrel(zvfix::BuildMultibootImage(v), &fv), 13);
    EXPECT_EQ((std::array{fv.FwAreaMajorVersion, fv.FCBoardCfgMajorVersion, fv.PEPBoardCfgMajorVersion,
                          fv.PCIeSerdesMajorVersion, fv.PEPFwMajorVersion, fv.PEPSoftROMMajorVersion,
                          fv.MPIFwMajorVersion, fv.MPISoftROMMajorVersion}),
              (std::array<SD_UINT8, 8>{0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}));
    EXPECT_EQ(GetPepFwVersion(Bytes(79, 1), &fv) + GetPEPSoftROMVersion(Bytes(79, 1), &fv), 0);
    EXPECT_EQ(std::tie(fv.PEPFwMajorVersion, fv.PEPSoftROMMajorVersion), std::tuple(0xAA, 0xAA));

    // More components than a signed byte can count beside its failures.
    zvfix::MultibootImageSpec many;
    for (int i = 0; i < 130; ++i) many.components.push_back(MbiComponent::Filled(0x67, 4));
    const Bytes img = zvfix::BuildMultibootImage(many);
    EXPECT_EQ(HowManyImagesForCardTypeGeneric(img, 1, 0), -1);
    EXPECT_EQ(Dorne(img), IMGVAL_TOO_MANY_COMPONENTS);
}

TEST(ImageValidation, ComponentsMustFitTheirFlashRegions) {
    const Bytes img = zvfix::MakeDorneImage(kDorne);
    auto s = zvfix::DorneImageSpec(kDorne);
    const uint32_t boot = static_cast<uint32_t>(s.Component(0x07)->data.size());
    const uint32_t table = static_cast<uint32_t>(zvfix::MbiTableLength(s));
    const SD_UINT32 codes[] = {0x9E, 0x07, 0xE1, 0xD3, 0xD1, 0x66, 0x01, 0};
    std::vector<SDM_OPT_ROM_REGION> layout = {{0x9E, 0x1000},  {0x07, boot + table}, {0xE1, 0x10000},
                                              {0xD3, 0x10000}, {0xD1, 0x10000},      {0x66, 0x10000},
                                              {0x01, 0x10000}};
    EXPECT_EQ(ValidateImageRegionsFitLayout(img, codes, layout, 1, 0), 0);
    layout[1].Size -= 1;                                    // boot code fits, the table after it does not
    EXPECT_EQ(ValidateImageRegionsFitLayout(img, codes, layout, 1, 0), IMGVAL_REGION_LIMIT);
    layout[1].Size += 1;
    layout.pop_back();                                      // a code the adapter lacks
    EXPECT_EQ(ValidateImageRegionsFitLayout(img, codes, layout, 1, 0), IMGVAL_REGION_LIMIT);
    EXPECT_EQ(ValidateImageRegionsFitLayout(img, codes, layout, 2, 0), 0);   // nothing for card type 2
}

TEST(ImageValidation, ConvergedTrailersAndFirmware) {
    zvfix::MultibootImageSpec s;
    s.components = {MbiComponent::Of(0x70, zvfix::MakeTrailerComponent(0x40400000, {1, 2, 3}, 0x400)),
                    MbiComponent::Of(0x72, zvfix::MakeTrailerComponent(0x40400002, {4, 5, 6}, 0x400)),
                    MbiComponent::Of(0x97, zvfix::MakeTrailerComponent(0x40400003, {7, 8, 9}, 0x400, true))};
    s.cardTypeLists = {{0, {{0x1077, 0x8031, 0x1077, 0x0240}}, std::nullopt}};
    MultibootVersions v{};
    EXPECT_EQ(ValidateTorviImageComponents(zvfix::BuildMultibootImage(s), 0, 0, &v, 0), 3);
    EXPECT_EQ(std::tie(v.NewCRBinitVersionSubMinor, v.NewBootlaoderVersionMajor, v.NewK7RFirmwareVersionMinor),
              std::tuple(3, 4, 8));

    s.components[0].data = zvfix::MakeTrailerComponent(0x40400001, {1, 2, 3}, 0x400);   // pegtune's signature
    EXPECT_EQ(ValidateTorviImageComponents(zvfix::BuildMultibootImage(s), 0, 0, &v, 0), IMGVAL_CRBINIT);
    s.components[0].data = zvfix::MakeTrailerComponent(0x40400000, {1, 2, 3}, 0x400);
    s.components[2].data[12] = 0x01;
    s.components[2].data[13] = 0x08;                        // length 0x801 past the component
    EXPECT_EQ(ValidateTorviImageComponents(zvfix::BuildMultibootImage(s), 0, 0, &v, 0), IMGVAL_CNA_FW);
    // K7R: fixed component sizes; entries for other chip revisions pass unchecked.
    s.components[0].data = zvfix::MakeTrailerComponent(0x40400000, {1, 2, 3}, 0x4000);
    s.components[1].chipRev = 0x40;                        // boot loader of an older revision
    s.components[2].chipRev = 0x58;                        // the broken firmware, for revision 0x58
    EXPECT_EQ(ValidateK7RImageComponents(zvfix::BuildMultibootImage(s), 0, 0, &v, 0x54), 3);
    EXPECT_EQ(ValidateK7RImageComponents(zvfix::BuildMultibootImage(s), 0, 0, &v, 0x58), IMGVAL_CNA_FW);
    s.components[0].data.resize(0x3FFF);                   // short of its fixed size
    EXPECT_EQ(ValidateK7RImageComponents(zvfix::BuildMultibootImage(s), 0, 0, &v, 0x54), IMGVAL_CRBINIT);
}

// Big-endian header words of the first-generation EDC and MPI components.
Bytes BeWords(std::initializer_list<uint32_t> words, size_t size) {
    Bytes b(size, 0);
    size_t at = 0;
    for (const uint32_t w : words) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(w >> (24 - 8 * i));
        at += 4;
    }
    return b;
}

TEST(ImageValidation, FirstGenerationHeadersAndManufacturingFirmware) {
    ILT_Region_t entry{};
    entry.regionVerMajor = 2;
    entry.regionVerMinor = 3;
    entry.regionVerUpdate = 4;
    MultibootVersions v{};
    const Bytes edc = BeWords({0x5555BBBB, 0, 0, 0, 0x00020304, 0, 0, 0, 0x20000008}, 64);
    EXPECT_EQ(ValidateEDCFirmware(edc, entry, &v), 1);
    EXPECT_EQ(v.NewEdcFwVersionSubMinor, 4);
    entry.regionVerMinor = 9;
    EXPECT_EQ(ValidateEDCFirmware(edc, entry, &v), 0);
    EXPECT_EQ(ValidateEDCFirmware(Bytes(edc.begin(), edc.begin() + 35), entry, &v), 0);

    // MPI configuration: 64 KiB, its cookie, big-endian words adding up to 0.
    Bytes cfg = BeWords({0x5555AAAA, 0xAAAA5556 - 0x00010203, 0, 0, 0, 0, 0, 0x00010203}, 0x10000);
    EXPECT_EQ(ValidateMpiConfig(cfg, &v), 1);
    EXPECT_EQ(v.NewMpiCfgVersionMinor, 2);
    cfg[100] = 1;
    EXPECT_EQ(ValidateMpiConfig(cfg, &v), 0);

    const Bytes risc = zvfix::MakeFirmwareImage({.supported = 0x40});
    EXPECT_EQ(ValidateRiscFirmwareGeneric(risc, &v, 0x40), IMGVAL_RISC_VALID);
    EXPECT_EQ(ValidateRiscFirmwareGeneric(risc, &v, 0x20), IMGVAL_RISC_INVALID);
    EXPECT_EQ(ValidateRiscFirmwareGeneric(Bytes(risc.begin(), risc.begin() + 100), &v, 0x40), IMGVAL_RISC_INVALID);
}

TEST(ImageValidation, ComponentVersionListingOnTheOutputFile) {
    if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /var/log";
    zvtest::ClearLogs();
    ResetOutputChannels();
    ASSERT_EQ(SetOutOutFile(), 0);
    const Bytes img = zvfix::MakeVrelImage(kVrel);
    FlashComponentVersion v{};
    const auto boot = ILT_Region_GetRegionByIndex(img, 1);   // 0x07
    ASSERT_TRUE(boot);
    EXPECT_EQ(GetFlashImageComponentVersion(&*boot, img, &v, MbiIds(kVrel)), 0);
    ILT_Region_t past = *boot;
    past.offsetHi = 0x10;
    EXPECT_EQ(GetFlashImageComponentVersion(&past, img, &v, MbiIds(kVrel)), IMGVAL_OUT_OF_BOUNDS);
    EXPECT_EQ(zvtest::ReadFile(GetOutPutFile()),
              "\nRegion Type=0x7\nRegion VerLen=0x3\nSwapModeCardType=0x0001\nBIOS version: 3.65.0\n"
              "FCode version: 3.65.0\n\nRegion Type=0x7\nRegion VerLen=0x3\nSwapModeCardType=0x0001\n");
    ResetOutputChannels();
    zvtest::ClearLogs();
}

}  // namespace
