// On-line flash update of chip-type-27 adapters.
#include "engines/vrel_online_update.h"

#include <array>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/image_file.h"
#include "core/active_regions.h"
#include "core/flash_read_buffer.h"
#include "core/host_info.h"
#include "core/image_status.h"
#include "core/input_file.h"
#include "core/oss_services.h"
#include "engines/engine_status.h"
#include "engines/vrel_image_status.h"
#include "engines/vrel_region_writes.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/cli_settings.h"
#include "frontend/model_predicates.h"
#include "frontend/output.h"
#include "frontend/xml_output.h"
#include "image/card_types.h"
#include "image/flash_memo_block.h"
#include "image/flash_update_queries.h"
#include "image/image_combination.h"
#include "image/image_layout_table.h"
#include "image/image_validation_multiboot.h"
#include "image/image_validation_region_fit.h"
#include "image/image_validation_whole.h"
#include "image/option_rom_request.h"
#include "image/region_sequences.h"
#include "mgmt/sdapi.h"

namespace {

constexpr SD_UINT32 kBootPrimary = 0x07;
constexpr SD_UINT32 kBootSecondary = 0x09;
constexpr SD_UINT32 kFcBoardConfig = 0xBA;
constexpr SD_UINT32 kFcBoardConfigSecondary = 0x10B;
constexpr int kSessionWaitMinutes = 15;

std::string model_of(const SDMDevice* device) {
    const char* model = device->DeviceNodeProperty.Model;
    return std::string(model, strnlen(model, sizeof device->DeviceNodeProperty.Model));
}

// A refusal before the session: to the XML emitter while its flag is set.
void refuse(SD_INT32 status, const char* format, ...) __attribute__((format(printf, 2, 3)));
void refuse(SD_INT32 status, const char* format, ...) {
    char text[ENGINE_MESSAGE_SIZE];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (bXmlOutPut != 0) {
        XML_EmitStatusMessageNoRebootOption(status, text, 0, 0);
        return;
    }
    scfxPrint("%s", text);
}

// Reads the whole file: 0, 1 (cannot be opened or is no regular file), 33
// (its size cannot be told or it cannot be read whole), 115.
SD_INT32 read_file(const char* path, std::vector<SD_UINT8>& bytes) {
    ImageFileOptions options;
    options.maxSize = INT32_MAX;  // the image length is kept as a signed 32-bit count
    switch (CoreReadImageFile(path, options, bytes)) {
        case ImageFileResult::Ok: return 0;
        case ImageFileResult::OpenFailed:
            refuse(VREL_OPEN_FAILED, "Unable to open boot/multi-boot image file (%s)!", path);
            return VREL_OPEN_FAILED;
        case ImageFileResult::Corrupted:
            refuse(VREL_FILE_CORRUPTED, "File %s appears to be corrupted!", path);
            return VREL_FILE_CORRUPTED;
        case ImageFileResult::NoMemory: break;
    }
    refuse(VREL_NO_MEMORY, "Memory allocation error!");
    return VREL_NO_MEMORY;
}

// Reads an active region into a copy of its layout size; a region the
// layout lacks leaves the copy empty. 0, 115 or 36 (also when the library
// holds the region smaller than the layout said: its copy would not be whole).
SD_INT32 copy_active_region(SDMDevice* device, const SDMOptRomLayoutCopy& layout, SD_UINT32 code,
                            FlashReadBuffer& copy) {
    copy.Release();
    const SDM_OPT_ROM_REGION* region = VrelFindLayoutRegion(layout, code);
    if (region == nullptr) return 0;
    if (!copy.Allocate(region->Size)) {
        refuse(VREL_NO_MEMORY, "Memory allocation error!");
        return VREL_NO_MEMORY;
    }
    const SD_UINT32 status = FlashReadWhole(device->DeviceHandle, code, copy);
    if (status != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "VrelOnlineFlashUpdate: Read of region 0x%x failed 0x%x (%s)", code, status,
                       SDGetErrorString(status));
        return VREL_LAYOUT_UNREADABLE;
    }
    return 0;
}

