// Region plan and region writes of the Dorne engines.
#include "engines/dorne_region_writes.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "core/chip_types.h"
#include "core/image_status.h"
#include "core/oss_services.h"
#include "engines/region_write_buffer.h"
#include "frontend/output.h"
#include "image/card_types.h"
#include "image/firmware_image.h"
#include "image/flash_memo_block.h"
#include "image/ilt_entry_data.h"
#include "image/region_sequences.h"
#include "image/word_helpers.h"
#include "mgmt/sdapi.h"

namespace {

constexpr unsigned kPauseAfterWrite = 5;
constexpr unsigned kPauseAfterStatus = 2;
constexpr SD_UINT32 kRiscAttributeCode = 0x40;
constexpr SD_UINT32 kOutageDuration = 400;

enum class ChipRule {
    None,       // written as it is
    Mpi,        // the entry's chip revision must fit; the revision rule is only logged
    Risc,       // the revision rule must accept the entry
};

struct RegionKind {
    SD_UINT16 type;
    const char* updateText;
    const char* verifyText;
    SD_INT32 onlineStatus;
    SD_INT32 offlineStatus;
    ChipRule rule;
    bool onlineVerifyLine;   // the on-line read-back has a progress item of its own (off-line: none has)
};

constexpr RegionKind kKinds[] = {
    {0x9E, "Updating Adapter Signature... ", "Verifying Adapter Signature... ", DORNE_SIGNATURE_FAILED,
     DORNE_SIGNATURE_FAILED, ChipRule::None, false},
    {0xE1, "Updating Adapter Extended MPI Fw ... ", "Verifying Adapter Extended MPI Fw... ", DORNE_MPI_FAILED,
     DORNE_MPI_FAILED, ChipRule::Mpi, true},
    {0xD3, "Updating Adapter MPI Fw ... ", "Verifying Adapter MPI Fw... ", DORNE_MPI_FAILED, DORNE_MPI_FAILED,
     ChipRule::Mpi, true},
    // The off-line engine reports a failed PEP firmware under the MPI firmware's status.
    {0xD1, "Updating Adapter PEP Fw... ", "Verifying Adapter PEP Fw... ", DORNE_PEP_FAILED, DORNE_MPI_FAILED,
     ChipRule::Mpi, true},
    {0x66, "Updating Adapter Trunking PEP Fw... ", "Verifying Adapter trunking PEP Fw... ", DORNE_TRUNK_PEP_FAILED,
     DORNE_TRUNK_PEP_FAILED, ChipRule::Mpi, true},
    {0x07, "Updating Adapter FC Boot Code... ", "Verifying Adapter FC Boot Code... ", DORNE_BOOT_CODE_FAILED,
     DORNE_BOOT_CODE_FAILED, ChipRule::None, true},
    {0x01, "Updating Adapter FC RISC Fw... ", "Verifying Adapter FC RISC Fw... ", DORNE_RISC_FAILED,
     DORNE_RISC_FAILED, ChipRule::Risc, true},
};

const RegionKind* KindOf(SD_UINT16 type) {
    for (const RegionKind& k : kKinds) {
        if (k.type == type) return &k;
    }
    return nullptr;
}

// The bytes the region buffer holds after the entry's data: the whole image
// layout table follows the boot code.
SD_UINT32 TableAfter(const DorneRegionWrite& e, IltBytes combined) {
    return e.type == DORNE_REGION_BOOT_CODE ? ILT_Header_GetTableLength(combined) : 0;
}

int Misfit(const char* why, const DorneRegionWrite& e) {
    VORNLogMessage(VORN_MSG_DEBUG,
                   "DorneBuildWritePlan: entry %u (type 0x%x, 0x%x bytes at 0x%x) for region 0x%x (0x%x bytes): %s",
                   e.entryIndex, e.type, e.length, e.offset, e.target, e.regionSize, why);
    return ILT_REGION_TOO_LARGE;
}

void Failed(DorneRegionWriter& w, SD_UINT32 result, bool print = true) {
    if (print) scfxPrint("Failed");
    const DorneModel model(w.device);
    const int instance = static_cast<int>(w.device->DeviceNumber);
    if (result == DORNE_SD_LOCKDOWN) {
        w.message->Set("Flash update failed with HBA instance %d (%s). Firmware lockdown mode enabled!", instance,
                       model.text);
    } else {
        w.message->Set("Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!", instance, result,
                       SDGetErrorString(result));
    }
}

}  // namespace

bool DorneWritesType(SD_UINT32 type) { return type <= 0xFFFF && KindOf(static_cast<SD_UINT16>(type)) != nullptr; }

