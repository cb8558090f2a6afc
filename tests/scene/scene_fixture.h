#pragma once
// A content scene loaded from the baked content directory (or a changed copy of it) and
// drawn through the recording renderer, with helpers for keys, fixed steps and placing
// the fighters.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "content/kmdl_reader.h"
#include "content/kmdl_writer.h"
#include "render/recording_backend.h"
#include "render/render_device.h"
#include "render/test_support.h"
#include "scene/content_scene.h"

namespace kestrune::scene::testing {

inline const std::filesystem::path kContent = KESTRUNE_CONTENT_DIR;
inline constexpr f64 kStep = 1.0 / 60.0;

// Keys held now, and those of them (or others) pressed this frame.
inline InputState keys(std::initializer_list<char> held, std::initializer_list<u32> pressed = {}) {
    InputState input;
    for (const char key : held) input.keyDown[key == '^' ? kVirtualKeyShift : virtualKeyOf(key)] = true;
    for (const u32 key : pressed) input.pressed[key] = true;
    return input;
}
inline InputState press(u32 key) { return keys({}, {key}); }
inline u32 key(char c) { return virtualKeyOf(c); }

struct SceneFixture {
    render::testing::RecordingBackend* backend = nullptr;
    std::shared_ptr<render::RenderDevice> renderer;
    ContentScene scene;

    explicit SceneFixture(SceneLaunch launch = {}, const std::filesystem::path& content = kContent) {
        auto recording = std::make_unique<render::testing::RecordingBackend>();
        backend = recording.get();
        renderer = std::make_shared<render::RenderDevice>(std::move(recording));
        renderer->Create({}, 1280, 720, false);
        scene.load(content, launch, *renderer);
    }
    // A scene on the baked content and renderer loaded once for the whole test program, for
    // tests that start many scenes.
    struct Shared {};
    SceneFixture(SceneLaunch launch, Shared) {
        static const SceneFixture loaded;
        static const std::shared_ptr<const SceneContent> content = loadSceneContent(kContent, *loaded.renderer);
        backend = loaded.backend;
        renderer = loaded.renderer;
        scene.start(content, launch);
    }

    void steps(u32 count, const InputState& input = {}) {
        for (u32 i = 0; i < count; ++i) scene.fixedUpdate(kStep, input);
    }
    std::vector<PlayerIntent> intents() {
        std::vector<PlayerIntent> out;
        scene.takeIntents(out);
        return out;
    }
    CharacterSlot& slot(u32 index) { return scene.slot(index); }
    // Both positions (current and previous) at once, as after a step without movement.
    void place(u32 index, Vec3 position) { slot(index).position = slot(index).previousPosition = position; }
    void drawFrame(f64 alpha = 1.0) {
        backend->draws.clear();
        scene.draw(*renderer, alpha);
        renderer->Present(0);
    }
};

// Rewrites the model `file` after `edit` has changed it.
template <typename Edit>
void editModel(const std::filesystem::path& file, Edit edit) {
    content::Model model = content::loadModelFile(file, {});
    edit(model);
    const std::vector<std::byte> bytes = content::writeModel(model);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void removeClip(const std::filesystem::path& file, std::string_view name) {
    editModel(file, [name](content::Model& model) {
        std::erase_if(model.clips, [name](const content::AnimationClip& clip) { return clip.name == name; });
    });
}

// A copy of the baked content under the test's scratch directory, for a test to change.
inline std::filesystem::path contentCopy() {
    const std::filesystem::path copy = render::testing::scratchDirectory() / "content";
    std::filesystem::copy(kContent, copy, std::filesystem::copy_options::recursive);
    return copy;
}

}  // namespace kestrune::scene::testing
