// The importer, in the order it works:
//   Section: reading the document  - tinygltf with the importer's image and file callbacks, extensions
//   Section: skins                 - joints and inverse bind matrices
//   Section: materials and textures - base colour, alpha, sides; images decoded and written as PNG
//   Section: meshes                - one mesh per primitive, influences, computed normals, mirroring
//   Section: clips                 - which animation becomes which clip
//   Section: assembly              - transforms, placement for a class, the final decode
#include "gltf_import.h"

#include <tiny_gltf.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <set>

#include "base/text_format.h"
#include "content/animation.h"
#include "content/kmdl_reader.h"
#include "content/kmdl_writer.h"
#include "content/skinning.h"
#include "gltf_animation.h"
#include "gltf_scene.h"
#include "image_decoding.h"
#include "png_encoder.h"

namespace kestrune::baker {

std::vector<std::byte> readSourceFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff end = in.is_open() ? static_cast<std::streamoff>(in.tellg()) : -1;
    if (end < 0) {
        throw ImportError("cannot read " + path.string());
    }
    if (static_cast<u64>(end) > kMaxSourceFileBytes) {
        throw ImportError(path.string() + " has " + std::to_string(end) + " bytes, more than the " +
                          std::to_string(kMaxSourceFileBytes) + " the importer reads");
    }
    std::vector<std::byte> bytes(static_cast<std::size_t>(end));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), end);
    if (!in) {
        throw ImportError("cannot read " + path.string());
    }
    return bytes;
}

namespace {

// The runtime tests alpha against this; other cutoffs are folded into the colour's alpha.
constexpr f64 kRuntimeAlphaCutoff = 0.5;
// Joints a vertex can name: its joint slots are 16-bit.
constexpr std::size_t kMaxPaletteJoints = 65'536;
constexpr std::size_t kInfluences = 4;

// Extensions the importer understands well enough to be required by a file.
const std::set<std::string> kSupportedRequired = {"KHR_mesh_quantization"};
// Extensions whose use is reported where it shows (lights on their nodes) or that change
// nothing the runtime draws.
const std::set<std::string> kQuietlyUsed = {"KHR_mesh_quantization", "KHR_lights_punctual",
                                            "KHR_materials_specular", "KHR_materials_ior"};

// ---- Section: reading the document ----

// tinygltf hands every image it can reach to this instead of decoding it; images inside
// buffer views are left to the importer, which checks their range first.
bool keepEncodedImage(tinygltf::Image* image, const int, std::string*, std::string*, int, int,
                      const unsigned char* bytes, int size, void*) {
    if (image->bufferView < 0 && bytes != nullptr && size > 0) {
        image->image.assign(bytes, bytes + size);
    }
    return true;
}

struct FileAccess {
    bool allowed = true;
};

bool fileExists(const std::string& path, void* user) {
    std::error_code error;
    return static_cast<FileAccess*>(user)->allowed && std::filesystem::is_regular_file(path, error);
}

std::string expandPath(const std::string& path, void*) { return path; }

bool readFile(std::vector<unsigned char>* out, std::string* err, const std::string& path, void* user) {
    if (!static_cast<FileAccess*>(user)->allowed) {
        if (err) *err += "external file " + path + " is not read here\n";
        return false;
    }
    try {
        const std::vector<std::byte> bytes = readSourceFile(path);
        out->resize(bytes.size());
        std::memcpy(out->data(), bytes.data(), bytes.size());
        return true;
    } catch (const ImportError& error) {
        if (err) *err += std::string(error.what()) + "\n";
        return false;
    }
}

bool refuseWrite(std::string* err, const std::string&, const std::vector<unsigned char>&, void*) {
    if (err) *err += "the importer writes no glTF files\n";
    return false;
}

// tinygltf's messages as one line.
std::string oneLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    std::replace(text.begin(), text.end(), '\n', ';');
    return text;
}

tinygltf::Model parseDocument(std::span<const std::byte> file, const std::filesystem::path& directory,
                              const std::string& sourceName, bool readExternalFiles,
                              std::vector<std::string>& warnings) {
    if (file.size() > kMaxSourceFileBytes) {
        throw ImportError(sourceName + ": the file has " + std::to_string(file.size()) + " bytes, more than " +
                          std::to_string(kMaxSourceFileBytes));
    }
    FileAccess access{readExternalFiles};
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(keepEncodedImage, nullptr);
    loader.SetFsCallbacks({fileExists, expandPath, readFile, refuseWrite, &access});
    tinygltf::Model document;
    std::string err, warn;
    const auto* bytes = reinterpret_cast<const unsigned char*>(file.data());
    const auto size = static_cast<unsigned int>(file.size());
    const std::string base = directory.string();
    const bool binary = file.size() >= 4 && std::memcmp(bytes, "glTF", 4) == 0;
    const bool loaded =
        binary ? loader.LoadBinaryFromMemory(&document, &err, &warn, bytes, size, base)
               : loader.LoadASCIIFromString(&document, &err, &warn, reinterpret_cast<const char*>(bytes), size, base);
    if (!loaded) {
        throw ImportError(sourceName + ": " + (err.empty() ? std::string("not a glTF file") : oneLine(err)));
    }
    if (!warn.empty()) warnings.push_back(oneLine(warn));
    return document;
}

