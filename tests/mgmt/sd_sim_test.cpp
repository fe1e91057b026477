// The library over the real simulated platform: discovery of a fixture host,
// writes seen by a second process, the running set across a reboot, and
// busy answers passed on to the caller.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

#include "fixtures/host_builder.h"
#include "mgmt/fo_api.h"
#include "mgmt/sd_library.h"
#include "mgmt/sdapi.h"

namespace {

class SimLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        zvapi_set_transport_factory({});
        dir = zvfix::MakeTempDir("zvlib");
    }
    void TearDown() override {
        for (int h : handles) SDCloseDevice(h);
        unsetenv("ZV_SIM_HOST");
    }
    void Use(const zvfix::HostBuilder& host) {
        host.Write(dir);
        setenv("ZV_SIM_HOST", dir.c_str(), 1);
    }
    // Opens instances until the library says there is no further device.
    void OpenAll() {
        for (SD_UINT32 i = 0; i < 64; ++i) {
            int h = -1;
            SD_UINT32 st = SDOpenDevice(i, &h);
            if (st == SDERR_DEVICE_NOT_FOUND) return;
            ASSERT_EQ(st, 0u) << "instance " << i;
            handles.push_back(h);
        }
    }
    std::string dir;
    std::vector<int> handles;
};

TEST_F(SimLibrary, DiscoversEveryAdapterAndPort) {
    zvfix::HostBuilder host;
    host.AddChip25TwoPort(0x2261);
    host.AddChip27(0x2289, 2);
    host.AddChip25(0x2061, 1);
    Use(host);
    OpenAll();
    ASSERT_EQ(handles.size(), 5u);
    std::map<std::string, std::vector<SD_UINT16>> byAdapter;
    for (int h : handles) {
        CHIPPROPERTY chip{};
        DEVICENODEPROPERTY node{};
        DEVICEPORTPROPERTY port{};
        ASSERT_EQ(SDGetHbaDeviceChipProperty(h, &chip), 0u);
        ASSERT_EQ(SDGetHbaDeviceNodeProperty(h, &node), 0u);
        ASSERT_EQ(SDGetHbaDevicePortProperty(h, 0, &port), 0u);
        EXPECT_EQ(node.InterfaceType, SD_INTERFACE_FC);
        byAdapter[node.SerialNumber].push_back(chip.DeviceID);

        // The NVRAM the platform serves carries the PCI subsystem ids.
        std::vector<SD_UINT8> nvram(512);
        ASSERT_EQ(SDGetNVRam(h, 0, 2, nvram), 0u);
        EXPECT_EQ(SDGetVariableValue(h, nvram, 127), chip.SubVendorID);
        EXPECT_EQ(SDGetVariableValue(h, nvram, 128), chip.SubSystemID);

        std::vector<SD_UINT8> vpd(1024);
        SD_UINT32 copied = 0;
        ASSERT_EQ(SDGetVpd(h, 0, vpd, &copied), 0u);
        EXPECT_EQ(copied, 512u);
        EXPECT_EQ(vpd[0], 0x82);
    }
    ASSERT_EQ(byAdapter.size(), 3u);
    std::multiset<size_t> portsPerAdapter;
    for (const auto& [serial, ids] : byAdapter) {
        portsPerAdapter.insert(ids.size());
        for (SD_UINT16 id : ids) EXPECT_EQ(id, ids.front()) << serial;
    }
    EXPECT_EQ(portsPerAdapter, (std::multiset<size_t>{1, 2, 2}));
    char version[64];
    SDGetVersion(version);
    EXPECT_STREQ(version, "v6.04 build77");
    ISDFoGetApiVersion(version);
    EXPECT_STREQ(version, "6.4.0 build77");
}

