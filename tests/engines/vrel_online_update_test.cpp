// The chip-type-27 engine in process over a simulated host: activation
// outcomes, requests and images that must write nothing, the set switch on
// its own, and what each leaves in flash.
#include "engines/vrel_online_update.h"

#include "engines/vrel_image_status.h"

#include "core/active_regions.h"
#include "core/image_status.h"
#include "core/sdm_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fixtures/adapters_properties_builder.h"
#include "fixtures/board_template_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/image_component_builder.h"
#include "fixtures/lists_host.h"
#include "fixtures/memo_block_builder.h"
#include "frontend/output.h"
#include "image/option_rom_request.h"
#include "support/e2e_support.h"
#include "support/engine_run.h"
#include "support/flash_op_log.h"
#include "support/plain_region_hashes.h"
#include "support/sleep_log.h"

namespace {

using zvfix::Bytes;
using zvfix::ListsHost;
using zvtest::Has;

constexpr uint16_t kVendor = 0x1A77;
constexpr uint16_t kSsid = 0x02A9;
constexpr uint64_t kImageFwAttributes = 0x00000C0D0000A0B0;   // the firmware builder's attribute words

zvfix::MultibootImageSpec Spec() {
    return zvfix::VrelImageSpecWithTables({.deviceId = 0x2281, .ssvid = kVendor, .ssdid = kSsid, .cardType = 1});
}

struct Write {
    uint32_t region;
    uint64_t hash;
    bool operator==(const Write&) const = default;
};

class VrelEngine : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /tmp and /var/log";
    }
    void TearDown() override {
        freeUserOptionROMReq();
        zvtest::StopLoggingFlashOps();
    }

    // Runs the engine `runs` times on a fresh chip-type-27 host whose adapter
    // has `faults`; what the last run did is kept.
    SD_INT32 Update(const Bytes& image, std::vector<zvfix::FaultSpec> faults = {}, SD_UINT16 disableReset = 1,
                    SD_UINT32 region = OPTROM_REGION_ALL, SD_UINT32 primaryOnly = 0, int runs = 1) {
        zvfix::HostBuilder h;
        zvfix::AdapterSpec& a = h.AddChip27(0x2281);
        a.subSystemId = kSsid;
        a.faults = std::move(faults);
        // The running firmware has the image firmware's attributes: on-line activation may go ahead.
        a.fwAttributes = kImageFwAttributes;
        if (shape) shape(a);
        flashOps = zvtest::LogFlashOps();
        ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(kSsid, kVendor)}));
        const std::string host = lists.Dir() + "/host";
        const std::string file = dir.Path() + "/mbi.bin";
        SD_INT32 status = 0;
        size_t before = 0;
        for (int run = 0; run < runs; ++run) {
            freeUserOptionROMReq();
            before = zvfix::ReadJournalEvents(host).size();
            zvtest::PrepareEngineRun(file, run + 1 < runs && earlierImage ? *earlierImage : image, region);
            flashOps->ops.clear();
            status = VrelOnlineFlashUpdate(ListsHost::Ports().at(0), file.c_str(), disableReset, primaryOnly);
        }
        output = zvtest::ReadFile(GetOutPutFile());
        memo2 = zvfix::ReadRegion(host, 0, 0x124);
        writes.clear();
        events.clear();
        const std::vector<zvfix::JournalEntry> journal = zvfix::ReadJournalEvents(host);
        for (size_t i = before; i < journal.size(); ++i) {
            events.push_back(journal[i].op);
            if (journal[i].op == "write") writes.push_back({journal[i].region, journal[i].hash});
        }
        return status;
    }
    std::vector<uint32_t> WrittenRegions() const {
        std::vector<uint32_t> regions;
        for (const Write& w : writes) regions.push_back(w.region);
        return regions;
    }

    bool Activated() const { return std::find(events.begin(), events.end(), "online_activate") != events.end(); }

    zvtest::TempDir dir;
    std::string output;
    std::vector<Write> writes;
    std::vector<std::string> events;
    std::function<void(zvfix::AdapterSpec&)> shape;   // the adapter before the run, beyond the defaults
    std::optional<Bytes> earlierImage;                 // written by the runs before the last, when set
    std::shared_ptr<zvtest::FlashOpLog> flashOps;      // the last run's flash reads and writes
    Bytes memo2;                                       // set 2's memo region after the run
};

// A memo region of set 1 or 2: the block naming `mbi` (with its build byte),
// and bytes of the set's own after it.
Bytes MemoRegion(std::array<uint8_t, 4> mbi, uint8_t tail) { return zvfix::MakeMemoRegionWithTail({.mbi = mbi}, tail); }

// The memo region without what each write stamps: checksum and update time.
Bytes Unstamped(Bytes r) {
    std::fill(r.begin() + 12, r.begin() + 16, uint8_t{0});
    std::fill(r.begin() + 36, r.begin() + 44, uint8_t{0});
    return r;
}

