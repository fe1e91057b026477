// Image-status records and the 32-bit flash checksum: pure record logic.
#include "core/image_status.h"

#include <algorithm>
#include <new>
#include <vector>

#include "core/active_regions.h"
#include "core/busy_retry.h"
#include "core/chip_types.h"
#include "core/core_log.h"
#include "core/flash_read_buffer.h"
#include "core/oss_services.h"
#include "core/sdm_device.h"
#include "mgmt/sdapi.h"

namespace {

SD_UINT16 get16(std::span<const SD_UINT8> b, std::size_t at) {
    return static_cast<SD_UINT16>(b[at] | (b[at + 1] << 8));
}

SD_UINT32 get32(std::span<const SD_UINT8> b, std::size_t at) {
    return static_cast<SD_UINT32>(b[at]) | (static_cast<SD_UINT32>(b[at + 1]) << 8) |
           (static_cast<SD_UINT32>(b[at + 2]) << 16) | (static_cast<SD_UINT32>(b[at + 3]) << 24);
}

void put16(std::span<SD_UINT8> b, std::size_t at, SD_UINT16 v) {
    b[at] = static_cast<SD_UINT8>(v);
    b[at + 1] = static_cast<SD_UINT8>(v >> 8);
}

void put32(std::span<SD_UINT8> b, std::size_t at, SD_UINT32 v) {
    for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<SD_UINT8>(v >> (8 * i));
}

bool is_record(std::span<const SD_UINT8> record) { return record.size() >= IMAGE_STATUS_RECORD_SIZE; }

// Word sum over `size` bytes of the span; a trailing partial word is zero-padded.
SD_UINT32 word_sum(std::span<const SD_UINT8> buffer, std::size_t size) {
    SD_UINT32 sum = 0;
    for (std::size_t at = 0; at < size; at += 4) {
        SD_UINT32 word = 0;
        for (std::size_t i = 0; i < 4 && at + i < size; ++i) word |= static_cast<SD_UINT32>(buffer[at + i]) << (8 * i);
        sum += word;
    }
    return sum;
}

// Recomputes and re-checks the checksum of one 16-byte record.
bool reseal(std::span<SD_UINT8> record) {
    CoreCalculateChecksum32(record, IMAGE_STATUS_RECORD_SIZE, 8);
    return CoreValidateChecksum32(record, IMAGE_STATUS_RECORD_SIZE) == 0;
}

// Rebuilds whichever record of a pair is not valid (`firstValid`,
// `secondValid`: as read), each from its partner as read: both records of a
// pair the update rewrites hold, as after a clean run, whatever role each
// takes next. Nothing without a signature (a chip that keeps no records).
void rebuild_invalid(std::span<SD_UINT8> first, bool firstValid, std::span<SD_UINT8> second, bool secondValid,
                     SD_UINT32 signature) {
    if (signature == 0) return;
    if (!firstValid) CoreRebuildImageStatusRecord(first, second, signature);
    if (!secondValid) CoreRebuildImageStatusRecord(second, first, signature);
}

// The lowest set bit of an auxiliary request; board configuration when none.
SD_UINT8 requested_component(SD_UINT32 request) {
    for (SD_UINT32 bit = 0; bit < 8; ++bit) {
        if (request & (1u << bit)) return static_cast<SD_UINT8>(1u << bit);
    }
    return AUX_COMPONENT_BOARD_CONFIG;
}

}  // namespace

void CoreRebuildImageStatusRecord(std::span<SD_UINT8> record, std::span<const SD_UINT8> partner,
                                  SD_UINT32 signature) {
    if (!is_record(record)) return;
    // Nothing of a record that does not hold is kept (a cut that programmed
    // none of it leaves erased bytes, which are no mask, bitmap or tool id):
    // the pair is written together, so a sound partner tells the format and
    // the bytes its sibling carries.
    const bool partnerValid = CoreIsImageStatusRegionValid(partner, signature);
    std::fill(record.begin(), record.begin() + IMAGE_STATUS_RECORD_SIZE, SD_UINT8{0});
    record[3] = partnerValid ? partner[3] : IMAGE_STATUS_FORMAT_MAJOR;
    record[4] = partnerValid ? partner[4] : IMAGE_STATUS_FORMAT_MINOR;
    if (partnerValid) {
        record[5] = partner[5];
        record[6] = partner[6];
        record[7] = partner[7];
    }
    put32(record, 12, signature);
    CoreCalculateChecksum32(record, IMAGE_STATUS_RECORD_SIZE, 8);
}

IMAGESTATUSREGION CoreDecodeImageStatus(std::span<const SD_UINT8> record) {
    IMAGESTATUSREGION s{};
    if (!is_record(record)) return s;
    s.ImageStatusMask = record[0];
    s.GenerationNumber = get16(record, 1);
    s.MajorVersion = record[3];
    s.MinorVersion = record[4];
    s.ComponentsBitMap = record[5];
    s.Reserved = record[6];
    s.ToolID = record[7];
    s.ChecksumRegion = get32(record, 8);
    s.Signature = get32(record, 12);
    return s;
}

bool CoreEncodeImageStatus(const IMAGESTATUSREGION& s, std::span<SD_UINT8> record) {
    if (record.size() < IMAGE_STATUS_RECORD_SIZE) return false;
    record[0] = s.ImageStatusMask;
    put16(record, 1, s.GenerationNumber);
    record[3] = s.MajorVersion;
    record[4] = s.MinorVersion;
    record[5] = s.ComponentsBitMap;
    record[6] = s.Reserved;
    record[7] = s.ToolID;
    put32(record, 8, s.ChecksumRegion);
    put32(record, 12, s.Signature);
    return true;
}

