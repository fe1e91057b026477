// Multiboot version display.
#include "cli/mbi_version_display.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "cli/flash_cfg.h"
#include "core/core_log.h"
#include "frontend/hba_device_list.h"
#include "frontend/output.h"

int DisplayHBAMBIVersion(SDMDevice* pDevice) {
    if (pDevice == nullptr) return 9;
    auto* record = static_cast<FlashCtrVersion*>(CoreZMalloc(sizeof(FlashCtrVersion)));
    if (record == nullptr) {
        scfxPrint("Memory allocation error!");
        return 11;
    }
    BuildFlashCtrListFromHBA(pDevice, record);
    const FlashCtrVersion& r = *record;
    VORNLogMessage(VORN_MSG_DEBUG,
                   "HBA DisplayHBAMBIVersion: HBA %u (%s) ssdid=%s ssvid=%s %d.%02d %d.%02d %d.%02d %d.%02d.%02d %s "
                   "%02d.%02d.%02d",
                   pDevice->DeviceNumber, r.Model, r.SubSysDeviceID, r.SubSysVendorID, r.BIOS[0], r.BIOS[1], r.EFI[0],
                   r.EFI[1], r.FCode[0], r.FCode[1], r.Risc[0], r.Risc[1], r.Risc[2], r.FileName, r.Multiboot[0],
                   r.Multiboot[1], r.Multiboot[2]);
    char version[16];
    std::snprintf(version, sizeof version, "%02d.%02d.%02d", r.Multiboot[0], r.Multiboot[1], r.Multiboot[2]);
    const std::string model(pDevice->DeviceNodeProperty.Model, strnlen(pDevice->DeviceNodeProperty.Model, 32));
    VORNLogMessage(VORN_MSG_DEBUG, "DisplayHBAMBIVersion: HBA %u - %s MBI version=%s", pDevice->DeviceNumber,
                   model.c_str(), version);
    const SD_UINT8* w = pDevice->DevicePortProperty.WWN;
    scfxPrint("%s", std::string(70, '-').c_str());
    scfxPrint("HBA Instance                   : %u", pDevice->DeviceNumber);
    scfxPrint("HBA Model                      : %s", model.c_str());
    scfxPrint("Port Name                      : %02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X", w[0], w[1], w[2], w[3], w[4],
              w[5], w[6], w[7]);
    scfxPrint("Flash Image (MBI) Version      : %s", std::string(version) == "00.00.00" ? "N/A" : version);
    CoreFree(record);
    return 0;
}

int DisplayAllHBAsMBIVersion() {
    if (GetMyDeviceList()->firstDevice == nullptr) {
        VORNLogMessage(VORN_MSG_INFO, "Korvex HBA not found!");
        return 9;
    }
    int result = 0;
    for (SDMDevice* d = GetMyDeviceList()->firstDevice; d != nullptr; d = d->next) result = DisplayHBAMBIVersion(d);
    return result;
}
