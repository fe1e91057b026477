// Allocations that cannot be had: once armed, the next (or the nth) allocation
// of exactly `size` bytes through operator new throws std::bad_alloc, as a
// machine out of memory would. Linking this in replaces the program's
// operator new.
#pragma once

#include <cstddef>

namespace zvtest {

void FailNextAllocationOf(std::size_t size);
// The nth allocation of exactly `size` bytes from now fails; size 0 disarms.
void FailNthAllocationOf(std::size_t size, long nth);
// Counts the allocations of exactly `size` bytes from now on (size 0 stops),
// so that a test can aim a failure past the ones a step before it makes.
void CountAllocationsOf(std::size_t size);
long CountedAllocations();

}  // namespace zvtest