void checkExtensions(const GltfReader& reader, std::vector<std::string>& warnings) {
    for (const std::string& extension : reader.document().extensionsRequired) {
        if (!kSupportedRequired.contains(extension)) {
            reader.fail("the file requires extension " + extension + ", which the importer does not support");
        }
    }
    for (const std::string& extension : reader.document().extensionsUsed) {
        if (!kQuietlyUsed.contains(extension)) {
            warnings.push_back("extension " + extension + " is ignored");
        }
    }
}

// ---- Section: skins ----

std::vector<content::Skin> readSkins(const GltfReader& reader, const SceneNodes& nodes,
                                     const content::ModelLimits& limits) {
    const tinygltf::Model& document = reader.document();
    if (document.skins.size() > limits.maxSkins) {
        reader.fail("the file has " + std::to_string(document.skins.size()) + " skins, more than the " +
                    std::to_string(limits.maxSkins) + " a model may have");
    }
    std::vector<content::Skin> skins;
    for (std::size_t s = 0; s < document.skins.size(); ++s) {
        const tinygltf::Skin& source = document.skins[s];
        const std::string name = "skin " + std::to_string(s);
        const std::size_t maxJoints = std::min<std::size_t>(limits.maxJointsPerSkin, kMaxPaletteJoints);
        if (source.joints.empty() || source.joints.size() > maxJoints) {
            reader.fail(name + " has " + std::to_string(source.joints.size()) + " joints, not 1 to " +
                        std::to_string(maxJoints));
        }
        content::Skin skin;
        skin.name = source.name.empty() ? "skin_" + std::to_string(s) : source.name;
        std::map<int, std::size_t> seen;
        for (std::size_t j = 0; j < source.joints.size(); ++j) {
            const int joint = source.joints[j];
            if (joint < 0 || static_cast<std::size_t>(joint) >= nodes.imported.size()) {
                reader.fail(name + " joint " + std::to_string(j) + " is node " + std::to_string(joint) +
                            ", but the file has " + std::to_string(nodes.imported.size()) + " nodes");
            }
            if (nodes.imported[static_cast<std::size_t>(joint)] < 0) {
                reader.fail(name + " joint " + std::to_string(j) + " is node " + std::to_string(joint) +
                            ", which is not in the scene");
            }
            if (const auto [at, fresh] = seen.emplace(joint, j); !fresh) {
                reader.fail(name + " names node " + std::to_string(joint) + " twice, as joints " +
                            std::to_string(at->second) + " and " + std::to_string(j));
            }
            skin.joints.push_back(static_cast<u32>(nodes.imported[static_cast<std::size_t>(joint)]));
        }
        if (source.skeleton >= 0 && static_cast<std::size_t>(source.skeleton) < nodes.imported.size()) {
            skin.skeleton = nodes.imported[static_cast<std::size_t>(source.skeleton)];
        }
        if (source.inverseBindMatrices >= 0) {
            const std::vector<f64> matrices = reader.numbers(source.inverseBindMatrices, ElementType::mat4, {kFloat},
                                                             limits.maxJointsPerSkin, name + " inverse bind matrices");
            if (matrices.size() < source.joints.size() * 16) {
                reader.fail(name + " has " + std::to_string(matrices.size() / 16) + " inverse bind matrices for " +
                            std::to_string(source.joints.size()) + " joints");
            }
            for (std::size_t j = 0; j < source.joints.size(); ++j) {
                skin.inverseBindMatrices.push_back(mirroredMatrix(std::span(matrices).subspan(j * 16, 16)));
            }
        } else {
            skin.inverseBindMatrices.assign(source.joints.size(), content::identityMatrix());
        }
        skins.push_back(std::move(skin));
    }
    return skins;
}

// ---- Section: materials and textures ----

class TextureWriter {
public:
    explicit TextureWriter(const GltfReader& reader) : reader_(reader) {}

    // The path of image `index` as a PNG beside the model, written on first use.
    std::string pathOf(int index) {
        const tinygltf::Model& document = reader_.document();
        if (index < 0 || static_cast<std::size_t>(index) >= document.images.size()) {
            reader_.fail("a texture names image " + std::to_string(index) + ", but the file has " +
                         std::to_string(document.images.size()));
        }
        const std::string path = "texture_" + std::to_string(index) + ".png";
        if (written_.insert(index).second) {
            files_.push_back({path, encodePng(decode(index))});
        }
        return path;
    }

    std::vector<BakedFile>& files() noexcept { return files_; }

private:
    Image decode(int index) const {
        const tinygltf::Image& image = reader_.document().images[static_cast<std::size_t>(index)];
        const std::string name = "image " + std::to_string(index);
        std::span<const u8> bytes(image.image.data(), image.image.size());
        if (image.bufferView >= 0) {
            bytes = reader_.bufferView(image.bufferView, name);
        } else if (bytes.empty()) {
            reader_.fail(name + " (\"" + image.uri + "\") could not be read");
        }
        const content::ImageLimits limits;
        try {
            if (isPngSignature(bytes)) return decodePng(bytes, name, limits);
            if (isJpegSignature(bytes)) return decodeJpeg(bytes, name, limits);
        } catch (const ImportError& error) {
            reader_.fail(error.what());
        }
        reader_.fail(name + " is neither a PNG nor a JPEG");
    }

