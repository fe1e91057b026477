// Manufacturing-mode single-region updates over simulated adapters: the
// file's bytes land on flash (over the region's start, the rest kept), files
// that do not fit or are not for the chip are refused before any write, and
// the wrappers pick their ports.
#include "engines/zmfg_update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fixtures/adapters_properties_builder.h"
#include "fixtures/firmware_image_builder.h"
#include "fixtures/lists_host.h"
#include "fixtures/rom_chain_builder.h"
#include "frontend/output.h"
#include "mgmt/sdapi.h"
#include "support/e2e_support.h"

namespace {

using zvfix::Bytes;
using zvtest::Has;

constexpr uint16_t kVendor = 0x1A77;

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

bool StartsWith(const Bytes& whole, const Bytes& part) {
    return whole.size() >= part.size() && std::equal(part.begin(), part.end(), whole.begin());
}

class ZmfgUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /tmp and /var/log";
        zvtest::ClearLogs();
        ResetOutputChannels();
        ASSERT_EQ(SetOutOutFile(), 0);
    }
    void TearDown() override {
        lists_.reset();
        ResetOutputChannels();
        zvtest::ClearLogs();
    }
    // Starts the host with every adapter listed as supported.
    void Start() {
        std::vector<zvfix::AdapterTableRow> rows;
        for (const auto& a : host_.adapters) rows.push_back(zvfix::TableRow(a.subSystemId, a.subVendorId));
        lists_ = std::make_unique<zvfix::ListsHost>(host_, zvfix::AdapterTable(rows));
    }
    std::string File(const Bytes& bytes) {
        const std::string path = dir_.Path() + "/file" + std::to_string(files_++) + ".bin";
        zvfix::WriteBytes(path, bytes);
        return path;
    }
    std::string HostDir() const { return lists_->Dir() + "/host"; }
    std::vector<zvfix::JournalEntry> Writes() const {
        std::vector<zvfix::JournalEntry> out;
        for (const auto& j : zvfix::ReadJournal(HostDir()))
            if (j.op == "write") out.push_back(j);
        return out;
    }
    static SDMDevice* Port(size_t i) { return zvfix::ListsHost::Ports().at(i); }
    static std::string Output() { return zvtest::ReadFile(GetOutPutFile()); }

    zvtest::TempDir dir_;
    zvfix::HostBuilder host_;
    std::unique_ptr<zvfix::ListsHost> lists_;
    int files_ = 0;
};

TEST_F(ZmfgUpdate, FcFirmwareFileLandsOverTheRegionStart) {
    zvfix::AdapterSpec& a = host_.AddTorvi(0x2031);   // chip type 24
    const Bytes old = Pattern(0x100000, 3);
    a.SetRegion(0x01, old);
    Start();
    const Bytes file = zvfix::MakeFirmwareImage({.supported = 0x20});

    // Not a manufacturing run, or another chip's firmware: nothing written.
    EXPECT_EQ(ZMFGUpdateFCFirmwareFromFileToHBAPort(Port(0), File(file).c_str(), 2), ZMFG_NOT_DONE);
    const std::string other = File(zvfix::MakeFirmwareImage({.supported = 0x40}));
    EXPECT_EQ(ZMFGUpdateFCFirmwareFromFileToHBAPort(Port(0), other.c_str(), 3), ZMFG_FILE_REFUSED);
    EXPECT_TRUE(Writes().empty());

    ASSERT_EQ(ZMFGUpdateFCFirmwareFromFileToHBAPort(Port(0), File(file).c_str(), 3), ZMFG_SUCCESS) << Output();
    const Bytes region = zvfix::ReadRegion(HostDir(), 0, 0x01);
    EXPECT_TRUE(StartsWith(region, file));
    EXPECT_TRUE(std::equal(old.begin() + static_cast<long>(file.size()), old.end(),
                           region.begin() + static_cast<long>(file.size())));
    ASSERT_EQ(Writes().size(), 1u);
    EXPECT_EQ(Writes()[0].region, 0x01u);
    EXPECT_TRUE(Has(Output(), "Firmware update completed successfully (Instance 0 - KV2031)")) << Output();
}

