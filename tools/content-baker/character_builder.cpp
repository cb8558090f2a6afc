#include "character_builder.h"

#include <stdexcept>

#include "content/kmdl_writer.h"
#include "png_encoder.h"

namespace kestrune::baker {
namespace {

constexpr const char* kCharacterFile = "character.kmdl";
constexpr const char* kTextureFolder = "textures/";

}  // namespace

CharacterBuilder::CharacterBuilder(std::string directory, const Skeleton& skeleton, const Placement& placement)
    : directory_(std::move(directory)), skeleton_(skeleton), placement_(placement) {}

i32 CharacterBuilder::material(const std::string& name, const std::string& textureName, const Image& texture,
                               Colour base, u32 alphaMode, bool doubleSided) {
    const std::string texturePath = kTextureFolder + textureName + ".png";
    const std::string filePath = directory_ + "/" + texturePath;
    bool known = false;
    for (const BakedFile& file : textures_) known = known || file.path == filePath;
    if (!known) {
        textures_.push_back({filePath, encodePng(texture)});
    }
    content::Material material;
    material.name = name;
    material.texture = texturePath;
    material.baseColor = {static_cast<f32>(base.r), static_cast<f32>(base.g), static_cast<f32>(base.b),
                          static_cast<f32>(base.a)};
    material.alphaMode = alphaMode;
    material.doubleSided = doubleSided;
    materials_.push_back(std::move(material));
    return static_cast<i32>(materials_.size() - 1);
}

MeshBuilder& CharacterBuilder::mesh(const std::string& name, i32 material) {
    for (PendingMesh& pending : meshes_) {
        if (pending.name == name) {
            if (pending.material != material) {
                throw std::invalid_argument("mesh " + name + " already has another material");
            }
            return pending.builder;
        }
    }
    // Vertices are authored in the canonical frame; the skin's inverse bind matrices expect
    // them where the placement node puts the bind pose, so they move there as the skeleton does.
    meshes_.push_back({name, material,
                       MeshBuilder(axisAngle({0.0, 1.0, 0.0}, placement_.yawRadians),
                                   {0.0, placement_.heightMetres, 0.0})});
    return meshes_.back().builder;
}

SkinBinding CharacterBuilder::bones(std::initializer_list<Joint> joints, f64 softnessMetres) const {
    SkinBinding binding;
    binding.softnessMetres = softnessMetres;
    for (const Joint joint : joints) binding.bones.push_back({joint, skeleton_.head[joint], skeleton_.tail[joint]});
    return binding;
}

void CharacterBuilder::clip(ClipDefinition definition) { clips_.push_back(std::move(definition)); }

std::vector<BakedFile> CharacterBuilder::build() const {
    content::Model model;
    model.nodes = characterNodes(skeleton_, placement_, directory_);
    model.skins.push_back(characterSkin(model.nodes, directory_ + "_skin"));
    model.materials = materials_;
    model.nodes[kPlacementNode].skin = 0;
    for (const PendingMesh& pending : meshes_) {
        if (pending.builder.empty()) {
            throw std::logic_error("mesh " + pending.name + " has no triangles");
        }
        model.meshes.push_back(pending.builder.build(pending.name, kPlacementNode, 0, pending.material));
    }
    if (!model.meshes.empty()) {
        model.nodes[kPlacementNode].firstMesh = 0;
    }
    for (const ClipDefinition& definition : clips_) model.clips.push_back(bakeClip(definition, skeleton_, placement_));

    std::vector<BakedFile> files;
    files.push_back({directory_ + "/" + kCharacterFile, content::writeModel(model)});
    files.insert(files.end(), textures_.begin(), textures_.end());
    return files;
}

}  // namespace kestrune::baker
