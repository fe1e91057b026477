// Components that share bytes: each entry written gets the bytes its own
// combination gives, whichever of them the combined buffer holds.
#include <gtest/gtest.h>

#include <algorithm>

#include "fixtures/image_component_builder.h"
#include "image/ilt_accessors.h"
#include "image/image_combination.h"
#include "image/image_combination_shared.h"
#include "image/mbi_identifiers.h"
#include "image/word_helpers.h"

namespace {

using zvfix::Bytes;
using zvfix::MultibootImageSpec;

constexpr zvfix::MbiAdapter kVrel{.deviceId = 0x2281, .ssvid = 0x1A77, .ssdid = 0x02AE};

bool Everything(SD_UINT32) { return true; }

struct Written {
    Bytes image;                              // as the file holds it
    std::vector<CombinedEntryBytes> kept;
    std::vector<Bytes> data;                  // per entry, what the engine writes
};

Written Combine(const MultibootImageSpec& s) {
    Written w;
    w.image = zvfix::BuildMultibootImage(s);
    Bytes source = w.image;
    Bytes combined(source.size(), 0);
    const sHbaIdentifiers ids = zvtest::MbiIds(kVrel);
    EXPECT_EQ(CombineVrelImageComponentsInBuffer(combined, source, 0, 1, ids, 0),
              static_cast<SD_INT16>(s.components.size()));
    EXPECT_EQ(CombineSharedEntries(source, combined, 1, 0, ids, CombineVrelImage, Everything, &w.kept), 0);
    for (size_t i = 0; i < s.components.size(); ++i) {
        const auto r = ILT_Region_GetRegionByIndex(w.image, static_cast<SD_UINT16>(i));
        const auto at = ILT_Region_GetComponent(combined, *r);
        const auto data = CombinedEntryData(w.kept, static_cast<SD_UINT16>(i), *at);
        w.data.emplace_back(data.begin(), data.end());
    }
    return w;
}

size_t IndexOf(const MultibootImageSpec& s, uint16_t region) {
    return static_cast<size_t>(std::find_if(s.components.begin(), s.components.end(),
                                            [region](const zvfix::MbiComponent& c) { return c.region == region; }) -
                               s.components.begin());
}

Bytes InImage(const Written& w, size_t index) {
    const auto r = ILT_Region_GetRegionByIndex(w.image, static_cast<SD_UINT16>(index));
    const auto at = ILT_Region_GetComponent(w.image, *r);
    return Bytes(at->begin(), at->end());
}

// The FC SoftROM (copied as it is) names the boot code's bytes (patched for
// the adapter), once after it in the table and once before it.
TEST(SharedBytes, APatchedAndAPlainComponentEachGetTheirOwn) {
    const MultibootImageSpec good = zvfix::VrelImageSpecWithTables(kVrel);
    const Written alone = Combine(good);
    const Bytes patchedBoot = alone.data[IndexOf(good, 0x07)];
    ASSERT_NE(patchedBoot, InImage(alone, IndexOf(good, 0x07)));   // the patch changes the boot code
    EXPECT_TRUE(alone.kept.empty());

    for (const bool softRomFirst : {false, true}) {
        SCOPED_TRACE(softRomFirst ? "FC SoftROM first" : "boot code first");
        MultibootImageSpec s = good;
        if (softRomFirst) std::rotate(s.components.begin(), s.components.begin() + IndexOf(s, 0x103),
                                      s.components.begin() + IndexOf(s, 0x103) + 1);
        zvfix::MbiComponent& softRom = s.components[IndexOf(s, 0x103)];
        softRom.over = IndexOf(s, 0x07);
        softRom.size = static_cast<uint32_t>(s.Component(0x07)->data.size());
        const Written w = Combine(s);
        EXPECT_EQ(w.data[IndexOf(s, 0x07)], patchedBoot);
        EXPECT_EQ(w.data[IndexOf(s, 0x103)], InImage(w, IndexOf(s, 0x07)));
        // Only the one the later copy overwrote keeps bytes of its own.
        ASSERT_EQ(w.kept.size(), 1u);
        EXPECT_EQ(w.kept[0].index, IndexOf(s, softRomFirst ? 0x103 : 0x07));
    }
}

}  // namespace
