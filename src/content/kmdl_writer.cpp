#include "content/kmdl_writer.h"

#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

#include "base/byte_writer.h"
#include "content/kmdl_format.h"

namespace kestrune::content {
namespace {

using namespace kmdl;

u32 count32(std::size_t count) {
    if (count > std::numeric_limits<u32>::max()) {
        throw std::overflow_error("model array size exceeds 32 bits");
    }
    return static_cast<u32>(count);
}

// Strings in order of first use, each once; the empty string is always at offset 0.
class StringTableBuilder {
public:
    StringTableBuilder() { bytes_.push_back('\0'); }

    void add(std::string_view text) {
        if (text.empty() || offsets_.contains(std::string(text))) {
            return;
        }
        if (text.find('\0') != std::string_view::npos) {
            throw std::invalid_argument("model string contains a NUL byte");
        }
        offsets_.emplace(std::string(text), count32(bytes_.size()));
        bytes_.append(text);
        bytes_.push_back('\0');
    }

    u32 offsetOf(std::string_view text) const { return text.empty() ? 0 : offsets_.at(std::string(text)); }
    const std::string& bytes() const noexcept { return bytes_; }

private:
    std::string bytes_;
    std::unordered_map<std::string, u32> offsets_;
};

void writeTransform(ByteWriter& out, const Transform& t) {
    for (f32 v : t.translation) out.f32le(v);
    for (f32 v : t.rotation) out.f32le(v);
    for (f32 v : t.scale) out.f32le(v);
}

}  // namespace

std::vector<std::byte> writeModel(const Model& model) {
    StringTableBuilder strings;
    for (const Node& node : model.nodes) strings.add(node.name);
    for (const Skin& skin : model.skins) strings.add(skin.name);
    for (const Material& material : model.materials) {
        strings.add(material.name);
        strings.add(material.texture);
    }
    for (const Mesh& mesh : model.meshes) strings.add(mesh.name);
    for (const AnimationClip& clip : model.clips) strings.add(clip.name);

    std::size_t totalBytes = kHeaderBytes + strings.bytes().size() + kNodeRecordBytes * model.nodes.size() +
                             kMaterialRecordBytes * model.materials.size();
    for (const Skin& skin : model.skins) {
        if (skin.inverseBindMatrices.size() != skin.joints.size()) {
            throw std::invalid_argument("skin needs one inverse-bind matrix per joint");
        }
        totalBytes += kSkinHeaderBytes + kSkinJointBytes * skin.joints.size();
    }
    for (const Mesh& mesh : model.meshes) {
        totalBytes += kMeshHeaderBytes + kVertexBytes * mesh.vertices.size() + kIndexBytes * mesh.indices.size();
    }
    for (const AnimationClip& clip : model.clips) {
        if (clip.samples.size() != u64{clip.frameCount} * clip.nodeCount) {
            throw std::invalid_argument("clip needs frameCount x nodeCount samples");
        }
        totalBytes += kClipHeaderBytes + kTransformBytes * clip.samples.size();
    }

    ByteWriter out(totalBytes);
    out.append(kMagic);
    out.u32le(kVersion);
    out.u32le(kEndianMarker);
    out.u32le(count32(model.nodes.size()));
    out.u32le(count32(model.skins.size()));
    out.u32le(count32(model.meshes.size()));
    out.u32le(count32(model.materials.size()));
    out.u32le(count32(model.clips.size()));
    out.u32le(count32(strings.bytes().size()));
    out.u32le(0);  // flags
    out.append(strings.bytes());

    for (const Node& node : model.nodes) {
        out.u32le(strings.offsetOf(node.name));
        out.i32le(node.parent);
        writeTransform(out, node.transform);
        out.i32le(node.firstMesh);
        out.i32le(node.skin);
    }
    for (const Skin& skin : model.skins) {
        out.u32le(strings.offsetOf(skin.name));
        out.i32le(skin.skeleton);
        out.u32le(count32(skin.joints.size()));
        for (u32 joint : skin.joints) out.u32le(joint);
        for (const Matrix4& matrix : skin.inverseBindMatrices) {
            for (f32 v : matrix.m) out.f32le(v);
        }
    }
    for (const Material& material : model.materials) {
        out.u32le(strings.offsetOf(material.name));
        out.u32le(strings.offsetOf(material.texture));
        for (f32 v : material.baseColor) out.f32le(v);
        out.u32le(material.alphaMode);
        out.u32le(material.doubleSided ? 1 : 0);
    }
    for (const Mesh& mesh : model.meshes) {
        out.u32le(strings.offsetOf(mesh.name));
        out.i32le(mesh.node);
        out.i32le(mesh.skin);
        out.i32le(mesh.material);
        out.u32le(count32(mesh.vertices.size()));
        out.u32le(count32(mesh.indices.size()));
        for (const Vertex& vertex : mesh.vertices) {
            for (f32 v : vertex.position) out.f32le(v);
            for (f32 v : vertex.normal) out.f32le(v);
            for (f32 v : vertex.uv) out.f32le(v);
            for (u16 j : vertex.joints) out.u16le(j);
            for (f32 v : vertex.weights) out.f32le(v);
        }
        for (u32 index : mesh.indices) out.u32le(index);
    }
    for (const AnimationClip& clip : model.clips) {
        out.u32le(strings.offsetOf(clip.name));
        out.f32le(clip.duration);
        out.f32le(clip.sampleRate);
        out.u32le(clip.frameCount);
        out.u32le(clip.nodeCount);
        for (const Transform& sample : clip.samples) writeTransform(out, sample);
    }
    return out.release();
}

}  // namespace kestrune::content
