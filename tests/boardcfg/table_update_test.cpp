// Preload-table and board-configuration updates from templates on a simulated
// host: the bytes left on flash, the statuses and the output-file lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <tuple>

#include <sys/stat.h>
#include <unistd.h>

#include "boardcfg/cna_versions.h"
#include "boardcfg/config_table.h"
#include "boardcfg/fc_board_config.h"
#include "boardcfg/fw_preload.h"
#include "boardcfg/pep_board_config.h"
#include "boardcfg/board_template.h"
#include "boardcfg/single_copy_tables.h"
#include "boardcfg/table_region_io.h"
#include "core/device_discovery.h"
#include "core/oss_services.h"
#include "fixtures/board_template_builder.h"
#include "fixtures/byte_order.h"
#include "fixtures/host_builder.h"
#include "fixtures/memo_block_builder.h"
#include "frontend/cli_settings.h"
#include "frontend/hba_device_list.h"
#include "frontend/install_dir.h"
#include "frontend/output.h"
#include "image/region_io.h"
#include "support/discovered_host.h"
#include "support/e2e_support.h"
#include "support/sleep_log.h"

namespace {

using zvfix::Le16;
using zvfix::Le32;

constexpr uint16_t kSsvid = 0x1A77, kSsdid = 0x0289;
constexpr uint32_t kFwa = zvfix::kRegionPreload1;
constexpr uint32_t kFbc = zvfix::kRegionBoardConfig1;
constexpr uint32_t kFwaWords = 0x400;

std::vector<uint8_t> Version(const zvfix::Bytes& t) { return {t[7], t[6], t[5], t[4]}; }
bool SumsToZero(const zvfix::Bytes& t, size_t start = 0) {
    const size_t covered = size_t{Le32(t, start + 12)} * 4;
    if (covered > t.size() - start) return false;   // an erased length
    return zvfix::WordSum32(std::span<const uint8_t>(t).subspan(start, covered)) == 0;
}

class TableUpdate : public zvtest::DiscoveredHostTest {
protected:
    void SetUp() override {
        DiscoveredHostTest::SetUp();
        install_ = dir_ + "/install";
        std::filesystem::create_directories(install_);
        sleeps_.Start(dir_ + "/sleeps");
        ASSERT_EQ(VORNSetInstallationDir(install_.c_str(), install_.size()), 0);
        cwd_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        InitializeParameters();
        OSSInitCriticalSection();
        zvtest::ClearLogs();   // an output file named in the same second would be appended to
        ResetOutputChannels();
        ResetFwPreloadVersion();
        ClearCopies();
    }
    void TearDown() override {
        std::filesystem::current_path(cwd_);
        DiscoveredHostTest::TearDown();
        OSSDeleteCriticalSection();
        ResetOutputChannels();
        InitializeParameters();
    }
    // The ports, with the output file opened and the sleeps of discovery forgotten.
    std::vector<SDMDevice*> Discover(zvfix::HostBuilder& host) {
        std::vector<SDMDevice*> v = DiscoveredHostTest::Discover(host);
        sleeps_.Clear();
        EXPECT_EQ(SetOutOutFile(), 0);
        return v;
    }
    static std::string Output() { return zvtest::ReadFile(GetOutPutFile()); }
    size_t WritesTo(uint32_t region) const {
        size_t n = 0;
        for (const auto& e : zvfix::ReadJournal(hostDir_)) n += e.region == region ? 1 : 0;
        return n;
    }
    // A chip-type-25 adapter whose preload table is 1.2.3 and names other ids.
    static zvfix::AdapterSpec& Chip25(zvfix::HostBuilder& host, std::array<uint8_t, 4> fwa = {1, 2, 3, 0}) {
        auto& a = host.AddChip25TwoPort();
        zvfix::Bytes t = zvfix::MakeConfigTable("JKOZ", fwa, kFwaWords, 0x1111, 0x2222, 0x10000);
        t[0x300] = 0x42;
        zvfix::FixTableChecksum(t);
        a.SetRegion(kFwa, t);
        return a;
    }
    void FwaTemplate(const std::string& version, const std::string& subdir = "x1A77x0289") {
        zvfix::BoardTemplateSpec spec{.table = "JKOZ", .version = version};
        spec.patches.push_back({0x40, {0xDE, 0xAD, 0xBE, 0xEF}});
        const std::string dir = subdir.empty() ? install_ : install_ + "/" + subdir;
        std::filesystem::create_directories(dir);
        zvfix::WriteTextFile(dir + "/Vx9FWA.dat", spec.Text());
    }
    // The copies directory is the host's own: touched only inside the private
    // /var/lib of an isolated test process.
    static bool Isolated() { return std::getenv("ZV_ISOLATED") != nullptr; }
    static void ClearCopies() {
        std::error_code ec;
        if (Isolated()) std::filesystem::remove_all(zvfix::kTableCopyDir, ec);
    }
    static void KeepCopy(const std::string& serial, uint32_t region, const zvfix::Bytes& table) {
        ::mkdir(zvfix::kTableCopyDir, 0700);
        const std::string path = zvfix::TableCopyPath(serial, region);
        zvfix::WriteBytes(path, zvfix::MakeTableCopyFile(region, table, serial));
        ::chmod(path.c_str(), 0600);
    }
    std::string install_;
    zvtest::SleepLog sleeps_;
    std::filesystem::path cwd_;
};

TEST_F(TableUpdate, NewerPreloadTemplateRewritesTheTable) {
    zvfix::HostBuilder host;
    auto& a = Chip25(host);
    a.faults.push_back(zvfix::FaultSpec::Busy("flash_write", 2).OnRegion(kFwa));
    const auto devs = Discover(host);
    FwaTemplate("2.0.1");
    FwaTemplate("3.0.0", "");   // the adapter's own subdirectory comes first
    const zvfix::Bytes before = zvfix::ReadRegion(hostDir_, 0, kFwa);

    EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[0], "Vx9FWA.dat"), FWA_UPDATED);
    const zvfix::Bytes after = zvfix::ReadRegion(hostDir_, 0, kFwa);
    EXPECT_EQ(std::memcmp(after.data(), "JKOZ", 4), 0);
    EXPECT_EQ(Version(after), (std::vector<uint8_t>{2, 0, 1, 0}));
    EXPECT_EQ(std::tuple(Le16(after, 16), Le16(after, 18), Le32(after, 12)), std::tuple(kSsvid, kSsdid, kFwaWords));
    EXPECT_TRUE(SumsToZero(after));
    EXPECT_EQ(zvfix::Bytes(after.begin() + 0x40, after.begin() + 0x44), zvfix::Bytes({0xDE, 0xAD, 0xBE, 0xEF}));
    EXPECT_EQ(after[0x300], 0x42);   // the adapter's own contents stay
    EXPECT_TRUE(std::equal(before.begin() + 0x1000, before.end(), after.begin() + 0x1000));
    EXPECT_EQ(sleeps_.Lengths().size(), 2u);         // the busy writes were ridden out

    const FwPreloadVersion* v = GetFwPreloadVersion();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(std::tie(v->ExistingVersionMinor, v->NewVersionSubMinor), std::tuple(2, 1));
    EXPECT_EQ(Output(), "HBA KV2692: Upgrading FWA version from 1.2.3 to 2.0.1: started\n"
                        "HBA KV2692: Upgrading FWA version from 1.2.3 to 2.0.1: completed\n");

    // Now up to date: nothing written.
    const size_t writes = WritesTo(kFwa);
    EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[1], "Vx9FWA.dat"), FWA_SUCCESS);
    EXPECT_EQ(WritesTo(kFwa), writes);
    EXPECT_TRUE(zvtest::Has(Output(), "HBA KV2692: Upgrade is not required. FWA version is up to date (2.0.1)\n"));
}

