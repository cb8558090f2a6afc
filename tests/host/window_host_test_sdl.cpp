#include "app/window_host_sdl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <utility>

#include "app/frame_clock.h"
#include "app/native_client.h"
#include "duel_rules.h"
#include "host/fake_host.h"
#include "render/recording_backend.h"
#include "scene/scene_fixture.h"

namespace kestrune::app {
namespace {

TEST(SdlKeys, MapToWindowsVirtualKeys) {
    const struct { SDL_Keycode key; u32 virtualKey; } cases[] = {
        {SDLK_a, 0x41}, {SDLK_z, 0x5A}, {SDLK_0, 0x30}, {SDLK_9, 0x39}, {SDLK_SPACE, 0x20}, {SDLK_LSHIFT, 0x10},
        {SDLK_RSHIFT, 0x10}, {SDLK_TAB, 0x09}, {SDLK_ESCAPE, 0x1B}, {SDLK_F1, 0x70}, {SDLK_F12, 0x7B},
        {SDLK_LEFT, 0x25}, {SDLK_DOWN, 0x28}, {SDLK_RETURN, 0x0D}, {SDLK_CAPSLOCK, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(SDL_GetKeyName(c.key));
        EXPECT_EQ(virtualKeyFromSdl(c.key), c.virtualKey);
    }
}

TEST(SdlVideo, OffscreenOnlyWithoutAnyDisplay) {
    EXPECT_EQ(std::tuple(needsOffscreenVideo(nullptr, nullptr), needsOffscreenVideo("", ""),
                         needsOffscreenVideo(":0", nullptr), needsOffscreenVideo(nullptr, "wayland-0")),
              std::tuple(true, true, false, false));
}

class SdlWindowHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
        // The test's window never has the focus, without which SDL would ignore the controller.
        SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
        auto windowHost = std::make_unique<SdlWindowHost>();
        sdl_ = windowHost.get();
        // A smoke run: a windowed run without a display ends before its window exists.
        host_ = std::make_unique<NativeClient>(
            LaunchOptions{.smokeTest = true, .width = 320, .height = 200}, log_.log.get(),
            HostServices{std::move(windowHost), std::make_unique<render::testing::RecordingBackend>(),
                         createSystemFrameClock()});
        sdl_->registerWindowClass(*host_);
        sdl_->createMainWindow(*host_);
    }

    static SDL_Event key(Uint32 type, SDL_Keycode code, bool repeat) {
        return {.key = {.type = type, .repeat = static_cast<Uint8>(repeat), .keysym = {.sym = code}}};
    }
    static SDL_Event windowEvent(Uint8 what) { return {.window = {.type = SDL_WINDOWEVENT, .event = what}}; }

