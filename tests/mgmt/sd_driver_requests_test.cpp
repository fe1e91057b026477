// Requests the library passes to the driver unchanged: the NVRAM reload and
// the link speed towards one remote port.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "lib_fixture.h"

namespace zvtest {
namespace {

using DriverRequests = LibTest;

TEST_F(DriverRequests, ReloadAndLinkSpeedReachTheDriverWithTheirStatus) {
    const int h = OpenNew();
    DESTINATIONADDRESS target{};
    target.AddressType = SD_ADDRESS_BY_PORT_ID;
    target.AddressUsing[0] = 0x01;
    target.AddressUsing[1] = 0x02;
    target.AddressUsing[2] = 0x03;
    target.LunNumber = 7;
    struct Row {
        const char* what;
        std::function<SD_UINT32(int)> call;
        zvapi_op op;
        SD_UINT32 scripted;   // the driver's answer
    };
    const Row rows[] = {
        {"reload", [](int d) { return SDReloadNvramAndInitFw(d, 0); }, ZVOP_NVRAM_RELOAD, SDERR_SUCCESS},
        {"reload not activated", [](int d) { return SDReloadNvramAndInitFw(d, 0); }, ZVOP_NVRAM_RELOAD,
         SDERR_FLASHED_NOT_ACTIVATED},
        {"reload busy", [](int d) { return SDReloadNvramAndInitFw(d, 0); }, ZVOP_NVRAM_RELOAD, SDERR_BUSY},
        {"link speed", [&](int d) { return SDSetTargetIDMALinkSpeed(d, 0, 1, &target, 16); }, ZVOP_LINK_SPEED,
         SDERR_SUCCESS},
        {"link speed refused", [&](int d) { return SDSetTargetIDMALinkSpeed(d, 0, 1, &target, 16); },
         ZVOP_LINK_SPEED, SDERR_INVALID_PARAMETER},
    };
    for (const Row& r : rows) {
        state->Calls.clear();
        state->Script[r.op] = {r.scripted};
        EXPECT_EQ(r.call(h), r.scripted) << r.what;
        ASSERT_EQ(state->Count(r.op), 1) << r.what;
        // A handle the library never gave asks nothing.
        state->Calls.clear();
        EXPECT_EQ(r.call(h + 77), SDERR_INVALID_HANDLE) << r.what;
        EXPECT_EQ(state->Count(r.op), 0) << r.what;
    }

    // The driver gets the target, the flags and the speed as given.
    state->Calls.clear();
    ASSERT_EQ(SDSetTargetIDMALinkSpeed(h, 0, 1, &target, 16), 0u);
    ASSERT_EQ(state->Calls.size(), 1u);
    zvapi_link_speed sent{};
    ASSERT_EQ(state->Calls[0].In.size(), sizeof sent);
    std::memcpy(&sent, state->Calls[0].In.data(), sizeof sent);
    EXPECT_EQ(std::memcmp(&sent.Dest, &target, sizeof target), 0);
    EXPECT_EQ(sent.Flags, 1u);
    EXPECT_EQ(sent.Speed, 16u);
    state->Calls.clear();
    EXPECT_EQ(SDSetTargetIDMALinkSpeed(h, 0, 1, nullptr, 16), SDERR_INVALID_PARAMETER);
    EXPECT_TRUE(state->Calls.empty());
}

}  // namespace
}  // namespace zvtest