TEST_F(TableUpdate, PreloadSkipsAndRefusals) {
    zvfix::HostBuilder host;
    Chip25(host, {2, 0, 0, 0});
    host.AddChip27();
    const auto devs = Discover(host);

    // No template anywhere: skipped, not a failure.
    EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[0], "Vx9FWA.dat"), FWA_SUCCESS);
    EXPECT_EQ(UpdateFWPreloadTableToHBA(nullptr, "Vx9FWA.dat"), FWA_NO_DEVICE);
    FwaTemplate("1.9.9", "");
    EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[0], "Other.dat"), FWA_SUCCESS);   // not the chip's template
    EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[2], "Vx9FWA.dat"), FWA_SUCCESS);  // chip type 27
    // An older template is not taken without the force option ...
    EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[0], "Vx9FWA.dat"), FWA_SUCCESS);
    EXPECT_EQ(WritesTo(kFwa), 0u);
    // ... and is with it.
    SetForceUpdateOption(1);
    EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[0], "Vx9FWA.dat"), FWA_UPDATED);
    EXPECT_EQ(Version(zvfix::ReadRegion(hostDir_, 0, kFwa)), (std::vector<uint8_t>{1, 9, 9, 0}));
    EXPECT_EQ(Output(), "No compatible HBA(s) found in current system !\n"
                        "HBA KV2692: Upgrade is not required. FWA version is up to date (2.0.0)\n"
                        "HBA KV2692: Upgrading FWA version from 2.0.0 to 1.9.9: started\n"
                        "HBA KV2692: Upgrading FWA version from 2.0.0 to 1.9.9: completed\n");
}

TEST_F(TableUpdate, CorruptedPreloadTemplateAndFailedWrite) {
    zvfix::HostBuilder host;
    Chip25(host);
    Chip25(host).faults.push_back(zvfix::FaultSpec::Fail("flash_write", 0x20000088).OnRegion(kFwa));
    const auto devs = Discover(host);
    const std::string path = install_ + "/Vx9FWA.dat";

    zvfix::WriteTextFile(path, "table = JKOZ\nversion = 2.0.0\n0x40: 0\n");
    EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[0], "Vx9FWA.dat"), FWA_CORRUPTED);
    // Offsets past the adapter's region make no table either.
    zvfix::WriteTextFile(path, "table = JKOZ\nversion = 2.0.0\n0x10000: 00\n");
    EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[0], "Vx9FWA.dat"), FWA_CORRUPTED);
    EXPECT_EQ(WritesTo(kFwa), 0u);

    FwaTemplate("2.0.0", "");
    const zvfix::Bytes before = zvfix::ReadRegion(hostDir_, 1, kFwa);
    EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[2], "Vx9FWA.dat"), FWA_FAILED);
    EXPECT_EQ(zvfix::ReadRegion(hostDir_, 1, kFwa), before);
    EXPECT_EQ(Output(), "File " + path + " appears to be corrupted!\n" + "File " + path +
                            " appears to be corrupted!\n"
                            "HBA KV2692: Upgrading FWA version from 1.2.3 to 2.0.0: started\n"
                            "HBA KV2692: Upgrading FWA version from 1.2.3 to 2.0.0: failed\n");
}

// ---- FC board configuration -------------------------------------------------------------

const zvfix::FcSettings kAdapterSettings{0x33, true, {1, 2, 3, 4}, {true, false, true, false}};

void FbcTemplate(const std::string& path, const std::string& version) {
    zvfix::WriteTextFile(path, zvfix::BoardTemplateSpec{.table = "CBF(", .version = version, .patches = {
        {0x40, {0x01, 0x02, 0x03}},
        {0x1C0, {0x99, 0x00}},   // tries to change the SFP polling
        {0x332, {0x77}},         // and port 0's credit recovery
        {0x1240, {0xC0, 0xDE}},  // inside the SerDes table
    }}.Text());
}

TEST_F(TableUpdate, BoardConfigKeepsTheAdaptersSettings) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.SetRegion(kFbc, zvfix::MakeFcBoardConfig({1, 0, 0, 0}, 0x1111, 0x2222, kAdapterSettings));
    const auto devs = Discover(host);
    FbcTemplate(dir_ + "/Vx9FBC.dat", "1.1.0");   // opened from the current directory

    EXPECT_EQ(UpdateAdapterFCBoardConfigFromFile(devs[0], "Vx9FBC.dat", 1, 8), FBC_UPDATED);
    const zvfix::Bytes t = zvfix::ReadRegion(hostDir_, 0, kFbc);
    EXPECT_EQ(Version(t), (std::vector<uint8_t>{1, 1, 0, 0}));
    EXPECT_EQ(std::tuple(Le16(t, 16), Le16(t, 18)), std::tuple(kSsvid, kSsdid));
    EXPECT_TRUE(SumsToZero(t));
    EXPECT_EQ(t[0x41], 0x02);
    const zvfix::FcSettings kept = zvfix::ReadFcSettings(t), want = kAdapterSettings;
    EXPECT_EQ(std::tie(kept.sfpPollTime, kept.sfpPollEnable, kept.bbcr, kept.fec),
              std::tie(want.sfpPollTime, want.sfpPollEnable, want.bbcr, want.fec));
    EXPECT_EQ(std::memcmp(t.data() + 0x1200, "ULS(", 4), 0);
    EXPECT_EQ(t[0x1241], 0xDE);
    EXPECT_EQ(Le16(t, 0x1200 + 16), kSsvid);
    EXPECT_TRUE(SumsToZero(t, 0x1200));
    EXPECT_EQ(Output(), "HBA KV2692: Upgrading FBC version from 1.0.0 to 1.1.0: started\n"
                        "HBA KV2692: Upgrading FBC version from 1.0.0 to 1.1.0: completed\n");

}

// The library holds the board configuration smaller than the layout names
// it: no table is taken from the bytes read, the check names the region.
TEST_F(TableUpdate, ATableReadShortOfItsLayoutSizeIsNoTable) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.SetRegion(kFbc, zvfix::MakeFcBoardConfig({2, 0, 0, 0}, kSsvid, kSsdid, kAdapterSettings));
    a.ShadowRegion(kFbc);
    const auto devs = Discover(host);
    FlashReadBuffer read;
    EXPECT_EQ(ReadConfigTableRegion(devs[0], kFbc, &read), REGIO_READ_FAILED);
    EXPECT_TRUE(read.Bytes().empty());
    EXPECT_EQ(CheckSingleCopyTable(devs[0], FBC_SINGLE_COPY, nullptr), -1);
    EXPECT_EQ(Output(), "HBA KV2692 (instance 0): The FBC board configuration (region 0xBA) cannot be read (error "
                        "36); nothing was written to the adapter!\n");
}

TEST_F(TableUpdate, BoardConfigRefusalsAndBadTemplates) {
    zvfix::HostBuilder host;
    host.AddChip25TwoPort().SetRegion(kFbc, zvfix::MakeFcBoardConfig({1, 0, 0, 0}, kSsvid, kSsdid, {}));
    host.AddChip25(0x1234, 1).chipType = 12;
    const auto devs = Discover(host);
    const std::string path = dir_ + "/Vx9FBC.dat";
    FbcTemplate(path, "2.0.0");

    EXPECT_EQ(UpdateAdapterFCBoardConfigFromFile(nullptr, "Vx9FBC.dat", 1, 8), FBC_NO_DEVICE);
    EXPECT_EQ(UpdateAdapterFCBoardConfigFromFile(devs[2], "Vx9FBC.dat", 1, 8), FBC_NO_DEVICE);
    EXPECT_EQ(UpdateAdapterFCBoardConfigFromFile(devs[0], "Vx9FBC.dat", 1, 6), FBC_NO_DEVICE);
    // Without "all ports" the adapter must be one the adapter list allows (there is none here).
    EXPECT_EQ(UpdateAdapterFCBoardConfigFromFile(devs[0], "Vx9FBC.dat", 0, 8), FBC_NO_DEVICE);
    EXPECT_EQ(UpdateAdapterFCBoardConfigFromFile(devs[0], "Missing.dat", 1, 8), FBC_OPEN_FAILED);
    // A template that cannot be parsed is invalid template data, said in the board configuration's lines.
    zvfix::WriteTextFile(path, "table = CBF(\nversion = 2.0\n");
    EXPECT_EQ(UpdateAdapterFCBoardConfigFromFile(devs[0], "Vx9FBC.dat", 1, 8), FBC_INVALID_DATA);
    // A template that wipes the SerDes table makes an invalid table: nothing is written.
    zvfix::WriteTextFile(path, "table = CBF(\nversion = 2.0.0\n0x1200: 00 00 00 00\n");
    EXPECT_EQ(UpdateAdapterFCBoardConfigFromFile(devs[0], "Vx9FBC.dat", 1, 8), FBC_INVALID_DATA);
    EXPECT_EQ(WritesTo(kFbc), 0u);
    EXPECT_EQ(Output(), "Failed to open file Missing.dat for reading!\n"
                        "HBA KV2692: Upgrading FBC version from 1.0.0 to 0.0.0: started\n"
                        "HBA KV2692: Upgrading FBC version from 1.0.0 to 0.0.0: failed\n"
                        "HBA KV2692: Upgrading FBC version from 1.0.0 to 2.0.0: started\n"
                        "HBA KV2692: Upgrading FBC version from 1.0.0 to 2.0.0: failed\n");
}

