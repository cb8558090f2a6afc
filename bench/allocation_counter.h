#pragma once
// Counts every global operator new in the benchmark program, so a benchmark can verify
// that the code it measures allocates only what it is allowed to.

#include <benchmark/benchmark.h>

#include <cstddef>

namespace kestrune::bench {

std::size_t allocationCount() noexcept;

// Runs `frame` once per benchmark iteration and records the heap allocations it made per
// frame as the counter "allocationsPerFrame".
template <typename Frame>
void runFramesCountingAllocations(benchmark::State& state, Frame&& frame) {
    const std::size_t allocationsBefore = allocationCount();
    std::size_t frames = 0;
    for (auto _ : state) {
        frame();
        ++frames;
    }
    state.counters["allocationsPerFrame"] =
        static_cast<double>(allocationCount() - allocationsBefore) / static_cast<double>(frames);
}

}  // namespace kestrune::bench
