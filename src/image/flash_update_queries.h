// Small flash queries of the update flows: whether an adapter can take an
// online flash update, what an image-status region says about its image set,
// and the version of the adapter's flash layout table.
#pragma once

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// Status of CheckFlashUpdateCapabilities when the library's answer is not one
// of the capability values an online update can use.
constexpr SD_INT32 FLASH_CAPABILITY_UNUSABLE = 1203;

// Statuses of GetAdapterFlashActiveRegionInfo (besides -1: region unreadable).
constexpr SD_INT32 FLASH_QUERY_NO_DEVICE = 8;
constexpr SD_INT32 FLASH_QUERY_INVALID_RECORD = 35;
constexpr SD_INT32 FLASH_QUERY_NOT_STATUS_REGION = 36;

// Whether the adapter can take an online flash update: 8 without a device
// (nothing written); otherwise *uCapabilityMask gets the library's value (0
// when it gave none) and the result is 0 when the query succeeded and the
// value is exactly 2, 4 or 8, else 1203.
SD_INT32 CheckFlashUpdateCapabilities(SDMDevice* pDevice, SD_UINT64* uCapabilityMask);

// Reads image-status region 0x95, 0x96 (image sets) or 0x125, 0x126
// (auxiliary records) and checks its record against the chip's signature
// (0xFACEFADE on chip type 25, 0xFACEFADF on the others; the auxiliary
// records carry 0xFACEFAED). A valid record gives 0, and when it is marked
// active 1 and its generation are written through the outputs (either may be
// null); a record marked inactive leaves them as they were. 35 invalid
// record, 36 another region, 8 no device, -1 region unreadable.
SD_INT32 GetAdapterFlashActiveRegionInfo(SDMDevice* pDevice, SD_UINT32 uRegionNo, SD_UINT32* uRetImageStatusMask,
                                         SD_UINT16* uRetImageGenerationNo);

// Version of the adapter's flash layout table (region 0x1C); 0 without a
// device, a readable region or a table.
SD_UINT16 GetAdapterFlashLayoutVersion(SDMDevice* pDevice);
