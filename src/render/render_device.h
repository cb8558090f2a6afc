#pragma once
// RenderDevice: the system's one renderer, portable. It owns every decision that is not
// an API call (texture and model handle spaces, the texture cache, model records, the
// two-pass model draw with GPU or CPU skinning, draw-state choice and lighting constants,
// primitive buffer growth, shapes, statistics and timings, screenshots) and drives one
// RenderBackend (Direct3D 11 on Windows, OpenGL 3.3 on Linux, a recording one in tests).
// Runs on the window thread only. Create/draw/present failures throw and leave the object
// to Destroy. The implementation is split: render_device.cpp (lifetime, frame, primitives,
// present) and render_device_models.cpp (textures, model uploads, model drawing).

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/types.h"
#include "content/model.h"
#include "render/camera_math.h"
#include "render/cpu_skinning.h"
#include "render/primitive_shapes.h"
#include "render/render_backend.h"
#include "render/render_report.h"
#include "render/render_types.h"

namespace kestrune::render {

inline constexpr Color kClearColor{0.012f, 0.019f, 0.031f, 1.0f};

// Lighting constants of the pixel program, chosen per draw from the alpha mode.
inline constexpr f32 kLitAmbient = 0.32f;
inline constexpr f32 kLitDirectional = 0.76f;
inline constexpr f32 kAlphaTestCutoff = 0.5f;

// Primitive buffers grow by doubling from these minimums up to the last count whose
// byte size fits 32 bits.
inline constexpr u64 kMinPrimitiveVertices = 256;
inline constexpr u64 kMinPrimitiveIndices = 512;
inline constexpr u64 kPrimitiveVertexLimit = 89'478'486;   // first count with 48 x count > UINT_MAX
inline constexpr u64 kPrimitiveIndexLimit = 1'073'741'824;  // first count with 4 x count > UINT_MAX
static_assert((kPrimitiveVertexLimit - 1) * sizeof(PrimitiveVertex) <= 0xFFFF'FFFFull &&
                  kPrimitiveVertexLimit * sizeof(PrimitiveVertex) > 0xFFFF'FFFFull,
              "vertex limit is the first count beyond 32-bit sizes");
static_assert(kPrimitiveIndexLimit * sizeof(u32) == 0x1'0000'0000ull,
              "index limit is the first count beyond 32-bit sizes");

// The capacity a growable buffer needs for `needed` elements: at least double the current
// one and at least `minimum`. Throws std::overflow_error "D3D11 buffer size is invalid or
// exceeds UINT_MAX." when that reaches `limit`.
u64 grownCapacity(u64 current, u64 needed, u64 minimum, u64 limit);

// A device creates textures up to a size a side (4096 at Direct3D feature level 9_3, 8192
// at 10_x), below what PNGs may have; a larger one throws std::runtime_error naming the
// file, its size and the limit, before the device is asked.
void checkTextureFits(u32 widthPixels, u32 heightPixels, u32 limitPixels, const std::filesystem::path& path);

inline constexpr u32 kAlphaModeOpaque = 0;
inline constexpr u32 kAlphaModeTested = 1;
inline constexpr u32 kAlphaModeBlended = 2;

struct TextureRecord {
    GpuTexture texture = GpuTexture::none;
    u32 widthPixels = 0;
    u32 heightPixels = 0;
};

// Vertex strides of the two model paths.
inline constexpr u32 kGpuSkinnedStrideBytes = sizeof(SkinnedVertex);
inline constexpr u32 kCpuSkinnedStrideBytes = sizeof(PrimitiveVertex);

// One per material of an uploaded model, in model order.
struct MaterialRecord {
    TextureHandle texture = kNoTexture;  // the white texture when the material names none
    Color color{1.0f, 1.0f, 1.0f, 1.0f};
    u32 alphaMode = kAlphaModeOpaque;
    bool doubleSided = false;
};

// One per mesh of an uploaded model, in model order. GPU path: immutable 56-byte model
// vertices; CPU path: a dynamic buffer of 48-byte vertices rewritten by every draw.
struct MeshRecord {
    GpuBuffer vertexBuffer = GpuBuffer::none;
    GpuBuffer indexBuffer = GpuBuffer::none;  // immutable 32-bit indices
    u32 vertexCount = 0;
    u32 indexCount = 0;
    i32 node = 0;
    i32 skin = -1;
    i32 material = -1;
    bool gpuSkinned = false;
};

struct ModelRecord {
    std::vector<MeshRecord> meshes;
    std::vector<MaterialRecord> materials;
};

class RenderDevice {
public:
    // How one kind of growable dynamic buffer grows.
    struct GrowableBuffer {
        BufferBinding binding;
        u32 elementBytes;
        u64 minimumCount;
        u64 limitCount;
        const char* operation;
    };