TEST_F(TableUpdate, BoardConfigOfChip27GoesToTheOtherCopyAndFlipsIt) {
    zvfix::HostBuilder host;
    auto& b = host.AddChip27();
    b.SetRegion(kFbc, zvfix::MakeFcBoardConfig({1, 0, 0, 0}, kSsvid, kSsdid, kAdapterSettings));
    // The second write of the other copy (before the reboot) is cut short.
    zvfix::FaultSpec cut = zvfix::FaultSpec::PartialWrite(0x80).OnRegion(zvfix::kRegionBoardConfig2).Skip(1);
    cut.count = -1;
    b.faults = {cut};
    const auto devs = Discover(host);
    FbcTemplate(dir_ + "/Vx9FBC.dat", "1.2.0");
    const zvfix::Bytes running = zvfix::ReadRegion(hostDir_, 0, kFbc);

    EXPECT_EQ(UpdateAdapterFCBoardConfigFromFile(devs[0], "Vx9FBC.dat", 1, 8), FBC_UPDATED);
    EXPECT_EQ(zvfix::ReadRegion(hostDir_, 0, kFbc), running);
    const zvfix::Bytes other = zvfix::ReadRegion(hostDir_, 0, zvfix::kRegionBoardConfig2);
    EXPECT_EQ(Version(other), (std::vector<uint8_t>{1, 2, 0, 0}));
    EXPECT_EQ(zvfix::ReadFcSettings(other).bbcr, kAdapterSettings.bbcr);
    EXPECT_TRUE(SumsToZero(other));
    // The auxiliary record now active says the secondary board configuration serves.
    const zvfix::Bytes aux1 = zvfix::ReadRegion(hostDir_, 0, zvfix::kRegionAuxStatus1);
    const zvfix::Bytes aux2 = zvfix::ReadRegion(hostDir_, 0, zvfix::kRegionAuxStatus2);
    const zvfix::Bytes& active = (aux1[0] & 1) != 0 ? aux1 : aux2;
    EXPECT_EQ(active[5] & 0x01, 0x01);

    // Again before the reboot: the copy marked to serve next is written
    // again, so the records first name the serving copy, which a write cut
    // short in the other leaves serving.
    EXPECT_EQ(UpdateAdapterFCBoardConfigFromFile(devs[0], "Vx9FBC.dat", 1, 8), FBC_FAILED);
    const zvfix::Bytes held1 = zvfix::ReadRegion(hostDir_, 0, zvfix::kRegionAuxStatus1);
    const zvfix::Bytes held2 = zvfix::ReadRegion(hostDir_, 0, zvfix::kRegionAuxStatus2);
    ASSERT_NE(held1[0] & 1, held2[0] & 1);
    EXPECT_EQ(((held1[0] & 1) != 0 ? held1 : held2)[5] & 0x01, 0) << "the torn copy serves";
    EXPECT_EQ(zvfix::ReadRegion(hostDir_, 0, kFbc), running);
}

// Every version part counts; the preload table follows the force option back,
// the board configuration never goes back.
TEST_F(TableUpdate, EveryVersionPartCountsAndOnlyThePreloadTableIsForcedBack) {
    struct Case {
        std::array<uint8_t, 4> adapter;
        const char* tpl;
        int force;
        int fwa, fbc;
        const char* fbcLine;
    };
    const Case cases[] = {
        {{1, 2, 3, 0}, "1.2.4", 0, FWA_UPDATED, FBC_UPDATED, "Upgrading FBC version from 1.2.3 to 1.2.4: completed"},
        {{1, 2, 4, 0}, "1.2.3", 0, FWA_SUCCESS, FBC_TEMPLATE_OLDER, "Upgrade is not required. FBC version is up to date (1.2.4)"},
        {{1, 2, 4, 0}, "1.2.3", 1, FWA_UPDATED, FBC_TEMPLATE_OLDER, "Upgrade is not required. FBC version is up to date (1.2.4)"},
        {{1, 2, 3, 0}, "1.2.3", 1, FWA_SUCCESS, FBC_UP_TO_DATE, "Upgrade is not required. FBC version is up to date (1.2.3)"},
    };
    zvfix::HostBuilder host;
    for (const Case& c : cases) Chip25(host, c.adapter).SetRegion(kFbc, zvfix::MakeFcBoardConfig(c.adapter, kSsvid, kSsdid, {}));
    const auto devs = Discover(host);
    for (int i = 0; i < 4; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(std::string(c.tpl) + " force " + std::to_string(c.force) + " over case " + std::to_string(i));
        FwaTemplate(c.tpl);
        FbcTemplate(dir_ + "/Vx9FBC.dat", c.tpl);
        SetForceUpdateOption(c.force);
        const size_t seen = Output().size();
        EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[2 * i], "Vx9FWA.dat"), c.fwa);
        EXPECT_EQ(UpdateAdapterFCBoardConfigFromFile(devs[2 * i], "Vx9FBC.dat", 1, 8), c.fbc);
        const std::vector<uint8_t> tpl = {1, 2, static_cast<uint8_t>(c.tpl[4] - '0'), 0};
        const std::vector<uint8_t> own(c.adapter.begin(), c.adapter.end());
        EXPECT_EQ(Version(zvfix::ReadRegion(hostDir_, i, kFwa)), c.fwa == FWA_UPDATED ? tpl : own);
        EXPECT_EQ(Version(zvfix::ReadRegion(hostDir_, i, kFbc)), c.fbc == FBC_UPDATED ? tpl : own);
        EXPECT_TRUE(zvtest::Has(Output().substr(seen), "HBA KV2692: " + std::string(c.fbcLine) + "\n")) << Output();
    }
}

