// RISC firmware image files: big-endian 32-bit words in two checksummed
// segments, a header naming the chip family and "Firmware"; the multiboot
// version block a firmware region may carry; the header's attribute words.
//
// Layout: word 3 is L, the first segment's length in words (from word 0);
// word L + 3 is L2, the second segment's length (from word L). Each segment's
// words add up to 0 modulo 2^32.
#pragma once

#include <cstddef>
#include <span>

#include "image/flash_memo_block.h"
#include "mgmt/sd_types.h"

// Statuses.
constexpr int FW_IMAGE_BAD_CHECKSUM = 25;     // also an empty segment
constexpr int FW_IMAGE_WRONG_IMAGE = 27;      // not a firmware image for this chip
constexpr int FW_IMAGE_VALID = 28;
constexpr int FW_IMAGE_TOO_SHORT = 29;        // a segment runs past the buffer
constexpr int FW_ATTRIBUTE_NO_BUFFER = 520;

constexpr SD_UINT32 FW_REGION_RISC = 1;

// The header at the start of a firmware region (decoded from big-endian words).
constexpr std::size_t FW_HEADER_SIZE = 120;
typedef struct _Fw_Header_t {
    SD_UINT32 preamble[2];
    SD_UINT32 start;          // load address
    SD_UINT32 length;         // address length
    SD_UINT32 revision[3];    // major, minor, subminor
    SD_UINT32 attribute;
    SD_UINT32 supported;      // chip code the firmware supports
    SD_UINT32 attributeEx;
    char notice[36];
    char name[38];
    SD_UINT32 postamble;      // at byte 116 (two bytes of padding before it)
} Fw_Header_t;
static_assert(sizeof(Fw_Header_t) == FW_HEADER_SIZE);
static_assert(offsetof(Fw_Header_t, notice) == 40);
static_assert(offsetof(Fw_Header_t, name) == 76);
static_assert(offsetof(Fw_Header_t, postamble) == 116);

// Decodes the first 120 bytes; false (header untouched) for a shorter buffer.
bool DecodeFwHeader(std::span<const SD_UINT8> bytes, Fw_Header_t* header);

// 28 when both segments are present and sum to 0; 25 for an empty segment or
// a bad sum; 29 when a segment (or the second one's length word) runs past the
// buffer. Lengths are checked in 64-bit arithmetic, so no length wraps.
int computeFirmwareChecksum(std::span<const SD_UINT8> pBuffer);
// 28 when "ISP" + the fourth and fifth characters of hardwareType + "xx" is
// found with "Firmware" eight bytes after its start; else 27.
int isCorrectFirmwareImage(std::span<const SD_UINT8> m_Data, const char* hardwareType);
// For region 1 and the chips whose firmware files take this check: the family
// check, then the checksum; otherwise 27.
int validateFirmware(std::span<const SD_UINT8> m_Data, const char* hardwareType, SD_UINT32 region);

// 1 when the buffer starts with "ZMBV", 0 when not, 27 for no buffer.
int isCorrectFirmwareMBImage(std::span<const SD_UINT8> pBuffer);
// Copies the multiboot version (bytes 4, 5, 6 after "ZMBV") into the existing
// multiboot fields; zeros when the block is missing.
void getMBImageVersionInFirmware(std::span<const SD_UINT8> pBuffer, MultibootVersions* pVersions);

// When the header's `supported` equals fwCode, stores attributeEx << 32 |
// attribute (else leaves the value); 0, or 520 without a header or output.
int GetFirmwareAttribute(std::span<const SD_UINT8> pBuffer, SD_UINT32 fwCode, SD_UINT64* ufwAttributes);

// The converged-network firmware of the Zanto device.
constexpr const char* ZANTO_CHIP_NAME = "ISP8044";
// 0 when the header name holds "Zanto" (bytes 82 to 86) and "Firmware" starts
// at one of the bytes 1 to 128; else 27.
int isZantoFirmwareImage(std::span<const SD_UINT8> m_Data, const char* hardwareType);
// Only the Zanto chip with region 1; else 27.
int validateZantoFirmware(std::span<const SD_UINT8> m_Data, const char* hardwareType, SD_UINT32 region);
// "%x.%x.%x" of bits 16-23, 8-15 and 0-7 of word 2 read little-endian; 0, or
// 27 when the buffer holds no word 2 or there is no room for the text.
int GetZantoFirmwareVersionFromImage(std::span<const SD_UINT8> m_Data, std::span<char> pVersion);
