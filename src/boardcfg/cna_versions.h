// The existing component versions of an adapter that the MCTP update and the
// displays compare: the multiboot (MBI) version from the flash memo block, the
// firmware region or the VPD, by chip type.
#pragma once

#include "core/sdm_device.h"
#include "image/flash_memo_block.h"
#include "mgmt/sd_types.h"

constexpr int CNAVER_NO_DEVICE = 8;
constexpr int CNAVER_READ_FAILED = 36;
constexpr int CNAVER_VIRTUAL_PORT = 286;

// Fills the Existing fields of *pVersions. Chip types above 24: the multiboot
// version from the memo block, with that read's status; 10 to 12: from the
// firmware region; 13 to 24: from the VPD ("RM", "VV", "V9") and the port's
// firmware version. 8 for a null port or record.
int GetExistingCNAFlashImageVersions(SDMDevice* pDevice, MultibootVersions* pVersions);
// Chip types 10 to 12: the multiboot version the firmware region carries
// ("ZMBV" block; zeros without it): 0, 8, 286, 36.
int getMBImageVersionInFirmwareFromAdapter(SDMDevice* pDevice, MultibootVersions* pVersions);

// The adapter's multiboot version (major, minor, sub) for the flash control
// record: 0 on success, else the reader's status (the version is then unknown).
int ReadAdapterMultibootVersion(SDMDevice* pDevice, SD_UINT8 version[3]);
