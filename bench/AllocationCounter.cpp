#include "AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

// Kept in its own translation unit so the compiler cannot pair the malloc
// inside operator new with a delete elsewhere.
namespace {
std::atomic<int64_t> g_allocations{0};
}

int64_t allocationCount() { return g_allocations.load(std::memory_order_relaxed); }

void* operator new(std::size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
