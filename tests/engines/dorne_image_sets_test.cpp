// Which image set the Dorne engines write and the records they prepare:
// never the set the adapter boots, invalid records rebuilt so that they count.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/image_status.h"
#include "engines/dorne_image_sets.h"
#include "fixtures/host_builder.h"
#include "support/discovered_host.h"

namespace {

DorneStatusRecord Valid(SD_UINT32 region, uint8_t mask, uint16_t generation) {
    DorneStatusRecord r;
    r.region = region;
    r.regionSize = 0x10000;
    r.readable = true;
    const zvfix::Bytes bytes = zvfix::MakeImageStatusRecord(mask, generation, zvfix::kSigImageStatus25);
    std::copy(bytes.begin(), bytes.end(), r.bytes.begin());
    r.valid = CoreIsImageStatusRegionValid(r.bytes, IMAGE_STATUS_SIGNATURE_25);
    return r;
}

DorneStatusRecord Blank(SD_UINT32 region, bool readable = true) {
    DorneStatusRecord r;
    r.region = region;
    r.regionSize = 0x10000;
    r.readable = readable;
    r.bytes.fill(readable ? 0xFF : 0x00);
    return r;
}

DorneImageSets Sets(DorneStatusRecord primary, DorneStatusRecord secondary) { return {primary, secondary}; }

// Mask bit and generation as the boot rule reads them from a prepared record.
std::pair<int, int> Read(const std::array<SD_UINT8, 16>& record) {
    EXPECT_TRUE(CoreIsImageStatusRegionValid(record, IMAGE_STATUS_SIGNATURE_25));
    return {record[0] & 1, CoreGetImageStatusGenerationNumber(record)};
}

TEST(DorneImageSets, OnlineWritesTheSetTheBootRuleDoesNotPick) {
    struct Case {
        DorneImageSets sets;
        SD_UINT32 written;
        int generation;
    };
    const Case cases[] = {
        {Sets(Valid(0x95, 1, 7), Valid(0x96, 0, 3)), 2, 8},
        {Sets(Valid(0x95, 0, 3), Valid(0x96, 1, 7)), 1, 8},
        {Sets(Valid(0x95, 1, 7), Valid(0x96, 1, 9)), 1, 10},   // the higher generation boots
        {Sets(Valid(0x95, 1, 9), Valid(0x96, 1, 7)), 2, 10},
        {Sets(Valid(0x95, 0, 5), Valid(0x96, 0, 5)), 2, 6},    // equal: the primary boots
        {Sets(Valid(0x95, 1, 0xFFFE), Valid(0x96, 0, 3)), 2, 1},
        {Sets(Valid(0x95, 1, 0xFFFF), Valid(0x96, 0, 3)), 2, 0},
        // A valid active primary with a blank or unreadable secondary: the secondary.
        {Sets(Valid(0x95, 1, 4), Blank(0x96)), 2, 5},
        {Sets(Valid(0x95, 1, 4), Blank(0x96, false)), 2, 5},
        // An invalid primary counts as mask 0, generation 0.
        {Sets(Blank(0x95), Valid(0x96, 0, 4)), 1, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "written " << c.written << " generation " << c.generation);
        const DorneRecordPlan plan = DornePlanOnlineRecords(c.sets);
        EXPECT_EQ(plan.activeSet, c.written);
        const auto active = Read(c.written == 1 ? plan.primary : plan.secondary);
        const auto inactive = Read(c.written == 1 ? plan.secondary : plan.primary);
        EXPECT_EQ(active, std::make_pair(1, c.generation));
        EXPECT_EQ(inactive.first, 0);
        // The prepared pair boots the written set.
        DorneImageSets after = c.sets;
        after.primary.bytes = plan.primary;
        after.secondary.bytes = plan.secondary;
        after.primary.readable = after.secondary.readable = after.primary.valid = after.secondary.valid = true;
        EXPECT_EQ(DorneBootSet(after), c.written);
    }
}

TEST(DorneImageSets, AnInvalidRecordIsRebuiltWithTheChipsSignature) {
    DorneStatusRecord junk = Valid(0x96, 1, 9);
    junk.bytes[12] ^= 0xFF;   // signature broken
    junk.valid = false;
    const auto record = DornePrepareRecord(junk, Valid(0x95, 0, 8), true, 3);
    EXPECT_EQ(Read(record), std::make_pair(1, 3));
    EXPECT_EQ(CoreGetImageStatusSignature(record), IMAGE_STATUS_SIGNATURE_25);
}

// A cut that landed none of a record's write leaves it erased: the rerun
// writes it as a clean update does, not over the erased bytes.
TEST(DorneImageSets, AnErasedRecordIsWrittenAsACleanUpdateWritesIt) {
    const DorneRecordPlan clean = DornePlanOnlineRecords(Sets(Valid(0x95, 1, 1), Valid(0x96, 0, 0)));
    const DorneRecordPlan rerun = DornePlanOnlineRecords(Sets(Valid(0x95, 1, 1), Blank(0x96)));
    EXPECT_EQ(rerun.secondary, clean.secondary);
    EXPECT_EQ(rerun.primary, clean.primary);
    // Next to a record that cannot be read either: format 1.0, nothing else set.
    const DorneRecordPlan alone = DornePlanOnlineRecords(Sets(Blank(0x95, false), Blank(0x96)));
    const zvfix::Bytes expected = zvfix::MakeImageStatusRecord(1, 1, zvfix::kSigImageStatus25);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), alone.secondary.begin()));
}

