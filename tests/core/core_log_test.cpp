// The core log: timestamps, the quiet sink, bounded lines, the hex dump and allocation.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "core/core_log.h"
#include "core/core_quiet.h"
#include "core/oss_services.h"
#include "support/capture_support.h"

namespace {

using zvtest::CaptureStdout;

TEST(CoreTimestamp, SelectorPicksFormatByLowByte) {
    // mm/dd/yyyy, hh:mm:ss, both, digits only.
    const std::pair<int, size_t> cases[] = {{0, 10}, {0x100, 10}, {1, 8}, {2, 19}, {0x102, 19}, {3, 14}};
    for (auto [selector, length] : cases)
        EXPECT_EQ(std::strlen(CoreGetTimestamp(selector)), length) << selector;
    EXPECT_EQ(std::string(CoreGetTimestamp(3)).find_first_not_of("0123456789"), std::string::npos);
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