SD_UINT32 CoreGetImageStatusSignature(std::span<const SD_UINT8> record) {
    if (!is_record(record)) return 0;
    const SD_UINT32 v = get32(record, 12);
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetImageStatusSignature: Signature=0x%x", v);
    return v;
}

SD_UINT8 CoreGetImageStatusMask(std::span<const SD_UINT8> record) {
    if (!is_record(record)) return 0;
    const SD_UINT8 v = record[0] & 0x01;
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetImageStatusMask: Mask=%u", v);
    return v;
}

SD_UINT8 CoreGetImageStatusComponentsBitMap(std::span<const SD_UINT8> record) {
    if (!is_record(record)) return 0;
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetImageStatusComponentsBitMap: BitMap=0x%x", record[5]);
    return record[5];
}

SD_UINT16 CoreGetImageStatusVersion(std::span<const SD_UINT8> record) {
    if (!is_record(record)) return 0;
    const SD_UINT16 v = get16(record, 3);
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetImageStatusVersion: Version=0x%x", v);
    return v;
}

SD_UINT16 CoreGetImageStatusGenerationNumber(std::span<const SD_UINT8> record) {
    if (!is_record(record)) return 0;
    const SD_UINT16 v = get16(record, 1);
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetImageStatusGenerationNumber: Generation=%u", v);
    return v;
}

SD_UINT32 CoreGetImageStatusCheckSum(std::span<const SD_UINT8> record) {
    if (!is_record(record)) return 0;
    const SD_UINT32 v = get32(record, 8);
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetImageStatusCheckSum: Checksum=0x%x", v);
    return v;
}

SD_UINT8 CoreGetImageStatusToolId(std::span<const SD_UINT8> record) {
    if (!is_record(record)) return 0;
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetImageStatusToolId: ToolId=%u", record[7]);
    return record[7];
}

SD_UINT8 CoreGetAuxImageStatusComponentsBitMap(std::span<const SD_UINT8> record, SD_UINT32 bitNumber) {
    if (!is_record(record)) return 0;
    // The bitmap is one byte: bits 8 to 31 are never set.
    const SD_UINT32 bit = bitNumber % 32;
    const SD_UINT8 v = (bit < 8 && (record[5] >> bit) & 0x01) ? 1 : 0;
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetAuxImageStatusComponentsBitMap: Bit %u=%u", bit, v);
    return v;
}

bool CoreIsImageStatusRegionValid(std::span<const SD_UINT8> record, SD_UINT32 signature) {
    if (!is_record(record)) return false;
    return get32(record, 12) == signature && word_sum(record, IMAGE_STATUS_RECORD_SIZE) == 0;
}

SD_UINT32 CoreCalculateChecksum32(std::span<SD_UINT8> buffer, SD_UINT32 size, SD_UINT32 offset) {
    const std::size_t covered = size < buffer.size() ? size : buffer.size();
    if (static_cast<std::size_t>(offset) + 4 > covered) {
        CoreLogMessage(ZV_MSG_ERROR, "CoreCalculateChecksum32: Checksum offset 0x%x outside 0x%zx bytes!", offset,
                       covered);
        return 0;
    }
    put32(buffer, offset, 0);
    const SD_UINT32 checksum = ~word_sum(buffer, covered) + 1;
    put32(buffer, offset, checksum);
    return checksum;
}

int CoreValidateChecksum32(std::span<const SD_UINT8> buffer, SD_UINT32 size) {
    if (size > buffer.size()) return -1;
    return word_sum(buffer, size) == 0 ? 0 : -1;
}

SD_UINT32 CoreImageStatusSignatureForChip(int chipType) {
    if (chipType == 25) return IMAGE_STATUS_SIGNATURE_25;
    if (chipType == 27) return IMAGE_STATUS_SIGNATURE_27;
    return 0;
}

SD_UINT16 CoreNextImageStatusGeneration(SD_UINT16 first, SD_UINT16 second) {
    SD_UINT16 next = static_cast<SD_UINT16>((first > second ? first : second) + 1);
    if (next == 0xFFFF) next = 1;
    return next;
}

int CoreBuildImageStatusSwitch(std::span<SD_UINT8> primary, std::span<SD_UINT8> secondary, int chipType,
                               int activateSet) {
    if (!is_record(primary) || !is_record(secondary)) return CORE_FLASH_FAILED;
    const SD_UINT32 signature = CoreImageStatusSignatureForChip(chipType);
    const bool primaryValid = signature != 0 && CoreIsImageStatusRegionValid(primary, signature);
    const bool secondaryValid = signature != 0 && CoreIsImageStatusRegionValid(secondary, signature);
    const SD_UINT16 genPrimary = primaryValid ? get16(primary, 1) : 0;
    const SD_UINT16 genSecondary = secondaryValid ? get16(secondary, 1) : 0;
    const SD_UINT16 generation = CoreNextImageStatusGeneration(genPrimary, genSecondary);
    CoreLogMessage(ZV_MSG_DEBUG,
                   "CoreUpdateImageStatus: Primary valid=%d gen=%u, secondary valid=%d gen=%u, new gen=%u (set %d)",
                   primaryValid, genPrimary, secondaryValid, genSecondary, generation, activateSet);

    const bool second = activateSet == 2;
    std::span<SD_UINT8> active = second ? secondary : primary;
    std::span<SD_UINT8> inactive = second ? primary : secondary;
    // An erased record marked active would still be ignored by the adapter,
    // and one left torn (active or not) differs from what a clean switch
    // writes; a rebuilt record keeps generation 0, below the new one.
    rebuild_invalid(primary, primaryValid, secondary, secondaryValid, signature);
    active[0] |= 0x01;
    put16(active, 1, generation);
    inactive[0] &= static_cast<SD_UINT8>(~0x01);
    if (!reseal(active) || !reseal(inactive)) return CORE_FLASH_FAILED;
    return 0;
}

