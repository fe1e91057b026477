// FC VPD step: check every FC VPD region, update those that passed; repair
// of a region damaged by a write cut short.
#include "image/fc_vpd_update.h"

#include <algorithm>
#include <array>
#include <new>
#include <utility>

#include "core/active_regions.h"
#include "core/oss_services.h"
#include "frontend/hba_device_list.h"
#include "frontend/output.h"
#include "frontend/vpd.h"
#include "image/region_sequences.h"
#include "image/vpd_version_keywords.h"

namespace {

constexpr unsigned kVerifyPauseSeconds = 1;

const SDM_OPT_ROM_REGION* FindRegion(const SDMOptRomLayoutCopy& layout, SD_UINT32 code) {
    for (const SDM_OPT_ROM_REGION& r : layout.Regions) {
        if (r.Region == code) return &r;
    }
    return nullptr;
}

constexpr std::array<std::pair<SD_UINT32, SD_UINT32>, 4> kVpdCopies{
    {{0x14, 0x10C}, {0x16, 0x10E}, {0xD4, 0x110}, {0xD6, 0x112}}};

// Keywords whose values an update rewrites: the copies may differ there.
bool IsVersionKeyword(std::span<const SD_UINT8> header) {
    static constexpr const char* kRewritten[] = {"RM", "V9", "VV", "V1", "V3", "V4", "V5"};
    if (header.size() < 2) return false;
    for (const char* k : kRewritten) {
        if (header[0] == static_cast<SD_UINT8>(k[0]) && header[1] == static_cast<SD_UINT8>(k[1])) return true;
    }
    return false;
}

bool IsChecksumKeyword(std::span<const SD_UINT8> header) {
    return header.size() >= 2 && header[0] == 'R' && header[1] == 'V';
}

// A region's bytes as the adapter holds them (through the retrying region
// wrappers; a region the layout lacks or that cannot be read is not judged):
// true when read.
bool ReadFcVpd(SDMDevice* pDevice, const SDMOptRomLayoutCopy& layout, SD_UINT32 region, std::vector<SD_UINT8>* out) {
    const SDM_OPT_ROM_REGION* r = FindRegion(layout, region);
    const SD_UINT32 size = r != nullptr ? r->Size : 0;
    if (size == 0) return false;
    try {
        out->assign(size, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    SD_UINT32 got = 0;
    return GetOptionROMRegionData(pDevice, *out, region, &got) == 0 && got == size;
}

}  // namespace

SD_UINT32 FcVpdOtherCopy(SD_UINT32 region) {
    for (const auto& [a, b] : kVpdCopies) {
        if (region == a) return b;
        if (region == b) return a;
    }
    return 0;
}

std::vector<std::string> FcVpdSerialNumbers(SDMDevice* pDevice) {
    std::vector<std::string> serials;
    if (pDevice == nullptr) return serials;
    SDMOptRomLayoutCopy layout;
    SD_UINT32 unused = 0;
    if (GetOptionRomRegionLayout(pDevice, &layout, 0, &unused) != 0) return serials;
    for (const auto& [primary, secondary] : kVpdCopies) {
        for (const SD_UINT32 code : {primary, secondary}) {
            std::vector<SD_UINT8> vpd;
            // As long as the serial number the device list reads (GetSerialNo).
            char serial[VORN_SERIAL_SIZE] = {};
            if (!ReadFcVpd(pDevice, layout, code, &vpd) || !VpdIsSound(vpd) ||
                getSerialNoFromVPD(vpd, std::span<char>(serial, sizeof serial)) != VPD_SUCCESS || serial[0] == '\0') {
                continue;
            }
            if (std::find(serials.begin(), serials.end(), serial) == serials.end()) serials.emplace_back(serial);
        }
    }
    return serials;
}

bool IsCutShortCopyOf(std::span<const SD_UINT8> damaged, std::span<const SD_UINT8> source) {
    if (damaged.size() != source.size()) return false;
    std::vector<bool> free;
    try {
        free.assign(source.size(), false);
    } catch (const std::bad_alloc&) {
        return false;
    }
    VpdItemView item;
    for (std::size_t offset = 0; VpdReadItem(source, offset, item) && item.length > 0; offset += item.length) {
        if (item.header.size() == 1) break;   // the end tag
        const std::size_t at = offset + item.header.size();
        if (IsVersionKeyword(item.header)) {
            std::fill(free.begin() + static_cast<long>(at), free.begin() + static_cast<long>(at + item.value.size()),
                      true);
        } else if (IsChecksumKeyword(item.header) && !item.value.empty()) {
            free[at] = true;
        }
    }
    std::size_t i = 0;
    while (i < source.size() && (free[i] || damaged[i] == source[i])) ++i;
    for (; i < damaged.size(); ++i) {
        if (damaged[i] != 0xFF) return false;
    }
    return true;
}

SD_UINT32 PlanFcVpdRepair(SDMDevice* pDevice, FcVpdRepairPlan* plan) {
    if (plan != nullptr) plan->rebuilds.clear();
    if (pDevice == nullptr || plan == nullptr) return 0;
    SDMOptRomLayoutCopy layout;
    SD_UINT32 unused = 0;
    if (GetOptionRomRegionLayout(pDevice, &layout, 0, &unused) != 0) return 0;
    std::array<SD_UINT32, REGION_SEQ_VPD_SIZE> regions{};
    InitDorneVpdUpdateSequence(regions, 0, REGION_SET_PRIMARY);
    // Which copies the adapter reads, asked only when a blank region needs it.
    int readsPrimary = -1;
    for (const SD_UINT32 code : regions) {
        std::vector<SD_UINT8> vpd;
        if (code == 0 || !ReadFcVpd(pDevice, layout, code, &vpd) || VpdIsSound(vpd)) continue;
        const bool blank = IsBlankVpd(vpd) != 0;
        if (blank) {
            // A blank copy the adapter does not read is left alone, as the
            // version-keyword update leaves it: nothing depends on it.
            if (readsPrimary < 0) {
                SD_ACTIVE_REGIONS active{};
                readsPrimary = CoreGetActiveRegions(pDevice, &active) != 0 || active.ActiveVpdNvram != 2 ? 1 : 0;
            }
            if (readsPrimary == 0) {
                VORNLogMessage(VORN_MSG_DEBUG, "PlanFcVpdRepair: region 0x%x blank, the adapter reads its other copy",
                               code);
                continue;
            }
        }
        const SD_UINT32 otherCode = FcVpdOtherCopy(code);
        FcVpdRebuild rebuild{code, otherCode, {}};
        const bool source = ReadFcVpd(pDevice, layout, otherCode, &rebuild.source) && VpdIsSound(rebuild.source) &&
                            IsCutShortCopyOf(vpd, rebuild.source);
        VORNLogMessage(VORN_MSG_DEBUG, "PlanFcVpdRepair: region 0x%x %s, copy 0x%x %s", code,
                       blank ? "blank" : "damaged", otherCode, source ? "intact" : "no source");
        if (!source) {
            // A blank region with nothing to rebuild from holds no VPD: left as it is.
            if (blank) continue;
            scfxPrint("HBA %s (instance %d): FC VPD region 0x%X is damaged and the adapter holds no intact copy of it!",
                      pDevice->DeviceNodeProperty.Model, static_cast<int>(pDevice->DeviceNumber), code);
            plan->rebuilds.clear();
            return code;
        }
        try {
            plan->rebuilds.push_back(std::move(rebuild));
        } catch (const std::bad_alloc&) {
            plan->rebuilds.clear();
            return code;
        }
    }
    return 0;
}

SD_UINT32 ApplyFcVpdRepair(SDMDevice* pDevice, const FcVpdRepairPlan& plan, const MultibootVersions* pVersions,
                           SD_UINT16 DisableReset) {
    if (pDevice == nullptr || pVersions == nullptr) return 0;
    for (const FcVpdRebuild& r : plan.rebuilds) {
        scfxDiagnosticsPrint("Rebuilding Adapter FC VPD region 0x%X from region 0x%X... ", r.code, r.otherCode);
        const SD_INT32 st = WriteVpdRegionWithVersions(pDevice, pVersions, r.code, r.source, {}, DisableReset);
        scfxPrint(st == VPD_UPDATE_SUCCESS ? "Success" : "Failed");
        if (st != VPD_UPDATE_SUCCESS) {
            VORNLogMessage(VORN_MSG_DEBUG, "ApplyFcVpdRepair: region 0x%x not rebuilt (%d)", r.code, st);
            return r.code;
        }
    }
    return 0;
}

SD_UINT32 RepairFcVpdRegions(SDMDevice* pDevice, const MultibootVersions* pVersions, SD_UINT16 DisableReset) {
    if (pDevice == nullptr || pVersions == nullptr) return 0;
    FcVpdRepairPlan plan;
    if (const SD_UINT32 damaged = PlanFcVpdRepair(pDevice, &plan); damaged != 0) return damaged;
    return ApplyFcVpdRepair(pDevice, plan, pVersions, DisableReset);
}

std::vector<FcVpdRegion> CheckFcVpdRegions(SDMDevice* pDevice, const SDMOptRomLayoutCopy& layout,
                                           std::span<const SD_UINT32> candidates, SD_INT32* pLastStatus) {
    std::vector<FcVpdRegion> passed;
    try {
        passed.reserve(candidates.size());
    } catch (const std::bad_alloc&) {
        if (pLastStatus != nullptr) *pLastStatus = VPD_UPDATE_NO_MEMORY;
        return {};
    }
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const SDM_OPT_ROM_REGION* r = FindRegion(layout, candidates[i]);
        if (r == nullptr) continue;
        const SD_INT32 st = CheckForValidVpdRegion(pDevice, r->Region, r->Size);
        VORNLogMessage(VORN_MSG_DEBUG, "CheckFcVpdRegions: region 0x%x (size 0x%x) check %d", r->Region, r->Size, st);
        if (pLastStatus != nullptr) *pLastStatus = st;
        if (st == VPD_UPDATE_SUCCESS) passed.push_back({r->Region, r->Size, static_cast<SD_UINT32>(i)});
    }
    return passed;
}

SD_INT32 UpdateFcVpdRegions(SDMDevice* pDevice, const MultibootVersions* pVersions,
                            std::span<const FcVpdRegion> regions, SD_UINT16 DisableReset, SD_INT32 vpdStatus) {
    bool failed = false;
    for (const FcVpdRegion& r : regions) {
        scfxDiagnosticsPrint("Updating Adapter FC VPD %u... ", r.number);
        const SD_INT32 st = UpdateAndRestoreTorviFcVPD(pDevice, pVersions, r.size, r.code, DisableReset);
        if (st == VPD_UPDATE_SUCCESS) {
            scfxPrint("Success");
            scfxDiagnosticsPrint("Verifying Adapter FC VPD %u...", r.number);
            OSSSleep(kVerifyPauseSeconds);
            scfxPrint("Success");
        } else {
            scfxPrint("Unsuccessful");
            VORNLogMessage(VORN_MSG_DEBUG, "UpdateFcVpdRegions: region 0x%x not updated (%d)", r.code, st);
            failed = true;
        }
        vpdStatus = failed ? FC_VPD_UPDATE_FAILED : VPD_UPDATE_SUCCESS;
    }
    return vpdStatus;
}
