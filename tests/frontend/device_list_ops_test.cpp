// Further device-list operations over simulated hosts: look-ups, sibling and
// virtual-port searches, the start-up ordering and list maintenance.
#include "frontend/device_list_lookups.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/core_log.h"
#include "fixtures/host_builder.h"
#include "fixtures/lists_host.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/hba_device_list.h"

namespace {

using zvfix::ListsHost;

TEST(DeviceListOps, LookupsByNumberWwpnAndIdentity) {
    zvfix::HostBuilder h;
    h.AddChip25Ports("SN-B", {0x2100000000000003});
    h.AddChip25Ports("SN-A", {0x2100000000000002, 0x2100000000000001});
    ListsHost lists(h);
    const auto ports = ListsHost::Ports();
    ASSERT_EQ(ports.size(), 3u);
    ASSERT_NE(FindAdapterByInstanceNumber(0), nullptr);
    EXPECT_NE(FindAdapterByInstanceNumber(0), ListsHost::CorePort(0));   // the list's own copy
    EXPECT_EQ(FindAdapterByInstanceNumber(0)->DeviceNumber, 0u);
    EXPECT_EQ(FindZOZIRAAdapterByAdapterNumber(2), FindAdapterByInstanceNumber(2));
    EXPECT_EQ(FindAdapterByInstanceNumber(7), nullptr);
    EXPECT_EQ(FindSDMDeviceInSDMDeviceList(1), ListsHost::CorePort(1));   // the core model's record
    EXPECT_EQ(FindAdapterByWWPN(ports[1]->DevicePortProperty.WWN), ports[1]);
    EXPECT_EQ(GetAdapterFromAdapterLocalList(ListsHost::CorePort(2)), FindAdapterByInstanceNumber(2));
    SDMDevice other = *ListsHost::CorePort(2);
    other.DevicePortProperty.PortID ^= 1;   // same names, another port id
    EXPECT_EQ(GetAdapterFromAdapterLocalList(&other), nullptr);
    EXPECT_EQ(ResyncAllAdaptersFlashVersion(), 0);
}

TEST(DeviceListOps, SiblingPortNeedsItsOwnNodeName) {
    {
        zvfix::HostBuilder h;
        h.AddChip25Ports("SN-TWO", {0x2100000000000011, 0x2100000000000012});
        ListsHost lists(h);
        EXPECT_EQ(FindAdapterPortMultiPortHBA(ListsHost::CorePort(0)), ListsHost::CorePort(1));
        EXPECT_EQ(FindAdapterPortMultiPortHBA(nullptr), nullptr);
    }
    // Two ports sharing one node name are not taken for siblings.
    zvfix::HostBuilder shared;
    auto& b = shared.AddChip25Ports("SN-SHARE", {0x2100000000000021, 0x2100000000000022});
    b.ports[1].nodeWwn = b.ports[0].nodeWwn;
    ListsHost lists(shared);
    EXPECT_EQ(FindAdapterPortMultiPortHBA(ListsHost::CorePort(0)), nullptr);
}

TEST(DeviceListOps, VirtualPortsFromTheLibraryAndFromVmwareDrivers) {
    zvfix::HostBuilder h;
    auto& a = h.AddChip25(0x2261, 2);
    a.serial = "SN-VP", a.driverVersion = "10.02.09.100-vmw";
    a.ports[0].portId = 0x0A0100;
    a.ports[0].vports.push_back({3, 1, 0, 0x2800000000000003, 0x2900000000000003, 0});
    a.ports[1].interfaceType = 3, a.ports[1].portId = 0x0A0200;   // a VMware driver shows the virtual port as a port
    ListsHost lists(h);

    VPORT_INFO* info = FindVPortByVPortID(0, 3);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->wwpn[7], 0x03);
    CoreFree(info);
    EXPECT_EQ(FindVPortByVPortID(0, 4), nullptr);
    EXPECT_EQ(FindVPortByVPortID(9, 3), nullptr);

    // The virtual port's node property reports its id as its number of ports (1 here).
    SDMDevice* phys = ListsHost::CorePort(0);
    SDMDevice* virt = ListsHost::CorePort(1);
    EXPECT_EQ(FindVMwareVirtualPort(phys, "sn-vp", 1), virt);   // serial compared regardless of case
    EXPECT_EQ(FindVMwareVirtualPort(phys, "SN-VP", 2), nullptr);
    EXPECT_EQ(FindVMwareVirtualPort(virt, "SN-VP", 1), nullptr);   // not from a virtual port
    // The list holds the physical port only; its entry has the library's virtual port.
    EXPECT_EQ(GetMyDeviceList()->count, 1u);
    const AdapterEntry* e = FindAdapterInAdapterListBySDMDevice(FindAdapterByInstanceNumber(0));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(std::vector<int>(e->WindowsVPortArray[3], e->WindowsVPortArray[3] + 8),
              (std::vector<int>{0x29, 0, 0, 0, 0, 0, 0, 0x03}));
    EXPECT_EQ(e->WindowsVPortArray[2][0], 0x00);   // other slots stay empty
}

TEST(DeviceListOps, InsertPositionFollowsTheWwpnText) {
    zvfix::HostBuilder h;
    h.AddChip25Ports("SN-X", {0x2100000000000030, 0x2100000000000010});
    ListsHost lists(h);
    SDMDeviceList list{};
    SDMDevice a = *ListsHost::CorePort(0), b = *ListsHost::CorePort(1);
    a.next = a.prev = b.next = b.prev = nullptr;
    list.firstDevice = list.lastDevice = &a;
    list.count = 1;
    EXPECT_EQ(FindLocationInList(&list, &b), &a);   // ...10 goes before ...30
    EXPECT_EQ(FindLocationInList(&list, &a), nullptr);
}

