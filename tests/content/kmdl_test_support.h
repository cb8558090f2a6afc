#pragma once
// Byte-level helpers for the model-format suites: the section offsets of a written model
// (computed here from the format's record sizes, independently of the writer), patches
// at those offsets, and the exact messages the decoder composes.

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/little_endian.h"
#include "content/kmdl_reader.h"
#include "content/model.h"

namespace kestrune::content::test {

inline constexpr const char* kSource = "m.kmdl";

struct KmdlLayout {
    std::size_t tableBytes = 0;
    std::size_t nodes = 0;
    std::size_t skinSection = 0;
    std::vector<std::size_t> skins;
    std::size_t materials = 0;
    std::size_t meshSection = 0;
    std::vector<std::size_t> meshes;
    std::size_t clipSection = 0;
    std::vector<std::size_t> clips;
    std::size_t end = 0;
};

inline KmdlLayout layoutOf(const Model& model, const std::vector<std::byte>& bytes) {
    KmdlLayout l;
    l.tableBytes = loadU32le(bytes.data() + 36);
    std::size_t at = 44 + l.tableBytes;
    l.nodes = at;
    at += 56 * model.nodes.size();
    l.skinSection = at;
    for (const Skin& skin : model.skins) {
        l.skins.push_back(at);
        at += 12 + 68 * skin.joints.size();
    }
    l.materials = at;
    at += 32 * model.materials.size();
    l.meshSection = at;
    for (const Mesh& mesh : model.meshes) {
        l.meshes.push_back(at);
        at += 24 + 56 * mesh.vertices.size() + 4 * mesh.indices.size();
    }
    l.clipSection = at;
    for (const AnimationClip& clip : model.clips) {
        l.clips.push_back(at);
        at += 20 + 40 * clip.samples.size();
    }
    l.end = at;
    return l;
}

inline Model parse(const std::vector<std::byte>& bytes, const ModelLimits& limits = {}) {
    return parseModel(bytes, limits, kSource);
}

inline void patchU32(std::vector<std::byte>& bytes, std::size_t offset, u32 value) {
    storeU32le(bytes.data() + offset, value);
}

inline std::string at(std::size_t position, std::string_view message) {
    return std::string(kSource) + " at byte " + std::to_string(position) + ": " + std::string(message);
}

inline std::string unpositioned(std::string_view message) { return std::string(kSource) + ": " + std::string(message); }

}  // namespace kestrune::content::test
