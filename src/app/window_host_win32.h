#pragma once
// Windows window host: the Win32 class, window, window procedure and message pump (see
// window_host.h for the contract).

#include <windows.h>

#include "app/gamepad_win32.h"
#include "app/window_host.h"

namespace kestrune::app {

inline constexpr const wchar_t* kWindowClassName = L"KestruneNativeClientWindow";
inline constexpr const wchar_t* kWindowTitle = L"Kestrune Online - Native Combat Runtime";

// The class's window procedure; the host arrives as the creation parameter.
LRESULT CALLBACK nativeClientWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

class Win32WindowHost final : public WindowHost {
public:
    void* moduleHandle() const noexcept override;
    void registerWindowClass(NativeClient& host) override;
    void createMainWindow(NativeClient& host) override;
    ClientSize clientSize(const NativeClient& host) const override;
    render::NativeWindow nativeWindow(const NativeClient& host) const noexcept override;
    void showWindow(NativeClient& host) override;
    bool pumpMessages(NativeClient& host) override;
    void waitMessage(NativeClient& host) override;
    void destroyWindow(NativeClient& host) noexcept override;
    void unregisterWindowClass(NativeClient& host) noexcept override;

    XInputGamepads& gamepads() noexcept { return gamepads_; }

private:
    XInputGamepads gamepads_;
};

}  // namespace kestrune::app
