#include "base/input_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <utility>

namespace kestrune::app {
namespace {

// Events on key A: 'p' press, 'r' auto-repeat, 'u' release, 'b' a new frame, 'P' and 'U' the
// controller's press and release.
TEST(InputState, KeyTransitionsWithinOneFrame) {
    const struct { const char* name; const char* events; bool pressed; bool released; bool down; } cases[] = {
        {"press", "p", true, false, true}, {"auto-repeat after press counts once", "prr", true, false, true},
        {"repeat flag alone is not a press", "r", false, false, true},
        {"press and release in one frame", "pu", true, true, false},
        {"release without press", "u", false, false, false},
        // a second down without an up (focus games) is no new press
        {"held key pressed again in a later frame", "pbp", false, false, true},
        {"keyboard and controller each hold it; one that let go cannot release it again", "PpUU", true, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InputState state;
        for (const char* event = c.events; *event != '\0'; ++event) {
            switch (*event) {
                case 'p': case 'r': state.keyPressed(0x41, *event == 'r'); break;
                case 'u': state.keyReleased(0x41); break;
                case 'b': state.beginFrame(); break;
                case 'P': state.keyPressed(0x41, false, InputSource::controller); break;
                case 'U': state.keyReleased(0x41, InputSource::controller); break;
            }
        }
        EXPECT_EQ(std::tuple(state.pressed[0x41], state.released[0x41], state.keyDown[0x41]),
                  std::tuple(c.pressed, c.released, c.down));
    }
}

TEST(InputState, CodesAbove255AreIgnored) {
    InputState state;
    state.keyPressed(256, false);
    state.keyPressed(0xFFFF, false);
    state.keyReleased(300);
    EXPECT_EQ(std::count(state.keyDown.begin(), state.keyDown.end(), true), 0);
    EXPECT_EQ(std::count(state.pressed.begin(), state.pressed.end(), true), 0);
    state.keyPressed(255, false);
    EXPECT_TRUE(state.pressed[255]);
}

// The window hosts' tests see the first move anchor; a new frame clears the motion, not the anchor.
TEST(InputState, ANewFrameClearsTheMouseMotionButKeepsItsAnchor) {
    InputState state;
    state.mouseMoved(100, 50);
    state.mouseMoved(90, 55);
    state.beginFrame();
    EXPECT_EQ(std::pair(state.mouseDeltaX, state.mouseDeltaY), std::pair(0, 0));
    state.mouseMoved(95, 45);
    EXPECT_EQ(std::pair(state.mouseDeltaX, state.mouseDeltaY), std::pair(5, -10));
}

}  // namespace
}  // namespace kestrune::app
