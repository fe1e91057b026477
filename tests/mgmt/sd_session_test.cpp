// Flash-update sessions: token rules within one process, between two real
// processes, the protected-region rule and on-line activation.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <ctime>

#include "lib_fixture.h"

namespace zvtest {
namespace {

using Session = LibTest;

TEST_F(Session, OneLiveTokenPerAdapterWhoeverAsks) {
    state->AddAdapter(0x2261, "SNA", 2);   // instances 0, 1
    state->AddAdapter(0x2281, "SNB");      // instance 2
    int a0 = Open(0), a1 = Open(1), b = Open(2);
    SD_INT32 token = 0, other = 0;
    ASSERT_EQ(SDStartFlashUpdate(a0, 0, &token), 0u);
    EXPECT_EQ(token, static_cast<SD_INT32>(getpid()));
    EXPECT_EQ(SDStartFlashUpdate(a0, 0, &other), SDERR_SESSION_IN_PROGRESS);
    EXPECT_EQ(SDStartFlashUpdate(a1, 0, &other), SDERR_SESSION_IN_PROGRESS);   // same adapter, other port
    EXPECT_EQ(SDStartFlashUpdate(b, 0, &other), 0u);
    EXPECT_EQ(SDEndFlashUpdate(a1, 0, token + 1), SDERR_UNKNOWN);   // no slot with that token
    EXPECT_EQ(SDEndFlashUpdate(a1, 0, token), 0u);
    EXPECT_EQ(SDEndFlashUpdate(a0, 0, token), SDERR_UNKNOWN);
    EXPECT_EQ(SDStartFlashUpdate(a0, 0, &token), 0u);
    EXPECT_EQ(SDEndFlashUpdate(a0, 0, token), 0u);
    EXPECT_EQ(SDEndFlashUpdate(b, 0, other), 0u);
}

TEST_F(Session, ExpiredTokenEndsWithSessionExpiredAndFreesTheAdapter) {
    int h = OpenNew(0x2261, "SNA");
    SD_INT32 token = 0;
    ASSERT_EQ(SDStartFlashUpdate(h, 0, &token), 0u);
    state->Clock += 899;
    SD_INT32 again = 0;
    EXPECT_EQ(SDStartFlashUpdate(h, 0, &again), SDERR_SESSION_IN_PROGRESS);
    state->Clock += 1;   // 900 seconds after its start: over
    EXPECT_EQ(SDEndFlashUpdate(h, 0, token), SDERR_SESSION_EXPIRED);
    EXPECT_EQ(SDEndFlashUpdate(h, 0, token), SDERR_SESSION_EXPIRED);   // nothing changed
    ASSERT_EQ(SDStartFlashUpdate(h, 0, &again), 0u);
    EXPECT_EQ(SDEndFlashUpdate(h, 0, again), 0u);
}

TEST_F(Session, ThirtyTwoSlots) {
    for (int i = 0; i < 33; ++i) state->AddAdapter(0x2281, "SN" + std::to_string(i));
    std::vector<int> h;
    for (SD_UINT32 i = 0; i < 33; ++i) h.push_back(Open(i));
    SD_INT32 token = 0;
    for (int i = 0; i < 32; ++i) ASSERT_EQ(SDStartFlashUpdate(h[i], 0, &token), 0u) << i;
    EXPECT_EQ(SDStartFlashUpdate(h[32], 0, &token), SDERR_UNKNOWN);
    EXPECT_EQ(SDEndFlashUpdate(h[5], 0, token), 0u);
    EXPECT_EQ(SDStartFlashUpdate(h[32], 0, &token), 0u);
    zvapi_release_process_sessions();
    EXPECT_EQ(SDStartFlashUpdate(h[0], 0, &token), 0u);   // released
    zvapi_release_process_sessions();
}

TEST_F(Session, RefusedForOtherAdaptersAndPorts) {
    state->AddAdapter(0x2061, "SNOLD");
    state->AddAdapter(0x2281, "SNV");
    state->Ports[1].IsPhysicalFc = 0;
    int old = Open(0), vport = Open(1);
    SD_INT32 token = 0;
    SD_UINT64 caps = 0;
    for (int h : {old, vport}) {
        EXPECT_EQ(SDStartFlashUpdate(h, 0, &token), SDERR_NOT_SUPPORTED);
        EXPECT_EQ(SDEndFlashUpdate(h, 0, token), SDERR_NOT_SUPPORTED);
        EXPECT_EQ(SDGetFlashUpdateCapabilities(h, 0, &caps), SDERR_NOT_SUPPORTED);
        EXPECT_EQ(SDSendFlashUpdateFWAttributes(h, 0, 1, 400), SDERR_NOT_SUPPORTED);
        EXPECT_EQ(SDOnlineActivateFlashUpdate(h, 0), SDERR_NOT_SUPPORTED);
    }
    EXPECT_EQ(SDStartFlashUpdate(old + 40, 0, &token), SDERR_INVALID_HANDLE);
    EXPECT_EQ(SDGetFlashUpdateCapabilities(old + 40, 0, &caps), SDERR_INVALID_HANDLE);
}

TEST_F(Session, CapabilitiesSetTheMarkThatGuardsProtectedRegions) {
    state->AddAdapter(0x2261, "SN25");
    state->AddAdapter(0x2281, "SN27");
    state->AddAdapter(0x2061, "SNOLD");
    FakeAdapter& a25 = state->Adapters[0];
    int h25 = Open(0), h27 = Open(1), hOld = Open(2);
    auto data = Pattern(16, 1);

    // Before the mark nothing needs a token.
    EXPECT_EQ(SDUpdateOptionRomEx2(h25, 1, data, 0x01), 0u);

    a25.FwAttributes = 0;
    SD_UINT64 caps = 0x10;
    EXPECT_EQ(SDGetFlashUpdateCapabilities(h25, 0, &caps), SDERR_NOT_SUPPORTED);
    EXPECT_EQ(caps, 0x10u);
    EXPECT_EQ(SDUpdateOptionRomEx2(h25, 1, data, 0x01), 0u);   // still no mark
    EXPECT_EQ(SDGetFlashUpdateCapabilities(h25, 0, nullptr), SDERR_INVALID_PARAMETER);
    a25.FwAttributes = 0x8000;
    ASSERT_EQ(SDGetFlashUpdateCapabilities(h25, 0, &caps), 0u);
    EXPECT_EQ(caps, 0x14u);

    int writes = state->Count(ZVOP_FLASH_WRITE);
    for (SD_UINT32 region : {0x01u, 0x02u, 0x07u, 0x09u, 0x9Eu}) {
        EXPECT_EQ(SDUpdateOptionRomEx2(h25, 1, data, region), SDERR_TOKEN_NOT_SET) << std::hex << region;
    }
    EXPECT_EQ(SDUpdateOptionRomEx2(h27, 1, data, 0x0A), SDERR_TOKEN_NOT_SET);   // chip 27 only
    EXPECT_EQ(state->Count(ZVOP_FLASH_WRITE), writes);
    EXPECT_EQ(SDUpdateOptionRomEx2(h25, 1, data, 0x0A), 0u);
    EXPECT_EQ(SDUpdateOptionRomEx2(h25, 1, data, 0x13), 0u);
    EXPECT_EQ(SDUpdateOptionRomEx2(hOld, 1, data, 0x01), 0u);   // not an on-line-update adapter
    EXPECT_EQ(SDUpdateOptionRomEx(h25, 1, data, 0x01), 0u);     // the older writer knows no tokens

    SD_INT32 token = 0;
    ASSERT_EQ(SDStartFlashUpdate(h25, 0, &token), 0u);
    EXPECT_EQ(SDUpdateOptionRomEx2(h25, 1, data, 0x01), 0u);
    EXPECT_EQ(SDUpdateOptionRomEx2(h27, 1, data, 0x0A), SDERR_TOKEN_NOT_SET);   // the token names SN25 only
    ASSERT_EQ(SDEndFlashUpdate(h25, 0, token), 0u);
    // Ending the session clears the mark.
    EXPECT_EQ(SDUpdateOptionRomEx2(h27, 1, data, 0x0A), 0u);
}

TEST_F(Session, OnlineActivation) {
    int h = OpenNew(0x2281, "SN27");
    state->Adapters[0].FwAttributes = 0x55;
    EXPECT_EQ(SDSendFlashUpdateFWAttributes(h, 0, 0x56, 400), 0u);
    EXPECT_EQ(SDOnlineActivateFlashUpdate(h, 0), SDERR_FLASHED_NOT_ACTIVATED);
    EXPECT_EQ(state->Count(ZVOP_ONLINE_ACTIVATE), 0);

    EXPECT_EQ(SDSendFlashUpdateFWAttributes(h, 0, 0x55, 400), 0u);
    EXPECT_EQ(SDOnlineActivateFlashUpdate(h, 0), 0u);
    EXPECT_EQ(state->Count(ZVOP_ONLINE_ACTIVATE), 1);
    EXPECT_EQ(state->Count(ZVOP_REGION_ACTIVATE), 1);   // region 0x01 is flagged

    // The driver's refusal is its own answer.
    state->Script[ZVOP_ONLINE_ACTIVATE] = {SDERR_UNKNOWN};
    EXPECT_EQ(SDOnlineActivateFlashUpdate(h, 0), SDERR_UNKNOWN);
    state->Script[ZVOP_REGION_ACTIVATE] = {SDERR_BUSY};
    EXPECT_EQ(SDOnlineActivateFlashUpdate(h, 0), SDERR_FLASHED_NOT_ACTIVATED);
    state->Script[ZVOP_FLASH_LAYOUT] = {SDERR_BUSY};
    EXPECT_EQ(SDOnlineActivateFlashUpdate(h, 0), SDERR_BUSY);
}

// ---- Two processes --------------------------------------------------------------

void Send(int fd, int v) { ASSERT_EQ(write(fd, &v, sizeof v), static_cast<ssize_t>(sizeof v)); }
int Receive(int fd) {
    int v = -1;
    if (read(fd, &v, sizeof v) != static_cast<ssize_t>(sizeof v)) return -1;
    return v;
}
// The child runs the library over its own fake platform of the same adapter;
// it talks through the pipes this makes.
pid_t Child(int (&c2p)[2], int (&p2c)[2], bool crash) {
    if (pipe(c2p) != 0 || pipe(p2c) != 0) return -1;
    const int toParent = c2p[1], fromParent = p2c[0];
    pid_t pid = fork();
    if (pid != 0) return pid;
    auto s = std::make_shared<FakeState>();
    s->AddAdapter(0x2261, "SNSHARED");
    InstallFake(s);
    int h = -1;
    int v = static_cast<int>(SDOpenDevice(0, &h));
    SD_INT32 token = 0;
    if (v == 0) v = static_cast<int>(SDStartFlashUpdate(h, 0, &token));
    (void)!write(toParent, &v, sizeof v);
    (void)!write(toParent, &token, sizeof token);
    if (crash) _exit(0);
    int go = 0;
    (void)!read(fromParent, &go, sizeof go);
    v = static_cast<int>(SDEndFlashUpdate(h, 0, token));
    (void)!write(toParent, &v, sizeof v);
    v = static_cast<int>(SDCloseDevice(h));
    (void)!write(toParent, &v, sizeof v);
    _exit(0);
}

TEST_F(Session, TwoProcessesSeeEachOthersSessions) {
    int c2p[2], p2c[2];
    pid_t child = Child(c2p, p2c, false);
    ASSERT_GT(child, 0);
    ASSERT_EQ(Receive(c2p[0]), 0);
    EXPECT_EQ(Receive(c2p[0]), child);   // the token is the holder's pid

    int h = OpenNew(0x2261, "SNSHARED");
    SD_INT32 token = 0;
    EXPECT_EQ(SDStartFlashUpdate(h, 0, &token), SDERR_SESSION_IN_PROGRESS);
    SD_UINT64 caps = 0;
    ASSERT_EQ(SDGetFlashUpdateCapabilities(h, 0, &caps), 0u);
    auto data = Pattern(16, 1);
    // The other process's session does not let this one write.
    EXPECT_EQ(SDUpdateOptionRomEx2(h, 1, data, 0x01), SDERR_TOKEN_NOT_SET);
    EXPECT_EQ(SDEndFlashUpdate(h, 0, token), SDERR_UNKNOWN);

    Send(p2c[1], 1);
    EXPECT_EQ(Receive(c2p[0]), 0);   // child's end
    EXPECT_EQ(Receive(c2p[0]), 0);   // child's close
    EXPECT_TRUE(SharedFileExists());  // this process still uses it
    ASSERT_EQ(SDStartFlashUpdate(h, 0, &token), 0u);
    EXPECT_EQ(SDUpdateOptionRomEx2(h, 1, data, 0x01), 0u);
    EXPECT_EQ(SDEndFlashUpdate(h, 0, token), 0u);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    Close(h);
    EXPECT_FALSE(SharedFileExists());
    for (int fd : {c2p[0], c2p[1], p2c[0], p2c[1]}) close(fd);
}

// The pre-write question "does another process hold this adapter's
// session?": answered from the shared database alone (the only request is
// the node property that names the adapter), for the ports a session may be
// opened through; this process's own token, an expired one and a dead
// holder's do not count.
TEST_F(Session, HeldByAnotherProcessIsAskedOfTheSharedDatabaseAlone) {
    state->AddAdapter(0x2261, "SNSHARED", 2);   // instances 0, 1: the adapter the child holds
    state->AddAdapter(0x2261, "SNOTHER");       // 2
    state->Ports.push_back({0, 2, 0});          // 3: a virtual port of the held adapter
    const int port0 = Open(0), port1 = Open(1), other = Open(2), vport = Open(3);
    const auto asked = [&](int h) {
        const size_t before = state->Calls.size();
        const bool held = zvapi_flash_session_held(h);
        for (size_t i = before; i < state->Calls.size(); ++i)
            EXPECT_EQ(state->Calls[i].Op, ZVOP_NODE_PROPERTY) << "request " << state->Calls[i].Op;
        return held;
    };

    EXPECT_FALSE(asked(port0)) << "no token at all";
    SD_INT32 token = 0;
    ASSERT_EQ(SDStartFlashUpdate(port0, 0, &token), 0u);
    EXPECT_FALSE(asked(port0)) << "this process's own token";
    EXPECT_FALSE(asked(port1));
    ASSERT_EQ(SDEndFlashUpdate(port0, 0, token), 0u);
    const int starts = state->Count(ZVOP_FLASH_UPDATE_START), ends = state->Count(ZVOP_FLASH_UPDATE_END);

    int c2p[2], p2c[2];
    const SD_INT64 forked = std::time(nullptr);   // the child's token starts no earlier
    pid_t child = Child(c2p, p2c, false);
    ASSERT_GT(child, 0);
    ASSERT_EQ(Receive(c2p[0]), 0);
    ASSERT_EQ(Receive(c2p[0]), child);
    const SD_INT64 started = std::time(nullptr);   // and no later
    EXPECT_TRUE(asked(port0));
    EXPECT_TRUE(asked(port1)) << "the adapter's other port";
    EXPECT_FALSE(asked(other)) << "another adapter";
    EXPECT_FALSE(asked(vport)) << "no session is opened through a virtual port";
    EXPECT_FALSE(asked(port0 + 40)) << "no such handle";
    EXPECT_EQ(state->Count(ZVOP_FLASH_UPDATE_START), starts);
    EXPECT_EQ(state->Count(ZVOP_FLASH_UPDATE_END), ends);
    // Still live one second short of its lifetime, over once it has passed.
    const SD_INT64 clock = state->Clock;
    state->Clock = forked + ZVAPI_TOKEN_LIFETIME - 1;
    EXPECT_TRUE(asked(port0));
    state->Clock = started + ZVAPI_TOKEN_LIFETIME;
    EXPECT_FALSE(asked(port0)) << "an expired token";
    state->Clock = clock;
    EXPECT_TRUE(asked(port0));

    Send(p2c[1], 1);
    EXPECT_EQ(Receive(c2p[0]), 0);   // the child's end
    EXPECT_EQ(Receive(c2p[0]), 0);   // and close
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_FALSE(asked(port0)) << "ended";
    for (int fd : {c2p[0], c2p[1], p2c[0], p2c[1]}) close(fd);

    // A holder that died without ending its session holds nothing.
    child = Child(c2p, p2c, true);
    ASSERT_GT(child, 0);
    ASSERT_EQ(Receive(c2p[0]), 0);
    Receive(c2p[0]);
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_FALSE(asked(port0)) << "a dead holder";
    for (int fd : {c2p[0], c2p[1], p2c[0], p2c[1]}) close(fd);
}

TEST_F(Session, CrashedHolderNeitherBlocksTheAdapterNorKeepsTheFile) {
    int c2p[2], p2c[2];
    pid_t child = Child(c2p, p2c, true);
    ASSERT_GT(child, 0);
    ASSERT_EQ(Receive(c2p[0]), 0);
    Receive(c2p[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(SharedFileExists());   // the child never closed

    int h = OpenNew(0x2261, "SNSHARED");
    SD_INT32 token = 0;
    EXPECT_EQ(SDStartFlashUpdate(h, 0, &token), 0u);
    EXPECT_EQ(SDEndFlashUpdate(h, 0, token), 0u);
    Close(h);
    EXPECT_FALSE(SharedFileExists());
    for (int fd : {c2p[0], c2p[1], p2c[0], p2c[1]}) close(fd);
}

}  // namespace
}  // namespace zvtest