    void pump() {
        host_->input.beginFrame();
        ASSERT_TRUE(sdl_->pumpMessages(*host_));
    }
    testing::TestLog log_;
    SdlWindowHost* sdl_ = nullptr;
    std::unique_ptr<NativeClient> host_;
};

// Hidden at the requested size; minimized, then restored to that size; closed, a quit.
TEST_F(SdlWindowHostTest, CreatesTheWindowHiddenResizesAfterRestoringAndQuitsWhenClosed) {
    auto* window = static_cast<SDL_Window*>(host_->window);
    ASSERT_NE(window, nullptr);
    const ClientSize size = sdl_->clientSize(*host_);
    EXPECT_EQ(std::tuple(size.widthPixels, size.heightPixels, (SDL_GetWindowFlags(window) & SDL_WINDOW_HIDDEN) != 0,
                         std::string(SDL_GetWindowTitle(window))),
              std::tuple(320u, 200u, true, std::string(kWindowTitle)));
    sdl_->handleEvent(*host_, windowEvent(SDL_WINDOWEVENT_MINIMIZED));
    EXPECT_EQ(std::pair(host_->minimized, host_->resizePending), std::pair(true, false));
    sdl_->handleEvent(*host_, windowEvent(SDL_WINDOWEVENT_RESTORED));
    EXPECT_EQ(std::tuple(host_->minimized, host_->resizePending, host_->pendingWidth, host_->pendingHeight),
              std::tuple(false, true, 320u, 200u));
    SDL_Event close = windowEvent(SDL_WINDOWEVENT_CLOSE);
    SDL_PushEvent(&close);
    EXPECT_EQ((std::tuple{sdl_->pumpMessages(*host_), host_->quitRequested, host_->window}),
              std::tuple(false, true, static_cast<void*>(nullptr)));
}

// A repeat alone (the window gained the focus with the key held) holds the key without a press.
TEST_F(SdlWindowHostTest, KeyAndMouseEventsFillInput) {
    sdl_->handleEvent(*host_, key(SDL_KEYDOWN, SDLK_w, true));
    EXPECT_EQ(std::pair(host_->input.keyDown[0x57], host_->input.pressed[0x57]), std::pair(true, false));
    sdl_->handleEvent(*host_, key(SDL_KEYUP, SDLK_w, false));
    EXPECT_EQ(std::pair(host_->input.released[0x57], host_->input.keyDown[0x57]), std::pair(true, false));
    sdl_->handleEvent(*host_, key(SDL_KEYDOWN, SDLK_w, false));
    EXPECT_TRUE(host_->input.pressed[0x57]);
    sdl_->handleEvent(*host_, key(SDL_KEYDOWN, SDLK_CAPSLOCK, false));  // not a key the runtime reads
    EXPECT_FALSE(host_->input.keyDown[0]);
    // Mouse motion accumulates after the first position.
    for (const auto& [x, y] : {std::pair{40, 30}, {45, 20}}) {
        sdl_->handleEvent(*host_, {.motion = {.type = SDL_MOUSEMOTION, .x = x, .y = y}});
    }
    EXPECT_EQ(std::pair(host_->input.mouseDeltaX, host_->input.mouseDeltaY), std::pair(5, -10));
}

// ---- Controllers ----

// A virtual pad with all of SDL's buttons and axes, plugged in while it lives.
class VirtualPad {
public:
    explicit VirtualPad(const char* name) {
        const SDL_VirtualJoystickDesc desc{.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION, .type = SDL_JOYSTICK_TYPE_GAMECONTROLLER,
                                           .naxes = SDL_CONTROLLER_AXIS_MAX, .nbuttons = SDL_CONTROLLER_BUTTON_MAX,
                                           .button_mask = (1u << SDL_CONTROLLER_BUTTON_MAX) - 1,
                                           .axis_mask = (1u << SDL_CONTROLLER_AXIS_MAX) - 1, .name = name};
        joystick_ = SDL_JoystickOpen(SDL_JoystickAttachVirtualEx(&desc));
    }
    ~VirtualPad() { unplug(); }
    // The left stick at `yawDegrees` (0 forward, 90 right); SDL's y points down.
    void stick(f64 yawDegrees, f64 length) {
        const f64 radians = yawDegrees * std::numbers::pi / 180.0;
        SDL_JoystickSetVirtualAxis(joystick_, SDL_CONTROLLER_AXIS_LEFTX, static_cast<Sint16>(std::lround(length * std::sin(radians) * 32767)));
        SDL_JoystickSetVirtualAxis(joystick_, SDL_CONTROLLER_AXIS_LEFTY, static_cast<Sint16>(std::lround(-length * std::cos(radians) * 32767)));
    }
    // A virtual trigger spans the axis's whole range, -32768 at rest.
    void leftTrigger(f64 fraction) {
        SDL_JoystickSetVirtualAxis(joystick_, SDL_CONTROLLER_AXIS_TRIGGERLEFT, static_cast<Sint16>(std::lround(fraction * 65535.0) - 32768));
    }
    void button(SDL_GameControllerButton which, bool down) { SDL_JoystickSetVirtualButton(joystick_, which, down); }
    void unplug() {
        if (joystick_ == nullptr) return;
        const SDL_JoystickID id = SDL_JoystickInstanceID(joystick_);
        SDL_JoystickClose(std::exchange(joystick_, nullptr));
        for (int index = 0; index < SDL_NumJoysticks(); ++index) {
            if (SDL_JoystickGetDeviceInstanceID(index) == id) SDL_JoystickDetachVirtual(index);
        }
    }

private:
    SDL_Joystick* joystick_ = nullptr;
};

TEST_F(SdlWindowHostTest, StickMovesThePredictionAsTheServerMovesTheFighter) {
    scene::testing::SceneFixture f;
    VirtualPad pad("Kestrune Test Pad");
    // metresPerSecond of 0: inside the dead zone
    const struct { f64 yawDegrees, length; f32 metresPerSecond; } cases[] = {
        {0, 1.0, 4.65f}, {30, 1.0, 4.65f}, {100, 0.55, 2.1f}, {-45, 0.75, 2.1f},  // 0.67 after the dead zone
        {200, 0.79, 4.65f}, {-120, 0.99, 4.65f}, {137, 0.23, 0.0f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.yawDegrees) + " degrees at " + std::to_string(c.length));
        pad.stick(c.yawDegrees, c.length);
        pump();
        const scene::Vec3 before = f.slot(0).position;
        f.steps(1, host_->input);
        const scene::Vec3 velocity = (f.slot(0).position - before) * 60.0f;
        const std::vector<scene::PlayerIntent> intents = f.intents();
        if (c.metresPerSecond == 0.0f) {
            EXPECT_EQ(intents, (std::vector<scene::PlayerIntent>{{scene::kIntentStop, 0, 0, 0, 0}}));
            continue;
        }
        ASSERT_EQ(intents.size(), 1u);
        // The duel server's rules move its fighter by the sent move for one second.
        duel::Duel duel(30);
        duel.seat(net::kWarrior, 1);
        const duel::Fighter& server = duel.fighter(net::kWarrior);
        const f64 startX = server.xMm, startZ = server.zMm;
        duel.apply(net::kWarrior, {1, net::kCommandMove, 0, static_cast<u16>(intents[0].moveX), static_cast<u16>(intents[0].moveZ), 0});
        for (int tick = 0; tick < 30; ++tick) duel.step();
        EXPECT_NEAR(velocity.x, (server.xMm - startX) / 1000.0, 5e-5);  // float rounding, not a direction
        EXPECT_NEAR(velocity.z, (server.zMm - startZ) / 1000.0, 5e-5);
        EXPECT_NEAR(std::hypot(velocity.x, velocity.z), c.metresPerSecond, 1e-4f);
        const f64 yawDegrees = std::atan2(velocity.x, velocity.z) * 180.0 / std::numbers::pi;
        EXPECT_LE(std::abs(std::remainder(yawDegrees - c.yawDegrees, 360.0)), 180.0 / scene::kStickDirections);
    }
}

