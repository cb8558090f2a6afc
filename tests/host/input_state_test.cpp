#include "base/input_state.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrune::app {
namespace {

// Events on key A: 'p' press, 'r' auto-repeat, 'u' release, 'b' a new frame, 'P' and 'U' the
// controller's press and release.
TEST(InputState, KeyTransitionsWithinOneFrame) {
    const struct {
        const char* name;
        const char* events;
        bool pressed;
        bool released;
        bool down;
    } cases[] = {
        {"press", "p", true, false, true},
        {"auto-repeat after press counts once", "prr", true, false, true},
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
        EXPECT_EQ(state.pressed[0x41], c.pressed);
        EXPECT_EQ(state.released[0x41], c.released);
        EXPECT_EQ(state.keyDown[0x41], c.down);
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

TEST(InputState, FirstMouseMoveOnlyAnchors) {
    InputState state;
    state.mouseMoved(100, 50);
    EXPECT_EQ(state.mouseDeltaX, 0);
    EXPECT_EQ(state.mouseDeltaY, 0);
    EXPECT_TRUE(state.mouseSeen);
    state.mouseMoved(90, 55);
    state.mouseMoved(-5, 60);
    EXPECT_EQ(state.mouseDeltaX, -105);
    EXPECT_EQ(state.mouseDeltaY, 10);
    state.beginFrame();
    EXPECT_EQ(state.mouseDeltaX, 0);
    EXPECT_EQ(state.lastMouseX, -5);
    EXPECT_TRUE(state.mouseSeen);
}

}  // namespace
}  // namespace kestrune::app
