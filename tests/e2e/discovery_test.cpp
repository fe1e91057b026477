// Start-up discovery of the whole program on simulated hosts, which leaves
// flash and library state alone. "-trace" puts the core log on the console;
// "-g x" (an invalid second word) runs the whole start-up and clean-up and
// then refuses the line with 255.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/run_helpers.h"
#include "fixtures/host_builder.h"
#include "support/e2e_support.h"

namespace {
using zve2e::Count;

using zvtest::InstallDir;
using zvtest::RunOptions;
using zvtest::RunResult;
using zvtest::Has;

class DiscoveryRun : public zve2e::IsolatedTest {
protected:
    // Start-up and clean-up open and close every adapter and write no flash.
    RunResult Run(const zvfix::HostBuilder& host) {
        const std::string dir = work_.Path() + "/host";
        host.Write(dir);
        std::vector<zvfix::Bytes> flashes;
        for (size_t i = 0; i < host.adapters.size(); ++i) flashes.push_back(zvfix::ReadFlash(dir, static_cast<int>(i)));
        RunOptions o;
        o.args = {"-trace", "-g", "x"};
        o.env = {{"ZV_SIM_HOST", dir}};
        o.countSleeps = true;
        RunResult r = zvtest::RunProgram(inst_, o);
        EXPECT_EQ(r.status, 255) << r.out << r.err;
        EXPECT_EQ(r.outputFile, "Invalid command line options!\n");
        EXPECT_TRUE(Has(r.out, "CoreOSSInitializeDevices finished.\n")) << r.out;
        EXPECT_TRUE(Has(r.out, "Cleanup finished.\n")) << r.out;
        for (size_t i = 0; i < flashes.size(); ++i) EXPECT_EQ(zvfix::ReadFlash(dir, static_cast<int>(i)), flashes[i]);
        // Clean-up closed every handle: the last close removed the library's shared file.
        EXPECT_FALSE(zvtest::FileExists("/run/zv_shared.dat"));
        return r;
    }

    InstallDir inst_;
    zvtest::TempDir work_;
};

TEST_F(DiscoveryRun, UnsupportedInstanceCostsSixWaitsAndIsSkipped) {
    zvfix::HostBuilder host;
    host.AddChip25TwoPort();
    host.AddChip25(0x2261, 1).faults.push_back(zvfix::FaultSpec::OpenUnsupported(7));
    host.AddChip27(0x2281, 1);
    const RunResult r = Run(host);

    EXPECT_EQ(r.sleepsMs, std::vector<long>(6, 5000));
    EXPECT_EQ(Count(r.out, "SDOpenDevice(2, xx) failed (0x20000071) (Unsupported command version), Retrying after a "
                           "sleep..."),
              6u);
    EXPECT_EQ(Count(r.out, "Found *UNSUPPORTED* Korvex HBA - instance (2) -- Please check the README file for "
                           "supported adapters and driver versions."),
              1u);
    for (const char* found : {"Found Korvex HBA - instance (0)", "Found Korvex HBA - instance (1)",
                              "Found Korvex HBA - instance (3)"})
        EXPECT_EQ(Count(r.out, found), 1u) << found;
    EXPECT_EQ(Count(r.out, "Found Korvex HBA - instance (2)"), 0u);
}

TEST_F(DiscoveryRun, BusyThenReadyTargetIsProbed) {
    zvfix::HostBuilder host;
    auto& t = host.AddChip25(0x2261, 1).ports[0].AddTarget();
    t.scripts.push_back({0, 0x00, {zvfix::ScsiAnswer::Busy(), zvfix::ScsiAnswer::Busy()}});
    // A LUN that reports a unit attention once is asked again at once.
    t.AddLun(1);
    t.scripts.push_back({1, 0x00, {zvfix::ScsiAnswer::UnitAttention()}});
    const RunResult r = Run(host);
    EXPECT_EQ(r.sleepsMs, std::vector<long>(2, 1000));
    EXPECT_EQ(Count(r.out, "Unable to query target"), 0u);
    EXPECT_EQ(Count(r.out, "will NOT add LUN"), 0u);
}

}  // namespace