    const GltfReader& reader_;
    std::set<int> written_;
    std::vector<BakedFile> files_;
};

std::vector<content::Material> readMaterials(const GltfReader& reader, TextureWriter& textures,
                                             const content::ModelLimits& limits,
                                             std::vector<std::string>& warnings) {
    const tinygltf::Model& document = reader.document();
    std::vector<content::Material> materials;
    if (document.materials.size() > limits.maxMaterials) {
        reader.fail("the file has " + std::to_string(document.materials.size()) + " materials, more than the " +
                    std::to_string(limits.maxMaterials) + " a model may have");
    }
    for (std::size_t m = 0; m < document.materials.size(); ++m) {
        const tinygltf::Material& source = document.materials[m];
        const std::string name = "material " + std::to_string(m);
        content::Material material;
        material.name = source.name.empty() ? "material_" + std::to_string(m) : source.name;
        const std::vector<f64>& factor = source.pbrMetallicRoughness.baseColorFactor;
        if (factor.size() != 4 || !std::all_of(factor.begin(), factor.end(), [](f64 v) { return std::isfinite(v); })) {
            reader.fail(name + ": base colour factor is not four finite numbers");
        }
        for (std::size_t c = 0; c < 4; ++c) material.baseColor[c] = static_cast<f32>(factor[c]);
        material.doubleSided = source.doubleSided;
        if (source.alphaMode == "OPAQUE") {
            material.alphaMode = content::kAlphaOpaque;
        } else if (source.alphaMode == "BLEND") {
            material.alphaMode = content::kAlphaBlended;
        } else if (source.alphaMode == "MASK") {
            if (!std::isfinite(source.alphaCutoff) || source.alphaCutoff < 0.0) {
                reader.fail(name + formatText(": alpha cutoff %g is not a finite number of at least 0",
                                              source.alphaCutoff));
            }
            // alpha >= cutoff exactly when alpha x (0.5 / cutoff) >= 0.5, the runtime's test;
            // a cutoff of 0 keeps every pixel, as an opaque material does.
            if (source.alphaCutoff > 0.0) {
                material.alphaMode = content::kAlphaTested;
                material.baseColor[3] = static_cast<f32>(factor[3] * kRuntimeAlphaCutoff / source.alphaCutoff);
            }
        } else {
            reader.fail(name + ": alpha mode \"" + source.alphaMode + "\" is not OPAQUE, MASK or BLEND");
        }
        if (!std::all_of(material.baseColor.begin(), material.baseColor.end(), [](f32 v) { return std::isfinite(v); })) {
            reader.fail(name + ": base colour does not fit single precision");
        }
        const tinygltf::TextureInfo& base = source.pbrMetallicRoughness.baseColorTexture;
        if (base.index >= 0) {
            if (static_cast<std::size_t>(base.index) >= document.textures.size()) {
                reader.fail(name + ": base colour texture " + std::to_string(base.index) + ", but the file has " +
                            std::to_string(document.textures.size()) + " textures");
            }
            if (base.texCoord != 0) {
                warnings.push_back(name + " maps its base colour with TEXCOORD_" + std::to_string(base.texCoord) +
                                   "; the runtime uses TEXCOORD_0");
            }
            const int source_ = document.textures[static_cast<std::size_t>(base.index)].source;
            if (source_ < 0) {
                warnings.push_back(name + ": texture " + std::to_string(base.index) +
                                   " has no PNG or JPEG source; the material is drawn without it");
            } else {
                material.texture = textures.pathOf(source_);
            }
        }
        materials.push_back(std::move(material));
    }
    if (materials.empty()) {
        content::Material fallback;
        fallback.name = "default";
        materials.push_back(fallback);
    }
    return materials;
}

// ---- Section: meshes ----

std::string primitiveName(std::size_t mesh, std::size_t primitive) {
    return "mesh " + std::to_string(mesh) + " primitive " + std::to_string(primitive);
}

const char* modeName(int mode) noexcept {
    switch (mode) {
    case 0: return "points";
    case 1: return "lines";
    case 2: return "a line loop";
    case 3: return "a line strip";
    case 5: return "a triangle strip";
    case 6: return "a triangle fan";
    default: return "an unknown mode";
    }
}

struct MeshTotals {
    u64 vertices = 0;
    u64 indices = 0;
};

// Area-weighted face normals, summed per vertex, in glTF's frame (counter-clockwise faces
// are front faces there, so the plain cross product points out).
void computeNormals(std::vector<content::Vertex>& vertices, const std::vector<u32>& indices) {
    std::vector<Vec3> sums(vertices.size());
    const auto at = [&](u32 i) {
        const auto& p = vertices[i].position;
        return Vec3{p[0], p[1], p[2]};
    };
    for (std::size_t t = 0; t + 2 < indices.size(); t += 3) {
        const Vec3 a = at(indices[t]), b = at(indices[t + 1]), c = at(indices[t + 2]);
        const Vec3 face = cross(b - a, c - a);
        for (std::size_t k = 0; k < 3; ++k) sums[indices[t + k]] += face;
    }
    for (std::size_t v = 0; v < vertices.size(); ++v) {
        const Vec3 n = length(sums[v]) > 0.0 ? normalized(sums[v]) : Vec3{0.0, 1.0, 0.0};
        vertices[v].normal = {static_cast<f32>(n.x), static_cast<f32>(n.y), static_cast<f32>(n.z)};
    }
}

