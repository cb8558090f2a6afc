#include "app/window_host_sdl.h"

#include <gtest/gtest.h>

#include "app/frame_clock.h"
#include "app/native_client.h"
#include "render/recording_backend.h"

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
        auto windowHost = std::make_unique<SdlWindowHost>();
        sdl_ = windowHost.get();
        LaunchOptions options;
        options.width = 320;
        options.height = 200;
        options.smokeTest = true;  // a windowed run without a display ends before its window exists
        host_ = std::make_unique<NativeClient>(
            options, nullptr,
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

}  // namespace
}  // namespace kestrune::app
