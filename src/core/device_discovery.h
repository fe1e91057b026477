// Start-up discovery: builds and tears down the core device model.
#pragma once

#include <span>
#include <vector>

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// Highest number of library instances that start-up tries to open.
constexpr SD_UINT32 SDM_MAX_INSTANCES = 4096;

// Opens every management-library instance and creates its device; 0 always.
int CoreInitializeDevices();
// RemoveAllDevicesFromDeviceList (sdm_device.h) closes every device handle (the
// last close unloads the library) and empties the device list.

// Builds one device for an opened handle and adds it to the list.
void CreateNewSDMDevice(int handle, SD_UINT32 instance);

// Discovery steps; each returns 0 or -1.
int RetrieveTargetSummaryForDevice(SDMDevice* device);
int RetrievePortSummaryForDevice(SDMDevice* device);
int RetrieveTargetPersistForDevice(SDMDevice* device);
int RetrieveLunDataForTargets(SDMDevice* device);
int RetrieveTargetDataForTargets(SDMDevice* device);
int RetrieveSecureInfoForTargets(SDMDevice* device);
int RetrievePathInfoForTargets(SDMDevice* device);

// Status of the feature-list query; on success *mode is the binding mode
// (non-zero: bind by port name). A list without the binding feature answers
// success with mode 1, the driver's default.
SD_UINT32 isBindByPortName(SDMDevice* device, SD_UINT32* mode);

// Secure-port entries of the port: `info` receives a SECUREPORTINFO with its
// entries, sized by the count the library reports. 0 or -1.
int CoreGetSecurePortInfo(SDMDevice* device, std::vector<SD_UINT8>& info);
// Writes each entry of such a buffer as Debug lines.
void CorePrintSecurePortInfo(std::span<const SD_UINT8> info);

// Failover capability texts and the index of the last one chosen.
extern const char* const foCapText[4];
extern int foCapTextIdx;
