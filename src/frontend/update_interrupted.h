// The line that says an update ended on a signal: the update's own signal
// handling (progress bar) and the start-up handler's safe points say it alike.
#pragma once

#include <span>

// Writes "Update interrupted by signal N; it ended between two flash
// operations." (or, when one may still be under way, "Update interrupted by
// signal N while a flash operation did not end!") to the output file and the
// debug log; `line` gets the same text for the console (cut to it).
void VORNSayUpdateInterrupted(int sig, bool betweenOperations, std::span<char> line);
