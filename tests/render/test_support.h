#pragma once
// Small helpers shared by the renderer suites.

#include <array>

#include "render/render_types.h"

namespace kestrune::render::testing {

// Row vector (x, y, z, 1) times m.
inline std::array<f32, 4> transformPoint(const Matrix4& m, const Vec3& p) {
    std::array<f32, 4> out{};
    for (std::size_t column = 0; column < 4; ++column) {
        out[column] = p[0] * m[column] + p[1] * m[4 + column] + p[2] * m[8 + column] + m[12 + column];
    }
    return out;
}

inline Matrix4 translation(f32 x, f32 y, f32 z) {
    Matrix4 m = identityMatrix();
    m[12] = x;
    m[13] = y;
    m[14] = z;
    return m;
}

}  // namespace kestrune::render::testing
