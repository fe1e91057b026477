// Active and alternate regions: the flash decision and the two region tables.
#include <gtest/gtest.h>

#include <array>

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
    ACTIVE_REGIONS r = decide(make_record(1, 3, sig), make_record(0, 9, sig), 25);
    EXPECT_EQ(r.ActiveGlobalRegions, 1);
    EXPECT_EQ(r.ActiveGenerationNumber, 3);
    r = decide(make_record(0, 3, sig), make_record(1, 2, sig), 25);
    EXPECT_EQ(r.ActiveGlobalRegions, 2);
    EXPECT_EQ(r.ActiveGenerationNumber, 2);
    // Both active with equal generations: the primary.
    r = decide(make_record(1, 9, sig), make_record(1, 9, sig), 25);
    EXPECT_EQ(r.ActiveGlobalRegions, 1);
    // Neither active: the newer one.
    r = decide(make_record(0, 4, sig), make_record(0, 5, sig), 25);
    EXPECT_EQ(r.ActiveGlobalRegions, 2);
    EXPECT_EQ(r.ActiveGenerationNumber, 5);
    // Erased flash: primary, generation 0.
    r = decide(erased(), erased(), 25);
    EXPECT_EQ(r.ActiveGlobalRegions, 1);
    EXPECT_EQ(r.ActiveGenerationNumber, 0);
    // Chip-type-27 records do not count on chip type 25.
    r = decide(make_record(0, 1, IMAGE_STATUS_SIGNATURE_25), make_record(1, 2, IMAGE_STATUS_SIGNATURE_27), 25);
    EXPECT_EQ(r.ActiveGlobalRegions, 1);
}

TEST(FlashActiveRegions, ComponentsFromAuxiliaryRecords) {
    constexpr SD_UINT32 sig = IMAGE_STATUS_SIGNATURE_27;
    constexpr SD_UINT32 aux = AUX_IMAGE_STATUS_SIGNATURE;
    // First auxiliary record active: its bitmap (board config and NPIV 2/3 secondary).
    ACTIVE_REGIONS r = decide(make_record(1, 1, sig), make_record(0, 0, sig), 27, make_record(1, 1, aux, 0x09, 9),
                              make_record(0, 0, aux, 0x06, 4));
    EXPECT_EQ(r.ActiveBoardConfig, 2);
    EXPECT_EQ(r.ActiveVpdNvram, 1);
    EXPECT_EQ(r.ActiveNpivConfig01, 1);
    EXPECT_EQ(r.ActiveNpivConfig23, 2);
    EXPECT_EQ(r.ToolID, 9);
    // Second active.
    r = decide(make_record(1, 1, sig), make_record(0, 0, sig), 27, make_record(0, 1, aux, 0x09, 9),
               make_record(1, 0, aux, 0x06, 4));
    EXPECT_EQ(r.ActiveBoardConfig, 1);
    EXPECT_EQ(r.ActiveVpdNvram, 2);
    EXPECT_EQ(r.ActiveNpivConfig01, 2);
    EXPECT_EQ(r.ActiveNpivConfig23, 1);
    EXPECT_EQ(r.ToolID, 4);
    // Neither decides, global masks equal and the secondary newer: all secondary.
    r = decide(make_record(0, 1, sig), make_record(0, 2, sig), 27, make_record(1, 1, aux, 0, 9),
               make_record(1, 1, aux, 0, 4));
    EXPECT_EQ(r.ActiveBoardConfig, 2);
    EXPECT_EQ(r.ActiveNpivConfig23, 2);
    EXPECT_EQ(r.ToolID, 4);
    // Otherwise all primary, the first record's tool id.
    r = decide(make_record(0, 1, sig), make_record(1, 2, sig), 27, make_record(1, 1, aux, 0, 9),
               make_record(1, 1, aux, 0, 4));
    EXPECT_EQ(r.ActiveBoardConfig, 1);
    EXPECT_EQ(r.ActiveVpdNvram, 1);
    EXPECT_EQ(r.ToolID, 9);
    // Chip type 25 leaves the components as they were.
    ACTIVE_REGIONS keep{};
    keep.ActiveBoardConfig = 7;
    CoreDecideFlashActiveRegions(make_record(1, 1, IMAGE_STATUS_SIGNATURE_25), erased(), {}, {}, 25, &keep);
    EXPECT_EQ(keep.ActiveBoardConfig, 7);
}

enum Field { Global, Board, Vpd, Npiv01, Npiv23 };

SD_ACTIVE_REGIONS only_field_primary(Field f) {
    SD_ACTIVE_REGIONS r{};
    r.ActiveGlobalRegions = f == Global ? 1 : 2;
    r.ActiveBoardConfig = f == Board ? 1 : 2;
    r.ActiveVpdNvram = f == Vpd ? 1 : 2;
    r.ActiveNpivConfig01 = f == Npiv01 ? 1 : 2;
    r.ActiveNpivConfig23 = f == Npiv23 ? 1 : 2;
    return r;
}

SD_ACTIVE_REGIONS all_secondary() { return only_field_primary(static_cast<Field>(99)); }

struct PairRow {
    SD_UINT32 primary;
    SD_UINT32 secondary;
    Field field;
};

// Pairs that map both codes by their deciding field on every chip type from 25:
// one row per field plus the table's first and last rows.
constexpr PairRow kPlainPairs[] = {
    {0x01, 0x02, Global}, {0x15, 0x10D, Vpd},    {0x29, 0x11E, Npiv01},
    {0x5E, 0x120, Npiv23}, {0xDB, 0x11C, Npiv01}, {0x125, 0x126, Global},
};

