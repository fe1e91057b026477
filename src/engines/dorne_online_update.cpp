// On-line flash update of Dorne adapters.
#include "engines/dorne_online_update.h"

#include <array>
#include <cstring>

#include "core/oss_services.h"
#include "engines/dorne_engine_support.h"
#include "engines/dorne_image_file.h"
#include "engines/dorne_image_sets.h"
#include "engines/dorne_region_writes.h"
#include "engines/dorne_validation.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/output.h"
#include "frontend/progress_bar.h"
#include "image/fc_vpd_update.h"
#include "image/flash_update_queries.h"
#include "image/option_rom_request.h"
#include "image/region_sequences.h"
#include "image/vpd_version_keywords.h"
#include "mgmt/sdapi.h"

namespace {

constexpr unsigned kPauseAfterLoop = 5;
constexpr unsigned kPauseBeforeVersions = 2;

const char* const kRebootText =
    "Flash update complete. Changes have been saved to all ports of this HBA.\nYou must reboot in order for the "
    "changes to become effective.";
const char* const kActivatedText =
    "Option ROM update complete. Changes have been saved to both ports of this HBA.\nYou must reboot in order for "
    "changes to take effect.";
const char* const kVpdErrorsText = "Flash update complete on this HBA with errors in version updates in VPD.";

bool AllRegionsRequested() {
    return g_ptrOptionROMRequest != nullptr && g_ptrOptionROMRequest->Region == OPTROM_REGION_ALL;
}

}  // namespace

