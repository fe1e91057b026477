// The front end's device list over simulated hosts: which ports it holds, in
// which order, the serial number each port reports, adapters without one kept
// apart, and the port state texts. (Virtual and FCoE ports left out are
// checked by whole runs of the adapter display.)
#include "frontend/hba_device_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fixtures/adapters_properties_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/lists_host.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/adapter_entry_vports.h"
#include "frontend/device_list_lookups.h"
#include "frontend/model_predicates.h"

namespace {

using zvfix::ListsHost;

std::string Serial(const SDMDevice* d) {
    char text[VORN_SERIAL_SIZE]{};
    EXPECT_EQ(GetAdapterSerialNo(d, text, sizeof text), 0);
    return text;
}

std::string State(SDMDevice* d, int* status = nullptr) {
    char text[VORN_STATE_SIZE]{};
    const int s = GetAdapterStatus(d, text, sizeof text);
    if (status != nullptr) *status = s;
    return text;
}

// ---- Order and contents ------------------------------------------------------------

TEST(DeviceList, OrderedBySerialThenWwpnWithEntriesInStep) {
    zvfix::HostBuilder h;
    h.AddChip25Ports("ZV-C", {0x2100000000000005, 0x2100000000000001});   // instances 0, 1
    h.AddChip25Ports("ZV-A", {0x2100000000000006, 0x2100000000000004});   // 2, 3
    h.AddChip25Ports("ZV-B", {0x2100000000000002});                       // 4
    ListsHost lists(h);

    // The order itself is checked by whole runs of the adapter display; one
    // entry per port, in the same order.
    const auto ports = ListsHost::Ports();
    const auto entries = ListsHost::Entries();
    ASSERT_EQ(ports.size(), 5u);
    ASSERT_EQ(entries.size(), 5u);
    for (size_t i = 0; i < ports.size(); ++i) EXPECT_EQ(ListsHost::Wwpn(entries[i]), ListsHost::Wwpn(ports[i])) << i;
    EXPECT_EQ(Serial(ports[0]), "ZV-A");

    // The physical port index follows the PCI function, not the list position.
    EXPECT_EQ(GetPortIndex(ports[0]), 2);   // 0x...04 is function 1 of ZV-A
    EXPECT_EQ(GetPortIndex(ports[1]), 1);
    EXPECT_EQ(GetNumberOfPortsOnThisHBA(ports[0]), 2);
    EXPECT_EQ(GetNumberOfPortsOnThisHBA(ports[2]), 1);
    EXPECT_EQ(QueryHBAType(ports[0]), 1);
    EXPECT_EQ(QueryHBAType(ports[2]), 0);

    // Lookups return the list's own records.
    EXPECT_EQ(FindDeviceInDeviceListByDeviceNumber(4), ports[2]);
    EXPECT_EQ(FindDeviceInDeviceListByDeviceNumber(99), nullptr);
    EXPECT_EQ(FindDeviceInDeviceListByDeviceWWPN(ports[3]->DevicePortProperty.WWN), ports[3]);
    EXPECT_EQ(FindDeviceInDeviceListByAdapterEntry(entries[1]), ports[1]);
}

// Serial numbers one of which begins with the other: the ports of an
// adapter are those whose serial numbers read the same, no more, no fewer.
TEST(DeviceList, PortsOfAnAdapterAreThoseWhoseSerialNumbersReadTheSame) {
    zvfix::HostBuilder h;
    h.AddChip25Ports("ZV-A", {0x2100000000000001, 0x2100000000000002});
    h.AddChip25Ports("ZV-AB", {0x2100000000000003});
    h.AddChip25Ports("ZV-", {0x2100000000000004, 0x2100000000000005, 0x2100000000000006});
    ListsHost lists(h);
    const auto ports = ListsHost::Ports();
    ASSERT_EQ(ports.size(), 6u);
    std::vector<std::string> seen;
    for (const SDMDevice* p : ports) seen.push_back(Serial(p) + ":" + std::to_string(GetNumberOfPortsOnThisHBA(p)));
    EXPECT_EQ(seen, (std::vector<std::string>{"ZV-:3", "ZV-:3", "ZV-:3", "ZV-A:2", "ZV-A:2", "ZV-AB:1"}));
}

// A VPD or NVRAM read that the adapter answers busy (resetting) is asked
// again: the serial number and the NVRAM's subsystem ids are the adapter's.
TEST(DeviceList, BusyVpdAndNvramReadsAreAskedAgain) {
    zvfix::HostBuilder h;
    auto& a = h.AddChip25(0x2261, 1);
    a.vpd.sn = "ZV-BUSY";   // the node property says otherwise
    a.faults.push_back(zvfix::FaultSpec::Busy("vpd_read", 3));
    a.faults.push_back(zvfix::FaultSpec::Busy("nvram_read", 3, 0x20000075));
    ListsHost lists(h);
    const auto ports = ListsHost::Ports();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(Serial(ports[0]), "ZV-BUSY");
    EXPECT_EQ(GetNvramSubSystemID(ports[0]), a.subSystemId);
}

// Adapters whose serial number cannot be read all say "N/A", yet each keeps
// its own ports: counts, siblings, version refreshes and the adapter-entry
// look-ups never reach into another such adapter.
TEST(DeviceList, AdaptersWithoutASerialSayNaButKeepTheirOwnPorts) {
    zvfix::HostBuilder h;
    auto& unreadable = h.AddChip25TwoPort();            // bus 3: the VPD cannot be read
    unreadable.serial = "";
    unreadable.faults.push_back(zvfix::FaultSpec::Fail("vpd_read", 0x20000075));
    h.AddChip25TwoPort().serial = "";                    // bus 4: an empty serial number
    h.AddChip25TwoPort().serial = "N/A";                 // bus 5: a serial number reading "N/A"
    ListsHost lists(h);
    const auto ports = ListsHost::Ports();
    ASSERT_EQ(ports.size(), 6u);
    const auto bus = [](const SDMDevice* d) { return static_cast<int>(d->DeviceChipProperty.PciBusNumber); };
    // The list keeps each adapter's ports together, adapters in PCI order.
    std::vector<int> buses;
    for (const SDMDevice* p : ports) buses.push_back(bus(p));
    EXPECT_EQ(buses, (std::vector<int>{3, 3, 4, 4, 5, 5}));
    for (SDMDevice* p : ports) {
        EXPECT_EQ(Serial(p), "N/A") << bus(p);
        EXPECT_EQ(GetNumberOfPortsOnThisHBA(p), 2) << bus(p);
        const SDMDevice* sibling = FindAdapterPortMultiPortHBA(p);
        ASSERT_NE(sibling, nullptr);
        EXPECT_EQ(bus(sibling), bus(p));
    }
    // The adapter-entry look-up by port finds the port's own entry.
    for (SDMDevice* p : ports) {
        const AdapterEntry* e = FindAndUpdateAdapterInAdapterListBySDMDevice(p);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->PciBusNumber, bus(p));
        EXPECT_STREQ(e->SerialNumber, "N/A");
    }
    // New versions of the second adapter's first port reach its second port only.
    SDMDevice* first = ports[2]->DeviceChipProperty.PciSlotNumber % 8 == 0 ? ports[2] : ports[3];
    SDMDevice* second = first == ports[2] ? ports[3] : ports[2];
    DEVICENODEPROPERTY versions = first->DeviceNodeProperty;
    std::memcpy(versions.FirmwareVersion, "9.99.99", 8);
    for (SDMDevice* p : ports) std::strcpy(p->DeviceNodeProperty.FirmwareVersion, "stale");
    EXPECT_EQ(UpdateOtherPortDeviceNodeProperty(first, &versions), 0);
    for (SDMDevice* p : ports)
        EXPECT_STREQ(p->DeviceNodeProperty.FirmwareVersion, p == second ? "9.99.99" : "stale") << p->DeviceNumber;
    EXPECT_EQ(UpdateHBADeviceNodeProperty(ports[0]), 0);
    for (SDMDevice* p : ports)
        EXPECT_STREQ(p->DeviceNodeProperty.FirmwareVersion, bus(p) == 3 ? "9.08.01" : p == second ? "9.99.99" : "stale")
            << p->DeviceNumber;
}