TEST_F(ZmfgUpdate, FcoeFirmwareOfHalfAMegabyteIsTheLargestTaken) {
    host_.AddTorvi(0x8031);   // chip type 21
    Start();
    Bytes file = zvfix::MakeFirmwareImage(
        {.segment1Words = ZMFG_MAX_FCOE_FW_SIZE / 4 - 16, .segment2Words = 16, .supported = 0x10});
    ASSERT_EQ(file.size(), ZMFG_MAX_FCOE_FW_SIZE);
    Bytes larger = file;
    larger.push_back(0);

    EXPECT_EQ(ZMFGUpdateFCoEFirmwareFromFileToHBAPort(Port(0), File(larger).c_str(), 3), ZMFG_WRONG_SIZE);
    EXPECT_TRUE(Writes().empty());
    EXPECT_TRUE(Has(Output(), "is not an acceptable flash FW file for this HBA (Instance 0 - KV8031), wrong size!"))
        << Output();
    ASSERT_EQ(ZMFGUpdateFCoEFirmwareFromFileToHBAPort(Port(0), File(file).c_str(), 3), ZMFG_SUCCESS) << Output();
    EXPECT_TRUE(StartsWith(zvfix::ReadRegion(HostDir(), 0, 0xA4), file));
}

TEST_F(ZmfgUpdate, BootCodeFromTheFileIsCheckedPatchedAndWritten) {
    zvfix::AdapterSpec& a = host_.AddTorvi(0x8031);
    const Bytes old = Pattern(0x40000, 9);   // no ROM chain at all
    a.SetRegion(0xA2, old);
    Start();
    const Bytes chain = zvfix::MakeBootCodeChain(0x8031);

    // A file larger than the region is refused before anything is written.
    EXPECT_EQ(ZMFGFlashRegionUpdate(Port(0), File(Pattern(0x40001, 1)).c_str(), 0xA2), ZMFG_WRONG_SIZE);
    EXPECT_TRUE(Writes().empty());

    ASSERT_EQ(ZMFGFlashRegionUpdate(Port(0), File(chain).c_str(), 0xA2), ZMFG_SUCCESS) << Output();
    const Bytes region = zvfix::ReadRegion(HostDir(), 0, 0xA2);
    EXPECT_EQ(zvfix::RomDeviceId(region, 0), 0x8031);
    EXPECT_TRUE(zvfix::BiosChecksumOk(region, 0));
    // The PXE image is never patched: it is the file's, byte for byte.
    const auto at = zvfix::RomImageOffsets({zvfix::RomImageSpec::Bios(0x8031), zvfix::RomImageSpec::FCode(0x8031),
                                            zvfix::RomImageSpec::Efi(0x8031), zvfix::RomImageSpec::Pxe(0x8031)});
    EXPECT_TRUE(std::equal(chain.begin() + static_cast<long>(at[3]), chain.end(),
                           region.begin() + static_cast<long>(at[3])));
    EXPECT_TRUE(std::equal(old.begin() + static_cast<long>(chain.size()), old.end(),
                           region.begin() + static_cast<long>(chain.size())));
}

TEST_F(ZmfgUpdate, OpenPowerBootCodeIsCheckedForItsOwnDeviceId) {
    host_.AddChip25(0x2061, 1);
    Start();
    // Its chain passes the checks and goes on to the session, which the
    // library opens on no board of this id.
    EXPECT_EQ(ZMFGFlashRegionUpdate(Port(0), File(zvfix::MakeBootCodeChain(0x2061)).c_str(), 0x07),
              ZMFG_SESSION_FAILED);
    EXPECT_TRUE(Has(Output(), "Flash update failed on this HBA (Instance 0) with error (0x20000066)")) << Output();
    EXPECT_TRUE(Writes().empty());
}

