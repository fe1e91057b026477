#include "mgmt/sim/sim_layout.h"

#include <algorithm>
#include <span>

namespace {

struct LayoutRow {
    SD_UINT32 code;
    SD_UINT32 size;
    bool activation = false;
};

// VPD and NVRAM of the four PCI functions, both copies (Gen6 families).
constexpr LayoutRow kGen6VpdNvram[] = {
    {0x14, 0x200}, {0x15, 0x200}, {0x16, 0x200}, {0x17, 0x200},
    {0xD4, 0x200}, {0xD5, 0x200}, {0xD6, 0x200}, {0xD7, 0x200},
    {0x10C, 0x200}, {0x10D, 0x200}, {0x10E, 0x200}, {0x10F, 0x200},
    {0x110, 0x200}, {0x111, 0x200}, {0x112, 0x200}, {0x113, 0x200},
};

// Chip type 25: two image sets, but one copy of the MPI and PEP firmware,
// the board configurations, the preload table and the memo block.
constexpr LayoutRow kDorne[] = {
    {0x95, 0x10000}, {0x96, 0x10000},
    {0xDF, 0x1000}, {0x1C, 0x1000}, {0x9E, 0x1000}, {0x9F, 0x1000},
    {0xBA, 0x10000}, {0x13, 0x10000}, {0xCF, 0x10000},
    {0xE1, 0x10000}, {0xE5, 0x10000}, {0x66, 0x10000}, {0x67, 0x10000},
    {0xD1, 0x40000}, {0xD3, 0x40000},
    {0x07, 0x40000}, {0x09, 0x40000},
    {0x01, 0x100000, true}, {0x02, 0x100000},
};

// Chip type 27: two sets of every component, auxiliary records, two memo blocks.
constexpr LayoutRow kVrel[] = {
    {0x95, 0x10000}, {0x96, 0x10000}, {0x125, 0x10000}, {0x126, 0x10000},
    {0xDF, 0x1000}, {0x124, 0x1000}, {0x1C, 0x1000}, {0x9E, 0x1000}, {0x9F, 0x1000},
    {0xBA, 0x10000}, {0x10B, 0x10000}, {0x13, 0x10000}, {0x107, 0x10000},
    {0xCF, 0x10000}, {0x106, 0x10000}, {0xD2, 0x10000}, {0x105, 0x10000},
    {0x101, 0x10000}, {0x108, 0x10000}, {0x102, 0x10000}, {0x109, 0x10000},
    {0x103, 0x10000}, {0x10A, 0x10000},
    {0xD1, 0x40000}, {0xF1, 0x40000}, {0xD3, 0x40000}, {0xF0, 0x40000},
    {0x07, 0x40000}, {0x09, 0x40000}, {0x11, 0x40000}, {0x0A, 0x40000},
    {0x01, 0x100000, true}, {0x02, 0x100000},
};

// VPD and NVRAM of the converged adapters' two functions (VPD up to 1 KiB)
// and the NIC/CNA VPD.
constexpr LayoutRow kConvergedVpdNvram[] = {
    {0x14, 0x400}, {0x15, 0x400}, {0x16, 0x400}, {0x17, 0x400}, {0x81, 0x400},
};

// Chip types 21 and 24: the regions of the Torvi sequence.
constexpr LayoutRow kTorvi[] = {
    {0x1C, 0x1000}, {0x13, 0x10000},
    {0x70, 0x10000}, {0x72, 0x10000}, {0x73, 0x20000},
    {0x07, 0x40000}, {0x2E, 0x40000}, {0xA2, 0x40000}, {0x4F, 0x40000},
    {0xA4, 0x100000}, {0x01, 0x100000}, {0x97, 0x100000},
};
// Chip type 24 also has its memo block and the flash descriptor table, whose
// repair touches bytes up to 0x3F0022.
constexpr LayoutRow kTorvi24Memo[] = {{0x89, 0x1000}};
constexpr LayoutRow kTorvi24Descriptor[] = {{0x1A, 0x400000}};

// Chip type 17: the K7R sequence (firmware 0x74 on revision 0x54, else 0x97).
// Its boot loader, like its pegtune, is a 128 KiB component.
constexpr LayoutRow kK7R[] = {
    {0x1C, 0x1000}, {0x13, 0x10000},
    {0x70, 0x10000}, {0x72, 0x20000}, {0x73, 0x20000},
    {0x07, 0x40000}, {0x4F, 0x40000}, {0x2E, 0x40000},
    {0x74, 0x100000}, {0x97, 0x100000},
};

// Chip type 26: the Pemra sequence (no FC function of its own).
constexpr LayoutRow kPemra[] = {
    {0x1C, 0x1000},
    {0x70, 0x10000}, {0x72, 0x10000}, {0xB1, 0x10000}, {0xA3, 0x10000}, {0x73, 0x20000},
    {0x2E, 0x40000}, {0xA2, 0x40000}, {0x4F, 0x40000},
    {0x97, 0x100000},
};

// Chip type 15: the first converged generation, whose older region writer
// activates what it writes.
constexpr LayoutRow kConvergedGen1[] = {
    {0x1C, 0x1000}, {0x13, 0x10000},
    {0x07, 0x40000}, {0x2E, 0x40000},
    {0x01, 0x100000, true}, {0xA4, 0x100000, true},
};

// Older adapters: the option ROM at byte 0 (boot code, then firmware), VPD
// and NVRAM of two functions behind it.
constexpr LayoutRow kOlder[] = {
    {0x07, 0x40000}, {0x01, 0x40000},
    {0x14, 0x200}, {0x15, 0x200}, {0x16, 0x200}, {0x17, 0x200},
};

void Append(std::vector<zvsim_region>& out, SD_UINT32& offset, std::span<const LayoutRow> rows) {
    for (const LayoutRow& row : rows) {
        // Regions of a whole erase block and more start on one.
        if (row.size >= ZVSIM_ERASE_BLOCK) {
            offset = (offset + ZVSIM_ERASE_BLOCK - 1) & ~(ZVSIM_ERASE_BLOCK - 1);
        }
        out.push_back({row.code, offset, row.size, row.activation});
        offset += row.size;
    }
}

}  // namespace

