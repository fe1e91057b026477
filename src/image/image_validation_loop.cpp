// The component walk shared by the families' checks.
#include "image/image_validation_loop.h"

#include "frontend/output.h"
#include "image/card_types.h"
#include "image/word_helpers.h"

namespace {

int Walk(IltBytes buffer, const std::function<bool(const ILT_Region_t&)>& fits, const char* who,
         const ImageRegionCheck& check) {
    const int entries = static_cast<int>(ILT_Header_GetNumOfRegionEntries(buffer)) - 1;
    int count = 0;
    for (int i = 0; i < entries; ++i) {
        const auto region = ILT_Region_GetRegionByIndex(buffer, static_cast<SD_UINT16>(i));
        if (!region) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s: entry %d lies past the image", who, i);
            return IMGVAL_OUT_OF_BOUNDS;
        }
        if (!fits(*region)) continue;
        const auto component = ILT_Region_GetComponent(buffer, *region);
        if (!component) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s: region 0x%x (0x%x bytes at 0x%x) lies past the image", who,
                           region->regionType, HLPR_GetDoubleWord(region->sizeLo, region->sizeHi),
                           HLPR_GetDoubleWord(region->offsetLo, region->offsetHi));
            return IMGVAL_OUT_OF_BOUNDS;
        }
        const int st = check(*region, *component);
        if (st != 0) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s: Validated failed!", who);
            return st;
        }
        // The count travels in a signed byte beside negative failures.
        if (++count > IMGVAL_MAX_COMPONENTS) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s: more than %d components", who, IMGVAL_MAX_COMPONENTS);
            return IMGVAL_TOO_MANY_COMPONENTS;
        }
    }
    return count;
}

}  // namespace

int ValidateImageComponentsLoop(IltBytes buffer, SD_INT16 cardType, std::optional<SD_UINT16> adapterChipRev,
                                const char* who, const ImageRegionCheck& check) {
    if (buffer.empty() || cardType < 0) return 0;
    const int count = Walk(
        buffer,
        [&](const ILT_Region_t& r) {
            if (!CardTypeComapre(r.swapModeCardType, static_cast<SD_UINT16>(cardType))) return false;
            return !adapterChipRev || HwRevComapre(*adapterChipRev, r.chipRev);
        },
        who, check);
    if (count >= 0) VORNLogMessage(VORN_MSG_DEBUG, "%s: Validated %d images for cardtype %d", who, count, cardType);
    return count;
}

int ValidateEveryImageComponent(IltBytes buffer, const char* who, const ImageRegionCheck& check) {
    if (buffer.empty()) return 0;
    return Walk(buffer, [](const ILT_Region_t&) { return true; }, who, check);
}

void CopyImageHeaderVersions(IltBytes buffer, MultibootVersions* v) {
    const auto h = ILT_Header_Get(buffer);
    if (!h || v == nullptr) return;
    v->NewMultibootVersionMajor = h->imageVersion[0];
    v->NewMultibootVersionMinor = h->imageVersion[1];
    v->NewMultibootVersionSubMinor = h->imageVersion[2];
    v->NewFFVersionMajor = h->ffvMajor;
    v->NewFFVersionMinor = h->ffvMinor;
    v->NewFFVrsionSubBuild = h->ffvSubminor;
    v->NewFFVrsionBuild = h->ffvBuild;
    v->ImageBuildMonth = h->imageBuildMonth;
    v->ImageBuildDay = h->imageBuildDay;
    v->ImageBuildYear = h->imageBuildYear;
}

void CopyImageHeaderVersions(IltBytes buffer, FlashComponentVersion* v) {
    const auto h = ILT_Header_Get(buffer);
    if (!h || v == nullptr) return;
    v->ImageMajorVersion = h->imageVersion[0];
    v->ImageMinorVersion = h->imageVersion[1];
    v->ImageSubMinorVersion = h->imageVersion[2];
    v->FFVMajorVersion = h->ffvMajor;
    v->FFVMinorVersion = h->ffvMinor;
    v->FFVSubMinorVersion = h->ffvSubminor;
    v->FFVBuildVersion = h->ffvBuild;
    v->ImageBuildMonth = h->imageBuildMonth;
    v->ImageBuildDay = h->imageBuildDay;
    v->ImageBuildYear = h->imageBuildYear;
}
