// Region wrappers over a simulated host: layout lookups, buffer bounds, busy
// retries with their sleeps, and "flashed but not activated" handling.
#include "image/region_io.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "core/active_regions.h"
#include "core/device_discovery.h"
#include "core/image_status.h"
#include "core/oss_services.h"
#include "fixtures/host_builder.h"
#include "image/vpd_version_keywords.h"
#include "mgmt/sd_shared_db.h"
#include "mgmt/sd_types.h"
#include "mgmt/sdapi.h"
#include "support/discovered_host.h"
#include "support/sleep_log.h"

namespace {

constexpr SD_UINT32 kBoard = zvfix::kRegionBoardConfig1;   // 0x10000 bytes
constexpr SD_UINT32 kPreload = zvfix::kRegionPreload1;

class RegionIo : public zvtest::DiscoveredHostTest {
protected:
    void SetUp() override {
        DiscoveredHostTest::SetUp();
        sleeps_.Start(dir_ + "/sleeps");
        OSSInitCriticalSection();
    }
    void TearDown() override {
        DiscoveredHostTest::TearDown();
        OSSDeleteCriticalSection();
    }
    // The first port; discovery may sleep, so only the sleeps after it count.
    SDMDevice* Discover(zvfix::HostBuilder& host) {
        DiscoveredHostTest::Discover(host);
        sleeps_.Clear();
        return GetDeviceList()->firstDevice;
    }
    bool MutexFree() const {
        if (OSSEnterCriticalSection() != 0) return false;
        return OSSLeaveCriticalSection() == 0;
    }
    zvtest::SleepLog sleeps_;
};

zvfix::Bytes Pattern(size_t n, uint8_t seed) {
    zvfix::Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

TEST_F(RegionIo, ReadsBoundedByLayoutAndBuffer) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    const zvfix::Bytes content = Pattern(0x10000, 3);
    a.SetRegion(kBoard, content);
    a.faults.push_back(zvfix::FaultSpec::HideRegion(0x102));
    SDMDevice* dev = Discover(host);
    ASSERT_NE(dev, nullptr);

    SD_UINT32 size = 99;
    EXPECT_EQ(GetOptionROMRegionSize(dev, kBoard, &size), 0u);
    EXPECT_EQ(size, 0x10000u);

    std::vector<SD_UINT8> buf(0x10000 + 16, 0xEE);
    EXPECT_EQ(GetOptionROMRegionData(dev, buf, kBoard, &size), 0u);
    EXPECT_EQ(size, 0x10000u);
    EXPECT_TRUE(std::equal(content.begin(), content.end(), buf.begin()));
    EXPECT_EQ(buf[0x10000], 0xEE);

    std::fill(buf.begin(), buf.end(), 0xEE);
    EXPECT_EQ(getHBAOptionROMInfos(dev, buf, kBoard), 0u);
    EXPECT_TRUE(std::equal(content.begin(), content.end(), buf.begin()));

    // A buffer smaller than the region: refused, nothing written into it.
    std::vector<SD_UINT8> small(0x100, 0xEE);
    EXPECT_EQ(getHBAOptionROMInfos(dev, small, kBoard), REGIO_REGION_FAILED);
    EXPECT_EQ(GetOptionROMRegionData(dev, small, kBoard, &size), REGIO_BUFFER_FAILED);
    EXPECT_EQ(std::count(small.begin(), small.end(), 0xEE), 0x100);

    // A region the layout lacks.
    EXPECT_EQ(getHBAOptionROMInfos(dev, small, 0x102), 0u);
    EXPECT_EQ(std::count(small.begin(), small.end(), 0xEE), 0x100);
    EXPECT_EQ(GetOptionROMRegionSize(dev, 0x102, &size), REGIO_REGION_FAILED);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(GetOptionROMRegionData(dev, buf, 0x102, &size), REGIO_READ_FAILED);

    SDMOptRomLayoutCopy layout;
    SD_UINT32 one = 0;
    EXPECT_EQ(GetOptionRomRegionLayout(dev, &layout, zvfix::kRegionFirmware1, &one), 0u);
    EXPECT_EQ(one, 0x100000u);
    EXPECT_GT(layout.Regions.size(), 20u);
    EXPECT_EQ(GetOptionRomRegionLayout(nullptr, &layout, 1, &one), REGIO_LAYOUT_NO_DEVICE);

    EXPECT_EQ(GetOptionROMRegionSize(nullptr, kBoard, &size), REGIO_NO_DEVICE);
    EXPECT_EQ(getHBAOptionROMInfos(nullptr, buf, kBoard), REGIO_NO_DEVICE);
    // The process mutex is released on every path taken above.
    EXPECT_TRUE(MutexFree());
    EXPECT_TRUE(sleeps_.Lengths().empty());
}

// The layout names the board configuration twice its size first (a flagged
// code word), while the library reads the region itself: every read ends
// short of what the reader asked for. None succeeds, and none is retried as
// busy; a whole read gives its count, a region the layout lacks none.
TEST_F(RegionIo, AReadEndingShortOfTheLayoutSizeFails) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.SetRegion(kBoard, Pattern(0x10000, 3));
    a.ShadowRegion(kBoard);
    SDMDevice* dev = Discover(host);
    ASSERT_NE(dev, nullptr);

