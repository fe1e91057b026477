// Decoding of SCSI answers: sense data, the readiness tables of targets and
// LUNs, READ CAPACITY, REPORT LUNS and the device-identification page.
#include "core/scsi_probe.h"

#include <gtest/gtest.h>

#include <array>
#include <span>
#include <tuple>
#include <utility>
#include <vector>

namespace {

std::array<SD_UINT8, 80> FixedSense(SD_UINT8 keyByte, SD_UINT8 asc, SD_UINT8 ascq) {
    std::array<SD_UINT8, 80> s{};
    s[0] = 0x70, s[2] = keyByte, s[7] = 10, s[12] = asc, s[13] = ascq;
    return s;
}

// (key, ASC, ASCQ) of the decoded sense.
std::tuple<int, int, int> Decoded(std::span<const SD_UINT8> sense) {
    const ScsiSense s = ScsiDecodeSense(sense);
    return {s.key, s.asc, s.ascq};
}

TEST(ScsiSense, FixedDescriptorAndShortFormats) {
    // FILEMARK/EOM/ILI bits above the key must not hide a unit attention.
    EXPECT_EQ(Decoded(FixedSense(0xE6, 0x29, 0x01)), std::tuple(6, 0x29, 0x01));

    std::array<SD_UINT8, 80> d{0x72, 0x02, 0x04, 0x00};
    d[12] = 0x3A;  // would be read as ASC by a fixed-format reader
    EXPECT_EQ(Decoded(d), std::tuple(2, 0x04, 0x00));
    d[0] = 0xF3;  // deferred error, valid bit set
    EXPECT_EQ(ScsiDecodeSense(d).key, 2);

    // Short sense reads as zeros.
    EXPECT_EQ(Decoded(std::array<SD_UINT8, 3>{0x70, 0x00, 0x06}), std::tuple(6, 0, 0));
    EXPECT_EQ(ScsiDecodeSense({}).key, 0);
}

ScsiSense Sense(SD_UINT8 key, SD_UINT8 asc, SD_UINT8 ascq = 0) { return ScsiSense{key, asc, ascq}; }
constexpr SD_UINT32 kCheck = SDERR_SCSI_CHECK_CONDITION;

// Targets and LUNs read the same answers differently.
TEST(ScsiReadiness, TargetAndLunTables) {
    using A = TurAction;
    const struct {
        SD_UINT32 status;
        ScsiSense sense;
        TurAction target, lun;
    } rows[] = {
        {SDERR_SUCCESS, {}, A::Ready, A::Ready},
        {SDERR_SCSI_RESERVATION_CONFLICT, {}, A::Ready, A::Ready},
        {SDERR_BUSY, {}, A::RetrySleep, A::RetrySleep},
        {kCheck, Sense(6, 0x29), A::RetrySleep, A::RetryNow},   // unit attention: a LUN is asked again at once
        {kCheck, Sense(2, 0x04), A::Ready, A::Passive},         // "cause not reportable": a passive path
        {kCheck, Sense(5, 0x04), A::Ready, A::Passive},
        {kCheck, Sense(2, 0x20), A::NextLun, A::NotReady},
        {kCheck, Sense(5, 0x25, 0), A::Ready, A::NotReady},
        {kCheck, Sense(0, 0, 0), A::Ready, A::NotReady},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(ScsiTargetTurAction(r.status, r.sense), r.target) << r.status << " " << int(r.sense.key);
        EXPECT_EQ(ScsiLunTurAction(r.status, r.sense), r.lun) << r.status << " " << int(r.sense.key);
    }
    EXPECT_EQ(ScsiTargetTurAction(kCheck, Sense(2, 0x68)), A::NextLun);
    EXPECT_EQ(ScsiTargetTurAction(kCheck, Sense(5, 0x25, 1)), A::NotReady);
    EXPECT_EQ(ScsiTargetTurAction(kCheck, Sense(5, 0x20, 0)), A::Ready);
    EXPECT_EQ(ScsiTargetTurAction(kCheck, Sense(3, 0x3A)), A::Ready);
    EXPECT_EQ(ScsiTargetTurAction(kCheck, Sense(3, 0x11)), A::NotReady);
    EXPECT_EQ(ScsiTargetTurAction(SDERR_UNKNOWN, {}), A::NotReady);
    EXPECT_EQ(ScsiLunTurAction(kCheck, Sense(4, 0x3A)), A::Ready);
}

TEST(ScsiAnswers, ReadCapacityIsBigEndian) {
    const std::array<SD_UINT8, 16> rc10{0x00, 0x1F, 0xFF, 0xFF, 0x00, 0x00, 0x02, 0x00};
    auto c = ScsiParseReadCapacity10(rc10);
    ASSERT_TRUE(c);
    EXPECT_EQ(std::pair(c->lastLba, c->blockLength), std::pair(SD_UINT64{0x1FFFFF}, SD_UINT32{512}));

    const std::array<SD_UINT8, 32> rc16{0x00, 0x00, 0x00, 0x01, 0x23, 0x45, 0x67, 0x89, 0x00, 0x00, 0x10, 0x00};
    c = ScsiParseReadCapacity16(rc16);
    ASSERT_TRUE(c);
    EXPECT_EQ(std::pair(c->lastLba, c->blockLength), std::pair(SD_UINT64{0x123456789}, SD_UINT32{4096}));

    EXPECT_FALSE(ScsiParseReadCapacity10(std::span<const SD_UINT8>(rc10.data(), 7)));
    EXPECT_FALSE(ScsiParseReadCapacity16(std::span<const SD_UINT8>(rc16.data(), 11)));
}

std::vector<SD_UINT8> ReportLuns(SD_UINT32 declaredBytes, std::initializer_list<SD_UINT16> luns) {
    std::vector<SD_UINT8> b(8, 0);
    for (int i = 0; i < 4; ++i) b[i] = static_cast<SD_UINT8>(declaredBytes >> (24 - 8 * i));
    for (SD_UINT16 l : luns) {
        std::array<SD_UINT8, 8> e{static_cast<SD_UINT8>(l >> 8), static_cast<SD_UINT8>(l & 0xFF)};
        b.insert(b.end(), e.begin(), e.end());
    }
    return b;
}

TEST(ScsiAnswers, ReportLunsListIsBoundedByBufferAndLimit) {
    // Flat-space addressing (bit 14) is dropped from the number.
    auto b = ReportLuns(24, {0x0000, 0x4001, 0x0105});
    EXPECT_EQ(ScsiParseReportLuns(b, 256), (std::vector<SD_UINT16>{0, 1, 0x105}));
    // Cut at the driver's LUN limit.
    EXPECT_EQ(ScsiParseReportLuns(b, 2), (std::vector<SD_UINT16>{0, 1}));
    // A list length larger than what arrived is bounded by the buffer.
    b = ReportLuns(0xFFFFFFF8, {3, 4});
    EXPECT_EQ(ScsiParseReportLuns(b, 256), (std::vector<SD_UINT16>{3, 4}));
    // A partial entry at the end is not read.
    b.insert(b.end(), {0x00, 0x09});
    EXPECT_EQ(ScsiParseReportLuns(b, 256).size(), 2u);
    // A shorter declared length wins.
    b = ReportLuns(8, {7, 8, 9});
    EXPECT_EQ(ScsiParseReportLuns(b, 256), (std::vector<SD_UINT16>{7}));
    // Fewer than 8 bytes: no LUNs.
    EXPECT_TRUE(ScsiParseReportLuns(std::vector<SD_UINT8>{0, 0, 0, 8}, 256).empty());
}

TEST(ScsiAnswers, DeviceIdentificationPage) {
    std::array<SD_UINT8, 64> page{};
    page[1] = 0x83;
    page[7] = 16;
    for (int i = 0; i < 16; ++i) page[8 + i] = static_cast<SD_UINT8>(0xA0 + i);
    auto id = ScsiParseDeviceIdPage(page, 8);
    ASSERT_TRUE(id);
    EXPECT_EQ(*id, std::vector<SD_UINT8>(page.begin() + 8, page.begin() + 24));

    page[7] = 200;  // longer than a WWULN holds
    id = ScsiParseDeviceIdPage(page, 8);
    ASSERT_TRUE(id);
    EXPECT_EQ(id->size(), 32u);

    // Identifier running past the answer.
    EXPECT_FALSE(ScsiParseDeviceIdPage(std::span<const SD_UINT8>(page.data(), 20), 8));
    EXPECT_FALSE(ScsiParseDeviceIdPage(page, 0));
    page[1] = 0x80;
    EXPECT_FALSE(ScsiParseDeviceIdPage(page, 8));
}

TEST(ScsiAnswers, LunSizeAndPeripheralNames) {
    EXPECT_EQ(CoreCalcLunSize(2097152, 512), 1024u);
    EXPECT_EQ(CoreCalcLunSize(10, 1048576), 10u);
    EXPECT_EQ(CoreCalcLunSize(10, 0), 0u);
    EXPECT_EQ(CoreCalcLunSize(0x100000000ull, 4096), 0x1000000u);
    EXPECT_EQ(CoreCalcLunSize(16, 131072), 2u);   // 128 KiB blocks
    EXPECT_EQ(CoreCalcLunSize(4032, 520), 1u);    // 2,096,640 bytes: a size that does not divide 1 MiB
    EXPECT_EQ(CoreCalcLunSize(~0ull, 1u << 30), 0xFFFFFFFFu);
    EXPECT_STREQ(GetSCSIPeripheralType(0), "Direct Access");
    EXPECT_STREQ(GetSCSIPeripheralType(0x11), "Object Based");
    EXPECT_STREQ(GetSCSIPeripheralType(0x0A), "**Unknown**");
    EXPECT_STREQ(GetSCSIPeripheralType(999), "**Unknown**");
}

}  // namespace
