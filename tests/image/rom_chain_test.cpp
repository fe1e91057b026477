// ROM chains: where a chain ends, when it is broken, what patching it for an
// adapter leaves in each image, and the converged adapters' chain checks.
#include "image/rom_chain.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "fixtures/rom_chain_builder.h"
#include "image/boot_code_chain.h"

namespace {

using zvfix::Bytes;
using zvfix::RomImageSpec;

const std::vector<RomImageSpec> kBootCode{RomImageSpec::Bios(0x2261), RomImageSpec::FCode(0x2261),
                                          RomImageSpec::Efi(0x2261), RomImageSpec::Pxe(0x2261)};

const SD_UINT8* End(const Bytes& b) { return GetBootCodeEnd(b); }

TEST(RomChainWalk, EndOfAValidChainAndOfOneImage) {
    Bytes rom = zvfix::MakeRomChain(kBootCode);
    rom.resize(rom.size() + 4096, 0xFF);   // what follows the boot code in a region
    EXPECT_EQ(End(rom), rom.data() + zvfix::RomChainLength(kBootCode));

    const Bytes one = zvfix::MakeRomChain({RomImageSpec::Efi()});
    EXPECT_EQ(End(one), one.data() + 2 * 512);
    EXPECT_TRUE(IsThisLastImage(one));
    EXPECT_TRUE(IsThisEFIImage(one));
    EXPECT_EQ(ImageSectorLength(one), 1024u);
}

TEST(RomChainWalk, BrokenChainsEndTheWalkWithoutLeavingTheBuffer) {
    const auto at = zvfix::RomImageOffsets(kBootCode);
    const Bytes good = zvfix::MakeRomChain(kBootCode);

    Bytes noSig = good;
    noSig[at[1]] = 0;
    EXPECT_EQ(End(noSig), nullptr);

    Bytes zeroLength = good;   // would visit the same image forever
    zvfix::SetRomLength(zeroLength, at[0], 0);
    EXPECT_EQ(End(zeroLength), nullptr);

    Bytes stepPast = good;
    zvfix::SetRomLength(stepPast, at[2], 0xFFFF);
    EXPECT_EQ(End(stepPast), nullptr);

    Bytes lastTooLong = good;
    zvfix::SetRomLength(lastTooLong, at[3], 2);
    EXPECT_EQ(End(lastTooLong), nullptr);

    Bytes truncated = good;
    truncated.resize(at[2] + 20);   // the third header is cut
    EXPECT_EQ(End(truncated), nullptr);

    Bytes dataOutside = good;       // data structure beyond the buffer
    zvfix::SetRomDataOffset(dataOutside, at[3], 0xFFF0);
    EXPECT_EQ(End(dataOutside), nullptr);

    Bytes noPcir = good;
    noPcir[at[1] + zvfix::kRomDataOffset] = 'X';
    EXPECT_EQ(End(noPcir), nullptr);

    Bytes dataPastImage = good;     // a data structure reaching past its own image
    dataPastImage.resize(good.size() + 512, 0);
    std::memmove(dataPastImage.data() + at[3] + 0x1F0, dataPastImage.data() + at[3] + zvfix::kRomDataOffset, 24);
    zvfix::SetRomDataOffset(dataPastImage, at[3], 0x1F0);
    EXPECT_EQ(End(dataPastImage), nullptr);

    // Data images and unknown code types are not PCI images for the walk...
    Bytes dataImage = good;
    zvfix::SetRomDeviceId(dataImage, at[1], 2);
    EXPECT_EQ(End(dataImage), nullptr);
    Bytes codeType4 = good;
    zvfix::SetRomCodeType(codeType4, at[2], 4);
    EXPECT_EQ(End(codeType4), nullptr);
    // ...unless an earlier image was flagged last.
    zvfix::SetRomLast(codeType4, at[1], true);
    EXPECT_EQ(End(codeType4), codeType4.data() + at[2]);

    EXPECT_EQ(GetBootCodeEnd(std::span<const SD_UINT8>()), nullptr);
}

TEST(RomChainWalk, ImageKindPredicatesNeedBothSignaturesAndADriverImage) {
    struct Row {
        const char* what;
        Bytes image;
        bool pci, bios, fcode, pxe;
    };
    const Bytes bios = zvfix::MakeRomImage(RomImageSpec::Bios());
    Bytes noHeader = bios;
    noHeader[1] = 0x00;
    Bytes noPcir = bios;
    noPcir[zvfix::kBiosDataOffset + 3] = 'X';
    Bytes dataImage = zvfix::MakeRomImage(RomImageSpec::Pxe());
    zvfix::SetRomDeviceId(dataImage, 0, 2);
    Bytes codeType4 = zvfix::MakeRomImage(RomImageSpec::FCode());
    zvfix::SetRomCodeType(codeType4, 0, 4);
    Bytes outside = zvfix::MakeRomImage(RomImageSpec::Efi());
    zvfix::SetRomDataOffset(outside, 0, static_cast<uint16_t>(outside.size() - 8));
    const Bytes cut(bios.begin(), bios.begin() + zvfix::kBiosDataOffset + 20);
    const Row rows[] = {
        {"BIOS", bios, true, true, false, false},
        {"FCode", zvfix::MakeRomImage(RomImageSpec::FCode()), true, false, true, false},
        {"PXE", zvfix::MakeRomImage(RomImageSpec::Pxe()), true, false, false, true},
        {"EFI", zvfix::MakeRomImage(RomImageSpec::Efi()), true, false, false, false},
        {"no 0x55 0xAA", noHeader, false, false, false, false},
        {"no PCIR", noPcir, false, false, false, false},
        // A data image keeps its code type but is no driver image.
        {"data image", dataImage, false, false, false, true},
        {"code type 4", codeType4, false, false, false, false},
        {"data structure past the end", outside, false, false, false, false},
        {"cut inside the data structure", cut, false, false, false, false},
        {"empty", Bytes{}, false, false, false, false},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(IsThisPciImage(r.image), r.pci) << r.what;
        EXPECT_EQ(IsThisBiosImage(r.image), r.bios) << r.what;
        EXPECT_EQ(IsThisFcodeImage(r.image), r.fcode) << r.what;
        EXPECT_EQ(IsThisPXEImage(r.image), r.pxe) << r.what;
    }

    // The data structure's vendor and length fields, little-endian.
    Pci_Data_t data{};
    ASSERT_TRUE(ReadPciImage(bios, nullptr, &data));
    EXPECT_TRUE(IsVendorImage(&data));
    data.vid[0] = 0x78;   // 0x1078
    EXPECT_FALSE(IsVendorImage(&data));
    data.vid[0] = 0x77;
    data.vid[1] = 0x20;   // 0x2077
    EXPECT_FALSE(IsVendorImage(&data));
    EXPECT_FALSE(IsVendorImage(nullptr));
    data.pcidatalen[0] = 0x18;
    data.pcidatalen[1] = 0x01;
    EXPECT_EQ(GetDataLength(&data), 0x118);
    EXPECT_EQ(GetDataLength(nullptr), 0);

    const SD_UINT8 pcir[] = {'P', 'C', 'I', 'R'};
    EXPECT_TRUE(CompareSignature(pcir, "PCIR"));
    EXPECT_TRUE(CompareSignature(pcir, "PC"));
    EXPECT_TRUE(CompareSignature(pcir, ""));
    EXPECT_FALSE(CompareSignature(pcir, "PCIX"));
    EXPECT_FALSE(CompareSignature(std::span(pcir).first(3), "PCIR")) << "fewer bytes than the text";
}

TEST(RomChainPatch, EveryImagePatchedForTheAdapterAndPxeLeftAlone) {
    const auto at = zvfix::RomImageOffsets(kBootCode);
    Bytes rom = zvfix::MakeRomChain(kBootCode);
    // Images built for another chip; the patcher makes them the adapter's.
    for (size_t i = 0; i < 4; ++i) zvfix::SetRomDeviceId(rom, at[i], 0x2071);
    std::memcpy(rom.data() + 9, "2071", 4);
    zvfix::FixBiosChecksum(rom, 0);
    const Bytes pxe(rom.begin() + static_cast<long>(at[3]), rom.end());

    ASSERT_EQ(UpdateAllPciHeaders(rom, 0x1590, 0x02E1, 0x2261, "TV-ADAPTER-7X-PRO"), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(rom.data()) + 9, 4), "2261");
    EXPECT_EQ(rom[32] | rom[33] << 8, 0x1590);
    EXPECT_EQ(rom[42] | rom[43] << 8, 0x2261);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(rom.data()) + 68), "TV-ADAPTER-7X-PRO ");
    EXPECT_TRUE(zvfix::BiosChecksumOk(rom, 0));
    EXPECT_EQ(zvfix::RomDeviceId(rom, at[1]), 0x2261);
    EXPECT_EQ(zvfix::RomDeviceId(rom, at[2]), 0x2261);
    EXPECT_EQ(Bytes(rom.begin() + static_cast<long>(at[3]), rom.end()), pxe);
    EXPECT_EQ(zvfix::RomDeviceId(rom, at[3]), 0x2071);
}

