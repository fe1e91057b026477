// Starting an engine run in-process: the image file, the option-ROM request
// the engines read their region from, and a fresh output file with the logs
// cleared.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "fixtures/host_builder.h"
#include "frontend/output.h"
#include "image/option_rom_request.h"
#include "support/e2e_support.h"

namespace zvtest {

inline void PrepareEngineRun(const std::string& file, const zvfix::Bytes& image, SD_UINT32 region) {
    zvfix::WriteBytes(file, image);
    EXPECT_EQ(addUserOptionROMRequest("all", file.c_str()), 0);
    g_ptrOptionROMRequest->Region = region;
    ClearLogs();
    ResetOutputChannels();
    EXPECT_EQ(SetOutOutFile(), 0);
}

}  // namespace zvtest
