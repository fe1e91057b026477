// Console progress bar with its redraw thread, and the update's signal handling.
#include "frontend/progress_bar.h"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <cerrno>
#include <pthread.h>
#include <semaphore.h>
#include <unistd.h>

#include "frontend/output.h"
#include "frontend/pending_interrupt.h"
#include "frontend/update_interrupted.h"
#include "mgmt/sd_shared_db.h"

namespace {

// Widest bar drawn; keeps a stray size from building a huge line.
constexpr SD_INT32 kMaxBarWidth = 65536;

std::unique_ptr<ProgressBar> gptr_ProgressBar;
std::atomic<SD_UINT32> g_CurrentProcess{0};
std::atomic<int> g_signalProgressInProgress{0};   // the signal that ends the run, 0 before
std::atomic<int> g_repeatedSignal{0};             // a later signal while the first is handled

// The handler only records the signal and posts this semaphore (both safe in a
// handler); the terminator thread does the logging and the session release,
// which take locks the interrupted code may hold.
sem_t g_terminationSem;
std::atomic<bool> g_terminatorRunning{false};   // set once, before the handlers are installed
std::atomic<int> g_silent{0};
std::atomic<void (*)(int)> g_terminationCleanup{nullptr};

// Wakes the redraw thread at once when the status changes, so that stopping
// it never waits out the rest of its second.
std::mutex g_WaitConditionMutex;
std::condition_variable g_WaitCondition;

pthread_t g_ThreadHandle;
bool g_threadRunning = false;   // touched by the main thread only

// The update's thread says here that it stopped at a step boundary.
std::mutex g_parkMutex;
std::condition_variable g_parkCondition;
bool g_updateParked = false;

// How long the terminator waits for the update's next step boundary, and then
// at most for a flash operation under way to end.
constexpr auto kStepBoundaryWait = std::chrono::seconds(3);
constexpr int kFlashOperationWaitMs = 30000;

void block_termination_signals(int how) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(how, &set, nullptr);
}

void* redraw_thread(void* arg) {
    // Termination signals are handled on the update's thread, never while
    // this one holds the console.
    block_termination_signals(SIG_BLOCK);
    ShowProgressBar(static_cast<ProgressBar*>(arg));
    return nullptr;
}

[[noreturn]] void finish_termination(int sig) {
    VORNLogMessage(VORN_MSG_INFO, "Signal (%d) caught...", sig);
    VORNLogMessage(VORN_MSG_DEBUG, "g_signalProgressInProgress=%d", 0);
    VORNLogMessage(VORN_MSG_INFO, "Setting SignalHandlerInProcess to (%d).", 1);
    // The run ends between two flash operations, never inside one: first the
    // update's thread gets a moment to reach its next step boundary, then no
    // flash operation may be under way and none may start again.
    {
        std::unique_lock<std::mutex> lock(g_parkMutex);
        g_parkCondition.wait_for(lock, kStepBoundaryWait, [] { return g_updateParked; });
    }
    const bool between = zvapi_quiesce_flash(kFlashOperationWaitMs);
    char line[VORN_LINE_SIZE];
    VORNSayUpdateInterrupted(sig, between, line);
    if (g_silent.load() == 0) {
        std::fprintf(stdout, "\n%s\n", line);
        std::fflush(stdout);
    }
    // An interrupted update must neither look successful nor leave a
    // flash-update session (or a shared file it made) behind for the next run.
    if (void (*cleanup)(int) = g_terminationCleanup.load(); cleanup != nullptr) cleanup(sig);
    // Signals that came while this one was handled changed nothing; they are said.
    if (const int again = g_repeatedSignal.load(); again != 0) {
        VORNLogMessage(VORN_MSG_INFO, "Signal (%d) caught...", again);
        VORNLogMessage(VORN_MSG_DEBUG, "g_signalProgressInProgress=%d", 1);
        VORNLogMessage(VORN_MSG_INFO, "Already raised signal (%d)...", again);
    }
    const int status = 128 + sig;
    VORNLogMessage(VORN_MSG_INFO, "termination_handler: exit %d.", status);
    std::fflush(nullptr);
    _exit(status);
}

void* terminator_thread(void*) {
    block_termination_signals(SIG_BLOCK);
    while (sem_wait(&g_terminationSem) != 0 && errno == EINTR) {
    }
    finish_termination(g_signalProgressInProgress.load());
}

