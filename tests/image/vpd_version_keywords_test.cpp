// The VPD version keywords rewritten on a simulated adapter: the exact bytes
// left in the VPD region, the refusals that leave it untouched, the restore
// after a bad read-back, and the FC VPD step over the regions that passed.
#include "image/vpd_version_keywords.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "core/oss_services.h"
#include "fixtures/host_builder.h"
#include "frontend/output.h"
#include "frontend/vpd.h"
#include "image/fc_vpd_update.h"
#include "support/output_host_test.h"

namespace {

using zvfix::Bytes;

constexpr uint32_t kFcVpd0 = 0x14, kFcVpd1 = 0x16, kFcVpd2 = 0xD4, kFcVpd3 = 0xD6;
constexpr uint32_t kVpdSize = 0x200;
const std::string kSerial = "ZV0000001";

MultibootVersions Versions(uint8_t major, uint8_t minor, uint8_t sub) {
    MultibootVersions v{};
    v.NewMultibootVersionMajor = major;
    v.NewMultibootVersionMinor = minor;
    v.NewMultibootVersionSubMinor = sub;
    v.NewRiscFwVersionMajor = 123;
    v.NewRiscFwVersionMinor = 4;
    v.NewRiscFwVersionSubMinor = 5;
    v.NewEfiVersionMajor = 7;
    v.NewEfiVersionMinor = 21;
    return v;
}

// A VPD whose extra keywords are `extra`, as the region holds it.
Bytes Vpd(std::vector<std::pair<std::string, std::string>> extra) {
    zvfix::VpdSpec spec;
    spec.extra = std::move(extra);
    return zvfix::MakeVpd(spec, kSerial, kVpdSize);
}

std::string Z(const char* text, size_t length) {   // text zero-padded to the keyword's length
    std::string s(text);
    s.resize(length, '\0');
    return s;
}

class VpdKeywords : public zvtest::OutputHostTest {
protected:
    // One chip-type-25 adapter (two ports) whose FC VPD 0 holds `vpd`.
    SDMDevice* Adapter(const Bytes& vpd, std::vector<zvfix::FaultSpec> faults = {}) {
        zvfix::HostBuilder host;
        auto& a = host.AddChip25TwoPort();
        a.SetRegion(kFcVpd0, vpd);
        a.faults = std::move(faults);
        const auto devs = Discover(host);
        return devs.empty() ? nullptr : devs[0];
    }
    Bytes Region(uint32_t code) { return zvfix::ReadRegion(hostDir_, 0, code); }
};

TEST_F(VpdKeywords, MultibootVersionGoesIntoRmAndVvWithAFreshChecksum) {
    SDMDevice* dev = Adapter(Vpd({{"V0", "Gen6 FC"}, {"RM", "00000000"}, {"V9", "01.02.03"}, {"VV", "FFV01.02.03"}}));
    ASSERT_NE(dev, nullptr);
    const Bytes neighbour = Region(kFcVpd1);
    const MultibootVersions v = Versions(5, 3, 12);
    EXPECT_EQ(UpdateAndRestoreTorviFcVPD(dev, &v, kVpdSize, kFcVpd0, 1), 0);

    // Every other byte stays; the texts fill their stored lengths, zero-padded.
    EXPECT_EQ(Region(kFcVpd0), Vpd({{"V0", "Gen6 FC"}, {"RM", Z("050312", 8)}, {"V9", "01.02.03"},
                                    {"VV", "FFV05.03.12"}}));
    EXPECT_EQ(verifyVpdChecksum(Region(kFcVpd0)), 0);
    EXPECT_EQ(Region(kFcVpd1), neighbour);
}

TEST_F(VpdKeywords, WithoutRmTheVersionGoesIntoV9AndAMissingVvIsPassedOver) {
    SDMDevice* dev = Adapter(Vpd({{"V3", "09.08.01"}, {"V9", "01.02.03"}}));
    ASSERT_NE(dev, nullptr);
    const MultibootVersions v = Versions(6, 10, 2);
    std::vector<SD_UINT8> copy(kVpdSize);
    EXPECT_EQ(UpdateK7RVpdRegion(dev, &v, kFcVpd0, kVpdSize, copy, 0), 0);
    // Chip type 25 carries no component versions: "V3" stays as it was.
    const Bytes expected = Vpd({{"V3", "09.08.01"}, {"V9", Z("061002", 8)}});
    EXPECT_EQ(Region(kFcVpd0), expected);
    EXPECT_EQ(copy, expected);   // the caller's copy is the VPD written
}

TEST_F(VpdKeywords, OlderChipsAlsoGetTheComponentVersions) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25(0x2532, 1);   // an 8 Gb chip (type 12)
    a.chipType = 12;
    a.SetRegion(kFcVpd0, Vpd({{"V1", "00.00"}, {"V3", "00.00.00.00"}, {"RM", "000000"}}));
    const auto devs = Discover(host);
    ASSERT_EQ(devs.size(), 1u);
    const MultibootVersions v = Versions(1, 2, 3);
    EXPECT_EQ(UpdateAndRestoreTorviFcVPD(devs[0], &v, kVpdSize, kFcVpd0, 0), 0);
    // A firmware major of 100 and above takes three digits per part.
    EXPECT_EQ(Region(kFcVpd0), Vpd({{"V1", "07.21"}, {"V3", "123.004.005"}, {"RM", "010203"}}));
}