int CoreBuildAuxImageStatusFlip(std::span<SD_UINT8> first, std::span<SD_UINT8> second, SD_UINT32 componentRequest,
                                SD_UINT8 toolId, int* pSet, SD_UINT8 servingCopy) {
    if (!is_record(first) || !is_record(second)) return CORE_FLASH_FAILED;
    const SD_UINT8 component = requested_component(componentRequest);
    const bool firstValid = CoreIsImageStatusRegionValid(first, AUX_IMAGE_STATUS_SIGNATURE);
    const bool secondValid = CoreIsImageStatusRegionValid(second, AUX_IMAGE_STATUS_SIGNATURE);
    const SD_UINT8 maskFirst = firstValid ? (first[0] & 0x01) : 0;
    const SD_UINT8 maskSecond = secondValid ? (second[0] & 0x01) : 0;
    const SD_UINT16 genFirst = firstValid ? get16(first, 1) : 0;
    const SD_UINT16 genSecond = secondValid ? get16(second, 1) : 0;

    int set;
    if (maskFirst == 1 && maskSecond == 0) set = 2;
    else if (maskFirst == 0 && maskSecond == 1) set = 1;
    else set = genFirst >= genSecond ? 2 : 1;
    if (pSet != nullptr) *pSet = set;

    std::span<SD_UINT8> updated = set == 1 ? first : second;
    std::span<SD_UINT8> other = set == 1 ? second : first;
    const bool otherValid = set == 1 ? secondValid : firstValid;
    // An invalid record says nothing about the components (erased bytes are not a bitmap).
    const SD_UINT8 otherBitmap = otherValid ? other[5] : 0;
    SD_UINT8 bitmap = otherBitmap;
    // Only the four known component bits move; higher bits travel unchanged.
    // With the serving copy known, the records name the other one (the copy
    // just written) whatever an earlier run already wrote to them: flipping
    // what they say would undo a switch made since the adapter last started.
    if (component <= AUX_COMPONENT_NPIV_23) {
        if (servingCopy == 1) bitmap = static_cast<SD_UINT8>(bitmap | component);
        else if (servingCopy == 2) bitmap = static_cast<SD_UINT8>(bitmap & ~component);
        else bitmap ^= component;
    }
    CoreLogMessage(ZV_MSG_DEBUG, "CoreUpdateAuxImageStatus: Component=0x%x serving=%u set=%d bitmap 0x%x -> 0x%x",
                   component, servingCopy, set, otherBitmap, bitmap);
    // Same reason as for the image set: a record erased or torn must become a real one.
    rebuild_invalid(first, firstValid, second, secondValid, AUX_IMAGE_STATUS_SIGNATURE);
    put16(updated, 1, CoreNextImageStatusGeneration(genFirst, genSecond));
    updated[7] = toolId;
    updated[5] = bitmap;
    updated[0] |= 0x01;
    other[0] &= static_cast<SD_UINT8>(~0x01);
    const bool firstOk = reseal(first);
    const bool secondOk = reseal(second);
    if (!firstOk) CoreLogMessage(ZV_MSG_DEBUG, "CoreUpdateAuxImageStatus: Primary aux image status checksum error!");
    if (!secondOk) CoreLogMessage(ZV_MSG_DEBUG, "CoreUpdateAuxImageStatus: Secondary aux image status checksum error!");
    if (!firstOk || !secondOk) {
        CoreLogMessage(ZV_MSG_DEBUG, "CoreUpdateAuxImageStatus: Checksum error!");
        return CORE_FLASH_FAILED;
    }
    return 0;
}

namespace {

// The copy (1 or 2; 0 unknown) that serves a component, by a decision over
// the four records or by the library's answer.
template <typename Regions>
SD_UINT8 serving_copy(const Regions& r, SD_UINT8 component) {
    switch (component) {
        case AUX_COMPONENT_BOARD_CONFIG: return r.ActiveBoardConfig;
        case AUX_COMPONENT_VPD_NVRAM: return r.ActiveVpdNvram;
        case AUX_COMPONENT_NPIV_01: return r.ActiveNpivConfig01;
        case AUX_COMPONENT_NPIV_23: return r.ActiveNpivConfig23;
        default: return 0;
    }
}

SD_UINT8 component_bits(const ACTIVE_REGIONS& r) {
    SD_UINT8 bits = 0;
    for (const SD_UINT8 c : {AUX_COMPONENT_BOARD_CONFIG, AUX_COMPONENT_VPD_NVRAM, AUX_COMPONENT_NPIV_01,
                             AUX_COMPONENT_NPIV_23})
        if (serving_copy(r, c) == 2) bits = static_cast<SD_UINT8>(bits | c);
    return bits;
}

ACTIVE_REGIONS decide_aux(std::span<const SD_UINT8> primary, std::span<const SD_UINT8> secondary,
                          std::span<const SD_UINT8> first, std::span<const SD_UINT8> second) {
    ACTIVE_REGIONS r{};
    CoreDecideFlashActiveRegions(primary, secondary, first, second, 27, &r);
    return r;
}

}  // namespace

