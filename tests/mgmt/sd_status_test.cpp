// Status texts and version strings.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "lib_fixture.h"

namespace zvtest {
namespace {

// The edge rows, a text two codes share and the ones the update flow reports.
TEST(ErrorString, TableRows) {
    const std::pair<SD_UINT32, const char*> rows[] = {
        {0, "No error"},
        {0x2000001C, "Command not supported"},
        {0x20000066, "Command not supported"},
        {0x20000072, "Buffer too small"},
        {0x20000100, "New settings are flashed but not activated"},
        {0x20000113, "Adapter in Lock Down Mode"},
    };
    for (const auto& [status, text] : rows) EXPECT_STREQ(SDGetErrorString(status), text) << std::hex << status;
}

TEST(ErrorString, FormattedFallbacks) {
    EXPECT_STREQ(SDGetErrorString(5), "System Error 5.");
    EXPECT_STREQ(SDGetErrorString(0x1FFFFFFF), "System Error 536870911.");
    EXPECT_STREQ(SDGetErrorString(0x20000000), "Unknown Error 20000000h.");
    EXPECT_STREQ(SDGetErrorString(0x20000076), "Unknown Error 20000076h.");
    EXPECT_STREQ(SDGetErrorString(0xFFFFFFFF), "Unknown Error ffffffffh.");
    // One buffer: the next formatted text replaces the previous one.
    const char* first = SDGetErrorString(7);
    const char* second = SDGetErrorString(8);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(second, "System Error 8.");
}

using Version = LibTest;

TEST_F(Version, DefaultTextCutToTheBuffer) {
    char text[64];
    SD_UINT32 number = SDGetVersion(text);
    EXPECT_STREQ(text, "v6.04 build77");
    EXPECT_EQ(number, (6u << 16) | (4u << 8) | 77u);
    char small[6];
    SDGetVersion(small);
    EXPECT_STREQ(small, "v6.04");
    char fo[64];
    ISDFoGetApiVersion(fo);
    EXPECT_STREQ(fo, "6.4.0 build77");
}

TEST_F(Version, PlatformMayNameAnotherVersion) {
    state->LibraryVersion = "v7.12 build3";
    OpenNew();
    char text[64];
    EXPECT_EQ(SDGetVersion(text), (7u << 16) | (12u << 8) | 3u);
    EXPECT_STREQ(text, "v7.12 build3");
}

}  // namespace
}  // namespace zvtest