// Every code the walk will write must have its counterpart in the layout, as
// large as the code's own region (the size every buffer is made of).
bool counterparts_fit(const SDMOptRomLayoutCopy& layout, std::span<const SD_UINT32> order,
                      const SD_ACTIVE_REGIONS& active) {
    for (const SD_UINT32 code : order) {
        const SDM_OPT_ROM_REGION* own = code != 0 ? VrelFindLayoutRegion(layout, code) : nullptr;
        if (own == nullptr) continue;
        const SD_UINT32 alternate = CoreGetAlternateRegion(code, &active);
        const SDM_OPT_ROM_REGION* other = VrelFindLayoutRegion(layout, alternate);
        if (other == nullptr || other->Size != own->Size) {
            VORNLogMessage(VORN_MSG_DEBUG, "VrelOnlineFlashUpdate: Region 0x%x has no counterpart 0x%x of its size",
                           code, alternate);
            return false;
        }
    }
    return true;
}

struct Validation {
    SD_INT32 status = 0;
    SD_INT16 cardType = CARD_TYPE_NONE;
    std::vector<CombinedEntryBytes> kept;   // entries written from their own bytes instead
};

// The validation chain, up to the region sizes; its status goes to EngineValidationFinish.
Validation validate(std::span<SD_UINT8> image, std::vector<SD_UINT8>& combined, std::span<const SD_UINT32> order,
                    const SDMOptRomLayoutCopy& layout, const SD_ACTIVE_REGIONS& active, const sHbaIdentifiers& ids,
                    FlashComponentVersion* versions) {
    Validation v;
    const SD_UINT16 chipRev = ids.chipRev;
    if ((v.status = ValidateVrelILTImageRegionsToUpdate(image, order, static_cast<SD_UINT16>(order.size() - 1),
                                                        chipRev)) != 0)
        return v;
    if ((v.status = ValidateVrelILTImageHeader(ids.deviceId, ids.vendorId, image, chipRev)) != 0) return v;
    v.cardType = ILT_TorviCardTypeList_GetMyCardTypeFromCardList(image, ids.deviceId, ids.vendorId);
    if (v.cardType == CARD_TYPE_NONE) {
        v.status = ENGINE_VALIDATION_NO_CARD_TYPE;
        return v;
    }
    // The image as one set for this adapter, before any component is read or combined.
    if ((v.status = ValidateImageSetAsWhole(image, v.cardType, chipRev, layout.Regions,
                                            {IMAGE_SET_NEEDS_VREL, VrelWritesType})) != 0)
        return v;
    const SD_INT8 count = HowManyImagesForCardTypeGeneric(image, v.cardType, chipRev);
    const SD_INT8 verified =
        ValidateVrelImageComponents(image, static_cast<SD_UINT16>(count), v.cardType, versions, ids);
    if (count < 0 || verified != count) {
        v.status = ENGINE_VALIDATION_COMPONENT_COUNT;
        return v;
    }
    const SD_INT16 merged =
        CombineVrelImageComponentsInBuffer(combined, image, static_cast<SD_UINT16>(count), v.cardType, ids, chipRev);
    if (merged != count || CombineSharedEntries(image, combined, v.cardType, chipRev, ids, CombineVrelImage,
                                                VrelWritesType, &v.kept) != 0) {
        v.status = ENGINE_VALIDATION_COMBINE_COUNT;
        return v;
    }
    for (const SD_UINT32 code : order) {
        const SDM_OPT_ROM_REGION* region = code != 0 ? VrelFindLayoutRegion(layout, code) : nullptr;
        if (region == nullptr) continue;
        if ((v.status = ValidateILTRegionLen(combined, code, region->Size)) != 0) return v;
    }
    // Every entry (not only the first of its code) and the boot code with the
    // table appended must fit its region, and the region must have a counterpart.
    if (ValidateImageRegionsFitLayout(combined, order, layout.Regions, v.cardType, chipRev) != 0 ||
        !counterparts_fit(layout, order, active))
        v.status = ENGINE_VALIDATION_REGION_TOO_LARGE;
    return v;
}

