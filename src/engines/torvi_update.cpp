// The Torvi flash update engine.
#include "engines/torvi_update.h"

#include <array>

#include "boardcfg/vpd_copies.h"
#include "core/chip_types.h"
#include "core/oss_services.h"
#include "engines/engine_status.h"
#include "engines/k7r_engine_common.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/output.h"
#include "image/card_types.h"
#include "image/flash_memo_block.h"
#include "image/ilt_entry_data.h"
#include "image/image_combination.h"
#include "image/image_layout_table.h"
#include "image/image_validation_converged.h"
#include "image/image_validation_multiboot.h"
#include "image/option_rom_request.h"
#include "image/region_io.h"
#include "image/vpd_version_keywords.h"

namespace {

constexpr unsigned kSecondsAfterLoop = 10;
constexpr unsigned kSecondsBetweenVpds = 5;

const char* progress_text(SD_UINT32 region) {
    switch (region) {
        case CNA_REGION_FC_BOOT: return "Updating Adapter FC Boot Code... ";
        case CNA_REGION_NIC_BOOT: return "Updating Adapter NIC Boot Code... ";
        case CNA_REGION_FCOE_BOOT: return "Updating Adapter FCoE Boot Code... ";
        case CNA_REGION_ISCSI_BOOT: return "Updating Adapter iSCSI Boot Code... ";
        case CNA_REGION_CRBINIT: return "Updating Adapter CRBInit... ";
        case CNA_REGION_BOOTLOADER: return "Updating Adapter BootLoader... ";
        case CNA_REGION_PEGTUNE: return "Updating Adapter PEGTune ... ";
        case CNA_REGION_FCOE_FW: return "Updating Adapter FCoE FW... ";
        case CNA_REGION_FC_FW: return "Updating Adapter FC FW... ";
        case CNA_REGION_CNA_FW: return "Updating Adapter NIC/CNA FW... ";
        case CNA_REGION_NIC_VPD: return "Updating Adapter NIC/CNA VPD... ";
        default: return "Updating Adapter FC VPD... ";
    }
}


bool written(SD_UINT32 st) { return st == 0 || st == CNA_SD_NOT_ACTIVATED; }

SD_INT32 finish(SD_INT32 status, SD_INT32 vpdStatus) {
    VORNLogMessage(VORN_MSG_DEBUG, "CNATorviOptionROMRegionUpdate: exit (FlashUpdStat=%d, VpdUpdStat=%d)", status,
                   vpdStatus);
    return status;
}

SD_INT32 validate(CnaEngineRun& run, std::span<const SD_UINT32> sequence) {
    const IltBytes image(run.image);
    int st = ValidateTorviILTImageRegionsToUpdate(image, sequence, 11, run.chipRev);
    if (st != 0) return st;
    st = ValidateTorviILTImageHeader(run.ssdid, run.ssvid, image, run.chipRev);
    if (st != 0) return st;
    const SD_INT16 cardType = ILT_TorviCardTypeList_GetMyCardTypeFromCardList(image, run.ssdid, run.ssvid);
    if (cardType == CARD_TYPE_NONE) return ENGINE_VALIDATION_CNA_NO_CARD_TYPE;
    run.ids.cardType = static_cast<SD_UINT16>(cardType);
    const SD_INT8 n = HowManyImagesForCardTypeGeneric(image, cardType, run.chipRev);
    const SD_INT8 v =
        ValidateTorviImageComponents(image, static_cast<SD_UINT16>(n), cardType, &run.versions, run.chipRev);
    if (v != n) return ENGINE_VALIDATION_CNA_COMPONENT_COUNT;
    const SD_INT16 c = CombineTorviImageComponentsInBuffer(run.combined, run.image, static_cast<SD_UINT16>(n), cardType,
                                                           run.ids, run.chipRev);
    if (c != v) return ENGINE_VALIDATION_CNA_COMBINE_COUNT;
    return 0;
}

// One FC VPD step: its line ends "Success" (a blank VPD too) or "Unsuccessful".
SD_INT32 update_fc_vpd(CnaEngineRun& run, SD_UINT32 region, SD_UINT16 disableReset) {
    CnaProgress(progress_text(region));
    SD_INT32 st = UpdateVpdVersionsKeepingCopy(run.device, &run.versions, region, CnaLayoutSize(run, region),
                                               disableReset);
    // An FC function without a VPD has nothing to carry the versions.
    if (st == VPD_UPDATE_BLANK) st = VPD_UPDATE_SUCCESS;
    CnaComplete(st == 0 ? "Success" : "Unsuccessful");
    return st;
}

}  // namespace

