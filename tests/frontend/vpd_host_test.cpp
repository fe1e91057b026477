// Keyword reads from an adapter's VPD through the management library.
#include "frontend/vpd.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/device_discovery.h"
#include "fixtures/host_builder.h"
#include "support/discovered_host.h"

namespace {

using VpdOnHost = zvtest::DiscoveredHostTest;

std::string Field(const SDMDevice* d, const char* keyword, size_t size = 64, int* rc = nullptr) {
    std::vector<char> out(size, '\0');
    const int status = retrieveSpecificVpdField(d, keyword, out);
    if (rc != nullptr) *rc = status;
    return out.data();
}

TEST_F(VpdOnHost, KeywordsOfEachAdapter) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.vpd.sn = " SN 42  ";
    a.vpd.mn = "  1A77  ";
    auto& b = host.AddChip27();
    // Port 1 (function 0): no identifier tag; port 2 (function 1): no end tag.
    b.SetRegion(zvfix::VpdRegion(0), zvfix::Bytes(1024, 0x00));
    zvfix::Bytes noEnd(1024, 0x00);
    noEnd[0] = 0x82;
    b.SetRegion(zvfix::VpdRegion(1), noEnd);
    const auto devices = Discover(host);
    ASSERT_EQ(devices.size(), 4u);

    // Trimming and cuts are the byte walk's (vpd_test); here each port reads its own region.
    int rc = -1;
    EXPECT_EQ(Field(devices[0], "SN", 64, &rc), " SN 42  ");
    EXPECT_EQ(rc, VPD_SUCCESS);
    EXPECT_EQ(Field(devices[1], "MN"), "1A77");

    EXPECT_EQ(Field(devices[2], "SN", 64, &rc), "");
    EXPECT_EQ(rc, VPD_NO_START_TAG);
    Field(devices[3], "SN", 64, &rc);
    EXPECT_EQ(rc, VPD_NO_END_TAG);
}

}  // namespace