// Image status, auxiliary status and then the memo block, only after a
// complete walk. The memo block of the new set goes last (docs/image-set-switch.md):
// until it says the new version, a run cut off anywhere among the records
// finds the set it boots still old and writes the update again, which leaves
// both record pairs clean; a memo block written first would make that rerun
// a "not required" over records left half switched.
// With the records held on what runs before the first write, both switches
// are built from the records as the walk found them, and the memo block from
// the set's block as found before its hold. A walk that wrote no board
// configuration puts the auxiliary records back as it found them instead.
// A lockdown met at any of these writes ends the run as at a component's.
SD_INT32 write_status_records(SDMDevice* device, SD_ACTIVE_REGIONS* active, SD_UINT32 updateSet,
                              const FlashComponentVersion& versions, const VrelWriteResult& walk, int instance,
                              const std::string& model, std::span<char> message) {
    OSSSleep(4);
    SD_UINT32 answer = 0;
    const auto failed = [&](SD_INT32 st) {
        return answer == SDERR_LOCKDOWN ? VrelLockdownFailure(instance, model, message) : st;
    };
    if (const SD_INT32 st = VrelWriteImageStatus(device, active, message, &walk.imageStatusFound, &answer); st != 0)
        return failed(st);
    if (walk.boardConfigHandled) {
        if (const SD_INT32 st = VrelWriteAuxImageStatus(device, active, AUX_COMPONENT_BOARD_CONFIG, message,
                                                        &walk.auxStatusFound, &answer);
            st != 0)
            return failed(st);
    } else if (const SD_INT32 st = VrelRestoreAuxImageStatus(device, *active, walk.auxStatusFound, message, &answer);
               st != 0) {
        return failed(st);
    }
    // The block of the set just written, named explicitly. Its own "Failed"
    // is the last line of a failure here: the records' item lines before it
    // succeeded, so none of them is repeated as the closing message.
    message[0] = '\0';
    const int memo = UpdateVrelFlashMemoBlockRegion(
        device, &versions, updateSet, walk.memoHeld ? std::span<const SD_UINT8>(walk.memoFound) : std::span<const SD_UINT8>{},
        &answer);
    if (memo != 0) return failed(memo);
    OSSSleep(5);
    return 0;
}

}  // namespace

