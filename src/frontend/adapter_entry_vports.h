// Further operations of the adapter-entry list: the physical entry of a
// virtual port, the virtual-port blocks of a physical entry and the
// configuration state of the virtual-port entries, updates and removals of
// single entries, and the sort of a port-description array. No command
// reaches them; they keep the entries in step with the device list.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/sdm_device.h"
#include "frontend/adapter_entry_list.h"
#include "mgmt/sd_types.h"

// One port description of the arrays SortVirtualPortArray sorts.
typedef struct _sHBAPortInfo {
    int32_t InstanceNumber;
    int32_t VportId;
    SD_UINT8 PortName[8];
    SD_UINT8 NodeName[8];
    SD_UINT8 PortId[3];
} sHBAPortInfo;

// Orders two entries by WWPN (16 lower-case hex digits compared bytewise).
int CompareAdapterEntryWWPN(const AdapterEntry* p1, const AdapterEntry* p2);
// Takes the entry with the same WWNN and WWPN out of the list and deletes it:
// DeleteAdapter's result (0), -1 when none.
int DeleteAdapterNodeFromAdapterList(const AdapterEntry* pAdapterToDelete);
// The entry of the port (adapter key, WWNN, WWPN); sets its virtual-port id
// (virtual ports) and port number. Null when none.
AdapterEntry* FindAndUpdateAdapterInAdapterListBySDMDevice(const SDMDevice* pDevice);
// Copies the QoS fields, PortNumber and vPortId of the given entry into the
// list's entry of the same adapter key, WWPN and WWNN; that entry, or null.
AdapterEntry* UpdateAdapterEntryInAdapterList(const AdapterEntry* pAdapterEntry);
// 8 for a null port or one without an entry, else 0.
int UpdateAdapterEntryList(const SDMDevice* pDevice);
// Changes nothing; 0.
int UpdateAdapterEntryVportList(const SDMDeviceList* HBAList);

// The physical entry (same adapter key, not a virtual port) of a virtual
// port's entry; null when none.
AdapterEntry* FindPhysicalAdapterEntryByVirtualPortInAdapterList(const AdapterEntry* pVirtualPort);
// The core port whose WWPN is that physical entry's.
SDMDevice* FindPhysicalPortByVirtualPortInAdapterList(const AdapterEntry* pVirtualPort);
// Block i of the entry := WWPN of the port's virtual port i, from the library;
// 0, 8 for a null argument, 286 for a virtual port.
int UpdatePhysicalAdapterEntryVportArray(const SDMDevice* pDevice, AdapterEntry* pAdapterEntryToUpdate);
// The physical FC entry of the virtual port's adapter and fabric area takes
// its QoS type; null when none.
AdapterEntry* UpdatePhysicalAdapterEntryByVirtualPortInAdapterList(const AdapterEntry* pVirtualPort);
// The list's entry of the same adapter key, WWPN and WWNN takes the given
// entry's fields (its links stay), then its ConfigStatus becomes iToggle
// (force) or toggles. 8 for null, else 0.
int UpdateAdapterEntryNodeInAdapterList(const AdapterEntry* pAdapterEntry, int iToggle, int iForceUpdate);
// ConfigStatus := iToggle for the entry of every virtual port of the port.
int UpdateAllAdapterEntryNodesInAdapterList(const SDMDevice* pDevice, int iToggle);
// 1 when a virtual port of the port has ConfigStatus 1, else 0.
int CheckAdapterEntryConfigStatusInAdapterList(const SDMDevice* pDevice);
// 1 when a virtual port of the port has a ConfigStatus other than iCfgState;
// 0 when all agree or there is none; 8 for a null port.
int CheckvPortConfigStatusInAdapterList(const SDMDevice* pDevice, int iCfgState);

// The next port of the same adapter (port index one higher) takes the
// boot-code and firmware versions of pDeviceNodeProperty; 0, or 8 for a null
// port or no such port.
int UpdateOtherPortDeviceNodeProperty(const SDMDevice* pDevice, const DEVICENODEPROPERTY* pDeviceNodeProperty);

// Sorts the array ascending: Type 1 by port name, 2 by port id (hex texts), 3
// by virtual-port id, any other by instance number.
void SortVirtualPortArray(sHBAPortInfo* pHBAPortInfo, size_t iArraySize, int Type);
int ComparePortName(const void* p1, const void* p2);
int ComparePortID(const void* p1, const void* p2);
int CompareVportId(const void* p1, const void* p2);
int CompareInstanceNumber(const void* p1, const void* p2);
