// Manufacturing-mode single-region updates.
#include "engines/zmfg_update.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "core/flash_read_buffer.h"
#include "core/image_file.h"
#include "core/chip_types.h"
#include "core/input_file.h"
#include "engines/engine_status.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/hba_device_list.h"
#include "frontend/model_predicates.h"
#include "frontend/output.h"
#include "image/boot_code_chain.h"
#include "image/flash_memo_block.h"
#include "image/image_validation_boot_code.h"
#include "image/image_validation_headers.h"
#include "image/region_io.h"
#include "mgmt/sdapi.h"

namespace {

constexpr SD_UINT32 kNotActivated = 0x20000100;   // written; takes effect at the next reboot
constexpr SD_UINT32 kHbaTypeManufacturing = 3;
constexpr SD_UINT32 kAnySubsystem = 0xFFFF;

constexpr SD_UINT32 kRiscFirmware1 = 0x01, kRiscFirmware2 = 0x02;
constexpr SD_UINT32 kSoftRom = 0x03;
constexpr SD_UINT32 kBootCode1 = 0x07, kBootCode2 = 0x09;
constexpr SD_UINT32 kFcoeBootCode = 0xA2;
constexpr SD_UINT32 kFcoeFirmware = 0xA4;
constexpr SD_UINT16 kOpenPowerBootCode = 0x2061;

std::string ModelOf(const SDMDevice* d) {
    const auto& model = d->DeviceNodeProperty.Model;
    return std::string(model, strnlen(model, sizeof model));
}

int Instance(const SDMDevice* d) { return static_cast<int>(d->DeviceNumber); }

// Reads the whole file: 0, -1 (cannot be opened or read whole, or too
// large), -17 (no memory).
SD_INT32 ReadFile(const char* path, std::vector<SD_UINT8>& bytes) {
    ImageFileOptions options;
    options.maxSize = ZMFG_MAX_FILE_SIZE;
    switch (CoreReadImageFile(path, options, bytes)) {
        case ImageFileResult::Ok:
            VORNLogMessage(VORN_MSG_DEBUG, "ZMFGFlashRegionUpdate: totalBytes %zu bytes", bytes.size());
            return ZMFG_SUCCESS;
        case ImageFileResult::OpenFailed:
            VORNLogMessage(VORN_MSG_DEBUG, "ZMFGFlashRegionUpdate: Could not open file %s!", path);
            return ZMFG_READ_FAILED;
        case ImageFileResult::Corrupted:
            VORNLogMessage(VORN_MSG_DEBUG, "ZMFGFlashRegionUpdate: Failed to read the %s file!", path);
            return ZMFG_READ_FAILED;
        case ImageFileResult::NoMemory: break;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "ZMFGFlashRegionUpdate: Out of Memory.");
    return ZMFG_READ_NO_MEMORY;
}

// The answers of one region write, optionally inside a flash-update session.
struct WriteAnswers {
    bool opened = false;         // the session was opened (or none was needed)
    bool session = false;
    SD_UINT32 start = 0;
    SD_UINT32 write = 0;
    SD_UINT32 end = 0;
    bool Written() const { return opened && (write == 0 || write == kNotActivated); }
};

// A written region that takes effect at the next reboot: 201 inside a
// session; without one the library's answer itself is the status.
SD_INT32 NotActivatedStatus(const WriteAnswers& a) {
    if (a.write != kNotActivated) return ZMFG_SUCCESS;
    return a.session ? ZMFG_SUCCESS_REBOOT : ZMFG_WRITTEN_NOT_ACTIVATED;
}

WriteAnswers WriteRegion(SDMDevice* d, std::span<const SD_UINT8> buffer, SD_UINT32 region, bool session) {
    WriteAnswers a;
    a.session = session;
    SD_INT32 token = 0;
    if (session) {
        a.start = SDStartFlashUpdate(d->DeviceHandle, 0, &token);
        if (a.start != 0 && a.start != kNotActivated) {
            VORNLogMessage(VORN_MSG_DEBUG, "ZMFGFlashRegionUpdate: Flash update session not started 0x%x (%s)",
                           a.start, SDGetErrorString(a.start));
            return a;
        }
    }
    a.opened = true;
    a.write = AppUpdateOptionRomEx2(d, buffer, region, static_cast<SD_UINT32>(buffer.size()), 0);
    // A session is always closed, also after a failed write.
    if (session) a.end = SDEndFlashUpdate(d->DeviceHandle, 0, token);
    VORNLogMessage(VORN_MSG_DEBUG, "ZMFGFlashRegionUpdate: Region 0x%x write 0x%x session end 0x%x", region, a.write,
                   a.end);
    return a;
}

// One run of the single-region update.
class RegionUpdate {
public:
    RegionUpdate(SDMDevice* d, const char* file, SD_UINT32 region)
        : d_(d), file_(file != nullptr ? file : ""), region_(region), chip_(CoreGetISPType(d)), model_(ModelOf(d)) {}

