// Single-copy tables of an adapter: kept copies written back at the start of
// its turn, and damaged tables no template repairs found before the update writes.
#include "boardcfg/table_update_check.h"

#include "boardcfg/fc_board_config.h"
#include "boardcfg/fw_preload.h"
#include "boardcfg/single_copy_tables.h"
#include "boardcfg/vpd_copies.h"
#include "core/chip_types.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/install_dir.h"
#include "image/vpd_version_keywords.h"

namespace {

bool KeepsTablesOnce(SDMDevice* pDevice) {
    return pDevice != nullptr && isVirtualPortHBA(pDevice) == 0 && CoreGetISPType(pDevice) == 25;
}

}  // namespace

int RollBackTableCopiesBeforeUpdate(SDMDevice* pDevice) {
    if (KeepsVpdCopies(pDevice)) return RollBackVpdCopies(pDevice) == 0 ? 0 : VPD_UPDATE_CORRUPTED;
    if (!KeepsTablesOnce(pDevice)) return 0;
    const SingleCopyTable tables[] = {FWA_SINGLE_COPY, FBC_SINGLE_COPY};
    SD_UINT32 failed = 0;
    if (RollBackSingleCopyTables(pDevice, tables, &failed) == 0) return 0;
    return failed == FWA_SINGLE_COPY.region ? FWA_FAILED : FBC_FAILED;
}

int CheckSingleCopyTablesBeforeUpdate(SDMDevice* pDevice, const char* pFwPreloadFileName) {
    if (!KeepsTablesOnce(pDevice)) return 0;
    int rc = 0;
    char path[2 * VORN_DIR_SIZE];
    if (FindFwPreloadTemplate(pDevice, pFwPreloadFileName, path, sizeof path) &&
        CheckSingleCopyTable(pDevice, FWA_SINGLE_COPY, path) != 0) {
        rc = -1;
    }
    if (CheckSingleCopyTable(pDevice, FBC_SINGLE_COPY, FBC_TEMPLATE_CHIP25) != 0) rc = -1;
    return rc;
}
