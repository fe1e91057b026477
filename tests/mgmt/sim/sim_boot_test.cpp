// The boot rule (which image set runs), its persistence between runs, the
// reboot tool and on-line activation.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "fixtures/host_builder.h"
#include "fixtures/sim_client.h"
#include "mgmt/sim/sim_boot.h"
#include "support/e2e_support.h"

namespace {

// state.json's bytes and inode.
std::pair<std::string, ino_t> StateFile(const std::string& dir) {
    struct stat st{};
    EXPECT_EQ(::stat((dir + "/state.json").c_str(), &st), 0);
    return {zvtest::ReadFile(dir + "/state.json"), st.st_ino};
}

struct BootCase {
    const char* name;
    bool valid1, valid2;
    SD_UINT8 mask1;
    SD_UINT16 gen1;
    SD_UINT8 mask2;
    SD_UINT16 gen2;
    SD_UINT8 want;
    SD_UINT16 wantGen;
};

void PrintTo(const BootCase& b, std::ostream* os) { *os << b.name; }

class SimBootRule : public ::testing::TestWithParam<BootCase> {};

TEST_P(SimBootRule, PicksTheRunningSet) {
    const BootCase& c = GetParam();
    zvfix::HostBuilder h;
    auto& a = h.AddChip25TwoPort();
    a.SetImageStatus(c.mask1, c.gen1, c.mask2, c.gen2);
    // An invalid record: erased, or with a broken checksum.
    if (!c.valid1) a.SetRegion(0x95, zvfix::Bytes(16, 0xFF));
    if (!c.valid2) {
        zvfix::Bytes bad = zvfix::MakeImageStatusRecord(c.mask2, c.gen2, zvfix::kSigImageStatus25);
        bad[8] ^= 1;
        a.SetRegion(0x96, bad);
    }
    auto t = zvfix::OpenSimHost(h);
    SD_UINT32 st = 0;
    const SD_ACTIVE_REGIONS r = zvfix::SimActive(*t, 0, &st);
    ASSERT_EQ(st, SDERR_SUCCESS);
    EXPECT_EQ(std::tuple(r.ActiveGlobalRegions, r.ActiveVpdNvram), std::tuple(c.want, SD_UINT8{1}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimBootRule,
    ::testing::Values(BootCase{"MasksDecidePrimary", true, true, 1, 5, 0, 7, 1, 5},
                      BootCase{"MasksDecideSecondary", true, true, 0, 9, 1, 2, 2, 2},
                      BootCase{"BothActiveHigherGeneration", true, true, 1, 5, 1, 7, 2, 7},
                      BootCase{"NeitherActiveHigherGeneration", true, true, 0, 5, 0, 7, 2, 7},
                      BootCase{"EqualGenerationsMeanPrimary", true, true, 1, 9, 1, 9, 1, 9},
                      BootCase{"ErasedPrimaryCountsAsInactive", false, true, 1, 0, 1, 3, 2, 3},
                      BootCase{"BadChecksumCountsAsInactive", true, false, 1, 1, 1, 8, 1, 1},
                      BootCase{"BothInvalidMeansPrimary", false, false, 0, 0, 1, 4, 1, 0}),
    [](const ::testing::TestParamInfo<BootCase>& i) { return std::string(i.param.name); });

TEST(SimBoot, WrongChipSignatureIsInvalid) {
    zvfix::HostBuilder h;
    auto& a = h.AddChip27();
    // Records signed as for chip type 25 do not count on chip type 27.
    a.SetRegion(0x95, zvfix::MakeImageStatusRecord(0, 1, zvfix::kSigImageStatus25));
    a.SetRegion(0x96, zvfix::MakeImageStatusRecord(1, 2, zvfix::kSigImageStatus25));
    EXPECT_EQ(zvfix::SimActive(*zvfix::OpenSimHost(h), 0).ActiveGlobalRegions, 1);
}

TEST(SimBoot, AuxiliaryRecordsDecideTheComponents) {
    zvfix::HostBuilder h;
    auto& a = h.AddChip27();
    a.SetAuxImageStatus(0, 3, 0x0, 1, 4, 0x5);  // second active: board config + NPIV 0/1 secondary
    auto& b = h.AddChip27();
    b.SetImageStatus(1, 4, 1, 6);               // both global active, secondary newer
    b.SetAuxImageStatus(1, 2, 0x0, 1, 2, 0x0);  // aux undecided: follow the global tie
    auto t = zvfix::OpenSimHost(h);
    const SD_ACTIVE_REGIONS r = zvfix::SimActive(*t, 0), r2 = zvfix::SimActive(*t, 2);
    EXPECT_EQ(std::tuple(r.ActiveGlobalRegions, r.ActiveBoardConfig, r.ActiveVpdNvram, r.ActiveNpivConfig01,
                         r.ActiveNpivConfig23),
              std::tuple(1, 2, 1, 2, 1));
    EXPECT_EQ(std::tuple(r2.ActiveGlobalRegions, r2.ActiveBoardConfig, r2.ActiveNpivConfig23), std::tuple(2, 2, 2));
}

TEST(SimBoot, RunningSetChangesOnlyAtRebootOrActivation) {
    zvfix::HostBuilder h;
    h.AddChip25TwoPort();
    h.AddChip25TwoPort();
    const std::string dir = zvfix::WriteSimHost(h);
    {
        auto t = zvfix::OpenSimHost(dir);
        ASSERT_EQ(zvfix::SimActive(*t, 0).ActiveGlobalRegions, 1);
        // Make the secondary set active in flash, as an update engine would.
        ASSERT_EQ(zvfix::SimWriteRegion(*t, 0, 0x96, zvfix::MakeImageStatusRecord(1, 2, zvfix::kSigImageStatus25)),
                  SDERR_SUCCESS);
        ASSERT_EQ(zvfix::SimWriteRegion(*t, 0, 0x95, zvfix::MakeImageStatusRecord(0, 1, zvfix::kSigImageStatus25)),
                  SDERR_SUCCESS);
        ASSERT_EQ(zvfix::SimWriteRegion(*t, 2, 0x96, zvfix::MakeImageStatusRecord(1, 2, zvfix::kSigImageStatus25)),
                  SDERR_SUCCESS);
        EXPECT_EQ(zvfix::SimActive(*t, 0).ActiveGlobalRegions, 1);
    }
    // The next run still runs the old set.
    {
        auto t = zvfix::OpenSimHost(dir);
        EXPECT_EQ(zvfix::SimActive(*t, 1).ActiveGlobalRegions, 1);
        // On-line activation of adapter 1 re-runs the boot rule for it alone.
        const auto [before, inode] = StateFile(dir);
        size_t len = 0;
        ASSERT_EQ(t->Request(2, ZVOP_ONLINE_ACTIVATE, {}, {}, &len), SDERR_SUCCESS);
        EXPECT_EQ(zvfix::SimActive(*t, 2).ActiveGlobalRegions, 2);
        EXPECT_EQ(zvfix::SimActive(*t, 0).ActiveGlobalRegions, 1);
        // Saved in place: the same file, where only adapter 1's slot changed.
        const auto [after, inodeAfter] = StateFile(dir);
        const size_t slot = zvsim_state_slot_size();
        EXPECT_EQ(inodeAfter, inode);
        ASSERT_EQ(after.size(), 3 * slot + 3);
        ASSERT_EQ(before.size(), after.size());
        EXPECT_EQ(after.substr(0, 2 * slot), before.substr(0, 2 * slot));
        EXPECT_NE(after.substr(2 * slot, slot), before.substr(2 * slot, slot));
        EXPECT_NE(after.substr(2 * slot, slot).find("\"global\":2"), std::string::npos);
    }
    // A state in another layout (here without the padding) is read as it is
    // and written whole, in slots again, at the first change.
    {
        std::string compact;
        for (char c : StateFile(dir).first)
            if (c != ' ') compact += c;
        std::ofstream(dir + "/state.json", std::ios::trunc) << compact;
        const ino_t inode = StateFile(dir).second;
        auto t = zvfix::OpenSimHost(dir);
        EXPECT_EQ(zvfix::SimActive(*t, 2).ActiveGlobalRegions, 2);
        EXPECT_EQ(StateFile(dir).first, compact) << "reading never writes";
        size_t len = 0;
        ASSERT_EQ(t->Request(0, ZVOP_ONLINE_ACTIVATE, {}, {}, &len), SDERR_SUCCESS);
        const auto [text, inodeAfter] = StateFile(dir);
        EXPECT_NE(inodeAfter, inode);
        EXPECT_EQ(text.size(), 3 * zvsim_state_slot_size() + 3);
    }
    // The reboot tool switches adapter 0 too.
    const std::string tool = std::string(ZV_FIXTURE_TOOLS_DIR) + "/zvsim-reboot";
    ASSERT_EQ(std::system((tool + " " + dir).c_str()), 0);
    auto t = zvfix::OpenSimHost(dir);
    EXPECT_EQ(zvfix::SimActive(*t, 0).ActiveGlobalRegions, 2);
    EXPECT_EQ(zvfix::SimActive(*t, 2).ActiveGlobalRegions, 2);
    EXPECT_NE(std::system((tool + " /nonexistent/zvsim >/dev/null 2>&1").c_str()), 0);
}

TEST(SimBoot, DamagedStateFileMeansABoot) {
    zvfix::HostBuilder h;
    auto& a = h.AddChip25TwoPort();
    a.SetImageStatus(0, 1, 1, 2);
    const std::string dir = zvfix::WriteSimHost(h);
    std::ofstream(dir + "/state.json") << R"({"adapters":[{"serial_number":"ZV00010000","global":7}])";
    auto t = zvfix::OpenSimHost(dir);
    EXPECT_EQ(zvfix::SimActive(*t, 0).ActiveGlobalRegions, 2);
}

}  // namespace