std::vector<zvsim_region> zvsim_default_layout(SD_UINT16 chipType) {
    std::vector<zvsim_region> out;
    SD_UINT32 offset = 0;
    switch (chipType) {
        case 25:
            Append(out, offset, kGen6VpdNvram);
            Append(out, offset, kDorne);
            break;
        case 27:
            Append(out, offset, kGen6VpdNvram);
            Append(out, offset, kVrel);
            break;
        case 21:
        case 24:
            Append(out, offset, kConvergedVpdNvram);
            if (chipType == 24) {
                Append(out, offset, kTorvi24Memo);
            }
            Append(out, offset, kTorvi);
            if (chipType == 24) {
                Append(out, offset, kTorvi24Descriptor);
            }
            break;
        case 17:
            Append(out, offset, kConvergedVpdNvram);
            Append(out, offset, kK7R);
            break;
        case 26:
            Append(out, offset, kConvergedVpdNvram);
            Append(out, offset, kPemra);
            break;
        case 15:
            Append(out, offset, kConvergedVpdNvram);
            Append(out, offset, kConvergedGen1);
            break;
        default:
            Append(out, offset, kOlder);
            break;
    }
    out.shrink_to_fit();   // each adapter keeps its layout for the whole run
    return out;
}

SD_UINT16 zvsim_chip_type_of(SD_UINT16 deviceId) {
    struct Row {
        SD_UINT16 id;
        SD_UINT16 chip;
    };
    static constexpr Row kTable[] = {
        {0x2100, 0},  {0x2200, 1},  {0x2300, 2},  {0x2310, 3},  {0x2312, 4},  {0x2322, 5},  {0x6312, 6},
        {0x6322, 7},  {0x5422, 8},  {0x5432, 9},  {0x2422, 10}, {0x2432, 11}, {0x2532, 12}, {0x2533, 12},
        {0x8432, 13}, {0x8000, 14}, {0x8001, 15}, {0x8020, 16}, {0x8021, 17}, {0x8022, 18}, {0x8023, 19},
        {0x8030, 20}, {0x8031, 21}, {0x8831, 21}, {0x8032, 22}, {0x8033, 23}, {0x2031, 24}, {0x2831, 24},
        {0x2061, 25}, {0x2071, 25}, {0x2171, 25}, {0x2261, 25}, {0x2271, 25}, {0x2371, 25}, {0x2871, 25},
        {0x2971, 25}, {0x2A61, 25}, {0x2B61, 25}, {0x8041, 26}, {0x8044, 26}, {0x2081, 27}, {0x2089, 27},
        {0x2181, 27}, {0x2189, 27}, {0x2281, 27}, {0x2289, 27}, {0x2381, 27}, {0x2389, 27}, {0x2881, 27},
        {0x2981, 27}, {0x2989, 27},
    };
    for (const Row& r : kTable) {
        if (r.id == deviceId) {
            return r.chip;
        }
    }
    return 12;
}
