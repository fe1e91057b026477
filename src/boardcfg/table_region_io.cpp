// Whole-region reads and checked writes of the configuration tables.
#include "boardcfg/table_region_io.h"

#include <new>

#include "core/image_status.h"
#include "frontend/output.h"
#include "image/region_io.h"
#include "mgmt/sdapi.h"

namespace {

// Sizes the region, has `take` provide a buffer of that size (false: no
// memory) and reads the region into it. On 0 every byte of it was read: the
// wrappers fail a read that ends short of the size they asked for.
template <class Take>
SD_UINT32 ReadWhole(SDMDevice* pDevice, SD_UINT32 region, Take take) {
    SD_UINT32 size = 0;
    SD_UINT32 st = GetOptionROMRegionSize(pDevice, region, &size);
    if (st != 0) return st;
    if (size == 0) return REGIO_READ_FAILED;
    std::span<SD_UINT8> buffer;
    if (!take(size, &buffer)) return REGIO_BUFFER_FAILED;
    SD_UINT32 got = 0;
    st = GetOptionROMRegionData(pDevice, buffer, region, &got);
    if (st == 0 && got != size) st = REGIO_READ_FAILED;
    return st;
}

}  // namespace

SD_UINT32 ReadConfigTableRegion(SDMDevice* pDevice, SD_UINT32 region, std::vector<SD_UINT8>* out) {
    if (pDevice == nullptr || out == nullptr) return REGIO_NO_DEVICE;
    return ReadWhole(pDevice, region, [out](SD_UINT32 size, std::span<SD_UINT8>* buffer) {
        try {
            out->assign(size, 0);
        } catch (const std::bad_alloc&) {
            return false;
        }
        *buffer = *out;
        return true;
    });
}

SD_UINT32 ReadConfigTableRegion(SDMDevice* pDevice, SD_UINT32 region, FlashReadBuffer* out) {
    if (pDevice == nullptr || out == nullptr) return REGIO_NO_DEVICE;
    out->Release();
    const SD_UINT32 st = ReadWhole(pDevice, region, [out](SD_UINT32 size, std::span<SD_UINT8>* buffer) {
        if (!out->Allocate(size)) return false;
        *buffer = out->Target();
        return true;
    });
    if (st != 0) {
        out->Release();
        return st;
    }
    out->MarkFilled();
    return 0;
}

long WriteConfigTableRegion(SDMDevice* pDevice, SD_UINT32 region, std::span<const SD_UINT8> table) {
    SD_UINT16 disableReset = 1;
    const auto size = static_cast<SD_UINT32>(table.size());
    const SD_UINT32 st = AppUpdateOptionRomEx3(pDevice, table, region, size, &disableReset);
    if (st != SDERR_SUCCESS && st != SDERR_FLASHED_NOT_ACTIVATED) {
        VORNLogMessage(VORN_MSG_DEBUG, "WriteConfigTableRegion: Write of region 0x%x failed: 0x%x (%s)", region, st,
                       SDGetErrorString(st));
        return static_cast<long>(st);
    }
    const int check = CoreCheckOptionRomData(pDevice, region, size, table);
    if (check != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "WriteConfigTableRegion: Read-back of region 0x%x failed (%d)", region,
                       check);
        return check;
    }
    return 0;
}