int DorneBuildWritePlan(const DornePlanInput& in, DorneWritePlan* plan) {
    plan->entries.clear();
    plan->toWrite = 0;
    const SD_UINT16 count = ILT_Header_GetNumOfRegionEntries(in.combined);
    for (const SD_UINT32 code : in.sequence) {
        if (code == 0) continue;
        for (SD_UINT16 i = 0; count > 0 && i + 1 < count; ++i) {
            const auto region = ILT_Region_GetRegionByIndex(in.combined, i);
            if (!region || region->regionType != code) continue;
            DorneRegionWrite e;
            e.entryIndex = i;
            e.type = region->regionType;
            e.offset = HLPR_GetDoubleWord(region->offsetLo, region->offsetHi);
            e.length = HLPR_GetDoubleWord(region->sizeLo, region->sizeHi);
            e.target = GetActualRegionToUpdate(code, nullptr, static_cast<SD_INT32>(in.imageSet));
            e.regionSize = DorneRegionSize(*in.layout, e.target);
            const RegionKind* kind = KindOf(e.type);
            e.write = kind != nullptr && in.allRegions && CardTypeComapre(region->swapModeCardType, in.cardType) &&
                      HwRevComapre(in.chipRev, region->chipRev);
            if (e.write && kind->rule != ChipRule::None) {
                const int rule = ValidateImageChipRevision(&*region, in.chipRev);
                if (rule != 0 && kind->rule == ChipRule::Risc) {
                    VORNLogMessage(VORN_MSG_DEBUG, "DorneBuildWritePlan: Skipping region 0x%x (chip revision %d)",
                                   e.type, rule);
                    e.write = false;
                } else if (rule != 0) {
                    VORNLogMessage(VORN_MSG_DEBUG, "DorneBuildWritePlan: region 0x%x chip revision rule %d", e.type,
                                   rule);
                }
            }
            if (e.write) {
                // Everything written must come from the image and fit its
                // region: the region buffer is never overrun.
                if (!ILT_Region_GetComponent(in.combined, *region)) return Misfit("data past the image", e);
                if (!DorneHasRegion(*in.layout, e.target)) return Misfit("region not in the flash layout", e);
                if (TableAfter(e, in.combined) > in.combined.size()) return Misfit("table past the image", e);
                const std::uint64_t needed = std::uint64_t{e.length} + TableAfter(e, in.combined);
                if (needed > e.regionSize) return Misfit("larger than the region", e);
                ++plan->toWrite;
            }
            try {
                plan->entries.push_back(e);
            } catch (const std::bad_alloc&) {
                return -1;
            }
        }
    }
    return 0;
}

SD_INT32 DorneClearMemoBlockVersion(DorneRegionWriter& w, std::vector<SD_UINT8>* pFound) {
    SD_UINT32 answer = 0;
    if (ClearFlashMemoBlockVersion(w.device, pFound, &answer) == 0) return DORNE_SUCCESS;
    // Its own "Failed" closes the output: no message of the engine's after
    // it, but for a lockdown, which says why nothing can be written.
    if (answer == DORNE_SD_LOCKDOWN) {
        Failed(w, answer, false);
        return DORNE_LOCKDOWN;
    }
    w.message->Clear();
    return FLASH_MEMO_WRITE_FAILED;
}

SD_INT32 DorneWriteAndVerify(DorneRegionWriter& w, std::span<const SD_UINT8> buffer, SD_UINT32 region,
                             const char* verifyText, SD_INT32 failStatus, DorneLines lines) {
    const bool print = lines != DorneLines::None;
    const SD_UINT32 result =
        AppUpdateOptionRomEx3(w.device, buffer, region, static_cast<SD_UINT32>(buffer.size()), w.regionDisableReset);
    if (result != 0 && result != DORNE_SD_NOT_ACTIVATED) {
        VORNLogMessage(VORN_MSG_DEBUG, "DorneWriteAndVerify: region 0x%x write answered 0x%x", region, result);
        Failed(w, result, print);
        return result == DORNE_SD_LOCKDOWN ? DORNE_LOCKDOWN : failStatus;
    }
    if (result == DORNE_SD_NOT_ACTIVATED && w.forceDisableReset != nullptr) *w.forceDisableReset = 1;
    if (print) scfxPrint("Success");
    if (lines == DorneLines::WriteAndVerify) scfxDiagnosticsPrint("%s", verifyText);
    // Read back even where no line shows it: the records must never name a
    // set holding other bytes than those written.
    const int check = CoreCheckOptionRomData(w.device, region, static_cast<SD_UINT32>(buffer.size()), buffer);
    if (check != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "DorneWriteAndVerify: region 0x%x read back differs (%d)", region, check);
        if (lines == DorneLines::Write) scfxDiagnosticsPrint("%s", verifyText);
        if (print) scfxPrint("Failed");
        // The message then names the read-back that failed.
        w.message->Set("%s", verifyText);
        return failStatus;
    }
    if (lines == DorneLines::WriteAndVerify) scfxPrint("Success");
    return DORNE_SUCCESS;
}