TEST_F(VrelEngine, ActivationFollowsTheCallerAndTheAdaptersAnswers) {
    const Bytes image = zvfix::BuildMultibootImage(Spec());
    EXPECT_EQ(Update(image, {}, 0), 0);
    EXPECT_TRUE(Activated());
    EXPECT_TRUE(Has(output, "Option ROM update complete. Changes have been saved to both ports of this HBA.\n"
                            "You must reboot in order for changes to take effect.\n"))
        << output;

    EXPECT_EQ(Update(image, {zvfix::FaultSpec::Fail("online_activate", 0x20000063)}, 0), VREL_ACTIVATE_REBOOT);
    EXPECT_TRUE(Has(output, "Flash update complete. Changes have been saved to all ports of this HBA.\n"));
    EXPECT_EQ(Update(image, {zvfix::FaultSpec::Fail("online_activate", 5)}, 0), VREL_ACTIVATE_FAILED);
    EXPECT_TRUE(Has(output, "Flash update failed with HBA (Instance 0 - KV2772) with error (524!\n")) << output;

    // A write whose settings wait for a reboot: no activation, whatever the caller allowed.
    zvfix::FaultSpec notActivated = zvfix::FaultSpec::NotActivated();
    notActivated.count = 1;
    EXPECT_EQ(Update(image, {notActivated}, 0), VREL_SUCCESS_REBOOT);
    EXPECT_FALSE(Activated());
    EXPECT_EQ(writes.size(), 18u);
    // The set's memo block names a version: a hold and a last memo write
    // answered so are written too. The hold, written as a component is,
    // leaves the new set to the reboot as one does; the last write, over a
    // complete set, does not keep it from its activation.
    shape = [](zvfix::AdapterSpec& a) { a.SetRegion(0x124, MemoRegion({6, 4, 2, 7}, 0x22)); };
    zvfix::FaultSpec memoHold = zvfix::FaultSpec::NotActivated().OnRegion(0x124), memoLast = memoHold;
    memoHold.count = 1;
    memoLast.Skip(1);
    for (const auto& [fault, status] : {std::pair{memoHold, VREL_SUCCESS_REBOOT}, {memoLast, 0}}) {
        SCOPED_TRACE(status);
        EXPECT_EQ(Update(image, {fault}, 0), status) << output;
        EXPECT_EQ(Activated(), status == 0);
        const std::vector<uint32_t> w = WrittenRegions();
        EXPECT_EQ(std::count(w.begin(), w.end(), 0x124u), 2);
        EXPECT_EQ(Bytes(memo2.begin() + 20, memo2.begin() + 24), Bytes({7, 2, 3, 7}));
        EXPECT_EQ(zvfix::WordSum32(std::span<const uint8_t>(memo2).first(48)), 0u);
        EXPECT_EQ(memo2[0x100], 0x22);
    }
    shape = nullptr;
    EXPECT_EQ(Update(image, {}, 1), VREL_SUCCESS_REBOOT);
    EXPECT_FALSE(Activated());
    // A session that cannot be closed: complete, but nothing is activated.
    EXPECT_EQ(Update(image, {zvfix::FaultSpec::Fail("flash_update_end", 5)}, 0), VREL_SUCCESS_REBOOT);
    EXPECT_FALSE(Activated());
    EXPECT_EQ(writes.size(), 18u);
}

TEST_F(VrelEngine, PldmPackageAndPrimaryOnlyWriteTheSameRegions) {
    const Bytes image = zvfix::BuildMultibootImage(Spec());
    ASSERT_EQ(Update(image), VREL_SUCCESS_REBOOT);
    const std::vector<Write> plain = writes;
    ASSERT_EQ(Update(zvfix::WrapInPldmPackage(image), {}, 1, OPTROM_REGION_ALL, 1), VREL_SUCCESS_REBOOT) << output;
    // Byte for byte, but for what carries the time of the update: the memo
    // block and the boot code with the stamped table after it.
    ASSERT_EQ(writes.size(), plain.size());
    for (size_t i = 0; i < plain.size(); ++i) {
        EXPECT_EQ(writes[i].region, plain[i].region);
        if (plain[i].region == 0x124 || plain[i].region == 0x09 || plain[i].region == 0x0A) continue;   // stamped
        EXPECT_EQ(writes[i].hash, plain[i].hash) << std::hex << plain[i].region;
    }
}

