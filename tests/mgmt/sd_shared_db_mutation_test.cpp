// A shared database file damaged by another process or a crash: attaching
// still works, and tokens and event queues never index outside the file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "mgmt/sd_shared_db.h"
#include "support/mutate.h"

namespace {

using Bytes = std::vector<char>;

void WriteDb(const Bytes& bytes) {
    std::ofstream(ZVSHDB_PATH, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<long>(bytes.size()));
}

TEST(SharedDbMutation, DamagedFileIsRepairedOrUsedWithinBounds) {
    // A lived-in file: events queued on two ports and one flash token.
    ASSERT_EQ(zvapi_shdb_attach(), 0u);
    for (SD_UINT32 code = 1; code <= 70; ++code) zvapi_shdb_event_push(code % 2 ? 0 : 5, ASYNCEVENT{code, {}});
    ASSERT_EQ(zvapi_shdb_token_start("SER1", getpid(), nullptr), 0u);
    std::ifstream in(ZVSHDB_PATH, std::ios::binary);
    const Bytes valid{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_EQ(valid.size(), ZVSHDB_SIZE);
    zvapi_shdb_detach();

    // Damage lands in the header, user table, tokens and the first queues.
    constexpr size_t kHot = offsetof(zvapi_shdb_file, Queues) + 8 * sizeof(zvapi_shdb_queue);
    zvtest::Mutator m(1313);
    for (int i = 0; i < 300; ++i) {
        Bytes hot = m.Bytes(Bytes(valid.begin(), valid.begin() + kHot));
        if (m.Chance(80)) hot.resize(kHot, 0);   // mostly keep the file's size
        hot.insert(hot.end(), valid.begin() + kHot, valid.end());
        WriteDb(hot);
        ASSERT_EQ(zvapi_shdb_attach(), 0u);
        std::vector<ASYNCEVENT> out(70);
        for (SD_UINT32 inst : {0u, 5u, 7u}) ASSERT_LE(zvapi_shdb_event_drain(inst, out), 64u);
        zvapi_shdb_event_push(0, ASYNCEVENT{99, {}});
        ASSERT_EQ(zvapi_shdb_event_drain(0, out), 1u);
        ASSERT_EQ(out[0].EventCode, 99u);
        zvapi_shdb_token_holder("SER1");
        const SD_UINT32 st = zvapi_shdb_token_start("SER2", getpid(), nullptr);
        ASSERT_TRUE(st == 0 || st == SDERR_SESSION_IN_PROGRESS || st == SDERR_UNKNOWN) << std::hex << st;
        zvapi_shdb_release_pid(getpid());
        zvapi_shdb_detach();
    }
    // Leave no file and no semaphore set behind: a clean last user removes both.
    WriteDb(Bytes{});
    ASSERT_EQ(zvapi_shdb_attach(), 0u);
    zvapi_shdb_detach();
    EXPECT_NE(access(ZVSHDB_PATH, F_OK), 0);
}

}  // namespace