TEST(DeviceListOps, InterimOrderIsByWwpnAcrossAdapters) {
    zvfix::HostBuilder h;
    h.AddChip25Ports("SN-B", {0x2100000000000001, 0x2100000000000004});
    auto& a = h.AddChip25Ports("SN-A", {0x2100000000000003, 0x2100000000000002});
    a.ports[1].interfaceType = 3;   // a virtual port: an entry, but no copy in the chain
    ListsHost lists(h);
    RemoveAllAdaptersFromAdapterList();
    SDMDeviceList chain{};
    ASSERT_NE(SortAdapterList(GetDeviceList(), &chain), nullptr);
    std::vector<uint64_t> copies;
    for (SDMDevice* d = chain.firstDevice; d != nullptr;) {
        copies.push_back(ListsHost::Wwpn(d));
        SDMDevice* next = d->next;
        CoreFree(d);
        d = next;
    }
    EXPECT_EQ(copies, (std::vector<uint64_t>{0x2100000000000001, 0x2100000000000003, 0x2100000000000004}));
    std::vector<uint64_t> entries;
    for (const AdapterEntry* e : ListsHost::Entries()) entries.push_back(ListsHost::Wwpn(e));
    EXPECT_EQ(entries, (std::vector<uint64_t>{0x2100000000000001, 0x2100000000000002, 0x2100000000000003,
                                              0x2100000000000004}));
}

TEST(DeviceListOps, FinalListTakesTheChainRecordsInSerialOrder) {
    zvfix::HostBuilder h;
    h.AddChip25Ports("SN-B", {0x2100000000000001, 0x2100000000000004});
    h.AddChip25Ports("SN-A", {0x2100000000000003, 0x2100000000000002});
    h.AddChip25Ports("SN-C", {0x2100000000000005});
    ListsHost lists(h);
    RemoveAllAdaptersFromAdapterList();
    SDMDeviceList chain{};
    ASSERT_NE(SortAdapterList(GetDeviceList(), &chain), nullptr);
    std::vector<SDMDevice*> records;
    for (SDMDevice* d = chain.firstDevice; d != nullptr; d = d->next) records.push_back(d);
    ASSERT_EQ(records.size(), 5u);

    SDMDeviceList list = BuildVORNDeviceList(&chain);
    // The chain's own records, relinked: nothing left behind in the chain.
    EXPECT_EQ(chain.firstDevice, nullptr);
    EXPECT_EQ(chain.lastDevice, nullptr);
    EXPECT_EQ(chain.count, 0u);
    ASSERT_EQ(list.count, 5u);
    std::vector<SDMDevice*> order;
    std::vector<uint64_t> wwpns;
    const SDMDevice* prev = nullptr;
    for (SDMDevice* d = list.firstDevice; d != nullptr; d = d->next) {
        EXPECT_EQ(d->prev, prev);
        prev = d;
        order.push_back(d);
        wwpns.push_back(ListsHost::Wwpn(d));
    }
    EXPECT_EQ(list.lastDevice, prev);
    EXPECT_EQ(wwpns, (std::vector<uint64_t>{0x2100000000000002, 0x2100000000000003, 0x2100000000000001,
                                            0x2100000000000004, 0x2100000000000005}));
    std::vector<SDMDevice*> sortedRecords = records, sortedOrder = order;
    std::sort(sortedRecords.begin(), sortedRecords.end());
    std::sort(sortedOrder.begin(), sortedOrder.end());
    EXPECT_EQ(sortedOrder, sortedRecords);
    // The entry list was rebuilt in the same order.
    std::vector<uint64_t> entries;
    for (const AdapterEntry* e : ListsHost::Entries()) entries.push_back(ListsHost::Wwpn(e));
    EXPECT_EQ(entries, wwpns);
    for (SDMDevice* d = list.firstDevice; d != nullptr;) {
        SDMDevice* next = d->next;
        CoreFree(d);
        d = next;
    }
}

TEST(DeviceListOps, DeletingAndEmptyingTheListLeaveTheCoreModelWhole) {
    zvfix::HostBuilder h;
    auto& a = h.AddChip25Ports("SN-D", {0x2100000000000041, 0x2100000000000042});
    a.ports[0].AddTarget();
    ListsHost lists(h);
    ASSERT_EQ(GetMyDeviceList()->count, 2u);
    for (SDMDevice* d = GetMyDeviceList()->firstDevice; d != nullptr; d = d->next)
        for (SDMTarget* t = d->TargetList.firstTarget; t != nullptr; t = t->next)
            for (SDMLun* l = t->LunList.firstLun; l != nullptr; l = l->next) l->LunData = 0x81;
    CoreInitializeTargets();
    EXPECT_EQ(ListsHost::CorePort(0)->TargetList.firstTarget->LunList.firstLun->LunNewData, 0x81);

    // The first record of the chain goes; clean-up frees the rest once (ASan watches).
    SDMDevice first = *GetMyDeviceList()->firstDevice;
    EXPECT_EQ(DeleteSDMDeviceFromSDMDeviceList(&first), 0);
    EXPECT_EQ(GetMyDeviceList()->count, 1u);
    EXPECT_EQ(DeleteSDMDeviceFromSDMDeviceList(&first), -1);
    EXPECT_EQ(ListsHost::CorePort(0)->TargetList.count, 1u);   // its targets stay with the core port

    EXPECT_EQ(RemoveAllDevicesFromMyDeviceList(), 0);
    EXPECT_EQ(GetMyDeviceList()->firstDevice, nullptr);
}

}  // namespace
