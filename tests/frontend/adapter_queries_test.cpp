// Version tests, adapter-table queries, the adapter header and OEM helpers.
#include "frontend/adapter_queries.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fixtures/adapters_properties_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/lists_host.h"
#include "frontend/console_helpers.h"
#include "frontend/version_tests.h"
#include "support/capture_support.h"

namespace {

using zvfix::ListsHost;

TEST(VersionTests, FirmwareBiosAndInboxDriver) {
    for (const char* v : {"5.2", "5.2.7", "6", "6.0.0"}) EXPECT_EQ(isFCoELinkStatsSupport(v), 1) << v;
    for (const char* v : {"5", "5.1.9", "4.9", "5.2.-1"}) EXPECT_EQ(isFCoELinkStatsSupport(v), 0) << v;
    EXPECT_EQ(isFCoELinkStatsSupport(nullptr), 0);

    const struct {
        const char* version;
        int chip, want;
    } bios[] = {{"1.28", 25, 0}, {"1.29", 25, 1}, {"1.53", 0, 0}, {"1.54", 0, 1}, {"1.5", 25, 0}, {"2.00", 0, 1}, {nullptr, 0, -1}};
    for (const auto& b : bios) EXPECT_EQ(isSupportedBIOSVersion(b.version, b.chip), b.want) << (b.version ? b.version : "null");

    for (const char* v : {"9.1.4.5", "9.1.4", "9,1,4,60", "9.1.4.52", "9 1 4 6x"})
        EXPECT_EQ(isWindowsServer2k8InboxDriver(v), 1) << v;
    for (const char* v : {"9.1.4.7", "9.1.5.50", "8.1.4.50"}) EXPECT_EQ(isWindowsServer2k8InboxDriver(v), 0) << v;
    EXPECT_EQ(isWindowsServer2k8InboxDriver(nullptr), -1);
}

TEST(AdapterQueries, TableRowGivesSupportAndHardwareTypes) {
    zvfix::HostBuilder h;
    h.AddChip25(0x2261, 1);   // SSVID 0x1A77, SSDID 0x0289
    h.AddChip27(0x2281, 1);
    h.adapters[1].subSystemId = 0x02AA;
    zvfix::AdapterTableRow row = zvfix::TableRow(0x0289, 0x1A77, "TRUE");
    row.isp = "ISP2532";
    zvfix::AdapterTableRow unsupported = zvfix::TableRow(0x02AA, 0x1A77, "FALSE");
    ListsHost lists(h, zvfix::AdapterTable({row, unsupported}));
    OSSSetConfigPath((lists.Dir() + "/").c_str());

    char hw[16] = "keep", isp[16] = "keep";
    EXPECT_EQ(ValidateAdapterProperties(ListsHost::CorePort(0), hw, sizeof hw), 0);
    EXPECT_STREQ(hw, "2532");
    EXPECT_EQ(DetectAdapterType(ListsHost::CorePort(1), hw, sizeof hw), 7);
    EXPECT_EQ(DetectAdapterType(nullptr, hw, sizeof hw), 8);
    EXPECT_EQ(GetHardwareType(ListsHost::CorePort(0), hw, sizeof hw, isp, sizeof isp), 2);
    EXPECT_STREQ(isp, "2532");
    EXPECT_STREQ(hw, "25");

    // Without a table: the device id, and the caller's chip text stays.
    OSSSetConfigPath("/nonexistent-zv/");
    EXPECT_EQ(ValidateAdapterProperties(ListsHost::CorePort(0), hw, sizeof hw), 7);
    EXPECT_STREQ(hw, "2261");
    std::strcpy(isp, "2422");
    EXPECT_EQ(GetHardwareType(ListsHost::CorePort(0), hw, sizeof hw, isp, sizeof isp), 2);
    EXPECT_STREQ(isp, "2422");
    EXPECT_STREQ(hw, "24");
}

TEST(AdapterQueries, ChipClassFunctionHardwareTypeAndHeader) {
    zvfix::HostBuilder h;
    auto& a = h.AddChip25(0x2261, 2);
    a.model = "KV2692";
    ListsHost lists(h);
    SDMDevice* second = ListsHost::CorePort(1);
    EXPECT_EQ(FindWhichISP2GType(second), -1);
    SDMDevice copy = *second;
    copy.DeviceChipProperty.DeviceID = 0x6322;
    EXPECT_EQ(FindWhichISP2GType(&copy), 4);
    EXPECT_EQ(FindWhichISP2GType(nullptr), -1);

    int function = 0;
    EXPECT_EQ(zvtest::CaptureStdout([&] { function = GetAdapterPCIFunctionNumber(second); }), "1");
    EXPECT_EQ(function, 1);
    EXPECT_EQ(GetAdapterPCIFunctionNumber(nullptr), -1);

    char hw[16] = {};
    EXPECT_EQ(GetHBAHardwareType(second, hw, sizeof hw), 0);
    EXPECT_STREQ(hw, "692");   // the model without its first three characters

    const std::string out = zvtest::CaptureStdout([&] { PrintHBAHeader(second); });
    const std::string rule(70, '-');
    EXPECT_EQ(out.substr(0, 71), rule + "\n");
    EXPECT_NE(out.find("HBA Instance 1: KV2692 Port 2 WWPN "), std::string::npos) << out;
    EXPECT_EQ(out.substr(out.size() - 71), rule + "\n");
}

TEST(AdapterQueries, SunModelKeepsItsSuffixOnce) {
    zvfix::HostBuilder h;
    auto& a = h.AddChip25(0x2261, 1);
    a.model = "KV 26-S", a.ports[0].nvram = zvfix::MakeNvram(0x1077, 0x0170);   // a SUN 8G adapter
    ListsHost lists(h);
    const std::string out = zvtest::CaptureStdout([] { PrintHBAHeader(ListsHost::CorePort(0)); });
    EXPECT_NE(out.find("HBA Instance 0: KV26-S Port 1"), std::string::npos) << out;
}

TEST(AdapterQueries, OemPortGroupsAndBladeModels) {
    zvfix::HostBuilder h;
    h.AddChip25(0x2261, 2);
    h.AddChip25(0x2261, 2);   // four ports of equal ids
    ListsHost lists(h);
    EXPECT_EQ(GetNumberOfPortsOEMHBA(ListsHost::CorePort(0)), 1);
    EXPECT_EQ(GetNumberOfPortsOEMHBA(nullptr), 0);

    char model[32] = "IBM FC";
    EXPECT_EQ(UpdateModelStringForBladeServer(model, sizeof model), 0);
    EXPECT_STREQ(model, "IBM FC-piva");
    UpdateModelStringForBladeServer(model, sizeof model);
    EXPECT_STREQ(model, "IBM FC-piva");   // once
    char tight[8] = "FCEC12";
    UpdateModelStringForBladeServer(tight, sizeof tight);
    EXPECT_STREQ(tight, "FCEC12");   // no room: unchanged
}

TEST(ConsoleHelpers, HexDumpAndProductId) {
    const uint8_t bytes[18] = {'A', 'B', 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 'z', 0xFF};
    const std::string out = zvtest::CaptureStdout([&] { HexDump(bytes); });
    EXPECT_NE(out.find("00000000    41 42 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D  AB.............."), std::string::npos)
        << out;
    EXPECT_NE(out.find("00000010    7A FF "), std::string::npos);
    EXPECT_NE(out.find("\n000012  \n"), std::string::npos);

    char id[65];
    EXPECT_EQ(GetProductIDStr("RAID 5 volume x", id, sizeof id), 0);
    EXPECT_STREQ(id, "RAID 5");
    EXPECT_EQ(GetProductIDStr("VDISK*#1", id, sizeof id), 0);
    EXPECT_STREQ(id, "VDISK1");
    EXPECT_EQ(GetProductIDStr("", id, sizeof id), -1);
}

}  // namespace
