// Image-status and active-region flash I/O on simulated adapters: what lands
// in flash, what the adapter starts from after a reboot, and the retries.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "core/active_regions.h"
#include "core/image_status.h"
#include "core/sdm_device.h"
#include "fixtures/host_builder.h"
#include "support/sleep_log.h"
#include "mgmt/sdapi.h"

namespace {

// A record's (mask, generation).
std::pair<int, int> MaskGen(const zvfix::Bytes& r) {
    return {CoreGetImageStatusMask(r), CoreGetImageStatusGenerationNumber(r)};
}

class FlashStatus : public ::testing::Test {
protected:
    void TearDown() override { Close(); }

    // Writes the host, opens its first port as a bare device record.
    void Open(const zvfix::HostBuilder& host) {
        dir_ = zvfix::MakeTempDir("imgstatus");
        host.Write(dir_);
        Reopen();
    }
    void Reopen() {
        Close();
        setenv("ZV_SIM_HOST", dir_.c_str(), 1);
        device_ = SDMDevice{};
        ASSERT_EQ(SDOpenDevice(0, &device_.DeviceHandle), 0u);
        open_ = true;
        ASSERT_EQ(SDGetHbaDeviceChipProperty(device_.DeviceHandle, &device_.DeviceChipProperty), 0u);
    }
    void Close() {
        if (open_) SDCloseDevice(device_.DeviceHandle);
        open_ = false;
    }
    // A chip-type-27 adapter with the given image-status records and faults.
    void OpenChip27(uint8_t m1, uint16_t g1, uint8_t m2, uint16_t g2, std::vector<zvfix::FaultSpec> faults = {}) {
        zvfix::HostBuilder host;
        auto& a = host.AddChip27();
        a.SetImageStatus(m1, g1, m2, g2);
        a.faults = std::move(faults);
        Open(host);
    }
    int SwitchTo(SD_UINT8 set) {
        SD_ACTIVE_REGIONS regions{};
        regions.ActiveGlobalRegions = set;
        return CoreUpdateImageStatus(&device_, &regions, 0);
    }
    zvfix::Bytes Region(uint32_t code) const { return zvfix::ReadRegion(dir_, 0, code); }
    // The NVRAM the first port is served after a reboot.
    std::vector<SD_UINT8> NvramAfterReboot() {
        Close();
        EXPECT_EQ(zvfix::Reboot(dir_), 0);
        Reopen();
        std::vector<SD_UINT8> read(512);
        EXPECT_EQ(SDGetNVRam(device_.DeviceHandle, 0, 1, read), 0u);
        return read;
    }
    int ActiveSetAfterReboot() {
        Close();
        EXPECT_EQ(zvfix::Reboot(dir_), 0);
        Reopen();
        ACTIVE_REGIONS flash{};
        EXPECT_EQ(CoreGetAdapterFlashActiveRegions(&device_, &flash), 0);
        SD_ACTIVE_REGIONS lib{};
        EXPECT_EQ(SDGetActiveRegions(device_.DeviceHandle, 0, &lib), 0u);
        EXPECT_EQ(lib.ActiveGlobalRegions, flash.ActiveGlobalRegions);
        return flash.ActiveGlobalRegions;
    }