int attribute(const tinygltf::Primitive& primitive, const std::string& name) {
    const auto it = primitive.attributes.find(name);
    return it == primitive.attributes.end() ? -1 : it->second;
}

// The four largest influences of every vertex from JOINTS_n / WEIGHTS_n, renormalised.
void readInfluences(const GltfReader& reader, const tinygltf::Primitive& primitive, const std::string& name,
                    std::size_t jointCount, std::vector<content::Vertex>& vertices,
                    std::vector<std::string>& warnings) {
    struct Influence {
        f64 weight;
        u32 joint;
    };
    std::vector<std::vector<Influence>> influences(vertices.size());
    for (int set = 0;; ++set) {
        const std::string joints = "JOINTS_" + std::to_string(set), weights = "WEIGHTS_" + std::to_string(set);
        const int jointAccessor = attribute(primitive, joints), weightAccessor = attribute(primitive, weights);
        if (jointAccessor < 0 && weightAccessor < 0) break;
        if (jointAccessor < 0 || weightAccessor < 0) {
            reader.fail(name + " has " + (jointAccessor < 0 ? weights + " without " + joints
                                                            : joints + " without " + weights));
        }
        const std::vector<f64> j = reader.numbers(jointAccessor, ElementType::vec4, {kUnsignedByte, kUnsignedShort},
                                                  vertices.size(), name + " " + joints);
        const std::vector<f64> w =
            reader.numbers(weightAccessor, ElementType::vec4, {kFloat, kUnsignedByte, kUnsignedShort},
                           vertices.size(), name + " " + weights);
        if (j.size() != vertices.size() * 4 || w.size() != vertices.size() * 4) {
            reader.fail(name + ": " + joints + " or " + weights + " does not have one element per vertex");
        }
        for (std::size_t v = 0; v < vertices.size(); ++v) {
            for (std::size_t k = 0; k < 4; ++k) {
                const f64 weight = w[v * 4 + k];
                const auto joint = static_cast<u32>(j[v * 4 + k]);
                if (weight < 0.0) {
                    reader.fail(name + ": " + weights + " of vertex " + std::to_string(v) + " is negative");
                }
                if (weight == 0.0) continue;
                if (joint >= jointCount) {
                    reader.fail(name + ": " + joints + " names joint " + std::to_string(joint) + " of a skin with " +
                                std::to_string(jointCount) + " joints");
                }
                influences[v].push_back({weight, joint});
            }
        }
    }
    std::size_t crowded = 0;
    for (std::size_t v = 0; v < vertices.size(); ++v) {
        std::vector<Influence>& list = influences[v];
        std::stable_sort(list.begin(), list.end(), [](const Influence& a, const Influence& b) {
            return a.weight > b.weight;
        });
        if (list.size() > kInfluences) {
            ++crowded;
            list.resize(kInfluences);
        }
        f64 total = 0.0;
        for (const Influence& influence : list) total += influence.weight;
        if (!(total > 0.0)) {
            reader.fail(name + ": vertex " + std::to_string(v) + " has no joint weight");
        }
        for (std::size_t k = 0; k < list.size(); ++k) {
            vertices[v].joints[k] = static_cast<u16>(list[k].joint);
            vertices[v].weights[k] = static_cast<f32>(list[k].weight / total);
        }
    }
    if (crowded > 0) {
        warnings.push_back(name + ": vertices with more than four joint influences (" + std::to_string(crowded) +
                           ") keep the four largest");
    }
}