TEST_F(VpdKeywords, BlankVpdIsNeverWritten) {
    SDMDevice* dev = Adapter(Bytes(kVpdSize, 0xFF));
    ASSERT_NE(dev, nullptr);
    const MultibootVersions v = Versions(5, 3, 12);
    EXPECT_EQ(UpdateK7RVpdRegion(dev, &v, kFcVpd0, kVpdSize, {}, 1), VPD_UPDATE_BLANK);
    EXPECT_EQ(UpdateAndRestoreTorviFcVPD(dev, &v, kVpdSize, kFcVpd0, 1), 0);   // an FC VPD may be blank
    EXPECT_EQ(CheckForValidVpdRegion(dev, kFcVpd0, kVpdSize), VPD_UPDATE_BLANK);
    EXPECT_EQ(Region(kFcVpd0), Bytes(kVpdSize, 0xFF));
}

// A VPD the adapter would not read (no tags; one changed byte under a good
// walk; a write cut short, whose identifier's "x" still passes for an end
// tag) is never given new keywords and a new checksum over its damage.
TEST_F(VpdKeywords, TaglessOrDamagedVpdOrWrongArgumentsAreRefused) {
    const MultibootVersions v = Versions(5, 3, 12);
    Bytes tagless(kVpdSize, 0);
    std::ranges::copy(std::initializer_list<uint8_t>{0x82, 2, 0, 'K'}, tagless.begin());
    Bytes changed = Vpd({{"RM", "000000"}}), torn = changed;
    *std::search(changed.begin(), changed.end(), kSerial.begin(), kSerial.end()) ^= 1;
    std::fill(torn.begin() + 40, torn.end(), uint8_t{0xFF});
    SDMDevice* other = nullptr;
    for (const Bytes& vpd : {changed, torn, tagless}) {
        other = Adapter(vpd);
        ASSERT_NE(other, nullptr);
        EXPECT_EQ(CheckForValidVpdRegion(other, kFcVpd0, kVpdSize), VPD_UPDATE_CORRUPTED);
        EXPECT_EQ(UpdateAndRestoreTorviFcVPD(other, &v, kVpdSize, kFcVpd0, 1), VPD_UPDATE_CORRUPTED);
        EXPECT_EQ(Region(kFcVpd0), vpd);
    }

    EXPECT_EQ(UpdateK7RVpdRegion(other, &v, 0x15, kVpdSize, {}, 1), VPD_UPDATE_BAD_REGION);   // not a VPD region
    EXPECT_EQ(UpdateK7RVpdRegion(other, &v, kFcVpd0, 0, {}, 1), VPD_UPDATE_BAD_REGION);
    EXPECT_EQ(UpdateK7RVpdRegion(other, nullptr, kFcVpd0, kVpdSize, {}, 1), VPD_UPDATE_NO_DEVICE);
}

