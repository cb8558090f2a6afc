#include "content/skinning.h"

#include <string>

#include "content/transform_math.h"

namespace kestrune::content {

void computeSkinningPalette(const Model& model, const Mesh& mesh, std::span<const Matrix4> globals,
                            std::span<Matrix4> palette) {
    if (globals.size() != model.nodes.size()) {
        throw ContentError("skinning needs one global matrix per node (" + std::to_string(globals.size()) +
                           " for " + std::to_string(model.nodes.size()) + " nodes)");
    }
    if (mesh.skin < 0) {
        if (!palette.empty()) {
            throw ContentError("a rigid mesh has no skinning palette (" + std::to_string(palette.size()) +
                               " matrices given)");
        }
        return;
    }
    if (static_cast<std::size_t>(mesh.skin) >= model.skins.size()) {
        throw ContentError("mesh skin index is outside the model's skins");
    }
    const Skin& skin = model.skins[static_cast<std::size_t>(mesh.skin)];
    if (palette.size() != skin.joints.size()) {
        throw ContentError("skinning palette has " + std::to_string(palette.size()) + " matrices for " +
                           std::to_string(skin.joints.size()) + " joints");
    }
    const Matrix4 meshInverse =
        mesh.node >= 0 ? affineInverse(globals[static_cast<std::size_t>(mesh.node)]) : identityMatrix();
    for (std::size_t i = 0; i < skin.joints.size(); ++i) {
        const Matrix4 jointToMesh = multiplyMatrices(globals[skin.joints[i]], meshInverse);
        palette[i] = multiplyMatrices(skin.inverseBindMatrices[i], jointToMesh);
    }
}

}  // namespace kestrune::content
