// Active regions: the decision from the image-status and auxiliary records.
// (The region pair tables are checked through the bytes the engines write.)
#include <gtest/gtest.h>

#include <vector>

#include "core/active_regions.h"
#include "core/image_status.h"
#include "support/image_status_records.h"

namespace {

using zvtest::erased;
using zvtest::make_record;
using zvtest::Record;

ACTIVE_REGIONS decide(const Record& p, const Record& s, int chip, const Record& a1 = erased(),
                      const Record& a2 = erased()) {
    ACTIVE_REGIONS out{};
    CoreDecideFlashActiveRegions(p, s, a1, a2, chip, &out);
    return out;
}

TEST(FlashActiveRegions, GlobalSetFromMasksThenGenerations) {
    constexpr SD_UINT32 sig = IMAGE_STATUS_SIGNATURE_25;
    struct Case {
        const char* name;
        Record p, s;
        std::vector<int> want;   // global set, generation
    };
    const Case cases[] = {
        {"primary active", make_record(1, 3, sig), make_record(0, 9, sig), {1, 3}},
        {"secondary active", make_record(0, 3, sig), make_record(1, 2, sig), {2, 2}},
        {"both active, equal generations: the primary", make_record(1, 9, sig), make_record(1, 9, sig), {1, 9}},
        {"neither active: the newer one", make_record(0, 4, sig), make_record(0, 5, sig), {2, 5}},
        {"erased flash: primary, generation 0", erased(), erased(), {1, 0}},
        {"chip-type-27 records do not count on chip type 25", make_record(0, 1, sig),
         make_record(1, 2, IMAGE_STATUS_SIGNATURE_27), {1, 1}},
    };
    for (const Case& c : cases) {
        const ACTIVE_REGIONS r = decide(c.p, c.s, 25);
        EXPECT_EQ((std::vector<int>{r.ActiveGlobalRegions, r.ActiveGenerationNumber}), c.want) << c.name;
    }
}

TEST(FlashActiveRegions, ComponentsFromAuxiliaryRecords) {
    constexpr SD_UINT32 sig = IMAGE_STATUS_SIGNATURE_27;
    constexpr SD_UINT32 aux = AUX_IMAGE_STATUS_SIGNATURE;
    struct Case {
        const char* name;
        Record p, s, a1, a2;
        std::vector<int> want;   // board config, VPD/NVRAM, NPIV 0/1, NPIV 2/3, tool id
    };
    const Case cases[] = {
        {"first auxiliary record active: its bitmap", make_record(1, 1, sig), make_record(0, 0, sig),
         make_record(1, 1, aux, 0x09, 9), make_record(0, 0, aux, 0x06, 4), {2, 1, 1, 2, 9}},
        {"second active", make_record(1, 1, sig), make_record(0, 0, sig), make_record(0, 1, aux, 0x09, 9),
         make_record(1, 0, aux, 0x06, 4), {1, 2, 2, 1, 4}},
        {"neither decides, global masks equal, secondary newer: all secondary", make_record(0, 1, sig),
         make_record(0, 2, sig), make_record(1, 1, aux, 0, 9), make_record(1, 1, aux, 0, 4), {2, 2, 2, 2, 4}},
        {"otherwise all primary, the first record's tool id", make_record(0, 1, sig), make_record(1, 2, sig),
         make_record(1, 1, aux, 0, 9), make_record(1, 1, aux, 0, 4), {1, 1, 1, 1, 9}},
    };
    for (const Case& c : cases) {
        const ACTIVE_REGIONS r = decide(c.p, c.s, 27, c.a1, c.a2);
        EXPECT_EQ((std::vector<int>{r.ActiveBoardConfig, r.ActiveVpdNvram, r.ActiveNpivConfig01, r.ActiveNpivConfig23,
                                    r.ToolID}),
                  c.want)
            << c.name;
    }
    // Chip type 25 leaves the components as they were.
    ACTIVE_REGIONS keep{};
    keep.ActiveBoardConfig = 7;
    CoreDecideFlashActiveRegions(make_record(1, 1, IMAGE_STATUS_SIGNATURE_25), erased(), {}, {}, 25, &keep);
    EXPECT_EQ(keep.ActiveBoardConfig, 7);
}

}  // namespace
