// Queries that talk to the fabric or to remote ports through the library's
// passthrough functions: the fabric's interconnect elements and their domain
// ids, the adjacent fabric and port names, the read-diagnostic-parameters and
// link-cable-beacon link services, per-target LUN quality of service and its
// flash copy, the adapter's PCI identity, firmware private statistics and the
// target beacon.
//
// Every answer is read within the bytes the library gave back: element
// counts, response lengths and QoS slots are bounded by their buffers.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// ---- Common transport (CT) requests ---------------------------------------------------
constexpr std::size_t CT_PREAMBLE_SIZE = 16;
constexpr SD_UINT16 CT_ACCEPT = 0x8002;
constexpr SD_UINT8 CT_GS_FABRIC_CONFIG = 0xFA;      // subtype 0x01
constexpr SD_UINT8 CT_GS_NAME_SERVER = 0xFC;        // subtype 0x02
constexpr SD_UINT16 CT_CMD_IE_LIST = 0x0101;
constexpr SD_UINT16 CT_CMD_IE_LIST_OLD = 0x0100;    // for fabrics that reject the above
constexpr SD_UINT16 CT_CMD_DOMAIN_ID = 0x0112;
constexpr SD_UINT16 CT_CMD_FABRIC_PORT_NAME = 0x011C;
constexpr SD_UINT16 CT_CMD_PORT_NAME = 0x0112;
constexpr std::size_t CT_IE_LIST_RESPONSE_SIZE = 3088;
constexpr std::size_t CT_IE_FIRST = 20;             // count at 16-19 (big-endian), elements from 20
constexpr std::size_t CT_IE_SIZE = 12;              // name (8), 3 reserved, type
constexpr std::size_t CT_IE_MAX = (CT_IE_LIST_RESPONSE_SIZE - CT_IE_FIRST) / CT_IE_SIZE;
constexpr std::size_t CT_DOMAIN_RESPONSE_SIZE = 20;
constexpr std::size_t CT_NAME_RESPONSE_SIZE = 80;

// The 16-byte request preamble (big-endian): revision 1, the GS type and
// subtype, the command code; zeros elsewhere.
void CoreBuildCTPreamble(std::span<SD_UINT8, CT_PREAMBLE_SIZE> out, SD_UINT8 gsType, SD_UINT8 gsSubtype,
                         SD_UINT16 command);
// True when the response carries the accept code in bytes 8-9.
bool CoreIsCTAccepted(std::span<const SD_UINT8> response);

// One interconnect element of the fabric.
struct CoreInterconnectElement {
    SD_UINT8 Name[8];
    SD_UINT8 Type;
};
// The element list (unsorted): 0; the library's status; -1 when both list
// requests fail; -17 when memory runs out. A rejected answer lists nothing.
// At most as many elements as the answer holds are taken, whatever its count says.
SD_INT32 CoreGetInterconnectElements(SDMDevice* pDevice, std::vector<CoreInterconnectElement>& elements);

// Orders two 8-byte names by their lower-case hexadecimal texts.
int CoreCompareIEPortName(const SD_UINT8* p1, const SD_UINT8* p2);
// Domain id of a fabric element (written only for an accepted answer): the
// library status, -1 for a rejected command (0x2000001C), -17 memory.
SD_INT32 CoreGetSwitchDomainID(SDMDevice* pDevice, const SD_UINT8* pFabricWWN, SD_UINT8* pDomainID);
// The element with the lowest domain id (the earlier of equals, in name
// order); an element whose domain is not known counts with the previous
// one's. Zeros when the fabric lists none. The list request's status, -1
// when both list requests fail, -1 for a buffer under 8 bytes.
SD_INT32 CoreGetPrincipalFabricWWN(SDMDevice* pDevice, std::span<SD_UINT8> pSwWWN);
// The last element (in name order) whose domain id is the domain of the
// adapter port's own address; zeros when none. Statuses as above.
SD_INT32 CoreGetAttachedSwitchFabricWWN(SDMDevice* pDevice, std::span<SD_UINT8> pSwWWN);
// 3 (a fabric controller) when the name is one of the fabric's elements,
// else 2 (a target device); 3 for a null device.
int CoreGetDestinationAddressType(SDMDevice* pDevice, const SD_UINT8* pWWN);
// The name server's fabric port name and port name for the adapter port's
// own address, copied only from an accepted answer: 0, or -1 when the library
// fails or the buffer holds under 8 bytes.
int CoreGetAdjacentFabricWWN(SDMDevice* pDevice, std::span<SD_UINT8> pSwWWN);
int CoreGetAdjacentAdapterPortName(SDMDevice* pDevice, std::span<SD_UINT8> pSwWWN);
// Every device's principal and adjacent fabric names, each stored only when
// its query succeeded.
int CoreUpdateFabricWWN();

// ---- PCI identity and private statistics ------------------------------------------------
typedef struct _PCIPROPERTY {
    SD_UINT16 DeviceID;
    SD_UINT16 ChipRev;
    SD_UINT16 PortNumber;
    SD_UINT16 PciDeviceNumber;
    SD_UINT16 PciBusNumber;
    SD_UINT16 PciFuncNumber;
    SD_UINT16 Reserved[4];
} PCIPROPERTY, *PPCIPROPERTY;

// From the stored chip property: 0, or -1 for a null device. With a null
// record only the debug lines are written and a fresh chip-property query's
// status is returned.
SD_INT32 CoreGetAdapterPCIProperty(SDMDevice* pDevice, PCIPROPERTY* pPCIData);

