// The first-generation converged adapters' image update over a simulated
// chip-type-15 adapter: what reaches the flash, the activation of what was
// written, and the images and requests that must write nothing.
#include "boardcfg/cna_option_rom_update.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fixtures/adapters_properties_builder.h"
#include "fixtures/converged_image_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/lists_host.h"
#include "frontend/output.h"
#include "image/option_rom_request.h"
#include "support/e2e_support.h"
#include "support/engine_run.h"

namespace {

using zvfix::Bytes;
using zvtest::Has;

class ConvergedGen1Update : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /tmp and /var/log";
    }
    void TearDown() override { freeUserOptionROMReq(); }

    SD_INT32 Update(const Bytes& image, SD_UINT32 region = OPTROM_REGION_ALL) {
        zvfix::HostBuilder h;
        h.AddConvergedGen1();
        zvfix::ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(h.adapters[0].subSystemId, 0x1A77)}));
        const std::string file = dir.Path() + "/cna.bin";
        zvtest::PrepareEngineRun(file, image, region);
        const SD_INT32 status = CNAOptionROMRegionUpdate(zvfix::ListsHost::Ports().at(0), file.c_str(), 0);
        output = zvtest::ReadFile(GetOutPutFile());
        events.clear();
        for (const zvfix::JournalEntry& e : zvfix::ReadJournalEvents(lists.Dir() + "/host"))
            events.push_back(e.op + ":" + std::to_string(e.region));
        firmware = zvfix::ReadRegion(lists.Dir() + "/host", 0, 0x01);
        return status;
    }

    zvtest::TempDir dir;
    std::string output;
    std::vector<std::string> events;
    Bytes firmware;
};

TEST_F(ConvergedGen1Update, WritesBootCodeAndFirmwareAndActivatesTheFirmware) {
    zvfix::MultibootImageSpec spec = zvfix::ConvergedGen1ImageSpec();
    ASSERT_EQ(Update(zvfix::BuildMultibootImage(spec)), CNA1_SUCCESS) << output;
    EXPECT_EQ(events, (std::vector<std::string>{"write:7", "write:46", "write:1", "activate:1"}));
    const Bytes& fw = spec.Component(0x01)->data;
    EXPECT_EQ(Bytes(firmware.begin(), firmware.begin() + static_cast<long>(fw.size())), fw);
    EXPECT_EQ(firmware[fw.size()], 0xFF);
    EXPECT_TRUE(Has(output, "Updating Adapter FCoE Boot Code... Success\nUpdating Adapter NIC Boot Code... Success\n"
                            "Updating Adapter FC FW... Success\n")) << output;
    EXPECT_TRUE(Has(output, "Flash update complete. Changes have been saved to all ports of this HBA.\n"));
}

TEST_F(ConvergedGen1Update, WritesNothingThatCannotBeWrittenWhole) {
    zvfix::MultibootImageSpec big = zvfix::ConvergedGen1ImageSpec();
    big.components.push_back(zvfix::MbiComponent::Filled(0xA4, 0x100001));
    big.components.back().cardTypes = 1;
    EXPECT_EQ(Update(zvfix::BuildMultibootImage(big)), CNA1_NOT_ALL_REGIONS);
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(Has(output, "Incompatible flash image (Region size mismatched)!\n")) << output;

    EXPECT_EQ(Update(zvfix::BuildMultibootImage(zvfix::ConvergedGen1ImageSpec()), OPTROM_REGION_FIRMWARE),
              CNA1_NOT_ALL_REGIONS);
    EXPECT_TRUE(events.empty());

    zvfix::MbiAdapter other = zvfix::kConvergedGen1Adapter;
    other.ssdid = 0x0400;
    EXPECT_EQ(Update(zvfix::BuildMultibootImage(zvfix::ConvergedGen1ImageSpec(other))), 451);
    EXPECT_TRUE(events.empty());
}

}  // namespace
