// Component checks and combination of a damaged multiboot image: every
// family's check answers a count or one of its statuses and leaves the image
// as it was; a count always equals the number of entries that serve the
// adapter; a combination never writes past the combined buffer (which is
// exactly as long as the image) and, when it succeeds, has merged exactly
// the serving entries and put the image's table at the buffer's start.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "image/card_types.h"
#include "image/ilt_accessors.h"
#include "image/image_combination.h"
#include "image/image_validation_converged.h"
#include "image/image_validation_multiboot.h"
#include "image/image_validation_region_fit.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool IsCheckResult(int r) { return r >= IMGVAL_TOO_MANY_COMPONENTS && r <= IMGVAL_MAX_COMPONENTS; }

// A successful combination holds the image's table at its start, apart from
// the checksum and the time stamp.
void CheckCombined(int result, int fitting, const Bytes& image, const Bytes& combined) {
    ZVFUZZ_CHECK(result >= -1 && result <= 0xFF);
    if (result < 0 || result > COMBINE_MAX_ENTRIES) return;
    ZVFUZZ_CHECK(result == fitting);
    const size_t length = ILT_Header_GetTableLength(image);
    const size_t stamp = ILT_TimeStampOffset(ILT_Header_GetNumOfRegionEntries(image));
    ZVFUZZ_CHECK(length <= combined.size() && stamp + ILT_ENTRY_SIZE <= length);
    ZVFUZZ_CHECK(std::memcmp(combined.data(), image.data(), 8) == 0);
    ZVFUZZ_CHECK(std::memcmp(combined.data() + 10, image.data() + 10, stamp - 10) == 0);
    ZVFUZZ_CHECK(std::memcmp(combined.data() + stamp + ILT_ENTRY_SIZE, image.data() + stamp + ILT_ENTRY_SIZE,
                             length - stamp - ILT_ENTRY_SIZE) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Bytes original(data, data + size);   // exact size: a read past it is caught
    const IltBytes img(original);

    // The adapter named by the image's first list entry, so that card types match.
    sHbaIdentifiers ids{};
    ids.vendorId = 0x1077;
    ids.deviceId = 0x029B;
    ids.deviceISP = 0x2261;
    std::strcpy(ids.acHBAModel, "KV2692");
    if (const auto first = ILT_CardTypeList_First(img)) {
        if (const auto e = ILT_CardTypeList_GetEntry(img, *first, 0)) {
            ids.vendorId = e->subSystemVID;
            ids.deviceId = e->subSystemDID;
            ids.deviceISP = e->deviceID;
        }
    }
    SD_INT16 cardType = ILT_TorviCardTypeList_GetMyCardTypeFromCardList(img, ids.deviceId, ids.vendorId);
    if (cardType < 0) cardType = 1;

    for (const SD_UINT16 rev : {SD_UINT16{0}, SD_UINT16{0x54}}) {
        ids.chipRev = rev;
        const int generic = HowManyImagesForCardTypeGeneric(img, cardType, rev);
        const int plain = HowManyImagesForCardType(img, cardType);
        ZVFUZZ_CHECK(generic >= -1 && plain >= -1);

        MultibootVersions mv{};
        FlashComponentVersion fv{};
        const int checks[] = {ValidateDorneImageComponents(img, 0, cardType, &mv, ids),
                              ValidateVrelImageComponents(img, 0, cardType, &fv, ids),
                              ValidateTorviImageComponents(img, 0, cardType, &mv, rev),
                              ValidatePemraImageComponents(img, 0, cardType, &mv, rev)};
        for (const int r : checks) {
            ZVFUZZ_CHECK(IsCheckResult(r));
            if (r >= 0) ZVFUZZ_CHECK(r == generic);
        }
        for (const int r : {static_cast<int>(ValidateK7RImageComponents(img, 0, cardType, &mv, rev)),
                            static_cast<int>(ValidateImageComponents(img, 0, cardType, &mv))}) {
            ZVFUZZ_CHECK(IsCheckResult(r));
            if (r >= 0) ZVFUZZ_CHECK(r == plain);
        }
        ValidateGenericImageComponents(img, &fv, ids);
        const SD_UINT32 codes[] = {0x9E, 0x07, 0x11, 0x13, 0xBA, 0xCF, 0xD1, 0xD3, 0x01};
        const SDM_OPT_ROM_REGION layout[] = {{0x07, 0x40000}, {0x11, 0x40000}, {0x01, 0x100000}, {0x9E, 0x1000}};
        const int fit = ValidateImageRegionsFitLayout(img, codes, layout, cardType, rev);
        ZVFUZZ_CHECK(fit == 0 || fit == IMGVAL_REGION_LIMIT);
        ZVFUZZ_CHECK(Bytes(img.begin(), img.end()) == original);

        // Combinations, each from a fresh copy (the stamp rewrites the source's checksum).
        using Combine = SD_INT16 (*)(CombinedBytes, std::span<SD_UINT8>, SD_UINT16, SD_INT16, const sHbaIdentifiers&,
                                     SD_UINT16);
        for (const Combine combine : {Combine{CombineDorneImageComponentsInBuffer},
                                      Combine{CombineVrelImageComponentsInBuffer},
                                      Combine{CombineTorviImageComponentsInBuffer}}) {
            Bytes image = original;
            Bytes combined(size, 0);
            const int r = combine(combined, image, 0, cardType, ids, rev);
            ZVFUZZ_CHECK(combined.size() == size);
            CheckCombined(r, generic, image, combined);
        }
        Bytes image = original;
        Bytes combined(size, 0);
        CheckCombined(CombineK7RImageComponentsInBuffer(combined, image, 0, cardType, ids), plain, image, combined);
    }
    return 0;
}