TEST(DorneImageSets, OfflineMakesThePrimaryActiveUnlessItAlreadyIs) {
    DorneRecordPlan plan;
    EXPECT_FALSE(DornePlanOfflineRecords(Sets(Valid(0x95, 1, 7), Valid(0x96, 0, 3)), &plan));
    // Records that cannot be read are left alone.
    EXPECT_FALSE(DornePlanOfflineRecords(Sets(Blank(0x95, false), Blank(0x96, false)), &plan));

    ASSERT_TRUE(DornePlanOfflineRecords(Sets(Valid(0x95, 0, 3), Valid(0x96, 1, 9)), &plan));
    EXPECT_EQ(Read(plan.primary), std::make_pair(1, 9));
    EXPECT_EQ(Read(plan.secondary), std::make_pair(0, 8));

    ASSERT_TRUE(DornePlanOfflineRecords(Sets(Valid(0x95, 1, 4), Valid(0x96, 1, 4)), &plan));
    EXPECT_EQ(Read(plan.primary), std::make_pair(1, 5));
    EXPECT_EQ(Read(plan.secondary), std::make_pair(0, 4));

    ASSERT_TRUE(DornePlanOfflineRecords(Sets(Valid(0x95, 0, 2), Valid(0x96, 1, 0xFFFF)), &plan));
    EXPECT_EQ(Read(plan.primary), std::make_pair(1, 1));
    EXPECT_EQ(Read(plan.secondary), std::make_pair(0, 0));

    // An invalid primary does not boot: its records are rebuilt and written.
    ASSERT_TRUE(DornePlanOfflineRecords(Sets(Blank(0x95), Valid(0x96, 0, 6)), &plan));
    EXPECT_EQ(Read(plan.primary), std::make_pair(1, 6));
}

// The primary boots but the secondary record does not hold (a cut erased or
// tore it): only the secondary is written, one generation behind, as a clean
// switch leaves it; the primary's record is not touched.
TEST(DorneImageSets, OfflineRebuildsATornSecondaryBehindTheBootingPrimary) {
    DorneStatusRecord torn = Valid(0x96, 0, 6);
    std::fill(torn.bytes.begin() + 8, torn.bytes.end(), SD_UINT8{0xFF});
    torn.valid = false;
    for (const DorneStatusRecord& secondary : {Blank(0x96), torn}) {
        DorneRecordPlan plan;
        const DorneStatusRecord primary = Valid(0x95, 1, 7);
        ASSERT_TRUE(DornePlanOfflineRecords(Sets(primary, secondary), &plan));
        EXPECT_FALSE(plan.writePrimary);
        EXPECT_EQ(plan.primary, primary.bytes);
        EXPECT_EQ(Read(plan.secondary), std::make_pair(0, 6));
        const zvfix::Bytes clean = zvfix::MakeImageStatusRecord(0, 6, zvfix::kSigImageStatus25);
        EXPECT_TRUE(std::equal(clean.begin(), clean.end(), plan.secondary.begin()));

        // Generation 0 has none behind it: the tie still goes to the primary.
        ASSERT_TRUE(DornePlanOfflineRecords(Sets(Valid(0x95, 1, 0), secondary), &plan));
        EXPECT_EQ(Read(plan.secondary), std::make_pair(0, 0));
        // The next switch writes both records again.
        ASSERT_TRUE(DornePlanOfflineRecords(Sets(Valid(0x95, 0, 3), Valid(0x96, 1, 9)), &plan));
        EXPECT_TRUE(plan.writePrimary);
    }
    // A secondary that cannot be read is left alone.
    DorneRecordPlan plan;
    EXPECT_FALSE(DornePlanOfflineRecords(Sets(Valid(0x95, 1, 7), Blank(0x96, false)), &plan));
}

