// The on-line Dorne engine called as the dispatch calls it, with the caller
// allowing a reset: activation and its answers, a session that cannot be
// closed, a request that names one region, ids that disagree.
#include "engines/dorne_online_update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>

#include "engines/dorne_engine_support.h"
#include "engines/dorne_offline_update.h"
#include "fixtures/adapters_properties_builder.h"
#include "fixtures/byte_order.h"
#include "fixtures/lists_host.h"
#include "fixtures/memo_block_builder.h"
#include "fixtures/multiboot_image_builder.h"
#include "image/flash_memo_block.h"
#include "image/option_rom_request.h"
#include "image/region_io.h"
#include "support/e2e_support.h"
#include "support/engine_run.h"
#include "support/failing_alloc.h"
#include "support/plain_region_hashes.h"

namespace {

using zvfix::ListsHost;

class DorneOnline : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /tmp";
        zvfix::AdapterSpec& a = host.AddChip25TwoPort();
        a.subSystemId = 0x0289;
        a.SetImageStatus(1, 7, 0, 3);
        // The running firmware's attribute word is the new firmware's, so the
        // library lets the new set be activated on line.
        a.fwAttributes = 0x00000C0D0000A0B0ULL;
        image = dir.Path() + "/mbi.bin";
        const zvfix::Bytes bytes = zvfix::MakeDorneImage({0x2261, 0x1A77, 0x0289, 1});
        zvfix::WriteBytes(image, bytes);
    }
    void TearDown() override { freeUserOptionROMReq(); }

    SD_INT32 Update(SD_UINT32 region = OPTROM_REGION_ALL) {
        EXPECT_EQ(addUserOptionROMRequest("all", image.c_str()), 0);
        g_ptrOptionROMRequest->Region = region;
        return DorneOnlineFlashUpdate(ListsHost::Ports().at(0), image.c_str(), 0);
    }
    std::vector<zvfix::JournalEntry> Events(const ListsHost& lists) const {
        return zvfix::ReadJournalEvents(lists.Dir() + "/host");
    }
    static int Count(const std::vector<zvfix::JournalEntry>& events, const std::string& op) {
        int n = 0;
        for (const auto& e : events) n += e.op == op;
        return n;
    }
    std::string Table() const { return zvfix::AdapterTable({zvfix::TableRow(0x0289, 0x1A77)}); }

    zvfix::HostBuilder host;
    zvtest::TempDir dir;
    std::string image;
};

TEST_F(DorneOnline, WithResetAllowedTheNewSetIsActivatedOnLine) {
    ListsHost lists(host, Table());
    EXPECT_EQ(Update(), DORNE_SUCCESS);
    const auto events = Events(lists);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(Count(events, "online_activate"), 1);
    EXPECT_NE(events.back().op, "write") << "activated after the last write";
    // Region writes never reset the adapter on their own (the memo block's writer does).
    for (const auto& e : events) {
        if (e.op == "write" && e.region != 0xDF) {
            EXPECT_EQ(e.disableReset, 1u) << std::hex << e.region;
        }
    }
}

TEST_F(DorneOnline, ActivationAnswersGiveTheirStatuses) {
    const std::pair<uint32_t, SD_INT32> answers[] = {
        {0x20000063, DORNE_ACTIVATION_REJECTED}, {0x20000100, DORNE_SUCCESS_REBOOT}, {5, DORNE_ACTIVATION_FAILED}};
    for (const auto& [answer, status] : answers) {
        zvfix::HostBuilder h = host;
        h.adapters[0].faults.push_back(zvfix::FaultSpec::Fail("online_activate", answer));
        ListsHost lists(h, Table());
        EXPECT_EQ(Update(), status) << std::hex << answer;
        freeUserOptionROMReq();
    }
}

// The set and its records are in flash: a session that cannot be closed
// still means "done, reboot", never plain success, and nothing is activated.
TEST_F(DorneOnline, ASessionThatCannotBeClosedAfterACompleteWriteIs201) {
    host.adapters[0].faults.push_back(zvfix::FaultSpec::Fail("flash_update_end", 0x200000C1));
    ListsHost lists(host, Table());
    EXPECT_EQ(Update(), DORNE_SUCCESS_REBOOT);
    EXPECT_EQ(Count(Events(lists), "online_activate"), 0);
    EXPECT_EQ(zvfix::ReadRegion(lists.Dir() + "/host", 0, 0x96)[0], 1);
}

