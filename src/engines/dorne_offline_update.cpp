// Off-line flash update of Dorne adapters.
#include "engines/dorne_offline_update.h"

#include <array>
#include <cstring>

#include "core/active_regions.h"
#include "core/oss_services.h"
#include "engines/dorne_engine_support.h"
#include "engines/dorne_image_file.h"
#include "engines/dorne_image_sets.h"
#include "engines/dorne_region_writes.h"
#include "engines/dorne_validation.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/output.h"
#include "image/fc_vpd_update.h"
#include "image/flash_memo_block.h"
#include "image/option_rom_request.h"
#include "image/region_sequences.h"
#include "image/vpd_version_keywords.h"

namespace {

constexpr unsigned kPauseAfterLoop = 10;
constexpr unsigned kPauseAfterVpd = 5;

// Checks each FC VPD region of the layout and updates those that are valid.
// The VPD status: 0x27 when no region was handled, 0 when every region handled
// went through (a blank one counts as done), else the last failure.
SD_INT32 UpdateVpdRegions(SDMDevice* pDevice, const SDMOptRomLayoutCopy& layout, const MultibootVersions& versions,
                          SD_UINT16 DisableReset, SD_UINT16 chipRev) {
    std::array<SD_UINT32, REGION_SEQ_VPD_SIZE> vpd{};
    InitDorneVpdUpdateSequence(vpd, chipRev, REGION_SET_PRIMARY);
    SD_INT32 vpdStatus = FC_VPD_UPDATE_FAILED;
    SD_INT32 failure = 0;
    bool handled = false;
    for (std::size_t i = 0; i < vpd.size(); ++i) {
        const SD_UINT32 size = DorneRegionSize(layout, vpd[i]);
        if (vpd[i] == 0 || !DorneHasRegion(layout, vpd[i])) continue;
        handled = true;
        SD_INT32 result = CheckForValidVpdRegion(pDevice, vpd[i], size);
        if (result == VPD_UPDATE_SUCCESS) {
            scfxDiagnosticsPrint("Updating Adapter FC VPD %zu... ", i);
            if (UpdateAndRestoreTorviFcVPD(pDevice, &versions, size, vpd[i], DisableReset) == VPD_UPDATE_SUCCESS) {
                scfxPrint("Success");
            } else {
                scfxPrint("Unsuccessful");
                result = FC_VPD_UPDATE_FAILED;
                VORNLogMessage(VORN_MSG_DEBUG, "Unable to update versions in VPD of HBA instance %d - %s!",
                               static_cast<int>(pDevice->DeviceNumber), DorneModel(pDevice).text);
            }
            OSSSleep(kPauseAfterVpd);
        } else if (result == VPD_UPDATE_BLANK) {
            result = VPD_UPDATE_SUCCESS;
        }
        // A later success does not hide an earlier failure.
        if (result != VPD_UPDATE_SUCCESS) failure = result;
        vpdStatus = failure;
    }
    return handled ? vpdStatus : FC_VPD_UPDATE_FAILED;
}

// What the engine has read and checked once it is ready to write.
struct OfflineReady {
    sHbaIdentifiers ids{};
    SD_UINT16 ssdid = 0;
    SD_UINT16 ssvid = 0;
    std::vector<SD_UINT8> image;
    SD_UINT16 chipRev = 0;
    SDMOptRomLayoutCopy layout;
    FlashReadBuffer bootBackup;
    DorneImageSets sets;
    DorneRecordPlan records;
    bool writeRecords = false;
    DorneValidated valid;
};

// Every step before the first write: the refusals with their lines, the
// image read and validated for the adapter. True when the engine may write;
// else *status is what it returns.
bool PrepareOffline(SDMDevice* pDevice, const char* file, DorneMessage& msg, OfflineReady& r, SD_INT32* status) {
    const DorneModel model(pDevice);
    *status = DORNE_SUCCESS;
    if (DorneRefuseVirtualPort(pDevice, msg)) {
        *status = DORNE_VIRTUAL_PORT;
        return false;
    }

    // The image must start with its layout table: no package header is taken off.
    if (const SD_INT32 st = DorneReadImageFile(file, false, &r.image, msg); st != DORNE_SUCCESS) {
        msg.Print();
        *status = st;
        return false;
    }
    r.ssdid = DorneNvramVariable(pDevice, DORNE_NVRAM_SSDID);
    r.ssvid = DorneNvramVariable(pDevice, DORNE_NVRAM_SSVID);

    if (const SD_INT32 st = DorneFetchLayout(pDevice, &r.layout, msg); st != DORNE_SUCCESS) {
        msg.Print();
        *status = st;
        return false;
    }
    if (const SD_INT32 st = DorneReadBootCodeBackup(pDevice, r.layout, DORNE_REGION_BOOT_CODE, &r.bootBackup, msg);
        st != DORNE_SUCCESS) {
        msg.Print();
        *status = st;
        return false;
    }

    r.chipRev = static_cast<SD_UINT16>(GetAdapterChipRevision(pDevice));
    r.ids.vendorId = r.ssvid;
    r.ids.deviceId = r.ssdid;
    r.ids.deviceNumber = pDevice->DeviceNumber;
    r.ids.region = g_ptrOptionROMRequest != nullptr ? g_ptrOptionROMRequest->Region : 0;
    r.ids.deviceISP = pDevice->DeviceChipProperty.DeviceID;
    r.ids.chipRev = r.chipRev;
    std::memcpy(r.ids.acHBAModel, model.text, std::strlen(model.text));

    // With neither record readable the plan leaves both alone: the primary
    // set, which the adapter then starts from, is written.
    DorneReadImageSets(pDevice, r.layout, &r.sets);
    r.writeRecords = DornePlanOfflineRecords(r.sets, &r.records);
    if (r.writeRecords && (r.sets.primary.regionSize < IMAGE_STATUS_RECORD_SIZE ||
                           r.sets.secondary.regionSize < IMAGE_STATUS_RECORD_SIZE)) {
        msg.Say("Memory allocation error!");
        *status = DORNE_NO_MEMORY;
        return false;
    }

    DorneValidationInput vin;
    vin.device = pDevice;
    vin.image = r.image;
    vin.fileName = file;
    vin.ssdid = r.ssdid;
    vin.ssvid = r.ssvid;
    vin.ids = &r.ids;
    vin.layout = &r.layout;
    vin.imageSet = REGION_SET_PRIMARY;
    vin.allRegions = g_ptrOptionROMRequest != nullptr && g_ptrOptionROMRequest->Region == OPTROM_REGION_ALL;
    // Only where the primary boots already is the set written in place; where
    // the records switch to it, it must be complete.
    vin.inPlace = DornePrimaryBootsByMask(r.sets);
    const EngineValidationResult checked = DorneValidateImage(vin, &r.valid, msg);
    *status = checked.status;
    // Not ready, or nothing to write.
    return checked.ready && checked.status == ENGINE_VALIDATION_SUCCESS;
}

}  // namespace