    std::string dir_;
    zvtest::SleepLog sleeps_;
    SDMDevice device_{};
    bool open_ = false;
};

TEST_F(FlashStatus, InactiveSetBecomesActiveAcrossReboot) {
    OpenChip27(1, 5, 0, 7);
    SD_ACTIVE_REGIONS regions{};
    ASSERT_EQ(CoreUpdateImageStatus(&device_, &regions, 1), 0);
    EXPECT_EQ(regions.ActiveGlobalRegions, 1);   // handed back as read

    const zvfix::Bytes secondary = Region(0x96);
    const zvfix::Bytes primary = Region(0x95);
    EXPECT_TRUE(CoreIsImageStatusRegionValid(secondary, IMAGE_STATUS_SIGNATURE_27));
    EXPECT_EQ(MaskGen(secondary), std::pair(1, 8));
    EXPECT_EQ(MaskGen(primary), std::pair(0, 5));
    EXPECT_EQ(ActiveSetAfterReboot(), 2);
    EXPECT_EQ(CoreGetActiveRegion(&device_, 0x01), 0x02u);
    EXPECT_EQ(CoreGetActiveRegion(&device_, 0x95), 0x96u);
}

TEST_F(FlashStatus, ErasedStatusRegionsStillSwitchTheSet) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.SetRegion(0x95, zvfix::Bytes(16, 0xFF));   // both image-status regions erased
    a.SetRegion(0x96, zvfix::Bytes(16, 0xFF));
    Open(host);
    ASSERT_EQ(SwitchTo(1), 0);
    const zvfix::Bytes secondary = Region(0x96);
    EXPECT_TRUE(CoreIsImageStatusRegionValid(secondary, IMAGE_STATUS_SIGNATURE_25));
    EXPECT_EQ(CoreGetImageStatusGenerationNumber(secondary), 1);
    // The rest of the region is written back as read.
    EXPECT_EQ(zvfix::Bytes(secondary.begin() + 16, secondary.end()), zvfix::Bytes(secondary.size() - 16, 0xFF));
    EXPECT_EQ(ActiveSetAfterReboot(), 2);
    // Chip type 25 keeps the MPI firmware on the primary code.
    EXPECT_EQ(CoreGetActiveRegion(&device_, 0xD3), 0xD3u);
    EXPECT_EQ(CoreGetActiveRegion(&device_, 0xF0), 0xF0u);
}

TEST_F(FlashStatus, BusyWritesAreRetriedTenSecondsApart) {
    OpenChip27(0, 2, 1, 3, {zvfix::FaultSpec::Busy("flash_write", 2)});
    sleeps_.Start(dir_ + "/sleeps.log");
    ASSERT_EQ(SwitchTo(2), 0);
    EXPECT_EQ(sleeps_.Lengths(), (std::vector<long>{10000, 10000}));
    EXPECT_EQ(MaskGen(Region(0x95)), std::pair(1, 4));
}

TEST_F(FlashStatus, EndlessBusyFailsAfterThirtyTriesAndLeavesFlash) {
    OpenChip27(1, 2, 0, 1, {zvfix::FaultSpec::Busy("flash_write", -1)});
    const zvfix::Bytes before = Region(0x96);
    sleeps_.Start(dir_ + "/sleeps.log");
    EXPECT_EQ(SwitchTo(1), -1);
    EXPECT_EQ(sleeps_.Lengths().size(), 30u);
    EXPECT_EQ(Region(0x96), before);
}

TEST_F(FlashStatus, NotActivatedAnswerDisablesResetOfTheSecondWrite) {
    OpenChip27(1, 2, 0, 1, {zvfix::FaultSpec::NotActivated().OnRegion(0x96)});
    ASSERT_EQ(SwitchTo(1), 0);
    std::vector<std::pair<uint32_t, uint32_t>> writes;   // (region, disableReset)
    for (const auto& e : zvfix::ReadJournal(dir_))
        if (e.region == 0x95 || e.region == 0x96) writes.emplace_back(e.region, e.disableReset);
    EXPECT_EQ(writes, (std::vector<std::pair<uint32_t, uint32_t>>{{0x96, 0}, {0x95, 1}}));
}

// A record region smaller than the image-status size cannot be read as a
// whole one: the switch (and the auxiliary flip) fails before either record
// is written, and never builds a pair from bytes past the region.
TEST_F(FlashStatus, ARecordRegionSmallerThanTheStatusSizeIsNotSwitched) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip27();
    a.SetImageStatus(1, 2, 0, 1);
    a.SetAuxImageStatus(0, 1, 0x00, 1, 2, 0x00);
    a.SetRegionSize(0x95, 0x8000);
    a.SetRegionSize(0x126, 0x8000);
    Open(host);
    EXPECT_EQ(SwitchTo(1), CORE_FLASH_FAILED);
    SD_ACTIVE_REGIONS regions{};
    regions.ActiveBoardConfig = 1;
    EXPECT_EQ(CoreUpdateAuxImageStatus(&device_, &regions, 0, AUX_COMPONENT_BOARD_CONFIG), CORE_FLASH_FAILED);
    EXPECT_TRUE(zvfix::ReadJournal(dir_).empty());
}

