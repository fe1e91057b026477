// The adapter-entry list: supported flags and descriptions from the table, the
// flash permission verdicts the update flows act on, the ordered insert, the
// session token and the lockdown query.
#include "frontend/adapter_entry_list.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "fixtures/adapters_properties_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/lists_host.h"
#include "frontend/hba_device_list.h"

namespace {

using zvfix::ListsHost;

AdapterEntry* Entry(uint64_t wwpn, uint16_t deviceId = 0x2261, uint16_t interfaceType = 1) {
    AdapterEntry* e = CreateNewAdapter();
    for (int i = 0; i < 8; ++i) {
        e->WWPN[i] = static_cast<SD_UINT8>(wwpn >> (56 - 8 * i));
        e->WWNN[i] = e->WWPN[i];
    }
    e->DeviceID = deviceId;
    e->InterfaceType = interfaceType;
    return e;
}

class EntryList : public ::testing::Test {
protected:
    void SetUp() override { InitAdapterList(); }
    void TearDown() override { RemoveAllAdaptersFromAdapterList(); }
};

// ---- Supported flags -------------------------------------------------------------------

TEST(AdapterEntries, TableGivesSupportedFlagsAndDescriptions) {
    zvfix::HostBuilder h;
    h.AddChip25TwoPort();                            // 0x0289: TRUE
    h.AddChip25(0x2261, 1).subSystemId = 0x0290;     // FALSE
    h.AddChip27();                                   // 0x02A9: no row
    ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(0x0289, 0x1A77, "TRUE", "Dual port model"),
                                            zvfix::TableRow(0x0290, 0x1A77, "FALSE", "Refused model")}));
    SD_UINT16 chip = 0;
    SDMDevice* p0 = ListsHost::CorePort(0);
    SDMDevice* p1 = ListsHost::CorePort(1);
    SDMDevice* pNo = ListsHost::CorePort(2);
    SDMDevice* pNone = ListsHost::CorePort(3);

    EXPECT_EQ(isAdapterSupported(p0, &chip), 1);
    EXPECT_EQ(chip, 25);
    EXPECT_STREQ(FindAdapterInAdapterListBySDMDevice(p0)->Description, "Dual port model");
    // A Gen6 two-port adapter may be flashed through either port.
    EXPECT_EQ(CheckAdapterFlashUpdateStatus(p0, 0), 1);
    EXPECT_EQ(CheckAdapterFlashUpdateStatus(p1, 0), 1);

    EXPECT_EQ(isAdapterSupported(pNo, &chip), 0);
    EXPECT_EQ(CheckAdapterFlashUpdateStatus(pNo, 0), 6);
    EXPECT_STREQ(FindAdapterInAdapterListBySDMDevice(pNo)->Description, "Refused model");

    chip = 0;
    EXPECT_EQ(isAdapterSupported(pNone, &chip), 0);
    EXPECT_EQ(chip, 27);   // the entry exists, only its flag is off
    EXPECT_EQ(CheckAdapterFlashUpdateStatus(pNone, 0), 6);
    EXPECT_STREQ(FindAdapterInAdapterListBySDMDevice(pNone)->Description, "");

    EXPECT_EQ(DetectSupportedAdapter(), 1);
    EXPECT_EQ(isAdapterSupported(nullptr, &chip), 0);
    EXPECT_EQ(CheckAdapterFlashUpdateStatus(nullptr, 1), 6);
}

TEST(AdapterEntries, WithoutTableEveryAdapterIsUnsupported) {
    zvfix::HostBuilder h;
    h.AddChip25TwoPort();
    ListsHost lists(h);
    ASSERT_EQ(GetCountOfEntryInAdapterList(), 2u);
    EXPECT_EQ(DetectSupportedAdapter(), 0);
    EXPECT_EQ(CheckAdapterFlashUpdateStatus(ListsHost::CorePort(0), 0), 6);
}

TEST(AdapterEntries, EntryFieldsFromThePort) {
    zvfix::HostBuilder h;
    auto& a = h.AddChip25TwoPort();
    a.bus = 0x41, a.slot = 5, a.serial = "SN-FIELDS";
    ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(0x0289, 0x1A77)}));
    const auto entries = ListsHost::Entries();
    ASSERT_EQ(entries.size(), 2u);
    const AdapterEntry* e = entries[1];
    // Number, PCI bus/device/function, port number, subsystem and subvendor ids, enable status.
    EXPECT_EQ((std::vector<unsigned>{e->Number, e->PciBusNumber, e->PciDeviceNumber, e->PciFuncNumber, e->PortNumber,
                                     e->SubSystemID, e->SubVendorID, e->EnableStatus}),
              (std::vector<unsigned>{1, 0x41, 5, 1, 2, 0x0289, 0x1A77, 1}));
    EXPECT_STREQ(e->SerialNumber, "SN-FIELDS");
    EXPECT_STREQ(e->cPortName, "21-00-00-11-AA-00-00-01");
}

TEST(AdapterEntries, SessionTokenAndPortQueries) {
    zvfix::HostBuilder h;
    auto& a = h.AddChip25TwoPort();
    a.ports[1].interfaceType = 3;
    ListsHost lists(h);
    SDMDevice* p0 = ListsHost::CorePort(0);
    SDMDevice* vport = ListsHost::CorePort(1);
    ASSERT_NE(vport, nullptr);
    EXPECT_EQ(UpdateFlashAccessAdapterEntry(p0, 0xC0FFEE), 0);
    EXPECT_EQ(FindAdapterInAdapterListBySDMDevice(p0)->FlashUpdateToken, 0xC0FFEEu);
    EXPECT_EQ(UpdateFlashAccessAdapterEntry(vport, 1), 8);
    EXPECT_EQ(UpdateFlashAccessAdapterEntry(nullptr, 1), 8);
    EXPECT_EQ(isVirtualPortHBA(vport), 1);
    EXPECT_EQ(isVirtualPortHBA(p0), 0);
    EXPECT_EQ(isFCOeHBA(p0), 0);
    EXPECT_EQ(isVirtualPortHBA(nullptr), 0);
    // A port unknown to the list.
    EXPECT_EQ(GetPortIndex(vport), 1);
    EXPECT_EQ(isAdapterSupported(vport, nullptr), 0);
    EXPECT_EQ(GetAdapterChipRevision(p0), 25);
    EXPECT_EQ(GetAdapterChipRevision(nullptr), 0);
}

