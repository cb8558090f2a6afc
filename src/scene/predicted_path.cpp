#include "scene/predicted_path.h"

#include <algorithm>

#include "net/rule_book.h"

namespace kestrune::scene {
namespace {

// Steps are compared by their sums of 1/60 s, which miss round times by a rounding.
constexpr f64 kEpsilonSeconds = 1e-9;

}  // namespace

Vec3 stepFrom(Vec3 from, Vec3 stride, const Vec3* opponent) noexcept {
    const Vec3 to{std::clamp(from.x + stride.x, -kArenaBoundMetres, kArenaBoundMetres), from.y + stride.y,
                  std::clamp(from.z + stride.z, -kArenaBoundMetres, kArenaBoundMetres)};
    if (opponent == nullptr) {
        return to;
    }
    const net::GroundPoint<f32> kept =
        net::keepApart<f32>({from.x, from.z}, {to.x, to.z}, {opponent->x, opponent->z}, kBodyWidthMetres);
    return {kept.x, to.y, kept.z};
}

void PredictedPath::record(f64 seconds, Vec3 position, u32 moveId, Vec3 stride, const Vec3* opponent) noexcept {
    points_[next_] = {seconds, position, moveId, stride, opponent != nullptr ? *opponent : Vec3{}, opponent != nullptr};
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
        const PredictedPoint& newest = point(0);
        const f64 stepSeconds = newest.seconds - point(1).seconds;
        f64 stepsAhead = stepSeconds > 0.0 ? std::min(seconds - newest.seconds, kPredictionExtrapolationSeconds) / stepSeconds : 0.0;
        Vec3 position = newest.position;
        const Vec3* opponent = newest.blockable ? &newest.opponent : nullptr;
        for (; stepsAhead > 0.0; stepsAhead -= 1.0) {
            position = stepFrom(position, newest.stride * static_cast<f32>(std::min(stepsAhead, 1.0)), opponent);
        }
        return position;
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

Vec3 PredictedPath::replay(f64 seconds, Vec3 by, Vec3 current) noexcept {
    if (count_ == 0) {
        return current + by;
    }
    for (u32 age = count_; age-- > 0;) {
        PredictedPoint& p = point(age);
        if (age + 1 == count_ || p.seconds <= seconds + kEpsilonSeconds) {
            p.position = p.position + by;  // history, and the step the server's tick falls in
        } else {
            p.position = stepFrom(point(age + 1).position, p.stride, p.blockable ? &p.opponent : nullptr);
        }
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
