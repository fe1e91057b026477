// The flash layout table of a K7R adapter read from its flash: the boot code
// of function 0 at a fixed flash offset ends with the locator that gives the
// table's address. No command reads the layout this way; the K7R engine
// takes it from the library.
#pragma once

#include <vector>

#include "mgmt/sd_types.h"

constexpr SD_UINT32 K7R_BOOTCODE_FLASH_OFFSET = 0x80000;
constexpr SD_UINT32 K7R_BOOTCODE_READ_SIZE = 0x10000;
constexpr SD_UINT32 K7R_BOOTCODE_BUFFER_SIZE = 0x80000;
constexpr SD_UINT32 K7R_FLASH_LAYOUT_SIZE = 4096;

// Statuses.
constexpr SD_UINT8 K7R_LAYOUT_OK = 0;
constexpr SD_UINT8 K7R_LAYOUT_NO_MEMORY = 1;
constexpr SD_UINT8 K7R_LAYOUT_BOOTCODE_UNREADABLE = 11;
constexpr SD_UINT8 K7R_LAYOUT_NO_CHAIN_END = 12;
constexpr SD_UINT8 K7R_LAYOUT_TABLE_NO_MEMORY = 13;
constexpr SD_UINT8 K7R_LAYOUT_BAD_LOCATOR = 21;
constexpr SD_UINT8 K7R_LAYOUT_BAD_TABLE = 22;
constexpr SD_UINT8 K7R_LAYOUT_TABLE_UNREADABLE = 23;

// Fills *flashLayout with the 4096-byte table (0) or leaves it empty: 1 or
// 13 no memory, 11 the boot code cannot be read, 12 its chain has no end,
// 21 no valid locator after it (or the table address 0x3F1000), 23 the table
// cannot be read, 22 it does not validate.
SD_UINT8 CreateK7RFlashLayout(int Device, SD_UINT16 HbaDevPortNum, std::vector<SD_UINT8>* flashLayout);
