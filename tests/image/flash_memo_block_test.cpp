// The flash memo block: exact bytes of a rewritten block, and reading it from
// the region the adapter's chip type and running image set choose.
#include "image/flash_memo_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <tuple>

#include "core/device_discovery.h"
#include "core/oss_services.h"
#include "fixtures/board_template_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/memo_block_builder.h"
#include "frontend/output.h"
#include "support/failing_alloc.h"
#include "support/fake_device.h"
#include "support/output_host_test.h"

namespace {

MultibootVersions NewVersions() {
    MultibootVersions v{};
    v.NewMultibootVersionMajor = 6;
    v.NewMultibootVersionMinor = 10;
    v.NewMultibootVersionSubMinor = 12;
    v.NewFFVersionMajor = 9;
    v.NewFFVersionMinor = 8;
    v.NewFFVrsionSubBuild = 7;
    v.NewFFVrsionBuild = 5;
    v.ImageBuildYear = 2024;
    v.ImageBuildMonth = 3;
    v.ImageBuildDay = 7;
    return v;
}

// The fixed bytes a freshly written block must carry (the update time aside).
void ExpectFreshBlock(const zvfix::Bytes& region) {
    const std::vector<uint8_t> head{'F', 'M', 'B', 'S', 12, 0, 0, 0, 3, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(region.begin(), region.begin() + 12), head);
    EXPECT_EQ((std::vector<uint8_t>(region.begin() + 16, region.begin() + 24)),
              (std::vector<uint8_t>{9, 8, 7, 5, 6, 10, 12, 0xFF}));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(region.data()) + 24, 12), "20240307TRMB");
    EXPECT_EQ(region[43], 0xFF);
    EXPECT_EQ((std::vector<uint8_t>(region.begin() + 44, region.begin() + 48)), (std::vector<uint8_t>{1, 1, 1, 0}));
    EXPECT_EQ(zvfix::WordSum32(std::span<const uint8_t>(region).first(48)), 0u);
    EXPECT_EQ(std::count(region.begin() + 48, region.end(), 0xFF), static_cast<long>(region.size() - 48));
}

TEST(FlashMemoBlockData, DecodeAndEncodeKeepEveryByte) {
    const zvfix::Bytes block = zvfix::MakeMemoBlock({});
    SFlashMemoBlock m{};
    ASSERT_TRUE(FlashMemoBlockDecode(block, &m));
    EXPECT_EQ(std::tie(m.length, m.version, m.mbi_ver.major, m.mbi_ver.sub, m.ffv_ver.build, m.upd_time.year),
              std::tuple(12u, 3u, 1, 3, 7, 2024));
    EXPECT_EQ(std::string(m.bld_time, 8), "20240307");
    zvfix::Bytes again(48, 0);
    ASSERT_TRUE(FlashMemoBlockEncode(m, again));
    EXPECT_EQ(again, block);
    EXPECT_FALSE(FlashMemoBlockDecode(std::span<const SD_UINT8>(block).first(47), &m));
}

TEST(FlashMemoBlockData, ErasedRegionGetsAFreshBlock) {
    SDMDevice dev{};
    zvfix::Bytes region(0x1000, 0xFF);
    const MultibootVersions v = NewVersions();
    ASSERT_EQ(UpdateFlashMemoBlockData(&dev, region, &v), 0);
    ExpectFreshBlock(region);

    EXPECT_EQ(UpdateFlashMemoBlockData(nullptr, region, &v), -1);
    // No memory for the work copy: -1, the buffer as it was.
    const zvfix::Bytes written = region;
    zvtest::FailNextAllocationOf(region.size());
    EXPECT_EQ(UpdateFlashMemoBlockData(&dev, region, &v), -1);
    EXPECT_EQ(region, written);
    zvfix::Bytes tiny(47, 0xFF);
    EXPECT_EQ(UpdateFlashMemoBlockData(&dev, tiny, &v), FLASH_MEMO_NULL_RECORD);
}