    SD_INT32 Run();
    // Prints the message of a failure that has not said it yet (an empty line
    // when none was formatted).
    void Finish(SD_INT32 status) const {
        if (status != ZMFG_SUCCESS && !said_) scfxPrint("%s", message_);
    }

private:
    void Say(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        va_list ap;
        va_start(ap, format);
        std::vsnprintf(message_, sizeof message_, format, ap);
        va_end(ap);
        scfxPrint("%s", message_);
        said_ = true;
    }
    void Set(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        va_list ap;
        va_start(ap, format);
        std::vsnprintf(message_, sizeof message_, format, ap);
        va_end(ap);
    }
    SD_INT32 Failed(SD_INT32 status, SD_UINT32 answer) {
        Set("Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!", Instance(d_), answer,
            SDGetErrorString(answer));
        return status;
    }
    SD_INT32 WrongSize(const char* kind) {
        Set("%s is not an acceptable flash %s file for this HBA (Instance %d - %s), wrong size!", file_, kind,
            Instance(d_), model_.c_str());
        return ZMFG_WRONG_SIZE;
    }
    // A firmware file for another chip: the engines' message for its status.
    SD_INT32 RefusedFirmware() {
        const EngineValidationArgs args{file_, d_->DeviceNumber, model_.c_str(), d_->DeviceChipProperty.SubSystemID,
                                        d_->DeviceChipProperty.SubVendorID};
        EngineValidationStatusLookup(EngineStatusFamily::Converged, ZMFG_FILE_REFUSED, args, message_);
        return ZMFG_FILE_REFUSED;
    }
    // Sessions guard the writes of the chips above 24.
    bool SessionChip() const { return chip_ > 24; }

    SD_INT32 BootCode();
    SD_INT32 RiscFirmware();
    SD_INT32 SoftRom();
    SD_INT32 FcoeBootCode();
    SD_INT32 FcoeFirmware();
    SD_INT32 OtherRegion();
    SD_INT32 CheckAndPatchBootCode(SD_UINT16 deviceId, SD_INT32 versionFailure);

