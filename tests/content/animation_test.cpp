#include "content/animation.h"

#include <cmath>
#include <limits>
#include <numbers>

#include "content/skinning.h"
#include "content_test_support.h"
#include "effects/allocation_counter.h"
#include "sample_models.h"

namespace kestrune::content {
namespace {

using namespace test;

// Frame f of node n sits at x = 10 f + n, so a blend shows up as a fractional x.
Transform marker(u32 frame, u32 node) { return translationTransform(static_cast<f32>(10 * frame + node), 0.0f, 0.0f); }

// A chain of `nodeCount` nodes (each the child of the one before) with one clip.
Model chainModel(u32 nodeCount, f32 durationSeconds, f32 rate) {
    Model model{.materials = {{.name = "m"}}, .clips = {makeClip("clip", durationSeconds, rate, nodeCount, marker)}};
    for (u32 i = 0; i < nodeCount; ++i) {
        model.nodes.push_back({.name = "n" + std::to_string(i), .parent = static_cast<i32>(i) - 1});
        model.nodeOrder.push_back(i);
    }
    return model;
}

TEST(SampleClip, ChoosesAndBlendsFramesRejectsBadInputsWithoutTouchingTheOutputAndLooksUpSamplesAndClips) {
    const Model quarter = chainModel(2, 0.875f, 4.0f);  // frames at 0, .25, .5, .75, .875
    const Model tenth = chainModel(2, 1.0f, 10.0f);     // frames at 0, .1, ..., 1
    const Model still = chainModel(2, 0.0f, 30.0f);     // two frames, both at 0
    // node0X: 10 x (frame position).
    const struct { const char* name; const Model& model; f64 time; bool loop; f32 node0X; } cases[] = {
        {"start", quarter, 0.0, false, 0.0f}, {"between frames 1 and 2", quarter, 0.375, false, 15.0f},
        {"on frame 3", quarter, 0.75, false, 30.0f},
        {"final segment, which ends at the duration", quarter, 0.8125, false, 35.0f},
        {"at the duration", quarter, 0.875, false, 40.0f}, {"past the duration, clamped", quarter, 9.0, false, 40.0f},
        {"negative, clamped", quarter, -0.3, false, 0.0f},
        {"looping past the end wraps", quarter, 0.875 + 0.375, true, 15.0f},
        {"looping at a whole number of durations", quarter, 3 * 0.875, true, 0.0f},
        {"looping backwards", quarter, -0.5, true, 15.0f}, {"rate 10, final segment", tenth, 0.95, false, 95.0f},
        {"rate 10, looping at -0.1 is 0.9", tenth, -0.1, true, 90.0f},
        {"rate 10, mid segment", tenth, 0.43, false, 43.0f}, {"zero duration", still, 0.5, false, 0.0f},
        {"zero duration, negative and looping", still, -2.0, true, 0.0f},
        {"zero duration, far on and looping", still, 1e9, true, 0.0f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Transform> out(2);
        sampleClip(c.model, c.model.clips[0], c.time, c.loop, out);
        EXPECT_NEAR(out[0].translation[0], c.node0X, 1e-4f);
        EXPECT_NEAR(out[1].translation[0], c.node0X + 1.0f, 1e-4f);  // node 1 comes from the same frames
    }
    // A frame chosen without a blend is copied as stored, even an unnormalised rotation.
    Model model = chainModel(1, 0.5f, 2.0f);
    model.clips[0].samples[1].rotation = {0.0f, 0.0f, 0.0f, 1.01f};
    std::vector<Transform> out(1);
    sampleClip(model, model.clips[0], 0.5, false, out);
    EXPECT_EQ(out[0], model.clips[0].samples[1]);

    // Bad inputs are refused without touching the output.
    const Transform sentinel = translationTransform(-7.0f, -7.0f, -7.0f);
    const auto broken = [&](const std::function<void(AnimationClip&)>& breakIt) {
        AnimationClip clip = tenth.clips[0];
        breakIt(clip);
        return clip;
    };
    const char* const nodes = "animation clip/output node count differs from model";
    const char* const storage = "animation clip storage is inconsistent";
    const struct { const char* name; AnimationClip clip; std::size_t outCount; f64 time; const char* message; }
        bad[] = {
        {"output too small", tenth.clips[0], 1, 0.5, nodes},
        {"clip of another model", broken([](AnimationClip& c) { c.nodeCount = 3; }), 2, 0.5, nodes},
        {"NaN time", tenth.clips[0], 2, std::nan(""), "animation time must be finite"},
        {"infinite time", tenth.clips[0], 2, -std::numeric_limits<f64>::infinity(), "animation time must be finite"},
        {"one frame", broken([](AnimationClip& c) { c.frameCount = 1; }), 2, 0.5, storage},
        {"zero rate", broken([](AnimationClip& c) { c.sampleRate = 0.0f; }), 2, 0.5, storage},
        {"missing samples", broken([](AnimationClip& c) { c.samples.pop_back(); }), 2, 0.5, storage}};
    for (const auto& c : bad) {
        SCOPED_TRACE(c.name);
        std::vector<Transform> out(c.outCount, sentinel);
        expectError([&] { sampleClip(tenth, c.clip, c.time, false, out); }, c.message);
        for (const Transform& t : out) EXPECT_EQ(t, sentinel);
    }

    // Samples are stored frame-major; clips are found by their exact bytes, the first of a name.
    const AnimationClip clip = chainModel(3, 1.0f, 10.0f).clips[0];
    EXPECT_EQ(clipSample(clip, 4, 2).translation[0], 42.0f);
    EXPECT_EQ(clipSample(clip, 10, 0).translation[0], 100.0f);
    expectError<std::out_of_range>([&] { clipSample(clip, 11, 0); }, "animation sample index is out of range");
    expectError<std::out_of_range>([&] { clipSample(clip, 0, 3); }, "animation sample index is out of range");

    model = richModel();
    EXPECT_EQ(std::tuple(findClip(model, "walk"), findClip(model, "Idle"), findClip(model, "idle")),
              std::tuple(&model.clips[1], &model.clips[2], &model.clips[0]));
    using namespace std::string_view_literals;
    EXPECT_EQ(std::tuple(findClip(model, "WALK"), findClip(model, "wal"), findClip(model, "walk\0"sv)),
              std::tuple(nullptr, nullptr, nullptr));
    model.clips.push_back(model.clips[1]);  // not a loadable model, but the first still wins
    EXPECT_EQ(findClip(model, "walk"), &model.clips[1]);
}

TEST(Poses, BlendEachNodeMayWriteOverAnInputAndCombineLocalsDownTheHierarchy) {
    std::vector<Transform> a = {translationTransform(0, 0, 0), translationTransform(2, 0, 0)};
    std::vector<Transform> b = {translationTransform(4, 0, 0), translationTransform(2, 8, 0)};
    b[1].rotation = axisAngle(0, 1, 0, 1.0f);
    std::vector<Transform> separate(2);
    blendPoses(a, b, 0.25f, separate);
    EXPECT_EQ(separate[0].translation, (std::array<f32, 3>{1, 0, 0}));
    EXPECT_EQ(separate[1], interpolateTransform(a[1], b[1], 0.25f));
    std::vector<Transform> intoA = a, intoB = b;  // writing over either input gives the same
    blendPoses(intoA, b, 0.25f, intoA);
    blendPoses(a, intoB, 0.25f, intoB);
    EXPECT_EQ(std::tuple(intoA, intoB), std::tuple(separate, separate));
    std::vector<Transform> shortOut(1);
    expectError([&] { blendPoses(a, b, 0.5f, shortOut); }, "pose blend transform counts differ");
    expectError([&] { blendPoses(a, std::span(b).first(1), 0.5f, separate); }, "pose blend transform counts differ");

    // Global matrices combine the locals down the hierarchy.
    // root turned a quarter about z; child one unit along the root's x; grandchild one more.
    Model model = chainModel(3, 0.0f, 1.0f);
    std::vector<Transform> locals = {Transform{}, translationTransform(1, 0, 0), translationTransform(1, 0, 0)};
    locals[0].rotation = axisAngle(0, 0, 1, std::numbers::pi_v<f32> / 2);
    locals[0].translation = {0, 0, 5};
    std::vector<Matrix4> globals(3);
    computeGlobalMatrices(model, locals, globals);
    expectNear(std::array{globals[1][12], globals[1][13], globals[1][14], globals[2][13]}, {0, 1, 5, 2}, 1e-6f);
    EXPECT_EQ(globals[2], multiplyMatrices(transformToMatrix(locals[2]), globals[1]));

    // Order follows nodeOrder, not index order: a parent stored after its child.
    Model reversed = model;
    reversed.nodes[0].parent = 1;
    reversed.nodes[1].parent = -1;
    reversed.nodeOrder = {1, 0, 2};
    std::vector<Matrix4> reversedGlobals(3);
    computeGlobalMatrices(reversed, locals, reversedGlobals);
    EXPECT_EQ(reversedGlobals[0], multiplyMatrices(transformToMatrix(locals[0]), transformToMatrix(locals[1])));

    const std::string storage = "pose/global matrix storage differs from model node count";
    std::vector<Matrix4> shortGlobals(2);
    expectError([&] { computeGlobalMatrices(model, locals, shortGlobals); }, storage);
    expectError([&] { computeGlobalMatrices(model, std::span(locals).first(2), shortGlobals); }, storage);
    Model noOrder = model;
    noOrder.nodeOrder.pop_back();
    expectError([&] { computeGlobalMatrices(noOrder, locals, globals); }, storage);
}

// Three nodes: a root, a joint chain of two under it; the mesh sits on the root.
struct SkinnedFixture {
    Model model{.nodes = {{.name = "root", .firstMesh = 0, .skin = 0}, {.name = "upper", .parent = 0},
                          {.name = "lower", .parent = 1}},
                .meshes = {{.name = "m", .node = 0, .skin = 0}}, .nodeOrder = {0, 1, 2}};
    std::vector<Transform> bindLocals{Transform{}, translationTransform(0, 1, 0), translationTransform(0, 1, 0)};

    SkinnedFixture() {
        bindLocals[1].rotation = axisAngle(0, 0, 1, 0.3f);
        const std::vector<Matrix4> bind = globals(bindLocals);
        model.skins = {{.name = "s", .joints = {1, 2},
                        .inverseBindMatrices = {affineInverse(bind[1]), affineInverse(bind[2])}}};
    }

    std::vector<Matrix4> globals(const std::vector<Transform>& locals) const {
        std::vector<Matrix4> out(model.nodes.size());
        computeGlobalMatrices(model, locals, out);
        return out;
    }
};

TEST(SkinningPalette, AppliesInverseBindThenJointThenMeshInverseAndRejectsBadStorageAndSingularMeshNodes) {
    SkinnedFixture f;
    std::vector<Matrix4> palette(2);
    computeSkinningPalette(f.model, f.model.meshes[0], f.globals(f.bindLocals), palette);
    for (const Matrix4& m : palette) expectNear(m, identityMatrix(), 1e-6f);  // the bind pose

    std::vector<Transform> posed = f.bindLocals;
    posed[2].rotation = axisAngle(1, 0, 0, 0.8f);
    posed[0].translation = {0, 0, 5};
    posed[0].rotation = axisAngle(0, 1, 0, 0.4f);
    computeSkinningPalette(f.model, f.model.meshes[0], f.globals(posed), palette);
    // The lower joint turned about its own origin: a vertex there stays at the joint.
    const Matrix4& lower = palette[1];
    const f32 bindY = 1.0f + std::cos(0.3f);  // world height of the lower joint in the bind pose
    const f32 bindX = -std::sin(0.3f);
    EXPECT_NEAR(bindX * lower[0] + bindY * lower[4] + lower[12], bindX, 1e-5f);
    EXPECT_NEAR(bindX * lower[1] + bindY * lower[5] + lower[13], bindY, 1e-5f);

    // Without a mesh node there is no mesh inverse: the root's translation stays in the palette.
    posed = f.bindLocals;
    posed[0].translation = {3, 0, 0};
    Mesh detached = f.model.meshes[0];
    detached.node = -1;
    computeSkinningPalette(f.model, detached, f.globals(posed), palette);
    expectNear(palette[0], transformToMatrix(translationTransform(3, 0, 0)), 1e-5f);

    // A refused palette is left as it was.
    std::vector<Matrix4> globals = f.globals(f.bindLocals);
    Matrix4 sentinel;
    sentinel.m.fill(-3.0f);
    palette.assign(2, sentinel);

    const Mesh& mesh = f.model.meshes[0];
    std::vector<Matrix4> zeroScale = globals;
    zeroScale[0][0] = 0.0f;
    expectError([&] { computeSkinningPalette(f.model, mesh, zeroScale, palette); }, "affine matrix is singular");
    std::vector<Matrix4> projective = globals;
    projective[0][11] = 1.0f;
    expectError([&] { computeSkinningPalette(f.model, mesh, projective, palette); }, "matrix is not affine");
    for (const Matrix4& m : palette) EXPECT_EQ(m, sentinel);

    std::vector<Matrix4> threePalette(3);
    expectError([&] { computeSkinningPalette(f.model, mesh, globals, threePalette); },
                "skinning palette has 3 matrices for 2 joints");
    expectError([&] { computeSkinningPalette(f.model, mesh, std::span(globals).first(2), palette); },
                "skinning needs one global matrix per node (2 for 3 nodes)");
    Mesh rigid = f.model.meshes[0];
    rigid.skin = -1;
    EXPECT_NO_THROW(computeSkinningPalette(f.model, rigid, globals, {}));
    expectError([&] { computeSkinningPalette(f.model, rigid, globals, palette); },
                "a rigid mesh has no skinning palette (2 matrices given)");
}

// The per-frame operations run for every character in every frame: they must not touch the
// heap. The program's global allocation functions count every call.
TEST(PerFrameOperations, AllocateNothing) {
    const Model model = richModel();
    const AnimationClip& walk = *findClip(model, "walk");
    std::vector<Transform> locals(model.nodes.size()), other(model.nodes.size());
    std::vector<Matrix4> globals(model.nodes.size()), palette(model.skins[0].joints.size());
    bool found = true;
    const std::size_t before = kestrune::test::allocationCount();
    for (f64 time = -0.3; time < 2.0; time += 0.05) {
        sampleClip(model, walk, time, true, locals);
        sampleClip(model, model.clips[0], time, false, other);
        blendPoses(locals, other, 0.3f, locals);
        computeGlobalMatrices(model, locals, globals);
        computeSkinningPalette(model, model.meshes[0], globals, palette);
        found = found && findClip(model, "Idle") != nullptr;
    }
    EXPECT_EQ(std::tuple(kestrune::test::allocationCount() - before, found), std::tuple(0u, true));
    // The counter does count: evaluateClip builds a pose, as sampling and combining do.
    const Pose pose = evaluateClip(model, walk, 0.1, true);
    EXPECT_GE(kestrune::test::allocationCount() - before, 2u);
    EXPECT_EQ(std::tuple(pose.locals.size(), pose.globals.size()), std::tuple(model.nodes.size(), model.nodes.size()));
    const Model chain = chainModel(3, 1.0f, 10.0f);
    const Pose chained = evaluateClip(chain, chain.clips[0], 1.25, true);  // wraps to 0.25
    EXPECT_NEAR(chained.locals[2].translation[0], 27.0f, 1e-4f);
    EXPECT_NEAR(chained.globals[2][12], 78.0f, 1e-3f);  // chained translations add up: 25 + 26 + 27
    expectError([&] { evaluateClip(model, walk, std::nan(""), true); }, "animation time must be finite");
}

}  // namespace
}  // namespace kestrune::content
