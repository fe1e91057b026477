// The multiboot (MBI) version of the ports in the output file, which no
// command of this tool shows.
#pragma once

#include "core/sdm_device.h"

// Instance, model, port name and "Flash Image (MBI) Version" ("N/A" for
// 00.00.00) of one port; 0, 9 for a null port, 11 when memory runs out.
int DisplayHBAMBIVersion(SDMDevice* pDevice);
// The same for every port of the device list; the last result, 9 for none.
int DisplayAllHBAsMBIVersion();
