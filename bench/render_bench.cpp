// Front-end cost of the renderer without a GPU: shape building, one placeholder frame and
// a typical arena frame's primitive draws through a backend that does nothing, and BMP
// encoding of a 1280 x 720 screenshot.

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "render/bmp_encoder.h"
#include "render/cpu_skinning.h"
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
    std::span<std::byte> mapBuffer(GpuBuffer, const char*) override { return mapped_; }
    void unmapBuffer(GpuBuffer) noexcept override {}
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
    std::vector<std::byte> mapped_ = std::vector<std::byte>(1 << 20);
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


// ---- CPU skinning ----

constexpr u32 kBenchJoints = 64;
constexpr u32 kBenchVertices = 4096;  // a character body mesh

// 64 affine matrices: rotations about varied axes, small scales and translations.
std::vector<Matrix4> benchPalette() {
    std::mt19937 random(7);
    std::uniform_real_distribution<f32> unit(-1.0f, 1.0f);
    std::vector<Matrix4> palette(kBenchJoints);
    for (Matrix4& m : palette) {
        const f32 angle = unit(random) * 3.0f;
        const f32 c = std::cos(angle);
        const f32 s = std::sin(angle);
        const f32 scale = 1.0f + 0.1f * unit(random);
        m.m = {c * scale, 0.0f, -s * scale, 0.0f, 0.0f, scale, 0.0f, 0.0f, s * scale, 0.0f, c * scale, 0.0f,
               unit(random), unit(random), unit(random), 1.0f};
    }
    return palette;
}

// Weights summing to one over one to four influences, as a character's mesh has them: the
// unused slots hold joint 0 with weight 0. The counts vary from vertex to vertex, so a
// kernel that branches on them pays for its mispredictions here.
std::vector<SkinnedVertex> benchVertices() {
    std::mt19937 random(11);
    std::uniform_real_distribution<f32> unit(-1.0f, 1.0f);
    std::uniform_int_distribution<u32> joint(0, kBenchJoints - 1);
    std::uniform_int_distribution<std::size_t> influenceCount(1, 4);
    std::vector<SkinnedVertex> vertices(kBenchVertices);
    for (SkinnedVertex& v : vertices) {
        v.position = {unit(random), unit(random) + 1.0f, unit(random)};
        v.normal = {unit(random), unit(random), unit(random)};
        v.uv = {unit(random), unit(random)};
        const std::size_t used = influenceCount(random);
        f32 sum = 0.0f;
        for (std::size_t k = 0; k < used; ++k) {
            v.joints[k] = static_cast<u16>(joint(random));
            v.weights[k] = 0.05f + (unit(random) + 1.0f);
            sum += v.weights[k];
        }
        for (f32& w : v.weights) w /= sum;
    }
    return vertices;
}

void BM_CpuSkinning(benchmark::State& state) {
    const auto kernel = static_cast<SkinningKernel>(state.range(0));
    if (!isSkinningKernelAvailable(kernel)) {
        state.SkipWithError("kernel not available on this processor");
        return;
    }
    const std::vector<Matrix4> unaligned = benchPalette();
    struct alignas(64) Line { Matrix4 m; };
    std::vector<Line> storage(unaligned.size() + 1);
    const std::size_t shift = state.range(1);
    std::span<Matrix4> palette(reinterpret_cast<Matrix4*>(reinterpret_cast<std::byte*>(storage.data()) + shift), unaligned.size());
    std::copy(unaligned.begin(), unaligned.end(), palette.begin());
    const std::vector<SkinnedVertex> vertices = benchVertices();
    std::vector<PrimitiveVertex> out(vertices.size());
    for (auto _ : state) {
        skinVerticesWith(kernel, vertices, palette, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<i64>(state.iterations()) * kBenchVertices);
}
BENCHMARK(BM_CpuSkinning)
    ->Args({2, 0})->Args({2, 16})->Args({1, 0})->Args({1, 16})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kestrune::render