// A table cut short by a power loss keeps its header and version, the rest of
// its first erase block reads erased. The adapter keeps these tables once: the
// copy kept on the host before the write that tore it goes back first (so
// every byte the template does not name is the adapter's own again, the
// board configuration's settings too), then the update runs as it would
// have. Without a copy nothing is written and the line names the region,
// never "completed" over erased settings.
TEST_F(TableUpdate, ATornTableIsRebuiltFromTheCopyKeptOnTheHostOrNotWritten) {
    if (!Isolated()) GTEST_SKIP() << "the copies live in the private /var/lib of an isolated test process";
    zvfix::HostBuilder host;
    const auto tear = [](zvfix::Bytes t) {
        std::fill(t.begin() + 0x30, t.begin() + 0x1000, uint8_t{0xFF});
        return t;
    };
    const zvfix::Bytes fbcSound = zvfix::MakeFcBoardConfig({2, 0, 0, 0}, kSsvid, kSsdid, kAdapterSettings);
    zvfix::Bytes fwaSound;
    std::vector<std::string> serials;
    for (int i = 0; i < 2; ++i) {
        auto& a = Chip25(host, {2, 0, 0, 0});
        fwaSound = a.regionData.at(kFwa);
        a.SetRegion(kFwa, tear(fwaSound));
        a.SetRegion(kFbc, tear(fbcSound));
        serials.push_back(a.serial);
    }
    KeepCopy(serials[0], kFwa, fwaSound);
    KeepCopy(serials[0], kFbc, fbcSound);
    const auto devs = Discover(host);
    FwaTemplate("2.1.0");
    FbcTemplate(dir_ + "/Vx9FBC.dat", "2.1.0");

    EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[0], "Vx9FWA.dat"), FWA_UPDATED);
    EXPECT_EQ(UpdateAdapterFCBoardConfigFromFile(devs[0], "Vx9FBC.dat", 1, 8), FBC_UPDATED);
    const zvfix::Bytes fwa = zvfix::ReadRegion(hostDir_, 0, kFwa), fbc = zvfix::ReadRegion(hostDir_, 0, kFbc);
    EXPECT_TRUE(SumsToZero(fwa));
    EXPECT_EQ(Version(fwa), (std::vector<uint8_t>{2, 1, 0, 0}));
    EXPECT_EQ(fwa[0x41], 0xAD);
    EXPECT_EQ(fwa[0x300], 0x42);   // named by no template: the copy's
    EXPECT_TRUE(SumsToZero(fbc));
    EXPECT_TRUE(SumsToZero(fbc, 0x1200));
    EXPECT_EQ(fbc[0x41], 0x02);
    const zvfix::FcSettings kept = zvfix::ReadFcSettings(fbc), want = kAdapterSettings;
    EXPECT_EQ(std::tie(kept.sfpPollTime, kept.sfpPollEnable, kept.bbcr, kept.fec),
              std::tie(want.sfpPollTime, want.sfpPollEnable, want.bbcr, want.fec));
    EXPECT_FALSE(zvtest::FileExists(zvfix::TableCopyPath(serials[0], kFwa))) << "read back whole: the copy goes";
    EXPECT_FALSE(zvtest::FileExists(zvfix::TableCopyPath(serials[0], kFbc)));
    const std::string copies = std::string(zvfix::kTableCopyDir) + "/" + serials[0];
    EXPECT_EQ(Output(), "HBA KV2692 (instance 0): An earlier write of the FWA preload table (region 0x13) may not "
                        "have finished; the table is written back from the copy " + copies + "-0x13.copy.\n"
                        "HBA KV2692: Upgrading FWA version from 2.0.0 to 2.1.0: started\n"
                        "HBA KV2692: Upgrading FWA version from 2.0.0 to 2.1.0: completed\n"
                        "HBA KV2692 (instance 0): An earlier write of the FBC board configuration (region 0xBA) may "
                        "not have finished; the table is written back from the copy " + copies + "-0xBA.copy.\n"
                        "HBA KV2692: Upgrading FBC version from 2.0.0 to 2.1.0: started\n"
                        "HBA KV2692: Upgrading FBC version from 2.0.0 to 2.1.0: completed\n");

    // No copy of the other adapter's tables: nothing is written to them.
    const size_t seen = Output().size();
    EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[2], "Vx9FWA.dat"), FWA_FAILED);
    EXPECT_EQ(UpdateAdapterFCBoardConfigFromFile(devs[2], "Vx9FBC.dat", 1, 8), FBC_FAILED);
    EXPECT_EQ(zvfix::ReadRegion(hostDir_, 1, kFwa), tear(fwaSound));
    EXPECT_EQ(zvfix::ReadRegion(hostDir_, 1, kFbc), tear(fbcSound));
    EXPECT_EQ(Output().substr(seen),
              "HBA KV2692 (instance 2): The FWA preload table (region 0x13) on the adapter is damaged and no intact "
              "copy of it is kept in /var/lib/tarvikolen; nothing was written to the adapter!\n"
              "HBA KV2692 (instance 2): The FBC board configuration (region 0xBA) on the adapter is damaged and no "
              "intact copy of it is kept in /var/lib/tarvikolen; nothing was written to the adapter!\n");

    // Sound again: now up to date.
    EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[1], "Vx9FWA.dat"), FWA_SUCCESS);
    EXPECT_EQ(UpdateAdapterFCBoardConfigFromFile(devs[1], "Vx9FBC.dat", 1, 8), FBC_UP_TO_DATE);
    EXPECT_EQ(WritesTo(kFwa) + WritesTo(kFbc), 4u) << "each table written back, then updated";
}

// A torn table whose template is not newer than the kept copy: the copy goes
// back as it was, and then the table is up to date as it is (never "up to
// date" over the torn bytes, never an upgrade from a version to itself,
// never downgraded).
TEST_F(TableUpdate, ATornTableWhoseTemplateIsNotNewerGetsItsCopyBackAsItWas) {
    if (!Isolated()) GTEST_SKIP() << "the copies live in the private /var/lib of an isolated test process";
    zvfix::HostBuilder host;
    auto& a = Chip25(host, {2, 0, 0, 0});
    const zvfix::Bytes fwa = a.regionData.at(kFwa);
    const zvfix::Bytes fbc = zvfix::MakeFcBoardConfig({2, 0, 0, 0}, kSsvid, kSsdid, kAdapterSettings);
    for (const auto& [code, sound] : {std::pair(kFwa, fwa), std::pair(kFbc, fbc)}) {
        zvfix::Bytes torn = sound;
        std::fill(torn.begin() + 16, torn.begin() + 0x1000, uint8_t{0xFF});
        a.SetRegion(code, torn);
        KeepCopy(a.serial, code, sound);
    }
    const auto devs = Discover(host);
    FwaTemplate("2.0.0");
    FbcTemplate(dir_ + "/Vx9FBC.dat", "1.9.0");

    EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[0], "Vx9FWA.dat"), FWA_SUCCESS);
    EXPECT_EQ(UpdateAdapterFCBoardConfigFromFile(devs[0], "Vx9FBC.dat", 1, 8), FBC_TEMPLATE_OLDER);
    EXPECT_EQ(zvfix::ReadRegion(hostDir_, 0, kFwa), fwa);
    EXPECT_EQ(zvfix::ReadRegion(hostDir_, 0, kFbc), fbc);
    const std::string copies = std::string(zvfix::kTableCopyDir) + "/" + a.serial;
    EXPECT_EQ(Output(), "HBA KV2692 (instance 0): An earlier write of the FWA preload table (region 0x13) may not "
                        "have finished; the table is written back from the copy " + copies + "-0x13.copy.\n"
                        "HBA KV2692: Upgrade is not required. FWA version is up to date (2.0.0)\n"
                        "HBA KV2692 (instance 0): An earlier write of the FBC board configuration (region 0xBA) may "
                        "not have finished; the table is written back from the copy " + copies + "-0xBA.copy.\n"
                        "HBA KV2692: Upgrade is not required. FBC version is up to date (2.0.0)\n");
    EXPECT_EQ(WritesTo(kFwa) + WritesTo(kFbc), 2u);
}

