// The K7R flash update engine.
#include "engines/k7r_update.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>

#include "boardcfg/vpd_copies.h"
#include "core/oss_services.h"
#include "engines/engine_status.h"
#include "engines/k7r_engine_common.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/output.h"
#include "image/card_types.h"
#include "image/ilt_entry_data.h"
#include "image/image_combination.h"
#include "image/image_layout_table.h"
#include "image/image_validation_converged.h"
#include "image/image_validation_multiboot.h"
#include "image/option_rom_request.h"
#include "image/region_io.h"
#include "image/vpd_version_keywords.h"
#include "core/chip_types.h"

namespace {

constexpr SD_INT32 kVpdNotReached = CNA_VPD_FAILED;

SD_UINT32 firmware_region(unsigned int chipRevision) {
    return chipRevision == CNA_K7R_REV_54 ? CNA_REGION_K7R_FW_REV54 : CNA_REGION_CNA_FW;
}

const char* progress_text(SD_UINT32 region) {
    switch (region) {
        case CNA_REGION_FC_BOOT: return "Updating Adapter FCoE Boot Code... ";
        case CNA_REGION_ISCSI_BOOT: return "Updating Adapter iSCSI Boot Code... ";
        case CNA_REGION_NIC_BOOT: return "Updating Adapter NIC Boot Code... ";
        case CNA_REGION_CRBINIT: return "Updating Adapter CRBInit... ";
        case CNA_REGION_BOOTLOADER: return "Updating Adapter BootLoader... ";
        case CNA_REGION_PEGTUNE: return "Updating Adapter PEGTune ... ";
        case CNA_REGION_NIC_VPD: return "Updating Adapter VPD... ";
        default: return "Updating Adapter FW... ";
    }
}


SD_INT32 write_through(SDMDevice* pDevice, std::span<const SD_UINT8> pBuffer, SD_UINT32 Region, SD_UINT32 RegionSize,
                       SD_UINT16 DisableReset, const char* who) {
    std::array<char, CNA_MODEL_SIZE> model{};
    CnaBuildModelText(pDevice, model);
    VORNLogMessage(VORN_MSG_DEBUG, "%s: Updating Region=0x%x Size=0x%x to HBA port %d (%s)...", who, Region,
                   RegionSize, static_cast<int>(pDevice->DeviceNumber), model.data());
    const SD_UINT32 st = AppUpdateOptionRomEx2(pDevice, pBuffer, Region, RegionSize, DisableReset);
    return st == CNA_SD_NOT_ACTIVATED ? 0 : static_cast<SD_INT32>(st);
}

// The rev-0x54 firmware entry may be longer than the flash region that holds
// it: only the region's size of it is written. Every other entry must fit.
// Only padding is cut off: zeroed or erased bytes in any mix (zeros then 0xFF
// is the usual fill). A tail holding any other byte is data; cutting it would
// leave a truncated firmware on flash under a successful update, so that
// entry stays too long and the plan is refused.
void cut_firmware_to_region(std::span<const SD_UINT8> combined, std::span<CnaPlannedWrite> plan) {
    for (CnaPlannedWrite& w : plan) {
        if (w.region != CNA_REGION_K7R_FW_REV54 || w.length <= w.layoutSize) continue;
        if (std::uint64_t{w.offset} + w.length > combined.size()) continue;
        const auto tail = combined.subspan(std::size_t{w.offset} + w.layoutSize, w.length - w.layoutSize);
        const bool padding =
            std::all_of(tail.begin(), tail.end(), [](SD_UINT8 b) { return b == 0x00 || b == 0xFF; });
        if (!padding) {
            VORNLogMessage(VORN_MSG_DEBUG, "Region 0x%x: 0x%x bytes past the flash region hold data; not cut",
                           w.region, w.length - w.layoutSize);
            continue;
        }
        w.length = w.layoutSize;
        VORNLogMessage(VORN_MSG_DEBUG, "Corrected region len=0x%x ", w.length);
    }
}

SD_INT32 finish(SD_INT32 status, SD_INT32 vpdStatus) {
    VORNLogMessage(VORN_MSG_DEBUG, "CNAK7ORevA0ptionROMRegionUpdate: exit (FlashUpdStat=%d, VpdUpdStat=%d)", status,
                   vpdStatus);
    return status;
}

// The validation chain; the status it ends with (0 to go on).
SD_INT32 validate(CnaEngineRun& run, std::span<const SD_UINT32> sequence) {
    const IltBytes image(run.image);
    int st = ValidateILTImageRegionsToUpdate(image, sequence, K7R_SEQUENCE_SIZE, run.chipRev);
    if (st != 0) return st;
    st = ValidateILTImageHeader(run.ssdid, run.ssvid, image, run.chipRev);
    if (st != 0) return st;
    const SD_INT16 cardType = ILT_K7RCardTypeList_GetMyCardTypeFromCardList(image, run.ssdid, run.ssvid);
    if (cardType == CARD_TYPE_NONE) return ENGINE_VALIDATION_CNA_NO_CARD_TYPE;
    run.ids.cardType = static_cast<SD_UINT16>(cardType);
    const SD_INT8 n = HowManyImagesForCardType(image, cardType);
    const SD_INT8 v = ValidateK7RImageComponents(image, static_cast<SD_UINT16>(n), cardType, &run.versions, run.chipRev);
    if (v != n) return ENGINE_VALIDATION_CNA_COMPONENT_COUNT;
    const SD_INT16 c = CombineK7RImageComponentsInBuffer(run.combined, run.image, static_cast<SD_UINT16>(n), cardType,
                                                         run.ids);
    if (c != v) return ENGINE_VALIDATION_CNA_COMBINE_COUNT;
    return 0;
}

}  // namespace

