#include "render/camera_math.h"

#include <algorithm>
#include <cmath>

namespace kestrune::render {

Vec3 subtract(const Vec3& a, const Vec3& b) noexcept { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }

Vec3 cross(const Vec3& a, const Vec3& b) noexcept {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

f32 dot(const Vec3& a, const Vec3& b) noexcept { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

Vec3 normalizeOrZero(const Vec3& v) noexcept {
    const f32 squared = dot(v, v);
    if (!(squared > kMinSquaredLength)) {
        return {0.0f, 0.0f, 0.0f};
    }
    const f32 inverse = 1.0f / std::sqrt(squared);
    return {v[0] * inverse, v[1] * inverse, v[2] * inverse};
}

Matrix4 multiply(const Matrix4& a, const Matrix4& b) noexcept {
    Matrix4 out;
    for (std::size_t row = 0; row < 4; ++row) {
        for (std::size_t column = 0; column < 4; ++column) {
            f32 sum = 0.0f;
            for (std::size_t k = 0; k < 4; ++k) {
                sum += a[row * 4 + k] * b[k * 4 + column];
            }
            out[row * 4 + column] = sum;
        }
    }
    return out;
}

Matrix4 lookAtLeftHanded(const Vec3& eye, const Vec3& target, const Vec3& up) noexcept {
    const Vec3 f = normalizeOrZero(subtract(target, eye));
    const Vec3 s = normalizeOrZero(cross(up, f));
    const Vec3 u = cross(f, s);
    Matrix4 m;
    m.m = {s[0], u[0], f[0], 0.0f,  //
           s[1], u[1], f[1], 0.0f,  //
           s[2], u[2], f[2], 0.0f,  //
           -dot(s, eye), -dot(u, eye), -dot(f, eye), 1.0f};
    return m;
}

Matrix4 perspectiveLeftHanded(f32 fieldOfViewYRadians, f32 viewportWidth, f32 viewportHeight, f32 nearPlane,
                              f32 farPlane) noexcept {
    const f32 aspect = viewportHeight > 0.0f ? viewportWidth / viewportHeight : 1.0f;
    const f32 yScale = 1.0f / std::tan(fieldOfViewYRadians * 0.5f);
    const f32 xScale = yScale / std::max(aspect, kMinAspect);
    const f32 q = farPlane / (farPlane - nearPlane);
    Matrix4 m;
    m.m = {xScale, 0.0f, 0.0f, 0.0f,  //
           0.0f, yScale, 0.0f, 0.0f,  //
           0.0f, 0.0f, q, 1.0f,       //
           0.0f, 0.0f, -nearPlane * q, 0.0f};
    return m;
}

CameraBasis cameraFacingBasis(const Camera& camera) noexcept {
    const Vec3 f = normalizeOrZero(subtract(camera.target, camera.eye));
    const Vec3 r = normalizeOrZero(cross(camera.up, f));
    const Vec3 u = normalizeOrZero(cross(f, r));
    return {r, u};
}

}  // namespace kestrune::render
