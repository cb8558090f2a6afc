#pragma once
// CPU time the server has used, for its tick report: the calling thread's and the whole
// process's. POSIX clocks on Linux, GetThreadTimes and GetProcessTimes on Windows.

#include "base/types.h"

namespace kestrune::duel {

u64 threadCpuMicroseconds() noexcept;
f64 processCpuSeconds() noexcept;

}  // namespace kestrune::duel