    SDMDevice* d_;
    const char* file_;
    SD_UINT32 region_;
    int chip_;
    std::string model_;
    std::vector<SD_UINT8> fileBytes_;   // the file
    std::vector<SD_UINT8> buffer_;      // the region as written: the file over its current content
    MultibootVersions versions_{};
    char message_[ENGINE_MESSAGE_SIZE] = {};
    bool said_ = false;
};

SD_INT32 RegionUpdate::Run() {
    VORNLogMessage(VORN_MSG_DEBUG, "ZMFGFlashRegionUpdate: HBA %d chip type %d revision 0x%x region 0x%x file %s",
                   Instance(d_), chip_, GetAdapterChipRevision(d_), region_, file_);
    if (const SD_INT32 st = ReadFile(file_, fileBytes_); st != ZMFG_SUCCESS) {
        said_ = true;   // the reader's failure has no message of its own
        return st;
    }

    SDMOptRomLayoutCopy layout;
    SD_UINT32 size = 0;
    if (GetOptionRomRegionLayout(d_, &layout, region_, &size) != 0) {
        Say("Flash update is not supported with HBA %d (0x%x %s)!", Instance(d_), 0, SDGetErrorString(0));
        return ZMFG_NO_LAYOUT;
    }
    if (size == 0) {
        Say("Unable to retrieve specified flash region area of this HBA (Instance %lu - %s)!",
            static_cast<unsigned long>(d_->DeviceNumber), model_.c_str());
        return ZMFG_REGION_UNREADABLE;
    }
    try {
        buffer_.assign(size, 0);
    } catch (const std::bad_alloc&) {
        Say("Memory allocation error!");
        return ZMFG_NO_MEMORY;
    }
    if (const SD_UINT32 st = FlashReadRetrying(d_->DeviceHandle, region_, buffer_); st != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "ZMFGFlashRegionUpdate: Region 0x%x read failed 0x%x (%s)", region_, st,
                       SDGetErrorString(st));
        Say("Unable to retrieve current option rom region of this HBA (Instance %d - %s)!", Instance(d_),
            model_.c_str());
        return ZMFG_REGION_UNREADABLE;
    }

    // The file is what is checked and written: it must fit the region, and a
    // file that brings nothing is no update.
    const bool bootCode = region_ == kBootCode1 || region_ == kBootCode2 || region_ == kFcoeBootCode;
    const bool firmware = region_ == kRiscFirmware1 || region_ == kRiscFirmware2 || region_ == kFcoeFirmware ||
                          region_ == kSoftRom;
    if (fileBytes_.empty() || fileBytes_.size() > buffer_.size()) {
        VORNLogMessage(VORN_MSG_DEBUG, "ZMFGFlashRegionUpdate: File of 0x%zx bytes for region 0x%x of 0x%x bytes",
                       fileBytes_.size(), region_, size);
        return WrongSize(bootCode ? "boot code" : firmware ? "FW" : "data");
    }
    if (region_ == kFcoeFirmware && fileBytes_.size() > ZMFG_MAX_FCOE_FW_SIZE) return WrongSize("FW");
    std::copy(fileBytes_.begin(), fileBytes_.end(), buffer_.begin());

    switch (region_) {
        case kBootCode1:
        case kBootCode2: return BootCode();
        case kRiscFirmware1:
        case kRiscFirmware2: return RiscFirmware();
        case kSoftRom: return SoftRom();
        case kFcoeBootCode: return FcoeBootCode();
        case kFcoeFirmware: return FcoeFirmware();
        default: return OtherRegion();
    }
}

SD_INT32 RegionUpdate::CheckAndPatchBootCode(SD_UINT16 deviceId, SD_INT32 versionFailure) {
    if (ValidateFCoEPciHeaders(buffer_, deviceId) != 1) return Failed(ZMFG_BOOT_HEADERS_FAILED, 0);
    // The version walk of the family the device id belongs to, not always the
    // Torvi one: a walk that does not know the device could never accept its
    // boot code. The OpenPower board (0x2061) is in no family's list; its
    // chain has just passed the header check for its id, so only its FC
    // versions are read.
    int walk = 0;
    if (IsDorneBootCodeDevice(deviceId)) {
        walk = GetDorneImageVersions(buffer_, deviceId, &versions_);
    } else if (chip_ == 25 && deviceId == kOpenPowerBootCode) {
        walk = GetCheckedFCBootCodeVersions(buffer_, deviceId, &versions_);
    } else if (deviceId == 0x8040 || deviceId == 0x8042 || deviceId == 0x8044) {
        walk = GetPemraImageVersions(buffer_, deviceId, &versions_);
    } else {
        walk = GetTorviImageVersions(buffer_, deviceId, &versions_);
    }
    if (walk != 0) return Failed(versionFailure, 0);
    const SD_UINT16 ssvid = d_->DeviceChipProperty.SubVendorID;
    const SD_UINT16 ssdid = d_->DeviceChipProperty.SubSystemID;
    if (const int st = UpdateAllPciHeaders(buffer_, ssvid, ssdid, deviceId, model_.c_str()); st != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "ZMFGFlashRegionUpdate: Boot code patch failed (%d)", st);
        return Failed(st, static_cast<SD_UINT32>(st));
    }
    return ZMFG_SUCCESS;
}

