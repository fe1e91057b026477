// The single-region option-ROM update.
#include "engines/option_rom_region_update.h"

#include <new>
#include <string>
#include <vector>

#include "core/chip_types.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/adapter_model_text.h"
#include "frontend/file_util.h"
#include "frontend/model_predicates.h"
#include "frontend/output.h"
#include "image/option_rom_request.h"
#include "image/option_rom_validation.h"
#include "image/region_io.h"
#include "mgmt/sdapi.h"

namespace {

constexpr SD_UINT32 kRegionBootCode = 0x07;
constexpr SD_UINT32 kRegionBootAndFirmware = 0x05;
constexpr SD_UINT32 kRegionFirmware = 0x01;
// Where the firmware lies in a whole multiboot image.
constexpr std::size_t kMultibootFirmwareOffset = 0x80000;

struct RegionWrite {
    SD_UINT32 region;
    std::size_t from;   // offset in the buffer
    std::size_t size;
};

void WrongSize(const char* file, const SDMDevice* port, const std::string& model) {
    scfxPrint("%s is not an acceptable flash data file for this HBA (Instance %d - %s), wrong size!", file,
              static_cast<int>(port->DeviceNumber), model.c_str());
}

// The file check's refusal, one output-file line.
void ReportCheck(int status, const char* file, const SDMDevice* port, const std::string& model, SD_UINT16 ssdid,
                 SD_UINT16 ssvid) {
    const int instance = static_cast<int>(port->DeviceNumber);
    switch (status) {
        case 11:
            scfxPrint("Incorrect flash file for HBA %d - %s (SSDID/SSVID mismatched)!", instance, model.c_str());
            break;
        case 12: case 25: case 29:
            scfxPrint("Incorrect flash file, invalid checksum!");
            break;
        case 22: scfxPrint("File %s does not have valid signature header!", file); break;
        case 23: scfxPrint("File %s does not have valid signature data!", file); break;
        case 27: case 30:
            scfxPrint("%s is not an acceptable flash FW file for this HBA (Instance %d - %s), wrong size!", file,
                      instance, model.c_str());
            break;
        case 31:
            scfxPrint("%s is not an acceptable flash boot code file for this HBA (Instance %d - %s), wrong size!", file,
                      instance, model.c_str());
            break;
        case 32: WrongSize(file, port, model); break;
        default:
            scfxPrint("Incorrect flash image for HBA instance %lu (%s)(ssdid=0x%x ssvid=0x%x)!",
                      static_cast<unsigned long>(port->DeviceNumber), model.c_str(), ssdid, ssvid);
            break;
    }
}

// The writes of the request: for a whole multiboot image the boot-code and
// combined regions from the start of the image and the firmware region from
// its firmware offset, each computed on its own; else the requested region
// whole. False when a write would take bytes the file does not hold.
bool PlanWrites(const SDMOptRomLayoutCopy& layout, SD_UINT32 request, std::size_t fileSize, std::size_t bufferSize,
                std::vector<RegionWrite>* plan) {
    for (const SDM_OPT_ROM_REGION& r : layout.Regions) {
        RegionWrite w{r.Region, 0, r.Size};
        if (request == OPTROM_REGION_ALL) {
            if (r.Region == kRegionFirmware) w.from = kMultibootFirmwareOffset;
            else if (r.Region != kRegionBootCode && r.Region != kRegionBootAndFirmware) continue;
            if (w.from > fileSize || w.size > fileSize - w.from) return false;
        } else if (r.Region != request) {
            continue;
        } else if (w.size > bufferSize) {
            return false;
        }
        plan->push_back(w);
    }
    return true;
}

}  // namespace

