// What the converged-adapter engines share.
#include "engines/k7r_engine_common.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "core/image_file.h"
#include "core/host_info.h"
#include "core/input_file.h"
#include "core/oss_services.h"
#include "engines/engine_status.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/cli_settings.h"
#include "frontend/model_predicates.h"
#include "frontend/output.h"
#include "frontend/str_util.h"
#include "frontend/xml_output.h"
#include "image/ilt_accessors.h"
#include "image/option_rom_request.h"
#include "image/word_helpers.h"
#include "mgmt/sdapi.h"

namespace {

constexpr unsigned kSecondsAfterWrite = 5;

bool writes_table(SD_UINT32 region) {
    return region == CNA_REGION_FC_BOOT || region == CNA_REGION_NIC_BOOT || region == CNA_REGION_ISCSI_BOOT ||
           region == CNA_REGION_FCOE_BOOT;
}

}  // namespace

SD_UINT32 CnaRequestRegion() {
    return g_ptrOptionROMRequest != nullptr ? g_ptrOptionROMRequest->Region : OPTROM_REGION_STANDARD;
}

void CnaBuildModelText(const SDMDevice* pDevice, std::span<char, CNA_MODEL_SIZE> out) {
    std::fill(out.begin(), out.end(), '\0');
    if (pDevice == nullptr) return;
    char model[sizeof pDevice->DeviceNodeProperty.Model + 1] = {};
    std::memcpy(model, pDevice->DeviceNodeProperty.Model, sizeof pDevice->DeviceNodeProperty.Model);
    StripEndWhiteSpace(model, out.data(), out.size());
    out[out.size() - 1] = '\0';
    if (isSUNHBA(pDevice) != 0 && std::strstr(out.data(), "-S") == nullptr) {
        const std::size_t n = std::strlen(out.data());
        if (n + 2 < out.size()) std::memcpy(out.data() + n, "-S", 3);
    }
}

void CnaProgress(const char* text) {
    if (bXmlOutPut == 0) scfxDiagnosticsPrint("%s", text);
}

void CnaComplete(const char* word) {
    if (bXmlOutPut == 0) scfxPrint("%s", word);
}

void CnaStatusLine(SD_INT32 status, const char* format, ...) {
    char line[VORN_LINE_SIZE];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(line, sizeof line, format, ap);
    va_end(ap);
    if (bXmlOutPut != 0) {
        XML_EmitStatusMessageNoRebootOption(status, line, 0, 0);
        return;
    }
    scfxPrint("%s", line);
}

void CnaStartRun(CnaEngineRun& run, SDMDevice* pDevice, const char* pFlashImageFile) {
    run.device = pDevice;
    run.file = pFlashImageFile != nullptr ? pFlashImageFile : "";
    run.chipRev = static_cast<SD_UINT16>(GetAdapterChipRevision(pDevice));
    CnaBuildModelText(pDevice, run.model);
    run.ssdid = pDevice->DeviceChipProperty.SubSystemID;
    run.ssvid = pDevice->DeviceChipProperty.SubVendorID;
}

