// Content benchmarks: model loading (file read, digest and decode), SHA-256 by path,
// clip sampling with global matrices, pose blending, their transform kernels one by one and
// the skinning palette.
//
// BM_LoadModelFile reads the file named by KESTRUNE_BENCH_MODEL, writing a generated
// model of about 262 MiB there first if it does not exist (model_load_vs_openssl.sh
// compares it with `openssl dgst -sha256` on the same file).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>

#include "content/animation.h"
#include "content/content_file.h"
#include "content/kmdl_reader.h"
#include "content/kmdl_writer.h"
#include "content/sha256.h"
#include "content/skinning.h"
#include "content/transform_math.h"

namespace kestrune::content {
namespace {

constexpr u32 kSkeletonNodes = 64;
constexpr f32 kClipRate = 30.0f;

std::array<f32, 4> axisAngle(f64 ax, f64 ay, f64 az, f64 radians) {
    const f64 s = std::sin(radians / 2.0);
    return {static_cast<f32>(ax * s), static_cast<f32>(ay * s), static_cast<f32>(az * s),
            static_cast<f32>(std::cos(radians / 2.0))};
}

// A 64-node skeleton (a binary tree six levels deep) with clips baked at 30 frames per
// second from smooth motion: each joint swings about its own axis at its own speed, up to
// about 0.9 turns per second, so adjacent frames differ by up to 11 degrees and sampling
// exercises both the slerp and the nearly-equal (nlerp) branch.
Model skeletonModel(u32 clipCount, f32 clipSeconds) {
    Model model;
    for (u32 i = 0; i < kSkeletonNodes; ++i) {
        Node node;
        node.name = "joint" + std::to_string(i);
        node.parent = i == 0 ? -1 : static_cast<i32>((i - 1) / 2);
        node.transform.translation = {0.0f, 0.1f, 0.0f};
        model.nodes.push_back(node);
    }
    Material material;
    material.name = "material";
    model.materials.push_back(material);
    for (u32 c = 0; c < clipCount; ++c) {
        AnimationClip clip;
        clip.name = "clip" + std::to_string(c);
        clip.duration = clipSeconds;
        clip.sampleRate = kClipRate;
        clip.frameCount = static_cast<u32>(std::ceil(f64{clipSeconds} * kClipRate)) + 1;
        clip.nodeCount = kSkeletonNodes;
        for (u32 f = 0; f < clip.frameCount; ++f) {
            const f64 seconds = std::min<f64>(f / f64{kClipRate}, clipSeconds);
            for (u32 n = 0; n < kSkeletonNodes; ++n) {
                const f64 speed = 0.5 + 5.0 * ((n * 37 + c * 11) % 64) / 64.0;  // radians per second
                const f64 axisAngleOffset = 0.3 * n + c;
                Transform t;
                t.translation = {0.0f, 0.1f, static_cast<f32>(0.01 * std::sin(seconds + n))};
                t.rotation = axisAngle(std::sin(axisAngleOffset) * 0.6, 0.8, std::cos(axisAngleOffset) * 0.6,
                                       0.8 * std::sin(speed * seconds + n));
                clip.samples.push_back(t);
            }
        }
        model.clips.push_back(clip);
    }
    // Breadth-first order of the binary tree is index order.
    for (u32 i = 0; i < kSkeletonNodes; ++i) model.nodeOrder.push_back(i);
    return model;
}

// The skeleton plus four skinned meshes of 1.1 million vertices: about 262 MiB written.
Model largeModel() {
    Model model = skeletonModel(10, 2.0f);
    Skin skin;
    skin.name = "body";
    for (u32 j = 0; j < kSkeletonNodes; ++j) {
        skin.joints.push_back(j);
        Matrix4 inverseBind;
        inverseBind.m = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -0.1f * static_cast<f32>(j % 7), 0, 1};
        skin.inverseBindMatrices.push_back(inverseBind);
    }
    model.skins.push_back(skin);
    model.nodes[0].skin = 0;
    model.nodes[0].firstMesh = 0;
    std::mt19937 random(1234);
    std::uniform_real_distribution<f32> unit(0.0f, 1.0f);
    for (u32 m = 0; m < 4; ++m) {
        Mesh mesh;
        mesh.name = "mesh" + std::to_string(m);
        mesh.node = 0;
        mesh.skin = 0;
        mesh.material = 0;
        mesh.vertices.resize(1'100'000);
        for (Vertex& v : mesh.vertices) {
            v.position = {unit(random), 2.0f * unit(random), unit(random)};
            v.normal = {0.0f, 1.0f, 0.0f};
            v.uv = {unit(random), unit(random)};
            const u16 first = static_cast<u16>(random() % kSkeletonNodes);
            v.joints = {first, static_cast<u16>((first + 1) % kSkeletonNodes), static_cast<u16>((first + 2) % 64),
                        static_cast<u16>((first + 3) % 64)};
            v.weights = {0.4f, 0.3f, 0.2f, 0.1f};
        }
        for (u32 i = 0; i + 2 < 1'650'000; i += 3) {
            const u32 base = static_cast<u32>(random() % (mesh.vertices.size() - 2));
            mesh.indices.insert(mesh.indices.end(), {base, base + 1, base + 2});
        }
        model.meshes.push_back(std::move(mesh));
    }
    return model;
}

std::filesystem::path largeModelPath() {
    const char* configured = std::getenv("KESTRUNE_BENCH_MODEL");
    const std::filesystem::path path =
        configured != nullptr ? std::filesystem::path(configured)
                              : std::filesystem::temp_directory_path() / "kestrune-bench-large.kmdl";
    if (!std::filesystem::exists(path)) {
        const std::vector<std::byte> bytes = writeModel(largeModel());
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    return path;
}

void BM_LoadModelFile(benchmark::State& state) {
    const std::filesystem::path path = largeModelPath();
    const auto sizeBytes = static_cast<i64>(std::filesystem::file_size(path));
    for (auto _ : state) {
        Model model = loadModelFile(path, ModelLimits{});
        benchmark::DoNotOptimize(model.sha256);
        state.PauseTiming();  // releasing the model is not part of loading it
        model = Model{};
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * sizeBytes);
    state.counters["fileMiB"] = static_cast<f64>(sizeBytes) / (1 << 20);
}
BENCHMARK(BM_LoadModelFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// The two halves of loading: the whole-file read, and decoding (with the digest) from memory.
void BM_ReadWholeFile(benchmark::State& state) {
    const std::filesystem::path path = largeModelPath();
    const auto sizeBytes = static_cast<i64>(std::filesystem::file_size(path));
    for (auto _ : state) {
        std::vector<std::byte> bytes = readWholeFile(path, ModelLimits{}.maxFileBytes, ContentFileKind::KestruneModel);
        benchmark::DoNotOptimize(bytes.data());
        state.PauseTiming();
        bytes = {};
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * sizeBytes);
}
BENCHMARK(BM_ReadWholeFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_ParseModel(benchmark::State& state) {
    const std::filesystem::path path = largeModelPath();
    const std::vector<std::byte> bytes =
        readWholeFile(path, ModelLimits{}.maxFileBytes, ContentFileKind::KestruneModel);
    for (auto _ : state) {
        Model model = parseModel(bytes, ModelLimits{}, "bench.kmdl");
        benchmark::DoNotOptimize(model.sha256);
        state.PauseTiming();
        model = Model{};
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<i64>(bytes.size()));
}
BENCHMARK(BM_ParseModel)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_Sha256(benchmark::State& state) {
    const auto path = static_cast<Sha256Path>(state.range(0));
    if (!isSha256PathAvailable(path)) {
        state.SkipWithError("this CPU has no SHA extensions");
        return;
    }
    std::vector<std::byte> data(64 << 20);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::byte>(i * 2654435761u >> 24);
    for (auto _ : state) benchmark::DoNotOptimize(sha256Digest(data, path));
    state.SetBytesProcessed(state.iterations() * static_cast<i64>(data.size()));
    state.SetLabel(path == Sha256Path::Portable ? "portable" : "SHA extensions");
}
BENCHMARK(BM_Sha256)->Arg(static_cast<int>(Sha256Path::Portable))->Arg(static_cast<int>(Sha256Path::ShaExtensions))
    ->Unit(benchmark::kMillisecond);

// Times drawn at random over the clip (both directions of travel, every segment).
std::vector<f64> randomTimes(f64 durationSeconds) {
    std::mt19937 random(42);
    std::uniform_real_distribution<f64> time(0.0, durationSeconds);
    std::vector<f64> times(4096);
    for (f64& t : times) t = time(random);
    return times;
}

void BM_SampleClipAndGlobals(benchmark::State& state) {
    const Model model = skeletonModel(1, 2.0f);
    const std::vector<f64> times = randomTimes(2.0);
    std::vector<Transform> locals(kSkeletonNodes);
    std::vector<Matrix4> globals(kSkeletonNodes);
    std::size_t next = 0;
    for (auto _ : state) {
        sampleClip(model, model.clips[0], times[next++ % times.size()], true, locals);
        computeGlobalMatrices(model, locals, globals);
        benchmark::DoNotOptimize(globals.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSkeletonNodes);
}
BENCHMARK(BM_SampleClipAndGlobals)->Unit(benchmark::kMicrosecond);

void BM_SampleClip(benchmark::State& state) {
    const Model model = skeletonModel(1, 2.0f);
    const std::vector<f64> times = randomTimes(2.0);
    std::vector<Transform> locals(kSkeletonNodes);
    std::size_t next = 0;
    for (auto _ : state) {
        sampleClip(model, model.clips[0], times[next++ % times.size()], true, locals);
        benchmark::DoNotOptimize(locals.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSkeletonNodes);
}
BENCHMARK(BM_SampleClip)->Unit(benchmark::kMicrosecond);

void BM_ComputeGlobalMatrices(benchmark::State& state) {
    const Model model = skeletonModel(1, 2.0f);
    std::vector<Transform> locals(kSkeletonNodes);
    sampleClip(model, model.clips[0], 0.77, true, locals);
    std::vector<Matrix4> globals(kSkeletonNodes);
    for (auto _ : state) {
        computeGlobalMatrices(model, locals, globals);
        benchmark::DoNotOptimize(globals.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSkeletonNodes);
}
BENCHMARK(BM_ComputeGlobalMatrices)->Unit(benchmark::kMicrosecond);

// Two poses of different clips at unrelated times: rotations far apart, so most joints slerp.
void BM_BlendPoses(benchmark::State& state) {
    const Model model = skeletonModel(2, 2.0f);
    const std::vector<f64> times = randomTimes(2.0);
    constexpr std::size_t kPosePairs = 64;
    std::vector<std::vector<Transform>> a(kPosePairs, std::vector<Transform>(kSkeletonNodes));
    std::vector<std::vector<Transform>> b = a;
    for (std::size_t i = 0; i < kPosePairs; ++i) {
        sampleClip(model, model.clips[0], times[2 * i], true, a[i]);
        sampleClip(model, model.clips[1], times[2 * i + 1], true, b[i]);
    }
    std::vector<Transform> out(kSkeletonNodes);
    std::size_t next = 0;
    for (auto _ : state) {
        const std::size_t i = next++ % kPosePairs;
        blendPoses(a[i], b[i], 0.1f + 0.8f * static_cast<f32>(i) / kPosePairs, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSkeletonNodes);
}
BENCHMARK(BM_BlendPoses)->Unit(benchmark::kMicrosecond);

// The kernels behind blendPoses and computeGlobalMatrices, each forced, on the same poses.
// The kernel named by the benchmark's argument; false after skipping one the processor lacks.
bool chooseKernel(benchmark::State& state, TransformKernel& kernel) {
    kernel = static_cast<TransformKernel>(state.range(0));
    if (!isTransformKernelAvailable(kernel)) {
        state.SkipWithError("this processor lacks the kernel's instructions");
        return false;
    }
    state.SetLabel(kernel == TransformKernel::sse2 ? "sse2" : "avx2");
    return true;
}

void BM_InterpolateTransformsWith(benchmark::State& state) {
    TransformKernel kernel;
    if (!chooseKernel(state, kernel)) return;
    const Model model = skeletonModel(2, 2.0f);
    std::vector<Transform> a(kSkeletonNodes), b(kSkeletonNodes), out(kSkeletonNodes);
    sampleClip(model, model.clips[0], 0.3, true, a);
    sampleClip(model, model.clips[1], 1.7, true, b);
    for (auto _ : state) {
        interpolateTransformsWith(kernel, a, b, 0.4f, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSkeletonNodes);
}
BENCHMARK(BM_InterpolateTransformsWith)
    ->Arg(static_cast<int>(TransformKernel::sse2))->Arg(static_cast<int>(TransformKernel::avx2))
    ->Unit(benchmark::kMicrosecond);

void BM_GlobalMatricesWith(benchmark::State& state) {
    TransformKernel kernel;
    if (!chooseKernel(state, kernel)) return;
    const Model model = skeletonModel(1, 2.0f);
    std::vector<Transform> locals(kSkeletonNodes);
    sampleClip(model, model.clips[0], 0.77, true, locals);
    std::vector<Matrix4> globals(kSkeletonNodes);
    for (auto _ : state) {
        transformsToMatricesWith(kernel, locals, globals);
        composeGlobalMatricesWith(kernel, model.nodes, model.nodeOrder, globals);
        benchmark::DoNotOptimize(globals.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSkeletonNodes);
}
BENCHMARK(BM_GlobalMatricesWith)
    ->Arg(static_cast<int>(TransformKernel::sse2))->Arg(static_cast<int>(TransformKernel::avx2))
    ->Unit(benchmark::kMicrosecond);

void BM_SkinningPalette(benchmark::State& state) {
    Model model = skeletonModel(1, 2.0f);
    Skin skin;
    skin.name = "body";
    for (u32 j = 0; j < kSkeletonNodes; ++j) {
        skin.joints.push_back(j);
        Matrix4 identity;
        identity[0] = identity[5] = identity[10] = identity[15] = 1.0f;
        skin.inverseBindMatrices.push_back(identity);
    }
    model.skins.push_back(skin);
    Mesh mesh;
    mesh.node = 0;
    mesh.skin = 0;
    const Pose pose = evaluateClip(model, model.clips[0], 0.5, true);
    std::vector<Matrix4> palette(kSkeletonNodes);
    for (auto _ : state) {
        computeSkinningPalette(model, mesh, pose.globals, palette);
        benchmark::DoNotOptimize(palette.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSkeletonNodes);
}
BENCHMARK(BM_SkinningPalette)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kestrune::content
