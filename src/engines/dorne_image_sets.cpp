// Image sets and image-status records of the Dorne engines.
#include "engines/dorne_image_sets.h"

#include <algorithm>

#include "core/active_regions.h"
#include "core/flash_read_buffer.h"
#include "frontend/output.h"

namespace {

constexpr SD_UINT32 kChecksumAt = 8;
constexpr int kDorneChipType = 25;

void ReadRecord(SDMDevice* pDevice, const SDMOptRomLayoutCopy& layout, SD_UINT32 code, DorneStatusRecord* out) {
    *out = DorneStatusRecord{};
    out->region = code;
    for (const SDM_OPT_ROM_REGION& r : layout.Regions) {
        if (r.Region == code) out->regionSize = r.Size;
    }
    if (out->regionSize < IMAGE_STATUS_RECORD_SIZE) {
        VORNLogMessage(VORN_MSG_DEBUG, "DorneReadImageSets: region 0x%x not in the layout (size 0x%x)", code,
                       out->regionSize);
        return;
    }
    // The whole region is read (as a check that it reads), into storage not
    // cleared first: the record is taken only when the read reached past it.
    // A region the library's layout lacks by now, or holds smaller, is not read.
    FlashReadBuffer region;
    if (!region.Allocate(out->regionSize)) return;
    SD_UINT32 read = 0;
    const SD_UINT32 st = getHBAOptionROMInfos(pDevice, region.Target(), code, &read);
    if (st != 0 || read < IMAGE_STATUS_RECORD_SIZE) {
        VORNLogMessage(VORN_MSG_DEBUG, "DorneReadImageSets: region 0x%x unreadable (0x%x)", code, st);
        return;
    }
    out->readable = true;
    const auto record = region.Target().first(IMAGE_STATUS_RECORD_SIZE);
    std::copy(record.begin(), record.end(), out->bytes.begin());
    out->valid = CoreIsImageStatusRegionValid(out->bytes, IMAGE_STATUS_SIGNATURE_25);
    VORNLogMessage(VORN_MSG_DEBUG, "DorneReadImageSets: region 0x%x valid=%d mask=0x%x generation=%u", code,
                   out->valid ? 1 : 0, out->bytes[0], CoreGetImageStatusGenerationNumber(out->bytes));
}

void Put16(std::span<SD_UINT8> b, std::size_t at, SD_UINT16 v) {
    b[at] = static_cast<SD_UINT8>(v);
    b[at + 1] = static_cast<SD_UINT8>(v >> 8);
}

}  // namespace

void DorneReadImageSets(SDMDevice* pDevice, const SDMOptRomLayoutCopy& layout, DorneImageSets* sets) {
    ReadRecord(pDevice, layout, IMAGE_STATUS_REGION_PRIMARY, &sets->primary);
    ReadRecord(pDevice, layout, IMAGE_STATUS_REGION_SECONDARY, &sets->secondary);
}

DorneSetState DorneBootState(const DorneStatusRecord& record) {
    if (!record.readable || !record.valid) return {};
    return {static_cast<SD_UINT8>(record.bytes[0] & 0x01), CoreGetImageStatusGenerationNumber(record.bytes)};
}

SD_UINT32 DorneBootSet(const DorneImageSets& sets) {
    // Unread records count as invalid ones: the core's boot rule sees no record.
    const std::span<const SD_UINT8> p = sets.primary.readable ? std::span<const SD_UINT8>(sets.primary.bytes)
                                                              : std::span<const SD_UINT8>();
    const std::span<const SD_UINT8> s = sets.secondary.readable ? std::span<const SD_UINT8>(sets.secondary.bytes)
                                                                : std::span<const SD_UINT8>();
    ACTIVE_REGIONS regions{};
    CoreDecideFlashActiveRegions(p, s, {}, {}, kDorneChipType, &regions);
    return regions.ActiveGlobalRegions == 2 ? 2 : 1;
}

bool DornePrimaryBootsByMask(const DorneImageSets& sets) {
    return DorneBootState(sets.primary).mask == 1 && DorneBootState(sets.secondary).mask == 0;
}

std::array<SD_UINT8, IMAGE_STATUS_RECORD_SIZE> DornePrepareRecord(const DorneStatusRecord& record,
                                                                 const DorneStatusRecord& partner, bool active,
                                                                 SD_UINT16 generation) {
    std::array<SD_UINT8, IMAGE_STATUS_RECORD_SIZE> out = record.bytes;
    if (!record.readable || !record.valid) {
        // A record the adapter does not accept is rebuilt whole, with the
        // chip's signature, or the new mask and generation would not count at
        // boot; bytes kept from it (erased ones after a cut) would differ
        // from what a clean update writes.
        const std::span<const SD_UINT8> sibling =
            partner.readable ? std::span<const SD_UINT8>(partner.bytes) : std::span<const SD_UINT8>();
        CoreRebuildImageStatusRecord(out, sibling, IMAGE_STATUS_SIGNATURE_25);
    }
    if (active) {
        out[0] |= 0x01;
    } else {
        out[0] &= static_cast<SD_UINT8>(~0x01);
    }
    Put16(out, 1, generation);
    CoreCalculateChecksum32(out, IMAGE_STATUS_RECORD_SIZE, kChecksumAt);
    return out;
}

