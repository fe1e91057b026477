// The library's System V semaphores: an interrupt ends every wait at once (a
// set another user made is refused in tests/e2e/safety_files_test.cpp), and a
// closed flash gate lets no further flash operation start.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "lib_fixture.h"

namespace {

// A set under the library's key, made by `uid`, its load semaphore held.
int PlantSemaphores(uid_t uid) {
    const key_t key = ftok("/tmp", 'Z');
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgid(uid) != 0 || setuid(uid) != 0) _exit(1);
        const int id = semget(key, 4, IPC_CREAT | 0600);
        _exit(id >= 0 && semctl(id, 0, SETVAL, 1) == 0 ? 0 : 2);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? semget(key, 0, 0) : -1;
}

class SharedSafety : public zvtest::LibTest {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /tmp (the semaphore key)";
        LibTest::SetUp();
        state->AddAdapter(0x2261, "SN1");
    }
    void TearDown() override {
        LibTest::TearDown();
        if (semId >= 0) semctl(semId, 0, IPC_RMID);
        zvapi_reset_setup_error();
    }
    int semId = -1;
};

TEST_F(SharedSafety, AnInterruptEndsTheWaitForAHeldLockWithoutASetUpFailure) {
    semId = PlantSemaphores(0);   // root's own set: trusted, but held
    ASSERT_GE(semId, 0);
    EXPECT_EXIT(
        {
            std::thread interrupter([] {
                ::poll(nullptr, 0, 200);
                zvapi_interrupt_waits();
            });
            int h = -1;
            const SD_UINT32 st = SDOpenDevice(0, &h);
            interrupter.join();
            _exit(st == SDERR_OUT_OF_MEMORY && zvapi_setup_error().empty() ? 7 : 1);
        },
        ::testing::ExitedWithCode(7), "");
}

TEST_F(SharedSafety, AClosedFlashGateLetsNoFlashOperationStart) {
    EXPECT_EXIT(
        {
            int h = -1;
            if (SDOpenDevice(0, &h) != 0) _exit(2);
            std::vector<SD_UINT8> buf(16);
            if (SDGetOptionRomEx(h, 0, buf, 0x13) != 0) _exit(3);
            if (!zvapi_quiesce_flash(1000)) _exit(4);
            std::atomic<bool> done{false};
            std::thread reader([&] {
                std::vector<SD_UINT8> b(16);
                SDGetOptionRomEx(h, 0, b, 0x13);
                done = true;
            });
            reader.detach();
            ::poll(nullptr, 0, 300);
            _exit(done ? 5 : 7);
        },
        ::testing::ExitedWithCode(7), "");
}

}  // namespace
