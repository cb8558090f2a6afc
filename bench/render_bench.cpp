// Front-end cost of the renderer without a GPU: shape building, one placeholder frame and
// a typical arena frame's primitive draws through a backend that does nothing, BMP
// encoding of a 1280 x 720 screenshot, the CPU skinning kernels (4 influences, 64-joint
// palette, 48-byte output vertices) and skinned model draws on both paths.

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "content/animation.h"
#include "render/bmp_encoder.h"
#include "render/cpu_skinning.h"
#include "render/primitive_shapes.h"
#include "render/render_device.h"

namespace kestrune::render {
namespace {

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
SkinningPalette benchPalette() {
    std::mt19937 random(7);
    std::uniform_real_distribution<f32> unit(-1.0f, 1.0f);
    SkinningPalette palette(kBenchJoints);
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
std::vector<SkinnedVertex> benchVertices(u32 count) {
    std::mt19937 random(11);
    std::uniform_real_distribution<f32> unit(-1.0f, 1.0f);
    std::uniform_int_distribution<u32> joint(0, kBenchJoints - 1);
    std::uniform_int_distribution<std::size_t> influenceCount(1, 4);
    std::vector<SkinnedVertex> vertices(count);
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
    const SkinningPalette palette = benchPalette();
    const std::vector<SkinnedVertex> vertices = benchVertices(static_cast<u32>(state.range(1)));
    std::vector<PrimitiveVertex> out(vertices.size());
    for (auto _ : state) {
        skinVerticesWith(kernel, vertices, palette, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<i64>(state.iterations()) * state.range(1));
}
// Kernels 0 (definition), 1 (SSE2), 2 (AVX2 + FMA), 3 (AVX-512); a mesh that stays in L2 and one that does not.
BENCHMARK(BM_CpuSkinning)->ArgsProduct({{0, 1, 2, 3}, {kBenchVertices, 65'536}})->Unit(benchmark::kMicrosecond);

// A 64-joint skeleton (a binary tree) in a walking-like pose, and one skinned mesh on it.
content::Model skinnedBenchModel() {
    content::Model model;
    content::Skin skin;
    skin.name = "body";
    for (u32 i = 0; i < kBenchJoints; ++i) {
        content::Node node;
        node.name = "joint" + std::to_string(i);
        node.parent = i == 0 ? -1 : static_cast<i32>((i - 1) / 2);
        const f32 angle = 0.05f * static_cast<f32>(i);
        node.transform.translation = {0.0f, 0.1f, 0.0f};
        node.transform.rotation = {std::sin(angle), 0.0f, 0.0f, std::cos(angle)};
        model.nodes.push_back(node);
        model.nodeOrder.push_back(i);  // breadth-first order of the tree is index order
        skin.joints.push_back(i);
        skin.inverseBindMatrices.push_back(identityMatrix());
    }
    model.nodes[0].firstMesh = 0;
    model.nodes[0].skin = 0;
    model.skins.push_back(skin);
    content::Mesh mesh;
    mesh.name = "body";
    mesh.skin = 0;
    mesh.vertices = benchVertices(kBenchVertices);
    for (u32 i = 0; i + 2 < kBenchVertices; i += 3) {
        mesh.indices.insert(mesh.indices.end(), {i, i + 1, i + 2});
    }
    model.meshes.push_back(mesh);
    content::Material material;
    material.name = "body";
    model.materials.push_back(material);
    return model;
}

// One skinned mesh drawn per iteration. On the GPU path the work is forming the 64-joint
// palette and the skin constant image; on the CPU path it is that palette and skinning
// 4096 vertices into the mapped vertex buffer.
void BM_DrawSkinnedModel(benchmark::State& state) {
    const bool gpuSkinning = state.range(0) != 0;
    auto device = std::make_unique<RenderDevice>(std::make_unique<NullBackend>(gpuSkinning));
    device->Create({}, 1280, 720, false);
    const content::Model model = skinnedBenchModel();
    const ModelHandle handle = device->UploadModel(model, ".");
    std::vector<Matrix4> pose(model.nodes.size());
    std::vector<content::Transform> locals;
    for (const content::Node& node : model.nodes) locals.push_back(node.transform);
    content::computeGlobalMatrices(model, locals, pose);
    device->BeginFrame({{0.0f, 1.0f, -4.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, 0.9f, 0.05f, 100.0f}, 0.0f);
    for (auto _ : state) {
        device->DrawModel(handle, model, pose, identityMatrix(), {1.0f, 1.0f, 1.0f, 1.0f}, {}, kNoTexture, false);
    }
    state.SetItemsProcessed(static_cast<i64>(state.iterations()));
}
BENCHMARK(BM_DrawSkinnedModel)->ArgName("gpu")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kestrune::render
