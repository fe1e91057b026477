// The front end's device list and adapter-entry list (built after discovery).
#pragma once

#include <cstdint>

#include "core/sdm_device.h"

// Builds both lists from the core device model; 0.
int BuildHBADevices();
// Frees every record of the front-end device list and empties it; 0.
int CloneFreeVORNDeviceList();
// Releases every adapter entry and leaves the list empty; 0.
int RemoveAllAdaptersFromAdapterList();
// The first port with that instance number / port WWN, or null.
SDMDevice* FindDeviceInDeviceListByDeviceNumber(uint32_t deviceNumber);
SDMDevice* FindDeviceInDeviceListByDeviceWWPN(const uint8_t* deviceWWPN);