TEST_F(VrelEngine, NothingIsWrittenForAnotherRequestOrAnImageThatDoesNotFit) {
    const Bytes image = zvfix::BuildMultibootImage(Spec());
    // Only the firmware requested: no region of the image is written, and
    // that is no update.
    EXPECT_EQ(Update(image, {}, 1, OPTROM_REGION_FIRMWARE), VREL_NOTHING_WRITTEN);
    EXPECT_TRUE(writes.empty());
    EXPECT_TRUE(Has(output, "No flash region was written to HBA instance 0 - KV2772!\n")) << output;
    EXPECT_FALSE(Has(output, "Flash update complete"));

    zvfix::MultibootImageSpec big = Spec();
    big.Component(0x13)->data.resize(0x10001, 0);
    zvfix::MultibootImageSpec boot = Spec();
    // Boot code filling its region leaves no room for the table after it.
    boot.Component(0x07)->data.resize(0x40000, 0xFF);
    for (const auto& s : {big, boot}) {
        EXPECT_EQ(Update(zvfix::BuildMultibootImage(s)), 34);
        EXPECT_TRUE(writes.empty());
        EXPECT_TRUE(Has(output, "Validating Flash Image File... Incompatible flash image (Region size mismatched)!\n"))
            << output;
    }

    // A component exactly as large as its region (the boot code and its
    // expansion with the table after them) is written to the other set's
    // copy; one byte more is refused before any write.
    struct Fit {
        uint16_t region;
        uint32_t counterpart;
        size_t room;
    };
    const size_t table = zvfix::MbiTableLength(Spec());
    for (const Fit& f : {Fit{0x13, 0x107, 0x10000}, Fit{0xD2, 0x105, 0x10000}, Fit{0x07, 0x09, 0x40000 - table},
                         Fit{0x11, 0x0A, 0x40000 - table}}) {
        for (const size_t over : {0, 1}) {
            SCOPED_TRACE(::testing::Message() << std::hex << f.region << " +" << over);
            zvfix::MultibootImageSpec s = Spec();
            Bytes& data = s.Component(f.region)->data;
            data.resize(f.room + over, 0xA5);
            const SD_INT32 status = Update(zvfix::BuildMultibootImage(s));
            if (over != 0) {
                EXPECT_EQ(status, 34);
                EXPECT_TRUE(writes.empty());
                continue;
            }
            EXPECT_EQ(status, VREL_SUCCESS_REBOOT) << output;
            EXPECT_EQ(std::count_if(writes.begin(), writes.end(),
                                    [&f](const Write& w) { return w.region == f.counterpart; }),
                      1);
            // Copied as it is: every byte of the region is the component's.
            if (f.region == 0xD2) {
                EXPECT_TRUE(std::find(writes.begin(), writes.end(), Write{0x105, zvfix::JournalHash64(data)}) !=
                            writes.end());
            }
        }
    }
}

// An image that is no complete set for the adapter is refused by the
// validation before the session and any write.
TEST_F(VrelEngine, AnImageThatIsNoCompleteSetIsRefusedBeforeAnyWrite) {
    zvfix::HostBuilder h;
    zvfix::AdapterSpec& a = h.AddChip27(0x2281);
    a.subSystemId = kSsid;
    // One host for every variant: a refused image leaves it as it was.
    ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(kSsid, kVendor)}));
    const std::string file = dir.Path() + "/mbi.bin";
    for (const zvfix::MbiVariant& v : zvfix::BrokenSetVariants(Spec(), 27)) {
        zvtest::PrepareEngineRun(file, zvfix::BuildMultibootImage(v.spec), OPTROM_REGION_ALL);
        EXPECT_EQ(VrelOnlineFlashUpdate(ListsHost::Ports().at(0), file.c_str(), 1, 0), 507) << v.name;
        output = zvtest::ReadFile(GetOutPutFile());
        EXPECT_TRUE(zvfix::ReadJournalEvents(lists.Dir() + "/host").empty()) << v.name;
        EXPECT_TRUE(
            Has(output, "Validating Flash Image File... Failed\nInvalid flash image (Wrong flash component)!\n"))
            << v.name << "\n" << output;
        EXPECT_FALSE(Has(output, "Please wait")) << v.name;
        freeUserOptionROMReq();
    }
}

// Images no set check may refuse: a second entry for a region, a type the
// engine never writes (also empty, also inside the table, and one its layout
// lacks), components sharing bytes. Each is written whole, every component
// copied as it is with exactly the bytes its entry names.
TEST_F(VrelEngine, SoundImagesAreWrittenEachComponentWithTheBytesItsEntryNames) {
    static constexpr uint32_t kPlain[] = {0x01, 0x9E, 0xD1, 0xD2, 0xD3, 0x101, 0x102, 0x103};
    for (const zvfix::MbiVariant& v : zvfix::SoundSetVariants(Spec(), 27)) {
        const Bytes image = zvfix::BuildMultibootImage(v.spec);
        EXPECT_EQ(Update(image), VREL_SUCCESS_REBOOT) << v.name << "\n" << output;
        for (const uint64_t hash : zvtest::PlainRegionHashes(image, 27, kPlain))
            EXPECT_TRUE(std::any_of(writes.begin(), writes.end(), [hash](const Write& w) { return w.hash == hash; }))
                << v.name << ": " << std::hex << hash;
    }
}

// The library holds an active region whose settings carry over smaller than
// the layout names it: its copy would not be whole. Refused before the
// session and any write.
TEST_F(VrelEngine, AnActiveRegionReadShortOfItsLayoutSizeIsRefusedBeforeAnyWrite) {
    const std::pair<uint32_t, std::string> cases[] = {
        {0x07, "Unable to read FC boot code region of adapter 0 (KV2772)!\n"},
        {0xBA, "Unable to read FC Brd config region of adapter 0 (KV2772)!\n"},
    };
    for (const auto& [region, line] : cases) {
        zvfix::HostBuilder h;
        zvfix::AdapterSpec& a = h.AddChip27(0x2281);
        a.subSystemId = kSsid;
        a.ShadowRegion(region);
        ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(kSsid, kVendor)}));
        const std::string file = dir.Path() + "/mbi.bin";
        zvtest::PrepareEngineRun(file, zvfix::BuildMultibootImage(Spec()), OPTROM_REGION_ALL);
        EXPECT_EQ(VrelOnlineFlashUpdate(ListsHost::Ports().at(0), file.c_str(), 1, 0), VREL_LAYOUT_UNREADABLE)
            << std::hex << region;
        output = zvtest::ReadFile(GetOutPutFile());
        EXPECT_TRUE(Has(output, line)) << output;
        EXPECT_TRUE(zvfix::ReadJournalEvents(lists.Dir() + "/host").empty()) << std::hex << region;
        freeUserOptionROMReq();
    }
}

