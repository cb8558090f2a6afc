#pragma once
// Camera and matrix arithmetic of the renderer, in the row-vector convention
// (p' = p x M, translation in elements 12..14, A x B applies A first). Left-handed:
// x right, y up, z into the screen; clip depth runs from 0 at the near plane to 1 at the far one.

#include "render/render_types.h"

namespace kestrune::render {

// Squared lengths at or below this normalize to the zero vector instead of dividing by ~0.
inline constexpr f32 kMinSquaredLength = 1e-12f;
// Aspect ratios below this are clamped so a degenerate viewport cannot divide by zero.
inline constexpr f32 kMinAspect = 0.001f;

Vec3 subtract(const Vec3& a, const Vec3& b) noexcept;
Vec3 cross(const Vec3& a, const Vec3& b) noexcept;
f32 dot(const Vec3& a, const Vec3& b) noexcept;
Vec3 normalizeOrZero(const Vec3& v) noexcept;

// a x b: applies a first, then b.
Matrix4 multiply(const Matrix4& a, const Matrix4& b) noexcept;

Matrix4 lookAtLeftHanded(const Vec3& eye, const Vec3& target, const Vec3& up) noexcept;
// aspect = width / height, or 1 when the height is not positive.
Matrix4 perspectiveLeftHanded(f32 fieldOfViewYRadians, f32 viewportWidth, f32 viewportHeight, f32 nearPlane,
                              f32 farPlane) noexcept;

// The screen's right and up directions in world space for camera-facing quads.
struct CameraBasis {
    Vec3 right{};
    Vec3 up{};
};
CameraBasis cameraFacingBasis(const Camera& camera) noexcept;

}  // namespace kestrune::render
