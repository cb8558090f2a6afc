#include <windows.h>

#include "cpu_clock.h"

namespace kestrune::duel {
namespace {

constexpr u64 kFileTimeUnitsPerMicrosecond = 10;  // FILETIME counts 100 ns

u64 unitsOf(const FILETIME& time) noexcept { return (u64{time.dwHighDateTime} << 32) | time.dwLowDateTime; }

}  // namespace

// Kernel plus user time, as the POSIX clocks count it.
u64 threadCpuMicroseconds() noexcept {
    FILETIME created{}, exited{}, kernel{}, user{};
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    return (unitsOf(kernel) + unitsOf(user)) / kFileTimeUnitsPerMicrosecond;
}

f64 processCpuSeconds() noexcept {
    FILETIME created{}, exited{}, kernel{}, user{};
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return static_cast<f64>(unitsOf(kernel) + unitsOf(user)) / (kFileTimeUnitsPerMicrosecond * 1e6);
}

}  // namespace kestrune::duel
