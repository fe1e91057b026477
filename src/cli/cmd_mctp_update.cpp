// The MCTP command (no command word): enables MCTP support on the Gen6
// adapters, or disables it when "package.cfg" exists in the installation
// directory. Both bring the chip-type-25 preload table and FC board
// configuration up to their templates and write the flash.cfg record's
// multiboot image where the update policy asks for it.

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "boardcfg/fc_board_config.h"
#include "boardcfg/fw_preload.h"
#include "boardcfg/table_update_check.h"
#include "cli/adapter_prechecks.h"
#include "cli/commands.h"
#include "cli/flash_cfg.h"
#include "cli/startup.h"
#include "cli/update_lock.h"
#include "core/chip_types.h"
#include "core/core_log.h"
#include "core/core_quiet.h"
#include "core/image_file.h"
#include "core/image_status.h"
#include "core/oss_services.h"
#include "dispatch/update_dispatch.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/cli_settings.h"
#include "frontend/file_util.h"
#include "frontend/hba_device_list.h"
#include "frontend/install_dir.h"
#include "frontend/output.h"
#include "frontend/progress_bar.h"
#include "frontend/str_util.h"
#include "image/flash_memo_block.h"
#include "mgmt/sd_shared_db.h"
#include "mgmt/sdapi.h"

// Exposed for the command's tests; the dispatcher only calls UpdateAdapterMCTPSupport.
int GetNumberOfAdapterToUpdate(SD_UINT8 AdapterType, SD_UINT32* HbaToUpdate);
int UpdateAdapteFwComponents(ProgressBar* pProgressBar, SD_UINT8 AdapterType, SD_UINT8 PortUpdateOption,
                             SD_UINT16 DisableReset);

