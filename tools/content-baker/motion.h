#pragma once
// Authored motion and its sampling into clips. A Motion maps a time in seconds to a Pose;
// two kinds are written by hand: keyed motions (poses at chosen times, joined by monotone
// cubics, so a channel that holds still between two keys holds exactly and nothing
// overshoots) and gaits (walk and run cycles whose planted feet travel back at exactly
// the ground speed the game moves the character with). Clips sample a motion at 30 Hz.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "content/model.h"
#include "rig.h"

namespace kestrune::baker {

inline constexpr f64 kClipSampleRate = 30.0;  // samples per second

using Motion = std::function<Pose(f64 seconds)>;

class KeyedMotion {
public:
    // A looping motion repeats every `periodSeconds`; a clamped one holds its last key.
    static KeyedMotion looping(f64 periodSeconds);
    static KeyedMotion clamped();

    // Adds a key; keys must come in increasing time (a looping motion's within its period).
    KeyedMotion& key(f64 seconds, const Pose& pose);
    Pose operator()(f64 seconds) const;

private:
    KeyedMotion(bool loop, f64 periodSeconds) : loop_(loop), periodSeconds_(periodSeconds) {}

    bool loop_;
    f64 periodSeconds_;
    std::vector<std::pair<f64, std::array<f64, kPoseChannels>>> keys_;
};

// A walk or run cycle laid over a carriage pose (arms, weapon and head as the class holds
// them). Phase 0 is the left foot's heel strike; the right foot follows half a period later.
struct Gait {
    f64 speedMetresPerSecond = 0.0;  // the planted foot moves back at exactly this speed
    f64 periodSeconds = 1.0;         // two steps
    f64 stanceFraction = 0.6;        // of the period each foot spends on the ground
    f64 strideCentreMetres = 0.0;    // forward offset of the middle of the stance
    f64 stepHeightMetres = 0.1;      // extra ankle lift at mid-swing
    f64 heelStrikeDegrees = -12.0;   // foot pitch as the heel lands (toes up)
    f64 toeOffDegrees = 28.0;        // foot pitch as the toes push off
    f64 hipsDropMetres = 0.0;        // mean lowering of the hips
    f64 bobMetres = 0.0;             // hips rise at mid-stance (negative: they dip)
    f64 swayMetres = 0.0;            // hips shift over the planted foot
    f64 pelvisTurnDegrees = 0.0;     // hips turn with the forward leg
    f64 chestCounterDegrees = 0.0;   // chest turns against the hips
    f64 leanDegrees = 0.0;           // spine leans into the motion
    f64 armSwingDegrees = 0.0;       // upper arms swing against the legs
    f64 elbowSwingDegrees = 0.0;     // forearms bend further on the forward swing
    f64 rightArmSwingFactor = 1.0;   // a weapon arm may swing less
    f64 leftArmSwingFactor = 1.0;
    f64 backFlutterDegrees = 0.0;    // what hangs on the back flaps once per step
};

Pose gaitPose(const Skeleton& skeleton, const Pose& carriage, const Gait& gait, f64 seconds);

Motion gaitMotion(const Skeleton& skeleton, const Pose& carriage, const Gait& gait);

// A standing idle over a stance: whole breaths and one slow shift of weight per period, so
// the loop closes. Amplitudes in metres and degrees.
struct Breathing {
    f64 periodSeconds = 3.0;
    f64 breathsPerPeriod = 2.0;  // a whole number
    f64 swayMetres = 0.0;        // hips shift side to side once per period ...
    f64 hipsRollDegrees = 0.0;   // ... and roll with it
    f64 dipMetres = 0.0;         // hips sink on each breath
    f64 spineDegrees = 0.0;      // spine and chest rise with each breath
    f64 chestDegrees = 0.0;
    f64 shoulderDegrees = 0.0;   // so do the clavicles
    f64 lookDegrees = 0.0;       // the head turns once per period
    f64 nodDegrees = 0.0;        // and nods with the breaths
    f64 wristDegrees = 0.0;      // the weapon hand drifts
    f64 backDegrees = 0.0;       // what hangs on the back sways with the hips
};

Motion breathingIdle(const Pose& stance, const Breathing& breathing);

struct ClipDefinition {
    std::string name;
    u32 intervals = 1;  // the clip lasts intervals / 30 s
    bool loop = false;
    Motion motion;
};

// Duration, rate and frame count by the model format's rule; frame f < last lies at f / 30 s,
// the last at the duration. A looping clip's last frame is sampled at time 0, so it equals
// the first bit for bit.
content::AnimationClip bakeClip(const ClipDefinition& definition, const Skeleton& skeleton,
                                const Placement& placement);

// The largest f32 duration not above intervals / 30 s whose product with the rate does not
// exceed `intervals`, so the format's frame count is exactly intervals + 1.
f32 clipDurationSeconds(u32 intervals) noexcept;

}  // namespace kestrune::baker
