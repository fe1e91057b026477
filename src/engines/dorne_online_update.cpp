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
#include "image/flash_memo_block.h"
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

// What the engine has read and checked once it is ready to write.
struct OnlineReady {
    sHbaIdentifiers ids{};
    SD_UINT16 pciSsvid = 0;
    SD_UINT16 pciSsdid = 0;
    std::vector<SD_UINT8> image;
    SD_UINT16 chipRev = 0;
    SDMOptRomLayoutCopy layout;
    DorneImageSets sets;
    FlashReadBuffer bootBackup;
    DorneRecordPlan records;
    DorneValidated valid;
};

// Every step before the first write: the refusals with their lines, the
// image read and validated for the adapter. True when the engine may write;
// else *status is what it returns.
bool PrepareOnline(SDMDevice* pDevice, const char* file, DorneMessage& msg, OnlineReady& r, SD_INT32* status) {
    const DorneModel model(pDevice);
    const int instance = static_cast<int>(pDevice->DeviceNumber);
    *status = DORNE_SUCCESS;
    if (DorneRefuseVirtualPort(pDevice, msg)) {
        *status = DORNE_VIRTUAL_PORT;
        return false;
    }

    // The image is made for the ids the adapter shows on the bus; its NVRAM must agree.
    r.pciSsvid = pDevice->DeviceChipProperty.SubVendorID;
    r.pciSsdid = pDevice->DeviceChipProperty.SubSystemID;
    const SD_UINT16 nvSsvid = DorneNvramVariable(pDevice, DORNE_NVRAM_SSVID);
    const SD_UINT16 nvSsdid = DorneNvramVariable(pDevice, DORNE_NVRAM_SSDID);
    if (r.pciSsvid != nvSsvid) {
        msg.Say("Adapter subsystem vendor Id mismatched (pci ssvid=0x%x nvram ssvid=0x%x", r.pciSsvid, nvSsvid);
        *status = DORNE_SSID_MISMATCH;
        return false;
    }
    if (r.pciSsdid != nvSsdid) {
        msg.Say("Adapter subsystem device Id mismatched (pci ssdid=0x%x nvram ssdid=0x%x", r.pciSsdid, nvSsdid);
        *status = DORNE_SSID_MISMATCH;
        return false;
    }
    r.ids.vendorId = r.pciSsvid;
    r.ids.deviceId = r.pciSsdid;
    r.ids.deviceNumber = pDevice->DeviceNumber;
    r.ids.region = g_ptrOptionROMRequest != nullptr ? g_ptrOptionROMRequest->Region : 0;
    r.ids.deviceISP = pDevice->DeviceChipProperty.DeviceID;
    std::memcpy(r.ids.acHBAModel, model.text, std::strlen(model.text));

    SD_UINT64 capabilities = 0;
    if (const SD_UINT32 st = SDGetFlashUpdateCapabilities(pDevice->DeviceHandle, 0, &capabilities); st != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "DorneOnlineFlashUpdate: capability query answered 0x%x", st);
        msg.Say("Option is unsupported with this HBA (instance %lu - %s)!", static_cast<unsigned long>(instance),
                model.text);
        *status = DORNE_UNSUPPORTED;
        return false;
    }

    if (const SD_INT32 st = DorneReadImageFile(file, true, &r.image, msg); st != DORNE_SUCCESS) {
        msg.Print();
        *status = st;
        return false;
    }

    r.chipRev = static_cast<SD_UINT16>(GetAdapterChipRevision(pDevice));
    r.ids.chipRev = r.chipRev;
    if (const SD_INT32 st = DorneFetchLayout(pDevice, &r.layout, msg); st != DORNE_SUCCESS) {
        msg.Print();
        *status = st;
        return false;
    }
    DorneReadImageSets(pDevice, r.layout, &r.sets);
    if (!r.sets.primary.readable && !r.sets.secondary.readable) {
        // Without either record the set the adapter runs is unknown: writing
        // could hit it while it runs. (The off-line engine writes the primary
        // set whatever runs, and goes on.)
        msg.Say("Unable to read the image status regions of HBA instance %d - %s!", instance, model.text);
        *status = DORNE_REGION_UNREADABLE;
        return false;
    }
    const SD_UINT32 runningSet = DorneBootSet(r.sets);
    if (const SD_INT32 st = DorneReadBootCodeBackup(pDevice, r.layout,
                                                    runningSet == 1 ? DORNE_REGION_BOOT_CODE : DORNE_REGION_BOOT_CODE_2,
                                                    &r.bootBackup, msg);
        st != DORNE_SUCCESS) {
        msg.Print();
        *status = st;
        return false;
    }

    r.records = DornePlanOnlineRecords(r.sets);
    if (r.sets.primary.regionSize < IMAGE_STATUS_RECORD_SIZE ||
        r.sets.secondary.regionSize < IMAGE_STATUS_RECORD_SIZE) {
        msg.Say("Memory allocation error!");
        *status = DORNE_NO_MEMORY;
        return false;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "DorneOnlineFlashUpdate: running set %u, writing set %u", runningSet,
                   r.records.activeSet);
    // For the debug log only: the secured on-line order of the set written
    // (the fill logs it) and the version of the adapter's flash layout table.
    std::array<SD_UINT32, REGION_SEQ_DORNE_SIZE> securedOrder{};
    InitDorneSecuredOnlineFlashUpdateSequence(securedOrder, r.chipRev, r.records.activeSet);
    VORNLogMessage(VORN_MSG_DEBUG, "DorneOnlineFlashUpdate: flash layout version %u",
                   GetAdapterFlashLayoutVersion(pDevice));

    DorneValidationInput vin;
    vin.device = pDevice;
    vin.image = r.image;
    vin.fileName = file;
    vin.ssdid = r.pciSsdid;
    vin.ssvid = r.pciSsvid;
    vin.ids = &r.ids;
    vin.layout = &r.layout;
    vin.imageSet = r.records.activeSet;
    vin.allRegions = AllRegionsRequested();
    const EngineValidationResult checked = DorneValidateImage(vin, &r.valid, msg);
    *status = checked.status;
    // Not ready, or nothing to write.
    return checked.ready && checked.status == ENGINE_VALIDATION_SUCCESS;
}

