// Whether every component an engine will write fits the flash region it is
// written to, checked before anything is written: the engines copy each
// component, and after the boot code the whole image layout table, into a
// buffer of the flash region's size.
#pragma once

#include <span>

#include "image/ilt_accessors.h"
#include "mgmt/sd_types.h"

// The status the engines report for an image that does not fit the adapter's flash.
constexpr int IMGVAL_REGION_LIMIT = 34;

// For each non-zero code of `regionCodes` (the set-1 codes the engine writes
// from the image) and each entry of that type serving the adapter (card type
// and chip revision fit): the code must be in the flash layout, and the
// entry's data, plus the table length for the boot code (0x07) and its
// expansion (0x11), must lie inside the image and not exceed the region's
// size. 0 when all fit, else 34 (the first misfit goes to the debug log).
int ValidateImageRegionsFitLayout(IltBytes image, std::span<const SD_UINT32> regionCodes,
                                  std::span<const SDM_OPT_ROM_REGION> layout, SD_INT16 cardType,
                                  SD_UINT16 adapterChipRev);
