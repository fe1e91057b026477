// SCSI answers as discovery decodes them: sense data of any length, capacity
// answers, LUN lists whose length field lies and identifier offsets past the
// answer are decoded inside their buffers into values in range.
//
// Input: a byte of LUN limit, a byte of identifier offset, four bytes of
// management status, then the sense data, REPORT LUNS answer, READ CAPACITY
// answer and identification page, separated.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/scsi_probe.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    const size_t limit = data[0] == 0xFF ? std::numeric_limits<size_t>::max() : data[0];
    const size_t offset = data[1];
    const SD_UINT32 status = data[2] | data[3] << 8 | data[4] << 16 | static_cast<SD_UINT32>(data[5]) << 24;
    const std::vector<zvfuzz::Bytes> pieces = zvfuzz::Split(data + 6, size - 6, 4);
    const zvfuzz::Bytes &sense = pieces[0], &luns = pieces[1], &cap = pieces[2], &page = pieces[3];

    const ScsiSense s = ScsiDecodeSense(sense);
    ZVFUZZ_CHECK(s.key <= 0x0F);
    for (SD_UINT32 st : {status, static_cast<SD_UINT32>(SDERR_SCSI_CHECK_CONDITION)}) {
        ZVFUZZ_CHECK(static_cast<int>(ScsiLunTurAction(st, s)) <= static_cast<int>(TurAction::NotReady));
        ZVFUZZ_CHECK(static_cast<int>(ScsiTargetTurAction(st, s)) <= static_cast<int>(TurAction::NotReady));
    }

    const std::vector<SD_UINT16> got = ScsiParseReportLuns(luns, limit);
    ZVFUZZ_CHECK(got.size() <= limit);
    ZVFUZZ_CHECK(got.empty() || got.size() * 8 + 8 <= luns.size());
    for (SD_UINT16 n : got) ZVFUZZ_CHECK((n & 0x4000) == 0);

    ZVFUZZ_CHECK(ScsiParseReadCapacity16(cap).has_value() == (cap.size() >= 12));
    ZVFUZZ_CHECK(ScsiParseReadCapacity10(cap).has_value() == (cap.size() >= 8));

    if (const auto id = ScsiParseDeviceIdPage(page, offset)) {
        ZVFUZZ_CHECK(id->size() <= 32);
        ZVFUZZ_CHECK(offset + id->size() <= page.size());
        ZVFUZZ_CHECK(std::equal(id->begin(), id->end(), page.begin() + static_cast<long>(offset)));
    }
    return 0;
}