    explicit RenderDevice(std::unique_ptr<RenderBackend> backend);
    ~RenderDevice();
    RenderDevice(const RenderDevice&) = delete;
    RenderDevice& operator=(const RenderDevice&) = delete;

    // ---- Lifetime ----
    // Builds the device, targets, pipeline and white texture. A failure of the hardware
    // device attempt is retried once with the software rasterizer unless useWarp asked for it.
    void Create(NativeWindow window, u32 widthPixels, u32 heightPixels, bool useWarp);
    void Destroy() noexcept;
    bool created() const noexcept { return created_; }

    // ---- GPU resources ----
    // The handle of the PNG at `path`, decoded and uploaded the first time its weakly
    // canonical form is seen; an empty path is the white texture. Decoding failures
    // (ContentError) are not remembered; canonicalisation failures propagate as
    // std::filesystem::filesystem_error; a texture larger than the device takes throws
    // std::runtime_error (see checkTextureFits).
    TextureHandle LoadTexture(const std::filesystem::path& path);
    // Uploads the materials (textures resolved against `directory`, the model file's) and
    // meshes of a validated model; each mesh takes the GPU path when the device skins on
    // the GPU and its skin, if any, fits the GPU palette. Throws std::runtime_error "KMDL
    // mesh cannot be uploaded with no geometry." and std::overflow_error for buffers past
    // 32-bit sizes or a full handle space; a failed upload keeps nothing but its textures.
    ModelHandle UploadModel(const content::Model& model, const std::filesystem::path& directory);
    // The record of `handle`, or of the white texture for kNoTexture and unknown handles.
    const TextureRecord& Texture(TextureHandle handle) const noexcept;
    // The record of `handle`, or null when there is none.
    const ModelRecord* modelRecord(ModelHandle handle) const noexcept;

    // ---- Frame ----
    void BeginFrame(const Camera& camera, f32 time);
    // Draws `model` (the one uploaded as `handle`) posed by `pose` (one global matrix per
    // node): meshes of non-blended materials first, then blended ones, skipping meshes whose
    // name contains any of `hiddenMeshNames`. textureOverride replaces every mesh's texture
    // unless it is kNoTexture; additive draws are unlit, double-sided, additively blended and
    // write no depth. An unknown handle, a model whose mesh or vertex counts differ from the
    // upload, or a pose without one matrix per node throws std::invalid_argument before
    // anything is drawn; skinning failures (std::runtime_error, ContentError) leave the
    // meshes drawn so far.
    void DrawModel(ModelHandle handle, const content::Model& model, std::span<const Matrix4> pose,
                   const Matrix4& world, const Color& tint, std::span<const std::string_view> hiddenMeshNames,
                   TextureHandle textureOverride, bool additive);
    // Draws nothing for an empty span. Throws std::invalid_argument when an index is not
    // below the vertex count, std::overflow_error when the buffers would pass 32-bit sizes.
    void DrawPrimitives(std::span<const PrimitiveVertex> vertices, std::span<const u32> indices,
                        TextureHandle texture, bool alphaBlend, bool depthTest, const Matrix4& world,
                        const Color& tint, bool additive);
    // Draws over everything drawn so far, in pixels of the target (origin at the top left, y
    // down, z ignored): alpha-blended, unlit, no depth, both faces. For the HUD, after the
    // scene and before Present. Throws as DrawPrimitives does.
    void DrawScreenPrimitives(std::span<const PrimitiveVertex> vertices, std::span<const u32> indices,
                              TextureHandle texture);
    void Present(u8 syncInterval);
    void Resize(u32 widthPixels, u32 heightPixels);
    void RequestScreenshot(const std::filesystem::path& path);

