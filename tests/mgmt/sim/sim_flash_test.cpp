// Flash kept in files: region writes change exactly their bytes, survive into
// another transport (another process), are bounded, journalled; NVRAM and
// VPD are served from the right copy; list answers follow the sizing rule.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>

#include "fixtures/host_builder.h"
#include "fixtures/sim_client.h"
#include "mgmt/sim/sim_transport.h"

namespace {

using zvfix::Pattern;

class SimFlash : public ::testing::Test {
protected:
    void SetUp() override {
        h.AddChip25TwoPort();
        h.AddChip27();
        dir = zvfix::WriteSimHost(h);
    }
    zvfix::HostBuilder h;
    std::string dir;
};

TEST_F(SimFlash, RegionWriteChangesExactlyThatRegionAndPersists) {
    zvfix::Bytes expected = zvfix::ReadFlash(dir, 0);
    const zvfix::Bytes other = zvfix::ReadFlash(dir, 1);
    auto t = zvfix::OpenSimHost(dir);
    const auto layout = zvfix::SimLayout(*t, 0);
    const zvapi_flash_region* r = zvfix::SimFind(layout, 0xBA);
    ASSERT_NE(r, nullptr);
    const std::vector<SD_UINT8> data = Pattern(r->Size, 3);
    std::copy(data.begin(), data.end(), expected.begin() + r->Offset);
    ASSERT_EQ(zvfix::SimWriteRegion(*t, 0, 0xBA, data), SDERR_SUCCESS);
    EXPECT_TRUE(zvfix::ReadFlash(dir, 0) == expected) << "a byte outside the region changed, or the region is wrong";
    EXPECT_EQ(zvfix::ReadFlash(dir, 1), other);

    // A second platform instance (as the next process) reads what was written.
    auto t2 = zvfix::OpenSimHost(dir);
    std::vector<SD_UINT8> back(r->Size);
    ASSERT_EQ(zvfix::SimFlashRead(*t2, 1, 0xBA, r->Offset, back), SDERR_SUCCESS);
    EXPECT_EQ(back, data);
}

TEST_F(SimFlash, WritePastFileEndLeavesErasedGap) {
    auto t = zvfix::OpenSimHost(dir);
    const auto layout = zvfix::SimLayout(*t, 0);
    const zvapi_flash_region* fw = zvfix::SimFind(layout, 0x02);
    ASSERT_NE(fw, nullptr);
    const std::vector<SD_UINT8> data = Pattern(64, 9);
    ASSERT_EQ(zvfix::SimFlashWrite(*t, 0, 0x02, fw->Offset + 4096, data), SDERR_SUCCESS);
    const zvfix::Bytes region = zvfix::ReadRegion(dir, 0, 0x02);
    EXPECT_TRUE(std::all_of(region.begin(), region.begin() + 4096, [](SD_UINT8 b) { return b == 0xFF; }));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), region.begin() + 4096));
    EXPECT_TRUE(std::all_of(region.begin() + 4096 + 64, region.end(), [](SD_UINT8 b) { return b == 0xFF; }));
}

