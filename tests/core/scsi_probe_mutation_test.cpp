// Damaged SCSI answers: short sense data, capacity answers of any length,
// LUN lists whose length field lies and identifier offsets past the answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/scsi_probe.h"
#include "support/mutate.h"

namespace {

using Bytes = std::vector<SD_UINT8>;

TEST(ScsiProbeMutation, DamagedAnswersAreDecodedInsideTheirBuffers) {
    const Bytes sense = {0x70, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x29, 0x00, 0, 0, 0, 0};
    const Bytes cap16 = {0, 0, 0, 0, 0, 0x0F, 0xFF, 0xFF, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const Bytes luns = {0, 0, 0, 24, 0,    0, 0, 0, 0x40, 0x00, 0, 0, 0, 0, 0, 0,
                        0x40, 0x01, 0, 0, 0, 0, 0, 0, 0x40, 0x47, 0, 0, 0, 0, 0, 0};
    const Bytes page83 = {0, 0x83, 0, 12, 0x01, 0x03, 0, 8, 0x50, 0x06, 0x01, 0x60, 0xAA, 0xBB, 0xCC, 0xDD};
    zvtest::Mutator m(9009);
    for (int i = 0; i < 1500; ++i) {
        const ScsiSense s = ScsiDecodeSense(m.Bytes(sense));
        ASSERT_LE(s.key, 0x0F);
        const TurAction a = ScsiLunTurAction(SDERR_SCSI_CHECK_CONDITION, s);
        ASSERT_LE(static_cast<int>(a), static_cast<int>(TurAction::NotReady));

        const Bytes c = m.Bytes(cap16);
        ASSERT_EQ(ScsiParseReadCapacity16(c).has_value(), c.size() >= 12);
        ASSERT_EQ(ScsiParseReadCapacity10(c).has_value(), c.size() >= 8);

        const Bytes l = m.Bytes(luns);
        const size_t limit = m.Below(5);
        const std::vector<SD_UINT16> got = ScsiParseReportLuns(l, limit);
        ASSERT_LE(got.size(), limit);
        ASSERT_LE(got.size() * 8 + 8, std::max<size_t>(l.size(), 8));
        for (SD_UINT16 n : got) ASSERT_EQ(n & 0x4000, 0);

        const Bytes p = m.Bytes(page83);
        const size_t offset = m.Below(p.size() + 4);
        if (const auto id = ScsiParseDeviceIdPage(p, offset)) {
            ASSERT_LE(id->size(), 32u);
            ASSERT_LE(offset + id->size(), p.size());
        }
    }
    // The undamaged answers read as written.
    EXPECT_EQ(ScsiParseReportLuns(luns, 256), (std::vector<SD_UINT16>{0, 1, 0x47}));
    EXPECT_EQ(ScsiParseDeviceIdPage(page83, 8), (Bytes{0x50, 0x06, 0x01, 0x60, 0xAA, 0xBB, 0xCC, 0xDD}));
    EXPECT_EQ(ScsiParseReadCapacity16(cap16)->lastLba, 0x0FFFFFu);
}

}  // namespace
