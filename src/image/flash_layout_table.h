// The adapter's flash layout table (FLT) and the 16-byte locator that the
// boot code of the converged families carries right after its ROM chain to
// give the table's flash address. Both are little-endian, packed.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "image/ilt_records.h"

#pragma pack(push, 1)
typedef struct _FLT_Locator {
    char signature[4];        // "ZFLT"
    SD_UINT16 addr_l;
    SD_UINT16 addr_h;
    SD_UINT8 reserved[6];
    SD_UINT16 checksum;       // the eight words sum to zero
} FLT_Locator;

typedef struct _FlashLayoutTableHeader {
    SD_UINT16 fltVersion;
    SD_UINT16 fltLength;      // bytes of the entries, 16 each
    SD_UINT16 checksum;
    SD_UINT8 layoutVersion;
    SD_UINT8 reserved;
} FlashLayoutTableHeader;

typedef struct _FlashLayoutTableEntry {
    SD_UINT8 region_code;
    SD_UINT8 reserved_1;
    SD_UINT8 attribute;
    SD_UINT8 reserved_2;
    SD_UINT32 size;
    SD_UINT32 begin_address;
    SD_UINT32 end_address;
} FlashLayoutTableEntry;
#pragma pack(pop)

constexpr std::size_t FLT_LOCATOR_SIZE = 16;
constexpr std::size_t FLT_HEADER_SIZE = 8;
constexpr std::size_t FLT_ENTRY_SIZE = 16;
static_assert(sizeof(FLT_Locator) == FLT_LOCATOR_SIZE);
static_assert(offsetof(FLT_Locator, checksum) == 14);
static_assert(sizeof(FlashLayoutTableHeader) == FLT_HEADER_SIZE);
static_assert(sizeof(FlashLayoutTableEntry) == FLT_ENTRY_SIZE);
static_assert(offsetof(FlashLayoutTableEntry, begin_address) == 8);

// The table address of a K7R locator that points nowhere usable.
constexpr SD_UINT32 FLT_K7R_INVALID_ADDRESS = 0x3F1000;

// 1 when the locator's first four bytes spell "ZFLT" in any case and byte 4
// is 0 (the signature is compared as a terminated text), else 0; also 0 for
// fewer than 16 bytes.
int ValidateFLTLocator(std::span<const SD_UINT8> locator);
// The same, also refusing a locator that gives the table address 0x3F1000.
int ValidateK7RFLTLocator(std::span<const SD_UINT8> locator);
// The table address the locator gives (0 for fewer than 16 bytes).
SD_UINT32 FLT_Locator_GetAddress(std::span<const SD_UINT8> locator);

// 1 for a table whose header can be read (its checksum is not enforced), else 0.
int ValidateFlashLayout(std::span<const SD_UINT8> table);
// fltVersion; 0 for no table or one shorter than its header.
SD_UINT16 GetFlashLayoutVersion(std::span<const SD_UINT8> table);
// The first entry with the region code. Nothing for no table, no such entry,
// or a table whose fltLength reaches past the buffer.
std::optional<FlashLayoutTableEntry> GetFlashLayoutEntryByRegionCode(std::span<const SD_UINT8> table,
                                                                     SD_UINT8 regionCode);
// Releases a table buffer the caller holds; nothing for null.
void DestroyFlashLayout(std::vector<SD_UINT8>* table);
