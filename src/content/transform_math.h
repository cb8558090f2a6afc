#pragma once
// Matrix and transform operations of poses and skinning, in the row-vector convention:
// 16 floats row by row, p' = p x M, translation in elements 12..14, A x B applies A
// first. Pure functions over values; the only failures are affineInverse's ContentErrors.

#include <array>

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
// length (taken in double precision) is not finite or at most 1e-20.
std::array<f32, 4> normalizeQuaternion(const std::array<f32, 4>& q) noexcept;

// Component-wise lerp of translation and scale, shortest-arc slerp of rotation (nlerp
// when the rotations are nearly equal); t is clamped to [0, 1].
Transform interpolateTransform(const Transform& a, const Transform& b, f32 t) noexcept;

}  // namespace kestrune::content
