// Damaged single-copy tables without a kept copy, found before the update writes.
#include "boardcfg/table_update_check.h"

#include "boardcfg/config_table.h"
#include "boardcfg/fc_board_config.h"
#include "boardcfg/fw_preload.h"
#include "boardcfg/single_copy_tables.h"
#include "core/chip_types.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/install_dir.h"

int CheckSingleCopyTablesBeforeUpdate(SDMDevice* pDevice, const char* pFwPreloadFileName) {
    if (pDevice == nullptr || isVirtualPortHBA(pDevice) != 0 || CoreGetISPType(pDevice) != 25) return 0;
    int rc = 0;
    char path[2 * VORN_DIR_SIZE];
    if (FindFwPreloadTemplate(pDevice, pFwPreloadFileName, path, sizeof path) &&
        CheckSingleCopyTable(pDevice, CFGTBL_REGION_FW_PRELOAD, CFGTBL_SIG_FW_PRELOAD, FWA_TABLE_NAME) != 0) {
        rc = -1;
    }
    if (CheckSingleCopyTable(pDevice, CFGTBL_REGION_FC_BRDCFG, CFGTBL_SIG_FC_BRDCFG, FBC_TABLE_NAME) != 0) rc = -1;
    return rc;
}
