// The flash-descriptor repair of every chip-type-24 adapter (a dispatch entry
// that no option selects).
#include <cstring>

#include "cli/commands.h"
#include "core/chip_types.h"
#include "frontend/hba_device_list.h"
#include "frontend/output.h"
#include "frontend/str_util.h"
#include "image/flash_descriptor_fix.h"

int ModifyAllHBAsFLashDescriptorTable() {
    if (GetMyDeviceList()->firstDevice == nullptr) {
        VORNLogMessage(VORN_MSG_INFO, "Korvex HBA not found!");
        return 9;
    }
    int result = 9;
    char previous[VORN_SERIAL_SIZE] = {};
    for (SDMDevice* port = GetMyDeviceList()->firstDevice; port != nullptr; port = port->next) {
        if (CoreGetISPType(port) != 24) continue;
        // One repair per adapter: its first port stands for the others.
        char key[VORN_SERIAL_SIZE] = {};
        GetAdapterKey(port, key, sizeof key);
        if (previous[0] != '\0' && striscmp(key, previous) == 0) continue;
        std::memcpy(previous, key, sizeof previous);
        result = ModifyFlashDescriptorTableAdapter(port);
        if (result != 0 && result != 201 && result != FDT_ERASE_CODE_OK)
            scfxPrint("Unable to modify flash descriptor table of HBA instance %u - %.32s!", port->DeviceNumber,
                      port->DeviceNodeProperty.Model);
    }
    return result;
}