void InitTorviPFlashUpdateSequence(std::span<unsigned int> sequence, unsigned int arraySize, unsigned int chipRevision) {
    (void)chipRevision;
    const std::size_t slots = std::min<std::size_t>(arraySize, sequence.size());
    std::fill_n(sequence.begin(), slots, 0u);
    const std::array<unsigned int, TORVI_SEQUENCE_SIZE> codes = {
        CNA_REGION_FC_BOOT, CNA_REGION_NIC_BOOT, CNA_REGION_FCOE_BOOT, CNA_REGION_ISCSI_BOOT, CNA_REGION_CRBINIT,
        CNA_REGION_BOOTLOADER, CNA_REGION_PEGTUNE, CNA_REGION_FCOE_FW, CNA_REGION_FC_FW, CNA_REGION_CNA_FW,
        CNA_REGION_NIC_VPD, CNA_REGION_FC_VPD_0, CNA_REGION_FC_VPD_1};
    for (std::size_t i = 0; i < std::min(slots, codes.size()); ++i) sequence[i] = codes[i];
    for (std::size_t i = 0; i < slots; ++i)
        VORNLogMessage(VORN_MSG_DEBUG, "InitTorviPFlashUpdateSequence: %d: 0x%x", static_cast<int>(i), sequence[i]);
}

SD_INT32 FCUpdateTorviOptionRom(SDMDevice* pDevice, std::span<const SD_UINT8> pBuffer, SD_UINT32 Region,
                                SD_UINT32 RegionSize) {
    if (pDevice == nullptr || pBuffer.empty()) return CNA_WRITER_REFUSED;
    const SD_UINT32 st = AppUpdateOptionRomEx2(pDevice, pBuffer, Region, RegionSize, 0);
    return st == CNA_SD_NOT_ACTIVATED ? 0 : static_cast<SD_INT32>(st);
}

SD_INT32 CNATorviOptionROMRegionUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset) {
    if (pDevice == nullptr) {
        CnaStatusLine(CNA_NO_DEVICE, "Unable to find the selected HBA!");
        return finish(CNA_NO_DEVICE, CNA_VPD_FAILED);
    }
    SD_UINT16 forceDisableReset = DisableReset;
    CnaEngineRun run;
    CnaStartRun(run, pDevice, pFlashImageFile);
    std::array<unsigned int, TORVI_SEQUENCE_SIZE> sequence{};
    InitTorviPFlashUpdateSequence(sequence, TORVI_SEQUENCE_SIZE, run.chipRev);
    VORNLogMessage(VORN_MSG_DEBUG, "CNATorviOptionROMRegionUpdate: ForceDisableReset=%d", forceDisableReset);
    if (const SD_INT32 st = CnaRefuseVirtualPort(run); st != 0) return finish(st, CNA_VPD_FAILED);
    if (const SD_INT32 st = CnaReadImageFile(run); st != 0) return finish(st, CNA_VPD_FAILED);
    CnaFillIdentifiers(run);
    if (const SD_INT32 st = CnaReadLayout(run); st != 0) return finish(st, CNA_VPD_FAILED);
    std::vector<SD_UINT8> fcBiosOri, fcoeBiosOri;
    if (const SD_INT32 st = CnaReadCurrentRegion(run, CNA_REGION_FC_BOOT, "FC boot code", fcBiosOri); st != 0)
        return finish(st, CNA_VPD_FAILED);
    if (const SD_INT32 st = CnaReadCurrentRegion(run, CNA_REGION_FCOE_BOOT, "FCoE boot code", fcoeBiosOri); st != 0)
        return finish(st, CNA_VPD_FAILED);

    EngineValidationBegin();
    SD_INT32 status = validate(run, std::span<const SD_UINT32>(sequence.data(), sequence.size()));
    const SD_UINT16 cardType = run.ids.cardType;
    std::vector<CnaPlannedWrite> plan;
    bool tooLarge = false;
    if (status == 0) {
        plan = CnaPlanWrites(run, std::span<const SD_UINT32>(sequence.data(), TORVI_LOOP_REGIONS),
                             [&](SD_UINT32 region, const ILT_Region_t& e) {
                                 if (!CardTypeComapre(e.swapModeCardType, cardType) || !HwRevComapre(run.chipRev, e.chipRev))
                                     return false;
                                 if (region == CNA_REGION_CRBINIT)
                                     return (e.chipRev == 0 || e.chipRev == run.chipRev) &&
                                            ValidateImageChipRevision(&e, run.chipRev) == 0;
                                 if (region == CNA_REGION_FCOE_FW || region == CNA_REGION_FC_FW ||
                                     region == CNA_REGION_CNA_FW)
                                     return ValidateImageChipRevision(&e, run.chipRev) == 0;
                                 return true;
                             });
        tooLarge = CnaCheckPlanFits(run, plan) != 0;
    }
    const CnaValidationEnd checked = CnaEndValidation(run, status, tooLarge);
    if (!checked.ready) return finish(checked.status, CNA_VPD_FAILED);
    status = checked.status;

    // Nothing to write (another request, or nothing for this adapter), or more
    // than the set holds: refused before anything is written.
    if (status != 0 || plan.empty() || plan.size() > TORVI_LOOP_REGIONS) {
        CnaNotAllRegionsMessage(run, 0, TORVI_LOOP_REGIONS);
        return finish(CNA_NOT_ALL_REGIONS, CNA_VPD_FAILED);
    }

    CnaAnnounceUpdate(run);

    SD_INT32 loopStatus = 0;
    const SD_UINT16 count = CnaRunRegionLoop(
        run, plan, progress_text,
        [&](const CnaPlannedWrite& w, std::span<SD_UINT8> buffer) {
            if (w.region == CNA_REGION_FC_BOOT) return CorePreserveISPDefaults(pDevice, fcBiosOri, buffer);
            if (w.region == CNA_REGION_FCOE_BOOT) return CorePreserveISPDefaults(pDevice, fcoeBiosOri, buffer);
            return 0;
        },
        [&](const CnaPlannedWrite& w, std::span<const SD_UINT8> buffer) -> SD_UINT32 {
            const SD_UINT32 st = w.region == CNA_REGION_FCOE_FW
                                     ? AppUpdateOptionRomEx2(pDevice, buffer, w.region, w.layoutSize, DisableReset)
                                     : AppUpdateOptionRomEx3(pDevice, buffer, w.region, w.layoutSize, &DisableReset);
            // Flashed but not activated: the final message asks for a reboot.
            // Only the Ex3 writer also turns the later writes reset-disabled.
            if (st == CNA_SD_NOT_ACTIVATED) forceDisableReset = 1;
            return st;
        },
        written, &loopStatus);
    OSSSleep(kSecondsAfterLoop);
    // Fewer writes than the set holds may be a complete update (an image
    // without some region), so the count is held against the plan: a planned
    // region passed over for want of its buffer is an incomplete update.
    if (loopStatus != 0 || count != plan.size() || count > TORVI_LOOP_REGIONS) {
        CnaNotAllRegionsMessage(run, count, TORVI_LOOP_REGIONS);
        return finish(CNA_NOT_ALL_REGIONS, CNA_VPD_FAILED);
    }

    UpdateFlashMemoBlockRegion(pDevice, &run.versions);
    const SD_UINT32 nicVpdSize = CnaLayoutSize(run, CNA_REGION_NIC_VPD);
    if (CnaRequestRegion() == CNA_ALL_REGIONS && nicVpdSize != 0) {
        CnaProgress(progress_text(CNA_REGION_NIC_VPD));
        const SD_INT32 st =
            UpdateVpdVersionsKeepingCopy(pDevice, &run.versions, CNA_REGION_NIC_VPD, nicVpdSize, DisableReset);
        CnaComplete(st == 0 ? "Success" : st == VPD_UPDATE_BLANK ? "N/A" : "Unsuccessful");
    }
    OSSSleep(kSecondsBetweenVpds);
    update_fc_vpd(run, CNA_REGION_FC_VPD_0, DisableReset);
    OSSSleep(kSecondsBetweenVpds);
    SD_INT32 vpdStatus = CNA_NO_VPD_REGION;
    if (CnaLayoutSize(run, CNA_REGION_FC_VPD_1) != 0)
        vpdStatus = update_fc_vpd(run, CNA_REGION_FC_VPD_1, DisableReset) == 0 ? 0 : CNA_VPD_FAILED;
    UpdateVpdRetCode(vpdStatus);
    CnaFinalMessage(run, vpdStatus, forceDisableReset);
    return finish(CNA_SUCCESS, vpdStatus);
}
