// Virtual-port bookkeeping of the adapter entries, single-entry updates and
// removals, and the sort of port descriptions.
#include "frontend/adapter_entry_vports.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <tuple>
#include <vector>

#include "fixtures/host_builder.h"
#include "fixtures/lists_host.h"
#include "frontend/hba_device_list.h"

namespace {

using zvfix::ListsHost;

// A physical port with virtual ports 1 and 4, each with an entry of its own
// (added by hand: the start-up lists hold physical ports only).
class VportBook : public ::testing::Test {
protected:
    void SetUp() override {
        auto& a = h_.AddChip25(0x2261, 2);
        a.serial = "SN-VB";
        a.ports[0].vports.push_back({1, 1, 0, 0x2800000000000001, 0x2900000000000001, 0});
        a.ports[0].vports.push_back({4, 1, 0, 0x2800000000000004, 0x2900000000000004, 0});
        lists_ = std::make_unique<ListsHost>(h_);
        phys_ = FindAdapterInAdapterListBySDMDevice(ListsHost::CorePort(0));
        ASSERT_NE(phys_, nullptr);
        for (int i : {1, 4}) {
            AdapterEntry* v = CreateNewAdapter();
            std::memcpy(v->WWPN, phys_->WindowsVPortArray[i], 8);
            v->WWNN[0] = static_cast<SD_UINT8>(i);
            std::memcpy(v->SerialNumber, phys_->SerialNumber, sizeof v->SerialNumber);
            v->InterfaceType = ADAPTER_IF_VPORT;
            v->vPortId = static_cast<SD_UINT16>(i);
            ASSERT_EQ(AddNewAdapterToAdapterList(v), 0);
            vports_.push_back(v);
        }
    }
    zvfix::HostBuilder h_;
    std::unique_ptr<ListsHost> lists_;
    AdapterEntry* phys_ = nullptr;
    std::vector<AdapterEntry*> vports_;
};

TEST_F(VportBook, ConfigStatesToggleForceAndAgree) {
    SDMDevice* port = ListsHost::CorePort(0);
    EXPECT_EQ(CheckvPortConfigStatusInAdapterList(port, 0), 0);   // all 0
    EXPECT_EQ(CheckAdapterEntryConfigStatusInAdapterList(port), 0);

    EXPECT_EQ(UpdateAdapterEntryNodeInAdapterList(vports_[0], 0, 0), 0);   // toggles 0 -> 1
    EXPECT_EQ(vports_[0]->ConfigStatus, 1);
    EXPECT_EQ(CheckAdapterEntryConfigStatusInAdapterList(port), 1);
    EXPECT_EQ(CheckvPortConfigStatusInAdapterList(port, 0), 1);
    EXPECT_EQ(UpdateAdapterEntryNodeInAdapterList(vports_[0], 0, 0), 0);   // and back
    EXPECT_EQ(vports_[0]->ConfigStatus, 0);

    EXPECT_EQ(UpdateAllAdapterEntryNodesInAdapterList(port, 1), 0);
    EXPECT_EQ(std::tuple(vports_[0]->ConfigStatus, vports_[1]->ConfigStatus), std::tuple(1, 1));
    EXPECT_EQ(CheckvPortConfigStatusInAdapterList(port, 1), 0);
    EXPECT_EQ(UpdateAdapterEntryNodeInAdapterList(vports_[1], 0, 1), 0);   // forced to 0
    EXPECT_EQ(vports_[1]->ConfigStatus, 0);

    // A copy of an entry updates the list's entry, which keeps its links.
    AdapterEntry copy = *vports_[0];
    copy.QoSVal = 77;
    AdapterEntry* next = vports_[0]->next;
    EXPECT_EQ(UpdateAdapterEntryNodeInAdapterList(&copy, 1, 1), 0);
    EXPECT_EQ(vports_[0]->QoSVal, 77);
    EXPECT_EQ(vports_[0]->next, next);
    EXPECT_EQ(UpdateAdapterEntryNodeInAdapterList(nullptr, 0, 0), 8);
    EXPECT_EQ(CheckvPortConfigStatusInAdapterList(nullptr, 0), 8);
    EXPECT_EQ(CheckvPortConfigStatusInAdapterList(ListsHost::CorePort(1), 0), 0);   // no virtual ports
}

TEST_F(VportBook, PhysicalEntryAndPortOfAVirtualPort) {
    AdapterEntry* found = FindPhysicalAdapterEntryByVirtualPortInAdapterList(vports_[1]);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found, GetAdapterList()->first);   // the adapter's first physical entry
    EXPECT_EQ(FindPhysicalPortByVirtualPortInAdapterList(vports_[1]), FindZOZIRAAdapterByWWPN(found->WWPN));
    vports_[0]->PortID[0] = found->PortID[0], vports_[0]->PortID[1] = found->PortID[1], vports_[0]->QoSType = 1;
    EXPECT_EQ(UpdatePhysicalAdapterEntryByVirtualPortInAdapterList(vports_[0]), found);
    EXPECT_EQ(std::tuple(found->QoSType, found->QoSVal), std::tuple(1, 100));
    vports_[0]->PortID[1] ^= 0xFF;   // another fabric area
    EXPECT_EQ(UpdatePhysicalAdapterEntryByVirtualPortInAdapterList(vports_[0]), nullptr);
}

