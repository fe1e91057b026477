// Global operator new that can be told to refuse one allocation.
#include "support/failing_alloc.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> g_failSize{0};
}  // namespace

void zvtest::FailNextAllocationOf(std::size_t size) { g_failSize = size; }

void* operator new(std::size_t size) {
    std::size_t armed = size;
    if (size != 0 && g_failSize.compare_exchange_strong(armed, 0)) throw std::bad_alloc();
    if (void* p = std::malloc(size != 0 ? size : 1)) return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
