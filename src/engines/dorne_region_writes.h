// The region writes of the Dorne engines: which image layout table entries
// of the combined image go to which flash region, checked against the flash
// layout before anything is written, and the write of one region with its
// progress item, its read-back and its failure status.
#pragma once

#include <span>
#include <vector>

#include "engines/dorne_engine_support.h"
#include "engines/dorne_image_sets.h"
#include "image/ilt_accessors.h"
#include "image/image_combination_shared.h"

// The sequence codes the engines walk, in order (set-1 codes; 0 ends nothing,
// it is passed over).
constexpr std::size_t DORNE_SEQUENCE_SLOTS = 14;

// One entry of the image layout table met under a sequence code.
struct DorneRegionWrite {
    SD_UINT16 entryIndex = 0;
    SD_UINT16 type = 0;          // the entry's region type (= the sequence code)
    SD_UINT32 target = 0;        // the region written
    SD_UINT32 regionSize = 0;    // the target's size in the flash layout
    SD_UINT32 offset = 0;        // the entry's data in the combined image
    SD_UINT32 length = 0;
    bool write = false;          // false: passed over (card type, chip revision, request, a type not written)
};

struct DorneWritePlan {
    std::vector<DorneRegionWrite> entries;   // in the order of the write loop
    std::size_t toWrite = 0;                 // entries with write set
};

struct DornePlanInput {
    IltBytes combined;                       // the combined image
    std::span<const SD_UINT32> sequence;     // sequence codes, in order
    const SDMOptRomLayoutCopy* layout = nullptr;
    SD_INT16 cardType = 0;
    SD_UINT16 chipRev = 0;
    SD_UINT32 imageSet = 1;                  // the set written (its region codes)
    bool allRegions = true;                  // the image-update request names every region
};

// Whether the engines write entries of the region type (the other types of
// an image are passed over).
bool DorneWritesType(SD_UINT32 type);

// Builds the plan. 0, or -4 when an entry to be written does not lie inside
// the image or does not fit its flash region (the boot code with the image
// layout table after it), or its region is missing from the layout; -1 when
// the plan cannot be allocated. Nothing is written either way.
int DorneBuildWritePlan(const DornePlanInput& in, DorneWritePlan* plan);

struct DorneRegionWriter {
    SDMDevice* device = nullptr;
    IltBytes combined;                       // the combined image (data and its table)
    std::span<const CombinedEntryBytes> kept;   // entries written from their own bytes instead
    std::span<const SD_UINT8> bootBackup;    // the adapter's boot code, source of its BIOS defaults
    SD_UINT16* regionDisableReset = nullptr; // handed to every write; 0x20000100 sets it to 1
    SD_UINT16* forceDisableReset = nullptr;  // set to 1 when a write answered 0x20000100
    bool online = true;                      // firmware attributes are sent before the RISC firmware
    DorneMessage* message = nullptr;
};

// Writes one planned entry (a buffer of the region's size, 0xFF after the
// data) and reads it back: 0, or the region type's failure status with the
// failure's message (0x1D3 for lockdown). Every write attempt is followed by
// a 5-second pause. Every region is read back, but only the on-line regions
// other than the signature show the read-back's own progress item (unless it
// fails).
SD_INT32 DorneWriteRegion(DorneRegionWriter& w, const DorneRegionWrite& entry);

// What the output file shows of one write and its read-back.
enum class DorneLines {
    None,             // nothing
    Write,            // the write's item is completed; a read-back that matches shows nothing, one that differs
                      // shows its item and "Failed"
    WriteAndVerify,   // the write's item and the read-back's item, each completed
};

// The memo block made to name no version before an update's first write
// (ClearFlashMemoBlockVersion); `pFound` gets the region as found for the
// final memo write. 0, 0x1D3 for lockdown (with its message), or 526 (the
// memo block's own "Failed" closes the output; the message is cleared).
SD_INT32 DorneClearMemoBlockVersion(DorneRegionWriter& w, std::vector<SD_UINT8>* pFound);

// Writes `buffer` (all of it) to `region` and reads it back. The caller has
// printed the write's progress item (unless `lines` is None); `verifyText` is
// the read-back's item. 0, or `failStatus` (0x1D3 for lockdown) with the
// failure's message (after a read-back mismatch the message is `verifyText`).
SD_INT32 DorneWriteAndVerify(DorneRegionWriter& w, std::span<const SD_UINT8> buffer, SD_UINT32 region,
                             const char* verifyText, SD_INT32 failStatus, DorneLines lines);

// Writes the image-status records of `plan` in `order` (the record that
// becomes active first) and reads each back; stops at the first failure, so
// the old record keeps its active bit unless the new one is in place. With
// `print`, each record has its progress items (write and read-back); without,
// nothing is printed. `zeroResetFlag`: each record
// is written with a reset-disable flag of 0 instead of the writer's. 2-second
// pause after each. 0, or 0x202 (region 0x95) / 0x203 (0x96), or 0x202 for
// either with `oneStatus`, with the failure's message.
SD_INT32 DorneWriteImageStatusRecords(DorneRegionWriter& w, const DorneImageSets& sets, const DorneRecordPlan& plan,
                                      std::span<const SD_UINT32> order, bool print, bool zeroResetFlag,
                                      bool oneStatus);
