// Active and alternate flash regions: the decisions and the region tables.
#include "core/active_regions.h"

#include <new>
#include <vector>

#include "core/chip_types.h"
#include "core/core_log.h"
#include "core/flash_read_buffer.h"
#include "core/image_status.h"
#include "core/oss_services.h"
#include "core/sdm_device.h"
#include "mgmt/sdapi.h"
#include "mgmt/sd_shared_db.h"

namespace {

enum class Field { Global, BoardConfig, VpdNvram, Npiv01, Npiv23 };

SD_UINT8 field_of(const SD_ACTIVE_REGIONS& r, Field f) {
    switch (f) {
        case Field::Global: return r.ActiveGlobalRegions;
        case Field::BoardConfig: return r.ActiveBoardConfig;
        case Field::VpdNvram: return r.ActiveVpdNvram;
        case Field::Npiv01: return r.ActiveNpivConfig01;
        case Field::Npiv23: return r.ActiveNpivConfig23;
    }
    return 0;
}

// How one code maps to the active copy of its pair.
enum class Rule {
    Pair,          // primary when the field says 1, else secondary
    Fixed,         // always itself
    PrimaryOn25,   // the primary code on chip type 25, else as Pair
};

struct ActiveEntry {
    SD_UINT32 code;
    SD_UINT32 primary;
    SD_UINT32 secondary;
    Field field;
    Rule rule;
};

// One row per code that the active-copy query knows.
constexpr ActiveEntry kActiveTable[] = {
    {0x01, 0x01, 0x02, Field::Global, Rule::Pair},
    {0x02, 0x01, 0x02, Field::Global, Rule::Pair},
    {0x07, 0x07, 0x09, Field::Global, Rule::Pair},
    {0x09, 0x07, 0x09, Field::Global, Rule::Pair},
    {0x0A, 0x07, 0x09, Field::Global, Rule::Pair},
    {0x11, 0x07, 0x09, Field::Global, Rule::Pair},
    {0x13, 0x13, 0x107, Field::Global, Rule::PrimaryOn25},
    {0x107, 0x13, 0x107, Field::Global, Rule::PrimaryOn25},
    {0x15, 0x15, 0x10D, Field::VpdNvram, Rule::Pair},
    {0x10D, 0x15, 0x10D, Field::VpdNvram, Rule::Pair},
    {0x17, 0x17, 0x10F, Field::VpdNvram, Rule::Pair},
    {0x10F, 0x17, 0x10F, Field::VpdNvram, Rule::Pair},
    {0x29, 0x29, 0x11E, Field::Npiv01, Rule::Pair},
    {0x11E, 0x29, 0x11E, Field::Npiv01, Rule::Pair},
    {0x2A, 0x2A, 0x11F, Field::Npiv01, Rule::Pair},
    {0x11F, 0x2A, 0x11F, Field::Npiv01, Rule::Pair},
    {0x50, 0x50, 0x115, Field::Npiv01, Rule::Pair},
    {0x115, 0x50, 0x115, Field::Npiv01, Rule::Pair},
    {0x51, 0x51, 0x116, Field::Npiv01, Rule::Pair},
    {0x116, 0x51, 0x116, Field::Npiv01, Rule::Pair},
    {0x52, 0x52, 0x117, Field::Npiv01, Rule::Pair},
    {0x117, 0x52, 0x117, Field::Npiv01, Rule::Pair},
    {0x53, 0x53, 0x118, Field::Npiv01, Rule::Pair},
    {0x118, 0x53, 0x118, Field::Npiv01, Rule::Pair},
    {0x5E, 0x5E, 0x120, Field::Npiv23, Rule::Pair},
    {0x120, 0x5E, 0x120, Field::Npiv23, Rule::Pair},
    {0x5F, 0x5F, 0x121, Field::Npiv23, Rule::Pair},
    {0x121, 0x5F, 0x121, Field::Npiv23, Rule::Pair},
    {0x95, 0x95, 0x96, Field::Global, Rule::Pair},
    {0x96, 0x95, 0x96, Field::Global, Rule::Pair},
    {0xBA, 0xBA, 0x10B, Field::BoardConfig, Rule::PrimaryOn25},
    {0x10B, 0xBA, 0x10B, Field::BoardConfig, Rule::Pair},
    {0xCF, 0xCF, 0x106, Field::Global, Rule::Pair},
    {0x106, 0xCF, 0x106, Field::Global, Rule::Fixed},
    {0xD1, 0xD1, 0xF1, Field::Global, Rule::Pair},
    {0xF1, 0xD1, 0xF1, Field::Global, Rule::Pair},
    {0xD2, 0xD2, 0x105, Field::Global, Rule::Pair},
    {0x105, 0xD2, 0x105, Field::Global, Rule::Pair},
    {0xD3, 0xD3, 0xF0, Field::Global, Rule::PrimaryOn25},
    {0xF0, 0xD3, 0xF0, Field::Global, Rule::Pair},
    {0xD5, 0xD5, 0x111, Field::VpdNvram, Rule::Pair},
    {0x111, 0xD5, 0x111, Field::VpdNvram, Rule::Pair},
    {0xD7, 0xD7, 0x113, Field::VpdNvram, Rule::Pair},
    {0x113, 0xD7, 0x113, Field::VpdNvram, Rule::Pair},
    {0xD8, 0xD8, 0x119, Field::Npiv01, Rule::Pair},
    {0x119, 0xD8, 0x119, Field::Npiv01, Rule::Pair},
    {0xD9, 0xD9, 0x11A, Field::Npiv01, Rule::Pair},
    {0x11A, 0xD9, 0x11A, Field::Npiv01, Rule::Pair},
    {0xDA, 0xDA, 0x11B, Field::Npiv01, Rule::Pair},
    {0x11B, 0xDA, 0x11B, Field::Npiv01, Rule::Pair},
    {0xDB, 0xDB, 0x11C, Field::Npiv01, Rule::Pair},
    {0x11C, 0xDB, 0x11C, Field::Npiv01, Rule::Pair},
    {0xDF, 0xDF, 0x124, Field::Global, Rule::PrimaryOn25},
    {0x124, 0xDF, 0x124, Field::Global, Rule::PrimaryOn25},
    {0x101, 0x101, 0x108, Field::Global, Rule::Pair},
    {0x108, 0x101, 0x108, Field::Global, Rule::Pair},
    {0x102, 0x102, 0x109, Field::Global, Rule::Pair},
    {0x109, 0x102, 0x109, Field::Global, Rule::Pair},
    {0x103, 0x103, 0x10A, Field::Global, Rule::Pair},
    {0x10A, 0x103, 0x10A, Field::Global, Rule::Pair},
    {0x14, 0x14, 0x10C, Field::VpdNvram, Rule::Fixed},
    {0x10C, 0x14, 0x10C, Field::VpdNvram, Rule::Pair},
    {0x16, 0x16, 0x10E, Field::VpdNvram, Rule::Fixed},
    {0x10E, 0x16, 0x10E, Field::VpdNvram, Rule::Pair},
    {0xD4, 0xD4, 0x110, Field::VpdNvram, Rule::Fixed},
    {0x110, 0xD4, 0x110, Field::VpdNvram, Rule::Pair},
    {0xD6, 0xD6, 0x112, Field::VpdNvram, Rule::Fixed},
    {0x112, 0xD6, 0x112, Field::VpdNvram, Rule::Pair},
    {0x125, 0x125, 0x126, Field::Global, Rule::Pair},
    {0x126, 0x125, 0x126, Field::Global, Rule::Pair},
};

struct AlternateEntry {
    SD_UINT32 code;
    SD_UINT32 other;
    Field field;
};

// Codes an update redirects to the other copy while the primary one is active.
constexpr AlternateEntry kAlternateTable[] = {
    {0x01, 0x02, Field::Global},     {0x07, 0x09, Field::Global},     {0x11, 0x0A, Field::Global},
    {0x13, 0x107, Field::Global},    {0x95, 0x96, Field::Global},     {0x96, 0x95, Field::Global},
    {0x9E, 0x9F, Field::Global},     {0xBA, 0x10B, Field::BoardConfig}, {0xCF, 0x106, Field::Global},
    {0xD1, 0xF1, Field::Global},     {0xD2, 0x105, Field::Global},    {0xD3, 0xF0, Field::Global},
    {0xDF, 0x124, Field::Global},    {0x124, 0xDF, Field::Global},    {0x101, 0x108, Field::Global},
    {0x102, 0x109, Field::Global},   {0x103, 0x10A, Field::Global},   {0x125, 0x126, Field::Global},
    {0x126, 0x125, Field::Global},
};

struct SetState {
    SD_UINT8 mask = 0;
    SD_UINT16 generation = 0;
    SD_UINT8 bitmap = 0;
    SD_UINT8 toolId = 0;
};

SetState read_state(std::span<const SD_UINT8> record, SD_UINT32 signature) {
    SetState s;
    if (signature == 0 || !CoreIsImageStatusRegionValid(record, signature)) return s;
    const IMAGESTATUSREGION r = CoreDecodeImageStatus(record);
    s.mask = r.ImageStatusMask & 0x01;
    s.generation = r.GenerationNumber;
    s.bitmap = r.ComponentsBitMap;
    s.toolId = r.ToolID;
    return s;
}

void components_from_bitmap(SD_UINT8 bitmap, ACTIVE_REGIONS* out) {
    out->ActiveBoardConfig = (bitmap & AUX_COMPONENT_BOARD_CONFIG) ? 2 : 1;
    out->ActiveVpdNvram = (bitmap & AUX_COMPONENT_VPD_NVRAM) ? 2 : 1;
    out->ActiveNpivConfig01 = (bitmap & AUX_COMPONENT_NPIV_01) ? 2 : 1;
    out->ActiveNpivConfig23 = (bitmap & AUX_COMPONENT_NPIV_23) ? 2 : 1;
}

void all_components(SD_UINT8 copy, ACTIVE_REGIONS* out) {
    out->ActiveBoardConfig = copy;
    out->ActiveVpdNvram = copy;
    out->ActiveNpivConfig01 = copy;
    out->ActiveNpivConfig23 = copy;
}

}  // namespace

