// Flash update of the Pemra converged adapters.
#include "engines/pemra_update.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/flash_read_buffer.h"
#include "core/image_file.h"
#include "core/chip_types.h"
#include "core/input_file.h"
#include "core/oss_services.h"
#include "engines/engine_status.h"
#include "engines/pemra_combination.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/model_predicates.h"
#include "frontend/output.h"
#include "frontend/str_util.h"
#include "image/card_types.h"
#include "image/flash_memo_block.h"
#include "image/ilt_entry_data.h"
#include "image/image_layout_table.h"
#include "image/image_validation_converged.h"
#include "image/image_validation_multiboot.h"
#include "image/option_rom_request.h"
#include "image/region_io.h"
#include "image/vpd_version_keywords.h"
#include "image/word_helpers.h"
#include "mgmt/sdapi.h"

namespace {

struct SequenceStep {
    SD_UINT32 region;
    const char* text;
};

constexpr SequenceStep kSequence[PEMRA_SEQUENCE_SIZE] = {
    {0x2E, "Updating Adapter NIC Boot Code... "},
    {0xA2, "Updating Adapter FCoE Boot Code... "},
    {0x4F, "Updating Adapter iSCSI Boot Code... "},
    {0x70, "Updating Adapter CRBInit... "},
    {0x72, "Updating Adapter BootLoader... "},
    {0x73, "Updating Adapter PEGTune ... "},
    {0xB1, "Updating Adapter Reset Sequence... "},
    {0xA3, "Updating Adapter MiniDump Templates... "},
    {0x97, "Updating Adapter NIC/CNA FW... "},
    {0x81, "Updating Adapter NIC/CNA VPD... "},
};

constexpr SD_UINT32 kFcoeBootCode = 0xA2;
constexpr SD_UINT32 kCrbInit = 0x70;
constexpr SD_UINT32 kFirmware = 0x97;
constexpr SD_UINT32 kNicVpd = 0x81;
constexpr SD_UINT32 kNotActivated = 0x20000100;   // written; takes effect at the next reboot
constexpr unsigned kPauseAfterWrite = 5;
constexpr unsigned kPauseAfterLoop = 5;
constexpr std::size_t kModelTextMax = 31;
constexpr const char* kWho = "CNAPemraOptionROMRegionUpdate";

// The boot-code regions carry the image's layout table behind their ROM chain.
bool CarriesTable(SD_UINT32 code) { return code == 0x2E || code == 0x4F || code == 0xA2; }

int Instance(const SDMDevice* d) { return static_cast<int>(d->DeviceNumber); }

// The model with every blank and control character removed, "-S" added for
// the OEM adapters that carry it in their name.
std::string ModelText(const SDMDevice* d) {
    const auto& node = d->DeviceNodeProperty.Model;
    const std::string raw(node, strnlen(node, sizeof node));
    char stripped[sizeof node + 1] = {};
    StripEndWhiteSpace(raw.c_str(), stripped, sizeof stripped);
    std::string model = stripped;
    if (model.size() > kModelTextMax) model.resize(kModelTextMax);
    if (isSUNHBA(d) != 0 && model.find("-S") == std::string::npos) model += "-S";
    return model;
}

SD_UINT32 LayoutSize(const SDMOptRomLayoutCopy& layout, SD_UINT32 code) {
    for (const SDM_OPT_ROM_REGION& r : layout.Regions)
        if (r.Region == code) return r.Size;
    return 0;
}

bool InLayout(const SDMOptRomLayoutCopy& layout, SD_UINT32 code) {
    return std::any_of(layout.Regions.begin(), layout.Regions.end(),
                       [code](const SDM_OPT_ROM_REGION& r) { return r.Region == code; });
}

// Reads the whole image file, without a firmware-update package header: 0, or
// the status with its message printed.
SD_INT32 ReadImage(const char* path, std::vector<SD_UINT8>& bytes) {
    ImageFileOptions options;
    options.maxSize = INT32_MAX;
    options.unwrapPackage = true;   // as the other converged engines: the image behind a package header
    switch (CoreReadImageFile(path, options, bytes)) {
        case ImageFileResult::Ok: return PEMRA_SUCCESS;
        case ImageFileResult::OpenFailed:
            scfxPrint("Unable to open boot/multi-boot image file (%s)!", path);
            return PEMRA_OPEN_FAILED;
        case ImageFileResult::Corrupted:
            scfxPrint("File %s appears to be corrupted!", path);
            return PEMRA_FILE_CORRUPTED;
        case ImageFileResult::NoMemory: break;
    }
    scfxPrint("Memory allocation error!");
    return PEMRA_NO_MEMORY;
}

// Every entry of the image against the region it would be written to: its
// data, and the table behind it for boot code, must fit the flash region.
// Entries of regions the adapter does not have are never written.
bool RegionLengthsFit(IltBytes image, const SDMOptRomLayoutCopy& layout) {
    const std::uint64_t table = ILT_Header_GetTableLength(image);
    const int entries = static_cast<int>(ILT_Header_GetNumOfRegionEntries(image)) - 1;
    for (const SDM_OPT_ROM_REGION& flash : layout.Regions) {
        VORNLogMessage(VORN_MSG_DEBUG, "%s: Validating FLT Region 0X%02X Size=0X%X(%d)", kWho, flash.Region,
                       flash.Size, static_cast<int>(flash.Size));
        int status = ILT_OK;
        for (int i = 0; i < entries && status == ILT_OK; ++i) {
            const auto entry = ILT_Region_GetRegionByIndex(image, static_cast<SD_UINT16>(i));
            if (!entry) {
                status = ILT_REGION_TOO_LARGE;
                break;
            }
            if (entry->regionType != flash.Region) continue;
            VORNLogMessage(VORN_MSG_DEBUG, "%s: Validating Region [%d] = 0x%x", kWho, i, entry->regionType);
            const std::uint64_t need =
                HLPR_GetDoubleWord(entry->sizeLo, entry->sizeHi) + (CarriesTable(flash.Region) ? table : 0);
            if (need > flash.Size) status = ILT_REGION_TOO_LARGE;
        }
        VORNLogMessage(VORN_MSG_DEBUG, "%s: Status=%d\n", kWho, status);
        if (status != ILT_OK) return false;
    }
    return true;
}

struct PlannedWrite {
    const SequenceStep* step;
    ILT_Region_t entry;
    SD_UINT32 layoutSize;
};

// The sequence's writes: for each region the adapter has, in sequence order,
// every entry of the combined image that serves the adapter's card type and
// chip revision (CRB init and firmware under their own revision rules).
std::vector<PlannedWrite> PlanWrites(std::span<const SD_UINT8> combined, const SDMOptRomLayoutCopy& layout,
                                     SD_INT16 cardType, SD_UINT16 chipRev) {
    std::vector<PlannedWrite> plan;
    const int entries = static_cast<int>(ILT_Header_GetNumOfRegionEntries(combined)) - 1;
    for (const SequenceStep& step : kSequence) {
        if (step.region == kNicVpd) continue;   // the VPD step's
        const SD_UINT32 layoutSize = LayoutSize(layout, step.region);
        if (layoutSize == 0) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s: Region 0x%x is not in the flash layout", kWho, step.region);
            continue;
        }
        for (int i = 0; i < entries; ++i) {
            const auto entry = ILT_Region_GetRegionByIndex(combined, static_cast<SD_UINT16>(i));
            if (!entry) break;
            if (entry->regionType != step.region ||
                !CardTypeComapre(entry->swapModeCardType, static_cast<SD_UINT16>(cardType)) ||
                !HwRevComapre(chipRev, entry->chipRev))
                continue;
            if (step.region == kCrbInit && ((entry->chipRev != 0 && entry->chipRev != chipRev) ||
                                            ValidateImageChipRevision(&*entry, chipRev) != 0)) {
                VORNLogMessage(VORN_MSG_DEBUG, "%s: CRBInit entry %d (chip revision 0x%x) skipped", kWho, i,
                               entry->chipRev);
                continue;
            }
            if (step.region == kFirmware && ValidateImageChipRevision(&*entry, chipRev) != 0) {
                VORNLogMessage(VORN_MSG_DEBUG, "%s: Firmware entry %d (chip revision 0x%x) skipped", kWho, i,
                               entry->chipRev);
                continue;
            }
            plan.push_back({&step, *entry, layoutSize});
        }
    }
    return plan;
}