SD_INT32 RegionUpdate::BootCode() {
    SD_UINT16 deviceId = d_->DeviceChipProperty.DeviceID;
    if (chip_ == 24) {
        deviceId = 0x2031;
    } else if (chip_ == 25) {
        deviceId = isDorneHBA(d_) != 0 ? 0x2071 : isOpenPowerPCBrantix(d_) != 0 ? kOpenPowerBootCode : 0x2261;
    }
    if (const SD_INT32 st = CheckAndPatchBootCode(deviceId, ZMFG_BOOT_VERSIONS_FAILED); st != ZMFG_SUCCESS) return st;
    const WriteAnswers a = WriteRegion(d_, buffer_, region_, SessionChip());
    if (!a.opened) return Failed(ZMFG_SESSION_FAILED, a.start);
    if (!a.Written()) return Failed(ZMFG_BOOT_WRITE_FAILED, a.write);
    if (a.end != 0) return Failed(ZMFG_FW_WRITE_FAILED, a.end);
    return NotActivatedStatus(a);
}

SD_INT32 RegionUpdate::RiscFirmware() {
    const SD_UINT32 supported = (chip_ == 21 || chip_ == 24) ? 0x20 : chip_ == 25 ? 0x40 : 0x80;
    if (ValidateRiscFirmwareGeneric(fileBytes_, &versions_, supported) != IMGVAL_RISC_VALID) return RefusedFirmware();
    const WriteAnswers a = WriteRegion(d_, buffer_, region_, SessionChip());
    if (!a.opened) return Failed(ZMFG_SESSION_FAILED, a.start);
    if (!a.Written()) return Failed(ZMFG_FW_WRITE_FAILED, a.write);
    if (a.end != 0) return Failed(ZMFG_FW_WRITE_FAILED, a.end);
    return a.write == kNotActivated ? ZMFG_SUCCESS_REBOOT : ZMFG_SUCCESS;
}

SD_INT32 RegionUpdate::SoftRom() {
    // A soft ROM that is only written, not taken, is not done.
    const WriteAnswers a = WriteRegion(d_, buffer_, region_, false);
    if (a.write != 0) return Failed(ZMFG_SOFTROM_FAILED, a.write);
    return ZMFG_SUCCESS;
}

SD_INT32 RegionUpdate::FcoeBootCode() {
    const SD_UINT16 deviceId = chip_ == 21 ? 0x8031 : chip_ == 26 ? 0x8044 : d_->DeviceChipProperty.DeviceID;
    if (const SD_INT32 st = CheckAndPatchBootCode(deviceId, ZMFG_FCOE_BOOT_VERSIONS_FAILED); st != ZMFG_SUCCESS)
        return st;
    const WriteAnswers a = WriteRegion(d_, buffer_, region_, false);
    if (!a.Written()) return Failed(ZMFG_FCOE_BOOT_WRITE_FAILED, a.write);
    return NotActivatedStatus(a);
}

SD_INT32 RegionUpdate::FcoeFirmware() {
    if (ValidateRiscFirmwareGeneric(fileBytes_, &versions_, 0x10) != IMGVAL_RISC_VALID) return RefusedFirmware();
    const SD_UINT32 st = AppUpdateOptionRomEx(d_, buffer_, region_, static_cast<SD_UINT32>(buffer_.size()), 0);
    if (st != 0) return Failed(ZMFG_FCOE_FW_WRITE_FAILED, st);
    return ZMFG_SUCCESS;
}

