// "-b": writes a given image file to one adapter or to every adapter through
// the update dispatch, after the family filter of the command line.
#include <cstring>
#include <set>
#include <string>

#include "boardcfg/table_update_check.h"
#include "cli/adapter_prechecks.h"
#include "cli/commands.h"
#include "cli/flash_cfg.h"
#include "cli/startup.h"
#include "cli/update_lock.h"
#include "core/chip_types.h"
#include "dispatch/update_dispatch.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/cli_settings.h"
#include "frontend/file_util.h"
#include "frontend/hba_device_list.h"
#include "frontend/output.h"
#include "image/vpd_version_keywords.h"

namespace {

constexpr int kSkipped = 19;
constexpr int kAllFailed = 34;
// Another run holds the host's update lock, or it cannot be used.
constexpr int kLockRefused = 3;

// Whether the family filter takes the chip type. The family options select
// the adapters an image is for; without one (the default code 10), as with 6
// and codes above 9, no adapter matches.
bool FamilyMatches(uint32_t family, int chip) {
    switch (family) {
        case 0: return true;
        case 1: return chip == 15;
        case 2: return chip == 17;
        case 3: return chip == 21 || chip == 24;
        case 4: return chip == 11;
        case 5: return chip == 12;
        case 7:
        case 8: return chip == 25;
        case 9: return chip == 27;
        default: return false;
    }
}

std::string ModelOf(const SDMDevice* port) {
    const char* m = port->DeviceNodeProperty.Model;
    return std::string(m, strnlen(m, sizeof port->DeviceNodeProperty.Model));
}

// Before the first write to the adapter: a table copy that a cut write left
// on the host (chip type 25) written back as the MCTP update writes it back,
// its FC VPDs judged, the image checked as the update would and (chip type
// 25) its engine's session sought while another process holds one
// (adapter_prechecks.h), then an FC VPD that a cut write left damaged rebuilt
// from its intact other copy, with the multiboot version the adapter
// carries. 0 when the update may go on; else the adapter's status, its lines
// said.
int PrepareAdapter(SDMDevice* port, const char* file, uint8_t portOption, SD_UINT16 disableReset) {
    // What the update refuses on its own (lockdown, driver, support) it
    // refuses before it writes anything; no VPD is rebuilt on such an adapter.
    if (CheckUpdateRefusal(port, portOption, false) != UPD_SUCCESS) return UPD_SUCCESS;
    // A table copy still kept means its write may not have finished: it goes
    // back before anything else is written to the adapter. One that cannot be
    // used fails the adapter with nothing written (350 or 360, its lines said).
    if (const int st = RollBackTableCopiesBeforeUpdate(port); st != 0) return st;
    AdapterPrecheckRequest request;
    request.imageFile = file;
    request.allPorts = portOption;
    AdapterPrecheck precheck;
    bool ready = PrecheckAdapter(port, request, &precheck);
    if (!ready && precheck.damagedVpd == 0) return precheck.UpdateStatus();
    if (ready && !precheck.vpdRepair.rebuilds.empty()) {
        FlashCtrVersion carried{};
        BuildFlashCtrListFromHBA(port, &carried);
        ready = RepairAdapterFcVpds(port, precheck, carried.Multiboot, disableReset);
    }
    if (ready) return UPD_SUCCESS;
    scfxPrint("HBA %s (instance %d): MBI update skipped after a failed step; the adapter was not updated.",
              ModelOf(port).c_str(), static_cast<int>(port->DeviceNumber));
    return VPD_UPDATE_CORRUPTED;
}

bool Succeeded(int status) { return status == UPD_SUCCESS || status == UPD_SUCCESS_REBOOT; }

std::string AdapterKeyOf(const SDMDevice* port) {
    char key[VORN_SERIAL_SIZE] = {};
    GetAdapterKey(port, key, sizeof key);
    return key;
}

}  // namespace

int DoFlashUpdateAdapterPortFromFile(SDMDevice* port, const char* file, int mode, uint8_t family, uint8_t portOption,
                                     int /*a*/, int /*b*/) {
    if (port == nullptr) {
        scfxPrint("Unable to find the selected HBA!");
        return kSkipped;
    }
    if (isVirtualPortHBA(port) != 0) return kSkipped;
    if (!FamilyMatches(family, CoreGetISPType(port))) {
        scfxPrint("Skipping flash update on HBA %lu - %s. MBI file does not match with hardware type!",
                  static_cast<unsigned long>(port->DeviceNumber), ModelOf(port).c_str());
        return kSkipped;
    }
    // Every command that writes flash holds the host's update lock.
    if (!TakeUpdateLockOrSay("")) return kLockRefused;
    int status = PrepareAdapter(port, file, portOption, static_cast<SD_UINT16>(mode));
    if (status == UPD_SUCCESS) {
        SD_UINT16 count = 0;
        status = updateOptionROMSingleHBA(port, file, &count, portOption, static_cast<SD_UINT16>(mode));
    }
    // An interrupt during the adapter's turn ends the run here, said as such
    // (every flash operation since failed at once as busy).
    VORNEndInterruptedUpdate();
    return status;
}

int DoFlashUpdateAllAdaptersFromFile(const char* file, int mode, uint8_t family, uint8_t portOption) {
    if (GetMyDeviceList()->firstDevice == nullptr) {
        scfxPrint("No compatible HBA(s) found in current system !");
        return 8;
    }
    uint32_t size = 0;
    if (const int st = getFileSize(file, &size); st != 0) {
        if (st == 1) {
            scfxPrint("Failed to open file %s for reading!", file != nullptr ? file : "");
            return 1;
        }
        scfxPrint("File %s appears to be corrupted!", file != nullptr ? file : "");
        return 13;
    }
    if (!TakeUpdateLockOrSay("")) return kLockRefused;
    // The ports of one adapter share its flash: once one of them has written
    // it, the others leave it alone rather than write it a second time.
    std::set<std::string> written;
    bool anySuccess = false;
    for (SDMDevice* port = GetMyDeviceList()->firstDevice; port != nullptr; port = port->next) {
        // No adapter is started once an interrupt is recorded.
        VORNEndInterruptedUpdate();
        const std::string key = AdapterKeyOf(port);
        if (written.count(key) != 0) {
            VORNLogMessage(VORN_MSG_DEBUG, "DoFlashUpdateAllAdaptersFromFile: HBA %u shares the flash just written",
                           port->DeviceNumber);
            continue;
        }
        const int status = DoFlashUpdateAdapterPortFromFile(port, file, mode, family, portOption, 0, 0);
        VORNLogMessage(VORN_MSG_DEBUG, "DoFlashUpdateAllAdaptersFromFile: HBA %u returns %d", port->DeviceNumber,
                       status);
        if (Succeeded(status)) {
            written.insert(key);
            anySuccess = true;
        }
    }
    return anySuccess ? UPD_SUCCESS : kAllFailed;
}
