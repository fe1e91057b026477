// Region walk of the Vrel engine: build, write and read back each region.
#include "engines/vrel_region_writes.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "core/active_regions.h"
#include "core/chip_types.h"
#include "core/flash_read_buffer.h"
#include "core/host_info.h"
#include "core/image_status.h"
#include "core/oss_services.h"
#include "engines/region_write_buffer.h"
#include "engines/vrel_image_status.h"
#include "frontend/output.h"
#include "image/card_types.h"
#include "image/flash_memo_block.h"
#include "image/firmware_image.h"
#include "image/ilt_accessors.h"
#include "image/ilt_entry_data.h"
#include "image/region_io.h"
#include "image/word_helpers.h"
#include "mgmt/sdapi.h"

namespace {

constexpr SD_UINT32 kBootCode = 0x07;
constexpr SD_UINT32 kBootCodeExp = 0x11;
constexpr SD_UINT32 kFcBoardConfig = 0xBA;
constexpr SD_UINT32 kPepBoardConfig = 0xCF;
constexpr SD_UINT32 kFirmware = 0x01;
// The firmware code whose attributes the activation needs.
constexpr SD_UINT32 kFirmwareAttributeCode = 0x80;

using Version = std::array<int, 3>;

// What the walk does for one code of the order.
struct CodeRow {
    SD_UINT32 code;
    const char* progress;   // with the component's three version numbers where it has them
    const char* readBack;   // null: not read back
    SD_INT32 failure;
    Version (*version)(const FlashComponentVersion&);
    bool strictChipRev;     // an entry of another chip revision is passed over
};

Version none(const FlashComponentVersion&) { return {0, 0, 0}; }
Version pepSoftRom(const FlashComponentVersion& v) {
    return {v.PEPSoftROMMajorVersion, v.PEPSoftROMMinorVersion, v.PEPSoftROMSubminorVersion};
}
Version pepFw(const FlashComponentVersion& v) { return {v.PEPFwMajorVersion, v.PEPFwMinorVersion, v.PEPFwSubminorVersion}; }
Version pepBoard(const FlashComponentVersion& v) {
    return {v.PEPBoardCfgMajorVersion, v.PEPBoardCfgMinorVersion, v.PEPBoardCfgSubminorVersion};
}
Version fwArea(const FlashComponentVersion& v) { return {v.FwAreaMajorVersion, v.FwAreaMinorVersion, v.FwAreaSubminorVersion}; }
Version mpiSoftRom(const FlashComponentVersion& v) {
    return {v.MPISoftROMMajorVersion, v.MPISoftROMMinorVersion, v.MPISoftROMSubminorVersion};
}
Version mpiFw(const FlashComponentVersion& v) { return {v.MPIFwMajorVersion, v.MPIFwMinorVersion, v.MPIFwSubminorVersion}; }
Version serdes(const FlashComponentVersion& v) {
    return {v.PCIeSerdesMajorVersion, v.PCIeSerdesMinorVersion, v.PCIeSerdesSubminorVersion};
}
Version fcSoftRom(const FlashComponentVersion& v) {
    return {v.FCSoftROMMajorVersion, v.FCSoftROMMinorVersion, v.FCSoftROMSubminorVersion};
}
Version fcBoard(const FlashComponentVersion& v) {
    return {v.FCBoardCfgMajorVersion, v.FCBoardCfgMinorVersion, v.FCBoardCfgSubminorVersion};
}
Version fcFw(const FlashComponentVersion& v) { return {v.FCFwMajorVersion, v.FCFwMinorVersion, v.FCFwSubminorVersion}; }

constexpr CodeRow kRows[] = {
    {0x9E, "Updating Adapter Signature... ", nullptr, 510, none, false},
    {0x07, "Updating Adapter FC Boot Code... ", "Verifying Adadpter FC Boot Code... ", 458, none, false},
    {0x11, "Updating Adapter FC Exp. Boot Code... ", "Verifying Adapter Exp. FC Boot Code.... ", 466, none, false},
    {0xD2, "Updating Adapter PEP softROM version %02d.%02d.%02d... ", "Verifying Adapter PEP softROM... ", 527,
     pepSoftRom, true},
    {0xD1, "Updating Adapter PEP Fw version %02d.%02d.%02d... ", "Verifying Adapter PEP FW... ", 512, pepFw, true},
    {0xCF, "Updating Adapter PEP Board Configs version %02d.%02d.%02d... ", "Verifying Adapter PEP Board Config... ",
     530, pepBoard, true},
    {0x13, "Updating Adapter Fw Preload Area version %d.%d.%d... ", "Verifying Adapter Fw Preload Area... ", 532,
     fwArea, true},
    {0x101, "Updating Adapter MPI softROM version %02d.%02d.%02d... ", "Verifying Adapter MPI softROM... ", 528,
     mpiSoftRom, true},
    {0xD3, "Updating Adapter MPI Fw version %02d.%02d.%02d... ", "Verifying Adapter MPI Fw... ", 511, mpiFw, true},
    {0x102, "Updating Adapter PCIe Serdes version %02d.%02d.%02d... ", "Verifying Adapter PCIe Serdes... ", 529,
     serdes, true},
    {0x103, "Updating Adapter FC softROM version %d.%d.%d... ", "Verifying Adapter FC softROM... ", 533, fcSoftRom,
     true},
    {0xBA, "Updating Adapter FC Board Configs version %02d.%02d.%02d... ", "Verifying Adapter FC Board Config... ",
     531, fcBoard, true},
    {0x01, "Updating Adapter FC RISC Fw version %d.%d.%d... ", "Verifying Adapter FC RISC Firmware... ", 459, fcFw,
     false},
};

const CodeRow* row_of(SD_UINT32 code) {
    for (const CodeRow& r : kRows)
        if (r.code == code) return &r;
    return nullptr;
}

// The engine's message buffer: each progress text is kept there as well, so
// that a failure without a message of its own ends with the step it stopped at.
class Lines {
public:
    explicit Lines(std::span<char> message) : message_(message) {}