constexpr std::size_t FW_PRIVATE_STATS_SIZE = 512;
typedef struct _FWPRIVATESTATS {
    SD_UINT32 Words[FW_PRIVATE_STATS_SIZE / 4];
} FWPRIVATESTATS, *PFWPRIVATESTATS;
static_assert(sizeof(FWPRIVATESTATS) == FW_PRIVATE_STATS_SIZE);

// Chip types 25 and up: copies the firmware's counters (words 0-10, 16,
// 28-31, 33-36, 38, 43-50, 52-61) into the same words of the caller's record:
// 0; -1 when the query fails, the record is null or under iBufferSize bytes
// of a whole record, or the chip is older (-17 when memory runs out); the
// record is unchanged on failure.
int CoreGetAdapterFwPrivateStatsData(SDMDevice* pDevice, FWPRIVATESTATS* pFwPrivateStatsRetBuf,
                                     SD_UINT32 iBufferSize);

// ---- Extended link services to the fabric controller -----------------------------------
constexpr SD_UINT32 ELS_CODE_RDP = 24;
constexpr SD_UINT32 ELS_CODE_LCB = 129;
constexpr std::size_t RDP_REQUEST_SIZE = 16;
constexpr std::size_t RDP_RESPONSE_SIZE = 508;
constexpr std::size_t LCB_REQUEST_SIZE = 8;
constexpr std::size_t LCB_RESPONSE_SIZE = 8;
constexpr SD_UINT32 CORE_ELS_NO_DEVICE = 0x20000075;
constexpr SD_UINT32 CORE_ELS_NO_MEMORY = 0x20000074;

typedef struct _LCB_REQUEST {
    SD_UINT8 SubCommand;
    SD_UINT8 Capability;
    SD_UINT8 Status;
    SD_UINT8 Frequency;
    SD_UINT16 Duration;            // sent big-endian
} LCB_REQUEST, *PLCB_REQUEST;

// The request bytes as sent (exposed for the checks).
void CoreBuildRDPRequest(std::span<SD_UINT8, RDP_REQUEST_SIZE> out, SD_UINT32 portId);
void CoreBuildLCBRequest(std::span<SD_UINT8, LCB_REQUEST_SIZE> out, const LCB_REQUEST& request);

// Sends the link service and, on success, puts the answer (at most 508 or 8
// bytes, as many as came back) into *pRetBuffer and its length into
// *pRetBufSize. The library's status; 0x20000075 for a null device or
// request; 0x20000074 when memory runs out.
SD_UINT32 CoreELSendRDP(SDMDevice* pDevice, std::vector<SD_UINT8>* pRetBuffer, SD_UINT32* pRetBufSize);
SD_UINT32 CoreELSendLCB(SDMDevice* pDevice, const LCB_REQUEST* pRequest, std::vector<SD_UINT8>* pRetBuffer,
                        SD_UINT32* pRetBufSize);

// ---- LUN quality of service -----------------------------------------------------------
constexpr std::size_t LUN_QOS_LUNS = 256;
typedef struct _LUN_QOS {
    SD_UINT8 WWPN[8];
    SD_UINT8 Reserved[8];
    SD_UINT8 LunQosData[LUN_QOS_LUNS];   // one byte per LUN
} LUN_QOS, *PLUN_QOS;
static_assert(sizeof(LUN_QOS) == 272);

// The flash copy: a 16-byte header (little-endian: version 1, checksum,
// length, number of targets, three reserved words), then one LUN_QOS slot
// per target; the 16-bit words over `length` bytes sum to 0.
constexpr std::size_t QOS_FLASH_HEADER_SIZE = 16;
constexpr std::size_t QOS_FLASH_AREA_SIZE = 0x20000;
constexpr std::size_t QOS_FLASH_MAX_TARGETS = (QOS_FLASH_AREA_SIZE - QOS_FLASH_HEADER_SIZE) / sizeof(LUN_QOS);
// Flash offset of the copy for the chip type and hardware port.
SD_UINT32 CoreGetLunQoSFlashOffset(int chipType, int hwPort);

// 0 when the library reports QoS enabled; -52 when it is off or cannot be
// asked; -1 for a null device.
int CoreIsLunQoSEnable(SDMDevice* pDevice);
// The record's 256 LUN bytes from the library's QoS record of its WWPN
// (unchanged when the library answers for another WWPN): 0; the enable
// check's result when QoS is off; -1 for a null record or when the library
// fails.
int CoreGetTargetLunQoSData(SDMDevice* pDevice, LUN_QOS* pLunQoS);
// Replaces the 256 LUN bytes of the library's record of the record's WWPN
// (when the library answers for it) and writes it back: 0; the enable
// check's result; -1 for a null device or record, or a failing read or write.
int CoreSetTargetLunQoSConfig(SDMDevice* pDevice, const LUN_QOS* pLunQoS);
// Rebuilds the port's flash copy from the library's entries: 0; the enable
// check's result; -18 when the area cannot be read; -19 when it cannot be
// written; -17 memory; -1 for a null device or more targets than the area holds.
int CoreSaveTargetLunQoSConfig(SDMDevice* pDevice, int hwPort);

// ---- Target beacon ---------------------------------------------------------------------
// Re-reads every target's persisted beacon state and, for a beaconing target,
// sends up to three INQUIRY commands (stopping at the first failure). The
// last INQUIRY status; 0 when none was sent.
SD_UINT32 CoreHandleTargetBeacon();
