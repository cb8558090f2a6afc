#include "allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::size_t> allocations{0};

}  // namespace

namespace kestrune::bench {

std::size_t allocationCount() noexcept { return allocations.load(std::memory_order_relaxed); }

}  // namespace kestrune::bench

// The array and nothrow forms forward to these in libstdc++, so they are counted too.
void* operator new(std::size_t sizeBytes) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* block = std::malloc(sizeBytes == 0 ? 1 : sizeBytes)) {
        return block;
    }
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
