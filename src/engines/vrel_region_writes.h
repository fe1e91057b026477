// The region walk of the Vrel engine: for each code of the Vrel order, every
// entry of the combined image that serves the adapter is written to the code's
// counterpart in the set being updated and read back, with its progress lines.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "core/image_status.h"
#include "core/sdm_device.h"
#include "image/flash_memo_block.h"
#include "image/image_combination_shared.h"
#include "image/region_io.h"
#include "mgmt/sd_types.h"

// Outage the firmware's attributes announce for its later activation.
constexpr SD_UINT32 VREL_FW_OUTAGE_SECONDS = 400;

// What the walk needs; every span outlives the walk.
struct VrelWriteContext {
    SDMDevice* device = nullptr;
    int instance = 0;
    std::string model;
    std::span<const SD_UINT8> combined;            // the combined image, its table at the start
    std::span<const CombinedEntryBytes> kept;      // entries written from their own bytes instead
    const SDMOptRomLayoutCopy* layout = nullptr;
    SD_ACTIVE_REGIONS active{};                    // chooses each code's counterpart
    SD_INT16 cardType = 0;
    SD_UINT16 chipRev = 0;
    const FlashComponentVersion* versions = nullptr;
    std::span<const SD_UINT8> activeBootCode;      // the active copies whose settings carry over
    std::span<const SD_UINT8> activeBoardConfig;
    bool allRegionsRequested = false;              // the image-update request names every region
};

struct VrelWriteResult {
    SD_INT32 status = 0;
    bool written = false;                // the last region handled was written and verified
    bool boardConfigHandled = false;     // an FC board-configuration entry was handled
    SD_INT16 regionsUpdated = 0;         // written and verified
    SD_UINT16 forceDisableReset = 0;     // a write answered "flashed, not activated"
    // The records as the walk found them before it held them on what runs
    // (the final switch is built from these); each pair is held once.
    CoreRecordsFound imageStatusFound;
    CoreRecordsFound auxStatusFound;
    bool imageStatusHeld = false;
    bool auxStatusHeld = false;          // the board-configuration copy that runs serves until the switch
    bool memoHeld = false;               // the set's memo block names no version until it is written
    // The memo-block region of the set written as the walk found it before
    // its first write, the memo hold (empty: unread); the final block is
    // built from it once the hold wrote over it.
    std::vector<SD_UINT8> memoFound;
};

// Walks `order` (set-1 codes, 0 ends nothing: zero slots are passed over) until
// a failure. Failure texts (and the last progress line) are formatted into
// `message` for the engine's final line.
void VrelWriteRegions(const VrelWriteContext& ctx, std::span<const SD_UINT32> order, VrelWriteResult* result,
                      std::span<char> message);

// A write the firmware-update lockdown refused, whichever it was: its
// message ("Flash update failed with HBA instance N (model). Firmware
// lockdown mode enabled!") into `message`, and 467.
constexpr SD_INT32 VREL_LOCKDOWN_FAILED = 467;
SD_INT32 VrelLockdownFailure(int instance, const std::string& model, std::span<char> message);

// Whether the walk writes entries of the region type (a code of the order
// with a row of its own; the other types of an image are passed over).
bool VrelWritesType(SD_UINT32 type);

// The region that holds `code` in the layout, or null.
const SDM_OPT_ROM_REGION* VrelFindLayoutRegion(const SDMOptRomLayoutCopy& layout, SD_UINT32 code);