void InitK7RFlashUpdateSequence(std::span<unsigned int> sequence, unsigned int arraySize, unsigned int chipRevision) {
    const std::size_t slots = std::min<std::size_t>(arraySize, sequence.size());
    std::fill_n(sequence.begin(), slots, 0u);
    const std::array<unsigned int, K7R_SEQUENCE_SIZE> codes = {
        CNA_REGION_FC_BOOT,   CNA_REGION_ISCSI_BOOT, CNA_REGION_NIC_BOOT,            CNA_REGION_CRBINIT,
        CNA_REGION_BOOTLOADER, CNA_REGION_PEGTUNE,   firmware_region(chipRevision), CNA_REGION_NIC_VPD};
    for (std::size_t i = 0; i < std::min(slots, codes.size()); ++i) sequence[i] = codes[i];
    for (std::size_t i = 0; i < slots; ++i)
        VORNLogMessage(VORN_MSG_DEBUG, "InitK7RFlashUpdateSequence: %d: 0x%x", static_cast<int>(i), sequence[i]);
}

SD_INT32 FCUpdateK7ROptionRom(SDMDevice* pDevice, std::span<const SD_UINT8> pBuffer, SD_UINT32 Region,
                              SD_UINT32 RegionSize, SD_UINT16 DisableReset) {
    if (pDevice == nullptr || pBuffer.empty()) return CNA_WRITER_REFUSED;
    const SD_UINT32 request = CnaRequestRegion();
    const SD_UINT32 firmware = firmware_region(static_cast<unsigned int>(GetAdapterChipRevision(pDevice)));
    bool allowed = false;
    if (request == CNA_ALL_REGIONS) {
        allowed = Region == CNA_REGION_CRBINIT || Region == CNA_REGION_BOOTLOADER || Region == CNA_REGION_PEGTUNE ||
                  Region == CNA_REGION_ISCSI_BOOT || Region == CNA_REGION_FC_BOOT || Region == CNA_REGION_NIC_VPD ||
                  Region == firmware;
    } else {
        allowed = request == Region;
    }
    if (!allowed) return CNA_WRITER_REFUSED;
    return write_through(pDevice, pBuffer, Region, RegionSize, DisableReset, "FCUpdateK7ROptionRom");
}