void CoreDecideFlashActiveRegions(std::span<const SD_UINT8> primary, std::span<const SD_UINT8> secondary,
                                  std::span<const SD_UINT8> auxFirst, std::span<const SD_UINT8> auxSecond,
                                  int chipType, ACTIVE_REGIONS* out) {
    if (out == nullptr) return;
    const SD_UINT32 signature = CoreImageStatusSignatureForChip(chipType);
    const SetState p = read_state(primary, signature);
    const SetState s = read_state(secondary, signature);
    if (p.mask == 1 && s.mask == 0) out->ActiveGlobalRegions = 1;
    else if (p.mask == 0 && s.mask == 1) out->ActiveGlobalRegions = 2;
    else out->ActiveGlobalRegions = s.generation > p.generation ? 2 : 1;
    out->ActiveGenerationNumber = out->ActiveGlobalRegions == 1 ? p.generation : s.generation;
    CoreLogMessage(ZV_MSG_DEBUG,
                   "CoreGetAdapterFlashActiveRegions: Primary mask=%u gen=%u, secondary mask=%u gen=%u: set %u",
                   p.mask, p.generation, s.mask, s.generation, out->ActiveGlobalRegions);
    if (chipType < 27) return;

    const SetState a1 = read_state(auxFirst, AUX_IMAGE_STATUS_SIGNATURE);
    const SetState a2 = read_state(auxSecond, AUX_IMAGE_STATUS_SIGNATURE);
    if (a1.mask == 1 && a2.mask == 0) {
        components_from_bitmap(a1.bitmap, out);
        out->ToolID = a1.toolId;
    } else if (a1.mask == 0 && a2.mask == 1) {
        components_from_bitmap(a2.bitmap, out);
        out->ToolID = a2.toolId;
    } else if (p.mask == s.mask && s.generation > p.generation) {
        all_components(2, out);
        out->ToolID = a2.toolId;
    } else {
        all_components(1, out);
        out->ToolID = a1.toolId;
    }
}

