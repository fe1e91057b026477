// The update dispatch over a simulated host, in process: update classes by
// chip family, the refusals and what they leave in the caller's count, the
// request registered for the engines, and the port the flash goes through.
#include "dispatch/update_dispatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>

#include "engines/engine_entry.h"
#include "fixtures/adapters_properties_builder.h"
#include "fixtures/flash_cfg_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/lists_host.h"
#include "fixtures/rom_chain_builder.h"
#include "frontend/install_dir.h"
#include "frontend/output.h"
#include "frontend/hba_device_list.h"
#include "image/option_rom_request.h"
#include "support/e2e_support.h"

namespace {

using zvfix::ListsHost;

constexpr uint16_t kVendor = 0x1A77;

class UpdateDispatch : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /tmp";
        image = dir.Path() + "/mbi.bin";
        const std::string bytes = zvfix::StandInImage(0x3000);
        zvfix::WriteBytes(image, zvfix::Bytes(bytes.begin(), bytes.end()));
    }
    void TearDown() override { freeUserOptionROMReq(); }

    zvtest::TempDir dir;
    std::string image;
};

// The first list port of the adapter with that subsystem id.
SDMDevice* PortOf(uint16_t ssid) {
    for (SDMDevice* d : ListsHost::Ports())
        if (d->DeviceChipProperty.SubSystemID == ssid) return d;
    return nullptr;
}

TEST_F(UpdateDispatch, UpdateClassesFollowTheChipFamilyAndTheAdapterTable) {
    zvfix::HostBuilder h;
    h.AddChip25TwoPort().subSystemId = 0x0289;
    h.AddChip27().subSystemId = 0x02A9;
    h.AddChip27().subSystemId = 0x02AA;          // listed, not supported
    ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(0x0289, kVendor), zvfix::TableRow(0x02A9, kVendor),
                                            zvfix::TableRow(0x02AA, kVendor, "FALSE")}));
    EXPECT_EQ(doISPCheckForOptionROM(PortOf(0x0289)), UPDCLASS_DORNE);
    EXPECT_EQ(doISPCheckForOptionROM(PortOf(0x02A9)), UPDCLASS_VREL);
    EXPECT_EQ(doISPCheckForOptionROM(PortOf(0x02AA)), UPDCLASS_UNSUPPORTED);
    EXPECT_EQ(doISPCheckForOptionROM(nullptr), UPDCLASS_UNSUPPORTED);

    // The adapter-table refusal comes before the update class and leaves the count alone.
    SD_UINT16 count = 77;
    EXPECT_EQ(updateOptionROMSingleHBA(PortOf(0x02AA), image.c_str(), &count, 0, 1), UPD_UNSUPPORTED);
    EXPECT_EQ(count, 77);
    EXPECT_EQ(updateOptionROMSingleHBA(nullptr, image.c_str(), &count, 0, 1), UPD_NO_DEVICE);
    EXPECT_EQ(count, 0);
}

TEST_F(UpdateDispatch, VirtualPortsAndLockedDownAdaptersAreRefusedFirst) {
    zvfix::HostBuilder h;
    zvfix::AdapterSpec& a = h.AddChip27();
    a.subSystemId = 0x02A9, a.ports[1].interfaceType = 3;
    zvfix::AdapterSpec& locked = h.AddChip27();
    locked.subSystemId = 0x02AA, locked.lockdownStatus = 0x20000113;
    locked.lockdownSupport = 0x2, locked.fwUpdateDisable = 0x1, locked.ispFwLockdown = 0x1;
    ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(0x02A9, kVendor), zvfix::TableRow(0x02AA, kVendor)}));

    SD_UINT16 count = 77;
    SDMDevice* vport = ListsHost::CorePort(1);
    ASSERT_NE(vport, nullptr);
    EXPECT_EQ(updateOptionROMSingleHBA(vport, image.c_str(), &count, 0, 1), UPD_VIRTUAL_PORT);
    EXPECT_EQ(count, 77);
    EXPECT_EQ(updateOptionROMSingleHBA(PortOf(0x02AA), image.c_str(), &count, 1, 1), UPD_LOCKDOWN);
    EXPECT_EQ(count, 77);
    EXPECT_EQ(g_ptrOptionROMRequest, nullptr) << "nothing registered for a refused adapter";
}

