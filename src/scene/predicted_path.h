#pragma once
// Where the prediction had the local fighter at the end of each recent fixed step, and the
// move command each step ran on: the past that the server's snapshots are compared with, and
// from which motion the server never made is taken out. A ring sized once; nothing allocates.

#include <array>

#include "base/types.h"
#include "net/rule_book.h"
#include "scene/scene_math.h"

namespace kestrune::scene {

// About four seconds of fixed steps: a frozen link's round trip and more.
inline constexpr u32 kPredictionHistorySteps = 256;
// The server moves a whole tick at once, and the frame's steps catch up with time after its
// snapshot was applied: a snapshot can be this far ahead of the steps simulated so far.
inline constexpr f64 kPredictionExtrapolationSeconds = 0.2;

// The rule book's arena and body in the scene's metres.
inline constexpr f32 kArenaBoundMetres = static_cast<f32>(net::kArenaBoundMm) / 1000.0f;
inline constexpr f32 kBodyWidthMetres = static_cast<f32>(net::kBodyWidthMm) / 1000.0f;

struct PredictedPoint {
    f64 seconds = 0.0;  // the clock at the end of the step
    Vec3 position;
    u32 moveId = 0;  // the move command the step ran on, 0 for none
    Vec3 stride;     // the step's motion before the arena and the opponent's body stopped it
    Vec3 opponent;   // where the opponent's body stood in its way, when `blockable`
    bool blockable = false;
};

// Where a step of `stride` from `from` ends: inside the arena, and out of the body of an
// opponent at `opponent` (when given), as the duel server steps its fighters.
Vec3 stepFrom(Vec3 from, Vec3 stride, const Vec3* opponent) noexcept;

class PredictedPath {
public:
    void clear() noexcept { count_ = 0; }
    u32 size() const noexcept { return count_; }
    // Whether the path reaches back to `seconds` (an empty one stands for any moment).
    bool reaches(f64 seconds) const noexcept { return count_ == 0 || point(count_ - 1).seconds <= seconds; }
    void record(f64 seconds, Vec3 position, u32 moveId, Vec3 stride = {}, const Vec3* opponent = nullptr) noexcept;
    // The step `age` steps before the newest (0), for age below size().
    const PredictedPoint& point(u32 age) const noexcept {
        return points_[(next_ + kPredictionHistorySteps - 1 - age) % kPredictionHistorySteps];
    }

    // The position at `seconds`: between the steps around it, the oldest before the path, and
    // past the newest, carried on with the last step's stride when `carriesOn` (for at most
    // kPredictionExtrapolationSeconds), else the newest. `current` stands in for an empty path.
    Vec3 at(f64 seconds, Vec3 current, bool carriesOn) const noexcept;
    // Moves the point at or before `seconds`, and every point before it, by `by`, and steps every
    // later one from the one before by its stride again, against the body that stood in its way
    // then: the prediction replayed from where the server had the fighter. Returns the newest
    // position, `current` + `by` when the path is empty.
    Vec3 replay(f64 seconds, Vec3 by, Vec3 current) noexcept;
    // Takes out of the path the motion of every step after `afterSeconds` (only of those that
    // ran on `moveId`, when it is not 0); the later steps keep their own motion from where the
    // fighter then stood. Returns the motion taken out.
    Vec3 removeMotion(f64 afterSeconds, u32 moveId) noexcept;

private:
    PredictedPoint& point(u32 age) noexcept {
        return points_[(next_ + kPredictionHistorySteps - 1 - age) % kPredictionHistorySteps];
    }

    std::array<PredictedPoint, kPredictionHistorySteps> points_{};
    u32 count_ = 0;
    u32 next_ = 0;
};

}  // namespace kestrune::scene