TEST(DeviceList, EmptyHostGivesEmptyListsAndCleanUpIsRepeatable) {
    zvfix::HostBuilder h;
    {
        ListsHost lists(h);
        EXPECT_EQ(GetMyDeviceList()->firstDevice, nullptr);
        EXPECT_EQ(GetCountOfEntryInAdapterList(), 0u);
    }
    EXPECT_EQ(CloneFreeVORNDeviceList(), 0);
    EXPECT_EQ(GetMyDeviceList()->count, 0u);
}

// ---- Serial numbers --------------------------------------------------------------------

TEST(DeviceList, SerialComesFromVpdOnNewChipsAndNodeOnOldOnes) {
    zvfix::HostBuilder h;
    auto& gen6 = h.AddChip25(0x2261, 1);
    gen6.serial = "NODE-SN-6", gen6.vpd.sn = "VPD-SN-6";
    auto& old = h.AddChip25(0x2312, 1);
    old.chipType = 4, old.serial = "NODE-SN-4", old.vpd.sn = "VPD-SN-4";
    auto& unreadable = h.AddChip25TwoPort();   // a Gen6 VPD that cannot be read: the node's serial
    unreadable.serial = "NODE-ONLY";
    unreadable.faults.push_back(zvfix::FaultSpec::Fail("vpd_read", 0x20000075));
    ListsHost lists(h);
    EXPECT_EQ(Serial(ListsHost::CorePort(2)), "NODE-ONLY");
    EXPECT_EQ(GetNumberOfPortsOnThisHBA(ListsHost::CorePort(2)), 2);

    char text[VORN_SERIAL_SIZE]{};
    SDMDevice* p6 = ListsHost::CorePort(0);
    SDMDevice* p4 = ListsHost::CorePort(1);
    ASSERT_TRUE(p6 && p4);
    ASSERT_EQ(GetSerialNo(p6, text, sizeof text), 0);
    EXPECT_STREQ(text, "VPD-SN-6");
    ASSERT_EQ(GetSerialNo(p4, text, sizeof text), 0);
    EXPECT_STREQ(text, "NODE-SN-4");

    EXPECT_EQ(GetSerialNo(nullptr, text, sizeof text), 8);
    EXPECT_EQ(GetAdapterSerialNo(nullptr, text, sizeof text), 0);
    EXPECT_STREQ(text, "N/A");
    // A small buffer is filled, never overrun.
    char small[4] = {'x', 'x', 'x', 'x'};
    ASSERT_EQ(GetSerialNo(p6, small, sizeof small), 0);
    EXPECT_STREQ(small, "VPD");
}

