// The two image sets of a Dorne adapter and the image-status records
// (regions 0x95 primary, 0x96 secondary) that choose which one it starts
// from: reading them, the set the adapter boots, and the records an update
// writes once its regions are in place.
//
// The records are judged as the adapter judges them at boot: a record that
// cannot be read or is not valid counts as mask 0, generation 0; masks 1/0 or
// 0/1 decide; otherwise the higher generation, equal meaning primary.
#pragma once

#include <array>
#include <span>

#include "core/image_status.h"
#include "core/sdm_device.h"
#include "image/region_io.h"
#include "mgmt/sd_types.h"

struct DorneStatusRecord {
    SD_UINT32 region = 0;        // 0x95 or 0x96
    SD_UINT32 regionSize = 0;    // in the flash layout; 0: the layout lacks the region
    bool readable = false;       // read without error
    bool valid = false;          // signature and checksum hold
    std::array<SD_UINT8, IMAGE_STATUS_RECORD_SIZE> bytes{};   // as read (zeros when unread)
};

struct DorneImageSets {
    DorneStatusRecord primary;
    DorneStatusRecord secondary;
};

// What the boot rule reads from one record.
struct DorneSetState {
    SD_UINT8 mask = 0;           // bit 0 of the mask byte
    SD_UINT16 generation = 0;
};

// Reads both records (the regions the layout holds).
void DorneReadImageSets(SDMDevice* pDevice, const SDMOptRomLayoutCopy& layout, DorneImageSets* sets);

DorneSetState DorneBootState(const DorneStatusRecord& record);
// The set the adapter boots from these records: 1 or 2.
SD_UINT32 DorneBootSet(const DorneImageSets& sets);
// The primary set boots by its mask alone (masks 1/0; an unread or invalid
// record counts as mask 0).
bool DornePrimaryBootsByMask(const DorneImageSets& sets);

// The records to write, in memory; each 16 bytes with its checksum.
struct DorneRecordPlan {
    SD_UINT32 activeSet = 1;                 // the set the records make active
    bool writePrimary = true;                // false: the primary's record stays as it is
    SD_UINT16 primaryGeneration = 0;
    SD_UINT16 secondaryGeneration = 0;
    std::array<SD_UINT8, IMAGE_STATUS_RECORD_SIZE> primary{};
    std::array<SD_UINT8, IMAGE_STATUS_RECORD_SIZE> secondary{};
};

// The on-line update writes the set the adapter does not boot and makes it
// active with the larger generation plus one (16 bits, 0xFFFF becomes 1).
DorneRecordPlan DornePlanOnlineRecords(const DorneImageSets& sets);
// The off-line update always writes the primary set. False when the primary
// set already boots by its mask (1/0) and the secondary record holds or
// cannot be read, or neither record could be read: the records then stay.
// With the primary booting and the secondary record readable but not valid,
// only the secondary is written (writePrimary false), rebuilt one generation
// behind the primary (0 behind 0). Otherwise the
// records make the primary set active: with the secondary active or ahead, the
// primary takes the secondary's generation and the secondary one less; equal
// generations move the primary one up; a primary ahead keeps both. A primary
// generation of 0xFFFF becomes 1 and the secondary's then 0.
bool DornePlanOfflineRecords(const DorneImageSets& sets, DorneRecordPlan* plan);

// The records held on the set the adapter runs (`runningSet`, 1 or 2, as the
// library names it) before the off-line update rewrites the primary: when
// the records start the primary while the secondary runs, the secondary's
// record active with the next generation and the primary's active bit
// cleared (CoreBuildImageStatusHold). False, `hold` unchanged, otherwise.
bool DornePlanHold(const DorneImageSets& sets, SD_UINT32 runningSet, DorneRecordPlan* hold);
// After such a hold: the records the final switch writes, both of them.
// Those of `plan` when `planned` (the plan from the records as found), else
// the records as found (the primary booting by its mask; a secondary that
// was not valid rebuilt one generation behind): the run ends as a run over
// records never held. Always true.
bool DornePlanRecordsAfterHold(const DorneImageSets& found, bool planned, DorneRecordPlan* plan);

// A record made active (set) or inactive: an invalid or unread record is
// first rebuilt whole with the chip's signature (CoreRebuildImageStatusRecord,
// taking what `partner`, the other set's record, carries); then bit 0 of the
// mask, the generation and the checksum. Exposed for the tests.
std::array<SD_UINT8, IMAGE_STATUS_RECORD_SIZE> DornePrepareRecord(const DorneStatusRecord& record,
                                                                 const DorneStatusRecord& partner, bool active,
                                                                 SD_UINT16 generation);
