#include "app/window_host_sdl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>

#include "app/frame_clock.h"
#include "app/log.h"
#include "app/native_client.h"
#include "duel_rules.h"
#include "render/recording_backend.h"
#include "scene/scene_fixture.h"

namespace kestrune::app {
namespace {

TEST(SdlKeys, MapToWindowsVirtualKeys) {
    const struct {
        SDL_Keycode key;
        u32 virtualKey;
    } cases[] = {
        {SDLK_a, 0x41}, {SDLK_z, 0x5A},      {SDLK_0, 0x30},      {SDLK_9, 0x39},     {SDLK_SPACE, 0x20},
        {SDLK_LSHIFT, 0x10}, {SDLK_RSHIFT, 0x10}, {SDLK_TAB, 0x09}, {SDLK_ESCAPE, 0x1B}, {SDLK_F1, 0x70},
        {SDLK_F12, 0x7B}, {SDLK_LEFT, 0x25}, {SDLK_DOWN, 0x28},   {SDLK_RETURN, 0x0D}, {SDLK_CAPSLOCK, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(SDL_GetKeyName(c.key));
        EXPECT_EQ(virtualKeyFromSdl(c.key), c.virtualKey);
    }
}

TEST(SdlVideo, OffscreenOnlyWithoutAnyDisplay) {
    EXPECT_TRUE(needsOffscreenVideo(nullptr, nullptr));
    EXPECT_TRUE(needsOffscreenVideo("", ""));
    EXPECT_FALSE(needsOffscreenVideo(":0", nullptr));
    EXPECT_FALSE(needsOffscreenVideo(nullptr, "wayland-0"));
}

class SdlWindowHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
        // The test's window never has the focus, without which SDL would ignore the controller.
        SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
        logPath_ = render::testing::scratchDirectory() / "host.log";
        log_ = std::make_unique<Log>(logPath_);
        auto windowHost = std::make_unique<SdlWindowHost>();
        sdl_ = windowHost.get();
        LaunchOptions options;
        options.width = 320;
        options.height = 200;
        host_ = std::make_unique<NativeClient>(
            options, log_.get(),
            HostServices{std::move(windowHost), std::make_unique<render::testing::RecordingBackend>(),
                         createSystemFrameClock()});
        sdl_->registerWindowClass(*host_);
        sdl_->createMainWindow(*host_);
    }

    static SDL_Event key(Uint32 type, SDL_Keycode code, bool repeat) {
        SDL_Event event{};
        event.type = type;
        event.key.keysym.sym = code;
        event.key.repeat = repeat ? 1 : 0;
        return event;
    }
    static SDL_Event windowEvent(Uint8 what) {
        SDL_Event event{};
        event.type = SDL_WINDOWEVENT;
        event.window.event = what;
        return event;
    }

    void pump() {
        host_->input.beginFrame();
        ASSERT_TRUE(sdl_->pumpMessages(*host_));
    }
    // The log's controller lines, one per line, without their time stamps.
    std::string controllerLog() const {
        std::ifstream file(logPath_);
        std::string line;
        std::string lines;
        while (std::getline(file, line)) {
            if (line.find("Controller") != std::string::npos) lines += line.substr(line.find('[')) + "\n";
        }
        return lines;
    }

