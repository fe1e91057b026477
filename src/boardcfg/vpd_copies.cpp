// Converged adapters' VPDs: kept on the host around their keyword rewrite,
// written back by the next run after a cut.
#include "boardcfg/vpd_copies.h"

#include <vector>

#include "boardcfg/table_region_io.h"
#include "core/chip_types.h"
#include "frontend/adapter_entry_list.h"
#include "image/vpd_version_keywords.h"

bool KeepsVpdCopies(const SDMDevice* pDevice) {
    if (pDevice == nullptr || isVirtualPortHBA(pDevice) != 0) return false;
    const int chip = CoreGetISPType(pDevice);
    return chip == 17 || chip == 21 || chip == 24;
}

SD_INT32 UpdateVpdVersionsKeepingCopy(SDMDevice* pDevice, const MultibootVersions* pVersions, SD_UINT32 iRegionNo,
                                      SD_UINT32 iVpdSize, SD_UINT16 DisableReset) {
    if (pDevice == nullptr || pVersions == nullptr) return VPD_UPDATE_NO_DEVICE;
    std::vector<SD_UINT8> vpd;
    if (const SD_INT32 st = ReadSoundVpdRegion(pDevice, iRegionNo, iVpdSize, &vpd); st != VPD_UPDATE_SUCCESS) {
        return st;
    }
    // Keywords it cannot take refuse the VPD before a copy is kept: no write follows.
    std::vector<SD_UINT8> trial(vpd);
    if (const SD_INT32 st = SetVpdVersionKeywords(pDevice, *pVersions, trial); st != VPD_UPDATE_SUCCESS) return st;
    // The whole region, as the write-back of the copy writes it.
    std::vector<SD_UINT8> before;
    if (ReadConfigTableRegion(pDevice, iRegionNo, &before) != 0) return VPD_UPDATE_BAD_REGION;
    bool written = false;
    const long st = WriteKeepingCopy(
        pDevice, iRegionNo, before,
        [&]() -> long {
            written = true;
            return WriteVpdRegionWithVersions(pDevice, pVersions, iRegionNo, vpd, {}, DisableReset);
        },
        "the VPD");
    return written ? static_cast<SD_INT32>(st) : VPD_COPY_NOT_KEPT;
}

int RollBackVpdCopies(SDMDevice* pDevice) {
    if (!KeepsVpdCopies(pDevice)) return 0;
    const SingleCopyTable vpds[] = {NIC_VPD_SINGLE_COPY, FC_VPD0_SINGLE_COPY, FC_VPD1_SINGLE_COPY};
    return RollBackSingleCopyTables(pDevice, vpds);
}