TEST(ActiveRegionTable, PlainPairsFollowTheirOwnField) {
    for (const int chip : {25, 27}) {
        for (const PairRow& row : kPlainPairs) {
            for (const SD_UINT32 code : {row.primary, row.secondary}) {
                EXPECT_EQ(CoreMapActiveRegion(chip, only_field_primary(row.field), code), row.primary)
                    << std::hex << code << " chip " << std::dec << chip;
                EXPECT_EQ(CoreMapActiveRegion(chip, all_secondary(), code), row.secondary)
                    << std::hex << code << " chip " << std::dec << chip;
            }
        }
    }
}

TEST(ActiveRegionTable, SpecialRows) {
    const SD_ACTIVE_REGIONS secondary = all_secondary();
    const SD_ACTIVE_REGIONS primary = only_field_primary(Global);
    // 0x0A and 0x11 map like the boot code 0x07.
    for (const SD_UINT32 code : {0x0Au, 0x11u}) {
        EXPECT_EQ(CoreMapActiveRegion(27, primary, code), 0x07u);
        EXPECT_EQ(CoreMapActiveRegion(27, secondary, code), 0x09u);
    }
    // Pairs that stay on the primary code on chip type 25.
    for (const PairRow row : {PairRow{0x13, 0x107, Global}, PairRow{0xDF, 0x124, Global}}) {
        for (const SD_UINT32 code : {row.primary, row.secondary}) {
            EXPECT_EQ(CoreMapActiveRegion(25, secondary, code), row.primary) << std::hex << code;
            EXPECT_EQ(CoreMapActiveRegion(27, secondary, code), row.secondary) << std::hex << code;
            EXPECT_EQ(CoreMapActiveRegion(27, primary, code), row.primary) << std::hex << code;
        }
    }
    // Only the primary code is pinned on chip type 25; the secondary maps by its field.
    for (const PairRow row : {PairRow{0xBA, 0x10B, Board}, PairRow{0xD3, 0xF0, Global}}) {
        EXPECT_EQ(CoreMapActiveRegion(25, secondary, row.primary), row.primary) << std::hex << row.primary;
        EXPECT_EQ(CoreMapActiveRegion(25, secondary, row.secondary), row.secondary) << std::hex << row.secondary;
        EXPECT_EQ(CoreMapActiveRegion(25, only_field_primary(row.field), row.secondary), row.primary);
        EXPECT_EQ(CoreMapActiveRegion(27, secondary, row.primary), row.secondary);
        EXPECT_EQ(CoreMapActiveRegion(27, only_field_primary(row.field), row.primary), row.primary);
    }
    // 0xCF maps by the global set; 0x106 never moves.
    EXPECT_EQ(CoreMapActiveRegion(27, secondary, 0xCF), 0x106u);
    EXPECT_EQ(CoreMapActiveRegion(27, primary, 0xCF), 0xCFu);
    EXPECT_EQ(CoreMapActiveRegion(27, primary, 0x106), 0x106u);
    // The VPD copies: the primary codes are fixed, the secondary ones map to the pair.
    for (const PairRow row : {PairRow{0x14, 0x10C, Vpd}, PairRow{0x16, 0x10E, Vpd}, PairRow{0xD4, 0x110, Vpd},
                              PairRow{0xD6, 0x112, Vpd}}) {
        EXPECT_EQ(CoreMapActiveRegion(27, secondary, row.primary), row.primary);
        EXPECT_EQ(CoreMapActiveRegion(27, only_field_primary(Vpd), row.secondary), row.primary);
        EXPECT_EQ(CoreMapActiveRegion(27, secondary, row.secondary), row.secondary);
    }
    // Chip types up to 24 and unknown codes map to themselves.
    EXPECT_EQ(CoreMapActiveRegion(24, secondary, 0x01), 0x01u);
    EXPECT_EQ(CoreMapActiveRegion(27, secondary, 0x9E), 0x9Eu);
    EXPECT_EQ(CoreMapActiveRegion(27, secondary, 0x4242), 0x4242u);
}

struct AlternateRow {
    SD_UINT32 in;
    SD_UINT32 out;
    Field field;
};

// The first row, the board row and the pairs that switch both ways.
constexpr AlternateRow kAlternates[] = {
    {0x01, 0x02, Global}, {0xBA, 0x10B, Board}, {0x95, 0x96, Global},  {0x96, 0x95, Global},
    {0xDF, 0x124, Global}, {0x124, 0xDF, Global}, {0x125, 0x126, Global}, {0x126, 0x125, Global},
};

TEST(AlternateRegionTable, EveryPairSwitchesOnlyWhileItsPrimaryIsActive) {
    for (const AlternateRow& row : kAlternates) {
        const SD_ACTIVE_REGIONS primary = only_field_primary(row.field);
        const SD_ACTIVE_REGIONS secondary = all_secondary();
        EXPECT_EQ(CoreGetAlternateRegion(row.in, &primary), row.out) << std::hex << row.in;
        EXPECT_EQ(CoreGetAlternateRegion(row.in, &secondary), row.in) << std::hex << row.in;
    }
    // The board configuration follows its own field, not the global set.
    const SD_ACTIVE_REGIONS globalOnly = only_field_primary(Global);
    EXPECT_EQ(CoreGetAlternateRegion(0xBA, &globalOnly), 0xBAu);
    // One-way pairs: the secondary code is never redirected.
    for (const SD_UINT32 code : {0x02u, 0x09u, 0x0Au, 0x107u, 0x9Fu, 0x10Bu, 0x106u, 0xF1u, 0xF0u, 0x108u, 0x14u})
        EXPECT_EQ(CoreGetAlternateRegion(code, &globalOnly), code) << std::hex << code;
    EXPECT_EQ(CoreGetAlternateRegion(0x01, nullptr), 0x01u);
}

}  // namespace
