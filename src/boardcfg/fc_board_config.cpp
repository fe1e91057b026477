// FC board configuration rebuilt from a template over the adapter's own table.
#include "boardcfg/fc_board_config.h"

#include <vector>

#include "boardcfg/board_template.h"
#include "boardcfg/config_table.h"
#include "boardcfg/single_copy_tables.h"
#include "boardcfg/table_region_io.h"
#include "core/active_regions.h"
#include "core/chip_types.h"
#include "core/host_info.h"
#include "core/image_status.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/output.h"

namespace {

// Where the table is read from and written to. Chip type 27 keeps two copies:
// the running one is read, the other is written and then made the active one.
struct FbcRegions {
    SD_UINT32 read = CFGTBL_REGION_FC_BRDCFG;
    SD_UINT32 write = CFGTBL_REGION_FC_BRDCFG;
    bool flip = false;
    SD_ACTIVE_REGIONS active{};
};

bool ChooseRegions(SDMDevice* device, int chip, FbcRegions* r) {
    if (chip != 27) return true;
    if (CoreGetActiveRegions(device, &r->active) != 0) return false;
    r->read = CoreMapActiveRegion(chip, r->active, CFGTBL_REGION_FC_BRDCFG);
    r->write = CoreGetAlternateRegion(CFGTBL_REGION_FC_BRDCFG, &r->active);
    r->flip = r->write != r->read;
    return true;
}

// Lays the template over the adapter's table, patches the SerDes table and
// carries the adapter's own settings over when `keepSettings`. False when the
// result is no table.
bool BuildTable(const SDMDevice* device, const BoardTemplate& tpl, const std::vector<SD_UINT8>& adapter,
                bool keepSettings, std::vector<SD_UINT8>* table) {
    *table = adapter;
    if (!ApplyBoardTemplate(tpl, *table)) return false;
    if (table->size() <= CFGTBL_FC_SERDES_OFFSET) return false;
    const std::span<SD_UINT8> serdes = std::span<SD_UINT8>(*table).subspan(CFGTBL_FC_SERDES_OFFSET);
    if (!CfgTablePatchIds(serdes, CFGTBL_SIG_FC_SERDES, device->DeviceChipProperty.SubVendorID,
                          device->DeviceChipProperty.SubSystemID)) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterFCBoardConfigFromFile: FC Serdes validation failed!");
        return false;
    }
    const std::vector<SD_UINT8> source = keepSettings ? adapter : *table;
    if (CorePreserveFCBrdCfgData(device, source, *table) != 0) return false;
    return CfgTableIsValid(*table, CFGTBL_SIG_FC_BRDCFG) && CfgTableIsValid(serdes, CFGTBL_SIG_FC_SERDES);
}

void PrintUpgradeLine(const char* model, const std::array<SD_UINT8, 3>& o, const std::array<SD_UINT8, 3>& n,
                      const char* outcome) {
    scfxPrint("HBA %s: Upgrading FBC version from %x.%x.%x to %x.%x.%x: %s", model, o[0], o[1], o[2], n[0], n[1],
              n[2], outcome);
}

}  // namespace