// ---- Port state ----------------------------------------------------------------------------

TEST(DeviceList, PortStateTextsAndStatusBits) {
    zvfix::HostBuilder h;
    auto& a = h.AddChip25(0x2261, 4);
    a.ports[0].portState = 1;                                   // online
    a.ports[1].portState = 2;                                   // down, nothing special
    a.ports[2].portState = 2, a.ports[2].linkState2 = 1;        // down, no SFP
    // Down, SFP of an unknown vendor.
    a.ports[3].portState = 3, a.ports[3].linkState2 = 6, a.ports[3].linkState3 = 1;
    auto& b = h.AddChip25(0x2261, 2);
    // Diagnostic mode: bits 0 and 9.
    b.ports[0].portState = 2, b.ports[0].linkState1 = 2, b.ports[0].linkState2 = 3;
    b.ports[1].portState = 1, b.ports[1].linkState3 = 0x8000;   // online with FEC
    ListsHost lists(h);

    int status = -1;
    EXPECT_EQ(State(ListsHost::CorePort(0), &status), "Online");
    EXPECT_EQ(status, 0);
    // The list records carry the status bits that were set while the lists were built.
    SDMDevice* down = FindDeviceInDeviceListByDeviceNumber(1);
    ASSERT_NE(down, nullptr);
    EXPECT_EQ(down->DeviceStatus, 0x1);
    EXPECT_EQ(State(down, &status), "Link Down");
    EXPECT_EQ(status, 1);
    SDMDevice* noSfp = FindDeviceInDeviceListByDeviceNumber(2);
    EXPECT_EQ(noSfp->DeviceStatus, 0x21);
    EXPECT_EQ(State(noSfp), "SFP not present");
    SDMDevice* vendor = FindDeviceInDeviceListByDeviceNumber(3);
    EXPECT_EQ(vendor->DeviceStatus, 0x101);
    EXPECT_EQ(State(vendor), "Unsupported SFP Vendor");
    SDMDevice* diag = FindDeviceInDeviceListByDeviceNumber(4);
    EXPECT_EQ(diag->DeviceStatus, 0x201);
    EXPECT_EQ(State(diag), "Loop Down, Diagnostic Mode");
    SDMDevice* fec = FindDeviceInDeviceListByDeviceNumber(5);
    EXPECT_EQ(State(fec, &status), "Online (FEC)");
    EXPECT_EQ(status, 0);

    // A port coming back on line clears its bits again.
    diag->DeviceStatus = 0x301;
    SDMDevice* online = FindDeviceInDeviceListByDeviceNumber(0);
    online->DeviceStatus = 0x1021;
    EXPECT_EQ(GetHBADevicePortStatus(online), 1);
    EXPECT_EQ(online->DeviceStatus, 0);
    EXPECT_EQ(GetHBADevicePortStatus(nullptr), 2);
}

TEST(DeviceList, FirmwareFecSupportByMajorVersion) {
    EXPECT_EQ(isFirmwareWithFECSupport("9.08.01"), 1);
    EXPECT_EQ(isFirmwareWithFECSupport("8.0"), 1);
    EXPECT_EQ(isFirmwareWithFECSupport("10 beta"), 1);
    EXPECT_EQ(isFirmwareWithFECSupport("7.99.99"), 0);
    EXPECT_EQ(isFirmwareWithFECSupport(""), 0);
    EXPECT_EQ(isFirmwareWithFECSupport("x.9"), 0);
    EXPECT_EQ(isFirmwareWithFECSupport(nullptr), 0);
}

TEST(DeviceList, NodePropertyRefreshReachesTheSiblingPort) {
    zvfix::HostBuilder h;
    h.AddChip25TwoPort();
    ListsHost lists(h);
    const auto ports = ListsHost::Ports();
    ASSERT_EQ(ports.size(), 2u);
    std::strcpy(ports[0]->DeviceNodeProperty.FirmwareVersion, "stale");
    std::strcpy(ports[1]->DeviceNodeProperty.FirmwareVersion, "stale");
    EXPECT_EQ(UpdateHBADeviceNodeProperty(ports[0]), 0);
    EXPECT_STREQ(ports[0]->DeviceNodeProperty.FirmwareVersion, "9.08.01");
    EXPECT_STREQ(ports[1]->DeviceNodeProperty.FirmwareVersion, "9.08.01");
    EXPECT_EQ(UpdateHBADeviceNodeProperty(nullptr), 8);
}

}  // namespace
