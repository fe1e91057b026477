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
    Host(zvfix::PowerLossSpec::During(2, 0x400));
    const std::vector<Write> writes = {{0, 0x0, Bytes(0x10, 0x55)}, {0, 0x800, Bytes(0x2000, 0x22)}};
    const int status = RunChild(writes);
    ASSERT_TRUE(WIFSIGNALED(status));

    const Bytes p = Preload(0);
    auto all = [&](size_t from, size_t to, uint8_t v) {
        return std::all_of(p.begin() + static_cast<long>(from), p.begin() + static_cast<long>(to),
                           [v](uint8_t b) { return b == v; });
    };
    EXPECT_TRUE(all(0x0, 0x10, 0x55));
    EXPECT_TRUE(all(0x10, 0x800, 0x11)) << "before the write: untouched";
    EXPECT_TRUE(all(0x800, 0xC00, 0x22)) << "programmed up to the cut";
    EXPECT_TRUE(all(0xC00, 0x1000, 0xFF)) << "the cut's erase block: erased";
    EXPECT_TRUE(all(0x1000, 0x10000, 0x11)) << "later blocks: the old contents";
    const auto journal = zvfix::ReadJournal(dir);
    ASSERT_EQ(journal.size(), 2u);
    EXPECT_EQ(std::tuple(journal[1].fault, journal[1].size), std::tuple("torn", 0x400u));
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
