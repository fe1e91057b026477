// Chip-name tables of the boot-code patcher: for each chip name ("ISP" and the
// PCI device id in upper-case hex) the adapter type code a BIOS image carries,
// the device id written into boot-code images, the adapter type codes a
// common BIOS image may carry for it, and which shared image kinds it takes.
#pragma once

#include <array>
#include <span>

#include "mgmt/sd_types.h"

struct ChipNameRow {
    const char* name;                      // "ISP2261"
    SD_UINT8 adapterTypeCode;              // BIOS offset 20
    SD_UINT16 deviceId;                    // BIOS offset 42 and EFI/FCode data structures; 0: none
    std::array<SD_UINT8, 2> acceptedCodes; // codes a common BIOS image may carry; 0 ends the list
    bool commonEfi;                        // its EFI images are common images
    bool commonFCode;                      // its FCode images are common images
    bool firmwareCheck;                    // its firmware files take the firmware-file check
};

// The FC chip-name table; every chip of the Gen6 families has a row.
std::span<const ChipNameRow> FcChipNameTable();
// The iSCSI BIOS table of the converged chips (device ids 0x80xx).
std::span<const ChipNameRow> IscsiChipNameTable();

// Exact-match lookup; null for a chip missing from the table (or a null name).
const ChipNameRow* FindChipNameRow(std::span<const ChipNameRow> table, const char* chipName);
// True when any row of the table uses the code as its own adapter type code.
bool IsReservedAdapterTypeCode(std::span<const ChipNameRow> table, SD_UINT8 code);
// True when the row accepts the code in a common BIOS image.
bool RowAcceptsAdapterTypeCode(const ChipNameRow& row, SD_UINT8 code);