// A copy that is not a whole copy of the region, or that root cannot trust,
// is not used: the torn table is not written, and the line says why. A table
// whose header the cut erased is named as the adapter's damaged table, not
// blamed on a sound template.
TEST_F(TableUpdate, AnUnusableCopyIsNotUsedAndTheDamagedRegionIsNamed) {
    if (!Isolated()) GTEST_SKIP() << "the copies live in the private /var/lib of an isolated test process";
    zvfix::HostBuilder host;
    auto& a = Chip25(host, {2, 0, 0, 0});
    const zvfix::Bytes sound = a.regionData.at(kFwa);
    zvfix::Bytes erased = sound;
    std::fill(erased.begin(), erased.begin() + 0x1000, uint8_t{0xFF});   // the header too
    a.SetRegion(kFwa, erased);
    const auto devs = Discover(host);
    FwaTemplate("2.1.0");
    const std::string dir = zvfix::kTableCopyDir, path = zvfix::TableCopyPath(a.serial, kFwa);
    const std::string copy = "the copy " + path;
    const zvfix::Bytes file = zvfix::MakeTableCopyFile(kFwa, sound, a.serial);

    struct Row {
        const char* what;
        std::function<void()> make;
        std::string why;   // "": only the damaged table is said
    };
    const Row rows[] = {
        {"no copy", [] {}, ""},
        {"a copy of another region", [&] { KeepCopy(a.serial, kFwa, sound); zvfix::WriteBytes(path, zvfix::MakeTableCopyFile(kFbc, sound, a.serial)); },
         copy + " is not intact"},
        {"another adapter's copy under this adapter's name", [&] {
             KeepCopy(a.serial, kFwa, sound);
             zvfix::WriteBytes(path, zvfix::MakeTableCopyFile(kFwa, sound, "ZV00990000"));
         }, copy + " is refused: it was kept for another adapter"},
        {"the copy of an adapter whose serial number this one's begins with", [&] {
             KeepCopy(a.serial, kFwa, sound);
             zvfix::WriteBytes(path, zvfix::MakeTableCopyFile(kFwa, sound, a.serial.substr(0, a.serial.size() - 1)));
         }, copy + " is refused: it was kept for another adapter"},
        {"the copy of an adapter whose serial number begins with this one's", [&] {
             KeepCopy(a.serial, kFwa, sound);
             zvfix::WriteBytes(path, zvfix::MakeTableCopyFile(kFwa, sound, a.serial + "0"));
         }, copy + " is refused: it was kept for another adapter"},
        {"another adapter's copy kept by its WWPN", [&] {
             KeepCopy(a.serial, kFwa, sound);
             zvfix::WriteBytes(path, zvfix::MakeTableCopyFile(kFwa, sound, a.serial, zvfix::kCopyOwnerWwpn));
         }, copy + " is refused: it was kept for another adapter"},
        {"a copy cut short", [&] { KeepCopy(a.serial, kFwa, sound); ::truncate(path.c_str(), 24 + 0x8000); },
         copy + " is not intact"},
        {"a copy with a changed byte", [&] {
             KeepCopy(a.serial, kFwa, sound);
             zvfix::Bytes bad = file;
             bad[24 + 0x2000] ^= 1;   // past the table: only the copy's own sum sees it
             zvfix::WriteBytes(path, bad);
         }, copy + " is not intact"},
        {"a copy that holds no sound table", [&] { KeepCopy(a.serial, kFwa, erased); }, copy + " is not intact"},
        {"a copy others may write", [&] { KeepCopy(a.serial, kFwa, sound); ::chmod(path.c_str(), 0666); },
         copy + " is refused: group or other users may write it"},
        {"a copy its group may write", [&] { KeepCopy(a.serial, kFwa, sound); ::chmod(path.c_str(), 0620); },
         copy + " is refused: group or other users may write it"},
        {"a copy through a link", [&] {
             KeepCopy(a.serial, kFwa, sound);
             ::rename(path.c_str(), (dir + "/elsewhere").c_str());
             ::symlink((dir + "/elsewhere").c_str(), path.c_str());
         }, copy + " is refused: it is a symbolic link"},
        {"a copy another user owns", [&] { KeepCopy(a.serial, kFwa, sound); ::chown(path.c_str(), 65534, 65534); },
         copy + " is refused: a user other than root owns it"},
        {"a directory others may write", [&] { KeepCopy(a.serial, kFwa, sound); ::chmod(dir.c_str(), 0707); },
         "the directory " + dir + " is refused: group or other users may write it"},
        {"a directory its group may write", [&] { KeepCopy(a.serial, kFwa, sound); ::chmod(dir.c_str(), 0770); },
         "the directory " + dir + " is refused: group or other users may write it"},
        {"a directory another user owns", [&] { KeepCopy(a.serial, kFwa, sound); ::chown(dir.c_str(), 65534, 65534); },
         "the directory " + dir + " is refused: a user other than root owns it"},
        {"a directory through a link", [&] {
             KeepCopy(a.serial, kFwa, sound);
             ::rename(dir.c_str(), (dir + ".real").c_str());
             ::symlink((dir + ".real").c_str(), dir.c_str());
         }, "the directory " + dir + " is refused: it is a symbolic link"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ClearCopies();
        std::error_code ec;
        std::filesystem::remove_all(dir + ".real", ec);
        row.make();
        const size_t seen = Output().size();
        EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[0], "Vx9FWA.dat"), FWA_FAILED);
        const std::string said = Output().substr(seen);
        EXPECT_EQ(said, (row.why.empty() ? "" : "HBA KV2692 (instance 0): No table copy is used: " + row.why + ".\n") +
                            "HBA KV2692 (instance 0): The FWA preload table (region 0x13) on the adapter is damaged and "
                            "no intact copy of it is kept in /var/lib/tarvikolen; nothing was written to the adapter!\n");
        EXPECT_FALSE(zvtest::Has(said, "appears to be corrupted")) << "the template is sound";
    }
    std::error_code ec;
    std::filesystem::remove_all(dir + ".real", ec);
    EXPECT_EQ(WritesTo(kFwa), 0u);
    EXPECT_EQ(zvfix::ReadRegion(hostDir_, 0, kFwa), erased);

    // The intact copy brings the whole table back, header and all; so does a
    // copy an earlier version of this program kept (format 1, which names its
    // adapter only by the file's name).
    for (const bool format1 : {true, false}) {
        SCOPED_TRACE(format1 ? "format 1" : "format 2");
        ClearCopies();
        KeepCopy(a.serial, kFwa, sound);
        if (format1) zvfix::WriteBytes(path, zvfix::MakeFormat1TableCopyFile(kFwa, sound));
        EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[0], "Vx9FWA.dat"), FWA_UPDATED);
        const zvfix::Bytes now = zvfix::ReadRegion(hostDir_, 0, kFwa);
        EXPECT_EQ(Version(now), (std::vector<uint8_t>{2, 1, 0, 0}));
        EXPECT_EQ(now[0x300], 0x42);
        EXPECT_TRUE(SumsToZero(now));
        EXPECT_FALSE(zvtest::FileExists(path));
    }
}

