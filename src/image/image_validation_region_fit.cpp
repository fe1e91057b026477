// The flash-region limit of the components an engine writes.
#include "image/image_validation_region_fit.h"

#include <algorithm>
#include <cstdint>

#include "frontend/output.h"
#include "image/card_types.h"
#include "image/word_helpers.h"

namespace {

// The regions written with the image layout table after their data.
bool CarriesTable(SD_UINT32 code) { return code == 0x07 || code == 0x11; }

}  // namespace

int ValidateImageRegionsFitLayout(IltBytes image, std::span<const SD_UINT32> regionCodes,
                                  std::span<const SDM_OPT_ROM_REGION> layout, SD_INT16 cardType,
                                  SD_UINT16 adapterChipRev) {
    if (cardType < 0) return 0;   // no entry serves such an adapter
    const std::uint64_t tableLength = ILT_Header_GetTableLength(image);
    const int entries = static_cast<int>(ILT_Header_GetNumOfRegionEntries(image)) - 1;
    for (const SD_UINT32 code : regionCodes) {
        if (code == 0) continue;
        const auto slot = std::find_if(layout.begin(), layout.end(),
                                       [code](const SDM_OPT_ROM_REGION& r) { return r.Region == code; });
        for (int i = 0; i < entries; ++i) {
            const auto r = ILT_Region_GetRegionByIndex(image, static_cast<SD_UINT16>(i));
            if (!r) {
                VORNLogMessage(VORN_MSG_DEBUG, "ValidateImageRegionsFitLayout: entry %d lies past the image", i);
                return IMGVAL_REGION_LIMIT;
            }
            if (r->regionType != code || !CardTypeComapre(r->swapModeCardType, static_cast<SD_UINT16>(cardType)) ||
                !HwRevComapre(adapterChipRev, r->chipRev))
                continue;
            const std::uint64_t data = HLPR_GetDoubleWord(r->sizeLo, r->sizeHi);
            const std::uint64_t need = data + (CarriesTable(code) ? tableLength : 0);
            if (slot == layout.end() || !ILT_Region_GetComponent(image, *r) || tableLength > image.size() ||
                need > slot->Size) {
                VORNLogMessage(VORN_MSG_DEBUG,
                               "ValidateImageRegionsFitLayout: region 0x%x needs 0x%llx bytes, flash region holds "
                               "0x%x%s",
                               code, static_cast<unsigned long long>(need), slot == layout.end() ? 0 : slot->Size,
                               slot == layout.end() ? " (not in the layout)" : "");
                return IMGVAL_REGION_LIMIT;
            }
        }
    }
    return 0;
}