// The records go in order, image status, auxiliary status, memo block, and
// the first that fails stops the rest; the output file ends with its failure.
TEST_F(VrelEngine, ARecordThatCannotBeWrittenStopsTheRecordsAfterIt) {
    const Bytes image = zvfix::BuildMultibootImage(Spec());
    struct Case {
        uint32_t region;
        SD_INT32 status;
        size_t writes;   // components, then the records up to the failing one
        std::string end;
    };
    const Case cases[] = {
        {0x96, VREL_IMAGE_STATUS_FAILED, 13,
         "Updating Adapter Secondary Image Status... Failed\nUpdating Adapter Secondary Image Status... \n"},
        {0x126, VREL_AUX_IMAGE_STATUS_FAILED, 15,
         "Updating Adapter Secondary Aux Image Status... Failed\nUpdating Adapter Secondary Aux Image Status... \n"},
        {0x124, 526, 17, "Verifying Primary Aux Image Status data... Success\nUpdating Adapter Flash Memo Block... Failed\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Update(image, {zvfix::FaultSpec::Fail("flash_write", 5).OnRegion(c.region)}), c.status);
        EXPECT_EQ(writes.size(), c.writes) << std::hex << c.region;
        EXPECT_TRUE(output.ends_with(c.end)) << output;
    }
}

// Whichever write of a run meets the lockdown first, a component's, a
// hold's or one of the final records' (the switch, the auxiliary records put
// back, the memo block), the run ends as a lockdown: that step "Failed", the
// lockdown line and 467, nothing after it written. A hold's step is its own.
// The record holds write only in a second run before the reboot (the
// lockdown there refuses only the record held, the writes before it having
// gone through); so do the auxiliary records put back, of an image without
// a board configuration after one with it.
TEST_F(VrelEngine, LockdownIsItsOwnFailure) {
    const Bytes image = zvfix::BuildMultibootImage(Spec());
    zvfix::MultibootImageSpec bareSpec = Spec();
    std::erase_if(bareSpec.components, [](const zvfix::MbiComponent& c) { return c.region == 0xBA; });
    const Bytes bare = zvfix::BuildMultibootImage(bareSpec);
    struct Case {
        const char* what;
        bool memoNamesVersion;            // set 2's memo block, before the first run
        zvfix::FaultSpec lockdown;
        int runs;
        size_t writes;                    // by the last run
        uint32_t lastWritten;             // 0: none
        const char* step;
        bool bareLast = false;            // the last run's image has no board configuration
    };
    const Case cases[] = {
        {"component", false, zvfix::FaultSpec::Lockdown(), 1, 0, 0, "Updating Adapter Signature... "},
        {"memo hold", true, zvfix::FaultSpec::Lockdown(), 1, 0, 0, "Updating Adapter Flash Memo Block... "},
        {"auxiliary hold", false, zvfix::FaultSpec::Lockdown().OnRegion(0x125).Skip(1), 2, 1, 0x124,
         "Updating Adapter Primary Aux Image Status... "},
        {"image-status hold", false, zvfix::FaultSpec::Lockdown().OnRegion(0x95).Skip(1), 2, 3, 0x126,
         "Updating Adapter Primary Image Status... "},
        {"image-status switch", false, zvfix::FaultSpec::Lockdown().OnRegion(0x96), 1, 13, 0x02,
         "Updating Adapter Secondary Image Status... "},
        {"auxiliary switch", false, zvfix::FaultSpec::Lockdown().OnRegion(0x126), 1, 15, 0x95,
         "Updating Adapter Secondary Aux Image Status... "},
        {"auxiliary records put back", false, zvfix::FaultSpec::Lockdown().OnRegion(0x126).Skip(2), 2, 19, 0x95,
         "Updating Adapter Secondary Aux Image Status... ", true},
        {"memo block", false, zvfix::FaultSpec::Lockdown().OnRegion(0x124), 1, 17, 0x125,
         "Updating Adapter Flash Memo Block... "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        shape = [&c](zvfix::AdapterSpec& a) {
            if (c.memoNamesVersion) a.SetRegion(0x124, MemoRegion({6, 4, 2, 7}, 0x22));
        };
        if (c.bareLast) earlierImage = image;
        EXPECT_EQ(Update(c.bareLast ? bare : image, {c.lockdown}, 1, OPTROM_REGION_ALL, 0, c.runs), 467);
        earlierImage.reset();
        EXPECT_TRUE(output.ends_with(std::string(c.step) +
                                     "Failed\nFlash update failed with HBA instance 0 (KV2772). Firmware lockdown "
                                     "mode enabled!\n"))
            << output;
        EXPECT_EQ(writes.size(), c.writes);
        if (c.lastWritten != 0 && !writes.empty()) {
            EXPECT_EQ(writes.back().region, c.lastWritten);
        }
    }
}

// A run before the reboot rewrites the set and the board-configuration copy
// that the first run marked to start from next. It first makes the set's
// memo block name no version and the records name what runs again, board
// configuration first, so that a failure (or a cut) in the rewrite leaves
// the adapter starting from the set it runs, and it ends with the records a
// run over records never held writes. Until the image-status records are
// held they still start the set being written, whose block names no
// version: a cut between the holds leaves no mix of two runs' set and board
// configuration that a rerun calls up to date (the running set's block
// names the run's version here, as after enable, reboot, disable, enable).
TEST_F(VrelEngine, ARunBeforeTheRebootHoldsTheRecordsOnWhatRunsFirst) {
    zvfix::HostBuilder h;
    zvfix::AdapterSpec& a = h.AddChip27(0x2281);
    a.subSystemId = kSsid;
    a.fwAttributes = kImageFwAttributes;
    // The third run's RISC firmware, the last component, is cut short.
    zvfix::FaultSpec cut = zvfix::FaultSpec::PartialWrite(0x100).OnRegion(0x02).Skip(2);
    cut.count = -1;   // every retry too
    a.faults = {cut};
    // Each set's memo block with a build byte and region bytes of its own.
    a.SetRegion(0xDF, MemoRegion({7, 2, 3, 0xFF}, 0x11));
    a.SetRegion(0x124, MemoRegion({6, 4, 2, 7}, 0x22));
    ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(kSsid, kVendor)}));
    const std::string host = lists.Dir() + "/host";
    const std::string file = dir.Path() + "/mbi.bin";
    const Bytes image = zvfix::BuildMultibootImage(Spec());
    const auto run = [&] {
        const size_t before = zvfix::ReadJournal(host).size();
        zvtest::PrepareEngineRun(file, image, OPTROM_REGION_ALL);
        const SD_INT32 status = VrelOnlineFlashUpdate(ListsHost::Ports().at(0), file.c_str(), 1, 0);
        freeUserOptionROMReq();
        std::vector<uint32_t> regions;
        const auto journal = zvfix::ReadJournal(host);
        for (size_t i = before; i < journal.size(); ++i) regions.push_back(journal[i].region);
        return std::make_pair(status, regions);
    };
    const auto record = [&](uint32_t code) {
        const Bytes r = zvfix::ReadRegion(host, 0, code);
        return Bytes(r.begin(), r.begin() + IMAGE_STATUS_RECORD_SIZE);
    };

    const auto [first, firstWrites] = run();
    ASSERT_EQ(first, VREL_SUCCESS_REBOOT) << output;
    // The set's block names 6.4.2: it names none from before the first write.
    ASSERT_EQ(firstWrites.size(), 19u);
    ASSERT_EQ(firstWrites.front(), 0x124u);
    // What a run over these records writes when nothing holds them first.
    Bytes p = record(0x95), s = record(0x96), x1 = record(0x125), x2 = record(0x126);
    ASSERT_EQ(CoreBuildImageStatusSwitch(p, s, 27, 2), 0);
    int set = 0;
    ASSERT_EQ(CoreBuildAuxImageStatusFlip(x1, x2, AUX_COMPONENT_BOARD_CONFIG, CoreGetToolId(), &set, 1), 0);
    const Bytes memo = zvfix::ReadRegion(host, 0, 0x124);
    ASSERT_EQ(memo[23], 7);

    const auto [second, secondWrites] = run();
    ASSERT_EQ(second, VREL_SUCCESS_REBOOT);
    // Held first: the set's memo block (naming no version until the set is
    // written), the auxiliary records (the one that names the serving copy
    // made active first), then the running set's record and the other.
    ASSERT_EQ(secondWrites.size(), 23u);
    EXPECT_EQ(std::vector<uint32_t>(secondWrites.begin(), secondWrites.begin() + 6),
              (std::vector<uint32_t>{0x124, 0x125, 0x126, 0x95, 0x96, 0x9F}));
    EXPECT_EQ(std::count(secondWrites.begin(), secondWrites.end(), 0x125u), 2);
    EXPECT_EQ(record(0x95), p);
    EXPECT_EQ(record(0x96), s);
    EXPECT_EQ(record(0x125), x1);
    EXPECT_EQ(record(0x126), x2);
    // The memo block built from the set's own as found, not from the block
    // the hold wrote: the region as the first run left it.
    EXPECT_EQ(Unstamped(zvfix::ReadRegion(host, 0, 0x124)), Unstamped(memo));

    // The third run fails inside the set: the records name the running set
    // and the serving board configuration, both whole.
    const Bytes named = zvfix::ReadRegion(host, 0, 0x124);
    const auto [third, thirdWrites] = run();
    EXPECT_EQ(third, 459);
    // (The second run left the idle auxiliary record naming the copy that
    // does not serve: the deciding one is renamed, one write.)
    EXPECT_EQ(std::vector<uint32_t>(thirdWrites.begin(), thirdWrites.begin() + 5),
              (std::vector<uint32_t>{0x124, 0x125, 0x95, 0x96, 0x9F}));
    // The set's block as held: it names no version, every other byte kept.
    EXPECT_EQ(zvfix::ReadRegion(host, 0, 0x124), zvfix::MemoRegionNamingNoVersion(named));
    ACTIVE_REGIONS decided{};
    CoreDecideFlashActiveRegions(record(0x95), record(0x96), record(0x125), record(0x126), 27, &decided);
    EXPECT_EQ(decided.ActiveGlobalRegions, 1);
    EXPECT_EQ(decided.ActiveBoardConfig, 1);
}

