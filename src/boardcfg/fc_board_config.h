// The FC board configuration (FBC, signature "CBF(" with its SerDes table)
// rebuilt from a template while keeping the adapter's own settings.
#pragma once

#include <array>
#include <vector>

#include "boardcfg/config_table.h"
#include "boardcfg/single_copy_tables.h"
#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// Statuses of UpdateAdapterFCBoardConfigFromFile.
constexpr int FBC_OPEN_FAILED = 1;
constexpr int FBC_NO_DEVICE = 8;              // null or virtual port, wrong chip or type, not allowed
constexpr int FBC_INVALID_DATA = 15;          // the template cannot be parsed, or the rebuilt table does not validate
constexpr int FBC_UPDATED = 201;
constexpr int FBC_UP_TO_DATE = 213;           // same version
constexpr int FBC_TEMPLATE_OLDER = 214;       // also with the force option: never a downgrade
constexpr int FBC_FAILED = 360;

// The table as the lines about the adapter's flash name it.
constexpr const char* FBC_TABLE_NAME = "FBC board configuration";
// Chip type 25 keeps it once.
constexpr SingleCopyTable FBC_SINGLE_COPY{CFGTBL_REGION_FC_BRDCFG, CFGTBL_SIG_FC_BRDCFG, FBC_TABLE_NAME};
// The chip type 25 template, opened by this name from the current directory.
constexpr const char* FBC_TEMPLATE_CHIP25 = "Vx9FBC.dat";

// The MCTP update's adapter type.
constexpr SD_UINT32 FBC_HBA_TYPE_MIN = 7;
constexpr SD_UINT32 FBC_HBA_TYPE_MAX = 9;

// The update in two halves, so that a caller can read and check every
// template (and build every table) before it writes any: Prepare reads the
// template and the adapter's table and builds the new one (nothing written);
// Commit says the outcome and writes the table when it is to be written.
struct FcBoardConfigPlan {
    SDMDevice* device = nullptr;           // null: nothing to commit
    bool write = false;
    int result = 0;                        // 213 or 214 when nothing is to be written
    std::array<SD_UINT8, 3> oldVersion{};
    std::array<SD_UINT8, 3> newVersion{};
    std::vector<SD_UINT8> table;
    SD_UINT32 writeRegion = 0;
    bool flip = false;                     // chip type 27: the written copy becomes the active one
    SD_ACTIVE_REGIONS active{};
    bool singleCopy = false;               // chip type 25: kept on the host while it is written
    std::vector<SD_UINT8> before;          // what it was built from (empty: a damaged table repaired whole)
};
// 0 (plan ready), or 8, 1, 15, 360 with their lines, as the whole update.
int PrepareAdapterFCBoardConfigUpdate(SDMDevice* pDevice, const char* pFCBrdCfgFileName, int iEnableAllPorts,
                                      SD_UINT32 uHBAType, FcBoardConfigPlan* plan);
// 201, 213, 214 or 360 (8 for an empty plan).
int CommitAdapterFCBoardConfigUpdate(const FcBoardConfigPlan& plan);

// Rebuilds the port's FC board configuration from the template opened by the
// name given. Writes the table only when the template's version is newer
// (the force option aside), then reads it back. Chip type 25 keeps the table
// once: a copy kept on the host by a write that may not have finished is
// first written back (boardcfg/single_copy_tables.h); a table that then fails
// its own length or checksum is rewritten only from a template that names
// every byte of it (as 0.0.0), and otherwise nothing is written (360, said
// with the region). On chip type 27 a damaged running copy counts as 0.0.0
// and its settings are not kept.
int UpdateAdapterFCBoardConfigFromFile(SDMDevice* pDevice, const char* pFCBrdCfgFileName, int iEnableAllPorts,
                                       SD_UINT32 uHBAType);