    std::filesystem::path logPath_;
    std::unique_ptr<Log> log_;
    SdlWindowHost* sdl_ = nullptr;
    std::unique_ptr<NativeClient> host_;
};

TEST_F(SdlWindowHostTest, CreatesTheWindowHiddenAtTheRequestedSize) {
    ASSERT_NE(host_->window, nullptr);
    const ClientSize size = sdl_->clientSize(*host_);
    EXPECT_EQ(size.widthPixels, 320u);
    EXPECT_EQ(size.heightPixels, 200u);
    const Uint32 flags = SDL_GetWindowFlags(static_cast<SDL_Window*>(host_->window));
    EXPECT_NE(flags & SDL_WINDOW_HIDDEN, 0u);
    EXPECT_STREQ(SDL_GetWindowTitle(static_cast<SDL_Window*>(host_->window)), kWindowTitle);
}

TEST_F(SdlWindowHostTest, KeyEventsFillInputWithRepeatAsAlreadyDown) {
    sdl_->handleEvent(*host_, key(SDL_KEYDOWN, SDLK_w, false));
    sdl_->handleEvent(*host_, key(SDL_KEYDOWN, SDLK_w, true));
    EXPECT_TRUE(host_->input.pressed[0x57]);
    host_->input.beginFrame();
    sdl_->handleEvent(*host_, key(SDL_KEYDOWN, SDLK_w, true));
    EXPECT_FALSE(host_->input.pressed[0x57]);
    sdl_->handleEvent(*host_, key(SDL_KEYUP, SDLK_w, false));
    EXPECT_TRUE(host_->input.released[0x57]);
    EXPECT_FALSE(host_->input.keyDown[0x57]);
    sdl_->handleEvent(*host_, key(SDL_KEYDOWN, SDLK_CAPSLOCK, false));  // not a key the runtime reads
    EXPECT_FALSE(host_->input.keyDown[0]);
}

TEST_F(SdlWindowHostTest, MouseMotionAccumulatesAfterTheFirstPosition) {
    SDL_Event motion{};
    motion.type = SDL_MOUSEMOTION;
    motion.motion.x = 40;
    motion.motion.y = 30;
    sdl_->handleEvent(*host_, motion);
    motion.motion.x = 45;
    motion.motion.y = 20;
    sdl_->handleEvent(*host_, motion);
    EXPECT_EQ(host_->input.mouseDeltaX, 5);
    EXPECT_EQ(host_->input.mouseDeltaY, -10);
}

TEST_F(SdlWindowHostTest, MinimizeAndRestoreBecomeAPendingResize) {
    sdl_->handleEvent(*host_, windowEvent(SDL_WINDOWEVENT_MINIMIZED));
    EXPECT_TRUE(host_->minimized);
    EXPECT_FALSE(host_->resizePending);
    sdl_->handleEvent(*host_, windowEvent(SDL_WINDOWEVENT_RESTORED));
    EXPECT_FALSE(host_->minimized);
    EXPECT_TRUE(host_->resizePending);
    EXPECT_EQ(host_->pendingWidth, 320u);
    EXPECT_EQ(host_->pendingHeight, 200u);
}

TEST_F(SdlWindowHostTest, CloseEndsTheLoopThroughAQuitEvent) {
    SDL_Event close = windowEvent(SDL_WINDOWEVENT_CLOSE);
    SDL_PushEvent(&close);
    EXPECT_FALSE(sdl_->pumpMessages(*host_));
    EXPECT_TRUE(host_->quitRequested);
    EXPECT_EQ(host_->window, nullptr);
}

// ---- Controllers ----

// A virtual controller with every button and axis of SDL's layout, plugged in while it lives.
class VirtualPad {
public:
    explicit VirtualPad(const char* name) {
        SDL_VirtualJoystickDesc desc{};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        desc.naxes = SDL_CONTROLLER_AXIS_MAX;
        desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
        desc.axis_mask = (1u << SDL_CONTROLLER_AXIS_MAX) - 1;
        desc.button_mask = (1u << SDL_CONTROLLER_BUTTON_MAX) - 1;
        desc.name = name;
        joystick_ = SDL_JoystickOpen(SDL_JoystickAttachVirtualEx(&desc));
        EXPECT_NE(joystick_, nullptr) << SDL_GetError();
    }
    ~VirtualPad() { unplug(); }

