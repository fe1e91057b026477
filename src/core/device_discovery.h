// Start-up discovery: builds and tears down the core device model.
#pragma once

// Opens every management-library instance and creates its device; 0 always.
int CoreInitializeDevices();
// Closes every device handle (the last close unloads the library) and empties
// the device list.
void RemoveAllDevicesFromDeviceList();
