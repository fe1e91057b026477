// The PEP board-configuration version of every port (an operation no command
// word selects): one output-file line per port.
#include <cstring>
#include <string>

#include "boardcfg/adapter_versions.h"
#include "cli/commands.h"
#include "frontend/hba_device_list.h"
#include "frontend/output.h"

int DisplayAllHBAsPEPBCVersion() {
    SDMDevice* first = GetMyDeviceList()->firstDevice;
    if (first == nullptr) {
        VORNLogMessage(VORN_MSG_INFO, "Korvex HBA not found!");
        return 9;
    }
    int status = 0;
    for (SDMDevice* port = first; port != nullptr; port = port->next) {
        status = DisplayPEPBrdCfgVersionFromAdapter(port);
        if (status == -1) {
            const char* m = port->DeviceNodeProperty.Model;
            scfxPrint("Unable to query PEP board config version of HBA instance %d - %s!",
                      static_cast<int>(port->DeviceNumber), std::string(m, strnlen(m, sizeof port->DeviceNodeProperty.Model)).c_str());
        }
    }
    return status;
}