SD_INT32 OptionROMRegionUpdate(SDMDevice* pDevice, const char* ROMFileName) {
    if (pDevice == nullptr) {
        scfxPrint("Unable to find the selected HBA!");
        return OPTROM_UPD_NO_DEVICE;
    }
    const char* file = ROMFileName != nullptr ? ROMFileName : "";
    const std::string model = GetAdapterModelText(pDevice);
    const SD_UINT16 ssdid = GetNvramSubSystemID(pDevice);
    const SD_UINT16 ssvid = GetNvramSubVendorID(pDevice);
    const int instance = static_cast<int>(pDevice->DeviceNumber);

    uint32_t fileSize = 0;
    if (const int st = getFileSize(file, &fileSize); st != 0) {
        if (st == 1) {
            scfxPrint("Unable to open file %s!", file);
            return OPTROM_UPD_OPEN_FAILED;
        }
        scfxPrint("File %s appears to be corrupted!", file);
        return OPTROM_UPD_FILE_CORRUPTED;
    }
    std::vector<SD_UINT8> image;
    try {
        image.assign(fileSize, 0);
    } catch (const std::bad_alloc&) {
        scfxPrint("Memory allocation error!");
        return OPTROM_UPD_NO_MEMORY;
    }
    SD_UINT32 got = fileSize;
    if (const int st = validateOptionROMFile(file, image, &got); st != 0 || got != fileSize) {
        if (st == 1) {
            scfxPrint("Unable to open file %s!", file);
            return OPTROM_UPD_OPEN_FAILED;
        }
        // Changed since it was sized, or unreadable: not the file that was asked for.
        scfxPrint("File %s appears to be corrupted!", file);
        return OPTROM_UPD_FILE_CORRUPTED;
    }

    SDMOptRomLayoutCopy layout;
    const SD_UINT32 request = g_ptrOptionROMRequest != nullptr ? g_ptrOptionROMRequest->Region : 0;
    SD_UINT32 regionSize = 0;
    if (const SD_UINT32 st = GetOptionRomRegionLayout(pDevice, &layout, request, &regionSize); st != 0) {
        if (st == REGIO_BUFFER_FAILED) {
            scfxPrint("Unable to allocate memory !");
            return OPTROM_UPD_NO_MEMORY;
        }
        scfxPrint("Flash update is not supported with HBA %d (0x%x %s)!", instance, st, model.c_str());
        return OPTROM_UPD_NOT_SUPPORTED;
    }
    if (layout.Regions.empty()) {
        // An adapter without regions has had nothing written: never a success.
        scfxPrint("No valid flash update region found!");
        return OPTROM_UPD_NOT_SUPPORTED;
    }
    if (regionSize == 0 || fileSize > regionSize) {
        WrongSize(file, pDevice, model);
        return OPTROM_DATA_WRONG_SIZE;
    }

    std::vector<SD_UINT8> buffer;
    try {
        buffer.assign(regionSize, 0);
    } catch (const std::bad_alloc&) {
        scfxPrint("Memory allocation error!");
        return OPTROM_UPD_NO_MEMORY;
    }
    // The bytes past the file keep the adapter's own contents: without them
    // the update does not go on.
    if (const SD_UINT32 st = getHBAOptionROMInfos(pDevice, buffer, request); st != 0) {
        scfxPrint("Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!", instance, st,
                  "Unable to read the flash region");
        return OPTROM_UPD_FAILED;
    }

    const int check = validateUpdateMultibootOptionROM(ssdid, ssvid, image, model.c_str(),
                                                       pDevice->DeviceChipProperty.DeviceID, 0);
    if (check != 0 && check != 28) {
        ReportCheck(check, file, pDevice, model, ssdid, ssvid);
        return check;
    }
    const SD_UINT32 writeRegion = g_ptrOptionROMRequest != nullptr ? g_ptrOptionROMRequest->Region : request;
    std::vector<RegionWrite> plan;
    if (!PlanWrites(layout, writeRegion, image.size(), buffer.size(), &plan)) {
        WrongSize(file, pDevice, model);
        return OPTROM_DATA_WRONG_SIZE;
    }

    if (CoreGetISPType(pDevice) < 8 || QueryHBAType(pDevice) == 0)
        VORNLogMessage(VORN_MSG_INFO, "Updating Flash on HBA instance %d - %8s. Please wait...", instance,
                       model.c_str());
    else
        VORNLogMessage(VORN_MSG_INFO, "Updating Flash on HBA port(s) - %8s. Please wait...", model.c_str());
    std::copy(image.begin(), image.end(), buffer.begin());
    // A whole multiboot image is written from the file itself, so that every
    // region's bytes come from where the plan says.
    const std::span<const SD_UINT8> source =
        writeRegion == OPTROM_REGION_ALL ? std::span<const SD_UINT8>(image) : std::span<const SD_UINT8>(buffer);

    SD_UINT32 last = SDERR_SUCCESS;
    bool written = false, needsReboot = false;
    for (const RegionWrite& w : plan) {
        last = SDUpdateOptionRomEx(pDevice->DeviceHandle, 0, source.subspan(w.from, w.size), w.region);
        VORNLogMessage(VORN_MSG_DEBUG, "OptionROMRegionUpdate: Region 0x%x (%zu bytes from 0x%zx) returns 0x%x",
                       w.region, w.size, w.from, last);
        if (last != SDERR_SUCCESS && last != SDERR_FLASHED_NOT_ACTIVATED) break;
        written = true;
        if (last == SDERR_FLASHED_NOT_ACTIVATED) needsReboot = true;
    }
    if (!written || (last != SDERR_SUCCESS && last != SDERR_FLASHED_NOT_ACTIVATED)) {
        scfxPrint("Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!", instance, last,
                  SDGetErrorString(last));
        return OPTROM_UPD_FAILED;
    }
    static constexpr const char* kDone =
        "Option ROM update complete. Changes have been saved to both ports of this HBA.\n"
        "You must reboot in order for changes to take effect.";
    scfxPrint("%s", kDone);
    VORNLogMessage(VORN_MSG_INFO, "%s", kDone);
    return needsReboot ? OPTROM_UPD_NEEDS_REBOOT : 0;
}
