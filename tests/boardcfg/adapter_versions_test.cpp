// Versions an adapter carries, read from simulated flash: component versions
// of the running set, multiboot and firmware package versions, and the PEP
// board-configuration version beside a template's.
#include "boardcfg/adapter_versions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <tuple>

#include "boardcfg/fw_preload.h"
#include "core/oss_services.h"
#include "fixtures/board_template_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/memo_block_builder.h"
#include "fixtures/rom_chain_builder.h"
#include "frontend/output.h"
#include "support/fake_device.h"
#include "support/output_host_test.h"

namespace {

// A region whose version bytes read `major` at `at`, then minor, sub, test downwards.
zvfix::Bytes VersionDown(size_t at, uint8_t major, size_t size = 0x100) {
    zvfix::Bytes b(size, 0xFF);
    for (uint8_t i = 0; i < 4; ++i) b[at - i] = static_cast<uint8_t>(major + i);
    return b;
}
// A firmware header whose revision words (big-endian, at 16, 20, 24) are major, +1, +2.
zvfix::Bytes FirmwareHeader(uint8_t major) {
    zvfix::Bytes b(0x100, 0);
    for (uint8_t i = 0; i < 3; ++i) b[19 + 4 * i] = static_cast<uint8_t>(major + i);
    return b;
}
zvfix::Bytes BootCode(uint16_t deviceId, uint8_t biosMajor) {
    std::vector<zvfix::RomImageSpec> specs{zvfix::RomImageSpec::Bios(deviceId), zvfix::RomImageSpec::FCode(deviceId),
                                           zvfix::RomImageSpec::Efi(deviceId)};
    for (uint8_t i = 0; i < 3; ++i) {
        specs[i].versionMajor = static_cast<uint8_t>(biosMajor + i);
        specs[i].versionMinor = 7;
    }
    specs[0].hwType = "2281";
    return zvfix::MakeRomChain(specs);
}

// Both sets of a chip-type-27 adapter, each component's major version being
// 10 * set + a component number.
void FillBothSets(zvfix::AdapterSpec& a) {
    for (uint8_t set : {1, 2}) {
        const uint8_t base = static_cast<uint8_t>(set * 10);
        const bool one = set == 1;
        a.SetRegion(one ? 0x07 : 0x09, BootCode(0x2281, base));
        a.SetRegion(one ? 0x01 : 0x02, FirmwareHeader(base + 1));
        a.SetRegion(one ? 0x13 : 0x107, VersionDown(7, base + 2));
        a.SetRegion(one ? 0xBA : 0x10B, VersionDown(7, base + 3));
        a.SetRegion(one ? 0xD2 : 0x105, VersionDown(79, base + 4));
        a.SetRegion(one ? 0xD1 : 0xF1, VersionDown(79, base + 5));
        a.SetRegion(one ? 0xCF : 0x106, VersionDown(7, base + 6));
        a.SetRegion(one ? 0x101 : 0x108, FirmwareHeader(base + 7));
        a.SetRegion(one ? 0xD3 : 0xF0, FirmwareHeader(base + 8));
        a.SetRegion(one ? 0x102 : 0x109, VersionDown(7, base + 9));
    }
}

class AdapterVersions : public zvtest::OutputHostTest {
protected:
    void SetUp() override {
        OutputHostTest::SetUp();
        ResetFwPreloadVersion();
    }
};

TEST_F(AdapterVersions, ComponentsOfTheRunningSet) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip27();
    FillBothSets(a);
    a.SetImageStatus(1, 5, 0, 4);
    a.SetAuxImageStatus(1, 3, 0, 0, 2, 0);   // board configuration: first copy
    const auto devs = Discover(host);

    // Major versions of boot code (BIOS, FCode, EFI), RISC firmware, preload,
    // FC board config, PEP SoftROM, PEP firmware, PEP board config, MPI
    // SoftROM, MPI firmware and PCIe SerDes.
    auto majors = [](const FlashComponentVersion& v) {
        return std::vector<int>{v.BiosMajorVersion,       v.FCodeMajorVersion,      v.EFIMajorVersion,
                                v.FCFwMajorVersion,       v.FwAreaMajorVersion,     v.FCBoardCfgMajorVersion,
                                v.PEPSoftROMMajorVersion, v.PEPFwMajorVersion,      v.PEPBoardCfgMajorVersion,
                                v.MPISoftROMMajorVersion, v.MPIFwMajorVersion,      v.PCIeSerdesMajorVersion};
    };
    FlashComponentVersion v{};
    ASSERT_EQ(GetAdapterFlashComponentsVersion(devs[0], &v), 0);
    EXPECT_EQ(majors(v), (std::vector<int>{10, 11, 12, 11, 12, 13, 14, 15, 16, 17, 18, 19}));
    EXPECT_EQ((std::vector<int>{v.EFIMinorVersion, v.FCFwSubminorVersion, v.FwAreaTestVersion, v.PEPFwMinorVersion}),
              (std::vector<int>{7, 13, 15, 16}));