SD_INT32 VrelOnlineFlashUpdate(SDMDevice* pDevice, const char* pFlashImageFile, SD_UINT16 DisableReset,
                               SD_UINT32 uPrimaryOnly) {
    if (pDevice == nullptr) return VREL_NO_DEVICE;
    const int instance = static_cast<int>(pDevice->DeviceNumber);
    const std::string model = model_of(pDevice);
    const char* fileName = pFlashImageFile != nullptr ? pFlashImageFile : "";
    VORNLogMessage(VORN_MSG_DEBUG, "VrelOnlineFlashUpdate: Enter HBA %d (%s) file=%s DisableReset=%u PrimaryOnly=%u",
                   instance, model.c_str(), fileName, DisableReset, uPrimaryOnly);
    if (isVirtualPortHBA(pDevice) != 0) {
        const SD_UINT8* w = pDevice->DevicePortProperty.WWN;
        refuse(VREL_VIRTUAL_PORT, "Option is not available with virtual port HBA (%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X)!",
               w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
        return VREL_VIRTUAL_PORT;
    }

    // ---- Identity and capability ----
    const SD_UINT16 pciSsdid = pDevice->DeviceChipProperty.SubSystemID;
    const SD_UINT16 pciSsvid = pDevice->DeviceChipProperty.SubVendorID;
    const SD_UINT16 nvramSsdid = GetNvramSubSystemID(pDevice);
    const SD_UINT16 nvramSsvid = GetNvramSubVendorID(pDevice);
    if (pciSsvid != nvramSsvid) {
        refuse(VREL_SSID_MISMATCH, "Adapter subsystem vendor Id mismatched (pci ssvid=0x%x nvram ssvid=0x%x", pciSsvid,
               nvramSsvid);
        return VREL_SSID_MISMATCH;
    }
    if (pciSsdid != nvramSsdid) {
        refuse(VREL_SSID_MISMATCH, "Adapter subsystem device Id mismatched (pci ssdid=0x%x nvram ssdid=0x%x", pciSsdid,
               nvramSsdid);
        return VREL_SSID_MISMATCH;
    }
    const SD_UINT16 chipRev = static_cast<SD_UINT16>(GetAdapterChipRevision(pDevice));
    auto ids = std::make_unique<sHbaIdentifiers>();
    ids->vendorId = pciSsvid;
    ids->deviceId = pciSsdid;
    ids->deviceNumber = pDevice->DeviceNumber;
    ids->region = g_ptrOptionROMRequest != nullptr ? g_ptrOptionROMRequest->Region : 0;
    ids->deviceISP = pDevice->DeviceChipProperty.DeviceID;
    ids->chipRev = chipRev;
    std::snprintf(ids->acHBAModel, sizeof ids->acHBAModel, "%s", model.c_str());
    SD_UINT64 capability = 0;
    if (SDGetFlashUpdateCapabilities(pDevice->DeviceHandle, 0, &capability) != 0) {
        refuse(VREL_UNSUPPORTED, "Option is unsupported with this HBA (instance %lu - %s)!",
               static_cast<unsigned long>(pDevice->DeviceNumber), model.c_str());
        return VREL_UNSUPPORTED;
    }

    // ---- The image, after any firmware-package header ----
    std::vector<SD_UINT8> image;
    {
        std::vector<SD_UINT8> file;
        if (const SD_INT32 st = read_file(fileName, file); st != 0) return st;
        std::size_t header = 0;
        if (CoreIsPLDMFwImage(file) != 0) header = CoreGetPLDMFwImageHeaderSize(file);
        if (header > file.size()) header = file.size();
        try {
            image.assign(file.begin() + static_cast<long>(header), file.end());
        } catch (const std::bad_alloc&) {
            refuse(VREL_NO_MEMORY, "Memory allocation error!");
            return VREL_NO_MEMORY;
        }
    }
    std::vector<SD_UINT8> combined;
    try {
        combined.assign(image.size(), 0);
    } catch (const std::bad_alloc&) {
        refuse(VREL_NO_MEMORY, "Memory allocation error!");
        return VREL_NO_MEMORY;
    }

    // ---- Image sets and layout ----
    auto versions = std::make_unique<FlashComponentVersion>();
    SD_ACTIVE_REGIONS active{};
    if (const int st = CoreGetActiveRegions(pDevice, &active); st != 0) return st;
    // Writing "the other set" of an unknown one could overwrite the set the
    // adapter runs: refuse before anything is written.
    if (active.ActiveGlobalRegions != 1 && active.ActiveGlobalRegions != 2) {
        refuse(CORE_FLASH_STATUS_UNREADABLE, "Unable to determine the active image set of HBA instance %d - %s!",
               instance, model.c_str());
        return CORE_FLASH_STATUS_UNREADABLE;
    }
    const SD_UINT32 updateSet = active.ActiveGlobalRegions == 1 ? REGION_SET_SECONDARY : REGION_SET_PRIMARY;
    const SD_UINT32 activeBootRegion = updateSet == REGION_SET_SECONDARY ? kBootPrimary : kBootSecondary;
    // The copy whose settings carry over is the one the board-configuration
    // write does not go to.
    const SD_UINT32 activeBoardRegion =
        CoreGetAlternateRegion(kFcBoardConfig, &active) == kFcBoardConfig ? kFcBoardConfigSecondary : kFcBoardConfig;
    VORNLogMessage(VORN_MSG_DEBUG, "VrelOnlineFlashUpdate: Active set %u, update set %u, boot 0x%x, board 0x%x",
                   active.ActiveGlobalRegions, updateSet, activeBootRegion, activeBoardRegion);

    SDMOptRomLayoutCopy layout;
    SD_UINT32 layoutSize = 0;
    const SD_UINT32 layoutStatus = GetOptionRomRegionLayout(pDevice, &layout, 0xFF, &layoutSize);
    if (layoutStatus != 0 || layout.Regions.empty()) {
        refuse(static_cast<SD_INT32>(layoutStatus), "Unable to validate flash layout tables of HBA instance %d - %s!",
               instance, model.c_str());
        return layoutStatus != 0 ? static_cast<SD_INT32>(layoutStatus) : VREL_LAYOUT_UNREADABLE;
    }
    // For the debug log only.
    VORNLogMessage(VORN_MSG_DEBUG, "VrelOnlineFlashUpdate: flash layout version %u",
                   GetAdapterFlashLayoutVersion(pDevice));
    FlashReadBuffer activeBoot;
    FlashReadBuffer activeBoard;
    if (const SD_INT32 st = copy_active_region(pDevice, layout, activeBootRegion, activeBoot); st != 0) {
        if (st == VREL_LAYOUT_UNREADABLE)
            refuse(st, "Unable to read FC boot code region of adapter %d (%s)!", instance, model.c_str());
        return st;
    }
    if (const SD_INT32 st = copy_active_region(pDevice, layout, activeBoardRegion, activeBoard); st != 0) {
        if (st == VREL_LAYOUT_UNREADABLE)
            refuse(st, "Unable to read FC Brd config region of adapter %d (%s)!", instance, model.c_str());
        return st;
    }
    std::array<SD_UINT32, REGION_SEQ_VREL_SIZE> order{};
    InitOnlineFlashUpdateSequenceForVrelAdapter(order, chipRev, REGION_SET_PRIMARY);

    // ---- Validation chain ----
    std::array<char, ENGINE_MESSAGE_SIZE> message{};
    EngineValidationBegin();
    const Validation checked = validate(image, combined, order, layout, active, *ids, versions.get());
    const EngineValidationArgs args{fileName, static_cast<SD_UINT32>(instance), model.c_str(), pciSsdid, pciSsvid};
    const EngineValidationResult verdict =
        EngineValidationFinish(EngineStatusFamily::Multiboot, checked.status, args, message);
    if (!verdict.ready) return verdict.status;
    SD_INT32 status = verdict.status;

    // ---- Session ----
    if (GetNumberOfPortsOnThisHBA(pDevice) < 2)
        scfxPrint("Updating Flash on HBA instance %d - %8s. Please wait...", instance, model.c_str());
    else
        scfxPrint("Updating Flash on HBA port(s) - %8s. Please wait...", model.c_str());
    std::vector<SD_UINT8>().swap(image);
    SD_INT32 token = 0;
    const SD_UINT32 started = SDStartFlashUpdate(pDevice->DeviceHandle, 0, &token);
    if (started == SDERR_SESSION_IN_PROGRESS) {
        scfxPrint("Flash update session in progress, please wait %d minutes and try again.", kSessionWaitMinutes);
        return VREL_SESSION_IN_PROGRESS;
    }
    if (started != 0)
        VORNLogMessage(VORN_MSG_DEBUG, "VrelOnlineFlashUpdate: SDStartFlashUpdate returned 0x%x (%s)", started,
                       SDGetErrorString(started));
    UpdateFlashAccessAdapterEntry(pDevice, static_cast<SD_UINT32>(token));

    // ---- Regions ----
    VrelWriteContext ctx;
    ctx.device = pDevice;
    ctx.instance = instance;
    ctx.model = model;
    ctx.combined = combined;
    ctx.kept = checked.kept;
    ctx.layout = &layout;
    ctx.active = active;
    ctx.cardType = checked.cardType;
    ctx.chipRev = chipRev;
    ctx.versions = versions.get();
    ctx.activeBootCode = activeBoot.Bytes();
    ctx.activeBoardConfig = activeBoard.Bytes();
    ctx.allRegionsRequested = g_ptrOptionROMRequest != nullptr && g_ptrOptionROMRequest->Region == OPTROM_REGION_ALL;
    VrelWriteResult walk;
    walk.status = status;
    VrelWriteRegions(ctx, order, &walk, message);
    status = walk.status;
    SD_UINT16 forceDisableReset = DisableReset != 0 || walk.forceDisableReset != 0 ? 1 : 0;

    // A walk that wrote nothing is no update: the set stays as it is.
    if (status == 0 && walk.regionsUpdated == 0) {
        std::snprintf(message.data(), message.size(), "No flash region was written to HBA instance %d - %s!",
                      instance, model.c_str());
        status = VREL_NOTHING_WRITTEN;
    }
    if (status == 0 && walk.written) {
        status = write_status_records(pDevice, &active, updateSet, *versions, walk, instance, model, message);
    } else if (status == 0) {
        OSSSleep(5);
    }

    // ---- Session end and activation ----
    const SD_UINT32 ended = SDEndFlashUpdate(pDevice->DeviceHandle, 0, token);
    if (ended == 0) {
        UpdateFlashAccessAdapterEntry(pDevice, 0);
        if (status == 0) {
            if (forceDisableReset == 0) {
                const SD_UINT32 activated = AppActivateOnlineFlashUpdate(pDevice);
                if (activated == SDERR_FLASHED_NOT_ACTIVATED) status = VREL_SUCCESS_REBOOT;
                else if (activated == 0x20000063) status = VREL_ACTIVATE_REBOOT;
                else if (activated != 0) status = VREL_ACTIVATE_FAILED;
            } else {
                status = VREL_SUCCESS_REBOOT;
            }
        }
    } else {
        VORNLogMessage(VORN_MSG_DEBUG, "VrelOnlineFlashUpdate: SDEndFlashUpdate returned 0x%x (%s)", ended,
                       SDGetErrorString(ended));
        // The new set is complete but was not activated: it serves after a reboot.
        if (status == 0) status = VREL_SUCCESS_REBOOT;
    }

    if (status == VREL_SUCCESS_REBOOT || status == VREL_ACTIVATE_REBOOT) {
        scfxPrint("Flash update complete. Changes have been saved to all ports of this HBA.\nYou must reboot in order "
                  "for the changes to become effective.");
    } else if (status == 0) {
        scfxPrint("Option ROM update complete. Changes have been saved to both ports of this HBA.\nYou must reboot in "
                  "order for changes to take effect.");
    } else if (status == VREL_ACTIVATE_FAILED) {
        scfxPrint("Flash update failed with HBA (Instance %d - %s) with error (%d!", instance, model.c_str(), status);
    } else if (message[0] != '\0') {
        scfxPrint("%s", message.data());
    }
    VORNLogMessage(VORN_MSG_DEBUG, "VrelOnlineFlashUpdate: Return %d", status);
    return status;
}

SD_INT32 SetAdapterActiveRegion(SDMDevice* pDevice, SD_UINT8 uSetActiveRegion, SD_UINT8 uComponentUpdate) {
    if (pDevice == nullptr) return VREL_NO_DEVICE;
    if (isVirtualPortHBA(pDevice) != 0) {
        const SD_UINT8* w = pDevice->DevicePortProperty.WWN;
        refuse(VREL_VIRTUAL_PORT, "Option is not available with virtual port HBA (%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X)!",
               w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
        return VREL_VIRTUAL_PORT;
    }
    SD_ACTIVE_REGIONS active{};
    if (const int st = CoreGetActiveRegions(pDevice, &active); st != 0) return st;
    // The record names the set that is to stop being active, and the
    // component copies with it, so that the auxiliary records name the copies
    // of the set made active (also when called again before a reboot).
    active.ActiveGlobalRegions = uSetActiveRegion == 2 ? 1 : 2;
    active.ActiveBoardConfig = active.ActiveVpdNvram = active.ActiveGlobalRegions;
    active.ActiveNpivConfig01 = active.ActiveNpivConfig23 = active.ActiveGlobalRegions;
    if (const SD_INT32 st = VrelWriteImageStatus(pDevice, &active, {}); st != 0) return st;
    if (uComponentUpdate != 0) {
        if (const SD_INT32 st = VrelWriteAuxImageStatus(pDevice, &active, uComponentUpdate, {}); st != 0) return st;
    }
    return 0;
}