// A Gen6 adapter that passes every check reaches its family engine, which
// refuses the stand-in image with its own status: never 0, 2 or 201, and
// never counted.
TEST_F(UpdateDispatch, Gen6AdaptersReachTheirEngineWithAnAllRegionsRequest) {
    zvfix::HostBuilder h;
    h.AddChip25TwoPort().subSystemId = 0x0289;
    h.AddChip27().subSystemId = 0x02A9;
    ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(0x0289, kVendor), zvfix::TableRow(0x02A9, kVendor)}));
    const std::string hostDir = lists.Dir() + "/host";

    for (uint16_t ssid : {uint16_t{0x0289}, uint16_t{0x02A9}}) {
        SD_UINT16 count = 77;
        const SD_INT32 st = updateOptionROMSingleHBA(PortOf(ssid), image.c_str(), &count, 0, 1);
        EXPECT_TRUE(st != UPD_SUCCESS && st != UPD_NOT_NEEDED && st != UPD_SUCCESS_REBOOT) << st;
        EXPECT_EQ(count, 0);
        ASSERT_NE(g_ptrOptionROMRequest, nullptr);
        const auto& req = *g_ptrOptionROMRequest;
        EXPECT_EQ(std::tuple(req.Region, std::string(req.optROMFile), req.iFileSize),
                  std::tuple(OPTROM_REGION_ALL, image, 0x3000u));
    }
    EXPECT_TRUE(zvfix::ReadJournal(hostDir).empty());

    // An image that cannot be opened ends the dispatch with the request's status.
    SD_UINT16 count = 77;
    EXPECT_EQ(updateOptionROMSingleHBA(PortOf(0x02A9), (dir.Path() + "/none.bin").c_str(), &count, 0, 1),
              OPTROM_REQ_OPEN_FAILED);
}

TEST_F(UpdateDispatch, FlashGoesThroughTheSiblingWhoseSequenceNumberIsOneLower) {
    zvfix::HostBuilder h;
    h.AddChip27().subSystemId = 0x02A9;
    h.AddChip27().subSystemId = 0x02AA;
    ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(0x02A9, kVendor), zvfix::TableRow(0x02AA, kVendor)}));
    const auto ports = ListsHost::Ports();
    ASSERT_EQ(ports.size(), 4u);
    SDMDevice *first = ports[0], *second = ports[1], *other = ports[2];

    first->DeviceFlashSequenceNumber = 2;
    second->DeviceFlashSequenceNumber = 1;
    other->DeviceFlashSequenceNumber = 1;   // another adapter: never chosen
    EXPECT_EQ(FindSDMDeviceToUpdateFlash(first), second);
    EXPECT_EQ(FindSDMDeviceToUpdateFlash(second), second) << "an odd number is the port itself";
    second->DeviceFlashSequenceNumber = 3;
    EXPECT_EQ(FindSDMDeviceToUpdateFlash(first), first) << "no sibling one lower";
    EXPECT_EQ(FindSDMDeviceToUpdateFlash(nullptr), nullptr);
}

// The oldest adapters (update classes 2 to 4; no family option of "-b" takes
// them) get a whole 128 KiB image patched for them; its closing "complete"
// is an information line only, not an output-file line.
TEST_F(UpdateDispatch, OldestAdapterTakesA128KImagePatchedForItAndRefusesOthers) {
    zvfix::HostBuilder h;
    h.AddOlder(0x2312);
    ListsHost lists(h, zvfix::AdapterTableFor(h));
    ASSERT_EQ(VORNSetInstallationDir(lists.Dir().c_str(), lists.Dir().size()), 0);
    const std::string hostDir = lists.Dir() + "/host";
    const std::string rom = dir.Path() + "/rom.bin";
    struct Case {
        zvfix::Bytes file;
        SD_INT32 status;
        std::string outputFile;
    };
    const Case cases[] = {
        {zvfix::MakeOptionRomFile(0x2312, 0x20001), -1,
         rom + " is not an acceptable multi-bootimage file for this HBA (Instance 0), wrong size!\n"},
        {zvfix::MakeOptionRomFile(0x2422, 0x20000), 10,
         "Incorrect flash image for HBA instance 0 (KV2312)(ssdid=0x304 ssvid=0x1a77)!\n"},
        {zvfix::MakeOptionRomFile(0x2312, 0x20000), UPD_SUCCESS, ""},
    };
    for (const Case& c : cases) {
        zvfix::WriteBytes(rom, c.file);
        zvtest::ClearLogs();
        ResetOutputChannels();
        ASSERT_EQ(SetOutOutFile(), 0);
        SD_UINT16 count = 77;
        EXPECT_EQ(updateOptionROMSingleHBA(ListsHost::Ports().at(0), rom.c_str(), &count, 0, 1), c.status);
        EXPECT_EQ(count, c.status == UPD_SUCCESS ? 1 : 0);
        EXPECT_EQ(zvtest::ReadFile(GetOutPutFile()), c.outputFile);
    }
    ASSERT_EQ(zvfix::ReadJournal(hostDir).size(), 1u) << "the refused files wrote nothing";
    const zvfix::Bytes flash = zvfix::ReadRegion(hostDir, 0, 0x07);
    const zvfix::Bytes& file = cases[2].file;
    EXPECT_TRUE(zvfix::BiosChecksumOk(flash, 0));
    EXPECT_EQ(std::string(flash.begin() + 68, flash.begin() + 75), "KV2312 ");   // the common image names the adapter
    EXPECT_TRUE(std::equal(file.begin() + 0x1000, file.end(), flash.begin() + 0x1000));
    EXPECT_EQ(flash[0x20000], 0xFF);   // the rest of the region is not touched
}

}  // namespace
