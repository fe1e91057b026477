// The Dorne and Vrel image as one image set for the adapter.
#include "image/image_validation_whole.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "frontend/output.h"
#include "image/card_types.h"
#include "image/word_helpers.h"

namespace {

constexpr const char* kWho = "ValidateImageSetAsWhole";

bool InLayout(std::span<const SDM_OPT_ROM_REGION> layout, SD_UINT32 code) {
    return std::any_of(layout.begin(), layout.end(), [code](const SDM_OPT_ROM_REGION& r) { return r.Region == code; });
}

// One serving entry the engine writes: 0 or 507.
int CheckWritten(IltBytes image, const ILT_Region_t& r, int index, std::size_t tableEnd,
                 std::span<const SDM_OPT_ROM_REGION> layout) {
    const std::uint64_t offset = HLPR_GetDoubleWord(r.offsetLo, r.offsetHi);
    const std::uint64_t size = HLPR_GetDoubleWord(r.sizeLo, r.sizeHi);
    if (!InLayout(layout, r.regionType)) {
        VORNLogMessage(VORN_MSG_DEBUG, "%s: entry %d names region 0x%x, which the adapter's flash layout lacks", kWho,
                       index, r.regionType);
        return ILT_WRONG_COMPONENT;
    }
    if (size == 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "%s: entry %d (region 0x%x) is empty", kWho, index, r.regionType);
        return ILT_WRONG_COMPONENT;
    }
    if (!ILT_Region_GetComponent(image, r)) {
        VORNLogMessage(VORN_MSG_DEBUG, "%s: entry %d (region 0x%x, 0x%llx bytes at 0x%llx) reaches past the image",
                       kWho, index, r.regionType, static_cast<unsigned long long>(size),
                       static_cast<unsigned long long>(offset));
        return ILT_WRONG_COMPONENT;
    }
    if (offset < tableEnd) {
        VORNLogMessage(VORN_MSG_DEBUG, "%s: entry %d (region 0x%x at 0x%llx) overlaps the 0x%zx-byte layout table",
                       kWho, index, r.regionType, static_cast<unsigned long long>(offset), tableEnd);
        return ILT_WRONG_COMPONENT;
    }
    return 0;
}

}  // namespace

std::size_t ILT_TableExtent(IltBytes image) {
    const SD_UINT16 n = ILT_Header_GetNumOfRegionEntries(image);
    std::size_t end = ILT_Header_GetTableLength(image);
    if (n < 1) return end;
    end = std::max(end, ILT_CardTypeHeaderOffset(n) + ILT_CARDTYPE_HEADER_SIZE);
    const SD_UINT32 lists =
        std::min<SD_UINT32>(ILT_CardType_Header_GetNumOfCardTypeList(image), ILT_MAX_CARDTYPE_COUNT);
    auto pos = ILT_CardTypeList_First(image);
    for (SD_UINT32 i = 0; i < lists && pos; ++i) {
        if (i > 0) pos = ILT_CardTypeList_Next(image, *pos);
        if (!pos) break;
        end = std::max(end, pos->offset + ILT_CARDTYPE_LIST_SIZE +
                                ILT_CARDTYPE_ENTRY_SIZE * std::size_t{pos->list.noEntriesInList});
    }
    return end;
}

int ValidateImageSetAsWhole(IltBytes image, SD_INT16 cardType, SD_UINT16 adapterChipRev,
                            std::span<const SDM_OPT_ROM_REGION> layout, const ImageSetRules& rules) {
    const std::size_t tableEnd = ILT_TableExtent(image);
    const int entries = static_cast<int>(ILT_Header_GetNumOfRegionEntries(image)) - 1;
    std::vector<bool> found(rules.needs.size(), false);
    int serving = 0;
    int written = 0;
    for (int i = 0; cardType >= 0 && i < entries; ++i) {
        const auto r = ILT_Region_GetRegionByIndex(image, static_cast<SD_UINT16>(i));
        if (!r) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s: entry %d lies past the image", kWho, i);
            return ILT_WRONG_COMPONENT;
        }
        if (!CardTypeComapre(r->swapModeCardType, static_cast<SD_UINT16>(cardType)) ||
            !HwRevComapre(adapterChipRev, r->chipRev))
            continue;
        ++serving;
        for (std::size_t k = 0; k < rules.needs.size(); ++k)
            if (rules.needs[k] == r->regionType) found[k] = true;
        // What is never written cannot put wrong bytes into flash.
        if (rules.writes == nullptr || !rules.writes(r->regionType)) continue;
        if (const int st = CheckWritten(image, *r, i, tableEnd, layout); st != 0) return st;
        ++written;
    }
    for (std::size_t k = 0; k < rules.needs.size(); ++k) {
        if (!found[k]) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s: no entry for region 0x%x serves card type %d, chip revision 0x%x", kWho,
                           rules.needs[k], cardType, adapterChipRev);
            return ILT_WRONG_COMPONENT;
        }
    }
    VORNLogMessage(VORN_MSG_DEBUG, "%s: %d entries serve the adapter, %d of them written", kWho, serving, written);
    return 0;
}