    // The adapter starts from the secondary set: every global component
    // follows it; the board configuration follows its own auxiliary record.
    RemoveAllDevicesFromDeviceList();
    a.SetImageStatus(0, 5, 1, 6);
    host.Write(hostDir_);
    ASSERT_EQ(zvfix::Reboot(hostDir_), 0);
    CoreInitializeDevices();
    const auto again = Devices();
    v = {};
    ASSERT_EQ(GetAdapterFlashComponentsVersion(again[0], &v), 0);
    EXPECT_EQ(majors(v), (std::vector<int>{20, 21, 22, 21, 22, 13, 24, 25, 26, 27, 28, 29}));
    EXPECT_EQ(GetAdapterFlashComponentsVersion(nullptr, &v), ADAPTER_VERSIONS_NO_DEVICE);
}

TEST_F(AdapterVersions, SmallOrUnreadableRegionsLeaveTheirFields) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.SetRegionSize(0xCF, 4);                 // too small for bytes 7 to 4
    a.SetRegionSize(0xD1, 64);                // too small for bytes 79 to 76
    a.SetRegion(0xBA, VersionDown(7, 3));
    a.faults.push_back(zvfix::FaultSpec::Fail("flash_read", 0x20000088).OnRegion(0x01));
    auto& t = host.AddTorvi(0x8031);          // chip type 21: preload table, CRB init and pegtune
    t.SetRegion(0x13, zvfix::MakeConfigTable("JKOZ", {1, 2, 3, 0}, 0x80, 0x1A77, 0x0289));
    zvfix::Bytes crb(16384, 0xFF), peg(131072, 0xFF);
    const uint8_t crbTrailer[] = {0x00, 0x00, 0x40, 0x40, 4, 5, 6};
    const uint8_t pegTrailer[] = {0xEE, 0xEE, 0xEE, 0xEE, 7, 8, 9};   // signature wrong: versions taken anyway
    std::memcpy(crb.data() + 16352, crbTrailer, sizeof crbTrailer);
    std::memcpy(peg.data() + 131040, pegTrailer, sizeof pegTrailer);
    t.SetRegion(0x70, crb);
    t.SetRegion(0x73, peg);
    const auto devs = Discover(host);
    ASSERT_EQ(devs.size(), 4u);

    FlashComponentVersion v{};
    v.PEPBoardCfgMajorVersion = v.PEPBoardCfgTestVersion = 0xEE;
    v.PEPFwMajorVersion = 0xEE;
    v.FCFwMajorVersion = v.FCFwSubminorVersion = 0xEE;
    GetAdapterFlashComponentsVersion(devs[0], &v);
    EXPECT_EQ((std::vector<int>{v.PEPBoardCfgMajorVersion, v.PEPBoardCfgTestVersion, v.PEPFwMajorVersion,
                                v.FCFwMajorVersion, v.FCFwSubminorVersion, v.FCBoardCfgMajorVersion}),
              (std::vector<int>{0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 3}));

    v = {};
    EXPECT_EQ(GetAdapterFlashComponentsVersion(devs[2], &v), 0);
    EXPECT_EQ((std::vector<int>{v.FwAreaMajorVersion, v.FwAreaMinorVersion, v.FwAreaSubminorVersion,
                                v.CrbinitMajorVersion, v.CrbinitMinorVersion, v.CrbinitSubMinorVersion,
                                v.PegtuneMajorVersion, v.PegtuneMinorVersion, v.PegtuneSubMinorVersion}),
              (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(AdapterVersions, MultibootAndPackageVersionTexts) {
    zvfix::HostBuilder host;
    host.AddChip25TwoPort().SetRegion(zvfix::kRegionMemo1, zvfix::MakeMemoRegion({.mbi = {6, 2, 1, 0}}));
    // Chip type 24: the VPD names the version; its memo block says another one.
    host.AddTorvi(0x2031).SetRegion(zvfix::kRegionMemo24, zvfix::MakeMemoRegion({.mbi = {6, 2, 1, 0}}));
    host.AddChip27();   // no memo block
    auto& old = host.AddChip25(0x2532, 1);
    old.chipType = 12;
    zvfix::Bytes fw(0x100, 0xFF);
    std::ranges::copy(std::initializer_list<uint8_t>{'Z', 'M', 'B', 'V', 3, 7, 9}, fw.begin());
    old.SetRegion(zvfix::kRegionFirmware1, fw);
    const auto devs = Discover(host);
    ASSERT_EQ(devs.size(), 7u);

    char text[32];
    // devs[2]: the digits of its VPD's "V9".
    for (const auto& [dev, want] : {std::pair<int, const char*>{0, "60201"}, {2, "010203"}, {6, "30709"}}) {
        EXPECT_EQ(RetrieveMBIVersionFromAdapter(devs[dev], text), 0) << dev;
        EXPECT_STREQ(text, want);
    }
    EXPECT_EQ(RetrieveMBIVersionFromAdapter(devs[0], std::span<char>()), -1);

    // A single-digit major still compares equal to the block's own version.
    for (const auto& [dev, vpd, want] : {std::tuple<int, int, const char*>{0, 1, "4.05.06"}, {2, 0, "4.05.06"},
                                         {2, 1, "01.02.03"}}) {
        EXPECT_EQ(RetrieveFFVVersionFromAdapter(devs[dev], text, vpd), 0) << dev << vpd;
        EXPECT_STREQ(text, want);
    }
    EXPECT_EQ(RetrieveFFVVersionFromAdapter(devs[4], text, 1), FLASH_MEMO_NO_SIGNATURE);
    EXPECT_EQ(RetrieveFFVVersionFromAdapter(devs[6], text, 0), FLASH_MEMO_NO_SIGNATURE);

    ASSERT_EQ(SetOutOutFile(), 0);
    EXPECT_EQ(DisplayFFVVersionFromAdapter(devs[0], 0), 0);
    EXPECT_EQ(DisplayFFVVersionFromAdapter(devs[4], 0), FLASH_MEMO_NO_SIGNATURE);
    EXPECT_EQ(DisplayFFVVersionFromAdapter(devs[6], 0), 0);
    EXPECT_EQ(OutputFile(), "4.05.06\nUnable to read FFV version of HBA instance 4 KV2772\n");
}

TEST_F(AdapterVersions, PepBoardConfigAgainstTemplate) {
    zvfix::HostBuilder host;
    host.AddChip25TwoPort().SetRegion(0xCF, zvfix::MakeConfigTable("IKOZ", {3, 1, 4, 1}, 0x80, 0x1A77, 0x0289, 0x10000));
    host.AddChip25TwoPort().RemoveRegion(0xCF);
    host.AddChip27();
    const auto devs = Discover(host);
    ASSERT_EQ(devs.size(), 6u);

    const std::string tpl = dir_ + "/pep.dat";
    auto compare = [&](const char* version) {
        zvfix::WriteTextFile(tpl, std::string("table = IKOZ\nversion = ") + version + "\n");
        return ComparePEPBoardConfigVersion(devs[0], tpl.c_str());
    };
    EXPECT_EQ(compare("3.2.0.0"), PEP_BRDCFG_NEWER);
    EXPECT_EQ(compare("3.1.4.1"), PEP_BRDCFG_EQUAL);
    EXPECT_EQ(compare("3.1.4.0"), PEP_BRDCFG_OLDER);
    EXPECT_EQ(ComparePEPBoardConfigVersion(devs[0], (dir_ + "/none.dat").c_str()), PEP_BRDCFG_OLDER);
    EXPECT_EQ(ComparePEPBoardConfigVersion(devs[2], tpl.c_str()), PEP_BRDCFG_OLDER);

    ASSERT_EQ(SetOutOutFile(), 0);
    EXPECT_EQ(DisplayPEPBrdCfgVersionFromAdapter(devs[0]), 0);
    EXPECT_NE(DisplayPEPBrdCfgVersionFromAdapter(devs[2]), 0);
    EXPECT_EQ(DisplayPEPBrdCfgVersionFromAdapter(devs[4]), 0);   // chip type 27: nothing to show
    EXPECT_EQ(OutputFile(),
              "HBA 0 (KV2692): PEP board cfg version=3.1.4.1\n"
              "Unable to read PEP board cfg version of HBA instance 2 KV2692\n");
}

// An adapter whose memo-block region is empty (a layout the simulated
// platform cannot hold): a failed read, not a block without its signature.
TEST(AdapterVersionsInMemory, EmptyMemoRegionIsAFailedRead) {
    auto state = std::make_shared<zvtest::FakeState>();
    state->AddAdapter(0x2261, "SN1").Layout.push_back({0xDF, 0x8000, 0, 0});
    zvtest::FakeDevice dev(state, 0x2261);
    char text[32] = {};
    EXPECT_EQ(RetrieveFFVVersionFromAdapter(dev.get(), text, 0), FLASH_MEMO_READ_FAILED);
    EXPECT_EQ(RetrieveFFVVersionFromAdapter(dev.get(), text, 1), FLASH_MEMO_READ_FAILED);
}

}  // namespace
