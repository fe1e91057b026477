// FC VPD step: check every FC VPD region, update those that passed.
#include "image/fc_vpd_update.h"

#include <new>

#include "core/oss_services.h"
#include "frontend/output.h"
#include "image/vpd_version_keywords.h"

namespace {

constexpr unsigned kVerifyPauseSeconds = 1;

const SDM_OPT_ROM_REGION* FindRegion(const SDMOptRomLayoutCopy& layout, SD_UINT32 code) {
    for (const SDM_OPT_ROM_REGION& r : layout.Regions) {
        if (r.Region == code) return &r;
    }
    return nullptr;
}

}  // namespace

std::vector<FcVpdRegion> CheckFcVpdRegions(SDMDevice* pDevice, const SDMOptRomLayoutCopy& layout,
                                           std::span<const SD_UINT32> candidates, SD_INT32* pLastStatus) {
    std::vector<FcVpdRegion> passed;
    try {
        passed.reserve(candidates.size());
    } catch (const std::bad_alloc&) {
        if (pLastStatus != nullptr) *pLastStatus = VPD_UPDATE_NO_MEMORY;
        return {};
    }
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const SDM_OPT_ROM_REGION* r = FindRegion(layout, candidates[i]);
        if (r == nullptr) continue;
        const SD_INT32 st = CheckForValidVpdRegion(pDevice, r->Region, r->Size);
        VORNLogMessage(VORN_MSG_DEBUG, "CheckFcVpdRegions: region 0x%x (size 0x%x) check %d", r->Region, r->Size, st);
        if (pLastStatus != nullptr) *pLastStatus = st;
        if (st == VPD_UPDATE_SUCCESS) passed.push_back({r->Region, r->Size, static_cast<SD_UINT32>(i)});
    }
    return passed;
}

SD_INT32 UpdateFcVpdRegions(SDMDevice* pDevice, const MultibootVersions* pVersions,
                            std::span<const FcVpdRegion> regions, SD_UINT16 DisableReset, SD_INT32 vpdStatus) {
    bool failed = false;
    for (const FcVpdRegion& r : regions) {
        scfxDiagnosticsPrint("Updating Adapter FC VPD %u... ", r.number);
        const SD_INT32 st = UpdateAndRestoreTorviFcVPD(pDevice, pVersions, r.size, r.code, DisableReset);
        if (st == VPD_UPDATE_SUCCESS) {
            scfxPrint("Success");
            scfxDiagnosticsPrint("Verifying Adapter FC VPD %u...", r.number);
            OSSSleep(kVerifyPauseSeconds);
            scfxPrint("Success");
        } else {
            scfxPrint("Unsuccessful");
            VORNLogMessage(VORN_MSG_DEBUG, "UpdateFcVpdRegions: region 0x%x not updated (%d)", r.code, st);
            failed = true;
        }
        vpdStatus = failed ? FC_VPD_UPDATE_FAILED : VPD_UPDATE_SUCCESS;
    }
    return vpdStatus;
}