TEST_F(ZmfgUpdate, NotActivatedWritesOutsideASessionReturnTheLibraryAnswer) {
    // Chip type 24 writes without a session; chip type 25 inside one.
    host_.AddTorvi(0x2031).faults.push_back(zvfix::FaultSpec::NotActivated());
    host_.AddChip25(0x2261, 1).faults.push_back(zvfix::FaultSpec::NotActivated());
    host_.AddTorvi(0x8031).faults.push_back(zvfix::FaultSpec::NotActivated());   // FCoE boot code: never a session
    Start();
    const std::string preload = File(Pattern(0x100, 1));
    EXPECT_EQ(ZMFGFlashRegionUpdate(Port(0), File(zvfix::MakeBootCodeChain(0x2031)).c_str(), 0x07),
              ZMFG_WRITTEN_NOT_ACTIVATED)
        << Output();
    EXPECT_EQ(ZMFGFlashRegionUpdate(Port(0), preload.c_str(), 0x13), ZMFG_WRITTEN_NOT_ACTIVATED);
    EXPECT_EQ(ZMFGFlashRegionUpdate(Port(0), File(zvfix::MakeFirmwareImage({.supported = 0x20})).c_str(), 0x01),
              ZMFG_SUCCESS_REBOOT)
        << "RISC firmware is 201 with or without a session";
    EXPECT_EQ(ZMFGFlashRegionUpdate(Port(2), preload.c_str(), 0x13), ZMFG_SUCCESS_REBOOT);
    EXPECT_EQ(ZMFGFlashRegionUpdate(Port(3), File(zvfix::MakeBootCodeChain(0x8031)).c_str(), 0xA2),
              ZMFG_WRITTEN_NOT_ACTIVATED)
        << Output();
    EXPECT_EQ(Writes().size(), 5u);
}

// A write that fails inside a flash-update session still ends the session:
// the failure is said with its status, and the next update of the adapter
// opens a session of its own and writes.
TEST_F(ZmfgUpdate, FailedWriteInsideASessionEndsTheSession) {
    zvfix::AdapterSpec& a = host_.AddChip25(0x2261, 1);   // chip type 25: writes inside a session
    for (uint32_t region : {zvfix::kRegionBoot1, zvfix::kRegionFirmware1, zvfix::kRegionPreload1})
        a.faults.push_back(zvfix::FaultSpec::Fail("flash_write", 0x20000001, 1).OnRegion(region));
    Start();
    const std::string text = SDGetErrorString(0x20000001);
    const struct {
        uint32_t region;
        Bytes file;
        SD_INT32 status;
        std::string message;
    } cases[] = {
        {zvfix::kRegionBoot1, zvfix::MakeBootCodeChain(0x2261), ZMFG_BOOT_WRITE_FAILED,
         "with error (0x20000001) (" + text + ")!\n"},
        {zvfix::kRegionFirmware1, zvfix::MakeFirmwareImage({.supported = 0x40}), ZMFG_FW_WRITE_FAILED,
         "with error (0x20000001) (" + text + ")!\n"},
        // Any other region names the status it ends with, not the library's answer.
        {zvfix::kRegionPreload1, Pattern(0x100, 4), ZMFG_BOOT_WRITE_FAILED,
         "with error (0x1ca) (" + std::string(SDGetErrorString(0x1CA)) + ")!\n"},
    };
    for (const auto& c : cases) {
        const std::string file = File(c.file);
        const size_t before = Writes().size();
        EXPECT_EQ(ZMFGFlashRegionUpdate(Port(0), file.c_str(), c.region), c.status) << std::hex << c.region;
        EXPECT_TRUE(Has(Output(), "Flash update failed on this HBA (Instance 0) " + c.message)) << Output();
        EXPECT_EQ(Writes().size(), before) << "the failed write stored nothing";

        ASSERT_EQ(ZMFGFlashRegionUpdate(Port(0), file.c_str(), c.region), ZMFG_SUCCESS)
            << std::hex << c.region << "\n" << Output();
        ASSERT_EQ(Writes().size(), before + 1);
        EXPECT_EQ(Writes().back().region, c.region);
    }
    EXPECT_TRUE(StartsWith(zvfix::ReadRegion(HostDir(), 0, zvfix::kRegionPreload1), cases[2].file));
}