SD_UINT32 CoreMapActiveRegion(int chipType, const SD_ACTIVE_REGIONS& regions, SD_UINT32 region) {
    if (chipType <= 24) return region;
    for (const ActiveEntry& e : kActiveTable) {
        if (e.code != region) continue;
        if (e.rule == Rule::Fixed) return region;
        if (e.rule == Rule::PrimaryOn25 && chipType == 25) return e.primary;
        return field_of(regions, e.field) == 1 ? e.primary : e.secondary;
    }
    return region;
}

SD_UINT32 CoreGetAlternateRegion(SD_UINT32 uRegion, const SD_ACTIVE_REGIONS* pInActiveRegions) {
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetAlternateRegion: Enter with region=x%x", uRegion);
    SD_UINT32 out = uRegion;
    SD_UINT8 deciding = 0;
    if (pInActiveRegions != nullptr && uRegion != 0) {
        for (const AlternateEntry& e : kAlternateTable) {
            if (e.code != uRegion) continue;
            deciding = field_of(*pInActiveRegions, e.field);
            if (deciding == 1) out = e.other;
            break;
        }
    }
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetAlternateRegion: Region in=0x%x Region out=0x%x (0x%x)", uRegion, out,
                   deciding);
    return out;
}

// ---- Queries through the management library ------------------------------------------

