// Firmware preload table (FWA) version record and its update from a template.
#include "boardcfg/fw_preload.h"

#include <cstdio>
#include <cstring>
#include <optional>

#include "boardcfg/board_template.h"
#include "boardcfg/config_table.h"
#include "boardcfg/single_copy_tables.h"
#include "boardcfg/table_region_io.h"
#include "core/chip_types.h"
#include "core/input_file.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/cli_settings.h"
#include "frontend/file_util.h"
#include "frontend/install_dir.h"
#include "frontend/output.h"

namespace {

std::optional<FwPreloadVersion> g_fwPreloadVersion;

SD_UINT32 GetLE32(std::span<const SD_UINT8> b, std::size_t off) {
    return SD_UINT32{b[off]} | SD_UINT32{b[off + 1]} << 8 | SD_UINT32{b[off + 2]} << 16 |
           SD_UINT32{b[off + 3]} << 24;
}

// The template a chip type takes; null for the chip types whose template name
// this tool does not know (their tables are left alone).
const char* OwnTemplateName(int chipType) { return chipType == 25 ? FWA_TEMPLATE_CHIP25 : nullptr; }

bool IsPreloadChip(int chipType) {
    switch (chipType) {
        case 12: case 15: case 17: case 21: case 24: case 25: case 27: return true;
        default: return false;
    }
}

}  // namespace

FwPreloadVersion* GetFwPreloadVersion() { return g_fwPreloadVersion ? &*g_fwPreloadVersion : nullptr; }

void ResetFwPreloadVersion() { g_fwPreloadVersion.reset(); }

int RetrieveFwPreloadVersion(SDMDevice* pDevice, std::span<const SD_UINT8> pBuffer, int Source) {
    if (pBuffer.size() < CFGTBL_HEADER_SIZE) return -1;
    if (!g_fwPreloadVersion) g_fwPreloadVersion = FwPreloadVersion{};
    FwPreloadVersion& v = *g_fwPreloadVersion;
    // A copy without the signature holds no table: it reads as version 0.0.0.
    const bool valid = CfgTableHasSignature(pBuffer, CFGTBL_SIG_FW_PRELOAD);
    const auto version = valid ? CfgTableVersion(pBuffer) : std::array<SD_UINT8, 4>{};
    const SD_UINT32 checksum = GetLE32(pBuffer, CFGTBL_OFF_CHECKSUM);
    if (Source == FWA_SOURCE_ADAPTER) {
        v.SignatureId = GetLE32(pBuffer, CFGTBL_OFF_SIGNATURE);
        v.ExistingVersionMajor = version[0];
        v.ExistingVersionMinor = version[1];
        v.ExistingVersionSubMinor = version[2];
        v.ExistingCheckSum = checksum;
        v.SubsystemVendorID = static_cast<SD_UINT16>(pBuffer[16] | pBuffer[17] << 8);
        v.SubsystemDeviceID = static_cast<SD_UINT16>(pBuffer[18] | pBuffer[19] << 8);
    } else {
        v.NewVersionMajor = version[0];
        v.NewVersionMinor = version[1];
        v.NewVersionSubMinor = version[2];
        v.NewCheckSum = checksum;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "RetrieveFwPreloadVersion: HBA %d source=%d version=%x.%x.%x checksum=0x%08x",
                   pDevice != nullptr ? static_cast<int>(pDevice->DeviceNumber) : -1, Source, version[0],
                   version[1], version[2], checksum);
    return 0;
}

bool FindFwPreloadTemplate(const SDMDevice* pDevice, const char* pFileName, char* path, std::size_t size) {
    if (pDevice == nullptr || pFileName == nullptr || path == nullptr || size == 0) return false;
    const char* dir = VORNGetInstallationDir();
    char subdir[16];
    std::snprintf(subdir, sizeof subdir, "x%04Xx%04X", pDevice->DeviceChipProperty.SubVendorID,
                  pDevice->DeviceChipProperty.SubSystemID);
    // Whether the name exists decides; nothing is opened here (a FIFO in its
    // place is refused when the template is read, never waited on).
    char base[VORN_DIR_SIZE + 16];
    if (VORNJoinPath(base, sizeof base, dir, subdir) == 0 && VORNJoinPath(path, size, base, pFileName) == 0 &&
        CoreNameExists(path)) {
        return true;
    }
    if (VORNJoinPath(path, size, dir, pFileName) == 0 && CoreNameExists(path)) return true;
    path[0] = '\0';
    return false;
}

