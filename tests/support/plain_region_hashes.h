// What the journal must show for the components an engine copies as they
// are: each written region holds its entry's bytes as the image holds them,
// erased (0xFF) to the size of the region in the chip type's layout.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "fixtures/host_builder.h"
#include "image/ilt_accessors.h"
#include "image/word_helpers.h"
#include "mgmt/sim/sim_layout.h"

namespace zvtest {

// The journal hash of the region written for each entry of `image` whose
// type `plain` names (every entry is taken as serving the adapter).
inline std::vector<uint64_t> PlainRegionHashes(const zvfix::Bytes& image, uint16_t chipType,
                                               std::span<const uint32_t> plain) {
    const std::vector<zvsim_region> layout = zvsim_default_layout(chipType);
    std::vector<uint64_t> hashes;
    for (SD_UINT16 i = 0; i + 1 < ILT_Header_GetNumOfRegionEntries(image); ++i) {
        const auto r = ILT_Region_GetRegionByIndex(image, i);
        if (!r || std::find(plain.begin(), plain.end(), r->regionType) == plain.end()) continue;
        const auto region = std::find_if(layout.begin(), layout.end(),
                                         [&r](const zvsim_region& l) { return l.code == r->regionType; });
        const auto component = ILT_Region_GetComponent(image, *r);
        if (region == layout.end() || !component || component->size() > region->size) {
            ADD_FAILURE() << "entry " << i << " fits no region";
            continue;
        }
        zvfix::Bytes bytes(region->size, 0xFF);
        std::copy(component->begin(), component->end(), bytes.begin());
        hashes.push_back(zvfix::JournalHash64(bytes));
    }
    return hashes;
}

}  // namespace zvtest