// ---- Lockdown --------------------------------------------------------------------------

TEST(AdapterEntries, LockdownModeFollowsTheSupportBits) {
    zvfix::HostBuilder h;
    auto& on = h.AddChip25(0x2261, 1);
    on.lockdownSupport = 0x7, on.configDisable = 0x0, on.mpiDisable = 0x1, on.ispFwLockdown = 1;
    on.fwUpdateDisable = 0x8;                 // bit 3 alone also locks
    auto& off = h.AddChip27(0x2281, 1);
    off.lockdownSupport = 0x1;                // firmware-update lockdown not supported
    off.fwUpdateDisable = 0x1, off.ispFwLockdown = 1;
    h.AddChip25(0x2261, 1).lockdownSupport = 0x7;   // firmware without lockdown support
    h.AddChip25(0x2532, 1).chipType = 12;
    ListsHost lists(h);

    SD_UINT8 mode = 0xAA;
    EXPECT_EQ(GetAdapterLockdownMode(ListsHost::CorePort(0), 1, &mode), 0);
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(GetAdapterLockdownMode(ListsHost::CorePort(0), 0, &mode), 0);
    EXPECT_EQ(mode, 0);
    EXPECT_EQ(GetAdapterLockdownMode(ListsHost::CorePort(0), 2, &mode), 0);
    EXPECT_EQ(mode, 1);
    mode = 0xAA;
    EXPECT_EQ(GetAdapterLockdownMode(ListsHost::CorePort(1), 1, &mode), 0);
    EXPECT_EQ(mode, 0);
    EXPECT_EQ(GetAdapterLockdownMode(ListsHost::CorePort(2), 1, &mode), 222);
    EXPECT_EQ(GetAdapterLockdownMode(ListsHost::CorePort(3), 1, &mode), 121);
    EXPECT_EQ(GetAdapterLockdownMode(nullptr, 1, &mode), 8);
}

// ---- The list itself ------------------------------------------------------------------------

TEST_F(EntryList, DuplicatesAreRefusedAndNothingLeaks) {
    AdapterEntry* a = Entry(0x2100000000000002);
    AdapterEntry* b = Entry(0x2100000000000002);
    EXPECT_EQ(AddNewAdapterToAdapterList(a), 0);
    EXPECT_EQ(AddNewAdapterToAdapterList(b), -1);
    EXPECT_EQ(AddAdapterToAdapterList(b), -1);
    EXPECT_EQ(AddNewAdapterToAdapterList(nullptr), -1);
    EXPECT_EQ(GetCountOfEntryInAdapterList(), 1u);
    EXPECT_EQ(FindAdapterInAdapterList(b), b);
    EXPECT_EQ(DeleteAdapter(b), 0);
    EXPECT_EQ(DeleteAdapter(nullptr), 8);
}

TEST_F(EntryList, OrderedInsertAscendsExceptAmongK7RPorts) {
    for (auto [wwpn, id] : std::vector<std::pair<uint64_t, uint16_t>>{
             {0x2100000000000005, 0x2261}, {0x2100000000000001, 0x2261}, {0x2100000000000003, 0x2261},
             {0x21000000000000F0, 0x8021}, {0x21000000000000F9, 0x8021}, {0x21000000000000F5, 0x8022}})
        ASSERT_EQ(AddAdapterToAdapterList(Entry(wwpn, id)), 0);
    std::vector<uint64_t> got;
    for (const AdapterEntry* e = GetAdapterList()->first; e != nullptr; e = e->next) got.push_back(ListsHost::Wwpn(e));
    const std::vector<uint64_t> want = {0x2100000000000001, 0x2100000000000003, 0x2100000000000005,
                                        0x21000000000000F9, 0x21000000000000F5, 0x21000000000000F0};
    EXPECT_EQ(got, want);
    EXPECT_EQ(GetAdapterList()->last->prev->next, GetAdapterList()->last);
    EXPECT_EQ(GetCountOfEntryInAdapterList(), 6u);
}

TEST_F(EntryList, FcoeEntryGivesSeven) {
    zvfix::HostBuilder h;
    auto& a = h.AddChip25(0x2261, 1);
    a.ports[0].interfaceType = 4;
    ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(0x0289, 0x1A77)}));
    SDMDevice* fcoe = ListsHost::CorePort(0);
    ASSERT_NE(fcoe, nullptr);
    EXPECT_EQ(CheckAdapterFlashUpdateStatus(fcoe, 0), 6);   // not in the list
    // Known to the list (as a converged adapter's port would be): refused as FCoE.
    AdapterEntry* e = CreateNewAdapter();
    ASSERT_EQ(CreateAdapterEntryFromSDMDevice(fcoe, e), 0);
    EXPECT_EQ(e->InterfaceType, ADAPTER_IF_FCOE);
    e->EnableStatus = 1;
    ASSERT_EQ(AddNewAdapterToAdapterList(e), 0);
    EXPECT_EQ(CheckAdapterFlashUpdateStatus(fcoe, 0), 7);
}

}  // namespace
