// Manufacturing-mode updates: one flash region of an adapter written from a
// file, without a multiboot image layout table (FC RISC firmware on chip type
// 24, FCoE firmware on chip type 21, the soft-ROM region of the Tessik
// adapter), for one port or for every matching adapter of the host.
//
// What is validated, patched and written is always the file's content, laid
// over the start of the region as the adapter holds it now; a file larger
// than the region (or empty) is refused before anything is written.
#pragma once

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// Statuses.
constexpr SD_INT32 ZMFG_SUCCESS = 0;
constexpr SD_INT32 ZMFG_UNSUPPORTED_PORT = 7;       // soft-ROM: not a Tessik port
constexpr SD_INT32 ZMFG_NO_DEVICE = 8;
constexpr SD_INT32 ZMFG_WRONG_SIZE = 27;            // empty, larger than the region, FCoE firmware above 512 KiB
constexpr SD_INT32 ZMFG_FILE_REFUSED = 30;          // firmware header for another chip
constexpr SD_INT32 ZMFG_NOT_DONE = 34;              // port wrappers: nothing run; other regions: write failed
constexpr SD_INT32 ZMFG_REGION_UNREADABLE = 36;
constexpr SD_INT32 ZMFG_NO_LAYOUT = 37;
constexpr SD_INT32 ZMFG_NO_MEMORY = 115;
constexpr SD_INT32 ZMFG_SUCCESS_REBOOT = 201;
constexpr SD_INT32 ZMFG_BOOT_WRITE_FAILED = 458;
constexpr SD_INT32 ZMFG_FW_WRITE_FAILED = 459;      // also a session that cannot be closed
constexpr SD_INT32 ZMFG_FCOE_FW_WRITE_FAILED = 461;
constexpr SD_INT32 ZMFG_FCOE_BOOT_WRITE_FAILED = 462;
constexpr SD_INT32 ZMFG_BOOT_VERSIONS_FAILED = 463;
constexpr SD_INT32 ZMFG_FCOE_BOOT_VERSIONS_FAILED = 464;
constexpr SD_INT32 ZMFG_BOOT_HEADERS_FAILED = 465;
constexpr SD_INT32 ZMFG_SESSION_FAILED = 525;
constexpr SD_INT32 ZMFG_SOFTROM_FAILED = 900;
// Boot code and other regions written without a session, taking effect at the
// next reboot: the library's answer is the status.
constexpr SD_INT32 ZMFG_WRITTEN_NOT_ACTIVATED = 0x20000100;
// The file reader's statuses.
constexpr SD_INT32 ZMFG_READ_FAILED = -1;
constexpr SD_INT32 ZMFG_READ_NO_MEMORY = -17;

// Largest file the reader takes, and largest FCoE firmware file.
constexpr SD_UINT32 ZMFG_MAX_FILE_SIZE = 409600000;
constexpr SD_UINT32 ZMFG_MAX_FCOE_FW_SIZE = 0x80000;

// Writes region uRegionNo of the adapter from the file. 0; when the write
// answered "written, not activated" (0x20000100): 201 for RISC firmware and
// for writes inside a session (chip types above 24), that answer itself for
// boot code and other regions written without one; otherwise a status above
// (the file reader's -1 or -17 without a message).
SD_INT32 ZMFGFlashRegionUpdate(SDMDevice* pDevice, const char* pImageFile, SD_UINT32 uRegionNo);

// One port: runs the update only for a physical port with uHBAType 3 of the
// wrapper's chip type (24 FC firmware into region 0x01, 21 FCoE firmware into
// 0xA4; the soft-ROM one for a Tessik port into 0x03). Otherwise 34 (8 and 7
// for the soft-ROM one).
SD_INT32 ZMFGUpdateFCFirmwareFromFileToHBAPort(SDMDevice* pDevice, const char* pFwFileName, SD_UINT32 uHBAType);
SD_INT32 ZMFGUpdateFCoEFirmwareFromFileToHBAPort(SDMDevice* pDevice, const char* pFwFileName, SD_UINT32 uHBAType);
SD_INT32 ZMFGUpdateSoftROMFirmwareFromFileToHBAPort(SDMDevice* pDevice, const char* pFwFileName,
                                                    SD_UINT32 uHBAType);

// Every matching port of the front end's device list whose flash permission
// allows it (the firmware ones only ports of PCI subsystem device id
// subSysDeviceId, 0xFFFF for any). 459 / 461 / 900 when a port update failed;
// else the last port update's status, or 8 when none ran.
SD_INT32 ZMFGUpdateFCFirmwareFromFileToAllHBAs(const char* pFwFileName, SD_UINT32 uHBAType, SD_UINT32 subSysDeviceId);
SD_INT32 ZMFGUpdateFCoEFirmwareFromFileToAllHBAs(const char* pFwFileName, SD_UINT32 uHBAType,
                                                 SD_UINT32 subSysDeviceId);
SD_INT32 ZMFGUpdateSoftROMFirmwareFromFileToAllHBAs(const char* pFwFileName, SD_UINT32 uHBAType,
                                                    SD_UINT32 subSysDeviceId);
