// The option-ROM file helpers no command reaches: a flash buffer saved and
// read back, a file's images listed, an 8 Gb adapter's defaults carried over.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "core/sdm_device.h"
#include "fixtures/host_builder.h"
#include "fixtures/rom_chain_builder.h"
#include "image/option_rom_file_tools.h"

namespace {
using zvfix::Bytes;

std::string Path(const char* name) { return ::testing::TempDir() + "/" + name; }

TEST(OptionRomFileTools, DumpWritesReadsBackAndRefusesALink) {
    const std::string path = Path("optrom_dump.bin");
    std::remove(path.c_str());
    Bytes buf(0x3000, 0xA5);
    ASSERT_EQ(dumpFlashBufferToFile(nullptr, buf, path.c_str()), 0);
    EXPECT_EQ(buf, Bytes(0x3000, 0xA5));

    const std::string link = Path("optrom_dump.lnk");
    std::remove(link.c_str());
    ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
    Bytes other(0x10, 0x11);
    EXPECT_EQ(dumpFlashBufferToFile(nullptr, other, link.c_str()), -1);
    EXPECT_EQ(other, Bytes(0x10, 0x11));   // the link's target was not written through
    std::remove(link.c_str());
    std::remove(path.c_str());
}

TEST(OptionRomFileTools, ADumpTakesItsModeFromTheUmask) {
    const std::string path = Path("optrom_dump_mode.bin");
    std::remove(path.c_str());
    Bytes buf(0x100, 0x5A);
    const mode_t old = ::umask(022);
    const int rc = dumpFlashBufferToFile(nullptr, buf, path.c_str());
    ::umask(old);
    ASSERT_EQ(rc, 0);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST(OptionRomFileTools, ScanListsAFileAndRefusesAMissingOne) {
    const std::string path = Path("optrom_scan.bin");
    zvfix::WriteBytes(path, zvfix::MakeBootCodeChain());
    EXPECT_EQ(scanOptionROMFile(nullptr, path.c_str()), 0);
    EXPECT_EQ(scanOptionROMFile(nullptr, (path + ".absent").c_str()), 1);
    std::remove(path.c_str());
}

TEST(OptionRomFileTools, DefaultsAreCarriedOnlyFor8GbChips) {
    auto device = std::make_unique<SDMDevice>();
    zvfix::RomImageSpec adapterBios = zvfix::RomImageSpec::Bios(0x2532);
    adapterBios.ssvid = 0x1234;
    adapterBios.defaultsFill = 0x77;
    const Bytes current = zvfix::MakeRomChain({adapterBios});
    Bytes next = zvfix::MakeRomChain({zvfix::RomImageSpec::Bios(0x2532)});

    device->DeviceChipProperty.DeviceID = 0x2261;
    EXPECT_EQ(PreserveFlashDefaultArea(device.get(), current, next), -1);
    device->DeviceChipProperty.DeviceID = 0x2532;
    ASSERT_EQ(PreserveFlashDefaultArea(device.get(), current, next), 0);
    EXPECT_EQ(next[32] | next[33] << 8, 0x1234);
    EXPECT_EQ(next[zvfix::kBiosDefaultsMarker + 10], 0x77);
    EXPECT_TRUE(zvfix::BiosChecksumOk(next, 0));
}

}  // namespace
