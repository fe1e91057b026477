// Library load and unload, the shared file's lifecycle and repair, the log
// mask, and the sizing protocols of the list functions.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sys/mount.h>
#include <sys/stat.h>

#include "lib_fixture.h"
#include "fixtures/board_template_builder.h"
#include "support/e2e_support.h"

namespace zvtest {
namespace {

using Library = LibTest;

TEST_F(Library, SharedFileExistsWhileLoaded) {
    state->AddAdapter(0x2261, "SN1", 2);
    EXPECT_FALSE(SharedFileExists());
    EXPECT_EQ(SDCloseDevice(1), 0u);   // nothing open: success
    int a = Open(0);
    struct stat st {};
    ASSERT_EQ(stat(ZVSHDB_PATH, &st), 0);
    EXPECT_EQ(static_cast<size_t>(st.st_size), ZVSHDB_SIZE);
    int b = Open(1);
    EXPECT_NE(a, b);
    EXPECT_EQ(SDCloseDevice(b + 100), SDERR_INVALID_HANDLE);
    Close(a);
    EXPECT_TRUE(SharedFileExists());
    EXPECT_EQ(SDCloseDevice(a), SDERR_INVALID_HANDLE);   // stale handle while b is open
    Close(b);
    EXPECT_FALSE(SharedFileExists());
    // A handle of an earlier load stays unknown after a new load.
    int c = Open(0);
    EXPECT_EQ(SDGetVariableValue(a, std::vector<SD_UINT8>(512), 127), SDERR_INVALID_HANDLE);
    Close(c);
}

TEST_F(Library, NoDeviceAndRefusedOpenLeaveNothingBehind) {
    int h = -1;
    EXPECT_EQ(SDOpenDevice(0, &h), SDERR_DEVICE_NOT_FOUND);
    EXPECT_FALSE(SharedFileExists());
    state->AddAdapter(0x2261, "SN1");
    EXPECT_EQ(SDOpenDevice(1, &h), SDERR_DEVICE_NOT_FOUND);
    EXPECT_EQ(SDOpenDevice(0, nullptr), SDERR_INVALID_PARAMETER);
    state->Script[ZVOP_OPEN] = {SDERR_UNSUPPORTED_VERSION};
    EXPECT_EQ(SDOpenDevice(0, &h), SDERR_UNSUPPORTED_VERSION);
    EXPECT_FALSE(SharedFileExists());
    // An open after another port's refusal keeps the library loaded.
    int a = Open(0);
    state->Script[ZVOP_OPEN] = {SDERR_UNSUPPORTED_VERSION};
    EXPECT_EQ(SDOpenDevice(0, &h), SDERR_UNSUPPORTED_VERSION);
    EXPECT_TRUE(SharedFileExists());
    Close(a);
}

TEST_F(Library, CorruptOrShortSharedFileIsReinitialised) {
    state->AddAdapter(0x2281, "SN1");
    for (size_t size : {ZVSHDB_SIZE, size_t{10}, size_t{0}}) {
        zvfix::WriteBytes(ZVSHDB_PATH, zvfix::Bytes(size, 0xA5));
        int h = Open(0);
        SD_INT32 token = 0;
        EXPECT_EQ(SDStartFlashUpdate(h, 0, &token), 0u) << size;
        EXPECT_EQ(SDEndFlashUpdate(h, 0, token), 0u);
        std::string content = ReadFile(ZVSHDB_PATH);
        ASSERT_EQ(content.size(), ZVSHDB_SIZE);
        EXPECT_EQ(content.substr(0, 6), "ZVSHDB");
        Close(h);
        EXPECT_FALSE(SharedFileExists());
    }
}

TEST_F(Library, SharedFileThatCannotBeTrustedIsMadeAfreshNeverFollowed) {
    state->AddAdapter(0x2281, "SN1");
    // A link, and a file of another user that others may write.
    ASSERT_EQ(symlink("/tmp/elsewhere", ZVSHDB_PATH), 0);
    int h = Open(0);
    EXPECT_NE(access("/tmp/elsewhere", F_OK), 0);   // nothing created through the link
    struct stat st {};
    ASSERT_EQ(lstat(ZVSHDB_PATH, &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    Close(h);

    const int fd = open(ZVSHDB_PATH, O_WRONLY | O_CREAT | O_EXCL, 0666);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(fchown(fd, 65534, 65534), 0);
    ASSERT_EQ(fchmod(fd, 0666), 0);
    close(fd);
    h = Open(0);
    ASSERT_EQ(lstat(ZVSHDB_PATH, &st), 0);
    EXPECT_EQ(st.st_uid, geteuid());
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    Close(h);
}

// Whatever else stands in the shared file's place is set aside, never
// opened for use: another user's directory (renamed aside, its contents
// untouched), a second name of root's file (the file keeps its bytes), a
// FIFO. The library starts with a fresh file of its own.
// A /tmp with no room for the shared database: the start fails with its
// reason, and the process never dies of a bus error writing the mapped file.
TEST_F(Library, AFullTmpFailsTheStartWithItsReason) {
    if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /tmp";
    state->AddAdapter(0x2281, "SN1");
    ASSERT_EQ(mount("zvfull", "/tmp", "tmpfs", 0, "size=128k,mode=1777"), 0) << std::strerror(errno);
    {
        const int fill = ::open("/tmp/fill", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fill, 0);
        const std::vector<char> block(4096, 'x');
        while (::write(fill, block.data(), block.size()) > 0) {
        }
        ::close(fill);
    }
    int h = -1;
    EXPECT_EQ(SDOpenDevice(0, &h), SDERR_OUT_OF_MEMORY);
    EXPECT_NE(zvapi_setup_error().find("cannot be sized"), std::string::npos) << zvapi_setup_error();
    ASSERT_EQ(umount2("/tmp", MNT_DETACH), 0);
    zvapi_reset_setup_error();
    h = Open(0);
    Close(h);
}

TEST_F(Library, AnythingElseInTheSharedFilesPlaceIsSetAsideNeverUsed) {
    if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /tmp";
    state->AddAdapter(0x2281, "SN1");
    const std::string victim = "/tmp/victim";
    zvfix::WriteTextFile(victim, "root's data\n");
    ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
    struct Case {
        const char* what;
        std::function<void()> plant;
    };
    const std::vector<Case> cases = {
        {"another user's directory",
         [] {
             ASSERT_EQ(mkdir(ZVSHDB_PATH, 0777), 0);
             ASSERT_EQ(chown(ZVSHDB_PATH, 65534, 65534), 0);
             zvfix::WriteTextFile(std::string(ZVSHDB_PATH) + "/keep", "theirs\n");
         }},
        {"root's directory", [] { ASSERT_EQ(mkdir(ZVSHDB_PATH, 0700), 0); }},
        {"a second name of root's file", [&] { ASSERT_EQ(link(victim.c_str(), ZVSHDB_PATH), 0); }},
        {"another user's FIFO",
         [] {
             ASSERT_EQ(mkfifo(ZVSHDB_PATH, 0666), 0);
             ASSERT_EQ(chown(ZVSHDB_PATH, 65534, 65534), 0);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.plant();
        int h = Open(0);
        struct stat st {};
        ASSERT_EQ(lstat(ZVSHDB_PATH, &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_uid, geteuid());
        EXPECT_EQ(st.st_nlink, 1u);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_EQ(static_cast<size_t>(st.st_size), ZVSHDB_SIZE);
        SD_INT32 token = 0;
        EXPECT_EQ(SDStartFlashUpdate(h, 0, &token), 0u);
        EXPECT_EQ(SDEndFlashUpdate(h, 0, token), 0u);
        Close(h);
        EXPECT_FALSE(SharedFileExists());
        EXPECT_EQ(ReadFile(victim), "root's data\n");
    }
    // Both directories lie beside it, as they were.
    std::vector<std::string> aside;
    for (const auto& e : std::filesystem::directory_iterator("/tmp")) {
        if (e.path().filename().string().starts_with("zv_shared.dat.")) aside.push_back(e.path());
    }
    ASSERT_EQ(aside.size(), 2u);
    const bool theirsFirst = std::filesystem::exists(aside[0] + "/keep");
    EXPECT_EQ(ReadFile(aside[theirsFirst ? 0 : 1] + "/keep"), "theirs\n");
    for (const std::string& d : aside) std::filesystem::remove_all(d);
}

TEST_F(Library, EventsQueuedThroughTheSharedFile) {
    int h = OpenNew();
    std::vector<ASYNCEVENT> ev(8);
    SD_UINT32 n = 99;
    ASSERT_EQ(SDEnableAen(h), 0u);
    for (SD_UINT32 code = 1; code <= 70; ++code) zvapi_shdb_event_push(0, ASYNCEVENT{code, {}});
    ASSERT_EQ(SDGetAen(h, ev, &n), 0u);
    ASSERT_EQ(n, 8u);
    EXPECT_EQ(ev[0].EventCode, 7u);   // a full queue drops the oldest
    ASSERT_EQ(SDGetAen(h, std::span(ev).first(0), &n), 0u);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(SDGetAen(h, ev, nullptr), SDERR_INVALID_PARAMETER);
    Close(h);
}

// ---- Log ---------------------------------------------------------------------------

class LibraryLog : public LibTest {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs a private library log";
        LibTest::SetUp();
        start = ReadFile(ZVDBG_LOG).size();
    }
    void TearDown() override {
        unsetenv("ZV_FCAPI_DEBUG");
        LibTest::TearDown();
    }
    std::string NewLogText() { return ReadFile(ZVDBG_LOG).substr(start); }
    static constexpr const char* ZVDBG_LOG = "/usr/lib/libzvsdm.log";
    size_t start = 0;
};

TEST_F(LibraryLog, DefaultMaskKeepsOnlyFatalLinesInTheFile) {
    unsetenv("ZV_FCAPI_DEBUG");
    state->AddAdapter(0x2261, "SN1");
    const int misfit = PlantMisfitSemaphores();   // the library cannot start
    ASSERT_GE(misfit, 0);
    testing::internal::CaptureStderr();
    int h = -1;
    EXPECT_EQ(SDOpenDevice(0, &h), SDERR_OUT_OF_MEMORY);
    EXPECT_EQ(SDOpenDevice(1, &h), SDERR_OUT_OF_MEMORY);   // said once: no second line
    EXPECT_EQ(zvapi_setup_error(), MisfitSetupError());
    semctl(misfit, 0, IPC_RMID);
    zvapi_reset_setup_error();
    h = Open(0);
    std::vector<SD_UINT8> buf(16);
    EXPECT_EQ(SDGetOptionRomEx(h, 0, buf, 0x2A), SDERR_INVALID_PARAMETER);
    state->Script[ZVOP_NVRAM_READ] = {SDERR_BUSY};
    EXPECT_EQ(SDGetNVRam(h, 0, 1, buf), SDERR_BUSY);   // an error line, masked off
    Close(h);
    std::string err = testing::internal::GetCapturedStderr();
    std::string log = NewLogText();
    EXPECT_EQ(log.find("cannot start"), log.rfind("cannot start")) << log;
    EXPECT_NE(log.find(MisfitSetupError()), std::string::npos) << log;
    EXPECT_EQ(log.find("library loaded"), std::string::npos) << log;
    EXPECT_EQ(log.find("SDGetNVRam"), std::string::npos) << log;
    EXPECT_EQ(err, "");
    // One line per message, ending in a newline.
    EXPECT_EQ(log.back(), '\n');
}

TEST_F(LibraryLog, DebugVariableWidensTheMaskAndCopiesToStandardError) {
    setenv("ZV_FCAPI_DEBUG", "6", 1);   // errors and information
    state->AddAdapter(0x2261, "SN1");
    testing::internal::CaptureStderr();
    int h = Open(0);
    std::vector<SD_UINT8> buf(16);
    state->Script[ZVOP_NVRAM_READ] = {SDERR_BUSY};
    EXPECT_EQ(SDGetNVRam(h, 0, 1, buf), SDERR_BUSY);
    Close(h);
    std::string err = testing::internal::GetCapturedStderr();
    std::string log = NewLogText();
    EXPECT_NE(log.find("library loaded"), std::string::npos) << log;
    EXPECT_NE(log.find("SDGetNVRam: instance 0 read failed (0x20000067)"), std::string::npos) << log;
    EXPECT_EQ(err, log);
}

TEST_F(LibraryLog, VariableWithoutNewBitsChangesNothing) {
    setenv("ZV_FCAPI_DEBUG", "401", 1);
    state->AddAdapter(0x2261, "SN1");
    testing::internal::CaptureStderr();
    int h = Open(0);
    Close(h);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(NewLogText().find("library loaded"), std::string::npos);
}

// ---- Sizing protocols of the lists -------------------------------------------------------

using Lists = LibTest;

std::vector<SD_UINT8> Entry(size_t size, SD_UINT8 fill) { return std::vector<SD_UINT8>(size, fill); }

TEST_F(Lists, PortDatabaseReportsTheTotalWhenTooSmall) {
    int h = OpenNew();
    for (SD_UINT8 i = 1; i <= 5; ++i) state->PortDb.push_back(Entry(sizeof(DEVICEINFOENTRY), i));
    std::vector<SD_UINT8> small(sizeof(DEVICEINFO) + sizeof(DEVICEINFOENTRY), 0);   // two entries
    ASSERT_EQ(SDGetPortDatabase(h, 7, small), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(reinterpret_cast<DEVICEINFO*>(small.data())->TotalDevices, 5u);
    std::vector<SD_UINT8> big(sizeof(DEVICEINFO) + 4 * sizeof(DEVICEINFOENTRY), 0);
    ASSERT_EQ(SDGetPortDatabase(h, 7, big), 0u);
    auto* info = reinterpret_cast<DEVICEINFO*>(big.data());
    EXPECT_EQ(std::tuple(info->TotalDevices, info->ReturnListEntryCount), std::tuple(5u, 5u));
    EXPECT_EQ(info->EntryList[4].NodeWWN[0], 5);
    SD_UINT32 mode = 0;
    std::memcpy(&mode, state->Calls.back().In.data(), 4);
    EXPECT_EQ(mode, 7u);
    EXPECT_EQ(SDGetPortDatabase(h, 7, std::span(big).first(4)), SDERR_INVALID_PARAMETER);
}

TEST_F(Lists, SecurePortsAndFeaturesTrustTheSpanNotTheCount) {
    int h = OpenNew(0x2281);
    for (SD_UINT8 i = 1; i <= 3; ++i) {
        state->SecurePorts.push_back(Entry(sizeof(SECUREPORTENTRY), i));
        state->Features.push_back(Entry(sizeof(FEATURE_GET_ENTRY), i));
    }
    // The count claims room for 100 entries; the span holds 2.
    std::vector<SD_UINT8> sp(SECUREPORTINFO_BYTES(2), 0);
    reinterpret_cast<SECUREPORTINFO*>(sp.data())->PortCount = 100;
    ASSERT_EQ(SDGetSecurePortInfo(h, sp), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(reinterpret_cast<SECUREPORTINFO*>(sp.data())->PortCount, 3u);
    sp.assign(SECUREPORTINFO_BYTES(3), 0);
    reinterpret_cast<SECUREPORTINFO*>(sp.data())->PortCount = 3;
    ASSERT_EQ(SDGetSecurePortInfo(h, sp), 0u);
    EXPECT_EQ(reinterpret_cast<SECUREPORTINFO*>(sp.data())->Entries[2].PortWWN[0], 3);

    std::vector<SD_UINT8> fl(FEATURE_GET_LIST_BYTES(1), 0);
    reinterpret_cast<FEATURE_GET_LIST*>(fl.data())->NoOfEntries = 1;
    ASSERT_EQ(SDGetHbaSupportedFeatureList(h, fl), SDERR_BUFFER_TOO_SMALL);
    SD_UINT32 need = reinterpret_cast<FEATURE_GET_LIST*>(fl.data())->NoOfEntries;
    ASSERT_EQ(need, 3u);
    fl.assign(FEATURE_GET_LIST_BYTES(need), 0);
    reinterpret_cast<FEATURE_GET_LIST*>(fl.data())->NoOfEntries = need;
    ASSERT_EQ(SDGetHbaSupportedFeatureList(h, fl), 0u);
    EXPECT_EQ(reinterpret_cast<FEATURE_GET_LIST*>(fl.data())->NoOfEntries, 3u);
}

}  // namespace
}  // namespace zvtest