// An image without an FC board configuration writes no copy of it. A run
// before the reboot holds the auxiliary records on the copy that runs all
// the same (a cut or a failure before its switch then starts the running set
// with its own board configuration), and at its switch puts them back as it
// found them: the board configuration the first run switched to serves
// next, the records byte for byte as the first run left them.
TEST_F(VrelEngine, ARunBeforeTheRebootWithoutABoardConfigurationKeepsTheFirstRunsSwitch) {
    zvfix::MultibootImageSpec bare = Spec();
    bare.imageVersion = {6, 4, 0};
    std::erase_if(bare.components, [](const zvfix::MbiComponent& c) { return c.region == 0xBA; });
    const std::vector<Bytes> images = {zvfix::BuildMultibootImage(Spec()), zvfix::BuildMultibootImage(bare)};
    // The engine runs twice on one host: the full image, then the bare one.
    zvfix::HostBuilder h;
    zvfix::AdapterSpec& a = h.AddChip27(0x2281);
    a.subSystemId = kSsid;
    a.fwAttributes = kImageFwAttributes;
    a.SetRegion(0xDF, MemoRegion({6, 4, 0, 0xFF}, 0x11));
    ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(kSsid, kVendor)}));
    const std::string host = lists.Dir() + "/host";
    const std::string file = dir.Path() + "/mbi.bin";
    std::vector<uint32_t> last;
    Bytes aux1, aux2;
    for (size_t run = 0; run < images.size(); ++run) {
        const size_t before = zvfix::ReadJournal(host).size();
        zvtest::PrepareEngineRun(file, images[run], OPTROM_REGION_ALL);
        ASSERT_EQ(VrelOnlineFlashUpdate(ListsHost::Ports().at(0), file.c_str(), 1, 0), VREL_SUCCESS_REBOOT) << run;
        freeUserOptionROMReq();
        const auto journal = zvfix::ReadJournal(host);
        last.clear();
        for (size_t i = before; i < journal.size(); ++i) last.push_back(journal[i].region);
        if (run == 0) {
            aux1 = zvfix::ReadRegion(host, 0, 0x125);
            aux2 = zvfix::ReadRegion(host, 0, 0x126);
        }
    }
    // Held (memo block, auxiliary records, image status), the set, then the
    // switch and the auxiliary records put back before the memo block.
    ASSERT_GE(last.size(), 10u);
    EXPECT_EQ(std::vector<uint32_t>(last.begin(), last.begin() + 5), (std::vector<uint32_t>{0x124, 0x125, 0x126, 0x95, 0x96}));
    EXPECT_EQ(std::vector<uint32_t>(last.end() - 5, last.end()), (std::vector<uint32_t>{0x96, 0x95, 0x126, 0x125, 0x124}));
    EXPECT_EQ(std::count(last.begin(), last.end(), 0x10Bu), 0);
    EXPECT_EQ(zvfix::ReadRegion(host, 0, 0x125), aux1);
    EXPECT_EQ(zvfix::ReadRegion(host, 0, 0x126), aux2);
    ACTIVE_REGIONS decided{};
    CoreDecideFlashActiveRegions(zvfix::ReadRegion(host, 0, 0x95), zvfix::ReadRegion(host, 0, 0x96),
                                 zvfix::ReadRegion(host, 0, 0x125), zvfix::ReadRegion(host, 0, 0x126), 27, &decided);
    EXPECT_EQ(decided.ActiveGlobalRegions, 2);
    EXPECT_EQ(decided.ActiveBoardConfig, 2);
}

