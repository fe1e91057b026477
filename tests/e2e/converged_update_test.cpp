// "-b" on converged adapters run as a user would: the K7R and Torvi engines
// through the dispatch, checked on the regions they leave in flash, the memo
// block, the VPD lines and the exit status; an image that does not fit is
// refused before anything is written.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fixtures/adapters_properties_builder.h"
#include "fixtures/converged_image_builder.h"
#include "fixtures/host_builder.h"
#include "support/e2e_support.h"

namespace {
using zvfix::Bytes;
using zvtest::RunResult;

constexpr const char* kFile = "mbi.bin";

using zvtest::Has;

std::vector<uint32_t> Written(const std::string& hostDir, int adapter) {
    std::vector<uint32_t> regions;
    for (const zvfix::JournalEntry& e : zvfix::ReadJournal(hostDir))
        if (e.adapter == adapter) regions.push_back(e.region);
    return regions;
}

class ConvergedUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "whole-program runs need the private /tmp and /var/log";
    }

    // An adapter whose NIC and FC VPDs carry the version keywords.
    zvfix::AdapterSpec& Add(zvfix::AdapterSpec& a) {
        zvfix::SetConvergedVpds(a, a.serial);
        return a;
    }

    RunResult Run(const Bytes& image, std::vector<std::string> args) {
        host.Write(hostDir.Path());
        inst.WriteFile("adapters.properties", zvfix::AdapterTableFor(host));
        inst.WriteFile(kFile, std::string(image.begin(), image.end()));
        zvtest::RunOptions o;
        o.args = std::move(args);
        o.env = {{"ZV_SIM_HOST", hostDir.Path()}};
        return zvtest::RunProgram(inst, o);
    }

    zvfix::HostBuilder host;
    zvtest::TempDir hostDir;
    zvtest::InstallDir inst;
};

TEST_F(ConvergedUpdate, K7RImageReachesItsAdapterOnce) {
    Add(host.AddK7R(0x54));
    const zvfix::MultibootImageSpec spec = zvfix::K7RImageSpec();
    const RunResult r = Run(zvfix::BuildMultibootImage(spec), {"-b", "ALL", kFile});
    EXPECT_EQ(r.status, 0) << r.out << r.err << r.outputFile;
    EXPECT_EQ(Written(hostDir.Path(), 0), (std::vector<uint32_t>{0x07, 0x4F, 0x2E, 0x70, 0x72, 0x73, 0x74, 0x81}));
    const Bytes fw = zvfix::ReadRegion(hostDir.Path(), 0, 0x74);
    EXPECT_EQ(Bytes(fw.begin(), fw.begin() + 4), (Bytes{0x03, 0x00, 0x40, 0x40}));   // the converged firmware's trailer
    const Bytes vpd = zvfix::ReadRegion(hostDir.Path(), 0, 0x81);
    EXPECT_TRUE(Has(std::string(vpd.begin(), vpd.end()), "FFV06.10.12"));
    EXPECT_TRUE(Has(r.outputFile, "Updating Adapter FW... Success\nUpdating Adapter VPD... Success\n")) << r.outputFile;
    // "-b" asks for no reset: the reboot form of the closing message.
    EXPECT_TRUE(Has(r.outputFile, "Flash update complete. Changes have been saved to all ports of this HBA.\n"
                                  "You must reboot in order for the changes to become effective.\n"))
        << r.outputFile;
}

TEST_F(ConvergedUpdate, TorviImageWritesRegionsMemoBlockAndVpds) {
    Add(host.AddTorvi(0x2031));
    const RunResult r = Run(zvfix::BuildMultibootImage(zvfix::TorviImageSpec(zvfix::kTorvi24Adapter)), {"-b", "ALL", kFile});
    EXPECT_EQ(r.status, 0) << r.out << r.err << r.outputFile;
    EXPECT_EQ(Written(hostDir.Path(), 0), (std::vector<uint32_t>{0x07, 0x2E, 0xA2, 0x4F, 0x70, 0x72, 0x73, 0xA4, 0x01,
                                                                 0x97, 0x89, 0x81, 0x14, 0x16}));
    const Bytes memo = zvfix::ReadRegion(hostDir.Path(), 0, zvfix::kRegionMemo24);
    EXPECT_EQ(Bytes(memo.begin(), memo.begin() + 4), (Bytes{'F', 'M', 'B', 'S'}));
    EXPECT_EQ(memo[20], 6);
    EXPECT_TRUE(Has(r.outputFile, "Updating Adapter Flash Memo Block... Success\n"));
    EXPECT_TRUE(Has(r.outputFile, "Updating Adapter NIC/CNA VPD... Success\nUpdating Adapter FC VPD... Success\n"
                                  "Updating Adapter FC VPD... Success\n"))
        << r.outputFile;
}

}  // namespace
