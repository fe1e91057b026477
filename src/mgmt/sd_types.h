// Records and status codes of the HBA management interface (the SD functions).
// The records the library and the driver exchange as byte lists (port
// database, secure ports, lockdown, LUN QoS) have fixed layouts, held by the
// size and offset checks beside them.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint8_t SD_UINT8;
typedef uint16_t SD_UINT16;
typedef uint32_t SD_UINT32;
typedef uint64_t SD_UINT64;
typedef int8_t SD_INT8;
typedef int16_t SD_INT16;
typedef int32_t SD_INT32;
typedef int64_t SD_INT64;

// ---- Management statuses ---------------------------------------------------
// 0 is success; values up to 0x1FFFFFFF are system error numbers passed through.
constexpr SD_UINT32 SDERR_SUCCESS = 0;
constexpr SD_UINT32 SDERR_CT_REJECT = 0x2000001C;
constexpr SD_UINT32 SDERR_SCSI_CHECK_CONDITION = 0x20000040;
constexpr SD_UINT32 SDERR_SCSI_RESERVATION_CONFLICT = 0x20000045;
constexpr SD_UINT32 SDERR_INVALID_PARAMETER = 0x20000064;
constexpr SD_UINT32 SDERR_INVALID_HANDLE = 0x20000065;
constexpr SD_UINT32 SDERR_NOT_SUPPORTED = 0x20000066;
constexpr SD_UINT32 SDERR_BUSY = 0x20000067;
constexpr SD_UINT32 SDERR_DATA_OVERRUN = 0x2000006B;
constexpr SD_UINT32 SDERR_DATA_UNDERRUN = 0x2000006C;
constexpr SD_UINT32 SDERR_DEVICE_NOT_FOUND = 0x2000006D;
constexpr SD_UINT32 SDERR_UNSUPPORTED_VERSION = 0x20000071;
constexpr SD_UINT32 SDERR_BUFFER_TOO_SMALL = 0x20000072;
constexpr SD_UINT32 SDERR_INVALID_REQUEST = 0x20000073;
constexpr SD_UINT32 SDERR_OUT_OF_MEMORY = 0x20000074;
constexpr SD_UINT32 SDERR_UNKNOWN = 0x20000075;
constexpr SD_UINT32 SDERR_NOT_FROM_DEVICE = 0x20000077;
constexpr SD_UINT32 SDERR_ADAPTER_NOT_READY = 0x2000007B;
constexpr SD_UINT32 SDERR_OPTROM_TOO_BIG = 0x20000084;
constexpr SD_UINT32 SDERR_OPTROM_INVALID_FW = 0x20000088;
constexpr SD_UINT32 SDERR_NO_FW_DUMP = 0x200000A8;
constexpr SD_UINT32 SDERR_SESSION_IN_PROGRESS = 0x200000C0;
constexpr SD_UINT32 SDERR_SESSION_EXPIRED = 0x200000C1;
constexpr SD_UINT32 SDERR_TOKEN_NOT_SET = 0x200000C2;
constexpr SD_UINT32 SDERR_FLASHED_NOT_ACTIVATED = 0x20000100;
constexpr SD_UINT32 SDERR_OPTROM_INVALID_REGION = 0x20000109;
constexpr SD_UINT32 SDERR_FW_DUMP_ZIP = 0x20000110;
constexpr SD_UINT32 SDERR_LOCKDOWN = 0x20000113;

// ---- Interface types of a port (DEVICENODEPROPERTY::InterfaceType) ----------
constexpr SD_UINT16 SD_INTERFACE_FC = 1;
constexpr SD_UINT16 SD_INTERFACE_VPORT = 3;
constexpr SD_UINT16 SD_INTERFACE_FCOE = 4;

// ---- Properties --------------------------------------------------------------
typedef struct _DEVICENODEPROPERTY {
    SD_UINT8 WWN[8];               // node WWN
    char Manufacturer[64];
    char Model[32];
    char ModelDescription[128];
    char SerialNumber[32];
    char DriverVersion[32];
    char FirmwareVersion[32];
    char OptionRomVersion[32];
    SD_UINT16 InterfaceType;       // 1 FC, 3 virtual port, 4 FCoE
    SD_UINT16 NumberOfPorts;
    SD_UINT32 BIValid;             // bit 0 firmware, 1 EFI, 2 FCode, 5 MPI, 6 PEP
    // Versions as bytes: major, minor, sub-minor, reserved.
    SD_UINT8 BIFwVersion[4];
    SD_UINT8 BIEfiVersion[4];
    SD_UINT8 BIFCodeVersion[4];
    SD_UINT8 BIMpiFwVersion[4];
    SD_UINT8 BIPepFwVersion[4];
    SD_UINT8 MpiFwVersion[4];
    SD_UINT8 PepFwVersion[4];
} DEVICENODEPROPERTY, *PDEVICENODEPROPERTY;
static_assert(offsetof(DEVICENODEPROPERTY, BIValid) == 364 && offsetof(DEVICENODEPROPERTY, BIFwVersion) == 368);
static_assert(offsetof(DEVICENODEPROPERTY, PepFwVersion) == 392 && sizeof(DEVICENODEPROPERTY) == 396);

