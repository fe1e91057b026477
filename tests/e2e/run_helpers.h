// Small pieces the whole-program tests share: a fixture that runs only in the
// private mount namespace, and readers of what a run left.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fixtures/host_builder.h"

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

// The regions one adapter's writes reached, in order.
inline std::vector<uint32_t> Written(const std::string& hostDir, int adapter = 0) {
    std::vector<uint32_t> regions;
    for (const zvfix::JournalEntry& e : zvfix::ReadJournal(hostDir))
        if (e.adapter == adapter && e.op == "write") regions.push_back(e.region);
    return regions;
}

}  // namespace zve2e
