#include "character_builder.h"

#include <stdexcept>

#include "content/kmdl_writer.h"
#include "png_encoder.h"

namespace kestrune::baker {
namespace {

constexpr const char* kCharacterFile = "character.kmdl";
constexpr const char* kTextureFolder = "textures/";

// Vertices are authored in the canonical frame; the skin's inverse bind matrices expect
// them where the placement node puts the bind pose, so they move there as the skeleton does.
void placeInModel(content::Mesh& mesh, const Placement& placement) {
    const Quat turn = axisAngle({0.0, 1.0, 0.0}, placement.yawRadians);
    for (content::Vertex& vertex : mesh.vertices) {
        const Vec3 position = rotate(turn, {vertex.position[0], vertex.position[1], vertex.position[2]}) +
                              Vec3{0.0, placement.heightMetres, 0.0};
        const Vec3 normal = rotate(turn, {vertex.normal[0], vertex.normal[1], vertex.normal[2]});
        vertex.position = {static_cast<f32>(position.x), static_cast<f32>(position.y), static_cast<f32>(position.z)};
        vertex.normal = {static_cast<f32>(normal.x), static_cast<f32>(normal.y), static_cast<f32>(normal.z)};
    }
}

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
    meshes_.push_back({name, material, MeshBuilder{}});
    return meshes_.back().builder;
}

SkinBinding CharacterBuilder::bones(std::initializer_list<Joint> joints, f64 softnessMetres) const {
    SkinBinding binding;
    binding.softnessMetres = softnessMetres;
    for (const Joint joint : joints) binding.bones.push_back({joint, skeleton_.head[joint], skeleton_.tail[joint]});
    return binding;
}

void CharacterBuilder::clip(ClipSpec spec) { clips_.push_back(std::move(spec)); }

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
        placeInModel(model.meshes.back(), placement_);
    }
    if (!model.meshes.empty()) {
        model.nodes[kPlacementNode].firstMesh = 0;
    }
    for (const ClipSpec& spec : clips_) model.clips.push_back(bakeClip(spec, skeleton_, placement_));

    std::vector<BakedFile> files;
    files.push_back({directory_ + "/" + kCharacterFile, content::writeModel(model)});
    files.insert(files.end(), textures_.begin(), textures_.end());
    return files;
}

}  // namespace kestrune::baker