TEST_F(VpdKeywords, UnreadableVpdIsReportedNotTakenForBlank) {
    const Bytes vpd = Vpd({{"RM", "000000"}});
    SDMDevice* dev = Adapter(vpd, {zvfix::FaultSpec::Fail("flash_read", 0x20000088).OnRegion(kFcVpd0)});
    ASSERT_NE(dev, nullptr);
    const MultibootVersions v = Versions(5, 3, 12);
    EXPECT_EQ(UpdateAndRestoreTorviFcVPD(dev, &v, kVpdSize, kFcVpd0, 1), VPD_UPDATE_BAD_REGION);
    EXPECT_EQ(CheckForValidVpdRegion(dev, kFcVpd0, kVpdSize), VPD_UPDATE_BAD_REGION);
    EXPECT_EQ(Region(kFcVpd0), vpd);
}

TEST_F(VpdKeywords, BadReadBackPutsTheOriginalBack) {
    zvfix::FaultSpec corrupt = zvfix::FaultSpec::CorruptWrite().OnRegion(kFcVpd0);
    corrupt.count = 1;
    const Bytes vpd = Vpd({{"RM", "000000"}, {"VV", "FFV01.02.03"}});
    SDMDevice* dev = Adapter(vpd, {corrupt});
    ASSERT_NE(dev, nullptr);
    const MultibootVersions v = Versions(5, 3, 12);
    // 161 says the write went through and read back wrong; the region holds its old VPD again.
    EXPECT_EQ(UpdateK7RVpdRegion(dev, &v, kFcVpd0, kVpdSize, {}, 1), VPD_UPDATE_CORRUPTED);
    EXPECT_EQ(Region(kFcVpd0), vpd);
}

TEST_F(VpdKeywords, NicVpdKeepsBlankAsItsOwnStatus) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    uint32_t end = 0;
    for (const auto& r : a.layout) end = std::max(end, r.offset + r.size);
    a.layout.push_back({VPD_REGION_NIC, end, 0x400, false});
    const auto devs = Discover(host);
    ASSERT_FALSE(devs.empty());
    const MultibootVersions v = Versions(5, 3, 12);
    EXPECT_EQ(UpdateAndRestoreK7RVPD(devs[0], &v, 0x400, 1), VPD_UPDATE_BLANK);
}

TEST_F(VpdKeywords, FcVpdStepUpdatesExactlyTheRegionsThatPassed) {
    const Bytes good = Vpd({{"RM", "000000"}});
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.SetRegion(kFcVpd0, Bytes(kVpdSize, 0xFF));   // blank: skipped
    a.SetRegion(kFcVpd1, good);
    a.SetRegion(kFcVpd2, Bytes(kVpdSize, 0xFF));
    a.SetRegion(kFcVpd3, good);
    const auto devs = Discover(host);
    ASSERT_FALSE(devs.empty());
    SDMOptRomLayoutCopy layout;
    SD_UINT32 size = 0;
    ASSERT_EQ(GetOptionRomRegionLayout(devs[0], &layout, 0xFF, &size), 0u);
    ASSERT_EQ(SetOutOutFile(), 0);
    std::remove(GetOutPutFile());

    const SD_UINT32 order[] = {kFcVpd0, kFcVpd1, kFcVpd2, kFcVpd3};
    SD_INT32 vpdStatus = -1;
    const std::vector<FcVpdRegion> passed = CheckFcVpdRegions(devs[0], layout, order, &vpdStatus);
    ASSERT_EQ(passed.size(), 2u);
    EXPECT_EQ(vpdStatus, 0);   // the last check
    const MultibootVersions v = Versions(5, 3, 12);
    EXPECT_EQ(UpdateFcVpdRegions(devs[0], &v, passed, 1, vpdStatus), 0);

    const Bytes updated = Vpd({{"RM", "050312"}}), blank(kVpdSize, 0xFF);
    EXPECT_EQ((std::vector{Region(kFcVpd0), Region(kFcVpd1), Region(kFcVpd2), Region(kFcVpd3)}),
              (std::vector{blank, updated, blank, updated}));
    EXPECT_EQ(OutputFile(),
              "Updating Adapter FC VPD 1... Success\nVerifying Adapter FC VPD 1...Success\n"
              "Updating Adapter FC VPD 3... Success\nVerifying Adapter FC VPD 3...Success\n");
}

