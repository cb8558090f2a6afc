#pragma once
// The hidden window the preview renders into: an SDL window on Linux (without a display
// through SDL's offscreen video driver, so OpenGL runs through EGL on Mesa), a Win32 popup
// on Windows. The window is released on destruction.

#include "base/types.h"
#include "render/render_backend.h"

namespace kestrune::baker {

class PreviewWindow {
public:
    PreviewWindow(u32 widthPixels, u32 heightPixels);
    ~PreviewWindow();
    PreviewWindow(const PreviewWindow&) = delete;
    PreviewWindow& operator=(const PreviewWindow&) = delete;

    render::NativeWindow native() const noexcept { return {window_}; }

private:
    void* window_ = nullptr;
};

}  // namespace kestrune::baker