void start_terminator() {
    if (g_terminatorRunning || sem_init(&g_terminationSem, 0, 0) != 0) return;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, terminator_thread, nullptr) == 0) {
        pthread_detach(thread);
        g_terminatorRunning = true;
    }
}

void install(int sig, struct sigaction& action) {
    struct sigaction previous {};
    sigaction(sig, &action, &previous);
    // A signal that the caller ignored stays ignored.
    if (previous.sa_handler == SIG_IGN) sigaction(sig, &previous, nullptr);
}

}  // namespace

ProgressBar* CreateNewProgressBar(const char* pBarTitle, SD_INT32 maxSize, SD_UINT8 type) {
    if (!gptr_ProgressBar) {
        try {
            gptr_ProgressBar = std::make_unique<ProgressBar>();
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
    ProgressBar* bar = gptr_ProgressBar.get();
    bar->barArrow = '>';
    bar->barChar = '=';
    bar->barTitle = pBarTitle;
    bar->barProgress = 0;
    bar->barSize = maxSize;
    bar->barCrtl = type;
    ProgressBarPrintBar(bar);
    return bar;
}

ProgressBar* GetCurrentProgressBar() { return gptr_ProgressBar.get(); }

void ProgressBarFree(ProgressBar* bar) {
    if (bar == nullptr) return;
    StopProgressBarThread();
    if (bar == gptr_ProgressBar.get()) gptr_ProgressBar.reset();
}

void ProgressBarIncrement(ProgressBar* bar) {
    // Every step of the update advances the bar: a step boundary is where the
    // update stops once a termination signal came, never inside a flash write.
    UpdateStopIfTerminating();
    if (bar == nullptr) return;
    if (bar->barProgress.load() < bar->barSize.load()) ++bar->barProgress;
}

void ProgressBarSetProgress(ProgressBar* bar, SD_INT32 value) {
    UpdateStopIfTerminating();
    if (bar != nullptr) bar->barProgress = value;
}

SD_INT32 ProgressBarGetProgress(const ProgressBar* bar) { return bar != nullptr ? bar->barProgress.load() : 0; }

void ProgressBarSetInfoText(ProgressBar* bar, const char* text) {
    if (bar != nullptr) bar->barTitle = text;
}

void ProgressBarSetBarChar(ProgressBar* bar, char c) {
    if (bar != nullptr) bar->barChar = c;
}

void ProgressBarSetBarArrow(ProgressBar* bar, char c) {
    if (bar != nullptr) bar->barArrow = c;
}

std::string ProgressBarFormat(const ProgressBar* bar) {
    if (bar == nullptr) return {};
    SD_INT32 size = bar->barSize.load();
    if (size < 0) size = 0;
    if (size > kMaxBarWidth) size = kMaxBarWidth;
    SD_INT32 progress = bar->barProgress.load();
    if (progress < 0) progress = 0;
    if (progress > size + 1) progress = size + 1;   // beyond full: no blanks, as when just past it

    std::string text;
    if (bar->barCrtl != 0) text += '\r';
    text += bar->barTitle != nullptr ? bar->barTitle : "";
    text += " :\t[";
    const SD_INT32 fill = progress > 1 ? progress - 1 : 0;
    text.append(static_cast<std::size_t>(fill), bar->barChar);
    if (progress == size) {
        text += bar->barChar;
    } else {
        text += bar->barArrow;
        const SD_INT32 used = fill + 1;
        if (used < size) text.append(static_cast<std::size_t>(size - used), ' ');
    }
    text += ']';
    if (bar->barCrtl == 0) text += '\n';
    return text;
}

void ProgressBarSetSilent(int silent) { g_silent = silent != 0 ? 1 : 0; }

void ProgressBarPrintBar(const ProgressBar* bar) {
    if (bar == nullptr || g_silent.load() != 0) return;
    const std::string text = ProgressBarFormat(bar);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void SetProcessStatus(SD_UINT32 value) {
    {
        std::lock_guard<std::mutex> lock(g_WaitConditionMutex);
        g_CurrentProcess = value;
    }
    g_WaitCondition.notify_all();
}

SD_UINT32 GetProcessStatus() { return g_CurrentProcess.load(); }

SD_UINT32 ShowProgressBar(ProgressBar* bar) {
    SD_UINT32 status = 0;
    SD_INT32 drawn = -1;
    while (bar != nullptr) {
        status = GetProcessStatus();
        if (status == 0) break;
        // One drawing a second while the update runs.
        drawn = bar->barProgress.load();
        ProgressBarPrintBar(bar);
        {
            std::unique_lock<std::mutex> lock(g_WaitConditionMutex);
            g_WaitCondition.wait_for(lock, std::chrono::seconds(1), [] { return g_CurrentProcess.load() != 1; });
        }
        status = GetProcessStatus();
        if (status != 1) break;
    }
    // A status change wakes the thread before its second is over: the last
    // drawing still shows where the update ended.
    if (bar != nullptr && bar->barProgress.load() != drawn) ProgressBarPrintBar(bar);
    return status;
}

int CreateProgressBarThread(ProgressBar* bar) {
    VORNLogMessage(VORN_MSG_DEBUG, "CreateProgressBarThread: Enter...");
    if (g_threadRunning) return 0;
    const int rc = pthread_create(&g_ThreadHandle, nullptr, redraw_thread, bar);
    if (rc == 0) {
        g_threadRunning = true;
        VORNLogMessage(VORN_MSG_DEBUG, "CreateProgressBarThread: pthread_create returns %d.", rc);
    } else if (rc == 11) {
        VORNLogMessage(VORN_MSG_DEBUG, "CreateProgressBarThread: pthread_create failed (%d) (insufficient resources)",
                       rc);
    } else if (rc == 22) {
        VORNLogMessage(VORN_MSG_DEBUG, "CreateProgressBarThread: pthread_create failed (%d) (invalid arguments)", rc);
    } else {
        VORNLogMessage(VORN_MSG_DEBUG, "CreateProgressBarThread: pthread_create failed (%d) (unknown error)", rc);
    }
    return rc;
}

void StopProgressBarThread() {
    if (!g_threadRunning) return;
    SetProcessStatus(0);
    pthread_join(g_ThreadHandle, nullptr);
    g_threadRunning = false;
}

void DisplayProcessProgressBar(ProgressBar* bar) {
    VORNLogMessage(VORN_MSG_DEBUG, "DisplayProcessProgressBar: Enter...");
    start_terminator();
    struct sigaction action {};
    action.sa_handler = termination_handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    install(SIGINT, action);
    install(SIGHUP, action);
    install(SIGTERM, action);
    std::signal(SIGPIPE, SIG_IGN);
    // An interrupt that reached the start-up handler just before ends the run
    // the same way as one that arrives now.
    if (const int pending = VORNTakePendingInterrupt(); pending != 0) termination_handler(pending);
    // The start of the thread is bracketed by a condition and a mutex that
    // guard nothing; their results are kept in the debug log.
    pthread_cond_t condition;
    pthread_mutex_t mutex;
    pthread_cond_init(&condition, nullptr);
    pthread_mutex_init(&mutex, nullptr);
    VORNLogMessage(VORN_MSG_DEBUG, "DisplayProcessProgressBar: pthread_mutex_lock returns %d", pthread_mutex_lock(&mutex));
    CreateProgressBarThread(bar);
    VORNLogMessage(VORN_MSG_DEBUG, "DisplayProcessProgressBar: pthread_mutex_unlock returns %d",
                   pthread_mutex_unlock(&mutex));
    VORNLogMessage(VORN_MSG_DEBUG, "DisplayProcessProgressBar: pthread_cond_destroy returns %d",
                   pthread_cond_destroy(&condition));
    VORNLogMessage(VORN_MSG_DEBUG, "DisplayProcessProgressBar: pthread_mutex_destroy returns %d",
                   pthread_mutex_destroy(&mutex));
}

void UpdateStopIfTerminating() {
    if (g_signalProgressInProgress.load() == 0 || !g_terminatorRunning.load()) return;
    {
        std::lock_guard<std::mutex> lock(g_parkMutex);
        g_updateParked = true;
    }
    g_parkCondition.notify_all();
    // The terminator thread ends the process; this thread does nothing more.
    for (;;) pause();
}

void SetTerminationCleanup(void (*cleanup)(int sig)) { g_terminationCleanup = cleanup; }

void termination_handler(int sig) {
    int expected = 0;
    // A later signal finds the first one's work under way and changes nothing.
    if (!g_signalProgressInProgress.compare_exchange_strong(expected, sig)) {
        g_repeatedSignal = sig;
        return;
    }
    // A thread waiting for a library lock gives up, so that it reaches its next step.
    zvapi_interrupt_waits();
    if (g_terminatorRunning) {
        sem_post(&g_terminationSem);
        return;
    }
    // Without the terminator thread nothing but a safe exit is possible here.
    _exit(128 + sig);
}
