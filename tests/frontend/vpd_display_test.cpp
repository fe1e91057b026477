// The VPD display of an adapter port and the checksum test of its VPD.
#include "frontend/vpd_display.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "fixtures/host_builder.h"
#include "fixtures/lists_host.h"
#include "frontend/output.h"
#include "support/capture_support.h"
#include "support/e2e_support.h"

namespace {

using zvfix::ListsHost;

std::string Console(const SDMDevice* port, int* result) {
    return zvtest::CaptureStdout([&] { *result = GetHBAVPDData(port); });
}

TEST(VpdDisplay, EveryItemWithItsLabel) {
    zvfix::HostBuilder h;
    auto& a = h.AddChip25(0x2261, 1);
    a.serial = "SN-VPD-1";
    a.vpd.extra = {{"V0", "Gen6 FC"}, {"V4", "3.64"}, {"V9", "  01.02.03  "}};
    ListsHost lists(h);
    int rc = -1;
    const std::string out = Console(ListsHost::CorePort(0), &rc);
    EXPECT_EQ(rc, 0);
    for (const char* line : {"HBA Instance 0: KV2692 Port 1 WWPN ", "Product Identifier             : Korvex Gen6 Fibre Channel Adapter\n",
                             "VPD-R Tag                      : \n", "Part Number                    : KV-PN-0001\n",
                             "Serial Number                  : SN-VPD-1\n", "Misc. Information              : Gen6 FC\n",
                             "Flash Image Version            :   01.02.03  \n", "Checksum & Reserved            : ",
                             "End Tag                        : \n"})
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    EXPECT_EQ(out.find("BIOS Version"), std::string::npos);   // V1-V5 hidden above chip type 12
    EXPECT_EQ(checkVpdCheckSum(ListsHost::CorePort(0)), 0);
    EXPECT_EQ(GetAllHBAsVPDData(), 0);
}

TEST(VpdDisplay, ShorterFormsOnStandardOutput) {
    zvfix::VpdSpec spec;
    spec.extra = {{"V0", "Gen6 FC"}, {"V1", "7.21"}, {"V3", "9.08.01"}, {"V4", "3.64"}, {"V5", "4.10"}, {"V9", "01.02.03"}};
    const zvfix::Bytes vpd = zvfix::MakeVpd(spec, "SN-SHORT-1");
    zvfix::VpdSpec fewer;
    fewer.extra = {{"V4", "3.65"}};
    const zvfix::Bytes vpdFewer = zvfix::MakeVpd(fewer, "SN-SHORT-2");
    const zvfix::Bytes blank(512, 0xFF);
    const zvfix::Bytes cut(vpd.begin(), vpd.begin() + 60);   // the read-only part runs past the end
    const std::vector<uint8_t> seventeen = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                                            0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0xAB, 0xFF};
    int rc = -1;
    struct Row {
        const char* what;
        std::function<void()> print;
        std::string out;
    };
    const Row rows[] = {
        {"versions", [&] { parseVPD(vpd); },
         "BIOS Version: 3.64\nFCode Version: 4.10\nEFI Version: 7.21\nFirmware Version: 9.08.01\n"
         "Flash Image Version: 01.02.03\n"},
        {"only the versions present", [&] { parseVPD(vpdFewer); }, "BIOS Version: 3.65\n"},
        {"versions of a blank VPD", [&] { parseVPD(blank); }, ""},
        {"versions of a cut VPD", [&] { parseVPD(cut); }, ""},
        {"hex dump", [&] { DumpVpd(seventeen); },
         "0000: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E AB \n0010: FF \n"},
        {"hex dump of nothing", [&] { DumpVpd({}); }, ""},
        {"one keyword", [&] { rc = printVpdField(vpd, "SN"); }, "SN: SN-SHORT-1\n"},
        {"a keyword the VPD lacks", [&] { EXPECT_EQ(printVpdField(vpd, "YA"), 164); }, ""},
        {"a keyword of a blank VPD", [&] { EXPECT_NE(printVpdField(blank, "SN"), 0); }, ""},
        {"tag", [&] { printTags(0x82); }, "Tag 0x82\n"},
        {"one field", [&] { printField(std::vector<uint8_t>{'E', 'C', 3}, std::vector<uint8_t>{'A', 0x07, 'B'}); },
         "EC: A.B\n"},
        {"every item", [&] { printVdp(vpdFewer); },
         "Tag 0x82\nKorvex Gen6 Fibre Channel Adapter\nTag 0x90\nPN: KV-PN-0001\nSN: SN-SHORT-2\nEC: A01\n"
         "MN: 1A77\nV4: 3.65\nRV: <sum>\nTag 0x78\n"},
        {"keyword items", [&] { printVdp2(vpdFewer); },
         "PN=KV-PN-0001\nSN=SN-SHORT-2\nEC=A01\nMN=1A77\nV4=3.65\nRV=<sum>\n"},
        {"items of a cut VPD up to the first that runs past its end", [&] { printVdp2(cut); }, "PN=KV-PN-0001\n"},
    };
    // The checksum byte of "RV" is shown as it is.
    const std::regex sum("(RV[:=] ?)[^\n]*");
    for (const Row& r : rows)
        EXPECT_EQ(std::regex_replace(zvtest::CaptureStdout(r.print), sum, "$1<sum>"), r.out) << r.what;
    EXPECT_EQ(rc, 0);
}

TEST(VpdDisplay, BadChecksumCorruptVpdAndOldChips) {
    zvfix::HostBuilder h;
    auto& bad = h.AddChip25(0x2261, 1);
    zvfix::Bytes vpd = zvfix::MakeVpd(bad.vpd, "SN-BAD", 1024);
    vpd[5] ^= 0x01;   // inside the identifier, before the checksum
    bad.SetRegion(zvfix::VpdRegion(0), vpd);
    auto& blank = h.AddChip25(0x2261, 1);
    blank.SetRegion(zvfix::VpdRegion(0), zvfix::Bytes(1024, 0xFF));
    h.AddOlder(0x2312);
    ListsHost lists(h);
    SetOutOutFile();

    EXPECT_EQ(checkVpdCheckSum(ListsHost::CorePort(0)), 162);
    int rc = -1;
    Console(ListsHost::CorePort(1), &rc);
    EXPECT_EQ(rc, 161);
    const std::string oldOut = Console(ListsHost::CorePort(2), &rc);
    EXPECT_EQ(rc, 165);
    EXPECT_EQ(oldOut, "");
    const std::string file = zvtest::ReadFile(GetOutPutFile());
    EXPECT_NE(file.find("VPD data of this HBA appears to be corrupted (Instance 1)!"), std::string::npos) << file;
    EXPECT_NE(file.find("Current command is not supported with HBA instance 2 - "), std::string::npos) << file;
    EXPECT_EQ(checkVpdCheckSum(nullptr), 164);
    ResetOutputChannels();
}

}  // namespace
