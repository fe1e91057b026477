// Allocations that cannot be had: once armed, the next allocation of exactly
// `size` bytes through operator new throws std::bad_alloc, as a machine out
// of memory would. Linking this in replaces the program's operator new.
#pragma once

#include <cstddef>

namespace zvtest {

void FailNextAllocationOf(std::size_t size);

}  // namespace zvtest
