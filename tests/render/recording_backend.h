#pragma once
// A backend that draws nothing and remembers what it was asked to do, so the front end's
// decisions (states, constants, buffer sizes, statistics, fallbacks) are tested headless.
// Failures and wait results are scripted per test.

#include <algorithm>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <vector>

#include "render/render_backend.h"

namespace kestrune::render::testing {

struct RecordedBuffer {
    BufferDesc desc;
    bool released = false, mapped = false;
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
    bool gpuSkinning = true, skinConstantBuffer = true;
    bool recordDraws = true;  // off for allocation counts: recording allocates
    u32 sampleCount = 4, maxTextureDimension = 16'384;
    std::deque<LatencyWaitResult> waitResults;  // consumed per wait; signalled once empty
    u32 presentStatus = 0;
    u32 readbackWidth = 1, readbackHeight = 1;

    // ---- Record ----
    std::vector<bool> deviceAttemptsWarp;
    std::vector<RecordedBuffer> buffers;  // index = id - 1
    std::vector<TextureDesc> textures;
    std::vector<RecordedDraw> draws;
    std::vector<Color> passes;
    SceneConstants lastConstants;
    DrawState lastState;
    SkinConstants lastSkin;
    u32 destroyCalls = 0, liveTextures = 0, skinWrites = 0, presents = 0;
    std::vector<std::pair<u32, u32>> resizes;
    std::vector<u8> syncIntervals;

    u32 liveBuffers() const { return static_cast<u32>(std::ranges::count(buffers, false, &RecordedBuffer::released)); }

    DeviceFacts createDevice(NativeWindow, u32, u32, bool useWarp) override {
        deviceAttemptsWarp.push_back(useWarp);
        if (failingDeviceAttempts > 0) {
            --failingDeviceAttempts;
            throw std::runtime_error("scripted device failure");
        }
        return {u"Recording Adapter", useWarp ? u"warp" : u"hardware", u"11_0", gpuSkinning, maxTextureDimension};
    }
    u32 createTargets(u32, u32) override { return sampleCount; }
    std::u16string createPipeline(bool) override { return u"recording"; }
    void destroy() noexcept override { ++destroyCalls; }
    bool hasSkinConstants() const noexcept override { return skinConstantBuffer; }
    GpuBuffer createBuffer(const BufferDesc& desc) override {
        RecordedBuffer& buffer = buffers.emplace_back(RecordedBuffer{.desc = desc});
        buffer.contents.assign(desc.initialData.begin(), desc.initialData.end());
        buffer.contents.resize(desc.sizeBytes);
        return static_cast<GpuBuffer>(buffers.size());
    }
    void writeBuffer(GpuBuffer buffer, std::span<const std::byte> bytes, const char*) override {
        RecordedBuffer& target = buffers.at(static_cast<u32>(buffer) - 1);
        if (target.released || bytes.size() > target.contents.size()) {
            throw std::logic_error("write to a released or too small buffer");
        }
        std::memcpy(target.contents.data(), bytes.data(), bytes.size());
    }
    std::span<std::byte> mapBuffer(GpuBuffer buffer, const char*) override {
        RecordedBuffer& target = buffers.at(static_cast<u32>(buffer) - 1);
        if (target.released || target.mapped || target.desc.usage != BufferUsage::dynamic) {
            throw std::logic_error("map of a released, mapped or immutable buffer");
        }
        target.mapped = true;
        ++target.maps;
        if (recordDraws) {
            std::fill(target.contents.begin(), target.contents.end(), std::byte{0xCD});  // discarded
        }
        return target.contents;
    }
    void unmapBuffer(GpuBuffer buffer) noexcept override { buffers[static_cast<u32>(buffer) - 1].mapped = false; }
    void releaseBuffer(GpuBuffer buffer) noexcept override {
        if (buffer != GpuBuffer::none) {
            buffers[static_cast<u32>(buffer) - 1].released = true;
        }
    }
    GpuTexture createTexture(const TextureDesc& desc) override {
        textures.push_back(desc);
        ++liveTextures;
        return static_cast<GpuTexture>(textures.size());
    }
    void releaseTexture(GpuTexture texture) noexcept override { liveTextures -= texture != GpuTexture::none ? 1 : 0; }
    LatencyWaitResult waitForFrameLatency() override {
        if (waitResults.empty()) {
            return LatencyWait::signalled;
        }
        LatencyWaitResult result = waitResults.front();
        waitResults.pop_front();
        return result;
    }
    void beginPass(const Color& clearColor) override { passes.push_back(clearColor); }
    void writeSceneConstants(const SceneConstants& constants) override { lastConstants = constants; }
    void writeSkinConstants(std::span<const std::byte, kSkinConstantsBytes> bytes) override {
        if (!skinConstantBuffer) {
            throw std::logic_error("skin constants written without a skin constant buffer");
        }
        std::memcpy(&lastSkin, bytes.data(), bytes.size());
        ++skinWrites;
    }
    void applyDrawState(const DrawState& state) override { lastState = state; }
    void drawIndexed(const DrawCall& call) override {
        if (!recordDraws) {
            return;
        }
        RecordedDraw draw{lastState, lastConstants, call, {}, {}, {}, lastSkin};
        const RecordedBuffer& vertices = buffers.at(static_cast<u32>(call.vertices) - 1);
        const RecordedBuffer& indices = buffers.at(static_cast<u32>(call.indices) - 1);
        if (vertices.mapped || vertices.released || indices.released) {
            throw std::logic_error("draw from a mapped or released buffer");
        }
        draw.indices.resize(call.indexCount);
        std::memcpy(draw.indices.data(), indices.contents.data(), call.indexCount * sizeof(u32));
        const u32 vertexCount = draw.indices.empty() ? 0 : std::ranges::max(draw.indices) + 1;
        if (call.vertexStrideBytes == sizeof(SkinnedVertex)) {
            draw.skinnedVertices = vertexPrefix<SkinnedVertex>(vertices, vertexCount);
        } else {
            draw.vertices = vertexPrefix<PrimitiveVertex>(vertices, vertexCount);
        }
        draws.push_back(std::move(draw));
    }
    bool resolve() override { return sampleCount > 1; }
    void readBackBuffer(ReadbackConsumer& consumer) override {
        const std::size_t pitch = std::size_t{readbackWidth} * 4 + 8;  // rows padded, as a mapped texture's are
        const std::vector<std::byte> pixels(pitch * readbackHeight, std::byte{0xEE});
        consumer.consume({readbackWidth, readbackHeight, pitch, pixels});
    }
    u32 present(u8 syncInterval) override {
        ++presents;
        syncIntervals.push_back(syncInterval);
        return presentStatus;
    }
    void checkPresent(u32 status) override {
        if (status != 0) {
            throw std::runtime_error("scripted present failure");
        }
    }
    u32 resizeTargets(u32 widthPixels, u32 heightPixels) override {
        resizes.emplace_back(widthPixels, heightPixels);
        return sampleCount;
    }

private:
    // The buffer's first `count` vertices.
    template <class Vertex>
    static std::vector<Vertex> vertexPrefix(const RecordedBuffer& buffer, u32 count) {
        if (buffer.contents.size() < count * sizeof(Vertex)) {
            throw std::logic_error("draw reads past its vertex buffer");
        }
        std::vector<Vertex> vertices(count);
        std::memcpy(vertices.data(), buffer.contents.data(), count * sizeof(Vertex));
        return vertices;
    }
};

}  // namespace kestrune::render::testing