int PrepareFWPreloadTableUpdate(SDMDevice* pDevice, const char* pFwPreloadFileName, FwPreloadPlan* plan) {
    if (plan == nullptr) return FWA_FAILED;
    *plan = FwPreloadPlan{};
    plan->device = pDevice;
    if (pDevice == nullptr) {
        scfxPrint("No compatible HBA(s) found in current system !");
        return FWA_NO_DEVICE;
    }
    const char* model = pDevice->DeviceNodeProperty.Model;
    const int chip = CoreGetISPType(pDevice);
    if (isVirtualPortHBA(pDevice) != 0 || !IsPreloadChip(chip)) return FWA_SUCCESS;
    const char* own = OwnTemplateName(chip);
    if (own == nullptr || pFwPreloadFileName == nullptr || std::strcmp(own, pFwPreloadFileName) != 0) {
        return FWA_SUCCESS;
    }

    char path[2 * VORN_DIR_SIZE];
    if (!FindFwPreloadTemplate(pDevice, pFwPreloadFileName, path, sizeof path)) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateFWPreloadTableToHBA: Skipped updating FWA of HBA %d %s",
                       pDevice->DeviceNumber, model);
        return FWA_SUCCESS;
    }

    BoardTemplate tpl;
    switch (LoadBoardTemplateFile(path, CFGTBL_SIG_FW_PRELOAD, BRDTPL_MAX_TABLE_SIZE, &tpl)) {
        case 0: break;
        case 1:
            scfxPrint("Failed to open file %s for reading!", path);
            return FWA_OPEN_FAILED;
        default:
            scfxPrint("File %s appears to be corrupted!", path);
            return FWA_CORRUPTED;
    }

    // The template is laid over the adapter's own table (and must fit its
    // region), once a copy an unfinished write left is back on it. A damaged
    // table is taken only when the template names every byte of it.
    if (RollBackSingleCopyTables(pDevice, {&FWA_SINGLE_COPY, 1}) != 0) return FWA_FAILED;
    std::vector<SD_UINT8> adapter;
    if (const SD_UINT32 st = ReadConfigTableRegion(pDevice, CFGTBL_REGION_FW_PRELOAD, &adapter); st != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateFWPreloadTableToHBA: Unable to read FWA of HBA %d %s (%u)",
                       pDevice->DeviceNumber, model, st);
        return FWA_FAILED;
    }
    if (CheckSingleCopyTableBase(pDevice, FWA_SINGLE_COPY, adapter, &tpl) != 0) return FWA_FAILED;
    const bool damaged = !CfgTableIsValid(adapter, CFGTBL_SIG_FW_PRELOAD);

    std::vector<SD_UINT8> table = adapter;
    if (!ApplyBoardTemplate(tpl, table) ||
        !CfgTablePatchIds(table, CFGTBL_SIG_FW_PRELOAD, pDevice->DeviceChipProperty.SubVendorID,
                          pDevice->DeviceChipProperty.SubSystemID)) {
        // The template does not make a table (no signature or a length beyond the region).
        scfxPrint("File %s appears to be corrupted!", path);
        return FWA_CORRUPTED;
    }
    RetrieveFwPreloadVersion(pDevice, adapter, FWA_SOURCE_ADAPTER);
    RetrieveFwPreloadVersion(pDevice, table, FWA_SOURCE_TEMPLATE);
    const FwPreloadVersion& v = *GetFwPreloadVersion();
    // A damaged table holds no version: it is never up to date.
    if (!damaged) plan->oldVersion = {v.ExistingVersionMajor, v.ExistingVersionMinor, v.ExistingVersionSubMinor};
    plan->newVersion = {v.NewVersionMajor, v.NewVersionMinor, v.NewVersionSubMinor};
    const int cmp = CfgCompareVersions(plan->newVersion, plan->oldVersion, 3);
    plan->checked = true;
    plan->write = damaged || cmp > 0 || (cmp != 0 && GetForceUpdateOption() != 0);
    if (plan->write) {
        plan->table = std::move(table);
        // Repaired whole by the template: no copy of the torn bytes is kept.
        if (!damaged) plan->before = std::move(adapter);
    }
    return FWA_SUCCESS;
}

int CommitFWPreloadTableUpdate(const FwPreloadPlan& plan) {
    if (plan.device == nullptr || !plan.checked) return FWA_SUCCESS;
    const char* model = plan.device->DeviceNodeProperty.Model;
    const auto& o = plan.oldVersion;
    const auto& n = plan.newVersion;
    if (!plan.write) {
        scfxPrint("HBA %s: Upgrade is not required. FWA version is up to date (%x.%x.%x)", model, o[0], o[1], o[2]);
        return FWA_SUCCESS;
    }
    scfxPrint("HBA %s: Upgrading FWA version from %x.%x.%x to %x.%x.%x: started", model, o[0], o[1], o[2], n[0],
              n[1], n[2]);
    const long st = WriteSingleCopyTable(plan.device, CFGTBL_REGION_FW_PRELOAD, plan.before, plan.table);
    scfxPrint("HBA %s: Upgrading FWA version from %x.%x.%x to %x.%x.%x: %s", model, o[0], o[1], o[2], n[0], n[1],
              n[2], st == 0 ? "completed" : "failed");
    return st == 0 ? FWA_UPDATED : FWA_FAILED;
}

int UpdateFWPreloadTableToHBA(SDMDevice* pDevice, const char* pFwPreloadFileName) {
    FwPreloadPlan plan;
    if (const int rc = PrepareFWPreloadTableUpdate(pDevice, pFwPreloadFileName, &plan); rc != FWA_SUCCESS) return rc;
    return CommitFWPreloadTableUpdate(plan);
}