TEST(RomChainPatch, FailuresGiveTheirStatus) {
    const auto at = zvfix::RomImageOffsets(kBootCode);
    const Bytes good = zvfix::MakeRomChain(kBootCode);

    Bytes broken = good;
    broken[at[1] + 1] = 0;
    EXPECT_EQ(UpdateAllPciHeaders(broken, 0x1077, 0, 0x2261, "M"), PCI_CHAIN_BROKEN);

    Bytes unknown = good;
    EXPECT_EQ(UpdateAllPciHeaders(unknown, 0x1077, 0, 0x1234, "M"), 9);

    // A BIOS size byte that is invalid or larger than the image's place in the
    // chain (its checksum byte would land in the next image) writes nothing.
    for (SD_UINT8 size : {0x00, 0x80, 0xFF, 0x05}) {
        Bytes bad = good;
        bad[2] = size;
        const Bytes before = bad;
        EXPECT_EQ(UpdateAllPciHeaders(bad, 0x1077, 0, 0x2261, "M"), 12) << int(size);
        EXPECT_EQ(bad, before) << int(size);
    }
}

TEST(RomChainPatch, IscsiChainBrokenAfterItsFirstImageIsRefused) {
    Bytes rom = zvfix::MakeRomChain({RomImageSpec::Bios(0x8021), RomImageSpec::Pxe(0x8021)});
    Bytes ok = rom;
    ASSERT_EQ(UpdateiSCSIPciHeaders(ok, 0x1077, 0, 0x8021, "CNA"), 0);
    EXPECT_EQ(ok[42] | ok[43] << 8, 0x8022);   // the iSCSI function's id
    rom[4 * 512] = 0;
    EXPECT_EQ(UpdateiSCSIPciHeaders(rom, 0x1077, 0, 0x8021, "CNA"), PCI_CHAIN_BROKEN);
}