typedef struct _DEVICEPORTPROPERTY {
    SD_UINT8 WWN[8];               // port WWN
    SD_UINT32 PortID;              // 24-bit FC address
    SD_UINT16 PortType;
    SD_UINT16 PortState;           // 1 online; 2, 3 not
    SD_UINT16 LinkState1;
    SD_UINT16 LinkState2;
    SD_UINT16 LinkState3;
    SD_UINT16 ConnectionMode;
    SD_UINT16 DiscPortCount;
    SD_UINT16 DiscTargetCount;
    char DeviceName[32];           // host adapter name, e.g. "host3"
    SD_UINT32 PortSpeed;           // speed code (0x16 = 16 Gbps, 0x32 = 32 Gbps ...)
    SD_UINT8 SupportedSpeed;       // speed bits
    SD_UINT8 ScmFabricConnectionFlags;
    SD_UINT8 Reserved[2];
    SD_UINT8 PrincipalFabricWWN[8];
    SD_UINT8 AdjacentFabricWWN[8];
} DEVICEPORTPROPERTY, *PDEVICEPORTPROPERTY;

typedef struct _CHIPPROPERTY {
    SD_UINT16 VendorID;
    SD_UINT16 DeviceID;
    SD_UINT16 SubVendorID;
    SD_UINT16 SubSystemID;
    SD_UINT16 PciBusNumber;
    SD_UINT16 PciSlotNumber;       // bits 3-7 device, 0-2 function
    SD_UINT16 ChipType;            // as the library reports it (revision)
    SD_UINT16 PortNumber;
    SD_UINT32 PcieLinkCap;
    SD_UINT32 PcieLinkStat;
} CHIPPROPERTY, *PCHIPPROPERTY;

typedef struct _DRIVERPROPERTY {
    char DriverName[32];
    char DriverVersion[32];
    SD_UINT32 NumberOfBus;
    SD_UINT32 TargetsPerBus;
    SD_UINT32 LunsPerTarget;
    SD_UINT32 MaxTransferLen;
    SD_UINT32 Attributes;          // driver feature bits (bit 25 lockdown support)
} DRIVERPROPERTY, *PDRIVERPROPERTY;

typedef struct _DISCTARGETPROPERTY {
    SD_UINT8 NodeWWN[8];
    SD_UINT8 PortWWN[8];
    SD_UINT32 PortID;
    SD_UINT16 BusNumber;
    SD_UINT16 TargetID;
    SD_UINT16 PortType;            // 1 NVMe target
    SD_UINT16 PortState;
    SD_UINT16 LoopID;
    SD_UINT16 CongestionState;
} DISCTARGETPROPERTY, *PDISCTARGETPROPERTY;

typedef struct _STATISTICS {
    SD_UINT64 TotalIOs;
    SD_UINT64 TotalMBytes;
    SD_UINT32 LipCount;
    SD_UINT32 NosCount;
    SD_UINT32 LinkFailureCount;
    SD_UINT32 LossOfSyncCount;
    SD_UINT32 LossOfSignalCount;
    SD_UINT32 InvalidCRCCount;
    SD_UINT32 InvalidTxWordCount;
    SD_UINT32 ErrorFrames;
    SD_UINT32 DumpedFrames;
    SD_UINT32 Reserved;
} STATISTICS, *PSTATISTICS;

// ---- Port database -----------------------------------------------------------
typedef struct _TARGETADDRESS {
    SD_UINT16 BusNumber;
    SD_UINT16 TargetID;
    SD_UINT16 LUN;
} TARGETADDRESS;

// One device of the port database: 292 bytes, the named fields first.
typedef struct _DEVICEINFOENTRY {
    SD_UINT8 NodeWWN[8];
    SD_UINT8 PortWWN[8];
    SD_UINT8 PortID[3];            // 24-bit id, most significant byte first
    SD_UINT8 ControlFlags;
    TARGETADDRESS TargetAddress;
    SD_UINT8 Reserved1[2];
    SD_UINT32 DeviceFlags;         // 0x800 NVMe target
    SD_UINT16 LoopID;
    SD_UINT16 BaseLunNumber;
    SD_UINT8 Reserved[256];
} DEVICEINFOENTRY, *PDEVICEINFOENTRY;
static_assert(sizeof(TARGETADDRESS) == 6);
static_assert(sizeof(DEVICEINFOENTRY) == 292);
static_assert(offsetof(DEVICEINFOENTRY, PortID) == 16 && offsetof(DEVICEINFOENTRY, ControlFlags) == 19);
static_assert(offsetof(DEVICEINFOENTRY, TargetAddress) == 20 && offsetof(DEVICEINFOENTRY, DeviceFlags) == 28);
static_assert(offsetof(DEVICEINFOENTRY, LoopID) == 32 && offsetof(DEVICEINFOENTRY, BaseLunNumber) == 34);
static_assert(offsetof(DEVICEINFOENTRY, Reserved) == 36);

