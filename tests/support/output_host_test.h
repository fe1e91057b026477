// In-process tests over a simulated host that also write through the output
// channels: the locks the channels take and fresh channels for every test.
#pragma once

#include <string>

#include "core/oss_services.h"
#include "frontend/output.h"
#include "support/discovered_host.h"
#include "support/e2e_support.h"

namespace zvtest {

class OutputHostTest : public DiscoveredHostTest {
protected:
    void SetUp() override {
        DiscoveredHostTest::SetUp();
        OSSInitCriticalSection();
        ClearLogs();   // an output file named in the same second would be appended to
        ResetOutputChannels();
    }
    void TearDown() override {
        DiscoveredHostTest::TearDown();
        OSSDeleteCriticalSection();
        ResetOutputChannels();
    }
    // What the run wrote to the output file.
    static std::string OutputFile() { return ReadFile(GetOutPutFile()); }
};

}  // namespace zvtest
