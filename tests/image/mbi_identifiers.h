// The identity record the validation and combination take for a test adapter.
#pragma once

#include <cstring>

#include "fixtures/multiboot_image_builder.h"
#include "image/card_types.h"

namespace zvtest {

inline sHbaIdentifiers MbiIds(const zvfix::MbiAdapter& a, uint16_t chipRev = 0) {
    sHbaIdentifiers ids{};
    ids.vendorId = a.ssvid;
    ids.deviceId = a.ssdid;
    ids.deviceISP = a.deviceId;
    ids.chipRev = chipRev;
    std::strcpy(ids.acHBAModel, "KV2692");
    return ids;
}

}  // namespace zvtest
