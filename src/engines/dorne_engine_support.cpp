// Shared pieces of the Dorne engines.
#include "engines/dorne_engine_support.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "frontend/adapter_entry_list.h"
#include "frontend/output.h"
#include "mgmt/sdapi.h"

void DorneMessage::Set(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text.data(), text.size(), format, ap);
    va_end(ap);
}

void DorneMessage::Print() const {
    if (!Empty()) scfxPrint("%s", text.data());
}

void DorneMessage::Say(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text.data(), text.size(), format, ap);
    va_end(ap);
    Print();
}

DorneModel::DorneModel(const SDMDevice* port) {
    if (port == nullptr) return;
    const auto& model = port->DeviceNodeProperty.Model;
    std::memcpy(text, model, strnlen(model, sizeof model));
}

SD_UINT32 DorneRegionSize(const SDMOptRomLayoutCopy& layout, SD_UINT32 code) {
    for (const SDM_OPT_ROM_REGION& r : layout.Regions) {
        if (r.Region == code) return r.Size;
    }
    return 0;
}

bool DorneHasRegion(const SDMOptRomLayoutCopy& layout, SD_UINT32 code) {
    for (const SDM_OPT_ROM_REGION& r : layout.Regions) {
        if (r.Region == code) return true;
    }
    return false;
}

SD_UINT16 DorneNvramVariable(const SDMDevice* port, SD_UINT32 variable) {
    if (port == nullptr) return 0;
    return static_cast<SD_UINT16>(
        SDGetVariableValue(port->DeviceHandle, std::span<const SD_UINT8>(port->DeviceCurrentNVRAM), variable) &
        0xFFFF);
}

SD_INT32 DorneFetchLayout(SDMDevice* pDevice, SDMOptRomLayoutCopy* layout, DorneMessage& message) {
    SD_UINT32 size = 0;
    SD_UINT32 st = GetOptionRomRegionLayout(pDevice, layout, DORNE_ALL_REGIONS, &size);
    if (st == 0 && layout->Regions.empty()) st = REGIO_READ_FAILED;
    if (st == 0) return DORNE_SUCCESS;
    const DorneModel model(pDevice);
    message.Set("Unable to validate flash layout tables of HBA instance %d - %s!", static_cast<int>(pDevice->DeviceNumber),
                model.text);
    return st == REGIO_BUFFER_FAILED ? DORNE_NO_MEMORY : DORNE_REGION_UNREADABLE;
}

SD_INT32 DorneReadBootCodeBackup(SDMDevice* pDevice, const SDMOptRomLayoutCopy& layout, SD_UINT32 code,
                                 FlashReadBuffer* backup, DorneMessage& message) {
    const SD_UINT32 size = DorneRegionSize(layout, code);
    if (!backup->Allocate(size)) {
        message.Set("Memory allocation error!");
        return DORNE_NO_MEMORY;
    }
    // A region the library holds smaller than the layout said leaves bytes
    // that were never read: none of them may pass for the adapter's defaults.
    const SD_UINT32 st = size == 0 ? REGIO_READ_FAILED : FlashReadWhole(pDevice->DeviceHandle, code, *backup);
    if (st != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "DorneReadBootCodeBackup: region 0x%x (size 0x%x) unreadable: 0x%x", code,
                       size, st);
        const DorneModel model(pDevice);
        message.Set("Unable to read FC boot code region of adapter %d (%s)!", static_cast<int>(pDevice->DeviceNumber),
                    model.text);
        return DORNE_REGION_UNREADABLE;
    }
    return DORNE_SUCCESS;
}

bool DorneRefuseVirtualPort(SDMDevice* pDevice, DorneMessage& message) {
    if (isVirtualPortHBA(pDevice) == 0) return false;
    const SD_UINT8* w = pDevice->DevicePortProperty.WWN;
    message.Say("Option is not available with virtual port HBA (%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X)!", w[0], w[1],
                w[2], w[3], w[4], w[5], w[6], w[7]);
    return true;
}