TEST_F(DorneOnline, ARequestForOneRegionWritesNothingAndFails) {
    ListsHost lists(host, Table());
    EXPECT_EQ(Update(OPTROM_REGION_FIRMWARE), DORNE_NOTHING_WRITTEN);
    EXPECT_TRUE(Events(lists).empty());
}

// Without either record the running set is unknown: nothing is written.
TEST_F(DorneOnline, NeitherRecordReadableRefusesBeforeTheSession) {
    host.adapters[0].faults.push_back(zvfix::FaultSpec::Fail("flash_read", 5).OnRegion(0x95));
    host.adapters[0].faults.push_back(zvfix::FaultSpec::Fail("flash_read", 5).OnRegion(0x96));
    ListsHost lists(host, Table());
    EXPECT_EQ(Update(), DORNE_REGION_UNREADABLE);
    EXPECT_TRUE(Events(lists).empty());
}

// The library holds the running boot code smaller than the layout names it:
// the backup its BIOS defaults come from would not be whole. Both engines
// refuse before anything is written.
TEST_F(DorneOnline, ABootCodeReadShortOfItsLayoutSizeIsRefusedBeforeAnyWrite) {
    host.adapters[0].ShadowRegion(0x07);
    ListsHost lists(host, Table());
    EXPECT_EQ(Update(), DORNE_REGION_UNREADABLE);
    EXPECT_EQ(DorneFlashUpdate(ListsHost::Ports().at(0), image.c_str(), 1), DORNE_REGION_UNREADABLE);
    EXPECT_TRUE(Events(lists).empty());
}

TEST_F(DorneOnline, NvramIdsThatDisagreeWithTheBusAreRefused) {
    host.adapters[0].ports[0].nvram = zvfix::MakeNvram(0x1A77, 0x0299);
    ListsHost lists(host, Table());
    EXPECT_EQ(Update(), DORNE_SSID_MISMATCH);
    EXPECT_TRUE(Events(lists).empty());
}

// An image that is no complete set for the adapter is refused by the
// validation both engines share, before the session and any write. Off line
// with the primary set booting already (masks 1/0) the set is rewritten in
// place, so an image that merely lacks a component is no broken set there.
TEST_F(DorneOnline, BothEnginesRefuseAnImageThatIsNoCompleteSetBeforeAnyWrite) {
    const zvfix::MultibootImageSpec good = zvfix::DorneImageSpec({0x2261, 0x1A77, 0x0289, 1});
    // No entry for boot code or RISC firmware (one for region 0 is never written).
    const auto lacking = [](zvfix::MbiVariant v) {
        return v.spec.Component(0x07) == nullptr || v.spec.Component(0x01) == nullptr;
    };
    for (const auto& [online, primaryBoots] : {std::pair{true, true}, {false, false}, {false, true}}) {
        zvfix::HostBuilder h = host;
        if (!primaryBoots) h.adapters[0].SetImageStatus(0, 3, 1, 7);
        // One host for every variant: a refused image leaves it as it was.
        ListsHost lists(h, Table());
        for (const zvfix::MbiVariant& v : zvfix::BrokenSetVariants(good, 25)) {
            if (!online && primaryBoots && lacking(v)) continue;
            zvtest::PrepareEngineRun(image, zvfix::BuildMultibootImage(v.spec), OPTROM_REGION_ALL);
            const SD_INT32 status = online ? DorneOnlineFlashUpdate(ListsHost::Ports().at(0), image.c_str(), 1)
                                           : DorneFlashUpdate(ListsHost::Ports().at(0), image.c_str(), 1);
            const std::string output = zvtest::ReadFile(GetOutPutFile());
            EXPECT_EQ(status, 507) << v.name << (online ? " on line" : " off line");
            EXPECT_TRUE(zvtest::Has(output, "Validating Flash Image File... Failed\n"
                                            "Invalid flash image (Wrong flash component)!\n"))
                << v.name << "\n" << output;
            EXPECT_FALSE(zvtest::Has(output, "Please wait")) << v.name;
            EXPECT_TRUE(Events(lists).empty()) << v.name;
            freeUserOptionROMReq();
        }
    }
}

