// One signal number shared between a handler and the main thread.
#include "frontend/pending_interrupt.h"

#include <csignal>

namespace {
volatile sig_atomic_t g_pendingSignal = 0;
}  // namespace

void VORNRecordInterrupt(int sig) { g_pendingSignal = sig; }

int VORNPeekPendingInterrupt() { return g_pendingSignal; }

int VORNTakePendingInterrupt() {
    const int sig = g_pendingSignal;
    g_pendingSignal = 0;
    return sig;
}
