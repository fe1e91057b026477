// The option-ROM file checks of the older adapters' updates: the request's
// region and sizes, the chain walk's refusals, and patches that stay inside
// the image they belong to.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "fixtures/adapters_properties_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/rom_chain_builder.h"
#include "image/option_rom_request.h"
#include "frontend/install_dir.h"
#include "image/option_rom_validation.h"
#include "support/e2e_support.h"

namespace {
using zvfix::Bytes;

class MultibootCheck : public ::testing::Test {
protected:
    void SetUp() override { g_ptrOptionROMRequest = &request; }
    void TearDown() override { g_ptrOptionROMRequest = nullptr; }

    int Check(Bytes& file, SD_UINT32 region) {
        request.Region = region;
        return validateUpdateMultibootOptionROM(0x0289, 0x1A77, file, "KV2532", 0x2532, 0);
    }

    static Bytes Chain(std::vector<zvfix::RomImageSpec> images, size_t size) {
        Bytes b = zvfix::MakeRomChain(images);
        b.resize(size, 0xEE);
        return b;
    }

    static zvfix::RomImageSpec Bios() {
        zvfix::RomImageSpec s = zvfix::RomImageSpec::Bios(0x2532);
        s.hwType = "2532";
        return s;
    }

    OptionROMUserRequest request{};
};

TEST_F(MultibootCheck, RequestRegionsAndFileSizes) {
    Bytes small = Chain({Bios()}, 0x10000);
    EXPECT_EQ(Check(small, OPTROM_REGION_STANDARD), OPTROM_DATA_WRONG_SIZE);
    EXPECT_EQ(request.Region, OPTROM_REGION_ALL);
    Bytes boot = Chain({Bios()}, 0x3FFFF);
    EXPECT_EQ(Check(boot, OPTROM_REGION_BOOT), OPTROM_BOOT_WRONG_SIZE);
    Bytes fw(0x40001, 0);
    EXPECT_EQ(Check(fw, OPTROM_REGION_FIRMWARE), OPTROM_FW_TOO_LARGE);
    Bytes whole = Chain({Bios()}, 0x100000);
    EXPECT_EQ(Check(whole, OPTROM_REGION_ALL), 0);
    // Another region is taken for a whole image, without a size check.
    Bytes other = Chain({Bios()}, 0x20000);
    EXPECT_EQ(Check(other, 0x13), 0);
    EXPECT_EQ(request.Region, OPTROM_REGION_ALL);
}

TEST_F(MultibootCheck, PatchesCommonImagesForTheAdapter) {
    Bytes file = Chain({Bios(), zvfix::RomImageSpec::Efi(0x2532), zvfix::RomImageSpec::Pxe(0x1234)}, 0x100000);
    const Bytes before = file;
    ASSERT_EQ(Check(file, OPTROM_REGION_ALL), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&file[68]), 7), "KV2532 ");
    EXPECT_TRUE(zvfix::BiosChecksumOk(file, 0));
    const auto at = zvfix::RomImageOffsets({Bios(), zvfix::RomImageSpec::Efi(0x2532), zvfix::RomImageSpec::Pxe(0x1234)});
    EXPECT_TRUE(std::equal(file.begin() + at[2], file.end(), before.begin() + at[2]));   // PXE untouched
}

