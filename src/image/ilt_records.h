// The image layout table at the start of a multiboot image: its records, its
// two signatures and the statuses of the image checks.
//
// Layout (little-endian, packed), offsets from the start of the image:
//   0                    header (32 bytes)
//   32 + 32*i            region entry i, for i = 0 .. numOfEntries-2
//   32*numOfEntries      time-stamp entry (32 bytes)
//   32*numOfEntries+32   card-type header (8 bytes)
//   32*numOfEntries+40   card-type lists, back to back: each an 8-byte list
//                        header and noEntriesInList entries of 8 bytes
// A region entry's component is sizeHi:sizeLo bytes at offsetHi:offsetLo from
// the start of the image.
#pragma once

#include <bit>
#include <cstddef>

#include "mgmt/sd_types.h"

// The records are copied out of image bytes as they stand.
static_assert(std::endian::native == std::endian::little);

#pragma pack(push, 1)
typedef struct _ILT_Header_t {
    char signature[4];            // "ZFIM" or "ZILT", no terminator
    SD_UINT16 tableVersion;
    SD_UINT16 tableLength;        // bytes of the whole table
    SD_UINT16 tableChecksum;
    SD_UINT16 numOfEntries;       // region entries plus the time-stamp entry
    SD_UINT8 cardtypeexists;      // carried; the card-type header is always there
    SD_UINT8 imageVersion[3];     // major, minor, sub-minor
    SD_UINT8 imageBuildMonth;
    SD_UINT8 imageBuildDay;
    SD_UINT16 imageBuildYear;
    SD_UINT8 options;
    SD_UINT8 ffvMajor;
    SD_UINT8 ffvMinor;
    SD_UINT8 ffvSubminor;
    SD_UINT8 ffvBuild;
    SD_UINT8 reserved[7];
} ILT_Header_t;

typedef struct _ILT_Region_t {
    SD_UINT16 regionType;         // flash region code (set 1 for two-set families)
    SD_UINT8 regionVerLen;
    SD_UINT8 regionVerMajor;
    SD_UINT8 regionVerMinor;
    SD_UINT8 regionVerUpdate;
    SD_UINT16 offsetLo;
    SD_UINT16 offsetHi;
    SD_UINT16 sizeLo;
    SD_UINT16 sizeHi;
    SD_UINT16 swapModeCardType;   // bit 15 swap mode, bits 0-14 card types (0 = all)
    SD_UINT16 chipRev;            // 0 = any chip revision
    SD_UINT8 reserved[14];
} ILT_Region_t;

typedef struct _ILT_Timestamp_t {
    SD_UINT16 regionType;
    SD_UINT8 regionVerLen;
    SD_UINT8 regionVerMajor;
    SD_UINT8 regionVerMinor;
    SD_UINT8 regionVerSubMinor;
    SD_UINT16 dateYear;
    SD_UINT8 dateMonth;
    SD_UINT8 dateDay;
    SD_UINT8 timeHour;
    SD_UINT8 timeMin;
    SD_UINT8 funSource;           // this program writes 0
    SD_UINT8 originatorID;        // this program writes 4
    SD_UINT16 reserved0;
    SD_UINT32 reserved1[4];
} ILT_Timestamp_t;

typedef struct _ILT_CardType_Header_t {
    SD_UINT16 noCardTypeList;
    SD_UINT16 reserved0;
    SD_UINT32 reserved1;
} ILT_CardType_Header_t;

typedef struct _ILT_CardTypeList_t {
    SD_UINT16 listForCardType;    // 0 for the default list
    SD_UINT16 noEntriesInList;
    SD_UINT32 reserved;
} ILT_CardTypeList_t;

typedef struct _ILT_CardTypeList_Entry_t {
    SD_UINT16 vendorID;
    SD_UINT16 deviceID;
    SD_UINT16 subSystemVID;
    SD_UINT16 subSystemDID;
} ILT_CardTypeList_Entry_t;
#pragma pack(pop)

constexpr std::size_t ILT_HEADER_SIZE = 32;
constexpr std::size_t ILT_ENTRY_SIZE = 32;
constexpr std::size_t ILT_CARDTYPE_HEADER_SIZE = 8;
constexpr std::size_t ILT_CARDTYPE_LIST_SIZE = 8;
constexpr std::size_t ILT_CARDTYPE_ENTRY_SIZE = 8;

static_assert(sizeof(ILT_Header_t) == ILT_HEADER_SIZE);
static_assert(offsetof(ILT_Header_t, numOfEntries) == 10);
static_assert(offsetof(ILT_Header_t, imageBuildYear) == 18);
static_assert(offsetof(ILT_Header_t, ffvBuild) == 24);
static_assert(sizeof(ILT_Region_t) == ILT_ENTRY_SIZE);
static_assert(offsetof(ILT_Region_t, offsetLo) == 6);
static_assert(offsetof(ILT_Region_t, swapModeCardType) == 14);
static_assert(offsetof(ILT_Region_t, chipRev) == 16);
static_assert(sizeof(ILT_Timestamp_t) == ILT_ENTRY_SIZE);
static_assert(offsetof(ILT_Timestamp_t, dateYear) == 6);
static_assert(offsetof(ILT_Timestamp_t, funSource) == 12);
static_assert(sizeof(ILT_CardType_Header_t) == ILT_CARDTYPE_HEADER_SIZE);
static_assert(sizeof(ILT_CardTypeList_t) == ILT_CARDTYPE_LIST_SIZE);
static_assert(sizeof(ILT_CardTypeList_Entry_t) == ILT_CARDTYPE_ENTRY_SIZE);

// The two signatures a table may carry.
inline constexpr char ILT_HEADER[4] = {'Z', 'F', 'I', 'M'};
inline constexpr char ILT_HEADER_V2[4] = {'Z', 'I', 'L', 'T'};

// Newest table format this program reads.
constexpr SD_UINT16 ILT_MAX_TABLE_VERSION = 4;

// The card-type walks handle at most this many lists, and entries per list.
constexpr SD_UINT32 ILT_MAX_CARDTYPE_COUNT = 255;

// Statuses of the image checks.
constexpr int ILT_OK = 0;
constexpr int ILT_BAD_SIGNATURE = 450;
constexpr int ILT_SHORT_OR_NO_CARD_TYPE = 451;   // buffer under 32 bytes, table past the buffer, no card type
constexpr int ILT_CHIP_REVISION_MISMATCH = 505;
constexpr int ILT_TABLE_VERSION_MISMATCH = 506;
constexpr int ILT_REGION_TOO_LARGE = -4;
