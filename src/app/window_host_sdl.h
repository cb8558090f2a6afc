#pragma once
// Linux window host on SDL2 (see window_host.h for the contract).

#include <SDL.h>

#include "app/gamepad_sdl.h"
#include "app/window_host.h"

namespace kestrune::app {

inline constexpr const char* kWindowTitle = "Kestrune Online - Native Combat Runtime";
// A run that is not a smoke run, started with neither X11 nor Wayland, ends with this.
inline constexpr const char* kNoDisplayMessage =
    "No display: DISPLAY and WAYLAND_DISPLAY are unset, so the window cannot be shown. Run headless with "
    "--smoke-test (it ends after --frames=N frames, 8 by default), or on a virtual screen with xvfb-run -a.";

// The Windows virtual-key code of an SDL key, or 0 for keys the runtime does not read.
u32 virtualKeyFromSdl(SDL_Keycode key) noexcept;

// Whether a smoke run must pick SDL's offscreen driver: neither X11 nor Wayland is there.
bool needsOffscreenVideo(const char* display, const char* waylandDisplay) noexcept;

class SdlWindowHost final : public WindowHost {
public:
    SdlWindowHost() = default;
    ~SdlWindowHost() override;
    SdlWindowHost(const SdlWindowHost&) = delete;
    SdlWindowHost& operator=(const SdlWindowHost&) = delete;

    void* moduleHandle() const noexcept override { return nullptr; }
    void registerWindowClass(NativeClient& host) override;
    void createMainWindow(NativeClient& host) override;
    ClientSize clientSize(const NativeClient& host) const override;
    render::NativeWindow nativeWindow(const NativeClient& host) const noexcept override;
    void showWindow(NativeClient& host) override;
    bool pumpMessages(NativeClient& host) override;
    void waitMessage(NativeClient& host) override;
    void destroyWindow(NativeClient& host) noexcept override;
    void unregisterWindowClass(NativeClient& host) noexcept override;

    // Applies one event to the host's window state, as the Win32 window procedure does.
    void handleEvent(NativeClient& host, const SDL_Event& event);
    const SdlGamepads& gamepads() const noexcept { return gamepads_; }

private:
    void recordSize(NativeClient& host);

    bool videoStarted_ = false;
    bool quitPosted_ = false;  // SDL delivers events pushed while polling only at the next poll
    // Kept alive after a close request until teardown: the GL context lives on it until the
    // renderer is destroyed, which happens first.
    SDL_Window* sdlWindow_ = nullptr;
    SdlGamepads gamepads_;
};

}  // namespace kestrune::app
