// Global operator new that can be told to refuse one allocation.
#include "support/failing_alloc.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> g_failSize{0};
std::atomic<long> g_countdown{0};
std::atomic<std::size_t> g_countSize{0};
std::atomic<long> g_counted{0};
}  // namespace

void zvtest::FailNextAllocationOf(std::size_t size) { FailNthAllocationOf(size, 1); }

void zvtest::FailNthAllocationOf(std::size_t size, long nth) {
    g_failSize = 0;
    g_countdown = nth;
    g_failSize = size;
}

void zvtest::CountAllocationsOf(std::size_t size) {
    g_countSize = 0;
    g_counted = 0;
    g_countSize = size;
}

long zvtest::CountedAllocations() { return g_counted.load(); }

void* operator new(std::size_t size) {
    if (size != 0 && size == g_countSize.load()) g_counted.fetch_add(1);
    if (size != 0 && size == g_failSize.load() && g_countdown.fetch_sub(1) == 1) {
        g_failSize = 0;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size != 0 ? size : 1)) return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
// The no-throw form pairs with the delete above (std::stable_sort's buffer
// uses it); left to the sanitizer's allocator it would be freed by ours.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
