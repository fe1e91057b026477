// Word helpers shared by the image code: the 16- and 32-bit word sums behind
// the table checksums, the assembly of the split 32-bit fields of the image
// layout table, and byte extraction.
#pragma once

#include <span>

#include "mgmt/sd_types.h"

// The word sums log the word count and the real sum of the words the buffer
// holds, and return 0: the checksums built on them are not enforced, since
// images in the field carry checksums that no writer keeps current. What
// protects those tables are their signatures, offsets and lengths.
// `count` words are summed, as far as the buffer holds them.
SD_UINT32 HLPR_Sum16(std::span<const SD_UINT8> buffer, SD_UINT32 count);
SD_UINT32 HLPR_Sum32(std::span<const SD_UINT8> buffer, SD_UINT32 count);
// The two's complement of HLPR_Sum16, so 0.
SD_UINT16 CalculateChksum(std::span<const SD_UINT8> buffer, SD_UINT32 count);

// `hi` shifted left by 16 plus `lo`.
constexpr SD_UINT32 HLPR_GetDoubleWord(SD_UINT16 lo, SD_UINT16 hi) {
    return (static_cast<SD_UINT32>(hi) << 16) + lo;
}
constexpr SD_UINT8 HLPR_GetByte0(SD_UINT32 v) { return static_cast<SD_UINT8>(v); }
constexpr SD_UINT8 HLPR_GetByte1(SD_UINT32 v) { return static_cast<SD_UINT8>(v >> 8); }
constexpr SD_UINT8 HLPR_GetByte2(SD_UINT32 v) { return static_cast<SD_UINT8>(v >> 16); }
constexpr SD_UINT8 HLPR_GetByte3(SD_UINT32 v) { return static_cast<SD_UINT8>(v >> 24); }

// The big-endian value of the first four bytes; 0 when there are fewer.
SD_UINT32 HLPR_BEndian4(std::span<const SD_UINT8> bytes);
