// The core layer's initialise and uninitialise.
#include "core/core_init.h"

#include <cstdio>
#include <cstring>

#include "core/core_log.h"
#include "core/edif_config_file.h"
#include "core/oss_services.h"
#include "core/polling_loop.h"
#include "core/preferences.h"
#include "core/sdm_device.h"

namespace {
char g_configurationFileName[260];
}  // namespace

int CoreInitialize() {
    const int n = std::snprintf(g_configurationFileName, sizeof g_configurationFileName, "%s%s", OSSGetConfigPath(),
                                PREF_FILE_NAME);
    // A cut name would open another file: no preference file rather than a wrong one.
    if (n < 0 || static_cast<size_t>(n) >= sizeof g_configurationFileName) g_configurationFileName[0] = '\0';
    CoreClearSingleRefresh();
    CoreLogMessage(ZV_MSG_DEBUG, "CoreInitialize: g_configurationFileName is '%s' \n", g_configurationFileName);
    CoreLoadPollingInterval();
    CoreLoadFabricScanning();
    CoreLoadQuietMode();
    CoreGetFlashUpdateConfig();
    InitDeviceList();
    return 0;
}

int CorePreInitialize() {
    const int n = std::snprintf(g_configurationFileName, sizeof g_configurationFileName, "%s%s", OSSGetConfigPath(),
                                PREF_FILE_NAME);
    if (n < 0 || static_cast<size_t>(n) >= sizeof g_configurationFileName) g_configurationFileName[0] = '\0';
    CoreLoadPollingInterval();
    CoreLoadFabricScanning();
    CoreLoadQuietMode();
    InitDeviceList();
    CoreFindEDiffConfigPath();
    return 0;
}

int CoreUninitialize() {
    CoreLogMessage(ZV_MSG_DEBUG, "Deallocating Core resources...");
    RemoveAllDevicesFromDeviceList();
    return 0;
}

const char* CoreGetConfigFileName() { return g_configurationFileName; }
