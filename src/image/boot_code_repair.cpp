// Boot-code identity repair: the adapter's active boot code read, every PCI
// image's ids patched, the adapter's BIOS defaults carried over, written back.
#include "image/boot_code_repair.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "core/chip_types.h"
#include "core/image_status.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/hba_device_list.h"
#include "frontend/model_predicates.h"
#include "frontend/output.h"
#include "frontend/str_util.h"
#include "image/boot_code_chain.h"
#include "image/card_types.h"
#include "image/region_io.h"
#include "image/region_sequences.h"
#include "mgmt/sdapi.h"

namespace {

constexpr SD_UINT32 kBootRegion = 0x07;
constexpr SD_UINT32 kBootRegionSet2 = 0x09;
constexpr SD_UINT32 kBootRegionChip21 = 0xA2;

std::string Model(const SDMDevice* d) {
    const char* m = d->DeviceNodeProperty.Model;
    return std::string(m, std::find(m, m + sizeof d->DeviceNodeProperty.Model, '\0'));
}

// Whether the primary image-status record says the primary set is not the
// one running; false whenever that cannot be told.
enum class PrimaryState { Inactive, Other, NoMemory };

PrimaryState ReadPrimaryState(SDMDevice* pDevice) {
    SD_UINT32 size = 0;
    if (GetOptionROMRegionSize(pDevice, IMAGE_STATUS_REGION_PRIMARY, &size) != 0 || size == 0) {
        return PrimaryState::Other;
    }
    std::vector<SD_UINT8> record;
    try {
        record.assign(size, 0);
    } catch (const std::bad_alloc&) {
        return PrimaryState::NoMemory;
    }
    SD_UINT32 got = 0;
    if (GetOptionROMRegionData(pDevice, record, IMAGE_STATUS_REGION_PRIMARY, &got) != 0) return PrimaryState::Other;
    // Each chip keeps its own signature: a chip-type-27 record never carries
    // the chip-type-25 one, so checking that would always read "active".
    const SD_UINT32 signature = CoreImageStatusSignatureForChip(CoreGetISPType(pDevice));
    if (signature == 0 || !CoreIsImageStatusRegionValid(record, signature)) return PrimaryState::Other;
    return (CoreGetImageStatusMask(record) & 0x01) == 0 ? PrimaryState::Inactive : PrimaryState::Other;
}

}  // namespace

bool GetActiveBootCodeRegion(SDMDevice* pDevice, SD_UINT32* pRegion, SD_INT32* pSet) {
    const int chip = CoreGetISPType(pDevice);
    *pRegion = chip == 21 ? kBootRegionChip21 : kBootRegion;
    *pSet = 1;
    if (chip > 24) {
        const PrimaryState state = ReadPrimaryState(pDevice);
        if (state == PrimaryState::NoMemory) return false;
        if (state == PrimaryState::Inactive) {
            *pRegion = kBootRegionSet2;
            *pSet = 2;
        }
    }
    return true;
}

