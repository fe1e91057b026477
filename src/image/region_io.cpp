// Retrying region wrappers over the management library's flash functions.
#include "image/region_io.h"

#include <cstring>
#include <new>

#include "core/busy_retry.h"
#include "core/core_log.h"
#include "core/flash_read_buffer.h"
#include "core/oss_services.h"
#include "frontend/output.h"
#include "mgmt/sdapi.h"

namespace {

constexpr std::size_t kLayoutHeader = offsetof(SDM_OPT_ROM_LAYOUT, RegionList);

enum class LayoutResult { Ok, NoMemory, Unreadable };

// Fetches the layout twice: once into a one-entry record to learn how many
// regions there are, then into a record sized for all of them.
LayoutResult FetchLayout(const SDMDevice* device, SDMOptRomLayoutCopy* copy) {
    std::vector<SD_UINT8> probe(SDM_OPT_ROM_LAYOUT_BYTES(1), 0);
    SD_UINT32 one = 1;
    std::memcpy(probe.data() + offsetof(SDM_OPT_ROM_LAYOUT, NoOfRegions), &one, sizeof one);
    SD_UINT32 st = CoreRetryWhileBusy(CORE_READ_RETRY_SECONDS,
                                      [&] { return SDGetOptionRomLayout(device->DeviceHandle, 0, probe); });
    if (st != SDERR_SUCCESS && st != SDERR_BUFFER_TOO_SMALL) {
        CoreLogMessage(ZV_MSG_DEBUG, "FetchLayout: SDGetOptionRomLayout returned 0x%x", st);
        return LayoutResult::Unreadable;
    }
    SD_UINT32 count = 0;
    std::memcpy(&count, probe.data() + offsetof(SDM_OPT_ROM_LAYOUT, NoOfRegions), sizeof count);

    std::vector<SD_UINT8> full;
    try {
        full.assign(SDM_OPT_ROM_LAYOUT_BYTES(count), 0);
    } catch (const std::bad_alloc&) {
        return LayoutResult::NoMemory;
    }
    std::memcpy(full.data() + offsetof(SDM_OPT_ROM_LAYOUT, NoOfRegions), &count, sizeof count);
    st = CoreRetryWhileBusy(CORE_READ_RETRY_SECONDS, [&] { return SDGetOptionRomLayout(device->DeviceHandle, 0, full); });
    if (st != SDERR_SUCCESS) {
        CoreLogMessage(ZV_MSG_DEBUG, "FetchLayout: SDGetOptionRomLayout returned 0x%x", st);
        return LayoutResult::Unreadable;
    }
    SD_UINT32 returned = 0;
    std::memcpy(&copy->Size, full.data(), sizeof copy->Size);
    std::memcpy(&returned, full.data() + offsetof(SDM_OPT_ROM_LAYOUT, NoOfRegions), sizeof returned);
    // The library never reports more than the record holds; trust only what fits.
    if (returned > count) returned = count;
    copy->Regions.resize(returned);
    for (SD_UINT32 i = 0; i < returned; ++i) {
        std::memcpy(&copy->Regions[i], full.data() + kLayoutHeader + i * sizeof(SDM_OPT_ROM_REGION),
                    sizeof(SDM_OPT_ROM_REGION));
    }
    return LayoutResult::Ok;
}

const SDM_OPT_ROM_REGION* FindRegion(const SDMOptRomLayoutCopy& layout, SD_UINT32 code) {
    for (const auto& r : layout.Regions) {
        if (r.Region == code) return &r;
    }
    return nullptr;
}

// The buffer is sized from a layout fetched before the read; a read that
// still ends short of it (the library found a smaller region) leaves bytes
// that were never read, so it fails.
SD_UINT32 ReadRegion(const SDMDevice* device, std::span<SD_UINT8> buffer, SD_UINT32 region) {
    SD_UINT32 read = 0;
    const SD_UINT32 st = FlashReadRetrying(device->DeviceHandle, region, buffer, &read);
    if (st != SDERR_SUCCESS || read == buffer.size()) return st;
    VORNLogMessage(VORN_MSG_DEBUG, "ReadRegion: region 0x%x gave 0x%x of 0x%zx bytes", region, read, buffer.size());
    return SDERR_DATA_UNDERRUN;
}

// Holds the process mutex for the lifetime of the guard.
class CriticalSection {
public:
    CriticalSection() : held_(OSSEnterCriticalSection() == 0) {}
    ~CriticalSection() {
        if (held_) OSSLeaveCriticalSection();
    }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

private:
    bool held_;
};

}  // namespace

