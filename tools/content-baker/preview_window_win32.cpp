#include <windows.h>

#include <stdexcept>

#include "preview_window.h"

namespace kestrune::baker {
namespace {

constexpr const wchar_t* kPreviewClassName = L"KestruneBakePreview";

}  // namespace

// A hidden popup window, whose client area is the whole window: the swap chain is sized
// from the request, not from the window.
PreviewWindow::PreviewWindow(u32 widthPixels, u32 heightPixels) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kPreviewClassName;
    if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        throw std::runtime_error("RegisterClassExW failed.");
    }
    const HWND window = CreateWindowExW(0, kPreviewClassName, L"kestrune-bake preview", WS_POPUP, 0, 0,
                                        static_cast<int>(widthPixels), static_cast<int>(heightPixels), nullptr,
                                        nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) {
        UnregisterClassW(kPreviewClassName, windowClass.hInstance);
        throw std::runtime_error("CreateWindowExW failed.");
    }
    window_ = window;
}

PreviewWindow::~PreviewWindow() {
    DestroyWindow(static_cast<HWND>(window_));
    UnregisterClassW(kPreviewClassName, GetModuleHandleW(nullptr));
}

}  // namespace kestrune::baker
