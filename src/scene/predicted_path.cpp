#include "scene/predicted_path.h"

#include <algorithm>
#include <cmath>

namespace kestrune::scene {
namespace {

// Steps are compared by their sums of 1/60 s, which miss round times by a rounding.
constexpr f64 kEpsilonSeconds = 1e-9;

}  // namespace

void PredictedPath::record(f64 seconds, Vec3 position, u32 moveId) noexcept {
    points_[next_] = {seconds, position, moveId};
    next_ = (next_ + 1) % kPredictionHistorySteps;
    count_ = std::min(count_ + 1, kPredictionHistorySteps);
}

Vec3 PredictedPath::at(f64 seconds, Vec3 current, bool carriesOn) const noexcept {
    if (count_ == 0) {
        return current;
    }
    if (seconds >= point(0).seconds) {
        if (count_ < 2 || !carriesOn) {
            return point(0).position;
        }
        const f64 stepSeconds = point(0).seconds - point(1).seconds;
        const f64 aheadSeconds = std::min(seconds - point(0).seconds, kPredictionExtrapolationSeconds);
        const f32 t = stepSeconds > 0.0 ? static_cast<f32>(aheadSeconds / stepSeconds) : 0.0f;
        return point(0).position + (point(0).position - point(1).position) * t;
    }
    for (u32 age = 1; age < count_; ++age) {
        const PredictedPoint& earlier = point(age);
        if (earlier.seconds <= seconds) {
            const PredictedPoint& later = point(age - 1);
            const f64 span = later.seconds - earlier.seconds;
            const f32 t = span > 0.0 ? static_cast<f32>((seconds - earlier.seconds) / span) : 1.0f;
            return lerp(earlier.position, later.position, t);
        }
    }
    return point(count_ - 1).position;
}

void PredictedPath::shift(Vec3 by, const Vec3* other, f32 bodyWidth, f32 bound) noexcept {
    for (u32 age = 0; age < count_; ++age) {
        Vec3& position = point(age).position;
        const Vec3 from = position;
        position = position + by;
        position.x = std::clamp(position.x, -bound, bound);
        position.z = std::clamp(position.z, -bound, bound);
        if (other == nullptr) {
            continue;
        }
        const f32 dx = position.x - other->x;
        const f32 dz = position.z - other->z;
        const f32 apart = std::hypot(dx, dz);
        if (apart < bodyWidth) {
            position = apart > bodyWidth * 1e-6f
                           ? Vec3{other->x + dx / apart * bodyWidth, position.y, other->z + dz / apart * bodyWidth}
                           : from;
        }
    }
}

Vec3 PredictedPath::removeMotion(f64 afterSeconds, u32 moveId) noexcept {
    Vec3 removed;
    Vec3 original;
    for (u32 age = count_; age-- > 0;) {
        PredictedPoint& p = point(age);
        const Vec3 stepped = p.position - original;
        original = p.position;
        const bool after = p.seconds > afterSeconds + kEpsilonSeconds;
        if (age + 1 < count_ && after && (moveId == 0 || p.moveId == moveId)) {
            removed = removed + stepped;
        }
        p.position = p.position - removed;
    }
    return removed;
}

}  // namespace kestrune::scene
