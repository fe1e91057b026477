// Driver-version tests: whether a port's driver reports the speeds its port
// supports (read by the general-information report), and the one Windows
// driver release set that implements FEC itself.
#pragma once

#include "core/sdm_device.h"

// The Linux driver reports supported speeds from 8.07.00.48 on (fields split at
// '-', '.', 'k' and ' '). False for null.
bool isLinuxDriverWithSupportedSpeed(const char* pDriverVersion);
// The ESX driver does from 2.1.56 on. False for null.
bool isEsxDriverWithSupportedSpeed(const char* pDriverVersion);
// Either of the two on the port's driver version; false for a null port.
bool isDriverWithSupportedSpeed(const SDMDevice* pDevice);
// True for a null text, a non-positive length and the releases 9.1.11.24,
// 9.1.11.27 and 9.1.11.28 (fields split at '.', ',' and ' ').
bool isWindowsServerFECImplDriverVersion(const char* pDriverVersion, int versionLen);
