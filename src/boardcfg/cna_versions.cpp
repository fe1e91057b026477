// Existing multiboot and firmware versions of an adapter, by chip type.
#include "boardcfg/cna_versions.h"

#include <array>
#include <cstring>
#include <vector>

#include "boardcfg/table_region_io.h"
#include "core/chip_types.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/output.h"
#include "frontend/vpd.h"

namespace {

constexpr SD_UINT32 kFirmwareRegion = 0x01;
constexpr char kFirmwareMbSignature[4] = {'Z', 'M', 'B', 'V'};

// Up to three decimal parts separated by anything but digits ("01.02.03");
// six bare digits read as three two-digit parts ("010203"). False when none.
bool ParseVersionText(const char* text, std::array<SD_UINT8, 3>* out) {
    std::array<unsigned, 3> parts{};
    std::size_t n = 0, digits = 0, total = 0;
    bool inNumber = false;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p >= '0' && *p <= '9') {
            if (!inNumber) {
                if (n == 3) return false;
                inNumber = true;
                digits = 0;
                ++n;
            }
            if (++digits > 3) return false;
            parts[n - 1] = parts[n - 1] * 10 + static_cast<unsigned>(*p - '0');
            ++total;
        } else {
            inNumber = false;
        }
    }
    if (n == 0) return false;
    if (n == 1 && total == 6) {
        const unsigned v = parts[0];
        parts = {v / 10000, v / 100 % 100, v % 100};
    }
    for (std::size_t i = 0; i < 3; ++i) {
        if (parts[i] > 255) return false;
        (*out)[i] = static_cast<SD_UINT8>(parts[i]);
    }
    return true;
}

int FromMemoBlock(SDMDevice* device, MultibootVersions* v) {
    SFlashMemoBlock block{};
    const int st = GetAdapterFlashMemoBlock(device, &block);
    if (st != 0) return st;
    v->ExistingMultibootVersionMajor = block.mbi_ver.major;
    v->ExistingMultibootVersionMinor = block.mbi_ver.minor;
    v->ExistingMultibootVersionSubMinor = block.mbi_ver.sub;
    return 0;
}

int FromVpdAndProperties(SDMDevice* device, MultibootVersions* v) {
    std::array<SD_UINT8, 3> fw{};
    if (ParseVersionText(device->DeviceNodeProperty.FirmwareVersion, &fw)) {
        v->ExistingRiscFwVersionMajor = fw[0];
        v->ExistingRiscFwVersionMinor = fw[1];
        v->ExistingRiscFwVersionSubMinor = fw[2];
    }
    for (const char* keyword : {"RM", "VV", "V9"}) {
        char text[64] = {};
        std::array<SD_UINT8, 3> mb{};
        if (retrieveSpecificVpdField(device, keyword, text) == 0 && ParseVersionText(text, &mb)) {
            v->ExistingMultibootVersionMajor = mb[0];
            v->ExistingMultibootVersionMinor = mb[1];
            v->ExistingMultibootVersionSubMinor = mb[2];
            return 0;
        }
    }
    return CNAVER_READ_FAILED;
}

}  // namespace

int getMBImageVersionInFirmwareFromAdapter(SDMDevice* pDevice, MultibootVersions* pVersions) {
    if (pDevice == nullptr || pVersions == nullptr) return CNAVER_NO_DEVICE;
    if (isVirtualPortHBA(pDevice) != 0) return CNAVER_VIRTUAL_PORT;
    const int chip = CoreGetISPType(pDevice);
    if (chip < 10 || chip > 12) return 0;
    std::vector<SD_UINT8> region;
    if (ReadConfigTableRegion(pDevice, kFirmwareRegion, &region) != 0) return CNAVER_READ_FAILED;
    const bool present = region.size() >= 7 && std::memcmp(region.data(), kFirmwareMbSignature, 4) == 0;
    pVersions->ExistingMultibootVersionMajor = present ? region[4] : 0;
    pVersions->ExistingMultibootVersionMinor = present ? region[5] : 0;
    pVersions->ExistingMultibootVersionSubMinor = present ? region[6] : 0;
    VORNLogMessage(VORN_MSG_DEBUG, "getMBImageVersionInFirmware: pImageVer = %d.%02d.%02d",
                   pVersions->ExistingMultibootVersionMajor, pVersions->ExistingMultibootVersionMinor,
                   pVersions->ExistingMultibootVersionSubMinor);
    return 0;
}

int GetExistingCNAFlashImageVersions(SDMDevice* pDevice, MultibootVersions* pVersions) {
    if (pDevice == nullptr || pVersions == nullptr) return CNAVER_NO_DEVICE;
    const int chip = CoreGetISPType(pDevice);
    if (chip > 24) return FromMemoBlock(pDevice, pVersions);
    if (chip >= 10 && chip <= 12) return getMBImageVersionInFirmwareFromAdapter(pDevice, pVersions);
    if (chip >= 13) return FromVpdAndProperties(pDevice, pVersions);
    return 0;
}

int ReadAdapterMultibootVersion(SDMDevice* pDevice, SD_UINT8 version[3]) {
    if (version == nullptr) return CNAVER_NO_DEVICE;
    MultibootVersions v{};
    const int st = GetExistingCNAFlashImageVersions(pDevice, &v);
    if (st != 0) return st;
    version[0] = v.ExistingMultibootVersionMajor;
    version[1] = v.ExistingMultibootVersionMinor;
    version[2] = v.ExistingMultibootVersionSubMinor;
    return 0;
}
