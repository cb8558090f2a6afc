#include "allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

// Replaces the global allocation functions of this test program. The array and nothrow
// forms of the standard library forward to these two.

static std::atomic<std::size_t> allocations{0};

void* operator new(std::size_t sizeBytes) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(sizeBytes == 0 ? 1 : sizeBytes)) return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace kestrune::test {

std::size_t allocationCount() noexcept { return allocations.load(std::memory_order_relaxed); }

}  // namespace kestrune::test
