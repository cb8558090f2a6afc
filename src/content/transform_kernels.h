#pragma once
// The vector kernels behind the span operations of transform_math.h, one namespace per
// instruction set; each gives the scalar definitions' results bit for bit. Callers check
// sizes and availability; t arrives clamped to [0, 1].

#include <span>

#include "base/types.h"
#include "content/model.h"

namespace kestrune::content::sse2 {

void interpolateTransforms(std::span<const Transform> a, std::span<const Transform> b, f32 t,
                           std::span<Transform> out) noexcept;
void transformsToMatrices(std::span<const Transform> in, std::span<Matrix4> out) noexcept;
void composeGlobalMatrices(std::span<const Node> nodes, std::span<const u32> order,
                           std::span<Matrix4> matrices) noexcept;
// out = first x second; out may be first or second.
void multiplyMatrices(const f32* first, const f32* second, f32* out) noexcept;

}  // namespace kestrune::content::sse2

namespace kestrune::content::avx2 {

void interpolateTransforms(std::span<const Transform> a, std::span<const Transform> b, f32 t,
                           std::span<Transform> out) noexcept;
void transformsToMatrices(std::span<const Transform> in, std::span<Matrix4> out) noexcept;
void composeGlobalMatrices(std::span<const Node> nodes, std::span<const u32> order,
                           std::span<Matrix4> matrices) noexcept;

}  // namespace kestrune::content::avx2
