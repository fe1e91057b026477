// The engines' validation statuses: which message a failed chain prints, what
// status the engine goes on with, and how the progress item is completed, for
// the statuses where the engine families part ways.
#include "engines/engine_status.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "frontend/output.h"

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

TEST(EngineStatus, GoOnRowsLeaveTheMessageAlone) {
    for (auto family : {kMulti, kCna}) {
        EXPECT_TRUE(Look(family, 0).result.ready);
        EXPECT_EQ(Look(family, 0).message, "untouched");
        Lookup nothing = Look(family, 0x1C);
        EXPECT_TRUE(nothing.result.ready);
        EXPECT_EQ(nothing.result.status, 0x1C);   // kept, so that no region is written
        EXPECT_EQ(nothing.message, "untouched");
    }
}

TEST(EngineStatus, MultibootEnginesFoldUnknownStatusesInto34) {
    Lookup noCard = Look(kMulti, 451);   // no row of its own
    EXPECT_FALSE(noCard.result.ready);
    EXPECT_EQ(noCard.result.status, 34);
    EXPECT_EQ(noCard.message, kIdentity);
    Lookup regionSize = Look(kMulti, -4);
    EXPECT_EQ(regionSize.result.status, 34);
    EXPECT_EQ(regionSize.message, "Incompatible flash image (Region size mismatched)!");
    EXPECT_EQ(Look(kMulti, 0x1C5).result.status, 34);
    EXPECT_EQ(Look(kMulti, 0x1C5).message, kIdentity);

    EXPECT_EQ(Look(kMulti, 520).message, kIdentity);
    EXPECT_EQ(Look(kMulti, 520).result.status, 520);
    EXPECT_EQ(Look(kMulti, 521).message, kModify);
    EXPECT_EQ(Look(kMulti, 522).message, kIdentityFile);
    EXPECT_EQ(Look(kMulti, 522).result.status, 522);
}

TEST(EngineStatus, ConvergedEnginesKeepEveryStatus) {
    Lookup noCard = Look(kCna, 451);
    EXPECT_EQ(noCard.result.status, 451);
    EXPECT_EQ(noCard.message, kIdentity);
    EXPECT_EQ(Look(kCna, 452).message, kIdentityFile);
    EXPECT_EQ(Look(kCna, 453).message, kModify);
    EXPECT_EQ(Look(kCna, 453).result.status, 453);
    // The multiboot engines' own numbers mean nothing here: the last row, status kept.
    for (SD_INT32 s : {520, 521, 522, -4, 12345}) {
        Lookup l = Look(kCna, s);
        EXPECT_FALSE(l.result.ready);
        EXPECT_EQ(l.result.status, s);
        EXPECT_EQ(l.message, kIdentity) << s;
    }
}

TEST(EngineStatus, SharedRowsKeepTheirStatusAndArgumentOrder) {
    for (SD_INT32 s : {12, 25, 29}) {
        Lookup l = Look(kMulti, s);
        EXPECT_EQ(l.result.status, s);
        EXPECT_EQ(l.message, "Incorrect flash file, invalid checksum!");
    }
    Lookup layout = Look(kCna, 450);
    EXPECT_EQ(layout.result.status, 450);
    EXPECT_EQ(layout.message,
              "File signature or layout does not match with current adapter (Instance=3 ssdid=0x289 ssvid=0x1a77)!");
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
        std::ifstream f(GetOutPutFile());
        std::stringstream s;
        s << f.rdbuf();
        std::remove(GetOutPutFile());
        return s.str();
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