bool CoreBuildImageStatusHold(std::span<SD_UINT8> primary, std::span<SD_UINT8> secondary, int chipType,
                              int runningSet) {
    const SD_UINT32 signature = CoreImageStatusSignatureForChip(chipType);
    if (!is_record(primary) || !is_record(secondary) || signature == 0 || (runningSet != 1 && runningSet != 2))
        return false;
    ACTIVE_REGIONS now{};
    CoreDecideFlashActiveRegions(primary, secondary, {}, {}, chipType, &now);
    if (now.ActiveGlobalRegions == runningSet) return false;
    const std::span<SD_UINT8> running = runningSet == 1 ? primary : secondary;
    const std::span<SD_UINT8> other = runningSet == 1 ? secondary : primary;
    const auto generationOf = [signature](std::span<const SD_UINT8> r) -> SD_UINT16 {
        return CoreIsImageStatusRegionValid(r, signature) ? get16(r, 1) : 0;
    };
    const SD_UINT16 generation = CoreNextImageStatusGeneration(generationOf(primary), generationOf(secondary));
    // The running set's record decides by its active bit against a cleared
    // one (an invalid other record counts as cleared and stays as it is), and
    // by the newer generation while the other's bit is not yet cleared: a cut
    // between the two writes leaves the running set to start from, never a
    // pair that names a set whose memo block says it is complete.
    if (!CoreIsImageStatusRegionValid(running, signature)) CoreRebuildImageStatusRecord(running, other, signature);
    running[0] |= 0x01;
    put16(running, 1, generation);
    reseal(running);
    if (CoreIsImageStatusRegionValid(other, signature)) {
        other[0] &= static_cast<SD_UINT8>(~0x01);
        reseal(other);
    }
    CoreLogMessage(ZV_MSG_DEBUG, "CoreHoldImageStatus: records named set %u, held on running set %d",
                   now.ActiveGlobalRegions, runningSet);
    return true;
}

bool CoreIsImageStatusPairUnsettled(std::span<const SD_UINT8> primary, std::span<const SD_UINT8> secondary,
                                    int chipType) {
    const SD_UINT32 signature = CoreImageStatusSignatureForChip(chipType);
    return signature != 0 && CoreIsImageStatusRegionValid(primary, signature) &&
           CoreIsImageStatusRegionValid(secondary, signature) && (primary[0] & 0x01) != 0 &&
           (secondary[0] & 0x01) != 0;
}

int CoreBuildAuxImageStatusHold(std::span<SD_UINT8> first, std::span<SD_UINT8> second,
                                std::span<const SD_UINT8> primary, std::span<const SD_UINT8> secondary,
                                SD_UINT32 componentRequest, SD_UINT8 servingCopy) {
    if (!is_record(first) || !is_record(second) || (servingCopy != 1 && servingCopy != 2)) return 0;
    const SD_UINT8 component = requested_component(componentRequest);
    const ACTIVE_REGIONS now = decide_aux(primary, secondary, first, second);
    if (serving_copy(now, component) == 0 || serving_copy(now, component) == servingCopy) return 0;
    const bool firstValid = CoreIsImageStatusRegionValid(first, AUX_IMAGE_STATUS_SIGNATURE);
    const bool secondValid = CoreIsImageStatusRegionValid(second, AUX_IMAGE_STATUS_SIGNATURE);
    const SD_UINT8 maskFirst = firstValid ? (first[0] & 0x01) : 0;
    const SD_UINT8 maskSecond = secondValid ? (second[0] & 0x01) : 0;
    const bool wantSecondCopy = servingCopy == 2;
    const auto names = [&](std::span<const SD_UINT8> r) { return ((r[5] & component) != 0) == wantSecondCopy; };
    const auto name = [&](std::span<SD_UINT8> r) {
        r[5] = static_cast<SD_UINT8>(wantSecondCopy ? (r[5] | component) : (r[5] & ~component));
    };

    int target;   // 1 first, 2 second: the record that decides from now on
    if (maskFirst != maskSecond) {
        target = maskFirst == 1 ? 1 : 2;
        const std::span<SD_UINT8> idle = target == 1 ? second : first;
        // The record the last switch deactivated names the serving copy:
        // moving the active bit back undoes that switch and nothing else.
        if ((target == 1 ? secondValid : firstValid) && names(idle)) target = 3 - target;
        else name(target == 1 ? first : second);
    } else {
        // Neither decides (the image-status records did, for every component):
        // one of them takes the decision, with every other component where it served.
        const SD_UINT16 genFirst = firstValid ? CoreGetImageStatusGenerationNumber(first) : 0;
        const SD_UINT16 genSecond = secondValid ? CoreGetImageStatusGenerationNumber(second) : 0;
        target = (secondValid && (!firstValid || genSecond > genFirst)) ? 2 : 1;
        const std::span<SD_UINT8> t = target == 1 ? first : second;
        if (!(target == 1 ? firstValid : secondValid))
            CoreRebuildImageStatusRecord(t, target == 1 ? second : first, AUX_IMAGE_STATUS_SIGNATURE);
        t[5] = static_cast<SD_UINT8>((t[5] & ~0x0F) | component_bits(now));
        name(t);
    }
    const std::span<SD_UINT8> decides = target == 1 ? first : second;
    const std::span<SD_UINT8> other = target == 1 ? second : first;
    decides[0] |= 0x01;
    reseal(decides);
    if (CoreIsImageStatusRegionValid(other, AUX_IMAGE_STATUS_SIGNATURE)) {
        other[0] &= static_cast<SD_UINT8>(~0x01);
        reseal(other);
    }
    CoreLogMessage(ZV_MSG_DEBUG, "CoreHoldAuxImageStatus: component 0x%x served from copy %u next, held on copy %u",
                   component, serving_copy(now, component), servingCopy);
    return target;
}