TEST_F(SdlWindowHostTest, ButtonsTypeTheLayoutsKeysUntilTheirPadIsUnpluggedWhichStopsTheFighter) {
    scene::testing::SceneFixture f;
    VirtualPad pad("Kestrune Test Pad");
    const std::pair<SDL_GameControllerButton, u32> cases[] = {
        {SDL_CONTROLLER_BUTTON_X, '1'}, {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, '2'}, {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, '3'},
        {SDL_CONTROLLER_BUTTON_Y, '4'}, {SDL_CONTROLLER_BUTTON_A, kVirtualKeySpace}, {SDL_CONTROLLER_BUTTON_START, kVirtualKeyEscape},
        {SDL_CONTROLLER_BUTTON_BACK, kVirtualKeyF3}, {SDL_CONTROLLER_BUTTON_DPAD_LEFT, 'A'}, {SDL_CONTROLLER_BUTTON_B, 0}};
    for (const auto& [button, key] : cases) {
        pad.button(button, true);
        pump();
        EXPECT_EQ(std::count(host_->input.keyDown.begin(), host_->input.keyDown.end(), true), key != 0 ? 1 : 0) << button;
        EXPECT_EQ(host_->input.pressed[key], key != 0) << button;
        pad.button(button, false);
        pump();
        EXPECT_EQ(host_->input.released[key], key != 0) << button;
    }
    // Escape stays while Start holds it; the left trigger holds Tab from 0.25 of its travel until
    // it is back below 0.15.
    pad.button(SDL_CONTROLLER_BUTTON_START, true);
    pump();
    for (const auto& [trigger, tab] : {std::pair{0.24, false}, {0.26, true}, {0.16, true}, {0.14, false}, {0.2, false}}) {
        pad.leftTrigger(trigger);
        pump();
        EXPECT_EQ(host_->input.keyDown[kVirtualKeyTab], tab) << trigger;
        EXPECT_TRUE(host_->input.keyDown[kVirtualKeyEscape]);
    }
    // Unplugged mid-run, the pad lets go of all it held, which stops the fighter.
    pad.stick(90, 1.0);
    pump();
    f.steps(1, host_->input);
    EXPECT_EQ(f.intents().size(), 1u);
    pad.unplug();
    pump();
    EXPECT_TRUE(host_->input.released[kVirtualKeyEscape]);
    const scene::Vec3 held = f.slot(0).position;
    f.steps(1, host_->input);
    EXPECT_EQ(std::tuple(f.slot(0).position, f.intents()),
              std::tuple(held, std::vector<scene::PlayerIntent>{{scene::kIntentStop, 0, 0, 0, 0}}));
    // The next pad plugged in plays; others wait, and may leave, until it is unplugged.
    VirtualPad second("Second Test Pad");
    pump();
    VirtualPad("Leaving Test Pad").unplug();
    VirtualPad third("Third Test Pad");
    second.button(SDL_CONTROLLER_BUTTON_A, true);
    pump();
    EXPECT_TRUE(host_->input.keyDown[kVirtualKeySpace]);
    second.unplug();
    pump();
    host_.reset();  // the host writes to the log until it is gone
    EXPECT_EQ(log_.lines(),
              (std::vector<std::string>{
                  "[INFO] Controller taken: Kestrune Test Pad", "[INFO] Controller lost: Kestrune Test Pad",
                  "[INFO] Controller taken: Second Test Pad", "[INFO] Controller lost: Second Test Pad",
                  "[INFO] Controller taken: Third Test Pad"}));
}

}  // namespace
}  // namespace kestrune::app
