#pragma once
// What the OpenGL suites share: a window and device on SDL's offscreen driver (EGL + Mesa)
// whose frames are read back from the resolved back buffer after they are presented.

#include <gtest/gtest.h>

#include "render/capture_support.h"
#include "render/gl/backend_gl.h"

namespace kestrune::render::testing {

inline constexpr u32 kSize = 128;

inline Color over(const Color& source, const Color& target) {
    const f32 a = source[3];
    return {source[0] * a + target[0] * (1 - a), source[1] * a + target[1] * (1 - a),
            source[2] * a + target[2] * (1 - a), 1.0f};
}

class GlBackendTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    }
    static void TearDownTestSuite() { SDL_Quit(); }

    void SetUp() override { makeDevice(true, kSize); }
    void TearDown() override { closeDevice(); }

    // A fresh window and device of `sizePixels` square; without GPU skinning every mesh is
    // skinned on the CPU.
    void makeDevice(bool gpuSkinning, u32 sizePixels) {
        closeDevice();
        const int size = static_cast<int>(sizePixels);
        window_ = SDL_CreateWindow("render test", 0, 0, size, size, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        ASSERT_NE(window_, nullptr) << SDL_GetError();
        auto backend = std::make_unique<gl::GlBackend>(gpuSkinning);
        backend_ = backend.get();
        device_ = std::make_unique<RenderDevice>(std::move(backend));
        device_->Create({window_}, sizePixels, sizePixels, false);
    }
    void closeDevice() {
        device_.reset();
        if (window_ != nullptr) {
            SDL_DestroyWindow(window_);
            window_ = nullptr;
        }
    }

    Capture capture() {
        Capture image;
        backend_->readBackBuffer(image);
        return image;
    }
    Capture presentAndCapture() {
        device_->Present(0);
        return capture();
    }
    // The read-back pixel where a world point lands (x right, y down).
    Pixel pixelAt(const Capture& image, const Vec3& world) const { return testing::pixelAt(*device_, image, world); }

    SDL_Window* window_ = nullptr;
    gl::GlBackend* backend_ = nullptr;
    std::unique_ptr<RenderDevice> device_;
};

}  // namespace kestrune::render::testing
