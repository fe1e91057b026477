// Component checks of the Dorne (chip type 25) and Vrel (chip type 27)
// multiboot images, the versions they collect, and the counts of entries
// that serve an adapter, which the engines compare with the checks' counts.
//
// The loops return the number of components checked (0 to 127), or the
// first failure, a negative status (image_validation_records.h). The images
// are not changed.
#pragma once

#include "image/card_types.h"
#include "image/ilt_accessors.h"
#include "image/image_validation_headers.h"

// Entries 0 .. numOfEntries-2 whose card types and chip revision fit (the
// Torvi, Pemra, Dorne and Vrel engines), or whose card types fit (K7R and the
// first generation). 0 for a negative card type; -1 when more than 127 fit
// (no check loop accepts that many).
SD_INT8 HowManyImagesForCardTypeGeneric(IltBytes buffer, SD_INT16 cardType, SD_UINT16 adapterChipRev);
SD_INT8 HowManyImagesForCardType(IltBytes buffer, SD_INT16 cardType);

// ---- Dorne ------------------------------------------------------------------------------------
// The signature region needs no check.
int ValidateDorneSignatureRegion(ComponentBytes component);
// One component by its region type: 0, -8 boot code (chain, device list,
// versions), -9 RISC firmware whose header does not fit its entry or does not
// support the Dorne chips; the other components are accepted (without a
// version when too short to hold one). Versions go to the New fields.
int ValidateDorneImages(const ILT_Region_t& region, ComponentBytes component, MultibootVersions* pVersions,
                        const sHbaIdentifiers& ids);
// The header versions, then every entry for the card type and the adapter's
// chip revision (ids.chipRev). `totalImages` is not consulted.
SD_INT8 ValidateDorneImageComponents(IltBytes buffer, SD_UINT16 totalImages, SD_INT16 cardType,
                                     MultibootVersions* pVersions, const sHbaIdentifiers& ids);

// ---- Vrel -------------------------------------------------------------------------------------
// One component by its region type (failures: -8 boot code, -9 RISC
// firmware, -36 signature block; the other components are accepted, without
// a version when they are too short for it).
int ValidateGenericImages(const ILT_Region_t& region, ComponentBytes component, FlashComponentVersion* pVersions,
                          const sHbaIdentifiers& ids);
SD_INT8 ValidateVrelImageComponents(IltBytes buffer, SD_UINT16 totalImages, SD_INT16 cardType,
                                    FlashComponentVersion* pVersions, const sHbaIdentifiers& ids);
// The Vrel checks over every entry, without card-type or chip-revision filter.
SD_INT8 ValidateGenericImageComponents(IltBytes buffer, FlashComponentVersion* pVersions,
                                       const sHbaIdentifiers& ids);
