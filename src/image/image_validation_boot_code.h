// Boot-code components of a multiboot image: the ROM chain checked for the
// port's device id and walked image by image for the versions it carries.
//
// The version walks answer 0 when they reach the image flagged last, 2 for an
// image of a code type other than BIOS, FCode, PXE or EFI, 3 for an image
// whose headers cannot be read or whose length is 0 or leaves the component
// (a chain that never ends is broken, not walked for ever), and 4 when the
// port's device id is not one the family reads boot code of. Versions of the
// images before a failure stay recorded.
#pragma once

#include "image/image_validation_headers.h"

// Dorne (list D): the FC boot code of the chip-type-25 devices.
bool IsDorneBootCodeDevice(SD_UINT16 deviceId);
int GetDorneImageVersions(ComponentBytes chain, SD_UINT16 deviceId, MultibootVersions* pVersions);
// The FC versions of a chain whose device id the caller has already checked
// (ValidateFCoEPciHeaders) for a board that no family list names.
int GetCheckedFCBootCodeVersions(ComponentBytes chain, SD_UINT16 deviceId, MultibootVersions* pVersions);
// 0 when the chain passes the FCoE header check for the device and its walk
// reaches the last image; else the failing step's non-zero status.
int ValidateDorneFCBootCode(ComponentBytes component, SD_UINT16 deviceId, MultibootVersions* pVersions);
// Vrel (list V): the same over the Vrel walk; the expansion component (0x11)
// records into the BIOS, FCode and EFI expansion fields.
int ValidateVrelFCBootCode(ComponentBytes component, SD_UINT16 deviceId, FlashComponentVersion* pVersions,
                           bool expansion);

// Converged families: the device id names the function (FC, FCoE, NIC or
// iSCSI) whose version pairs the images fill; a device id that names none of
// the family's functions gives 4. The K7R and first-generation readers put
// the FCoE function's versions into the FC pairs.
int GetTorviImageVersions(ComponentBytes chain, SD_UINT16 deviceId, MultibootVersions* pVersions);
int GetPemraImageVersions(ComponentBytes chain, SD_UINT16 deviceId, MultibootVersions* pVersions);
int GetK7RImageVersions(ComponentBytes chain, SD_UINT16 deviceId, MultibootVersions* pVersions);
int GetImageVersions(ComponentBytes chain, SD_UINT16 deviceId, MultibootVersions* pVersions);
