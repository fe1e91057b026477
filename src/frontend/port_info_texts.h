// Texts and small facts about a port that the reports print: the serial
// number as the library reports it, the adapter description from the adapter
// table, the supported-speed bits, chip revision, PCI Express link width and
// speed, and whether a boot-code version is an FCode version.
#pragma once

#include <cstddef>

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// "N/A", then for a port the node property's serial number (at most 31
// characters). 8 for a null or empty text buffer, else 0.
int GetAdapterSerialNoFromAPIs(const SDMDevice* pDeviceIter, char* serialNo, size_t size);
// "N/A", or at most `len` (never more than 128) characters of the port's
// adapter-entry description; the length of the text. 0 for a null text.
int GetAdapterDescription(const SDMDevice* pDevice, char* Description, size_t size, size_t len);
// Bit `uBit` of the port property's supported-speed byte (0 or 1); 0 for a
// null port, a byte of 0 or a bit outside the byte.
int GetSupportedDataRateSetting(const SDMDevice* pDevice, int uBit);
// "0x%x(%s)" of a chip revision and its stepping name, or "0x%x" alone. The
// text lives in one process-wide buffer that each call rewrites.
const char* GetFCChipVersionMappingStr(SD_UINT32 ChipRevision, int ispType);
// "x1" .. "x16", else "Unknown Width"; -1 for a null or empty buffer, else 0.
int GetPCIWidthString(int iPCIWidth, char* pPCIWidthStr, size_t size);
// "2.5 Gbps", "5.0 Gbps", "8.0 Gbps", "16.0 Gbps" for codes 1 to 4, else
// "Unknown Speed"; -1 for a null or empty buffer, else 0.
int GetPCISpeedString(int iPCISpeed, char* pPCISpeedStr, size_t size);
// 1 when the text (at most 39 characters), split at ".", has three parts or more.
int isFcodeVersion(const char* FlashVersionString);
// The ENode MAC address of a converged port's adapter entry (zeros when it
// has none); 8 for a null port or output, else 0.
int GetDeviceMacAddress(const SDMDevice* pDevice, SD_UINT8 mac[6]);
