#pragma once
// What the duel scene draws: both characters' models with their renderer handles, and the
// effect models and textures of the content directory under the paths the effect catalogue
// names ("models/<name>/effect.kmdl", "textures/<file>.png"). Loaded once, read-only after;
// scenes share it through std::shared_ptr<const SceneContent>.

#include <array>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "content/model.h"
#include "render/render_types.h"

namespace kestrune::render {
class RenderDevice;
}

namespace kestrune::scene {

struct EffectModel {
    content::Model model;
    std::vector<content::Matrix4> staticPose;  // the nodes' own transforms, made global
    render::ModelHandle handle{render::kNoHandle};
};

struct SceneContent {
    std::array<content::Model, 2> characters;  // slot 0 the warrior, slot 1 the templar
    std::array<render::ModelHandle, 2> characterHandles{render::ModelHandle{render::kNoHandle},
                                                        render::ModelHandle{render::kNoHandle}};
    std::map<std::string, EffectModel, std::less<>> effectModels;
    std::map<std::string, render::TextureHandle, std::less<>> effectTextures;

    // Null when the content had no such file.
    const EffectModel* effectModel(std::string_view key) const noexcept;
    const render::TextureHandle* effectTexture(std::string_view key) const noexcept;
};

// Reads root/"warrior"/"character.kmdl", root/"templar"/"character.kmdl" and whatever effect
// models and textures root/"effects" holds, and uploads them to `renderer`. Missing effect
// content only means fewer effects; a missing or broken character throws its ContentError.
std::shared_ptr<const SceneContent> loadSceneContent(const std::filesystem::path& root, render::RenderDevice& renderer);

}  // namespace kestrune::scene