// ---- Flash I/O ----------------------------------------------------------------------------

namespace {

// Reads one image-status region whole into `buffer`: false unless every byte
// of it came from the region (a region smaller than the buffer is no record
// pair that can be written back whole).
bool read_whole(SDMDevice* device, SD_UINT32 region, FlashReadBuffer& buffer) {
    SD_UINT32 read = 0;
    const SD_UINT32 st = FlashReadWhole(device->DeviceHandle, region, buffer, &read);
    if (st == SDERR_DATA_UNDERRUN)
        CoreLogMessage(ZV_MSG_DEBUG, "Image status region 0x%x holds 0x%x bytes, not 0x%zx", region, read,
                       buffer.Target().size());
    return st == SDERR_SUCCESS;
}

// Writes one region buffer and reads it back.
int write_and_verify(SDMDevice* device, SD_UINT32 region, std::span<const SD_UINT8> buffer, SD_UINT16* pReset,
                     bool verify, SD_UINT32* pAnswer = nullptr) {
    const SD_UINT32 size = static_cast<SD_UINT32>(buffer.size());
    if (CoreUpdateOptionRomEx(device, buffer, region, size, pReset, pAnswer) != 0) return CORE_FLASH_FAILED;
    return verify ? CoreCheckOptionRomData(device, region, size, buffer) : 0;
}

// The active regions that choose (or are only logged by) an update.
int resolve_regions(SDMDevice* device, SD_ACTIVE_REGIONS* pRegions, SD_UINT32 readFromFlash,
                    SD_ACTIVE_REGIONS* out) {
    if (readFromFlash != 0) {
        const int status = CoreGetActiveRegions(device, out);
        if (status != 0) return status;
        if (pRegions != nullptr) *pRegions = *out;
        return 0;
    }
    if (pRegions == nullptr) return CORE_FLASH_FAILED;
    *out = SD_ACTIVE_REGIONS{};
    out->ActiveGlobalRegions = pRegions->ActiveGlobalRegions;
    out->ActiveBoardConfig = pRegions->ActiveBoardConfig;
    out->ActiveVpdNvram = pRegions->ActiveVpdNvram;
    out->ActiveNpivConfig01 = pRegions->ActiveNpivConfig01;
    out->ActiveNpivConfig23 = pRegions->ActiveNpivConfig23;
    return 0;
}

// The records as found before a hold, over the ones read (the rest of each region as read).
void take_found(const CoreRecordsFound* found, std::span<SD_UINT8> first, std::span<SD_UINT8> second) {
    if (found == nullptr || !found->held) return;
    std::copy(found->first.begin(), found->first.end(), first.begin());
    std::copy(found->second.begin(), found->second.end(), second.begin());
}

// A record pair read whole: its two regions (IMAGE_STATUS_REGION_SIZE each),
// the records at their starts.
struct PairRead {
    FlashReadBuffer firstRead;
    FlashReadBuffer secondRead;
    // 0 or a negative status.
    int Read(SDMDevice* device, SD_UINT32 firstRegion, SD_UINT32 secondRegion) {
        if (!firstRead.Allocate(IMAGE_STATUS_REGION_SIZE) || !secondRead.Allocate(IMAGE_STATUS_REGION_SIZE))
            return CORE_FLASH_NO_MEMORY;
        if (!read_whole(device, firstRegion, firstRead) || !read_whole(device, secondRegion, secondRead))
            return CORE_FLASH_FAILED;
        return 0;
    }
    std::span<SD_UINT8> First() const { return firstRead.Target(); }
    std::span<SD_UINT8> Second() const { return secondRead.Target(); }
};

// Keeps the pair's records as read into *found.
void keep_found(std::span<const SD_UINT8> first, std::span<const SD_UINT8> second, CoreRecordsFound* found) {
    *found = CoreRecordsFound{};
    std::copy_n(first.begin(), IMAGE_STATUS_RECORD_SIZE, found->first.begin());
    std::copy_n(second.begin(), IMAGE_STATUS_RECORD_SIZE, found->second.begin());
}

// Writes the records of a held pair that changed from *found, the one that
// decides now (`firstDecides`) first, each read back; marks *found held
// once the first write is made. No reset: the writes it stands before follow.
int write_held(SDMDevice* device, SD_UINT32 firstRegion, std::span<const SD_UINT8> first, SD_UINT32 secondRegion,
               std::span<const SD_UINT8> second, bool firstDecides, CoreRecordsFound* found, SD_UINT32* pAnswer) {
    SD_UINT16 reset = 1;
    const struct {
        SD_UINT32 region;
        std::span<const SD_UINT8> bytes;
        const std::array<SD_UINT8, IMAGE_STATUS_RECORD_SIZE>& was;
    } order[2] = {{firstDecides ? firstRegion : secondRegion, firstDecides ? first : second,
                   firstDecides ? found->first : found->second},
                  {firstDecides ? secondRegion : firstRegion, firstDecides ? second : first,
                   firstDecides ? found->second : found->first}};
    for (const auto& w : order) {
        if (std::equal(w.was.begin(), w.was.end(), w.bytes.begin())) continue;
        found->held = true;
        if (const int st = write_and_verify(device, w.region, w.bytes, &reset, true, pAnswer); st != 0) return st;
    }
    return 0;
}

}  // namespace

