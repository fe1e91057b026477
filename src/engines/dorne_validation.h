// The validation chain of the Dorne engines, run before anything is written:
// the image's regions, its layout table header, the adapter's card type, the
// components and their count, the combination of the components into the
// buffer that is written, and the fit of every region that will be written
// into its flash region. Its progress item and its one failure message go to
// the output file (the engines' status table).
#pragma once

#include <span>
#include <vector>

#include "engines/dorne_engine_support.h"
#include "engines/dorne_region_writes.h"
#include "image/card_types.h"
#include "image/flash_memo_block.h"

struct DorneValidationInput {
    SDMDevice* device = nullptr;
    std::span<SD_UINT8> image;                 // the unpacked image (its table checksum is rewritten)
    const char* fileName = nullptr;
    SD_UINT16 ssdid = 0;                       // the ids the image is validated for
    SD_UINT16 ssvid = 0;
    const sHbaIdentifiers* ids = nullptr;
    const SDMOptRomLayoutCopy* layout = nullptr;
    SD_UINT32 imageSet = 1;                    // the set that will be written
    bool allRegions = true;                    // the image-update request names every region
    // The set is rewritten in place and keeps booting: a component the image
    // has no entry for stays as it is on flash, so none is needed from it.
    bool inPlace = false;
};

struct DorneValidated {
    std::vector<SD_UINT8> combined;            // what is written
    std::vector<CombinedEntryBytes> kept;      // entries written from their own bytes instead (shared bytes)
    MultibootVersions versions{};              // the image's versions
    SD_INT16 cardType = CARD_TYPE_NONE;
    DorneWritePlan plan;                       // entries of the combined image, in write order
};

// Runs the chain. `ready` false means the failure was reported ("Failed" and
// its message) and `status` is what the engine returns. An image with nothing
// to write for this adapter fails with 34.
EngineValidationResult DorneValidateImage(const DorneValidationInput& in, DorneValidated* out, DorneMessage& message);

// The sequence codes of the Dorne engines (14 slots).
void DorneSequence(std::span<SD_UINT32, DORNE_SEQUENCE_SLOTS> sequence, SD_UINT16 chipRev);
