#include "scene/scene_content.h"

#include "content/animation.h"
#include "content/kmdl_reader.h"
#include "content/transform_math.h"
#include "render/render_device.h"

namespace kestrune::scene {
namespace {

constexpr std::array<const char*, 2> kCharacterDirectories{"warrior", "templar"};

std::string utf8Name(const std::filesystem::path& path) {
    const std::u8string name = path.filename().u8string();
    return std::string(name.begin(), name.end());
}

void loadEffectContent(const std::filesystem::path& effectsDirectory, render::RenderDevice& renderer,
                       SceneContent& content) {
    namespace fs = std::filesystem;
    const fs::path modelsDirectory = effectsDirectory / "models";
    if (fs::is_directory(modelsDirectory)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(modelsDirectory)) {
            const fs::path file = entry.path() / "effect.kmdl";
            if (!entry.is_directory() || !fs::is_regular_file(file)) {
                continue;
            }
            EffectModel effect;
            effect.model = content::loadModelFile(file, content::ModelLimits{});
            std::vector<content::Transform> locals;
            locals.reserve(effect.model.nodes.size());
            for (const content::Node& node : effect.model.nodes) {
                locals.push_back(node.transform);
            }
            effect.staticPose.assign(locals.size(), content::Matrix4{});
            content::computeGlobalMatrices(effect.model, locals, effect.staticPose);
            effect.handle = renderer.UploadModel(effect.model, entry.path());
            content.effectModels.insert_or_assign("models/" + utf8Name(entry.path()) + "/effect.kmdl", std::move(effect));
        }
    }
    const fs::path texturesDirectory = effectsDirectory / "textures";
    if (fs::is_directory(texturesDirectory)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(texturesDirectory)) {
            if (entry.path().extension() != ".png" || entry.is_directory()) {
                continue;
            }
            content.effectTextures.insert_or_assign("textures/" + utf8Name(entry.path()),
                                                    renderer.LoadTexture(entry.path()));
        }
    }
}

}  // namespace

std::shared_ptr<const SceneContent> loadSceneContent(const std::filesystem::path& root,
                                                     render::RenderDevice& renderer) {
    auto content = std::make_shared<SceneContent>();
    for (u32 index = 0; index < 2; ++index) {
        const std::filesystem::path directory = root / kCharacterDirectories[index];
        content->characters[index] = content::loadModelFile(directory / "character.kmdl", content::ModelLimits{});
        content->characterHandles[index] = renderer.UploadModel(content->characters[index], directory);
    }
    loadEffectContent(root / "effects", renderer, *content);
    return content;
}

const EffectModel* SceneContent::effectModel(std::string_view key) const noexcept {
    const auto found = effectModels.find(key);
    return found == effectModels.end() ? nullptr : &found->second;
}

const render::TextureHandle* SceneContent::effectTexture(std::string_view key) const noexcept {
    const auto found = effectTextures.find(key);
    return found == effectTextures.end() ? nullptr : &found->second;
}

}  // namespace kestrune::scene
