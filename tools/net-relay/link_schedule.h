#pragma once
// When each chunk of one direction of a relayed connection may go on: its arrival plus the
// delay and a seeded random jitter, never before the chunk ahead of it (TCP keeps order),
// and never inside the connection's one stall window. Pure arithmetic on milliseconds since
// the connection was accepted, so the rule is tested without sockets.

#include <optional>
#include <random>

#include "base/types.h"

namespace kestrune::relay {

struct LinkConditions {
    u32 delayMs = 0;
    u32 jitterMs = 0;
    u64 seed = 1;
    std::optional<u32> stallAfterMs;
    u32 stallMs = 0;
};

class LinkSchedule {
public:
    explicit LinkSchedule(const LinkConditions& conditions);

    // Release time of a chunk that arrived at `arrivalMs`; calls come in arrival order.
    f64 releaseMs(f64 arrivalMs);

private:
    LinkConditions conditions_;
    std::mt19937_64 random_;
    std::uniform_real_distribution<f64> jitter_;
    f64 lastReleaseMs_ = 0.0;
};

}  // namespace kestrune::relay