namespace {

// Reads one image-status region whole; 0, or the management status.
SD_UINT32 read_status_region(SDMDevice* device, SD_UINT32 region, std::vector<SD_UINT8>& buffer) {
    const SD_UINT32 status = FlashReadRetrying(device->DeviceHandle, region, buffer);
    if (status != 0)
        CoreLogMessage(ZV_MSG_DEBUG, "CoreGetAdapterFlashActiveRegions: Flash Region 0x%x Error 0x%x (%s)", region,
                       status, SDGetErrorString(status));
    return status;
}

void copy_five(const ACTIVE_REGIONS& from, SD_ACTIVE_REGIONS* to) {
    to->ActiveGlobalRegions = from.ActiveGlobalRegions;
    to->ActiveBoardConfig = from.ActiveBoardConfig;
    to->ActiveVpdNvram = from.ActiveVpdNvram;
    to->ActiveNpivConfig01 = from.ActiveNpivConfig01;
    to->ActiveNpivConfig23 = from.ActiveNpivConfig23;
}

}  // namespace

int CoreGetAdapterFlashActiveRegions(SDMDevice* pDevice, ACTIVE_REGIONS* pActiveRegions) {
    if (pDevice == nullptr || pActiveRegions == nullptr) return -1;
    const int chipType = CoreGetISPType(pDevice);
    if (chipType < 25) return -1;
    std::vector<SD_UINT8> regions[4];
    const int count = chipType >= 27 ? 4 : 2;
    try {
        for (int i = 0; i < count; ++i) regions[i].assign(IMAGE_STATUS_REGION_SIZE, 0);
    } catch (const std::bad_alloc&) {
        return CORE_FLASH_NO_MEMORY;
    }
    constexpr SD_UINT32 codes[4] = {IMAGE_STATUS_REGION_PRIMARY, IMAGE_STATUS_REGION_SECONDARY,
                                    AUX_IMAGE_STATUS_REGION_FIRST, AUX_IMAGE_STATUS_REGION_SECOND};
    for (int i = 0; i < count; ++i)
        if (read_status_region(pDevice, codes[i], regions[i]) != 0) return CORE_FLASH_STATUS_UNREADABLE;
    CoreDecideFlashActiveRegions(regions[0], regions[1], regions[2], regions[3], chipType, pActiveRegions);
    return 0;
}

