// The per-frame operations run for every character in every frame: they must not touch
// the heap. The program's global allocation functions count every call.
#include <gtest/gtest.h>

#include "content/animation.h"
#include "content/skinning.h"
#include "effects/allocation_counter.h"
#include "sample_models.h"

namespace kestrune::content {
namespace {

using namespace test;

TEST(PerFrameOperations, AllocateNothing) {
    const Model model = richModel();
    const AnimationClip& walk = *findClip(model, "walk");
    std::vector<Transform> locals(model.nodes.size());
    std::vector<Transform> other(model.nodes.size());
    std::vector<Matrix4> globals(model.nodes.size());
    std::vector<Matrix4> palette(model.skins[0].joints.size());

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
    EXPECT_EQ(kestrune::test::allocationCount() - before, 0u);
    EXPECT_TRUE(found);
    // The counter does count: evaluateClip builds a pose.
    const Pose pose = evaluateClip(model, walk, 0.1, true);
    EXPECT_GE(kestrune::test::allocationCount() - before, 2u);
    EXPECT_EQ(pose.globals.size(), model.nodes.size());
}

}  // namespace
}  // namespace kestrune::content
