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

}  // namespace zvtest