struct Engine {
    SDMDevice* device = nullptr;
    const char* file = "";
    SD_UINT16 disableReset = 0;
    std::string model;
    SD_UINT16 chipRev = 0;
    SD_UINT16 ssdid = 0;
    SD_UINT16 ssvid = 0;
    SD_INT32 vpdStatus = PEMRA_VPD_FAILED;   // what the exit line shows when the VPD step is not reached
    SD_INT32 Run();
};

SD_INT32 Engine::Run() {
    std::array<unsigned int, PEMRA_SEQUENCE_SIZE> sequence{};
    InitPemraFlashUpdateSequence(sequence, chipRev);

    if (isVirtualPortHBA(device) != 0) {
        const SD_UINT8* w = device->DevicePortProperty.WWN;
        scfxPrint("Option is not available with virtual port HBA (%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X)!", w[0],
                  w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
        return PEMRA_VIRTUAL_PORT;
    }
    ssdid = device->DeviceChipProperty.SubSystemID;
    ssvid = device->DeviceChipProperty.SubVendorID;

    std::vector<SD_UINT8> image;
    if (const SD_INT32 st = ReadImage(file, image); st != PEMRA_SUCCESS) return st;

    sHbaIdentifiers ids{};
    ids.vendorId = ssvid;
    ids.deviceId = ssdid;
    ids.deviceNumber = device->DeviceNumber;
    ids.region = g_ptrOptionROMRequest != nullptr ? g_ptrOptionROMRequest->Region : 0;
    ids.deviceISP = device->DeviceChipProperty.DeviceID;
    ids.chipRev = chipRev;
    std::memcpy(ids.acHBAModel, device->DeviceNodeProperty.Model,
                strnlen(device->DeviceNodeProperty.Model, sizeof device->DeviceNodeProperty.Model));

    SDMOptRomLayoutCopy layout;
    std::vector<SD_UINT8> combined;
    SD_UINT32 fcoeSize = 0;
    const SD_UINT32 layoutStatus = GetOptionRomRegionLayout(device, &layout, kFcoeBootCode, &fcoeSize);
    if (layoutStatus == REGIO_BUFFER_FAILED) {
        scfxPrint("Memory allocation error!");
        return PEMRA_NO_MEMORY;
    }
    if (layoutStatus != 0) {
        scfxPrint("Flash update is not supported with HBA %d (0x%x %s)!", Instance(device), 0x26,
                  SDGetErrorString(0x26));
        return PEMRA_LAYOUT_UNREADABLE;
    }
    if (layout.Regions.empty()) {
        scfxPrint("No valid flash update region found!");
        return PEMRA_NO_REGIONS;
    }
    try {
        combined.assign(image.size(), 0);
    } catch (const std::bad_alloc&) {
        scfxPrint("Memory allocation error!");
        return PEMRA_NO_MEMORY;
    }

    // The FCoE boot code as it is now: its ISP defaults go into the new one.
    std::vector<SD_UINT8> fcoeBackup;
    if (InLayout(layout, kFcoeBootCode)) {
        try {
            fcoeBackup.assign(fcoeSize, 0);
        } catch (const std::bad_alloc&) {
            scfxPrint("Memory allocation error!");
            return PEMRA_NO_MEMORY;
        }
        const SD_UINT32 st =
            fcoeSize == 0 ? REGIO_READ_FAILED : FlashReadRetrying(device->DeviceHandle, kFcoeBootCode, fcoeBackup);
        if (st != 0) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s: FCoE boot code read failed 0x%x (%s)", kWho, st, SDGetErrorString(st));
            scfxPrint("Unable to read FCoE boot code region of adapter %d (%s)!", Instance(device), model.c_str());
            return PEMRA_BOOT_CODE_UNREADABLE;
        }
    }

    // Validation: the image against the adapter, then the combination.
    MultibootVersions versions{};
    EngineValidationBegin();
    SD_INT32 status = ValidatePemraILTImageRegionsToUpdate(image, sequence, PEMRA_SEQUENCE_SIZE, chipRev);
    if (status == 0) status = ValidatePemraILTImageHeader(ssdid, ssvid, image, chipRev);
    if (status == 0 && !RegionLengthsFit(image, layout)) {
        scfxPrint("Failed");
        scfxPrint("Incompatible flash image (Region size mismatched)!");
        return PEMRA_INCOMPLETE;
    }
    SD_INT16 cardType = CARD_TYPE_NONE;
    if (status == 0) {
        cardType = ILT_TorviCardTypeList_GetMyCardTypeFromCardList(image, ssdid, ssvid);
        if (cardType == CARD_TYPE_NONE) status = ENGINE_VALIDATION_CNA_NO_CARD_TYPE;
    }
    if (status == 0) {
        const SD_INT8 wanted = HowManyImagesForCardTypeGeneric(image, cardType, chipRev);
        const SD_INT8 verified =
            ValidatePemraImageComponents(image, static_cast<SD_UINT16>(wanted), cardType, &versions, chipRev);
        if (wanted < 0 || verified != wanted) {
            status = ENGINE_VALIDATION_CNA_COMPONENT_COUNT;
        } else if (CombinePemraImageComponentsInBuffer(combined, image, static_cast<SD_UINT16>(wanted), cardType,
                                                       chipRev, ids) != verified) {
            status = ENGINE_VALIDATION_CNA_COMBINE_COUNT;
        }
    }
    char message[ENGINE_MESSAGE_SIZE] = {};
    const EngineValidationArgs args{file, device->DeviceNumber, model.c_str(), ssdid, ssvid};
    const EngineValidationResult validation =
        EngineValidationFinish(EngineStatusFamily::Converged, status, args, message);
    if (!validation.ready) return validation.status;

    const bool dualOrQuadPorts = GetNumberOfPortsOnThisHBA(device) >= 2;
    if (dualOrQuadPorts) {
        scfxPrint("Updating Flash on HBA port(s) - %8s. Please wait...", model.c_str());
    } else {
        scfxPrint("Updating Flash on HBA instance %d - %8s. Please wait...", Instance(device), model.c_str());
    }
    // From here on only the combined image is used.
    std::vector<SD_UINT8>().swap(image);

    // The writes, known before the first one: a validation that found nothing
    // to write (0x1C) or a request for fewer regions plans none.
    const bool allRegions = g_ptrOptionROMRequest != nullptr && g_ptrOptionROMRequest->Region == OPTROM_REGION_ALL;
    std::vector<PlannedWrite> plan;
    if (validation.status == 0 && allRegions) plan = PlanWrites(combined, layout, cardType, chipRev);
    // More writes than the sequence has regions: the image names some region
    // twice, and the flash would end with whichever came last.
    if (plan.size() > static_cast<std::size_t>(PEMRA_REQUIRED_REGIONS)) {
        VORNLogMessage(VORN_MSG_DEBUG, "%s: %zu region writes planned, at most %d", kWho, plan.size(),
                       PEMRA_REQUIRED_REGIONS);
        plan.clear();
    }

    const std::span<const SD_UINT8> table =
        std::span<const SD_UINT8>(combined).first(std::min<std::size_t>(ILT_Header_GetTableLength(combined),
                                                                         combined.size()));
    SD_INT32 loopStatus = 0;
    int written = 0;
    for (const PlannedWrite& w : plan) {
        std::vector<SD_UINT8> buffer;
        try {
            buffer.assign(w.layoutSize, 0xFF);
        } catch (const std::bad_alloc&) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s: no buffer for region 0x%x", kWho, w.step->region);
            continue;
        }
        scfxDiagnosticsPrint("%s", w.step->text);
        // The lengths were checked against the layout; a component that
        // still does not fit is never written cut short.
        const auto component = ILT_Region_GetComponent(combined, w.entry);
        const std::size_t tail = CarriesTable(w.step->region) ? table.size() : 0;
        if (!component || component->size() + tail > buffer.size()) {
            scfxPrint("Failed");
            scfxPrint("Incompatible flash image (Region size mismatched)!");
            loopStatus = PEMRA_WRITE_FAILED;
            break;
        }
        std::copy(component->begin(), component->end(), buffer.begin());
        if (tail != 0) std::copy(table.begin(), table.end(), buffer.begin() + static_cast<long>(component->size()));
        if (w.step->region == kFcoeBootCode) {
            VORNLogMessage(VORN_MSG_DEBUG, "CNAOptionROMRegionUpdate: Preserving BIOS default area...");
            if (CorePreserveISPDefaults(device, fcoeBackup, buffer) != 0) {
                scfxPrint("Failed");
                scfxPrint("Unable to preserve BIOS default area of HBA (Instance %d)!", Instance(device));
                loopStatus = PEMRA_WRITE_FAILED;
                break;
            }
        }
        const SD_UINT32 st = AppUpdateOptionRomEx2(device, buffer, w.step->region, w.layoutSize, disableReset);
        if (st == 0 || st == kNotActivated) {
            scfxPrint("Success");
            ++written;
            VORNLogMessage(VORN_MSG_DEBUG, "%s: Region 0x%x successfully updated (%d of %d).", kWho, w.step->region,
                           written, PEMRA_REQUIRED_REGIONS);
        } else {
            scfxPrint("Failed");
            scfxPrint("Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!", Instance(device), st,
                      SDGetErrorString(st));
            loopStatus = PEMRA_WRITE_FAILED;
        }
        OSSSleep(kPauseAfterWrite);
        if (loopStatus != 0) break;
    }
    OSSSleep(kPauseAfterLoop);
    VORNLogMessage(VORN_MSG_DEBUG, "%s: Number of region updated = %d (required %d).", kWho, written,
                   PEMRA_REQUIRED_REGIONS);
    VORNLogMessage(VORN_MSG_DEBUG, "%s: Flash update status = %d", kWho, loopStatus);
    // Nothing written is no update either, whatever the reason; nor is a plan
    // with a region passed over for want of its buffer (fewer writes than
    // required alone may be an image without some region).
    if (loopStatus != 0 || written == 0 || static_cast<std::size_t>(written) != plan.size() ||
        written > PEMRA_REQUIRED_REGIONS) {
        scfxPrint("Unable to complete flash update on HBA Instance %d. Not all regions updated (%d of %d).",
                  Instance(device), written, PEMRA_REQUIRED_REGIONS);
        return PEMRA_INCOMPLETE;
    }

    // The version keywords of the NIC/CNA VPD; the memo block stays as it is.
    if (InLayout(layout, kNicVpd)) {
        scfxDiagnosticsPrint("%s", kSequence[PEMRA_SEQUENCE_SIZE - 1].text);
        const SD_INT32 st = UpdateAndRestoreK7RVPD(device, &versions, LayoutSize(layout, kNicVpd), disableReset);
        if (st == 0) {
            scfxPrint("Success");
            vpdStatus = 0;
        } else {
            VORNLogMessage(VORN_MSG_DEBUG, "%s: Unable to UpdateAndRestoreK7RVPD (error=%d", kWho, st);
            scfxPrint("%s", st == VPD_UPDATE_BLANK ? "N/A" : "Unsuccessful");
            vpdStatus = PEMRA_VPD_FAILED;
        }
    } else {
        vpdStatus = PEMRA_VPD_NO_REGION;
    }
    UpdateVpdRetCode(vpdStatus);

    if (vpdStatus != 0) {
        scfxPrint("Flash update complete on HBA instance %d - %s with errors in version updates in VPD.",
                  Instance(device), model.c_str());
    } else if (disableReset != 0) {
        scfxPrint("Flash update complete. Changes have been saved to all ports of this HBA.");
        scfxPrint("You must reboot in order for the changes to become effective.");
    } else if (dualOrQuadPorts) {
        scfxPrint("Option ROM update complete. Changes have been saved to both ports of this HBA.");
        scfxPrint("You must reboot in order for changes to take effect.");
    } else {
        scfxPrint("Flash update complete. Changes have been saved to all ports of this HBA.");
    }
    return PEMRA_SUCCESS;
}

}  // namespace

