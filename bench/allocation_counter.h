#pragma once
// Counts every global operator new in the benchmark program, so a benchmark can verify
// that the code it measures allocates only what it is allowed to.

#include <cstddef>

namespace kestrune::bench {

std::size_t allocationCount() noexcept;

}  // namespace kestrune::bench
