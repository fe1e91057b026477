// The FC board configuration (FBC, signature "CBF(" with its SerDes table)
// rebuilt from a template while keeping the adapter's own settings.
#pragma once

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// Statuses of UpdateAdapterFCBoardConfigFromFile.
constexpr int FBC_OPEN_FAILED = 1;
constexpr int FBC_NO_DEVICE = 8;              // null or virtual port, wrong chip or type, not allowed
constexpr int FBC_CORRUPTED = 13;             // the template cannot be parsed
constexpr int FBC_INVALID_DATA = 15;          // the rebuilt table does not validate
constexpr int FBC_UPDATED = 201;
constexpr int FBC_UP_TO_DATE = 213;           // same version
constexpr int FBC_TEMPLATE_OLDER = 214;
constexpr int FBC_FAILED = 360;

// The MCTP update's adapter type.
constexpr SD_UINT32 FBC_HBA_TYPE_MIN = 7;
constexpr SD_UINT32 FBC_HBA_TYPE_MAX = 9;

// Rebuilds the port's FC board configuration from the template opened by the
// name given. Writes the table only when the template's version is newer (or
// differs, with the force option), then reads it back.
int UpdateAdapterFCBoardConfigFromFile(SDMDevice* pDevice, const char* pFCBrdCfgFileName, int iEnableAllPorts,
                                       SD_UINT32 uHBAType);
