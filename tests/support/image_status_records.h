// Image-status records as the flash holds them, for tests of the record logic.
#pragma once

#include <algorithm>
#include <array>

#include "core/image_status.h"
#include "fixtures/host_builder.h"

namespace zvtest {

using Record = std::array<SD_UINT8, 16>;

// A valid record of format 1.0 (that of a record rebuilt with no sound
// partner to take after), as the fixture builders lay it out.
inline Record make_v10_record(SD_UINT8 mask, SD_UINT16 generation, SD_UINT32 signature, SD_UINT8 bitmap = 0,
                              SD_UINT8 tool = 0) {
    const zvfix::Bytes built = zvfix::MakeImageStatusRecord(mask, generation, signature, bitmap, tool);
    Record r{};
    std::copy(built.begin(), built.end(), r.begin());
    return r;
}

// A valid record of format 2.1, its checksum from the fixture builders rather
// than from the code under test.
inline Record make_record(SD_UINT8 mask, SD_UINT16 generation, SD_UINT32 signature, SD_UINT8 bitmap = 0,
                          SD_UINT8 tool = 0) {
    Record r = make_v10_record(mask, generation, signature, bitmap, tool);
    r[3] = 2;
    r[4] = 1;
    const SD_UINT32 sum = zvfix::ImageStatusChecksum(r);
    for (int i = 0; i < 4; ++i) r[8 + i] = static_cast<SD_UINT8>(sum >> (8 * i));
    return r;
}

inline Record erased() {
    Record r;
    r.fill(0xFF);
    return r;
}

// The record with a checksum that no longer holds (its signature intact).
inline Record bad_checksum(Record r) {
    r[8] ^= 0x01;
    return r;
}

}  // namespace zvtest
