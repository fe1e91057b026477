// The image update of every port that its flash.cfg record asks for.
#include "cli/update_all_hbas.h"

#include <memory>

#include "boardcfg/table_update_check.h"
#include "cli/flash_cfg.h"
#include "cli/startup.h"
#include "core/core_log.h"
#include "dispatch/update_dispatch.h"
#include "frontend/cli_settings.h"
#include "frontend/hba_device_list.h"
#include "frontend/output.h"

namespace {
struct RecordFree {
    void operator()(FlashCtrVersion* record) const { CoreFree(record); }
};
using Record = std::unique_ptr<FlashCtrVersion, RecordFree>;
}  // namespace

int updateOptionROMAllHBAs(const char* /*ROMFileName*/, SD_INT32 AllPorts, SD_UINT16 DisableReset) {
    if (GetMyDeviceList()->firstDevice == nullptr) {
        VORNLogMessage(VORN_MSG_INFO, "Korvex HBA not found!");
        return 9;
    }
    int needed = 0, done = 0;
    for (SDMDevice* port = GetMyDeviceList()->firstDevice; port != nullptr; port = port->next) {
        // No port is started once an interrupt is recorded.
        VORNEndInterruptedUpdate();
        Record file(CreateNewEntry()), hba(CreateNewEntry());
        if (!file || !hba) {
            scfxPrint("Memory allocation error!");
            return -1;
        }
        const char* model = port->DeviceNodeProperty.Model;
        // The record stays empty when flash.cfg has none for the port.
        GetVersionFromFlashCtrFile(port, file.get());
        if (file->SubSysDeviceID[0] == '\0' || file->FileName[0] == '\0') {
            VORNLogMessage(VORN_MSG_WARNING, "Unable to find a matched entry for current adapter (HBA %u - %.32s)!",
                           port->DeviceNumber, model);
            continue;
        }
        // A table copy that a cut write left (chip type 25) goes back before the
        // adapter's versions are read, as in the MCTP update; one that cannot
        // be used fails the port with nothing written.
        if (RollBackTableCopiesBeforeUpdate(port) != 0) {
            ++needed;
            continue;
        }
        BuildFlashCtrListFromHBA(port, hba.get());
        if (GetFlashUpdatePolicy(port, hba.get(), file.get(), GetFlashUpdateMode(), GetForceUpdateOption()) !=
            FLASH_POLICY_UPDATE) {
            VORNLogMessage(VORN_MSG_INFO, "HBA %u - %.32s does not need to be upgraded.", port->DeviceNumber, model);
            continue;
        }
        ++needed;
        SD_UINT16 updated = 0;
        const SD_INT32 rc = updateOptionROMSingleHBA(port, file->FileName, &updated, AllPorts, DisableReset);
        if (rc == UPD_SUCCESS || rc == UPD_SUCCESS_REBOOT || rc == UPD_NOT_NEEDED) ++done;
    }
    if (needed == 0) {
        scfxPrint("No updates required.");
        return 2;
    }
    if (done == 0) {
        scfxPrint("All HBAs that need to be updated failed to be updated (%d out of %d)!", needed, needed);
        return 3;
    }
    if (done == needed) {
        scfxPrint("Updates completed successfully (%d out of %d).", done, needed);
        return 0;
    }
    scfxPrint("Unable to update all HBAs (%d out of %d)!", done, needed);
    return 4;
}