SD_INT32 CnaRefuseVirtualPort(const CnaEngineRun& run) {
    if (isVirtualPortHBA(run.device) == 0) return CNA_SUCCESS;
    const SD_UINT8* w = run.device->DevicePortProperty.WWN;
    CnaStatusLine(CNA_VIRTUAL_PORT,
                  "Option is not available with virtual port HBA (%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X)!", w[0],
                  w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
    return CNA_VIRTUAL_PORT;
}

SD_INT32 CnaReadImageFile(CnaEngineRun& run) {
    ImageFileOptions options;
    options.unwrapPackage = true;
    options.emptyIsNoMemory = true;
    switch (CoreReadImageFile(run.file, options, run.image)) {
        case ImageFileResult::Ok: break;
        case ImageFileResult::OpenFailed:
            CnaStatusLine(CNA_OPEN_FAILED, "Unable to open boot/multi-boot image file (%s)!", run.file);
            return CNA_OPEN_FAILED;
        case ImageFileResult::Corrupted:
            CnaStatusLine(CNA_FILE_CORRUPTED, "File %s appears to be corrupted!", run.file);
            return CNA_FILE_CORRUPTED;
        case ImageFileResult::NoMemory:
            CnaStatusLine(CNA_NO_MEMORY, "Memory allocation error!");
            return CNA_NO_MEMORY;
    }
    try {
        run.combined.assign(run.image.size(), 0);
    } catch (const std::bad_alloc&) {
        CnaStatusLine(CNA_NO_MEMORY, "Memory allocation error!");
        return CNA_NO_MEMORY;
    }
    return CNA_SUCCESS;
}

void CnaFillIdentifiers(CnaEngineRun& run) {
    sHbaIdentifiers& ids = run.ids;
    ids = sHbaIdentifiers{};
    ids.vendorId = run.ssvid;
    ids.deviceId = run.ssdid;
    ids.deviceNumber = run.device->DeviceNumber;
    ids.region = CnaRequestRegion();
    ids.bufSize = static_cast<SD_UINT32>(run.image.size());
    ids.deviceISP = run.device->DeviceChipProperty.DeviceID;
    ids.chipRev = run.chipRev;
    std::memcpy(ids.acHBAModel, run.device->DeviceNodeProperty.Model,
                std::min(sizeof ids.acHBAModel - 1, sizeof run.device->DeviceNodeProperty.Model));
}

SD_INT32 CnaReadLayout(CnaEngineRun& run) {
    SD_UINT32 unused = 0;
    const SD_UINT32 st = GetOptionRomRegionLayout(run.device, &run.layout, 0, &unused);
    if (st == REGIO_BUFFER_FAILED) {
        CnaStatusLine(CNA_NO_MEMORY, "Memory allocation error!");
        return CNA_NO_MEMORY;
    }
    if (st != 0) {
        CnaStatusLine(CNA_NO_LAYOUT, "Flash update is not supported with HBA %d (0x%x %s)!",
                      static_cast<int>(run.device->DeviceNumber), static_cast<unsigned>(CNA_NO_LAYOUT),
                      SDGetErrorString(static_cast<SD_UINT32>(CNA_NO_LAYOUT)));
        return CNA_NO_LAYOUT;
    }
    if (run.layout.Regions.empty()) {
        CnaStatusLine(CNA_NO_REGIONS, "No valid flash update region found!");
        return CNA_NO_REGIONS;
    }
    return CNA_SUCCESS;
}

SD_UINT32 CnaLayoutSize(const CnaEngineRun& run, SD_UINT32 region) {
    for (const SDM_OPT_ROM_REGION& r : run.layout.Regions)
        if (r.Region == region) return r.Size;
    return 0;
}

SD_INT32 CnaReadCurrentRegion(CnaEngineRun& run, SD_UINT32 region, const char* what, std::vector<SD_UINT8>& out) {
    out.clear();
    const SD_UINT32 size = CnaLayoutSize(run, region);
    if (size == 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "CnaReadCurrentRegion: no region 0x%x in the layout", region);
        return CNA_SUCCESS;
    }
    try {
        out.assign(size, 0);
    } catch (const std::bad_alloc&) {
        CnaStatusLine(CNA_NO_MEMORY, "Memory allocation error!");
        return CNA_NO_MEMORY;
    }
    SD_UINT32 got = 0;
    if (GetOptionROMRegionData(run.device, out, region, &got) != 0 || got != size) {
        out.clear();
        CnaStatusLine(CNA_BOOT_CODE_UNREADABLE, "Unable to read %s region of adapter %d (%s)!", what,
                      static_cast<int>(run.device->DeviceNumber), run.model.data());
        return CNA_BOOT_CODE_UNREADABLE;
    }
    return CNA_SUCCESS;
}

std::vector<CnaPlannedWrite> CnaPlanWrites(const CnaEngineRun& run, std::span<const SD_UINT32> sequence,
                                           const CnaEntryFilter& filter) {
    std::vector<CnaPlannedWrite> plan;
    if (CnaRequestRegion() != CNA_ALL_REGIONS) {
        VORNLogMessage(VORN_MSG_DEBUG, "CnaPlanWrites: request for region 0x%x, no region written", CnaRequestRegion());
        return plan;
    }
    const IltBytes table(run.combined);
    const int entries = static_cast<int>(ILT_Header_GetNumOfRegionEntries(table)) - 1;
    for (const SD_UINT32 code : sequence) {
        if (code == 0) continue;
        const SD_UINT32 layoutSize = CnaLayoutSize(run, code);
        for (int i = 0; i < entries; ++i) {
            const auto entry = ILT_Region_GetRegionByIndex(table, static_cast<SD_UINT16>(i));
            // Entries past the image: so are all that follow, however many the header counts.
            if (!entry) break;
            if (entry->regionType != code || !filter(code, *entry)) continue;
            if (layoutSize == 0) {
                VORNLogMessage(VORN_MSG_DEBUG, "CnaPlanWrites: region 0x%x is not in the adapter's layout", code);
                continue;
            }
            CnaPlannedWrite w;
            w.region = code;
            w.entry = *entry;
            w.offset = HLPR_GetDoubleWord(entry->offsetLo, entry->offsetHi);
            w.length = HLPR_GetDoubleWord(entry->sizeLo, entry->sizeHi);
            w.layoutSize = layoutSize;
            w.withTable = writes_table(code);
            plan.push_back(w);
        }
    }
    return plan;
}

SD_INT32 CnaCheckPlanFits(const CnaEngineRun& run, std::span<const CnaPlannedWrite> plan) {
    const std::uint64_t table = ILT_Header_GetTableLength(run.combined);
    for (const CnaPlannedWrite& w : plan) {
        const std::uint64_t need = std::uint64_t{w.length} + (w.withTable ? table : 0);
        const bool inside = std::uint64_t{w.offset} + w.length <= run.combined.size() && table <= run.combined.size();
        if (!inside || need > w.layoutSize) {
            VORNLogMessage(VORN_MSG_DEBUG,
                           "CnaCheckPlanFits: region 0x%x needs 0x%llx bytes from 0x%x, flash region holds 0x%x%s",
                           w.region, static_cast<unsigned long long>(need), w.offset, w.layoutSize,
                           inside ? "" : " (past the image)");
            return -4;
        }
    }
    return 0;
}

