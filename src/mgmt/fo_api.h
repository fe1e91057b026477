// Failover functions of the management library (the ISDFo functions) and the
// driver feature list.
#pragma once

#include <cstddef>
#include <span>

#include "mgmt/sd_types.h"

constexpr SD_UINT32 FO_CAP_NONE = 0x30000002;
constexpr SD_UINT32 FO_CAP_TARGET_LEVEL = 0x30000003;
constexpr SD_UINT32 FO_CAP_LUN_LEVEL = 0x30000004;

constexpr SD_UINT32 FO_MAX_ENTRIES = 256;
constexpr SD_UINT32 FO_MAX_LUNS = 4096;

typedef struct _FODRIVERVERSION {
    SD_UINT32 Reserved;
    char Version[32];
} FODRIVERVERSION, *PFODRIVERVERSION;

typedef struct _FOPARAMS {
    SD_UINT32 Words[8];            // word 2: statistics (0 or 2)
} FOPARAMS, *PFOPARAMS;

typedef struct _FOHBADATA {
    SD_UINT8 NodeWWN[8];
    SD_UINT8 PortWWN[8];
    char Model[32];
} FOHBADATA, *PFOHBADATA;

typedef struct _FOPORTSUMMARYENTRY {
    SD_UINT16 LoopId;
    SD_UINT16 TargetId;
    SD_UINT32 DeviceFlags;
    SD_UINT8 MultipathControl;
    SD_UINT8 Reserved;
    SD_UINT16 BaseLunNumber;
    SD_UINT8 PortId[4];
    SD_UINT8 NodeName[8];
    SD_UINT8 PortName[8];
} FOPORTSUMMARYENTRY;

typedef struct _FOPORTSUMMARYLISTBUFFER {
    SD_UINT16 EntryCount;
    FOPORTSUMMARYENTRY Entries[FO_MAX_ENTRIES];
} FOPORTSUMMARYLISTBUFFER, *PFOPORTSUMMARYLISTBUFFER;

// One target's LUN bytes: 4128 bytes, the LUN bytes from byte 32.
typedef struct _FOEXTERNALLUNDATAENTRY {
    SD_UINT8 NodeName[8];
    SD_UINT8 PortName[8];
    SD_UINT16 TargetId;
    SD_UINT8 Reserved[14];
    SD_UINT8 Data[FO_MAX_LUNS];
} FOEXTERNALLUNDATAENTRY;
static_assert(sizeof(FOEXTERNALLUNDATAENTRY) == 4128);
static_assert(offsetof(FOEXTERNALLUNDATAENTRY, TargetId) == 16 && offsetof(FOEXTERNALLUNDATAENTRY, Data) == 32);

// A 32-byte header, then 256 entries: 1,056,800 bytes.
typedef struct _FOLUNDATALIST {
    SD_UINT16 EntryCount;
    SD_UINT8 Reserved[30];
    FOEXTERNALLUNDATAENTRY Entries[FO_MAX_ENTRIES];
} FOLUNDATALIST, *PFOLUNDATALIST;
static_assert(offsetof(FOLUNDATALIST, Entries) == 32 && sizeof(FOLUNDATALIST) == 1056800);

typedef struct _FOGETPATHS {
    SD_UINT32 HbaInstance;
    DESTINATIONADDRESS HbaAddr;
} FOGETPATHS, *PFOGETPATHS;

typedef struct _FOPATHENTRY {
    SD_UINT32 HbaInstance;
    SD_UINT8 PortName[8];
} FOPATHENTRY;

typedef struct _FOPATHSINFO {
    SD_UINT32 HbaInstance;
    SD_UINT8 CurrentPathIndex[FO_MAX_LUNS];
    FOPATHENTRY PathEntry[FO_MAX_ENTRIES];
} FOPATHSINFO, *PFOPATHSINFO;

SD_UINT32 ISDFoGetApiVersion(std::span<char> version);
SD_UINT32 ISDFoGetFoCapability(int Device, SD_UINT32* pCapability);
SD_UINT32 ISDFoGetFoDriverVersion(int Device, PFODRIVERVERSION pDriverVersion);
SD_UINT32 ISDFoGetSysParams(int Device, PFOPARAMS pParams, SD_UINT32 Flags);
SD_UINT32 ISDFoSetSysParams(int Device, const FOPARAMS* pParams, SD_UINT32 Flags);
SD_UINT32 ISDFoGetPaths(int Device, const FOGETPATHS* pRequest, PFOPATHSINFO pPathsInfo, SD_UINT32 Flags);
SD_UINT32 ISDFoGetTargetData(int Device, SD_UINT32 Instance, const FOHBADATA* pHbaData,
                             PFOPORTSUMMARYLISTBUFFER pList, SD_UINT32 Persistent);
SD_UINT32 ISDFoGetLunData(int Device, SD_UINT32 Instance, const FOHBADATA* pHbaData, PFOLUNDATALIST pList,
                          SD_UINT32 Persistent);
SD_UINT32 ISDFoSetTargetData(int Device, SD_UINT32 Instance, const FOHBADATA* pHbaData,
                             const FOPORTSUMMARYLISTBUFFER* pList, SD_UINT32 Flags);
SD_UINT32 ISDFoSetLunData(int Device, SD_UINT32 Instance, const FOHBADATA* pHbaData, const FOLUNDATALIST* pList,
                          SD_UINT32 Flags);
// Buffer holds a FEATURE_GET_LIST whose NoOfEntries says how many entries fit.
SD_UINT32 SDGetHbaSupportedFeatureList(int Device, std::span<SD_UINT8> buffer);