// The header and one entry: 300 bytes, the size of the first (counting) ask.
typedef struct _DEVICEINFO {
    SD_UINT32 TotalDevices;
    SD_UINT32 ReturnListEntryCount;
    DEVICEINFOENTRY EntryList[1];  // ReturnListEntryCount entries follow
} DEVICEINFO, *PDEVICEINFO;
static_assert(offsetof(DEVICEINFO, EntryList) == 8 && sizeof(DEVICEINFO) == 300);

// ---- Destination of SCSI and ELS requests ----------------------------------------
constexpr SD_UINT16 SD_ADDRESS_BY_NODE_WWN = 1;
constexpr SD_UINT16 SD_ADDRESS_BY_PORT_WWN = 2;
constexpr SD_UINT16 SD_ADDRESS_BY_PORT_ID = 3;

typedef struct _DESTINATIONADDRESS {
    SD_UINT16 AddressType;
    SD_UINT8 AddressUsing[8];      // WWN, or port id in the first 3 bytes
    SD_UINT16 LunNumber;
} DESTINATIONADDRESS, *PDESTINATIONADDRESS;

// ---- Flash layout ------------------------------------------------------------
typedef struct _SDM_OPT_ROM_REGION {
    SD_UINT32 Region;
    SD_UINT32 Size;
} SDM_OPT_ROM_REGION, *PSDM_OPT_ROM_REGION;

typedef struct _SDM_OPT_ROM_LAYOUT {
    SD_UINT32 Size;                // whole flash size
    SD_UINT32 NoOfRegions;         // in: entries the caller's array holds
    SDM_OPT_ROM_REGION RegionList[1];  // NoOfRegions entries follow
} SDM_OPT_ROM_LAYOUT, *PSDM_OPT_ROM_LAYOUT;

// Bytes a layout record needs for n regions.
constexpr unsigned long SDM_OPT_ROM_LAYOUT_BYTES(unsigned long n) {
    return sizeof(SDM_OPT_ROM_LAYOUT) + (n > 0 ? n - 1 : 0) * sizeof(SDM_OPT_ROM_REGION);
}

typedef struct _SD_ACTIVE_REGIONS {
    SD_UINT8 ActiveGlobalRegions;  // 1 primary, 2 secondary, 0 unknown
    SD_UINT8 ActiveBoardConfig;
    SD_UINT8 ActiveVpdNvram;
    SD_UINT8 ActiveNpivConfig01;
    SD_UINT8 ActiveNpivConfig23;
    SD_UINT8 Reserved[32];
} SD_ACTIVE_REGIONS, *PSD_ACTIVE_REGIONS;
static_assert(sizeof(SD_ACTIVE_REGIONS) == 37);

// ---- Events ------------------------------------------------------------------
typedef struct _ASYNCEVENT {
    SD_UINT32 EventCode;
    SD_UINT32 Payload[3];
} ASYNCEVENT, *PASYNCEVENT;

// ---- Virtual ports, security, features -------------------------------------------
typedef struct _VPORT_INFO {
    SD_UINT32 free;
    SD_UINT32 used;
    SD_UINT32 id;
    SD_UINT32 state;
    SD_UINT32 bound;
    SD_UINT8 wwnn[8];
    SD_UINT8 wwpn[8];
    SD_UINT32 instance;
} VPORT_INFO, *PVPORT_INFO;

// Security (EDIF) state of one remote port: 72 bytes.
constexpr SD_UINT8 EDIF_REMOTE_TARGET = 1, EDIF_REMOTE_INITIATOR = 2;
constexpr SD_UINT8 EDIF_STATE_BAD = 0, EDIF_STATE_GOOD = 1;
constexpr SD_UINT8 EDIF_AUTH_UNDEF = 0, EDIF_AUTH_REKEY = 1, EDIF_AUTH_NEEDED = 2, EDIF_AUTH_ELS_RCVD = 3;
constexpr SD_UINT8 EDIF_REKEY_BY_TIME = 1, EDIF_REKEY_BY_BYTES = 2;