content::Mesh readPrimitive(const GltfReader& reader, std::size_t meshIndex, std::size_t primitiveIndex,
                            const content::Skin* skin, const content::ModelLimits& limits, MeshTotals& totals,
                            std::vector<std::string>& warnings) {
    const tinygltf::Mesh& sourceMesh = reader.document().meshes[meshIndex];
    const tinygltf::Primitive& primitive = sourceMesh.primitives[primitiveIndex];
    const std::string name = primitiveName(meshIndex, primitiveIndex);
    if (primitive.mode != 4) {
        reader.fail(name + " draws " + modeName(primitive.mode) + " (mode " + std::to_string(primitive.mode) +
                    "); the importer takes triangles (mode 4) only");
    }
    const int positions = attribute(primitive, "POSITION");
    if (positions < 0) {
        reader.fail(name + " has no POSITION");
    }
    const std::size_t vertexCount = reader.count(positions, limits.maxVerticesPerMesh, name + " POSITION");
    if (totals.vertices + vertexCount > limits.maxTotalVertices) {
        reader.fail(name + " brings the vertices to " + std::to_string(totals.vertices + vertexCount) +
                    ", more than the " + std::to_string(limits.maxTotalVertices) + " a model may have");
    }
    const std::initializer_list<int> anyNumber = {kFloat, kSignedByte, kUnsignedByte, kSignedShort, kUnsignedShort};
    const auto read = [&](const char* attributeName, ElementType type) {
        const int accessor = attribute(primitive, attributeName);
        if (accessor < 0) return std::vector<f64>{};
        std::vector<f64> values =
            reader.numbers(accessor, type, anyNumber, vertexCount, name + " " + attributeName);
        if (values.size() != vertexCount * static_cast<std::size_t>(type)) {
            reader.fail(name + ": " + attributeName + " has " + std::to_string(values.size() / static_cast<std::size_t>(type)) +
                        " elements for " + std::to_string(vertexCount) + " vertices");
        }
        return values;
    };
    const std::vector<f64> position = read("POSITION", ElementType::vec3);
    const std::vector<f64> normal = read("NORMAL", ElementType::vec3);
    const std::vector<f64> uv = read("TEXCOORD_0", ElementType::vec2);
    if (attribute(primitive, "TEXCOORD_1") >= 0) {
        warnings.push_back(name + " has a second UV set (TEXCOORD_1), which the runtime does not use");
    }
    if (!primitive.targets.empty()) {
        warnings.push_back(name + " has morph targets (" + std::to_string(primitive.targets.size()) +
                           "), which the runtime does not show");
    }

    content::Mesh mesh;
    const std::string meshName = sourceMesh.name.empty() ? "mesh_" + std::to_string(meshIndex) : sourceMesh.name;
    mesh.name = sourceMesh.primitives.size() > 1 ? meshName + "_" + std::to_string(primitiveIndex) : meshName;
    mesh.vertices.resize(vertexCount);
    for (std::size_t v = 0; v < vertexCount; ++v) {
        content::Vertex& vertex = mesh.vertices[v];
        for (std::size_t c = 0; c < 3; ++c) vertex.position[c] = static_cast<f32>(position[v * 3 + c]);
        if (!normal.empty()) {
            for (std::size_t c = 0; c < 3; ++c) vertex.normal[c] = static_cast<f32>(normal[v * 3 + c]);
        }
        if (!uv.empty()) {
            for (std::size_t c = 0; c < 2; ++c) vertex.uv[c] = static_cast<f32>(uv[v * 2 + c]);
        }
    }

    if (primitive.indices >= 0) {
        const std::vector<f64> indices =
            reader.numbers(primitive.indices, ElementType::scalar, {kUnsignedByte, kUnsignedShort, kUnsignedInt},
                           limits.maxIndicesPerMesh, name + " indices");
        mesh.indices.reserve(indices.size());
        for (std::size_t i = 0; i < indices.size(); ++i) {
            if (indices[i] >= static_cast<f64>(vertexCount)) {
                reader.fail(name + ": index " + std::to_string(i) + " is " +
                            std::to_string(static_cast<u64>(indices[i])) + ", but the primitive has " +
                            std::to_string(vertexCount) + " vertices");
            }
            mesh.indices.push_back(static_cast<u32>(indices[i]));
        }
    } else {
        if (vertexCount > limits.maxIndicesPerMesh) {
            reader.fail(name + " needs " + std::to_string(vertexCount) + " indices, more than the " +
                        std::to_string(limits.maxIndicesPerMesh) + " a mesh may have");
        }
        for (std::size_t v = 0; v < vertexCount; ++v) mesh.indices.push_back(static_cast<u32>(v));
    }
    if (mesh.indices.size() % 3 != 0) {
        reader.fail(name + " has " + std::to_string(mesh.indices.size()) +
                    (primitive.indices >= 0 ? " indices" : " vertices and no indices") + ", not whole triangles");
    }
    if (totals.indices + mesh.indices.size() > limits.maxTotalIndices) {
        reader.fail(name + " brings the indices to " + std::to_string(totals.indices + mesh.indices.size()) +
                    ", more than the " + std::to_string(limits.maxTotalIndices) + " a model may have");
    }
    if (normal.empty()) computeNormals(mesh.vertices, mesh.indices);

    if (skin != nullptr) {
        if (attribute(primitive, "JOINTS_0") < 0) {
            reader.fail(name + " is drawn with a skin but has no JOINTS_0 and WEIGHTS_0");
        }
        readInfluences(reader, primitive, name, skin->joints.size(), mesh.vertices, warnings);
    }
    for (content::Vertex& vertex : mesh.vertices) {
        vertex.position[0] = -vertex.position[0];
        vertex.normal[0] = -vertex.normal[0];
    }
    totals.vertices += vertexCount;
    totals.indices += mesh.indices.size();
    return mesh;
}

