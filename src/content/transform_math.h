#pragma once
// Matrix and transform operations of poses and skinning, in the row-vector convention:
// 16 floats row by row, p' = p x M, translation in elements 12..14, A x B applies A
// first. Pure functions over values; the only failures are affineInverse's ContentErrors.

#include <array>
#include <span>

#include "base/types.h"
#include "content/model.h"

namespace kestrune::content {

Matrix4 identityMatrix() noexcept;

// Scale, then rotation (normalised first; the identity when degenerate), then translation.
Matrix4 transformToMatrix(const Transform& transform) noexcept;

// first x second in single precision: the result applies `first`, then `second`.
Matrix4 multiplyMatrices(const Matrix4& first, const Matrix4& second) noexcept;

// Inverse of an affine matrix (last column 0, 0, 0, 1 within 1e-5). Throws ContentError
// "matrix is not affine" or "affine matrix is singular" (|det| <= 1e-12 or not finite).
Matrix4 affineInverse(const Matrix4& matrix);

// Unit quaternion in the direction of q; the identity (0, 0, 0, 1) when the squared
// length (taken in double precision) is not finite or at most 1e-20. The scale is the
// inverse square root of the single-precision sum of squares, or of the double-precision
// one for a quaternion too long for single precision to square.
std::array<f32, 4> normalizeQuaternion(const std::array<f32, 4>& q) noexcept;

// Component-wise lerp of translation and scale, shortest-arc slerp of rotation (nlerp
// when the rotations are nearly equal); t is clamped to [0, 1]. The trigonometry is
// single precision (polynomials accurate to about one unit in the last place).
Transform interpolateTransform(const Transform& a, const Transform& b, f32 t) noexcept;

// The kernels of the span operations below, by name, so each can be checked against the
// scalar definitions; every kernel gives their results bit for bit.
enum class TransformKernel : u8 {
    sse2,  // four transforms per register; every x86-64 processor
    avx2,  // eight per register; where the processor and the system support AVX2
};

bool isTransformKernelAvailable(TransformKernel kernel) noexcept;

// out[i] = interpolateTransform(a[i], b[i], t) with the fastest available kernel. The three
// spans must have one size; out may be the storage of a or b.
void interpolateTransforms(std::span<const Transform> a, std::span<const Transform> b, f32 t,
                           std::span<Transform> out) noexcept;

// out[i] = transformToMatrix(in[i]) with the fastest available kernel; sizes must match.
void transformsToMatrices(std::span<const Transform> in, std::span<Matrix4> out) noexcept;

// Turns local matrices into global ones in place: for each node of `order` (parents
// before children), matrices[node] = matrices[node] x matrices[parent] when it has one,
// as multiplyMatrices computes it. `matrices` holds one entry per node and `order` only
// valid node indices.
void composeGlobalMatrices(std::span<const Node> nodes, std::span<const u32> order,
                           std::span<Matrix4> matrices) noexcept;

// The same three with `kernel`, which must be available.
void interpolateTransformsWith(TransformKernel kernel, std::span<const Transform> a, std::span<const Transform> b,
                               f32 t, std::span<Transform> out) noexcept;
void transformsToMatricesWith(TransformKernel kernel, std::span<const Transform> in,
                              std::span<Matrix4> out) noexcept;
void composeGlobalMatricesWith(TransformKernel kernel, std::span<const Node> nodes, std::span<const u32> order,
                               std::span<Matrix4> matrices) noexcept;

}  // namespace kestrune::content