TEST_F(VpdKeywords, FcVpdStepKeepsAnEarlierFailure) {
    const Bytes good = Vpd({{"RM", "000000"}});
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.SetRegion(kFcVpd0, good);
    a.SetRegion(kFcVpd1, good);
    a.faults = {zvfix::FaultSpec::Fail("flash_write", 0x20000088).OnRegion(kFcVpd0)};
    const auto devs = Discover(host);
    ASSERT_FALSE(devs.empty());
    const MultibootVersions v = Versions(5, 3, 12);
    const FcVpdRegion regions[] = {{kFcVpd0, kVpdSize, 0}, {kFcVpd1, kVpdSize, 1}};
    EXPECT_EQ(UpdateFcVpdRegions(devs[0], &v, regions, 1, 0), FC_VPD_UPDATE_FAILED);
    EXPECT_EQ(Region(kFcVpd0), good);
    EXPECT_EQ(Region(kFcVpd1), Vpd({{"RM", "050312"}}));
    EXPECT_EQ(UpdateFcVpdRegions(devs[0], &v, {}, 1, 166), 166);   // nothing passed: the check's status stands
}

// Before an update: a VPD cut short is rebuilt from the function's other copy
// with the versions given, a blank one too when that copy holds a VPD, but
// never from a copy whose bytes disagree with what survived; one region that
// cannot be rebuilt refuses the adapter before any region is written.
TEST_F(VpdKeywords, RepairRebuildsADamagedVpdOnlyFromItsAgreeingOtherCopy) {
    const Bytes old = Vpd({{"V9", "01.02.03"}});
    const Bytes stamped = Vpd({{"V9", Z("060501", 8)}});   // what an update to 6.05.01 writes
    Bytes cut = stamped;                                    // that write cut inside its checksum item
    std::fill(cut.begin() + 90, cut.end(), uint8_t{0xFF});
    zvfix::VpdSpec otherSpec;
    otherSpec.extra = {{"V9", "01.02.03"}};
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.SetRegion(kFcVpd0, cut);
    a.SetRegion(kFcVpd1, Bytes(kVpdSize, 0xFF));
    a.SetRegion(kFcVpd2, old);
    a.SetRegion(kFcVpd3, cut);
    for (uint32_t code : {0x10Cu, 0x10Eu, 0x110u}) a.SetRegion(code, old);
    a.SetRegion(0x112, zvfix::MakeVpd(otherSpec, "ZV0000002", kVpdSize));
    const auto devs = Discover(host);
    ASSERT_FALSE(devs.empty());
    ASSERT_EQ(SetOutOutFile(), 0);

    const MultibootVersions v = Versions(6, 5, 1);
    FcVpdRepairPlan plan;
    EXPECT_EQ(PlanFcVpdRepair(devs[0], &plan), kFcVpd3);
    EXPECT_TRUE(plan.rebuilds.empty());
    EXPECT_EQ(RepairFcVpdRegions(devs[0], &v, 1), kFcVpd3);
    EXPECT_EQ((std::vector{Region(kFcVpd0), Region(kFcVpd1), Region(kFcVpd2), Region(kFcVpd3)}),
              (std::vector{cut, Bytes(kVpdSize, 0xFF), old, cut}));
    const std::string damaged =
        "HBA KV2692 (instance 0): FC VPD region 0xD6 is damaged and the adapter holds no intact copy of it!\n";
    EXPECT_EQ(OutputFile(), damaged + damaged);
}

