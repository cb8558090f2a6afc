#pragma once
// Time as the frame loop sees it: a high-resolution counter with its frequency, a
// monotonic nanosecond clock for the run's elapsed time, and the smoke runs' sleep.
// Injected so the loop's arithmetic is tested with a clock that tests move by hand.

#include <memory>

#include "base/types.h"

namespace kestrune::app {

class FrameClock {
public:
    virtual ~FrameClock() = default;
    virtual i64 counter() = 0;
    virtual i64 counterFrequency() = 0;  // counts per second
    virtual u64 monotonicNanoseconds() = 0;
    virtual void sleepMilliseconds(u32 milliseconds) = 0;
};

// The steady clock of the standard library (the performance counter on Windows).
std::unique_ptr<FrameClock> createSystemFrameClock();

}  // namespace kestrune::app
