// The Torvi flash update engine (chip types 21 and 24, update class 11):
// writes a multiboot image file to one port of a Torvi converged adapter,
// which carries an FC function beside its NIC, iSCSI and FCoE functions. It
// follows the K7R engine's steps; then the flash memo block and the NIC and
// FC VPDs' version keywords.
#pragma once

#include <span>

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

constexpr unsigned int TORVI_SEQUENCE_SIZE = 13;
// The region loop writes at most this many regions (the first ten entries).
constexpr unsigned int TORVI_LOOP_REGIONS = 10;

// 0 when the regions were written (also when a VPD step failed); otherwise
// the failure's status as for the K7R engine. A request that names no
// region of the image set, or an image that would write more than ten
// regions, ends with 34 before anything is written. A write answered
// 0x20000100 asks for a reboot in the final message; only the writers that
// take DisableReset by reference (all but the FCoE firmware's) also make
// the later writes reset-disabled.
SD_INT32 CNATorviOptionROMRegionUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset);

// Zeroes `arraySize` slots (at most the array's) and fills the thirteen
// codes: 0x07, 0x2E, 0xA2, 0x4F, 0x70, 0x72, 0x73, 0xA4, 0x01, 0x97, 0x81,
// 0x14, 0x16. The chip revision does not change them.
void InitTorviPFlashUpdateSequence(std::span<unsigned int> sequence, unsigned int arraySize, unsigned int chipRevision);

// One region written with reset not disabled: 19 without a device or
// buffer; else the write's status with 0x20000100 turned into 0.
SD_INT32 FCUpdateTorviOptionRom(SDMDevice* pDevice, std::span<const SD_UINT8> pBuffer, SD_UINT32 Region,
                                SD_UINT32 RegionSize);
