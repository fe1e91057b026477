// A host given back when the library unloads is taken again while host.json
// keeps its text: a changed file (even of the same length) or a flash file
// gone since must be seen at the next open, exactly as a fresh parse would.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "fixtures/host_builder.h"
#include "mgmt/sim/sim_host.h"

namespace {

TEST(SimHostReuse, SameTextIsReusedAndEveryChangeIsSeen) {
    const std::string dir = zvfix::MakeTempDir("simreuse") + "/host";
    zvfix::HostBuilder h;
    h.AddChip25TwoPort();
    h.libraryVersion = "v6.04 build77";
    h.Write(dir);

    zvsim_host host;
    std::string err;
    ASSERT_TRUE(zvsim_load_host(dir, host, err)) << err;
    zvsim_keep_host(std::move(host));
    ASSERT_TRUE(zvsim_load_host(dir, host, err)) << err;
    EXPECT_EQ(host.libraryVersion, "v6.04 build77");
    EXPECT_EQ(host.instances.size(), 2u);

    // Same length, other text: the new value, not the kept one.
    h.libraryVersion = "v6.04 build78";
    h.Write(dir);
    zvsim_keep_host(std::move(host));
    ASSERT_TRUE(zvsim_load_host(dir, host, err)) << err;
    EXPECT_EQ(host.libraryVersion, "v6.04 build78");

    // A flash file removed behind an unchanged host.json refuses the host.
    const std::string flash = host.adapters.at(0).flashPath;
    std::filesystem::remove(flash);
    zvsim_keep_host(std::move(host));
    EXPECT_FALSE(zvsim_load_host(dir, host, err));
    EXPECT_NE(err.find("is missing"), std::string::npos) << err;
    EXPECT_TRUE(host.adapters.empty());

    // One larger than the flash as well.
    std::ofstream(flash, std::ios::binary) << std::string(0x1000001, '\xFF');
    EXPECT_FALSE(zvsim_load_host(dir, host, err));
    EXPECT_NE(err.find("larger than the flash size"), std::string::npos) << err;

    std::filesystem::remove_all(std::filesystem::path(dir).parent_path());
}

}  // namespace
