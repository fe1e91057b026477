// Versions of the PEP board configuration (signature "IKOZ", region 0xCF) of
// the adapter and of a template.
#pragma once

#include <span>
#include <vector>

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

typedef struct _PepBoardCfgVersion {
    SD_UINT8 FileSignature[4];
    SD_UINT8 AdapterSignature[4];
    SD_UINT16 SubsystemVendorID;
    SD_UINT16 SubsystemDeviceID;
    SD_UINT8 ExistingVersionMajor;
    SD_UINT8 ExistingVersionMinor;
    SD_UINT8 ExistingVersionSubMinor;
    SD_UINT8 ExistingVersionTest;
    SD_UINT8 NewVersionMajor;
    SD_UINT8 NewVersionMinor;
    SD_UINT8 NewVersionSubMinor;
    SD_UINT8 NewVersionTest;
} PepBoardCfgVersion, *PPepBoardCfgVersion;

constexpr int PEP_SUCCESS = 0;
constexpr int PEP_OPEN_FAILED = 1;
constexpr int PEP_NO_DEVICE = 8;
constexpr int PEP_CORRUPTED = 13;
constexpr int PEP_INVALID_DATA = 15;
constexpr int PEP_UNSUPPORTED_CHIP = 52;
constexpr int PEP_NULL_RECORD = 115;

// Offsets of the second copy of the ids in the PEP table.
constexpr std::size_t PEP_OFF_SSDID_COPY = 264;
constexpr std::size_t PEP_OFF_SSVID_COPY = 266;

// Reads region 0xCF of a chip-type-25 adapter into the Existing bytes, the
// adapter signature and the ids: 0, 8, 52 (other chip types), 115, or the
// region wrappers' status.
int getPEPBrdCfgVersionFromAdapter(SDMDevice* pDevice, PepBoardCfgVersion* pVersions);
// Builds the PEP table from the template over the adapter's copy (ids at both
// places, checksum) and fills the New bytes and the file signature. The image
// goes to *pImage when given. 0, 1, 8, 13, 15, 52, 115 or the read's status.
int ReadPEPBoardConfigBufferFromFile(SDMDevice* pDevice, const char* pPEPBrdCfgFileName,
                                     PepBoardCfgVersion* pVersions, SD_UINT32 uHBAType,
                                     std::vector<SD_UINT8>* pImage = nullptr);
// "%d.%d.%d.%d" of the adapter's version into the buffer: 0, -1 for an empty
// buffer, otherwise the read's status.
int RetrievePEPBrdCfgVersionFromAdapter(SDMDevice* pDevice, std::span<char> pVersionString);
