#include "motion.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace kestrune::baker {
namespace {

// Where the rolling foot pivots: the heel until this fraction of the stance, the ball of
// the foot after the second.
constexpr f64 kHeelRollEnd = 0.15;
constexpr f64 kToeRollStart = 0.6;
constexpr f64 kHeelBackMetres = 0.06;  // heel behind the ankle, on the ground

// Fritsch-Butland slope at a key between secants `before` and `after` over spans of
// `spanBefore` and `spanAfter` seconds: zero at a turn or a hold, so the curve neither
// overshoots nor creeps where two keys agree.
f64 monotoneSlope(f64 before, f64 after, f64 spanBefore, f64 spanAfter) noexcept {
    if (before * after <= 0.0) {
        return 0.0;
    }
    const f64 w1 = 2.0 * spanAfter + spanBefore;
    const f64 w2 = spanAfter + 2.0 * spanBefore;
    return (w1 + w2) / (w1 / before + w2 / after);
}

f64 hermite(f64 p0, f64 p1, f64 m0, f64 m1, f64 span, f64 s) noexcept {
    const f64 s2 = s * s;
    const f64 s3 = s2 * s;
    return (2.0 * s3 - 3.0 * s2 + 1.0) * p0 + (s3 - 2.0 * s2 + s) * span * m0 + (-2.0 * s3 + 3.0 * s2) * p1 +
           (s3 - s2) * span * m1;
}

f64 wrap01(f64 v) noexcept { return v - std::floor(v); }

struct AnklePlacement {
    Vec3 offset;
    f64 pitchDegrees = 0.0;
};

// The ankle of a foot planted `travel` metres forward of its bind place, pitched about a
// pivot on the ground (heel or ball) that stays where it is.
AnklePlacement rolledAnkle(const Skeleton& skeleton, Side side, f64 travel, f64 pitchDegrees, f64 headingDegrees,
                           bool aboutBall) {
    const Joint foot = side == kLeft ? kFootL : kFootR;
    const Joint toe = side == kLeft ? kToeL : kToeR;
    const Vec3 ankle = skeleton.head[foot];
    const Vec3 pivot = aboutBall ? Vec3{skeleton.head[toe].x, 0.0, skeleton.head[toe].z}
                                 : Vec3{ankle.x, 0.0, ankle.z - kHeelBackMetres};
    const Quat turn = axisAngle({0.0, 1.0, 0.0}, radians(headingDegrees));
    const Quat roll = turn * axisAngle({1.0, 0.0, 0.0}, radians(pitchDegrees));
    const Vec3 pivotFromAnkle = rotate(turn, pivot - ankle);
    const Vec3 planted = ankle + Vec3{0.0, 0.0, travel};
    const Vec3 rolled = planted + pivotFromAnkle - rotate(roll, pivot - ankle);
    return {rolled - ankle, pitchDegrees};
}

AnklePlacement stanceAnkle(const Skeleton& skeleton, const Gait& gait, Side side, f64 headingDegrees, f64 s) {
    const f64 strideMetres = gait.speedMetresPerSecond * gait.stanceFraction * gait.periodSeconds;
    const f64 travel = gait.strideCentreMetres + strideMetres * (0.5 - s);
    if (s < kHeelRollEnd) {
        const f64 pitch = gait.heelStrikeDegrees * (1.0 - smoothstep(s / kHeelRollEnd));
        return rolledAnkle(skeleton, side, travel, pitch, headingDegrees, false);
    }
    if (s > kToeRollStart) {
        const f64 pitch = gait.toeOffDegrees * smoothstep((s - kToeRollStart) / (1.0 - kToeRollStart));
        return rolledAnkle(skeleton, side, travel, pitch, headingDegrees, true);
    }
    return rolledAnkle(skeleton, side, travel, 0.0, headingDegrees, true);
}

FootPlant gaitFoot(const Skeleton& skeleton, const Gait& gait, const FootPlant& carriage, Side side, f64 phase) {
    const f64 heading = carriage.headingDegrees;
    AnklePlacement ankle;
    if (phase < gait.stanceFraction) {
        ankle = stanceAnkle(skeleton, gait, side, heading, phase / gait.stanceFraction);
    } else {
        // The swing leaves and lands at the ground's speed, so the foot neither jerks off the
        // ground nor slaps down; it reaches a little past both ends on the way.
        const f64 s = (phase - gait.stanceFraction) / (1.0 - gait.stanceFraction);
        const AnklePlacement from = stanceAnkle(skeleton, gait, side, heading, 1.0);
        const AnklePlacement to = stanceAnkle(skeleton, gait, side, heading, 0.0);
        const f64 swingSeconds = (1.0 - gait.stanceFraction) * gait.periodSeconds;
        const f64 groundSlope = -gait.speedMetresPerSecond;
        ankle.offset.x = lerp(from.offset.x, to.offset.x, s);
        ankle.offset.z = hermite(from.offset.z, to.offset.z, groundSlope, groundSlope, swingSeconds, s);
        ankle.offset.y = lerp(from.offset.y, to.offset.y, s) + gait.stepHeightMetres * sinRadians(kPi * s);
        ankle.pitchDegrees = lerp(from.pitchDegrees, to.pitchDegrees, smoothstep(s));
    }
    return {carriage.offset + ankle.offset, heading, ankle.pitchDegrees, carriage.kneeLiftDegrees};
}

}  // namespace

