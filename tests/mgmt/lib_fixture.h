// Test fixture: a fresh fake platform per test, every handle closed after it.
#pragma once

#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "fake_transport.h"
#include "fixtures/sim_client.h"
#include "mgmt/fo_api.h"
#include "mgmt/sd_shared_db.h"
#include "mgmt/sdapi.h"

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
    // One adapter, its first port opened.
    int OpenNew(SD_UINT16 deviceId = 0x2261, const std::string& serial = "SN1") {
        state->AddAdapter(deviceId, serial);
        return Open(0);
    }
    void Close(int h) {
        EXPECT_EQ(SDCloseDevice(h), 0u);
        handles.erase(std::remove(handles.begin(), handles.end(), h), handles.end());
    }

    std::shared_ptr<FakeState> state;
    std::vector<int> handles;
};

using zvfix::Pattern;

inline bool SharedFileExists() { return access(ZVSHDB_PATH, F_OK) == 0; }

// A /run that others may write (the test's private one): the library does
// not start while it is so. The set-up error it gives.
inline bool OpenRunToOthers() { return chmod(ZVSHDB_DIR, 01777) == 0; }
inline void RestoreRun() { chmod(ZVSHDB_DIR, 0755); }
inline std::string OpenRunSetupError() {
    return std::string("The management library cannot start: its shared database ") + ZVSHDB_PATH +
           " cannot be used: users other than root may write its directory.";
}

}  // namespace zvtest
