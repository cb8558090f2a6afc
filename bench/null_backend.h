#pragma once
// A renderer backend that creates ids and draws nothing, so benchmarks measure the front
// end's own work (and whatever calls it) without a GPU.

#include <benchmark/benchmark.h>

#include <vector>

#include "render/render_backend.h"

namespace kestrune::render {

class NullBackend final : public RenderBackend {
public:
    explicit NullBackend(bool gpuSkinning = true) : gpuSkinning_(gpuSkinning) {}
    DeviceFacts createDevice(NativeWindow, u32, u32, bool) override {
        return {u"null", u"hardware", u"11_0", gpuSkinning_};
    }
    u32 createTargets(u32, u32) override { return 4; }
    std::u16string createPipeline(bool) override { return u"null"; }
    void destroy() noexcept override {}
    bool hasSkinConstants() const noexcept override { return gpuSkinning_; }
    GpuBuffer createBuffer(const BufferDesc&) override { return static_cast<GpuBuffer>(++ids_); }
    void writeBuffer(GpuBuffer, std::span<const std::byte> bytes, const char*) override {
        benchmark::DoNotOptimize(bytes.data());
    }
    std::span<std::byte> mapBuffer(GpuBuffer, const char*) override { return mapped_; }
    void unmapBuffer(GpuBuffer) noexcept override {}
    void releaseBuffer(GpuBuffer) noexcept override {}
    GpuTexture createTexture(const TextureDesc&) override { return static_cast<GpuTexture>(++ids_); }
    void releaseTexture(GpuTexture) noexcept override {}
    LatencyWaitResult waitForFrameLatency() override { return LatencyWait::signalled; }
    void beginPass(const Color&) override {}
    void writeSceneConstants(const SceneConstants& constants) override { benchmark::DoNotOptimize(&constants); }
    void writeSkinConstants(std::span<const std::byte, kSkinConstantsBytes> bytes) override {
        benchmark::DoNotOptimize(bytes.data());
    }
    void applyDrawState(const DrawState&) override {}
    void drawIndexed(const DrawCall&) override {}
    bool resolve() override { return true; }
    void readBackBuffer(ReadbackConsumer&) override {}
    u32 present(u8) override { return 0; }
    void checkPresent(u32) override {}
    u32 resizeTargets(u32, u32) override { return 4; }

private:
    bool gpuSkinning_ = true;
    u32 ids_ = 0;
    std::vector<std::byte> mapped_ = std::vector<std::byte>(1 << 20);
};

}  // namespace kestrune::render