KeyedMotion KeyedMotion::looping(f64 periodSeconds) { return KeyedMotion(true, periodSeconds); }
KeyedMotion KeyedMotion::clamped() { return KeyedMotion(false, 0.0); }

KeyedMotion& KeyedMotion::key(f64 seconds, const Pose& pose) {
    if ((!keys_.empty() && seconds <= keys_.back().first) || (loop_ && (seconds < 0.0 || seconds >= periodSeconds_))) {
        throw std::invalid_argument("motion keys must increase in time and lie within the period");
    }
    keys_.emplace_back(seconds, poseChannels(pose));
    return *this;
}

Pose KeyedMotion::operator()(f64 seconds) const {
    if (keys_.empty()) {
        return Pose{};
    }
    const auto count = static_cast<i64>(keys_.size());
    // Key k of the endless sequence: keys repeat every period for a looping motion and hold
    // the end values for a clamped one.
    const auto time = [&](i64 k) {
        if (!loop_) {
            return keys_[static_cast<std::size_t>(k < 0 ? 0 : (k >= count ? count - 1 : k))].first;
        }
        const i64 lap = k >= 0 ? k / count : -((-k + count - 1) / count);
        return keys_[static_cast<std::size_t>(k - lap * count)].first + static_cast<f64>(lap) * periodSeconds_;
    };
    const auto value = [&](i64 k, std::size_t c) {
        const i64 wrapped = loop_ ? ((k % count) + count) % count : (k < 0 ? 0 : (k >= count ? count - 1 : k));
        return keys_[static_cast<std::size_t>(wrapped)].second[c];
    };

    f64 t = seconds;
    if (loop_) {
        t = keys_.front().first + wrap01((seconds - keys_.front().first) / periodSeconds_) * periodSeconds_;
    } else if (t <= keys_.front().first || count == 1) {
        return poseFromChannels(keys_.front().second);
    } else if (t >= keys_.back().first) {
        return poseFromChannels(keys_.back().second);
    }
    i64 i = 0;
    while (time(i + 1) <= t) ++i;

    const f64 t0 = time(i), t1 = time(i + 1);
    const f64 span = t1 - t0;
    const f64 s = (t - t0) / span;
    const bool clampedStart = !loop_ && i == 0;
    const bool clampedEnd = !loop_ && i + 1 == count - 1;
    std::array<f64, kPoseChannels> out{};
    for (std::size_t c = 0; c < kPoseChannels; ++c) {
        const f64 p0 = value(i, c), p1 = value(i + 1, c);
        const f64 secant = (p1 - p0) / span;
        const f64 m0 = clampedStart ? 0.0
                                    : monotoneSlope((p0 - value(i - 1, c)) / (t0 - time(i - 1)), secant,
                                                    t0 - time(i - 1), span);
        const f64 m1 = clampedEnd ? 0.0
                                  : monotoneSlope(secant, (value(i + 2, c) - p1) / (time(i + 2) - t1), span,
                                                  time(i + 2) - t1);
        out[c] = hermite(p0, p1, m0, m1, span, s);
    }
    return poseFromChannels(out);
}

