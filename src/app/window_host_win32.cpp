#include "app/window_host_win32.h"

#include <stdexcept>

#include "app/native_client.h"

namespace kestrune::app {

namespace {

constexpr LPARAM kKeyWasDownBit = LPARAM{1} << 30;

HWND windowOf(const NativeClient& host) noexcept { return static_cast<HWND>(host.window); }

LRESULT handleMessage(NativeClient& host, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            host.window = nullptr;
            PostQuitMessage(0);
            return 0;
        case WM_SIZE:
            host.minimized = wParam == SIZE_MINIMIZED;
            if (!host.minimized) {
                host.pendingWidth = LOWORD(lParam);
                host.pendingHeight = HIWORD(lParam);
                host.resizePending = host.pendingWidth != 0 && host.pendingHeight != 0;
            }
            return 0;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        // System keys are consumed too, so Alt+F4 never reaches the default close handling.
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            // Saturated, not truncated: a 64-bit code must not alias a real key below 256.
            host.input.keyPressed(static_cast<u32>(wParam > 0xFFFF ? 0xFFFF : wParam), (lParam & kKeyWasDownBit) != 0);
            return 0;
        case WM_KEYUP:
        case WM_SYSKEYUP:
            host.input.keyReleased(static_cast<u32>(wParam > 0xFFFF ? 0xFFFF : wParam));
            return 0;
        case WM_MOUSEMOVE:
            host.input.mouseMoved(static_cast<i16>(LOWORD(lParam)), static_cast<i16>(HIWORD(lParam)));
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

std::unique_ptr<WindowHost> createPlatformWindowHost() { return std::make_unique<Win32WindowHost>(); }

LRESULT CALLBACK nativeClientWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* host = static_cast<NativeClient*>(create->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(host));
        host->window = window;
        return handleMessage(*host, window, message, wParam, lParam);
    }
    auto* host = reinterpret_cast<NativeClient*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (host == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return handleMessage(*host, window, message, wParam, lParam);
}

void* Win32WindowHost::moduleHandle() const noexcept { return GetModuleHandleW(nullptr); }

void Win32WindowHost::registerWindowClass(NativeClient& host) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
    windowClass.lpfnWndProc = nativeClientWindowProcedure;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = static_cast<HINSTANCE>(host.instance);
    windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWindowClassName;
    if (RegisterClassExW(&windowClass) == 0) {
        throw std::runtime_error("RegisterClassExW failed.");
    }
    gamepads_.load(host.log);
}

void Win32WindowHost::createMainWindow(NativeClient& host) {
    RECT rect{0, 0, static_cast<LONG>(host.options.width), static_cast<LONG>(host.options.height)};
    if (!AdjustWindowRectEx(&rect, WS_OVERLAPPEDWINDOW, FALSE, 0)) {
        throw std::runtime_error("AdjustWindowRectEx failed.");
    }
    // The procedure stores the handle in the host while handling WM_NCCREATE.
    const HWND window = CreateWindowExW(0, kWindowClassName, kWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                        CW_USEDEFAULT, rect.right - rect.left, rect.bottom - rect.top, nullptr,
                                        nullptr, static_cast<HINSTANCE>(host.instance), &host);
    if (window == nullptr) {
        throw std::runtime_error("CreateWindowExW failed.");
    }
    host.window = window;
}

ClientSize Win32WindowHost::clientSize(const NativeClient& host) const {
    RECT rect{};
    GetClientRect(windowOf(host), &rect);
    return {static_cast<u32>(rect.right - rect.left), static_cast<u32>(rect.bottom - rect.top)};
}

render::NativeWindow Win32WindowHost::nativeWindow(const NativeClient& host) const noexcept { return {host.window}; }

void Win32WindowHost::showWindow(NativeClient& host) {
    ShowWindow(windowOf(host), SW_SHOW);
    UpdateWindow(windowOf(host));
}

bool Win32WindowHost::pumpMessages(NativeClient& host) {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            host.quitRequested = true;
            return false;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    gamepads_.poll(host.input, host.log, GetTickCount64());
    return true;
}

void Win32WindowHost::waitMessage(NativeClient&) { WaitMessage(); }

void Win32WindowHost::destroyWindow(NativeClient& host) noexcept {
    if (host.window != nullptr && IsWindow(windowOf(host))) {
        DestroyWindow(windowOf(host));
    }
}

void Win32WindowHost::unregisterWindowClass(NativeClient& host) noexcept {
    if (host.instance != nullptr) {
        UnregisterClassW(kWindowClassName, static_cast<HINSTANCE>(host.instance));
    }
}

}  // namespace kestrune::app
