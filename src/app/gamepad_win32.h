#pragma once
// Controllers on Windows through XInput, loaded at run time: the system's xinput1_4.dll where
// present, else xinput9_1_0.dll; with neither there is no controller and the program runs on.
// The first connected user slot plays; an unplugged controller lets go of everything it held.
// XInput has no arrival notice and reading an empty slot is slow, so while nothing plays the
// slots are probed only every kXInputProbeIntervalMs. Main thread only; polling allocates nothing.

#include <windows.h>
#include <xinput.h>

#include "app/gamepad.h"

namespace kestrune::app {

class Log;

inline constexpr u64 kXInputProbeIntervalMs = 1000;

using XInputGetStateFunction = DWORD(WINAPI*)(DWORD userIndex, XINPUT_STATE* state);

// The pad's buttons, stick and trigger in the layout's terms.
GamepadSnapshot snapshotFromXInput(const XINPUT_GAMEPAD& pad) noexcept;

class XInputGamepads {
public:
    XInputGamepads() = default;
    ~XInputGamepads();
    XInputGamepads(const XInputGamepads&) = delete;
    XInputGamepads& operator=(const XInputGamepads&) = delete;

    // Loads the XInput library; without one, says so in one INFO line.
    void load(Log* log);
    // Reads through `getState` instead of a library (tests).
    void useStateFunction(XInputGetStateFunction getState) noexcept { getState_ = getState; }
    // Once per frame, after the messages: reads the playing controller, or looks for one when
    // `nowMs` has reached the next probe.
    void poll(InputState& input, Log* log, u64 nowMs);
    // The user slot that plays, or -1.
    i32 playingSlot() const noexcept { return userIndex_; }

private:
    HMODULE library_ = nullptr;
    XInputGetStateFunction getState_ = nullptr;
    i32 userIndex_ = -1;
    u64 nextProbeMs_ = 0;
    GamepadInput gamepad_;
};

}  // namespace kestrune::app
