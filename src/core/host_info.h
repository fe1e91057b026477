// Host description for the host display, FC board-configuration preservation,
// PLDM firmware-package recognition, the adapter's lockdown state and the
// driver-attribute tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

typedef struct _HostInformation {
    char HostName[64];
    char HostType[64];
    char HostVersion[64];
    char AgentVersion[64];
    SD_UINT32 bViewVyPortName;
    char ZozIraVersion[64];
    SD_UINT32 FoApiCapabilities;
    char FoApiVersion[64];
    char FoDriverVersion[64];
    SD_UINT32 bOEM_AlternateFailoverProcessDetected;
} HostInformation, *PHostInformation;

using HostInformationPtr = std::unique_ptr<HostInformation>;

// A zero-filled record, or null when memory is exhausted.
HostInformationPtr CreateNewHostInformation();
// -1 for null, else 0 (the record is released).
int DeleteHostInformation(HostInformationPtr& record);
// Host texts of the operating-system layer, library versions, failover data of
// the first adapter; -1 for null, else 0.
int GetHostInformation(HostInformation* record);

// ---- FC board configuration ------------------------------------------------------
constexpr SD_UINT32 FC_BRDCFG_SIGNATURE = 0x28464243;   // "CBF("
constexpr size_t FC_BRDCFG_OFF_SIGNATURE = 0;
constexpr size_t FC_BRDCFG_OFF_VERSION = 4;
constexpr size_t FC_BRDCFG_OFF_CHECKSUM = 8;
constexpr size_t FC_BRDCFG_OFF_LENGTH = 12;            // in 32-bit words
constexpr size_t FC_BRDCFG_OFF_SSVID = 16;
constexpr size_t FC_BRDCFG_OFF_SSDID = 18;
constexpr size_t FC_BRDCFG_OFF_SFP_POLL_TIME = 0x1C0;
constexpr size_t FC_BRDCFG_OFF_SFP_POLL_ENABLE = 0x1C1;  // bit 0
constexpr size_t FC_BRDCFG_OFF_BBCR[4] = {0x332, 0x6F2, 0xAB2, 0xE72};
constexpr size_t FC_BRDCFG_OFF_FEC[4] = {0x336, 0x6F6, 0xAB6, 0xE76};  // bit 1
// Bytes a buffer needs to hold every field that is carried over.
constexpr size_t FC_BRDCFG_MIN_SIZE = 0xE77;

// Carries the adapter's SFP poll, credit-recovery and FEC settings from the
// adapter's board configuration into the one built from the template, writes
// the device's subsystem ids and recomputes the checksum. 0 when the file buffer
// then validates; -1 for a null device, a chip type below 25, a buffer too short
// for the fields, a wrong signature or a length field beyond the file buffer;
// the checksum validation's result otherwise.
int CorePreserveFCBrdCfgData(const SDMDevice* device, std::span<const SD_UINT8> adapterBuffer,
                             std::span<SD_UINT8> fileBuffer);
// The same on explicit chip type and subsystem ids.
int CorePreserveFCBrdCfgBuffers(int chipType, SD_UINT16 subVendorId, SD_UINT16 subSystemId,
                                std::span<const SD_UINT8> adapterBuffer, std::span<SD_UINT8> fileBuffer);

// ---- PLDM firmware-update package ---------------------------------------------------
constexpr size_t PLDM_HEADER_FIXED_SIZE = 36;   // through the version string length
// The package header size when the buffer starts with the PLDM package identifier
// and holds the whole header; 0 otherwise.
SD_UINT32 CoreGetPLDMFwImageHeaderSize(std::span<const SD_UINT8> buffer);
// 1 when the buffer starts with the identifier and holds the whole header; logs its fields.
int CoreIsPLDMFwImage(std::span<const SD_UINT8> buffer);

// ---- Lockdown and driver attributes ------------------------------------------------------
// 0 (record filled), -1 null argument, -56 driver without lockdown support,
// -55 firmware without it.
int CoreGetAdapterLockDownState(const SDMDevice* device, PSYSTEM_LOCKDOWN_INFO record);

int CoreIsDriverWithSanCongMgmtSupport(const SDMDevice* device);         // attribute bit 23
int CoreIsDriverWithLockdownSupport(const SDMDevice* device);            // bit 25
int CoreIsDriverWithSanCongMgmtV2Support(const SDMDevice* device);       // bit 26
int CoreIsDriverWithSanCongMgmtProfileSupport(const SDMDevice* device);  // bit 28
// The port's SCM fabric connection flags; 0 for a null device or a failed read.
SD_UINT8 CoreGetSanCongMgmtFabricConnectionMode(const SDMDevice* device);
