#include "content/transform_math.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>

#include "content/transform_kernels.h"
#include "content/transform_lanes.h"

// Index:
//   Section: Scalar operations  - the definitions the vector kernels reproduce bit for bit
//   Section: Kernel choice      - which kernel runs the span operations

namespace kestrune::content {
namespace {

constexpr f32 kAffineTolerance = 1e-5f;
constexpr f64 kSingularDeterminant = 1e-12;

}  // namespace

// ---- Section: Scalar operations ----

Matrix4 identityMatrix() noexcept {
    Matrix4 m;
    m[0] = m[5] = m[10] = m[15] = 1.0f;
    return m;
}

std::array<f32, 4> normalizeQuaternion(const std::array<f32, 4>& q) noexcept {
    const f64 x = q[0], y = q[1], z = q[2], w = q[3];
    const f64 lengthSquared = x * x + y * y + z * z + w * w;
    if (!(lengthSquared > kDegenerateQuaternionLengthSquared) || !(lengthSquared <= DBL_MAX)) {
        return kIdentityRotation;
    }
    if (lengthSquared > kLargeQuaternionLengthSquared) {
        const f64 inverseLength = 1.0 / std::sqrt(lengthSquared);
        return {static_cast<f32>(x * inverseLength), static_cast<f32>(y * inverseLength),
                static_cast<f32>(z * inverseLength), static_cast<f32>(w * inverseLength)};
    }
    // Double precision decides; scaling needs no more than single precision, whose sum of
    // squares the vector kernels form without converting a lane.
    const f32 inverseLength = 1.0f / std::sqrt(lengthSquaredSingle(q[0], q[1], q[2], q[3]));
    return {q[0] * inverseLength, q[1] * inverseLength, q[2] * inverseLength, q[3] * inverseLength};
}

Matrix4 transformToMatrix(const Transform& transform) noexcept {
    const auto [x, y, z, w] = normalizeQuaternion(transform.rotation);
    const auto [sx, sy, sz] = transform.scale;
    const auto [tx, ty, tz] = transform.translation;
    Matrix4 m;
    m[0] = (1.0f - 2.0f * (y * y + z * z)) * sx;
    m[1] = (2.0f * x * y + 2.0f * z * w) * sx;
    m[2] = (2.0f * x * z - 2.0f * y * w) * sx;
    m[3] = 0.0f;
    m[4] = (2.0f * x * y - 2.0f * z * w) * sy;
    m[5] = (1.0f - 2.0f * (x * x + z * z)) * sy;
    m[6] = (2.0f * y * z + 2.0f * x * w) * sy;
    m[7] = 0.0f;
    m[8] = (2.0f * x * z + 2.0f * y * w) * sz;
    m[9] = (2.0f * y * z - 2.0f * x * w) * sz;
    m[10] = (1.0f - 2.0f * (x * x + y * y)) * sz;
    m[11] = 0.0f;
    m[12] = tx;
    m[13] = ty;
    m[14] = tz;
    m[15] = 1.0f;
    return m;
}

Matrix4 multiplyMatrices(const Matrix4& first, const Matrix4& second) noexcept {
    Matrix4 out;
    sse2::multiplyMatrices(first.m.data(), second.m.data(), out.m.data());
    return out;
}

Matrix4 affineInverse(const Matrix4& m) {
    if (std::fabs(m[3]) > kAffineTolerance || std::fabs(m[7]) > kAffineTolerance ||
        std::fabs(m[11]) > kAffineTolerance || std::fabs(m[15] - 1.0f) > kAffineTolerance) {
        throw ContentError("matrix is not affine");
    }
    const f64 a = m[0], b = m[1], c = m[2];
    const f64 d = m[4], e = m[5], f = m[6];
    const f64 g = m[8], h = m[9], i = m[10];
    // Cofactors of the upper-left block; the adjugate is their transpose.
    const f64 c00 = e * i - f * h, c01 = f * g - d * i, c02 = d * h - e * g;
    const f64 c10 = c * h - b * i, c11 = a * i - c * g, c12 = b * g - a * h;
    const f64 c20 = b * f - c * e, c21 = c * d - a * f, c22 = a * e - b * d;
    const f64 determinant = a * c00 + b * c01 + c * c02;
    if (!std::isfinite(determinant) || std::fabs(determinant) <= kSingularDeterminant) {
        throw ContentError("affine matrix is singular");
    }
    const f64 inverseDeterminant = 1.0 / determinant;
    const std::array<f64, 9> inverse = {
        c00 * inverseDeterminant, c10 * inverseDeterminant, c20 * inverseDeterminant,
        c01 * inverseDeterminant, c11 * inverseDeterminant, c21 * inverseDeterminant,
        c02 * inverseDeterminant, c12 * inverseDeterminant, c22 * inverseDeterminant,
    };
    Matrix4 out;
    for (std::size_t row = 0; row < 3; ++row) {
        for (std::size_t column = 0; column < 3; ++column) {
            out[4 * row + column] = static_cast<f32>(inverse[3 * row + column]);
        }
    }
    // The translation row moves the original translation back: -(t x inverse).
    const f64 tx = m[12], ty = m[13], tz = m[14];
    for (std::size_t column = 0; column < 3; ++column) {
        out[12 + column] =
            static_cast<f32>(-(tx * inverse[column] + ty * inverse[3 + column] + tz * inverse[6 + column]));
    }
    out[15] = 1.0f;
    return out;
}

namespace {

inline void lerpTranslationAndScale(const Transform& a, const Transform& b, f32 t, Transform& out) noexcept {
    for (std::size_t i = 0; i < 3; ++i) {
        out.translation[i] = a.translation[i] + (b.translation[i] - a.translation[i]) * t;
        out.scale[i] = a.scale[i] + (b.scale[i] - a.scale[i]) * t;
    }
}

}  // namespace

Transform interpolateTransform(const Transform& a, const Transform& b, f32 t) noexcept {
    t = std::clamp(t, 0.0f, 1.0f);
    Transform out;
    lerpTranslationAndScale(a, b, t, out);

    const std::array<f32, 4> qa = normalizeQuaternion(a.rotation);
    std::array<f32, 4> qb = normalizeQuaternion(b.rotation);
    f32 d = qa[0] * qb[0] + qa[1] * qb[1] + qa[2] * qb[2] + qa[3] * qb[3];
    if (d < 0.0f) {
        // q and -q are the same rotation: take the shorter way round.
        for (f32& c : qb) c = -c;
        d = -d;
    }
    d = std::min(d, 1.0f);

    std::array<f32, 4> r;
    if (d > kNlerpDotThreshold) {
        for (std::size_t i = 0; i < 4; ++i) r[i] = qa[i] + (qb[i] - qa[i]) * t;
    } else {
        const f32 theta = acosUnit(d);
        const f32 s = sinHalfQuadrant(theta);
        if (std::fabs(s) <= kMinSlerpSine) {
            out.rotation = qa;
            return out;
        }
        const f32 wa = sinHalfQuadrant((1.0f - t) * theta) / s;
        const f32 wb = sinHalfQuadrant(t * theta) / s;
        for (std::size_t i = 0; i < 4; ++i) r[i] = qa[i] * wa + qb[i] * wb;
    }
    out.rotation = normalizeQuaternion(r);
    return out;
}

// ---- Section: Kernel choice ----

namespace {

bool cpuHasAvx2() noexcept {
    // The built-ins also check that the system saves the 256-bit registers (XGETBV).
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

}  // namespace

bool isTransformKernelAvailable(TransformKernel kernel) noexcept {
    static const bool hasAvx2 = cpuHasAvx2();
    return kernel != TransformKernel::avx2 || hasAvx2;
}

namespace {

TransformKernel fastestKernel() noexcept {
    return isTransformKernelAvailable(TransformKernel::avx2) ? TransformKernel::avx2 : TransformKernel::sse2;
}

}  // namespace

void interpolateTransformsWith(TransformKernel kernel, std::span<const Transform> a, std::span<const Transform> b,
                               f32 t, std::span<Transform> out) noexcept {
    t = std::clamp(t, 0.0f, 1.0f);
    if (kernel == TransformKernel::avx2) {
        avx2::interpolateTransforms(a, b, t, out);
    } else {
        sse2::interpolateTransforms(a, b, t, out);
    }
}

void transformsToMatricesWith(TransformKernel kernel, std::span<const Transform> in,
                              std::span<Matrix4> out) noexcept {
    if (kernel == TransformKernel::avx2) {
        avx2::transformsToMatrices(in, out);
    } else {
        sse2::transformsToMatrices(in, out);
    }
}

void composeGlobalMatricesWith(TransformKernel kernel, std::span<const Node> nodes, std::span<const u32> order,
                               std::span<Matrix4> matrices) noexcept {
    if (kernel == TransformKernel::avx2) {
        avx2::composeGlobalMatrices(nodes, order, matrices);
    } else {
        sse2::composeGlobalMatrices(nodes, order, matrices);
    }
}

void interpolateTransforms(std::span<const Transform> a, std::span<const Transform> b, f32 t,
                           std::span<Transform> out) noexcept {
    interpolateTransformsWith(fastestKernel(), a, b, t, out);
}

void transformsToMatrices(std::span<const Transform> in, std::span<Matrix4> out) noexcept {
    transformsToMatricesWith(fastestKernel(), in, out);
}

void composeGlobalMatrices(std::span<const Node> nodes, std::span<const u32> order,
                           std::span<Matrix4> matrices) noexcept {
    composeGlobalMatricesWith(fastestKernel(), nodes, order, matrices);
}

}  // namespace kestrune::content