TEST(FlashMemoBlockData, ExistingBlockWithBadChecksumIsRewrittenSound) {
    SDMDevice dev{};
    zvfix::Bytes region = zvfix::MakeMemoRegion({.goodChecksum = false}, 0x100);
    region[0x80] = 0x5A;   // bytes after the block belong to nobody else: kept
    EXPECT_EQ(isCorrectFlashMemoBlockSignature(region), 1);
    EXPECT_EQ(VerifyChecksum32Bit(region, 12), 25);
    ASSERT_EQ(UpdateFlashMemoBlockData(&dev, region, nullptr), 0);
    EXPECT_EQ(VerifyChecksum32Bit(region, 12), 0);
    EXPECT_EQ(region[20], 1);   // versions kept without new ones
    EXPECT_EQ(region[0x80], 0x5A);
    EXPECT_EQ(VerifyChecksum32Bit({}, 1), 40);
    EXPECT_EQ(VerifyChecksum32Bit(region, 0), 29);
    EXPECT_EQ(VerifyChecksum32Bit(std::span<const uint8_t>(region).first(44), 12), 29);
}

// A block names a version while any of its major, minor and sub is not
// zero: cleared, only those three and the checksum changed. All three zero
// names none; a region a byte short of a block, or without its signature,
// holds none: both untouched.
TEST(FlashMemoBlockData, ABlockWithAnyVersionPartNotZeroIsClearedOfIt) {
    for (unsigned zeros = 0; zeros < 8; ++zeros) {
        const std::array<uint8_t, 4> mbi{static_cast<uint8_t>(zeros & 1 ? 0 : 6), static_cast<uint8_t>(zeros & 2 ? 0 : 4),
                                         static_cast<uint8_t>(zeros & 4 ? 0 : 2), 0x2A};
        SCOPED_TRACE(testing::Message() << int{mbi[0]} << "." << int{mbi[1]} << "." << int{mbi[2]});
        const zvfix::Bytes found = zvfix::MakeMemoRegionWithTail({.mbi = mbi, .timeReserved = 0x5E}, 0x3C);
        zvfix::Bytes region = found;
        const bool names = zeros != 7;
        EXPECT_EQ(FlashMemoBlockClearVersion(region), names);
        EXPECT_EQ(region, names ? zvfix::MemoRegionNamingNoVersion(found) : found);
    }
    const zvfix::Bytes block = zvfix::MakeMemoBlock({.mbi = {6, 4, 2, 0x2A}});
    zvfix::Bytes exact = block, shorter(block.begin(), block.end() - 1), unsigned_ = block;
    unsigned_[0] = 'X';
    EXPECT_TRUE(FlashMemoBlockClearVersion(exact));
    EXPECT_EQ(exact, zvfix::MemoRegionNamingNoVersion(block));
    for (zvfix::Bytes* none : {&shorter, &unsigned_}) {
        const zvfix::Bytes before = *none;
        EXPECT_FALSE(FlashMemoBlockClearVersion(*none));
        EXPECT_EQ(*none, before);
    }
}

