// "-g" run as a whole program on simulated hosts: the host block, then every
// adapter with its ports in serial-number and WWPN order, the closing lines and
// the exit status; and the adapter table, plain or enciphered, read from the
// current directory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/run_helpers.h"
#include "fixtures/adapters_properties_builder.h"
#include "fixtures/host_builder.h"
#include "support/e2e_support.h"
#include "support/openssl_blowfish.h"

namespace {

using zvtest::InstallDir;
using zvtest::RunOptions;
using zvtest::RunResult;

const std::string kRule(70, '-');

// The table key is spelled out here rather than taken from the program.
std::string Encipher(const std::string& plain) {
    return zvtest::EncipherWithOpenSsl(plain, "Brisko42PinWith:cardtable.settings");
}

// The console text after the host block (which ends with the second rule line).
std::string AfterHostBlock(const std::string& out) {
    const size_t first = out.find(kRule + "\n");
    if (first == std::string::npos) return "<no host block>";
    const size_t second = out.find(kRule + "\n", first + 1);
    if (second == std::string::npos) return "<no end of host block>";
    return out.substr(second + kRule.size() + 1);
}

class DisplayHbas : public zve2e::IsolatedTest {
protected:
    RunResult Run(const zvfix::HostBuilder& host, std::vector<std::string> args = {"-g"}) {
        host.Write(hostDir_.Path());
        RunOptions o;
        o.args = std::move(args);
        o.env = {{"ZV_SIM_HOST", hostDir_.Path()}};
        return zvtest::RunProgram(inst_, o);
    }

    zvtest::TempDir hostDir_;
    InstallDir inst_;
};

TEST_F(DisplayHbas, AdaptersAndPortsComeOutInSerialAndWwpnOrder) {
    zvfix::HostBuilder h;
    h.AddChip25Ports("KV30", {0x2100000000000005, 0x2100000000000001});   // instances 0, 1
    h.AddChip25Ports("KV10", {0x2100000000000006, 0x2100000000000004});   // 2, 3
    h.AddChip25Ports("KV20", {0x2100000000000002}).model = "KV2690";      // 4
    const zvfix::Bytes flash0 = (h.Write(hostDir_.Path()), zvfix::ReadFlash(hostDir_.Path(), 0));
    const RunResult r = Run(h);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Host Name                      : "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ZOZIRA                         : v6.04 build77\n"), std::string::npos) << r.out;
    EXPECT_EQ(AfterHostBlock(r.out),
              "HBA Model KV2692 (SN KV10):\n"
              "  Port 2 WWPN 21-00-00-00-00-00-00-04 (HBA 3) Online 32 Gbps\n"
              "  Port 1 WWPN 21-00-00-00-00-00-00-06 (HBA 2) Online 32 Gbps\n"
              "HBA Model KV2690 (SN KV20):\n"
              "  Port 1 WWPN 21-00-00-00-00-00-00-02 (HBA 4) Online 32 Gbps\n"
              "HBA Model KV2692 (SN KV30):\n"
              "  Port 2 WWPN 21-00-00-00-00-00-00-01 (HBA 1) Online 32 Gbps\n"
              "  Port 1 WWPN 21-00-00-00-00-00-00-05 (HBA 0) Online 32 Gbps\n" +
                  kRule + "\nTotal Korvex HBA(s) : 3\n");
    EXPECT_EQ(r.err, "");
    // A display writes nothing to flash.
    EXPECT_EQ(zvfix::ReadFlash(hostDir_.Path(), 0), flash0);
}

TEST_F(DisplayHbas, VirtualAndFcoePortsAreLeftOutAndDownPortsShowNoSpeed) {
    zvfix::HostBuilder h;
    auto& a = h.AddChip25Ports("KV1", {0x2100000000000001, 0x2100000000000002, 0x2100000000000003});
    a.ports[1].interfaceType = 3;               // virtual port
    a.ports[2].portState = 2;                   // down
    auto& b = h.AddChip25Ports("KV2", {0x2100000000000010, 0x2100000000000011});
    b.ports[0].interfaceType = 4;               // FCoE
    b.ports[1].speed = 0x16;
    const RunResult r = Run(h);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(AfterHostBlock(r.out),
              "HBA Model KV2692 (SN KV1):\n"
              "  Port 1 WWPN 21-00-00-00-00-00-00-01 (HBA 0) Online 32 Gbps\n"
              "  Port 2 WWPN 21-00-00-00-00-00-00-03 (HBA 2) Link Down \n"   // function 2

              "HBA Model KV2692 (SN KV2):\n"
              "  Port 2 WWPN 21-00-00-00-00-00-00-11 (HBA 4) Online 16 Gbps\n" +
                  kRule + "\nTotal Korvex HBA(s) : 2\n");
}

