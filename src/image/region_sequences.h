// The orders in which the Dorne and Vrel engines write the regions of an
// image set (boot code early, the image-status regions that choose the set
// the adapter starts from late), and the mapping of a set-1 region code to
// the same region in set 2.
//
// The fill functions write region codes into the caller's array; a 0 entry
// ends a sequence. An array too small for its order is left all zero (the
// VPD order, which does not clear, leaves it untouched), so that an engine
// never writes a cut-short order. `chipRevision` does not change any order.
#pragma once

#include <span>

#include "mgmt/sd_types.h"

constexpr SD_UINT32 REGION_SET_PRIMARY = 1;
constexpr SD_UINT32 REGION_SET_SECONDARY = 2;

// Capacities the engines use.
constexpr std::size_t REGION_SEQ_IMAGE_STATUS_SIZE = 2;
constexpr std::size_t REGION_SEQ_VPD_SIZE = 4;
constexpr std::size_t REGION_SEQ_DORNE_SIZE = 14;
constexpr std::size_t REGION_SEQ_VREL_SIZE = 20;

// Clears; set 1: 0x95, 0x96; any other value: 0x96, 0x95.
void InitImageStatusFlashUpdateSequence(std::span<SD_UINT32> uFlashUpdateArraySequence, SD_UINT32 chipRevision,
                                        SD_UINT32 uActiveRegion);
// Does not clear; sets 0x14, 0x16, 0xD4, 0xD6 for set 1 or 2 (the VPD regions
// both sets share), nothing for any other value.
void InitDorneVpdUpdateSequence(std::span<SD_UINT32> uFlashUpdateArraySequence, SD_UINT32 chipRevision,
                                SD_UINT32 initImageSet);
// Clears; the offline order (11 entries, set-1 codes).
void InitDorneFlashUpdateSequence(std::span<SD_UINT32> uFlashUpdateArraySequence, SD_UINT32 chipRevision);
// Clears; the online order of set 1 or 2 (13 entries); all zero for another set.
void InitDorneSecuredOnlineFlashUpdateSequence(std::span<SD_UINT32> uFlashUpdateArraySequence,
                                               SD_UINT32 chipRevision, SD_UINT32 initImageSet);
// Clears; the Vrel order of set 1 or 2 (16 entries); all zero for another set.
void InitOnlineFlashUpdateSequenceForVrelAdapter(std::span<SD_UINT32> uFlashUpdateArraySequence,
                                                 SD_UINT32 chipRevision, SD_UINT32 initImageSet);

// The region to write for a set-1 region code in the given set; stored through
// uRetRegion when it is not null.
SD_UINT32 GetActualRegionToUpdate(SD_UINT32 uRegion, SD_UINT32* uRetRegion, SD_INT32 iRegionSet);
// The image-layout-table form of the same mapping.
SD_UINT32 GetDorneFlashImageILTRegion(SD_UINT32 uRegionNo, SD_UINT32 initImageSet);
