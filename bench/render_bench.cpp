// Front-end cost of the renderer without a GPU: shape building, one placeholder frame and
// a typical arena frame's primitive draws through a backend that does nothing, and BMP
// encoding of a 1280 x 720 screenshot.

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "render/bmp_encoder.h"
#include "render/primitive_shapes.h"
#include "render/render_device.h"

namespace kestrune::render {
namespace {

class NullBackend final : public RenderBackend {
public:
    DeviceFacts createDevice(NativeWindow, u32, u32, bool) override { return {u"null", u"hardware", u"11_0", true}; }
    u32 createTargets(u32, u32) override { return 4; }
    std::u16string createPipeline(bool) override { return u"null"; }
    void destroy() noexcept override {}
    bool hasSkinConstants() const noexcept override { return true; }
    GpuBuffer createBuffer(const BufferDesc&) override { return static_cast<GpuBuffer>(++ids_); }
    void writeBuffer(GpuBuffer, std::span<const std::byte> bytes, const char*) override {
        benchmark::DoNotOptimize(bytes.data());
    }
    void releaseBuffer(GpuBuffer) noexcept override {}
    GpuTexture createTexture(const TextureDesc&) override { return static_cast<GpuTexture>(++ids_); }
    void releaseTexture(GpuTexture) noexcept override {}
    LatencyWait waitForFrameLatency() override { return LatencyWait::signalled; }
    void beginPass(const Color&) override {}
    void writeSceneConstants(const SceneConstants& constants) override { benchmark::DoNotOptimize(&constants); }
    void writeSkinConstants(std::span<const std::byte, kSkinConstantsBytes>) override {}
    void applyDrawState(const DrawState&) override {}
    void drawIndexed(const DrawCall&) override {}
    bool resolve() override { return true; }
    void readBackBuffer(ReadbackConsumer&) override {}
    u32 present(u8) override { return 0; }
    void checkPresent(u32) override {}
    u32 resizeTargets(u32, u32) override { return 4; }

private:
    u32 ids_ = 0;
};

std::unique_ptr<RenderDevice> nullDevice() {
    auto device = std::make_unique<RenderDevice>(std::make_unique<NullBackend>());
    device->Create({}, 1280, 720, false);
    return device;
}

void BM_BuildGroundGrid(benchmark::State& state) {
    PrimitiveBatch batch;
    for (auto _ : state) {
        batch.clear();
        buildGroundGrid(batch, {0.0f, 0.0f, 0.0f}, 10.0f);
        benchmark::DoNotOptimize(batch.vertices.data());
    }
    state.SetItemsProcessed(static_cast<i64>(state.iterations()) * static_cast<i64>(batch.vertices.size()));
}
BENCHMARK(BM_BuildGroundGrid);

void BM_PlaceholderFrame(benchmark::State& state) {
    const auto device = nullDevice();
    for (auto _ : state) {
        device->DrawPlaceholderFrame(0.5, 0);
    }
    state.SetItemsProcessed(static_cast<i64>(state.iterations()));
}
BENCHMARK(BM_PlaceholderFrame);

// Ground, two selection rings, two status bars and eight effect sprites: the shapes of a duel frame.
void BM_ArenaPrimitivesFrame(benchmark::State& state) {
    const auto device = nullDevice();
    const Camera camera{{0.0f, 6.0f, -9.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, 0.9f, 0.05f, 250.0f};
    const Color orange{1.0f, 0.6f, 0.2f, 0.8f};
    for (auto _ : state) {
        device->BeginFrame(camera, 0.0f);
        device->DrawGroundGrid({0.0f, 0.0f, 0.0f}, 12.0f);
        device->DrawRing({-2.0f, 0.01f, 0.0f}, 0.9f, 0.12f, orange, 48, false);
        device->DrawRing({2.0f, 0.01f, 0.0f}, 0.9f, 0.12f, orange, 48, false);
        device->DrawStatusBar({-2.0f, 2.3f, 0.0f}, 0.7f, true);
        device->DrawStatusBar({2.0f, 2.3f, 0.0f}, 0.3f, false);
        for (int sprite = 0; sprite < 8; ++sprite) {
            device->DrawBillboard(kWhiteTexture, {0.2f * static_cast<f32>(sprite), 1.0f, 0.0f}, 0.5f, 0.5f, orange,
                                  0.1f * static_cast<f32>(sprite), true);
        }
        device->Present(0);
    }
    state.SetItemsProcessed(static_cast<i64>(state.iterations()));
}
BENCHMARK(BM_ArenaPrimitivesFrame);

void BM_EncodeBmp720p(benchmark::State& state) {
    constexpr u32 kWidth = 1280;
    constexpr u32 kHeight = 720;
    const std::vector<std::byte> pixels(std::size_t{kWidth} * kHeight * 4, std::byte{0x5A});
    for (auto _ : state) {
        const std::vector<std::byte> file = encodeBmp({kWidth, kHeight, std::size_t{kWidth} * 4, pixels});
        benchmark::DoNotOptimize(file.data());
    }
    state.SetBytesProcessed(static_cast<i64>(state.iterations()) * static_cast<i64>(pixels.size()));
}
BENCHMARK(BM_EncodeBmp720p);

}  // namespace
}  // namespace kestrune::render
