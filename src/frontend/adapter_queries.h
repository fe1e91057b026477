// Small queries of one port that no command reaches: its 2 Gb chip class, PCI
// function, hardware-type texts from the adapter table or its model, the
// adapter header of the displays, and two OEM helpers.
#pragma once

#include <cstddef>

#include "core/sdm_device.h"

// 0 (0x2200), 1 (0x2300, 0x2310, 0x2312), 2 (0x6312), 3 (0x2322), 4 (0x6322);
// -1 for another device id or a null port.
int FindWhichISP2GType(const SDMDevice* pDevice);
// The PCI function number (slot bits 0 to 2) from a fresh chip property (the
// stored one when the read fails), also printed on standard output; -1 for a
// null port.
int GetAdapterPCIFunctionNumber(const SDMDevice* pDevice);
// The hardware-type text of the port: "2422" for two OEM subsystem ids, else
// its model without the first three characters. Unchanged for a null port; 0.
int GetHBAHardwareType(const SDMDevice* pDevice, char* acHWType, size_t size);
// Console header of a port: rule, "HBA Instance ..." line, rule.
void PrintHBAHeader(const SDMDevice* pDevice);

// From the plain adapters.properties of the configuration directory, read
// afresh: 0 when the port's row says supported, else 7 (also without a row,
// when acHWType becomes the PCI device id); acHWType := the row's chip text
// without its first three characters.
int ValidateAdapterProperties(const SDMDevice* pDeviceIter, char* acHWType, size_t size);
// 8 for a null port, else ValidateAdapterProperties.
int DetectAdapterType(const SDMDevice* pDevice, char* acHWType, size_t size);
// acISPType := the digits of the row's chip text ("ISP2532" gives "2532"; kept
// when there is no row); acHWType := its first two characters. The length of
// acHWType; 0 for a null port.
int GetHardwareType(const SDMDevice* pDevice, char* acHWType, size_t hwSize, char* acISPType, size_t ispSize);

// Ports of the device list with the port's subsystem ids, counted in groups
// of up to three (the port included); 0 for a null port.
int GetNumberOfPortsOEMHBA(const SDMDevice* pDevice);
// Appends "-piva" to a blade-server model ("IBM", "FCEC", "FCI/O-CARD2Gb/s")
// that lacks it, when `size` leaves room; 0.
int UpdateModelStringForBladeServer(char* pModel, size_t size);
