// The persistent failover configuration of the driver (which targets are
// configured and bound, and the failover byte of each of their LUNs), written
// from the core device model, and re-initialisation after a change. No command
// of the utility reaches these; they serve an agent of the same code base.
#pragma once

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// Adds every configured and bound target of the model to the driver's LUN
// data and target data and writes both back; 0 or -1.
int SaveDeviceConfiguration(SDMDevice* device);
int SaveLinuxDeviceConfiguration(SDMDevice* device);
// Writes the model's new LUN bytes (zeros for unbound targets) into the
// persistent LUN data and the targets' control bytes (0x40 unbound) into the
// persistent target data, with `flags`; 0 or -1.
int UpdateDeviceConfiguration(SDMDevice* device, SD_UINT32 flags);
// Both for every device (stopping at the first failure), then rebuilds the
// device model; 0 or the first failure (-1).
int ApplyDeviceConfiguration();
// Asks the driver to put the new remote port in the old one's place, then
// rebuilds the device model (so `device` is gone afterwards); 0 or -1.
int CoreTargetDeviceReplacement(SDMDevice* device, const SD_UINT8* oldNodeWwn, const SD_UINT8* oldPortWwn,
                                const SD_UINT8* oldPortId, const SD_UINT8* newNodeWwn, const SD_UINT8* newPortWwn,
                                const SD_UINT8* newPortId);
