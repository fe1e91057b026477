// Card-type lists of multiboot images and the component fit rules.
#include "image/card_types.h"

#include "frontend/output.h"

namespace {

constexpr SD_UINT16 kOwnVendor = 0x1077;

bool SubsystemIdMatches(SD_UINT16 listed, SD_UINT32 adapter, bool wildcard) {
    return (wildcard && listed == 0xFFFF) || listed == adapter;
}

using Compare = bool (*)(const ILT_CardTypeList_Entry_t*, SD_UINT32, SD_UINT32);

enum class ListWalk { Found, NotFound, Unusable };

// Visits the lists in order and calls `visit(pos)` for each; `visit` returns
// true to stop. Unusable when the table's lists cannot be walked safely.
template <typename Visit>
ListWalk WalkLists(IltBytes buffer, const char* caller, Visit visit) {
    const SD_UINT16 count = ILT_CardType_Header_GetNumOfCardTypeList(buffer);
    if (count > ILT_MAX_CARDTYPE_COUNT) {
        VORNLogMessage(VORN_MSG_DEBUG, "%s: Too many card type lists (%u)", caller, count);
        return ListWalk::Unusable;
    }
    auto pos = ILT_CardTypeList_First(buffer);
    for (SD_UINT32 i = 0; i < count; ++i) {
        if (i > 0 && pos) pos = ILT_CardTypeList_Next(buffer, *pos);
        if (!pos) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s: Card type list %u lies past the image", caller, i);
            return ListWalk::Unusable;
        }
        if (visit(*pos)) return ListWalk::Found;
    }
    return ListWalk::NotFound;
}

enum class EntryMatch { Match, NoMatch, Unusable };

EntryMatch ListNamesAdapter(IltBytes buffer, const ILT_CardTypeListPos& pos, Compare compare, SD_UINT32 ssdid,
                            SD_UINT32 ssvid, const char* caller) {
    if (pos.list.noEntriesInList > ILT_MAX_CARDTYPE_COUNT) {
        VORNLogMessage(VORN_MSG_DEBUG, "%s: Too many entries (%u) in the list of card type 0x%x", caller,
                       pos.list.noEntriesInList, pos.list.listForCardType);
        return EntryMatch::Unusable;
    }
    for (SD_UINT16 e = 0; e < pos.list.noEntriesInList; ++e) {
        const auto entry = ILT_CardTypeList_GetEntry(buffer, pos, e);
        if (!entry) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s: Card type entry %u lies past the image", caller, e);
            return EntryMatch::Unusable;
        }
        if (compare(&*entry, ssdid, ssvid)) return EntryMatch::Match;
    }
    return EntryMatch::NoMatch;
}

SD_INT16 FindCardType(IltBytes buffer, SD_UINT32 ssdid, SD_UINT32 ssvid, Compare compare, const char* caller) {
    const bool single = ILT_CardType_Header_GetNumOfCardTypeList(buffer) == 1;
    SD_INT16 cardType = CARD_TYPE_NONE;
    bool unusable = false;
    const ListWalk walk = WalkLists(buffer, caller, [&](const ILT_CardTypeListPos& pos) {
        if (pos.list.listForCardType == 0 && !single) return false;
        switch (ListNamesAdapter(buffer, pos, compare, ssdid, ssvid, caller)) {
            case EntryMatch::Match:
                cardType = static_cast<SD_INT16>(pos.list.listForCardType);
                return true;
            case EntryMatch::Unusable:
                unusable = true;
                return true;
            case EntryMatch::NoMatch:
                break;
        }
        return false;
    });
    if (walk != ListWalk::Found || unusable) cardType = CARD_TYPE_NONE;
    VORNLogMessage(VORN_MSG_DEBUG, "%s: ssdid=0x%x ssvid=0x%x card type=%d", caller, ssdid, ssvid, cardType);
    return cardType;
}

}  // namespace

bool ILT_CardTypeList_CompareSignature(const ILT_CardTypeList_Entry_t* entry, SD_UINT32 subsysDeviceId,
                                       SD_UINT32 subsysVendorId) {
    if (entry == nullptr) return false;
    const bool own = entry->vendorID == kOwnVendor;
    const bool fennick = own && (entry->deviceID == 0x8000 || entry->deviceID == 0x8001);
    const bool k7r = own && (entry->deviceID == 0x8020 || entry->deviceID == 0x8021);
    const bool wildcard = fennick || k7r;
    const bool match = SubsystemIdMatches(entry->subSystemDID, subsysDeviceId, wildcard) &&
                       SubsystemIdMatches(entry->subSystemVID, subsysVendorId, wildcard);
    if (match && fennick)
        VORNLogMessage(VORN_MSG_DEBUG, "ILT_CardTypeList_CompareSignature: Matched Fennick card type");
    else if (match && k7r)
        VORNLogMessage(VORN_MSG_DEBUG, "ILT_CardTypeList_CompareSignature: Matched K7R card type");
    return match;
}

