// PCI vital product data (VPD): walking the items of an adapter's VPD image,
// the "RV" checksum, blank detection, keyword reads and in-place keyword updates.
//
// Items as walked: 0x82 identifier string (3 + 16-bit little-endian length),
// 0x90/0x91 read-only/read-write areas (only their 3-byte tag is stepped over,
// the keywords inside are walked), 0x78 end tag, anything else a keyword
// (two characters, a length byte, the value). Every walk stops at the buffer's
// end: an item whose length runs past it ends the walk as invalid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/sdm_device.h"

constexpr int VPD_SUCCESS = 0;
constexpr int VPD_NO_START_TAG = 1;
constexpr int VPD_NO_END_TAG = 2;
constexpr int VPD_NO_MEMORY = 115;
constexpr int VPD_INVALID = 160;          // no start or end tag, or the walk ran past the buffer
constexpr int VPD_CORRUPTED = 161;
constexpr int VPD_BAD_CHECKSUM = 162;
constexpr int VPD_NULL_RESULT = 163;
constexpr int VPD_NOT_FOUND = 164;

constexpr uint8_t VPD_TAG_ID_STRING = 0x82;
constexpr uint8_t VPD_TAG_READ_ONLY = 0x90;
constexpr uint8_t VPD_TAG_READ_WRITE = 0x91;
constexpr uint8_t VPD_TAG_END = 0x78;

// 512 bytes below chip type 16, 1024 from there on.
size_t VpdSizeForChipType(int chipType);

// 0 when a start (0x82) byte occurs in the buffer, else 1.
int verifyVpdStartTag(std::span<const uint8_t> vpd);
// 0 when an end (0x78) byte occurs in the buffer, else 2.
int verifyVpdEndTag(std::span<const uint8_t> vpd);
// 0 when the bytes up to and including the "RV" checksum byte sum to 0 (8 bits);
// 162 otherwise, also when the end tag or the buffer's end comes before "RV".
int verifyVpdChecksum(std::span<const uint8_t> vpd);
// 1 when the buffer is all 0xFF or all 0x00.
int IsBlankVpd(std::span<const uint8_t> vpd);
// True when the buffer reads as the adapter reads it: the identifier string
// first, items that walk to the end tag inside the buffer, and a good "RV"
// checksum. A write cut short (the rest erased) fails it.
bool VpdIsSound(std::span<const uint8_t> vpd);

// Overwrites the value of every item of the keyword in place (length and position
// kept; a shorter new value is padded with blanks) and recomputes the "RV" checksum.
// 0; 160 no start or end tag or a malformed walk (the buffer is then untouched);
// 164 keyword not found (untouched); 162 checksum bad afterwards (values changed).
int UpdateVpdField(std::span<uint8_t> vpd, const char* keyword, std::string_view value);

// Formats one item's value as text into `result` (at most its size - 1 characters,
// terminated) by the item's keyword: identifier, "PN", "EC", "SN", "V0" as they are;
// "V1"-"V5", "V9", "MN", "YA", "FC", "FN", "VV", "RM" trimmed of blanks and tabs;
// "RV", "RW" as two hex digits of their first byte; others leave `result` unchanged.
char* getVpdTagField(std::span<const uint8_t> item, std::span<const uint8_t> value, std::span<char> result);

// The value of the first item of the keyword in a VPD image, as getVpdTagField
// formats it. 0; 1 or 2 no start or end tag; 164 not found or a malformed walk.
int VpdGetKeywordValue(std::span<const uint8_t> vpd, const char* keyword, std::span<char> result);

// The keyword's value from the adapter's VPD, read through the management library.
// 0; 164 not found or unreadable, also for a null device or an empty result;
// 115 no memory; 1 or 2 no start or end tag.
int retrieveSpecificVpdField(const SDMDevice* device, const char* keyword, std::span<char> result);

// One item as the keyword reader walks it: its first bytes (tag, or keyword
// and length) and its value; the end tag has neither length nor value.
struct VpdItemView {
    size_t offset = 0;
    size_t length = 0;                    // the whole item
    std::span<const uint8_t> header;      // 1 byte (end tag) or 3
    std::span<const uint8_t> value;
};
// The item at `offset` (a 0x00 item is stepped over by three bytes); false at
// the buffer's end or for an item that runs past it.
bool VpdReadItem(std::span<const uint8_t> vpd, size_t offset, VpdItemView& item);

// The "SN" value of a VPD image: 0, 164 not found, 163 empty result, 160 empty
// buffer, 161 no start or end tag.
int getSerialNoFromVPD(std::span<const uint8_t> vpd, std::span<char> result);