// Off line with the primary set booting (masks 1/0) the set is written in
// place: an image without some components writes those it has and leaves the
// others on flash as they were. Where the records switch to the primary set
// (masks 0/1) such an image stays refused, nothing written.
TEST_F(DorneOnline, OfflineInPlaceLeavesTheComponentsAnImageLacksOnFlash) {
    const zvfix::MultibootImageSpec good = zvfix::DorneImageSpec({0x2261, 0x1A77, 0x0289, 1});
    static constexpr uint32_t kSet1[] = {0x9E, 0x07, 0xE1, 0xD3, 0xD1, 0x66, 0x01};
    const std::vector<std::vector<uint32_t>> keeps = {{0x07}, {0x9E, 0xE1, 0xD3, 0xD1, 0x66, 0x01},
                                                      {0x9E, 0x07, 0xE1, 0xD3, 0xD1, 0x66}};
    for (const std::vector<uint32_t>& keep : keeps) {
        zvfix::MultibootImageSpec spec = good;
        std::erase_if(spec.components, [&](const zvfix::MbiComponent& c) {
            return std::find(keep.begin(), keep.end(), c.region) == keep.end();
        });
        SCOPED_TRACE(::testing::PrintToString(keep));
        for (const bool primaryBoots : {true, false}) {
            zvfix::HostBuilder h = host;
            if (!primaryBoots) h.adapters[0].SetImageStatus(0, 3, 1, 7);
            ListsHost lists(h, Table());
            const std::string hostDir = lists.Dir() + "/host";
            std::map<uint32_t, zvfix::Bytes> before;
            for (const uint32_t code : kSet1) before[code] = zvfix::ReadRegion(hostDir, 0, code);
            zvtest::PrepareEngineRun(image, zvfix::BuildMultibootImage(spec), OPTROM_REGION_ALL);
            const SD_INT32 status = DorneFlashUpdate(ListsHost::Ports().at(0), image.c_str(), 1);
            const std::string output = zvtest::ReadFile(GetOutPutFile());
            if (!primaryBoots) {
                EXPECT_EQ(status, 507) << output;
                EXPECT_TRUE(Events(lists).empty());
                freeUserOptionROMReq();
                continue;
            }
            EXPECT_EQ(status, DORNE_SUCCESS) << output;
            std::vector<uint32_t> setWrites;
            for (const auto& e : zvfix::ReadJournal(hostDir))
                if (before.count(e.region) != 0) setWrites.push_back(e.region);
            std::vector<uint32_t> expected;
            for (const uint32_t code : kSet1)
                if (std::find(keep.begin(), keep.end(), code) != keep.end()) expected.push_back(code);
            EXPECT_EQ(setWrites, expected);
            for (const uint32_t code : kSet1) {
                if (std::find(keep.begin(), keep.end(), code) == keep.end()) {
                    EXPECT_EQ(zvfix::ReadRegion(hostDir, 0, code), before[code]) << std::hex << code;
                }
            }
            EXPECT_EQ(zvfix::ReadRegion(hostDir, 0, 0x95)[0], 1) << "the primary set still boots";
            // The primary runs too: nothing to hold, no record written.
            for (const auto& e : zvfix::ReadJournal(hostDir)) EXPECT_TRUE(e.region != 0x95 && e.region != 0x96);
            freeUserOptionROMReq();
        }
    }
}