// The copies of an adapter are all read and judged before any goes back: one
// that cannot be used leaves the other unwritten too. A write-back that fails
// keeps its copy, and those after it, for the next run.
TEST_F(TableUpdate, KeptCopiesGoBackAllOrNoneAndAFailedWriteBackKeepsThem) {
    if (!Isolated()) GTEST_SKIP() << "the copies live in the private /var/lib of an isolated test process";
    zvfix::HostBuilder host;
    auto& a = Chip25(host, {2, 0, 0, 0});
    const zvfix::Bytes fwa = a.regionData.at(kFwa);
    const zvfix::Bytes fbc = zvfix::MakeFcBoardConfig({2, 0, 0, 0}, kSsvid, kSsdid, kAdapterSettings);
    a.SetRegion(kFbc, fbc);
    a.faults.push_back(zvfix::FaultSpec::Fail("flash_write", 5, 1).OnRegion(kFwa));
    const auto devs = Discover(host);
    const SingleCopyTable tables[] = {FWA_SINGLE_COPY, FBC_SINGLE_COPY};
    zvfix::Bytes oldFwa = fwa, oldFbc = fbc;
    oldFwa[0x300] = 0x24;
    zvfix::FixTableChecksum(oldFwa);
    oldFbc[0x500] = 0x24;
    zvfix::FixTableChecksum(oldFbc);
    const std::string fwaCopy = zvfix::TableCopyPath(a.serial, kFwa), fbcCopy = zvfix::TableCopyPath(a.serial, kFbc);

    KeepCopy(a.serial, kFwa, oldFwa);
    KeepCopy(a.serial, kFbc, oldFbc);
    ::chmod(fbcCopy.c_str(), 0622);
    EXPECT_EQ(RollBackSingleCopyTables(devs[0], tables), -1);
    EXPECT_EQ(WritesTo(kFwa) + WritesTo(kFbc), 0u) << "the preload table's sound copy is not written either";
    EXPECT_EQ(Output(), "HBA KV2692 (instance 0): No table copy is used: the copy " + fbcCopy +
                            " is refused: group or other users may write it.\n"
                            "HBA KV2692 (instance 0): An earlier write of the FBC board configuration (region 0xBA) "
                            "may not have finished and no intact copy of it is kept in /var/lib/tarvikolen; nothing "
                            "was written to the adapter!\n");

    ::chmod(fbcCopy.c_str(), 0600);
    size_t seen = Output().size();
    EXPECT_EQ(RollBackSingleCopyTables(devs[0], tables), -1);
    EXPECT_TRUE(zvtest::FileExists(fwaCopy) && zvtest::FileExists(fbcCopy)) << "both kept for the next run";
    EXPECT_EQ(WritesTo(kFbc), 0u);
    EXPECT_EQ(Output().substr(seen),
              "HBA KV2692 (instance 0): An earlier write of the FWA preload table (region 0x13) may not have finished; "
              "the table is written back from the copy " + fwaCopy + ".\n"
              "HBA KV2692 (instance 0): The FWA preload table (region 0x13) could not be written back (error 5); the "
              "copy " + fwaCopy + " is kept for the next run!\n");

    seen = Output().size();
    EXPECT_EQ(RollBackSingleCopyTables(devs[0], tables), 0);
    EXPECT_EQ(zvfix::ReadRegion(hostDir_, 0, kFwa), oldFwa);
    EXPECT_EQ(zvfix::ReadRegion(hostDir_, 0, kFbc), oldFbc);
    EXPECT_FALSE(zvtest::FileExists(fwaCopy) || zvtest::FileExists(fbcCopy));
    EXPECT_EQ(Output().substr(seen),
              "HBA KV2692 (instance 0): An earlier write of the FWA preload table (region 0x13) may not have finished; "
              "the table is written back from the copy " + fwaCopy + ".\n"
              "HBA KV2692 (instance 0): An earlier write of the FBC board configuration (region 0xBA) may not have "
              "finished; the table is written back from the copy " + fbcCopy + ".\n");
    EXPECT_EQ(RollBackSingleCopyTables(devs[0], tables), 0) << "nothing kept: nothing to do";
    EXPECT_EQ(WritesTo(kFwa) + WritesTo(kFbc), 2u);
}

// A template names a table whole when its patch lines cover every byte of the
// table it makes: the header's length, and for the FC board configuration its
// SerDes table at 0x1200 too, which a short length does not cover.
TEST_F(TableUpdate, ATemplateNamesAWholeTableOnlyWhenItsLinesCoverEveryByte) {
    const auto parse = [](const zvfix::BoardTemplateSpec& text, const char* signature) {
        BoardTemplate tpl;
        std::string reason;
        EXPECT_TRUE(ParseBoardTemplate(text.Text(), signature, BRDTPL_MAX_TABLE_SIZE, &tpl, &reason)) << reason;
        return tpl;
    };
    const std::vector<uint8_t> erased(0x10000, 0xFF);
    const zvfix::Bytes fwa = zvfix::MakeConfigTable("JKOZ", {2, 0, 0, 0}, 0x80, kSsvid, kSsdid);
    zvfix::BoardTemplateSpec whole = zvfix::WholeTableTemplate("JKOZ", "2.0.0", fwa);
    EXPECT_TRUE(BoardTemplateNamesWholeTable(parse(whole, "JKOZ"), erased, CFGTBL_SIG_FW_PRELOAD));
    zvfix::BoardTemplateSpec gap = whole;
    gap.patches[5].second.pop_back();   // one byte short
    EXPECT_FALSE(BoardTemplateNamesWholeTable(parse(gap, "JKOZ"), erased, CFGTBL_SIG_FW_PRELOAD));
    zvfix::BoardTemplateSpec header = whole;
    header.patches.resize(2);   // the header alone: its length reaches further
    EXPECT_FALSE(BoardTemplateNamesWholeTable(parse(header, "JKOZ"), erased, CFGTBL_SIG_FW_PRELOAD));

    // The board configuration's own length stops at 0x1000, short of its
    // SerDes table, which the torn region still holds: a template of the
    // board configuration alone does not name it.
    const zvfix::Bytes fbc = zvfix::MakeFcBoardConfig({2, 0, 0, 0}, kSsvid, kSsdid, kAdapterSettings, 0x1400, 0x400);
    zvfix::Bytes torn = zvfix::MakeFcBoardConfig({2, 0, 0, 0}, kSsvid, kSsdid, kAdapterSettings, 0x10000, 0x400);
    std::fill(torn.begin() + 64, torn.begin() + 0x1000, uint8_t{0xFF});
    const zvfix::BoardTemplateSpec both = zvfix::WholeTableTemplate("CBF(", "2.0.0", fbc);
    EXPECT_TRUE(BoardTemplateNamesWholeTable(parse(both, "CBF("), torn, CFGTBL_SIG_FC_BRDCFG));
    const zvfix::BoardTemplateSpec tableOnly =
        zvfix::WholeTableTemplate("CBF(", "2.0.0", std::span<const uint8_t>(fbc).first(0x1000));
    EXPECT_FALSE(BoardTemplateNamesWholeTable(parse(tableOnly, "CBF("), torn, CFGTBL_SIG_FC_BRDCFG));
    EXPECT_FALSE(BoardTemplateNamesWholeTable(parse(tableOnly, "CBF("), erased, CFGTBL_SIG_FC_BRDCFG));
}

// Each write of a single-copy table is guarded by a copy of the table as it
// was: written (0600, in a 0700 directory of root's) before the flash write,
// kept when the write fails, removed once the table reads back whole. A copy
// left behind by an earlier run is written back even over a sound table (its
// write may not have finished), and the update then runs from it. Without a
// usable directory the table is not written.
TEST_F(TableUpdate, AWriteOfASingleCopyTableKeepsACopyUntilItReadsBack) {
    if (!Isolated()) GTEST_SKIP() << "the copies live in the private /var/lib of an isolated test process";
    zvfix::HostBuilder host;
    auto& a = Chip25(host);
    a.faults.push_back(zvfix::FaultSpec::Fail("flash_write", 5, 1).OnRegion(kFwa));
    const auto devs = Discover(host);
    const zvfix::Bytes before = zvfix::ReadRegion(hostDir_, 0, kFwa);
    const std::string dir = zvfix::kTableCopyDir, path = zvfix::TableCopyPath(a.serial, kFwa);
    FwaTemplate("2.0.0");
    ::rmdir(dir.c_str());

    EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[0], "Vx9FWA.dat"), FWA_FAILED);
    const zvfix::Bytes kept = zvfix::MakeTableCopyFile(kFwa, before, a.serial);
    EXPECT_EQ(zvtest::ReadFile(path), std::string(kept.begin(), kept.end())) << "the table as it was";
    struct stat d {}, f {};
    ASSERT_EQ(::lstat(dir.c_str(), &d), 0);
    ASSERT_EQ(::lstat(path.c_str(), &f), 0);
    EXPECT_EQ(std::tuple(d.st_mode & 07777, d.st_uid, f.st_mode & 07777, f.st_uid), std::tuple(0700u, 0u, 0600u, 0u));

    // The fault is spent: written, read back, the copy removed.
    EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[0], "Vx9FWA.dat"), FWA_UPDATED);
    EXPECT_FALSE(zvtest::FileExists(path));

    // A copy beside a sound, up-to-date table goes back all the same (the
    // table is then brought up to the template again), and a fresh copy a
    // cut left half written goes with it.
    KeepCopy(a.serial, kFwa, before);
    zvfix::WriteBytes(path + ".new", {'T', 'K'});
    EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[0], "Vx9FWA.dat"), FWA_UPDATED);
    EXPECT_TRUE(zvtest::Has(Output(), "Upgrading FWA version from 1.2.3 to 2.0.0: completed\n")) << Output();
    EXPECT_FALSE(zvtest::FileExists(path));
    EXPECT_FALSE(zvtest::FileExists(path + ".new"));

    // A directory its group or others may write keeps no copy: the table is not written.
    FwaTemplate("2.0.1");
    const zvfix::Bytes sound = zvfix::ReadRegion(hostDir_, 0, kFwa);
    for (const mode_t mode : {0777, 0770, 0707}) {
        SCOPED_TRACE(mode);
        ::chmod(dir.c_str(), mode);
        const size_t writes = WritesTo(kFwa), seen = Output().size();
        EXPECT_EQ(UpdateFWPreloadTableToHBA(devs[0], "Vx9FWA.dat"), FWA_FAILED);
        EXPECT_EQ(WritesTo(kFwa), writes);
        EXPECT_EQ(zvfix::ReadRegion(hostDir_, 0, kFwa), sound);
        EXPECT_EQ(Output().substr(seen),
                  "HBA KV2692: Upgrading FWA version from 2.0.0 to 2.0.1: started\n"
                  "HBA KV2692 (instance 0): The copy of region 0x13 cannot be kept: the directory /var/lib/tarvikolen "
                  "is refused: group or other users may write it; the table was not written!\n"
                  "HBA KV2692: Upgrading FWA version from 2.0.0 to 2.0.1: failed\n");
    }
}