// A local time that is not UTC for the length of a test, so that a block
// stamped with the UTC clock shows.
class LocalTimeZone {
public:
    explicit LocalTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~LocalTimeZone() {
        if (old_) setenv("TZ", old_->c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> old_;
};

// Rewrites the block within one second of the clock and gives the update-time
// bytes that second must leave (year little-endian, month, day, hour, minute,
// second; the reserved byte as `reserved`).
zvfix::Bytes RewriteAndExpectedTime(zvfix::Bytes& region, const MultibootVersions* v, uint8_t reserved) {
    SDMDevice dev{};
    for (int tries = 0; tries < 5; ++tries) {
        const std::time_t before = std::time(nullptr);
        EXPECT_EQ(UpdateFlashMemoBlockData(&dev, region, v), 0);
        const std::time_t after = std::time(nullptr);
        if (after != before) continue;   // the clock ticked during the rewrite
        std::tm t{};
        localtime_r(&after, &t);
        const int year = t.tm_year + 1900;
        return zvfix::Bytes{static_cast<uint8_t>(year), static_cast<uint8_t>(year >> 8),
                            static_cast<uint8_t>(t.tm_mon + 1), static_cast<uint8_t>(t.tm_mday),
                            static_cast<uint8_t>(t.tm_hour), static_cast<uint8_t>(t.tm_min),
                            static_cast<uint8_t>(t.tm_sec), reserved};
    }
    ADD_FAILURE() << "the clock never held still for one rewrite";
    return {};
}

TEST(FlashMemoBlockData, BuildDateAndUpdateTimeAtTheirPlaces) {
    const LocalTimeZone zone("ZVT-5:45");
    // A fresh block: the image's build date as eight digits, the local time
    // of the rewrite, the reserved byte erased.
    MultibootVersions v = NewVersions();
    std::tie(v.ImageBuildYear, v.ImageBuildMonth, v.ImageBuildDay) = std::tuple(1999, 12, 31);
    zvfix::Bytes region(0x100, 0xFF);
    zvfix::Bytes time = RewriteAndExpectedTime(region, &v, 0xFF);
    EXPECT_EQ(std::string(region.begin() + 24, region.begin() + 36), "19991231TRMB");
    EXPECT_EQ(zvfix::Bytes(region.begin() + 36, region.begin() + 44), time);
    EXPECT_EQ(zvfix::WordSum32(std::span<const uint8_t>(region).first(48)), 0u);

    // An existing block rewritten without new versions keeps its build date
    // and reserved byte; its update time is renewed.
    region = zvfix::MakeMemoRegion({.buildDate = "20200229"}, 0x100);
    region[43] = 0x5A;
    time = RewriteAndExpectedTime(region, nullptr, 0x5A);
    EXPECT_EQ(std::string(region.begin() + 24, region.begin() + 32), "20200229");
    EXPECT_EQ(zvfix::Bytes(region.begin() + 36, region.begin() + 44), time);
    EXPECT_EQ(zvfix::WordSum32(std::span<const uint8_t>(region).first(48)), 0u);
}

using MemoOnHost = zvtest::OutputHostTest;

TEST_F(MemoOnHost, ReadFromTheRegionOfTheRunningSet) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.SetRegion(zvfix::kRegionMemo1, zvfix::MakeMemoRegion({.mbi = {6, 2, 1, 0}}));
    auto& b = host.AddChip27();
    b.SetImageStatus(0, 1, 1, 2);   // secondary set runs
    b.SetRegion(zvfix::kRegionMemo1, zvfix::MakeMemoRegion({.mbi = {7, 0, 0, 0}}));
    b.SetRegion(zvfix::kRegionMemo2, zvfix::MakeMemoRegion({.mbi = {7, 1, 9, 0}, .goodChecksum = false}));
    host.AddChip25TwoPort();                         // no block at all
    host.AddChip25(0x1234, 1).chipType = 12;         // an older chip
    const auto devs = Discover(host);
    ASSERT_EQ(devs.size(), 7u);

    SFlashMemoBlock m{};
    ASSERT_EQ(GetAdapterFlashMemoBlock(devs[0], &m), 0);
    EXPECT_EQ(std::tie(m.mbi_ver.major, m.mbi_ver.minor), std::tuple(6, 2));
    ASSERT_EQ(GetAdapterFlashMemoBlock(devs[2], &m), 0);
    EXPECT_EQ(std::tie(m.mbi_ver.minor, m.mbi_ver.sub), std::tuple(1, 9));   // the secondary copy, bad checksum and all
    EXPECT_EQ(GetAdapterFlashMemoBlock(devs[4], &m), FLASH_MEMO_NO_SIGNATURE);
    EXPECT_EQ(GetAdapterFlashMemoBlock(devs[6], &m), FLASH_MEMO_UNSUPPORTED_CHIP);
    EXPECT_EQ(GetAdapterFlashMemoBlock(nullptr, &m), FLASH_MEMO_NO_DEVICE);
    EXPECT_EQ(GetAdapterFlashMemoBlock(devs[0], nullptr), FLASH_MEMO_NULL_RECORD);
}

TEST_F(MemoOnHost, RegionRewriteAndItsFailure) {
    zvfix::HostBuilder host;
    host.AddChip25TwoPort().SetRegion(zvfix::kRegionMemo1, zvfix::MakeMemoRegion({}));
    host.AddChip25TwoPort().faults.push_back(zvfix::FaultSpec::Fail("flash_write", 0x20000088));
    const auto devs = Discover(host);
    ASSERT_EQ(devs.size(), 4u);
    ASSERT_EQ(SetOutOutFile(), 0);

    const MultibootVersions v = NewVersions();
    EXPECT_EQ(UpdateFlashMemoBlockRegion(devs[0], &v), 0);
    SFlashMemoBlock m{};
    ASSERT_EQ(GetAdapterFlashMemoBlock(devs[0], &m), 0);
    EXPECT_EQ(std::tie(m.mbi_ver.major, m.mbi_ver.sub), std::tuple(6, 12));
    const zvfix::Bytes stored = zvfix::ReadRegion(hostDir_, 0, zvfix::kRegionMemo1);
    EXPECT_EQ(zvfix::WordSum32(std::span<const uint8_t>(stored).first(48)), 0u);

    const zvfix::Bytes before = zvfix::ReadRegion(hostDir_, 1, zvfix::kRegionMemo1);
    EXPECT_EQ(UpdateFlashMemoBlockRegion(devs[2], &v), FLASH_MEMO_WRITE_FAILED);
    EXPECT_EQ(zvfix::ReadRegion(hostDir_, 1, zvfix::kRegionMemo1), before);

    EXPECT_EQ(OutputFile(), "Updating Adapter Flash Memo Block... Success\nUpdating Adapter Flash Memo Block... Failed\n");
}

// The clearing before a chip-type-25 update's first write: a block naming a
// version is written naming none, with no line of its own, and the region
// as found is handed back. A region one block long holds a block; a byte
// shorter, erased, or with a block naming none, it is not written. A write
// answered "written, not activated" is written.
TEST_F(MemoOnHost, TheClearingWritesOnlyABlockThatNamesAVersion) {
    const zvfix::Bytes block = zvfix::MakeMemoBlock({.mbi = {6, 4, 2, 0x2A}});
    struct Row {
        const char* what;
        zvfix::Bytes region;
        bool notActivated;
        bool written;
    };
    const Row rows[] = {
        {"one block long", block, false, true},
        {"a byte short of a block", zvfix::Bytes(block.begin(), block.end() - 1), false, false},
        {"naming no version", zvfix::MakeMemoRegion({.mbi = {0, 0, 0, 0x2A}}, 0x200), false, false},
        {"erased", zvfix::Bytes(0x200, 0xFF), false, false},
        {"answered not activated", zvfix::MakeMemoRegionWithTail({.mbi = {6, 4, 2, 0x2A}}, 0x3C), true, true},
    };
    zvfix::HostBuilder host;
    for (const Row& r : rows) {
        auto& a = host.AddChip25TwoPort();
        a.SetRegionSize(zvfix::kRegionMemo1, static_cast<uint32_t>(r.region.size()));
        a.SetRegion(zvfix::kRegionMemo1, r.region);
        if (r.notActivated) a.faults.push_back(zvfix::FaultSpec::NotActivated().OnRegion(zvfix::kRegionMemo1));
    }
    const auto devs = Discover(host);
    ASSERT_EQ(devs.size(), 2 * std::size(rows));
    ASSERT_EQ(SetOutOutFile(), 0);
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        SCOPED_TRACE(r.what);
        std::vector<SD_UINT8> found{1};
        SD_UINT32 answer = 7;
        EXPECT_EQ(ClearFlashMemoBlockVersion(devs[2 * i], &found, &answer), 0);
        EXPECT_EQ(answer, 0u);
        EXPECT_EQ(found, r.written ? r.region : zvfix::Bytes{});
        EXPECT_EQ(zvfix::ReadRegion(hostDir_, static_cast<int>(i), zvfix::kRegionMemo1),
                  r.written ? zvfix::MemoRegionNamingNoVersion(r.region) : r.region);
        const auto journal = zvfix::ReadJournal(hostDir_);
        EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                                [i](const zvfix::JournalEntry& e) { return e.adapter == static_cast<int>(i); }),
                  r.written ? 1 : 0);
    }
    EXPECT_EQ(OutputFile(), "");
}

