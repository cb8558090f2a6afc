#include <ctime>

#include "cpu_clock.h"

namespace kestrune::duel {

u64 threadCpuMicroseconds() noexcept {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<u64>(now.tv_sec) * 1000000u + static_cast<u64>(now.tv_nsec) / 1000u;
}

f64 processCpuSeconds() noexcept {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<f64>(now.tv_sec) + static_cast<f64>(now.tv_nsec) / 1e9;
}

}  // namespace kestrune::duel