namespace {

constexpr const char* kFlashCfgName = "flash.cfg";
constexpr const char* kPreloadTemplate = "Vx9FWA.dat";
constexpr const char* kBoardConfigTemplate = "Vx9FBC.dat";
constexpr SD_UINT32 kBoardConfigHbaType = 8;
constexpr SD_INT32 kBarStepsPerAdapter = 12;

// Results of the update pass.
constexpr int kPassAllUpdated = 0;
constexpr int kPassNotRequired = 2;
constexpr int kPassAllFailed = 3;
constexpr int kPassSomeFailed = 4;

struct RecordFree {
    void operator()(FlashCtrVersion* record) const { CoreFree(record); }
};
using Record = std::unique_ptr<FlashCtrVersion, RecordFree>;

Record new_record() { return Record(CreateNewEntry()); }

// Chip types the counting pass (count) or the update pass (!count) takes for
// an adapter-family option.
bool family_takes(SD_UINT8 family, int chipType, bool count) {
    switch (family) {
        case VORN_FAMILY_RUNA: return chipType == 15;
        case VORN_FAMILY_SIVO: return chipType == 17;
        case VORN_FAMILY_TAMO: return chipType == 21 || chipType == 24;
        case VORN_FAMILY_DAFE: return chipType == 11;
        case VORN_FAMILY_KEFA: return chipType == 12;
        case VORN_FAMILY_KAMU: return chipType == 25;
        case VORN_FAMILY_ZUKA: return chipType == 27;
        case VORN_FAMILY_DEFAULT: return count || chipType == 25 || chipType == 27;
        default: return false;
    }
}

std::string key_of(const SDMDevice* port) {
    char key[VORN_SERIAL_SIZE] = {};
    GetAdapterKey(port, key, sizeof key);
    return key;
}

std::string model_of(const SDMDevice* port) {
    return std::string(port->DeviceNodeProperty.Model,
                       strnlen(port->DeviceNodeProperty.Model, sizeof port->DeviceNodeProperty.Model));
}

bool has_record(const FlashCtrVersion& r) { return r.SubSysDeviceID[0] != '\0' && r.SubSysVendorID[0] != '\0'; }

void log_file_entry(const char* who, const SDMDevice* port, const FlashCtrVersion& f) {
    VORNLogMessage(VORN_MSG_DEBUG,
                   "%s: File entry HBA %d (%s) ssdid=%s ssvid=%s %d.%02d.%02d %d.%02d.%02d %d.%02d.%02d "
                   "%d.%02d.%02d %s %d.%02d.%02d",
                   who, static_cast<int>(port->DeviceNumber), f.Model, f.SubSysDeviceID, f.SubSysVendorID,
                   f.FBCVer[0], f.FBCVer[1], f.FBCVer[2], f.PepBCVer[0], f.PepBCVer[1], f.PepBCVer[2], f.FWAVer[0],
                   f.FWAVer[1], f.FWAVer[2], f.Risc[0], f.Risc[1], f.Risc[2], f.FileName, f.Multiboot[0],
                   f.Multiboot[1], f.Multiboot[2]);
}

void log_hba_entry(const char* who, const SDMDevice* port, const FlashCtrVersion& h) {
    VORNLogMessage(VORN_MSG_DEBUG, "%s: HBA entry HBA %d (%s) ssdid=%s ssvid=%s %d.%02d.%02d %s %02d.%02d.%02d", who,
                   static_cast<int>(port->DeviceNumber), h.Model, h.SubSysDeviceID, h.SubSysVendorID, h.Risc[0],
                   h.Risc[1], h.Risc[2], h.FileName, h.Multiboot[0], h.Multiboot[1], h.Multiboot[2]);
}

// An interrupted update must not leave a flash-update session behind (the
// next run would be refused until it expires), nor the shared file and
// semaphores when this process was their last user.
void release_sessions_on_signal(int) {
    zvapi_release_process_sessions();
    zvapi_shdb_leave_on_exit();
}

// The adapter's own record and the policy's verdict on it, read before the
// adapter's first write (whether its image will be written decides what is
// checked first) but said where the update reads them, after its tables.
struct AdapterPolicy {
    int policy = FLASH_POLICY_NO_UPDATE;
    bool multibootRead = false;
    DeferredDebugLines readLines;   // what reading the record said (the memo block's lines)
};

// The multiboot version of the set the records start next, when a run since
// the adapter started switched them away from the set it runs (chip type 27,
// one memo block per set): zeros when that block cannot be read, and when
// the image-status records are a pair left unsettled (both active: a run was
// cut between their two writes, and only a run that switches them again
// settles them). False when the records start the running set.
bool read_next_boot_multiboot(SDMDevice* port, SD_UINT8 (&version)[3]) {
    if (CoreGetISPType(port) == 27 && CoreImageStatusPairUnsettled(port)) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapteFwComponents: HBA %d image status records both active",
                       static_cast<int>(port->DeviceNumber));
        version[0] = version[1] = version[2] = 0;
        return true;
    }
    const SD_UINT32 region = GetFlashMemoBlockNextBootRegion(port);
    if (region == 0) return false;
    SFlashMemoBlock block{};
    const bool read = GetFlashMemoBlockOfRegion(port, region, &block) == FLASH_MEMO_SUCCESS;
    version[0] = read ? block.mbi_ver.major : 0;
    version[1] = read ? block.mbi_ver.minor : 0;
    version[2] = read ? block.mbi_ver.sub : 0;
    return true;
}

AdapterPolicy read_policy(SDMDevice* port, const FlashCtrVersion& file, FlashCtrVersion& hba) {
    AdapterPolicy p;
    DeferDebugLines();
    p.multibootRead = ReadFlashCtrVersionFromHBA(port, &hba);
    const int chipType = CoreGetISPType(port);
    p.policy = FlashUpdatePolicyVerdict(chipType, &hba, &file, GetFlashUpdateMode(), GetForceUpdateOption());
    // The set the adapter will boot decides too: an update is not required
    // only when the set the records start next holds the version as well.
    FlashCtrVersion next = hba;
    if (p.policy == FLASH_POLICY_NO_UPDATE && read_next_boot_multiboot(port, next.Multiboot)) {
        p.policy = FlashUpdatePolicyVerdict(chipType, &next, &file, GetFlashUpdateMode(), GetForceUpdateOption());
        VORNLogMessage(VORN_MSG_DEBUG,
                       "UpdateAdapteFwComponents: HBA %d starts next from a set with MBI version %02d.%02d.%02d",
                       static_cast<int>(port->DeviceNumber), next.Multiboot[0], next.Multiboot[1], next.Multiboot[2]);
    }
    p.readLines = EndDeferDebugLines();
    return p;
}

