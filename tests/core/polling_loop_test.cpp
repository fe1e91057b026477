// The polling loop's flags and handlers over simulated ports: events and
// the status bits they leave, port-state changes, LUN paths, the failover
// statistics parameter, single-user mode, and one run of the loop itself.
#include "core/polling_loop.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <thread>

#include "core/oss_services.h"
#include "mgmt/fo_api.h"
#include "support/discovered_host.h"
#include "support/hang_limit.h"

namespace {

class PollingLoop : public zvtest::DiscoveredHostTest {
protected:
    void SetUp() override {
        DiscoveredHostTest::SetUp();
        OSSInitCriticalSection();
        CoreClearSingleRefresh();
        CoreSetSkipAen(0);
    }
    void TearDown() override {
        CoreEndSingleUserMode();
        CoreClearSingleRefresh();
        DiscoveredHostTest::TearDown();
        OSSDeleteCriticalSection();
    }
    static zvfix::EventEntry Event(uint32_t code) { return {code, {}}; }
};

TEST_F(PollingLoop, RefreshFlags) {
    EXPECT_EQ(CoreForceSingleRefresh(), 0);
    EXPECT_EQ(CoreForceSingleRefresh(), -1);
    EXPECT_EQ(CoreDoSingleRefresh(), 1);
    EXPECT_EQ(CoreClearSingleRefresh(), 0);
    EXPECT_EQ(CoreRequiresSingleRefresh(), 1);   // no adapter yet: a refresh is needed
    EXPECT_EQ(CoreDoSingleRefresh(), 1);
    CoreClearSingleRefresh();
    zvfix::HostBuilder host;
    host.AddChip25TwoPort();
    Discover(host);
    EXPECT_EQ(CoreRequiresSingleRefresh(), 0);
    EXPECT_EQ(CoreDoSingleRefresh(), 0);
    EXPECT_STREQ(CoreGetEventName(12), "**Unknown**");
    EXPECT_STREQ(CoreGetEventName(0), "**Unknown**");
    EXPECT_STREQ(CoreGetEventName(9), "FEC Active");
}

TEST_F(PollingLoop, EventsSetStatusBitsAndAskForRebuilds) {
    zvfix::HostBuilder host;
    zvfix::AdapterSpec& a = host.AddChip25TwoPort();
    a.ports[0].events = {Event(4)};                                 // nothing to note
    a.ports[1].events = {Event(1), Event(8), Event(9), Event(12)};  // LIP, D-port, FEC, unknown
    auto d = Discover(host);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(CoreHandleAEN(), 0);
    EXPECT_EQ(d[0]->DeviceStatus, 0);
    EXPECT_EQ(d[1]->DeviceStatus, DEVSTAT_LIP | DEVSTAT_DPORT | DEVSTAT_FEC);   // 0x8000 cleared after notice
    EXPECT_EQ(CoreGetLastEventCode(), 12u);

    // A link-down event: the status remembers its notice, and the model must be rebuilt.
    RemoveAllDevicesFromDeviceList();
    a.ports[0].events = {Event(2), Event(3)};
    a.ports[1].events.clear();
    d = Discover(host);
    EXPECT_EQ(CoreHandleAEN(), CORE_REBUILD);
    EXPECT_EQ(d[0]->DeviceStatus, DEVSTAT_LINK_UP | DEVSTAT_LINK_DOWN | DEVSTAT_LINK_DOWN_NOTIFIED);

    // In single-user mode the rebuild is remembered instead, and ending the mode forces a refresh.
    RemoveAllDevicesFromDeviceList();
    Discover(host);
    CoreBeginSingleUserMode();
    EXPECT_EQ(CoreHandleAEN(), 0);
    EXPECT_EQ(CoreConfigurationChanged(), 1);
    CoreEndSingleUserMode();
    EXPECT_EQ(CoreConfigurationChanged(), 0);
    EXPECT_EQ(CoreDoSingleRefresh(), 1);
}

TEST_F(PollingLoop, PortStateFollowsTheLink) {
    zvfix::HostBuilder host;
    zvfix::AdapterSpec& a = host.AddChip25TwoPort();
    a.ports[0].portState = 2, a.ports[0].linkState1 = 2, a.ports[0].linkState2 = 5;
    a.ports[1].linkState1 = 3, a.ports[1].linkState3 = 0x8000;
    auto d = Discover(host);
    d[1]->DeviceStatus = DEVSTAT_LINK2_1 | DEVSTAT_DPORT;
    EXPECT_EQ(CoreHandlePortStateChange(), CORE_REBUILD);
    EXPECT_EQ(d[0]->DeviceStatus, DEVSTAT_LINK_DOWN | DEVSTAT_LINK_DOWN_NOTIFIED | DEVSTAT_LINK2_5 | DEVSTAT_DPORT);
    // The online port lost the conditions of its old bits and has FEC active.
    EXPECT_EQ(d[1]->DeviceStatus, DEVSTAT_FEC);
    // Down and already noticed: no second rebuild.
    EXPECT_EQ(CoreHandlePortStateChange(), 0);

    // Back online: the link-down bits go, a rebuild follows unless events are skipped.
    RemoveAllDevicesFromDeviceList();
    a.ports[0].portState = 1;
    d = Discover(host);
    d[0]->DeviceStatus = DEVSTAT_LINK_DOWN | DEVSTAT_LINK_DOWN_NOTIFIED;
    CoreSetSkipAen(1);
    EXPECT_EQ(CoreHandlePortStateChange(), 0);
    EXPECT_EQ(d[0]->DeviceStatus & (DEVSTAT_LINK_DOWN | DEVSTAT_LINK_DOWN_NOTIFIED), 0);
}

TEST_F(PollingLoop, LunPathsAndFailoverStatistics) {
    zvfix::HostBuilder host;
    zvfix::AdapterSpec& a = host.AddChip25TwoPort();
    zvfix::PortSpec& p = a.ports[0];
    p.foCapability = FO_CAP_LUN_LEVEL;
    zvfix::TargetSpec& t = p.AddTarget(0x5000000000000C01);
    t.AddLun(1);
    p.foPaths = {{t.nodeWwn, 0, {{0, 0x5000000000000C01}}}};
    auto d = Discover(host);
    SDMTarget* target = d[0]->TargetList.firstTarget;
    ASSERT_NE(target, nullptr);
    target->TargetAgentFlags |= SDM_AGENT_CONFIGURED;
    target->TargetFlags |= SDM_TGT_READY;
    for (SDMLun* l = target->LunList.firstLun; l != nullptr; l = l->next) l->LunIsCurrentPath = 0;
    EXPECT_EQ(CoreHandleLunPathChange(), 0);
    for (SDMLun* l = target->LunList.firstLun; l != nullptr; l = l->next) EXPECT_EQ(l->LunIsCurrentPath, 1) << l->LunID;

    // The statistics word of the failover parameters: 2 while collecting, 0 after.
    FOPARAMS params{};
    ASSERT_EQ(CoreFOStartStatistics(), 0);
    ASSERT_EQ(ISDFoGetSysParams(d[0]->DeviceHandle, &params, 0), 0u);
    EXPECT_EQ(params.Words[2], 2u);
    ASSERT_EQ(CoreFOStopStatistics(), 0);
    ASSERT_EQ(ISDFoGetSysParams(d[0]->DeviceHandle, &params, 0), 0u);
    EXPECT_EQ(params.Words[2], 0u);
    d[0]->DeviceAbilityFlags &= ~(SDM_DEV_FO_LUN_LEVEL | SDM_DEV_FO_TARGET_LEVEL);
    EXPECT_EQ(CoreFOStartStatistics(), -1);
}

TEST_F(PollingLoop, TheLoopBuildsTheModelAndHandlesEventsUntilStopped) {
    zvfix::HostBuilder host;
    host.AddChip25TwoPort().ports[0].events = {Event(1), Event(7)};
    host.Write(hostDir_);
    setenv("ZV_SIM_HOST", hostDir_.c_str(), 1);
    std::thread loop([] { CorePollingLoop(); });
    // Only a loop that hangs runs into the limit.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(zvtest::kHangSeconds);
    while (CoreGetLastEventCode() != 7 && std::chrono::steady_clock::now() < until)
        ::poll(nullptr, 0, 5);   // a real wait: the test's sleeps are instant
    OSSStopCorePollingLoop();
    loop.join();
    EXPECT_EQ(CoreGetLastEventCode(), 7u);
    ASSERT_EQ(Devices().size(), 2u);
    EXPECT_EQ(Devices()[0]->DeviceStatus, DEVSTAT_LIP);
}

}  // namespace
