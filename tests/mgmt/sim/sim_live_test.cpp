// What the running firmware reports comes from the flash of the set the
// adapter booted: an update changes it only after a reboot, an on-line
// activation, a region activation or a reset; host.json values pin it.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "fixtures/firmware_image_builder.h"
#include "fixtures/rom_chain_builder.h"
#include "fixtures/sim_client.h"
#include "support/e2e_support.h"

namespace {

using zvfix::Bytes;

// Firmware (or MPI firmware) whose header gives the version and the attribute words.
Bytes Firmware(uint8_t major, uint8_t minor, uint8_t sub, uint64_t attributes = 0) {
    zvfix::FirmwareSpec fw;
    fw.revision = {major, minor, sub};
    fw.attribute = static_cast<uint32_t>(attributes);
    fw.attributeEx = static_cast<uint32_t>(attributes >> 32);
    return zvfix::MakeFirmwareImage(fw);
}

// A boot-code chain of one-block images: (code type, major, minor).
Bytes RomChain(const std::vector<std::array<uint8_t, 3>>& images) {
    std::vector<zvfix::RomImageSpec> specs;
    for (const auto& [code, major, minor] : images) {
        specs.push_back({.code = zvfix::RomCode{code}, .blocks = 1, .versionMajor = major, .versionMinor = minor});
    }
    return zvfix::MakeRomChain(specs);
}

DEVICENODEPROPERTY Node(zvapi_transport& t) {
    DEVICENODEPROPERTY n{};
    EXPECT_EQ(zvfix::SimGet(t, 0, ZVOP_NODE_PROPERTY, n), SDERR_SUCCESS);
    return n;
}

SD_UINT64 Attributes(zvapi_transport& t) {
    SD_UINT64 a = 0;
    EXPECT_EQ(zvfix::SimGet(t, 0, ZVOP_FW_ATTRIBUTES, a), SDERR_SUCCESS);
    return a;
}

class SimLive : public ::testing::Test {
protected:
    // A chip-type-25 adapter running set 1: firmware 9.10.02 (attributes 5),
    // MPI 3.5.1, boot code with BIOS 3.70, FCode 4.15 and EFI 7.30.
    zvfix::AdapterSpec& Adapter() {
        auto& a = host.AddChip25TwoPort();
        a.SetRegion(zvfix::kRegionFirmware1, Firmware(9, 10, 2, 5));
        a.SetRegion(zvfix::kRegionMpi1, Firmware(3, 5, 1));
        a.SetRegion(zvfix::kRegionBoot1, RomChain({{0, 3, 70}, {1, 4, 15}, {3, 7, 30}}));
        return a;
    }
    // Writes the host (with the adapter above unless the test made one) and opens it.
    std::unique_ptr<zvapi_transport> Start() {
        if (host.adapters.empty()) Adapter();
        dir = zvfix::WriteSimHost(host);
        return zvfix::OpenSimHost(dir);
    }
    zvfix::HostBuilder host;
    std::string dir;
};

TEST_F(SimLive, AnUpdateOfTheOtherSetShowsAfterTheReboot) {
    {
        auto t = Start();
        DEVICENODEPROPERTY n = Node(*t);
        EXPECT_STREQ(n.FirmwareVersion, "9.10.02");
        EXPECT_STREQ(n.OptionRomVersion, "3.70");
        EXPECT_EQ(std::tuple(n.BIFwVersion[0], n.BIFwVersion[1], n.BIEfiVersion[0], n.BIEfiVersion[1],
                             n.BIFCodeVersion[1], n.MpiFwVersion[1], n.BIValid & 0x3),
                  std::tuple(9, 10, 7, 30, 15, 5, 0x3u));
        EXPECT_EQ(Attributes(*t), 5u);

        // Set 2 gets a new firmware and boot code and is marked active, as an update does.
        ASSERT_EQ(zvfix::SimWriteRegion(*t, 0, zvfix::kRegionFirmware2, Firmware(10, 0, 5, 0x100000007ULL)), 0u);
        ASSERT_EQ(zvfix::SimWriteRegion(*t, 0, zvfix::kRegionBoot2, RomChain({{0, 3, 80}, {1, 4, 16}})), 0u);
        ASSERT_EQ(zvfix::SimWriteRegion(*t, 0, 0x96, zvfix::MakeImageStatusRecord(1, 2, zvfix::kSigImageStatus25)), 0u);
        ASSERT_EQ(zvfix::SimWriteRegion(*t, 0, 0x95, zvfix::MakeImageStatusRecord(0, 1, zvfix::kSigImageStatus25)), 0u);
        size_t len = 0;
        ASSERT_EQ(t->Request(0, ZVOP_REFRESH_VERSIONS, {}, {}, &len), SDERR_SUCCESS);
        EXPECT_STREQ(Node(*t).FirmwareVersion, "9.10.02") << "the running firmware until a reboot";
        EXPECT_EQ(Node(*t).BIFwVersion[0], 9) << "the driver reads the running set";
        EXPECT_EQ(Attributes(*t), 5u);
    }
    ASSERT_EQ(zvfix::Reboot(dir), 0);
    auto t = zvfix::OpenSimHost(dir);
    const DEVICENODEPROPERTY n = Node(*t);
    EXPECT_STREQ(n.FirmwareVersion, "10.00.05");
    EXPECT_STREQ(n.OptionRomVersion, "3.80");
    EXPECT_EQ(std::tuple(n.BIFwVersion[0], n.BIFCodeVersion[1]), std::tuple(10, 16));
    EXPECT_EQ(n.BIValid & 0x2, 0u) << "the new boot code has no EFI image";
    EXPECT_EQ(n.MpiFwVersion[1], 5) << "chip type 25 has one MPI copy for both sets";
    // The driver's record holds each version part as one byte, the flash
    // firmware version from byte 368.
    const auto* raw = reinterpret_cast<const SD_UINT8*>(&n);
    EXPECT_EQ(std::tuple(raw[368], raw[369], raw[370], raw[371]), std::tuple(10, 0, 5, 0));
    EXPECT_EQ(Attributes(*t), 0x100000007ULL);
}

TEST_F(SimLive, ActivationResetAndOnlineActivationAreJournalledAndTakeEffect) {
    auto t = Start();
    // New firmware into the running set, reset disabled: nothing runs it yet.
    ASSERT_EQ(zvfix::SimWriteRegion(*t, 0, 0x01, Firmware(9, 11, 0, 6), 1), 0u);
    EXPECT_STREQ(Node(*t).FirmwareVersion, "9.10.02");
    const SD_UINT32 fw = 0x01;
    size_t len = 0;
    ASSERT_EQ(t->Request(0, ZVOP_REGION_ACTIVATE, zvapi_bytes(fw), {}, &len), SDERR_SUCCESS);
    EXPECT_STREQ(Node(*t).FirmwareVersion, "9.11.00");
    EXPECT_EQ(Attributes(*t), 6u);
    // A write without DisableReset resets the adapter: it runs what it finds.
    ASSERT_EQ(zvfix::SimWriteRegion(*t, 0, 0x01, Firmware(9, 12, 0, 6), 0), 0u);
    EXPECT_STREQ(Node(*t).FirmwareVersion, "9.12.00");
    ASSERT_EQ(t->Request(1, ZVOP_NVRAM_RELOAD, {}, {}, &len), SDERR_SUCCESS);
    // An on-line activation boots anew: set 2 (erased firmware) runs the defaults.
    ASSERT_EQ(zvfix::SimWriteRegion(*t, 0, 0x96, zvfix::MakeImageStatusRecord(1, 2, zvfix::kSigImageStatus25)), 0u);
    ASSERT_EQ(t->Request(0, ZVOP_ONLINE_ACTIVATE, {}, {}, &len), SDERR_SUCCESS);
    EXPECT_EQ(zvfix::SimActive(*t, 0).ActiveGlobalRegions, 2);
    EXPECT_STREQ(Node(*t).FirmwareVersion, "9.08.01");
    EXPECT_EQ(Attributes(*t), 1u);

    const auto events = zvfix::ReadJournalEvents(dir);
    std::vector<std::string> ops;
    for (const auto& e : events) ops.push_back(e.op + ":" + std::to_string(e.region) + ":" + std::to_string(e.disableReset));
    EXPECT_EQ(ops, (std::vector<std::string>{"write:1:1", "activate:1:0", "write:1:0", "nvram_reload:0:0",
                                             "write:150:1", "online_activate:0:0"}));
    for (size_t i = 0; i < events.size(); ++i) EXPECT_EQ(events[i].seq, i + 1);
    EXPECT_EQ(zvfix::ReadJournal(dir).size(), 3u) << "writes only";
}

TEST_F(SimLive, HostJsonValuesPinWhatFlashWouldSay) {
    auto& a = Adapter();
    a.firmwareVersion = "8.00.00";
    a.fwAttributes = 0x77;
    a.biEfi = std::array<uint16_t, 4>{1, 2, 0, 0};
    auto t = Start();
    const DEVICENODEPROPERTY n = Node(*t);
    EXPECT_STREQ(n.FirmwareVersion, "8.00.00");
    EXPECT_EQ(n.BIEfiVersion[1], 2);
    EXPECT_EQ(n.BIFwVersion[1], 10) << "not pinned: from flash";
    EXPECT_EQ(Attributes(*t), 0x77u);
}

TEST_F(SimLive, StateIsReadOnceAndWrittenOnlyWhenItChanges) {
    auto t = Start();
    ASSERT_EQ(zvfix::SimActive(*t, 0).ActiveGlobalRegions, 1);
    // The platform neither reads the file again nor rewrites it for reads.
    std::ofstream(dir + "/state.json") << "damaged";
    for (int i = 0; i < 3; ++i) EXPECT_EQ(zvfix::SimActive(*t, 0).ActiveGlobalRegions, 1);
    EXPECT_STREQ(Node(*t).FirmwareVersion, "9.10.02");
    EXPECT_EQ(zvtest::ReadFile(dir + "/state.json"), "damaged");
    // A change is saved at once.
    size_t len = 0;
    ASSERT_EQ(t->Request(0, ZVOP_ONLINE_ACTIVATE, {}, {}, &len), SDERR_SUCCESS);
    EXPECT_EQ(zvtest::ReadFile(dir + "/state.json").substr(0, 1), "{");
    // An activation that changes nothing leaves the file as it is (a rewrite
    // renames a new file into place).
    struct stat before{}, after{};
    ASSERT_EQ(::stat((dir + "/state.json").c_str(), &before), 0);
    ASSERT_EQ(t->Request(0, ZVOP_ONLINE_ACTIVATE, {}, {}, &len), SDERR_SUCCESS);
    ASSERT_EQ(::stat((dir + "/state.json").c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

}  // namespace