// One mesh per primitive of every node's mesh, in node order.
std::vector<content::Mesh> readMeshes(const GltfReader& reader, const SceneNodes& nodes,
                                      const std::vector<content::Skin>& skins, std::vector<content::Node>& out,
                                      const content::ModelLimits& limits, std::vector<std::string>& warnings) {
    const tinygltf::Model& document = reader.document();
    std::vector<content::Mesh> meshes;
    MeshTotals totals;
    for (std::size_t n = 0; n < nodes.gltfNode.size(); ++n) {
        const int g = nodes.gltfNode[n];
        const tinygltf::Node& node = document.nodes[static_cast<std::size_t>(g)];
        if (node.mesh < 0) continue;
        const std::string name = "node " + std::to_string(g);
        if (static_cast<std::size_t>(node.mesh) >= document.meshes.size()) {
            reader.fail(name + " names mesh " + std::to_string(node.mesh) + ", but the file has " +
                        std::to_string(document.meshes.size()));
        }
        if (node.skin >= 0 && static_cast<std::size_t>(node.skin) >= skins.size()) {
            reader.fail(name + " names skin " + std::to_string(node.skin) + ", but the file has " +
                        std::to_string(skins.size()));
        }
        const content::Skin* skin = node.skin >= 0 ? &skins[static_cast<std::size_t>(node.skin)] : nullptr;
        const tinygltf::Mesh& mesh = document.meshes[static_cast<std::size_t>(node.mesh)];
        for (std::size_t p = 0; p < mesh.primitives.size(); ++p) {
            if (meshes.size() == limits.maxMeshes) {
                reader.fail("the scene has more than the " + std::to_string(limits.maxMeshes) +
                            " mesh primitives a model may have");
            }
            content::Mesh built =
                readPrimitive(reader, static_cast<std::size_t>(node.mesh), p, skin, limits, totals, warnings);
            const int material = mesh.primitives[p].material;
            if (material >= 0 && static_cast<std::size_t>(material) >= document.materials.size()) {
                reader.fail(primitiveName(static_cast<std::size_t>(node.mesh), p) + " names material " +
                            std::to_string(material) + ", but the file has " +
                            std::to_string(document.materials.size()));
            }
            built.material = material;
            built.node = static_cast<i32>(n);
            built.skin = node.skin;
            if (out[n].firstMesh < 0) out[n].firstMesh = static_cast<i32>(meshes.size());
            out[n].skin = node.skin;
            meshes.push_back(std::move(built));
        }
    }
    return meshes;
}

// ---- Section: clips ----

struct PlannedClip {
    std::string name;
    int animation = 0;
};

std::string animationLabel(const tinygltf::Animation& animation, std::size_t index) {
    return animation.name.empty() ? "#" + std::to_string(index) : "\"" + animation.name + "\"";
}

std::string animationList(const tinygltf::Model& document) {
    if (document.animations.empty()) return "the file has no animations";
    std::string list = "the file's animations: ";
    for (std::size_t a = 0; a < document.animations.size(); ++a) {
        list += (a == 0 ? "" : ", ") + animationLabel(document.animations[a], a);
    }
    return list;
}

// The animation `source` names, or -1.
int findAnimation(const tinygltf::Model& document, const std::string& source) {
    for (std::size_t a = 0; a < document.animations.size(); ++a) {
        if (document.animations[a].name == source) return static_cast<int>(a);
    }
    if (source.size() > 1 && source[0] == '#' && source.size() <= 10 &&
        source.find_first_not_of("0123456789", 1) == std::string::npos) {
        const u64 index = std::stoull(source.substr(1));
        if (index < document.animations.size()) return static_cast<int>(index);
    }
    return -1;
}

std::vector<PlannedClip> planClips(const GltfReader& reader, const ImportOptions& options) {
    const tinygltf::Model& document = reader.document();
    std::map<std::string, int> mapped;
    for (const ClipMapping& mapping : options.clips) {
        const std::string option = "--clip=" + mapping.clip + "=" + mapping.source;
        const int animation = findAnimation(document, mapping.source);
        if (animation < 0) {
            reader.fail(option + ": no animation is \"" + mapping.source + "\" (" + animationList(document) + ")");
        }
        if (options.characterClass != nullptr) {
            const auto& names = options.characterClass->clipNames;
            if (mapping.clip != kKnockDownClipName &&
                std::find_if(names.begin(), names.end(), [&](const char* n) { return mapping.clip == n; }) ==
                    names.end()) {
                reader.fail(option + ": the " + std::string(options.characterClass->directory) + " plays no clip " +
                            mapping.clip);
            }
        }
        if (!mapped.emplace(mapping.clip, animation).second) {
            reader.fail(option + ": clip " + mapping.clip + " is mapped twice");
        }
    }
    std::vector<PlannedClip> plan;
    if (options.characterClass != nullptr) {
        // A table clip comes from its mapping, else an animation of its own name, else the idle's source.
        const auto sourceOf = [&](const std::string& clip) {
            const auto it = mapped.find(clip);
            return it != mapped.end() ? it->second : findAnimation(document, clip);
        };
        const std::string idle = options.characterClass->clipNames.front();
        const int idleSource = sourceOf(idle);
        if (idleSource < 0) {
            reader.fail("the " + std::string(options.characterClass->directory) + " needs its idle clip " + idle +
                        ": map it with --clip=" + idle + "=SOURCE (" + animationList(document) + ")");
        }
        for (const char* clip : options.characterClass->clipNames) {
            const int source = sourceOf(clip);
            plan.push_back({clip, source >= 0 ? source : idleSource});
        }
        // The knock-down clip is optional: without an animation for it the fighter idles while
        // down, which an idle copied in its place would only imitate.
        if (const int source = sourceOf(kKnockDownClipName); source >= 0) {
            plan.push_back({kKnockDownClipName, source});
        }
    } else if (!options.clips.empty()) {
        for (const ClipMapping& mapping : options.clips) plan.push_back({mapping.clip, mapped.at(mapping.clip)});
    } else {
        std::map<std::string, std::size_t> names;
        for (std::size_t a = 0; a < document.animations.size(); ++a) {
            const std::string name = document.animations[a].name.empty() ? "animation_" + std::to_string(a)
                                                                          : document.animations[a].name;
            if (const auto [at, fresh] = names.emplace(name, a); !fresh) {
                reader.fail("animations " + std::to_string(at->second) + " and " + std::to_string(a) +
                            " are both named \"" + name + "\"; name the clips with --clip=NAME=#INDEX");
            }
            plan.push_back({name, static_cast<int>(a)});
        }
    }
    if (plan.size() > content::ModelLimits{}.maxClips) {
        reader.fail("the file has " + std::to_string(plan.size()) + " animations, more than the " +
                    std::to_string(content::ModelLimits{}.maxClips) + " clips a model may have");
    }
    return plan;
}