typedef struct _EDIFPORTENTRY {
    SD_UINT8 RemotePID[4];         // 24-bit id in the first three, most significant first
    SD_UINT8 RemoteWWPN[8];
    SD_UINT8 RemoteType;           // 1 target, 2 initiator
    SD_UINT8 RemoteState;          // 0 bad, 1 good
    SD_UINT8 AuthState;            // 0 undefined, 1 rekey, 2 needed, 3 ELS received
    SD_UINT8 RekeyMode;            // 1 by time, 2 by bytes
    SD_INT64 RekeyCount;
    SD_INT64 RekeyConfigValue;
    SD_INT64 RekeyConsumedValue;
    SD_UINT8 Reserved[32];
} EDIFPORTENTRY, SECUREPORTENTRY, *PEDIFPORTENTRY;
static_assert(sizeof(EDIFPORTENTRY) == 72);
static_assert(offsetof(EDIFPORTENTRY, RemoteWWPN) == 4 && offsetof(EDIFPORTENTRY, RemoteType) == 12);
static_assert(offsetof(EDIFPORTENTRY, RemoteState) == 13 && offsetof(EDIFPORTENTRY, AuthState) == 14);
static_assert(offsetof(EDIFPORTENTRY, RekeyMode) == 15 && offsetof(EDIFPORTENTRY, RekeyCount) == 16);
static_assert(offsetof(EDIFPORTENTRY, RekeyConfigValue) == 24 && offsetof(EDIFPORTENTRY, RekeyConsumedValue) == 32);
static_assert(offsetof(EDIFPORTENTRY, Reserved) == 40);

// A 40-byte header, then PortCount entries.
typedef struct _SECUREPORTINFO {
    SD_UINT32 PortCount;           // in: entries the buffer holds; out: entries
    SD_UINT8 Reserved[36];
    SECUREPORTENTRY Entries[1];
} SECUREPORTINFO, *PSECUREPORTINFO;
static_assert(offsetof(SECUREPORTINFO, Entries) == 40);

// Bytes a secure-port buffer needs for n entries (40 for none).
constexpr unsigned long SECUREPORTINFO_BYTES(unsigned long n) {
    return offsetof(SECUREPORTINFO, Entries) + n * sizeof(SECUREPORTENTRY);
}

typedef struct _FEATURE_GET_ENTRY {
    SD_UINT32 Feature;
    SD_UINT32 Current;
    SD_UINT32 Default;
    SD_UINT32 Supported;
} FEATURE_GET_ENTRY;

typedef struct _FEATURE_GET_LIST {
    SD_UINT32 NoOfEntries;         // in: entries the buffer holds; out: entries
    FEATURE_GET_ENTRY Entries[1];
} FEATURE_GET_LIST, *PFEATURE_GET_LIST;

constexpr unsigned long FEATURE_GET_LIST_BYTES(unsigned long n) {
    return sizeof(FEATURE_GET_LIST) + (n > 0 ? n - 1 : 0) * sizeof(FEATURE_GET_ENTRY);
}

// ---- Lockdown ----------------------------------------------------------------
typedef struct _MPI_LOCKDOWN_INFO {
    SD_UINT32 ConfigDisableFlags;
    SD_UINT32 FwUpdateDisableFlags;
    SD_UINT32 MpiDisableFlags;
    SD_UINT32 LockdownSupport;     // bits 0-2 read by the core layer
} MPI_LOCKDOWN_INFO;

typedef struct _SYSTEM_LOCKDOWN_INFO {
    SD_UINT32 Signature;
    MPI_LOCKDOWN_INFO MPIFwLockdown;
    SD_UINT32 ISPFwLockdown;
    SD_UINT32 Reserved[10];
} SYSTEM_LOCKDOWN_INFO, *PSYSTEM_LOCKDOWN_INFO, SYSTEM_MPI_LOCKDOWN_INFO;
static_assert(sizeof(SYSTEM_LOCKDOWN_INFO) == 64);
static_assert(offsetof(SYSTEM_LOCKDOWN_INFO, MPIFwLockdown) == 4 && offsetof(SYSTEM_LOCKDOWN_INFO, ISPFwLockdown) == 20);
static_assert(offsetof(SYSTEM_LOCKDOWN_INFO, Reserved) == 24);

// ---- Quality of service --------------------------------------------------------
// QoS of one target, keyed by its WWPN: one byte for each of LUNs 0 to 255.
constexpr SD_UINT32 SD_LUN_QOS_LUNS = 256;

typedef struct _SD_LUN_QOS {
    SD_UINT8 WWPN[8];
    SD_UINT8 Reserved[8];
    SD_UINT8 LunQosData[SD_LUN_QOS_LUNS];
} SD_LUN_QOS, *PSD_LUN_QOS;
static_assert(sizeof(SD_LUN_QOS) == 272 && offsetof(SD_LUN_QOS, LunQosData) == 16);

// ---- NVMe host record ------------------------------------------------------------
constexpr SD_UINT32 SD_NVME_HOST_INFO_SIZE = 512;   // host NQN text from byte 16
