// Card types: which card type an adapter is in a multiboot image, and whether
// a component's card-type mask and chip revision serve the adapter. Also the
// identity record of the adapter port being updated.
//
// A card type is 16 bits: bit 15 the swap-mode flag, bits 0-14 a mask. An
// adapter's card type is the listForCardType of the card-type list naming it;
// the default list (card type 0) names every model the image may go to.
#pragma once

#include "image/ilt_accessors.h"
#include "mgmt/sd_types.h"

constexpr SD_UINT16 CARD_TYPE_SWAP_BIT = 0x8000;
constexpr SD_INT16 CARD_TYPE_NONE = -1;

// The adapter port being updated, as the engines hand it to the component checks.
typedef struct _sHbaIdentifiers {
    SD_UINT32 vendorId;       // PCI subsystem vendor id
    SD_UINT32 deviceId;       // PCI subsystem device id
    SD_UINT32 deviceNumber;
    SD_UINT32 region;
    SD_UINT32 bufSize;
    SD_UINT16 deviceISP;      // PCI device id of the port
    SD_UINT16 chipRev;
    char acHBAModel[256];
    SD_UINT16 cardType;
    SD_INT32 iReserved[253];
} sHbaIdentifiers;

// Whether a list entry names the adapter (by its subsystem ids only). The
// entries of the first converged and K7R models (vendor 0x1077, device 0x8000,
// 0x8001, 0x8020, 0x8021) take 0xFFFF in a subsystem id as "any"; every other
// entry must match exactly. False for a null entry.
bool ILT_CardTypeList_CompareSignature(const ILT_CardTypeList_Entry_t* entry, SD_UINT32 subsysDeviceId,
                                       SD_UINT32 subsysVendorId);
// Exact subsystem ids for every entry.
bool ILT_TorviCardTypeList_CompareSignature(const ILT_CardTypeList_Entry_t* entry, SD_UINT32 subsysDeviceId,
                                            SD_UINT32 subsysVendorId);

// True when a default list (card type 0) names the adapter (generic compare).
// False when the table has no lists, more than 255, or a list reaching past the buffer.
bool ILT_CardTypeList_SearchSignatureInDefaultCardList(IltBytes buffer, SD_UINT32 subsysDeviceId,
                                                       SD_UINT32 subsysVendorId);
// The adapter's card type: the listForCardType of the first list naming it.
// A table of one list has that list searched even when it is the default;
// otherwise default lists are passed over. -1 when no list names it, and for
// a table whose lists the walk cannot handle (more than 255 lists or
// entries, or lists reaching past the buffer).
SD_INT16 ILT_CardTypeList_GetMyCardTypeFromCardList(IltBytes buffer, SD_UINT32 subsysDeviceId,
                                                    SD_UINT32 subsysVendorId);
SD_INT16 ILT_K7RCardTypeList_GetMyCardTypeFromCardList(IltBytes buffer, SD_UINT32 subsysDeviceId,
                                                       SD_UINT32 subsysVendorId);
// The same search with the exact compare.
SD_INT16 ILT_TorviCardTypeList_GetMyCardTypeFromCardList(IltBytes buffer, SD_UINT32 subsysDeviceId,
                                                         SD_UINT32 subsysVendorId);

// Whether a component (its swapModeCardType) serves the adapter's card type:
// swap bits aside, mask 0 serves every card type, else some bit must be shared.
bool CardTypeComapre(SD_UINT16 componentCardTypes, SD_UINT16 adapterCardType);
// Whether a component built for `componentChipRev` (0 = any) fits the adapter.
bool HwRevComapre(SD_UINT16 adapterChipRev, SD_UINT16 componentChipRev);
// Clears the swap-mode bit in place (nothing for null).
void ResetSwapBit(SD_UINT16* cardType);
