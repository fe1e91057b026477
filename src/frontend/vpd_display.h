// Showing an adapter's VPD, which no command of this tool reaches: the full
// display of every item with its label, shorter forms on standard output,
// and the checksum test of an adapter's VPD.
#pragma once

#include <cstdint>
#include <span>

#include "core/sdm_device.h"

// GetHBAVPDData for every port of the core device list; the last result (0
// for an empty list).
int GetAllHBAsVPDData();
// The adapter header and every VPD item of the port on the console. 165 for
// chip types below 8, 115 no memory, 164 unreadable, 161 no start or end tag
// (each said in the output file), else 0; 8 for a null port.
int GetHBAVPDData(const SDMDevice* pDevice);
// One labelled console line per item up to the end tag; "V1" to "V5" are not
// shown for chip types above 12.
void DisplayVpdInfo(std::span<const uint8_t> vpd, int chipType);
// The labelled line of one item (nothing for an item without a label).
void printVpdFieldData(std::span<const uint8_t> header, std::span<const uint8_t> value, int chipType);

// Shorter forms on standard output.
void printTags(uint8_t tag);                                                    // "Tag 0x82"
void printField(std::span<const uint8_t> header, std::span<const uint8_t> value);   // "SN: value"
// "<keyword>: <value>" of one keyword; its reader's status.
int printVpdField(std::span<const uint8_t> vpd, const char* keyword);
void printVdp(std::span<const uint8_t> vpd);    // every item
void printVdp2(std::span<const uint8_t> vpd);   // keyword items as "XX=value"
void DumpVpd(std::span<const uint8_t> vpd);     // hex, 16 bytes a line
// The BIOS, FCode, EFI, firmware and flash image versions of the "V" keywords.
void parseVPD(std::span<const uint8_t> vpd);

// The checksum test of the port's VPD (0 or 162); 164 when it cannot be read.
int checkVpdCheckSum(const SDMDevice* pDevice);