SD_UINT32 getHBAOptionROMInfos(SDMDevice* pDevice, std::span<SD_UINT8> OptionROMBuffer, SD_UINT32 RegionNo,
                               SD_UINT32* pRead) {
    if (pRead != nullptr) *pRead = 0;
    if (pDevice == nullptr) return REGIO_NO_DEVICE;
    SDMOptRomLayoutCopy layout;
    switch (FetchLayout(pDevice, &layout)) {
        case LayoutResult::NoMemory: return REGIO_NO_MEMORY;
        case LayoutResult::Unreadable: return REGIO_LAYOUT_FAILED;
        case LayoutResult::Ok: break;
    }
    if (layout.Regions.empty()) return REGIO_REGION_FAILED;
    const SDM_OPT_ROM_REGION* region = FindRegion(layout, RegionNo);
    if (region == nullptr) {
        VORNLogMessage(VORN_MSG_DEBUG, "getHBAOptionROMInfos: Region 0x%x not in the layout of HBA %d", RegionNo,
                       pDevice->DeviceNumber);
        return 0;
    }
    // The caller's buffer must hold the whole region: never write past it.
    if (region->Size > OptionROMBuffer.size()) {
        VORNLogMessage(VORN_MSG_DEBUG, "getHBAOptionROMInfos: Region 0x%x (%u bytes) exceeds the buffer (%zu)",
                       RegionNo, region->Size, OptionROMBuffer.size());
        return REGIO_REGION_FAILED;
    }
    const SD_UINT32 st = ReadRegion(pDevice, OptionROMBuffer.first(region->Size), RegionNo);
    if (st != SDERR_SUCCESS) {
        VORNLogMessage(VORN_MSG_DEBUG, "getHBAOptionROMInfos: Read of region 0x%x failed (0x%x)", RegionNo, st);
        return REGIO_REGION_FAILED;
    }
    if (pRead != nullptr) *pRead = region->Size;
    return 0;
}

SD_UINT32 GetOptionROMRegionSize(SDMDevice* pDevice, SD_UINT32 regionNo, SD_UINT32* regionSize) {
    if (regionSize != nullptr) *regionSize = 0;
    CriticalSection lock;
    if (pDevice == nullptr || regionSize == nullptr) return REGIO_NO_DEVICE;
    SDMOptRomLayoutCopy layout;
    switch (FetchLayout(pDevice, &layout)) {
        case LayoutResult::NoMemory: return REGIO_BUFFER_FAILED;
        case LayoutResult::Unreadable: return REGIO_LAYOUT_FAILED;
        case LayoutResult::Ok: break;
    }
    if (layout.Regions.empty()) return 0;
    const SDM_OPT_ROM_REGION* region = FindRegion(layout, regionNo);
    if (region == nullptr) return REGIO_REGION_FAILED;
    *regionSize = region->Size;
    // Read only to prove the region readable: no byte of it is looked at.
    FlashReadBuffer buffer;
    if (!buffer.Allocate(region->Size)) return REGIO_READ_FAILED;
    const SD_UINT32 st = ReadRegion(pDevice, buffer.Target(), regionNo);
    if (st != SDERR_SUCCESS) {
        VORNLogMessage(VORN_MSG_DEBUG, "GetOptionROMRegionSize: Read of region 0x%x failed (0x%x)", regionNo, st);
        return REGIO_READ_FAILED;
    }
    return 0;
}

SD_UINT32 GetOptionROMRegionData(SDMDevice* pDevice, std::span<SD_UINT8> pOptionROMBuffer, SD_UINT32 regionNo,
                                 SD_UINT32* regionSize) {
    if (regionSize != nullptr) *regionSize = 0;
    CriticalSection lock;
    if (pDevice == nullptr || regionSize == nullptr) return REGIO_NO_DEVICE;
    SDMOptRomLayoutCopy layout;
    switch (FetchLayout(pDevice, &layout)) {
        case LayoutResult::NoMemory: return REGIO_BUFFER_FAILED;
        case LayoutResult::Unreadable: return REGIO_LAYOUT_FAILED;
        case LayoutResult::Ok: break;
    }
    if (layout.Regions.empty()) return REGIO_REGION_FAILED;
    const SDM_OPT_ROM_REGION* region = FindRegion(layout, regionNo);
    if (region == nullptr) return REGIO_READ_FAILED;
    *regionSize = region->Size;
    if (pOptionROMBuffer.empty() || pOptionROMBuffer.size() < region->Size) return REGIO_BUFFER_FAILED;
    const SD_UINT32 st = ReadRegion(pDevice, pOptionROMBuffer.first(region->Size), regionNo);
    if (st != SDERR_SUCCESS) {
        VORNLogMessage(VORN_MSG_DEBUG, "GetOptionROMRegionData: Read of region 0x%x failed (0x%x)", regionNo, st);
        return REGIO_READ_FAILED;
    }
    return 0;
}