SD_INT32 DorneOfflineCheckImage(SDMDevice* pDevice, const char* pFlashImageFile) {
    if (pDevice == nullptr) return DORNE_SUCCESS;
    DorneMessage msg;
    OfflineReady ready;
    SD_INT32 status = DORNE_SUCCESS;
    return PrepareOffline(pDevice, pFlashImageFile != nullptr ? pFlashImageFile : "", msg, ready, &status)
               ? DORNE_SUCCESS
               : status;
}

SD_INT32 DorneFlashUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset) {
    if (pDevice == nullptr) return DORNE_SUCCESS;

    DorneMessage msg;
    const DorneModel model(pDevice);
    const int instance = static_cast<int>(pDevice->DeviceNumber);
    const char* file = pFlashImageFile != nullptr ? pFlashImageFile : "";
    VORNLogMessage(VORN_MSG_DEBUG, "DorneFlashUpdate: HBA %d (%s) file %s", instance, model.text, file);

    OfflineReady ready;
    if (SD_INT32 st = DORNE_SUCCESS; !PrepareOffline(pDevice, file, msg, ready, &st)) return st;
    const SD_UINT16 ssdid = ready.ssdid;
    const SD_UINT16 ssvid = ready.ssvid;
    const SD_UINT16 chipRev = ready.chipRev;
    const SDMOptRomLayoutCopy& layout = ready.layout;
    const DorneImageSets& sets = ready.sets;
    DorneRecordPlan& records = ready.records;
    bool writeRecords = ready.writeRecords;
    DorneValidated& valid = ready.valid;
    const std::span<const SD_UINT8> bootBackup = ready.bootBackup.Bytes();
    ready.image.clear();
    ready.image.shrink_to_fit();

    if (GetNumberOfPortsOnThisHBA(pDevice) < 2) {
        msg.Say("Updating Flash on HBA instance %d - %8s. Please wait...", instance, model.text);
    } else {
        msg.Say("Updating Flash on HBA port(s) - %8s. Please wait...", model.text);
    }

    SD_UINT16 forceDisableReset = DisableReset;
    DorneRegionWriter writer;
    writer.device = pDevice;
    writer.combined = valid.combined;
    writer.kept = valid.kept;
    writer.bootBackup = bootBackup;
    writer.regionDisableReset = &DisableReset;
    writer.forceDisableReset = &forceDisableReset;
    writer.online = false;
    writer.message = &msg;

    // ---- The memo block names no version before the first write ---------------------------
    // A cut anywhere in this run may leave the records starting a set that
    // does not hold the version the block names (the running set after the
    // hold below, a primary torn in place): until this run's own memo write
    // the rerun must find no version to call up to date.
    std::vector<SD_UINT8> memoFound;
    SD_INT32 status = DorneClearMemoBlockVersion(writer, &memoFound);

    // ---- The records held on the set that runs -------------------------------------------
    // Until the reboot the adapter runs the set it started with; an earlier
    // run may have marked the primary to start from next. A cut in its
    // rewrite would then boot a torn set: the records name the running set
    // again first (its record first, each read back), and the final switch
    // is the one planned from the records as found.
    // A hold that fails ends the run before any region is written.
    if (SD_ACTIVE_REGIONS running{};
        status == DORNE_SUCCESS && DorneBootSet(sets) == 1 && CoreGetActiveRegions(pDevice, &running) == 0) {
        if (DorneRecordPlan hold; DornePlanHold(sets, running.ActiveGlobalRegions, &hold)) {
            const std::array<SD_UINT32, 2> order = {IMAGE_STATUS_REGION_SECONDARY, IMAGE_STATUS_REGION_PRIMARY};
            status = DorneWriteImageStatusRecords(writer, sets, hold, order, false, true, true);
            if (status == DORNE_SUCCESS) writeRecords = DornePlanRecordsAfterHold(sets, writeRecords, &records);
        }
    }

    // ---- The primary set's regions, each read back ----------------------------------------
    std::size_t written = 0;
    for (const DorneRegionWrite& e : valid.plan.entries) {
        if (status != DORNE_SUCCESS) break;
        if (!e.write) continue;
        status = DorneWriteRegion(writer, e);
        if (status == DORNE_SUCCESS) ++written;
    }
    if (status == DORNE_SUCCESS && (written == 0 || written != valid.plan.toWrite)) {
        msg.Set("Incorrect flash image for HBA instance %lu (%s)(ssdid=0x%x ssvid=0x%x)!",
                static_cast<unsigned long>(instance), model.text, ssdid, ssvid);
        status = DORNE_NOTHING_WRITTEN;
    }

    // ---- Then the records that make the primary set the one the adapter starts from ------
    if (status == DORNE_SUCCESS && writeRecords) {
        const std::array<SD_UINT32, 2> order = {IMAGE_STATUS_REGION_PRIMARY, IMAGE_STATUS_REGION_SECONDARY};
        status = DorneWriteImageStatusRecords(writer, sets, records,
                                              std::span(order).subspan(records.writePrimary ? 0 : 1), false, true,
                                              true);
    }

    // The memo block goes last: the next run compares its version with the
    // image's, so a cut anywhere before it makes that run redo the whole
    // update instead of calling stale records or VPD keywords up to date.
    SD_INT32 vpdStatus = FC_VPD_UPDATE_FAILED;
    if (status == DORNE_SUCCESS) {
        OSSSleep(kPauseAfterLoop);
        vpdStatus = UpdateVpdRegions(pDevice, layout, valid.versions, DisableReset, chipRev);
        UpdateVpdRetCode(vpdStatus);
        UpdateFlashMemoBlockRegionFrom(pDevice, memoFound, &valid.versions);
    }

    if (status != DORNE_SUCCESS) {
        msg.Print();
    } else if (vpdStatus != 0) {
        msg.Say("Flash update complete on this HBA with errors in version updates in VPD.");
    } else if (forceDisableReset != 0) {
        msg.Say("Flash update complete. Changes have been saved to all ports of this HBA.\nYou must reboot in order "
                "for the changes to become effective.");
    } else {
        msg.Say("Option ROM update complete. Changes have been saved to both ports of this HBA.\nYou must reboot in "
                "order for changes to take effect.");
    }
    return status;
}