struct ClipFrames {
    std::string name;
    ResampledClip frames;
};

// ---- Section: assembly ----

struct Assembly {
    content::Model model;  // transforms still to be filled in
    std::vector<Trs> rest;  // glTF frame
    std::vector<int> parent;
    std::vector<int> gltfNode;
    std::vector<ClipFrames> clips;
    f32 sampleRate = kDefaultImportSampleRate;
};

bool isFinite(const content::Transform& t) noexcept {
    const auto finite = [](const auto& values) {
        return std::all_of(values.begin(), values.end(), [](f32 v) { return std::isfinite(v); });
    };
    return finite(t.translation) && finite(t.rotation) && finite(t.scale);
}

// Fills in every transform of the model: mirrored into the runtime's frame, the roots with
// the placement above them. Numbers that single precision cannot hold are refused.
void placeTransforms(const GltfReader& reader, Assembly& assembly, const RootPlacement& placement) {
    const auto runtime = [&](const Trs& t, std::size_t node, const std::string& where) {
        const Trs m = mirrored(t);
        const content::Transform out = toTransform(assembly.parent[node] < 0 ? placed(m, placement) : m);
        if (!isFinite(out)) {
            reader.fail(where + "node " + std::to_string(assembly.gltfNode[node]) +
                        ": transform does not fit single precision");
        }
        return out;
    };
    const std::size_t nodeCount = assembly.rest.size();
    for (std::size_t n = 0; n < nodeCount; ++n) assembly.model.nodes[n].transform = runtime(assembly.rest[n], n, "");
    assembly.model.clips.clear();
    for (const ClipFrames& source : assembly.clips) {
        content::AnimationClip clip;
        clip.name = source.name;
        clip.duration = source.frames.durationSeconds;
        clip.sampleRate = assembly.sampleRate;
        clip.frameCount = source.frames.frameCount;
        clip.nodeCount = static_cast<u32>(nodeCount);
        clip.samples.reserve(source.frames.frames.size());
        for (std::size_t i = 0; i < source.frames.frames.size(); ++i) {
            clip.samples.push_back(runtime(source.frames.frames[i], i % nodeCount,
                                           "clip " + source.name + " frame " + std::to_string(i / nodeCount) + " "));
        }
        assembly.model.clips.push_back(std::move(clip));
    }
}

content::Model decoded(const content::Model& model, const std::string& sourceName, std::vector<std::byte>* bytes) {
    std::vector<std::byte> written = content::writeModel(model);
    content::Model result = content::parseModel(written, content::ModelLimits{}, sourceName);
    if (bytes != nullptr) *bytes = std::move(written);
    return result;
}

// The lowest and highest y of the skinned meshes in the first frame of `clip`.
std::pair<f64, f64> verticalExtent(const content::Model& model, const std::string& clipName) {
    std::vector<content::Transform> locals(model.nodes.size());
    std::vector<content::Matrix4> globals(model.nodes.size());
    content::sampleClip(model, *content::findClip(model, clipName), 0.0, false, locals);
    content::computeGlobalMatrices(model, locals, globals);
    f64 low = INFINITY, high = -INFINITY;
    std::vector<content::Matrix4> palette;
    for (const content::Mesh& mesh : model.meshes) {
        palette.assign(mesh.skin >= 0 ? model.skins[static_cast<std::size_t>(mesh.skin)].joints.size() : 0, {});
        content::computeSkinningPalette(model, mesh, globals, palette);
        const content::Matrix4& node = globals[static_cast<std::size_t>(mesh.node)];
        for (const content::Vertex& v : mesh.vertices) {
            // y of p x M for the row-vector matrices: column 1.
            const auto yOf = [&](const content::Matrix4& m, f64 x, f64 y, f64 z, f64* full) {
                full[0] = x * m[0] + y * m[4] + z * m[8] + m[12];
                full[1] = x * m[1] + y * m[5] + z * m[9] + m[13];
                full[2] = x * m[2] + y * m[6] + z * m[10] + m[14];
            };
            f64 p[3] = {v.position[0], v.position[1], v.position[2]};
            if (!palette.empty()) {
                f64 sum[3] = {0.0, 0.0, 0.0}, one[3];
                for (std::size_t k = 0; k < kInfluences; ++k) {
                    if (v.weights[k] <= 0.0f) continue;
                    yOf(palette[v.joints[k]], p[0], p[1], p[2], one);
                    for (std::size_t c = 0; c < 3; ++c) sum[c] += one[c] * v.weights[k];
                }
                std::copy_n(sum, 3, p);
            }
            f64 world[3];
            yOf(node, p[0], p[1], p[2], world);
            low = std::min(low, world[1]);
            high = std::max(high, world[1]);
        }
    }
    return {low, high};
}

}  // namespace