SD_UINT32 GetOptionRomRegionLayout(SDMDevice* pDevice, SDMOptRomLayoutCopy* pLayout, SD_UINT32 uRegionNo,
                                   SD_UINT32* uRegionRetSize) {
    if (pDevice == nullptr) return REGIO_LAYOUT_NO_DEVICE;
    if (pLayout == nullptr) return REGIO_BUFFER_FAILED;
    SDMOptRomLayoutCopy layout;
    switch (FetchLayout(pDevice, &layout)) {
        case LayoutResult::NoMemory: return REGIO_BUFFER_FAILED;
        case LayoutResult::Unreadable:
            VORNLogMessage(VORN_MSG_DEBUG, "Unable to get option rom flash layout of HBA instance %d!",
                           pDevice->DeviceNumber);
            return REGIO_READ_FAILED;
        case LayoutResult::Ok: break;
    }
    if (const SDM_OPT_ROM_REGION* region = FindRegion(layout, uRegionNo);
        region != nullptr && uRegionRetSize != nullptr) {
        *uRegionRetSize = region->Size;
    }
    *pLayout = std::move(layout);
    return 0;
}

namespace {

using WriteFn = SD_UINT32 (*)(int, SD_UINT16, std::span<const SD_UINT8>, SD_UINT32);

SD_UINT32 WriteRegion(SDMDevice* device, WriteFn fn, unsigned seconds, std::span<const SD_UINT8> buffer,
                      SD_UINT32 region, SD_UINT32 size, SD_UINT16 disableReset) {
    if (size > buffer.size()) {
        VORNLogMessage(VORN_MSG_DEBUG, "WriteRegion: Size %u of region 0x%x exceeds the buffer (%zu)", size, region,
                       buffer.size());
        return SDERR_INVALID_PARAMETER;
    }
    const auto data = buffer.first(size);
    const SD_UINT32 st = CoreRetryWhileBusy(seconds, [&] { return fn(device->DeviceHandle, disableReset, data, region); });
    if (st == SDERR_LOCKDOWN || st == SDERR_OPTROM_INVALID_FW) {
        CoreLogMessage(ZV_MSG_ERROR, "Flash write of region 0x%x failed: 0x%x (%s)", region, st,
                       SDGetErrorString(st));
    } else if (st != SDERR_SUCCESS) {
        VORNLogMessage(VORN_MSG_DEBUG, "WriteRegion: region 0x%x answered 0x%x (%s)", region, st,
                       SDGetErrorString(st));
    }
    return st;
}

}  // namespace

SD_UINT32 AppUpdateOptionRomEx(SDMDevice* pDevice, std::span<const SD_UINT8> pBuffer, SD_UINT32 Region,
                               SD_UINT32 RegionSize, SD_UINT16 DisableReset) {
    if (pDevice == nullptr) return SDERR_INVALID_HANDLE;
    const SD_UINT32 st = WriteRegion(pDevice, &SDUpdateOptionRomEx, REGIO_WRITE_EX_RETRY_SECONDS, pBuffer, Region,
                                     RegionSize, DisableReset);
    return st == SDERR_FLASHED_NOT_ACTIVATED ? SDERR_SUCCESS : st;
}

SD_UINT32 AppUpdateOptionRomEx2(SDMDevice* pDevice, std::span<const SD_UINT8> pBuffer, SD_UINT32 Region,
                                SD_UINT32 RegionSize, SD_UINT16 DisableReset) {
    if (pDevice == nullptr) return SDERR_INVALID_HANDLE;
    return WriteRegion(pDevice, &SDUpdateOptionRomEx2, REGIO_WRITE_EX2_RETRY_SECONDS, pBuffer, Region, RegionSize,
                       DisableReset);
}

SD_UINT32 AppUpdateOptionRomEx3(SDMDevice* pDevice, std::span<const SD_UINT8> pBuffer, SD_UINT32 Region,
                                SD_UINT32 RegionSize, SD_UINT16* DisableReset) {
    if (pDevice == nullptr || DisableReset == nullptr) return SDERR_INVALID_HANDLE;
    const SD_UINT32 st = WriteRegion(pDevice, &SDUpdateOptionRomEx2, REGIO_WRITE_EX2_RETRY_SECONDS, pBuffer,
                                     Region, RegionSize, *DisableReset);
    if (st == SDERR_FLASHED_NOT_ACTIVATED) *DisableReset = 1;
    return st;
}

SD_UINT32 AppActivateOnlineFlashUpdate(SDMDevice* pDevice) {
    if (pDevice == nullptr) return SDERR_INVALID_HANDLE;
    const SD_UINT32 st = CoreRetryWhileBusy(REGIO_ACTIVATE_RETRY_SECONDS,
                               [&] { return SDOnlineActivateFlashUpdate(pDevice->DeviceHandle, 0); });
    if (st != SDERR_SUCCESS) {
        VORNLogMessage(VORN_MSG_DEBUG, "AppActivateOnlineFlashUpdate: answered 0x%x (%s)", st, SDGetErrorString(st));
    }
    return st;
}
