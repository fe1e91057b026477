// A boot-code ROM chain against one adapter: patching every image of the
// chain with the adapter's identity, and the image-by-image checks of the
// converged adapters' FCoE, iSCSI and NIC boot code.
#pragma once

#include <span>

#include "mgmt/sd_types.h"

// Patches each image in chain order for the chip "ISP%04X" of deviceID: BIOS
// images (patch, checksum, validation), EFI and FCode images (device id); PXE
// images stay as they are. 0, the first failing step's status, 12 for a BIOS
// image whose size does not fit its place in the chain, or 22 when the chain
// breaks before its last image. On failure the buffer must not be written
// anywhere: images before the failing one are already patched.
int UpdateAllPciHeaders(std::span<SD_UINT8> buf, SD_UINT16 ssvid, SD_UINT16 ssdid, SD_UINT16 deviceID,
                        const char* model);
// The same with the iSCSI BIOS table.
int UpdateiSCSIPciHeaders(std::span<SD_UINT8> buf, SD_UINT16 ssvid, SD_UINT16 ssdid, SD_UINT16 deviceID,
                          const char* model);

// 1 when the walk reaches the last image without a failed check, else 0.
// FCoE and iSCSI: EFI and FCode mismatches are logged and the walk goes on.
int ValidateFCoEPciHeaders(std::span<const SD_UINT8> buf, SD_UINT16 deviceID);
int ValidateiSCSIPciHeaders(std::span<const SD_UINT8> buf, SD_UINT16 deviceID);
// NIC: the first mismatch ends the walk with 0.
int ValidateNICPciHeaders(std::span<const SD_UINT8> buf, SD_UINT16 deviceID);
// NIC partition: the chain's structure only.
int ValidateNICPartitionPciHeaders(std::span<const SD_UINT8> buf, SD_UINT16 deviceID);
