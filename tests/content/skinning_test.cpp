#include "content/skinning.h"

#include <gtest/gtest.h>

#include <cmath>

#include "content/animation.h"
#include "content_test_support.h"
#include "sample_models.h"

namespace kestrune::content {
namespace {

using namespace test;

// Three nodes: a root, a joint chain of two under it; the mesh sits on the root.
struct SkinnedFixture {
    Model model;
    std::vector<Transform> bindLocals;

    SkinnedFixture() {
        for (const char* name : {"root", "upper", "lower"}) {
            Node node;
            node.name = name;
            node.parent = static_cast<i32>(model.nodes.size()) - 1;
            model.nodes.push_back(node);
        }
        model.nodeOrder = {0, 1, 2};
        bindLocals = {Transform{}, translationTransform(0, 1, 0), translationTransform(0, 1, 0)};
        bindLocals[1].rotation = axisAngle(0, 0, 1, 0.3f);
        std::vector<Matrix4> bind(3);
        computeGlobalMatrices(model, bindLocals, bind);
        Skin skin;
        skin.name = "s";
        skin.joints = {1, 2};
        skin.inverseBindMatrices = {affineInverse(bind[1]), affineInverse(bind[2])};
        model.skins.push_back(skin);
        Mesh mesh;
        mesh.name = "m";
        mesh.node = 0;
        mesh.skin = 0;
        model.meshes.push_back(mesh);
        model.nodes[0].skin = 0;
        model.nodes[0].firstMesh = 0;
    }

    std::vector<Matrix4> globals(const std::vector<Transform>& locals) const {
        std::vector<Matrix4> out(model.nodes.size());
        computeGlobalMatrices(model, locals, out);
        return out;
    }
};

TEST(SkinningPalette, IsTheIdentityInTheBindPose) {
    const SkinnedFixture f;
    std::vector<Matrix4> palette(2);
    computeSkinningPalette(f.model, f.model.meshes[0], f.globals(f.bindLocals), palette);
    for (const Matrix4& m : palette) expectNear(m, identityMatrix(), 1e-6f);
}

TEST(SkinningPalette, AppliesInverseBindThenJointThenMeshInverse) {
    SkinnedFixture f;
    std::vector<Transform> posed = f.bindLocals;
    posed[2].rotation = axisAngle(1, 0, 0, 0.8f);
    posed[0].translation = {0, 0, 5};
    posed[0].rotation = axisAngle(0, 1, 0, 0.4f);
    const std::vector<Matrix4> globals = f.globals(posed);
    std::vector<Matrix4> palette(2);
    computeSkinningPalette(f.model, f.model.meshes[0], globals, palette);
    const Matrix4 meshInverse = affineInverse(globals[0]);
    for (std::size_t i = 0; i < 2; ++i) {
        const Matrix4 expected = multiplyMatrices(
            f.model.skins[0].inverseBindMatrices[i], multiplyMatrices(globals[f.model.skins[0].joints[i]], meshInverse));
        EXPECT_EQ(palette[i], expected) << "joint " << i;
    }
    // The lower joint turned about its own origin: a vertex there stays at the joint.
    const Matrix4& lower = palette[1];
    const f32 bindY = 1.0f + std::cos(0.3f);  // world height of the lower joint in the bind pose
    const f32 bindX = -std::sin(0.3f);
    const f32 y = bindX * lower[1] + bindY * lower[5] + lower[13];
    const f32 x = bindX * lower[0] + bindY * lower[4] + lower[12];
    EXPECT_NEAR(x, bindX, 1e-5f);
    EXPECT_NEAR(y, bindY, 1e-5f);
}

TEST(SkinningPalette, RejectsMismatchedStorageAndSingularMeshNodes) {
    SkinnedFixture f;
    std::vector<Matrix4> globals = f.globals(f.bindLocals);
    const Matrix4 sentinel = [] {
        Matrix4 m;
        m.m.fill(-3.0f);
        return m;
    }();
    std::vector<Matrix4> palette(2, sentinel);

    std::vector<Matrix4> zeroScale = globals;
    zeroScale[0][0] = 0.0f;
    expectError([&] { computeSkinningPalette(f.model, f.model.meshes[0], zeroScale, palette); },
                "affine matrix is singular");
    std::vector<Matrix4> projective = globals;
    projective[0][11] = 1.0f;
    expectError([&] { computeSkinningPalette(f.model, f.model.meshes[0], projective, palette); },
                "matrix is not affine");
    for (const Matrix4& m : palette) EXPECT_EQ(m, sentinel);

    std::vector<Matrix4> threePalette(3);
    expectError([&] { computeSkinningPalette(f.model, f.model.meshes[0], globals, threePalette); },
                "skinning palette has 3 matrices for 2 joints");
    expectError(
        [&] { computeSkinningPalette(f.model, f.model.meshes[0], std::span(globals).first(2), palette); },
        "skinning needs one global matrix per node (2 for 3 nodes)");

    Mesh rigid = f.model.meshes[0];
    rigid.skin = -1;
    EXPECT_NO_THROW(computeSkinningPalette(f.model, rigid, globals, {}));
    expectError([&] { computeSkinningPalette(f.model, rigid, globals, palette); },
                "a rigid mesh has no skinning palette (2 matrices given)");
}

TEST(SkinningPalette, MeshWithoutNodeUsesTheIdentity) {
    SkinnedFixture f;
    std::vector<Transform> posed = f.bindLocals;
    posed[0].translation = {3, 0, 0};
    const std::vector<Matrix4> globals = f.globals(posed);
    Mesh detached = f.model.meshes[0];
    detached.node = -1;
    std::vector<Matrix4> palette(2);
    computeSkinningPalette(f.model, detached, globals, palette);
    // Without the mesh node's inverse the root's translation stays in the palette.
    expectNear(palette[0], transformToMatrix(translationTransform(3, 0, 0)), 1e-5f);
}

}  // namespace
}  // namespace kestrune::content