    void Progress(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        char text[256];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        Keep(text);
        scfxDiagnosticsPrint("%s", text);
    }
    void Message(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        char text[256];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        Keep(text);
    }

    // The buffer itself, for a message formatted elsewhere.
    std::span<char> Buffer() const { return message_; }

    // No closing line: the step's own "Failed" says it.
    void Clear() {
        if (!message_.empty()) message_[0] = '\0';
    }

private:
    void Keep(const char* text) {
        if (!message_.empty()) std::snprintf(message_.data(), message_.size(), "%s", text);
    }
    std::span<char> message_;
};

void print_boot_versions(const FlashComponentVersion& v, bool expansion) {
    auto line = [](const char* format, int a, int b, int c) {
        if (a != 0 || b != 0 || c != 0) scfxPrint(format, a, b, c);
    };
    if (expansion) {
        line("BIOS Exp. version: %02d.%02d.%02d", v.BiosExpMajorVersion, v.BiosExpMinorVersion, v.BiosExpSubminorVersion);
        line("FCode Exp. version: %02d.%02d.%02d", v.FCodeExpMajorVersion, v.FCodeExpMinorVersion,
             v.FCodeExpSubminorVersion);
        line("EFI Exp. version: %02d.%02d.%02d", v.EFIExpMajorVersion, v.EFIExpMinorVersion, v.EFIExpSubminorVersion);
    } else {
        line("BIOS version: %02d.%02d.%02d", v.BiosMajorVersion, v.BiosMinorVersion, v.BiosSubminorVersion);
        line("FCode version: %02d.%02d.%02d", v.FCodeMajorVersion, v.FCodeMinorVersion, v.FCodeSubminorVersion);
        line("EFI version: %02d.%02d.%02d", v.EFIMajorVersion, v.EFIMinorVersion, v.EFISubminorVersion);
    }
}

// A whole region of the layout as read; empty when it cannot be read.
std::vector<SD_UINT8> read_layout_region(const VrelWriteContext& ctx, SD_UINT32 region) {
    const SDM_OPT_ROM_REGION* layout = VrelFindLayoutRegion(*ctx.layout, region);
    FlashReadBuffer block;
    if (layout == nullptr || !block.Allocate(layout->Size) || FlashReadWhole(ctx.device->DeviceHandle, region, block) != 0)
        return {};
    const std::span<const SD_UINT8> bytes = block.Bytes();
    return {bytes.begin(), bytes.end()};
}

// One entry: build its buffer, prepare, write, read back. Returns the status
// (0 when the region was written and verified).
class EntryWriter {
public:
    EntryWriter(const VrelWriteContext& ctx, VrelWriteResult* result, Lines& lines)
        : ctx_(ctx), result_(result), lines_(lines) {}

