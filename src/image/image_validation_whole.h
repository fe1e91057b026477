// The multiboot image of a Dorne (chip type 25) or Vrel (chip type 27)
// adapter taken as a whole, before the engines combine and write it.
//
// Refused is only what cannot be right: a set without a component the
// adapter cannot start without, and an entry the engine will write that is
// empty, lies past the image, shares bytes with the layout table (the table
// is stamped over the start of the combined image, so its bytes would be
// written instead) or names a region the adapter's flash layout lacks. An
// entry the engine does not write (a type it never copies, or copies only)
// harms nothing and is not looked at; two entries for one region are both
// written in table order, and entries that share bytes each get their own
// (image_combination_shared.h).
#pragma once

#include <span>

#include "image/ilt_accessors.h"
#include "mgmt/sd_types.h"

// The status of an image refused here (the engines' "Wrong flash component").
constexpr int ILT_WRONG_COMPONENT = 507;

// The components a set of the family cannot start without. Chip type 25
// keeps one copy of the MPI and PEP firmware for both sets: an image without
// them leaves the running copies. Chip type 27 has them in each set (0xD3 and
// 0xF0, 0xD1 and 0xF1), so the set written needs them from the image.
inline constexpr SD_UINT32 IMAGE_SET_NEEDS_DORNE[] = {0x07, 0x01};
inline constexpr SD_UINT32 IMAGE_SET_NEEDS_VREL[] = {0x07, 0x01, 0xD3, 0xD1};

// What an engine makes of the image.
struct ImageSetRules {
    std::span<const SD_UINT32> needs;           // each must have a serving entry
    bool (*writes)(SD_UINT32 type) = nullptr;   // the entry types it writes to flash
};

// Checks the entries that serve the adapter (card type and chip revision
// fit) of an image whose table lies inside it (the header check has passed):
// every code of `rules.needs` has one, and each whose type the engine
// writes is not empty, lies inside the image after the table (as far as its
// header's length and its card-type lists reach) and names a region of
// `layout`. 0, else 507 with the reason in the debug log. A negative card
// type (none for the adapter) serves nothing and so fails on the needed
// components.
int ValidateImageSetAsWhole(IltBytes image, SD_INT16 cardType, SD_UINT16 adapterChipRev,
                            std::span<const SDM_OPT_ROM_REGION> layout, const ImageSetRules& rules);

// The bytes from the image's start that belong to its table: the larger of
// the header's table length and the end of its last card-type list.
std::size_t ILT_TableExtent(IltBytes image);
