// The K7R flash update engine (chip type 17, update class 10): writes a
// multiboot image file to one port of a K7R converged adapter region by
// region in a fixed sequence, then the version keywords of its NIC VPD.
#pragma once

#include <span>

#include "core/sdm_device.h"
#include "image/flash_memo_block.h"
#include "mgmt/sd_types.h"

// Sequence slots, and the regions the region loop must write.
constexpr unsigned int K7R_SEQUENCE_SIZE = 8;
constexpr unsigned int K7R_REQUIRED_REGIONS = 7;

// 0 when all seven regions were written (also when only the VPD step
// failed); otherwise the failure's status: 8, 286, 1, 33, 115, 38, 37, 36,
// the validation statuses unchanged, or 34 (a region that failed or does not
// fit its flash region, or a sequence that cannot be written whole; nothing
// is written when that is known beforehand).
SD_INT32 CNAK7ORevA0ptionROMRegionUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset);

// Zeroes `arraySize` slots (at most the array's) and fills the eight codes:
// 0x07, 0x4F, 0x2E, 0x70, 0x72, 0x73, the firmware (0x74 on chip revision
// 0x54, else 0x97), 0x81.
void InitK7RFlashUpdateSequence(std::span<unsigned int> sequence, unsigned int arraySize, unsigned int chipRevision);

// The FC-side writer (every region but the NIC boot code): 19 without a
// device or buffer, or when the request does not allow the region; else the
// write's status with 0x20000100 turned into 0.
SD_INT32 FCUpdateK7ROptionRom(SDMDevice* pDevice, std::span<const SD_UINT8> pBuffer, SD_UINT32 Region,
                              SD_UINT32 RegionSize, SD_UINT16 DisableReset);
// The NIC-side writer (0x2E, 0x7A, 0x7B with a request for all regions): 8
// otherwise; the write as above.
SD_INT32 EthernetUpdateK7ROptionRom(SDMDevice* pDevice, std::span<const SD_UINT8> pBuffer, SD_UINT32 Region,
                                    SD_UINT32 RegionSize, SD_UINT16 DisableReset);

// Nine lines of the record's new component versions on the output file; 0.
int DisplayCNAK7RFlashComponentVersions(const MultibootVersions* pVersions);
