// Copies of single components from a multiboot image into the combined
// image an engine writes from: each copies the entry's bytes to the same
// offset of the combined buffer and, for boot code, patches the copy for the
// adapter. The combined buffer is as long as the image; a component that
// lies past either buffer is not copied at all.
//
// Results: 1 done, 0 failed (nothing copied, or the patch or the locator
// check refused the copy, which then stays in the combined buffer as far as
// it was patched).
#pragma once

#include <optional>
#include <span>

#include "image/card_types.h"

using CombinedBytes = std::span<SD_UINT8>;
using ImageBytes = std::span<const SD_UINT8>;

// Plain copies.
SD_INT32 UpdateGenericImageRegion(CombinedBytes pUpdatedFlashImageBuffer, ImageBytes buffer,
                                  const ILT_Region_t* region);
SD_INT32 UpdateCNABootLoaderRegion(CombinedBytes pUpdatedFlashImageBuffer, ImageBytes buffer,
                                   const ILT_Region_t* region);
SD_INT32 UpdateK7RBoardConfigRegion(CombinedBytes pUpdatedFlashImageBuffer, ImageBytes buffer,
                                    const ILT_Region_t* region);
SD_INT32 UpdateCNAPegTuneRegion(CombinedBytes pUpdatedFlashImageBuffer, ImageBytes buffer,
                                const ILT_Region_t* region);
SD_INT32 UpdateCNACRBInitRegion(CombinedBytes pUpdatedFlashImageBuffer, ImageBytes buffer,
                                const ILT_Region_t* region);
SD_INT32 UpdateCNAFirmware(CombinedBytes pUpdatedFlashImageBuffer, ImageBytes buffer, const ILT_Region_t* region);
SD_INT32 UpdateK7RNICPartition(CombinedBytes pUpdatedFlashImageBuffer, ImageBytes buffer,
                               const ILT_Region_t* region);
// `deviceID` is only logged.
SD_INT32 UpdateCNANICBootCode(CombinedBytes pUpdatedFlashImageBuffer, ImageBytes buffer, const ILT_Region_t* region,
                              const sHbaIdentifiers& subSystemInfo, SD_UINT16 deviceID);

// Boot code patched with the adapter's subsystem ids, model and the PCI device id `deviceID`.
SD_INT32 UpdateCNAFCoEBootCode(CombinedBytes pUpdatedFlashImageBuffer, ImageBytes buffer, const ILT_Region_t* region,
                               const sHbaIdentifiers& subSystemInfo, SD_UINT16 deviceID);
SD_INT32 UpdateCNAiSCSIBootCode(CombinedBytes pUpdatedFlashImageBuffer, ImageBytes buffer,
                                const ILT_Region_t* region, const sHbaIdentifiers& subSystemInfo, SD_UINT16 deviceID);

// K7R boot code: after the copy (and patch), a chain whose end is found must
// be followed by a valid flash-layout-table locator.
SD_INT32 UpdateK7RNICBootCode(CombinedBytes pUpdatedFlashImageBuffer, ImageBytes buffer, const ILT_Region_t* region);
SD_INT32 UpdateK7RFCoEBootCode(CombinedBytes pUpdatedFlashImageBuffer, ImageBytes buffer, const ILT_Region_t* region,
                               const sHbaIdentifiers& subSystemInfo, SD_UINT16 deviceID);
SD_INT32 UpdateK7RiSCSIBootCode(CombinedBytes pUpdatedFlashImageBuffer, ImageBytes buffer,
                                const ILT_Region_t* region, const sHbaIdentifiers& subSystemInfo, SD_UINT16 deviceID);

// The copy itself: the component's place in the combined buffer, or nothing
// (nothing copied) for no entry or a component past either buffer.
std::optional<std::span<SD_UINT8>> CopyImageRegion(CombinedBytes pUpdatedFlashImageBuffer, ImageBytes buffer,
                                    const ILT_Region_t* region, const char* who);
