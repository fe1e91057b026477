// The displays run as a user would: "-i", "-pci", "-mpi" on the console and
// "-l" in the output file, for one adapter or ALL, on the demo host before
// and after an MCTP update and a reboot, and on fixture hosts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "e2e/run_helpers.h"
#include "fixtures/adapters_properties_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/memo_block_builder.h"
#include "support/e2e_support.h"

namespace {
using zve2e::Count;
namespace fs = std::filesystem;
using zvtest::Has;
using zvtest::RunResult;

// The value of a "label : value" line ("<none>" when absent).
std::string Value(const std::string& text, const std::string& label) {
    const std::string key = label + std::string(31 - label.size(), ' ') + ": ";
    const size_t at = text.find(key);
    if (at == std::string::npos) return "<none>";
    const size_t from = at + key.size();
    return text.substr(from, text.find('\n', from) - from);
}

class Displays : public zve2e::IsolatedTest {
protected:
    // On the fixture host (written at the first run), or on the host in `dir`.
    RunResult Run(std::vector<std::string> args, const std::string& dir = "") {
        if (dir.empty() && !written) host.Write(hostDir.Path());
        written = written || dir.empty();
        zvtest::RunOptions o;
        o.args = std::move(args);
        o.env = {{"ZV_SIM_HOST", dir.empty() ? hostDir.Path() : dir}};
        return zvtest::RunProgram(inst, o);
    }

