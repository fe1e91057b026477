// Placeholder until start-up discovery lands: builds no device.
#include "core/device_discovery.h"

int CoreInitializeDevices() { return 0; }
void RemoveAllDevicesFromDeviceList() {}