TEST_F(SimFlash, OutOfRangeRequestsAreRefusedAndChangeNothing) {
    auto t = zvfix::OpenSimHost(dir);
    const auto layout = zvfix::SimLayout(*t, 0);
    const zvapi_flash_region* r = zvfix::SimFind(layout, 0xBA);
    const zvfix::Bytes before = zvfix::ReadFlash(dir, 0);
    const std::vector<SD_UINT8> data(32, 0xAB);
    // Past the region's end, before its start, unknown region, past the flash.
    EXPECT_EQ(zvfix::SimFlashWrite(*t, 0, 0xBA, r->Offset + r->Size - 16, data), SDERR_INVALID_PARAMETER);
    EXPECT_EQ(zvfix::SimFlashWrite(*t, 0, 0xBA, r->Offset - 1, data), SDERR_INVALID_PARAMETER);
    EXPECT_EQ(zvfix::SimFlashWrite(*t, 0, 0x7777, r->Offset, data), SDERR_INVALID_PARAMETER);
    EXPECT_EQ(zvfix::SimFlashWrite(*t, 0, 0, 0x1000000 - 16, data), SDERR_INVALID_PARAMETER);
    EXPECT_EQ(zvfix::SimFlashWrite(*t, 0, 0, 0xFFFFFFF0u, data), SDERR_INVALID_PARAMETER);
    // Length that the request does not carry.
    zvapi_flash_io io{r->Offset, 1000, 0xBA, 1};
    std::vector<SD_UINT8> in(sizeof io + 10);
    std::memcpy(in.data(), &io, sizeof io);
    size_t len = 0;
    EXPECT_EQ(t->Request(0, ZVOP_FLASH_WRITE, in, {}, &len), SDERR_INVALID_PARAMETER);
    // The same in two parts: bytes shorter than the header says, a header
    // with more than itself in front of the bytes, a header cut short.
    const std::vector<SD_UINT8> ten(10, 0xAB);
    EXPECT_EQ(t->RequestParts(0, ZVOP_FLASH_WRITE, zvapi_bytes(io), ten, {}, &len), SDERR_INVALID_PARAMETER);
    zvapi_flash_io fits{r->Offset, 10, 0xBA, 1};
    std::vector<SD_UINT8> longHead(sizeof fits + 4, 0xAB);
    std::memcpy(longHead.data(), &fits, sizeof fits);
    EXPECT_EQ(t->RequestParts(0, ZVOP_FLASH_WRITE, longHead, ten, {}, &len), SDERR_INVALID_PARAMETER);
    EXPECT_EQ(t->RequestParts(0, ZVOP_FLASH_WRITE, zvapi_bytes(fits).first(8), ten, {}, &len),
              SDERR_INVALID_PARAMETER);
    EXPECT_EQ(zvfix::ReadFlash(dir, 0), before);
    EXPECT_TRUE(zvfix::ReadJournal(dir).empty());
    // A read larger than the caller's buffer is refused, not overrun.
    zvapi_flash_io rio{r->Offset, 64, 0xBA, 0};
    std::vector<SD_UINT8> small(16, 0x11);
    EXPECT_EQ(t->Request(0, ZVOP_FLASH_READ, zvapi_bytes(rio), small, &len), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(small, std::vector<SD_UINT8>(16, 0x11));
}

TEST_F(SimFlash, JournalRecordsEveryWriteInOrder) {
    auto t = zvfix::OpenSimHost(dir);
    const std::vector<SD_UINT8> a = Pattern(0x10000, 1), b = Pattern(0x10000, 2), c = Pattern(16, 5);
    ASSERT_EQ(zvfix::SimWriteRegion(*t, 0, 0x96, a, 1), SDERR_SUCCESS);
    ASSERT_EQ(zvfix::SimWriteRegion(*t, 0, 0x95, b, 0), SDERR_SUCCESS);
    ASSERT_EQ(zvfix::SimWriteRegion(*t, 2, 0x125, c, 1), SDERR_SUCCESS);  // instance 2: adapter 1
    const auto j = zvfix::ReadJournal(dir);
    ASSERT_EQ(j.size(), 3u);
    EXPECT_EQ(std::tuple(j[0].region, j[0].disableReset, j[0].hash), std::tuple(0x96u, 1u, zvfix::JournalHash64(a)));
    EXPECT_EQ(std::tuple(j[1].region, j[1].disableReset, j[1].hash), std::tuple(0x95u, 0u, zvfix::JournalHash64(b)));
    EXPECT_EQ(std::tuple(j[2].adapter, j[2].size), std::tuple(1, 16u));
    for (const auto& e : j) EXPECT_EQ(e.fault, "none");
}

// A journal removed while the platform keeps it open is made anew: the next
// write is recorded, not lost in the unlinked file.
TEST_F(SimFlash, JournalRemovedMeanwhileIsMadeAnew) {
    auto t = zvfix::OpenSimHost(dir);
    const std::vector<SD_UINT8> a = Pattern(16, 1), b = Pattern(16, 2);
    ASSERT_EQ(zvfix::SimWriteRegion(*t, 0, 0x96, a, 1), SDERR_SUCCESS);
    ASSERT_EQ(zvfix::ReadJournal(dir).size(), 1u);
    ASSERT_EQ(std::remove((dir + "/journal.log").c_str()), 0);
    ASSERT_EQ(zvfix::SimWriteRegion(*t, 0, 0x95, b, 0), SDERR_SUCCESS);
    const auto j = zvfix::ReadJournal(dir);
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(std::tuple(j[0].seq, j[0].region, j[0].hash), std::tuple(uint64_t{1}, 0x95u, zvfix::JournalHash64(b)));
}

// The platform's own files are never reached through a link: host.json as a
// link is a host that cannot be read, journal.log as a link gets no line (its
// target stays as it was). A journal line leaves the file unlocked, so that
// the next appender (another process) never waits.
TEST_F(SimFlash, PlatformFilesAreNeverFollowedAndTheJournalIsLeftUnlocked) {
    const std::string elsewhere = dir + "/elsewhere";
    ASSERT_EQ(std::rename((dir + "/host.json").c_str(), elsewhere.c_str()), 0);
    ASSERT_EQ(::symlink(elsewhere.c_str(), (dir + "/host.json").c_str()), 0);
    std::string err;
    EXPECT_EQ(zvsim_open_host(dir, err), nullptr);
    EXPECT_EQ(err, dir + "/host.json: a symbolic link");
    ASSERT_EQ(std::remove((dir + "/host.json").c_str()), 0);
    ASSERT_EQ(std::rename(elsewhere.c_str(), (dir + "/host.json").c_str()), 0);

    zvfix::WriteBytes(elsewhere, {});
    ASSERT_EQ(::symlink(elsewhere.c_str(), (dir + "/journal.log").c_str()), 0);
    {
        auto t = zvfix::OpenSimHost(dir);
        ASSERT_EQ(zvfix::SimWriteRegion(*t, 0, 0x96, Pattern(16, 1), 1), SDERR_SUCCESS);
    }
    struct stat st {};
    ASSERT_EQ(::stat(elsewhere.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0) << "a line was written through the link";
    ASSERT_EQ(std::remove((dir + "/journal.log").c_str()), 0);

    auto t = zvfix::OpenSimHost(dir);
    ASSERT_EQ(zvfix::SimWriteRegion(*t, 0, 0x96, Pattern(16, 2), 1), SDERR_SUCCESS);
    ASSERT_EQ(zvfix::ReadJournal(dir).size(), 1u);
    const int other = ::open((dir + "/journal.log").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(other, 0);
    EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0) << "the journal's lock is still held after the line";
    ::close(other);
}

TEST_F(SimFlash, NvramAndVpdComeFromTheFunctionsRegions) {
    auto t = zvfix::OpenSimHost(dir);
    std::vector<SD_UINT8> nv(512);
    size_t len = 0;
    ASSERT_EQ(t->Request(1, ZVOP_NVRAM_READ, {}, nv, &len), SDERR_SUCCESS);
    ASSERT_EQ(len, 512u);
    EXPECT_EQ(std::memcmp(nv.data(), "ISP ", 4), 0);
    EXPECT_EQ(nv[0x1F8] | nv[0x1F9] << 8, 0x1A77);
    EXPECT_EQ(nv[0x1FA] | nv[0x1FB] << 8, 0x0289);
    SD_UINT32 sum = 0;
    for (size_t i = 0; i < 512; i += 4) {
        sum += static_cast<SD_UINT32>(nv[i] | nv[i + 1] << 8 | nv[i + 2] << 16 | nv[i + 3] << 24);
    }
    EXPECT_EQ(sum, 0u);
    EXPECT_EQ(nv, zvfix::ReadRegion(dir, 0, 0x17));

    std::vector<SD_UINT8> vpd(1024, 0);
    ASSERT_EQ(t->Request(0, ZVOP_VPD_READ, {}, vpd, &len), SDERR_SUCCESS);
    EXPECT_EQ(len, 512u);
    EXPECT_EQ(vpd[0], 0x82);
    const std::string text(vpd.begin(), vpd.begin() + 512);
    EXPECT_NE(text.find("SN\x0A" "ZV00010000"), std::string::npos);
    // RV: the bytes through its checksum byte sum to 0.
    const size_t rv = text.find("RV");
    ASSERT_NE(rv, std::string::npos);
    EXPECT_EQ(std::accumulate(vpd.begin(), vpd.begin() + rv + 4, 0u) & 0xFF, 0u);
    // The caller's buffer bounds the copy.
    std::vector<SD_UINT8> small(100, 0);
    ASSERT_EQ(t->Request(0, ZVOP_VPD_READ, {}, small, &len), SDERR_SUCCESS);
    EXPECT_EQ(len, 100u);
}

using SimNvram = SimFlash;

TEST_F(SimNvram, SmallNvramAdapterServes256Bytes) {
    zvfix::HostBuilder small;
    small.AddChip25TwoPort(0x2061);
    auto t = zvfix::OpenSimHost(small);
    std::vector<SD_UINT8> nv(512, 0xEE);
    size_t len = 0;
    ASSERT_EQ(t->Request(0, ZVOP_NVRAM_READ, {}, nv, &len), SDERR_SUCCESS);
    EXPECT_EQ(len, 256u);
    EXPECT_EQ(nv[250] | nv[251] << 8, 0x1A77);
    EXPECT_EQ(nv[252] | nv[253] << 8, 0x0288);
    EXPECT_EQ(nv[256], 0xEE);
    // A write larger than the image is refused.
    EXPECT_EQ(t->Request(0, ZVOP_NVRAM_WRITE, std::vector<SD_UINT8>(512, 0), {}, &len), SDERR_INVALID_PARAMETER);
}

TEST_F(SimNvram, Chip25WritesInPlaceChip27WritesTheOtherCopyUntilReload) {
    auto t = zvfix::OpenSimHost(dir);
    const zvfix::Bytes fresh = zvfix::MakeNvram(0x1A77, 0x1234);
    size_t len = 0;
    // Chip 25, function 1: in place.
    ASSERT_EQ(t->Request(1, ZVOP_NVRAM_WRITE, fresh, {}, &len), SDERR_SUCCESS);
    EXPECT_TRUE(std::equal(fresh.begin(), fresh.end(), zvfix::ReadRegion(dir, 0, 0x17).begin()));
    std::vector<SD_UINT8> nv(512);
    ASSERT_EQ(t->Request(1, ZVOP_NVRAM_READ, {}, nv, &len), SDERR_SUCCESS);
    EXPECT_EQ(nv, fresh);

    // Chip 27, function 0: the secondary copy is written, the primary serves.
    const zvfix::Bytes old = zvfix::ReadRegion(dir, 1, 0x15);
    ASSERT_EQ(t->Request(2, ZVOP_NVRAM_WRITE, fresh, {}, &len), SDERR_SUCCESS);
    EXPECT_TRUE(std::equal(fresh.begin(), fresh.end(), zvfix::ReadRegion(dir, 1, 0x10D).begin()));
    EXPECT_EQ(zvfix::ReadRegion(dir, 1, 0x15), old);
    ASSERT_EQ(t->Request(2, ZVOP_NVRAM_READ, {}, nv, &len), SDERR_SUCCESS);
    EXPECT_TRUE(std::equal(nv.begin(), nv.end(), old.begin()));
    // Reload without flipping the auxiliary records: still the primary.
    ASSERT_EQ(t->Request(2, ZVOP_NVRAM_RELOAD, {}, {}, &len), SDERR_SUCCESS);
    ASSERT_EQ(t->Request(2, ZVOP_NVRAM_READ, {}, nv, &len), SDERR_SUCCESS);
    EXPECT_TRUE(std::equal(nv.begin(), nv.end(), old.begin()));
    // Flip NVRAM/VPD to the secondary copy in the auxiliary records, reload.
    ASSERT_EQ(zvfix::SimWriteRegion(*t, 2, 0x125, zvfix::MakeImageStatusRecord(0, 1, zvfix::kSigAuxImageStatus)),
              SDERR_SUCCESS);
    ASSERT_EQ(zvfix::SimWriteRegion(*t, 2, 0x126, zvfix::MakeImageStatusRecord(1, 2, zvfix::kSigAuxImageStatus, 0x2)),
              SDERR_SUCCESS);
    ASSERT_EQ(t->Request(2, ZVOP_NVRAM_RELOAD, {}, {}, &len), SDERR_SUCCESS);
    ASSERT_EQ(t->Request(2, ZVOP_NVRAM_READ, {}, nv, &len), SDERR_SUCCESS);
    EXPECT_EQ(nv, fresh);
    const SD_ACTIVE_REGIONS ar = zvfix::SimActive(*t, 2);
    // A reload touches NVRAM/VPD only.
    EXPECT_EQ(std::tuple(ar.ActiveVpdNvram, ar.ActiveGlobalRegions, ar.ActiveBoardConfig), std::tuple(2, 1, 1));
}

TEST_F(SimFlash, ListAnswersReportTheBytesNeeded) {
    zvfix::HostBuilder h2;
    auto& a = h2.AddChip25TwoPort();
    auto& p = a.ports[0];
    p.portDb7 = {{1, 2, 0x010203}, {3, 4, 0x010204}, {5, 6, 0x010205}};
    p.features = {{4, 0, 0, 1}, {7, 1, 1, 1}};
    p.securePorts = {{0x5000001100000001ULL, 0x020001, 1, 0}};
    auto t = zvfix::OpenSimHost(h2);
    size_t len = 0;
    std::vector<SD_UINT8> small(8);
    EXPECT_EQ(t->Request(0, ZVOP_FLASH_LAYOUT, {}, small, &len), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, a.layout.size() * sizeof(zvapi_flash_region));
    const SD_UINT32 mode7 = 7;
    EXPECT_EQ(t->Request(0, ZVOP_PORT_DATABASE, zvapi_bytes(mode7), small, &len), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 3u * 292);
    std::vector<SD_UINT8> db(3 * 292);
    ASSERT_EQ(t->Request(0, ZVOP_PORT_DATABASE, zvapi_bytes(mode7), db, &len), SDERR_SUCCESS);
    // Port id at bytes 16-18 and port WWN at 8-15 of each 292-byte entry.
    EXPECT_EQ(std::tuple(db[2 * 292 + 16], db[2 * 292 + 18], db[292 + 15], db[292 + 7]), std::tuple(1, 5, 4, 3));
    const SD_UINT32 mode8 = 8;
    EXPECT_EQ(t->Request(0, ZVOP_PORT_DATABASE, zvapi_bytes(mode8), small, &len), SDERR_SUCCESS);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(t->Request(0, ZVOP_FEATURES, {}, small, &len), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 2 * sizeof(FEATURE_GET_ENTRY));
    EXPECT_EQ(t->Request(0, ZVOP_SECURE_PORTS, {}, small, &len), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 72u);
    // Fixed records are not cut either.
    CHIPPROPERTY chip{};
    EXPECT_EQ(t->Request(0, ZVOP_CHIP_PROPERTY, {}, std::span(small).first(4), &len), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, sizeof chip);
}


// The builders write a flash file only up to its last programmed byte (the
// rest reads as erased), wherever that byte falls in a 4 KiB block, keeping
// erased bytes in front of it.
TEST(SimHostFiles, FlashFileStopsAtTheLastProgrammedByte) {
    constexpr uint32_t kOffset = 0x3000;
    const auto ending = [](size_t erasedInFront, size_t erasedAfter) {
        zvfix::Bytes d(erasedInFront, 0xFF);
        d.push_back(0x5A);
        d.insert(d.end(), erasedAfter, 0xFF);
        return d;
    };
    const struct {
        const char* name;
        zvfix::Bytes data;   // at kOffset
        size_t length;       // of the file
    } rows[] = {
        {"ends a block", zvfix::Bytes(0x1000, 0x00), 0x4000},
        {"opens a block", ending(0x1000, 0), 0x4001},
        {"mid-block, erased bytes after it dropped", ending(0x10, 0x2000), 0x3011},
        {"erased bytes in front kept", ending(0x1800, 3), 0x4801},
        {"nothing programmed", zvfix::Bytes(0x2000, 0xFF), 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        zvfix::HostBuilder h;
        zvfix::AdapterSpec& a = h.AddChip25TwoPort();
        a.layout = {{0x02, kOffset, 0x10000}};   // nothing else is placed
        a.SetRegion(0x02, row.data);
        const std::string dir = zvfix::WriteSimHost(h);
        std::ifstream in(dir + "/adapter0.flash", std::ios::binary);
        const zvfix::Bytes file{std::istreambuf_iterator<char>(in), {}};
        ASSERT_EQ(file.size(), row.length);
        zvfix::Bytes expected(kOffset, 0xFF);
        expected.insert(expected.end(), row.data.begin(), row.data.end());
        expected.resize(row.length);
        EXPECT_TRUE(file == expected);
        std::filesystem::remove_all(dir);
    }
}

// The journal's hash: every byte counts wherever it sits, a trailing zero
// counts, and the value is the documented one that other readers of
// journal.log recompute (XXH3-64, as `xxhsum -H3` gives it).
TEST(SimJournalHash, EveryByteAndTheLengthCount) {
    const std::vector<SD_UINT8> base = Pattern(70, 3);
    const SD_UINT64 h = zvfix::JournalHash64(base);
    for (size_t i = 0; i < base.size(); ++i) {
        std::vector<SD_UINT8> flipped = base;
        flipped[i] ^= 0x01;
        EXPECT_NE(zvfix::JournalHash64(flipped), h) << i;
    }
    EXPECT_NE(zvfix::JournalHash64(std::vector<SD_UINT8>(31, 0)), zvfix::JournalHash64(std::vector<SD_UINT8>(32, 0)));
    EXPECT_NE(zvfix::JournalHash64({}), zvfix::JournalHash64(std::vector<SD_UINT8>(1, 0)));
    EXPECT_EQ(h, 0x76cf452f68876230ULL);
}

}  // namespace