SD_INT32 EthernetUpdateK7ROptionRom(SDMDevice* pDevice, std::span<const SD_UINT8> pBuffer, SD_UINT32 Region,
                                    SD_UINT32 RegionSize, SD_UINT16 DisableReset) {
    if (pDevice == nullptr || pBuffer.empty()) return CNA_NO_DEVICE;
    if (CnaRequestRegion() != CNA_ALL_REGIONS || (Region != CNA_REGION_NIC_BOOT && Region != 0x7A && Region != 0x7B))
        return CNA_NO_DEVICE;
    return write_through(pDevice, pBuffer, Region, RegionSize, DisableReset, "EthernetUpdateK7ROptionRom");
}

SD_INT32 CNAK7ORevA0ptionROMRegionUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset) {
    if (pDevice == nullptr) {
        CnaStatusLine(CNA_NO_DEVICE, "Unable to find the selected HBA!");
        return finish(CNA_NO_DEVICE, kVpdNotReached);
    }
    CnaEngineRun run;
    CnaStartRun(run, pDevice, pFlashImageFile);
    std::array<unsigned int, K7R_SEQUENCE_SIZE> sequence{};
    InitK7RFlashUpdateSequence(sequence, K7R_SEQUENCE_SIZE, run.chipRev);
    if (const SD_INT32 st = CnaRefuseVirtualPort(run); st != 0) return finish(st, kVpdNotReached);
    if (const SD_INT32 st = CnaReadImageFile(run); st != 0) return finish(st, kVpdNotReached);
    CnaFillIdentifiers(run);
    if (const SD_INT32 st = CnaReadLayout(run); st != 0) return finish(st, kVpdNotReached);
    std::vector<SD_UINT8> biosOri;
    if (const SD_INT32 st = CnaReadCurrentRegion(run, CNA_REGION_FC_BOOT, "boot code", biosOri); st != 0)
        return finish(st, kVpdNotReached);

    EngineValidationBegin();
    SD_INT32 status = validate(run, std::span<const SD_UINT32>(sequence.data(), sequence.size()));
    // The regions the loop writes, all known before the first write.
    const std::span<const SD_UINT32> loopRegions(sequence.data(), K7R_REQUIRED_REGIONS);
    const SD_INT16 cardType = static_cast<SD_INT16>(run.ids.cardType);
    std::vector<CnaPlannedWrite> plan;
    bool tooLarge = false;
    if (status == 0) {
        plan = CnaPlanWrites(run, loopRegions, [&](SD_UINT32 region, const ILT_Region_t& e) {
            if (!CardTypeComapre(e.swapModeCardType, static_cast<SD_UINT16>(cardType))) return false;
            if (region == CNA_REGION_CRBINIT) {
                const bool fits = (e.chipRev == 0 || e.chipRev == run.chipRev) &&
                                  ValidateImageChipRevision(&e, run.chipRev) == 0;
                if (!fits)
                    VORNLogMessage(VORN_MSG_DEBUG, "CNAK7ORevA0ptionROMRegionUpdate: CRBInit of revision 0x%x skipped",
                                   e.chipRev);
                return fits;
            }
            if (region == CNA_REGION_K7R_FW_REV54 || region == CNA_REGION_CNA_FW)
                return ValidateImageChipRevision(&e, run.chipRev) == 0;
            return true;
        });
        cut_firmware_to_region(run.combined, plan);
        tooLarge = CnaCheckPlanFits(run, plan) != 0;
    }
    const CnaValidationEnd checked = CnaEndValidation(run, status, tooLarge);
    if (!checked.ready) return finish(checked.status, kVpdNotReached);
    status = checked.status;

    // A plan that cannot give the seven regions is refused before anything is written.
    if (status != 0 || plan.size() != K7R_REQUIRED_REGIONS) {
        CnaNotAllRegionsMessage(run, 0, K7R_REQUIRED_REGIONS);
        return finish(CNA_NOT_ALL_REGIONS, kVpdNotReached);
    }

    CnaAnnounceUpdate(run);

    SD_INT32 loopStatus = 0;
    const SD_UINT16 count = CnaRunRegionLoop(
        run, plan, progress_text,
        [&](const CnaPlannedWrite& w, std::span<SD_UINT8> buffer) {
            if (w.region != CNA_REGION_FC_BOOT) return 0;
            return CorePreserveISPDefaults(pDevice, biosOri, buffer);
        },
        [&](const CnaPlannedWrite& w, std::span<const SD_UINT8> buffer) -> SD_UINT32 {
            const SD_INT32 st = w.region == CNA_REGION_NIC_BOOT
                                    ? EthernetUpdateK7ROptionRom(pDevice, buffer, w.region, w.layoutSize, DisableReset)
                                    : FCUpdateK7ROptionRom(pDevice, buffer, w.region, w.layoutSize, DisableReset);
            return static_cast<SD_UINT32>(st);
        },
        [](SD_UINT32 st) { return st == 0; }, &loopStatus);
    OSSSleep(5);
    if (loopStatus != 0 || count != K7R_REQUIRED_REGIONS) {
        CnaNotAllRegionsMessage(run, count, K7R_REQUIRED_REGIONS);
        return finish(CNA_NOT_ALL_REGIONS, kVpdNotReached);
    }

    SD_INT32 vpdStatus = CNA_NO_VPD_REGION;
    const SD_UINT32 vpdSize = CnaLayoutSize(run, CNA_REGION_NIC_VPD);
    if (CnaRequestRegion() == CNA_ALL_REGIONS && vpdSize != 0) {
        CnaProgress(progress_text(CNA_REGION_NIC_VPD));
        // Kept on the host around its write: a cut there must not cost the serial number.
        if (UpdateVpdVersionsKeepingCopy(pDevice, &run.versions, CNA_REGION_NIC_VPD, vpdSize, DisableReset) == 0) {
            CnaComplete("Success");
            vpdStatus = 0;
        } else {
            CnaComplete("Unsuccessful");
            vpdStatus = CNA_VPD_FAILED;
        }
    }
    CnaFinalMessage(run, vpdStatus, DisableReset);
    return finish(CNA_SUCCESS, vpdStatus);
}