    SD_UINT32 size = 0;
    EXPECT_EQ(GetOptionROMRegionSize(dev, kBoard, &size), REGIO_READ_FAILED);
    EXPECT_EQ(size, 0x20000u);
    std::vector<SD_UINT8> buf(0x20000, 0xEE);
    EXPECT_EQ(GetOptionROMRegionData(dev, buf, kBoard, &size), REGIO_READ_FAILED);
    SD_UINT32 read = 99;
    EXPECT_EQ(getHBAOptionROMInfos(dev, buf, kBoard, &read), REGIO_REGION_FAILED);
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(sleeps_.Lengths().empty());

    EXPECT_EQ(getHBAOptionROMInfos(dev, buf, kPreload, &read), 0u);
    EXPECT_EQ(read, 0x10000u);
    EXPECT_EQ(getHBAOptionROMInfos(dev, buf, 0x102, &read), 0u);
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(MutexFree());
}

TEST_F(RegionIo, BusyReadsRetriedOneSecondApartUpToThirtyCalls) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.SetRegion(kBoard, Pattern(64, 9));
    a.faults.push_back(zvfix::FaultSpec::Busy("flash_read", 3).OnRegion(kBoard));
    a.faults.push_back(zvfix::FaultSpec::Busy("flash_read", -1, 0x20000075).OnRegion(kPreload));
    SDMDevice* dev = Discover(host);
    ASSERT_NE(dev, nullptr);

    std::vector<SD_UINT8> buf(0x10000);
    SD_UINT32 size = 0;
    EXPECT_EQ(GetOptionROMRegionData(dev, buf, kBoard, &size), 0u);
    EXPECT_EQ(buf[1], static_cast<SD_UINT8>(9 + 7));
    EXPECT_EQ(sleeps_.Lengths(), std::vector<long>(3, 1000));

    sleeps_.Clear();
    EXPECT_EQ(getHBAOptionROMInfos(dev, buf, kPreload), REGIO_REGION_FAILED);
    EXPECT_EQ(sleeps_.Lengths(), std::vector<long>(30, 1000));
    sleeps_.Clear();
    EXPECT_EQ(GetOptionROMRegionSize(dev, kPreload, &size), REGIO_READ_FAILED);
    EXPECT_EQ(sleeps_.Lengths().size(), 30u);
    EXPECT_TRUE(MutexFree());
}

TEST_F(RegionIo, WritesRetryBusyWithTheirOwnPauses) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.faults.push_back(zvfix::FaultSpec::Busy("flash_write", 2).OnRegion(kBoard));
    a.faults.push_back(zvfix::FaultSpec::Busy("flash_write", 1).OnRegion(kPreload));
    SDMDevice* dev = Discover(host);
    ASSERT_NE(dev, nullptr);

    const zvfix::Bytes data = Pattern(0x10000, 1);
    EXPECT_EQ(AppUpdateOptionRomEx2(dev, data, kBoard, 0x10000, 1), 0u);
    EXPECT_EQ(sleeps_.Lengths(), std::vector<long>(2, 1000));
    EXPECT_EQ(zvfix::ReadRegion(hostDir_, 0, kBoard), data);

    sleeps_.Clear();
    const zvfix::Bytes pre = Pattern(0x10000, 5);
    EXPECT_EQ(AppUpdateOptionRomEx(dev, pre, kPreload, 0x10000, 1), 0u);
    EXPECT_EQ(sleeps_.Lengths(), std::vector<long>(1, 10000));
    EXPECT_EQ(zvfix::ReadRegion(hostDir_, 0, kPreload), pre);
}

TEST_F(RegionIo, EndlessBusyWriteGivesTheBusyStatusAfterThirtyCalls) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.faults.push_back(zvfix::FaultSpec::Busy("flash_write", -1));
    SDMDevice* dev = Discover(host);
    ASSERT_NE(dev, nullptr);
    const zvfix::Bytes before = zvfix::ReadRegion(hostDir_, 0, kBoard);
    SD_UINT16 reset = 0;
    EXPECT_EQ(AppUpdateOptionRomEx3(dev, Pattern(0x100, 2), kBoard, 0x100, &reset), SDERR_BUSY);
    EXPECT_EQ(sleeps_.Lengths().size(), 30u);
    EXPECT_EQ(reset, 0);
    EXPECT_EQ(zvfix::ReadRegion(hostDir_, 0, kBoard), before);
}

