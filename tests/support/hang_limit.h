// How long a test waits for a run, a thread or an event before it takes it as
// hung. Only a hang is meant: the limit lies far beyond any run's time on a
// loaded machine, and inside ctest's limit of 120 s per test, so that the test
// itself says what it waited for. No test bounds how fast anything is.
#pragma once

namespace zvtest {

inline constexpr int kHangSeconds = 90;

}  // namespace zvtest