ImportedCharacter importGltf(std::span<const std::byte> file, const std::filesystem::path& directory,
                             const std::string& sourceName, const ImportOptions& options) {
    if (!(options.sampleRate > 0.0f) || !(options.sampleRate <= content::ModelLimits{}.maxSampleRate)) {
        throw std::invalid_argument("the sample rate must lie in (0, 1000] frames per second");
    }
    if (options.heightMetres && options.characterClass == nullptr) {
        throw std::invalid_argument("--height needs --class");
    }
    ImportedCharacter result;
    std::vector<std::string>& warnings = result.warnings;
    const content::ModelLimits limits;
    const tinygltf::Model document = parseDocument(file, directory, sourceName, options.readExternalFiles, warnings);
    const GltfReader reader(document, sourceName);
    checkExtensions(reader, warnings);
    if (!document.cameras.empty()) {
        warnings.push_back("the file has cameras (" + std::to_string(document.cameras.size()) +
                           "), which the runtime does not use");
    }

    const SceneNodes nodes = readSceneNodes(reader, limits, warnings);
    Assembly assembly;
    assembly.rest = nodes.rest;
    assembly.parent = nodes.parent;
    assembly.gltfNode = nodes.gltfNode;
    assembly.sampleRate = options.sampleRate;
    content::Model& model = assembly.model;
    for (std::size_t n = 0; n < nodes.gltfNode.size(); ++n) {
        content::Node node;
        node.name = nodes.name[n];
        node.parent = nodes.parent[n];
        model.nodes.push_back(std::move(node));
    }
    model.skins = readSkins(reader, nodes, limits);
    model.meshes = readMeshes(reader, nodes, model.skins, model.nodes, limits, warnings);
    TextureWriter textures(reader);
    model.materials = readMaterials(reader, textures, limits, warnings);

    std::map<int, SourceAnimation> animations;
    u64 samplesLeft = limits.maxTotalAnimationSamples;
    for (const PlannedClip& planned : planClips(reader, options)) {
        if (!animations.contains(planned.animation)) {
            animations.emplace(planned.animation, readAnimation(reader, planned.animation, nodes, limits, warnings));
        }
        ClipFrames clip{planned.name, resampleAnimation(reader, animations.at(planned.animation), nodes.rest,
                                                        options.sampleRate, limits, samplesLeft)};
        samplesLeft -= clip.frames.frames.size();
        assembly.clips.push_back(std::move(clip));
    }

    RootPlacement placement;
    placeTransforms(reader, assembly, placement);
    if (options.characterClass != nullptr) {
        const ClassDrawConstants& draw = *options.characterClass;
        if (model.meshes.empty()) {
            reader.fail("the scene has no meshes to stand on the ground");
        }
        std::pair<f64, f64> extent;
        try {
            extent = verticalExtent(decoded(model, sourceName, nullptr), draw.clipNames.front());
        } catch (const content::ContentError& error) {
            reader.fail(std::string("the idle pose cannot be skinned: ") + error.what());
        }
        const auto [low, high] = extent;
        if (options.heightMetres) {
            if (!(high - low > 0.0)) {
                reader.fail(formatText("the idle pose has no height to scale to %g m", *options.heightMetres));
            }
            placement.scale = *options.heightMetres / (high - low);
        }
        result.standingHeightMetres = placement.scale * (high - low);
        if (!options.heightMetres && !(*result.standingHeightMetres >= kPlausibleHeightMinMetres &&
                                       *result.standingHeightMetres <= kPlausibleHeightMaxMetres)) {
            warnings.push_back(formatText(
                "the character stands %.2f m tall, far from a person's %g to %g m: the file is probably in other "
                "units than metres; import it again with --height=METRES (for example --height=1.8)",
                *result.standingHeightMetres, kPlausibleHeightMinMetres, kPlausibleHeightMaxMetres));
        }
        // The scene turns the model by the yaw offset and lifts it: undo both, so it stands
        // on the ground facing the character's yaw.
        placement.yawRadians = -draw.yawOffsetRadians;
        placement.translation = {0.0, -draw.liftMetres - placement.scale * low, 0.0};
        placeTransforms(reader, assembly, placement);
    }

    std::vector<std::byte> bytes;
    result.model = decoded(model, sourceName, &bytes);
    result.files.push_back({kImportedModelName, std::move(bytes)});
    for (BakedFile& texture : textures.files()) result.files.push_back(std::move(texture));
    return result;
}

}  // namespace kestrune::baker