// The set a run writes carries the memo block of what it held before, or of
// this version when an earlier run left it there (enable, reboot, disable
// with another image, reboot, enable again): it names no version from before
// the first write, so that a cut before the block is written last is updated
// again by a rerun of either version. The final block is built from the
// set's own as found. A block naming no version costs no write: a fresh
// set's, or the one a run left whose memo write failed (its records
// switched), which a rerun before the reboot completes with one memo write.
TEST_F(VrelEngine, ASetsMemoBlockNamesNoVersionFromBeforeItsFirstWrite) {
    zvfix::MultibootImageSpec spec = Spec();
    spec.imageVersion = {7, 2, 3};
    const Bytes image = zvfix::BuildMultibootImage(spec);
    struct Case {
        std::array<uint8_t, 3> found;
        bool rerunAfterAFailedMemoWrite;
    };
    // 0.0.3 is a version too.
    for (const Case c :
         {Case{{7, 2, 3}, false}, {{7, 3, 3}, false}, {{0, 0, 3}, false}, {{0, 0, 0}, false}, {{7, 3, 3}, true}}) {
        SCOPED_TRACE(::testing::Message() << "set 2 names " << int(c.found[0]) << "." << int(c.found[1]) << "."
                                          << int(c.found[2]) << (c.rerunAfterAFailedMemoWrite ? ", rerun" : ""));
        const Bytes left = MemoRegion({c.found[0], c.found[1], c.found[2], 7}, 0x22);
        shape = [&left](zvfix::AdapterSpec& a) {
            a.SetRegion(0xDF, MemoRegion({6, 4, 0, 0xFF}, 0x11));
            a.SetRegion(0x124, left);
        };
        // The first run's memo write, after its hold, fails once.
        std::vector<zvfix::FaultSpec> faults;
        if (c.rerunAfterAFailedMemoWrite)
            faults = {zvfix::FaultSpec::Fail("flash_write", 5, 1).OnRegion(0x124).Skip(1)};
        EXPECT_EQ(Update(image, faults, 1, OPTROM_REGION_ALL, 0, c.rerunAfterAFailedMemoWrite ? 2 : 1),
                  VREL_SUCCESS_REBOOT)
            << output;
        const bool held = c.found != std::array<uint8_t, 3>{0, 0, 0} && !c.rerunAfterAFailedMemoWrite;
        const std::vector<uint32_t> w = WrittenRegions();
        // The rerun holds both record pairs on what runs instead.
        EXPECT_EQ(w.size(), 18u + held + (c.rerunAfterAFailedMemoWrite ? 4 : 0));
        if (w.empty()) continue;
        EXPECT_EQ(w.front(), c.rerunAfterAFailedMemoWrite ? 0x125u : held ? 0x124u : 0x9Fu);
        EXPECT_EQ(std::count(w.begin(), w.end(), 0x124u), held ? 2 : 1);
        EXPECT_EQ(w.back(), 0x124u);
        // What the rerun reads: the new version, over the set's own bytes.
        Bytes expected = MemoRegion({7, 2, 3, 7}, 0x22);
        expected.resize(memo2.size(), 0xFF);
        std::copy(memo2.begin() + 16, memo2.begin() + 20, expected.begin() + 16);   // the image's package version
        std::copy(memo2.begin() + 24, memo2.begin() + 36, expected.begin() + 24);   // build date, tool id
        std::copy(memo2.begin() + 44, memo2.begin() + 48, expected.begin() + 44);   // tool version
        EXPECT_EQ(Unstamped(memo2), Unstamped(expected));
    }
}

