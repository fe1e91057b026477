// SCSI probing of targets and LUNs during discovery: TEST UNIT READY, REPORT
// LUNS, INQUIRY (standard and the VPD pages 0x80 and 0x83) and READ CAPACITY
// (10) or (16), sent through the library's Fibre Channel passthrough. The
// answer decoding is kept in pure functions so that it can be checked on its own.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

constexpr size_t SCSI_SENSE_LEN = 80;
constexpr size_t SCSI_INQUIRY_LEN = 36;

// Sense key, additional sense code and qualifier, from fixed-format (0x70,
// 0x71) or descriptor-format (0x72, 0x73) sense data.
struct ScsiSense {
    SD_UINT8 key = 0;
    SD_UINT8 asc = 0;
    SD_UINT8 ascq = 0;
};
ScsiSense ScsiDecodeSense(std::span<const SD_UINT8> sense);

// What a readiness check does with one TEST UNIT READY answer.
enum class TurAction {
    Ready,        // the target or LUN answers
    Passive,      // LUN only: answers, over a passive path
    RetrySleep,   // count, sleep 1 second, ask again
    RetryNow,     // count, ask again at once
    NextLun,      // target only: count; after 10 tries on this LUN try the next
    NotReady,
};
TurAction ScsiTargetTurAction(SD_UINT32 status, const ScsiSense& sense);
TurAction ScsiLunTurAction(SD_UINT32 status, const ScsiSense& sense);

// Capacity from a READ CAPACITY (10) or (16) answer; nullopt when too short.
struct ScsiCapacity {
    SD_UINT64 lastLba = 0;
    SD_UINT32 blockLength = 0;
};
std::optional<ScsiCapacity> ScsiParseReadCapacity10(std::span<const SD_UINT8> data);
std::optional<ScsiCapacity> ScsiParseReadCapacity16(std::span<const SD_UINT8> data);

// LUN numbers of a REPORT LUNS answer, at most `limit`, never reading past the
// buffer the answer arrived in (the 14-bit flat form: bit 14 cleared).
std::vector<SD_UINT16> ScsiParseReportLuns(std::span<const SD_UINT8> data, size_t limit);

// Identifier of a device-identification page (0x83) whose length is the byte
// before `offset`; at most 32 bytes. nullopt when the page is not 0x83 or the
// identifier does not lie in the answer.
std::optional<std::vector<SD_UINT8>> ScsiParseDeviceIdPage(std::span<const SD_UINT8> data, size_t offset);

// Name of a SCSI peripheral device type for log lines.
const char* GetSCSIPeripheralType(SD_UINT32 type);

// LUN size in MiB from its block count and block length.
SD_UINT32 CoreCalcLunSize(SD_UINT64 blockCount, SD_UINT32 blockSize);

// LUN limit when the driver reports none.
constexpr SD_UINT32 SCSI_DEFAULT_LUN_LIMIT = 256;
// LUN numbers are 14-bit: no limit above this is useful.
constexpr SD_UINT32 SCSI_MAX_LUN_LIMIT = 16384;

// ---- Probing (through the management library) ------------------------------------------
int CheckTargetReady(SDMDevice* device, SDMTarget* target);
int CheckLunReady(SDMDevice* device, SDMTarget* target, SD_UINT16 lun, SD_INT32* onPassivePath);
int RetrieveLunsForTarget(SDMDevice* device, SDMTarget* target);
int RetrieveWWULunNumberForLun(SDMDevice* device, SDMTarget* target, SDMLun* lun);
int RetrieveSerialNumberForTarget(SDMDevice* device, SDMTarget* target, SDMLun* lun);
int UpdateTargetWithOEMParameters(SDMDevice* device, SDMTarget* target);
// Asks the library for the LUN's OS device name; -1 when the name is shorter
// than 8 characters, else the library status.
int GetSingleTargetsOSMapping(SDMDevice* device, SDMTarget* target, SD_UINT16 lun, std::span<char> name);
// Standard 36-byte INQUIRY to one LUN of the target; the library status.
SD_UINT32 ScsiInquiryTarget(SDMDevice* device, SDMTarget* target, SD_UINT16 lun,
                            std::span<SD_UINT8, SCSI_INQUIRY_LEN> data);

SD_UINT32 SDSendScsiReadCapacityLargeCmdFC(int handle, PDESTINATIONADDRESS destination, std::span<SD_UINT8> buffer,
                                           std::span<SD_UINT8> sense);
