// The first-generation converged adapters' image update.
#include "boardcfg/cna_option_rom_update.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/image_file.h"
#include "core/chip_types.h"
#include "core/host_info.h"
#include "core/input_file.h"
#include "core/oss_services.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/model_predicates.h"
#include "frontend/output.h"
#include "frontend/str_util.h"
#include "image/card_types.h"
#include "image/ilt_accessors.h"
#include "image/ilt_entry_data.h"
#include "image/image_combination_copies.h"
#include "image/image_layout_table.h"
#include "image/image_validation_converged.h"
#include "image/image_validation_multiboot.h"
#include "image/option_rom_request.h"
#include "image/region_io.h"
#include "image/word_helpers.h"
#include "mgmt/sdapi.h"

namespace {

constexpr SD_UINT32 kBootCode = 0x07, kNicBootCode = 0x2E, kFcFirmware = 0x01, kFcoeFirmware = 0xA4;
constexpr std::array<SD_UINT32, CNA1_SEQUENCE_SIZE> kSequence = {kBootCode, kNicBootCode, kFcFirmware, kFcoeFirmware};
constexpr SD_UINT16 kFcoeDeviceId = 0x8001, kNicDeviceId = 0x8000;
constexpr unsigned kSecondsAfterWrite = 5;

struct Run {
    SDMDevice* device = nullptr;
    const char* file = "";
    char model[32] = {};
    SD_UINT16 ssdid = 0, ssvid = 0, chipRev = 0;
    std::vector<SD_UINT8> image, combined;
    SDMOptRomLayoutCopy layout;
    sHbaIdentifiers ids{};
    MultibootVersions versions{};
};

struct Write {
    SD_UINT32 region;
    SD_UINT32 offset, length, layoutSize;
    bool withTable;
};

SD_INT32 fail(SD_INT32 status, const char* line) {
    scfxPrint("%s", line);
    return status;
}

const char* progress_text(SD_UINT32 region) {
    switch (region) {
        case kBootCode: return "Updating Adapter FCoE Boot Code... ";
        case kNicBootCode: return "Updating Adapter NIC Boot Code... ";
        case kFcFirmware: return "Updating Adapter FC FW... ";
        default: return "Updating Adapter FCoE FW... ";
    }
}

SD_UINT32 layout_size(const Run& run, SD_UINT32 region) {
    for (const SDM_OPT_ROM_REGION& r : run.layout.Regions)
        if (r.Region == region) return r.Size;
    return 0;
}

SD_INT32 read_image(Run& run) {
    char line[VORN_LINE_SIZE];
    ImageFileOptions options;
    options.unwrapPackage = true;
    options.emptyIsNoMemory = true;
    switch (CoreReadImageFile(run.file, options, run.image)) {
        case ImageFileResult::Ok: break;
        case ImageFileResult::OpenFailed:
            std::snprintf(line, sizeof line, "Unable to open boot/multi-boot image file (%s)!", run.file);
            return fail(CNA1_OPEN_FAILED, line);
        case ImageFileResult::Corrupted:
            std::snprintf(line, sizeof line, "File %s appears to be corrupted!", run.file);
            return fail(CNA1_FILE_CORRUPTED, line);
        case ImageFileResult::NoMemory: return fail(CNA1_NO_MEMORY, "Memory allocation error!");
    }
    try {
        run.combined.assign(run.image.size(), 0);
    } catch (const std::bad_alloc&) {
        return fail(CNA1_NO_MEMORY, "Memory allocation error!");
    }
    return CNA1_SUCCESS;
}

// The components for the adapter copied into the combined buffer, the table
// stamped at its start: the number copied, or -1 for a copy that failed.
int combine(Run& run, SD_INT16 cardType) {
    const IltBytes table(run.image);
    const int entries = static_cast<int>(ILT_Header_GetNumOfRegionEntries(table)) - 1;
    int count = 0;
    for (int i = 0; i < entries; ++i) {
        const auto e = ILT_Region_GetRegionByIndex(table, static_cast<SD_UINT16>(i));
        if (!e) return -1;
        if (!CardTypeComapre(e->swapModeCardType, static_cast<SD_UINT16>(cardType))) continue;
        SD_INT32 done = 0;
        switch (e->regionType) {
            case kBootCode: done = UpdateCNAFCoEBootCode(run.combined, run.image, &*e, run.ids, kFcoeDeviceId); break;
            case kNicBootCode: done = UpdateCNANICBootCode(run.combined, run.image, &*e, run.ids, kNicDeviceId); break;
            case kFcFirmware:
            case kFcoeFirmware: done = UpdateCNAFirmware(run.combined, run.image, &*e); break;
            default: done = UpdateGenericImageRegion(run.combined, run.image, &*e); break;
        }
        if (done != 1) return -1;
        ++count;
    }
    if (UdpateTimeStamp(run.combined, run.image) != 1) return -1;
    return count;
}

SD_INT32 validate(Run& run) {
    const IltBytes image(run.image);
    int st = ValidateILTImageHeader(run.ssdid, run.ssvid, image, run.chipRev);
    if (st != 0) return st;
    GetILTImageBuildDate(image, run.versions);
    const SD_INT16 cardType = ILT_CardTypeList_GetMyCardTypeFromCardList(image, run.ssdid, run.ssvid);
    if (cardType == CARD_TYPE_NONE) return 0x1C3;
    run.ids.cardType = static_cast<SD_UINT16>(cardType);
    const SD_INT8 n = HowManyImagesForCardType(image, cardType);
    const SD_INT8 v = ValidateImageComponents(image, static_cast<SD_UINT16>(n), cardType, &run.versions);
    if (v != n) return 0x1C4;
    if (combine(run, cardType) != v) return 0x1C5;
    return 0;
}

void validation_message(const Run& run, SD_INT32 status) {
    char line[VORN_LINE_SIZE];
    const unsigned long instance = run.device->DeviceNumber;
    if (status == 0x1C4)
        std::snprintf(line, sizeof line, "Incorrect flash image file for HBA instance %lu (%s)(ssdid=0x%x ssvid=0x%x)!",
                      instance, run.model, run.ssdid, run.ssvid);
    else if (status == 0x1C5)
        std::snprintf(line, sizeof line, "Failed to modify multiboot image file '%s'!", run.file);
    else
        std::snprintf(line, sizeof line, "Incorrect flash image for HBA instance %lu (%s)(ssdid=0x%x ssvid=0x%x)!",
                      instance, run.model, run.ssdid, run.ssvid);
    scfxPrint("%s", line);
}

// Every entry for the adapter whose region is written, checked to fit; false
// (with the misfit logged) for an entry too large, past the image, or a
// second entry for one region.
bool plan_writes(const Run& run, std::vector<Write>& plan) {
    const IltBytes table(run.combined);
    const std::uint64_t tableLength = ILT_Header_GetTableLength(table);
    const int entries = static_cast<int>(ILT_Header_GetNumOfRegionEntries(table)) - 1;
    for (const SD_UINT32 code : kSequence) {
        const SD_UINT32 size = layout_size(run, code);
        for (int i = 0; i < entries; ++i) {
            const auto e = ILT_Region_GetRegionByIndex(table, static_cast<SD_UINT16>(i));
            if (!e || e->regionType != code || !CardTypeComapre(e->swapModeCardType, run.ids.cardType)) continue;
            if (size == 0) {
                VORNLogMessage(VORN_MSG_DEBUG, "CNAOptionROMRegionUpdate: region 0x%x not in the layout", code);
                continue;
            }
            Write w{code, HLPR_GetDoubleWord(e->offsetLo, e->offsetHi), HLPR_GetDoubleWord(e->sizeLo, e->sizeHi), size,
                    code == kBootCode || code == kNicBootCode};
            const std::uint64_t need = std::uint64_t{w.length} + (w.withTable ? tableLength : 0);
            const bool twice = std::any_of(plan.begin(), plan.end(), [&](const Write& p) { return p.region == code; });
            if (twice || std::uint64_t{w.offset} + w.length > run.combined.size() || need > size) {
                VORNLogMessage(VORN_MSG_DEBUG, "CNAOptionROMRegionUpdate: region 0x%x entry of 0x%llx bytes refused",
                               code, static_cast<unsigned long long>(need));
                return false;
            }
            plan.push_back(w);
        }
    }
    return true;
}

}  // namespace