void InitPemraFlashUpdateSequence(std::span<unsigned int> sequence, unsigned int) {
    std::fill(sequence.begin(), sequence.end(), 0u);
    const std::size_t n = std::min<std::size_t>(sequence.size(), PEMRA_SEQUENCE_SIZE);
    for (std::size_t i = 0; i < n; ++i) sequence[i] = kSequence[i].region;
    for (std::size_t i = 0; i < sequence.size(); ++i)
        VORNLogMessage(VORN_MSG_DEBUG, "InitPemraFlashUpdateSequence: %d: 0x%x", static_cast<int>(i), sequence[i]);
}

SD_INT32 CNAPemraOptionROMRegionUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset) {
    if (pDevice == nullptr) {
        scfxPrint("Unable to find the selected HBA!");
        return PEMRA_NO_DEVICE;
    }
    Engine engine;
    engine.device = pDevice;
    engine.file = pFlashImageFile != nullptr ? pFlashImageFile : "";
    engine.disableReset = DisableReset;
    engine.model = ModelText(pDevice);
    engine.chipRev = static_cast<SD_UINT16>(GetAdapterChipRevision(pDevice));
    const SD_INT32 status = engine.Run();
    VORNLogMessage(VORN_MSG_DEBUG, "CNAPemraOptionROMRegionUpdate: exit (FlashUpdStat=%d, VpdUpdStat=%d)", status,
                   engine.vpdStatus);
    return status;
}
