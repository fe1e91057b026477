// The front end's adapter-entry list: one entry per port of the device list,
// with the flag from adapters.properties that allows flashing the adapter, the
// flash-update session token, and the support checks the image code asks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

constexpr size_t ADAPTER_VPORT_BLOCKS = 64;

// Interface types of an entry (and of a node property).
constexpr SD_UINT16 ADAPTER_IF_FC = 1;
constexpr SD_UINT16 ADAPTER_IF_VPORT = 3;
constexpr SD_UINT16 ADAPTER_IF_FCOE = 4;

typedef struct _AdapterEntry {
    SD_UINT32 Number;
    SD_UINT32 OSNumber;
    SD_UINT32 PortNumber;
    SD_INT32 Handle;
    SD_UINT8 ConfigStatus;
    SD_UINT8 PciDeviceNumber;
    SD_UINT8 PciBusNumber;
    SD_UINT8 PciFuncNumber;
    SD_UINT32 BeaconStatus;
    SD_UINT32 EnableStatus;
    SD_UINT16 NVRAMType;
    SD_UINT16 vPortId;
    SD_UINT16 SubVendorID;
    SD_UINT16 SubSystemID;
    SD_UINT16 DeviceID;
    SD_UINT16 ChipType;
    SD_UINT16 NumberOfPorts;
    SD_UINT8 WWNN[8];
    SD_UINT8 WWPN[8];
    SD_UINT8 MacAddress[6];
    char Model[32];
    char SerialNumber[32];
    char cPortName[24];
    char cNodeName[24];
    char Description[128];
    SD_UINT8 PortID[3];
    SD_UINT16 InterfaceType;
    SD_INT16 vSANBound;
    SD_INT16 QoSType;
    SD_INT16 QoSBwType;
    SD_INT16 QoSSettingLock;
    SD_INT16 QoSSettingEnable;
    SD_INT16 QoSVal;
    SD_UINT32 PortSpeed;
    // WWPNs of the port's virtual ports by virtual-port id; all-zero blocks are unused.
    SD_UINT8 WindowsVPortArray[ADAPTER_VPORT_BLOCKS][8];
    char cAdapterState[24];
    char FwPreloadVersion[8];
    char SerdesTableVersion[8];
    SD_UINT8 VpType;
    SD_UINT32 FlashUpdateToken;
    SD_UINT8 Reserved[52];
    _AdapterEntry* next;
    _AdapterEntry* prev;
} AdapterEntry, *PAdapterEntry;

static_assert(std::is_trivially_copyable_v<AdapterEntry>);

typedef struct _AdapterEntryList {
    SD_UINT32 count;
    AdapterEntry* first;
    AdapterEntry* last;
} AdapterEntryList;

// ---- The list -------------------------------------------------------------------
void InitAdapterList();
AdapterEntryList* GetAdapterList();
SD_UINT32 GetCountOfEntryInAdapterList();
// A zero-filled entry, or null when memory is exhausted.
AdapterEntry* CreateNewAdapter();
// Releases an entry that is in no list; 8 for null, else 0.
int DeleteAdapter(AdapterEntry* entry);
// Releases every entry and leaves the list empty; 0.
int RemoveAllAdaptersFromAdapterList();
// Appends; -1 for null or an entry whose WWNN and WWPN are already listed, else 0.
int AddNewAdapterToAdapterList(AdapterEntry* entry);
// Inserts in WWPN order; -1 for null or a duplicate, else 0.
int AddAdapterToAdapterList(AdapterEntry* entry);
// Takes a listed entry out of the list (not released); -1 for null or an entry not listed, else 0.
int RemoveAdapterFromAdapterList(AdapterEntry* entry);
AdapterEntry* FindAdapterInAdapterList(const AdapterEntry* entry);
AdapterEntry* FindAdapterInAdapterListBySDMDevice(const SDMDevice* port);
AdapterEntry* FindAdapterInAdapterListByWWN(const SD_UINT8* wwpn);
SDMDevice* FindDeviceInDeviceListByAdapterEntry(const AdapterEntry* entry);

// Fills an entry from a port (adapters.properties not consulted); 8 for null, else 0.
int CreateAdapterEntryFromSDMDevice(SDMDevice* port, AdapterEntry* entry);
// Rebuilds the list from a chain of ports (next links), in chain order, with the
// supported flags and descriptions of the table in the configuration directory.
int BuildAdapterEntryList(SDMDevice* first);
// The physical port index from the PCI function and the chip property (-1 for null).
int GetAdapterPciPhysicalPortNumber(const SDMDevice* port);

// ---- Queries -----------------------------------------------------------------------
// The entry's PortNumber; 1 when the port is null or has no entry.
int GetPortIndex(const SDMDevice* port);
int isVirtualPortHBA(const SDMDevice* port);
int isFCOeHBA(const SDMDevice* port);
// 0 for null or no entry; otherwise writes the entry's chip type and gives 1 when
// adapters.properties marks the adapter supported.
int isAdapterSupported(const SDMDevice* pDevice, SD_UINT16* pISPType);
int DetectSupportedAdapter();
// 1 may flash, 2 to 5 port-order rules of older OEM adapters, 6 unsupported or
// not found, 7 FCoE port.
int CheckAdapterFlashUpdateStatus(const SDMDevice* port, int allPorts);
int CheckPortUpdateOption(const SDMDevice* port, int allPorts);
int GetPortIndexOEM(const SDMDevice* port);
// Ports of the device list of the port's adapter (equal adapter key, GetAdapterKey).
int GetNumberOfPortsOnThisHBA(const SDMDevice* port);
int QueryHBAType(const SDMDevice* port);
// The first of them in the device list (its lowest WWPN); the port itself
// when the list holds none of them, null for a null port.
const SDMDevice* GetFirstPortOnThisHBA(const SDMDevice* port);
// Stores the flash-update session token in the entry of a physical FC port; 8
// when the port is not one or has no entry, else 0.
int UpdateFlashAccessAdapterEntry(const SDMDevice* port, SD_UINT32 token);
int GetAdapterChipRevision(const SDMDevice* port);
// Lockdown state of type 0 (configuration), 1 (firmware update) or 2 (MPI):
// 0 with *uLockdownMode set; 8 null port, 121 chip type below 25, 222 firmware
// without lockdown support, 223 driver without it, else the core layer's failure.
int GetAdapterLockdownMode(const SDMDevice* pDevice, SD_UINT32 uType, SD_UINT8* uLockdownMode);