DorneRecordPlan DornePlanOnlineRecords(const DorneImageSets& sets) {
    const DorneSetState p = DorneBootState(sets.primary);
    const DorneSetState s = DorneBootState(sets.secondary);
    DorneRecordPlan plan;
    // Never the set the adapter runs: the other one is written and made active.
    plan.activeSet = DorneBootSet(sets) == 1 ? 2 : 1;
    const SD_UINT16 next = CoreNextImageStatusGeneration(p.generation, s.generation);
    plan.primaryGeneration = plan.activeSet == 1 ? next : p.generation;
    plan.secondaryGeneration = plan.activeSet == 2 ? next : s.generation;
    plan.primary = DornePrepareRecord(sets.primary, sets.secondary, plan.activeSet == 1, plan.primaryGeneration);
    plan.secondary = DornePrepareRecord(sets.secondary, sets.primary, plan.activeSet == 2, plan.secondaryGeneration);
    VORNLogMessage(VORN_MSG_DEBUG,
                   "DornePlanOnlineRecords: primary mask=%u gen=%u, secondary mask=%u gen=%u: write set %u, new "
                   "generation %u",
                   p.mask, p.generation, s.mask, s.generation, plan.activeSet, next);
    return plan;
}

bool DornePlanOfflineRecords(const DorneImageSets& sets, DorneRecordPlan* plan) {
    const DorneSetState p = DorneBootState(sets.primary);
    const DorneSetState s = DorneBootState(sets.secondary);
    if (DornePrimaryBootsByMask(sets)) {
        // The primary set boots already; only a secondary record that reads
        // but does not hold (torn by a cut) is written, one generation
        // behind, as a switch from the secondary leaves it. The primary's
        // record is not rewritten.
        if (!sets.secondary.readable || sets.secondary.valid) return false;
        const SD_UINT16 behind = p.generation == 0 ? 0 : static_cast<SD_UINT16>(p.generation - 1);
        plan->activeSet = 1;
        plan->writePrimary = false;
        plan->primaryGeneration = p.generation;
        plan->secondaryGeneration = behind;
        plan->primary = sets.primary.bytes;
        plan->secondary = DornePrepareRecord(sets.secondary, sets.primary, false, behind);
        VORNLogMessage(VORN_MSG_DEBUG, "DornePlanOfflineRecords: primary gen=%u active, secondary rebuilt with gen %u",
                       p.generation, behind);
        return true;
    }
    // Neither record could be read: both are left as they are, and the
    // primary set is written as always.
    if (!sets.primary.readable && !sets.secondary.readable) return false;
    SD_UINT16 newPrimary = p.generation;
    SD_UINT16 newSecondary = s.generation;
    if ((p.mask == 0 && s.mask == 1) || p.generation < s.generation) {
        newPrimary = s.generation;
        newSecondary = static_cast<SD_UINT16>(s.generation - 1);
    } else if (p.generation == s.generation) {
        newPrimary = static_cast<SD_UINT16>(p.generation + 1);
    }
    if (newPrimary == 0xFFFF) {
        newPrimary = 1;
        newSecondary = 0;
    }
    plan->activeSet = 1;
    plan->writePrimary = true;
    plan->primaryGeneration = newPrimary;
    plan->secondaryGeneration = newSecondary;
    plan->primary = DornePrepareRecord(sets.primary, sets.secondary, true, newPrimary);
    plan->secondary = DornePrepareRecord(sets.secondary, sets.primary, false, newSecondary);
    VORNLogMessage(VORN_MSG_DEBUG,
                   "DornePlanOfflineRecords: primary mask=%u gen=%u, secondary mask=%u gen=%u: primary gen %u, "
                   "secondary gen %u",
                   p.mask, p.generation, s.mask, s.generation, newPrimary, newSecondary);
    return true;
}

bool DornePlanHold(const DorneImageSets& sets, SD_UINT32 runningSet, DorneRecordPlan* hold) {
    // Only the secondary can run while the records start the primary the
    // off-line update rewrites.
    if (runningSet != 2 || !sets.primary.valid || DorneBootSet(sets) != 1) return false;
    std::array<SD_UINT8, IMAGE_STATUS_RECORD_SIZE> primary = sets.primary.bytes;
    std::array<SD_UINT8, IMAGE_STATUS_RECORD_SIZE> secondary = sets.secondary.bytes;
    if (!CoreBuildImageStatusHold(primary, secondary, kDorneChipType, 2)) return false;
    hold->activeSet = 2;
    hold->writePrimary = true;
    hold->primary = primary;
    hold->secondary = secondary;
    hold->primaryGeneration = CoreGetImageStatusGenerationNumber(primary);
    hold->secondaryGeneration = CoreGetImageStatusGenerationNumber(secondary);
    return true;
}

bool DornePlanRecordsAfterHold(const DorneImageSets& found, bool planned, DorneRecordPlan* plan) {
    if (!planned) {
        const DorneSetState p = DorneBootState(found.primary);
        const SD_UINT16 behind = p.generation == 0 ? 0 : static_cast<SD_UINT16>(p.generation - 1);
        plan->activeSet = 1;
        plan->primary = found.primary.bytes;
        plan->primaryGeneration = p.generation;
        plan->secondaryGeneration = found.secondary.valid ? DorneBootState(found.secondary).generation : behind;
        plan->secondary = found.secondary.valid
                              ? found.secondary.bytes
                              : DornePrepareRecord(found.secondary, found.primary, false, behind);
    }
    // The hold rewrote both: the primary's record goes back too.
    plan->writePrimary = true;
    return true;
}
