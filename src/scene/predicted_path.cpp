#include "scene/predicted_path.h"

#include <algorithm>

#include "net/rule_book.h"

namespace kestrune::scene {
namespace {

// Steps are compared by their sums of 1/60 s, which miss round times by a rounding.
constexpr f64 kEpsilonSeconds = 1e-9;

}  // namespace

void PredictedPath::record(f64 seconds, Vec3 position, u32 moveId, Vec3 stride) noexcept {
    points_[next_] = {seconds, position, moveId, stride};
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

Vec3 PredictedPath::replay(f64 seconds, Vec3 by, Vec3 current, const Vec3* other, f32 bodyWidth,
                           f32 bound) noexcept {
    if (count_ == 0) {
        return current + by;
    }
    u32 age = count_;
    while (age-- > 0) {
        PredictedPoint& p = point(age);
        if (age + 1 == count_ || p.seconds <= seconds + kEpsilonSeconds) {
            p.position = p.position + by;  // history, and the step the server's tick falls in
            continue;
        }
        const Vec3 from = point(age + 1).position;
        const Vec3 to{std::clamp(from.x + p.stride.x, -bound, bound), from.y, std::clamp(from.z + p.stride.z, -bound, bound)};
        if (other == nullptr) {
            p.position = to;
            continue;
        }
        const net::GroundPoint<f32> kept =
            net::keepApart<f32>({from.x, from.z}, {to.x, to.z}, {other->x, other->z}, bodyWidth);
        p.position = {kept.x, to.y, kept.z};
    }
    return point(0).position;
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
            p.stride = {};
        }
        p.position = p.position - removed;
    }
    return removed;
}

}  // namespace kestrune::scene
