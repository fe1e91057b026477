// Every refusal the platform can give reaches the caller of the SD function
// with its own status: sessions, attributes, on-line activation, and a
// session token that ages on the platform's clock.
#include <gtest/gtest.h>

#include <cstdlib>

#include "fixtures/host_builder.h"
#include "mgmt/sd_library.h"
#include "mgmt/sdapi.h"
#include "mgmt/sim/sim_host.h"
#include "mgmt/sim/sim_layout.h"
#include "support/e2e_support.h"

namespace {

constexpr SD_UINT32 kNotActivated = SDERR_FLASHED_NOT_ACTIVATED;

class PlatformFailures : public ::testing::Test {
protected:
    void SetUp() override {
        zvapi_set_transport_factory({});
        dir = zvfix::MakeTempDir("zvfail");
    }
    void TearDown() override {
        if (handle >= 0) SDCloseDevice(handle);
        unsetenv("ZV_SIM_HOST");
    }
    // One on-line-update adapter (0x2261) with these faults; opens its first port.
    zvfix::AdapterSpec& Adapter(std::vector<zvfix::FaultSpec> faults) {
        zvfix::AdapterSpec& a = host.AddChip25TwoPort(0x2261);
        a.faults = std::move(faults);
        return a;
    }
    void Open() {
        host.Write(dir);
        setenv("ZV_SIM_HOST", dir.c_str(), 1);
        ASSERT_EQ(SDOpenDevice(0, &handle), 0u);
    }
    zvfix::HostBuilder host;
    std::string dir;
    int handle = -1;
};

TEST_F(PlatformFailures, SessionStartAndEndRefusedAsThePlatformSays) {
    std::vector<zvfix::FaultSpec> faults;
    const SD_UINT32 starts[] = {SDERR_SESSION_IN_PROGRESS, SDERR_SESSION_EXPIRED, SDERR_TOKEN_NOT_SET, SDERR_UNKNOWN};
    for (SD_UINT32 i = 0; i < 4; ++i) faults.push_back(zvfix::FaultSpec::Fail("flash_update_start", starts[i], 1).Skip(i));
    faults.push_back(zvfix::FaultSpec::Fail("flash_update_end", 0x20000067, 1));
    Adapter(faults);
    Open();
    SD_INT32 token = 0;
    for (SD_UINT32 st : starts) {
        // A refused start keeps no slot: the next answer is the platform's again.
        EXPECT_EQ(SDStartFlashUpdate(handle, 0, &token), st);
    }
    ASSERT_EQ(SDStartFlashUpdate(handle, 0, &token), 0u);
    EXPECT_EQ(SDEndFlashUpdate(handle, 0, token), 0x20000067u);
    ASSERT_EQ(SDStartFlashUpdate(handle, 0, &token), 0u) << "the failed end still freed the slot";
    EXPECT_EQ(SDEndFlashUpdate(handle, 0, token), 0u);
}

TEST_F(PlatformFailures, TokenExpiresWhenThePlatformClockJumps) {
    // The first flash write moves the platform clock past the token's 900 s.
    Adapter({zvfix::FaultSpec::AdvanceClock("flash_write", 901)});
    Open();
    SD_UINT64 caps = 0;
    ASSERT_EQ(SDGetFlashUpdateCapabilities(handle, 0, &caps), 0u);
    SD_INT32 token = 0;
    ASSERT_EQ(SDStartFlashUpdate(handle, 0, &token), 0u);
    const std::vector<SD_UINT8> data(16, 0x5A);
    ASSERT_EQ(SDUpdateOptionRomEx2(handle, 1, data, 0x01), 0u);
    EXPECT_EQ(SDUpdateOptionRomEx2(handle, 1, data, 0x01), SDERR_TOKEN_NOT_SET) << "no live token any more";
    EXPECT_EQ(SDEndFlashUpdate(handle, 0, token), SDERR_SESSION_EXPIRED);
    // The platform keeps its clock for the next process.
    const std::string text = zvtest::ReadFile(dir + "/state.json");
    EXPECT_NE(text.find("\"clock_offset\": 901"), std::string::npos) << text.substr(0, 80);
}

TEST_F(PlatformFailures, AttributesAndOnlineActivationAnswerAsGiven) {
    zvfix::FaultSpec sendFails = zvfix::FaultSpec::Fail("fw_attributes_send", SDERR_UNKNOWN, 1);
    std::vector<zvfix::FaultSpec> faults{sendFails};
    const SD_UINT32 answers[] = {0x20000063, kNotActivated, SDERR_BUSY};
    for (SD_UINT32 i = 0; i < 3; ++i) faults.push_back(zvfix::FaultSpec::Fail("online_activate", answers[i], 1).Skip(i));
    Adapter(faults).fwAttributes = 0x8000;
    Open();
    EXPECT_EQ(SDSendFlashUpdateFWAttributes(handle, 0, 0x8000, 400), SDERR_UNKNOWN);
    // Nothing was recorded: the running firmware's word differs from none.
    EXPECT_EQ(SDOnlineActivateFlashUpdate(handle, 0), kNotActivated);
    ASSERT_EQ(SDSendFlashUpdateFWAttributes(handle, 0, 0x8000, 400), 0u);
    for (SD_UINT32 st : answers) EXPECT_EQ(SDOnlineActivateFlashUpdate(handle, 0), st);
    EXPECT_EQ(SDOnlineActivateFlashUpdate(handle, 0), 0u);
    std::vector<std::string> ops;
    for (const auto& e : zvfix::ReadJournalEvents(dir)) ops.push_back(e.op);
    EXPECT_EQ(ops, (std::vector<std::string>{"online_activate", "activate"}));
}

// One rule for the NVRAM and VPD image sizes, in the library and on the platform.
TEST(PlatformImageSizes, LibraryAndPlatformAgreeForEveryDeviceId) {
    for (unsigned id = 0; id <= 0xFFFF; ++id) {
        const auto d = static_cast<SD_UINT16>(id);
        ASSERT_EQ(zvsim_nvram_size(d), zvapi_nvram_size(d)) << std::hex << id;
        ASSERT_EQ(zvsim_vpd_size(d), zvapi_vpd_size(d)) << std::hex << id;
    }
    // The regions the platform lays out hold the image it serves.
    for (SD_UINT16 chip = 0; chip <= 27; ++chip) {
        for (const zvsim_region& r : zvsim_default_layout(chip)) {
            const SD_UINT32 need = r.code == 0x15 ? (chip == 25 || chip == 27 ? 512u : 256u)
                                   : r.code == 0x14 ? (chip == 17 || chip == 21 || chip == 26 ? 1024u : 512u)
                                                    : 0u;
            EXPECT_GE(r.size, need) << chip;
        }
    }
}

}  // namespace
