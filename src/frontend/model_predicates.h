// Model predicates: recognise OEM and special adapters by their PCI subsystem
// ids (NVRAM variables 128 and 127 of the current NVRAM copy, or the chip
// property where noted) or their PCI device id. Each gives 0 for a null port
// unless noted.
#pragma once

#include <cstddef>

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// Subsystem ids of a port from its current NVRAM copy (low 16 bits).
SD_UINT16 GetNvramSubSystemID(const SDMDevice* port);   // variable 128
SD_UINT16 GetNvramSubVendorID(const SDMDevice* port);   // variable 127

int isSUNHBA(const SDMDevice* port);                    // 1 (2G/4G), 2 (8G)
int isDolvanHBA(const SDMDevice* port);
int isFCoECNA(const SDMDevice* port);                   // chip property device id
int isPCIExpressHBA(const SDMDevice* port);
int isISPfumo(const SDMDevice* port);
int isTunsbyAdapter(const SDMDevice* port);             // 1, 2; 8 for null
int isBroskAdapter(const SDMDevice* port);
int isEServerBladeCenterHBA(const SDMDevice* port);
int isVoduBladeServerHBA(const SDMDevice* port);
int isZEM4GAdapter(const SDMDevice* port);
int isIBM8GMezzHBA(const SDMDevice* port);              // 1..7
int isEDCUpdateSupported(const SDMDevice* port);
int isVitesseEDCUpdateSupported(const SDMDevice* port);
int isBrocadeFeatureUnSupportedAdapters(const SDMDevice* port);
int is16GN4FCOnlyHBA(const SDMDevice* port);
int isMezz16GHBA(const SDMDevice* port);
int isMezz32GHBA(const SDMDevice* port);
int isTessikHBA(const SDMDevice* port);
int isFennickHBA(const SDMDevice* port);
int isK7RHBA(const SDMDevice* port);
struct _AdapterEntry;
int isK7RAdapter(const _AdapterEntry* entry);
int isTorviHBA(const SDMDevice* port);
int isDorne16GHBA(const SDMDevice* port);
int isDorne32GHBA(const SDMDevice* port);
int isDorneHBA(const SDMDevice* port);                  // 1 (16G), 2 (32G)
int isBrantix16GHBA(const SDMDevice* port);
int isBrantix32GHBA(const SDMDevice* port);
int isBrantixHBA(const SDMDevice* port);                // 1 (16G), 2 (32G)
int isOpenPowerPCBrantix(const SDMDevice* port);
int isMezzHBA(const SDMDevice* port);
int hasSingleBIOSChip(const SDMDevice* port);           // 1, 2, 3; 8 for null
int isSingleBIOSChipOEM(const SDMDevice* port);         // 12; 8 for null
int isCNAWithLROptionEnable(const SDMDevice* port);
int Get4GbAnd8GbISPType(const SDMDevice* port);
// Writes the device id as "%x" (or a chip name for one OEM adapter); its length.
int GetAdapterType(const SDMDevice* port, char* text, size_t size);
int GetQoSEnableState(const SDMDevice* port);
int GetQoSLockState(const SDMDevice* port);

// Start-up corrections of OEM adapters.
int updateModelStrForSingleBIOSHBA(SDMDevice* port);
int UpdateHBAVersionForOEM(SDMDevice* port);
