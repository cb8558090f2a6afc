#pragma once
// Counts every allocation through the global operator new of the test program, so that a
// test can show that a code path allocates nothing.

#include <cstddef>

namespace kestrune::test {

std::size_t allocationCount() noexcept;

}  // namespace kestrune::test
