// The chip-name tables. Adapter type codes name chip families; a common BIOS
// image carries its family's code once it has been patched for an adapter.
#include "image/chip_name_table.h"

#include <cstring>

namespace {

// Family codes.
constexpr SD_UINT8 k2100 = 0x10, k2200 = 0x11, k23xx = 0x12, k24xx = 0x13, k25xx = 0x14, kCna1 = 0x15,
                   kCna2 = 0x16, k16G = 0x17, k32G = 0x18, k64G = 0x19, kCna4 = 0x1A;
// iSCSI BIOS family codes.
constexpr SD_UINT8 kIscsi1 = 0x30, kIscsi2 = 0x31, kIscsi3 = 0x32, kIscsi4 = 0x33;

constexpr ChipNameRow Row(const char* name, SD_UINT8 code, SD_UINT16 did, bool efi = false, bool fcode = false,
                          bool fw = false) {
    return ChipNameRow{name, code, did, {code, 0}, efi, fcode, fw};
}
// Gen6 and later chips and the 8 Gb and 16 Gb FC chips share EFI and FCode images.
constexpr ChipNameRow Shared(const char* name, SD_UINT8 code, SD_UINT16 did) {
    return Row(name, code, did, true, true, false);
}

constexpr std::array kFcRows{
    Row("ISP2100", k2100, 0),
    Row("ISP2200", k2200, 0),
    Row("ISP2300", k23xx, 0x2300),
    Row("ISP2310", k23xx, 0x2310),
    Row("ISP2312", k23xx, 0x2312),
    Row("ISP2322", k23xx, 0x2322),
    Row("ISP2322S", k23xx, 0x2322),    // the single-port variant builds the same images
    Row("ISP6312", k23xx, 0x6312),
    Row("ISP6322", k23xx, 0x6322),
    Row("ISP2422", k24xx, 0x2422, false, false, true),
    Row("ISP2432", k24xx, 0x2432, false, false, true),
    Row("ISP5422", k24xx, 0x5422),
    Row("ISP5432", k24xx, 0x5432),
    Row("ISP8432", k24xx, 0x2432),     // its FC function is a 2432
    Row("ISP2532", k25xx, 0x2532, true, true, true),
    Row("ISP2533", k25xx, 0x2533, true, true, true),
    Row("ISP8001", kCna1, 0x8001),
    Row("ISP8021", kCna2, 0x8021),
    Shared("ISP2031", k16G, 0x2031),
    Shared("ISP2831", k16G, 0x2831),
    Row("ISP8031", k16G, 0x8031, true),
    Row("ISP8831", k16G, 0x8831, true),
    Row("ISP8044", kCna4, 0x8044, true),
    Shared("ISP2061", k32G, 0x2061),
    Shared("ISP2071", k32G, 0x2071),
    Shared("ISP2171", k32G, 0x2171),
    Shared("ISP2261", k32G, 0x2261),
    Shared("ISP2271", k32G, 0x2271),
    Shared("ISP2371", k32G, 0x2371),
    Shared("ISP2871", k32G, 0x2871),
    Shared("ISP2971", k32G, 0x2971),
    Shared("ISP2A61", k32G, 0x2A61),
    Shared("ISP2B61", k32G, 0x2B61),
    Shared("ISP2081", k64G, 0x2081),
    Shared("ISP2089", k64G, 0x2089),
    Shared("ISP2181", k64G, 0x2181),
    Shared("ISP2189", k64G, 0x2189),
    Shared("ISP2281", k64G, 0x2281),
    Shared("ISP2289", k64G, 0x2289),
    Shared("ISP2381", k64G, 0x2381),
    Shared("ISP2389", k64G, 0x2389),
    Shared("ISP2881", k64G, 0x2881),
    Shared("ISP2981", k64G, 0x2981),
    Shared("ISP2989", k64G, 0x2989),
};

constexpr std::array kIscsiRows{
    Row("ISP8001", kIscsi1, 0x8002), Row("ISP8021", kIscsi2, 0x8022), Row("ISP8031", kIscsi3, 0x8032),
    Row("ISP8831", kIscsi3, 0x8832), Row("ISP8044", kIscsi4, 0x8042),
};

}  // namespace

std::span<const ChipNameRow> FcChipNameTable() { return kFcRows; }
std::span<const ChipNameRow> IscsiChipNameTable() { return kIscsiRows; }

const ChipNameRow* FindChipNameRow(std::span<const ChipNameRow> table, const char* chipName) {
    if (chipName == nullptr) return nullptr;
    for (const ChipNameRow& row : table)
        if (std::strcmp(row.name, chipName) == 0) return &row;
    return nullptr;
}

bool IsReservedAdapterTypeCode(std::span<const ChipNameRow> table, SD_UINT8 code) {
    for (const ChipNameRow& row : table)
        if (row.adapterTypeCode == code) return true;
    return false;
}

bool RowAcceptsAdapterTypeCode(const ChipNameRow& row, SD_UINT8 code) {
    for (SD_UINT8 accepted : row.acceptedCodes)
        if (accepted != 0 && accepted == code) return true;
    return false;
}
