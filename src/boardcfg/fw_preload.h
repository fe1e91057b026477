// The firmware preload table (FWA, signature "JKOZ") of an adapter: its version
// record and its update from the template of the installation directory.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "boardcfg/config_table.h"
#include "boardcfg/single_copy_tables.h"
#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// Statuses of UpdateFWPreloadTableToHBA.
constexpr int FWA_SUCCESS = 0;                 // also: skipped, or not required
constexpr int FWA_OPEN_FAILED = 1;
constexpr int FWA_CORRUPTED = 13;
constexpr int FWA_UPDATED = 201;               // rewritten; active after a reboot
constexpr int FWA_NO_DEVICE = 215;
constexpr int FWA_FAILED = 350;

// The chip type 25 template.
constexpr const char* FWA_TEMPLATE_CHIP25 = "Vx9FWA.dat";
// The table as the lines about the adapter's flash name it.
constexpr const char* FWA_TABLE_NAME = "FWA preload table";
// Chip type 25 keeps it once.
constexpr SingleCopyTable FWA_SINGLE_COPY{CFGTBL_REGION_FW_PRELOAD, CFGTBL_SIG_FW_PRELOAD, FWA_TABLE_NAME};

typedef struct _FwPreloadVersion {
    SD_UINT32 SignatureId;
    SD_UINT8 ExistingVersionMajor;
    SD_UINT8 ExistingVersionMinor;
    SD_UINT8 ExistingVersionSubMinor;
    SD_UINT8 NewVersionMajor;
    SD_UINT8 NewVersionMinor;
    SD_UINT8 NewVersionSubMinor;
    SD_UINT16 SubsystemVendorID;
    SD_UINT16 SubsystemDeviceID;
    SD_UINT32 ExistingCheckSum;
    SD_UINT32 NewCheckSum;
} FwPreloadVersion, *PFwPreloadVersion;

// Source of RetrieveFwPreloadVersion.
constexpr int FWA_SOURCE_ADAPTER = 0;
constexpr int FWA_SOURCE_TEMPLATE = 1;

// The process-wide record, or null while none was filled.
FwPreloadVersion* GetFwPreloadVersion();
// Forgets the process-wide record (between runs inside one process).
void ResetFwPreloadVersion();
// Reads the version bytes of a preload table image into the process-wide
// record: Source 0 the adapter's copy (Existing fields, signature, ids,
// checksum), otherwise the rebuilt table (New fields, checksum). 0; -1 for a
// buffer shorter than the header. A copy without the signature reads as
// version 0.0.0.
int RetrieveFwPreloadVersion(SDMDevice* pDevice, std::span<const SD_UINT8> pBuffer, int Source);

// The template's path for a port: "<install>/x%04Xx%04X/<name>" when that
// name exists, else "<install>/<name>" when that exists; false when neither
// does. Nothing is opened.
bool FindFwPreloadTemplate(const SDMDevice* pDevice, const char* pFileName, char* path, std::size_t size);

// The update in two halves, so that a caller can read and check every
// template before it writes any table: Prepare reads the template and the
// adapter's table and builds the new one (nothing written); Commit says the
// outcome and writes the table when it is to be written.
struct FwPreloadPlan {
    SDMDevice* device = nullptr;
    bool checked = false;                  // a template was found and compared
    bool write = false;                    // the table is to be rewritten
    std::array<SD_UINT8, 3> oldVersion{};
    std::array<SD_UINT8, 3> newVersion{};
    std::vector<SD_UINT8> table;           // the rebuilt table when `write`
    std::vector<SD_UINT8> before;          // what it was built from (kept on the host while it is written);
                                           // empty for a damaged table the template repairs whole
};
// 0 (plan ready, also when there is nothing to do), or 1, 13, 350, 215 with
// their lines, as UpdateFWPreloadTableToHBA.
int PrepareFWPreloadTableUpdate(SDMDevice* pDevice, const char* pFwPreloadFileName, FwPreloadPlan* plan);
// 0 (nothing written), 201 (rewritten and read back) or 350.
int CommitFWPreloadTableUpdate(const FwPreloadPlan& plan);

// Brings the port's preload table up to the template: rewritten when the
// template is newer, or differs with the force option. The adapter keeps this
// table once: a copy kept on the host by a write that may not have finished
// is first written back (boardcfg/single_copy_tables.h); a table that then
// fails its own length or checksum is rewritten only from a template that
// names every byte of it, and otherwise nothing is written (350, said with
// the region). 0 (nothing to do, no template, up to date), 201 (rewritten and
// read back), 1, 13, 350, 215 (null port).
int UpdateFWPreloadTableToHBA(SDMDevice* pDevice, const char* pFwPreloadFileName);
