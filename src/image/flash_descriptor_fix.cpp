// Flash descriptor table repair of chip-type-24 adapters.
#include "image/flash_descriptor_fix.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/chip_types.h"
#include "frontend/output.h"
#include "image/region_io.h"

namespace {

constexpr SD_UINT8 kWinbondId[4] = {0xEF, 0x00, 0x18, 0x40};
constexpr SD_UINT8 kEraseCode[2] = {0xD8, 0x20};
// The table's checksum once the erase code is right.
constexpr SD_UINT8 kFixedChecksum[2] = {0x95, 0xF6};

bool bytes_at(std::span<const SD_UINT8> buffer, std::size_t offset, std::span<const SD_UINT8> expected) {
    if (buffer.size() < offset || buffer.size() - offset < expected.size()) return false;
    return std::memcmp(buffer.data() + offset, expected.data(), expected.size()) == 0;
}

std::string model_of(const SDMDevice* device) {
    const char* model = device->DeviceNodeProperty.Model;
    return std::string(model, strnlen(model, sizeof device->DeviceNodeProperty.Model));
}

}  // namespace

bool IsWinBondFlashPart(std::span<const SD_UINT8> pBuffer) { return bytes_at(pBuffer, FDT_OFF_PART_ID, kWinbondId); }

bool IsCorrectEraseCode(std::span<const SD_UINT8> pBuffer) {
    return bytes_at(pBuffer, FDT_OFF_ERASE_CODE, kEraseCode);
}

SD_INT32 ModifyFlashDescriptorTableAdapter(SDMDevice* pDevice) {
    if (pDevice == nullptr) return static_cast<SD_INT32>(REGIO_NO_DEVICE);
    if (CoreGetISPType(pDevice) != 24) return 0;
    const int instance = static_cast<int>(pDevice->DeviceNumber);
    const std::string model = model_of(pDevice);

    SD_UINT32 size = 0;
    const SD_UINT32 sizeStatus = GetOptionROMRegionSize(pDevice, FDT_REGION, &size);
    if (sizeStatus != 0) {
        scfxPrint("Unable to get flash descriptor table region size of HBA instance %d %s", instance, model.c_str());
        return static_cast<SD_INT32>(sizeStatus);
    }
    // A region that cannot hold the table at its fixed offsets is not read or written.
    if (size < FDT_MIN_REGION_SIZE) {
        scfxPrint("HBA %d (%s): Unable to get flash descriptor table!", instance, model.c_str());
        return static_cast<SD_INT32>(REGIO_READ_FAILED);
    }
    std::vector<SD_UINT8> buffer;
    try {
        buffer.assign(size, 0);
    } catch (const std::bad_alloc&) {
        scfxPrint("Memory allocation error!");
        return static_cast<SD_INT32>(REGIO_BUFFER_FAILED);
    }
    SD_UINT32 readSize = 0;
    const SD_UINT32 readStatus = GetOptionROMRegionData(pDevice, buffer, FDT_REGION, &readSize);
    if (readStatus != 0) {
        scfxPrint("HBA %d (%s): Unable to get flash descriptor table!", instance, model.c_str());
        return static_cast<SD_INT32>(readStatus);
    }
    if (!IsWinBondFlashPart(buffer)) return 0;
    if (IsCorrectEraseCode(buffer)) {
        scfxPrint("HBA %d (%s): FDT Erase code OK", instance, model.c_str());
        return FDT_ERASE_CODE_OK;
    }
    scfxPrint("HBA %d (%s):  Updating FDT erase code and patching checksum...", instance, model.c_str());
    std::memcpy(buffer.data() + FDT_OFF_ERASE_CODE, kEraseCode, sizeof kEraseCode);
    std::memcpy(buffer.data() + FDT_OFF_CHECKSUM, kFixedChecksum, sizeof kFixedChecksum);
    SD_UINT16 disableReset = 1;
    const SD_UINT32 written = AppUpdateOptionRomEx3(pDevice, buffer, FDT_REGION, size, &disableReset);
    if (written == 0) {
        scfxPrint("Success.");
        return 0;
    }
    if (written == SDERR_FLASHED_NOT_ACTIVATED) {
        scfxPrint("Success (Reboot required).");
        return 201;
    }
    scfxPrint("HBA %d (%s): Unable to update flash descriptor table!", instance, model.c_str());
    return FDT_WRITE_FAILED;
}