SD_INT32 FixAdapterOptionRomBootCode(SDMDevice* pDevice) {
    if (pDevice == nullptr) return -1;
    if (isVirtualPortHBA(pDevice) != 0) {
        const SD_UINT8* w = pDevice->DevicePortProperty.WWN;
        scfxPrint("Option is not available with virtual port HBA (%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X)!", w[0],
                  w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
        return BOOT_REPAIR_VIRTUAL_PORT;
    }
    const std::string model = Model(pDevice);
    sHbaIdentifiers ids{};
    ids.vendorId = GetNvramSubVendorID(pDevice);
    ids.deviceId = GetNvramSubSystemID(pDevice);
    ids.deviceNumber = pDevice->DeviceNumber;
    ids.deviceISP = pDevice->DeviceChipProperty.DeviceID;
    ids.chipRev = static_cast<SD_UINT16>(GetAdapterChipRevision(pDevice));
    std::snprintf(ids.acHBAModel, sizeof ids.acHBAModel, "%s", model.c_str());

    SD_UINT32 region = 0;
    SD_INT32 set = 1;
    if (!GetActiveBootCodeRegion(pDevice, &region, &set)) {
        scfxPrint("Memory allocation error!");
        return BOOT_REPAIR_NO_MEMORY;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "FixAdapterOptionRomBootCode: HBA %d boot code region 0x%x (set %d)",
                   pDevice->DeviceNumber, region, set);

    SD_UINT32 size = 0;
    const SD_UINT32 sizeStatus = GetOptionROMRegionSize(pDevice, region, &size);
    if (sizeStatus != 0) return static_cast<SD_INT32>(sizeStatus);
    if (size == 0) return static_cast<SD_INT32>(REGIO_REGION_FAILED);
    ids.region = region;
    ids.bufSize = size;
    std::vector<SD_UINT8> original, patched;
    try {
        original.assign(size, 0);
        patched.reserve(size);
    } catch (const std::bad_alloc&) {
        scfxPrint("Memory allocation error!");
        return BOOT_REPAIR_NO_MEMORY;
    }
    SD_UINT32 got = 0;
    const SD_UINT32 readStatus = GetOptionROMRegionData(pDevice, original, region, &got);
    if (readStatus != 0) return static_cast<SD_INT32>(readStatus);
    if (got != size) return static_cast<SD_INT32>(REGIO_READ_FAILED);

    // The adapter's defaults are carried over before the ids are patched:
    // carrying them last would put the old subsystem vendor id of the BIOS
    // images back and undo the repair.
    patched.assign(original.begin(), original.end());
    const SD_UINT32 writeRegion = GetActualRegionToUpdate(region, nullptr, set);
    if (CorePreserveISPDefaults(pDevice, original, patched) != 0) {
        scfxPrint("Failed");
        scfxPrint("Unable to preserve BIOS default area of HBA (Instance %d)!", pDevice->DeviceNumber);
        return BOOT_REPAIR_FAILED;
    }
    const int patchStatus = UpdateAllPciHeaders(patched, static_cast<SD_UINT16>(ids.vendorId),
                                                static_cast<SD_UINT16>(ids.deviceId), ids.deviceISP, ids.acHBAModel);
    if (patchStatus != 0) {
        VORNLogMessage(VORN_MSG_ERROR, "FixAdapterOptionRomBootCode: Patching the boot code of HBA %d failed (%d)",
                       pDevice->DeviceNumber, patchStatus);
        return patchStatus;
    }

    scfxDiagnosticsPrint("Updating Adapter FC Boot Code... ");
    SD_UINT16 disableReset = 0;
    const SD_UINT32 st = AppUpdateOptionRomEx3(pDevice, patched, writeRegion, size, &disableReset);
    if (st == SDERR_SUCCESS || st == SDERR_FLASHED_NOT_ACTIVATED) {
        scfxPrint("Success");
        return 0;
    }
    scfxPrint("Failed");
    if (st == SDERR_LOCKDOWN) {
        scfxPrint("Flash update failed with HBA instance %d (%s). Firmware lockdown mode enabled!",
                  pDevice->DeviceNumber, model.c_str());
    } else {
        scfxPrint("Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!", pDevice->DeviceNumber, st,
                  SDGetErrorString(st));
    }
    return BOOT_REPAIR_FAILED;
}

SD_INT32 FixAllAdaptersOptionRomBootCode() {
    SDMDeviceList* list = GetMyDeviceList();
    if (list->firstDevice == nullptr) {
        scfxPrint("No compatible HBA(s) found in current system !");
        return BOOT_REPAIR_NO_DEVICE;
    }
    SD_INT32 overall = 0;
    char previous[VORN_SERIAL_SIZE] = {};
    for (SDMDevice* port = list->firstDevice; port != nullptr; port = port->next) {
        if (isVirtualPortHBA(port) != 0) continue;
        char key[VORN_SERIAL_SIZE] = {};
        GetAdapterKey(port, key, sizeof key);
        // The list keeps the ports of one adapter together: its first port
        // stands for the adapter.
        if (striscmp(key, previous) != 0) {
            const SD_INT32 st = FixAdapterOptionRomBootCode(port);
            if (st != 0) overall = st;
        }
        std::snprintf(previous, sizeof previous, "%s", key);
    }
    return overall;
}