FlashComponentVersion ImageComponents() {
    FlashComponentVersion c{};
    c.ImageMajorVersion = 6;
    c.ImageMinorVersion = 10;
    c.ImageSubMinorVersion = 12;
    c.FFVMajorVersion = 9;
    c.FFVMinorVersion = 8;
    c.FFVSubMinorVersion = 7;
    c.FFVBuildVersion = 5;
    c.ImageBuildYear = 2024;
    c.ImageBuildMonth = 3;
    c.ImageBuildDay = 7;
    return c;
}

TEST_F(MemoOnHost, RegionTooSmallForABlockHoldsNone) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.SetRegionSize(zvfix::kRegionMemo1, 32);
    a.SetRegion(zvfix::kRegionMemo1, zvfix::Bytes{'F', 'M', 'B', 'S'});
    const auto devs = Discover(host);
    SFlashMemoBlock m{};
    m.mbi_ver.major = 0x77;
    EXPECT_EQ(GetAdapterFlashMemoBlock(devs[0], &m), FLASH_MEMO_NO_SIGNATURE);
    EXPECT_EQ(m.mbi_ver.major, 0x77);
    ASSERT_EQ(SetOutOutFile(), 0);
    EXPECT_EQ(UpdateFlashMemoBlockRegion(devs[0], nullptr), FLASH_MEMO_WRITE_FAILED);
    EXPECT_TRUE(zvfix::ReadJournal(hostDir_).empty());
}