TEST_F(ZmfgUpdate, SoftRomNeedsATessikPortAndAnActivatedWrite) {
    zvfix::AdapterSpec& tessik = host_.AddOlder(0x2532);
    tessik.subVendorId = 0x103C;
    tessik.subSystemId = 0x8002;
    tessik.layout.push_back({0x03, 0x100000, 0x10000, false});
    tessik.faults.push_back(zvfix::FaultSpec::NotActivated().OnRegion(0x03));
    host_.AddOlder(0x2532).subSystemId = 0x0140;
    Start();
    const std::string file = File(Pattern(0x800, 5));

    EXPECT_EQ(ZMFGUpdateSoftROMFirmwareFromFileToHBAPort(Port(2), file.c_str(), 3), ZMFG_UNSUPPORTED_PORT);
    EXPECT_TRUE(Has(Output(), "Current command is not supported with HBA instance 2 - KV2532!")) << Output();
    // Written but not taken: not done.
    EXPECT_EQ(ZMFGUpdateSoftROMFirmwareFromFileToHBAPort(Port(0), file.c_str(), 3), ZMFG_SOFTROM_FAILED);
    EXPECT_TRUE(Has(Output(), "Flash update failed on this HBA (Instance 0) with error (0x20000100)")) << Output();
    EXPECT_FALSE(Has(Output(), "Soft ROM update complete"));

    // Over every port: the Tessik's failure counts; the other adapter is passed over.
    const size_t writes = Writes().size();
    EXPECT_EQ(ZMFGUpdateSoftROMFirmwareFromFileToAllHBAs(file.c_str(), 3, 0), ZMFG_SOFTROM_FAILED);
    for (size_t i = writes; i < Writes().size(); ++i) EXPECT_EQ(Writes()[i].adapter, 0);
    EXPECT_GT(Writes().size(), writes);
    EXPECT_FALSE(Has(Output(), "Unable to find any matching adapter!"));
    EXPECT_EQ(ZMFGUpdateSoftROMFirmwareFromFileToAllHBAs(file.c_str(), 2, 0), ZMFG_NO_DEVICE);
    EXPECT_TRUE(Has(Output(), "Unable to find any matching adapter!"));
}

TEST_F(ZmfgUpdate, AllAdapterFirmwareUpdateFollowsTheSubsystemFilter) {
    host_.AddTorvi(0x2031).subSystemId = 0x0318;
    host_.AddTorvi(0x2031).subSystemId = 0x0319;
    host_.AddTorvi(0x8031);   // chip type 21: never an FC firmware target
    Start();
    const std::string file = File(zvfix::MakeFirmwareImage({.supported = 0x20}));

    ASSERT_EQ(ZMFGUpdateFCFirmwareFromFileToAllHBAs(file.c_str(), 3, 0x0319), ZMFG_SUCCESS) << Output();
    for (const auto& w : Writes()) EXPECT_EQ(w.adapter, 1) << "only the adapter of that subsystem id";
    const size_t one = Writes().size();
    EXPECT_GE(one, 1u);

    ASSERT_EQ(ZMFGUpdateFCFirmwareFromFileToAllHBAs(file.c_str(), 3, 0xFFFF), ZMFG_SUCCESS) << Output();
    std::vector<int> adapters;
    for (const auto& w : Writes()) adapters.push_back(w.adapter);
    EXPECT_EQ(std::count(adapters.begin(), adapters.end(), 0), static_cast<long>(one));
    EXPECT_EQ(std::count(adapters.begin(), adapters.end(), 2), 0);

    EXPECT_EQ(ZMFGUpdateFCFirmwareFromFileToAllHBAs(file.c_str(), 2, 0xFFFF), ZMFG_NO_DEVICE) << "none ran";

    // FCoE firmware goes only to the chip-type-21 adapter, into region 0xA4.
    const size_t before = Writes().size();
    const std::string fcoe = File(zvfix::MakeFirmwareImage({.supported = 0x10}));
    EXPECT_EQ(ZMFGUpdateFCoEFirmwareFromFileToAllHBAs(fcoe.c_str(), 3, 0x0318), ZMFG_NO_DEVICE) << "other id";
    ASSERT_EQ(ZMFGUpdateFCoEFirmwareFromFileToAllHBAs(fcoe.c_str(), 3, 0xFFFF), ZMFG_SUCCESS) << Output();
    ASSERT_GT(Writes().size(), before);
    for (size_t i = before; i < Writes().size(); ++i) {
        EXPECT_EQ(Writes()[i].adapter, 2);
        EXPECT_EQ(Writes()[i].region, 0xA4u);
    }
    EXPECT_EQ(ZMFGUpdateFCoEFirmwareFromFileToAllHBAs(file.c_str(), 3, 0xFFFF), ZMFG_FCOE_FW_WRITE_FAILED)
        << "the FC firmware file is refused there";
}

}  // namespace
