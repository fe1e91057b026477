// Not carried by this build yet: the front end's lists stay empty, so every
// command that needs a port finds none.
#include "cli/hba_device_list.h"

#include "cli/output.h"

int BuildHBADevices() {
    VORNLogMessage(VORN_MSG_DEBUG, "BuildHBADevices: Enter...");
    return 0;
}

int CloneFreeVORNDeviceList() { return 0; }
int RemoveAllAdaptersFromAdapterList() { return 0; }
SDMDevice* FindDeviceInDeviceListByDeviceNumber(uint32_t /*deviceNumber*/) { return nullptr; }
SDMDevice* FindDeviceInDeviceListByDeviceWWPN(const uint8_t* /*deviceWWPN*/) { return nullptr; }