int CoreHoldImageStatus(SDMDevice* device, const SD_ACTIVE_REGIONS& running, CoreRecordsFound* found,
                        SD_UINT32* pAnswer) {
    if (pAnswer != nullptr) *pAnswer = 0;
    if (device == nullptr || found == nullptr) return CORE_FLASH_NO_ADAPTER;
    *found = CoreRecordsFound{};
    const int chipType = CoreGetISPType(device);
    if (chipType <= 24) return CORE_FLASH_NOT_SUPPORTED;
    PairRead pair;
    if (const int st = pair.Read(device, IMAGE_STATUS_REGION_PRIMARY, IMAGE_STATUS_REGION_SECONDARY); st != 0)
        return st;
    const std::span<SD_UINT8> primary = pair.First();
    const std::span<SD_UINT8> secondary = pair.Second();
    keep_found(primary, secondary, found);
    const int runningSet = running.ActiveGlobalRegions;
    if (!CoreBuildImageStatusHold(primary, secondary, chipType, runningSet)) return 0;
    return write_held(device, IMAGE_STATUS_REGION_PRIMARY, primary, IMAGE_STATUS_REGION_SECONDARY, secondary,
                      runningSet == 1, found, pAnswer);
}

bool CoreImageStatusPairUnsettled(SDMDevice* device) {
    if (device == nullptr) return false;
    const int chipType = CoreGetISPType(device);
    if (chipType <= 24) return false;
    PairRead pair;
    return pair.Read(device, IMAGE_STATUS_REGION_PRIMARY, IMAGE_STATUS_REGION_SECONDARY) == 0 &&
           CoreIsImageStatusPairUnsettled(pair.First(), pair.Second(), chipType);
}

int CoreHoldAuxImageStatus(SDMDevice* device, const SD_ACTIVE_REGIONS& running, SD_UINT32 componentRequest,
                           CoreRecordsFound* found, SD_UINT32* pAnswer) {
    if (pAnswer != nullptr) *pAnswer = 0;
    if (device == nullptr || found == nullptr) return CORE_FLASH_NO_ADAPTER;
    *found = CoreRecordsFound{};
    if (CoreGetISPType(device) < 27) return CORE_FLASH_NOT_SUPPORTED;
    PairRead image;
    if (const int st = image.Read(device, IMAGE_STATUS_REGION_PRIMARY, IMAGE_STATUS_REGION_SECONDARY); st != 0)
        return st;
    PairRead aux;
    if (const int st = aux.Read(device, AUX_IMAGE_STATUS_REGION_FIRST, AUX_IMAGE_STATUS_REGION_SECOND); st != 0)
        return st;
    const std::span<SD_UINT8> first = aux.First();
    const std::span<SD_UINT8> second = aux.Second();
    keep_found(first, second, found);
    const SD_UINT8 copy = serving_copy(running, requested_component(componentRequest));
    const int decides = CoreBuildAuxImageStatusHold(first, second, image.First(), image.Second(),
                                                    componentRequest, copy);
    if (decides == 0) return 0;
    return write_held(device, AUX_IMAGE_STATUS_REGION_FIRST, first, AUX_IMAGE_STATUS_REGION_SECOND, second,
                      decides == 1, found, pAnswer);
}

int CoreRestoreAuxImageStatus(SDMDevice* device, const CoreRecordsFound& found, SD_UINT32* pAnswer) {
    if (pAnswer != nullptr) *pAnswer = 0;
    if (device == nullptr) return CORE_FLASH_NO_ADAPTER;
    if (CoreGetISPType(device) < 27) return CORE_FLASH_NOT_SUPPORTED;
    if (!found.held) return 0;
    PairRead aux;
    if (const int st = aux.Read(device, AUX_IMAGE_STATUS_REGION_FIRST, AUX_IMAGE_STATUS_REGION_SECOND); st != 0)
        return st;
    const std::span<SD_UINT8> first = aux.First();
    const std::span<SD_UINT8> second = aux.Second();
    CoreRecordsFound now;
    keep_found(first, second, &now);
    const auto putBack = [](const std::array<SD_UINT8, IMAGE_STATUS_RECORD_SIZE>& was, std::span<SD_UINT8> record) {
        if (CoreIsImageStatusRegionValid(was, AUX_IMAGE_STATUS_SIGNATURE))
            std::copy(was.begin(), was.end(), record.begin());
    };
    putBack(found.first, first);
    putBack(found.second, second);
    const bool firstDecides = CoreIsImageStatusRegionValid(found.first, AUX_IMAGE_STATUS_SIGNATURE) &&
                              (found.first[0] & 0x01) != 0;
    CoreLogMessage(ZV_MSG_DEBUG, "CoreRestoreAuxImageStatus: records put back as found");
    return write_held(device, AUX_IMAGE_STATUS_REGION_FIRST, first, AUX_IMAGE_STATUS_REGION_SECOND, second,
                      firstDecides, &now, pAnswer);
}

