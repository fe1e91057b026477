// Per-adapter checks made before the first write of an update.
#include "cli/adapter_prechecks.h"

#include "core/chip_types.h"
#include "dispatch/update_dispatch.h"
#include "frontend/output.h"
#include "image/flash_memo_block.h"

bool PrecheckAdapter(SDMDevice* port, const AdapterPrecheckRequest& request, AdapterPrecheck* out) {
    if (port == nullptr || out == nullptr) return false;
    *out = AdapterPrecheck{};
    if (CoreGetISPType(port) == 25) {
        out->damagedVpd = PlanFcVpdRepair(port, &out->vpdRepair);
        if (out->damagedVpd != 0) return false;
    }
    if (request.imageFile != nullptr) {
        // The update runs these checks again (and shows their lines) before it
        // writes; here they are shown only when they refuse.
        HoldOutputFileLines();
        if (request.imageHeader != nullptr) scfxPrint("%s", request.imageHeader);
        out->imageStatus = CheckUpdateImage(port, request.imageFile, request.allPorts);
        // Another process's session refuses the engine only after the image
        // passed, and the tables and VPDs written ahead of the engine must not
        // be written first (chip type 27 has none: its engine refuses it).
        if (out->imageStatus == 0) out->sessionStatus = CheckUpdateSession(port, request.allPorts);
        ReleaseOutputFileLines(out->Refused());
        VORNLogMessage(VORN_MSG_DEBUG, "PrecheckAdapter: HBA %u image status %d session status %d",
                       port->DeviceNumber, out->imageStatus, out->sessionStatus);
    }
    return !out->Refused();
}

bool RepairAdapterFcVpds(SDMDevice* port, const AdapterPrecheck& precheck, const SD_UINT8 (&carried)[3],
                         SD_UINT16 disableReset) {
    if (precheck.vpdRepair.rebuilds.empty()) return true;
    MultibootVersions versions{};
    versions.NewMultibootVersionMajor = carried[0];
    versions.NewMultibootVersionMinor = carried[1];
    versions.NewMultibootVersionSubMinor = carried[2];
    return ApplyFcVpdRepair(port, precheck.vpdRepair, &versions, disableReset) == 0;
}
