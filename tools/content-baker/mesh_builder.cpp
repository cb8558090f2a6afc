#include "mesh_builder.h"

#include <algorithm>
#include <stdexcept>

namespace kestrune::baker {
namespace {

constexpr f64 kDegenerateAreaSquared = 1e-20;  // twice the area, squared, in square metres squared

f64 distanceToSegment(Vec3 p, Vec3 a, Vec3 b) noexcept {
    const Vec3 ab = b - a;
    const f64 lengthSquared = dot(ab, ab);
    const f64 t = lengthSquared > 0.0 ? clamp01(dot(p - a, ab) / lengthSquared) : 0.0;
    return length(p - (a + ab * t));
}

Vec3 centreOf(const std::vector<Vec3>& ring) noexcept {
    Vec3 sum;
    for (const Vec3& p : ring) sum += p;
    return sum * (1.0 / static_cast<f64>(ring.size()));
}

std::array<f32, 3> toF32(Vec3 v) noexcept {
    return {static_cast<f32>(v.x), static_cast<f32>(v.y), static_cast<f32>(v.z)};
}

Vec3 toVec3(const std::array<f32, 3>& v) noexcept { return {v[0], v[1], v[2]}; }

}  // namespace

void skinWeights(const SkinBinding& binding, Vec3 position, std::array<u16, 4>& slots, std::array<f64, 4>& weights) {
    slots = {0, 0, 0, 0};
    weights = {0.0, 0.0, 0.0, 0.0};
    if (binding.bones.empty()) {
        throw std::invalid_argument("a skin binding needs at least one bone");
    }
    std::vector<std::pair<f64, u16>> ranked;
    const f64 soft2 = binding.softnessMetres * binding.softnessMetres;
    for (const BoneSegment& bone : binding.bones) {
        const f64 d = distanceToSegment(position, bone.head, bone.tail);
        const f64 q = d * d + soft2;
        ranked.emplace_back(1.0 / (q * q), bone.slot);
    }
    // Heaviest first; equal weights keep the binding's order, so the result is stable.
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    const std::size_t kept = std::min<std::size_t>(ranked.size(), 4);
    f64 total = 0.0;
    for (std::size_t i = 0; i < kept; ++i) total += ranked[i].first;
    f64 keptTotal = 0.0;
    std::size_t used = 0;
    for (std::size_t i = 0; i < kept; ++i) {
        if (i == 0 || ranked[i].first >= kMinimumWeight * total) {
            slots[used] = ranked[i].second;
            weights[used] = ranked[i].first;
            keptTotal += ranked[i].first;
            ++used;
        }
    }
    for (std::size_t i = 0; i < used; ++i) weights[i] /= keptTotal;
}

void MeshBuilder::bind(SkinBinding binding) { binding_ = std::move(binding); }
void MeshBuilder::unbind() { binding_.reset(); }

u32 MeshBuilder::addVertex(Vec3 position, Vec3 normal, f64 u, f64 v) {
    content::Vertex vertex;
    vertex.position = toF32(rotate(turn_, position) + offset_);
    vertex.normal = toF32(rotate(turn_, normalized(normal)));
    vertex.uv = {static_cast<f32>(u), static_cast<f32>(v)};
    if (binding_) {
        // Bones are where the vertices were authored.
        std::array<f64, 4> weights{};
        skinWeights(*binding_, position, vertex.joints, weights);
        for (std::size_t i = 0; i < 4; ++i) vertex.weights[i] = static_cast<f32>(weights[i]);
    }
    vertices_.push_back(vertex);
    return static_cast<u32>(vertices_.size() - 1);
}

void MeshBuilder::addTriangle(u32 a, u32 b, u32 c) {
    const Vec3 pa = toVec3(vertices_[a].position);
    const Vec3 pb = toVec3(vertices_[b].position);
    const Vec3 pc = toVec3(vertices_[c].position);
    const Vec3 face = cross(pb - pa, pc - pa);
    if (dot(face, face) <= kDegenerateAreaSquared) {
        return;  // a pole's sliver: nothing to draw
    }
    const Vec3 outward = toVec3(vertices_[a].normal) + toVec3(vertices_[b].normal) + toVec3(vertices_[c].normal);
    if (dot(face, outward) > 0.0) {
        std::swap(b, c);
    }
    indices_.insert(indices_.end(), {a, b, c});
}

void MeshBuilder::addFlatQuad(Vec3 a, Vec3 b, Vec3 c, Vec3 d, Vec3 outward, const std::array<f64, 8>& uv) {
    Vec3 normal = normalized(cross(c - a, d - b));
    if (dot(normal, outward) < 0.0) {
        normal = -normal;
    }
    const u32 ia = addVertex(a, normal, uv[0], uv[1]);
    const u32 ib = addVertex(b, normal, uv[2], uv[3]);
    const u32 ic = addVertex(c, normal, uv[4], uv[5]);
    const u32 id = addVertex(d, normal, uv[6], uv[7]);
    addTriangle(ia, ib, ic);
    addTriangle(ia, ic, id);
}

void MeshBuilder::addCap(const std::vector<Vec3>& ring, Vec3 outward) {
    const Vec3 centre = centreOf(ring);
    const std::size_t n = ring.size();
    const u32 hub = addVertex(centre, outward, 0.5, 0.5);
    const u32 first = static_cast<u32>(vertices_.size());
    for (std::size_t i = 0; i < n; ++i) {
        const f64 angle = kTwoPi * static_cast<f64>(i) / static_cast<f64>(n);
        addVertex(ring[i], outward, 0.5 + 0.5 * cosRadians(angle), 0.5 + 0.5 * sinRadians(angle));
    }
    for (std::size_t i = 0; i < n; ++i) {
        addTriangle(hub, first + static_cast<u32>(i), first + static_cast<u32>((i + 1) % n));
    }
}

void MeshBuilder::add(const RingSurface& surface) {
    const auto& rings = surface.rings;
    if (rings.size() < 2 || rings.front().size() < 3) {
        throw std::invalid_argument("a ring surface needs two rings of at least three points");
    }
    const std::size_t ringCount = rings.size();
    const std::size_t n = rings.front().size();
    for (const auto& ring : rings) {
        if (ring.size() != n) {
            throw std::invalid_argument("the rings of a surface must have one size");
        }
    }
    if ((surface.capFirst || surface.capLast) && !surface.closed) {
        throw std::invalid_argument("an open sheet has no ring to cap");
    }

    std::vector<Vec3> centres(ringCount);
    for (std::size_t j = 0; j < ringCount; ++j) centres[j] = surface.inside ? *surface.inside : centreOf(rings[j]);

    // Texture v follows the mean distance between consecutive rings.
    std::vector<f64> along(ringCount, 0.0);
    for (std::size_t j = 1; j < ringCount; ++j) {
        f64 step = 0.0;
        for (std::size_t i = 0; i < n; ++i) step += length(rings[j][i] - rings[j - 1][i]);
        along[j] = along[j - 1] + step / static_cast<f64>(n);
    }
    const f64 totalAlong = along.back() > 0.0 ? along.back() : 1.0;
    const auto vAt = [&](std::size_t j) {
        return surface.vStart + (surface.vEnd - surface.vStart) * along[j] / totalAlong;
    };
    // A closed surface repeats its first column at the seam with u = uTiles; an open one ends
    // at its last point.
    const std::size_t columns = surface.closed ? n : n - 1;
    const std::size_t quadsAround = surface.closed ? n : n - 1;
    const auto uAt = [&](std::size_t i) {
        return surface.uTiles * static_cast<f64>(i) / static_cast<f64>(columns);
    };
    const auto outwardAt = [&](std::size_t j, Vec3 p) { return p - centres[j]; };

    if (surface.smooth) {
        // Normals from central differences around and along the grid; at a pole (a ring
        // shrunk to a point) from the neighbouring ring's centre to the pole.
        const u32 base = static_cast<u32>(vertices_.size());
        for (std::size_t j = 0; j < ringCount; ++j) {
            const std::size_t prev = j == 0 ? 0 : j - 1;
            const std::size_t next = j + 1 == ringCount ? j : j + 1;
            for (std::size_t i = 0; i <= columns; ++i) {
                const std::size_t at = i % n;
                const Vec3 p = rings[j][at];
                const std::size_t after = surface.closed ? (at + 1) % n : std::min(at + 1, n - 1);
                const std::size_t before = surface.closed ? (at + n - 1) % n : (at == 0 ? 0 : at - 1);
                const Vec3 around = rings[j][after] - rings[j][before];
                const Vec3 lengthwise = rings[next][at] - rings[prev][at];
                Vec3 normal = cross(around, lengthwise);
                Vec3 outward = outwardAt(j, p);
                if (dot(normal, normal) <= 1e-18) {
                    const std::size_t neighbour = j == 0 ? 1 : j - 1;
                    normal = p - centreOf(rings[neighbour]);
                    outward = normal;
                }
                if (dot(normal, outward) < 0.0) {
                    normal = -normal;
                }
                addVertex(p, normal, uAt(i), vAt(j));
            }
        }
        const auto index = [&](std::size_t j, std::size_t i) {
            return base + static_cast<u32>(j * (columns + 1) + i);
        };
        for (std::size_t j = 0; j + 1 < ringCount; ++j) {
            for (std::size_t i = 0; i < quadsAround; ++i) {
                addTriangle(index(j, i), index(j, i + 1), index(j + 1, i + 1));
                addTriangle(index(j, i), index(j + 1, i + 1), index(j + 1, i));
            }
        }
    } else {
        for (std::size_t j = 0; j + 1 < ringCount; ++j) {
            for (std::size_t i = 0; i < quadsAround; ++i) {
                const std::size_t i1 = (i + 1) % n;
                const Vec3 a = rings[j][i], b = rings[j][i1], c = rings[j + 1][i1], d = rings[j + 1][i];
                const Vec3 middle = (a + b + c + d) * 0.25;
                const Vec3 outward = middle - (centres[j] + centres[j + 1]) * 0.5;
                addFlatQuad(a, b, c, d, outward,
                            {uAt(i), vAt(j), uAt(i + 1), vAt(j), uAt(i + 1), vAt(j + 1), uAt(i), vAt(j + 1)});
            }
        }
    }

    if (surface.capFirst) {
        addCap(rings.front(), normalized(centreOf(rings.front()) - centreOf(rings[1])));
    }
    if (surface.capLast) {
        addCap(rings.back(), normalized(centreOf(rings.back()) - centreOf(rings[ringCount - 2])));
    }
}

content::Mesh MeshBuilder::build(std::string name, i32 node, i32 skin, i32 material) const {
    content::Mesh mesh;
    mesh.name = std::move(name);
    mesh.node = node;
    mesh.skin = skin;
    mesh.material = material;
    mesh.vertices = vertices_;
    mesh.indices = indices_;
    return mesh;
}

}  // namespace kestrune::baker
