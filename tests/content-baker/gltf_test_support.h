#pragma once
// Small glTF documents built in the tests: a JSON document and one buffer, written as a
// .gltf with the buffer in a base64 data URI. The default document is a valid skinned
// triangle: node 0 "hips" (root, child 1), node 1 "arm", node 2 "body" with mesh 0 and
// skin 0 over nodes 0 and 1, and animation 0 "Idle" turning the arm.

#include <nlohmann/json.hpp>

#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "base/types.h"

namespace kestrune::baker::test {

inline std::string base64(std::span<const u8> bytes) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const u32 n = (u32{bytes[i]} << 16) | (i + 1 < bytes.size() ? u32{bytes[i + 1]} << 8 : 0) |
                      (i + 2 < bytes.size() ? u32{bytes[i + 2]} : 0);
        out += {kDigits[(n >> 18) & 63], kDigits[(n >> 12) & 63], i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=',
                i + 2 < bytes.size() ? kDigits[n & 63] : '='};
    }
    return out;
}

struct GltfDocument {
    nlohmann::json json = {{"asset", {{"version", "2.0"}}}};
    std::vector<u8> buffer;

    // Appends `values` as a buffer view and an accessor over it; returns the accessor index.
    template <class T>
    int accessor(const std::vector<T>& values, int componentType, const char* type, std::size_t count) {
        while (buffer.size() % 4 != 0) buffer.push_back(0);
        const std::size_t offset = buffer.size();
        buffer.resize(offset + values.size() * sizeof(T));
        std::memcpy(buffer.data() + offset, values.data(), values.size() * sizeof(T));
        json["bufferViews"].push_back({{"buffer", 0}, {"byteOffset", offset}, {"byteLength", values.size() * sizeof(T)}});
        json["accessors"].push_back({{"bufferView", json["bufferViews"].size() - 1}, {"componentType", componentType},
                                     {"type", type}, {"count", count}});
        return static_cast<int>(json["accessors"].size()) - 1;
    }

    std::string text() const {
        nlohmann::json out = json;
        out["buffers"] = nlohmann::json::array(
            {{{"byteLength", buffer.size()}, {"uri", "data:application/octet-stream;base64," + base64(buffer)}}});
        return out.dump();
    }
};

// The document as a binary .glb: the JSON chunk, then the buffer as the BIN chunk.
inline std::string glb(const GltfDocument& document) {
    const auto u32le = [](std::size_t value) {
        return std::string{static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                           static_cast<char>((value >> 16) & 0xFF), static_cast<char>((value >> 24) & 0xFF)};
    };
    nlohmann::json json = document.json;
    json["buffers"] = nlohmann::json::array({{{"byteLength", document.buffer.size()}}});
    std::string text = json.dump();
    while (text.size() % 4 != 0) text += ' ';
    std::string bin(document.buffer.begin(), document.buffer.end());
    while (bin.size() % 4 != 0) bin += '\0';
    // The header (magic, version 2, total length), then each chunk's length, type and data.
    return "glTF" + u32le(2) + u32le(12 + 8 + text.size() + 8 + bin.size()) + u32le(text.size()) + "JSON" + text +
           u32le(bin.size()) + std::string("BIN\0", 4) + bin;
}

inline GltfDocument skinnedTriangle() {
    GltfDocument d;
    const int positions = d.accessor(std::vector<f32>{0, 0, 0, 1, 0, 0, 0, 2, 0}, 5126, "VEC3", 3);
    const int indices = d.accessor(std::vector<u16>{0, 1, 2}, 5123, "SCALAR", 3);
    const int joints = d.accessor(std::vector<u8>{0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0}, 5121, "VEC4", 3);
    const int weights = d.accessor(std::vector<f32>{1, 0, 0, 0, 0.5f, 0.5f, 0, 0, 1, 0, 0, 0}, 5126, "VEC4", 3);
    // Joint 0 at the origin, joint 1 one metre up.
    const std::vector<f32> inverseBind{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1,
                                       1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -1, 0, 1};
    const int ibm = d.accessor(inverseBind, 5126, "MAT4", 2);
    const int times = d.accessor(std::vector<f32>{0.0f, 1.0f}, 5126, "SCALAR", 2);
    const int turns = d.accessor(std::vector<f32>{0, 0, 0, 1, 0, 0, 0.70710678f, 0.70710678f}, 5126, "VEC4", 2);
    d.json["scene"] = 0;
    d.json["scenes"] = {{{"nodes", {0, 2}}}};
    d.json["nodes"] = {{{"name", "hips"}, {"children", {1}}}, {{"name", "arm"}, {"translation", {0, 1, 0}}},
                       {{"name", "body"}, {"mesh", 0}, {"skin", 0}}};
    d.json["skins"] = {{{"joints", {0, 1}}, {"inverseBindMatrices", ibm}}};
    d.json["meshes"] = {{{"primitives",
                          {{{"attributes", {{"POSITION", positions}, {"JOINTS_0", joints}, {"WEIGHTS_0", weights}}},
                            {"indices", indices}}}}}};
    d.json["animations"] = {{{"name", "Idle"},
                             {"samplers", {{{"input", times}, {"output", turns}, {"interpolation", "LINEAR"}}}},
                             {"channels", {{{"sampler", 0}, {"target", {{"node", 1}, {"path", "rotation"}}}}}}}};
    return d;
}

}  // namespace kestrune::baker::test
