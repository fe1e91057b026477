// "-b" on converged adapters run as a user would: the K7R and Torvi engines
// through the dispatch, checked on the regions they leave in flash, the memo
// block, the VPD lines and the exit status; an image that does not fit is
// refused before anything is written. The power goes at every VPD write of
// each family (before, during, early in and after it): after a power cycle
// the rerun leaves every VPD as a clean run does, and no copy behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "e2e/online_update_families.h"
#include "e2e/run_helpers.h"
#include "fixtures/adapters_properties_builder.h"
#include "fixtures/board_template_builder.h"
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

std::string HexOf(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", v);
    return text;
}

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

    // "-b" on the family's adapter cut at every write of one of its VPDs,
    // each moment once; prints the counts.
    void SweepVpdWrites(const char* name, zvfix::AdapterSpec& adapter, const zvfix::MultibootImageSpec& spec,
                        const char* familyOption) {
        Add(adapter);
        const Bytes image = zvfix::BuildMultibootImage(spec);
        inst.WriteFile("adapters.properties", zvfix::AdapterTableFor(host));
        inst.WriteFile(kFile, std::string(image.begin(), image.end()));
        const std::vector<std::string> args = {familyOption, "-b", "0", kFile};
        const uint32_t vpdCodes[] = {0x81, 0x14, 0x16};

        zvtest::TempDir control;
        host.Write(control.Path());
        ClearCopies();
        const RunResult clean = zvonline::RunOn(inst, control.Path(), args);
        ASSERT_EQ(clean.status, 0) << clean.out << clean.outputFile;
        std::map<uint32_t, Bytes> cleanVpd;
        for (uint32_t code : vpdCodes) cleanVpd[code] = zvfix::ReadRegion(control.Path(), 0, code);
        const std::vector<zvfix::JournalEntry> writes = zvfix::ReadJournal(control.Path());

        int vpdWrites = 0, points = 0, failed = 0;
        for (size_t n = 1; n <= writes.size(); ++n) {
            if (cleanVpd.count(writes[n - 1].region) == 0) continue;
            ++vpdWrites;
            const std::pair<const char*, zvfix::PowerLossSpec> moments[] = {
                {"before", zvfix::PowerLossSpec::Before(n)},
                {"during", zvfix::PowerLossSpec::During(n)},
                {"early", zvfix::PowerLossSpec::During(n, 16)},
                {"after", zvfix::PowerLossSpec::After(n)}};
            // Each moment once as it is, once with the rerun cut too early in
            // its first write: the write-back of the copy the cut left.
            for (const auto& [moment, loss] : moments) {
                for (const bool cutWriteBack : {false, true}) {
                    SCOPED_TRACE(std::string(name) + ": write " + std::to_string(n) + " (region 0x" +
                                 HexOf(writes[n - 1].region) + ") " + moment +
                                 (cutWriteBack ? ", the write-back cut" : ""));
                    ++points;
                    const int before = PartCount();
                    CutRerunAndCompare(loss, cutWriteBack, writes[n - 1].region, args, cleanVpd);
                    if (PartCount() != before) ++failed;
                    if (failed > 4) FAIL() << "too many failing points, sweep stopped";
                }
            }
        }
        std::printf("[ sweep    ] %s -b, VPD writes: %zu writes, %d of VPDs, %d power-loss points, %d failed\n", name,
                    writes.size(), vpdWrites, points, failed);
        std::fflush(stdout);
        EXPECT_GT(vpdWrites, 0);
        EXPECT_EQ(failed, 0);
    }

    // One point: the run cut at `loss`, a power cycle (and with `cutWriteBack`
    // the rerun cut early in its first write, which must be the write-back of
    // `region`, and another power cycle), then a rerun that completes and
    // leaves every VPD as the clean run did, and no copy.
    void CutRerunAndCompare(const zvfix::PowerLossSpec& loss, bool cutWriteBack, uint32_t region,
                            const std::vector<std::string>& args, const std::map<uint32_t, Bytes>& cleanVpd) {
        ClearCopies();
        zvtest::TempDir dir;
        zvfix::HostBuilder cut = host;
        cut.powerLoss = loss;
        cut.Write(dir.Path());
        const RunResult first = zvonline::RunOn(inst, dir.Path(), args);
        EXPECT_EQ(first.status, 128 + SIGKILL) << first.outputFile;
        ASSERT_EQ(zvonline::RebootTool("--power-cycle " + dir.Path()).status, 0);
        if (cutWriteBack) {
            const size_t written = zvfix::ReadJournal(dir.Path()).size();
            cut.powerLoss = zvfix::PowerLossSpec::During(1, 16);
            zvonline::RewriteHostJson(cut, dir.Path());
            const RunResult second = zvonline::RunOn(inst, dir.Path(), args);
            EXPECT_EQ(second.status, 128 + SIGKILL) << second.outputFile;
            const std::vector<zvfix::JournalEntry> now = zvfix::ReadJournal(dir.Path());
            ASSERT_GT(now.size(), written);
            EXPECT_EQ(now[written].region, region) << "the rerun's first write is the write-back";
            ASSERT_EQ(zvonline::RebootTool("--power-cycle " + dir.Path()).status, 0);
        }
        zvonline::RewriteHostJson(host, dir.Path());
        const RunResult again = zvonline::RunOn(inst, dir.Path(), args);
        EXPECT_EQ(again.status, 0) << again.out << again.outputFile;
        EXPECT_TRUE(Has(again.outputFile, "(region 0x" + HexOf(region) +
                                              ") may not have finished; the VPD is written back from the copy " +
                                              zvfix::kTableCopyDir + "/"))
            << again.outputFile;
        EXPECT_FALSE(Has(again.outputFile, "Unsuccessful")) << again.outputFile;
        for (const auto& [code, clean] : cleanVpd)
            EXPECT_TRUE(zvfix::ReadRegion(dir.Path(), 0, code) == clean)
                << "VPD 0x" << HexOf(code) << " unlike a clean run's";
        EXPECT_EQ(CopiesKept(), 0) << "a copy is left behind";
    }

    static void ClearCopies() {
        std::error_code ec;
        std::filesystem::remove_all(zvfix::kTableCopyDir, ec);
    }
    static int CopiesKept() {
        std::error_code ec;
        int n = 0;
        for (auto it = std::filesystem::directory_iterator(zvfix::kTableCopyDir, ec);
             !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
            ++n;
        return n;
    }
    static int PartCount() {
        return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
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

TEST_F(ConvergedUpdate, K7R54VpdWritesCutAtEveryMoment) {
    SweepVpdWrites("K7R 0x54", host.AddK7R(0x54), zvfix::K7RImageSpec(zvfix::kK7RAdapter, 0x54), "--sivo");
}
TEST_F(ConvergedUpdate, K7R11VpdWritesCutAtEveryMoment) {
    SweepVpdWrites("K7R 0x11", host.AddK7R(0x11), zvfix::K7RImageSpec(zvfix::kK7RAdapter, 0x11), "--sivo");
}
TEST_F(ConvergedUpdate, Torvi21VpdWritesCutAtEveryMoment) {
    SweepVpdWrites("Torvi 21", host.AddTorvi(0x8031), zvfix::TorviImageSpec(zvfix::kTorvi21Adapter), "--wexi");
}
TEST_F(ConvergedUpdate, Torvi24VpdWritesCutAtEveryMoment) {
    SweepVpdWrites("Torvi 24", host.AddTorvi(0x2031), zvfix::TorviImageSpec(zvfix::kTorvi24Adapter), "--wexi");
}

// A VPD copy that holds no sound VPD cannot be written back: "-b" fails the
// adapter with 161 before anything is written and leaves the copy.
TEST_F(ConvergedUpdate, AVpdCopyThatHoldsNoSoundVpdFailsTheAdapterBeforeAnyWrite) {
    const zvfix::AdapterSpec& a = Add(host.AddTorvi(0x2031));
    const Bytes image = zvfix::BuildMultibootImage(zvfix::TorviImageSpec(zvfix::kTorvi24Adapter));
    host.Write(hostDir.Path());
    Bytes vpd = zvfix::ReadRegion(hostDir.Path(), 0, 0x81);
    vpd[5] ^= 0x01;   // its checksum no longer holds
    ClearCopies();
    ::mkdir(zvfix::kTableCopyDir, 0700);
    const std::string path = zvfix::TableCopyPath(a.serial, 0x81);
    const Bytes copy = zvfix::MakeTableCopyFile(0x81, vpd, a.serial);
    zvfix::WriteBytes(path, copy);
    ::chmod(path.c_str(), 0600);

    inst.WriteFile("adapters.properties", zvfix::AdapterTableFor(host));
    inst.WriteFile(kFile, std::string(image.begin(), image.end()));
    const RunResult r = zvonline::RunOn(inst, hostDir.Path(), {"--wexi", "-b", "0", kFile});
    EXPECT_EQ(r.status, 161) << r.out << r.outputFile;
    EXPECT_EQ(r.outputFile, "HBA KV2031 (instance 0): No table copy is used: the copy " + path +
                                " is not intact.\nHBA KV2031 (instance 0): An earlier write of the NIC VPD (region "
                                "0x81) may not have finished and no intact copy of it is kept in /var/lib/tarvikolen; "
                                "nothing was written to the adapter!\n");
    EXPECT_TRUE(zvfix::ReadJournal(hostDir.Path()).empty());
    EXPECT_EQ(zvtest::ReadFile(path), std::string(copy.begin(), copy.end()));
}

}  // namespace
