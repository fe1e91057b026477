// The single door through which an image file reaches one adapter: refuses
// what must not be flashed, picks the port through which the flash is written
// (and the second chip's port on four-port adapters), sorts the adapter into
// an update class by chip type and hands it to that class's flow.
#pragma once

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// Update classes (doISPCheckForOptionROM).
constexpr SD_INT32 UPDCLASS_REGION = 1;            // single-region option-ROM update
constexpr SD_INT32 UPDCLASS_STD_BIOS = 2;          // 2, 3, 4: whole-image BIOS update
constexpr SD_INT32 UPDCLASS_STD_BIOS_OLD = 3;
constexpr SD_INT32 UPDCLASS_STD_BIOS_OLDEST = 4;
constexpr SD_INT32 UPDCLASS_OS_REFUSED = 5;
constexpr SD_INT32 UPDCLASS_UNKNOWN = 6;
constexpr SD_INT32 UPDCLASS_UNSUPPORTED = 7;
constexpr SD_INT32 UPDCLASS_REGION_RECHECK = 8;
constexpr SD_INT32 UPDCLASS_CNA = 9;
constexpr SD_INT32 UPDCLASS_K7R = 10;
constexpr SD_INT32 UPDCLASS_TORVI = 11;
constexpr SD_INT32 UPDCLASS_PEMRA = 12;            // no update flow
constexpr SD_INT32 UPDCLASS_DORNE = 13;
constexpr SD_INT32 UPDCLASS_VREL = 14;
constexpr SD_INT32 UPDCLASS_VMWARE_INBOX = 120;    // no update flow

// Statuses of updateOptionROMSingleHBA besides the flows' own.
constexpr SD_INT32 UPD_SUCCESS = 0;
constexpr SD_INT32 UPD_NOT_NEEDED = 2;             // counted as done
constexpr SD_INT32 UPD_OS_REFUSED = 3;
constexpr SD_INT32 UPD_UNSUPPORTED = 4;
constexpr SD_INT32 UPD_UNSUPPORTED_FAMILY = 7;
constexpr SD_INT32 UPD_NO_DEVICE = 8;
constexpr SD_INT32 UPD_UNKNOWN_ADAPTER = 9;
constexpr SD_INT32 UPD_LOCKDOWN = 24;
constexpr SD_INT32 UPD_DRIVER_REFUSED = 120;
constexpr SD_INT32 UPD_SUCCESS_REBOOT = 201;
constexpr SD_INT32 UPD_VIRTUAL_PORT = 286;

// Writes ROMFileName to the adapter of pDevice. 0 or 201 on success, else a
// refusal or the flow's status. *NoHBAUpdated (may be null) gets the number of
// adapters counted as updated (0 or 1) on every path past the early refusals
// (virtual port, lockdown, driver, unsupported update type), which leave it as
// it was. AllPorts non-zero takes every port of the adapter; DisableReset asks
// the flows not to reset or activate the adapter afterwards.
SD_INT32 updateOptionROMSingleHBA(SDMDevice* pDevice, const char* ROMFileName, SD_UINT16* NoHBAUpdated,
                                  SD_INT32 AllPorts, SD_UINT16 DisableReset);

// The refusals updateOptionROMSingleHBA makes before it looks at the image: 0
// when the adapter may be flashed, else the refusal's status (virtual port,
// firmware-update lockdown, driver, an adapter that adapters.properties does
// not allow or does not list). With `report` its line is written as the update
// would write it. Callers check it before they write anything else to the
// adapter.
SD_INT32 CheckUpdateRefusal(SDMDevice* pDevice, SD_INT32 AllPorts, bool report = true);
// What updateOptionROMSingleHBA would refuse in the image before its first
// write, for a command that writes the adapter ahead of the update: the
// request for the file as the update makes it, and for the Dorne engines
// their own steps up to their first write (the file read through the reader
// rule, the image validated for the adapter), with the lines the update
// writes. Nothing is written. 0 when the update would go on (the other flows
// check their file before they write anything), else the status the update
// would return. The refusals of CheckUpdateRefusal are the caller's.
SD_INT32 CheckUpdateImage(SDMDevice* pDevice, const char* ROMFileName, SD_INT32 AllPorts);

// Whether the update's engine would be refused its flash-update session
// because another process holds one on the adapter, for a command that
// writes the adapter ahead of the update: the on-line Dorne engine (chip type
// 25 when both the library and the adapter offer on-line update) of an
// adapter the update would write. Then the engine's lines are written and its
// status (525) given; else 0. (The chip-type-27 engine is left to refuse its
// session itself: nothing is written to its adapter before it.) Asks the
// library's shared database only: no session is opened or ended. The
// refusals of CheckUpdateRefusal and CheckUpdateImage come before it.
SD_INT32 CheckUpdateSession(SDMDevice* pDevice, SD_INT32 AllPorts);

// Writes the line of a refusal that CheckUpdateRefusal gave (nothing for 0).
void ReportUpdateRefusal(SDMDevice* pDevice, SD_INT32 AllPorts, SD_INT32 refusal);

// The update class of the port's adapter (7 for null or an adapter that
// adapters.properties does not mark supported).
SD_INT32 doISPCheckForOptionROM(SDMDevice* pDevice);

// The port through which the adapter's flash is written: the port itself for
// chip types below 8 or an odd flash sequence number, else the sibling port of
// the same adapter whose sequence number is one lower (the port itself when
// there is none). Null only for a null argument.
SDMDevice* FindSDMDeviceToUpdateFlash(SDMDevice* pDevice);