SD_INT32 DorneWriteRegion(DorneRegionWriter& w, const DorneRegionWrite& e) {
    const RegionKind* kind = KindOf(e.type);
    if (kind == nullptr || !e.write) return DORNE_SUCCESS;
    const SD_INT32 failStatus = w.online ? kind->onlineStatus : kind->offlineStatus;
    scfxDiagnosticsPrint("%s", kind->updateText);

    // Kept from region to region: a fresh megabyte per region costs more in
    // page faults than its fill. The planning made sure the component fits.
    // The boot code gets its table and the adapter's defaults after the
    // component, anywhere in the region.
    static thread_local RegionWriteBuffer store;
    std::span<SD_UINT8> buffer;
    try {
        const bool patched = e.type == DORNE_REGION_BOOT_CODE;
        buffer = TakeRegionWriteBuffer(store, e.regionSize, e.length, patched ? e.regionSize : e.length);
    } catch (const std::bad_alloc&) {
        // A region that cannot be written is a failed region, never a skipped one.
        scfxPrint("Failed");
        w.message->Set("Memory allocation error!");
        OSSSleep(kPauseAfterWrite);
        return failStatus;
    }
    const auto component = CombinedEntryData(w.kept, e.entryIndex, w.combined.subspan(e.offset, e.length));
    std::copy(component.begin(), component.end(), buffer.begin());
    if (e.type == DORNE_REGION_BOOT_CODE) {
        const SD_UINT16 table = ILT_Header_GetTableLength(w.combined);
        std::copy_n(w.combined.begin(), table, buffer.begin() + e.length);
        if (CorePreserveISPDefaults(w.device, w.bootBackup, buffer) != 0) {
            scfxPrint("Failed");
            w.message->Set("Unable to preserve BIOS default area of HBA (Instance %d)!",
                           static_cast<int>(w.device->DeviceNumber));
            OSSSleep(kPauseAfterWrite);
            return failStatus;
        }
    }
    if (e.type == DORNE_REGION_RISC && w.online) {
        SD_UINT64 attributes = 0;
        GetFirmwareAttribute(component, kRiscAttributeCode, &attributes);
        const SD_UINT32 sent = SDSendFlashUpdateFWAttributes(w.device->DeviceHandle, 0, attributes, kOutageDuration);
        if (sent != 0) {
            // The firmware cannot go in without its attributes: a failed region.
            VORNLogMessage(VORN_MSG_DEBUG, "DorneWriteRegion: firmware attributes 0x%llx refused (0x%x)",
                           static_cast<unsigned long long>(attributes), sent);
            Failed(w, sent);
            OSSSleep(kPauseAfterWrite);
            return failStatus;
        }
    }
    const DorneLines lines = w.online && kind->onlineVerifyLine ? DorneLines::WriteAndVerify : DorneLines::Write;
    const SD_INT32 st = DorneWriteAndVerify(w, buffer, e.target, kind->verifyText, failStatus, lines);
    OSSSleep(kPauseAfterWrite);
    return st;
}

SD_INT32 DorneWriteImageStatusRecords(DorneRegionWriter& w, const DorneImageSets& sets, const DorneRecordPlan& plan,
                                      std::span<const SD_UINT32> order, bool print, bool zeroResetFlag,
                                      bool oneStatus) {
    for (const SD_UINT32 region : order) {
        const bool primary = region == IMAGE_STATUS_REGION_PRIMARY;
        const DorneStatusRecord& record = primary ? sets.primary : sets.secondary;
        const auto& bytes = primary ? plan.primary : plan.secondary;
        const SD_INT32 failStatus = primary || oneStatus ? DORNE_PRIMARY_STATUS_FAILED : DORNE_SECONDARY_STATUS_FAILED;
        static thread_local RegionWriteBuffer store;   // kept, as for regions
        if (record.regionSize < bytes.size()) {
            w.message->Set("Memory allocation error!");
            return failStatus;
        }
        std::span<SD_UINT8> buffer;
        try {
            buffer = TakeRegionWriteBuffer(store, record.regionSize, bytes.size(), bytes.size());
        } catch (const std::bad_alloc&) {
            w.message->Set("Memory allocation error!");
            return failStatus;
        }
        std::copy(bytes.begin(), bytes.end(), buffer.begin());
        if (print)
            scfxDiagnosticsPrint(primary ? "Updating Adapter Primary Image Status... "
                                         : "Updating Adapter Secondary Image Status... ");
        SD_UINT16 zero = 0;
        DorneRegionWriter rw = w;
        if (zeroResetFlag) rw.regionDisableReset = &zero;
        const SD_INT32 st = DorneWriteAndVerify(rw,
                                                buffer, region,
                                                primary ? "Verifying Adapter Primary Image Status..."
                                                        : "Verifying Adapter Secondary Image Status...",
                                                failStatus, print ? DorneLines::WriteAndVerify : DorneLines::None);
        OSSSleep(kPauseAfterStatus);
        if (st != DORNE_SUCCESS) {
            VORNLogMessage(VORN_MSG_DEBUG, "DorneWriteImageStatusRecords: region 0x%x failed (0x%x)", region, st);
            return failStatus;
        }
    }
    return DORNE_SUCCESS;
}
