// A core device over port 0 of an in-memory adapter (mgmt/fake_transport.h),
// for layouts and failures the simulated platform cannot hold; the library
// goes back to its usual transport when it goes.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "core/sdm_device.h"
#include "mgmt/fake_transport.h"
#include "mgmt/sdapi.h"

namespace zvtest {

class FakeDevice {
public:
    FakeDevice(const std::shared_ptr<FakeState>& state, SD_UINT16 deviceId) {
        InstallFake(state);
        EXPECT_EQ(SDOpenDevice(0, &device_.DeviceHandle), 0u);
        device_.DeviceChipProperty.DeviceID = deviceId;
    }
    ~FakeDevice() {
        SDCloseDevice(device_.DeviceHandle);
        zvapi_set_transport_factory({});
    }
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;
    SDMDevice* get() { return &device_; }

private:
    SDMDevice device_{};
};

}  // namespace zvtest