int CoreGetActiveRegions(SDMDevice* pDevice, SD_ACTIVE_REGIONS* pActiveRegions) {
    if (pDevice == nullptr || CoreGetISPType(pDevice) < 25) return -1;
    SD_ACTIVE_REGIONS answer{};
    SD_UINT32 status = SDERR_UNKNOWN;
    for (int attempt = 0; attempt < 8; ++attempt) {
        answer = SD_ACTIVE_REGIONS{};
        status = SDGetActiveRegions(pDevice->DeviceHandle, 0, &answer);
        if (status == 0 || status == SDERR_NOT_SUPPORTED) break;
        if (status == 0xFFFFFFFF) {
            CoreLogMessage(ZV_MSG_DEBUG, "CoreGetActiveRegions: Command not supported by driver (0x%x - %s)", status,
                           SDGetErrorString(status));
            break;
        }
        if (zvapi_waits_interrupted()) break;
        CoreLogMessage(ZV_MSG_DEBUG, "CoreGetActiveRegions: Waiting for ISP reset (0x%x - %s)", status,
                       SDGetErrorString(status));
        OSSSleep(8);
    }
    bool known = status == 0 && answer.ActiveGlobalRegions != 0;
    bool fromFlash = false;
    int result = 0;
    if (status == 0 && answer.ActiveGlobalRegions == 0)
        CoreLogMessage(ZV_MSG_DEBUG, "CoreGetActiveRegions: Detected invalid active image status");
    if (!known) {
        ACTIVE_REGIONS flash{};
        result = CoreGetAdapterFlashActiveRegions(pDevice, &flash);
        if (result == 0) {
            copy_five(flash, &answer);
            known = fromFlash = true;
        } else {
            // An all-zero answer would read as "secondary active" to every caller.
            CoreLogMessage(ZV_MSG_ERROR, "CoreGetActiveRegions: Unable to determine the active image set (%d)!",
                           result);
            answer = SD_ACTIVE_REGIONS{};
        }
    }
    if (pActiveRegions == nullptr) {
        CoreLogMessage(ZV_MSG_DEBUG, "CoreGetActiveRegions: Invalid parameter!");
        return fromFlash ? 0 : -1;
    }
    pActiveRegions->ActiveGlobalRegions = answer.ActiveGlobalRegions;
    pActiveRegions->ActiveBoardConfig = answer.ActiveBoardConfig;
    pActiveRegions->ActiveVpdNvram = answer.ActiveVpdNvram;
    pActiveRegions->ActiveNpivConfig01 = answer.ActiveNpivConfig01;
    pActiveRegions->ActiveNpivConfig23 = answer.ActiveNpivConfig23;
    return known ? 0 : result;
}

SD_UINT32 CoreGetActiveRegion(SDMDevice* pDevice, SD_UINT32 uCurRegion) {
    if (pDevice == nullptr) {
        CoreLogMessage(ZV_MSG_ERROR, "CoreGetActiveRegion: Invalid adapter!");
        return 0;
    }
    const int chipType = CoreGetISPType(pDevice);
    if (chipType <= 24) return uCurRegion;
    SD_ACTIVE_REGIONS regions{};
    // Without a known active set, guessing a copy could read the wrong one.
    if (CoreGetActiveRegions(pDevice, &regions) != 0) return uCurRegion;
    return CoreMapActiveRegion(chipType, regions, uCurRegion);
}