TEST_F(FlashStatus, ReadBackMismatchIsReported) {
    OpenChip27(1, 2, 0, 1, {zvfix::FaultSpec::CorruptWrite().OnRegion(0x96)});
    EXPECT_EQ(SwitchTo(1), CORE_FLASH_MISCOMPARE);
    // The active record was not touched after the failed step.
    EXPECT_EQ(CoreGetImageStatusMask(Region(0x95)), 1);
}

TEST_F(FlashStatus, LibraryWithoutAnswerFallsBackToFlash) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip27();
    a.SetImageStatus(0, 6, 1, 7);
    a.SetAuxImageStatus(0, 1, 0x00, 1, 2, 0x01);
    a.faults.push_back(zvfix::FaultSpec::ActiveRegionsZero());
    Open(host);
    SD_ACTIVE_REGIONS regions{};
    ASSERT_EQ(CoreGetActiveRegions(&device_, &regions), 0);
    EXPECT_EQ((std::vector<int>{regions.ActiveGlobalRegions, regions.ActiveBoardConfig, regions.ActiveVpdNvram}),
              (std::vector<int>{2, 2, 1}));
    EXPECT_EQ(CoreGetActiveRegion(&device_, 0xBA), 0x10Bu);
}

TEST_F(FlashStatus, NvramWritesOnChip27GoToTheIdleCopyWhichServesAfterReboot) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip27();
    a.SetImageStatus(1, 1, 0, 0);
    a.SetAuxImageStatus(1, 1, 0x00, 0, 0, 0x00);
    Open(host);
    zvfix::Bytes nvram = zvfix::MakeNvram(0x1A77, 0x0555);
    EXPECT_EQ(CoreIsValidNvram(&device_, nvram), 1);
    ASSERT_EQ(CoreUpdateNVRam(&device_, nvram, 0), 0);

    ACTIVE_REGIONS flash{};
    ASSERT_EQ(CoreGetAdapterFlashActiveRegions(&device_, &flash), 0);
    EXPECT_EQ((std::vector<int>{flash.ActiveVpdNvram, flash.ActiveBoardConfig, flash.ToolID}),
              (std::vector<int>{2, 1, CoreGetToolId()}));
    // A second write before the reboot goes to the same copy (the primary
    // still serves): the records must keep naming it.
    const zvfix::Bytes second = zvfix::MakeNvram(0x1A77, 0x0556);
    ASSERT_EQ(CoreUpdateNVRam(&device_, second, 0), 0);
    ASSERT_EQ(CoreGetAdapterFlashActiveRegions(&device_, &flash), 0);
    EXPECT_EQ(flash.ActiveVpdNvram, 2);

    EXPECT_EQ(NvramAfterReboot(), second);

    // A broken image is refused before anything is written.
    nvram[100] ^= 0x5A;
    EXPECT_EQ(CoreIsValidNvram(&device_, nvram), 0);
    EXPECT_EQ(CoreUpdateNVRam(&device_, nvram, 0), -1);
}

// The second write before the reboot goes to the copy the first one marked to
// serve next. The records name the serving copy again first, so that a write
// cut short there leaves the adapter served by a whole NVRAM. The serving copy
// is the NVRAM's own, also where the board configuration serves from the other.
TEST_F(FlashStatus, ASecondNvramWriteCutShortLeavesTheServingCopyServing) {
    struct Row {
        const char* what;
        uint8_t bitmap;   // components serving from their second copy
    };
    for (const Row& row : {Row{"both on copy 1", 0x00}, Row{"board config on copy 1, NVRAM on copy 2", 0x02}}) {
        SCOPED_TRACE(row.what);
        zvfix::HostBuilder host;
        auto& a = host.AddChip27();
        a.SetImageStatus(1, 1, 0, 0);
        a.SetAuxImageStatus(1, 1, row.bitmap, 0, 0, row.bitmap);
        a.faults = {{.op = "nvram_write", .kind = "partial", .skip = 1, .count = -1, .bytes = 0x40}};
        Open(host);
        std::vector<SD_UINT8> serving(512);
        ASSERT_EQ(SDGetNVRam(device_.DeviceHandle, 0, 1, serving), 0u);
        ASSERT_EQ(CoreUpdateNVRam(&device_, zvfix::MakeNvram(0x1A77, 0x0555), 0), 0);
        EXPECT_EQ(CoreUpdateNVRam(&device_, zvfix::MakeNvram(0x1A77, 0x0556), 0), CORE_FLASH_FAILED);

        EXPECT_EQ(NvramAfterReboot(), serving) << "served from the copy the write was cut short in";
        Close();
    }
}