// Off line, the secondary running while the records start the primary: the
// hold names the running set; afterwards the records go back as found, a
// torn secondary rebuilt behind the primary as a clean switch leaves it.
TEST(DorneImageSets, OfflineHoldNamesTheRunningSecondaryAndEndsWithTheRecordsAsFound) {
    DorneRecordPlan hold;
    EXPECT_FALSE(DornePlanHold(Sets(Valid(0x95, 1, 9), Valid(0x96, 0, 8)), 1, &hold));
    EXPECT_FALSE(DornePlanHold(Sets(Valid(0x95, 0, 3), Valid(0x96, 1, 9)), 2, &hold));
    ASSERT_TRUE(DornePlanHold(Sets(Valid(0x95, 1, 9), Valid(0x96, 0, 8)), 2, &hold));
    EXPECT_EQ(Read(hold.secondary), std::make_pair(1, 10));
    EXPECT_EQ(Read(hold.primary), std::make_pair(0, 9));

    DorneStatusRecord torn = Valid(0x96, 0, 8);
    std::fill(torn.bytes.begin() + 8, torn.bytes.end(), SD_UINT8{0xFF});
    torn.valid = false;
    for (const DorneStatusRecord& secondary : {Valid(0x96, 0, 8), torn, Blank(0x96, false)}) {
        const DorneImageSets found = Sets(Valid(0x95, 1, 9), secondary);
        DorneRecordPlan plan;
        ASSERT_TRUE(DornePlanRecordsAfterHold(found, DornePlanOfflineRecords(found, &plan), &plan));
        EXPECT_TRUE(plan.writePrimary);
        EXPECT_EQ(plan.primary, found.primary.bytes);
        const zvfix::Bytes clean = zvfix::MakeImageStatusRecord(0, 8, zvfix::kSigImageStatus25);
        EXPECT_TRUE(std::equal(clean.begin(), clean.end(), plan.secondary.begin()));
    }
}

// Records read from a host. The engine's layout names the primary record's
// region, the library's no longer does: that record is unread, never taken
// from bytes no read filled (the secondary's, read just before into memory
// freed since, among them).
class DorneImageSetsOnHost : public zvtest::DiscoveredHostTest {};

TEST_F(DorneImageSetsOnHost, ARecordTheLibraryDoesNotReadIsUnread) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.SetImageStatus(1, 7, 0, 3);
    a.faults.push_back(zvfix::FaultSpec::HideRegion(IMAGE_STATUS_REGION_PRIMARY));
    const auto ports = Discover(host);
    ASSERT_FALSE(ports.empty());
    SDMOptRomLayoutCopy layout;
    layout.Regions = {{IMAGE_STATUS_REGION_PRIMARY, 0x10000}, {IMAGE_STATUS_REGION_SECONDARY, 0x10000}};
    for (int round = 0; round < 2; ++round) {
        DorneImageSets sets;
        DorneReadImageSets(ports[0], layout, &sets);
        EXPECT_FALSE(sets.primary.readable) << round;
        EXPECT_FALSE(sets.primary.valid) << round;
        EXPECT_TRUE(sets.secondary.readable);
        EXPECT_TRUE(sets.secondary.valid);
        EXPECT_EQ(DorneBootState(sets.secondary).generation, 3);
    }
}

}  // namespace