Pose gaitPose(const Skeleton& skeleton, const Pose& carriage, const Gait& gait, f64 seconds) {
    const f64 phase = wrap01(seconds / gait.periodSeconds);
    const f64 cycle = kTwoPi * phase;
    const f64 midStance = gait.stanceFraction * 0.5;
    Pose pose = carriage;

    pose.feet[kLeft] = gaitFoot(skeleton, gait, carriage.feet[kLeft], kLeft, phase);
    pose.feet[kRight] = gaitFoot(skeleton, gait, carriage.feet[kRight], kRight, wrap01(phase + 0.5));

    pose.hips.y += -gait.hipsDropMetres + gait.bobMetres * cosRadians(2.0 * kTwoPi * (phase - midStance));
    pose.hips.x += -gait.swayMetres * cosRadians(kTwoPi * (phase - midStance));

    // The left leg is furthest forward at phase 0: the pelvis turns it forward, the chest
    // turns the other way, the head keeps looking ahead, the arms swing against the legs.
    const f64 legTurn = cosRadians(cycle);
    pose[kHips].y += gait.pelvisTurnDegrees * legTurn;
    pose[kSpine].x += gait.leanDegrees;
    pose[kChest].y += -(gait.pelvisTurnDegrees + gait.chestCounterDegrees) * legTurn;
    pose[kNeck].x -= gait.leanDegrees * 0.5;
    pose[kHead].y += gait.chestCounterDegrees * legTurn;
    pose[kHead].x -= gait.leanDegrees * 0.5;

    const f64 leftForward = (1.0 - legTurn) * 0.5;
    const f64 rightForward = (1.0 + legTurn) * 0.5;
    pose[kUpperArmL].x += gait.armSwingDegrees * gait.leftArmSwingFactor * legTurn;
    pose[kUpperArmR].x -= gait.armSwingDegrees * gait.rightArmSwingFactor * legTurn;
    pose[kForearmL].x -= gait.elbowSwingDegrees * gait.leftArmSwingFactor * leftForward;
    pose[kForearmR].x -= gait.elbowSwingDegrees * gait.rightArmSwingFactor * rightForward;
    pose[kBack].x += gait.backFlutterDegrees * sinRadians(2.0 * cycle);
    return pose;
}

Motion gaitMotion(const Skeleton& skeleton, const Pose& carriage, const Gait& gait) {
    return [skeleton, carriage, gait](f64 t) { return gaitPose(skeleton, carriage, gait, t); };
}

Motion breathingIdle(const Pose& stance, const Breathing& b) {
    return [stance, b](f64 t) {
        const f64 cycle = kTwoPi * t / b.periodSeconds;
        const f64 breath = sinRadians(b.breathsPerPeriod * cycle);
        const f64 sway = sinRadians(cycle);
        Pose p = stance;
        p.hips.x += b.swayMetres * sway;
        p.hips.y -= b.dipMetres * (1.0 + breath) * 0.5;
        p[kHips].z += b.hipsRollDegrees * sway;
        p[kSpine].x += b.spineDegrees * breath;
        p[kChest].x += b.chestDegrees * breath;
        p[kClavicleL].z -= b.shoulderDegrees * breath;
        p[kClavicleR].z += b.shoulderDegrees * breath;
        p[kHead].y += b.lookDegrees * sinRadians(cycle + 1.0);
        p[kHead].x += b.nodDegrees * sinRadians(b.breathsPerPeriod * cycle + 1.0);
        p[kHandR].x += b.wristDegrees * sinRadians(cycle + 2.0);
        p[kBack].x += b.backDegrees * sway;
        return p;
    };
}

f32 clipDurationSeconds(u32 intervals) noexcept {
    f32 duration = static_cast<f32>(static_cast<f64>(intervals) / kClipSampleRate);
    while (static_cast<f64>(duration) * kClipSampleRate > static_cast<f64>(intervals)) {
        duration = std::nextafter(duration, 0.0f);
    }
    return duration;
}

content::AnimationClip bakeClip(const ClipDefinition& definition, const Skeleton& skeleton,
                                const Placement& placement) {
    content::AnimationClip clip;
    clip.name = definition.name;
    clip.duration = clipDurationSeconds(definition.intervals);
    clip.sampleRate = static_cast<f32>(kClipSampleRate);
    const f64 product = static_cast<f64>(clip.duration) * static_cast<f64>(clip.sampleRate);
    clip.frameCount = std::max(static_cast<u32>(std::ceil(product)) + 1u, 2u);
    clip.nodeCount = kCharacterNodes;
    clip.samples.reserve(static_cast<std::size_t>(clip.frameCount) * clip.nodeCount);
    for (u32 frame = 0; frame < clip.frameCount; ++frame) {
        const bool last = frame + 1 == clip.frameCount;
        const f64 seconds = !last ? frame / kClipSampleRate : (definition.loop ? 0.0 : clip.duration);
        const std::vector<content::Transform> locals = solvePose(skeleton, placement, definition.motion(seconds));
        clip.samples.insert(clip.samples.end(), locals.begin(), locals.end());
    }
    return clip;
}

}  // namespace kestrune::baker
