// A damaged multiboot image through the Dorne and Vrel validation chain
// (header, card type, the image as one set, components) and the combination
// the engines write from. Whatever the set check accepts must be a set the
// adapter can start from: each component it cannot start without served,
// every serving entry the engine writes a non-empty component of a region of
// the adapter's layout, after the table and inside the image; and every
// written component copied as it is must reach the engine's write exactly as
// the image holds it, whatever other component shares its bytes. The check
// answers 0 or 507 only, and leaves the image as it was.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

#include "engines/dorne_region_writes.h"
#include "engines/vrel_region_writes.h"
#include "fuzz_support.h"
#include "image/card_types.h"
#include "image/ilt_accessors.h"
#include "image/image_combination.h"
#include "image/image_combination_shared.h"
#include "image/image_layout_table.h"
#include "image/image_validation_multiboot.h"
#include "image/image_validation_whole.h"
#include "image/word_helpers.h"
#include "mgmt/sim/sim_layout.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Family {
    SD_UINT16 chipType;
    ImageSetRules rules;
    std::vector<SD_UINT16> plain;   // written types the combination copies unchanged
};

std::vector<SDM_OPT_ROM_REGION> Layout(SD_UINT16 chipType) {
    std::vector<SDM_OPT_ROM_REGION> out;
    for (const zvsim_region& r : zvsim_default_layout(chipType)) out.push_back({r.code, r.size});
    return out;
}

void OneFamily(const Bytes& original, const Family& f, sHbaIdentifiers ids) {
    const IltBytes img(original);
    const auto layout = Layout(f.chipType);
    const bool dorne = f.chipType == 25;
    const int header = dorne ? ValidateDorneILTImageHeader(ids.deviceId, ids.vendorId, img, ids.chipRev)
                             : ValidateVrelILTImageHeader(ids.deviceId, ids.vendorId, img, ids.chipRev);
    if (header != 0) return;
    const SD_INT16 cardType = ILT_TorviCardTypeList_GetMyCardTypeFromCardList(img, ids.deviceId, ids.vendorId);
    if (cardType < 0) return;
    const int whole = ValidateImageSetAsWhole(img, cardType, ids.chipRev, layout, f.rules);
    ZVFUZZ_CHECK(whole == 0 || whole == ILT_WRONG_COMPONENT);
    ZVFUZZ_CHECK(Bytes(img.begin(), img.end()) == original);
    if (whole != 0) return;

    // The serving entries, as the combination picks them.
    std::vector<std::pair<SD_UINT16, ILT_Region_t>> serving;
    const int entries = static_cast<int>(ILT_Header_GetNumOfRegionEntries(img)) - 1;
    for (int i = 0; i < entries; ++i) {
        const auto r = ILT_Region_GetRegionByIndex(img, static_cast<SD_UINT16>(i));
        ZVFUZZ_CHECK(r.has_value());
        if (CardTypeComapre(r->swapModeCardType, static_cast<SD_UINT16>(cardType)) &&
            HwRevComapre(ids.chipRev, r->chipRev))
            serving.emplace_back(static_cast<SD_UINT16>(i), *r);
    }
    // What is written lies after the table the combination stamps over the
    // buffer's start, inside the image, in a region of the layout.
    const std::size_t table = ILT_Header_GetTableLength(img);
    for (const auto& entry : serving) {
        const ILT_Region_t& r = entry.second;
        if (!f.rules.writes(r.regionType)) continue;
        const std::uint64_t begin = HLPR_GetDoubleWord(r.offsetLo, r.offsetHi);
        const std::uint64_t end = begin + HLPR_GetDoubleWord(r.sizeLo, r.sizeHi);
        ZVFUZZ_CHECK(begin >= table && end > begin && end <= original.size());
        ZVFUZZ_CHECK(std::any_of(layout.begin(), layout.end(),
                                 [&](const SDM_OPT_ROM_REGION& l) { return l.Region == r.regionType; }));
    }
    for (const SD_UINT32 code : f.rules.needs)
        ZVFUZZ_CHECK(std::any_of(serving.begin(), serving.end(),
                                 [code](const auto& s) { return s.second.regionType == code; }));

    const SD_INT8 expected = HowManyImagesForCardTypeGeneric(img, cardType, ids.chipRev);
    ZVFUZZ_CHECK(expected == static_cast<SD_INT8>(serving.size()));
    MultibootVersions mv{};
    FlashComponentVersion fv{};
    const SD_INT8 verified = dorne ? ValidateDorneImageComponents(img, 0, cardType, &mv, ids)
                                   : ValidateVrelImageComponents(img, 0, cardType, &fv, ids);
    if (verified != expected) return;

    Bytes image = original;   // the stamp rewrites the source's checksum
    Bytes combined(original.size(), 0);
    const CombineEntryFn merge = dorne ? CombineDorneImage : CombineVrelImage;
    const SD_INT16 merged =
        dorne ? CombineDorneImageComponentsInBuffer(combined, image, 0, cardType, ids, ids.chipRev)
              : CombineVrelImageComponentsInBuffer(combined, image, 0, cardType, ids, ids.chipRev);
    if (merged != expected) return;   // a patch refused its component: the engine fails with 521
    std::vector<CombinedEntryBytes> kept;
    if (CombineSharedEntries(image, combined, cardType, ids.chipRev, ids, merge, f.rules.writes, &kept) != 0) return;
    for (const auto& [index, r] : serving) {
        if (std::find(f.plain.begin(), f.plain.end(), r.regionType) == f.plain.end()) continue;
        const std::size_t offset = HLPR_GetDoubleWord(r.offsetLo, r.offsetHi);
        const std::size_t size = HLPR_GetDoubleWord(r.sizeLo, r.sizeHi);
        const auto data = CombinedEntryData(kept, index, std::span<const SD_UINT8>(combined).subspan(offset, size));
        ZVFUZZ_CHECK(data.size() == size);
        ZVFUZZ_CHECK(std::memcmp(data.data(), original.data() + offset, size) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Bytes original(data, data + size);   // exact size: a read past it is caught

    // The adapter named by the image's first list entry, so that card types match.
    sHbaIdentifiers ids{};
    ids.vendorId = 0x1077;
    ids.deviceId = 0x029B;
    ids.deviceISP = 0x2261;
    std::strcpy(ids.acHBAModel, "KV2692");
    if (const auto first = ILT_CardTypeList_First(original)) {
        if (const auto e = ILT_CardTypeList_GetEntry(original, *first, 0)) {
            ids.vendorId = e->subSystemVID;
            ids.deviceId = e->subSystemDID;
            ids.deviceISP = e->deviceID;
        }
    }
    const Family families[] = {
        {25, {IMAGE_SET_NEEDS_DORNE, DorneWritesType}, {0x01, 0x66, 0x9E, 0xD1, 0xD3, 0xE1}},
        {27, {IMAGE_SET_NEEDS_VREL, VrelWritesType}, {0x01, 0x9E, 0xD1, 0xD2, 0xD3, 0x101, 0x102, 0x103}},
    };
    for (const SD_UINT16 rev : {SD_UINT16{0}, SD_UINT16{0x54}}) {
        ids.chipRev = rev;
        for (const Family& f : families) OneFamily(original, f, ids);
    }
    return 0;
}
