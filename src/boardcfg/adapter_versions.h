// Versions an adapter carries: the component versions of its active flash
// regions, its multiboot (MBI) and firmware package (FFV) versions from the
// flash memo block, the VPD or the firmware region, and its PEP
// board-configuration version beside a template's.
#pragma once

#include <span>

#include "core/sdm_device.h"
#include "image/flash_memo_block.h"
#include "mgmt/sd_types.h"

constexpr int ADAPTER_VERSIONS_NO_DEVICE = 8;

// Results of ComparePEPBoardConfigVersion.
constexpr int PEP_BRDCFG_OLDER = 0x8000;   // also: a version cannot be read
constexpr int PEP_BRDCFG_EQUAL = 0x8001;
constexpr int PEP_BRDCFG_NEWER = 0x8002;   // the template's is newer

// Fills the component versions of the adapter, each from its region (the
// active copy where the chip keeps two). A component whose region cannot be
// sized or read, or is too small for the version bytes, keeps the record's
// fields as they were. 8 for a null device or record; otherwise the status of
// the last of the FC board config, PEP SoftROM, PEP board config, MPI
// SoftROM, MPI firmware, PCIe SerDes and pegtune reads that ran (the size
// query's, else the read's).
int GetAdapterFlashComponentsVersion(SDMDevice* pDevice, FlashComponentVersion* pVersions);

// The adapter's multiboot version as digits: chip types above 24 the memo
// block's ("%d%02d%02d"), 13 to 24 the digits of the VPD "RM", "VV" or "V9",
// 12 and below the firmware region's. 0; -1 empty buffer; 8 null device; else
// the reader's status.
int RetrieveMBIVersionFromAdapter(SDMDevice* pDevice, std::span<char> pBuffer);
// Chip types 12 and below: "%d%02d%02d" of the version in the firmware region.
int RetrieveFirmwareMBImageVersionFromAdapter(SDMDevice* pDevice, std::span<char> pBuffer);

// The FFV version of the running set's memo block, "%d.%02d.%02d". With
// uOption, the adapter's MBI version ("%02d.%02d.%02d") replaces it when the
// block's MBI version differs from it or the block has no signature. 0; 35 no
// signature or chip type below 24; 37 region unreadable or empty; -1 empty buffer; 8
// null device.
int RetrieveFFVVersionFromAdapter(SDMDevice* pDevice, std::span<char> pVersion, SD_UINT32 uOption);
// Writes that text, or "Unable to read FFV version of HBA instance %d %s", to
// the output file for chip types 24 and up: the read's status, 0 for the
// other chip types, 8 for a null device.
int DisplayFFVVersionFromAdapter(SDMDevice* pDevice, SD_UINT32 uOption);

// Chip type 25: "HBA %d (%s): PEP board cfg version=%s", or "Unable to read
// PEP board cfg version of HBA instance %d %s", to the output file; the
// read's status. 0 for other chip types, 8 for a null device.
int DisplayPEPBrdCfgVersionFromAdapter(SDMDevice* pDevice);
// The template file's PEP board-configuration version against the adapter's,
// compared from the major byte down: 0x8002 newer, 0x8001 equal, 0x8000 older
// or unreadable.
int ComparePEPBoardConfigVersion(SDMDevice* pDevice, const char* pPEPBrdCfgFileName);