// Region 0x14 and its other copy 0x10C, one row each: what the repair
// leaves in 0x14, its result (0 or the region left damaged) and its lines.
TEST_F(VpdKeywords, RepairRowsOfOneFunction) {
    const Bytes old = Vpd({{"V9", "01.02.03"}});
    const Bytes stamped = Vpd({{"V9", Z("060501", 8)}});   // what an update to 6.05.01 writes
    const Bytes blank(kVpdSize, 0xFF);
    // The checksum byte: the first value byte of "RV".
    size_t checksum = 0;
    for (size_t i = 0; i + 3 < stamped.size() && checksum == 0; ++i)
        if (stamped[i] == 'R' && stamped[i + 1] == 'V' && stamped[i + 2] == 2) checksum = i + 3;
    ASSERT_NE(checksum, 0u);
    ASSERT_NE(stamped[checksum], old[checksum]) << "the two copies must differ in their checksums";
    Bytes cutAfterChecksum = stamped;   // the update's write of 0x14 cut just after the checksum byte
    std::fill(cutAfterChecksum.begin() + static_cast<long>(checksum) + 1, cutAfterChecksum.end(), uint8_t{0xFF});
    Bytes cutEarly = stamped;
    std::fill(cutEarly.begin() + 70, cutEarly.end(), uint8_t{0xFF});
    const std::string rebuilt = "Rebuilding Adapter FC VPD region 0x14 from region 0x10C... ";

    struct Row {
        const char* name;
        Bytes primary, other;
        uint8_t activeVpdNvram;
        bool failWrite;
        uint32_t result;
        Bytes after;
        std::string lines;
    };
    const Row rows[] = {
        {"cut just after the checksum byte", cutAfterChecksum, old, 1, false, 0, stamped, rebuilt + "Success\n"},
        {"blank, the adapter reads it", blank, old, 1, false, 0, stamped, rebuilt + "Success\n"},
        {"blank, the adapter reads the other copy", blank, old, 2, false, 0, blank, ""},
        {"both copies blank", blank, blank, 1, false, 0, blank, ""},
        {"the rebuild's write fails", cutEarly, old, 1, true, kFcVpd0, cutEarly, rebuilt + "Failed\n"},
        {"damaged, the other copy blank", cutEarly, blank, 1, false, kFcVpd0, cutEarly,
         "HBA KV2692 (instance 0): FC VPD region 0x14 is damaged and the adapter holds no intact copy of it!\n"},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // A host of its own per row: the platform reads a host's faults and
        // running state once.
        RemoveAllDevicesFromDeviceList();
        hostDir_ = dir_ + "/host" + std::to_string(n++);
        zvfix::HostBuilder host;
        auto& a = host.AddChip25TwoPort();
        a.activeVpdNvram = row.activeVpdNvram;
        a.SetRegion(kFcVpd0, row.primary);
        a.SetRegion(0x10C, row.other);
        if (row.failWrite) a.faults = {zvfix::FaultSpec::Fail("flash_write", 5).OnRegion(kFcVpd0)};
        const auto devs = Discover(host);
        ASSERT_FALSE(devs.empty());
        ASSERT_EQ(SetOutOutFile(), 0);
        std::remove(GetOutPutFile());

        const MultibootVersions v = Versions(6, 5, 1);
        EXPECT_EQ(RepairFcVpdRegions(devs[0], &v, 1), row.result);
        EXPECT_EQ(Region(kFcVpd0), row.after);
        EXPECT_EQ(Region(0x10C), row.other);
        EXPECT_EQ(OutputFile(), row.lines);
    }
}

}  // namespace