SD_INT32 RegionUpdate::OtherRegion() {
    const bool session = SessionChip();
    const WriteAnswers a = WriteRegion(d_, buffer_, region_, session);
    if (!a.opened) return Failed(ZMFG_SESSION_FAILED, a.start);
    if (!a.Written()) {
        return session ? Failed(ZMFG_BOOT_WRITE_FAILED, ZMFG_BOOT_WRITE_FAILED) : Failed(ZMFG_NOT_DONE, a.write);
    }
    if (a.end != 0) return Failed(ZMFG_NOT_DONE, ZMFG_NOT_DONE);
    return NotActivatedStatus(a);
}

// ---- Wrappers ------------------------------------------------------------------------------------

struct FirmwareWrapper {
    const char* allName;
    int chipType;
    SD_UINT32 region;
    SD_INT32 anyFailed;
};

constexpr FirmwareWrapper kFcFirmware{"ZMFGUpdateFCFirmwareFromFileToAllHBAs", 24, kRiscFirmware1,
                                      ZMFG_FW_WRITE_FAILED};
constexpr FirmwareWrapper kFcoeFirmwareWrapper{"ZMFGUpdateFCoEFirmwareFromFileToAllHBAs", 21, kFcoeFirmware,
                                               ZMFG_FCOE_FW_WRITE_FAILED};

SD_INT32 FirmwareToPort(const FirmwareWrapper& w, SDMDevice* d, const char* file, SD_UINT32 type) {
    if (d == nullptr) {
        scfxPrint("Unable to find the selected HBA!");
        return ZMFG_NOT_DONE;
    }
    if (isVirtualPortHBA(d) != 0 || type != kHbaTypeManufacturing || CoreGetISPType(d) != w.chipType)
        return ZMFG_NOT_DONE;
    const SD_INT32 st = ZMFGFlashRegionUpdate(d, file, w.region);
    if (st == ZMFG_SUCCESS)
        scfxPrint("Firmware update completed successfully (Instance %lu - %s)",
                  static_cast<unsigned long>(d->DeviceNumber), ModelOf(d).c_str());
    return st;
}

bool PortUpdateFailed(SD_INT32 st) { return st != ZMFG_SUCCESS && st != ZMFG_SUCCESS_REBOOT; }

// Walks the front end's device list. `take` says whether a physical port is
// one of the wrapper's; `run` updates it. *found counts the taken ports whose
// flash permission said anything but 0.
template <typename Take, typename RunPort>
SD_INT32 EveryPort(SD_UINT32 type, SD_INT32 anyFailed, Take take, RunPort run, bool* found) {
    SDMDeviceList* list = GetMyDeviceList();
    if (list == nullptr || list->firstDevice == nullptr) {
        scfxPrint("No compatible HBA(s) found in current system !");
        return ZMFG_NO_DEVICE;
    }
    SD_INT32 last = ZMFG_NO_DEVICE;
    int failed = 0;
    for (SDMDevice* p = list->firstDevice; p != nullptr; p = p->next) {
        if (isVirtualPortHBA(p) != 0 || type != kHbaTypeManufacturing || !take(p)) continue;
        const int permission = CheckAdapterFlashUpdateStatus(p, 0);
        if (permission != 0 && found != nullptr) *found = true;
        if (permission != 1 && permission != 3) continue;
        last = run(p);
        if (PortUpdateFailed(last)) ++failed;
    }
    return failed > 0 ? anyFailed : last;
}

SD_INT32 FirmwareToAll(const FirmwareWrapper& w, const char* file, SD_UINT32 type, SD_UINT32 subSysDeviceId) {
    const auto take = [&](const SDMDevice* p) {
        if (CoreGetISPType(p) != w.chipType) return false;
        const SD_UINT16 ssdid = p->DeviceChipProperty.SubSystemID;
        if (subSysDeviceId != kAnySubsystem && ssdid != subSysDeviceId) {
            VORNLogMessage(VORN_MSG_DEBUG, "%s: Skipping HBA 0x%4X 0x%4X", w.allName, p->DeviceChipProperty.DeviceID,
                           ssdid);
            return false;
        }
        return true;
    };
    return EveryPort(type, w.anyFailed, take,
                     [&](SDMDevice* p) { return FirmwareToPort(w, p, file, kHbaTypeManufacturing); }, nullptr);
}

}  // namespace