// Off line with the secondary set running, a second run before the reboot
// finds the records starting the primary the first run wrote. Before its
// first region write it makes them name the running set (the secondary's
// record first), so a failed write leaves the whole secondary to start from;
// a whole run ends with the records the first one left, and a hold that
// fails writes nothing else. A memo block that cannot be made to name no
// version ends the run with its own status, the records not held.
TEST_F(DorneOnline, OfflineSecondRunHoldsTheRecordsOnTheRunningSetFirst) {
    host.adapters[0].SetImageStatus(0, 3, 1, 9);
    // The third run's memo clearing fails, the fourth run's hold at its first
    // write, the fifth run's boot-code write.
    host.adapters[0].faults.push_back(zvfix::FaultSpec::Fail("flash_write", 5, 1).OnRegion(0xDF).Skip(3));
    host.adapters[0].faults.push_back(zvfix::FaultSpec::Fail("flash_write", 0x20000073, 1).OnRegion(0x96).Skip(3));
    host.adapters[0].faults.push_back(zvfix::FaultSpec::Fail("flash_write", 0x20000075).OnRegion(0x07).Skip(2));
    ListsHost lists(host, Table());
    const std::string hostDir = lists.Dir() + "/host";
    const auto record = [&](uint32_t code) {
        const zvfix::Bytes r = zvfix::ReadRegion(hostDir, 0, code);
        return zvfix::Bytes(r.begin(), r.begin() + 16);
    };
    const auto run = [&] {
        const size_t before = zvfix::ReadJournal(hostDir).size();
        zvtest::PrepareEngineRun(image, zvfix::MakeDorneImage({0x2261, 0x1A77, 0x0289, 1}), OPTROM_REGION_ALL);
        const SD_INT32 status = DorneFlashUpdate(ListsHost::Ports().at(0), image.c_str(), 1);
        freeUserOptionROMReq();
        std::vector<uint32_t> regions;
        const auto journal = zvfix::ReadJournal(hostDir);
        for (size_t i = before; i < journal.size(); ++i) regions.push_back(journal[i].region);
        return std::make_pair(status, regions);
    };
    const auto [firstStatus, firstWrites] = run();
    ASSERT_EQ(firstStatus, DORNE_SUCCESS);
    ASSERT_GE(firstWrites.size(), 2u);
    EXPECT_NE(firstWrites[0], 0x96u) << "the first run finds the running set named: nothing held";
    EXPECT_NE(firstWrites[1], 0x96u) << "the first run finds the running set named: nothing held";
    const zvfix::Bytes primary = record(0x95), secondary = record(0x96);
    EXPECT_EQ(primary, zvfix::MakeImageStatusRecord(1, 9, zvfix::kSigImageStatus25));

    const auto [secondStatus, secondWrites] = run();
    EXPECT_EQ(secondStatus, DORNE_SUCCESS);
    // The memo block the first run left names its version: it names none
    // first (0xDF), then the hold.
    ASSERT_GE(secondWrites.size(), 4u);
    EXPECT_EQ(std::vector<uint32_t>(secondWrites.begin(), secondWrites.begin() + 4),
              std::vector<uint32_t>({0xDF, 0x96, 0x95, 0x9E}));
    EXPECT_EQ(record(0x95), primary);
    EXPECT_EQ(record(0x96), secondary);

    const auto [memoStatus, memoWrites] = run();
    EXPECT_EQ(memoStatus, FLASH_MEMO_WRITE_FAILED);
    EXPECT_TRUE(memoWrites.empty());
    EXPECT_TRUE(zvtest::ReadFile(GetOutPutFile()).ends_with("Updating Adapter Flash Memo Block... Failed\n"));

    // A hold that fails ends the run before any region is written (only the
    // memo block, naming no version, went before it).
    const auto [heldStatus, heldWrites] = run();
    EXPECT_EQ(heldStatus, DORNE_PRIMARY_STATUS_FAILED);
    EXPECT_EQ(heldWrites, std::vector<uint32_t>({0xDF}));
    EXPECT_EQ(record(0x95), primary);

    const auto [thirdStatus, thirdWrites] = run();
    EXPECT_EQ(thirdStatus, DORNE_BOOT_CODE_FAILED);
    EXPECT_EQ(record(0x96), zvfix::MakeImageStatusRecord(1, 10, zvfix::kSigImageStatus25));
    EXPECT_EQ(record(0x95)[0] & 1, 0) << "the secondary set starts next";
}

