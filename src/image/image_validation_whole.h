// The multiboot image of a Dorne (chip type 25) or Vrel (chip type 27)
// adapter taken as a whole, before the engines combine and write it: the
// entries that serve the adapter (card type and chip revision fit) must make
// one complete image set for it.
//
// The engines copy every serving component to its own offset of the combined
// image and then the table to its start, and write each region from there;
// an entry that shares bytes with the table or with another component, names
// a region the adapter lacks, is empty or repeats a region would put wrong
// bytes into flash, and a set without one of the components the adapter runs
// from would boot without it.
#pragma once

#include <span>

#include "image/ilt_accessors.h"
#include "mgmt/sd_types.h"

// The status of an image refused here (the engines' "Wrong flash component").
constexpr int ILT_WRONG_COMPONENT = 507;

// The components an adapter of the family runs from, which every image must
// carry for it: the FC boot code, the FC RISC firmware, the MPI and the PEP
// firmware. The other components of the families' images stay optional.
inline constexpr SD_UINT32 IMAGE_SET_NEEDS_DORNE[] = {0x07, 0x01, 0xD3, 0xD1};
inline constexpr SD_UINT32 IMAGE_SET_NEEDS_VREL[] = {0x07, 0x01, 0xD3, 0xD1};

// Checks the serving entries of an image whose table lies inside it (the
// header check has passed): each names a region of `layout` (never 0 or
// 0xFFFF), is not empty, lies inside the image, shares no byte with the
// table (as far as its header's length and its card-type lists reach) nor
// with another serving component, and no two name the same region; every
// code of `needs` has a serving entry. 0, else 507 with the reason in the
// debug log. A negative card type (none for the adapter) serves nothing and
// so fails on the needed components.
int ValidateImageSetAsWhole(IltBytes image, SD_INT16 cardType, SD_UINT16 adapterChipRev,
                            std::span<const SDM_OPT_ROM_REGION> layout, std::span<const SD_UINT32> needs);

// The bytes from the image's start that belong to its table: the larger of
// the header's table length and the end of its last card-type list.
std::size_t ILT_TableExtent(IltBytes image);