int PrepareAdapterFCBoardConfigUpdate(SDMDevice* pDevice, const char* pFCBrdCfgFileName, int iEnableAllPorts,
                                      SD_UINT32 uHBAType, FcBoardConfigPlan* plan) {
    if (plan == nullptr) return FBC_FAILED;
    *plan = FcBoardConfigPlan{};
    if (pDevice == nullptr || isVirtualPortHBA(pDevice) != 0) return FBC_NO_DEVICE;
    const int chip = CoreGetISPType(pDevice);
    if (chip != 25 && chip != 27) return FBC_NO_DEVICE;
    if (uHBAType < FBC_HBA_TYPE_MIN || uHBAType > FBC_HBA_TYPE_MAX) return FBC_NO_DEVICE;
    if (iEnableAllPorts == 0) {
        const int allowed = CheckAdapterFlashUpdateStatus(pDevice, iEnableAllPorts);
        if (allowed != 1 && allowed != 3) {
            VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterFCBoardConfigFromFile: HBA %d not allowed (%d)",
                           pDevice->DeviceNumber, allowed);
            return FBC_NO_DEVICE;
        }
    }
    const char* model = pDevice->DeviceNodeProperty.Model;
    const char* name = pFCBrdCfgFileName != nullptr ? pFCBrdCfgFileName : "";

    BoardTemplate tpl;
    const int loaded = LoadBoardTemplateFile(pFCBrdCfgFileName, CFGTBL_SIG_FC_BRDCFG, BRDTPL_MAX_TABLE_SIZE, &tpl);
    if (loaded == 1) {
        scfxPrint("Failed to open file %s for reading!", name);
        return FBC_OPEN_FAILED;
    }

    FbcRegions regions;
    std::vector<SD_UINT8> adapter;
    if (!ChooseRegions(pDevice, chip, &regions)) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterFCBoardConfigFromFile: Active regions of HBA %d unknown",
                       pDevice->DeviceNumber);
        return FBC_FAILED;
    }
    // Chip type 25 keeps this table once: a copy an unfinished write left is
    // written back first, and a table damaged then is taken only when the
    // template names every byte of it, never from its erased bytes. On chip
    // type 27 the table as the adapter reads it: one that fails its own length
    // or checksum holds no version and no settings worth keeping, and is never
    // "up to date".
    const bool singleCopy = !regions.flip && chip == 25;
    if (singleCopy && RollBackSingleCopyTables(pDevice, {&FBC_SINGLE_COPY, 1}) != 0) return FBC_FAILED;
    if (const SD_UINT32 st = ReadConfigTableRegion(pDevice, regions.read, &adapter); st != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterFCBoardConfigFromFile: Unable to read FBC of HBA %d (%u)",
                       pDevice->DeviceNumber, st);
        return FBC_FAILED;
    }
    if (singleCopy && CheckSingleCopyTableBase(pDevice, FBC_SINGLE_COPY, adapter, loaded == 0 ? &tpl : nullptr) != 0) {
        return FBC_FAILED;
    }
    const bool intact = CfgTableIsValid(adapter, CFGTBL_SIG_FC_BRDCFG);
    if (!intact && CfgTableHasSignature(adapter, CFGTBL_SIG_FC_BRDCFG)) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterFCBoardConfigFromFile: FBC of HBA %d is damaged",
                       pDevice->DeviceNumber);
    }
    const auto oldV = intact ? CfgTableVersion(adapter) : std::array<SD_UINT8, 4>{};
    plan->device = pDevice;
    plan->oldVersion = {oldV[0], oldV[1], oldV[2]};
    if (loaded != 0) {
        // An unreadable template is invalid template data, said in this table's own lines.
        PrintUpgradeLine(model, plan->oldVersion, plan->newVersion, "started");
        PrintUpgradeLine(model, plan->oldVersion, plan->newVersion, "failed");
        *plan = FcBoardConfigPlan{};
        return FBC_INVALID_DATA;
    }
    const auto& newV = tpl.version;
    plan->newVersion = {newV[0], newV[1], newV[2]};
    // Never a downgrade, whatever the force option says: only a newer
    // template (every version part counts) replaces a sound table.
    const int cmp = CfgCompareVersions(newV, oldV, 3);
    plan->singleCopy = singleCopy;
    if (intact && cmp <= 0) {
        plan->result = cmp == 0 ? FBC_UP_TO_DATE : FBC_TEMPLATE_OLDER;
        return 0;
    }
    if (!BuildTable(pDevice, tpl, adapter, intact, &plan->table)) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterFCBoardConfigFromFile: FBC validation failed!");
        PrintUpgradeLine(model, plan->oldVersion, plan->newVersion, "started");
        PrintUpgradeLine(model, plan->oldVersion, plan->newVersion, "failed");
        *plan = FcBoardConfigPlan{};
        return FBC_INVALID_DATA;
    }
    plan->write = true;
    // A damaged table the template repairs whole keeps no copy of its torn bytes.
    if (singleCopy && intact) plan->before = std::move(adapter);
    plan->writeRegion = regions.write;
    plan->flip = regions.flip;
    plan->active = regions.active;
    return 0;
}

int CommitAdapterFCBoardConfigUpdate(const FcBoardConfigPlan& plan) {
    if (plan.device == nullptr) return FBC_NO_DEVICE;
    const char* model = plan.device->DeviceNodeProperty.Model;
    const auto& o = plan.oldVersion;
    const auto& n = plan.newVersion;
    if (!plan.write) {
        scfxPrint("HBA %s: Upgrade is not required. FBC version is up to date (%x.%x.%x)", model, o[0], o[1], o[2]);
        return plan.result;
    }
    PrintUpgradeLine(model, o, n, "started");
    auto finish = [&](int result) {
        PrintUpgradeLine(model, o, n, result == FBC_UPDATED ? "completed" : "failed");
        return result;
    };
    // The copy written does not serve; an earlier update since the adapter
    // started may have marked it to serve next: the records name the serving
    // copy again before it is rewritten, and the flip is built from them as found.
    CoreRecordsFound found;
    if (plan.flip && CoreHoldAuxImageStatus(plan.device, plan.active, AUX_COMPONENT_BOARD_CONFIG, &found) != 0)
        return finish(FBC_FAILED);
    const long written = plan.singleCopy ? WriteSingleCopyTable(plan.device, plan.writeRegion, plan.before, plan.table)
                                         : WriteConfigTableRegion(plan.device, plan.writeRegion, plan.table);
    if (written != 0) return finish(FBC_FAILED);
    SD_ACTIVE_REGIONS active = plan.active;
    if (plan.flip && CoreUpdateAuxImageStatus(plan.device, &active, 0, AUX_COMPONENT_BOARD_CONFIG, &found) != 0) {
        return finish(FBC_FAILED);
    }
    return finish(FBC_UPDATED);
}

int UpdateAdapterFCBoardConfigFromFile(SDMDevice* pDevice, const char* pFCBrdCfgFileName, int iEnableAllPorts,
                                       SD_UINT32 uHBAType) {
    FcBoardConfigPlan plan;
    if (const int rc = PrepareAdapterFCBoardConfigUpdate(pDevice, pFCBrdCfgFileName, iEnableAllPorts, uHBAType, &plan);
        rc != 0) {
        return rc;
    }
    return CommitAdapterFCBoardConfigUpdate(plan);
}