// The board configuration and the NVRAM/VPD may serve from different copies:
// an NVRAM write goes to the idle copy of the NVRAM/VPD component, and the
// auxiliary records then name that copy while the board configuration keeps
// its own. Naming the board configuration's copy would lose the write at the
// next reboot (or point the adapter at the copy not written).
TEST_F(FlashStatus, NvramWritesFollowTheNvramCopyNotTheBoardConfigurations) {
    struct Row {
        const char* what;
        uint8_t bitmap;          // components serving from their second copy
        uint32_t written, kept;  // NVRAM copies of the first port
    };
    for (const Row& row : {Row{"board config on copy 2, NVRAM on copy 1", 0x01, 0x10D, 0x15},
                           Row{"board config on copy 1, NVRAM on copy 2", 0x02, 0x15, 0x10D}}) {
        SCOPED_TRACE(row.what);
        zvfix::HostBuilder host;
        auto& a = host.AddChip27();
        a.SetImageStatus(1, 1, 0, 0);
        a.SetAuxImageStatus(1, 3, row.bitmap, 0, 2, row.bitmap);
        Open(host);
        const SD_UINT8 board = (row.bitmap & 0x01) ? 2 : 1;
        const SD_UINT8 idleNvram = (row.bitmap & 0x02) ? 1 : 2;
        const zvfix::Bytes kept = Region(row.kept);
        const zvfix::Bytes nvram = zvfix::MakeNvram(0x1A77, 0x0777);
        ASSERT_EQ(CoreUpdateNVRam(&device_, nvram, 0), 0);

        const zvfix::Bytes written = Region(row.written);
        EXPECT_TRUE(std::equal(nvram.begin(), nvram.end(), written.begin())) << "not on the idle NVRAM copy";
        EXPECT_EQ(Region(row.kept), kept) << "the serving NVRAM copy was written";
        ACTIVE_REGIONS flash{};
        ASSERT_EQ(CoreGetAdapterFlashActiveRegions(&device_, &flash), 0);
        EXPECT_EQ((std::vector<int>{flash.ActiveVpdNvram, flash.ActiveBoardConfig}),
                  (std::vector<int>{idleNvram, board}));

        EXPECT_EQ(NvramAfterReboot(), nvram) << "the write was lost at the reboot";
        SD_ACTIVE_REGIONS lib{};
        ASSERT_EQ(SDGetActiveRegions(device_.DeviceHandle, 0, &lib), 0u);
        EXPECT_EQ(lib.ActiveBoardConfig, board);
        Close();
    }
}