void CnaBuildRegionBuffer(const CnaEngineRun& run, const CnaPlannedWrite& w, std::span<SD_UINT8> buffer) {
    std::fill(buffer.begin(), buffer.end(), SD_UINT8{0xFF});
    const auto data = std::span<const SD_UINT8>(run.combined).subspan(w.offset, w.length);
    std::copy(data.begin(), data.end(), buffer.begin());
    if (w.withTable) {
        const std::size_t table = ILT_Header_GetTableLength(run.combined);
        std::copy_n(run.combined.begin(), table, buffer.begin() + w.length);
    }
}

SD_UINT16 CnaRunRegionLoop(const CnaEngineRun& run, std::span<const CnaPlannedWrite> plan,
                           const std::function<const char*(SD_UINT32)>& text, const CnaPrepare& prepare,
                           const CnaWrite& write, const CnaWriteOk& written, SD_INT32* status) {
    SD_UINT16 count = 0;
    *status = CNA_SUCCESS;
    for (const CnaPlannedWrite& w : plan) {
        std::vector<SD_UINT8> buffer;
        try {
            buffer.assign(w.layoutSize, 0xFF);
        } catch (const std::bad_alloc&) {
            VORNLogMessage(VORN_MSG_DEBUG, "CnaRunRegionLoop: no buffer for region 0x%x", w.region);
            continue;
        }
        CnaBuildRegionBuffer(run, w, buffer);
        if (prepare && prepare(w, buffer) != 0) {
            CnaComplete("Failed");
            *status = CNA_PREPARE_FAILED;
            break;
        }
        CnaProgress(text(w.region));
        const SD_UINT32 st = write(w, buffer);
        if (written(st)) {
            CnaComplete("Success");
            ++count;
        } else {
            CnaComplete("Failed");
            VORNLogMessage(VORN_MSG_DEBUG, "CnaRunRegionLoop: region 0x%x answered 0x%x", w.region, st);
            *status = st != 0 ? static_cast<SD_INT32>(st) : CNA_PREPARE_FAILED;
        }
        OSSSleep(kSecondsAfterWrite);
        if (*status != CNA_SUCCESS) break;
    }
    return count;
}

void CnaNotAllRegionsMessage(const CnaEngineRun& run, unsigned written, unsigned required) {
    CnaStatusLine(CNA_NOT_ALL_REGIONS,
                  "Unable to complete flash update on HBA Instance %d. Not all regions updated (%u of %u).",
                  static_cast<int>(run.device->DeviceNumber), written, required);
}

CnaValidationEnd CnaEndValidation(const CnaEngineRun& run, SD_INT32 status, bool tooLarge) {
    if (tooLarge) {
        CnaComplete("Failed");
        CnaRegionSizeMessage();
        return {false, CNA_NOT_ALL_REGIONS};
    }
    std::array<char, ENGINE_MESSAGE_SIZE> message{};
    const EngineValidationArgs args{run.file, run.device->DeviceNumber, run.model.data(), run.ssdid, run.ssvid};
    const EngineValidationResult checked = EngineValidationFinish(EngineStatusFamily::Converged, status, args, message);
    return {checked.ready, checked.status};
}

void CnaAnnounceUpdate(CnaEngineRun& run) {
    if (GetNumberOfPortsOnThisHBA(run.device) < 2)
        CnaStatusLine(0, "Updating Flash on HBA instance %d - %8s. Please wait...",
                      static_cast<int>(run.device->DeviceNumber), run.model.data());
    else
        CnaStatusLine(0, "Updating Flash on HBA port(s) - %8s. Please wait...", run.model.data());
    run.image.clear();
    run.image.shrink_to_fit();
}

void CnaRegionSizeMessage() {
    CnaStatusLine(CNA_NOT_ALL_REGIONS, "Incompatible flash image (Region size mismatched)!");
}

void CnaFinalMessage(const CnaEngineRun& run, SD_INT32 vpdStatus, SD_UINT16 disableReset) {
    const bool severalPorts = GetNumberOfPortsOnThisHBA(run.device) >= 2;
    if (vpdStatus != 0) {
        if (severalPorts)
            CnaStatusLine(0, "Flash update complete on this HBA with errors in version updates in VPD.");
        else
            CnaStatusLine(0, "Flash update complete on HBA instance %d - %s with errors in version updates in VPD.",
                          static_cast<int>(run.device->DeviceNumber), run.model.data());
        return;
    }
    if (disableReset != 0) {
        CnaStatusLine(0, "Flash update complete. Changes have been saved to all ports of this HBA.");
        CnaStatusLine(0, "You must reboot in order for the changes to become effective.");
    } else if (severalPorts) {
        CnaStatusLine(0, "Option ROM update complete. Changes have been saved to both ports of this HBA.");
        CnaStatusLine(0, "You must reboot in order for changes to take effect.");
    } else {
        CnaStatusLine(0, "Flash update complete. Changes have been saved to all ports of this HBA.");
    }
}