    SD_INT32 Write(const CodeRow& row, const ILT_Region_t& entry, SD_UINT16 index, SD_UINT32 regionSize);

private:
    SD_INT32 Fail(const CodeRow& row, SD_UINT32 answer);
    SD_INT32 Lockdown();
    SD_UINT32 Store(std::span<const SD_UINT8> bytes, SD_UINT32 region, SD_UINT32 size);
    SD_INT32 Prepare(const CodeRow& row, std::span<SD_UINT8> buffer);
    SD_INT32 HoldRecords();
    SD_INT32 HoldFailed(const char* step, SD_UINT32 answer, SD_INT32 status);
    SD_UINT32 MemoRegion() const;
    SD_INT32 HoldMemoBlock();

    const VrelWriteContext& ctx_;
    VrelWriteResult* result_;
    Lines& lines_;
};

SD_INT32 EntryWriter::Lockdown() { return VrelLockdownFailure(ctx_.instance, ctx_.model, lines_.Buffer()); }

// Every write of the walk, the memo hold's too: the library's answer, a write
// stored but not activated counted as written (the engine then activates nothing).
SD_UINT32 EntryWriter::Store(std::span<const SD_UINT8> bytes, SD_UINT32 region, SD_UINT32 size) {
    SD_UINT16 disableReset = 1;
    const SD_UINT32 answer = AppUpdateOptionRomEx3(ctx_.device, bytes, region, size, &disableReset);
    if (answer != SDERR_FLASHED_NOT_ACTIVATED) return answer;
    result_->forceDisableReset = 1;
    return 0;
}

SD_INT32 EntryWriter::Fail(const CodeRow& row, SD_UINT32 answer) {
    lines_.Message("Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!", ctx_.instance, answer,
                   SDGetErrorString(answer));
    return row.failure;
}

// Before the first write of the run: a run since the adapter started may
// have marked the set not running, and the board-configuration copy that
// does not serve, to start from next, and a cut in their rewrite would leave
// the adapter starting from a torn one. The records are first made to name
// what runs now (nothing is written where they do already).
// Until both pairs name what runs, a cut can leave the adapter starting one
// set with the board configuration of another run; no memo block a rerun
// reads may then name a version. So the set's memo block goes first (see
// HoldMemoBlock), then the auxiliary records, and the image-status records
// last: every cut before that leaves the adapter starting the set being
// written, whose block names no version, and after it the set and the copy
// that run, both whole. The auxiliary records are held also for an image
// without a board configuration: left naming another run's copy, a cut or a
// failure after the image-status hold would start the running set with that
// copy, under a block naming the running set's version. Such a run puts them
// back at its switch (VrelRestoreAuxImageStatus).
// A hold that fails prints its own step, never the component's.
SD_INT32 EntryWriter::HoldRecords() {
    if (!result_->memoHeld) {
        if (const SD_INT32 st = HoldMemoBlock(); st != 0) return st;
        result_->memoHeld = true;
    }
    const char* const running = ctx_.active.ActiveGlobalRegions == 1 ? "Primary" : "Secondary";
    char step[128];
    SD_UINT32 answer = 0;
    if (!result_->auxStatusHeld) {
        if (const int st = CoreHoldAuxImageStatus(ctx_.device, ctx_.active, AUX_COMPONENT_BOARD_CONFIG,
                                                  &result_->auxStatusFound, &answer);
            st != 0) {
            VORNLogMessage(VORN_MSG_DEBUG, "VrelOnlineFlashUpdate: Aux image status not held on the serving copy (%d)",
                           st);
            std::snprintf(step, sizeof step, "Updating Adapter %s Aux Image Status... ", running);
            return HoldFailed(step, answer, VREL_AUX_IMAGE_STATUS_FAILED);
        }
        result_->auxStatusHeld = true;
    }
    if (!result_->imageStatusHeld) {
        if (const int st = CoreHoldImageStatus(ctx_.device, ctx_.active, &result_->imageStatusFound, &answer);
            st != 0) {
            VORNLogMessage(VORN_MSG_DEBUG, "VrelOnlineFlashUpdate: Image status not held on the running set (%d)", st);
            std::snprintf(step, sizeof step, "Updating Adapter %s Image Status... ", running);
            return HoldFailed(step, answer, VREL_IMAGE_STATUS_FAILED);
        }
        result_->imageStatusHeld = true;
    }
    return 0;
}

// A hold's own step completed by "Failed"; a lockdown ends the run as it
// would at the component's write, any other failure with the hold's status
// and no further line.
SD_INT32 EntryWriter::HoldFailed(const char* step, SD_UINT32 answer, SD_INT32 status) {
    scfxDiagnosticsPrint("%s", step);
    scfxPrint("Failed");
    lines_.Clear();
    return answer == SDERR_LOCKDOWN ? Lockdown() : status;
}

SD_UINT32 EntryWriter::MemoRegion() const {
    return GetFlashMemoBlockRegionOfSet(ctx_.active.ActiveGlobalRegions == 1 ? 2 : 1);
}

// The set's memo block, written last, is what a rerun calls up to date.
// Until this run writes its own block there, the block names no version:
// whatever version it names now (the set's earlier contents, or this run's
// from an earlier run since the start), a cut that leaves the set starting
// before its memo block is written would otherwise let a rerun of that
// version call the set up to date instead of writing it again. Its other
// bytes stay its own: a rerun after a cut builds its final block from what
// it finds there. A block that names none, or no block, is left as it is.
SD_INT32 EntryWriter::HoldMemoBlock() {
    const SD_UINT32 to = MemoRegion();
    const SDM_OPT_ROM_REGION* target = VrelFindLayoutRegion(*ctx_.layout, to);
    SD_UINT32 answer = 0;
    const auto fail = [this, to, &answer] {
        VORNLogMessage(VORN_MSG_DEBUG, "VrelOnlineFlashUpdate: Memo block 0x%x not held", to);
        return HoldFailed("Updating Adapter Flash Memo Block... ", answer, FLASH_MEMO_WRITE_FAILED);
    };
    // Left empty when it cannot be read: the hold then fails.
    result_->memoFound = read_layout_region(ctx_, to);
    if (result_->memoFound.empty() || target == nullptr || result_->memoFound.size() != target->Size) return fail();
    std::vector<SD_UINT8> cleared;
    try {
        cleared = result_->memoFound;
    } catch (const std::bad_alloc&) {
        return fail();
    }
    if (!FlashMemoBlockClearVersion(cleared)) return 0;
    // Written as the components are, so that a lockdown, which refuses this
    // first write of a run, says why nothing can be written.
    answer = Store(cleared, to, target->Size);
    if (answer != 0 || CoreCheckOptionRomData(ctx_.device, to, target->Size, cleared) != 0) return fail();
    VORNLogMessage(VORN_MSG_DEBUG, "VrelOnlineFlashUpdate: Memo block 0x%x names no version until the set is written",
                   to);
    return 0;
}

// The steps between the progress line and the write: the adapter's own
// settings carried into the boot code and the board configuration, the
// firmware's attributes announced for its activation.
SD_INT32 EntryWriter::Prepare(const CodeRow& row, std::span<SD_UINT8> buffer) {
    if (row.code == kBootCode) {
        if (CorePreserveISPDefaults(ctx_.device, ctx_.activeBootCode, buffer) != 0) {
            scfxPrint("Failed");
            lines_.Message("Unable to preserve BIOS default area of HBA (Instance %d)!", ctx_.instance);
            return row.failure;
        }
    } else if (row.code == kFcBoardConfig) {
        result_->boardConfigHandled = true;
        const int answer = CorePreserveFCBrdCfgData(ctx_.device, ctx_.activeBoardConfig, buffer);
        if (answer != 0) {
            scfxPrint("Failed");
            return Fail(row, static_cast<SD_UINT32>(answer));
        }
    } else if (row.code == kFirmware) {
        SD_UINT64 attributes = 0;
        GetFirmwareAttribute(buffer, kFirmwareAttributeCode, &attributes);
        const SD_UINT32 answer =
            SDSendFlashUpdateFWAttributes(ctx_.device->DeviceHandle, 0, attributes, VREL_FW_OUTAGE_SECONDS);
        // Firmware whose activation cannot be announced is not written: the
        // update fails rather than end complete without it.
        if (answer != 0) {
            VORNLogMessage(VORN_MSG_DEBUG, "VrelOnlineFlashUpdate: SDSendFlashUpdateFWAttributes failed 0x%x", answer);
            scfxPrint("Failed");
            return Fail(row, answer);
        }
    }
    return 0;
}

SD_INT32 EntryWriter::Write(const CodeRow& row, const ILT_Region_t& entry, SD_UINT16 index, SD_UINT32 regionSize) {
    // Kept from region to region: a fresh megabyte per region costs more in
    // page faults than its fill. The boot code gets its table after the
    // component, and it and the board configuration get the adapter's own
    // data patched in anywhere in the region.
    static thread_local RegionWriteBuffer store;
    std::span<SD_UINT8> buffer;
    const std::size_t componentSize = HLPR_GetDoubleWord(entry.sizeLo, entry.sizeHi);
    try {
        const bool patched = row.code == kBootCode || row.code == kBootCodeExp || row.code == kFcBoardConfig;
        buffer = TakeRegionWriteBuffer(store, regionSize, componentSize, patched ? regionSize : componentSize);
    } catch (const std::bad_alloc&) {
        lines_.Message("Memory allocation error!");
        return row.failure;
    }
    // The checks before the session made sure that data (and, for the boot
    // code, the table after it) fit the region; a misfit here still writes nothing.
    const auto inCombined = ILT_Region_GetComponent(ctx_.combined, entry);
    const auto data = CombinedEntryData(ctx_.kept, index, inCombined.value_or(IltBytes{}));
    if (!inCombined || data.size() > buffer.size()) {
        lines_.Message("Incompatible flash image (Region size mismatched)!");
        return row.failure;
    }
    std::copy(data.begin(), data.end(), buffer.begin());
    if (row.code == kBootCode || row.code == kBootCodeExp) {
        const std::size_t dataSize = componentSize;
        const std::size_t tableLength = ILT_Header_GetTableLength(ctx_.combined);
        if (tableLength > ctx_.combined.size() || tableLength > buffer.size() - dataSize) {
            lines_.Message("Incompatible flash image (Region size mismatched)!");
            return row.failure;
        }
        std::memcpy(buffer.data() + dataSize, ctx_.combined.data(), tableLength);
    }

    const SD_UINT32 region = CoreGetAlternateRegion(row.code, &ctx_.active);
    VORNLogMessage(VORN_MSG_DEBUG, "VrelOnlineFlashUpdate: Region 0x%x -> 0x%x (0x%x bytes)", row.code, region,
                   regionSize);
    if (const SD_INT32 held = HoldRecords(); held != 0) return held;
    if (row.code == 0x103) scfxDiagnosticsPrint("Updating Adapter FC SoftROM ... ");
    const Version v = row.version(*ctx_.versions);
    lines_.Progress(row.progress, v[0], v[1], v[2]);

    if (const SD_INT32 prepared = Prepare(row, buffer); prepared != 0) return prepared;

    const SD_UINT32 answer = Store(buffer, region, regionSize);
    if (answer != 0) {
        scfxPrint("Failed");
        if (answer == SDERR_LOCKDOWN) return Lockdown();
        if (row.code == kFcBoardConfig || row.code == kPepBoardConfig) {
            lines_.Message("Flash update failed with HBA (Instance %d - %s). Checksum mismached!", ctx_.instance,
                           ctx_.model.c_str());
            return row.failure;
        }
        return Fail(row, answer);
    }
    scfxPrint("Success");
    if (row.code == kBootCode || row.code == kBootCodeExp) print_boot_versions(*ctx_.versions, row.code == kBootCodeExp);
    if (row.code == kFirmware) OSSSleep(5);

    // A region without a read-back line of its own is still read back: the
    // records must never name a set holding bytes other than those written.
    if (row.readBack == nullptr) {
        if (CoreCheckOptionRomData(ctx_.device, region, regionSize, buffer) != 0) {
            lines_.Progress("%s", "Verifying Adapter Signature... ");
            scfxPrint("Failed");
            result_->written = false;
            return row.failure;
        }
        ++result_->regionsUpdated;
        result_->written = true;
        return 0;
    }
    lines_.Progress("%s", row.readBack);
    if (CoreCheckOptionRomData(ctx_.device, region, regionSize, buffer) != 0) {
        scfxPrint("Failed");
        result_->written = false;
        return row.failure;
    }
    scfxPrint("Success");
    ++result_->regionsUpdated;
    result_->written = true;
    return 0;
}

}  // namespace