SD_INT32 ZMFGFlashRegionUpdate(SDMDevice* pDevice, const char* pImageFile, SD_UINT32 uRegionNo) {
    if (pDevice == nullptr) {
        scfxPrint("Unable to find the selected HBA!");
        return ZMFG_NO_DEVICE;
    }
    RegionUpdate update(pDevice, pImageFile, uRegionNo);
    const SD_INT32 status = update.Run();
    update.Finish(status);
    VORNLogMessage(VORN_MSG_DEBUG, "ZMFGFlashRegionUpdate: region 0x%x status %d", uRegionNo, status);
    return status;
}

SD_INT32 ZMFGUpdateFCFirmwareFromFileToHBAPort(SDMDevice* pDevice, const char* pFwFileName, SD_UINT32 uHBAType) {
    return FirmwareToPort(kFcFirmware, pDevice, pFwFileName, uHBAType);
}

SD_INT32 ZMFGUpdateFCoEFirmwareFromFileToHBAPort(SDMDevice* pDevice, const char* pFwFileName, SD_UINT32 uHBAType) {
    return FirmwareToPort(kFcoeFirmwareWrapper, pDevice, pFwFileName, uHBAType);
}

SD_INT32 ZMFGUpdateSoftROMFirmwareFromFileToHBAPort(SDMDevice* pDevice, const char* pFwFileName,
                                                    SD_UINT32 uHBAType) {
    if (pDevice == nullptr) {
        scfxPrint("Unable to find the selected HBA!");
        return ZMFG_NO_DEVICE;
    }
    if (isVirtualPortHBA(pDevice) != 0 || uHBAType != kHbaTypeManufacturing || isTessikHBA(pDevice) == 0) {
        scfxPrint("Current command is not supported with HBA instance %d - %s!", Instance(pDevice),
                  ModelOf(pDevice).c_str());
        return ZMFG_UNSUPPORTED_PORT;
    }
    const SD_INT32 st = ZMFGFlashRegionUpdate(pDevice, pFwFileName, kSoftRom);
    if (st != ZMFG_SUCCESS) return st;
    scfxPrint("Soft ROM update complete. Changes have been saved to HBA instance %d (%s).\nYou must reboot in order "
              "for the changes to become effective.",
              Instance(pDevice), ModelOf(pDevice).c_str());
    return ZMFG_SUCCESS;
}

SD_INT32 ZMFGUpdateFCFirmwareFromFileToAllHBAs(const char* pFwFileName, SD_UINT32 uHBAType, SD_UINT32 subSysDeviceId) {
    return FirmwareToAll(kFcFirmware, pFwFileName, uHBAType, subSysDeviceId);
}

SD_INT32 ZMFGUpdateFCoEFirmwareFromFileToAllHBAs(const char* pFwFileName, SD_UINT32 uHBAType,
                                                 SD_UINT32 subSysDeviceId) {
    return FirmwareToAll(kFcoeFirmwareWrapper, pFwFileName, uHBAType, subSysDeviceId);
}

SD_INT32 ZMFGUpdateSoftROMFirmwareFromFileToAllHBAs(const char* pFwFileName, SD_UINT32 uHBAType, SD_UINT32) {
    const SDMDeviceList* list = GetMyDeviceList();
    const bool anyPort = list != nullptr && list->firstDevice != nullptr;
    bool found = false;
    const SD_INT32 st = EveryPort(
        uHBAType, ZMFG_SOFTROM_FAILED, [](const SDMDevice* p) { return isTessikHBA(p) != 0; },
        [&](SDMDevice* p) { return ZMFGUpdateSoftROMFirmwareFromFileToHBAPort(p, pFwFileName, kHbaTypeManufacturing); },
        &found);
    if (anyPort && !found) scfxPrint("Unable to find any matching adapter!");
    return st;
}
