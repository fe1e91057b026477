// The flash update engine of the Pemra converged adapters (chip type 26,
// device ids 0x8041 and 0x8044: NIC, iSCSI and FCoE functions, no FC function
// of its own). It validates a multiboot image against the adapter, combines
// the components that serve it, writes the regions one by one in a fixed
// order and then rewrites the version keywords of the NIC/CNA VPD. The flash
// memo block is left as it is.
#pragma once

#include <span>

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// Entries of the region sequence, and how many of them the region loop writes
// (the last one, the NIC/CNA VPD, belongs to the VPD step).
constexpr unsigned int PEMRA_SEQUENCE_SIZE = 10;
constexpr int PEMRA_REQUIRED_REGIONS = 9;

// Statuses of the engine besides the validation statuses (451, 452, 453 and
// those of the image checks), which it returns unchanged.
constexpr SD_INT32 PEMRA_SUCCESS = 0;
constexpr SD_INT32 PEMRA_OPEN_FAILED = 1;
constexpr SD_INT32 PEMRA_NO_DEVICE = 8;
constexpr SD_INT32 PEMRA_FILE_CORRUPTED = 33;
constexpr SD_INT32 PEMRA_INCOMPLETE = 34;          // a write failed, nothing written, more than 9 writes
                                                   // planned, or an image region larger than its flash region
constexpr SD_INT32 PEMRA_BOOT_CODE_UNREADABLE = 36;
constexpr SD_INT32 PEMRA_NO_REGIONS = 37;
constexpr SD_INT32 PEMRA_LAYOUT_UNREADABLE = 38;
constexpr SD_INT32 PEMRA_NO_MEMORY = 115;
constexpr SD_INT32 PEMRA_VIRTUAL_PORT = 286;
constexpr SD_INT32 PEMRA_WRITE_FAILED = 0x1F7;     // the loop's status after a failed write (ends as 34)

// VPD statuses the final message is chosen by.
constexpr SD_INT32 PEMRA_VPD_FAILED = 39;
constexpr SD_INT32 PEMRA_VPD_NO_REGION = 454;

// Zeroes the first entries of `sequence` and writes the ten region codes
// (as many as it holds); the chip revision does not change them.
void InitPemraFlashUpdateSequence(std::span<unsigned int> sequence, unsigned int chipRevision);

// Writes the multiboot image file to the adapter of pDevice. 0 when every
// region it found for the adapter was written (a VPD failure only changes the
// final message); otherwise the failure's status. Nothing is written unless
// the image validates, every region entry fits its flash region, the
// image-update request names all regions and the image gives at most nine
// region writes.
SD_INT32 CNAPemraOptionROMRegionUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset);