int CoreUpdateOptionRomEx(SDMDevice* device, std::span<const SD_UINT8> buffer, SD_UINT32 region,
                          SD_UINT32 uRegionSize, SD_UINT16* pDisableReset, SD_UINT32* pAnswer) {
    if (device == nullptr || uRegionSize > buffer.size()) return CORE_FLASH_FAILED;
    SD_UINT64 caps = 0;
    const SD_UINT32 capStatus = SDGetFlashUpdateCapabilities(device->DeviceHandle, 0, &caps);
    if (capStatus != 0) {
        CoreLogMessage(ZV_MSG_DEBUG, "CoreUpdateOptionRomEx:SDGetFlashUpdateCapabilities() return 0x%x (%s)", capStatus,
                       SDGetErrorString(capStatus));
        return CORE_FLASH_FAILED;
    }
    SD_UINT16 localReset = 0;
    SD_UINT16* reset = pDisableReset != nullptr ? pDisableReset : &localReset;
    const SD_UINT32 status = CoreRetryWhileBusy(
        10, [&] { return SDUpdateOptionRomEx2(device->DeviceHandle, *reset, buffer.first(uRegionSize), region); });
    if (status == 0) return 0;
    if (status == SDERR_FLASHED_NOT_ACTIVATED) {
        *reset = 1;
        return 0;
    }
    if (pAnswer != nullptr) *pAnswer = status;
    CoreLogMessage(ZV_MSG_DEBUG, "CoreUpdateOptionRomEx: Region 0x%x write failed 0x%x (%s)", region, status,
                   SDGetErrorString(status));
    return CORE_FLASH_FAILED;
}

int CoreCheckOptionRomData(SDMDevice* device, SD_UINT32 region, SD_UINT32 uRegionSize,
                           std::span<const SD_UINT8> expected) {
    if (device == nullptr) return CORE_FLASH_FAILED;
    // Reused from read-back to read-back (a warm fill is cheap; fresh pages are not).
    static thread_local std::vector<SD_UINT8> scratch;
    try {
        if (scratch.size() < uRegionSize) scratch.resize(uRegionSize);
    } catch (const std::bad_alloc&) {
        return CORE_FLASH_NO_MEMORY;
    }
    // Not cleared first (a successful read fills it, a failed one is not
    // compared), but its last byte differs from the expected one: a read that
    // stops short at the region's end can never pass on stale bytes.
    const std::span<SD_UINT8> copy = std::span(scratch).first(uRegionSize);
    if (!copy.empty() && expected.size() == copy.size()) copy.back() = static_cast<SD_UINT8>(~expected.back());
    const SD_UINT32 status = FlashReadRetrying(device->DeviceHandle, region, copy);
    if (status != 0 || expected.size() != uRegionSize) return CORE_FLASH_REGION_UNREADABLE;
    if (std::equal(expected.begin(), expected.end(), copy.begin())) return 0;
    CoreLogMessage(ZV_MSG_DEBUG, "CoreCheckOptionRomData: Data miscompared!");
    CoreLogMessage(ZV_MSG_DEBUG, "CoreCheckOptionRomData: Buffer (After Read/Modify/Write) by driver/API");
    CoreHexDump(expected);
    CoreLogMessage(ZV_MSG_DEBUG, "CoreCheckOptionRomData: Buffer recently read from adapter");
    CoreHexDump(copy);
    return CORE_FLASH_MISCOMPARE;
}

int CoreUpdateImageStatus(SDMDevice* device, SD_ACTIVE_REGIONS* pInActiveRegions, SD_UINT32 uReadFromFlash,
                          const CoreRecordsFound* found, SD_UINT32* pAnswer) {
    if (pAnswer != nullptr) *pAnswer = 0;
    if (device == nullptr) return CORE_FLASH_NO_ADAPTER;
    const int chipType = CoreGetISPType(device);
    if (chipType <= 24) return CORE_FLASH_NOT_SUPPORTED;
    SD_ACTIVE_REGIONS regions{};
    const int status = resolve_regions(device, pInActiveRegions, uReadFromFlash, &regions);
    if (status != 0) return status;
    const int activateSet = regions.ActiveGlobalRegions == 1 ? 2 : 1;

    PairRead pair;
    if (const int st = pair.Read(device, IMAGE_STATUS_REGION_PRIMARY, IMAGE_STATUS_REGION_SECONDARY); st != 0)
        return st;
    const std::span<SD_UINT8> primary = pair.First();
    const std::span<SD_UINT8> secondary = pair.Second();
    take_found(found, primary, secondary);
    if (CoreBuildImageStatusSwitch(primary, secondary, chipType, activateSet) != 0) return CORE_FLASH_FAILED;

    SD_UINT16 reset = 0;
    const bool first = activateSet == 1;
    int result = write_and_verify(device, first ? IMAGE_STATUS_REGION_PRIMARY : IMAGE_STATUS_REGION_SECONDARY,
                                  first ? primary : secondary, &reset, true, pAnswer);
    if (result != 0) return result;
    result = write_and_verify(device, first ? IMAGE_STATUS_REGION_SECONDARY : IMAGE_STATUS_REGION_PRIMARY,
                              first ? secondary : primary, &reset, true, pAnswer);
    CoreLogMessage(ZV_MSG_DEBUG, "CoreUpdateImageStatus: Set %d activated, status %d", activateSet, result);
    return result;
}

