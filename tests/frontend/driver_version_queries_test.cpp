// Driver-version tests and the report's text helpers on their edges.
#include <gtest/gtest.h>

#include <string>

#include "frontend/driver_version_queries.h"
#include "frontend/port_info_texts.h"

namespace {

TEST(DriverVersion, LinuxDriverReportsSpeedsFrom8_07_00_48) {
    EXPECT_TRUE(isLinuxDriverWithSupportedSpeed("10.02.09.100-k"));
    EXPECT_TRUE(isLinuxDriverWithSupportedSpeed("8.07.00.48-k"));
    EXPECT_FALSE(isLinuxDriverWithSupportedSpeed("8.07.00.47-k"));
    EXPECT_TRUE(isLinuxDriverWithSupportedSpeed("8.07.01"));
    EXPECT_FALSE(isLinuxDriverWithSupportedSpeed("8.06.99.99"));
    EXPECT_FALSE(isLinuxDriverWithSupportedSpeed("7.99"));
    // A text that ends after an equal field.
    EXPECT_TRUE(isLinuxDriverWithSupportedSpeed("8"));
    EXPECT_FALSE(isLinuxDriverWithSupportedSpeed("8.7"));
    EXPECT_TRUE(isLinuxDriverWithSupportedSpeed("8.7.0"));
    EXPECT_FALSE(isLinuxDriverWithSupportedSpeed(""));
    EXPECT_FALSE(isLinuxDriverWithSupportedSpeed(nullptr));
    EXPECT_TRUE(isLinuxDriverWithSupportedSpeed("99999999999999999999.1"));   // saturates, never wraps below
}

TEST(DriverVersion, EsxDriverReportsSpeedsFrom2_1_56) {
    EXPECT_TRUE(isEsxDriverWithSupportedSpeed("2.1.56"));
    EXPECT_FALSE(isEsxDriverWithSupportedSpeed("2.1.55"));
    EXPECT_TRUE(isEsxDriverWithSupportedSpeed("2.1"));
    EXPECT_TRUE(isEsxDriverWithSupportedSpeed("3.0.0"));
    EXPECT_FALSE(isEsxDriverWithSupportedSpeed("1.9.99"));
    EXPECT_FALSE(isEsxDriverWithSupportedSpeed(nullptr));
}

TEST(DriverVersion, WindowsFecReleases) {
    EXPECT_TRUE(isWindowsServerFECImplDriverVersion(nullptr, 8));
    EXPECT_TRUE(isWindowsServerFECImplDriverVersion("9.1.11.24", 0));
    EXPECT_TRUE(isWindowsServerFECImplDriverVersion("9.1.11.27", 9));
    EXPECT_TRUE(isWindowsServerFECImplDriverVersion("9,1,11,28", 9));
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