void say_policy(SDMDevice* port, const FlashCtrVersion& file, const FlashCtrVersion& hba, const AdapterPolicy& p,
                ProgressBar* bar) {
    WriteDeferredDebugLines(p.readLines);
    if (p.multibootRead) LogFlashCtrMultibootVersion(&hba);
    log_hba_entry("UpdateAdapteFwComponents", port, hba);
    ProgressBarIncrement(bar);
    GetFlashUpdatePolicy(port, &hba, &file, GetFlashUpdateMode(), GetForceUpdateOption());
    VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapteFwComponents: NeedUpdate=%d", p.policy);
}

// The adapter's pre-checks (adapter_prechecks.h): its FC VPDs, and its image
// and its engine's session only when the policy will have the image written.
// `upgrading` leads their refusal lines, as it leads the update's own.
bool precheck_adapter(SDMDevice* port, const char* image, int policy, SD_UINT8 portOption, const char* upgrading,
                      AdapterPrecheck* out) {
    const std::string started = std::string(upgrading) + ": started";
    AdapterPrecheckRequest request;
    request.imageFile = policy != FLASH_POLICY_NO_UPDATE ? image : nullptr;
    request.imageHeader = started.c_str();
    request.allPorts = portOption;
    return PrecheckAdapter(port, request, out);
}

void report_not_required(const char* model, const FlashCtrVersion& hba) {
    scfxPrint("HBA %s: Upgrade is not required. MBI version is up to date (%02d.%02d.%02d)", model, hba.Multiboot[0],
              hba.Multiboot[1], hba.Multiboot[2]);
}

void print_both(const char* text) {
    PrintOutPut("%s", text);
    scfxPrint("%s", text);
}

// Both passes take the first physical port of each adapter in the device list's
// serial-number order (every port with --ports), among the chip types that the
// pass's family column admits; `previous` carries the last adapter key taken.
bool takes_port(SDMDevice* port, SD_UINT8 family, bool countColumn, SD_UINT8 portOption, std::string& previous) {
    if (isVirtualPortHBA(port) != 0) return false;
    if (!family_takes(family, CoreGetISPType(port), countColumn)) return false;
    const std::string key = key_of(port);
    if (striscmp(key.c_str(), previous.c_str()) == 0 && portOption == 0) return false;
    previous = key;
    return true;
}

}  // namespace

int GetNumberOfAdapterToUpdate(SD_UINT8 AdapterType, SD_UINT32* HbaToUpdate) {
    SD_UINT32 count = 0;
    if (HbaToUpdate != nullptr) *HbaToUpdate = 0;
    SDMDeviceList* list = GetMyDeviceList();
    if (list->firstDevice == nullptr) return 8;
    const SD_UINT8 portOption = GetAdapterPortUpdateOption();
    VORNLogMessage(VORN_MSG_DEBUG, "GetNumberOfAdapterToUpdate: PortUpdateOption=%d", portOption);
    int result = 8;
    std::string previous;
    for (SDMDevice* port = list->firstDevice; port != nullptr; port = port->next) {
        if (!takes_port(port, AdapterType, true, portOption, previous)) continue;
        Record file = new_record();
        Record hba = new_record();
        if (!file || !hba) {
            scfxPrint("Memory allocation error!");
            return -1;
        }
        GetVersionFromFlashCtrFile(port, file.get());
        if (!has_record(*file)) continue;
        log_file_entry("GetNumberOfAdapterToUpdate", port, *file);
        BuildFlashCtrListFromHBA(port, hba.get());
        log_hba_entry("GetNumberOfAdapterToUpdate", port, *hba);
        ++count;
        result = 0;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "GetNumberOfAdapterToUpdate: Number of update needed=%d", static_cast<int>(count));
    if (HbaToUpdate != nullptr) *HbaToUpdate = count;
    return result;
}

