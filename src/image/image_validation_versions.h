// The versions of one component of a Vrel image, as the image's version
// listing shows them on the output file.
#pragma once

#include "image/card_types.h"
#include "image/image_validation_headers.h"

// Walks the boot code (or its expansion) for its versions and prints "BIOS
// version: %d.%d.%d" and "FCode version: %d.%d.%d" (the "Exp." forms for
// the expansion): 0, or -8 when the chain does not read for the port.
int GetFCBootCodeVersion(ComponentBytes component, const sHbaIdentifiers& ids, FlashComponentVersion* pVersions,
                         bool expansion);
// The RISC firmware version from its header's revision words (when the
// component holds a header); always 1.
int GetRiscFirmwareVersionFromFlashImage(ComponentBytes component, FlashComponentVersion* pVersions);
// Bytes 79 to 76 into the PEP firmware or PEP SoftROM fields; always 0 (a
// component too short to hold them records nothing).
int GetPepFwVersion(ComponentBytes component, FlashComponentVersion* pVersions);
int GetPEPSoftROMVersion(ComponentBytes component, FlashComponentVersion* pVersions);

// Prints the entry ("\nRegion Type=0x%X", "Region VerLen=0x%X",
// "SwapModeCardType=0x%04X") and reads its component's versions: the Vrel
// statuses, or -44 for no entry or a component past the image.
int GetFlashImageComponentVersion(const ILT_Region_t* region, IltBytes image, FlashComponentVersion* pVersions,
                                  const sHbaIdentifiers& ids);