TEST_F(MemoOnHost, VrelBlockGoesToTheSetBeingWritten) {
    zvfix::HostBuilder host;
    auto& b = host.AddChip27();
    b.SetImageStatus(1, 4, 0, 3);   // primary runs: the update writes set 2
    b.SetRegion(zvfix::kRegionMemo1, zvfix::MakeMemoRegion({.mbi = {7, 0, 0, 0}}));
    host.AddChip25TwoPort();
    host.AddTorvi(0x2031);           // chip type 24: no second set
    const auto devs = Discover(host);
    ASSERT_EQ(devs.size(), 6u);
    ASSERT_EQ(SetOutOutFile(), 0);
    const zvfix::Bytes set1 = zvfix::ReadRegion(hostDir_, 0, zvfix::kRegionMemo1);

    const FlashComponentVersion c = ImageComponents();
    ASSERT_EQ(UpdateVrelFlashMemoBlockRegion(devs[0], &c, 2), 0);
    ExpectFreshBlock(zvfix::ReadRegion(hostDir_, 0, zvfix::kRegionMemo2));
    EXPECT_EQ(zvfix::ReadRegion(hostDir_, 0, zvfix::kRegionMemo1), set1);

    // The caller's set decides, whatever the records say.
    ASSERT_EQ(UpdateVrelFlashMemoBlockRegion(devs[0], &c, 1), 0);
    EXPECT_EQ(zvfix::ReadRegion(hostDir_, 0, zvfix::kRegionMemo1)[20], 6);

    EXPECT_EQ(UpdateVrelFlashMemoBlockRegion(devs[0], &c, 3), FLASH_MEMO_NO_DEVICE);
    EXPECT_EQ(UpdateVrelFlashMemoBlockRegion(devs[4], &c, 2), FLASH_MEMO_NO_DEVICE);
    EXPECT_EQ(UpdateVrelFlashMemoBlockRegion(nullptr, &c, 2), FLASH_MEMO_NO_DEVICE);
    // Chip type 25 keeps one memo block: set 2 has none to write.
    EXPECT_EQ(UpdateVrelFlashMemoBlockRegion(devs[2], &c, 2), FLASH_MEMO_WRITE_FAILED);
}

// Each region-sized buffer of the rewrite failing in turn: 526, never an
// escaping exception; once none fails the rewrite succeeds. (An in-memory
// adapter: the simulated platform's own bookkeeping is not meant to survive
// a failed allocation.)
TEST(FlashMemoBlockRegion, NoMemoryFailsTheStep) {
    if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /var/log";
    constexpr SD_UINT32 kSize = 0x1230;   // a size only the region's buffers have
    auto state = std::make_shared<zvtest::FakeState>();
    state->AddAdapter(0x2261, "SN1").Layout.push_back({0xDF, 0x8000, kSize, 0});
    zvtest::FakeDevice dev(state, 0x2261);
    zvtest::ClearLogs();
    ResetOutputChannels();
    ASSERT_EQ(SetOutOutFile(), 0);
    const MultibootVersions v = NewVersions();
    // The region read, the work copy, the read-back.
    for (long n = 1; n <= 3; ++n) {
        zvtest::FailNthAllocationOf(kSize, n);
        int st = -1;
        EXPECT_NO_THROW(st = UpdateFlashMemoBlockRegion(dev.get(), &v)) << n;
        EXPECT_EQ(st, FLASH_MEMO_WRITE_FAILED) << n;
    }
    zvtest::FailNthAllocationOf(0, 0);
    ASSERT_EQ(UpdateFlashMemoBlockRegion(dev.get(), &v), 0);
    ExpectFreshBlock(state->FlashBytes(0, 0x8000, kSize));
    EXPECT_EQ(zvtest::ReadFile(GetOutPutFile()), "Updating Adapter Flash Memo Block... Failed\n"
                                                 "Updating Adapter Flash Memo Block... Failed\n"
                                                 "Updating Adapter Flash Memo Block... Failed\n"
                                                 "Updating Adapter Flash Memo Block... Success\n");
}

TEST(FlashMemoBlockText, MonthAbbreviations) {
    char text[8];
    for (const auto& [month, name] : {std::pair<int, const char*>{9, "Sept."}, {5, "May"}, {13, ""}}) {
        GetAbbreviationNameOfMonth(month, text);
        EXPECT_STREQ(text, name) << month;
    }
    char tiny[3];
    GetAbbreviationNameOfMonth(6, tiny);
    EXPECT_STREQ(tiny, "Ju");
}

}  // namespace
