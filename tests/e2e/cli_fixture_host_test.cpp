// Start-up and clean-up against a simulated host: every adapter is opened and
// closed again, nothing is written to flash, and the library leaves nothing behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "fixtures/host_builder.h"
#include "support/e2e_support.h"

namespace {

TEST(CliFixtureHost, StartUpAndCleanUpLeaveFlashAndLibraryStateAlone) {
    if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /tmp and /var/log";
    zvtest::TempDir hostDir;
    zvfix::HostBuilder host;
    host.AddChip25TwoPort();
    host.AddChip27();
    host.Write(hostDir.Path());
    const zvfix::Bytes flash0 = zvfix::ReadFlash(hostDir.Path(), 0);
    const zvfix::Bytes flash1 = zvfix::ReadFlash(hostDir.Path(), 1);

    zvtest::InstallDir inst;
    zvtest::RunOptions o;
    o.args = {"-trace", "-g", "x"};
    o.env = {{"ZV_SIM_HOST", hostDir.Path()}};
    zvtest::RunResult r = zvtest::RunProgram(inst, o);
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_EQ(r.outputFile, "Invalid command line options!\n");
    EXPECT_NE(r.out.find("CoreOSSInitializeDevices finished.\n"), std::string::npos);
    EXPECT_NE(r.out.find("Cleanup finished.\n"), std::string::npos);

    EXPECT_EQ(zvfix::ReadFlash(hostDir.Path(), 0), flash0);
    EXPECT_EQ(zvfix::ReadFlash(hostDir.Path(), 1), flash1);
    EXPECT_FALSE(zvtest::FileExists("/tmp/zv_shared.dat")) << "the last close unloads the library";
}

}  // namespace
