// Reading the image layout table of a multiboot image. The table is passed as
// the image buffer (it stands at offset 0); records are copied out, and a
// record that does not lie wholly inside the buffer is never read: its
// accessor gives nothing (or 0 for a field).
#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "image/ilt_records.h"

using IltBytes = std::span<const SD_UINT8>;

// True when the first four bytes are "ZFIM", else when they are "ZILT"
// (case-sensitive); each compared byte goes to the debug log.
bool ILT_Header_CompareSignature(IltBytes buffer);
// The decoded header; nothing for a buffer under 32 bytes.
std::optional<ILT_Header_t> ILT_Header_Get(IltBytes buffer);

// Header fields; 0 for a buffer under 32 bytes.
SD_UINT16 ILT_Header_GetTableVersion(IltBytes buffer);
SD_UINT16 ILT_Header_GetTableLength(IltBytes buffer);
SD_UINT16 ILT_Header_GetTableCheckSum(IltBytes buffer);
SD_UINT16 ILT_Header_GetNumOfRegionEntries(IltBytes buffer);   // region entries plus the time stamp
// True when the table version is `ver` or older (false for a buffer under 32 bytes).
bool ILT_Header_IsTableVersionMatched(IltBytes buffer, SD_UINT16 ver);
// The size the checks note in the debug log; a constant.
int ILT_Header_GetImageHeaderSize(IltBytes buffer);
// The image version as "%02d.%02d.%02d" into pImageVer (terminated, cut to
// its size; empty for a buffer under 32 bytes); returns pImageVer's data.
const char* ILT_Header_GetImageVersion(IltBytes buffer, std::span<char> pImageVer);
// The image version as "%02d%02d%02d"; its first six characters are copied
// into pImageVer without a terminator. 0, or -1 (nothing copied) for a
// buffer under 32 bytes or a destination under six characters.
int ILT_Header_GetImageVersionNoSeparator(IltBytes buffer, std::span<char> pImageVer);

// Offsets of the records that follow the region entries.
constexpr std::size_t ILT_RegionOffset(std::size_t index) { return ILT_HEADER_SIZE + ILT_ENTRY_SIZE * index; }
constexpr std::size_t ILT_TimeStampOffset(SD_UINT16 numOfEntries) { return ILT_ENTRY_SIZE * numOfEntries; }
constexpr std::size_t ILT_CardTypeHeaderOffset(SD_UINT16 numOfEntries) {
    return ILT_ENTRY_SIZE * numOfEntries + ILT_ENTRY_SIZE;
}

// Region entry `index` (0 .. numOfEntries-2); nothing past the last one.
std::optional<ILT_Region_t> ILT_Region_GetRegionByIndex(IltBytes buffer, SD_UINT16 index);
// The time-stamp entry; nothing for a table with no entries at all, whose
// time stamp would be the header itself.
std::optional<ILT_Timestamp_t> ILT_Region_GetTimeStampEntry(IltBytes buffer);
// The card-type header (under the same rule as the time stamp).
std::optional<ILT_CardType_Header_t> ILT_CardType_Header_GetCardListHeader(IltBytes buffer);
// noCardTypeList; 0 when the card-type header cannot be read.
SD_UINT16 ILT_CardType_Header_GetNumOfCardTypeList(IltBytes buffer);

// A card-type list and the offset of its 8-byte header in the image.
struct ILT_CardTypeListPos {
    ILT_CardTypeList_t list;
    std::size_t offset;
};
// The first list, whatever noCardTypeList says.
std::optional<ILT_CardTypeListPos> ILT_CardTypeList_First(IltBytes buffer);
// The list after `pos`: nothing when pos's entries or the next list header
// reach past the buffer.
std::optional<ILT_CardTypeListPos> ILT_CardTypeList_Next(IltBytes buffer, const ILT_CardTypeListPos& pos);
// Entry `index` of a list; nothing past its noEntriesInList or the buffer.
std::optional<ILT_CardTypeList_Entry_t> ILT_CardTypeList_GetEntry(IltBytes buffer, const ILT_CardTypeListPos& pos,
                                                                  SD_UINT16 index);
// List `index`: index 0 is the first list whatever noCardTypeList says;
// other indices give nothing at or beyond noCardTypeList.
std::optional<ILT_CardTypeList_t> ILT_CardTypeList_GetCardTypeListByIndex(IltBytes buffer, SD_UINT16 index);

// The checks' bounds: a table of at least one entry whose header, entries,
// time stamp, card-type header and lists (at most 255, each of at most 255
// entries) all lie inside the buffer. A table failing this is refused as a
// short buffer.
bool ILT_IsTableWithinBuffer(IltBytes buffer);
// True when every region entry's component lies inside the buffer.
bool ILT_AreComponentsWithinBuffer(IltBytes buffer);
// The component of an entry inside the image; nothing when it reaches past it.
std::optional<IltBytes> ILT_Region_GetComponent(IltBytes buffer, const ILT_Region_t& region);