    zvfix::HostBuilder host;
    bool written = false;
    zvtest::TempDir hostDir;
    zvtest::InstallDir inst;
};

// ---- The demo host: versions before and after an MCTP update and a reboot --------------------

class DemoDisplays : public Displays {
protected:
    void SetUp() override {
        Displays::SetUp();
        if (IsSkipped()) return;
        const std::string out = demo.Path() + "/demo";
        const std::string tool = std::string(ZV_FIXTURE_TOOLS_DIR) + "/zvsim-demo-host " + out;
        ASSERT_EQ(std::system(tool.c_str()), 0);
        for (const auto& f : fs::directory_iterator(out + "/install"))
            inst.WriteFile(f.path().filename().string(), zvtest::ReadFile(f.path().string()));
        demoHost = out + "/host";
    }
    RunResult RunDemo(std::vector<std::string> args) { return Run(std::move(args), demoHost); }
    zvtest::TempDir demo;
    std::string demoHost;
};

TEST_F(DemoDisplays, VersionsFollowTheUpdateAndTheReboot) {
    // Instance 0: the first chip-type-25 adapter; 4: the chip-type-27 one.
    const RunResult before25 = RunDemo({"-i", "0"}), before27 = RunDemo({"-i", "4"});
    ASSERT_EQ(before25.status, 0) << before25.out << before25.err;
    EXPECT_EQ(Value(before25.out, "Flash Image Version"), "6.04.00");
    EXPECT_EQ(Value(before25.out, "Subsystem Device ID"), "0x0289");
    EXPECT_EQ(Value(before27.out, "Flash Image Version"), "6.04.00");
    EXPECT_EQ(Value(before27.out, "PCIe Serdes Version"), "255.255.255");   // erased in the set that serves
    EXPECT_EQ(Value(before25.out, "PCIe Serdes Version"), "<none>");         // not a chip-type-27 line
    const RunResult pci = RunDemo({"-pci", "4"});
    EXPECT_EQ(pci.out, std::string(56, '-') +
                           "\nHBA Model                      : KV2772\n"
                           "HBA Instance                   : 4\n"
                           "Port Name                      : 21-00-00-11-AA-00-02-00\n"
                           "Serial Number                  : ZV00010002\n"
                           "Subsystem Device ID            : 0x02a9\n"
                           "Subsystem Vendor ID            : 0x1a77\n");

    // README command 1 updates every adapter of the demo host.
    const RunResult update = RunDemo({});
    ASSERT_EQ(update.status, 1) << update.out << update.outputFile;
    EXPECT_EQ(Count(update.outputFile, "06.05.01: completed\n"), 3u) << update.outputFile;
    EXPECT_TRUE(update.out.ends_with("NEW UPDATE TO TAKE EFFECT!\n====================================\n"))
        << update.out;
    // Chip type 25 keeps one memo block: it names the new image at once; the
    // chip-type-27 adapter shows the set it runs until it boots the other.
    const RunResult after25 = RunDemo({"-i", "0"}), after27 = RunDemo({"-i", "4"});
    EXPECT_EQ(Value(after25.out, "Flash Image Version"), "6.05.01");
    EXPECT_EQ(Value(after25.out, "FC Firmware Version"), Value(before25.out, "FC Firmware Version"));
    EXPECT_EQ(after27.out, before27.out);

    ASSERT_EQ(zvfix::Reboot(demoHost), 0);
    const RunResult booted25 = RunDemo({"-i", "0"}), booted27 = RunDemo({"-i", "4"});
    EXPECT_EQ(Value(booted25.out, "MPI Firmware Version"), "3.06.00");
    EXPECT_EQ(Value(booted25.out, "FC Firmware Version"), "9.10.02");
    EXPECT_EQ(Value(booted27.out, "Flash Image Version"), "6.05.01");
    EXPECT_NE(Value(booted27.out, "PCIe Serdes Version"), "255.255.255");
    EXPECT_EQ(RunDemo({"-pci", "4"}).out, pci.out);
    // After the reboot nothing is left to do.
    const RunResult again = RunDemo({});
    EXPECT_EQ(again.status, 2) << again.out << again.outputFile;
    EXPECT_TRUE(again.out.ends_with("MCTP config enable: Not required.\n")) << again.out;
}

// ---- Fixture hosts -----------------------------------------------------------------------------

TEST_F(Displays, FlashVersionsOfEveryAdapterOnceAndZeroVersionsAsNA) {
    host.AddChip25TwoPort().SetRegion(zvfix::kRegionMemo1, zvfix::MakeMemoBlock({.mbi = {6, 4, 0, 0}, .ffv = {}}));
    host.AddChip25TwoPort();
    host.AddChip27(0x2281, 1);
    const RunResult r = Run({"-i", "all"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Count(r.out, "Subsystem Device ID"), 3u);   // one block per adapter, not per port
    for (const std::string i : {"0", "2", "4"})
        EXPECT_TRUE(Has(r.out, "HBA Instance                   : " + i + "\n")) << r.out;
    EXPECT_EQ(Value(r.out, "Family Firmware Version"), "N/A");
    EXPECT_EQ(Count(r.out, "Flash Image Version"), 1u);    // the others have no memo block
    EXPECT_EQ(r.err, "");
}

TEST_F(Displays, PciOfEveryPortAndTheWaysToNameOne) {
    host.AddChip25Ports("KV1", {0x2100000000000001, 0x2100000000000002});
    host.AddChip25Ports("KV2", {0x2100000000000003, 0x2100000000000004}).subSystemId = 0x028A;
    RunResult r = Run({"-pci", "ALL"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Count(r.out, "Subsystem Device ID            : 0x028a\n"), 2u) << r.out;
    EXPECT_EQ(Count(r.out, "Subsystem Device ID            : 0x0289\n"), 2u);

    r = Run({"-pci", "21-00-00-00-00-00-00-04"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Value(r.out, "Port Name"), "21-00-00-00-00-00-00-04");
    EXPECT_EQ(Run({"-pci", "2100000000000003"}).out, Run({"-pci", "2"}).out);
    r = Run({"-i", "7"});                 // no such instance: nothing, and no error
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err + r.outputFile, "");
    EXPECT_EQ(Run({"-i", "129"}).status, 8);
    r = Run({"-s", "-i", "1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");

    // ALL on a host without ports.
    zvtest::TempDir empty;
    zvfix::HostBuilder{}.Write(empty.Path());
    for (const char* option : {"-i", "-pci"}) {
        r = Run({option, "ALL"}, empty.Path());
        EXPECT_EQ(std::tie(r.status, r.out, r.err, r.outputFile), std::tuple(8, "", "", "")) << option;
    }
}

TEST_F(Displays, MpiStatesAndTheirStatuses) {
    for (uint16_t state : {0x8300, 0x8100, 0x8000, 0x0300}) host.AddChip25(0x2261, 1).mpiState = state;
    host.AddChip25(0x2261, 1).faults.push_back(zvfix::FaultSpec::Fail("mailbox", 0x20000066));
    const std::tuple<std::string, int, std::string> cases[] = {
        {"0", 0, "MPI is enabled to run\nMPI is actively running\n"},
        {"1", 0, "MPI is enabled to run\nMPI is not running\n"},
        {"2", 0, "MPI is disabled to run\n"},
        {"3", 41, "MPI reporting feature is not supported with current firmware!\n"},
        {"4", 41, "Unable to retrieve MPI firmware state of HBA 4 (KV2692)!\n"},
    };
    for (const auto& [which, status, out] : cases) {
        const RunResult r = Run({"-mpi", which});
        EXPECT_EQ(std::tie(r.status, r.out), std::tie(status, out)) << which;
    }
    RunResult r = Run({"-mpi", "ALL"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.outputFile, "Invalid command line options!\n");

    r = Run({"-trace", "-mpi", "0"});
    EXPECT_TRUE(Has(r.debugLog, "GetAdapterManagementPortInterfaceState: MPI reporting feature valid")) << r.debugLog;
    EXPECT_TRUE(Has(r.debugLog, "mbxOut[12]=0x8300"));
}

TEST_F(Displays, GeneralInformationGoesToTheOutputFileOnly) {
    zvfix::AdapterSpec& a = host.AddChip25TwoPort();
    a.ports[0].speed = 0x64;
    a.ports[0].supportedSpeed = 0xE0;   // bits 5, 6, 7
    a.ports[0].nvmeHostNqn = "nqn.2014-08.org.nvmexpress:uuid:kv-host";
    a.ports[1].speed = 64;
    a.mpi = {255, 255, 255, 0};
    RunResult r = Run({"-l", "0"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(Count(r.outputFile, std::string(70, '-') + "\n"), 1u);
    EXPECT_EQ(Value(r.outputFile, "HBA Instance"), "0");
    EXPECT_EQ(Value(r.outputFile, "Host NQN"), "nqn.2014-08.org.nvmexpress:uuid:kv-host");
    EXPECT_EQ(Value(r.outputFile, "HBA ID"), "0-KV2692");
    EXPECT_EQ(Value(r.outputFile, "Actual Data Rate"), "64 Gbps");
    EXPECT_EQ(Value(r.outputFile, "Supported Speed(s)"), "16 32 64 Gbps");
    EXPECT_EQ(Value(r.outputFile, "Running MPI Firmware Version"), "Not Running");
    EXPECT_EQ(Value(r.outputFile, "Driver Version"), "10.02.09.100-k");
    EXPECT_EQ(Value(r.outputFile, "Device ISP ID"), "ISP2261");
    EXPECT_EQ(Value(r.outputFile, "Subsystem Device ID"), "0x0289");
    EXPECT_EQ(Value(r.outputFile, "HBA Status"), "Online");

    r = Run({"-l", "ALL"});
    EXPECT_EQ(Count(r.outputFile, std::string(70, '-') + "\n"), 2u);
    EXPECT_TRUE(Has(r.outputFile, "Actual Data Rate               : Unknown\n"));   // 64 is not 0x64
    EXPECT_EQ(Run({"-l", "5"}).outputFile, "");
}

}  // namespace