// Both say "N/A", on the console and in the debug log, and each keeps its own ports.
TEST_F(DisplayHbas, AdaptersWithoutReadableSerialStayApart) {
    zvfix::HostBuilder h;
    for (int i = 0; i < 2; ++i) {
        auto& a = h.AddChip25TwoPort();
        a.serial = "";
        a.faults.push_back(zvfix::FaultSpec::Fail("vpd_read", 0x20000075));
    }
    const RunResult r = Run(h, {"-trace", "-g"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // The clean-up lines of "-trace" follow.
    EXPECT_TRUE(AfterHostBlock(r.out).starts_with(
        "HBA Model KV2692 (SN N/A):\n"
        "  Port 1 WWPN 21-00-00-11-AA-00-00-00 (HBA 0) Online 32 Gbps\n"
        "  Port 2 WWPN 21-00-00-11-AA-00-00-01 (HBA 1) Online 32 Gbps\n"
        "HBA Model KV2692 (SN N/A):\n"
        "  Port 1 WWPN 21-00-00-11-AA-00-01-00 (HBA 2) Online 32 Gbps\n"
        "  Port 2 WWPN 21-00-00-11-AA-00-01-01 (HBA 3) Online 32 Gbps\n" +
        kRule + "\nTotal Korvex HBA(s) : 2\n"))
        << r.out;
    EXPECT_TRUE(zvtest::Has(r.debugLog, "GetSerialNo: HBA 3 KV2692 ISP=0x19 serialNo=N/A\n")) << r.debugLog;
    EXPECT_EQ(zve2e::Count(r.debugLog, ") (N/A) 21-00-00-11-AA-00-0"), 4u) << r.debugLog;
    EXPECT_FALSE(zvtest::Has(r.debugLog, "N/A-")) << r.debugLog;
}

TEST_F(DisplayHbas, NoPortEndsWithEight) {
    zvfix::HostBuilder h;
    const RunResult r = Run(h);
    EXPECT_EQ(r.status, 8) << r.out << r.err;
    EXPECT_EQ(AfterHostBlock(r.out), "No compatible HBA(s) found in current system !\n");
}

// ---- The adapter table ----------------------------------------------------------------------

// The table is not shown by "-g"; the debug log tells what each entry got.
class AdapterTableRun : public DisplayHbas {
protected:
    RunResult RunWithTable(const std::string& bytes) {
        inst_.WriteFile("adapters.properties", bytes);
        zvfix::HostBuilder h;
        h.AddChip25(0x2261, 1);                 // 0x0289 / 0x1A77
        auto& b = h.AddChip25(0x2261, 1);
        b.subSystemId = 0x028A;
        auto& c = h.AddChip27(0x2281, 1);        // 0x02A9
        (void)c;
        RunResult r = Run(h, {"-trace", "-g"});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("Total Korvex HBA(s) : 3\n"), std::string::npos) << r.out;
        return r;
    }
    static std::string Flag(const RunResult& r, int instance) {
        const std::string key = "BuildAdapterEntryList: Instance=" + std::to_string(instance) + " SSDID=";
        const std::string& log = r.debugLog.empty() ? r.out : r.debugLog;
        const size_t p = log.find(key);
        if (p == std::string::npos) return "<none>";
        const size_t e = log.find("EnableStatus=", p);
        const size_t nl = log.find('\n', p);
        return e == std::string::npos || e > nl ? "<none>" : log.substr(e, nl - e);
    }
};

const std::string kTable = zvfix::AdapterTable({zvfix::TableRow(0x0289, 0x1A77, "TRUE", "First model"),
                                                zvfix::TableRow(0x028A, 0x1A77, "FALSE", "Second model"),
                                                zvfix::TableRow(0x02A9, 0x1A77, "TRUE", "Third model")},
                                               false);   // the enciphered form starts with a row

TEST_F(AdapterTableRun, EncipheredTableGivesTheSupportedFlags) {
    const RunResult r = RunWithTable(Encipher(kTable));
    EXPECT_EQ(Flag(r, 0), "EnableStatus=1 (First model)");
    EXPECT_EQ(Flag(r, 1), "EnableStatus=0 (Second model)");
    EXPECT_EQ(Flag(r, 2), "EnableStatus=1 (Third model)");
}

TEST_F(AdapterTableRun, PlainTableWithShortAndLowerCaseRows) {
    const std::string table =
        "# adapters\n"
        "0x0289,0x1A77,2600,Short row without a flag\n"
        "0x028a,0x1A77,2600,Lower-case device id,TRUE\n"
        "0x02A9,0x1A77,2700,Third model,TRUE\n"
        "0x0289,0x1A77,2600,First model,TRUE\n";
    const RunResult r = RunWithTable(table);
    EXPECT_EQ(Flag(r, 0), "EnableStatus=1 (First model)");
    EXPECT_EQ(Flag(r, 1), "EnableStatus=0 ()");
    EXPECT_EQ(Flag(r, 2), "EnableStatus=1 (Third model)");
}

TEST_F(DisplayHbas, DemoHost) {
    zvtest::TempDir demo;
    zvfix::WriteDemoHost(demo.Path());
    RunOptions o;
    o.args = {"-g"};
    o.env = {{"ZV_SIM_HOST", demo.Path() + "/host"}};
    const RunResult r = zvtest::RunProgram(inst_, o);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string list = AfterHostBlock(r.out);
    EXPECT_EQ(list.find("HBA Model KV2692 (SN ZV00010000):\n  Port 1 WWPN 21-00-00-11-AA-00-00-00 (HBA 0) Online 32 Gbps\n"
                        "  Port 2 WWPN 21-00-00-11-AA-00-00-01 (HBA 1) Online 32 Gbps\n"),
              0u)
        << list;
    EXPECT_NE(list.find("HBA Model KV2772 (SN ZV00010002):\n"), std::string::npos) << list;
    EXPECT_NE(list.find("Total Korvex HBA(s) : 3\n"), std::string::npos) << list;
}

}  // namespace