bool ILT_TorviCardTypeList_CompareSignature(const ILT_CardTypeList_Entry_t* entry, SD_UINT32 subsysDeviceId,
                                            SD_UINT32 subsysVendorId) {
    if (entry == nullptr) return false;
    if (entry->subSystemDID != subsysDeviceId || entry->subSystemVID != subsysVendorId) return false;
    const char* kind = "Found matching card type";
    if (entry->vendorID == kOwnVendor && (entry->deviceID == 0x8010 || entry->deviceID == 0x8011))
        kind = "Found matching Torvi CNA card type";
    else if (entry->deviceID == 0x2031)
        kind = "Found matching Torvi FC card type";
    else if (entry->deviceID == 0x8044)
        kind = "Found matching Pemra CNA card type";
    VORNLogMessage(VORN_MSG_DEBUG, "ILT_TorviCardTypeList_CompareSignature: %s", kind);
    return true;
}

bool ILT_CardTypeList_SearchSignatureInDefaultCardList(IltBytes buffer, SD_UINT32 subsysDeviceId,
                                                       SD_UINT32 subsysVendorId) {
    static constexpr const char* kName = "ILT_CardTypeList_SearchSignatureInDefaultCardList";
    bool found = false;
    const ListWalk walk = WalkLists(buffer, kName, [&](const ILT_CardTypeListPos& pos) {
        if (pos.list.listForCardType != 0) return false;
        const EntryMatch m =
            ListNamesAdapter(buffer, pos, ILT_CardTypeList_CompareSignature, subsysDeviceId, subsysVendorId, kName);
        found = m == EntryMatch::Match;
        return m != EntryMatch::NoMatch;
    });
    return walk == ListWalk::Found && found;
}

SD_INT16 ILT_CardTypeList_GetMyCardTypeFromCardList(IltBytes buffer, SD_UINT32 subsysDeviceId,
                                                    SD_UINT32 subsysVendorId) {
    return FindCardType(buffer, subsysDeviceId, subsysVendorId, ILT_CardTypeList_CompareSignature,
                        "ILT_CardTypeList_GetMyCardTypeFromCardList");
}

SD_INT16 ILT_K7RCardTypeList_GetMyCardTypeFromCardList(IltBytes buffer, SD_UINT32 subsysDeviceId,
                                                       SD_UINT32 subsysVendorId) {
    return FindCardType(buffer, subsysDeviceId, subsysVendorId, ILT_CardTypeList_CompareSignature,
                        "ILT_K7RCardTypeList_GetMyCardTypeFromCardList");
}

SD_INT16 ILT_TorviCardTypeList_GetMyCardTypeFromCardList(IltBytes buffer, SD_UINT32 subsysDeviceId,
                                                         SD_UINT32 subsysVendorId) {
    return FindCardType(buffer, subsysDeviceId, subsysVendorId, ILT_TorviCardTypeList_CompareSignature,
                        "ILT_TorviCardTypeList_GetMyCardTypeFromCardList");
}

bool CardTypeComapre(SD_UINT16 componentCardTypes, SD_UINT16 adapterCardType) {
    const SD_UINT16 component = componentCardTypes & static_cast<SD_UINT16>(~CARD_TYPE_SWAP_BIT);
    const SD_UINT16 adapter = adapterCardType & static_cast<SD_UINT16>(~CARD_TYPE_SWAP_BIT);
    if (component == 0) return true;
    const bool shared = (component & adapter) != 0;
    VORNLogMessage(VORN_MSG_DEBUG, shared ? "CardTypeComapre: %d vs %d passed" : "CardTypeComapre: %d vs %d failed",
                   component, adapter);
    return shared;
}

bool HwRevComapre(SD_UINT16 adapterChipRev, SD_UINT16 componentChipRev) {
    return componentChipRev == 0 || componentChipRev == adapterChipRev;
}

void ResetSwapBit(SD_UINT16* cardType) {
    if (cardType != nullptr) *cardType &= static_cast<SD_UINT16>(~CARD_TYPE_SWAP_BIT);
}
