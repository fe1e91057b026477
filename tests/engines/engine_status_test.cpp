// The engines' validation statuses: which message a failed chain prints, what
// status the engine goes on with, and how the progress item is completed, for
// the statuses where the engine families part ways.
#include "engines/engine_status.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "frontend/output.h"
#include "support/e2e_support.h"

namespace {

const EngineValidationArgs kArgs{"/opt/img/mb.bin", 3, "KV2692", 0x0289, 0x1A77};
constexpr auto kMulti = EngineStatusFamily::Multiboot;
constexpr auto kCna = EngineStatusFamily::Converged;

struct Lookup {
    EngineValidationResult result;
    std::string message;
};

Lookup Look(EngineStatusFamily family, SD_INT32 status) {
    char buf[ENGINE_MESSAGE_SIZE] = "untouched";
    Lookup l{EngineValidationStatusLookup(family, status, kArgs, buf), buf};
    return l;
}

const std::string kIdentity = "Incorrect flash image for HBA instance 3 (KV2692)(ssdid=0x289 ssvid=0x1a77)!";
const std::string kIdentityFile = "Incorrect flash image file for HBA instance 3 (KV2692)(ssdid=0x289 ssvid=0x1a77)!";
const std::string kModify = "Failed to modify multiboot image file '/opt/img/mb.bin'!";

// The rows where the families part ways: the multiboot engines fold what has
// no row of its own into 34, the converged engines keep every status.
TEST(EngineStatus, LookupRowsOfBothFamilies) {
    const std::string kLayout =
        "File signature or layout does not match with current adapter (Instance=3 ssdid=0x289 ssvid=0x1a77)!";
    const std::string kChecksum = "Incorrect flash file, invalid checksum!";
    const struct {
        EngineStatusFamily family;
        SD_INT32 status;
        bool ready;
        SD_INT32 result;
        std::string message;
    } rows[] = {
        {kMulti, 0, true, 0, "untouched"},
        {kCna, 0, true, 0, "untouched"},
        {kMulti, 0x1C, true, 0x1C, "untouched"},   // kept, so that no region is written
        {kCna, 0x1C, true, 0x1C, "untouched"},
        {kMulti, 451, false, 34, kIdentity},
        {kMulti, -4, false, 34, "Incompatible flash image (Region size mismatched)!"},
        {kMulti, 0x1C5, false, 34, kIdentity},
        {kMulti, 520, false, 520, kIdentity},
        {kMulti, 521, false, 521, kModify},
        {kMulti, 522, false, 522, kIdentityFile},
        {kMulti, 12, false, 12, kChecksum},
        {kMulti, 25, false, 25, kChecksum},
        {kMulti, 29, false, 29, kChecksum},
        {kCna, 451, false, 451, kIdentity},
        {kCna, 452, false, 452, kIdentityFile},
        {kCna, 453, false, 453, kModify},
        {kCna, 450, false, 450, kLayout},
        // The multiboot engines' own numbers mean nothing here: the last row, status kept.
        {kCna, 520, false, 520, kIdentity},
        {kCna, 521, false, 521, kIdentity},
        {kCna, 522, false, 522, kIdentity},
        {kCna, -4, false, -4, kIdentity},
        {kCna, 12345, false, 12345, kIdentity},
    };
    for (const auto& r : rows) {
        const Lookup l = Look(r.family, r.status);
        EXPECT_EQ(l.result.ready, r.ready) << r.status;
        EXPECT_EQ(l.result.status, r.result) << r.status;
        EXPECT_EQ(l.message, r.message) << r.status;
    }
}

class EngineStatusOutput : public ::testing::Test {
protected:
    void SetUp() override {
        ResetOutputChannels();
        ASSERT_EQ(SetOutOutFile(), 0);
        std::remove(GetOutPutFile());
    }
    void TearDown() override {
        std::remove(GetOutPutFile());
        ResetOutputChannels();
    }
    std::string Written() {
        const std::string text = zvtest::ReadFile(GetOutPutFile());
        std::remove(GetOutPutFile());
        return text;
    }
    EngineValidationResult Run(EngineStatusFamily family, SD_INT32 status) {
        char buf[ENGINE_MESSAGE_SIZE] = "";
        EngineValidationBegin();
        return EngineValidationFinish(family, status, kArgs, buf);
    }
};

TEST_F(EngineStatusOutput, FailedItemThenOneMessage) {
    EXPECT_EQ(Run(kMulti, 0).status, 0);
    EXPECT_EQ(Written(), "Validating Flash Image File... Success\n");

    EXPECT_EQ(Run(kMulti, 522).status, 522);
    EXPECT_EQ(Written(), "Validating Flash Image File... Failed\n" + kIdentityFile + "\n");

    // The region-length check is the multiboot chain's last step: its message ends the item.
    EXPECT_EQ(Run(kMulti, -4).status, 34);
    EXPECT_EQ(Written(), "Validating Flash Image File... Incompatible flash image (Region size mismatched)!\n");
    EXPECT_EQ(Run(kCna, -4).status, -4);
    EXPECT_EQ(Written(), "Validating Flash Image File... Failed\n" + kIdentity + "\n");

    const EngineValidationResult nothing = Run(kCna, 0x1C);
    EXPECT_TRUE(nothing.ready);
    EXPECT_EQ(Written(), "Validating Flash Image File... Failed\n");
}

}  // namespace