// An adapter without a serial number names its copies by its first port's
// WWPN from whichever of its ports the update is at (each one with --ports),
// and two such adapters never share a name.
TEST_F(TableUpdate, EveryPortOfAnAdapterWithoutASerialNumberNamesItsFirstPortsCopies) {
    zvfix::HostBuilder host;
    for (int i = 0; i < 2; ++i) {
        auto& a = Chip25(host);
        a.serial = "";
        a.faults.push_back(zvfix::FaultSpec::Fail("vpd_read", 0x20000075));
    }
    Discover(host);
    ASSERT_EQ(BuildHBADevices(), 0);
    std::vector<std::string> names;
    for (SDMDevice* port = GetMyDeviceList()->firstDevice; port != nullptr; port = port->next) {
        names.push_back(TableCopyFileName(SingleCopyTableOwner(port), kFwa));
    }
    ASSERT_EQ(names.size(), 4u);
    const std::string first0 = zvfix::WwpnText(host.adapters[0].ports[0].portWwn) + "-0x13.copy";
    const std::string first1 = zvfix::WwpnText(host.adapters[1].ports[0].portWwn) + "-0x13.copy";
    std::vector<std::string> expected = {first0, first0, first1, first1};
    if (names[0] != first0) std::swap(expected[0], expected[2]), std::swap(expected[1], expected[3]);
    EXPECT_EQ(names, expected);
    CloneFreeVORNDeviceList();
}

// A torn board configuration that a template naming every byte of it (the
// table and its SerDes table) repairs keeps no copy of its torn bytes: a
// write that fails leaves no copy behind, and the next one repairs it.
TEST_F(TableUpdate, ABoardConfigRepairedWholeByItsTemplateKeepsNoCopyOfItsTornBytes) {
    if (!Isolated()) GTEST_SKIP() << "the copies live in the private /var/lib of an isolated test process";
    zvfix::HostBuilder host;
    auto& a = Chip25(host, {2, 0, 0, 0});
    const zvfix::Bytes whole = zvfix::MakeFcBoardConfig({2, 1, 0, 0}, kSsvid, kSsdid, kAdapterSettings, 0x1400, 0x400);
    zvfix::Bytes torn = zvfix::MakeFcBoardConfig({2, 0, 0, 0}, kSsvid, kSsdid, kAdapterSettings, 0x10000, 0x400);
    std::fill(torn.begin() + 64, torn.begin() + 0x1000, uint8_t{0xFF});
    a.SetRegion(kFbc, torn);
    a.faults.push_back(zvfix::FaultSpec::Fail("flash_write", 5, 1).OnRegion(kFbc));
    const auto devs = Discover(host);
    zvfix::WriteTextFile(dir_ + "/Vx9FBC.dat", zvfix::WholeTableTemplate("CBF(", "2.1.0", whole).Text());
    const auto noCopy = [&] {
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(zvfix::kTableCopyDir, ec)) {
            ADD_FAILURE() << "a copy was kept: " << e.path();
        }
    };

    EXPECT_EQ(UpdateAdapterFCBoardConfigFromFile(devs[0], "Vx9FBC.dat", 1, 8), FBC_FAILED);
    EXPECT_EQ(WritesTo(kFbc), 0u) << "the write failed";
    noCopy();
    EXPECT_EQ(UpdateAdapterFCBoardConfigFromFile(devs[0], "Vx9FBC.dat", 1, 8), FBC_UPDATED);
    noCopy();
    const zvfix::Bytes t = zvfix::ReadRegion(hostDir_, 0, kFbc);
    EXPECT_EQ(Version(t), (std::vector<uint8_t>{2, 1, 0, 0}));
    EXPECT_TRUE(SumsToZero(t));
    EXPECT_TRUE(SumsToZero(t, 0x1200));
    EXPECT_EQ(Output(), "HBA KV2692: Upgrading FBC version from 0.0.0 to 2.1.0: started\n"
                        "HBA KV2692: Upgrading FBC version from 0.0.0 to 2.1.0: failed\n"
                        "HBA KV2692: Upgrading FBC version from 0.0.0 to 2.1.0: started\n"
                        "HBA KV2692: Upgrading FBC version from 0.0.0 to 2.1.0: completed\n");
}

