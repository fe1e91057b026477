// The last writes of a Vrel update and the set switch on its own: the
// image-status records that make the written set the one the adapter starts
// from, and the auxiliary records that say which board-configuration copy
// serves, each with its progress and confirmation lines.
#pragma once

#include <span>

#include "core/image_status.h"
#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

constexpr SD_INT32 VREL_IMAGE_STATUS_FAILED = 203;
constexpr SD_INT32 VREL_AUX_IMAGE_STATUS_FAILED = 204;

// Makes the set that is not active in *pActive the active one: 0 or 203. The
// progress item is also formatted into `lastLine` (may be empty). With
// `found` held, the switch is built from the records found before the hold.
// *pAnswer (may be null) gets the library's answer to a write it refused, so
// that a lockdown can be told from a failure.
SD_INT32 VrelWriteImageStatus(SDMDevice* pDevice, SD_ACTIVE_REGIONS* pActive, std::span<char> lastLine,
                              const CoreRecordsFound* found = nullptr, SD_UINT32* pAnswer = nullptr);
// Flips the auxiliary records for `uComponentUpdate`: 0 or 204. `found` and
// *pAnswer as above.
SD_INT32 VrelWriteAuxImageStatus(SDMDevice* pDevice, SD_ACTIVE_REGIONS* pActive, SD_UINT32 uComponentUpdate,
                                 std::span<char> lastLine, const CoreRecordsFound* found = nullptr,
                                 SD_UINT32* pAnswer = nullptr);
// For a run that wrote no board configuration: the auxiliary records its
// hold changed put back as found (CoreRestoreAuxImageStatus), silently, as a
// hold writes. 0, or 204 after the step of the set made active completed by
// "Failed" (nothing formatted into `lastLine`, which is cleared). *pAnswer as above.
SD_INT32 VrelRestoreAuxImageStatus(SDMDevice* pDevice, const SD_ACTIVE_REGIONS& active, const CoreRecordsFound& found,
                                   std::span<char> lastLine, SD_UINT32* pAnswer = nullptr);