TEST(RomChainChecks, ConvergedWalksGoOnPastMismatchesNicWalkStops) {
    Bytes fcoe = zvfix::MakeRomChain({RomImageSpec::Bios(0x2261), RomImageSpec::Efi(0x2071)});
    EXPECT_EQ(ValidateFCoEPciHeaders(fcoe, 0x2261), 1);   // the EFI check gives 11, the walk goes on
    EXPECT_EQ(ValidateiSCSIPciHeaders(fcoe, 0x2261), 1);
    fcoe[4 * 512] = 0;
    EXPECT_EQ(ValidateFCoEPciHeaders(fcoe, 0x2261), 0);
    EXPECT_EQ(ValidateiSCSIPciHeaders(fcoe, 0x2261), 0);

    const Bytes nic = zvfix::MakeRomChain(
        {RomImageSpec::Pxe(0x8020), RomImageSpec::Efi(0x8020), RomImageSpec::FCode(0x8020)});
    EXPECT_EQ(ValidateNICPciHeaders(nic, 0x8020), 1);
    EXPECT_EQ(ValidateNICPciHeaders(nic, 0x8021), 0);   // PXE device id differs
    EXPECT_EQ(ValidateNICPciHeaders(nic, 0x8030), 1);   // takes any
    const Bytes nicEfi = zvfix::MakeRomChain({RomImageSpec::Pxe(0x8020), RomImageSpec::Efi(0x8120)});
    EXPECT_EQ(ValidateNICPciHeaders(nicEfi, 0x8020), 0);
    EXPECT_EQ(ValidateNICPartitionPciHeaders(nicEfi, 0x1234), 1);
}

TEST(RomChainFile, HeaderAndDataReadFromAFile) {
    const auto at = zvfix::RomImageOffsets(kBootCode);
    Bytes rom = zvfix::MakeRomChain(kBootCode);
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(rom.data(), 1, rom.size(), f), rom.size());
    Pci_Header_t h{};
    Pci_Data_t d{};
    ASSERT_EQ(GetFileImageHeader(f, &h, &d, static_cast<long>(at[2])), 1);
    EXPECT_TRUE(IsEfiImage(&d));
    EXPECT_EQ(GetImageLength(&d), 1024u);
    EXPECT_EQ(GetFileImageHeader(f, &h, &d, static_cast<long>(at[2] + 1)), 0);   // no header there
    EXPECT_EQ(GetFileImageHeader(f, &h, &d, static_cast<long>(rom.size() - 8)), 0);
    std::fclose(f);

    rom[at[3] + zvfix::kRomDataOffset] = 'X';   // "PCIR" spoilt
    f = std::tmpfile();
    ASSERT_EQ(std::fwrite(rom.data(), 1, rom.size(), f), rom.size());
    EXPECT_EQ(GetFileImageHeader(f, &h, &d, static_cast<long>(at[3])), 0);
    std::fclose(f);
}

}  // namespace