SD_INT32 VrelLockdownFailure(int instance, const std::string& model, std::span<char> message) {
    if (!message.empty())
        std::snprintf(message.data(), message.size(),
                      "Flash update failed with HBA instance %d (%s). Firmware lockdown mode enabled!", instance,
                      model.c_str());
    return VREL_LOCKDOWN_FAILED;
}

bool VrelWritesType(SD_UINT32 type) { return row_of(type) != nullptr; }

const SDM_OPT_ROM_REGION* VrelFindLayoutRegion(const SDMOptRomLayoutCopy& layout, SD_UINT32 code) {
    for (const SDM_OPT_ROM_REGION& r : layout.Regions)
        if (r.Region == code) return &r;
    return nullptr;
}

namespace {

// Whether the walk writes this entry of the combined image for `row`.
bool walk_writes(const VrelWriteContext& ctx, const CodeRow& row, const ILT_Region_t& entry) {
    if (entry.regionType != row.code) return false;
    if (!CardTypeComapre(entry.swapModeCardType, static_cast<SD_UINT16>(ctx.cardType)) ||
        !HwRevComapre(ctx.chipRev, entry.chipRev))
        return false;
    if (!ctx.allRegionsRequested) return false;
    return !(row.strictChipRev && ((entry.chipRev != 0 && entry.chipRev != ctx.chipRev) ||
                                   ValidateImageChipRevision(&entry, ctx.chipRev) != 0));
}

}  // namespace

