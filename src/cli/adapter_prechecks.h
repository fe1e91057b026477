// The checks that can refuse one adapter, all made before anything is
// written to it, so that a refusal leaves the adapter as it was.
#pragma once

#include "core/sdm_device.h"
#include "image/fc_vpd_update.h"
#include "mgmt/sd_types.h"

struct AdapterPrecheckRequest {
    const char* imageFile = nullptr;     // the image the update will write; null when it writes none
    const char* imageHeader = nullptr;   // written before the update's own lines when it refuses the image
    SD_INT32 allPorts = 0;
};

struct AdapterPrecheck {
    SD_UINT32 damagedVpd = 0;       // an FC VPD region that cannot be rebuilt (its line is said)
    SD_INT32 imageStatus = 0;       // the update's refusal of the image (its lines are said)
    SD_INT32 sessionStatus = 0;     // the chip-type-25 engine's refusal of its session: another process holds one (said)
    FcVpdRepairPlan vpdRepair;      // the FC VPD regions to rebuild before the update
    bool Refused() const { return damagedVpd != 0 || imageStatus != 0 || sessionStatus != 0; }
    // The update's status for a refusal by the image or the session; 0 otherwise.
    SD_INT32 UpdateStatus() const { return imageStatus != 0 ? imageStatus : sessionStatus; }
};

// Judges the adapter's FC VPDs (chip type 25, whose updates write them:
// PlanFcVpdRepair) and, when an image will be written, the image as the
// update would refuse it (CheckUpdateImage), then, on chip type 25, whose
// tables and VPDs are written ahead of its engine, the flash-update session
// that engine would open, refused while another process holds the adapter's
// (CheckUpdateSession). These checks show their lines only when they refuse.
// Nothing is written. False when refused.
bool PrecheckAdapter(SDMDevice* port, const AdapterPrecheckRequest& request, AdapterPrecheck* out);

// Rebuilds the FC VPD regions the pre-check planned, with the multiboot
// version the adapter carries (major, minor, sub). True when none failed.
bool RepairAdapterFcVpds(SDMDevice* port, const AdapterPrecheck& precheck, const SD_UINT8 (&carried)[3],
                         SD_UINT16 disableReset);
