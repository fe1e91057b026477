// Power failing at the Nth write of the host: the process ends on the spot,
// and the flash and the journal hold what a real part would.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fixtures/host_builder.h"
#include "fixtures/sim_client.h"

namespace {

using zvfix::Bytes;

constexpr SD_UINT32 kPreload = zvfix::kRegionPreload1;

struct Write {
    SD_UINT32 instance;   // port instance (adapter 0: 0-1, adapter 1: 2-3)
    SD_UINT32 at;         // offset in region 0x13
    Bytes data;
};

class SimPower : public ::testing::Test {
protected:
    // Two adapters whose preload regions hold 0x11.
    void Host(const zvfix::PowerLossSpec& loss) {
        zvfix::HostBuilder h;
        for (int i = 0; i < 2; ++i) h.AddChip25TwoPort().SetRegion(kPreload, Bytes(0x10000, 0x11));
        h.powerLoss = loss;
        dir = zvfix::WriteSimHost(h);
    }
    // Runs the writes in a child process; gives its wait status.
    int RunChild(const std::vector<Write>& writes) {
        const pid_t pid = fork();
        if (pid == 0) {
            auto t = zvfix::OpenSimHost(dir);
            for (const Write& w : writes) {
                const auto layout = zvfix::SimLayout(*t, w.instance);
                const auto* r = zvfix::SimFind(layout, kPreload);
                if (r == nullptr || zvfix::SimFlashWrite(*t, w.instance, kPreload, r->Offset + w.at, w.data) != 0) _exit(3);
            }
            _exit(0);
        }
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        return status;
    }
    Bytes Preload(int adapter) { return zvfix::ReadRegion(dir, adapter, kPreload); }
    std::string dir;
};

TEST_F(SimPower, KilledRightAfterTheNthWriteOfTheWholeHost) {
    Host(zvfix::PowerLossSpec::After(3));
    std::vector<Write> writes;
    for (SD_UINT32 i = 0; i < 5; ++i) writes.push_back({(i % 2) * 2, i * 0x1000, Bytes(0x100, static_cast<uint8_t>(0xA0 + i))});
    const int status = RunChild(writes);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGKILL);

    const auto journal = zvfix::ReadJournal(dir);
    ASSERT_EQ(journal.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(std::tuple(journal[i].seq, journal[i].op, journal[i].adapter, journal[i].hash),
                  std::tuple(i + 1, "write", static_cast<int>(i % 2), zvfix::JournalHash64(writes[i].data)));
    }
    // Exactly the first three writes are in flash, on both adapters.
    const Bytes a0 = Preload(0), a1 = Preload(1);
    for (SD_UINT32 i = 0; i < 5; ++i) {
        const Bytes& flash = i % 2 == 0 ? a0 : a1;
        const Bytes got(flash.begin() + i * 0x1000, flash.begin() + i * 0x1000 + 0x100);
        EXPECT_EQ(got, i < 3 ? writes[i].data : Bytes(0x100, 0x11)) << "write " << i + 1;
    }
}

TEST_F(SimPower, TornWriteLeavesTheEraseBlockErasedFromTheCut) {
    // A 0x2000-byte write at 0x800: cut where the host says, else at its half.
    struct Case { std::optional<uint32_t> cut; uint32_t programmed; };
    for (const auto& [cut, programmed] : {Case{0x400, 0x400}, Case{std::nullopt, 0x1000}}) {
        SCOPED_TRACE(cut ? "cut given" : "no cut: half the write");
        Host(zvfix::PowerLossSpec::During(2, cut));
        const std::vector<Write> writes = {{0, 0x0, Bytes(0x10, 0x55)}, {0, 0x800, Bytes(0x2000, 0x22)}};
        const int status = RunChild(writes);
        ASSERT_TRUE(WIFSIGNALED(status));

        const size_t at = 0x800 + programmed, blockEnd = (at + 0xFFF) & ~size_t{0xFFF};
        Bytes want(0x10000, 0x11);
        std::fill_n(want.begin(), 0x10, 0x55);
        std::fill(want.begin() + 0x800, want.begin() + static_cast<long>(at), 0x22);       // programmed up to the cut
        std::fill(want.begin() + static_cast<long>(at), want.begin() + static_cast<long>(blockEnd), 0xFF);  // the cut's block: erased
        const Bytes got = Preload(0);
        ASSERT_EQ(got.size(), want.size());
        EXPECT_EQ(std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin(), 0x10000) << "first wrong byte";
        const auto journal = zvfix::ReadJournal(dir);
        ASSERT_EQ(journal.size(), 2u);
        EXPECT_EQ(std::tuple(journal[1].fault, journal[1].size), std::tuple("torn", programmed));
    }
}

TEST_F(SimPower, BeforeTheWriteNothingOfItLandsAndExitIsAnExit) {
    zvfix::PowerLossSpec loss = zvfix::PowerLossSpec::Before(2);
    loss.how = "exit";
    Host(loss);
    const int status = RunChild({{0, 0, Bytes(16, 1)}, {2, 0, Bytes(16, 2)}});
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 99);
    EXPECT_EQ(zvfix::ReadJournal(dir).size(), 1u);
    const Bytes p1 = Preload(1);
    EXPECT_EQ(Bytes(p1.begin(), p1.begin() + 16), Bytes(16, 0x11));
}

}  // namespace
