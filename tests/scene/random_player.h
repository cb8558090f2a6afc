#pragma once
// A seeded player who mashes keys as players do: directions held and changed, Shift, bursts
// of attacks and skills (in one frame too, during actions and locks), the stick, held through
// whatever happens. One duel's script: the keys in the program's --keys form (plus the stick,
// which --keys cannot type), and for the simulated duel the frame pacing, time the program
// drops, the link and the opponent. The same seed gives the same script everywhere, and a
// script's text reads back into the same script.

#include <string>
#include <string_view>
#include <vector>

#include "base/types.h"

namespace kestrune::scene::testing {

// Key codes of a script: the --keys names W, A, S, D, 1 to 4, Space, Shift, Tab, and the stick.
inline constexpr char kScriptSpace = ' ';
inline constexpr char kScriptShift = '^';
inline constexpr char kScriptTab = '\t';
inline constexpr char kScriptStick = '@';

struct ScriptKey {
    u32 frame = 1;  // 1 is the first frame of the script
    char key = 'W';
    i32 change = 0;  // +1 held down, -1 let go, 0 tapped (down this frame, up the next)
    f32 stickX = 0.0f;  // the stick's position from this frame on
    f32 stickZ = 0.0f;
    friend bool operator==(const ScriptKey&, const ScriptKey&) = default;
};

struct RandomDuel {
    u64 seed = 0;
    u32 localSlot = 0;
    bool idleBot = false;
    u32 oneWaySteps = 0;  // each way, in steps of 1/60 s
    u32 jitterSteps = 0;
    u32 tickPhase = 0;
    bool serverAhead = false;
    u32 stallFrame = 0;  // 0: the link never freezes
    u32 stallSteps = 0;
    std::vector<u8> stepsPerFrame;  // one entry per frame, 1 to 6
    std::vector<u16> droppedSteps;  // per frame: steps the server runs before it that the program drops
    std::vector<ScriptKey> keys;    // in frame order
    friend bool operator==(const RandomDuel&, const RandomDuel&) = default;

    u32 frames() const noexcept { return static_cast<u32>(stepsPerFrame.size()); }
};

// Without `stick` (the real program's --keys) the script holds keys only, and its pacing is
// one step a frame with nothing dropped (the program paces itself).
RandomDuel randomDuel(u64 seed, bool stick = true);
// The script's keys as the program's --keys= value (the stick left out).
std::string keysArgument(const RandomDuel& duel);
// The whole script in one line, and back; parseDuel throws std::invalid_argument on a broken text.
std::string describe(const RandomDuel& duel);
RandomDuel parseDuel(std::string_view text);

}  // namespace kestrune::scene::testing
