// The core device model: one SDMDevice per opened adapter port, each with its
// targets (SDMTarget) and their logical units (SDMLun), kept in intrusive,
// doubly linked lists that own their elements.
//
// Records are plain data allocated zero-filled with CoreZMalloc and released
// with CoreFree, so whole-record copies (CloneCopySDMDeviceList) stay valid.
#pragma once

#include <type_traits>

#include "mgmt/sd_types.h"

struct _tagSDMLun;
struct _tagSDMTarget;
struct _tagSDMDevice;

// Marks a value that is not known (capacity, block size, OS details).
constexpr SD_UINT32 SDM_VALUE_UNKNOWN = 0xFEFEFEFE;
// TargetType of a target whose peripheral type is not known.
constexpr SD_UINT32 SDM_TARGET_TYPE_UNKNOWN = 999;

// DeviceAbilityFlags
constexpr SD_UINT32 SDM_DEV_AEN_ENABLED = 0x80000000;
constexpr SD_UINT32 SDM_DEV_FO_TARGET_LEVEL = 0x08000000;
constexpr SD_UINT32 SDM_DEV_FO_LUN_LEVEL = 0x04000000;

// TargetFlags
constexpr SD_UINT32 SDM_TGT_READY = 0x1;
constexpr SD_UINT32 SDM_TGT_NVME = 0x800;
// TargetAbilityFlags
constexpr SD_UINT32 SDM_TGT_DISCOVERED = 0x80000000;
constexpr SD_UINT32 SDM_TGT_ASK_WWULN = 0x40000000;
// TargetAgentFlags
constexpr SD_UINT16 SDM_AGENT_UNCONFIGURED = 0x1;
constexpr SD_UINT16 SDM_AGENT_CONFIGURED = 0x2;
constexpr SD_UINT16 SDM_AGENT_LUN_DATA = 0x10;

typedef struct _tagSDMLunList {
    SD_UINT32 count;
    _tagSDMLun* firstLun;
    _tagSDMLun* lastLun;
} SDMLunList;

typedef struct _tagSDMTargetList {
    SD_UINT32 count;
    _tagSDMTarget* firstTarget;
    _tagSDMTarget* lastTarget;
} SDMTargetList;

typedef struct _tagSDMDeviceList {
    SD_UINT32 count;
    _tagSDMDevice* firstDevice;
    _tagSDMDevice* lastDevice;
} SDMDeviceList;

typedef struct _tagSDMLun {
    SD_UINT16 LunID;                       // 14-bit flat LUN number
    SD_UINT8 LunData;                      // failover LUN byte; bit 7 asks for an OS name
    SD_UINT8 LunNewData;
    SD_UINT8 LunHasPhysicalPath;
    SD_UINT8 LunPhysicalPath;
    SD_UINT8 LunInquiryHeader[8];
    char LunVendorID[8];
    char LunProductID[16];
    char LunRevision[4];
    SD_UINT8 LunIsCurrentPath;
    SD_UINT8 WWULN[32];
    SD_UINT8 LunWWULNSize;
    SD_UINT64 LunMaxLogicalBlockAddress;
    SD_UINT32 LunBytesPerBlock;
    SD_UINT32 LunOSSDeviceNumber;
    char LunOSSDeviceName[256];
    SD_UINT32 LunOSSRaidType;
    SD_UINT32 LunOSSNumberOfPartitions;
    SD_INT32 LunOnPassivePath;
    _tagSDMLun* next;
    _tagSDMLun* prev;
} SDMLun;

typedef struct _tagSDMTarget {
    DISCTARGETPROPERTY DiscTargetProperty;
    SD_UINT8 TargetInquiryHeader[8];
    char TargetVendorID[8];
    char TargetProductID[16];
    char TargetRevision[4];
    SD_UINT8 TargetMultipathControl;
    SD_UINT8 TargetNewMultipathControl;
    SD_UINT16 TargetAgentFlags;
    SD_UINT32 TargetFlags;
    SD_UINT32 TargetBindFlags;
    SD_UINT16 TargetLoopID;
    SD_UINT16 TargetBaseLunNumber;
    SD_UINT32 TargetAbilityFlags;
    SD_UINT32 TargetWWULNOffset;
    SD_UINT16 lunNumberForInquiry;
    SDMLunList LunList;
    SD_UINT32 TargetType;
    SD_UINT32 BeaconControlFlags;
    SD_UINT32 TargetSerialOffset;
    SD_UINT8 SerialNumber[64];
    SD_UINT32 SerialSize;
    EDIFPORTENTRY TargetSecurePortInfo;
    _tagSDMTarget* next;
    _tagSDMTarget* prev;
} SDMTarget;

