#pragma once
// The fixed-step frame loop: pump, resize, wait while minimized, measure and clamp the
// frame time, run at most 8 fixed steps of 1/60 s (dropping a larger backlog), then
// draw and present (the scene, or the placeholder frame without one). Runs until the
// host's quitRequested is set. Renderer failures propagate.

#include "base/input_state.h"
#include "base/types.h"

namespace kestrune::app {

class NativeClient;

inline constexpr f64 kFixedStepSeconds = 1.0 / 60.0;
inline constexpr u32 kMaxFixedStepsPerFrame = 8;
inline constexpr f64 kMaxFrameSeconds = 0.25;  // longer stalls count as this much
inline constexpr u32 kSmokeFrameSleepMs = 17;
static_assert(kMaxFrameSeconds > kMaxFixedStepsPerFrame * kFixedStepSeconds,
              "a clamped stall leaves a backlog beyond the step limit, which is dropped");

class FrameLoop {
public:
    explicit FrameLoop(NativeClient& host) : host_(host) {}
    void run();
    void runFrame();

private:
    NativeClient& host_;
};

// The frame on which the one screenshot of a run is taken: the frame that will become
// number `frames` (or any later one, if that frame was missed).
bool screenshotDue(u64 presentedFrames, u32 frameBudget) noexcept;

// How a replay is shown: at the pace it was recorded, times the speed; Space pauses and
// resumes, Right plays one frame while paused; smoke runs play every frame at once.
struct ReplayPace {
    f64 speed = 1.0;
    bool unpaced = false;
    bool paused = false;
    f64 credit = 0.0;  // wall seconds, times the speed, not yet spent on recorded frames
};

// Whether the replay's next frame, of `nextSeconds`, plays now, given the viewer's keys of this
// frame and the wall seconds since the last asking.
bool replayFrameDue(ReplayPace& pace, const InputState& viewer, f64 wallSeconds, f64 nextSeconds) noexcept;

// Applies the --keys= events due at the coming frame (frames counted by variable updates).
void playScriptedKeys(NativeClient& host);

}  // namespace kestrune::app
