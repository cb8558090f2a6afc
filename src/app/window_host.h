#pragma once
// The platform's window: class registration, the one top-level window, its message pump
// and teardown. Win32 on Windows (window_host_win32.cpp), SDL2 on Linux
// (window_host_sdl.cpp). Messages change the host's window state (minimized, pending
// resize, quit, input) and nothing else. Creation failures throw std::runtime_error.

#include <memory>

#include "base/types.h"
#include "render/render_backend.h"

namespace kestrune::app {

class NativeClient;

struct ClientSize {
    u32 widthPixels = 0;
    u32 heightPixels = 0;
};

class WindowHost {
public:
    virtual ~WindowHost() = default;

    // The program's module handle (null where the platform has none).
    virtual void* moduleHandle() const noexcept = 0;
    virtual void registerWindowClass(NativeClient& host) = 0;
    // Creates the window hidden, with a client area of the launch options' size.
    virtual void createMainWindow(NativeClient& host) = 0;
    virtual ClientSize clientSize(const NativeClient& host) const = 0;
    virtual render::NativeWindow nativeWindow(const NativeClient& host) const noexcept = 0;
    virtual void showWindow(NativeClient& host) = 0;
    // Dispatches every queued message; false (with quitRequested set) when the quit message came.
    virtual bool pumpMessages(NativeClient& host) = 0;
    // Blocks until a message arrives.
    virtual void waitMessage(NativeClient& host) = 0;
    virtual void destroyWindow(NativeClient& host) noexcept = 0;
    virtual void unregisterWindowClass(NativeClient& host) noexcept = 0;
};

std::unique_ptr<WindowHost> createPlatformWindowHost();

}  // namespace kestrune::app
