// "-mpi": whether the management-port (MPI) firmware of an adapter may run and runs,
// as its firmware-state mailbox command reports it.
#include <array>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "frontend/output.h"
#include "mgmt/sdapi.h"

namespace {

constexpr SD_UINT16 kGetFirmwareState = 0x69;
constexpr SD_UINT16 kCommandComplete = 0x4000;
constexpr std::size_t kOutRegisters = 32;
constexpr std::size_t kMpiStateRegister = 12;
constexpr SD_UINT16 kMpiReportValid = 0x8000;
constexpr SD_UINT16 kMpiEnabled = 0x0100;
constexpr SD_UINT16 kMpiRunning = 0x0200;

}  // namespace

int GetAdapterManagementPortInterfaceState(SDMDevice* port) {
    if (port == nullptr) {
        PrintOutPut("No compatible HBA(s) found in current system !");
        return 8;
    }
    const std::array<SD_UINT16, 1> mbxIn = {kGetFirmwareState};
    std::array<SD_UINT16, kOutRegisters> mbxOut{};
    const SD_UINT32 status = SDMailboxPassthru(port->DeviceHandle, 0, mbxIn, mbxOut);
    VORNLogMessage(VORN_MSG_DEBUG, "GetAdapterManagementPortInterfaceState: SDMailboxPassthru() returns 0x%x (%s)", status,
                   SDGetErrorString(status));
    VORNLogMessage(VORN_MSG_DEBUG, "GetAdapterManagementPortInterfaceState: mbxIn : 0x%x", mbxIn[0]);
    VORNLogMessage(VORN_MSG_DEBUG, "GetAdapterManagementPortInterfaceState: mbxOut:");
    for (std::size_t i = 0; i < mbxOut.size(); ++i)
        VORNLogMessage(VORN_MSG_DEBUG, "mbxOut[%d]=0x%x", static_cast<int>(i), mbxOut[i]);

    if (status != SDERR_SUCCESS) {
        const char* m = port->DeviceNodeProperty.Model;
        PrintOutPut("Unable to retrieve MPI firmware state of HBA %d (%s)!", static_cast<int>(port->DeviceNumber),
                    std::string(m, strnlen(m, sizeof port->DeviceNodeProperty.Model)).c_str());
        return 41;
    }
    if (mbxOut[0] != kCommandComplete) {
        PrintOutPut("Get firmware state failed (0x%x)!", mbxOut[0]);
        return 41;
    }
    const SD_UINT16 state = mbxOut[kMpiStateRegister];
    if ((state & kMpiReportValid) == 0) {
        PrintOutPut("MPI reporting feature is not supported with current firmware!");
        return 41;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "GetAdapterManagementPortInterfaceState: MPI reporting feature valid");
    if ((state & kMpiEnabled) == 0) {
        PrintOutPut("MPI is disabled to run");
    } else {
        PrintOutPut("MPI is enabled to run");
        PrintOutPut((state & kMpiRunning) != 0 ? "MPI is actively running" : "MPI is not running");
    }
    VORNLogMessage(VORN_MSG_DEBUG, "GetAdapterManagementPortInterfaceStatus: Return %d", 0);
    return 0;
}