// The line the engine says as it opens its session.
void SetUpdatingLine(const SDMDevice* pDevice, DorneMessage& msg) {
    const DorneModel model(pDevice);
    if (GetNumberOfPortsOnThisHBA(pDevice) < 2) {
        msg.Set("Updating Flash on HBA instance %d - %8s. Please wait...", static_cast<int>(pDevice->DeviceNumber),
                model.text);
    } else {
        msg.Set("Updating Flash on HBA port(s) - %8s. Please wait...", model.text);
    }
}

SD_INT32 RefuseHeldSession() {
    DorneMessage msg;
    msg.Say("Flash update session in progress, please wait %d minutes and try again.", DORNE_SESSION_WAIT_MINUTES);
    return DORNE_SESSION_IN_PROGRESS;
}

}  // namespace

SD_INT32 DorneOnlineRefuseHeldSession(SDMDevice* pDevice) {
    if (pDevice != nullptr) {
        DorneMessage msg;
        SetUpdatingLine(pDevice, msg);
        msg.Print();
    }
    return RefuseHeldSession();
}

SD_INT32 DorneOnlineCheckImage(SDMDevice* pDevice, const char* pFlashImageFile) {
    if (pDevice == nullptr) return DORNE_SUCCESS;
    DorneMessage msg;
    OnlineReady ready;
    SD_INT32 status = DORNE_SUCCESS;
    return PrepareOnline(pDevice, pFlashImageFile != nullptr ? pFlashImageFile : "", msg, ready, &status)
               ? DORNE_SUCCESS
               : status;
}

SD_INT32 DorneOnlineFlashUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset) {
    ProgressBar* bar = GetCurrentProgressBar();
    ProgressBarIncrement(bar);
    if (pDevice == nullptr) return DORNE_SUCCESS;

    DorneMessage msg;
    const DorneModel model(pDevice);
    const int instance = static_cast<int>(pDevice->DeviceNumber);
    const char* file = pFlashImageFile != nullptr ? pFlashImageFile : "";
    VORNLogMessage(VORN_MSG_DEBUG, "DorneOnlineFlashUpdate: HBA %d (%s) file %s", instance, model.text, file);

    OnlineReady ready;
    if (SD_INT32 st = DORNE_SUCCESS; !PrepareOnline(pDevice, file, msg, ready, &st)) return st;
    std::vector<SD_UINT8>& image = ready.image;
    const SD_UINT16 pciSsvid = ready.pciSsvid;
    const SD_UINT16 pciSsdid = ready.pciSsdid;
    const SD_UINT16 chipRev = ready.chipRev;
    const SDMOptRomLayoutCopy& layout = ready.layout;
    const DorneImageSets& sets = ready.sets;
    const DorneRecordPlan& records = ready.records;
    DorneValidated& valid = ready.valid;
    const std::span<const SD_UINT8> bootBackup = ready.bootBackup.Bytes();

    // ---- Session -------------------------------------------------------------------------
    VORNLogMessage(VORN_MSG_DEBUG, "DorneOnlineFlashUpdate: DisableReset=%u", DisableReset);
    SD_UINT16 regionDisableReset = DisableReset != 0 ? DisableReset : 1;
    SD_UINT16 forceDisableReset = DisableReset;
    SetUpdatingLine(pDevice, msg);
    image.clear();
    image.shrink_to_fit();
    msg.Print();
    SD_INT32 token = 0;
    const SD_UINT32 started = SDStartFlashUpdate(pDevice->DeviceHandle, 0, &token);
    if (started == DORNE_SD_SESSION_OPEN) return RefuseHeldSession();
    if (started != 0)
        VORNLogMessage(VORN_MSG_DEBUG, "DorneOnlineFlashUpdate: SDStartFlashUpdate answered 0x%x (%s)", started,
                       SDGetErrorString(started));
    UpdateFlashAccessAdapterEntry(pDevice, static_cast<SD_UINT32>(token));

    DorneRegionWriter writer;
    writer.device = pDevice;
    writer.combined = valid.combined;
    writer.kept = valid.kept;
    writer.bootBackup = bootBackup;
    writer.regionDisableReset = &regionDisableReset;
    writer.forceDisableReset = &forceDisableReset;
    writer.online = true;
    writer.message = &msg;

    // ---- The memo block names no version before the first write ---------------------------
    // The block may name a version an earlier run left. A cut in this run's
    // writes of the firmware both sets share (MPI, PEP) leaves the set the
    // records start torn, and from the record switch on the records start
    // the set just written: until this run's own memo write, the rerun must
    // find no version to call up to date.
    std::vector<SD_UINT8> memoFound;
    SD_INT32 status = DorneClearMemoBlockVersion(writer, &memoFound);

    // ---- Regions of the set the adapter does not run -------------------------------------
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
        UpdateFlashMemoBlockRegionFrom(pDevice, memoFound, &valid.versions);
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
