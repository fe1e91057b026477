// The device model's lists: identity of ports and targets, duplicates,
// ownership, copies and the switches kept beside the model.
#include "core/sdm_device.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/core_log.h"

namespace {

void SetWwn(SD_UINT8* w, SD_UINT8 last, SD_UINT8 first = 0x20) {
    std::memset(w, 0, 8);
    w[0] = first, w[7] = last;
}

// A device that never went through the library (handle -1 is unknown to it).
SDMDevice* Port(SD_UINT8 node, SD_UINT8 port, SD_UINT32 portId) {
    SDMDevice* d = CreateNewDevice();
    d->DeviceHandle = -1;
    SetWwn(d->DeviceNodeProperty.WWN, node);
    SetWwn(d->DevicePortProperty.WWN, port, 0x21);
    d->DevicePortProperty.PortID = portId;
    return d;
}

SDMTarget* Target(SD_UINT8 node, SD_UINT8 port, SD_UINT32 portId) {
    SDMTarget* t = CreateNewTarget();
    SetWwn(t->DiscTargetProperty.NodeWWN, node, 0x50);
    SetWwn(t->DiscTargetProperty.PortWWN, port, 0x51);
    t->DiscTargetProperty.PortID = portId;
    return t;
}

SDMLun* Lun(SD_UINT16 id) {
    SDMLun* l = CreateNewLun();
    l->LunID = id;
    return l;
}

class DeviceModel : public ::testing::Test {
protected:
    void SetUp() override { InitDeviceList(); }
    void TearDown() override { RemoveAllDevicesFromDeviceList(); }
};

TEST_F(DeviceModel, PortsAreIdentifiedByBothWwnsAndThe24BitPortId) {
    ASSERT_EQ(AddDeviceToDeviceList(Port(1, 1, 0x010200)), 0);
    // Same node, other port: the second port of one adapter.
    ASSERT_EQ(AddDeviceToDeviceList(Port(1, 2, 0x010300)), 0);
    // Same node, port and (24-bit) port id: refused, list unchanged.
    SDMDevice* dup = Port(1, 1, 0xFF010200);
    EXPECT_EQ(AddDeviceToDeviceList(dup), -1);
    CoreFree(dup);
    EXPECT_EQ(GetDeviceList()->count, 2u);
    // Same WWNs but another port id is another port.
    ASSERT_EQ(AddDeviceToDeviceList(Port(1, 1, 0x010201)), 0);

    const SDMDeviceList* list = GetDeviceList();
    ASSERT_EQ(list->count, 3u);
    EXPECT_EQ(list->firstDevice->DevicePortProperty.WWN[7], 1);
    EXPECT_EQ(list->firstDevice->next->DevicePortProperty.WWN[7], 2);
    EXPECT_EQ(list->lastDevice->prev, list->firstDevice->next);
    EXPECT_EQ(list->firstDevice->prev, nullptr);
    EXPECT_EQ(list->lastDevice->next, nullptr);

    SD_UINT8 wwpn[8];
    SetWwn(wwpn, 2, 0x21);
    EXPECT_EQ(FindZOZIRAAdapterByWWPN(wwpn), list->firstDevice->next);
    SetWwn(wwpn, 9, 0x21);
    EXPECT_EQ(FindZOZIRAAdapterByWWPN(wwpn), nullptr);
}

TEST_F(DeviceModel, TargetsAndLunsRefuseDuplicatesAndAreOwnedByTheirParent) {
    SDMDevice* d = Port(1, 1, 0x010200);
    ASSERT_EQ(AddDeviceToDeviceList(d), 0);
    SDMTarget* a = Target(1, 1, 0x0A0B0C);
    ASSERT_EQ(AddTargetToTargetList(d, a), 0);
    ASSERT_EQ(AddTargetToTargetList(d, Target(1, 2, 0x0A0B0D)), 0);
    SDMTarget* dup = Target(1, 1, 0x770A0B0C);
    EXPECT_EQ(AddTargetToTargetList(d, dup), -1);
    DeleteTarget(dup);
    EXPECT_EQ(d->TargetList.count, 2u);
    EXPECT_EQ(a->TargetType, SDM_TARGET_TYPE_UNKNOWN);

    ASSERT_EQ(AddLunToLunList(a, Lun(0)), 0);
    ASSERT_EQ(AddLunToLunList(a, Lun(5)), 0);
    SDMLun* dupLun = Lun(5);
    EXPECT_EQ(AddLunToLunList(a, dupLun), -1);
    DeleteLun(dupLun);
    EXPECT_EQ(a->LunList.count, 2u);
    EXPECT_EQ(a->LunList.lastLun->LunID, 5);

    SD_UINT8 node[8], port[8];
    SetWwn(node, 1, 0x50);
    SetWwn(port, 2, 0x51);
    EXPECT_EQ(FindTargetByWWNNInTargetList(d, node), a);
    EXPECT_EQ(FindTargetByWWNNAndWWPNInTargetList(d, node, port), a->next);
    // Across devices; a null node matches any node.
    EXPECT_EQ(FindTargetInTargetListPrim(nullptr, port), a->next);
    EXPECT_EQ(FindTargetInTargetListPrim(node, port), a->next);

    EXPECT_EQ(RemoveAllLunsFromLunList(a), 0);
    EXPECT_EQ(a->LunList.count, 0u);
    EXPECT_EQ(a->LunList.firstLun, nullptr);
    // Removing the device's targets frees their LUNs too (checked by the leak sanitizer).
    ASSERT_EQ(AddLunToLunList(a, Lun(1)), 0);
    EXPECT_EQ(RemoveAllTargetsFromTargetList(d), 0);
    EXPECT_EQ(d->TargetList.count, 0u);
}

TEST_F(DeviceModel, CloneCopiesEveryRecordAndSharesTargets) {
    SDMDevice* d1 = Port(1, 1, 0x010200);
    SDMDevice* d2 = Port(2, 1, 0x010300);
    d2->DeviceNumber = 7;
    ASSERT_EQ(AddDeviceToDeviceList(d1), 0);
    ASSERT_EQ(AddDeviceToDeviceList(d2), 0);
    ASSERT_EQ(AddTargetToTargetList(d2, Target(3, 3, 0x030303)), 0);

    SDMDevice* copy = CloneCopySDMDeviceList(GetDeviceList());
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(copy->next, nullptr);
    EXPECT_EQ(copy->next->next, nullptr);
    EXPECT_EQ(copy->next->prev, copy);
    EXPECT_NE(copy, d1);
    EXPECT_EQ(std::memcmp(copy->DevicePortProperty.WWN, d1->DevicePortProperty.WWN, 8), 0);
    EXPECT_EQ(copy->next->DeviceNumber, 7u);
    EXPECT_EQ(copy->next->TargetList.firstTarget, d2->TargetList.firstTarget);
    EXPECT_EQ(CloneFreeSDMDeviceList(copy), 0);
    // The source still owns its target.
    EXPECT_EQ(d2->TargetList.count, 1u);
}

TEST(ModelSwitches, DiscoverySwitchTakesOnlyZeroOrOne) {
    for (const SD_UINT32 value : {0u, 1u}) {
        CoreSetTargestLUNDiscoveryOption(value);
        CoreSetTargestLUNDiscoveryOption(2);
        EXPECT_EQ(CoreGetTargestLUNDiscoveryOption(), value);
    }
}

}  // namespace
