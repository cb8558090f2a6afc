#include "shapes.h"

#include <cmath>

namespace kestrune::baker {
namespace {

// Rings per quarter circle of a capsule's ends.
constexpr u32 kCapsuleEndRings = 4;

}  // namespace

Vec3 Frame::sideAxis() const noexcept {
    const Vec3 a = normalized(axis);
    return normalized(side - a * dot(side, a));
}

Vec3 Frame::frontAxis() const noexcept { return cross(sideAxis(), normalized(axis)); }

Vec3 Frame::at(f64 s, f64 a, f64 f) const noexcept {
    return origin + sideAxis() * s + normalized(axis) * a + frontAxis() * f;
}

Frame segmentFrame(Vec3 from, Vec3 to, Vec3 sideHint) noexcept {
    const Vec3 axis = normalized(to - from);
    Vec3 side = sideHint - axis * dot(sideHint, axis);
    if (dot(side, side) < 1e-8) {
        const Vec3 other = std::abs(axis.y) < 0.9 ? Vec3{0.0, 1.0, 0.0} : Vec3{0.0, 0.0, 1.0};
        side = cross(other, axis);
    }
    return {from, axis, normalized(side)};
}

RingSurface lathe(const Frame& frame, std::span<const ProfilePoint> profile, u32 segments, f64 sideScale,
                  f64 frontScale) {
    RingSurface surface;
    for (const ProfilePoint& point : profile) {
        std::vector<Vec3> ring;
        ring.reserve(segments);
        for (u32 i = 0; i < segments; ++i) {
            const f64 angle = kTwoPi * static_cast<f64>(i) / static_cast<f64>(segments);
            ring.push_back(frame.at(cosRadians(angle) * point.radius * sideScale, point.along,
                                    sinRadians(angle) * point.radius * frontScale));
        }
        surface.rings.push_back(std::move(ring));
    }
    return surface;
}

RingSurface lathe(const Frame& frame, std::initializer_list<ProfilePoint> profile, u32 segments, f64 sideScale,
                  f64 frontScale) {
    return lathe(frame, std::span<const ProfilePoint>(profile.begin(), profile.size()), segments, sideScale,
                 frontScale);
}

RingSurface capsule(Vec3 from, Vec3 to, f64 r0, f64 r1, u32 segments, f64 sideScale, f64 frontScale,
                    Vec3 sideHint) {
    const Frame frame = segmentFrame(from, to, sideHint);
    const f64 span = length(to - from);
    std::vector<ProfilePoint> profile;
    for (u32 k = 0; k <= kCapsuleEndRings; ++k) {
        const f64 angle = (kPi / 2.0) * static_cast<f64>(k) / kCapsuleEndRings;
        profile.push_back({-r0 * cosRadians(angle), r0 * sinRadians(angle)});
    }
    for (u32 k = kCapsuleEndRings + 1; k-- > 0;) {
        const f64 angle = (kPi / 2.0) * static_cast<f64>(k) / kCapsuleEndRings;
        profile.push_back({span + r1 * cosRadians(angle), r1 * sinRadians(angle)});
    }
    return lathe(frame, profile, segments, sideScale, frontScale);
}

RingSurface ellipsoid(const Frame& frame, Vec3 radii, u32 segments, u32 bands) {
    std::vector<ProfilePoint> profile;
    for (u32 k = 0; k <= bands; ++k) {
        const f64 angle = kPi * static_cast<f64>(k) / static_cast<f64>(bands);
        profile.push_back({-radii.y * cosRadians(angle), sinRadians(angle)});
    }
    return lathe(frame, profile, segments, radii.x, radii.z);
}

RingSurface torus(const Frame& frame, f64 majorRadius, f64 minorRadius, u32 majorSegments, u32 minorSegments) {
    RingSurface surface;
    for (u32 k = 0; k <= majorSegments; ++k) {
        const f64 around = kTwoPi * static_cast<f64>(k % majorSegments) / majorSegments;
        const Vec3 radial = frame.sideAxis() * cosRadians(around) + frame.frontAxis() * sinRadians(around);
        const Vec3 centre = frame.origin + radial * majorRadius;
        std::vector<Vec3> ring;
        for (u32 i = 0; i < minorSegments; ++i) {
            const f64 a = kTwoPi * static_cast<f64>(i) / minorSegments;
            ring.push_back(centre + (radial * cosRadians(a) + normalized(frame.axis) * sinRadians(a)) * minorRadius);
        }
        surface.rings.push_back(std::move(ring));
    }
    surface.uTiles = 2.0;
    return surface;
}

RingSurface box(const Frame& frame, Vec3 halfExtents) {
    RingSurface surface;
    for (const f64 a : {-halfExtents.y, halfExtents.y}) {
        surface.rings.push_back({frame.at(halfExtents.x, a, halfExtents.z), frame.at(-halfExtents.x, a, halfExtents.z),
                                 frame.at(-halfExtents.x, a, -halfExtents.z),
                                 frame.at(halfExtents.x, a, -halfExtents.z)});
    }
    surface.smooth = false;
    surface.capFirst = true;
    surface.capLast = true;
    return surface;
}

std::vector<Vec3> crossSection(const Frame& frame, f64 along, std::span<const std::pair<f64, f64>> points,
                               f64 scale) {
    std::vector<Vec3> ring;
    ring.reserve(points.size());
    for (const auto& [s, f] : points) ring.push_back(frame.at(s * scale, along, f * scale));
    return ring;
}

}  // namespace kestrune::baker