typedef struct _tagSDMDevice {
    SD_INT32 DeviceStatus;
    int DeviceHandle;
    SD_UINT32 DeviceNumber;
    CHIPPROPERTY DeviceChipProperty;
    DRIVERPROPERTY DeviceDriverProperty;
    DEVICENODEPROPERTY DeviceNodeProperty;
    DEVICEPORTPROPERTY DevicePortProperty;
    STATISTICS DeviceStatistics;
    SD_UINT32 LastIOCount;
    SD_UINT32 LastMegabyteCount;
    SD_UINT32 LastPollTime;
    SD_INT32 DeviceFlashSequenceNumber;
    SD_INT32 DeviceNVRAMSequenceNumber;
    SD_INT32 DeviceVPDSequenceNumber;
    SD_INT32 DeviceLBSequenceNumber;
    SD_UINT8 DeviceInitialNVRAM[512];
    SD_UINT8 DeviceCurrentNVRAM[512];
    SD_UINT32 DeviceAbilityFlags;
    SDMTargetList TargetList;
    SD_UINT32 BeaconControlFlags;
    SD_UINT32 QoS;
    SD_UINT32 QoSType;
    SD_UINT8 ImageSetUpdatingInProgress;
    SD_UINT8 FlashUpdateInProgress;
    SD_UINT64 nFlashCapabilities;
    SD_INT32 nFlashUpdateToken;
    _tagSDMDevice* next;
    _tagSDMDevice* prev;
} SDMDevice;

// The records live in malloc'ed memory and are copied whole.
static_assert(std::is_trivially_copyable_v<SDMLun>);
static_assert(std::is_trivially_copyable_v<SDMTarget>);
static_assert(std::is_trivially_copyable_v<SDMDevice>);

// ---- Tool identity and switches -----------------------------------------------
SD_UINT8 CoreGetToolId();
void CoreSetToolId(SD_UINT32 id);                 // keeps the low 8 bits
void CoreSetToolVersion(SD_UINT8 a, SD_UINT8 b, SD_UINT8 c, SD_UINT8 d);
const char* CoreGetToolVersion();                 // "" until set
SD_UINT8 CoreGetTargestLUNDiscoveryOption();
void CoreSetTargestLUNDiscoveryOption(SD_UINT32 value);  // only 0 or 1 are taken

// ---- Device list ----------------------------------------------------------------
SDMDeviceList* GetDeviceList();
void InitDeviceList();
SDMDevice* CreateNewDevice();
SDMDevice* FindDeviceInDeviceList(const SDMDevice* device);
int AddDeviceToDeviceList(SDMDevice* device);
SDMDevice* FindZOZIRAAdapterByWWPN(const SD_UINT8* wwpn);
// Removes the device's targets, disables its events, closes its handle and
// frees it; does not unlink it from a list.
int DeleteDevice(SDMDevice* device);
// The clean-up path: deletes every device (closing every handle) and empties the list.
int RemoveAllDevicesFromDeviceList();

// ---- Target list ------------------------------------------------------------------
void InitTargetList(SDMDevice* device);
SDMTarget* CreateNewTarget();
SDMTarget* FindTargetInTargetList(SDMDevice* device, const SDMTarget* target);
int AddTargetToTargetList(SDMDevice* device, SDMTarget* target);
int DeleteTarget(SDMTarget* target);
int RemoveAllTargetsFromTargetList(SDMDevice* device);
SDMTarget* FindTargetByWWNNInTargetList(SDMDevice* device, const SD_UINT8* nodeWWN);
SDMTarget* FindTargetByWWNNAndWWPNInTargetList(SDMDevice* device, const SD_UINT8* nodeWWN,
                                               const SD_UINT8* portWWN);
// Binding by port name matches both WWNs, otherwise the 24-bit port id alone.
SDMTarget* FindTargetByWWNNAndWWPNOrPortIdInTargetList(SDMDevice* device, const SD_UINT8* nodeWWN,
                                                       const SD_UINT8* portWWN, const SD_UINT8* portId);
// Searches every device; a null node WWN matches any node.
SDMTarget* FindTargetInTargetListPrim(const SD_UINT8* nodeWWN, const SD_UINT8* portWWN);

// ---- LUN list -----------------------------------------------------------------------
void InitLunList(SDMTarget* target);
SDMLun* CreateNewLun();
int DeleteLun(SDMLun* lun);
SDMLun* FindLunInLunList(SDMTarget* target, const SDMLun* lun);
int AddLunToLunList(SDMTarget* target, SDMLun* lun);
int RemoveAllLunsFromLunList(SDMTarget* target);

// ---- Copies ---------------------------------------------------------------------------
// Whole-record copies of every device, chained through next/prev; the copies
// share (do not own) the source's targets. Null for an empty list or when an
// allocation fails (the partial copy is released).
SDMDevice* CloneCopySDMDeviceList(const SDMDeviceList* list);
int CloneFreeSDMDeviceList(SDMDevice* first);
int CheckAndAddNewTargets(SDMDevice* device);

// A 24-bit port id travels as a 32-bit word in properties and as three bytes
// (domain, area, port) in database entries; only the 24 bits compare.
constexpr SD_UINT32 SDMPortIdFromBytes(const SD_UINT8* id) {
    return (SD_UINT32{id[0]} << 16) | (SD_UINT32{id[1]} << 8) | SD_UINT32{id[2]};
}
constexpr bool SDMSamePortId(SD_UINT32 a, SD_UINT32 b) { return ((a ^ b) & 0xFFFFFF) == 0; }