    // The left stick at `yawDegrees` (0 forward, 90 right) and `length` of full deflection.
    void stick(f64 yawDegrees, f64 length) {
        const f64 radians = yawDegrees * std::numbers::pi / 180.0;
        axis(SDL_CONTROLLER_AXIS_LEFTX, length * std::sin(radians));
        axis(SDL_CONTROLLER_AXIS_LEFTY, -length * std::cos(radians));  // SDL's y points down
    }
    void axis(SDL_GameControllerAxis which, f64 fraction) {
        SDL_JoystickSetVirtualAxis(joystick_, which, static_cast<Sint16>(std::lround(fraction * 32767.0)));
    }
    void button(SDL_GameControllerButton which, bool down) { SDL_JoystickSetVirtualButton(joystick_, which, down ? 1 : 0); }
    void unplug() {
        if (joystick_ == nullptr) return;
        const SDL_JoystickID id = SDL_JoystickInstanceID(joystick_);
        SDL_JoystickClose(joystick_);
        joystick_ = nullptr;
        for (int index = 0; index < SDL_NumJoysticks(); ++index) {
            if (SDL_JoystickGetDeviceInstanceID(index) == id) SDL_JoystickDetachVirtual(index);
        }
    }

private:
    SDL_Joystick* joystick_ = nullptr;
};

// The duel server's own movement of a fighter given `move` for one second, in metres per second.
scene::Vec3 serverVelocity(const scene::PlayerIntent& move) {
    duel::Duel duel(30);
    duel.seat(net::kWarrior, 1);
    const duel::Fighter& fighter = duel.fighter(net::kWarrior);
    const f64 startX = fighter.xMm;
    const f64 startZ = fighter.zMm;
    EXPECT_EQ(duel.apply(net::kWarrior, {1, net::kCommandMove, 0, static_cast<u16>(move.moveX), static_cast<u16>(move.moveZ), 0}),
              duel::kAccepted);
    for (int tick = 0; tick < 30; ++tick) duel.step();
    return {static_cast<f32>((fighter.xMm - startX) / 1000.0), 0.0f, static_cast<f32>((fighter.zMm - startZ) / 1000.0)};
}

TEST_F(SdlWindowHostTest, StickMovesThePredictionExactlyAsTheServerMovesTheFighter) {
    scene::testing::SceneFixture f;
    VirtualPad pad("Kestrune Test Pad");
    pump();
    ASSERT_TRUE(sdl_->gamepads().playing());
    const struct {
        f64 yawDegrees;
        f64 length;
        f32 metresPerSecond;  // 0: inside the dead zone
    } cases[] = {
        {0, 1.0, 4.65f}, {30, 1.0, 4.65f}, {100, 0.55, 2.1f}, {200, 0.85, 4.65f},
        {-45, 0.4, 2.1f}, {-160, 0.99, 4.65f}, {137, 0.2, 0.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.yawDegrees) + " degrees at " + std::to_string(c.length));
        pad.stick(c.yawDegrees, c.length);
        pump();
        const scene::Vec3 before = f.slot(0).position;
        f.steps(1, host_->input);
        const scene::Vec3 velocity = (f.slot(0).position - before) * static_cast<f32>(1.0 / scene::testing::kStep);
        const std::vector<scene::PlayerIntent> intents = f.intents();
        if (c.metresPerSecond == 0.0f) {
            EXPECT_TRUE(intents.empty());
            EXPECT_EQ(velocity, scene::Vec3{});
            continue;
        }
        ASSERT_EQ(intents.size(), 1u);
        ASSERT_EQ(intents[0].kind, scene::kIntentMove);
        const scene::Vec3 server = serverVelocity(intents[0]);
        EXPECT_NEAR(velocity.x, server.x, 5e-5f);  // 0.05 mm/s: float rounding, not a direction
        EXPECT_NEAR(velocity.z, server.z, 5e-5f);
        EXPECT_NEAR(std::hypot(velocity.x, velocity.z), c.metresPerSecond, 1e-4f);
        const f64 yawDegrees = std::atan2(static_cast<f64>(velocity.x), static_cast<f64>(velocity.z)) * 180.0 / std::numbers::pi;
        EXPECT_LE(std::abs(std::remainder(yawDegrees - c.yawDegrees, 360.0)), 360.0 / scene::kStickDirections / 2);
        f.steps(30, host_->input);
        EXPECT_TRUE(f.intents().empty());  // a held stick says it once
        pad.stick(0, 0);
        pump();
        f.steps(1, host_->input);
        EXPECT_EQ(f.intents(), (std::vector<scene::PlayerIntent>{{scene::kIntentStop, 0, 0, 0, 0}}));
    }
}