int UpdateAdapteFwComponents(ProgressBar* pProgressBar, SD_UINT8 AdapterType, SD_UINT8 PortUpdateOption,
                             SD_UINT16 DisableReset) {
    VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapteFwComponents: Enter...");
    VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapteFwComponents: Adapter type=%d", AdapterType);
    int needed = 0;
    int succeeded = 0;
    std::string previous;
    for (SDMDevice* port = GetMyDeviceList()->firstDevice; port != nullptr; port = port->next) {
        if (!takes_port(port, AdapterType, false, PortUpdateOption, previous)) continue;
        const int chipType = CoreGetISPType(port);

        Record file = new_record();
        Record hba = new_record();
        if (!file || !hba) {
            scfxPrint("Memory allocation error!");
            return -1;
        }
        GetVersionFromFlashCtrFile(port, file.get());
        const std::string modelText = model_of(port);
        const char* model = modelText.c_str();
        if (!has_record(*file)) {
            VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapteFwComponents: Skipping HBA %s", model);
            continue;
        }
        log_file_entry("UpdateAdapteFwComponents", port, *file);

        // A table copy still kept means its write may not have finished: it
        // goes back before the adapter's versions are read from its tables.
        if (RollBackTableCopiesBeforeUpdate(port) != 0) {
            ++needed;
            continue;
        }

        const int instance = static_cast<int>(port->DeviceNumber);
        // Whether the adapter needs its image decides whether a refusal of
        // that image matters.
        const AdapterPolicy verdict = read_policy(port, *file, *hba);
        const int policy = verdict.policy;
        // Nothing is written to an adapter whose image could not be named
        // whole, or that the update dispatch would refuse: the refusal comes
        // before the preload and board-configuration steps, not after them.
        const bool nameTooLong = FlashCtrFileNameTooLong(file.get());
        const SD_INT32 refusal = nameTooLong ? UPD_SUCCESS : CheckUpdateRefusal(port, PortUpdateOption, false);
        if (nameTooLong || refusal != UPD_SUCCESS) {
            say_policy(port, *file, *hba, verdict, pProgressBar);
            ProgressBarIncrement(pProgressBar);
            if (policy == FLASH_POLICY_NO_UPDATE) {
                report_not_required(model, *hba);
                continue;
            }
            ++needed;
            if (nameTooLong) {
                scfxPrint("HBA %s (instance %d): The image file name in flash.cfg is longer than %zu characters; "
                          "the adapter is not updated!",
                          model, instance, FLASHCTR_FILE_MAX);
            } else {
                VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapteFwComponents: HBA %d refused (%d)", instance, refusal);
                ReportUpdateRefusal(port, PortUpdateOption, refusal);
            }
            continue;
        }

        // Every other refusal (a damaged FC VPD without an intact copy, an
        // image file the update cannot open or would refuse, a flash-update
        // session another process holds on the adapter) is decided here,
        // before the adapter's first write. An image that will not be written
        // (versions equal, no force) is not judged: the run does not use it.
        AdapterPrecheck precheck;
        char upgrading[VORN_LINE_SIZE];
        std::snprintf(upgrading, sizeof upgrading, "HBA %s: Upgrading MBI version from %02d.%02d.%02d to %02d.%02d.%02d",
                      model, hba->Multiboot[0], hba->Multiboot[1], hba->Multiboot[2], file->Multiboot[0],
                      file->Multiboot[1], file->Multiboot[2]);
        if (!precheck_adapter(port, file->FileName, policy, PortUpdateOption, upgrading, &precheck)) {
            say_policy(port, *file, *hba, verdict, pProgressBar);
            ++needed;
            if (precheck.damagedVpd != 0) {
                scfxPrint("HBA %s (instance %d): MBI update skipped after a failed step; the adapter was not updated.",
                          model, instance);
            } else {
                // Refused as the update would refuse it, before anything was written.
                VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapteFwComponents: flash update result=%d",
                               precheck.UpdateStatus());
                scfxPrint("%s: failed", upgrading);
            }
            continue;
        }

        // A torn table the adapter keeps once, with no copy kept on the host to
        // rebuild it from: the adapter fails before anything is written to it.
        if (CheckSingleCopyTablesBeforeUpdate(port, kPreloadTemplate) != 0) {
            say_policy(port, *file, *hba, verdict, pProgressBar);
            ++needed;
            continue;
        }

        // A failed preload or board-configuration step leaves the adapter
        // half-updated: it is reported and counted as failed, never as "not required".
        bool stepFailed = false;
        if (chipType == 25) {
            // Both templates are read and checked, and both tables built, before
            // either is written: a bad second template never leaves the first written.
            VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterMCTPSupport: Checking FWA preload...");
            ProgressBarIncrement(pProgressBar);
            FwPreloadPlan fwa;
            FcBoardConfigPlan fbc;
            const int fwaReady = PrepareFWPreloadTableUpdate(port, kPreloadTemplate, &fwa);
            const int fbcReady = PrepareAdapterFCBoardConfigUpdate(port, kBoardConfigTemplate, PortUpdateOption,
                                                                   kBoardConfigHbaType, &fbc);
            if (fwaReady != FWA_SUCCESS) {
                scfxPrint("HBA %s (instance %d): FWA preload table update failed (error %d)!", model, instance,
                          fwaReady);
            }
            if (fbcReady != 0) {
                scfxPrint("HBA %s (instance %d): FBC board configuration update failed (error %d)!", model,
                          instance, fbcReady);
            }
            if (fwaReady != FWA_SUCCESS || fbcReady != 0) {
                stepFailed = true;
                scfxPrint("HBA %s (instance %d): Neither the FWA preload table nor the FBC board configuration "
                          "was written.",
                          model, instance);
            } else {
                if (const int rc = CommitFWPreloadTableUpdate(fwa); rc != FWA_SUCCESS && rc != FWA_UPDATED) {
                    stepFailed = true;
                    scfxPrint("HBA %s (instance %d): FWA preload table update failed (error %d)!", model, instance,
                              rc);
                }
            }
            ProgressBarIncrement(pProgressBar);
            OSSSleep(1);
            ProgressBarIncrement(pProgressBar);
            VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterMCTPSupport: Checking FBC...");
            if (fwaReady == FWA_SUCCESS && fbcReady == 0) {
                const int rc = CommitAdapterFCBoardConfigUpdate(fbc);
                if (rc != FBC_UPDATED && rc != FBC_UP_TO_DATE && rc != FBC_TEMPLATE_OLDER) {
                    stepFailed = true;
                    scfxPrint("HBA %s (instance %d): FBC board configuration update failed (error %d)!", model,
                              instance, rc);
                }
            }
            ProgressBarIncrement(pProgressBar);
            OSSSleep(1);
        } else {
            ProgressBarIncrement(pProgressBar);
        }
        say_policy(port, *file, *hba, verdict, pProgressBar);

        if (!stepFailed && !RepairAdapterFcVpds(port, precheck, hba->Multiboot, DisableReset)) stepFailed = true;
        if (stepFailed) {
            ++needed;
            scfxPrint("HBA %s (instance %d): MBI update skipped after a failed step; the adapter was not updated.",
                      model, instance);
            continue;
        }
        if (policy == FLASH_POLICY_NO_UPDATE) {
            report_not_required(model, *hba);
            continue;
        }
        ++needed;
        scfxPrint("HBA %s: Upgrading MBI version from %02d.%02d.%02d to %02d.%02d.%02d: started", model,
                  hba->Multiboot[0], hba->Multiboot[1], hba->Multiboot[2], file->Multiboot[0], file->Multiboot[1],
                  file->Multiboot[2]);
        ProgressBarIncrement(pProgressBar);
        SD_UINT16 updated = 0;
        const SD_INT32 rc = updateOptionROMSingleHBA(port, file->FileName, &updated, PortUpdateOption, DisableReset);
        ProgressBarIncrement(pProgressBar);
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapteFwComponents: flash update result=%d", rc);
        const bool ok = rc == 0 || rc == UPD_SUCCESS_REBOOT;
        scfxPrint("HBA %s: Upgrading MBI version from %02d.%02d.%02d to %02d.%02d.%02d: %s", model,
                  hba->Multiboot[0], hba->Multiboot[1], hba->Multiboot[2], file->Multiboot[0], file->Multiboot[1],
                  file->Multiboot[2], ok ? "completed" : "failed");
        if (ok) ++succeeded;
    }

    int result;
    if (needed == 0) {
        result = kPassNotRequired;
    } else if (succeeded == needed) {
        VORNLogMessage(VORN_MSG_DEBUG, "Updates completed successfully (%d out of %d).", succeeded, needed);
        result = kPassAllUpdated;
    } else if (succeeded == 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "All HBAs that need to be updated failed to be updated (%d out of %d)!",
                       needed - succeeded, needed);
        result = kPassAllFailed;
    } else {
        VORNLogMessage(VORN_MSG_DEBUG, "Unable to update all HBAs (%d out of %d)!", succeeded, needed);
        result = kPassSomeFailed;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapteFwComponents: Return status=%d", result);
    return result;
}

