#pragma once
// Assembles one character: the rig's nodes and its one skin, meshes (one per material, all
// on the placement node and bound to the skin), materials whose textures are baked beside
// the model, and the clips. Offline code; allocates freely.

#include <deque>
#include <initializer_list>
#include <string>
#include <vector>

#include "bake.h"
#include "image.h"
#include "mesh_builder.h"
#include "motion.h"
#include "rig.h"

namespace kestrune::baker {

class CharacterBuilder {
public:
    // `directory` is the character's folder below the content root ("warrior").
    CharacterBuilder(std::string directory, const Skeleton& skeleton, const Placement& placement);

    const Skeleton& skeleton() const noexcept { return skeleton_; }
    const Placement& placement() const noexcept { return placement_; }

    // A material textured by `texture`, stored as textures/<textureName>.png beside the model.
    // Returns its index.
    i32 material(const std::string& name, const std::string& textureName, const Image& texture, Colour base,
                 u32 alphaMode = content::kAlphaOpaque, bool doubleSided = false);

    // The mesh of that name, created on first use with `material`; the reference stays valid.
    MeshBuilder& mesh(const std::string& name, i32 material);

    // Weights spread over these joints' bones.
    SkinBinding bones(std::initializer_list<Joint> joints, f64 softnessMetres = 0.03) const;

    void clip(ClipDefinition definition);

    // character.kmdl, then the textures in the order they were first named.
    std::vector<BakedFile> build() const;

private:
    struct PendingMesh {
        std::string name;
        i32 material;
        MeshBuilder builder;
    };

    std::string directory_;
    Skeleton skeleton_;
    Placement placement_;
    std::vector<content::Material> materials_;
    std::deque<PendingMesh> meshes_;  // stable: callers keep references to the builders
    std::vector<BakedFile> textures_;
    std::vector<ClipDefinition> clips_;
};

}  // namespace kestrune::baker