// Memory running out while the memo block's clearing fetches the layout: the
// block may name any version, so the run ends with the memo writer's status
// before any write.
TEST_F(DorneOnline, NoMemoryForTheMemoLayoutEndsTheRunBeforeAnyWrite) {
    host.adapters[0].SetRegion(0xDF, zvfix::MakeMemoRegion({.mbi = {6, 4, 2, 0}}));
    ListsHost lists(host, Table());
    SDMDevice* port = ListsHost::Ports().at(0);
    SDMOptRomLayoutCopy layout;
    SD_UINT32 size = 0;
    ASSERT_EQ(GetOptionRomRegionLayout(port, &layout, 0xDF, &size), 0u);
    const std::size_t layoutBytes = SDM_OPT_ROM_LAYOUT_BYTES(layout.Regions.size());
    // Counted: the layout records the image checks fetch before the clearing's own.
    zvtest::PrepareEngineRun(image, zvfix::MakeDorneImage({0x2261, 0x1A77, 0x0289, 1}), OPTROM_REGION_ALL);
    zvtest::CountAllocationsOf(layoutBytes);
    ASSERT_EQ(DorneOfflineCheckImage(port, image.c_str()), DORNE_SUCCESS);
    const long checks = zvtest::CountedAllocations();
    zvtest::CountAllocationsOf(0);
    zvtest::ClearLogs();
    ResetOutputChannels();
    ASSERT_EQ(SetOutOutFile(), 0);

    zvtest::FailNthAllocationOf(layoutBytes, checks + 1);
    EXPECT_EQ(DorneFlashUpdate(port, image.c_str(), 1), FLASH_MEMO_WRITE_FAILED);
    zvtest::FailNthAllocationOf(0, 0);
    EXPECT_TRUE(zvfix::ReadJournal(lists.Dir() + "/host").empty());
    const std::string out = zvtest::ReadFile(GetOutPutFile());
    EXPECT_TRUE(out.ends_with("Please wait...\nUpdating Adapter Flash Memo Block... Failed\n")) << out;
}

// Both engines make the memo block name no version before their first write
// and until their own last write, so a run cut anywhere leaves the rerun no
// version to call up to date: its version bytes zero, its checksum right,
// every other byte of the region as found. The last write keeps what the
// block held besides the versions (the multiboot build byte, the bytes after
// the block). A memo write that fails ends the run before anything else is
// written.
TEST_F(DorneOnline, TheMemoBlockNamesNoVersionFromTheFirstWriteUntilItsOwn) {
    zvfix::Bytes memo = zvfix::MakeMemoRegion({.mbi = {6, 4, 2, 0x2A}});
    memo[0x100] = 0x5A;
    const auto sum = [](const zvfix::Bytes& r) {
        uint32_t s = 0;
        for (size_t i = 0; i < 48; i += 4) s += zvfix::Le32(r, i);
        return s;
    };
    const auto writes = [](const std::string& hostDir) {
        std::vector<uint32_t> regions;
        for (const auto& e : zvfix::ReadJournal(hostDir)) regions.push_back(e.region);
        return regions;
    };
    const auto update = [&](bool online) {
        if (online) return Update();
        EXPECT_EQ(addUserOptionROMRequest("all", image.c_str()), 0);
        return DorneFlashUpdate(ListsHost::Ports().at(0), image.c_str(), 1);
    };
    for (const bool online : {true, false}) {
        SCOPED_TRACE(online ? "on line" : "off line");
        // The records fail: the block names no version, every other byte
        // kept (the build byte too: a rerun builds its block from this one).
        zvfix::HostBuilder h = host;
        if (!online) {
            h.libraryVersion = "v6.03 build12";
            h.adapters[0].SetImageStatus(0, 3, 1, 9);
        }
        h.adapters[0].SetRegion(0xDF, memo);
        h.adapters[0].faults.push_back(zvfix::FaultSpec::Fail("flash_write", 5, 1).OnRegion(online ? 0x96 : 0x95));
        {
            ListsHost lists(h, Table());
            const std::string hostDir = lists.Dir() + "/host";
            EXPECT_EQ(update(online), online ? DORNE_SECONDARY_STATUS_FAILED : DORNE_PRIMARY_STATUS_FAILED);
            freeUserOptionROMReq();
            const std::vector<uint32_t> w = writes(hostDir);
            ASSERT_FALSE(w.empty());
            EXPECT_EQ(w.front(), 0xDFu);
            EXPECT_EQ(std::count(w.begin(), w.end(), 0xDFu), 1);
            EXPECT_EQ(zvfix::ReadRegion(hostDir, 0, 0xDF), zvfix::MemoRegionNamingNoVersion(memo));
        }
        // The memo write fails: nothing after it.
        h.adapters[0].faults = {zvfix::FaultSpec::Fail("flash_write", 5, 1).OnRegion(0xDF)};
        {
            ListsHost lists(h, Table());
            const std::string hostDir = lists.Dir() + "/host";
            EXPECT_EQ(update(online), FLASH_MEMO_WRITE_FAILED);
            freeUserOptionROMReq();
            EXPECT_TRUE(writes(hostDir).empty());
            EXPECT_EQ(zvfix::ReadRegion(hostDir, 0, 0xDF), memo);
        }
        // A whole run: the new version, the build byte and the bytes after
        // the block as found. A memo write answered "written, not activated"
        // (the clearing's or the last) is written: the run ends as a plain
        // one does, on line with the new set activated.
        zvfix::FaultSpec clearing = zvfix::FaultSpec::NotActivated().OnRegion(0xDF), lastWrite = clearing;
        clearing.count = 1;
        lastWrite.Skip(1);
        for (const auto& [what, faults] : {std::pair<const char*, std::vector<zvfix::FaultSpec>>{"plain", {}},
                                           {"clearing not activated", {clearing}},
                                           {"last write not activated", {lastWrite}}}) {
            SCOPED_TRACE(what);
            h.adapters[0].faults = faults;
            ListsHost lists(h, Table());
            const std::string hostDir = lists.Dir() + "/host";
            zvtest::ClearLogs();
            ResetOutputChannels();
            ASSERT_EQ(SetOutOutFile(), 0);
            EXPECT_EQ(update(online), DORNE_SUCCESS);
            freeUserOptionROMReq();
            const std::string out = zvtest::ReadFile(GetOutPutFile());
            EXPECT_TRUE(zvtest::Has(out, "Updating Adapter Flash Memo Block... Success\n")) << out;
            EXPECT_EQ(Count(Events(lists), "online_activate"), online ? 1 : 0);
            const std::vector<uint32_t> w = writes(hostDir);
            EXPECT_EQ(std::count(w.begin(), w.end(), 0xDFu), 2);
            const zvfix::Bytes last = zvfix::ReadRegion(hostDir, 0, 0xDF);
            EXPECT_EQ(zvfix::Bytes(last.begin() + 20, last.begin() + 24), zvfix::Bytes({6, 10, 12, 0x2A}));
            EXPECT_EQ(sum(last), 0u) << "checksum";
            EXPECT_EQ(zvfix::Bytes(last.begin() + 48, last.end()), zvfix::Bytes(memo.begin() + 48, memo.end()));
        }
    }
}

