// Test fixture: a fresh fake platform per test, every handle closed after it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "mgmt/fo_api.h"
#include "mgmt/sdapi.h"
#include "fake_transport.h"

namespace zvtest {

class LibTest : public ::testing::Test {
protected:
    void SetUp() override {
        state = std::make_shared<FakeState>();
        InstallFake(state);
    }
    void TearDown() override {
        for (int h : handles) SDCloseDevice(h);
        zvapi_set_transport_factory({});
    }
    int Open(SD_UINT32 instance) {
        int h = -1;
        SD_UINT32 st = SDOpenDevice(instance, &h);
        EXPECT_EQ(st, 0u) << "open of instance " << instance;
        if (st == 0) handles.push_back(h);
        return h;
    }
    void Close(int h) {
        EXPECT_EQ(SDCloseDevice(h), 0u);
        handles.erase(std::remove(handles.begin(), handles.end(), h), handles.end());
    }

    std::shared_ptr<FakeState> state;
    std::vector<int> handles;
};

inline std::vector<SD_UINT8> Pattern(size_t n, SD_UINT8 seed) {
    std::vector<SD_UINT8> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<SD_UINT8>(seed + i * 7);
    return v;
}

}  // namespace zvtest