// An adapter's serial number may become readable, or unreadable, between the
// run that kept a copy and the next: the copy is looked for under each of
// the adapter's names, and its header decides whether it is this adapter's.
// Two copies of one table under two of its names are both refused: nothing
// tells which is the later.
TEST_F(TableUpdate, AKeptCopyIsLookedForUnderEveryNameOfItsAdapter) {
    if (!Isolated()) GTEST_SKIP() << "the copies live in the private /var/lib of an isolated test process";
    zvfix::HostBuilder host;
    auto& a = Chip25(host, {2, 0, 0, 0});
    auto& b = Chip25(host, {2, 0, 0, 0});
    b.serial = "";
    b.vpd.sn = "ZV00880000";
    b.faults.push_back(zvfix::FaultSpec::Fail("vpd_read", 0x20000075));
    const zvfix::Bytes fwa = a.regionData.at(kFwa);
    zvfix::Bytes old = fwa;
    old[0x300] = 0x24;
    zvfix::FixTableChecksum(old);
    const auto devs = Discover(host);
    ASSERT_EQ(devs.size(), 4u);
    ASSERT_EQ(BuildHBADevices(), 0);   // the front end's device list, where an adapter's first port is found
    SDMDevice* const portA = devs[0];
    SDMDevice* const portB = devs[2];
    ASSERT_EQ(portB->DevicePortProperty.WWN[7], static_cast<uint8_t>(b.ports[0].portWwn));
    const std::string wwpnA = zvfix::WwpnText(a.ports[0].portWwn), wwpnB = zvfix::WwpnText(b.ports[0].portWwn);
    const SingleCopyTable tables[] = {FWA_SINGLE_COPY};
    const auto place = [](const std::string& name, const zvfix::Bytes& file) {
        ::mkdir(zvfix::kTableCopyDir, 0700);
        const std::string path = zvfix::TableCopyPath(name, kFwa);
        zvfix::WriteBytes(path, file);
        ::chmod(path.c_str(), 0600);
        return path;
    };
    const auto names = [](SDMDevice* port) {
        std::vector<std::pair<TableCopyOwnerKind, std::string>> v;
        for (const TableCopyOwner& o : SingleCopyTableOwners(port)) v.emplace_back(o.kind, o.id);
        return v;
    };
    const std::string back = "HBA KV2692 (instance 0): An earlier write of the FWA preload table (region 0x13) may not "
                             "have finished; the table is written back from the copy ";

    // The names: the serial number first when it reads, else the WWPN first
    // and the serial number its VPD on flash holds.
    using Names = std::vector<std::pair<TableCopyOwnerKind, std::string>>;
    EXPECT_EQ(names(portA), (Names{{TableCopyOwnerKind::Serial, a.serial}, {TableCopyOwnerKind::Wwpn, wwpnA}}));
    EXPECT_EQ(names(devs[1]), names(portA)) << "the first port's WWPN from either port";
    EXPECT_EQ(names(portB), (Names{{TableCopyOwnerKind::Wwpn, wwpnB}, {TableCopyOwnerKind::Serial, "ZV00880000"}}));

    // Kept by the WWPN while the serial number could not be read: found now that it reads.
    std::string path = place(wwpnA, zvfix::MakeTableCopyFile(kFwa, old, wwpnA, zvfix::kCopyOwnerWwpn));
    size_t seen = Output().size();
    EXPECT_EQ(RollBackSingleCopyTables(portA, tables), 0);
    EXPECT_EQ(zvfix::ReadRegion(hostDir_, 0, kFwa), old);
    EXPECT_FALSE(zvtest::FileExists(path)) << "the file used is removed";
    EXPECT_EQ(Output().substr(seen), back + path + ".\n");

    // Kept by the serial number while it could be read: found now that it does not.
    path = place("ZV00880000", zvfix::MakeTableCopyFile(kFwa, old, "ZV00880000"));
    seen = Output().size();
    EXPECT_EQ(RollBackSingleCopyTables(portB, tables), 0);
    EXPECT_EQ(zvfix::ReadRegion(hostDir_, 1, kFwa), old);
    EXPECT_FALSE(zvtest::FileExists(path));
    EXPECT_EQ(Output().substr(seen), "HBA KV2692 (instance 2): An earlier write of the FWA preload table (region 0x13) "
                                     "may not have finished; the table is written back from the copy " + path + ".\n");

    // The header decides: another adapter's copy under this one's WWPN name,
    // or one of the older format there (it only ever had serial-number names).
    const size_t writes = WritesTo(kFwa);
    const std::string fwaLine = "HBA KV2692 (instance 0): An earlier write of the FWA preload table (region 0x13) may not "
                                "have finished and no intact copy of it is kept in /var/lib/tarvikolen; nothing was "
                                "written to the adapter!\n";
    for (const bool format1 : {false, true}) {
        path = place(wwpnA, format1 ? zvfix::MakeFormat1TableCopyFile(kFwa, fwa)
                                    : zvfix::MakeTableCopyFile(kFwa, fwa, wwpnB, zvfix::kCopyOwnerWwpn));
        seen = Output().size();
        EXPECT_EQ(RollBackSingleCopyTables(portA, tables), -1);
        EXPECT_EQ(Output().substr(seen), "HBA KV2692 (instance 0): No table copy is used: the copy " + path +
                                             (format1 ? " is not intact" : " is refused: it was kept for another adapter") +
                                             ".\n" + fwaLine);
        EXPECT_TRUE(zvtest::FileExists(path));
        ::unlink(path.c_str());
    }

    // A copy under either name: neither is written, both stay.
    const std::string bySerial = place(a.serial, zvfix::MakeTableCopyFile(kFwa, fwa, a.serial));
    const std::string byWwpn = place(wwpnA, zvfix::MakeTableCopyFile(kFwa, fwa, wwpnA, zvfix::kCopyOwnerWwpn));
    seen = Output().size();
    SD_UINT32 failed = 0;
    EXPECT_EQ(RollBackSingleCopyTables(portA, tables, &failed), -1);
    EXPECT_EQ(failed, kFwa);
    EXPECT_EQ(Output().substr(seen), "HBA KV2692 (instance 0): No table copy is used: the copies " + bySerial + " and " +
                                         byWwpn + " are both kept under this adapter's names, and nothing tells which "
                                         "of them is the later.\n" + fwaLine);
    EXPECT_TRUE(zvtest::FileExists(bySerial) && zvtest::FileExists(byWwpn));
    EXPECT_EQ(WritesTo(kFwa), writes) << "nothing written";
    EXPECT_EQ(zvfix::ReadRegion(hostDir_, 0, kFwa), old);
    CloneFreeVORNDeviceList();
}

// ---- Version readers -----------------------------------------------------------------------

TEST_F(TableUpdate, VersionReaders) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    zvfix::Bytes pep = zvfix::MakeConfigTable("IKOZ", {3, 1, 4, 1}, 0x80, kSsvid, kSsdid, 0x10000);
    a.SetRegion(0xCF, pep);
    a.SetRegion(zvfix::kRegionMemo1, zvfix::MakeMemoRegion({.mbi = {6, 2, 1, 0}}));
    host.AddChip25TwoPort();   // no memo block
    auto& old = host.AddChip25(0x1234, 1);
    old.chipType = 12;
    zvfix::Bytes fw(0x100, 0xFF);
    std::ranges::copy(std::initializer_list<uint8_t>{'Z', 'M', 'B', 'V', 3, 7, 9}, fw.begin());
    old.SetRegion(zvfix::kRegionFirmware1, fw);
    const auto devs = Discover(host);
    ASSERT_EQ(devs.size(), 5u);

    PepBoardCfgVersion pv{};
    EXPECT_EQ(getPEPBrdCfgVersionFromAdapter(devs[0], &pv), 0);
    EXPECT_EQ(std::tie(pv.ExistingVersionMajor, pv.ExistingVersionTest), std::tuple(3, 1));
    char text[16];
    EXPECT_EQ(RetrievePEPBrdCfgVersionFromAdapter(devs[0], text), 0);
    EXPECT_STREQ(text, "3.1.4.1");
    char tiny[4];
    EXPECT_EQ(RetrievePEPBrdCfgVersionFromAdapter(devs[0], tiny), 0);
    EXPECT_STREQ(tiny, "3.1");
    EXPECT_EQ(RetrievePEPBrdCfgVersionFromAdapter(devs[0], std::span<char>()), -1);
    EXPECT_EQ(getPEPBrdCfgVersionFromAdapter(devs[4], &pv), PEP_UNSUPPORTED_CHIP);

    zvfix::WriteTextFile(dir_ + "/pep.dat", "table = IKOZ\nversion = 3.2.0.0\n");
    std::vector<SD_UINT8> image;
    EXPECT_EQ(ReadPEPBoardConfigBufferFromFile(devs[0], "pep.dat", &pv, 8, &image), 0);
    EXPECT_EQ(pv.NewVersionMinor, 2);
    EXPECT_EQ(Le16(image, 264), kSsdid);
    EXPECT_EQ(Le16(image, 266), kSsvid);
    EXPECT_TRUE(SumsToZero(image));
    EXPECT_EQ(ReadPEPBoardConfigBufferFromFile(devs[0], "none.dat", &pv, 8), PEP_OPEN_FAILED);

    MultibootVersions mv{};
    EXPECT_EQ(GetExistingCNAFlashImageVersions(devs[0], &mv), 0);
    EXPECT_EQ(std::tie(mv.ExistingMultibootVersionMajor, mv.ExistingMultibootVersionSubMinor), std::tuple(6, 1));
    EXPECT_NE(GetExistingCNAFlashImageVersions(devs[2], &mv), 0);   // no block: no version
    SD_UINT8 version[3] = {};
    EXPECT_EQ(ReadAdapterMultibootVersion(devs[0], version), 0);
    EXPECT_EQ(version[1], 2);
    EXPECT_EQ(getMBImageVersionInFirmwareFromAdapter(devs[4], &mv), 0);
    EXPECT_EQ(mv.ExistingMultibootVersionMinor, 7);
    EXPECT_EQ(GetExistingCNAFlashImageVersions(nullptr, &mv), CNAVER_NO_DEVICE);
}

}  // namespace
