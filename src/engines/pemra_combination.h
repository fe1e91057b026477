// Combining a multiboot image for a Pemra converged adapter (chip type 26):
// the components that serve the adapter's card type and chip revision are
// copied from the image to the same offsets of a combined buffer as long as
// the image, boot code patched with the adapter's identity on the way, and
// the image layout table goes to the buffer's start with a fresh time stamp.
//
// The merge of one entry answers 0 (merged, or a type the family leaves out)
// or its failure code, a byte read by the callers as a signed number (0xEF is
// -17). The loop answers the number of entries merged (0 to 127), -1 for an
// entry that cannot be read, or the first failure code as a positive number
// above 127 (the merge's codes, COMBINE_OUT_OF_BOUNDS for a table that cannot
// be stamped, COMBINE_TOO_MANY past 127 entries).
#pragma once

#include <span>

#include "image/image_combination.h"

// Failure codes of the Pemra merge (besides the shared converged ones).
constexpr SD_UINT8 PEMRA_COMBINE_NIC_FAILED = COMBINE_CNA_REGION_FAILED;       // -17, also CRB init,
                                                                               // boot loader, pegtune
constexpr SD_UINT8 PEMRA_COMBINE_ISCSI_FAILED = COMBINE_CNA_ISCSI_FAILED;      // -23
constexpr SD_UINT8 PEMRA_COMBINE_FCOE_FAILED = COMBINE_CNA_BOOTCODE_FAILED;    // -20
constexpr SD_UINT8 PEMRA_COMBINE_FIRMWARE_FAILED = COMBINE_CNA_FIRMWARE_FAILED;  // -21
constexpr SD_UINT8 PEMRA_COMBINE_RESET_SEQUENCE_FAILED = 0xE8;                 // -24
constexpr SD_UINT8 PEMRA_COMBINE_MINIDUMP_FAILED = 0xE7;                       // -25

// PCI device ids the Pemra boot code is patched for.
constexpr SD_UINT16 PEMRA_NIC_DEVICE_ID = 0x8040;
constexpr SD_UINT16 PEMRA_ISCSI_DEVICE_ID = 0x8042;
constexpr SD_UINT16 PEMRA_FCOE_DEVICE_ID = 0x8044;

// Plain copies of the reset sequence and the minidump templates: 1, or 0
// when the component lies past either buffer (nothing copied).
SD_INT32 UpdateResetSequence(CombinedBytes updatedBuffer, ImageBytes imageBuffer, const ILT_Region_t* region);
SD_INT32 UpdateMiniDumpTemplates(CombinedBytes updatedBuffer, ImageBytes imageBuffer, const ILT_Region_t* region);

// Merges one entry. The CRB init entry is merged only when its chip revision
// is 0 or the adapter's (ids.chipRev); otherwise it is passed over with 0.
SD_UINT8 CombinePemraImage(CombinedBytes updatedBuffer, const ILT_Region_t* region, ImageBytes imageBuffer,
                           const sHbaIdentifiers& ids);

// Merges every entry whose card type and chip revision fit the adapter, then
// stamps the table into the combined buffer. `totalImages` is not consulted.
SD_INT16 CombinePemraImageComponentsInBuffer(CombinedBytes updatedBuffer, std::span<SD_UINT8> imageBuffer,
                                             SD_UINT16 totalImages, SD_INT16 cardType, SD_UINT16 hardwareRevision,
                                             const sHbaIdentifiers& ids);