SD_INT32 CNAOptionROMRegionUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset) {
    if (pDevice == nullptr) return fail(CNA1_NO_DEVICE, "Unable to find the selected HBA!");
    Run run;
    run.device = pDevice;
    run.file = pFlashImageFile != nullptr ? pFlashImageFile : "";
    char model[sizeof pDevice->DeviceNodeProperty.Model + 1] = {};
    std::memcpy(model, pDevice->DeviceNodeProperty.Model, sizeof pDevice->DeviceNodeProperty.Model);
    StripEndWhiteSpace(model, run.model, sizeof run.model);
    run.model[sizeof run.model - 1] = '\0';
    if (isVirtualPortHBA(pDevice) != 0) {
        const SD_UINT8* w = pDevice->DevicePortProperty.WWN;
        scfxPrint("Option is not available with virtual port HBA (%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X)!", w[0],
                  w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
        return CNA1_VIRTUAL_PORT;
    }
    if (CoreGetISPType(pDevice) != 15) {
        scfxPrint("Flash update is not supported on HBA instance %lu - %s!",
                  static_cast<unsigned long>(pDevice->DeviceNumber), run.model);
        return CNA1_UNSUPPORTED;
    }
    run.ssdid = pDevice->DeviceChipProperty.SubSystemID;
    run.ssvid = pDevice->DeviceChipProperty.SubVendorID;
    run.chipRev = static_cast<SD_UINT16>(GetAdapterChipRevision(pDevice));
    if (const SD_INT32 st = read_image(run); st != 0) return st;
    run.ids.vendorId = run.ssvid;
    run.ids.deviceId = run.ssdid;
    run.ids.deviceNumber = pDevice->DeviceNumber;
    run.ids.region = g_ptrOptionROMRequest != nullptr ? g_ptrOptionROMRequest->Region : 0;
    run.ids.bufSize = static_cast<SD_UINT32>(run.image.size());
    run.ids.deviceISP = pDevice->DeviceChipProperty.DeviceID;
    run.ids.chipRev = run.chipRev;
    std::memcpy(run.ids.acHBAModel, pDevice->DeviceNodeProperty.Model, sizeof pDevice->DeviceNodeProperty.Model);

    SD_UINT32 unused = 0;
    const SD_UINT32 layoutStatus = GetOptionRomRegionLayout(pDevice, &run.layout, 0, &unused);
    if (layoutStatus == REGIO_BUFFER_FAILED) return fail(CNA1_NO_MEMORY, "Memory allocation error!");
    if (layoutStatus != 0) {
        scfxPrint("Flash update is not supported with HBA %d (0x%x %s)!", static_cast<int>(pDevice->DeviceNumber),
                  static_cast<unsigned>(CNA1_NO_LAYOUT), SDGetErrorString(CNA1_NO_LAYOUT));
        return CNA1_NO_LAYOUT;
    }
    if (run.layout.Regions.empty()) return fail(CNA1_NO_REGIONS, "No valid flash update region found!");
    std::vector<SD_UINT8> biosOri;
    if (const SD_UINT32 size = layout_size(run, kBootCode); size != 0) {
        try {
            biosOri.assign(size, 0);
        } catch (const std::bad_alloc&) {
            return fail(CNA1_NO_MEMORY, "Memory allocation error!");
        }
        SD_UINT32 got = 0;
        if (GetOptionROMRegionData(pDevice, biosOri, kBootCode, &got) != 0 || got != size) {
            scfxPrint("Unable to read boot code region of adapter %d (%s)!", static_cast<int>(pDevice->DeviceNumber),
                      run.model);
            return CNA1_BOOT_CODE_UNREADABLE;
        }
    }

    scfxDiagnosticsPrint("Validating Flash Image File... ");
    const SD_INT32 status = validate(run);
    std::vector<Write> plan;
    if (status != 0) {
        scfxPrint("Failed");
        validation_message(run, status);
        return status;
    }
    if (!plan_writes(run, plan)) {
        scfxPrint("Failed");
        scfxPrint("Incompatible flash image (Region size mismatched)!");
        return CNA1_NOT_ALL_REGIONS;
    }
    scfxPrint("Success");
    const bool all = g_ptrOptionROMRequest != nullptr && g_ptrOptionROMRequest->Region == OPTROM_REGION_ALL;
    if (!all || plan.empty()) {
        scfxPrint("Unable to complete flash update on HBA Instance %d. Not all regions updated (0 of %zu).",
                  static_cast<int>(pDevice->DeviceNumber), plan.size());
        return CNA1_NOT_ALL_REGIONS;
    }

    scfxPrint("Updating Flash on HBA instance %d - %8s. Please wait...", static_cast<int>(pDevice->DeviceNumber),
              run.model);
    unsigned written = 0;
    for (const Write& w : plan) {
        std::vector<SD_UINT8> buffer(w.layoutSize, 0xFF);
        std::copy_n(run.combined.begin() + w.offset, w.length, buffer.begin());
        if (w.withTable)
            std::copy_n(run.combined.begin(), ILT_Header_GetTableLength(run.combined), buffer.begin() + w.length);
        if (w.region == kBootCode && CorePreserveISPDefaults(pDevice, biosOri, buffer) != 0) {
            scfxPrint("Failed");
            break;
        }
        scfxDiagnosticsPrint("%s", progress_text(w.region));
        const SD_UINT32 st = AppUpdateOptionRomEx(pDevice, buffer, w.region, w.layoutSize, DisableReset);
        scfxPrint("%s", st == 0 ? "Success" : "Failed");
        OSSSleep(kSecondsAfterWrite);
        if (st != 0) break;
        ++written;
    }
    if (written != plan.size()) {
        scfxPrint("Unable to complete flash update on HBA Instance %d. Not all regions updated (%u of %zu).",
                  static_cast<int>(pDevice->DeviceNumber), written, plan.size());
        return CNA1_NOT_ALL_REGIONS;
    }
    scfxPrint("Flash update complete. Changes have been saved to all ports of this HBA.");
    return CNA1_SUCCESS;
}