int DisplayCNAK7RFlashComponentVersions(const MultibootVersions* pVersions) {
    if (pVersions == nullptr) return 0;
    const MultibootVersions& v = *pVersions;
    char text[32];
    auto two = [&](const char* label, int major, int minor) {
        std::snprintf(text, sizeof text, "%d.%02d", major, minor);
        scfxPrint("%s: %s", label, text);
    };
    auto three = [&](const char* label, int major, int minor, int sub) {
        std::snprintf(text, sizeof text, "%d.%02d.%02d", major, minor, sub);
        scfxPrint("%s: %s", label, text);
    };
    two("BIOS Version                      ", v.NewBiosVersionMajor, v.NewBiosVersionMinor);
    two("FCode Version                     ", v.NewFcodeVersionMajor, v.NewFcodeVersionMinor);
    two("UEFI Version                      ", v.NewEfiVersionMajor, v.NewEfiVersionMinor);
    three("Firmware Version                  ", v.NewK7RFirmwareVersionMajor, v.NewK7RFirmwareVersionMinor,
          v.NewK7RFirmwareVersionSubMinor);
    two("PXE Boot Version                  ", v.NewPxeBootVersionMajor, v.NewPxeBootVersionMinor);
    two("NIC FCode Version                 ", v.NewNicFcodeVersionMajor, v.NewNicFcodeVersionMinor);
    two("NIC EFI Version                   ", v.NewNicEfiVersionMajor, v.NewNicEfiVersionMinor);
    three("MPI Version                       ", v.NewMpiFwVersionMajor, v.NewMpiFwVersionMinor,
          v.NewMpiFwVersionSubMinor);
    three("EDC Version                       ", v.NewEdcFwVersionMajor, v.NewEdcFwVersionMinor,
          v.NewEdcFwVersionSubMinor);
    return 0;
}
