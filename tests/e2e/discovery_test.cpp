// Start-up discovery of the whole program on simulated hosts. "-trace" puts
// the core log on the console; "-g x" (an invalid second word) runs the whole
// start-up and clean-up and then refuses the line with 255.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fixtures/host_builder.h"
#include "support/e2e_support.h"

namespace {

using zvtest::InstallDir;
using zvtest::RunOptions;
using zvtest::RunResult;

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

class DiscoveryRun : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "whole-program runs need the private /tmp and /var/log";
    }

    RunResult Run(const zvfix::HostBuilder& host) {
        host.Write(work_.Path() + "/host");
        RunOptions o;
        o.args = {"-trace", "-g", "x"};
        o.env = {{"ZV_SIM_HOST", work_.Path() + "/host"}};
        o.countSleeps = true;
        RunResult r = zvtest::RunProgram(inst_, o);
        EXPECT_EQ(r.status, 255) << r.out << r.err;
        // Clean-up closed every handle: the last close removed the library's shared file.
        EXPECT_FALSE(zvtest::FileExists("/tmp/zv_shared.dat"));
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