// A hold that fails (its write reads back other bytes, the memo block's or
// the records', or the memo region cannot be read) ends the run before any
// component of the set is written: its own step "Failed" is the last line,
// naming the set that runs. The records are held only by a second run
// before the reboot.
TEST_F(VrelEngine, AHoldThatFailsEndsTheRunBeforeAnyComponent) {
    struct Case {
        const char* what;
        zvfix::FaultSpec fault;
        bool memoNamesVersion;            // set 2's memo block names the run's version: one run
        SD_INT32 status;
        std::vector<uint32_t> lastWrites;
        const char* step;
        bool secondRuns = false;          // the adapter runs set 2 (it writes set 1)
    };
    const char* const memoStep = "Updating Adapter Flash Memo Block... ";
    const Case cases[] = {
        {"memo block of a second run", zvfix::FaultSpec::CorruptWrite().OnRegion(0x124).Skip(1), false, 526,
         {0x124}, memoStep},
        {"memo block naming the version", zvfix::FaultSpec::CorruptWrite().OnRegion(0x124), true, 526, {0x124},
         memoStep},
        {"memo region unreadable", zvfix::FaultSpec::Fail("flash_read", 5).OnRegion(0x124), true, 526, {}, memoStep},
        {"auxiliary record", zvfix::FaultSpec::CorruptWrite().OnRegion(0x125).Skip(1), false,
         VREL_AUX_IMAGE_STATUS_FAILED, {0x124, 0x125}, "Updating Adapter Primary Aux Image Status... "},
        {"running set's record", zvfix::FaultSpec::CorruptWrite().OnRegion(0x95).Skip(1), false,
         VREL_IMAGE_STATUS_FAILED, {0x124, 0x125, 0x126, 0x95}, "Updating Adapter Primary Image Status... "},
        {"other set's record", zvfix::FaultSpec::CorruptWrite().OnRegion(0x96).Skip(1), false,
         VREL_IMAGE_STATUS_FAILED, {0x124, 0x125, 0x126, 0x95, 0x96}, "Updating Adapter Primary Image Status... "},
        {"auxiliary record, set 2 running", zvfix::FaultSpec::CorruptWrite().OnRegion(0x125).Skip(1), false,
         VREL_AUX_IMAGE_STATUS_FAILED, {0xDF, 0x125}, "Updating Adapter Secondary Aux Image Status... ", true},
        {"running set's record, set 2 running", zvfix::FaultSpec::CorruptWrite().OnRegion(0x96).Skip(1), false,
         VREL_IMAGE_STATUS_FAILED, {0xDF, 0x125, 0x126, 0x96}, "Updating Adapter Secondary Image Status... ", true},
    };
    const Bytes image = zvfix::BuildMultibootImage(Spec());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        shape = [&c](zvfix::AdapterSpec& a) {
            if (c.memoNamesVersion) a.SetRegion(0x124, MemoRegion({7, 2, 3, 7}, 0x22));
            if (c.secondRuns) {
                a.SetRegion(0x95, zvfix::MakeImageStatusRecord(0, 1, zvfix::kSigImageStatus27));
                a.SetRegion(0x96, zvfix::MakeImageStatusRecord(1, 2, zvfix::kSigImageStatus27));
            }
        };
        EXPECT_EQ(Update(image, {c.fault}, 1, OPTROM_REGION_ALL, 0, c.memoNamesVersion ? 1 : 2), c.status);
        EXPECT_EQ(WrittenRegions(), c.lastWrites);
        EXPECT_TRUE(output.ends_with("Updating Flash on HBA port(s) -   KV2772. Please wait...\n" +
                                     std::string(c.step) + "Failed\n"))
            << output;
    }
}

