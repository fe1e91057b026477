// Every flash region read, write and activation of the image and update
// subsystems goes through these wrappers. They look a region code up in the
// adapter's flash layout and ride out the adapter's resets by retrying while
// the library answers "busy" (0x20000067 or 0x20000075): at most 30 calls,
// with a sleep after each busy answer, and no call again once the process was
// interrupted (zvapi_waits_interrupted).
#pragma once

#include <span>
#include <vector>

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

constexpr unsigned REGIO_WRITE_EX_RETRY_SECONDS = 10;
constexpr unsigned REGIO_WRITE_EX2_RETRY_SECONDS = 1;
constexpr unsigned REGIO_ACTIVATE_RETRY_SECONDS = 20;

// Wrapper statuses (besides the library's own, passed through by the writers).
constexpr SD_UINT32 REGIO_NO_DEVICE = 8;
constexpr SD_UINT32 REGIO_NO_MEMORY = 11;
constexpr SD_UINT32 REGIO_READ_FAILED = 36;
constexpr SD_UINT32 REGIO_REGION_FAILED = 37;
constexpr SD_UINT32 REGIO_LAYOUT_FAILED = 38;
constexpr SD_UINT32 REGIO_BUFFER_FAILED = 115;
constexpr SD_UINT32 REGIO_LAYOUT_NO_DEVICE = 0xFFFFFFFF;

// A copy of the adapter's flash layout.
struct SDMOptRomLayoutCopy {
    SD_UINT32 Size = 0;                        // whole flash size
    std::vector<SDM_OPT_ROM_REGION> Regions;   // in the library's order
};

// Every reader below reads a region whole or fails: a read the library ends
// short of the region's size in the layout is a failed one.

// Reads the whole region into the buffer: 0 (also, without reading, when the
// layout lacks the region), 8, 11, 37 (no regions, read failed, or a region
// larger than the buffer: nothing is written past the buffer), 38. *pRead
// (when given) gets the count of bytes read from the buffer's start: 0 unless
// the region was read.
SD_UINT32 getHBAOptionROMInfos(SDMDevice* pDevice, std::span<SD_UINT8> OptionROMBuffer, SD_UINT32 RegionNo,
                               SD_UINT32* pRead = nullptr);
// The region's size, proved readable by reading it once: 0, 8, 36, 37, 38, 115.
// *regionSize is 0 unless the region is in the layout. Holds the process mutex.
SD_UINT32 GetOptionROMRegionSize(SDMDevice* pDevice, SD_UINT32 regionNo, SD_UINT32* regionSize);
// Reads the region into the buffer and gives its size: 0, 8, 36 (not in the
// layout, read failed), 37 (no regions), 38, 115 (empty buffer or one smaller
// than the region). Holds the process mutex.
SD_UINT32 GetOptionROMRegionData(SDMDevice* pDevice, std::span<SD_UINT8> pOptionROMBuffer, SD_UINT32 regionNo,
                                 SD_UINT32* regionSize);
// A copy of the whole layout into *pLayout and, when the region is present,
// its size into *uRegionRetSize: 0, 0xFFFFFFFF (null device), 36, 115.
SD_UINT32 GetOptionRomRegionLayout(SDMDevice* pDevice, SDMOptRomLayoutCopy* pLayout, SD_UINT32 uRegionNo,
                                   SD_UINT32* uRegionRetSize);

// Writers: the first RegionSize bytes of the buffer (a RegionSize beyond the
// buffer is refused with 0x20000064 before anything is sent).
// Over SDUpdateOptionRomEx, 10 s apart; 0x20000100 gives 0.
SD_UINT32 AppUpdateOptionRomEx(SDMDevice* pDevice, std::span<const SD_UINT8> pBuffer, SD_UINT32 Region,
                               SD_UINT32 RegionSize, SD_UINT16 DisableReset);
// Over SDUpdateOptionRomEx2, 1 s apart; 0x20000100 is returned as it is.
SD_UINT32 AppUpdateOptionRomEx2(SDMDevice* pDevice, std::span<const SD_UINT8> pBuffer, SD_UINT32 Region,
                                SD_UINT32 RegionSize, SD_UINT16 DisableReset);
// As Ex2, and 0x20000100 also sets *DisableReset to 1 (the engines then skip
// their activation).
SD_UINT32 AppUpdateOptionRomEx3(SDMDevice* pDevice, std::span<const SD_UINT8> pBuffer, SD_UINT32 Region,
                                SD_UINT32 RegionSize, SD_UINT16* DisableReset);
// Over SDOnlineActivateFlashUpdate, 20 s apart; 0x20000100 means success
// that needs a reboot.
SD_UINT32 AppActivateOnlineFlashUpdate(SDMDevice* pDevice);
