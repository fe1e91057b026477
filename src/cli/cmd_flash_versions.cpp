// "-i": the flash image and component versions of one adapter or of every adapter.
#include <cstdio>
#include <cstring>
#include <string>

#include "boardcfg/adapter_versions.h"
#include "boardcfg/cna_versions.h"
#include "cli/adapter_displays.h"
#include "cli/commands.h"
#include "core/chip_types.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/hba_device_list.h"
#include "frontend/output.h"
#include "image/flash_memo_block.h"

namespace {

// "%d.%02d.%02d", or "N/A" when the version is all zero.
std::string VersionText(int major, int minor, int sub) {
    if (major == 0 && minor == 0 && sub == 0) return "N/A";
    char text[32];
    std::snprintf(text, sizeof text, "%d.%02d.%02d", major, minor, sub);
    return text;
}

void Component(const char* label, int major, int minor, int sub) {
    PrintDisplayLine(label, "%s", VersionText(major, minor, sub).c_str());
}

void PrintFlashImageLines(SDMDevice* port, int chip) {
    if (chip > 12) {
        SFlashMemoBlock memo{};
        if (GetAdapterFlashMemoBlock(port, &memo) != 0) return;
        PrintDisplayLine("Flash Image Version", "%s",
                         VersionText(memo.mbi_ver.major, memo.mbi_ver.minor, memo.mbi_ver.sub).c_str());
        PrintDisplayLine("Family Firmware Version", "%s",
                         VersionText(memo.ffv_ver.major, memo.ffv_ver.minor, memo.ffv_ver.sub).c_str());
        return;
    }
    MultibootVersions mbi{};
    if (getMBImageVersionInFirmwareFromAdapter(port, &mbi) != 0) return;
    PrintDisplayLine("Flash Image Version", "%s",
                     VersionText(mbi.ExistingMultibootVersionMajor, mbi.ExistingMultibootVersionMinor,
                                 mbi.ExistingMultibootVersionSubMinor)
                         .c_str());
}

}  // namespace

int PrintAdapterFlashComponentsVersion(SDMDevice* pDevice, const FlashComponentVersion* pVersions) {
    if (pDevice == nullptr || pVersions == nullptr) return 8;
    const FlashComponentVersion& v = *pVersions;
    const int chip = CoreGetISPType(pDevice);
    Component("FC Bios Version", v.BiosMajorVersion, v.BiosMinorVersion, v.BiosSubminorVersion);
    Component("FC FCode Version", v.FCodeMajorVersion, v.FCodeMinorVersion, v.FCodeSubminorVersion);
    Component("FC EFI Version", v.EFIMajorVersion, v.EFIMinorVersion, v.EFISubminorVersion);
    Component("FC Firmware Version", v.FCFwMajorVersion, v.FCFwMinorVersion, v.FCFwSubminorVersion);
    if (chip > 23) Component("MPI Firmware Version", v.MPIFwMajorVersion, v.MPIFwMinorVersion, v.MPIFwSubminorVersion);
    if (chip > 26)
        Component("MPI SoftROM Version", v.MPISoftROMMajorVersion, v.MPISoftROMMinorVersion,
                  v.MPISoftROMSubminorVersion);
    if (chip > 24) Component("PEP Firmware Version", v.PEPFwMajorVersion, v.PEPFwMinorVersion, v.PEPFwSubminorVersion);
    if (chip > 26)
        Component("PEP SoftROM Version", v.PEPSoftROMMajorVersion, v.PEPSoftROMMinorVersion,
                  v.PEPSoftROMSubminorVersion);
    if (chip > 24)
        Component("PEP Brd Cfg Version", v.PEPBoardCfgMajorVersion, v.PEPBoardCfgMinorVersion,
                  v.PEPBoardCfgSubminorVersion);
    if (chip == 12 || chip == 21 || chip >= 24)
        Component("Preload Fw Area Version", v.FwAreaMajorVersion, v.FwAreaMinorVersion, v.FwAreaSubminorVersion);
    if (chip == 21 || chip >= 24)
        Component("FC Brd Cfg Version", v.FCBoardCfgMajorVersion, v.FCBoardCfgMinorVersion,
                  v.FCBoardCfgSubminorVersion);
    if (chip == 21) {
        Component("Crb Init Version", v.CrbinitMajorVersion, v.CrbinitMinorVersion, v.CrbinitSubMinorVersion);
        Component("Pegtune Version", v.PegtuneMajorVersion, v.PegtuneMinorVersion, v.PegtuneSubMinorVersion);
    }
    if (chip >= 27)
        Component("PCIe Serdes Version", v.PCIeSerdesMajorVersion, v.PCIeSerdesMinorVersion,
                  v.PCIeSerdesSubminorVersion);
    return 0;
}

int DisplayAdapterFlashComponentsVersion(SDMDevice* port, int a, int b) {
    if (port == nullptr) return 8;
    if (const int status = DisplayAdapterPCIVendorInfo(port, a, b); status != 0) return status;
    PrintFlashImageLines(port, CoreGetISPType(port));
    FlashComponentVersion versions{};
    const int read = GetAdapterFlashComponentsVersion(port, &versions);
    VORNLogMessage(VORN_MSG_DEBUG, "DisplayAdapterFlashComponentsVersion: component read status %d", read);
    return PrintAdapterFlashComponentsVersion(port, &versions);
}

int DisplayAllAdaptersFlashComponentsVersion() {
    int status = 8;
    bool shown = false;
    char previous[VORN_SERIAL_SIZE] = {};
    for (SDMDevice* port = GetMyDeviceList()->firstDevice; port != nullptr; port = port->next) {
        if (isVirtualPortHBA(port) != 0) continue;
        char key[VORN_SERIAL_SIZE] = {};
        GetAdapterKey(port, key, sizeof key);
        if (shown && std::strcmp(key, previous) == 0) continue;
        std::memcpy(previous, key, sizeof previous);
        shown = true;
        const std::string rule(56, '-');
        PrintOutPut("%s", rule.c_str());
        PrintAdapterIdentity(port);
        PrintOutPut("%s", rule.c_str());
        status = DisplayAdapterFlashComponentsVersion(port, 0, 0);
        VORNLogMessage(VORN_MSG_DEBUG, "GetAdapterFlashComponentsVersion: Return %d", status);
    }
    return status;
}