// The holds read what they hold as every flash read is made: a busy answer
// (the adapter resetting) is asked again, 1 s later, and the run goes on. A
// run reads the set's memo block once: not again before each component.
TEST_F(VrelEngine, TheHoldsReadThroughBusyAnswersAndTheMemoBlockOnce) {
    const Bytes image = zvfix::BuildMultibootImage(Spec());
    struct Case {
        uint32_t region;
        int busy;
        size_t reads;   // by the holds, before the first write, when the adapter is not busy
    };
    zvtest::SleepLog sleeps;
    sleeps.Start(dir.Path() + "/sleeps");
    const auto secondsSlept = [&sleeps] {
        const std::vector<long> slept = sleeps.Lengths();
        sleeps.Clear();
        return std::count(slept.begin(), slept.end(), 1000L);
    };
    ASSERT_EQ(Update(image), VREL_SUCCESS_REBOOT);
    const long calm = secondsSlept();
    for (const Case c : {Case{0x124, 1, 1}, Case{0x124, 3, 1}, Case{0x125, 3, 1}, Case{0x95, 3, 2}}) {
        SCOPED_TRACE(::testing::Message() << std::hex << "region 0x" << c.region << " busy " << std::dec << c.busy);
        EXPECT_EQ(Update(image, {zvfix::FaultSpec::Busy("flash_read", c.busy).OnRegion(c.region)}),
                  VREL_SUCCESS_REBOOT)
            << output;
        EXPECT_EQ(flashOps->Reads(c.region, 0, flashOps->FirstWrite()), c.reads + c.busy);
        EXPECT_EQ(secondsSlept(), calm + c.busy);
    }

    shape = [](zvfix::AdapterSpec& a) { a.SetRegion(0x124, MemoRegion({6, 4, 2, 7}, 0x22)); };
    ASSERT_EQ(Update(image), VREL_SUCCESS_REBOOT);
    const auto& ops = flashOps->ops;
    const auto component = std::find_if(ops.begin(), ops.end(), [](const zvtest::FlashOp& o) {
        return o.write && o.region != 0x124;
    });
    const auto switched = std::find_if(ops.begin(), ops.end(), [](const zvtest::FlashOp& o) {
        return o.write && o.region == 0x96;
    });
    ASSERT_LT(component, switched);
    EXPECT_EQ(flashOps->Reads(0x124, static_cast<size_t>(component - ops.begin()),
                              static_cast<size_t>(switched - ops.begin())),
              0u);
    const std::vector<uint32_t> written = WrittenRegions();
    EXPECT_EQ(std::count(written.begin(), written.end(), 0x124u), 2);
}

// No command switches the set alone; the records it writes decide the boot.
TEST_F(VrelEngine, SetAdapterActiveRegionSwitchesBothWaysWritingTheIdleRecordFirst) {
    zvfix::HostBuilder h;
    h.AddChip27(0x2281).subSystemId = kSsid;
    ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(kSsid, kVendor)}));
    const std::string host = lists.Dir() + "/host";
    SDMDevice* port = ListsHost::Ports().at(0);
    ResetOutputChannels();

    ASSERT_EQ(SetAdapterActiveRegion(port, 2, 1), 0);
    std::vector<uint32_t> regions;
    for (const auto& e : zvfix::ReadJournal(host)) regions.push_back(e.region);
    EXPECT_EQ(regions, (std::vector<uint32_t>{0x96, 0x95, 0x126, 0x125}));
    EXPECT_EQ(zvfix::ReadRegion(host, 0, 0x96)[0] & 1, 1);
    EXPECT_EQ(zvfix::ReadRegion(host, 0, 0x126)[5] & 1, 1);

    // Back to the primary set; the flipped auxiliary record now serves, so the first one is written first.
    ASSERT_EQ(SetAdapterActiveRegion(port, 1, 1), 0);
    regions.clear();
    for (const auto& e : zvfix::ReadJournal(host)) regions.push_back(e.region);
    EXPECT_EQ(std::vector<uint32_t>(regions.begin() + 4, regions.end()),
              (std::vector<uint32_t>{0x95, 0x96, 0x125, 0x126}));
    EXPECT_EQ(zvfix::ReadRegion(host, 0, 0x95)[0] & 1, 1);
    EXPECT_EQ(zvfix::ReadRegion(host, 0, 0x125)[5] & 1, 0);

    // Asked again before a reboot: the primary copy still serves next.
    ASSERT_EQ(SetAdapterActiveRegion(port, 1, 1), 0);
    const bool firstActive = (zvfix::ReadRegion(host, 0, 0x125)[0] & 1) != 0;
    EXPECT_EQ(zvfix::ReadRegion(host, 0, firstActive ? 0x125 : 0x126)[5] & 1, 0);
    EXPECT_EQ(zvfix::ReadRegion(host, 0, 0x95)[0] & 1, 1);

    EXPECT_EQ(SetAdapterActiveRegion(nullptr, 2, 0), VREL_NO_DEVICE);
}

}  // namespace
