// The core log: timestamps, the quiet sink, bounded lines, the hex dump and allocation.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <utility>

#include "core/core_log.h"
#include "core/core_quiet.h"
#include "core/oss_services.h"
#include "support/capture_support.h"

namespace {

using zvtest::CaptureStdout;

TEST(CoreTimestamp, SelectorPicksFormatByLowByte) {
    auto local = [](std::time_t when, const char* format) {
        std::tm tm{};
        localtime_r(&when, &tm);
        char text[64];
        return std::string(text, std::strftime(text, sizeof text, format, &tm));
    };
    const std::pair<int, const char*> cases[] = {{0, "%m/%d/%Y"},          {0x100, "%m/%d/%Y"}, {1, "%H:%M:%S"},
                                                 {2, "%m/%d/%Y %H:%M:%S"}, {0x102, "%m/%d/%Y %H:%M:%S"},
                                                 {3, "%m%d%Y%H%M%S"}};
    for (auto [selector, format] : cases) {
        // The clock moves on during the call (on a loaded machine by more than a second).
        const std::time_t before = std::time(nullptr);
        const std::string got = CoreGetTimestamp(selector);
        const std::time_t after = std::time(nullptr);
        bool matched = false;
        for (std::time_t t = before; t <= after && !matched; ++t) matched = got == local(t, format);
        EXPECT_TRUE(matched) << selector << ": " << got << " vs " << local(before, format);
    }
}

TEST(CoreLog, QuietSinkSilencesLogButNotCorePrint) {
    OSSSetLogQuiet(1);
    CoreSetQuietMode(0);
    std::string out = CaptureStdout([] {
        CoreLogMessage(ZV_MSG_DEBUG, "hidden %d", 1);
        CorePrint(ZV_MSG_DEBUG, "shown %d\n", 2);
    });
    EXPECT_EQ(out.find("hidden"), std::string::npos);
    EXPECT_NE(out.find(": shown 2\n"), std::string::npos);
    CoreSetQuietMode(1);
}

TEST(CoreLog, LongMessageIsCutNotOverrun) {
    OSSSetLogQuiet(0);
    std::string big(2000, 'x');
    std::string out = CaptureStdout([&] { CoreLogMessage(ZV_MSG_INFO, "%s", big.c_str()); });
    OSSSetLogQuiet(1);
    EXPECT_EQ(out, std::string(511, 'x') + "\n");
}

TEST(CoreHexDump, TwentyBytesGiveTwoRowsAndClosingOffset) {
    CoreSetQuietMode(0);
    unsigned char data[20];
    for (int i = 0; i < 20; ++i) data[i] = static_cast<unsigned char>('A' + i);
    std::string out = CaptureStdout([&] { CoreHexDump(data); });
    CoreSetQuietMode(1);
    // Every piece is printed on its own, behind the date prefix "mm/dd/yyyy: ".
    std::string pieces;
    for (size_t at = 0; (at = out.find(": ", at)) != std::string::npos; at += 2) {
        const size_t next = out.find('/', at + 2);
        const size_t stop = next == std::string::npos ? out.size() : next - 2;
        pieces += out.substr(at + 2, stop - (at + 2)) + "|";
    }
    EXPECT_NE(pieces.find("00000010  |51 |52 |53 |54 |" + std::string(13, ' ') + "|QRST|\n|"), std::string::npos)
        << pieces;
    EXPECT_NE(pieces.find("000020  \n|"), std::string::npos) << pieces;
}

TEST(CoreAlloc, ZeroSizeGivesNullAndFreeNullIsHarmless) {
    EXPECT_EQ(CoreZMalloc(0), nullptr);
    CoreFree(nullptr);
    auto* p = static_cast<unsigned char*>(CoreZMalloc(64));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(p[i], 0);
    CoreFree(p);
}

}  // namespace
