// Checks of a multiboot image's layout table that each adapter family's
// engine runs before it writes anything: signature, table version, chip
// revision of the regions the family must update, the adapter's card type,
// and the size of each region against the adapter's flash layout.
//
// Engines call, in order: the family's region-presence count, its header
// check, its card-type lookup, the component checks and ValidateILTRegionLen.
#pragma once

#include <span>

#include "image/flash_memo_block.h"
#include "image/ilt_accessors.h"

// Slots of the families' required-region lists.
constexpr std::size_t ILT_K7R_REGION_SLOTS = 8;
constexpr std::size_t ILT_TORVI_REGION_SLOTS = 13;
constexpr std::size_t ILT_PEMRA_REGION_SLOTS = 10;
constexpr std::size_t ILT_DORNE_REGION_SLOTS = 14;
constexpr std::size_t ILT_VREL_REGION_SLOTS = 20;

// Required-region lists: zero every slot of `array`, then fill the family's
// codes from slot 0 (as many as the array holds); each slot goes to the debug log.
void ILT_InitK7RRegionsToUpdate(std::span<SD_UINT32> array, SD_UINT16 chipRevision);
void ILT_InitTorviRegionsToUpdate(std::span<SD_UINT32> array, SD_UINT16 chipRevision);
void ILT_InitPemraRegionsToUpdate(std::span<SD_UINT32> array, SD_UINT16 chipRevision);
void ILT_InitDorneSecuredOnlineRegionsToUpdate(std::span<SD_UINT32> array, SD_UINT16 chipRevision);
void ILT_InitVrelOnlineRegionsToUpdate(std::span<SD_UINT32> array, SD_UINT16 chipRevision);

// Header checks, one per family: 0 when the image fits the adapter; 451 for
// a buffer under 32 bytes, a table (entries, time stamp, card-type lists) or
// a component reaching past the buffer, a table without entries, or no card
// type for the adapter; 450 bad signature; 506 table version above 4; 505 a
// required region present only for chip revisions that do not fit. The K7R
// check with chip revision 0 skips the version and region checks.
int ValidateILTImageHeader(SD_UINT32 subsysDeviceId, SD_UINT32 subsysVendorId, IltBytes buffer,
                           SD_UINT16 adapterChipRev);
int ValidateTorviILTImageHeader(SD_UINT32 subsysDeviceId, SD_UINT32 subsysVendorId, IltBytes buffer,
                                SD_UINT16 adapterChipRev);
int ValidatePemraILTImageHeader(SD_UINT32 subsysDeviceId, SD_UINT32 subsysVendorId, IltBytes buffer,
                                SD_UINT16 adapterChipRev);
int ValidateDorneILTImageHeader(SD_UINT32 subsysDeviceId, SD_UINT32 subsysVendorId, IltBytes buffer,
                                SD_UINT16 adapterChipRev);
int ValidateVrelILTImageHeader(SD_UINT32 subsysDeviceId, SD_UINT32 subsysVendorId, IltBytes buffer,
                               SD_UINT16 adapterChipRev);

// Region-presence counts: log how many of the first iMaxSeqSize-1 codes of
// the sequence have an entry. 0 (also for an empty buffer), 450, 506, or 451
// for a buffer under 32 bytes or a table reaching past it.
int ValidateILTImageRegionsToUpdate(IltBytes buffer, std::span<const SD_UINT32> flashUpdateSequence,
                                    SD_UINT16 iMaxSeqSize, SD_UINT16 adapterChipRev);
int ValidateTorviILTImageRegionsToUpdate(IltBytes buffer, std::span<const SD_UINT32> flashUpdateSequence,
                                         SD_UINT16 iMaxSeqSize, SD_UINT16 adapterChipRev);
int ValidatePemraILTImageRegionsToUpdate(IltBytes buffer, std::span<const SD_UINT32> flashUpdateSequence,
                                         SD_UINT16 iMaxSeqSize, SD_UINT16 adapterChipRev);
int ValidateDorneILTImageRegionsToUpdate(IltBytes buffer, std::span<const SD_UINT32> flashUpdateSequence,
                                         SD_UINT16 iMaxSeqSize, SD_UINT16 adapterChipRev);
int ValidateVrelILTImageRegionsToUpdate(IltBytes buffer, std::span<const SD_UINT32> flashUpdateSequence,
                                        SD_UINT16 iMaxSeqSize, SD_UINT16 adapterChipRev);

// -4 when the first entry of the region code is larger than the region in
// the adapter's flash layout; 0 otherwise, also without such an entry.
int ValidateILTRegionLen(IltBytes buffer, SD_UINT32 regionCode, SD_UINT32 flashRegionSize);

// Copies the image's build date into the version record: 0, 450 (bad
// signature, nothing copied) or 451 (buffer under 32 bytes).
int GetILTImageBuildDate(IltBytes buffer, MultibootVersions& versions);
