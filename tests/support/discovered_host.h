// In-process tests over a simulated host: each test gets a fresh directory,
// writes its host there, points the library at it and runs the real
// discovery; tear-down releases the device list (closing every handle).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/device_discovery.h"
#include "fixtures/host_builder.h"

namespace zvtest {

class DiscoveredHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = zvfix::MakeTempDir("zvhost");
        hostDir_ = dir_ + "/host";
        InitDeviceList();
    }
    void TearDown() override {
        RemoveAllDevicesFromDeviceList();
        unsetenv("ZV_SIM_HOST");
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    // The discovered ports in list order.
    std::vector<SDMDevice*> Discover(const zvfix::HostBuilder& host) {
        host.Write(hostDir_);
        setenv("ZV_SIM_HOST", hostDir_.c_str(), 1);
        CoreInitializeDevices();
        return Devices();
    }
    static std::vector<SDMDevice*> Devices() {
        std::vector<SDMDevice*> v;
        for (SDMDevice* d = GetDeviceList()->firstDevice; d != nullptr; d = d->next) v.push_back(d);
        return v;
    }

    std::string dir_, hostDir_;
};

}  // namespace zvtest
