// Combining a multiboot image for one adapter: the components that serve the
// adapter's card type (and chip revision) are copied from the image into a
// combined buffer as long as the image, each at its own offset, boot code and
// configuration tables patched for the adapter on the way; then the image
// layout table goes to the buffer's start with a fresh time stamp. The
// engines write every region from the combined buffer.
//
// The merges of one entry answer 0 (merged, or a type the family leaves out)
// or their failure code. The loops answer the number of entries merged (0 to
// 127), -1 for an entry that cannot be read, or the first failure code (a
// positive number above 127): the family's codes, COMBINE_OUT_OF_BOUNDS for
// a component past either buffer or a table that cannot be stamped into the
// combined buffer, COMBINE_TOO_MANY past 127 entries.
#pragma once

#include "image/image_combination_copies.h"

// Family failure codes.
constexpr SD_UINT8 COMBINE_BOOTCODE_FAILED = 0xE5;       // Dorne and Vrel boot code
constexpr SD_UINT8 COMBINE_PRELOAD_FAILED = 0xDA;
constexpr SD_UINT8 COMBINE_FC_BRDCFG_FAILED = 0xD2;
constexpr SD_UINT8 COMBINE_PEP_BRDCFG_FAILED = 0xD8;
constexpr SD_UINT8 COMBINE_CNA_ISCSI_FAILED = 0xE9;
constexpr SD_UINT8 COMBINE_CNA_FIRMWARE_FAILED = 0xEB;
constexpr SD_UINT8 COMBINE_CNA_BOOTCODE_FAILED = 0xEC;
constexpr SD_UINT8 COMBINE_CNA_REGION_FAILED = 0xEF;
// Any family: a plain copy or the table stamp that cannot be made safely;
// more entries than a count can tell from a failure code.
constexpr SD_UINT8 COMBINE_OUT_OF_BOUNDS = 0xFE;
constexpr SD_UINT8 COMBINE_TOO_MANY = 0xFD;
constexpr int COMBINE_MAX_ENTRIES = 127;

// ---- Dorne ------------------------------------------------------------------------------------
SD_UINT8 CombineDorneImage(CombinedBytes updateBuffer, const ILT_Region_t* region, ImageBytes buffer,
                           const sHbaIdentifiers& subSystemInfo);
// `totalImages` is not used. The table at the start of `buffer` gets its
// checksum field rewritten by the stamp.
SD_INT16 CombineDorneImageComponentsInBuffer(CombinedBytes pUpdatedFlashImageBuffer, std::span<SD_UINT8> buffer,
                                             SD_UINT16 totalImages, SD_INT16 cardType,
                                             const sHbaIdentifiers& subSystemInfo, SD_UINT16 adapterChipRev);

// ---- Vrel -------------------------------------------------------------------------------------
// Copy, then patch the table with the adapter's ids and checksum: 1, or 0
// when the copy or the patch was refused.
SD_INT32 UpdateFWAPreloadImageRegion(CombinedBytes pUpdatedFlashImageBuffer, ImageBytes buffer,
                                     const ILT_Region_t* region, const sHbaIdentifiers& subSystemInfo);
SD_INT32 UpdateFCBoardCfgImageRegion(CombinedBytes pUpdatedFlashImageBuffer, ImageBytes buffer,
                                     const ILT_Region_t* region, const sHbaIdentifiers& subSystemInfo);
SD_INT32 UpdatePEPBoardCfgImageRegion(CombinedBytes pUpdatedFlashImageBuffer, ImageBytes buffer,
                                      const ILT_Region_t* region, const sHbaIdentifiers& subSystemInfo);
SD_UINT8 CombineVrelImage(CombinedBytes updateBuffer, const ILT_Region_t* region, ImageBytes buffer,
                          const sHbaIdentifiers& subSystemInfo);
SD_INT16 CombineVrelImageComponentsInBuffer(CombinedBytes pUpdatedFlashImageBuffer, std::span<SD_UINT8> buffer,
                                            SD_UINT16 totalImages, SD_INT16 cardType,
                                            const sHbaIdentifiers& subSystemInfo, SD_UINT16 adapterChipRev);

// ---- Converged ----------------------------------------------------------------------------------
SD_UINT8 CombineK7RImage(CombinedBytes updateBuffer, const ILT_Region_t* region, ImageBytes buffer,
                         const sHbaIdentifiers& subSystemInfo);
// The CRB init entry is merged only when its chip revision is 0 or subSystemInfo.chipRev.
SD_UINT8 CombineTorviImage(CombinedBytes updateBuffer, const ILT_Region_t* region, ImageBytes buffer,
                           const sHbaIdentifiers& subSystemInfo);
// The K7R loop filters by card type only; the Torvi loop by chip revision too.
SD_INT16 CombineK7RImageComponentsInBuffer(CombinedBytes pUpdatedFlashImageBuffer, std::span<SD_UINT8> buffer,
                                           SD_UINT16 totalImages, SD_INT16 cardType,
                                           const sHbaIdentifiers& subSystemInfo);
SD_INT16 CombineTorviImageComponentsInBuffer(CombinedBytes pUpdatedFlashImageBuffer, std::span<SD_UINT8> buffer,
                                             SD_UINT16 totalImages, SD_INT16 cardType,
                                             const sHbaIdentifiers& subSystemInfo, SD_UINT16 adapterChipRev);
