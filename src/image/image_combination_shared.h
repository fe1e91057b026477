// Components that share bytes in a multiboot image. The combination copies
// every serving component to its own offset of one combined buffer, so where
// two share bytes the one combined later stands there; a component patched
// for the adapter (boot code, configuration tables) and one copied as it is
// cannot both be right in those bytes. Each entry the engine writes keeps
// here, where the buffer holds other bytes than its own combination gives,
// those bytes, and is written from them: every region gets exactly the bytes
// its entry names.
#pragma once

#include <span>
#include <vector>

#include "image/image_combination_copies.h"

// A family's merge of one entry (CombineDorneImage, CombineVrelImage).
using CombineEntryFn = SD_UINT8 (*)(CombinedBytes, const ILT_Region_t*, ImageBytes, const sHbaIdentifiers&);

struct CombinedEntryBytes {
    SD_UINT16 index = 0;            // the entry in the table
    std::vector<SD_UINT8> bytes;    // its component, combined on its own
};

// After `image` was combined into `combined` with `merge`: for each entry
// serving the adapter (card type and chip revision fit) whose type `writes`
// names and that shares bytes with another serving entry, its component
// combined on its own, kept when it differs from its bytes in `combined`.
// 0, else non-zero (an entry past either buffer, a merge that fails, no
// memory) with the reason in the debug log.
int CombineSharedEntries(ImageBytes image, IltBytes combined, SD_INT16 cardType, SD_UINT16 adapterChipRev,
                         const sHbaIdentifiers& ids, CombineEntryFn merge, bool (*writes)(SD_UINT32 type),
                         std::vector<CombinedEntryBytes>* kept);

// The bytes written for the entry at `index`, whose component in the combined
// image is `inCombined`: the bytes kept for it, else those.
std::span<const SD_UINT8> CombinedEntryData(std::span<const CombinedEntryBytes> kept, SD_UINT16 index,
                                            std::span<const SD_UINT8> inCombined);
