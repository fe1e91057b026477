// Whole-program runs that lose power at a write of the MCTP update's table
// steps, then a power cycle and the boot verdict of the reboot tool.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fixtures/adapters_properties_builder.h"
#include "fixtures/board_template_builder.h"
#include "fixtures/flash_cfg_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/memo_block_builder.h"
#include "mgmt/sd_shared_db.h"
#include "support/e2e_support.h"

namespace {

using zvfix::Bytes;

constexpr uint16_t kVendor = 0x1A77;
constexpr uint16_t kSsid = 0x0289;
constexpr uint32_t kPreload = zvfix::kRegionPreload1;
constexpr uint32_t kBoard = zvfix::kRegionBoardConfig1;

struct ToolRun {
    int status = -1;
    std::string out;
};

// zvsim-reboot with these arguments; its exit status and standard output.
ToolRun Reboot(const std::string& args) {
    ToolRun r;
    const std::string cmd = std::string(ZV_FIXTURE_TOOLS_DIR) + "/zvsim-reboot " + args;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (p == nullptr) return r;
    char buf[256];
    while (std::fgets(buf, sizeof buf, p) != nullptr) r.out += buf;
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

class SimPowerLoss : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "whole-program runs need the private /tmp and /var/log";
        // A chip-type-25 adapter whose preload table and board configuration
        // are older than the templates: the update writes 0x13, then 0xBA.
        zvfix::AdapterSpec& a = host.AddChip25TwoPort(0x2261);
        a.subSystemId = kSsid;
        zvfix::MemoBlockSpec memo;
        memo.mbi = {6, 5, 1, 0};
        a.SetRegion(zvfix::kRegionMemo1, zvfix::MakeMemoBlock(memo));
        a.SetRegion(kPreload, zvfix::MakeConfigTable("JKOZ", {1, 0, 0, 0}, 0x80, kVendor, kSsid));
        a.SetRegion(kBoard, zvfix::MakeFcBoardConfig({1, 0, 0, 0}, kVendor, kSsid, {}));
        inst.WriteFile("adapters.properties", zvfix::AdapterTable({zvfix::TableRow(kSsid, kVendor, "TRUE")}));
        inst.WriteFile("flash.cfg",
                       zvfix::FlashCfg({zvfix::FlashCfgRowFor(kSsid, kVendor, "KV2692", "6.05.01", "kv_mbi.bin")}));
        inst.WriteFile("kv_mbi.bin", zvfix::StandInImage());
        inst.WriteFile("Vx9FWA.dat", zvfix::BoardTemplateSpec{"JKOZ", "2.0.0", {{0x40, {0x4D, 0x43}}}, {}}.Text());
        inst.WriteFile("Vx9FBC.dat", zvfix::BoardTemplateSpec{"CBF(", "2.1.0", {{0x40, {0x11, 0x22}}}, {}}.Text());

        // The same update without a fault gives the bytes a complete run leaves.
        host.Write(control.Path());
        const zvtest::RunResult r = Run(control.Path());
        ASSERT_EQ(r.status, 2) << r.out << r.err << r.outputFile;
        controlJournal = zvfix::ReadJournal(control.Path());
        ASSERT_EQ(controlJournal.size(), 2u);
        ASSERT_EQ(controlJournal[0].region, kPreload);
        ASSERT_EQ(controlJournal[1].region, kBoard);
        zvfix::BootManifest m;
        m.ExpectAsNow(control.Path(), 0, 1, {kPreload, kBoard});
        manifest = control.Path() + "/manifest.json";
        m.Write(manifest);
    }

    zvtest::RunResult Run(const std::string& hostDir) {
        zvtest::RunOptions o;
        o.env = {{"ZV_SIM_HOST", hostDir}};
        return zvtest::RunProgram(inst, o);
    }

    zvfix::HostBuilder host;
    zvtest::InstallDir inst;
    zvtest::TempDir control, faulted;
    std::vector<zvfix::JournalEntry> controlJournal;
    std::string manifest;
};

TEST_F(SimPowerLoss, KilledAfterTheFirstWriteKeepsExactlyThatWrite) {
    host.powerLoss = zvfix::PowerLossSpec::After(1);
    host.Write(faulted.Path());
    const zvtest::RunResult r = Run(faulted.Path());
    EXPECT_EQ(r.status, 128 + SIGKILL) << r.out << r.err;

    const auto journal = zvfix::ReadJournal(faulted.Path());
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].hash, controlJournal[0].hash);
    EXPECT_EQ(zvfix::ReadRegion(faulted.Path(), 0, kPreload), zvfix::ReadRegion(control.Path(), 0, kPreload));
    const ToolRun v = Reboot("--verify " + manifest + " " + faulted.Path());
    EXPECT_EQ(v.status, 3);
    EXPECT_EQ(v.out, "adapter 0 (ZV00010000): boots set 1: regions differ: 0xBA\n");
}

TEST_F(SimPowerLoss, TornWriteIsNamedByTheVerdictAndAPowerCycleDropsTheLibrarysState) {
    host.powerLoss = zvfix::PowerLossSpec::During(1, 0x100);
    host.Write(faulted.Path());
    const Bytes before = zvfix::ReadRegion(faulted.Path(), 0, kPreload);
    const zvtest::RunResult r = Run(faulted.Path());
    EXPECT_EQ(r.status, 128 + SIGKILL) << r.out << r.err;

    const auto journal = zvfix::ReadJournal(faulted.Path());
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].fault, "torn");
    const Bytes torn = zvfix::ReadRegion(faulted.Path(), 0, kPreload);
    const Bytes done = zvfix::ReadRegion(control.Path(), 0, kPreload);
    EXPECT_EQ(Bytes(torn.begin(), torn.begin() + 0x100), Bytes(done.begin(), done.begin() + 0x100));
    EXPECT_EQ(Bytes(torn.begin() + 0x100, torn.begin() + 0x1000), Bytes(0xF00, 0xFF));
    EXPECT_EQ(Bytes(torn.begin() + 0x1000, torn.end()), Bytes(before.begin() + 0x1000, before.end()));

    // Killed without clean-up: the library's shared state is still there.
    EXPECT_TRUE(zvtest::FileExists(ZVSHDB_PATH));
    const ToolRun v = Reboot("--power-cycle --verify " + manifest + " " + faulted.Path());
    EXPECT_EQ(v.status, 3);
    EXPECT_EQ(v.out, "adapter 0 (ZV00010000): boots set 1: regions differ: 0x13 0xBA\n");
    EXPECT_FALSE(zvtest::FileExists(ZVSHDB_PATH));
    EXPECT_LT(::semget(zvapi_sem_key(), 0, 0), 0);

    // The complete run's flash passes the same verdict.
    const ToolRun ok = Reboot("--verify " + manifest + " " + control.Path());
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.out, "adapter 0 (ZV00010000): boots set 1: intact\n");
}

}  // namespace