TEST_F(SdlWindowHostTest, ButtonsTypeTheirKeysBesideTheKeyboardAndAnUnplugLetsGoOfAll) {
    VirtualPad pad("Kestrune Test Pad");
    pump();
    const struct {
        SDL_GameControllerButton button;
        u32 key;
    } cases[] = {
        {SDL_CONTROLLER_BUTTON_X, virtualKeyOf('1')},   {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, virtualKeyOf('2')},
        {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, virtualKeyOf('3')}, {SDL_CONTROLLER_BUTTON_Y, virtualKeyOf('4')},
        {SDL_CONTROLLER_BUTTON_A, kVirtualKeySpace},      {SDL_CONTROLLER_BUTTON_START, kVirtualKeyEscape},
        {SDL_CONTROLLER_BUTTON_BACK, kVirtualKeyEscape},  {SDL_CONTROLLER_BUTTON_DPAD_LEFT, virtualKeyOf('A')},
        {SDL_CONTROLLER_BUTTON_B, 0},  // not in the layout
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(SDL_GameControllerGetStringForButton(c.button));
        pad.button(c.button, true);
        pump();
        EXPECT_EQ(std::count(host_->input.keyDown.begin(), host_->input.keyDown.end(), true), c.key != 0 ? 1 : 0);
        EXPECT_EQ(host_->input.pressed[c.key] && host_->input.keyDown[c.key], c.key != 0);
        pad.button(c.button, false);
        pump();
        EXPECT_TRUE(host_->input.released[c.key] || c.key == 0);
    }
    pad.axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 1.0);
    pump();
    EXPECT_TRUE(host_->input.pressed[kVirtualKeyTab]);

    // W from the keyboard and the d-pad: letting go of either leaves it down.
    sdl_->handleEvent(*host_, key(SDL_KEYDOWN, SDLK_w, false));
    pad.button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
    pad.button(SDL_CONTROLLER_BUTTON_A, true);
    pad.stick(90, 1.0);
    pump();
    sdl_->handleEvent(*host_, key(SDL_KEYUP, SDLK_w, false));
    EXPECT_TRUE(host_->input.keyDown['W']);

    // Other controllers wait, and may leave; unplugging the playing one lets go of everything it
    // held and hands over.
    VirtualPad("Leaving Test Pad").unplug();
    VirtualPad second("Second Test Pad");
    pump();
    EXPECT_TRUE(host_->input.keyDown[kVirtualKeySpace]);
    pad.unplug();
    pump();
    for (const u32 held : {virtualKeyOf('W'), kVirtualKeySpace, kVirtualKeyTab}) {
        EXPECT_TRUE(host_->input.released[held] && !host_->input.keyDown[held]) << held;
    }
    EXPECT_EQ(host_->input.analogMoveX, 0.0f);
    EXPECT_TRUE(sdl_->gamepads().playing());
    second.unplug();
    pump();
    EXPECT_FALSE(sdl_->gamepads().playing());
    EXPECT_EQ(controllerLog(),
              "[INFO] Controller taken: Kestrune Test Pad\n[INFO] Controller lost: Kestrune Test Pad\n"
              "[INFO] Controller taken: Second Test Pad\n[INFO] Controller lost: Second Test Pad\n");
}

TEST_F(SdlWindowHostTest, UnpluggedMidRunTheFighterStopsAndTheStopIsSent) {
    scene::testing::SceneFixture f;
    VirtualPad pad("Kestrune Test Pad");
    pad.stick(60, 1.0);
    pump();
    f.steps(10, host_->input);
    ASSERT_EQ(f.intents().size(), 1u);
    pad.unplug();
    pump();
    const scene::Vec3 before = f.slot(0).position;
    f.steps(1, host_->input);
    EXPECT_EQ(f.slot(0).position, before);
    EXPECT_EQ(f.slot(0).animation.clipName(), "CH010301");
    EXPECT_EQ(f.intents(), (std::vector<scene::PlayerIntent>{{scene::kIntentStop, 0, 0, 0, 0}}));
}

}  // namespace
}  // namespace kestrune::app