void VrelWriteRegions(const VrelWriteContext& ctx, std::span<const SD_UINT32> order, VrelWriteResult* result,
                      std::span<char> message) {
    Lines lines(message);
    EntryWriter writer(ctx, result, lines);
    for (const SD_UINT32 code : order) {
        if (result->status != 0) break;
        const CodeRow* row = row_of(code);
        const SDM_OPT_ROM_REGION* layoutRegion = VrelFindLayoutRegion(*ctx.layout, code);
        // Memo block, image status and zero slots are written after the walk.
        if (row == nullptr || layoutRegion == nullptr) continue;
        const SD_UINT16 entries = ILT_Header_GetNumOfRegionEntries(ctx.combined);
        for (SD_UINT16 index = 0; index + 1 < entries && result->status == 0; ++index) {
            const auto entry = ILT_Region_GetRegionByIndex(ctx.combined, index);
            if (!entry || !walk_writes(ctx, *row, *entry)) continue;
            if (code == kFirmware) {
                const int revision = ValidateImageChipRevision(&*entry, ctx.chipRev);
                if (revision != 0) {
                    result->status = revision;
                    break;
                }
            }
            result->status = writer.Write(*row, *entry, index, layoutRegion->Size);
            // Every region buffer built is followed by the pause.
            OSSSleep(5);
        }
    }
}
