// The display operations no command word reaches, and the displays' answers
// to a missing port, in process over a simulated host.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "cli/adapter_displays.h"
#include "cli/commands.h"
#include "fixtures/host_builder.h"
#include "fixtures/lists_host.h"
#include "frontend/output.h"
#include "support/e2e_support.h"

namespace {

class UnreachedDisplays : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "the output file lives in the private /var/log";
        zvtest::ClearLogs();   // a file named in the same second would be appended to
        ResetOutputChannels();
        ASSERT_EQ(SetOutOutFile(), 0);
    }
    void TearDown() override { ResetOutputChannels(); }
    static std::string OutputFile() { return zvtest::ReadFile(GetOutPutFile()); }
};

TEST_F(UnreachedDisplays, PepBoardConfigVersionOfEveryPort) {
    {
        zvfix::HostBuilder empty;
        zvfix::ListsHost lists(empty);
        EXPECT_EQ(DisplayAllHBAsPEPBCVersion(), 9);
        EXPECT_EQ(DisplayAllHBAInformation(), 9);
    }
    zvfix::HostBuilder h;
    h.AddChip25TwoPort();
    zvfix::ListsHost lists(h);
    DisplayAllHBAsPEPBCVersion();
    const std::string out = OutputFile();
    EXPECT_NE(out.find("HBA 0 (KV2692)"), std::string::npos) << out;
    EXPECT_NE(out.find("HBA 1 (KV2692)"), std::string::npos) << out;
}

TEST_F(UnreachedDisplays, NoPortAnswers) {
    EXPECT_EQ(DisplayAdapterPCIVendorInfo(nullptr, 0, 0), 8);
    EXPECT_EQ(DisplayAdapterFlashComponentsVersion(nullptr, 0, 0), 8);
    EXPECT_EQ(PrintAdapterFlashComponentsVersion(nullptr, nullptr), 8);
    EXPECT_EQ(GetAdapterManagementPortInterfaceState(nullptr), 8);
    EXPECT_EQ(PrintHBAGenInfos(nullptr), 0);
    EXPECT_EQ(DoFlashUpdateAdapterPortFromFile(nullptr, "x", 1, 0, 0, 1, 1), 19);
    EXPECT_EQ(OutputFile(), "Unable to find the selected HBA!\n");
}

}  // namespace