// Images no set check may refuse: no MPI or PEP firmware (the running
// copies serve both sets), a second entry for a region, a type the engines
// never write, components sharing bytes. Both engines write each whole,
// every component copied as it is with exactly the bytes its entry names.
TEST_F(DorneOnline, BothEnginesWriteSoundImagesEachComponentWithTheBytesItsEntryNames) {
    static constexpr uint32_t kPlain[] = {0x01, 0x66, 0x9E, 0xD1, 0xD3, 0xE1};
    const zvfix::MultibootImageSpec good = zvfix::DorneImageSpec({0x2261, 0x1A77, 0x0289, 1});
    for (const bool online : {true, false}) {
        for (const zvfix::MbiVariant& v : zvfix::SoundSetVariants(good, 25)) {
            SCOPED_TRACE(std::string(v.name) + (online ? " on line" : " off line"));
            ListsHost lists(host, Table());
            const zvfix::Bytes bytes = zvfix::BuildMultibootImage(v.spec);
            zvtest::PrepareEngineRun(image, bytes, OPTROM_REGION_ALL);
            const SD_INT32 status = online ? DorneOnlineFlashUpdate(ListsHost::Ports().at(0), image.c_str(), 1)
                                           : DorneFlashUpdate(ListsHost::Ports().at(0), image.c_str(), 1);
            EXPECT_EQ(status, online ? DORNE_SUCCESS_REBOOT : DORNE_SUCCESS)
                << zvtest::ReadFile(GetOutPutFile());
            const auto events = Events(lists);
            for (const uint64_t hash : zvtest::PlainRegionHashes(bytes, 25, kPlain))
                EXPECT_TRUE(std::any_of(events.begin(), events.end(),
                                        [hash](const zvfix::JournalEntry& e) { return e.hash == hash; }))
                    << std::hex << hash;
            freeUserOptionROMReq();
        }
    }
}

}  // namespace
