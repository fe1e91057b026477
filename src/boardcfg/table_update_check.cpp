// Single-copy tables of an adapter: kept copies written back at the start of
// its turn, and damaged tables no template repairs found before the update writes.
#include "boardcfg/table_update_check.h"

#include "boardcfg/config_table.h"
#include "boardcfg/fc_board_config.h"
#include "boardcfg/fw_preload.h"
#include "boardcfg/single_copy_tables.h"
#include "core/chip_types.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/install_dir.h"

namespace {

constexpr SingleCopyTable kPreload{CFGTBL_REGION_FW_PRELOAD, CFGTBL_SIG_FW_PRELOAD, FWA_TABLE_NAME};
constexpr SingleCopyTable kBoardConfig{CFGTBL_REGION_FC_BRDCFG, CFGTBL_SIG_FC_BRDCFG, FBC_TABLE_NAME};

bool KeepsTablesOnce(SDMDevice* pDevice) {
    return pDevice != nullptr && isVirtualPortHBA(pDevice) == 0 && CoreGetISPType(pDevice) == 25;
}

}  // namespace

int RollBackTableCopiesBeforeUpdate(SDMDevice* pDevice) {
    if (!KeepsTablesOnce(pDevice)) return 0;
    const SingleCopyTable tables[] = {kPreload, kBoardConfig};
    return RollBackSingleCopyTables(pDevice, tables);
}

int CheckSingleCopyTablesBeforeUpdate(SDMDevice* pDevice, const char* pFwPreloadFileName) {
    if (!KeepsTablesOnce(pDevice)) return 0;
    int rc = 0;
    char path[2 * VORN_DIR_SIZE];
    if (FindFwPreloadTemplate(pDevice, pFwPreloadFileName, path, sizeof path) &&
        CheckSingleCopyTable(pDevice, kPreload, path) != 0) {
        rc = -1;
    }
    if (CheckSingleCopyTable(pDevice, kBoardConfig, FBC_TEMPLATE_CHIP25) != 0) rc = -1;
    return rc;
}
