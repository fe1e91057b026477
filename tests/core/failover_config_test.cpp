// The persistent failover configuration written from the device model, and
// the replacement of one remote port by another.
#include "core/failover_config.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>

#include "fixtures/host_builder.h"
#include "mgmt/fo_api.h"
#include "mgmt/sdapi.h"
#include "support/discovered_host.h"

namespace {

class FailoverConfig : public zvtest::DiscoveredHostTest {
protected:
    SDMDevice* Host() {
        zvfix::HostBuilder h;
        auto& a = h.AddChip25(0x2261, 1);
        a.ports[0].AddTarget(0x5000001100000A01).AddLun(1);
        a.ports[0].AddTarget(0x5000001100000A02);
        const auto devices = Discover(h);
        return devices.empty() ? nullptr : devices[0];
    }
    static FOHBADATA Hba(const SDMDevice* d) {
        FOHBADATA h{};
        std::memcpy(h.NodeWWN, d->DeviceNodeProperty.WWN, 8);
        std::memcpy(h.PortWWN, d->DevicePortProperty.WWN, 8);
        return h;
    }
};

TEST_F(FailoverConfig, UpdateWritesLunBytesAndControlBytes) {
    SDMDevice* d = Host();
    ASSERT_NE(d, nullptr);
    SDMTarget* bound = d->TargetList.firstTarget;
    ASSERT_NE(bound, nullptr);
    SDMTarget* unbound = bound->next;
    ASSERT_NE(unbound, nullptr);
    for (SDMLun* l = bound->LunList.firstLun; l != nullptr; l = l->next) l->LunNewData = 0x80 | l->LunID;
    unbound->TargetNewMultipathControl = 0x40;
    for (SDMLun* l = unbound->LunList.firstLun; l != nullptr; l = l->next) l->LunNewData = 0x85;
    bound->TargetNewMultipathControl = 0x03;

    ASSERT_EQ(UpdateDeviceConfiguration(d, 0), 0);   // an empty store to start from

    auto luns = std::make_unique<FOLUNDATALIST>();
    const FOHBADATA hba = Hba(d);
    ASSERT_EQ(ISDFoGetLunData(d->DeviceHandle, d->DeviceNumber, &hba, luns.get(), 1), 0u);
    ASSERT_EQ(luns->EntryCount, 2);
    const auto& e0 = luns->Entries[0];
    EXPECT_EQ(std::memcmp(e0.PortName, bound->DiscTargetProperty.PortWWN, 8), 0);
    EXPECT_EQ(e0.Data[0], 0x80);
    EXPECT_EQ(e0.Data[1], 0x81);
    EXPECT_EQ(luns->Entries[1].Data[0], 0);   // unbound: no LUN bytes

    auto targets = std::make_unique<FOPORTSUMMARYLISTBUFFER>();
    ASSERT_EQ(ISDFoGetTargetData(d->DeviceHandle, d->DeviceNumber, &hba, targets.get(), 1), 0u);
    ASSERT_EQ(targets->EntryCount, 2);
    EXPECT_EQ(targets->Entries[0].MultipathControl, 0x03);
    EXPECT_EQ(targets->Entries[1].MultipathControl, 0x40);
    EXPECT_EQ(targets->Entries[0].TargetId, bound->DiscTargetProperty.TargetID);

    // Saving keeps only configured, bound targets beside the driver's own data.
    ASSERT_EQ(SaveDeviceConfiguration(d), 0);
    ASSERT_EQ(ISDFoGetLunData(d->DeviceHandle, d->DeviceNumber, &hba, luns.get(), 1), 0u);
    ASSERT_EQ(luns->EntryCount, 1);
    EXPECT_EQ(std::memcmp(luns->Entries[0].PortName, bound->DiscTargetProperty.PortWWN, 8), 0);
    EXPECT_EQ(UpdateDeviceConfiguration(nullptr, 0), -1);
}

TEST_F(FailoverConfig, ApplyWritesEveryPortUntilOneFailsThenRebuildsTheModel) {
    zvfix::HostBuilder h;
    for (int i = 0; i < 2; ++i) {
        auto& a = h.AddChip25(0x2261, 1);
        auto& t = a.ports[0].AddTarget(0x5000001100000B01 + 0x10 * i);
        t.AddLun(0);
        t.AddLun(2);
        a.ports[0].AddTarget(0x5000001100000B02 + 0x10 * i).AddLun(0);
    }
    // The first adapter cannot store its LUN data once.
    h.adapters[0].faults.push_back(zvfix::FaultSpec::Fail("fo_lun_data_set", 0x20000070, 1));
    Discover(h);
    // A handle of our own keeps the driver's settings over the model's rebuild.
    int keep = -1;
    ASSERT_EQ(SDOpenDevice(0, &keep), 0u);
    auto configure = [] {
        for (SDMDevice* d : Devices()) {
            SDMTarget* bound = d->TargetList.firstTarget;
            bound->TargetAgentFlags |= SDM_AGENT_CONFIGURED;
            bound->TargetNewMultipathControl = 0x03;
            for (SDMLun* l = bound->LunList.firstLun; l != nullptr; l = l->next) l->LunNewData = 0x80 | l->LunID;
            bound->next->TargetNewMultipathControl = 0x40;   // unbound
            for (SDMLun* l = bound->next->LunList.firstLun; l != nullptr; l = l->next) l->LunNewData = 0x85;
        }
    };
    // What the second port's driver keeps (status, LUN entries).
    auto stored = [](FOLUNDATALIST& luns, FOPORTSUMMARYLISTBUFFER& targets) {
        SDMDevice* second = Devices().at(1);
        const FOHBADATA hba = Hba(second);
        luns = FOLUNDATALIST{};
        targets = FOPORTSUMMARYLISTBUFFER{};
        ISDFoGetTargetData(second->DeviceHandle, second->DeviceNumber, &hba, &targets, 1);
        return ISDFoGetLunData(second->DeviceHandle, second->DeviceNumber, &hba, &luns, 1);
    };
    auto luns = std::make_unique<FOLUNDATALIST>();
    auto targets = std::make_unique<FOPORTSUMMARYLISTBUFFER>();

    configure();
    ASSERT_EQ(Devices().size(), 2u);
    EXPECT_EQ(ApplyDeviceConfiguration(), -1);
    // Stopped at the first port; the model was rebuilt from the driver all the same.
    ASSERT_EQ(Devices().size(), 2u);
    EXPECT_EQ(Devices()[1]->TargetList.firstTarget->TargetNewMultipathControl, 0);
    const SD_UINT32 st = stored(*luns, *targets);
    EXPECT_TRUE(st != 0 || luns->EntryCount == 0) << "the second port was not written";

    configure();
    EXPECT_EQ(ApplyDeviceConfiguration(), 0);
    ASSERT_EQ(stored(*luns, *targets), 0u);
    ASSERT_EQ(luns->EntryCount, 2);
    EXPECT_EQ(luns->Entries[0].Data[0], 0x80);
    EXPECT_EQ(luns->Entries[0].Data[2], 0x82);
    EXPECT_EQ(luns->Entries[1].Data[0], 0) << "unbound: no LUN bytes";
    ASSERT_EQ(targets->EntryCount, 2);
    EXPECT_EQ(targets->Entries[0].MultipathControl, 0x03);
    EXPECT_EQ(targets->Entries[1].MultipathControl, 0x40);
    SDCloseDevice(keep);
}

TEST_F(FailoverConfig, ReplacementNeedsBothTargetsAndRebuildsTheModel) {
    SDMDevice* d = Host();
    ASSERT_NE(d, nullptr);
    const DISCTARGETPROPERTY a = d->TargetList.firstTarget->DiscTargetProperty;
    const DISCTARGETPROPERTY b = d->TargetList.firstTarget->next->DiscTargetProperty;
    auto id = [](SD_UINT32 p) { return std::array<SD_UINT8, 3>{SD_UINT8(p >> 16), SD_UINT8(p >> 8), SD_UINT8(p)}; };
    const auto idA = id(a.PortID), idB = id(b.PortID);
    const SD_UINT8 none[8] = {0x50, 0, 0, 0x11, 0, 0, 0x0F, 0xFF};
    const SD_UINT8 noId[3] = {0x0F, 0x0F, 0x0F};
    EXPECT_EQ(CoreTargetDeviceReplacement(d, none, none, noId, b.NodeWWN, b.PortWWN, idB.data()), -1);
    EXPECT_EQ(CoreTargetDeviceReplacement(d, a.NodeWWN, a.PortWWN, idA.data(), none, none, noId), -1);
    const SD_UINT32 instance = d->DeviceNumber;
    EXPECT_EQ(CoreTargetDeviceReplacement(d, a.NodeWWN, a.PortWWN, idA.data(), b.NodeWWN, b.PortWWN, idB.data()), 0);
    // The model was built again: the port is back with both targets.
    ASSERT_EQ(GetDeviceList()->count, 1u);
    EXPECT_EQ(GetDeviceList()->firstDevice->DeviceNumber, instance);
    EXPECT_EQ(GetDeviceList()->firstDevice->TargetList.count, 2u);
}

}  // namespace