// The holds of a run before the reboot on the adapter: nothing is written
// where the records name what runs already; else only the records that
// change, the one that decides first, each read back. The boot rule then
// starts the running set, or the serving board configuration.
// A run that writes no board configuration puts the auxiliary records its
// hold changed back as found, the one active as found first; a record that
// was not valid as found stays as the hold rebuilt it (no torn record is
// written back), and nothing is written where nothing was held.
TEST_F(FlashStatus, HoldsWriteOnlyTheRecordsThatChange) {
    struct Row {
        const char* what;
        bool aux;
        std::array<uint16_t, 4> image;   // mask and generation of each image-status record
        std::array<uint16_t, 6> x;       // mask, generation and bitmap of each auxiliary record
        std::vector<uint32_t> writes;
        std::vector<uint32_t> putBack;   // auxiliary records written back as found
        int servesAfter = 1;             // the board-configuration copy after the put-back
        bool erased = false;             // both auxiliary records erased instead
    };
    const Row rows[] = {
        {"image status naming the running set", false, {1, 5, 0, 4}, {1, 1, 0, 0, 0, 0}, {}, {}},
        {"image status naming the other set", false, {0, 5, 1, 6}, {1, 1, 0, 0, 0, 0}, {0x95, 0x96}, {}},
        {"image status, neither active, the other newer", false, {0, 5, 0, 6}, {1, 1, 0, 0, 0, 0}, {0x95}, {}},
        {"auxiliary naming the serving copy", true, {1, 7, 0, 6}, {1, 4, 0x00, 0, 3, 0x01}, {}, {}},
        {"auxiliary, the last flip undone", true, {1, 7, 0, 6}, {0, 4, 0x02, 1, 5, 0x03}, {0x125, 0x126},
         {0x126, 0x125}, 2},
        {"auxiliary, neither active, copy 2 named", true, {0, 5, 0, 6}, {0, 4, 0x00, 0, 5, 0x00}, {0x126}, {0x126},
         2},
        {"auxiliary erased, the image-status records naming copy 2", true, {0, 5, 0, 6}, {}, {0x125}, {}, 1, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        zvfix::HostBuilder host;
        auto& a = host.AddChip27();
        const auto u8 = [](uint16_t v) { return static_cast<uint8_t>(v); };
        a.SetImageStatus(u8(r.image[0]), r.image[1], u8(r.image[2]), r.image[3]);
        a.SetAuxImageStatus(u8(r.x[0]), r.x[1], u8(r.x[2]), u8(r.x[3]), r.x[4], u8(r.x[5]));
        if (r.erased) {
            a.SetRegion(0x125, zvfix::Bytes(16, 0xFF));
            a.SetRegion(0x126, zvfix::Bytes(16, 0xFF));
        }
        Open(host);
        const zvfix::Bytes x1 = Region(0x125), x2 = Region(0x126);
        SD_ACTIVE_REGIONS running{};
        running.ActiveGlobalRegions = running.ActiveBoardConfig = running.ActiveVpdNvram = 1;
        CoreRecordsFound found;
        EXPECT_EQ(r.aux ? CoreHoldAuxImageStatus(&device_, running, AUX_COMPONENT_BOARD_CONFIG, &found)
                        : CoreHoldImageStatus(&device_, running, &found),
                  0);
        const auto writtenSince = [this](size_t from) {
            std::vector<uint32_t> writes;
            const auto journal = zvfix::ReadJournal(dir_);
            for (size_t i = from; i < journal.size(); ++i) writes.push_back(journal[i].region);
            return writes;
        };
        EXPECT_EQ(writtenSince(0), r.writes);
        ACTIVE_REGIONS flash{};
        ASSERT_EQ(CoreGetAdapterFlashActiveRegions(&device_, &flash), 0);
        EXPECT_EQ(r.aux ? flash.ActiveBoardConfig : flash.ActiveGlobalRegions, 1);
        if (!r.aux) continue;

        SD_UINT32 answer = 1;
        EXPECT_EQ(CoreRestoreAuxImageStatus(&device_, found, &answer), 0);
        EXPECT_EQ(answer, 0u);
        EXPECT_EQ(writtenSince(r.writes.size()), r.putBack);
        if (!r.erased) {
            EXPECT_EQ(Region(0x125), x1);
            EXPECT_EQ(Region(0x126), x2);
        }
        ASSERT_EQ(CoreGetAdapterFlashActiveRegions(&device_, &flash), 0);
        EXPECT_EQ(flash.ActiveBoardConfig, r.servesAfter);
    }
}

}  // namespace

// The read-back reuses its buffer from call to call. A check asked for more
// bytes than the region holds reads only the region's; the bytes left over
// from an earlier, larger read-back must not make it pass.
TEST_F(FlashStatus, AReadBackThatStopsAtTheRegionsEndNeverPassesOnEarlierBytes) {
    OpenChip27(1, 5, 0, 7);
    const zvfix::Bytes large = Region(IMAGE_STATUS_REGION_PRIMARY);
    const zvfix::Bytes small = Region(0x14);
    ASSERT_GT(large.size(), small.size() + 1);
    ASSERT_EQ(CoreCheckOptionRomData(&device_, IMAGE_STATUS_REGION_PRIMARY, static_cast<SD_UINT32>(large.size()),
                                     large),
              0);
    zvfix::Bytes expected = small;
    expected.insert(expected.end(), large.begin() + static_cast<long>(small.size()), large.end());
    EXPECT_NE(CoreCheckOptionRomData(&device_, 0x14, static_cast<SD_UINT32>(expected.size()), expected), 0);
    EXPECT_EQ(CoreCheckOptionRomData(&device_, 0x14, static_cast<SD_UINT32>(small.size()), small), 0);
}
