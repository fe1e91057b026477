// "-g", second half: every adapter with its ports, in device-list order.
#include <algorithm>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/hba_device_list.h"
#include "frontend/output.h"
#include "mgmt/sdapi.h"

namespace {

#define WWN_FMT "%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X"
#define WWN_ARGS(w) (w)[0], (w)[1], (w)[2], (w)[3], (w)[4], (w)[5], (w)[6], (w)[7]

const char* SpeedText(SD_UINT32 code) {
    switch (code) {
        case 1: return "1 Gbps";
        case 2: return "2 Gbps";
        case 3: return "Auto";
        case 4: return "4 Gbps";
        case 8: return "8 Gbps";
        case 16: return "10 Gbps";
        case 22: return "16 Gbps";
        case 32: return "20 Gbps";
        case 50: return "32 Gbps";
        case 100: return "64 Gbps";
        case 296: return "128 Gbps";
        case 598: return "256 Gbps";
        default: return "Unknown";
    }
}

}  // namespace


int DisplayAllHBAs() {
    if (GetMyDeviceList()->firstDevice == nullptr) {
        PrintOutPut("No compatible HBA(s) found in current system !");
        return 8;
    }
    int ports = 0, furtherPorts = 0;
    std::string previous;
    bool first = true;
    for (SDMDevice* d = GetMyDeviceList()->firstDevice; d != nullptr; d = d->next) {
        ++ports;
        char serial[VORN_SERIAL_SIZE]{}, key[VORN_SERIAL_SIZE]{};
        GetAdapterSerialNo(d, serial, sizeof serial);
        GetAdapterKey(d, key, sizeof key);
        const bool virt = isVirtualPortHBA(d) != 0;
        const int number = virt ? GetVirtualPortID(d) : GetPortIndex(d);
        char state[VORN_STATE_SIZE]{};
        const int status = GetAdapterStatus(d, state, sizeof state);
        const char* speed = "";
        if (status == 0) {
            DEVICEPORTPROPERTY pp = d->DevicePortProperty;
            if (SDGetHbaDevicePortProperty(d->DeviceHandle, 0, &pp) != SDERR_SUCCESS) pp = d->DevicePortProperty;
            speed = SpeedText(pp.PortSpeed);
        }
        if (first || previous != key) {
            char model[sizeof d->DeviceNodeProperty.Model + 1]{};
            std::memcpy(model, d->DeviceNodeProperty.Model, sizeof d->DeviceNodeProperty.Model);
            PrintOutPut("HBA Model %s (SN %s):", model, serial);
        } else {
            ++furtherPorts;
        }
        first = false;
        previous = key;
        const SD_UINT8* w = d->DevicePortProperty.WWN;
        if (virt)
            PrintOutPut("  vPort %2d WWPN " WWN_FMT " (HBA instance %2d) %s %s", number, WWN_ARGS(w),
                        static_cast<int>(d->DeviceNumber), state, speed);
        else
            PrintOutPut("  Port %d WWPN " WWN_FMT " (HBA %ld) %s %s", number, WWN_ARGS(w),
                        static_cast<long>(d->DeviceNumber), state, speed);
    }
    PrintOutPut("%s", std::string(70, '-').c_str());
    PrintOutPut("Total Korvex HBA(s) : %d", ports - furtherPorts);
    VORNLogMessage(VORN_MSG_DEBUG, "Total adapter with dual port : %d", furtherPorts);
    return 0;
}
