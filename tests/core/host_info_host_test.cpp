// Host information and the per-device queries over a simulated host, through
// the real discovery and the management library.
#include "core/host_info.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/device_discovery.h"
#include "core/oss_services.h"
#include "fixtures/host_builder.h"
#include "support/discovered_host.h"

namespace {

using HostInfoOnHost = zvtest::DiscoveredHostTest;

TEST_F(HostInfoOnHost, LibraryAndFailoverDataOfTheFirstAdapter) {
    zvfix::HostBuilder host;
    host.libraryVersion = "v6.05 build12";
    host.failoverApiVersion = "6.5.1 build12";
    auto& a = host.AddChip25TwoPort();
    a.ports[0].foCapability = 0x30000004;
    a.ports[0].foDriverVersion = "10.02.09.200-fo";
    a.ports[1].foDriverVersion = "other-port";
    a.ports[1].scmFlags = 0x05;
    Discover(host);
    ASSERT_EQ(Devices().size(), 2u);

    HostInformationPtr info = CreateNewHostInformation();
    ASSERT_TRUE(info);
    ASSERT_EQ(GetHostInformation(info.get()), 0);
    EXPECT_STREQ(info->ZozIraVersion, "v6.05 build12");
    EXPECT_STREQ(info->FoApiVersion, "6.5.1 build12");
    EXPECT_EQ(info->FoApiCapabilities, 0x30000004u);
    EXPECT_STREQ(info->FoDriverVersion, "10.02.09.200-fo");
    EXPECT_STREQ(info->HostName, std::string(OSSGetHostName()).substr(0, 63).c_str());
    EXPECT_EQ(info->bViewVyPortName, 1u);
    EXPECT_EQ(info->bOEM_AlternateFailoverProcessDetected, 0u);

    EXPECT_EQ(CoreGetSanCongMgmtFabricConnectionMode(Devices()[1]), 0x05);
    EXPECT_EQ(CoreGetSanCongMgmtFabricConnectionMode(Devices()[0]), 0x00);
}

// The library hands over the whole 64-byte record, also with the lockdown
// status: the named words in order, then ten reserved words of zero.
TEST_F(HostInfoOnHost, LockdownAnswerIsTheWholeRecord) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.lockdownStatus = 0x20000113;
    a.lockdownSignature = 0x11223344;
    a.configDisable = 0x8, a.fwUpdateDisable = 0x1, a.mpiDisable = 0x10000, a.lockdownSupport = 0x7, a.ispFwLockdown = 2;
    Discover(host);
    ASSERT_FALSE(Devices().empty());
    SYSTEM_LOCKDOWN_INFO info;
    std::memset(&info, 0xEE, sizeof info);
    ASSERT_EQ(CoreGetAdapterLockDownState(Devices()[0], &info), 0);
    std::vector<SD_UINT8> expected(64, 0);
    const uint32_t words[6] = {0x11223344, 0x8, 0x1, 0x10000, 0x7, 2};
    for (int w = 0; w < 6; ++w)
        for (int b = 0; b < 4; ++b) expected[4 * w + b] = static_cast<SD_UINT8>(words[w] >> (8 * b));
    const auto* got = reinterpret_cast<const SD_UINT8*>(&info);
    EXPECT_EQ(std::vector<SD_UINT8>(got, got + sizeof info), expected);
}

TEST_F(HostInfoOnHost, BoardConfigTakesTheDeviceSubsystemIds) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.subVendorId = 0x1A77;
    a.subSystemId = 0x02A1;
    Discover(host);
    ASSERT_FALSE(Devices().empty());
    std::vector<SD_UINT8> adapter(0x1000, 0), file(0x1000, 0);
    for (auto* b : {&adapter, &file}) {
        (*b)[0] = 0x43; (*b)[1] = 0x42; (*b)[2] = 0x46; (*b)[3] = 0x28;   // "CBF("
        (*b)[13] = 0x04;                                                   // 0x400 words
    }
    ASSERT_EQ(CorePreserveFCBrdCfgData(Devices()[0], adapter, file), 0);
    EXPECT_EQ(file[16] | file[17] << 8, 0x1A77);
    EXPECT_EQ(file[18] | file[19] << 8, 0x02A1);
}

}  // namespace