TEST_F(MultibootCheck, ChipFromTheAdapterTableOfTheInstallationDirectory) {
    zvtest::TempDir dir;
    ASSERT_EQ(VORNSetInstallationDir(dir.Path().c_str(), VORN_DIR_SIZE), 0);
    request.Region = OPTROM_REGION_ALL;
    auto check = [&](Bytes& file) { return validateUpdateMultibootOptionROM_1(0x0289, 0x1A77, file, "KV2532", 0, 0); };
    Bytes file = Chain({Bios()}, 0x100000);
    EXPECT_EQ(check(file), OPTROM_ADAPTER_LIST_UNREADABLE);
    zvfix::AdapterTableRow other = zvfix::TableRow(0x0290, 0x1A77);
    std::ofstream(dir.Path() + "/adapters.properties") << zvfix::AdapterTable({other});
    EXPECT_EQ(check(file), OPTROM_NO_ADAPTER_ROW);
    // The row's chip, not the device id given, decides what the BIOS image must be for.
    zvfix::AdapterTableRow row = zvfix::TableRow(0x0289, 0x1A77);
    row.isp = "ISP2532";
    std::ofstream(dir.Path() + "/adapters.properties") << zvfix::AdapterTable({other, row});
    const Bytes before = file;
    ASSERT_EQ(check(file), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&file[68]), 7), "KV2532 ");
    row.isp = "2261";
    std::ofstream(dir.Path() + "/adapters.properties") << zvfix::AdapterTable({row});
    Bytes again = before;
    EXPECT_NE(check(again), 0) << "an image for another chip";
    VORNSetInstallationDir("", VORN_DIR_SIZE);
}

TEST_F(MultibootCheck, BrokenChainsAreRefused) {
    Bytes noHeader = Chain({Bios()}, 0x100000);
    noHeader[0] = 0;
    EXPECT_EQ(Check(noHeader, OPTROM_REGION_ALL), OPTROM_NO_HEADER_SIGNATURE);

    Bytes noData = Chain({Bios()}, 0x100000);
    noData[zvfix::kBiosDataOffset] = 'X';
    EXPECT_EQ(Check(noData, OPTROM_REGION_ALL), OPTROM_NO_DATA_SIGNATURE);

    // A second image that runs past the file.
    Bytes longer = Chain({Bios(), zvfix::RomImageSpec::Efi(0x2532)}, 0x100000);
    const size_t second = zvfix::RomImageOffsets({Bios(), zvfix::RomImageSpec::Efi(0x2532)})[1];
    zvfix::SetRomLength(longer, second, 0xFFFF);
    EXPECT_EQ(Check(longer, OPTROM_REGION_ALL), OPTROM_NO_HEADER_SIGNATURE);

    // Only images that are left alone: nothing was checked.
    Bytes pxe = Chain({zvfix::RomImageSpec::Pxe(0x2532)}, 0x100000);
    EXPECT_EQ(Check(pxe, OPTROM_REGION_ALL), 10);
}

TEST_F(MultibootCheck, ABiosSizeBeyondItsImageIsRefusedAndTheNextImageKept) {
    const std::vector<zvfix::RomImageSpec> specs = {Bios(), zvfix::RomImageSpec::Efi(0x2532)};
    Bytes file = Chain(specs, 0x100000);
    file[2] = 100;   // the BIOS claims 100 blocks; its image has 4
    const Bytes before = file;
    EXPECT_EQ(Check(file, OPTROM_REGION_ALL), 12);
    const size_t second = zvfix::RomImageOffsets(specs)[1];
    EXPECT_TRUE(std::equal(file.begin() + second, file.end(), before.begin() + second));
}

TEST(OptionRomFile, ReadsAtMostTheLimit) {
    const std::string path = ::testing::TempDir() + "/optrom_file.bin";
    const Bytes content(0x18000, 0x5A);
    zvfix::WriteBytes(path, content);
    Bytes buffer(0x20000, 0xFF);
    SD_UINT32 size = 0x20000;
    EXPECT_EQ(validateOptionROMFile(path.c_str(), buffer, &size), 0);
    EXPECT_EQ(size, 0x18000u);
    EXPECT_EQ(buffer[0x17FFF], 0x5A);
    EXPECT_EQ(buffer[0x18000], 0xFF);
    size = 0x10000;
    EXPECT_EQ(validateOptionROMFile(path.c_str(), buffer, &size), 4);
    size = 0x20000;
    EXPECT_EQ(validateOptionROMFile((path + ".absent").c_str(), buffer, &size), 1);
    EXPECT_EQ(size, 0u);
    std::remove(path.c_str());
}

}  // namespace