SD_INT32 DorneOnlineFlashUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset) {
    ProgressBar* bar = GetCurrentProgressBar();
    ProgressBarIncrement(bar);
    if (pDevice == nullptr) return DORNE_SUCCESS;

    DorneMessage msg;
    const DorneModel model(pDevice);
    const int instance = static_cast<int>(pDevice->DeviceNumber);
    const char* file = pFlashImageFile != nullptr ? pFlashImageFile : "";
    VORNLogMessage(VORN_MSG_DEBUG, "DorneOnlineFlashUpdate: HBA %d (%s) file %s", instance, model.text, file);

    if (DorneRefuseVirtualPort(pDevice, msg)) return DORNE_VIRTUAL_PORT;

    // The image is made for the ids the adapter shows on the bus; its NVRAM must agree.
    const SD_UINT16 pciSsvid = pDevice->DeviceChipProperty.SubVendorID;
    const SD_UINT16 pciSsdid = pDevice->DeviceChipProperty.SubSystemID;
    const SD_UINT16 nvSsvid = DorneNvramVariable(pDevice, DORNE_NVRAM_SSVID);
    const SD_UINT16 nvSsdid = DorneNvramVariable(pDevice, DORNE_NVRAM_SSDID);
    if (pciSsvid != nvSsvid) {
        msg.Say("Adapter subsystem vendor Id mismatched (pci ssvid=0x%x nvram ssvid=0x%x", pciSsvid, nvSsvid);
        return DORNE_SSID_MISMATCH;
    }
    if (pciSsdid != nvSsdid) {
        msg.Say("Adapter subsystem device Id mismatched (pci ssdid=0x%x nvram ssdid=0x%x", pciSsdid, nvSsdid);
        return DORNE_SSID_MISMATCH;
    }
    sHbaIdentifiers ids{};
    ids.vendorId = pciSsvid;
    ids.deviceId = pciSsdid;
    ids.deviceNumber = pDevice->DeviceNumber;
    ids.region = g_ptrOptionROMRequest != nullptr ? g_ptrOptionROMRequest->Region : 0;
    ids.deviceISP = pDevice->DeviceChipProperty.DeviceID;
    std::memcpy(ids.acHBAModel, model.text, std::strlen(model.text));

    SD_UINT64 capabilities = 0;
    if (const SD_UINT32 st = SDGetFlashUpdateCapabilities(pDevice->DeviceHandle, 0, &capabilities); st != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "DorneOnlineFlashUpdate: capability query answered 0x%x", st);
        msg.Say("Option is unsupported with this HBA (instance %lu - %s)!", static_cast<unsigned long>(instance),
                model.text);
        return DORNE_UNSUPPORTED;
    }

    std::vector<SD_UINT8> image;
    if (const SD_INT32 st = DorneReadImageFile(file, true, &image, msg); st != DORNE_SUCCESS) {
        msg.Print();
        return st;
    }

    const SD_UINT16 chipRev = static_cast<SD_UINT16>(GetAdapterChipRevision(pDevice));
    ids.chipRev = chipRev;
    SDMOptRomLayoutCopy layout;
    if (const SD_INT32 st = DorneFetchLayout(pDevice, &layout, msg); st != DORNE_SUCCESS) {
        msg.Print();
        return st;
    }
    DorneImageSets sets;
    DorneReadImageSets(pDevice, layout, &sets);
    if (!sets.primary.readable && !sets.secondary.readable) {
        // Without either record the set the adapter runs is unknown: writing
        // could hit it while it runs. (The off-line engine writes the primary
        // set whatever runs, and goes on.)
        msg.Say("Unable to read the image status regions of HBA instance %d - %s!", instance, model.text);
        return DORNE_REGION_UNREADABLE;
    }
    const SD_UINT32 runningSet = DorneBootSet(sets);
    std::vector<SD_UINT8> bootBackup;
    if (const SD_INT32 st = DorneReadBootCodeBackup(
            pDevice, layout, runningSet == 1 ? DORNE_REGION_BOOT_CODE : DORNE_REGION_BOOT_CODE_2, &bootBackup, msg);
        st != DORNE_SUCCESS) {
        msg.Print();
        return st;
    }

    const DorneRecordPlan records = DornePlanOnlineRecords(sets);
    if (sets.primary.regionSize < IMAGE_STATUS_RECORD_SIZE || sets.secondary.regionSize < IMAGE_STATUS_RECORD_SIZE) {
        msg.Say("Memory allocation error!");
        return DORNE_NO_MEMORY;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "DorneOnlineFlashUpdate: running set %u, writing set %u", runningSet,
                   records.activeSet);
    // For the debug log only: the secured on-line order of the set written
    // (the fill logs it) and the version of the adapter's flash layout table.
    std::array<SD_UINT32, REGION_SEQ_DORNE_SIZE> securedOrder{};
    InitDorneSecuredOnlineFlashUpdateSequence(securedOrder, chipRev, records.activeSet);
    VORNLogMessage(VORN_MSG_DEBUG, "DorneOnlineFlashUpdate: flash layout version %u",
                   GetAdapterFlashLayoutVersion(pDevice));

    DorneValidationInput vin;
    vin.device = pDevice;
    vin.image = image;
    vin.fileName = file;
    vin.ssdid = pciSsdid;
    vin.ssvid = pciSsvid;
    vin.ids = &ids;
    vin.layout = &layout;
    vin.imageSet = records.activeSet;
    vin.allRegions = AllRegionsRequested();
    DorneValidated valid;
    const EngineValidationResult checked = DorneValidateImage(vin, &valid, msg);
    if (!checked.ready) return checked.status;
    if (checked.status != ENGINE_VALIDATION_SUCCESS) return checked.status;   // nothing to write

    // ---- Session -------------------------------------------------------------------------
    VORNLogMessage(VORN_MSG_DEBUG, "DorneOnlineFlashUpdate: DisableReset=%u", DisableReset);
    SD_UINT16 regionDisableReset = DisableReset != 0 ? DisableReset : 1;
    SD_UINT16 forceDisableReset = DisableReset;
    if (GetNumberOfPortsOnThisHBA(pDevice) < 2) {
        msg.Set("Updating Flash on HBA instance %d - %8s. Please wait...", instance, model.text);
    } else {
        msg.Set("Updating Flash on HBA port(s) - %8s. Please wait...", model.text);
    }
    image.clear();
    image.shrink_to_fit();
    msg.Print();
    SD_INT32 token = 0;
    const SD_UINT32 started = SDStartFlashUpdate(pDevice->DeviceHandle, 0, &token);
    if (started == DORNE_SD_SESSION_OPEN) {
        msg.Say("Flash update session in progress, please wait %d minutes and try again.", DORNE_SESSION_WAIT_MINUTES);
        return DORNE_SESSION_IN_PROGRESS;
    }
    if (started != 0)
        VORNLogMessage(VORN_MSG_DEBUG, "DorneOnlineFlashUpdate: SDStartFlashUpdate answered 0x%x (%s)", started,
                       SDGetErrorString(started));
    UpdateFlashAccessAdapterEntry(pDevice, static_cast<SD_UINT32>(token));

    // ---- Regions of the set the adapter does not run -------------------------------------
    DorneRegionWriter writer;
    writer.device = pDevice;
    writer.combined = valid.combined;
    writer.bootBackup = bootBackup;
    writer.regionDisableReset = &regionDisableReset;
    writer.forceDisableReset = &forceDisableReset;
    writer.online = true;
    writer.message = &msg;
    SD_INT32 status = DORNE_SUCCESS;
    std::size_t written = 0;
    for (const DorneRegionWrite& e : valid.plan.entries) {
        if (status != DORNE_SUCCESS) break;
        ProgressBarIncrement(bar);
        if (!e.write) continue;
        status = DorneWriteRegion(writer, e);
        if (status == DORNE_SUCCESS) ++written;
    }
    OSSSleep(kPauseAfterLoop);
    VORNLogMessage(VORN_MSG_DEBUG, "DorneOnlineFlashUpdate: %zu of %zu regions written, status 0x%x", written,
                   valid.plan.toWrite, status);
    if (status == DORNE_SUCCESS && (written == 0 || written != valid.plan.toWrite)) {
        msg.Set("Incorrect flash image for HBA instance %lu (%s)(ssdid=0x%x ssvid=0x%x)!",
                static_cast<unsigned long>(instance), model.text, pciSsdid, pciSsvid);
        status = DORNE_NOTHING_WRITTEN;
    }

    // ---- Image-status records: only over a complete, verified set ---------------------------
    bool recordsWritten = false;
    if (status == DORNE_SUCCESS) {
        std::array<SD_UINT32, REGION_SEQ_IMAGE_STATUS_SIZE> order{};
        InitImageStatusFlashUpdateSequence(order, chipRev, records.activeSet);
        status = DorneWriteImageStatusRecords(writer, sets, records, order, true, false, false);
        recordsWritten = status == DORNE_SUCCESS;
    }
    OSSSleep(kPauseBeforeVersions);

    // ---- FC VPD version keywords, then the memo block -------------------------------------------
    // The memo block goes last: the next run compares its version with the
    // image's, so a cut anywhere before it (among the records or the VPD
    // keywords) makes that run redo the whole update instead of calling the
    // stale keywords up to date.
    SD_INT32 vpdStatus = -1;
    if (recordsWritten) {
        std::array<SD_UINT32, REGION_SEQ_VPD_SIZE> vpd{};
        InitDorneVpdUpdateSequence(vpd, chipRev, records.activeSet);
        const std::vector<FcVpdRegion> passed = CheckFcVpdRegions(pDevice, layout, vpd, &vpdStatus);
        vpdStatus = UpdateFcVpdRegions(pDevice, &valid.versions, passed, regionDisableReset, vpdStatus);
        UpdateVpdRetCode(vpdStatus);
        UpdateFlashMemoBlockRegion(pDevice, &valid.versions);
    }

    // ---- End of the session, activation ------------------------------------------------------
    const SD_UINT32 closed = SDEndFlashUpdate(pDevice->DeviceHandle, 0, token);
    if (status != DORNE_SUCCESS) {
        msg.Print();
        return status;
    }
    if (closed != 0) {
        // The new set and its records are in flash: it runs after a reboot.
        VORNLogMessage(VORN_MSG_DEBUG, "DorneOnlineFlashUpdate: SDEndFlashUpdate answered 0x%x (%s)", closed,
                       SDGetErrorString(closed));
        status = DORNE_SUCCESS_REBOOT;
    } else {
        UpdateFlashAccessAdapterEntry(pDevice, 0);
        if (forceDisableReset == 0) {
            const SD_UINT32 activated = AppActivateOnlineFlashUpdate(pDevice);
            VORNLogMessage(VORN_MSG_DEBUG, "DorneOnlineFlashUpdate: activation answered 0x%x", activated);
            if (activated == DORNE_SD_NOT_ACTIVATED) {
                status = DORNE_SUCCESS_REBOOT;
            } else if (activated == DORNE_SD_ACTIVATION_REJECTED) {
                status = DORNE_ACTIVATION_REJECTED;
            } else if (activated != 0) {
                msg.Say("Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!", instance, activated,
                        SDGetErrorString(activated));
                return DORNE_ACTIVATION_FAILED;
            }
        } else {
            status = DORNE_SUCCESS_REBOOT;
        }
    }
    if (vpdStatus != 0) {
        msg.Say("%s", kVpdErrorsText);
    } else {
        msg.Say("%s", status == DORNE_SUCCESS ? kActivatedText : kRebootText);
    }
    return status;
}
