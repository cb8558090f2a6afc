// The per-frame operations run for every character in every frame: they must not touch
// the heap. This file replaces the global allocation functions of the test program to
// count calls on the current thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "content/animation.h"
#include "content/skinning.h"
#include "sample_models.h"

namespace {
thread_local std::size_t allocationCount = 0;
}  // namespace

void* operator new(std::size_t sizeBytes) {
    ++allocationCount;
    if (void* p = std::malloc(sizeBytes == 0 ? 1 : sizeBytes)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

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
    const std::size_t before = allocationCount;
    for (f64 time = -0.3; time < 2.0; time += 0.05) {
        sampleClip(model, walk, time, true, locals);
        sampleClip(model, model.clips[0], time, false, other);
        blendPoses(locals, other, 0.3f, locals);
        computeGlobalMatrices(model, locals, globals);
        computeSkinningPalette(model, model.meshes[0], globals, palette);
        found = found && findClip(model, "Idle") != nullptr;
    }
    EXPECT_EQ(allocationCount - before, 0u);
    EXPECT_TRUE(found);
    // The counter does count: evaluateClip builds a pose.
    const Pose pose = evaluateClip(model, walk, 0.1, true);
    EXPECT_GE(allocationCount - before, 2u);
    EXPECT_EQ(pose.globals.size(), model.nodes.size());
}

}  // namespace
}  // namespace kestrune::content
