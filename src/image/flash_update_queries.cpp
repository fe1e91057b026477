// Online-update capability, image-status and flash-layout queries.
#include "image/flash_update_queries.h"

#include <new>
#include <vector>

#include "core/chip_types.h"
#include "core/image_status.h"
#include "frontend/output.h"
#include "image/flash_layout_table.h"
#include "image/region_io.h"
#include "mgmt/sdapi.h"

namespace {

constexpr SD_UINT32 kFlashLayoutRegion = 0x1C;

// The whole region, or false when its size cannot be had, it is empty, or it
// cannot be read.
bool ReadWholeRegion(SDMDevice* pDevice, SD_UINT32 region, std::vector<SD_UINT8>* out) {
    SD_UINT32 size = 0;
    const SD_UINT32 st = GetOptionROMRegionSize(pDevice, region, &size);
    if (st != 0 || size == 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "Region 0x%x of HBA %d: no size (0x%x)", region, pDevice->DeviceNumber, st);
        return false;
    }
    try {
        out->assign(size, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const SD_UINT32 rd = getHBAOptionROMInfos(pDevice, *out, region);
    if (rd != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "Region 0x%x of HBA %d: read failed (0x%x)", region, pDevice->DeviceNumber, rd);
        return false;
    }
    return true;
}

}  // namespace

SD_INT32 CheckFlashUpdateCapabilities(SDMDevice* pDevice, SD_UINT64* uCapabilityMask) {
    if (pDevice == nullptr) return FLASH_QUERY_NO_DEVICE;
    SD_UINT64 value = 0;
    const SD_UINT32 status = SDGetFlashUpdateCapabilities(pDevice->DeviceHandle, 0, &value);
    if (uCapabilityMask != nullptr) *uCapabilityMask = value;
    VORNLogMessage(VORN_MSG_DEBUG, "CheckFlashUpdateCapabilities: HBA %d status 0x%x capabilities 0x%llx",
                   pDevice->DeviceNumber, status, static_cast<unsigned long long>(value));
    if (status == 0 && (value == 2 || value == 4 || value == 8)) return 0;
    return FLASH_CAPABILITY_UNUSABLE;
}

SD_INT32 GetAdapterFlashActiveRegionInfo(SDMDevice* pDevice, SD_UINT32 uRegionNo, SD_UINT32* uRetImageStatusMask,
                                         SD_UINT16* uRetImageGenerationNo) {
    if (pDevice == nullptr) return FLASH_QUERY_NO_DEVICE;
    SD_UINT32 signature = 0;
    switch (uRegionNo) {
        case IMAGE_STATUS_REGION_PRIMARY:
        case IMAGE_STATUS_REGION_SECONDARY:
            signature = CoreGetISPType(pDevice) == 25 ? IMAGE_STATUS_SIGNATURE_25 : IMAGE_STATUS_SIGNATURE_27;
            break;
        case AUX_IMAGE_STATUS_REGION_FIRST:
        case AUX_IMAGE_STATUS_REGION_SECOND:
            // The auxiliary records carry their own signature on every chip.
            signature = AUX_IMAGE_STATUS_SIGNATURE;
            break;
        default:
            return FLASH_QUERY_NOT_STATUS_REGION;
    }
    std::vector<SD_UINT8> buffer;
    if (!ReadWholeRegion(pDevice, uRegionNo, &buffer)) return -1;
    if (!CoreIsImageStatusRegionValid(buffer, signature)) {
        VORNLogMessage(VORN_MSG_DEBUG, "GetAdapterFlashActiveRegionInfo: Region 0x%x of HBA %d holds no valid record",
                       uRegionNo, pDevice->DeviceNumber);
        return FLASH_QUERY_INVALID_RECORD;
    }
    const IMAGESTATUSREGION record = CoreDecodeImageStatus(buffer);
    VORNLogMessage(VORN_MSG_DEBUG, "GetAdapterFlashActiveRegionInfo: Region 0x%x mask=0x%x generation=%u", uRegionNo,
                   record.ImageStatusMask, record.GenerationNumber);
    if ((record.ImageStatusMask & 0x01) != 0) {
        if (uRetImageStatusMask != nullptr) *uRetImageStatusMask = 1;
        if (uRetImageGenerationNo != nullptr) *uRetImageGenerationNo = record.GenerationNumber;
    }
    return 0;
}

SD_UINT16 GetAdapterFlashLayoutVersion(SDMDevice* pDevice) {
    if (pDevice == nullptr) return 0;
    std::vector<SD_UINT8> table;
    if (!ReadWholeRegion(pDevice, kFlashLayoutRegion, &table)) return 0;
    return GetFlashLayoutVersion(table);
}