TEST_F(VportBook, VportArrayFromTheLibraryAndEntryUpdates) {
    AdapterEntry fresh{};
    EXPECT_EQ(UpdatePhysicalAdapterEntryVportArray(ListsHost::CorePort(0), &fresh), 0);
    // Slots 1 and 4 filled; vPortId is the last one found.
    EXPECT_EQ(std::tuple(fresh.WindowsVPortArray[1][7], fresh.WindowsVPortArray[4][7], fresh.vPortId), std::tuple(1, 4, 4));
    EXPECT_EQ(UpdatePhysicalAdapterEntryVportArray(nullptr, &fresh), 8);

    AdapterEntry change = *phys_;
    change.PortNumber = 9, change.QoSType = 3;
    EXPECT_EQ(UpdateAdapterEntryInAdapterList(&change), phys_);
    EXPECT_EQ(std::tuple(phys_->PortNumber, phys_->QoSType), std::tuple(9u, 3));
    EXPECT_EQ(UpdateAdapterEntryList(ListsHost::CorePort(0)), 0);
    EXPECT_EQ(FindAndUpdateAdapterInAdapterListBySDMDevice(ListsHost::CorePort(0)), phys_);
    EXPECT_EQ(UpdateAdapterEntryVportList(GetMyDeviceList()), 0);

    const SD_UINT32 before = GetCountOfEntryInAdapterList();
    AdapterEntry gone = *vports_[1];
    EXPECT_EQ(DeleteAdapterNodeFromAdapterList(&gone), 0);
    EXPECT_EQ(GetCountOfEntryInAdapterList(), before - 1);
    EXPECT_EQ(DeleteAdapterNodeFromAdapterList(&gone), -1);
    // Out of the list is out of every look-up: an entry of the same WWNs goes in again.
    AdapterEntry* again = CreateNewAdapter();
    *again = gone;
    EXPECT_EQ(AddNewAdapterToAdapterList(again), 0);
    EXPECT_EQ(GetCountOfEntryInAdapterList(), before);
    AdapterEntry low{}, high{};
    low.WWPN[7] = 0x0A;
    high.WWPN[0] = 0x01;
    EXPECT_LT(CompareAdapterEntryWWPN(&low, &high), 0);
    EXPECT_GT(CompareAdapterEntryWWPN(&high, &low), 0);
    EXPECT_EQ(CompareAdapterEntryWWPN(&low, &low), 0);
}

TEST_F(VportBook, OtherPortTakesTheVersions) {
    DEVICENODEPROPERTY versions = ListsHost::CorePort(0)->DeviceNodeProperty;
    std::memcpy(versions.FirmwareVersion, "9.99.99", 8);
    versions.BIFwVersion[0] = 42;
    SDMDevice* first = GetMyDeviceList()->firstDevice;
    SDMDevice* second = first->next;
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(GetPortIndex(second), GetPortIndex(first) + 1);
    EXPECT_EQ(UpdateOtherPortDeviceNodeProperty(first, &versions), 0);
    EXPECT_STREQ(second->DeviceNodeProperty.FirmwareVersion, "9.99.99");
    EXPECT_EQ(second->DeviceNodeProperty.BIFwVersion[0], 42);
    EXPECT_EQ(UpdateOtherPortDeviceNodeProperty(second, &versions), 8);   // no port after the last
}

TEST(SortVirtualPorts, ByTheSelectedKey) {
    std::vector<sHBAPortInfo> a(3);
    a[0] = {5, 2, {0x20, 0, 0, 0, 0, 0, 0, 3}, {}, {0x01, 0x02, 0x03}};
    a[1] = {-2147483647 - 1, 3, {0x20, 0, 0, 0, 0, 0, 0, 1}, {}, {0x01, 0x01, 0xFF}};
    a[2] = {2147483647, 1, {0x10, 0, 0, 0, 0, 0, 0, 9}, {}, {0x00, 0xFF, 0xFF}};
    SortVirtualPortArray(a.data(), a.size(), 0);
    EXPECT_EQ(a[0].InstanceNumber, -2147483647 - 1);   // no overflow in the comparison
    EXPECT_EQ(a[2].InstanceNumber, 2147483647);
    SortVirtualPortArray(a.data(), a.size(), 7);
    EXPECT_EQ(a[1].InstanceNumber, 5);
    SortVirtualPortArray(a.data(), a.size(), 1);
    EXPECT_EQ(a[0].PortName[0], 0x10);
    EXPECT_EQ(a[1].PortName[7], 1);
    SortVirtualPortArray(a.data(), a.size(), 2);
    EXPECT_EQ(a[0].PortId[0], 0x00);
    EXPECT_EQ(a[2].PortId[2], 0x03);
    SortVirtualPortArray(a.data(), a.size(), 3);
    EXPECT_EQ(a[0].VportId, 1);
    EXPECT_EQ(a[2].VportId, 3);
}

}  // namespace
