// NVRAM and option-ROM data preservation.
#include "core/nvram_preservation.h"

#include <algorithm>
#include <initializer_list>

#include "core/chip_types.h"
#include "core/core_log.h"
#include "mgmt/sdapi.h"

namespace {

// Inclusive byte ranges.
void copy_range(std::span<SD_UINT8> dst, std::span<const SD_UINT8> src, std::size_t first, std::size_t last) {
    std::copy(src.begin() + static_cast<long>(first), src.begin() + static_cast<long>(last) + 1,
              dst.begin() + static_cast<long>(first));
}

bool whole_images(std::span<SD_UINT8> a, std::span<const SD_UINT8> b, std::size_t size) {
    return a.size() >= size && b.size() >= size;
}

// Copies variable `number` with its full width: the library hands values out
// as 32-bit words and takes them back the same way.
void copy_variable(const SDMDevice* device, std::span<SD_UINT8> nvram, std::span<const SD_UINT8> from,
                   SD_UINT32 number) {
    const SD_UINT32 value = SDGetVariableValue(device->DeviceHandle, from, number);
    const SD_UINT32 st = SDSetVariableValue(device->DeviceHandle, nvram, number, value);
    if (st != SDERR_SUCCESS)
        CoreLogMessage(ZV_MSG_DEBUG, "PreserveNvramData: variable %u not kept (0x%x)", number, st);
}

void copy_variables(const SDMDevice* device, std::span<SD_UINT8> nvram, std::span<const SD_UINT8> from,
                    SD_UINT32 first, SD_UINT32 last) {
    for (SD_UINT32 n = first; n <= last; ++n) copy_variable(device, nvram, from, n);
}

}  // namespace

int PreserveNvramData(const SDMDevice* queryDevice, std::span<SD_UINT8> nvram, int iDefaults) {
    if (queryDevice == nullptr || nvram.size() < NVRAM_IMAGE_SIZE) return -1;
    const std::span<const SD_UINT8> initial(queryDevice->DeviceInitialNVRAM);
    const std::span<const SD_UINT8> current(queryDevice->DeviceCurrentNVRAM);

    copy_variables(queryDevice, nvram, initial, 24, 31);
    copy_variable(queryDevice, nvram, initial, 17);
    if (SDGetVariableValue(queryDevice->DeviceHandle, initial, 17) != 0) copy_variables(queryDevice, nvram, initial, 35, 42);

    if (iDefaults == 0) {
        copy_variables(queryDevice, nvram, current, 58, 60);
        if (CoreIsHostSystemEFISupportedType() != 0) {
            for (SD_UINT32 n : {92u, 95u, 93u, 94u, 96u}) copy_variable(queryDevice, nvram, current, n);
            copy_variables(queryDevice, nvram, current, 84, 91);
        }
        copy_variables(queryDevice, nvram, current, 72, 80);
        copy_variables(queryDevice, nvram, current, 98, 106);
        copy_variables(queryDevice, nvram, current, 107, 115);
        copy_variables(queryDevice, nvram, current, 116, 124);
        if (CoreGetISP16GbType(queryDevice) != 0 || CoreGetISP32GbType(queryDevice) != 0 ||
            CoreGetISP64GbType(queryDevice) != 0)
            copy_variables(queryDevice, nvram, current, 130, 131);
        copy_variables(queryDevice, nvram, current, 63, 64);
    }

    const int subType = CoreGetISP4GbType(queryDevice);
    if (subType > 0) PreserveFirmwareNVRAMData(subType, nvram, current);

    const bool melo = CoreGetISPmeloType(queryDevice) != 0;
    if (subType != 0 || CoreGetISP8GbType(queryDevice) != 0 || CoreGetISP16GbType(queryDevice) != 0 ||
        CoreGetISP32GbType(queryDevice) != 0 || CoreGetISP64GbType(queryDevice) != 0 || melo)
        PreserveAltWWNNVRAMData(nvram, current);
    if (melo) PreserveMACAddressNVRAMData(nvram, current);
    return 0;
}

int PreserveFirmwareNVRAMData(int iType, std::span<SD_UINT8> newnvramdata, std::span<const SD_UINT8> existingnvramdata) {
    if (!whole_images(newnvramdata, existingnvramdata, NVRAM_IMAGE_SIZE)) return -1;
    copy_range(newnvramdata, existingnvramdata, 0x80, 0xFF);
    copy_range(newnvramdata, existingnvramdata, 0x1E8, 0x1F6);
    if (iType == 2) copy_range(newnvramdata, existingnvramdata, 0xDC, 0xDF);
    return 0;
}

int PreserveAltWWNNVRAMData(std::span<SD_UINT8> newnvramdata, std::span<const SD_UINT8> existingnvramdata) {
    if (!whole_images(newnvramdata, existingnvramdata, NVRAM_IMAGE_SIZE)) return -1;
    copy_range(newnvramdata, existingnvramdata, 0x180, 0x18F);
    newnvramdata[0x101] = static_cast<SD_UINT8>((newnvramdata[0x101] & 0x1F) | (existingnvramdata[0x101] & 0xE0));
    newnvramdata[0x103] = static_cast<SD_UINT8>((newnvramdata[0x103] & 0xFC) | (existingnvramdata[0x103] & 0x02));
    return 0;
}

int PreserveMACAddressNVRAMData(std::span<SD_UINT8> newnvramdata, std::span<const SD_UINT8> existingnvramdata) {
    if (!whole_images(newnvramdata, existingnvramdata, NVRAM_IMAGE_SIZE)) return -1;
    copy_range(newnvramdata, existingnvramdata, 0x40, 0x45);
    copy_range(newnvramdata, existingnvramdata, 0x160, 0x165);
    return 0;
}

int PreserveOptionROMUnusedData(std::span<SD_UINT8> newoptdata, std::span<const SD_UINT8> existingoptdata) {
    if (!whole_images(newoptdata, existingoptdata, OPTION_ROM_IMAGE_SIZE)) return -1;
    copy_range(newoptdata, existingoptdata, 0x40000, 0x7FFFF);
    copy_range(newoptdata, existingoptdata, 0xC0000, 0xFFFFF);
    return 0;
}
