#pragma once
// The skinning palette: one matrix per joint of a mesh's skin that takes a vertex from
// its bind position into the space of the mesh's node,
//   palette[i] = inverseBind[i] x globals[joints[i]] x inverse(globals[mesh.node]).
// The renderer then applies the node's global matrix as for a rigid mesh. Writes into a
// caller-owned span, allocates nothing.

#include <span>

#include "content/model.h"

namespace kestrune::content {

// `globals` holds one matrix per node of `model`; `palette` one per joint of the mesh's
// skin (empty for a rigid mesh, which has no palette). Size mismatches throw ContentError
// before anything is written, as do the failures of inverting the mesh node's matrix
// ("matrix is not affine", "affine matrix is singular").
void computeSkinningPalette(const Model& model, const Mesh& mesh, std::span<const Matrix4> globals,
                            std::span<Matrix4> palette);

}  // namespace kestrune::content