int UpdateAdapterMCTPSupport(int enable) {
    const char* word = enable != 0 ? "enable" : "disable";
    VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterMCTPSupport: Enter (Option=%d)", enable);
    VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterMCTPSupport: Configuration path=%s", VORNGetInstallationDir());

    // The progress bar follows the console's silence; an interrupt releases
    // the sessions this process holds.
    ProgressBarSetSilent(GetEnableDebugLog() != 0 && CoreGetQuietMode() != 0);
    SetTerminationCleanup(release_sessions_on_signal);

    char path[VORN_PATH_SIZE];
    const int n = std::snprintf(path, sizeof path, "%s/%s", VORNGetInstallationDir(), kFlashCfgName);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof path) {
        scfxPrint("Unable to open file %s/%s!", VORNGetInstallationDir(), kFlashCfgName);
        return FLASHCTR_OPEN_FAILED;
    }
    if (enable == 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterMCTPSupport: Disable");
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterMCTPSupport: Setting force update mode to 1");
        SetForceUpdateOption(1);
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterMCTPSupport: Checking force update mode..., mode=%d",
                       GetForceUpdateOption());
        SetFlashUpdateMode(1);
    } else {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterMCTPSupport: Enable");
    }

    VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterMCTPSupport: Configuration File (%s)", path);
    if (const int rc = BuildFlashCtrListFromFile(path); rc != 0) {
        DeleteFlashCtrVersionList();
        return rc;
    }

    const SD_UINT8 family = GetAdapterFamilyType();
    const SD_UINT8 portOption = GetAdapterPortUpdateOption();
    VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterMCTPSupport: AdapterType=%d", family);
    VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterMCTPSupport: PortUpdateOption=%d", portOption);
    VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterMCTPSupport: Checking for compatibility...");

    char line[VORN_LINE_SIZE];
    // The host's update lock comes before the first adapter access: the count
    // reads every adapter's flash, and would wait there on a run that is
    // inside a flash operation instead of saying at once that it is running.
    std::snprintf(line, sizeof line, "MCTP config %s: ", word);
    if (!TakeUpdateLockOrSay(line)) {
        DeleteFlashCtrVersionList();
        return kPassAllFailed;
    }
    SD_UINT32 count = 0;
    if (GetNumberOfAdapterToUpdate(family, &count) != 0) {
        std::snprintf(line, sizeof line, "MCTP config %s: No compatible HBA found!", word);
        print_both(line);
        DeleteFlashCtrVersionList();
        return 10;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "UpdateAdapterMCTPSupport: NoUpdateRequired=%d", static_cast<int>(count));
    // Nothing has been written yet: an interrupt so far ends the run as before
    // the update, not after writing every adapter.
    VORNHandlePendingInterrupt();
    std::snprintf(line, sizeof line, "MCTP config %s: Started...", word);
    scfxPrint("%s", line);
    PrintOutPut("%s", line);

    SetProcessStatus(1);
    // The count is bounded by the ports of the host (at most 4096 instances).
    const SD_INT32 barSize = static_cast<SD_INT32>(count) * kBarStepsPerAdapter;
    ProgressBar* bar = CreateNewProgressBar("Progress Status", barSize, 1);
    DisplayProcessProgressBar(bar);

    int pass = 0;
    {
        // Every adapter is written from the same image bytes, read once.
        const ImageFileRun images;
        pass = UpdateAdapteFwComponents(bar, family, portOption, 1);
    }

    ProgressBarSetProgress(bar, barSize);
    OSSSleep(1);
    // The redraw thread makes its last drawing of the full bar and is joined
    // before the bar goes (also when no bar could be allocated).
    StopProgressBarThread();
    ProgressBarFree(bar);
    SetProcessStatus(0);
    PrintOutPut("%s", "");

    int result = pass;
    switch (pass) {
        case kPassAllUpdated:
            std::snprintf(line, sizeof line, "MCTP config %s: Update is complete.", word);
            print_both(line);
            print_both("===================================");
            print_both("A SYSTEM REBOOT IS REQUIRED FOR THE");
            print_both("NEW UPDATE TO TAKE EFFECT!");
            print_both("====================================");
            result = 1;
            break;
        case kPassNotRequired:
            std::snprintf(line, sizeof line, "MCTP config %s: Not required.", word);
            print_both(line);
            break;
        case kPassAllFailed:
            std::snprintf(line, sizeof line, "MCTP config %s: Failed.", word);
            print_both(line);
            break;
        case kPassSomeFailed:
            std::snprintf(line, sizeof line, "MCTP config %s: Completed with errors.", word);
            print_both(line);
            break;
        default:
            std::snprintf(line, sizeof line, "MCTP config %s: Not compatible.", word);
            print_both(line);
            result = -1;
            break;
    }
    DeleteFlashCtrVersionList();
    return result;
}
