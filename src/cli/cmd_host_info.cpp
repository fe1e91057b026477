// "-g", first half: the host block.
#include <string>

#include "cli/commands.h"
#include "core/host_info.h"
#include "frontend/output.h"

int ShowHostInfo() {
    HostInformationPtr info = CreateNewHostInformation();
    if (!info) return 0;
    const std::string rule(70, '-');
    if (GetHostInformation(info.get()) == 0) {
        PrintOutPut("%s", rule.c_str());
        PrintOutPut("Host Name                      : %s", info->HostName);
        PrintOutPut("OS Type                        : %s", info->HostType);
        PrintOutPut("OS Version                     : %s", info->HostVersion);
        PrintOutPut("FOAPI                          : %s", info->FoApiVersion);
        PrintOutPut("ZOZIRA                         : %s", info->ZozIraVersion);
    } else {
        PrintOutPut("Unable to retrievet host information!");
    }
    PrintOutPut("%s", rule.c_str());
    DeleteHostInformation(info);
    return 0;
}
