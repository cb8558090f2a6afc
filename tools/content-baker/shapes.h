#pragma once
// Parametric solids as ring surfaces: lathed profiles (tubes, capsules, ellipsoids, domes),
// boxes, and lofts of arbitrary cross-sections (blades, shields, shards). Everything is
// placed by a Frame; lengths are metres.

#include <initializer_list>
#include <span>
#include <utility>
#include <vector>

#include "bake_math.h"
#include "mesh_builder.h"

namespace kestrune::baker {

// A local frame: `axis` is the direction profiles run along, `side` the first axis of
// each cross-section (made perpendicular to `axis`), and front = side x axis completes
// them (for axis +y and side +x the front is +z).
struct Frame {
    Vec3 origin;
    Vec3 axis{0.0, 1.0, 0.0};
    Vec3 side{1.0, 0.0, 0.0};

    Vec3 sideAxis() const noexcept;
    Vec3 frontAxis() const noexcept;
    // origin + side x s + axis x a + front x f.
    Vec3 at(f64 s, f64 a, f64 f) const noexcept;
};

// The frame of the segment from `from` to `to` (the axis), with `side` as close as possible
// to the hint.
Frame segmentFrame(Vec3 from, Vec3 to, Vec3 sideHint = {1.0, 0.0, 0.0}) noexcept;

struct ProfilePoint {
    f64 along = 0.0;   // metres along the frame's axis
    f64 radius = 0.0;  // metres
};

// Elliptic rings around the axis: side radius = radius x sideScale, front radius = radius x
// frontScale. A radius of 0 is a pole.
RingSurface lathe(const Frame& frame, std::span<const ProfilePoint> profile, u32 segments, f64 sideScale = 1.0,
                  f64 frontScale = 1.0);
RingSurface lathe(const Frame& frame, std::initializer_list<ProfilePoint> profile, u32 segments,
                  f64 sideScale = 1.0, f64 frontScale = 1.0);

// A limb segment: hemispherical ends of radii r0 and r1 around the points `from` and `to`.
RingSurface capsule(Vec3 from, Vec3 to, f64 r0, f64 r1, u32 segments, f64 sideScale = 1.0, f64 frontScale = 1.0,
                    Vec3 sideHint = {1.0, 0.0, 0.0});

// An ellipsoid with the frame's side, axis and front radii.
RingSurface ellipsoid(const Frame& frame, Vec3 radii, u32 segments, u32 bands);

// A ring around the frame's axis, in the plane of its side and front: tube circles swept
// round the major circle, the first repeated at the end to close it.
RingSurface torus(const Frame& frame, f64 majorRadius, f64 minorRadius, u32 majorSegments, u32 minorSegments);

// A box of half extents (side, axis, front), flat shaded and closed.
RingSurface box(const Frame& frame, Vec3 halfExtents);

// One ring of a loft: the 2D points (side, front) of a cross-section at `along` on the
// frame's axis, scaled.
std::vector<Vec3> crossSection(const Frame& frame, f64 along, std::span<const std::pair<f64, f64>> points,
                               f64 scale = 1.0);

}  // namespace kestrune::baker
