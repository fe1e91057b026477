// "-b" on converged adapters run as a user would: the K7R and Torvi engines
// through the dispatch, checked on the regions they leave in flash, the memo
// block, the VPD lines and the exit status; an image that does not fit is
// refused before anything is written.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/run_helpers.h"
#include "fixtures/adapters_properties_builder.h"
#include "fixtures/converged_image_builder.h"
#include "fixtures/host_builder.h"
#include "support/e2e_support.h"

namespace {
using zve2e::Slice;
using zve2e::Written;
using zvfix::Bytes;
using zvtest::RunResult;

constexpr const char* kFile = "mbi.bin";

using zvtest::Has;

class ConvergedUpdate : public zve2e::IsolatedTest {
protected:
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
    zvfix::MultibootImageSpec spec = zvfix::K7RImageSpec();
    const RunResult r = Run(zvfix::BuildMultibootImage(spec), {"--sivo", "-b", "ALL", kFile});
    EXPECT_EQ(r.status, 0) << r.out << r.err << r.outputFile;
    EXPECT_EQ(Written(hostDir.Path(), 0), (std::vector<uint32_t>{0x07, 0x4F, 0x2E, 0x70, 0x72, 0x73, 0x74, 0x81}));
    const Bytes fw = zvfix::ReadRegion(hostDir.Path(), 0, 0x74);
    EXPECT_EQ(Bytes(fw.begin(), fw.begin() + 4), (Bytes{0x03, 0x00, 0x40, 0x40}));   // the converged firmware's trailer
    // Plain components as they are; boot code followed by the image's table, then erased bytes.
    const Bytes& loader = spec.Component(0x72)->data;
    EXPECT_EQ(Slice(zvfix::ReadRegion(hostDir.Path(), 0, 0x72), 0, loader.size()), loader);
    const Bytes& nic = spec.Component(0x2E)->data;
    const Bytes nicRegion = zvfix::ReadRegion(hostDir.Path(), 0, 0x2E);
    EXPECT_EQ(Slice(nicRegion, 0, nic.size()), nic);
    EXPECT_EQ(Slice(nicRegion, nic.size(), 4), (Bytes{'Z', 'I', 'L', 'T'}));
    EXPECT_EQ(nicRegion[nic.size() + zvfix::MbiTableLength(spec)], 0xFF);
    const Bytes vpd = zvfix::ReadRegion(hostDir.Path(), 0, 0x81);
    EXPECT_TRUE(Has(std::string(vpd.begin(), vpd.end()), "RM\x06" "061012"));
    EXPECT_TRUE(Has(std::string(vpd.begin(), vpd.end()), "VV\x0B" "FFV06.10.12"));
    EXPECT_TRUE(Has(r.outputFile, "Validating Flash Image File... Success\n"));
    EXPECT_TRUE(Has(r.outputFile, "Updating Flash on HBA port(s) -   KV8021. Please wait...\n")) << r.outputFile;
    EXPECT_TRUE(Has(r.outputFile, "Updating Adapter FCoE Boot Code... Success\nUpdating Adapter iSCSI Boot Code... "
                                  "Success\n"));
    EXPECT_TRUE(Has(r.outputFile, "Updating Adapter PEGTune ... Success\nUpdating Adapter FW... Success\n"
                                  "Updating Adapter VPD... Success\n"))
        << r.outputFile;
    // "-b" asks for no reset: the reboot form of the closing message.
    EXPECT_TRUE(Has(r.outputFile, "Flash update complete. Changes have been saved to all ports of this HBA.\n"
                                  "You must reboot in order for the changes to become effective.\n"))
        << r.outputFile;
}

TEST_F(ConvergedUpdate, TorviImageWritesRegionsMemoBlockAndVpds) {
    Add(host.AddTorvi(0x2031));
    const RunResult r =
        Run(zvfix::BuildMultibootImage(zvfix::TorviImageSpec(zvfix::kTorvi24Adapter)), {"--wexi", "-b", "ALL", kFile});
    EXPECT_EQ(r.status, 0) << r.out << r.err << r.outputFile;
    EXPECT_EQ(Written(hostDir.Path(), 0), (std::vector<uint32_t>{0x07, 0x2E, 0xA2, 0x4F, 0x70, 0x72, 0x73, 0xA4, 0x01,
                                                                 0x97, 0x89, 0x81, 0x14, 0x16}));
    // The memo block and every VPD name the image's multiboot version.
    const Bytes memo = zvfix::ReadRegion(hostDir.Path(), 0, zvfix::kRegionMemo24);
    EXPECT_EQ(Slice(memo, 0, 4), (Bytes{'F', 'M', 'B', 'S'}));
    EXPECT_EQ(Slice(memo, 20, 3), (Bytes{6, 10, 12}));
    for (uint32_t code : {0x81u, 0x14u, 0x16u}) {
        const Bytes vpd = zvfix::ReadRegion(hostDir.Path(), 0, code);
        EXPECT_TRUE(Has(std::string(vpd.begin(), vpd.end()), "FFV06.10.12")) << std::hex << code;
    }
    EXPECT_TRUE(Has(r.outputFile, "Updating Adapter FCoE FW... Success\nUpdating Adapter FC FW... Success\n"
                                  "Updating Adapter NIC/CNA FW... Success\n"));
    EXPECT_TRUE(Has(r.outputFile, "Updating Adapter Flash Memo Block... Success\n"));
    EXPECT_TRUE(Has(r.outputFile, "Updating Adapter NIC/CNA VPD... Success\nUpdating Adapter FC VPD... Success\n"
                                  "Updating Adapter FC VPD... Success\n"))
        << r.outputFile;
}

}  // namespace
