// The interrupt that a signal handler recorded for the main thread to act on at
// its next safe point. Kept below the start-up code so that the update's progress
// bar can take over an interrupt that arrived just before it installed its own
// handlers.
#pragma once

// Async-signal-safe: records the signal.
void VORNRecordInterrupt(int sig);
// The recorded interrupt, 0 when none; left recorded.
int VORNPeekPendingInterrupt();
// The recorded interrupt (0 when none), cleared.
int VORNTakePendingInterrupt();