TEST_F(SimLibrary, RegionWriteIsSeenByASecondProcess) {
    zvfix::HostBuilder host;
    host.AddChip27(0x2281, 1);
    Use(host);
    OpenAll();
    ASSERT_EQ(handles.size(), 1u);
    int h = handles[0];
    auto before = zvfix::ReadFlash(dir, 0);
    const auto* memo = host.adapters[0].Region(zvfix::kRegionMemo1);
    ASSERT_NE(memo, nullptr);
    std::vector<SD_UINT8> data(48);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<SD_UINT8>(0x30 + i);
    ASSERT_EQ(SDUpdateOptionRomEx2(h, 1, data, zvfix::kRegionMemo1), 0u);

    // Exactly the region's first bytes changed in the flash file.
    auto after = zvfix::ReadFlash(dir, 0);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        bool inWrite = i >= memo->offset && i < memo->offset + data.size();
        ASSERT_EQ(after[i], inWrite ? data[i - memo->offset] : before[i]) << "byte " << i;
    }
    auto journal = zvfix::ReadJournal(dir);
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.back().region, zvfix::kRegionMemo1);
    EXPECT_EQ(journal.back().size, data.size());
    EXPECT_EQ(journal.back().disableReset, 1u);

    // Unload here first, so that the child starts without any library state.
    for (int open : handles) SDCloseDevice(open);
    handles.clear();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    if (child == 0) {
        // A fresh process: its own library load over the same host.
        int ch = -1;
        std::vector<SD_UINT8> back(48);
        int same = SDOpenDevice(0, &ch) == 0 && SDGetOptionRomEx(ch, 0, back, zvfix::kRegionMemo1) == 0 && back == data;
        SDCloseDevice(ch);
        (void)!write(fds[1], &same, sizeof same);
        _exit(0);
    }
    int same = 0;
    ASSERT_EQ(read(fds[0], &same, sizeof same), static_cast<ssize_t>(sizeof same));
    EXPECT_EQ(same, 1);
    int status = 0;
    waitpid(child, &status, 0);
    close(fds[0]);
    close(fds[1]);
}

TEST_F(SimLibrary, RebootSwitchesTheRunningSet) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort(0x2261);
    a.SetImageStatus(1, 5, 0, 4);
    Use(host);
    OpenAll();
    int h = handles.at(0);
    SD_ACTIVE_REGIONS r{};
    ASSERT_EQ(SDGetActiveRegions(h, 0, &r), 0u);
    EXPECT_EQ(r.ActiveGlobalRegions, 1);

    // Mark the secondary set active, as an update engine does.
    auto secondary = zvfix::MakeImageStatusRecord(1, 6, zvfix::kSigImageStatus25);
    auto primary = zvfix::MakeImageStatusRecord(0, 5, zvfix::kSigImageStatus25);
    ASSERT_EQ(SDUpdateOptionRomEx2(h, 1, secondary, zvfix::kRegionImageStatus2), 0u);
    ASSERT_EQ(SDUpdateOptionRomEx2(h, 1, primary, zvfix::kRegionImageStatus1), 0u);
    ASSERT_EQ(SDGetActiveRegions(h, 0, &r), 0u);
    EXPECT_EQ(r.ActiveGlobalRegions, 1);   // the running set changes only at boot

    // A reboot ends every process that used the adapters; the next one sees the new set.
    ASSERT_EQ(zvfix::Reboot(dir), 0);
    for (int open : handles) SDCloseDevice(open);
    handles.clear();
    OpenAll();
    ASSERT_EQ(SDGetActiveRegions(handles.at(0), 0, &r), 0u);
    EXPECT_EQ(r.ActiveGlobalRegions, 2);
}

TEST_F(SimLibrary, BusyAnswersReachTheCaller) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort(0x2261);
    a.faults.push_back(zvfix::FaultSpec::Busy("flash_write", 2));
    a.faults.push_back(zvfix::FaultSpec::Busy("flash_read", 1, 0x20000075));
    Use(host);
    OpenAll();
    int h = handles.at(0);
    std::vector<SD_UINT8> data(16, 0x5C);
    EXPECT_EQ(SDUpdateOptionRomEx2(h, 1, data, zvfix::kRegionBoot2), SDERR_BUSY);
    EXPECT_EQ(SDUpdateOptionRomEx2(h, 1, data, zvfix::kRegionBoot2), SDERR_BUSY);
    EXPECT_EQ(SDUpdateOptionRomEx2(h, 1, data, zvfix::kRegionBoot2), 0u);
    std::vector<SD_UINT8> back(16);
    EXPECT_EQ(SDGetOptionRomEx(h, 0, back, zvfix::kRegionBoot2), SDERR_UNKNOWN);
    EXPECT_EQ(SDGetOptionRomEx(h, 0, back, zvfix::kRegionBoot2), 0u);
    EXPECT_EQ(back, data);
}

}  // namespace