int CoreUpdateAuxImageStatus(SDMDevice* device, SD_ACTIVE_REGIONS* pInActiveRegions, SD_UINT32 uReadFlash,
                             SD_UINT32 UComponentRequest, const CoreRecordsFound* found, SD_UINT32* pAnswer) {
    if (pAnswer != nullptr) *pAnswer = 0;
    if (device == nullptr) return CORE_FLASH_NO_ADAPTER;
    if (CoreGetISPType(device) < 27) return CORE_FLASH_NOT_SUPPORTED;
    SD_ACTIVE_REGIONS regions{};
    const int status = resolve_regions(device, pInActiveRegions, uReadFlash, &regions);
    if (status != 0) return status;
    CoreLogMessage(ZV_MSG_DEBUG, "CoreUpdateAuxImageStatus: Active global=%u board=%u vpd=%u npiv01=%u npiv23=%u",
                   regions.ActiveGlobalRegions, regions.ActiveBoardConfig, regions.ActiveVpdNvram,
                   regions.ActiveNpivConfig01, regions.ActiveNpivConfig23);

    PairRead pair;
    if (const int st = pair.Read(device, AUX_IMAGE_STATUS_REGION_FIRST, AUX_IMAGE_STATUS_REGION_SECOND); st != 0)
        return st;
    const std::span<SD_UINT8> first = pair.First();
    const std::span<SD_UINT8> second = pair.Second();
    take_found(found, first, second);
    // The copy that serves now is the one the write of this component did
    // not go to (the writers pick the copy from the same answer).
    const SD_UINT8 serving = serving_copy(regions, requested_component(UComponentRequest));
    int set = 0;
    if (CoreBuildAuxImageStatusFlip(first, second, UComponentRequest, CoreGetToolId(), &set,
                                    serving == 1 || serving == 2 ? serving : 0) != 0)
        return CORE_FLASH_FAILED;

    // The updated record goes into its own region first, so that the record
    // that serves now is never overwritten before its successor is in place;
    // both writes are read back.
    SD_UINT16 reset = 0;
    const bool firstUpdated = set == 1;
    int result = write_and_verify(device, firstUpdated ? AUX_IMAGE_STATUS_REGION_FIRST : AUX_IMAGE_STATUS_REGION_SECOND,
                                  firstUpdated ? first : second, &reset, true, pAnswer);
    if (result == 0)
        result = write_and_verify(device, firstUpdated ? AUX_IMAGE_STATUS_REGION_SECOND : AUX_IMAGE_STATUS_REGION_FIRST,
                                  firstUpdated ? second : first, &reset, true, pAnswer);
    CoreLogMessage(ZV_MSG_DEBUG, "CoreUpdateAuxImageStatus: Set %d updated, status %d", set, result);
    return result;
}

int CoreIsValidNvram(const SDMDevice* device, std::span<const SD_UINT8> buffer) {
    if (device == nullptr || buffer.size() < 4) return 0;
    if (get32(buffer, 0) != 0x20505349) return 0;   // "ISP "
    return CoreValidateChecksum32(buffer, static_cast<SD_UINT32>(buffer.size())) == 0 ? 1 : 0;
}

int CoreUpdateNVRam(SDMDevice* device, std::span<const SD_UINT8> buffer, SD_UINT32 activate) {
    if (device == nullptr) return CORE_FLASH_NO_ADAPTER;
    if (CoreIsValidNvram(device, buffer) == 0) {
        CoreLogMessage(ZV_MSG_DEBUG, "CoreUpdateNVRam: NVRAM data checksum failure");
        return CORE_FLASH_FAILED;
    }
    const SD_UINT16 disableReset = activate != 0 ? 0 : 1;
    if (CoreGetISPType(device) < 27) {
        const SD_UINT32 status = SDUpdateNVRam(device->DeviceHandle, disableReset, 3, buffer);
        return (status == 0 || status == SDERR_FLASHED_NOT_ACTIVATED) ? 0 : CORE_FLASH_FAILED;
    }
    SD_ACTIVE_REGIONS regions{};
    const int active = CoreGetActiveRegions(device, &regions);
    if (active != 0) return active;
    // The write goes to the copy that does not serve, which an earlier write
    // since the adapter started may have marked to serve next: the records
    // name the serving copy again before it is rewritten.
    CoreRecordsFound found;
    if (const int held = CoreHoldAuxImageStatus(device, regions, AUX_COMPONENT_VPD_NVRAM, &found); held != 0)
        return held;
    if (SDUpdateNVRam(device->DeviceHandle, disableReset, 3, buffer) != 0) return CORE_FLASH_FAILED;
    const int flipped = CoreUpdateAuxImageStatus(device, &regions, 1, AUX_COMPONENT_VPD_NVRAM, &found);
    if (flipped != 0) return flipped;
    if (activate != 0) {
        const SD_UINT32 status = SDReloadNvramAndInitFw(device->DeviceHandle, 0);
        if (status != 0 && status != SDERR_FLASHED_NOT_ACTIVATED) return CORE_FLASH_FAILED;
    }
    return 0;
}
