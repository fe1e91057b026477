// The walk over an image layout table that every family's component check
// shares: the entries that serve the adapter, each component cut out of the
// image by its entry and handed to the family's per-region check.
#pragma once

#include <functional>
#include <optional>

#include "image/ilt_accessors.h"
#include "image/image_validation_headers.h"

// A per-region check: 0 accepts the component, anything else is its failure.
using ImageRegionCheck = std::function<int(const ILT_Region_t& region, ComponentBytes component)>;

// Visits region entries 0 .. numOfEntries-2 whose card-type mask serves
// `cardType` and, when `adapterChipRev` is given, whose chip revision fits.
// Returns the number of components checked, or the first failure: the
// check's own, IMGVAL_OUT_OF_BOUNDS for an entry or a component that lies
// past the image, IMGVAL_TOO_MANY_COMPONENTS past 127 components. An empty
// image or a negative card type checks nothing (0).
int ValidateImageComponentsLoop(IltBytes buffer, SD_INT16 cardType, std::optional<SD_UINT16> adapterChipRev,
                                const char* who, const ImageRegionCheck& check);

// The same walk over every region entry, without a card-type or chip-revision filter.
int ValidateEveryImageComponent(IltBytes buffer, const char* who, const ImageRegionCheck& check);

// The image's version and build date from its table header into the new
// multiboot, FFV and build-date fields (nothing for a buffer under 32 bytes).
void CopyImageHeaderVersions(IltBytes buffer, MultibootVersions* pVersions);
void CopyImageHeaderVersions(IltBytes buffer, FlashComponentVersion* pVersions);
