// Driver-version tests and the report's text helpers on their edges.
#include <gtest/gtest.h>

#include <string>

#include "frontend/driver_version_queries.h"
#include "frontend/port_info_texts.h"

namespace {

TEST(DriverVersion, LinuxFrom8_07_00_48AndEsxFrom2_1_56ReportSpeeds) {
    // A text that ends after an equal field counts as that release; a huge
    // number saturates, never wraps below.
    for (const char* v : {"10.02.09.100-k", "8.07.00.48-k", "8.07.01", "8", "8.7.0", "99999999999999999999.1"})
        EXPECT_TRUE(isLinuxDriverWithSupportedSpeed(v)) << v;
    for (const char* v : {"8.07.00.47-k", "8.06.99.99", "7.99", "8.7", "", static_cast<const char*>(nullptr)})
        EXPECT_FALSE(isLinuxDriverWithSupportedSpeed(v)) << (v ? v : "null");
    for (const char* v : {"2.1.56", "2.1", "3.0.0"}) EXPECT_TRUE(isEsxDriverWithSupportedSpeed(v)) << v;
    for (const char* v : {"2.1.55", "1.9.99", static_cast<const char*>(nullptr)})
        EXPECT_FALSE(isEsxDriverWithSupportedSpeed(v)) << (v ? v : "null");
}

TEST(DriverVersion, WindowsFecReleases) {
    EXPECT_TRUE(isWindowsServerFECImplDriverVersion(nullptr, 8));
    for (const char* v : {"9.1.11.27", "9,1,11,28"}) EXPECT_TRUE(isWindowsServerFECImplDriverVersion(v, 9)) << v;
    EXPECT_TRUE(isWindowsServerFECImplDriverVersion("9.1.11.24", 0));
    EXPECT_FALSE(isWindowsServerFECImplDriverVersion("9.1.11.25", 9));
    // The length bounds what is read: "9.1.11.2" is no release of the set.
    EXPECT_FALSE(isWindowsServerFECImplDriverVersion("9.1.11.24", 8));
}

TEST(PortTexts, ChipRevisionWidthSpeedAndFcodeVersions) {
    EXPECT_STREQ(GetFCChipVersionMappingStr(0x02, 15), "0x2(A1)");
    EXPECT_STREQ(GetFCChipVersionMappingStr(0x02, 24), "0x2(B0)");
    EXPECT_STREQ(GetFCChipVersionMappingStr(0x02, 25), "0x2");
    EXPECT_STREQ(GetFCChipVersionMappingStr(0x5C, 27), "0x5c(D0)");
    char text[16];
    EXPECT_EQ(GetPCIWidthString(16, text, sizeof text), 0);
    EXPECT_STREQ(text, "x16");
    GetPCIWidthString(3, text, sizeof text);
    EXPECT_STREQ(text, "Unknown Width");
    GetPCISpeedString(4, text, sizeof text);
    EXPECT_STREQ(text, "16.0 Gbps");
    GetPCISpeedString(5, text, sizeof text);
    EXPECT_STREQ(text, "Unknown Speed");
    EXPECT_EQ(GetPCISpeedString(1, nullptr, 4), -1);
    EXPECT_EQ(isFcodeVersion("4.12.0"), 1);
    EXPECT_EQ(isFcodeVersion("3.64"), 0);
    EXPECT_EQ(isFcodeVersion(std::string(40, '1').append(".2.3").c_str()), 0);   // past 39 characters
}

}  // namespace
