#include "link_schedule.h"

#include <algorithm>

namespace kestrune::relay {

LinkSchedule::LinkSchedule(const LinkConditions& conditions)
    : conditions_(conditions), random_(conditions.seed), jitter_(0.0, static_cast<f64>(conditions.jitterMs)) {}

f64 LinkSchedule::releaseMs(f64 arrivalMs) {
    const f64 jitterMs = conditions_.jitterMs > 0 ? jitter_(random_) : 0.0;
    f64 releaseMs = std::max(arrivalMs + conditions_.delayMs + jitterMs, lastReleaseMs_);
    if (conditions_.stallAfterMs) {
        const f64 stallStartMs = *conditions_.stallAfterMs;
        const f64 stallEndMs = stallStartMs + conditions_.stallMs;
        if (releaseMs >= stallStartMs && releaseMs < stallEndMs) {
            releaseMs = stallEndMs;
        }
    }
    lastReleaseMs_ = releaseMs;
    return releaseMs;
}

}  // namespace kestrune::relay
