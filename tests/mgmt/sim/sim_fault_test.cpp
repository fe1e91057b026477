// Fault injection as host.json configures it: every kind, limited by region,
// port, skip and count, with counters per run.
#include <gtest/gtest.h>

#include "fixtures/host_builder.h"
#include "fixtures/sim_client.h"

namespace {

class SimFault : public ::testing::Test {
protected:
    // One chip-type-25 adapter with the given faults, written to `dir` and opened.
    std::unique_ptr<zvapi_transport> Open(std::vector<zvfix::FaultSpec> faults) {
        zvfix::HostBuilder h;
        h.AddChip25TwoPort().faults = std::move(faults);
        return zvfix::OpenSimHost(dir = zvfix::WriteSimHost(h));
    }
    SD_UINT32 WriteBa(zvapi_transport& t, SD_UINT8 fill, SD_UINT32 inst = 0) {
        return zvfix::SimWriteRegion(t, inst, 0xBA, std::vector<SD_UINT8>(256, fill));
    }
    zvfix::Bytes Ba() {
        zvfix::Bytes r = zvfix::ReadRegion(dir, 0, 0xBA);
        r.resize(256);
        return r;
    }
    std::string dir;
};

TEST_F(SimFault, BusyForTheFirstCallsThenThrough) {
    auto t = Open({zvfix::FaultSpec::Busy("flash_write", 2), zvfix::FaultSpec::Busy("flash_read", 1, 0x20000075)});
    EXPECT_EQ(WriteBa(*t, 1), SDERR_BUSY);
    EXPECT_EQ(WriteBa(*t, 2, 1), SDERR_BUSY);  // the adapter's counter, whichever port
    EXPECT_EQ(Ba(), zvfix::Bytes(256, 0xFF));
    EXPECT_EQ(WriteBa(*t, 3), SDERR_SUCCESS);
    EXPECT_EQ(Ba(), zvfix::Bytes(256, 3));
    std::vector<SD_UINT8> buf(16);
    EXPECT_EQ(zvfix::SimFlashRead(*t, 0, 0, 0, buf), SDERR_UNKNOWN);
    EXPECT_EQ(zvfix::SimFlashRead(*t, 0, 0, 0, buf), SDERR_SUCCESS);
    // A new run counts afresh.
    auto t2 = zvfix::OpenSimHost(dir);
    EXPECT_EQ(WriteBa(*t2, 4), SDERR_BUSY);
}

TEST_F(SimFault, FailedAndLockedWritesStoreNothing) {
    auto t = Open({zvfix::FaultSpec::Fail("flash_write", 5, 1), zvfix::FaultSpec::Lockdown().Skip(1)});
    EXPECT_EQ(WriteBa(*t, 1), 5u);                  // a system error number
    EXPECT_EQ(WriteBa(*t, 2), SDERR_LOCKDOWN);
    EXPECT_EQ(Ba(), zvfix::Bytes(256, 0xFF));
    EXPECT_TRUE(zvfix::ReadJournal(dir).empty());
}

TEST_F(SimFault, LockdownRecordWithTheFirmwareUpdateBitRefusesFlashWrites) {
    zvfix::HostBuilder h;
    auto& locked = h.AddChip25TwoPort();
    locked.lockdownSupport = 0x2;
    locked.fwUpdateDisable = 0x8;         // bit 3 counts as bit 0 does
    auto& unsupported = h.AddChip25TwoPort();
    unsupported.lockdownSupport = 0x1;    // only configuration lockdown is supported
    unsupported.fwUpdateDisable = 0x1;
    dir = zvfix::WriteSimHost(h);
    auto t = zvfix::OpenSimHost(dir);
    EXPECT_EQ(WriteBa(*t, 1), SDERR_LOCKDOWN);
    EXPECT_EQ(zvfix::SimFlashWrite(*t, 0, 0, 0, std::vector<SD_UINT8>{1}), SDERR_LOCKDOWN);
    EXPECT_EQ(Ba(), zvfix::Bytes(256, 0xFF));
    EXPECT_EQ(WriteBa(*t, 2, 2), SDERR_SUCCESS);
    ASSERT_EQ(zvfix::ReadJournal(dir).size(), 1u);
    EXPECT_EQ(zvfix::ReadJournal(dir)[0].adapter, 1);
}

TEST_F(SimFault, PartialWriteLandsOnlyItsFirstBytes) {
    auto t = Open({zvfix::FaultSpec::PartialWrite(100)});
    EXPECT_EQ(WriteBa(*t, 0x42), SDERR_UNKNOWN);
    const zvfix::Bytes r = Ba();
    EXPECT_TRUE(std::all_of(r.begin(), r.begin() + 100, [](SD_UINT8 b) { return b == 0x42; }));
    EXPECT_TRUE(std::all_of(r.begin() + 100, r.end(), [](SD_UINT8 b) { return b == 0xFF; }));
    const auto j = zvfix::ReadJournal(dir);
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(std::tuple(j[0].size, j[0].fault), std::tuple(100u, "partial"));
}

TEST_F(SimFault, CorruptWriteReportsSuccessButStoresOtherBytes) {
    auto t = Open({zvfix::FaultSpec::CorruptWrite()});
    EXPECT_EQ(WriteBa(*t, 0x42), SDERR_SUCCESS);
    const zvfix::Bytes r = Ba();
    EXPECT_EQ(std::count(r.begin(), r.end(), 0x42), 255);
    EXPECT_EQ(WriteBa(*t, 0x43), SDERR_SUCCESS);  // only the first write
    EXPECT_EQ(Ba(), zvfix::Bytes(256, 0x43));
    const auto j = zvfix::ReadJournal(dir);
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0].fault, "corrupt");
    EXPECT_NE(j[0].hash, zvfix::JournalHash64(zvfix::Bytes(256, 0x42)));
    EXPECT_EQ(j[1].fault, "none");
}