    // ---- Shapes ----
    void DrawGroundGrid(const Vec3& center, f32 halfExtent);
    void DrawRing(const Vec3& center, f32 radius, f32 width, const Color& color, u32 segments, bool additive);
    void DrawBillboard(TextureHandle texture, const Vec3& center, f32 width, f32 height, const Color& color,
                       f32 angleRadians, bool additive);
    void DrawStatusBar(const Vec3& position, f32 fraction, bool highlighted);
    void DrawPlaceholderFrame(f64 time, u8 syncInterval);

    // ---- Reports ----
    const RenderStatistics& Statistics() const noexcept { return report_.statistics; }
    const RenderReport& report() const noexcept { return report_; }
    const std::u16string& adapterText() const noexcept { return facts_.adapterText; }
    const std::u16string& driverText() const noexcept { return facts_.driverText; }
    const std::u16string& featureLevelText() const noexcept { return facts_.featureLevelText; }
    const std::u16string& shaderProfileText() const noexcept { return shaderProfileText_; }
    const Matrix4& viewMatrix() const noexcept { return view_; }
    const Matrix4& projectionMatrix() const noexcept { return projection_; }
    u32 viewportWidthPixels() const noexcept { return viewportWidthPixels_; }
    u32 viewportHeightPixels() const noexcept { return viewportHeightPixels_; }
    u32 textureCount() const noexcept { return static_cast<u32>(textures_.size()); }
    u32 modelCount() const noexcept { return static_cast<u32>(models_.size()); }
    u64 primitiveVertexCapacity() const noexcept { return primitiveVertexCapacity_; }
    u64 primitiveIndexCapacity() const noexcept { return primitiveIndexCapacity_; }

private:
    void SetDrawState(const Matrix4& world, TextureHandle texture, const Color& tint, u32 alphaMode, bool doubleSided,
                      bool depthTest, bool additive, bool gpuSkinned);
    // Writes the primitives into the shared buffers; false when there is nothing to draw.
    bool uploadPrimitives(std::span<const PrimitiveVertex> vertices, std::span<const u32> indices);
    void drawUploadedPrimitives(u32 indexCount);
    void WaitForFrameLatency();
    void WriteScreenshot(const std::filesystem::path& path);
    void growBuffer(GpuBuffer& buffer, u64& capacity, const GrowableBuffer& kind, u64 needed);
    void drawBatch(TextureHandle texture, bool alphaBlend, bool depthTest, bool additive);
    MeshRecord uploadMesh(const content::Model& model, const content::Mesh& mesh);
    void releaseModel(ModelRecord& record) noexcept;
    void uploadGpuPalette(const content::Model& model, const content::Mesh& mesh, std::span<const Matrix4> pose);
    void skinOnCpu(const content::Model& model, const content::Mesh& mesh, const MeshRecord& record,
                   std::span<const Matrix4> pose);

    using Clock = std::chrono::steady_clock;

    std::unique_ptr<RenderBackend> backend_;
    bool created_ = false;
    DeviceFacts facts_;
    std::u16string shaderProfileText_;
    RenderReport report_;
    u32 viewportWidthPixels_ = 0;
    u32 viewportHeightPixels_ = 0;

    std::vector<TextureRecord> textures_;
    std::unordered_map<std::filesystem::path::string_type, TextureHandle> textureCache_;
    std::vector<ModelRecord> models_;

    // The skin constant image uploaded for every GPU-path mesh draw. Matrices past the
    // first skinMatricesInUse_ are zero, so a draw clears only what the last one left.
    SkinConstants skinConstants_;
    u32 skinMatricesInUse_ = 0;
    SkinningPalette cpuPalette_;  // sized at upload to the largest CPU-path skin

    GpuBuffer primitiveVertexBuffer_ = GpuBuffer::none;
    GpuBuffer primitiveIndexBuffer_ = GpuBuffer::none;
    u64 primitiveVertexCapacity_ = 0;
    u64 primitiveIndexCapacity_ = 0;
    PrimitiveBatch scratch_;  // reused by the shapes so steady frames allocate nothing

    Camera camera_;
    f32 frameTime_ = 0.0f;
    Matrix4 view_ = identityMatrix();
    Matrix4 projection_ = identityMatrix();

    std::filesystem::path screenshotPath_;
    std::optional<Clock::time_point> frameStart_;  // empty before the first frame
};

}  // namespace kestrune::render
