// Off-line flash update of Dorne adapters.
#include "engines/dorne_offline_update.h"

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
#include "image/fc_vpd_update.h"
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

}  // namespace

SD_INT32 DorneFlashUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset) {
    if (pDevice == nullptr) return DORNE_SUCCESS;

    DorneMessage msg;
    const DorneModel model(pDevice);
    const int instance = static_cast<int>(pDevice->DeviceNumber);
    const char* file = pFlashImageFile != nullptr ? pFlashImageFile : "";
    VORNLogMessage(VORN_MSG_DEBUG, "DorneFlashUpdate: HBA %d (%s) file %s", instance, model.text, file);

    if (DorneRefuseVirtualPort(pDevice, msg)) return DORNE_VIRTUAL_PORT;

    // The image must start with its layout table: no package header is taken off.
    std::vector<SD_UINT8> image;
    if (const SD_INT32 st = DorneReadImageFile(file, false, &image, msg); st != DORNE_SUCCESS) {
        msg.Print();
        return st;
    }
    const SD_UINT16 ssdid = DorneNvramVariable(pDevice, DORNE_NVRAM_SSDID);
    const SD_UINT16 ssvid = DorneNvramVariable(pDevice, DORNE_NVRAM_SSVID);

    SDMOptRomLayoutCopy layout;
    if (const SD_INT32 st = DorneFetchLayout(pDevice, &layout, msg); st != DORNE_SUCCESS) {
        msg.Print();
        return st;
    }
    std::vector<SD_UINT8> bootBackup;
    if (const SD_INT32 st = DorneReadBootCodeBackup(pDevice, layout, DORNE_REGION_BOOT_CODE, &bootBackup, msg);
        st != DORNE_SUCCESS) {
        msg.Print();
        return st;
    }

    const SD_UINT16 chipRev = static_cast<SD_UINT16>(GetAdapterChipRevision(pDevice));
    sHbaIdentifiers ids{};
    ids.vendorId = ssvid;
    ids.deviceId = ssdid;
    ids.deviceNumber = pDevice->DeviceNumber;
    ids.region = g_ptrOptionROMRequest != nullptr ? g_ptrOptionROMRequest->Region : 0;
    ids.deviceISP = pDevice->DeviceChipProperty.DeviceID;
    ids.chipRev = chipRev;
    std::memcpy(ids.acHBAModel, model.text, std::strlen(model.text));

    // With neither record readable the plan leaves both alone: the primary
    // set, which the adapter then starts from, is written.
    DorneImageSets sets;
    DorneReadImageSets(pDevice, layout, &sets);
    DorneRecordPlan records;
    const bool writeRecords = DornePlanOfflineRecords(sets, &records);
    if (writeRecords &&
        (sets.primary.regionSize < IMAGE_STATUS_RECORD_SIZE || sets.secondary.regionSize < IMAGE_STATUS_RECORD_SIZE)) {
        msg.Say("Memory allocation error!");
        return DORNE_NO_MEMORY;
    }

    DorneValidationInput vin;
    vin.device = pDevice;
    vin.image = image;
    vin.fileName = file;
    vin.ssdid = ssdid;
    vin.ssvid = ssvid;
    vin.ids = &ids;
    vin.layout = &layout;
    vin.imageSet = REGION_SET_PRIMARY;
    vin.allRegions = g_ptrOptionROMRequest != nullptr && g_ptrOptionROMRequest->Region == OPTROM_REGION_ALL;
    DorneValidated valid;
    const EngineValidationResult checked = DorneValidateImage(vin, &valid, msg);
    if (!checked.ready) return checked.status;
    if (checked.status != ENGINE_VALIDATION_SUCCESS) return checked.status;
    image.clear();
    image.shrink_to_fit();

    if (GetNumberOfPortsOnThisHBA(pDevice) < 2) {
        msg.Say("Updating Flash on HBA instance %d - %8s. Please wait...", instance, model.text);
    } else {
        msg.Say("Updating Flash on HBA port(s) - %8s. Please wait...", model.text);
    }

    // ---- The primary set's regions, each read back ----------------------------------------
    SD_UINT16 forceDisableReset = DisableReset;
    DorneRegionWriter writer;
    writer.device = pDevice;
    writer.combined = valid.combined;
    writer.bootBackup = bootBackup;
    writer.regionDisableReset = &DisableReset;
    writer.forceDisableReset = &forceDisableReset;
    writer.online = false;
    writer.message = &msg;
    SD_INT32 status = DORNE_SUCCESS;
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
        status = DorneWriteImageStatusRecords(writer, sets, records, order, false, true, true);
    }

    // The memo block goes last: the next run compares its version with the
    // image's, so a cut anywhere before it makes that run redo the whole
    // update instead of calling stale records or VPD keywords up to date.
    SD_INT32 vpdStatus = FC_VPD_UPDATE_FAILED;
    if (status == DORNE_SUCCESS) {
        OSSSleep(kPauseAfterLoop);
        vpdStatus = UpdateVpdRegions(pDevice, layout, valid.versions, DisableReset, chipRev);
        UpdateVpdRetCode(vpdStatus);
        UpdateFlashMemoBlockRegion(pDevice, &valid.versions);
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
