// Further operations of the front end's device list: look-ups by instance
// number, WWPN or sibling port, the virtual-port searches, the insert position
// of the start-up ordering, and list maintenance. Look-ups give the first match
// in list order, or null (also for an empty list).
#pragma once

#include <cstdint>

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// Front-end device list.
SDMDevice* FindAdapterByInstanceNumber(uint32_t HBANumber);
SDMDevice* FindZOZIRAAdapterByAdapterNumber(int32_t hbaNumber);
SDMDevice* FindAdapterByWWPN(const SD_UINT8* HBAWWPN);
// Node WWN, port WWN and 24-bit port id all equal those of the given port.
SDMDevice* GetAdapterFromAdapterLocalList(const SDMDevice* pDeviceToFind);
// Core device list.
SDMDevice* FindSDMDeviceInSDMDeviceList(uint32_t deviceNumber);
// Another port of the same adapter (same adapter key) whose node WWN, port
// WWN and instance all differ from the given port's.
SDMDevice* FindAdapterPortMultiPortHBA(const SDMDevice* pDevice);
// A virtual port of a VMware driver on the physical port's adapter: adapter
// key (GetAdapterKey) equal (regardless of case) to pPhysAdapterSN, the
// physical adapter's key; same fabric domain, another instance, and
// virtual-port id vp_id. Null for a null or virtual port or one without a
// port id.
SDMDevice* FindVMwareVirtualPort(const SDMDevice* pDevice, const char* pPhysAdapterSN, uint32_t vp_id);
// The library's record of virtual port `vportid` of the port with instance
// `iAdapterNumber` (indexes 0 to 63 asked in turn); the caller releases it
// with CoreFree. Null when there is none.
VPORT_INFO* FindVPortByVPortID(uint32_t iAdapterNumber, uint32_t vportid);

// The record of `list` before which `device` goes in the start-up ordering
// (the first whose WWPN, as 16 lower-case hex digits, is greater; the port-id
// texts instead when either port is virtual and a VMware driver was
// detected); null: at the end.
SDMDevice* FindLocationInList(const SDMDeviceList* list, const SDMDevice* device);
// The same for a caller that knows whether a VMware driver serves the host
// (one walk of the device list for a whole sort, not one per record).
SDMDevice* FindLocationInListFor(const SDMDeviceList* list, const SDMDevice* device, bool vmware);

// Releases the targets (and LUNs) of every port of the front-end list (through
// the core port that owns them) and empties its header; the records stay with
// the chain that CloneFreeVORNDeviceList releases. 0.
int RemoveAllDevicesFromMyDeviceList();
// Takes the record with the same node and port WWN out of the front-end list
// and deletes it, closing its management handle (the targets it shares with
// its core port stay with that port): DeleteDevice's result, -1 when none.
int DeleteSDMDeviceFromSDMDeviceList(const SDMDevice* pDeviceToDelete);
// LunNewData := LunData for every LUN of every port of the front-end list.
void CoreInitializeTargets();
// Does nothing; 0.
int ResyncAllAdaptersFlashVersion();
