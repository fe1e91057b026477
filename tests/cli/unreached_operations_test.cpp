// Operations of the front end that no command word runs: the image update of
// every port that flash.cfg asks for, the multiboot-version display, the
// flash-descriptor repair pass and the initialisation thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "cli/commands.h"
#include "cli/flash_cfg.h"
#include "cli/mbi_version_display.h"
#include "cli/startup.h"
#include "cli/update_all_hbas.h"
#include "core/oss_services.h"
#include "fixtures/adapters_properties_builder.h"
#include "fixtures/flash_cfg_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/lists_host.h"
#include "fixtures/memo_block_builder.h"
#include "frontend/hba_device_list.h"
#include "frontend/output.h"
#include "support/e2e_support.h"

namespace {

class UnreachedOperations : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "the output file lives in the private /var/log";
        ResetOutputChannels();
        ASSERT_EQ(SetOutOutFile(), 0);
    }
    void TearDown() override {
        DeleteFlashCtrVersionList();
        ResetOutputChannels();
    }
    static std::string OutputFile() { return zvtest::ReadFile(GetOutPutFile()); }
    // What fn answers on a host without ports.
    static int OnEmptyHost(int (*fn)()) {
        zvfix::HostBuilder empty;
        zvfix::ListsHost lists(empty);
        return fn();
    }
    zvtest::TempDir dir_;
};

TEST_F(UnreachedOperations, UpdateOfAllPortsCountsWhatItNeededAndDid) {
    EXPECT_EQ(OnEmptyHost([] { return updateOptionROMAllHBAs(nullptr, 0, 1); }), 9);
    zvfix::HostBuilder h;
    h.AddChip25(0x2261, 1).subSystemId = 0x0289;   // has a record; not allowed by the table
    h.AddChip27(0x2281, 1).subSystemId = 0x02A9;   // no record
    zvfix::ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(0x0289, 0x1A77, "FALSE")}));
    const std::string cfg = dir_.Path() + "/flash.cfg";
    std::ofstream(cfg) << zvfix::FlashCfg(
        {zvfix::FlashCfgRowFor(0x0289, 0x1A77, "KV2692", "6.05.01", dir_.Path() + "/mbi.bin")});
    ASSERT_EQ(BuildFlashCtrListFromFile(cfg.c_str()), 0);

    // The record asks for an update; the dispatch refuses the adapter.
    EXPECT_EQ(updateOptionROMAllHBAs(nullptr, 0, 1), 3);
    EXPECT_NE(OutputFile().find("All HBAs that need to be updated failed to be updated (1 out of 1)!"),
              std::string::npos)
        << OutputFile();
}

// Read from each adapter's memo block on every call, with nothing set up before.
TEST_F(UnreachedOperations, MultibootVersionOfEachPort) {
    EXPECT_EQ(OnEmptyHost(DisplayAllHBAsMBIVersion), 9);
    EXPECT_EQ(OnEmptyHost([] { return DisplayHBAMBIVersion(nullptr); }), 9);
    zvfix::HostBuilder h;
    h.AddChip25Ports("SN-MBI", {0x2100000000000001, 0x2100000000000002})
        .SetRegion(zvfix::kRegionMemo1, zvfix::MakeMemoBlock({.mbi = {6, 5, 1, 0}}));
    h.AddChip25Ports("SN-NONE", {0x2100000000000003});   // no memo block
    zvfix::ListsHost lists(h);
    EXPECT_EQ(DisplayHBAMBIVersion(GetMyDeviceList()->firstDevice), 0);
    EXPECT_EQ(DisplayAllHBAsMBIVersion(), 0);
    const std::string out = OutputFile();
    const std::string rule(70, '-');
    const std::string first = rule + "\nHBA Instance                   : 0\nHBA Model                      : KV2692\n"
                                     "Port Name                      : 21-00-00-00-00-00-00-01\n"
                                     "Flash Image (MBI) Version      : 06.05.01\n";
    EXPECT_EQ(out.find(first), 0u) << out;
    EXPECT_NE(out.find(first, 1), std::string::npos) << out;
    EXPECT_NE(out.find("Port Name                      : 21-00-00-00-00-00-00-02\n"
                       "Flash Image (MBI) Version      : 06.05.01\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Port Name                      : 21-00-00-00-00-00-00-03\n"
                       "Flash Image (MBI) Version      : N/A\n"),
              std::string::npos)
        << out;
}

TEST_F(UnreachedOperations, FlashDescriptorPassVisitsChipType24Only) {
    EXPECT_EQ(OnEmptyHost(ModifyAllHBAsFLashDescriptorTable), 9);
    zvfix::HostBuilder h;
    h.AddChip25TwoPort();
    {
        zvfix::ListsHost lists(h);
        EXPECT_EQ(ModifyAllHBAsFLashDescriptorTable(), 9);   // no port qualifies
    }
    h.AddTorvi(0x2031);   // chip type 24, flash part not the one the repair is for
    zvfix::ListsHost lists(h);
    EXPECT_EQ(ModifyAllHBAsFLashDescriptorTable(), 0);
    EXPECT_EQ(OutputFile().find("Unable to modify"), std::string::npos) << OutputFile();
}

TEST_F(UnreachedOperations, InitialisationOnItsOwnThread) {
    zvfix::HostBuilder h;
    h.AddChip25TwoPort();
    h.Write(dir_.Path() + "/host");
    setenv("ZV_SIM_HOST", (dir_.Path() + "/host").c_str(), 1);
    OSSSetConfigPath((dir_.Path() + "/").c_str());
    ASSERT_EQ(OSSInitCriticalSection(), 0);
    EXPECT_EQ(initialize(0, nullptr), 0);
    EXPECT_EQ(GetMyDeviceList()->count, 2u);   // the lists were built on the other thread
    cleanup();
    unsetenv("ZV_SIM_HOST");
    EXPECT_EQ(GetMyDeviceList()->count, 0u);
}

}  // namespace
