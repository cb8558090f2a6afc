#pragma once
// A backend that draws nothing and remembers what it was asked to do, so the front end's
// decisions (states, constants, buffer sizes, statistics, fallbacks) are tested headless.
// Failures and wait results are scripted per test.

#include <deque>
#include <string>
#include <vector>

#include "render/render_backend.h"

namespace kestrune::render::testing {

struct RecordedBuffer {
    BufferDesc desc;
    bool released = false;
    bool mapped = false;
    u32 maps = 0;
    std::vector<std::byte> contents;
};

struct RecordedDraw {
    DrawState state;
    SceneConstants constants;
    DrawCall call;
    // The vertex buffer's first vertices as the draw saw them: 48-byte ones in `vertices`,
    // 56-byte model vertices in `skinnedVertices`.
    std::vector<PrimitiveVertex> vertices;
    std::vector<SkinnedVertex> skinnedVertices;
    std::vector<u32> indices;
    SkinConstants skin;  // the last skin constant image written before the draw
};

class RecordingBackend final : public RenderBackend {
public:
    // ---- Script ----
    u32 failingDeviceAttempts = 0;  // the first n createDevice calls throw
    bool gpuSkinning = true;
    bool skinConstantBuffer = true;
    bool recordDraws = true;  // off for allocation counts: recording allocates
    u32 sampleCount = 4;
    u32 maxTextureDimension = 16'384;
    std::deque<LatencyWaitResult> waitResults;  // consumed per wait; signalled once empty
    u32 presentStatus = 0;
    u32 readbackWidth = 1;
    u32 readbackHeight = 1;

    // ---- Record ----
    std::vector<bool> deviceAttemptsWarp;
    u32 destroyCalls = 0;
    std::vector<RecordedBuffer> buffers;  // index = id - 1
    std::vector<TextureDesc> textures;
    u32 liveTextures = 0;
    std::vector<RecordedDraw> draws;
    std::vector<Color> passes;
    SceneConstants lastConstants;
    DrawState lastState;
    SkinConstants lastSkin;
    u32 skinWrites = 0;
    u32 presents = 0;
    std::vector<std::pair<u32, u32>> resizes;
    std::vector<u8> syncIntervals;

    u32 liveBuffers() const;

    DeviceFacts createDevice(NativeWindow window, u32 widthPixels, u32 heightPixels, bool useWarp) override;
    u32 createTargets(u32, u32) override { return sampleCount; }
    std::u16string createPipeline(bool) override { return u"recording"; }
    void destroy() noexcept override { ++destroyCalls; }
    bool hasSkinConstants() const noexcept override { return skinConstantBuffer; }
    GpuBuffer createBuffer(const BufferDesc& desc) override;
    void writeBuffer(GpuBuffer buffer, std::span<const std::byte> bytes, const char* operation) override;
    std::span<std::byte> mapBuffer(GpuBuffer buffer, const char* operation) override;
    void unmapBuffer(GpuBuffer buffer) noexcept override { buffers[static_cast<u32>(buffer) - 1].mapped = false; }
    void releaseBuffer(GpuBuffer buffer) noexcept override;
    GpuTexture createTexture(const TextureDesc& desc) override;
    void releaseTexture(GpuTexture texture) noexcept override;
    LatencyWaitResult waitForFrameLatency() override;
    void beginPass(const Color& clearColor) override { passes.push_back(clearColor); }
    void writeSceneConstants(const SceneConstants& constants) override { lastConstants = constants; }
    void writeSkinConstants(std::span<const std::byte, kSkinConstantsBytes> bytes) override;
    void applyDrawState(const DrawState& state) override { lastState = state; }
    void drawIndexed(const DrawCall& call) override;
    bool resolve() override { return sampleCount > 1; }
    void readBackBuffer(ReadbackConsumer& consumer) override;
    u32 present(u8 syncInterval) override;
    void checkPresent(u32 status) override;
    u32 resizeTargets(u32 widthPixels, u32 heightPixels) override {
        resizes.emplace_back(widthPixels, heightPixels);
        return sampleCount;
    }
};

}  // namespace kestrune::render::testing
