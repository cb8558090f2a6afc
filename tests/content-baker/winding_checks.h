#pragma once
// The renderer's winding rule, checked per triangle: front faces are counter-clockwise on
// screen, so in its left-handed view the plain cross product of a front face points into
// the solid, against the vertex normals.

#include <cstddef>

#include "content/model.h"

namespace kestrune::baker::test {

// Triangles of `mesh` whose cross product points along their summed vertex normals.
inline std::size_t invertedTriangles(const content::Mesh& mesh) {
    std::size_t inverted = 0;
    for (std::size_t i = 0; i + 2 < mesh.indices.size(); i += 3) {
        const auto& a = mesh.vertices[mesh.indices[i]];
        const auto& b = mesh.vertices[mesh.indices[i + 1]];
        const auto& c = mesh.vertices[mesh.indices[i + 2]];
        f64 e1[3], e2[3], n[3];
        for (int k = 0; k < 3; ++k) {
            e1[k] = b.position[k] - a.position[k];
            e2[k] = c.position[k] - a.position[k];
            n[k] = a.normal[k] + b.normal[k] + c.normal[k];
        }
        const f64 face[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                             e1[0] * e2[1] - e1[1] * e2[0]};
        inverted += face[0] * n[0] + face[1] * n[1] + face[2] * n[2] > 0.0 ? 1 : 0;
    }
    return inverted;
}

}  // namespace kestrune::baker::test
