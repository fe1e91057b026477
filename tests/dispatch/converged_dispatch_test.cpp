// The converged adapters reach their flows through the update dispatch:
// update classes 9, 10 and 11 write the image and count the adapter, chip
// type 24 never passes a disabled reset on, and a failed flow counts nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "dispatch/update_dispatch.h"
#include "fixtures/adapters_properties_builder.h"
#include "fixtures/converged_image_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/lists_host.h"
#include "image/option_rom_request.h"
#include "support/e2e_support.h"

namespace {

using zvfix::ListsHost;

class ConvergedDispatch : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /tmp";
    }

    // Dispatches `spec`'s image to the first port of the host's only adapter.
    SD_INT32 Dispatch(zvfix::HostBuilder& h, const zvfix::MultibootImageSpec& spec, SD_UINT16 disableReset) {
        zvfix::SetConvergedVpds(h.adapters[0], "ZV1", false);
        ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(h.adapters[0].subSystemId, 0x1A77)}));
        const std::string file = dir.Path() + "/mbi.bin";
        zvfix::WriteBytes(file, zvfix::BuildMultibootImage(spec));
        count = 77;
        const SD_INT32 st = updateOptionROMSingleHBA(ListsHost::Ports().at(0), file.c_str(), &count, 1, disableReset);
        journal = zvfix::ReadJournal(lists.Dir() + "/host");
        return st;
    }

    zvtest::TempDir dir;
    SD_UINT16 count = 0;
    std::vector<zvfix::JournalEntry> journal;
};

// (The K7R class is run whole by the converged update tests.)
TEST_F(ConvergedDispatch, EachConvergedClassWritesItsImage) {
    zvfix::HostBuilder torvi;
    torvi.AddTorvi(0x2031);
    EXPECT_EQ(Dispatch(torvi, zvfix::TorviImageSpec(zvfix::kTorvi24Adapter), 1), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(g_ptrOptionROMRequest, nullptr);   // released after the flow
    ASSERT_FALSE(journal.empty());
    for (const zvfix::JournalEntry& e : journal) EXPECT_EQ(e.disableReset, 0u) << std::hex << e.region;

    zvfix::HostBuilder gen1;
    gen1.AddConvergedGen1();
    EXPECT_EQ(Dispatch(gen1, zvfix::ConvergedGen1ImageSpec(), 1), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(journal.size(), 3u);
}

TEST_F(ConvergedDispatch, AFailedFlowCountsNothing) {
    zvfix::HostBuilder torvi;
    torvi.AddTorvi(0x8031).faults.push_back(zvfix::FaultSpec::Fail("flash_write", 5).OnRegion(0x4F));
    EXPECT_EQ(Dispatch(torvi, zvfix::TorviImageSpec(), 1), 34);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(journal.size(), 3u);   // 0x07, 0x2E, 0xA2 before the failed 0x4F
}

}  // namespace
