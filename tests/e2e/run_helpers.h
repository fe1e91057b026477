// Small pieces the whole-program tests share: a fixture that runs only in the
// private mount namespace, and readers of what a run left.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fixtures/host_builder.h"
#include "support/e2e_support.h"

namespace zve2e {

class IsolatedTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "whole-program runs need the private /tmp and /var/log";
    }
};

inline size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

inline zvfix::Bytes Slice(const zvfix::Bytes& b, size_t at, size_t n) {
    return zvfix::Bytes(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
}

// A run that refused the adapter's image as no complete set at validation:
// the engine's lines, the reason in the debug log (a "-trace" run), and not one
// flash byte of adapter 0 changed.
inline void ExpectRefusedAsNoCompleteSet(const zvtest::RunResult& r, const std::string& hostDir,
                                         const zvfix::Bytes& flashBefore) {
    EXPECT_EQ(r.status, 3) << r.out << r.outputFile;
    EXPECT_NE(r.outputFile.find("Validating Flash Image File... Failed\nInvalid flash image (Wrong flash component)!\n"),
              std::string::npos)
        << r.outputFile;
    EXPECT_NE(r.debugLog.find("ValidateImageSetAsWhole: "), std::string::npos) << r.debugLog;
    EXPECT_EQ(r.out.find("Update is complete"), std::string::npos) << r.out;
    EXPECT_TRUE(zvfix::ReadJournal(hostDir).empty());
    EXPECT_EQ(zvfix::ReadFlash(hostDir, 0), flashBefore);
}

// The regions one adapter's writes reached, in order.
inline std::vector<uint32_t> Written(const std::string& hostDir, int adapter = 0) {
    std::vector<uint32_t> regions;
    for (const zvfix::JournalEntry& e : zvfix::ReadJournal(hostDir))
        if (e.adapter == adapter && e.op == "write") regions.push_back(e.region);
    return regions;
}

}  // namespace zve2e
