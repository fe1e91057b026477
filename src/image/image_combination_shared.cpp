// Components that share bytes in a multiboot image.
#include "image/image_combination_shared.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "frontend/output.h"
#include "image/ilt_accessors.h"
#include "image/word_helpers.h"

namespace {

constexpr const char* kWho = "CombineSharedEntries";

struct Placed {
    SD_UINT16 index;
    ILT_Region_t entry;
    std::uint64_t begin;
    std::uint64_t end;
};

bool Share(const Placed& a, const Placed& b) { return a.begin < b.end && b.begin < a.end; }

}  // namespace

int CombineSharedEntries(ImageBytes image, IltBytes combined, SD_INT16 cardType, SD_UINT16 adapterChipRev,
                         const sHbaIdentifiers& ids, CombineEntryFn merge, bool (*writes)(SD_UINT32 type),
                         std::vector<CombinedEntryBytes>* kept) {
    kept->clear();
    const int entries = cardType < 0 ? 0 : static_cast<int>(ILT_Header_GetNumOfRegionEntries(image)) - 1;
    try {
        std::vector<Placed> serving;
        for (int i = 0; i < entries; ++i) {
            const auto r = ILT_Region_GetRegionByIndex(image, static_cast<SD_UINT16>(i));
            if (!r) {
                VORNLogMessage(VORN_MSG_DEBUG, "%s: entry %d cannot be read", kWho, i);
                return -1;
            }
            if (!CardTypeComapre(r->swapModeCardType, static_cast<SD_UINT16>(cardType)) ||
                !HwRevComapre(adapterChipRev, r->chipRev))
                continue;
            const std::uint64_t begin = HLPR_GetDoubleWord(r->offsetLo, r->offsetHi);
            const std::uint64_t end = begin + HLPR_GetDoubleWord(r->sizeLo, r->sizeHi);
            if (begin < end) serving.push_back({static_cast<SD_UINT16>(i), *r, begin, end});
        }
        for (const Placed& p : serving) {
            if (writes == nullptr || !writes(p.entry.regionType)) continue;
            if (std::none_of(serving.begin(), serving.end(),
                             [&p](const Placed& o) { return &o != &p && Share(o, p); }))
                continue;
            const auto source = ILT_Region_GetComponent(image, p.entry);
            const auto there = ILT_Region_GetComponent(combined, p.entry);
            if (!source || !there) {
                VORNLogMessage(VORN_MSG_DEBUG, "%s: entry %u lies past the image", kWho, p.index);
                return -1;
            }
            // The component alone: its bytes at offset 0 of a buffer of its own size.
            std::vector<SD_UINT8> own(source->size(), 0);
            ILT_Region_t alone = p.entry;
            alone.offsetLo = 0;
            alone.offsetHi = 0;
            if (const SD_UINT8 st = merge(own, &alone, *source, ids); st != 0) {
                VORNLogMessage(VORN_MSG_DEBUG, "%s: entry %u (region 0x%x) alone failed (%u)", kWho, p.index,
                               p.entry.regionType, st);
                return st;
            }
            if (std::equal(own.begin(), own.end(), there->begin())) continue;
            VORNLogMessage(VORN_MSG_DEBUG, "%s: entry %u (region 0x%x) keeps its own 0x%zx bytes", kWho, p.index,
                           p.entry.regionType, own.size());
            kept->push_back({p.index, std::move(own)});
        }
    } catch (const std::bad_alloc&) {
        VORNLogMessage(VORN_MSG_DEBUG, "%s: no memory", kWho);
        kept->clear();
        return -1;
    }
    return 0;
}

std::span<const SD_UINT8> CombinedEntryData(std::span<const CombinedEntryBytes> kept, SD_UINT16 index,
                                            std::span<const SD_UINT8> inCombined) {
    for (const CombinedEntryBytes& k : kept)
        if (k.index == index) return k.bytes;
    return inCombined;
}
