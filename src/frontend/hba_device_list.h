// The front end's device list: copies of the physical Fibre Channel ports of the
// core device model, ordered by adapter serial number and, within one adapter,
// by WWPN, so the ports of one adapter stand together and its first port is the
// one with the lowest WWPN. Built once after discovery (BuildHBADevices) and
// released at clean-up (CloneFreeVORNDeviceList).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/sdm_device.h"
#include "frontend/adapter_entry_list.h"

// Texts of at most 31 characters plus the terminator.
constexpr size_t VORN_SERIAL_SIZE = 32;
constexpr size_t VORN_STATE_SIZE = 32;

// Builds the device list and the adapter-entry list from the core device model; 0.
// On the way, SortAdapterList builds an interim adapter-entry list in WWPN order
// and a WWPN-ordered chain of copies of the physical FC ports; BuildVORNDeviceList
// then takes that chain's records over (leaving it empty), orders them by serial
// number and rebuilds the entry list in the final order.
int BuildHBADevices();
SDMDevice* SortAdapterList(SDMDeviceList* core, SDMDeviceList* chain);
SDMDeviceList BuildVORNDeviceList(SDMDeviceList* chain);
// Drops a record from the chain that CloneFreeVORNDeviceList releases (the
// record was unlinked from the list by its caller).
void VORNForgetDeviceListRecord(const SDMDevice* record);
// The list header (never null).
SDMDeviceList* GetMyDeviceList();
// Empties the header (does not free the records).
void InitMyDeviceList();
// Frees every record of the front-end device list and empties it; 0.
int CloneFreeVORNDeviceList();

// Serial number read from the adapter: VPD "SN" for chip types above 7, else (or
// when that fails) the node property's; "N/A" when neither is known. 0, or 8
// for a null argument.
int GetSerialNo(const SDMDevice* port, char* text, size_t size);
// "N/A" for a null port; the serial number of the port's adapter entry when it
// has one, else GetSerialNo. 0, or 8 for a null text.
int GetAdapterSerialNo(const SDMDevice* port, char* text, size_t size);
// Whether a serial number text stands for an unknown one (empty or "N/A").
bool IsUnknownAdapterSerial(const char* serial);
// What tells the port's adapter from every other one, for grouping ports into
// adapters and ordering adapters; never shown or logged. The adapter serial
// number as GetAdapterSerialNo gives it; for an unknown one, "N/A" with the PCI
// bus and device added, so that two adapters without a readable serial number
// are never taken for one (and sort where "N/A" does). 0, or 8 for a null text.
int GetAdapterKey(const SDMDevice* port, char* key, size_t size);
// The same key from an adapter entry (empty for a null entry).
void AdapterEntryKey(const AdapterEntry* entry, char* key, size_t size);
// Writes the port's state text ("Online", "Link Down" ...); 1 when the port
// property cannot be read, else the port's device status value (0 when all is well).
int GetAdapterStatus(SDMDevice* port, char* text, size_t size);
// Refreshes the status bits of the port's DeviceStatus from its port property;
// 2 when the property cannot be read, else the port state code.
int GetHBADevicePortStatus(SDMDevice* port);
// The virtual-port id of a virtual port (0 when it has none or is not one).
int GetVirtualPortID(const SDMDevice* port);
// Re-reads the node property of the port (and of its sibling ports on the same
// adapter) into the list records; 0, or 8 for a null port or a failed read.
int UpdateHBADeviceNodeProperty(SDMDevice* port);

// The first port with that instance number / port WWN, or null.
SDMDevice* FindDeviceInDeviceListByDeviceNumber(uint32_t deviceNumber);
SDMDevice* FindDeviceInDeviceListByDeviceWWPN(const uint8_t* deviceWWPN);

// 1 when the driver version text of the port contains `text`.
int isCurrDriverType(const SDMDevice* port, const char* text);
// 1 when any port's driver version contains "-vm" or "vmw".
int DetectLinuxVmWareDriver();
// 1 for the VMware-specific inbox driver (an "-vm" / "vmw" driver on an 8 Gb adapter).
int isVMwareSpecificInboxDriver(const SDMDevice* port);
// 1 when the firmware version's major number is 8 or more.
int isFirmwareWithFECSupport(const char* version);
