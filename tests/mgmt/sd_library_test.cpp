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
        ASSERT_EQ(chmod(ZVSHDB_PATH, 0600), 0);
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

// Only root can put anything in /run: whatever stands at the shared file's
// name that is not root's own regular file with one name, closed to others,
// is a fault of the host. The library does not start and says why; the
// object is never followed, truncated, removed or written.
TEST_F(Library, AnythingButRootsOwnFileAtTheSharedNameIsASetUpErrorAndLeftAlone) {
    if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /run";
    state->AddAdapter(0x2281, "SN1");
    const std::string victim = "/run/victim";
    zvfix::WriteTextFile(victim, "root's data\n");
    ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
    const auto file = [](mode_t mode, uid_t uid) {
        return [=] {
            zvfix::WriteTextFile(ZVSHDB_PATH, "someone's\n");
            ASSERT_EQ(chown(ZVSHDB_PATH, uid, uid), 0);
            ASSERT_EQ(chmod(ZVSHDB_PATH, mode), 0);
        };
    };
    struct Case {
        const char* what;
        std::function<void()> plant;
        const char* why;
    };
    const std::vector<Case> cases = {
        {"a link", [] { ASSERT_EQ(symlink("/run/elsewhere", ZVSHDB_PATH), 0); }, "is a symbolic link"},
        {"a link to root's file", [&] { ASSERT_EQ(symlink(victim.c_str(), ZVSHDB_PATH), 0); },
         "is a symbolic link"},
        {"a second name of root's file", [&] { ASSERT_EQ(link(victim.c_str(), ZVSHDB_PATH), 0); },
         "has more than one name"},
        {"another user's file", file(0600, 65534), "is not root's own"},
        {"root's file others may read (and so lock)", file(0604, 0), "may be opened by users other than root"},
        {"root's file the group may write", file(0620, 0), "may be opened by users other than root"},
        {"a FIFO", [] { ASSERT_EQ(mkfifo(ZVSHDB_PATH, 0600), 0); }, "is not a regular file"},
        {"a directory", [] { ASSERT_EQ(mkdir(ZVSHDB_PATH, 0700), 0); }, "cannot be opened (Is a directory)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.plant();
        struct stat before {}, after {};
        ASSERT_EQ(lstat(ZVSHDB_PATH, &before), 0);
        int h = -1;
        EXPECT_EQ(SDOpenDevice(0, &h), SDERR_OUT_OF_MEMORY);
        EXPECT_EQ(zvapi_setup_error(), std::string("The management library cannot start: its shared database ") +
                                           ZVSHDB_PATH + " " + c.why + ".");
        ASSERT_EQ(lstat(ZVSHDB_PATH, &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_size, before.st_size);
        EXPECT_EQ(ReadFile(victim), "root's data\n");
        EXPECT_NE(access("/run/elsewhere", F_OK), 0) << "nothing made through the link";
        if (S_ISREG(after.st_mode) && after.st_nlink == 1) {
            EXPECT_EQ(ReadFile(ZVSHDB_PATH), "someone's\n");
        }
        std::filesystem::remove(ZVSHDB_PATH);
        zvapi_reset_setup_error();
    }
    // With the name free again the library starts.
    const int h = Open(0);
    Close(h);
}

// A /run with no room for the shared database: the start fails with its
// reason, and the process never dies of a bus error writing the mapped file.
TEST_F(Library, AFullRunFailsTheStartWithItsReason) {
    if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /run";
    state->AddAdapter(0x2281, "SN1");
    ASSERT_EQ(mount("zvfull", ZVSHDB_DIR, "tmpfs", 0, "size=128k,mode=0755"), 0) << std::strerror(errno);
    {
        const int fill = ::open("/run/fill", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fill, 0);
        const std::vector<char> block(4096, 'x');
        while (::write(fill, block.data(), block.size()) > 0) {
        }
        ::close(fill);
    }
    int h = -1;
    EXPECT_EQ(SDOpenDevice(0, &h), SDERR_OUT_OF_MEMORY);
    EXPECT_NE(zvapi_setup_error().find("cannot be sized"), std::string::npos) << zvapi_setup_error();
    EXPECT_FALSE(SharedFileExists()) << "the file it could not size is not left behind";
    ASSERT_EQ(umount2(ZVSHDB_DIR, MNT_DETACH), 0);
    zvapi_reset_setup_error();
    h = Open(0);
    Close(h);
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
    ASSERT_TRUE(OpenRunToOthers());   // the library cannot start
    testing::internal::CaptureStderr();
    int h = -1;
    EXPECT_EQ(SDOpenDevice(0, &h), SDERR_OUT_OF_MEMORY);
    EXPECT_EQ(SDOpenDevice(1, &h), SDERR_OUT_OF_MEMORY);   // said once: no second line
    EXPECT_EQ(zvapi_setup_error(), OpenRunSetupError());
    RestoreRun();
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
    EXPECT_NE(log.find(OpenRunSetupError()), std::string::npos) << log;
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
    std::vector<SD_UINT8> small(300, 0);   // the counting ask: room for one entry
    ASSERT_EQ(SDGetPortDatabase(h, 7, small), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(reinterpret_cast<DEVICEINFO*>(small.data())->TotalDevices, 5u);
    std::vector<SD_UINT8> big(300 + 292 * 4, 0);
    ASSERT_EQ(SDGetPortDatabase(h, 7, big), 0u);
    auto* info = reinterpret_cast<DEVICEINFO*>(big.data());
    EXPECT_EQ(std::tuple(info->TotalDevices, info->ReturnListEntryCount), std::tuple(5u, 5u));
    // Entries 292 bytes apart from byte 8.
    EXPECT_EQ(std::tuple(big[7], big[8], big[8 + 291], big[8 + 292], big[8 + 4 * 292], big[8 + 5 * 292 - 1]),
              std::tuple(0, 1, 1, 2, 5, 5));
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
    // The first ask: the 40-byte header alone, room for no entry.
    std::vector<SD_UINT8> sp(40, 0);
    ASSERT_EQ(SDGetSecurePortInfo(h, sp), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(reinterpret_cast<SECUREPORTINFO*>(sp.data())->PortCount, 3u);
    // The count claims room for 100 entries; the span holds 2.
    sp.assign(SECUREPORTINFO_BYTES(2), 0);
    reinterpret_cast<SECUREPORTINFO*>(sp.data())->PortCount = 100;
    ASSERT_EQ(SDGetSecurePortInfo(h, sp), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(reinterpret_cast<SECUREPORTINFO*>(sp.data())->PortCount, 3u);
    sp.assign(SECUREPORTINFO_BYTES(3), 0);
    reinterpret_cast<SECUREPORTINFO*>(sp.data())->PortCount = 3;
    ASSERT_EQ(SDGetSecurePortInfo(h, sp), 0u);
    ASSERT_EQ(sp.size(), 40u + 3 * 72);
    EXPECT_EQ(std::tuple(sp[39], sp[40], sp[40 + 72], sp[40 + 2 * 72], sp.back()), std::tuple(0, 1, 2, 3, 3));

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
