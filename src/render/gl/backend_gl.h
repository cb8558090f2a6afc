#pragma once
// GlBackend: the renderer's OpenGL 3.3 core backend for Linux, on an SDL2 window.
//
// It mirrors D3d11Backend member for member. Frames are drawn into offscreen targets that
// play the swap chain's parts: an sRGB "back buffer" texture (what screenshots read) and,
// when multisampling is available, a 4x or 2x sRGB colour target resolved into it with
// glBlitFramebuffer. Present copies the back buffer to the window and swaps; a fence after
// each swap paces the next frame like a frame-latency waitable object.

#include <SDL.h>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#include <string>
#include <vector>

#include "render/render_backend.h"
#include "render/slot_list.h"

namespace kestrune::render::gl {

// Asks Mesa for llvmpipe. Mesa picks its driver when it opens the display, so this must
// run before the video subsystem starts (the window host calls it for --warp).
void requestSoftwareRasterizer() noexcept;

// Whether a renderer string names one of Mesa's software rasterizers.
bool isSoftwareRenderer(std::string_view renderer) noexcept;

inline constexpr u64 kFrameLatencyWaitNanoseconds = 1'000'000'000;  // 1000 ms

class GlBackend final : public RenderBackend {
public:
    // Without GPU skinning the device reports itself like a Direct3D 9_3 one: no model
    // program, every mesh skinned on the CPU (which is how the two paths are compared).
    explicit GlBackend(bool gpuSkinning = true) : gpuSkinning_(gpuSkinning) {}
    ~GlBackend() override;
    GlBackend(const GlBackend&) = delete;
    GlBackend& operator=(const GlBackend&) = delete;

    DeviceFacts createDevice(NativeWindow window, u32 widthPixels, u32 heightPixels, bool useWarp) override;
    u32 createTargets(u32 widthPixels, u32 heightPixels) override;
    std::u16string createPipeline(bool gpuSkinning) override;
    void destroy() noexcept override;
    bool hasSkinConstants() const noexcept override { return skinConstants_ != 0; }

    GpuBuffer createBuffer(const BufferDesc& desc) override;
    void writeBuffer(GpuBuffer buffer, std::span<const std::byte> bytes, const char* operation) override;
    std::span<std::byte> mapBuffer(GpuBuffer buffer, const char* operation) override;
    void unmapBuffer(GpuBuffer buffer) noexcept override;
    void releaseBuffer(GpuBuffer buffer) noexcept override;
    GpuTexture createTexture(const TextureDesc& desc) override;
    void releaseTexture(GpuTexture texture) noexcept override;

    LatencyWaitResult waitForFrameLatency() override;
    void beginPass(const Color& clearColor) override;
    void writeSceneConstants(const SceneConstants& constants) override;
    void writeSkinConstants(std::span<const std::byte, kSkinConstantsBytes> bytes) override;
    void applyDrawState(const DrawState& state) override;
    void drawIndexed(const DrawCall& call) override;
    bool resolve() override;
    void readBackBuffer(ReadbackConsumer& consumer) override;
    u32 present(u8 syncInterval) override;
    void checkPresent(u32 status) override;
    u32 resizeTargets(u32 widthPixels, u32 heightPixels) override;

private:
    struct BufferSlot {
        GLuint name = 0;
        u32 sizeBytes = 0;
        GLenum usage = 0;
    };

    void releaseTargets() noexcept;
    GLuint compileProgram(const char* name, std::string_view vertexBody, std::string_view pixelBody);
    BufferSlot& slot(GpuBuffer buffer);

    bool gpuSkinning_ = true;
    SDL_Window* window_ = nullptr;
    SDL_GLContext context_ = nullptr;
    bool remapDepth_ = false;
    GLsync frameFence_ = nullptr;
    int swapInterval_ = -1;

    // Targets (rebuilt by resize).
    u32 widthPixels_ = 0;
    u32 heightPixels_ = 0;
    GLuint backBufferTexture_ = 0;
    GLuint backBufferFramebuffer_ = 0;
    GLuint msaaColor_ = 0;
    GLuint msaaFramebuffer_ = 0;
    GLuint depthBuffer_ = 0;
    u32 sampleCount_ = 1;

    // Pipeline.
    GLuint primitiveProgram_ = 0;
    GLuint modelProgram_ = 0;
    GLuint vertexArray_ = 0;
    GLuint sceneConstants_ = 0;
    GLuint skinConstants_ = 0;
    GLuint linearSampler_ = 0;
    VertexPath boundPath_ = VertexPath::primitive;

    SlotList<BufferSlot> buffers_;
    std::vector<std::byte> readback_;
    std::vector<std::byte> readbackFlipped_;
};

}  // namespace kestrune::render::gl
