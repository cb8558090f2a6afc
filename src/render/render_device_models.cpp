// RenderDevice, part two: textures and models behind handles, and model drawing with GPU
// or CPU skinning. Lifetime, frames, primitives and present are in render_device.cpp.

#include "render/render_device.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/text_format.h"
#include "content/png.h"
#include "content/skinning.h"
#include "render/cpu_skinning.h"

namespace kestrune::render {

namespace {

constexpr u64 kMaxBufferBytes = 0xFFFF'FFFFu;

// Material texture names are UTF-8 whatever the platform's narrow encoding is.
std::filesystem::path utf8Path(std::string_view name) {
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

u32 indexOf(TextureHandle handle) noexcept { return static_cast<u32>(handle); }
u32 indexOf(ModelHandle handle) noexcept { return static_cast<u32>(handle); }

std::span<const std::byte, kSkinConstantsBytes> skinConstantBytes(const SkinConstants& constants) noexcept {
    return std::as_bytes(std::span<const SkinConstants, 1>(&constants, 1));
}

const content::Skin& skinOf(const content::Model& model, const content::Mesh& mesh) {
    if (static_cast<std::size_t>(mesh.skin) >= model.skins.size()) {
        throw std::runtime_error("Mesh skin index escaped validated model bounds.");
    }
    return model.skins[static_cast<std::size_t>(mesh.skin)];
}

bool isHidden(std::string_view meshName, std::span<const std::string_view> hiddenMeshNames) noexcept {
    return std::any_of(hiddenMeshNames.begin(), hiddenMeshNames.end(),
                       [&](std::string_view hidden) { return meshName.find(hidden) != std::string_view::npos; });
}

// The record must still describe the model it is drawn with: same meshes with the same
// vertex counts, or CPU skinning would write past a mesh's vertex buffer.
bool recordMatches(const ModelRecord& record, const content::Model& model) noexcept {
    if (record.meshes.size() != model.meshes.size()) {
        return false;
    }
    for (std::size_t i = 0; i < record.meshes.size(); ++i) {
        if (record.meshes[i].vertexCount != model.meshes[i].vertices.size()) {
            return false;
        }
    }
    return true;
}

constexpr MaterialRecord kDefaultMaterial{};

// Unmaps on every path out of a write into a mapped buffer.
class MappedBuffer {
public:
    MappedBuffer(RenderBackend& backend, GpuBuffer buffer, const char* operation)
        : backend_(backend), buffer_(buffer), bytes_(backend.mapBuffer(buffer, operation)) {}
    ~MappedBuffer() { backend_.unmapBuffer(buffer_); }
    MappedBuffer(const MappedBuffer&) = delete;
    MappedBuffer& operator=(const MappedBuffer&) = delete;

    // The first `count` vertices of the mapped storage.
    std::span<PrimitiveVertex> vertices(std::size_t count) const noexcept {
        return {reinterpret_cast<PrimitiveVertex*>(bytes_.data()), count};
    }

private:
    RenderBackend& backend_;
    GpuBuffer buffer_;
    std::span<std::byte> bytes_;
};

}  // namespace

// ---- Section: GPU resources ----

TextureHandle RenderDevice::LoadTexture(const std::filesystem::path& path) {
    if (path.empty()) {
        return kWhiteTexture;
    }
    std::filesystem::path::string_type key = std::filesystem::weakly_canonical(path).native();
    if (const auto cached = textureCache_.find(key); cached != textureCache_.end()) {
        return cached->second;
    }
    // The loader's limits are ImageLimits' defaults.
    const content::DecodedImage image = content::loadPngImage(path, content::ImageLimits{});
    checkTextureFits(image.width, image.height, facts_.maxTextureDimensionPixels, path);
    if (textures_.size() >= kNoHandle) {
        throw std::overflow_error("Texture handle space exhausted.");
    }
    TextureDesc desc;
    desc.widthPixels = image.width;
    desc.heightPixels = image.height;
    desc.rowPitchBytes = image.stride;
    desc.pixels = std::as_bytes(std::span(image.pixels));
    desc.textureOperation = "ID3D11Device::CreateTexture2D(PNG)";
    desc.viewOperation = "ID3D11Device::CreateShaderResourceView(PNG)";
    const TextureHandle handle{static_cast<u32>(textures_.size())};
    textures_.push_back({backend_->createTexture(desc), image.width, image.height});
    textureCache_.emplace(std::move(key), handle);
    ++report_.statistics.uploadedTextures;
    return handle;
}

void checkTextureFits(u32 widthPixels, u32 heightPixels, u32 limitPixels, const std::filesystem::path& path) {
    if (widthPixels > limitPixels || heightPixels > limitPixels) {
        throw std::runtime_error(formatText("PNG texture of %u x %u pixels exceeds this device's limit of %u pixels "
                                            "a side: ",
                                            widthPixels, heightPixels, limitPixels) +
                                 path.string());
    }
}

const TextureRecord& RenderDevice::Texture(TextureHandle handle) const noexcept {
    if (handle == kNoTexture || indexOf(handle) >= textures_.size()) {
        return textures_[indexOf(kWhiteTexture)];
    }
    return textures_[indexOf(handle)];
}

const ModelRecord* RenderDevice::modelRecord(ModelHandle handle) const noexcept {
    return indexOf(handle) < models_.size() ? &models_[indexOf(handle)] : nullptr;
}

MeshRecord RenderDevice::uploadMesh(const content::Model& model, const content::Mesh& mesh) {
    if (mesh.vertices.empty() || mesh.indices.empty()) {
        throw std::runtime_error("KMDL mesh cannot be uploaded with no geometry.");
    }
    MeshRecord record;
    record.node = mesh.node;
    record.skin = mesh.skin;
    record.material = mesh.material;
    const bool fitsGpuPalette = mesh.skin < 0 || (static_cast<std::size_t>(mesh.skin) < model.skins.size() &&
                                                  model.skins[static_cast<std::size_t>(mesh.skin)].joints.size() <=
                                                      kGpuPaletteJoints);
    record.gpuSkinned = facts_.gpuSkinningSupported && fitsGpuPalette;
    const u32 strideBytes = record.gpuSkinned ? kGpuSkinnedStrideBytes : kCpuSkinnedStrideBytes;
    if (mesh.vertices.size() > kMaxBufferBytes / strideBytes || mesh.indices.size() > kMaxBufferBytes / sizeof(u32)) {
        throw std::overflow_error("D3D11 buffer size is invalid or exceeds UINT_MAX.");
    }
    record.vertexCount = static_cast<u32>(mesh.vertices.size());
    record.indexCount = static_cast<u32>(mesh.indices.size());

    BufferDesc vertices;
    vertices.binding = BufferBinding::vertex;
    vertices.sizeBytes = strideBytes * record.vertexCount;
    vertices.operation = "ID3D11Device::CreateBuffer(model vertices)";
    if (record.gpuSkinned) {
        vertices.usage = BufferUsage::immutable;
        vertices.initialData = std::as_bytes(std::span(mesh.vertices));
    } else {
        vertices.usage = BufferUsage::dynamic;
        if (record.skin >= 0) {
            // Sized here, so drawing never allocates a palette.
            const std::size_t joints = model.skins[static_cast<std::size_t>(mesh.skin)].joints.size();
            cpuPalette_.resize(std::max(cpuPalette_.size(), joints));
        }
    }
    record.vertexBuffer = backend_->createBuffer(vertices);
    try {
        record.indexBuffer =
            backend_->createBuffer({BufferBinding::index, BufferUsage::immutable,
                                    static_cast<u32>(sizeof(u32) * record.indexCount),
                                    std::as_bytes(std::span(mesh.indices)), "ID3D11Device::CreateBuffer(model indices)"});
    } catch (...) {
        backend_->releaseBuffer(record.vertexBuffer);
        throw;
    }
    return record;
}

void RenderDevice::releaseModel(ModelRecord& record) noexcept {
    for (MeshRecord& mesh : record.meshes) {
        backend_->releaseBuffer(std::exchange(mesh.indexBuffer, GpuBuffer::none));
        backend_->releaseBuffer(std::exchange(mesh.vertexBuffer, GpuBuffer::none));
    }
    record.meshes.clear();
}

ModelHandle RenderDevice::UploadModel(const content::Model& model, const std::filesystem::path& directory) {
    ModelRecord record;
    record.materials.reserve(model.materials.size());
    for (const content::Material& material : model.materials) {
        MaterialRecord out;
        out.texture = material.texture.empty() ? kWhiteTexture : LoadTexture(directory / utf8Path(material.texture));
        out.color = material.baseColor;
        out.alphaMode = material.alphaMode;
        out.doubleSided = material.doubleSided;
        record.materials.push_back(out);
    }
    try {
        record.meshes.reserve(model.meshes.size());
        for (const content::Mesh& mesh : model.meshes) {
            record.meshes.push_back(uploadMesh(model, mesh));
        }
        if (models_.size() >= kNoHandle) {
            throw std::overflow_error("Model handle space exhausted.");
        }
        models_.push_back(std::move(record));
    } catch (...) {
        releaseModel(record);
        throw;
    }
    ++report_.statistics.uploadedModels;
    report_.statistics.uploadedMeshes += model.meshes.size();
    return ModelHandle{static_cast<u32>(models_.size() - 1)};
}

// ---- Section: Model drawing ----

void RenderDevice::uploadGpuPalette(const content::Model& model, const content::Mesh& mesh,
                                    std::span<const Matrix4> pose) {
    if (!backend_->hasSkinConstants()) {
        throw std::runtime_error("GPU model pipeline is missing its skin constant buffer.");
    }
    u32 jointCount = 0;
    bool enabled = false;
    if (mesh.skin >= 0) {
        const content::Skin& skin = skinOf(model, mesh);
        if (skin.joints.size() > kGpuPaletteJoints) {
            throw std::runtime_error("GPU skin palette exceeds the renderer's validated matrix limit.");
        }
        jointCount = static_cast<u32>(skin.joints.size());
        enabled = true;
    }
    // Whatever the palette below leaves written counts as in use until the stale tail is cleared.
    const u32 stale = skinMatricesInUse_;
    skinMatricesInUse_ = std::max(stale, jointCount);
    const std::span<Matrix4> matrices(skinConstants_.skinMatrices);
    if (enabled) {
        content::computeSkinningPalette(model, mesh, pose, matrices.first(jointCount));
    }
    if (stale > jointCount) {
        std::fill(matrices.begin() + jointCount, matrices.begin() + stale, Matrix4{});
    }
    skinMatricesInUse_ = jointCount;
    skinConstants_.skinMetadata = {enabled ? 1u : 0u, jointCount, 0, 0};
    if (enabled) {
        RenderStatistics& stats = report_.statistics;
        ++stats.skinPaletteUploads;
        stats.skinnedVertices += mesh.vertices.size();
        stats.gpuSkinnedVertices += mesh.vertices.size();
    }
    backend_->writeSkinConstants(skinConstantBytes(skinConstants_));
}

void RenderDevice::skinOnCpu(const content::Model& model, const content::Mesh& mesh, const MeshRecord& record,
                             std::span<const Matrix4> pose) {
    std::span<const Matrix4> palette;
    if (mesh.skin >= 0) {
        const std::size_t jointCount = skinOf(model, mesh).joints.size();
        if (cpuPalette_.size() < jointCount) {
            cpuPalette_.resize(jointCount);  // only for a model other than the uploaded one
        }
        const std::span<Matrix4> storage = std::span(cpuPalette_).first(jointCount);
        content::computeSkinningPalette(model, mesh, pose, storage);
        palette = storage;
    }
    {
        const MappedBuffer mapped(*backend_, record.vertexBuffer, "ID3D11DeviceContext::Map(model vertices)");
        skinVertices(mesh.vertices, palette, mapped.vertices(record.vertexCount));
    }
    if (mesh.skin >= 0) {
        report_.statistics.skinnedVertices += mesh.vertices.size();
        report_.statistics.cpuSkinnedVertices += mesh.vertices.size();
    }
}

void RenderDevice::DrawModel(ModelHandle handle, const content::Model& model, std::span<const Matrix4> pose,
                             const Matrix4& world, const Color& tint, std::span<const std::string_view> hiddenMeshNames,
                             TextureHandle textureOverride, bool additive) {
    const ModelRecord* record = handle == ModelHandle{kNoHandle} ? nullptr : modelRecord(handle);
    if (record == nullptr || !recordMatches(*record, model)) {
        throw std::invalid_argument("Invalid renderer model handle.");
    }
    if (pose.size() != model.nodes.size()) {
        throw std::invalid_argument("Pose global matrix count does not match model nodes.");
    }
    for (const bool blendedPass : {false, true}) {
        for (std::size_t i = 0; i < model.meshes.size(); ++i) {
            const content::Mesh& mesh = model.meshes[i];
            if (isHidden(mesh.name, hiddenMeshNames)) {
                continue;
            }
            const MaterialRecord& material =
                mesh.material >= 0 && static_cast<std::size_t>(mesh.material) < record->materials.size()
                    ? record->materials[static_cast<std::size_t>(mesh.material)]
                    : kDefaultMaterial;
            if ((material.alphaMode == kAlphaModeBlended) != blendedPass) {
                continue;
            }
            const MeshRecord& meshRecord = record->meshes[i];
            if (meshRecord.gpuSkinned) {
                uploadGpuPalette(model, mesh, pose);
            } else {
                skinOnCpu(model, mesh, meshRecord, pose);
            }
            const Matrix4 meshWorld = mesh.node >= 0 ? multiply(pose[static_cast<std::size_t>(mesh.node)], world) : world;
            const TextureHandle texture = textureOverride != kNoTexture    ? textureOverride
                                          : material.texture != kNoTexture ? material.texture
                                                                           : kWhiteTexture;
            const Color color{tint[0] * material.color[0], tint[1] * material.color[1], tint[2] * material.color[2],
                              tint[3] * material.color[3]};
            // An additive draw keeps the material's pass but is unlit, double-sided and writes no depth.
            SetDrawState(meshWorld, texture, color, additive ? kAlphaModeBlended : material.alphaMode,
                         additive || material.doubleSided, true, additive, meshRecord.gpuSkinned);
            backend_->drawIndexed({meshRecord.vertexBuffer,
                                   meshRecord.gpuSkinned ? kGpuSkinnedStrideBytes : kCpuSkinnedStrideBytes,
                                   meshRecord.indexBuffer, meshRecord.indexCount});
            ++report_.statistics.drawCalls;
            report_.statistics.triangles += meshRecord.indexCount / 3;
        }
    }
}

}  // namespace kestrune::render