TEST_F(SimFault, NotActivatedAnswerComesAfterTheDataIsWritten) {
    auto t = Open({zvfix::FaultSpec::NotActivated().OnRegion(0xBA)});
    EXPECT_EQ(WriteBa(*t, 7), SDERR_FLASHED_NOT_ACTIVATED);
    EXPECT_EQ(Ba(), zvfix::Bytes(256, 7));
    // Other regions are not affected.
    EXPECT_EQ(zvfix::SimWriteRegion(*t, 0, 0x13, std::vector<SD_UINT8>(16, 1)), SDERR_SUCCESS);
}

TEST_F(SimFault, ActivationAndActiveRegionAnswers) {
    zvfix::FaultSpec unsupported = zvfix::FaultSpec::ActiveRegionsUnsupported();
    zvfix::FaultSpec zero = zvfix::FaultSpec::ActiveRegionsZero();
    unsupported.count = zero.count = 1;
    auto t = Open({zvfix::FaultSpec::Fail("online_activate", 0x20000075),
                   zvfix::FaultSpec::Fail("region_activate", 0x20000067, 1).OnRegion(0x01), unsupported, zero,
                   zvfix::FaultSpec::Fail("active_regions", 0x20000075, 1)});
    size_t len = 0;
    EXPECT_EQ(t->Request(0, ZVOP_ONLINE_ACTIVATE, {}, {}, &len), SDERR_UNKNOWN);
    const SD_UINT32 r1 = 0x01, r2 = 0x02;
    EXPECT_EQ(t->Request(0, ZVOP_REGION_ACTIVATE, zvapi_bytes(r2), {}, &len), SDERR_SUCCESS);
    EXPECT_EQ(t->Request(0, ZVOP_REGION_ACTIVATE, zvapi_bytes(r1), {}, &len), SDERR_BUSY);
    EXPECT_EQ(t->Request(0, ZVOP_REGION_ACTIVATE, zvapi_bytes(r1), {}, &len), SDERR_SUCCESS);
    // (status, active global regions) of each call in turn.
    auto active = [&] {
        SD_UINT32 st = 0;
        const int regions = zvfix::SimActive(*t, 0, &st).ActiveGlobalRegions;
        return std::tuple(st, regions);
    };
    EXPECT_EQ(std::get<0>(active()), SDERR_NOT_SUPPORTED);
    EXPECT_EQ(active(), std::tuple(SDERR_SUCCESS, 0));
    EXPECT_EQ(std::get<0>(active()), SDERR_UNKNOWN);
    EXPECT_EQ(active(), std::tuple(SDERR_SUCCESS, 1));
}

TEST_F(SimFault, OpenRefusedOnOnePortAndHiddenRegion) {
    auto t = Open({zvfix::FaultSpec::OpenUnsupported(2, 1), zvfix::FaultSpec::HideRegion(0x9E)});
    zvapi_port_ident id{};
    EXPECT_EQ(zvfix::SimGet(*t, 0, ZVOP_OPEN, id), SDERR_SUCCESS);
    EXPECT_EQ(zvfix::SimGet(*t, 1, ZVOP_OPEN, id), SDERR_UNSUPPORTED_VERSION);
    EXPECT_EQ(zvfix::SimGet(*t, 1, ZVOP_OPEN, id), SDERR_UNSUPPORTED_VERSION);
    EXPECT_EQ(zvfix::SimGet(*t, 1, ZVOP_OPEN, id), SDERR_SUCCESS);
    const auto layout = zvfix::SimLayout(*t, 0);
    EXPECT_EQ(zvfix::SimFind(layout, 0x9E), nullptr);
    EXPECT_NE(zvfix::SimFind(layout, 0x9F), nullptr);
}

}  // namespace
