// Image-status records: checksum, validity, the image-set switch and the
// auxiliary component flip, checked by decoding the bytes they leave.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <tuple>
#include <utility>
#include <vector>

#include "core/active_regions.h"
#include "core/image_status.h"
#include "support/image_status_records.h"

namespace {

using zvtest::bad_checksum;
using zvtest::erased;
using zvtest::make_record;
using zvtest::make_v10_record;
using zvtest::Record;

SD_UINT32 word_sum(const Record& r) {
    SD_UINT32 sum = 0;
    for (int at = 0; at < 16; at += 4)
        sum += r[at] | (r[at + 1] << 8) | (r[at + 2] << 16) | (static_cast<SD_UINT32>(r[at + 3]) << 24);
    return sum;
}

TEST(ImageStatusChecksum, SumsToZeroAnywhereAndStaysInBounds) {
    Record r = make_record(1, 0x1234, IMAGE_STATUS_SIGNATURE_25);
    EXPECT_EQ(word_sum(r), 0u);
    EXPECT_TRUE(CoreIsImageStatusRegionValid(r, IMAGE_STATUS_SIGNATURE_25));
    EXPECT_FALSE(CoreIsImageStatusRegionValid(r, IMAGE_STATUS_SIGNATURE_27));
    EXPECT_FALSE(CoreIsImageStatusRegionValid(std::span<const SD_UINT8>(r).first(15), IMAGE_STATUS_SIGNATURE_25));
    r[5] ^= 0x01;
    EXPECT_EQ(CoreValidateChecksum32(r, 16), -1);
    EXPECT_FALSE(CoreIsImageStatusRegionValid(r, IMAGE_STATUS_SIGNATURE_25));

    std::vector<SD_UINT8> table(64);
    for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<SD_UINT8>(i * 7 + 3);
    CoreCalculateChecksum32(table, 64, 20);
    EXPECT_EQ(CoreValidateChecksum32(table, 64), 0);
    // A checksum word outside the covered bytes is refused and nothing changes.
    const std::vector<SD_UINT8> before = table;
    EXPECT_EQ(CoreCalculateChecksum32(table, 16, 14), 0u);
    EXPECT_EQ(CoreCalculateChecksum32(std::span<SD_UINT8>(table).first(8), 64, 8), 0u);
    EXPECT_EQ(table, before);
    EXPECT_EQ(CoreValidateChecksum32(std::span<const SD_UINT8>(table).first(8), 16), -1);
}

TEST(ImageStatusChecksum, StoredSumAndComponentBitsAsRead) {
    Record r = make_record(1, 0x1234, IMAGE_STATUS_SIGNATURE_27);
    const SD_UINT32 stored = r[8] | (r[9] << 8) | (r[10] << 16) | (static_cast<SD_UINT32>(r[11]) << 24);
    EXPECT_EQ(CoreGetImageStatusCheckSum(r), stored);
    r[5] = 0x85;   // components 0, 2 and 7
    const std::pair<SD_UINT32, SD_UINT8> bits[] = {{0, 1}, {1, 0}, {2, 1}, {7, 1}, {8, 0},
                                                   {31, 0}, {32, 1}, {34, 1}, {33, 0}, {39, 1}};
    for (const auto& [bit, set] : bits) EXPECT_EQ(CoreGetAuxImageStatusComponentsBitMap(r, bit), set) << bit;
    // A short record has neither.
    EXPECT_EQ(CoreGetAuxImageStatusComponentsBitMap(std::span<const SD_UINT8>(r).first(15), 0), 0);
    EXPECT_EQ(CoreGetImageStatusCheckSum(std::span<const SD_UINT8>(r).first(11)), 0u);
}

TEST(ImageStatusGeneration, WrapsPastFFFEToOne) {
    EXPECT_EQ(CoreNextImageStatusGeneration(5, 7), 8);
    EXPECT_EQ(CoreNextImageStatusGeneration(0xFFFE, 3), 1);
    EXPECT_EQ(CoreNextImageStatusGeneration(0, 0), 1);
}

// The switch is judged by what the active-set reader makes of the result.
int active_set(const Record& p, const Record& s, int chip) {
    ACTIVE_REGIONS out{};
    CoreDecideFlashActiveRegions(p, s, {}, {}, chip, &out);
    return out.ActiveGlobalRegions;
}

TEST(ImageStatusSwitch, SecondaryBecomesActiveWithNextGeneration) {
    Record p = make_record(1, 5, IMAGE_STATUS_SIGNATURE_25);
    Record s = make_record(0, 7, IMAGE_STATUS_SIGNATURE_25);
    ASSERT_EQ(CoreBuildImageStatusSwitch(p, s, 25, 2), 0);
    // (active bit, generation) of each.
    EXPECT_EQ(std::tuple(s[0] & 1, CoreGetImageStatusGenerationNumber(s), p[0] & 1, CoreGetImageStatusGenerationNumber(p)),
              std::tuple(1, 8, 0, 5));
    EXPECT_TRUE(CoreIsImageStatusRegionValid(p, IMAGE_STATUS_SIGNATURE_25));
    EXPECT_TRUE(CoreIsImageStatusRegionValid(s, IMAGE_STATUS_SIGNATURE_25));
    EXPECT_EQ(s[3], 2);   // format kept
    EXPECT_EQ(active_set(p, s, 25), 2);

    // And back again on a chip-type-27 pair.
    Record p27 = make_record(0, 0xFFFE, IMAGE_STATUS_SIGNATURE_27);
    Record s27 = make_record(1, 3, IMAGE_STATUS_SIGNATURE_27);
    ASSERT_EQ(CoreBuildImageStatusSwitch(p27, s27, 27, 1), 0);
    EXPECT_EQ(CoreGetImageStatusGenerationNumber(p27), 1);
    EXPECT_EQ(active_set(p27, s27, 27), 1);
}

TEST(ImageStatusSwitch, ErasedRecordsBecomeRealActiveRecord) {
    for (int set : {1, 2}) {
        Record p = erased(), s = erased();
        ASSERT_EQ(CoreBuildImageStatusSwitch(p, s, 27, set), 0);
        const Record& on = set == 1 ? p : s;
        const Record& off = set == 1 ? s : p;
        EXPECT_TRUE(CoreIsImageStatusRegionValid(on, IMAGE_STATUS_SIGNATURE_27)) << set;
        EXPECT_EQ(CoreGetImageStatusGenerationNumber(on), 1);
        EXPECT_EQ(CoreGetImageStatusVersion(on), IMAGE_STATUS_FORMAT_MAJOR | (IMAGE_STATUS_FORMAT_MINOR << 8));
        // The other erased record is rebuilt too: valid, inactive, behind the active one.
        EXPECT_TRUE(CoreIsImageStatusRegionValid(off, IMAGE_STATUS_SIGNATURE_27)) << set;
        EXPECT_EQ(std::tuple(off[0], CoreGetImageStatusGenerationNumber(off)), std::tuple(0, 0));
        EXPECT_EQ(word_sum(off), 0u);
        EXPECT_EQ(active_set(p, s, 27), set);
    }
    // An erased record next to a valid one takes the valid one's format.
    Record p = make_record(1, 4, IMAGE_STATUS_SIGNATURE_25);
    Record s = erased();
    ASSERT_EQ(CoreBuildImageStatusSwitch(p, s, 25, 2), 0);
    EXPECT_EQ(CoreGetImageStatusVersion(s), 0x0102);
    EXPECT_EQ(CoreGetImageStatusGenerationNumber(s), 5);
    EXPECT_EQ(active_set(p, s, 25), 2);
}

// A record a cut left erased (nothing of its write landed) is rewritten as a
// switch from the sound record writes it: every byte alike.
TEST(ImageStatusSwitch, AnErasedRecordIsRebuiltAsACleanSwitchWritesIt) {
    for (int set : {1, 2}) {
        SCOPED_TRACE(set);
        const Record on = make_record(0, 3, IMAGE_STATUS_SIGNATURE_27, 0x00, 4);
        const Record off = make_record(1, 7, IMAGE_STATUS_SIGNATURE_27, 0x00, 4);
        Record cleanP = set == 1 ? on : off, cleanS = set == 1 ? off : on;
        ASSERT_EQ(CoreBuildImageStatusSwitch(cleanP, cleanS, 27, set), 0);
        Record p = set == 1 ? erased() : off, s = set == 1 ? off : erased();
        ASSERT_EQ(CoreBuildImageStatusSwitch(p, s, 27, set), 0);
        EXPECT_EQ(p, cleanP);
        EXPECT_EQ(s, cleanS);
    }
    // Tool id, bitmap and reserved bytes of the erased record are no longer 0xFF
    // next to an invalid partner either.
    Record p = erased(), s = erased();
    ASSERT_EQ(CoreBuildImageStatusSwitch(p, s, 25, 2), 0);
    EXPECT_EQ(std::tuple(s[0], s[5], s[6], s[7]), std::tuple(1, 0, 0, 0));
}

// A record torn partway by a cut (its signature or checksum erased) that the
// update deactivates: written back valid, inactive and behind the active
// one, with the bytes its sound partner held before the update.
TEST(ImageStatusSwitch, ATornRecordBeingDeactivatedIsRebuiltToo) {
    const auto torn_from = [](Record r, size_t from) {
        std::fill(r.begin() + static_cast<long>(from), r.end(), SD_UINT8{0xFF});
        return r;
    };
    for (size_t from : {4u, 8u, 12u}) {
        SCOPED_TRACE(from);
        Record p = torn_from(make_record(1, 1, IMAGE_STATUS_SIGNATURE_27, 0, 6), from);
        Record s = make_record(0, 0, IMAGE_STATUS_SIGNATURE_27, 0, 6);
        ASSERT_EQ(active_set(p, s, 27), 1);
        ASSERT_EQ(CoreBuildImageStatusSwitch(p, s, 27, 2), 0);
        EXPECT_EQ(p, make_record(0, 0, IMAGE_STATUS_SIGNATURE_27, 0, 6));
        EXPECT_EQ(s, make_record(1, 1, IMAGE_STATUS_SIGNATURE_27, 0, 6));
        EXPECT_EQ(active_set(p, s, 27), 2);

        // The auxiliary pair: the torn first record was active, the flip
        // updates the second; the torn one keeps the second's earlier bitmap
        // and tool id, while the updated one moves only the component.
        Record first = torn_from(make_record(1, 1, AUX_IMAGE_STATUS_SIGNATURE, 0x04, 3), from);
        Record second = make_record(0, 0, AUX_IMAGE_STATUS_SIGNATURE, 0x02, 5);
        int set = 0;
        ASSERT_EQ(CoreBuildAuxImageStatusFlip(first, second, AUX_COMPONENT_BOARD_CONFIG, 9, &set, 1), 0);
        EXPECT_EQ(set, 2);
        EXPECT_EQ(first, make_record(0, 0, AUX_IMAGE_STATUS_SIGNATURE, 0x02, 5));
        EXPECT_EQ(second, make_record(1, 1, AUX_IMAGE_STATUS_SIGNATURE, 0x01, 9));
    }
}

// The board configuration goes to the copy that does not serve (from the
// running state); the records must name that copy whatever an earlier run
// since the last start already wrote to them.
TEST(AuxImageStatusFlip, TheRecordsNameTheCopyThatDoesNotServe) {
    struct Case {
        SD_UINT8 activeBitmap;   // what the active first record says now
        SD_UINT8 serving;        // the copy that serves (0: not known)
        SD_UINT8 bitmap;         // what the updated record says
    };
    const Case cases[] = {
        {0x00, 1, 0x01}, {0x01, 1, 0x01},   // a second run before the reboot
        {0x01, 2, 0x00}, {0x00, 2, 0x00},
        {0x0A, 1, 0x0B}, {0x0B, 2, 0x0A},   // the other components travel unchanged
        {0x00, 0, 0x01}, {0x01, 0, 0x00},   // not known: flipped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "bitmap " << int{c.activeBitmap} << " serving " << int{c.serving});
        Record first = make_record(1, 4, AUX_IMAGE_STATUS_SIGNATURE, c.activeBitmap, 9);
        Record second = make_record(0, 3, AUX_IMAGE_STATUS_SIGNATURE, 0x0F, 9);
        int set = 0;
        ASSERT_EQ(CoreBuildAuxImageStatusFlip(first, second, AUX_COMPONENT_BOARD_CONFIG, 9, &set, c.serving), 0);
        EXPECT_EQ(set, 2);
        EXPECT_EQ(CoreGetImageStatusComponentsBitMap(second), c.bitmap);
        EXPECT_TRUE(CoreIsImageStatusRegionValid(second, AUX_IMAGE_STATUS_SIGNATURE));
    }
    // The same for the NVRAM/VPD copy, with the updated record erased by a
    // cut: rebuilt whole, as from the sound record.
    Record first = make_record(1, 4, AUX_IMAGE_STATUS_SIGNATURE, 0x02, 0);
    Record clean = make_record(0, 3, AUX_IMAGE_STATUS_SIGNATURE, 0x00, 0);
    Record firstClean = first;
    ASSERT_EQ(CoreBuildAuxImageStatusFlip(firstClean, clean, AUX_COMPONENT_VPD_NVRAM, 9, nullptr, 1), 0);
    Record second = erased();
    ASSERT_EQ(CoreBuildAuxImageStatusFlip(first, second, AUX_COMPONENT_VPD_NVRAM, 9, nullptr, 1), 0);
    EXPECT_EQ(second, clean);
    EXPECT_EQ(first, firstClean);
    EXPECT_EQ(CoreGetImageStatusComponentsBitMap(second), 0x02);
}

TEST(AuxImageStatusFlip, LowestRequestedComponentFlipsIntoTheUpdatedRecord) {
    Record first = make_record(1, 6, AUX_IMAGE_STATUS_SIGNATURE, 0x01, 3);
    Record second = make_record(0, 5, AUX_IMAGE_STATUS_SIGNATURE, 0x00, 3);
    int set = 0;
    ASSERT_EQ(CoreBuildAuxImageStatusFlip(first, second, 0x06, 9, &set), 0);
    // (set, bitmap: first's 0x01 with 0x02 flipped, generation, tool id, active bits).
    EXPECT_EQ(std::tuple(set, CoreGetImageStatusComponentsBitMap(second), CoreGetImageStatusGenerationNumber(second),
                         CoreGetImageStatusToolId(second), second[0] & 1, first[0] & 1),
              std::tuple(2, 0x03, 7, 9, 1, 0));
    EXPECT_TRUE(CoreIsImageStatusRegionValid(first, AUX_IMAGE_STATUS_SIGNATURE));
    EXPECT_TRUE(CoreIsImageStatusRegionValid(second, AUX_IMAGE_STATUS_SIGNATURE));

    // The reverse state updates the first record; no request means board configuration.
    ASSERT_EQ(CoreBuildAuxImageStatusFlip(first, second, 0, 9, &set), 0);
    EXPECT_EQ(std::tuple(set, CoreGetImageStatusComponentsBitMap(first), CoreGetImageStatusGenerationNumber(first)),
              std::tuple(1, 0x02, 8));

    // Bits above the four components travel unchanged.
    Record a = make_record(1, 1, AUX_IMAGE_STATUS_SIGNATURE, 0x05);
    Record b = make_record(0, 1, AUX_IMAGE_STATUS_SIGNATURE, 0x00);
    ASSERT_EQ(CoreBuildAuxImageStatusFlip(a, b, 0x10, 9, &set), 0);
    EXPECT_EQ(CoreGetImageStatusComponentsBitMap(b), 0x05);
}

TEST(AuxImageStatusFlip, EqualMasksDecideByGenerationAndErasedRecordsBecomeValid) {
    Record first = make_record(1, 3, AUX_IMAGE_STATUS_SIGNATURE), second = make_record(1, 4, AUX_IMAGE_STATUS_SIGNATURE);
    int set = 0;
    ASSERT_EQ(CoreBuildAuxImageStatusFlip(first, second, AUX_COMPONENT_NPIV_23, 9, &set), 0);
    EXPECT_EQ(set, 1);

    Record e1 = erased(), e2 = erased();
    ASSERT_EQ(CoreBuildAuxImageStatusFlip(e1, e2, AUX_COMPONENT_VPD_NVRAM, 9, &set), 0);
    EXPECT_EQ(set, 2);
    EXPECT_TRUE(CoreIsImageStatusRegionValid(e2, AUX_IMAGE_STATUS_SIGNATURE));
    // The erased partner's bytes are no bitmap: only the requested component moves.
    EXPECT_EQ(CoreGetImageStatusComponentsBitMap(e2), AUX_COMPONENT_VPD_NVRAM);

    // What the reader makes of it: the NVRAM/VPD copy is now the secondary one.
    const Record p = make_record(1, 1, IMAGE_STATUS_SIGNATURE_27);
    const Record s = make_record(0, 0, IMAGE_STATUS_SIGNATURE_27);
    ACTIVE_REGIONS out{};
    CoreDecideFlashActiveRegions(p, s, e1, e2, 27, &out);
    EXPECT_EQ(std::tuple(out.ActiveVpdNvram, out.ActiveBoardConfig, out.ToolID), std::tuple(2, 1, 9));
}

// A run before the reboot holds the records on what runs before it rewrites
// the set they mark to start from next: what the boot rule then picks, and
// what each record keeps.
TEST(ImageStatusHold, TheRunningSetDecidesAtEveryStepAndTheOtherKeepsItsGeneration) {
    constexpr SD_UINT32 sig = IMAGE_STATUS_SIGNATURE_27;
    const auto boots = [](const Record& p, const Record& s) {
        ACTIVE_REGIONS out{};
        CoreDecideFlashActiveRegions(p, s, {}, {}, 27, &out);
        return int{out.ActiveGlobalRegions};
    };
    // Marked for set 2 by a complete run: set 1 takes the next generation,
    // so that it decides with the other bit still set (a cut between the writes).
    Record p = make_record(0, 5, sig), s = make_record(1, 6, sig);
    ASSERT_TRUE(CoreBuildImageStatusHold(p, s, 27, 1));
    EXPECT_EQ(std::tuple(p[0] & 1, CoreGetImageStatusGenerationNumber(p), s[0] & 1, CoreGetImageStatusGenerationNumber(s)),
              std::tuple(1, 7, 0, 6));
    EXPECT_TRUE(CoreIsImageStatusRegionValid(p, sig) && CoreIsImageStatusRegionValid(s, sig));
    EXPECT_EQ(boots(p, make_record(1, 6, sig)), 1) << "only the running set's record written";
    // That cut leaves both records active: a pair unsettled, which the MCTP
    // command updates again. Settled once the other's bit is cleared; erased
    // or torn records (a fresh adapter's, a cut inside a write) and records
    // of another chip's signature are no such pair.
    EXPECT_TRUE(CoreIsImageStatusPairUnsettled(p, make_record(1, 6, sig), 27));
    EXPECT_FALSE(CoreIsImageStatusPairUnsettled(p, s, 27));
    Record torn = make_record(1, 6, sig);
    torn[8] ^= 0x01;
    for (const Record& other : {erased(), torn})
        EXPECT_FALSE(CoreIsImageStatusPairUnsettled(p, other, 27) || CoreIsImageStatusPairUnsettled(other, p, 27));
    EXPECT_FALSE(CoreIsImageStatusPairUnsettled(p, make_record(1, 6, sig), 25));

    // Already on the running set: nothing changes.
    const Record before = p;
    EXPECT_FALSE(CoreBuildImageStatusHold(p, s, 27, 1));
    EXPECT_EQ(p, before);

    // The running set's record erased by a cut: rebuilt as a record of its
    // own from its partner, then active; the secondary running works alike.
    Record e = erased(), t = make_record(1, 9, sig, 0, 7);
    ASSERT_TRUE(CoreBuildImageStatusHold(e, t, 27, 1));
    EXPECT_EQ(std::tuple(boots(e, t), CoreGetImageStatusGenerationNumber(e), CoreGetImageStatusToolId(e)),
              std::tuple(1, 10, 7));
    Record q = make_record(1, 3, sig), r = erased();
    ASSERT_TRUE(CoreBuildImageStatusHold(q, r, 27, 2));
    EXPECT_EQ(std::tuple(boots(q, r), q[0] & 1, CoreGetImageStatusGenerationNumber(q)), std::tuple(2, 0, 3));
    EXPECT_EQ(boots(make_record(1, 3, sig), r), 2) << "only the running set's record written";
    // Torn under its own signature (a bad checksum only), rebuilt all the same:
    // none of its bytes (tool id 3) is sealed into the active record.
    Record c = bad_checksum(make_record(0, 5, sig, 0, 3)), d = make_record(1, 6, sig, 0, 7);
    ASSERT_TRUE(CoreBuildImageStatusHold(c, d, 27, 1));
    EXPECT_EQ(c, make_record(1, 7, sig, 0, 7));
}

// Neither record deciding by its active bit (both set, or both clear, at one
// generation), the boot rule starts the primary set; a hold on the secondary
// makes its record decide. A record that is not valid on the side that does
// not run counts as cleared and stays as it is: neither sealed nor cleared.
TEST(ImageStatusHold, RecordsEquallyActiveStartThePrimaryAndAnInvalidOtherStaysAsItIs) {
    constexpr SD_UINT32 sig = IMAGE_STATUS_SIGNATURE_27;
    struct Case {
        const char* what;
        Record p, s;
        int running;
        bool held;
        Record heldP, heldS;
    };
    const Case cases[] = {
        {"both active, the primary runs", make_record(1, 5, sig), make_record(1, 5, sig), 1, false,
         make_record(1, 5, sig), make_record(1, 5, sig)},
        {"both active, the secondary runs", make_record(1, 5, sig), make_record(1, 5, sig), 2, true,
         make_record(0, 5, sig), make_record(1, 6, sig)},
        {"both inactive, the primary runs", make_record(0, 5, sig), make_record(0, 5, sig), 1, false,
         make_record(0, 5, sig), make_record(0, 5, sig)},
        {"both inactive, the secondary runs", make_record(0, 5, sig), make_record(0, 5, sig), 2, true,
         make_record(0, 5, sig), make_record(1, 6, sig)},
        {"both erased, the secondary runs", erased(), erased(), 2, true, erased(), make_v10_record(1, 1, sig)},
        {"the primary torn with its bit set, the secondary runs", bad_checksum(make_record(1, 6, sig, 0, 7)),
         make_record(0, 0, sig, 0, 7), 2, true, bad_checksum(make_record(1, 6, sig, 0, 7)),
         make_record(1, 1, sig, 0, 7)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Record p = c.p, s = c.s;
        EXPECT_EQ(active_set(p, s, 27), 1);
        EXPECT_EQ(CoreBuildImageStatusHold(p, s, 27, c.running), c.held);
        EXPECT_EQ(p, c.heldP);
        EXPECT_EQ(s, c.heldS);
        EXPECT_EQ(active_set(p, s, 27), c.running);
    }
    // Nothing without a running set known, a chip that keeps records, or whole records.
    const Record p = make_record(0, 5, sig), s = make_record(1, 6, sig);
    for (const auto& [chip, running, size] : {std::tuple(27, 0, 16), {27, 3, 16}, {24, 1, 16}, {27, 1, 15}}) {
        Record a = p, b = s;
        EXPECT_FALSE(CoreBuildImageStatusHold(std::span(a).first(static_cast<size_t>(size)), b, chip, running));
        EXPECT_EQ(std::tuple(a, b), std::tuple(p, s));
    }
}

TEST(AuxImageStatusHold, TheServingCopyDecidesAndEveryOtherComponentStays) {
    constexpr SD_UINT32 sig = AUX_IMAGE_STATUS_SIGNATURE;
    const Record p = make_record(1, 7, IMAGE_STATUS_SIGNATURE_27), s = make_record(0, 6, IMAGE_STATUS_SIGNATURE_27);
    const auto served = [&](const Record& a, const Record& b, const Record& gp, const Record& gs) {
        ACTIVE_REGIONS out{};
        CoreDecideFlashActiveRegions(gp, gs, a, b, 27, &out);
        return std::tuple(int{out.ActiveBoardConfig}, int{out.ActiveVpdNvram});
    };
    struct Case {
        const char* what;
        Record first, second, gp, gs;
        int decides;                  // the record written first
        Record heldFirst, heldSecond;
    };
    const Case cases[] = {
        {"the last flip is undone: its active bit moves back", make_record(0, 4, sig, 0x02, 9),
         make_record(1, 5, sig, 0x03, 9), p, s, 1, make_record(1, 4, sig, 0x02, 9), make_record(0, 5, sig, 0x03, 9)},
        {"both name the copy written: the deciding one names the serving copy", make_record(0, 4, sig, 0x03, 9),
         make_record(1, 5, sig, 0x03, 9), p, s, 2, make_record(0, 4, sig, 0x03, 9), make_record(1, 5, sig, 0x02, 9)},
        {"neither decides: the newer takes the decision, the rest where it served", make_record(0, 4, sig, 0x00, 9),
         make_record(0, 5, sig, 0x00, 9), make_record(0, 5, IMAGE_STATUS_SIGNATURE_27),
         make_record(0, 6, IMAGE_STATUS_SIGNATURE_27), 2, make_record(0, 4, sig, 0x00, 9),
         make_record(1, 5, sig, 0x0E, 9)},
        // A torn record never gets the active bit, nor keeps it: it stays as it is.
        {"the idle record torn: the deciding one names the serving copy", bad_checksum(make_record(0, 4, sig, 0x02, 9)),
         make_record(1, 5, sig, 0x03, 9), p, s, 2, bad_checksum(make_record(0, 4, sig, 0x02, 9)),
         make_record(1, 5, sig, 0x02, 9)},
        {"the first torn with its bit set: the valid second decides, though of generation 0",
         bad_checksum(make_record(1, 4, sig, 0x00, 9)), make_record(0, 0, sig, 0x01, 9),
         make_record(0, 5, IMAGE_STATUS_SIGNATURE_27), make_record(0, 6, IMAGE_STATUS_SIGNATURE_27), 2,
         bad_checksum(make_record(1, 4, sig, 0x00, 9)), make_record(1, 0, sig, 0x0E, 9)},
        {"the second torn with its bit set: the valid first decides", make_record(0, 4, sig, 0x01, 9),
         bad_checksum(make_record(1, 5, sig, 0x00, 9)), make_record(0, 5, IMAGE_STATUS_SIGNATURE_27),
         make_record(0, 6, IMAGE_STATUS_SIGNATURE_27), 1, make_record(1, 4, sig, 0x0E, 9),
         bad_checksum(make_record(1, 5, sig, 0x00, 9))},
        // Nothing of a torn record is kept: neither its generation nor its tool id.
        {"both torn or erased: the first is rebuilt and decides, naming the serving copy",
         bad_checksum(make_record(1, 4, sig, 0x00, 9)), erased(), make_record(0, 5, IMAGE_STATUS_SIGNATURE_27),
         make_record(0, 6, IMAGE_STATUS_SIGNATURE_27), 1, make_v10_record(1, 0, sig, 0x0E), erased()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Record first = c.first, second = c.second;
        const int vpdBefore = std::get<1>(served(first, second, c.gp, c.gs));
        EXPECT_EQ(CoreBuildAuxImageStatusHold(first, second, c.gp, c.gs, AUX_COMPONENT_BOARD_CONFIG, 1), c.decides);
        EXPECT_EQ(first, c.heldFirst);
        EXPECT_EQ(second, c.heldSecond);
        EXPECT_EQ(served(first, second, c.gp, c.gs), std::tuple(1, vpdBefore));
        // A cut after the first write leaves the serving copy serving too.
        const Record& untouched = c.decides == 1 ? c.second : c.first;
        EXPECT_EQ(std::get<0>(c.decides == 1 ? served(first, untouched, c.gp, c.gs) : served(untouched, second, c.gp, c.gs)), 1);
        // Held already: nothing more.
        EXPECT_EQ(CoreBuildAuxImageStatusHold(first, second, c.gp, c.gs, AUX_COMPONENT_BOARD_CONFIG, 1), 0);
    }
}

// Neither auxiliary record deciding by its active bit (both set, as a cut
// between the two writes of a hold or a flip leaves them, or both clear), the
// image-status records decide for every component. Where that is not the
// serving copy, the record of the higher generation takes the decision, the
// first at one generation, naming the serving copy and every other component
// where it served; the other's bit is cleared.
TEST(AuxImageStatusHold, RecordsEquallyActiveLeaveTheDecisionToTheImageStatusRecords) {
    constexpr SD_UINT32 sig = AUX_IMAGE_STATUS_SIGNATURE;
    // Image-status records that serve every component from copy 2 (neither
    // active, the secondary newer), and from copy 1 (the primary active, though older).
    const Record gp2 = make_record(0, 5, IMAGE_STATUS_SIGNATURE_27), gs2 = make_record(0, 6, IMAGE_STATUS_SIGNATURE_27);
    const Record gp1 = make_record(1, 5, IMAGE_STATUS_SIGNATURE_27), gs1 = make_record(0, 6, IMAGE_STATUS_SIGNATURE_27);
    struct Case {
        const char* what;
        SD_UINT8 mask;   // of both records, generation 4
        Record gp, gs;
        int decides;
        Record heldFirst, heldSecond;
    };
    const Case cases[] = {
        {"both active, copy 2 named", 1, gp2, gs2, 1, make_record(1, 4, sig, 0x0E, 9), make_record(0, 4, sig, 0x00, 9)},
        {"both inactive, copy 2 named", 0, gp2, gs2, 1, make_record(1, 4, sig, 0x0E, 9),
         make_record(0, 4, sig, 0x00, 9)},
        {"both active, copy 1 named", 1, gp1, gs1, 0, make_record(1, 4, sig, 0x00, 9), make_record(1, 4, sig, 0x00, 9)},
        {"both inactive, copy 1 named", 0, gp1, gs1, 0, make_record(0, 4, sig, 0x00, 9),
         make_record(0, 4, sig, 0x00, 9)},
    };
    const auto served = [](const Record& a, const Record& b, const Record& gp, const Record& gs) {
        ACTIVE_REGIONS out{};
        CoreDecideFlashActiveRegions(gp, gs, a, b, 27, &out);
        return std::tuple(int{out.ActiveBoardConfig}, int{out.ActiveVpdNvram});
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Record found = make_record(c.mask, 4, sig, 0x00, 9);
        const int named = c.decides == 0 ? 1 : 2;
        EXPECT_EQ(served(found, found, c.gp, c.gs), std::tuple(named, named));
        Record first = found, second = found;
        EXPECT_EQ(CoreBuildAuxImageStatusHold(first, second, c.gp, c.gs, AUX_COMPONENT_BOARD_CONFIG, 1), c.decides);
        EXPECT_EQ(first, c.heldFirst);
        EXPECT_EQ(second, c.heldSecond);
        EXPECT_EQ(served(first, second, c.gp, c.gs), std::tuple(1, named));
    }
    // Nothing without the serving copy known, or whole records.
    for (const auto& [serving, size] : {std::pair<SD_UINT8, size_t>(0, 16), {3, 16}, {1, 15}}) {
        const Record found = make_record(0, 4, sig);
        Record first = found, second = found;
        EXPECT_EQ(CoreBuildAuxImageStatusHold(std::span(first).first(size), second, gp2, gs2,
                                              AUX_COMPONENT_BOARD_CONFIG, serving),
                  0);
        EXPECT_EQ(std::tuple(first, second), std::tuple(found, found));
    }
}

}  // namespace