// Once the process was interrupted every flash operation answers busy at
// once (its semaphore wait gives up): no loop over a library call tries again
// or sleeps, nor over an activation or an active-region query that the
// adapter itself answers busy. In a child process: an interrupt is for good.
TEST_F(RegionIo, AfterAnInterruptNoLoopRetriesABusyAnswer) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.fwAttributes = 7;
    a.faults.push_back(zvfix::FaultSpec::Fail("online_activate", SDERR_BUSY));
    a.faults.push_back(zvfix::FaultSpec::Fail("active_regions", SDERR_BUSY));
    SDMDevice* dev = Discover(host);
    ASSERT_NE(dev, nullptr);
    // The firmware that runs is announced: the activation reaches the adapter.
    ASSERT_EQ(SDSendFlashUpdateFWAttributes(dev->DeviceHandle, 0, 7, 0), 0u);
    const zvfix::Bytes data = Pattern(0x100, 6);
    std::vector<SD_UINT8> buf(0x10000);
    SD_UINT16 reset = 0;
    SD_ACTIVE_REGIONS regions{};
    struct Call {
        const char* name;
        std::function<SD_INT64()> call;
        SD_INT64 status;
    };
    const Call calls[] = {
        {"region read", [&] { return getHBAOptionROMInfos(dev, buf, kBoard); }, REGIO_REGION_FAILED},
        {"write", [&] { return AppUpdateOptionRomEx(dev, data, kPreload, 0x100, 1); }, SDERR_BUSY},
        {"write Ex2", [&] { return AppUpdateOptionRomEx2(dev, data, kBoard, 0x100, 1); }, SDERR_BUSY},
        {"write Ex3", [&] { return AppUpdateOptionRomEx3(dev, data, kBoard, 0x100, &reset); }, SDERR_BUSY},
        {"activation", [&] { return AppActivateOnlineFlashUpdate(dev); }, SDERR_BUSY},
        {"VPD read", [&] { return CheckForValidVpdRegion(dev, 0x14, 0x200); }, VPD_UPDATE_BAD_REGION},
        {"read-back", [&] { return CoreCheckOptionRomData(dev, kBoard, 0x100, data); }, CORE_FLASH_REGION_UNREADABLE},
        {"record write", [&] { return CoreUpdateOptionRomEx(dev, data, kBoard, 0x100, &reset); }, CORE_FLASH_FAILED},
        {"active regions", [&] { return CoreGetActiveRegions(dev, &regions); }, CORE_FLASH_STATUS_UNREADABLE},
    };
    EXPECT_EXIT(
        {
            zvapi_interrupt_waits();
            int wrong = 0;
            for (const Call& c : calls) {
                const SD_INT64 st = c.call();
                const size_t slept = sleeps_.Lengths().size();
                if (st != c.status || slept != 0) {
                    std::fprintf(stderr, "%s: status %lld, %zu sleeps\n", c.name, static_cast<long long>(st), slept);
                    ++wrong;
                }
                sleeps_.Clear();
            }
            std::fflush(stderr);
            _exit(wrong);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(RegionIo, NotActivatedIsSuccessThatNeedsAReboot) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.faults.push_back(zvfix::FaultSpec::NotActivated());
    a.faults.push_back(zvfix::FaultSpec::Fail("online_activate", SDERR_BUSY));
    SDMDevice* dev = Discover(host);
    ASSERT_NE(dev, nullptr);

    const zvfix::Bytes data = Pattern(0x200, 4);
    SD_UINT16 reset = 0;
    EXPECT_EQ(AppUpdateOptionRomEx3(dev, data, kBoard, 0x200, &reset), SDERR_FLASHED_NOT_ACTIVATED);
    EXPECT_EQ(reset, 1);
    EXPECT_EQ(AppUpdateOptionRomEx2(dev, data, kBoard, 0x200, 0), SDERR_FLASHED_NOT_ACTIVATED);
    EXPECT_EQ(AppUpdateOptionRomEx(dev, data, kPreload, 0x200, 0), 0u);
    const zvfix::Bytes stored = zvfix::ReadRegion(hostDir_, 0, kBoard);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), stored.begin()));

    // An activation the adapter cannot take now waits for the reboot: no retries.
    EXPECT_EQ(AppActivateOnlineFlashUpdate(dev), SDERR_FLASHED_NOT_ACTIVATED);
    EXPECT_TRUE(sleeps_.Lengths().empty());
}

TEST_F(RegionIo, WriteLongerThanTheBufferIsRefusedUnsent) {
    zvfix::HostBuilder host;
    host.AddChip25TwoPort();
    SDMDevice* dev = Discover(host);
    ASSERT_NE(dev, nullptr);
    const zvfix::Bytes data = Pattern(0x100, 4);
    EXPECT_EQ(AppUpdateOptionRomEx2(dev, data, kBoard, 0x101, 1), SDERR_INVALID_PARAMETER);
    EXPECT_TRUE(zvfix::ReadJournal(hostDir_).empty());
    EXPECT_EQ(AppUpdateOptionRomEx2(nullptr, data, kBoard, 0x100, 1), SDERR_INVALID_HANDLE);
}

}  // namespace
