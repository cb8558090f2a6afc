#include "render/render_device.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "render/bmp_encoder.h"
#include "render/screenshot_file.h"

namespace kestrune::render {

namespace {

constexpr u32 kPrimitiveStrideBytes = sizeof(PrimitiveVertex);
constexpr RenderDevice::GrowableBuffer kPrimitiveVertices{BufferBinding::vertex, kPrimitiveStrideBytes,
                                                          kMinPrimitiveVertices, kPrimitiveVertexLimit,
                                                          "ID3D11Device::CreateBuffer(primitive vertices)"};
constexpr RenderDevice::GrowableBuffer kPrimitiveIndices{BufferBinding::index, sizeof(u32), kMinPrimitiveIndices,
                                                         kPrimitiveIndexLimit,
                                                         "ID3D11Device::CreateBuffer(primitive indices)"};
constexpr Color kWhiteTint{1.0f, 1.0f, 1.0f, 1.0f};
constexpr std::array<std::byte, 4> kWhitePixel{std::byte{0xFF}, std::byte{0xFF}, std::byte{0xFF}, std::byte{0xFF}};

f64 millisecondsBetween(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
    return std::chrono::duration<f64, std::milli>(to - from).count();
}

class ScreenshotFileWriter final : public ReadbackConsumer {
public:
    explicit ScreenshotFileWriter(const std::filesystem::path& path) : path_(path) {}
    void consume(const ReadbackImage& image) override { writeFileBytes(path_, encodeScreenshot(image, path_)); }

private:
    const std::filesystem::path& path_;
};

}  // namespace

RenderDevice::RenderDevice(std::unique_ptr<RenderBackend> backend) : backend_(std::move(backend)) {}

RenderDevice::~RenderDevice() { Destroy(); }

// ---- Section: Lifetime ----

void RenderDevice::Create(NativeWindow window, u32 widthPixels, u32 heightPixels, bool useWarp) {
    try {
        facts_ = backend_->createDevice(window, widthPixels, heightPixels, useWarp);
    } catch (const std::exception&) {
        // The one deliberate fallback: a hardware failure anywhere in device creation gets one
        // more attempt on the software rasterizer; a software failure is final.
        if (useWarp) {
            throw;
        }
        Destroy();
        facts_ = backend_->createDevice(window, widthPixels, heightPixels, true);
    }
    created_ = true;
    report_.info.flipModelEnabled = true;
    report_.info.gpuSkinningEnabled = facts_.gpuSkinningSupported;
    viewportWidthPixels_ = widthPixels;
    viewportHeightPixels_ = heightPixels;
    report_.info.msaaSampleCount = backend_->createTargets(widthPixels, heightPixels);
    shaderProfileText_ = backend_->createPipeline(facts_.gpuSkinningSupported);

    TextureDesc white;
    white.widthPixels = 1;
    white.heightPixels = 1;
    white.rowPitchBytes = 4;
    white.pixels = kWhitePixel;
    white.textureOperation = "ID3D11Device::CreateTexture2D(white)";
    white.viewOperation = "ID3D11Device::CreateShaderResourceView(white)";
    textures_.push_back({backend_->createTexture(white), 1, 1});
}

void RenderDevice::Destroy() noexcept {
    backend_->releaseBuffer(primitiveIndexBuffer_);
    backend_->releaseBuffer(primitiveVertexBuffer_);
    primitiveIndexBuffer_ = GpuBuffer::none;
    primitiveVertexBuffer_ = GpuBuffer::none;
    primitiveIndexCapacity_ = 0;
    primitiveVertexCapacity_ = 0;
    for (ModelRecord& record : models_) {
        releaseModel(record);
    }
    models_.clear();
    textureCache_.clear();
    for (const TextureRecord& record : textures_) {
        backend_->releaseTexture(record.texture);
    }
    textures_.clear();
    backend_->destroy();
    created_ = false;
}

// ---- Section: Frame ----

void RenderDevice::WaitForFrameLatency() {
    const LatencyWaitResult wait = backend_->waitForFrameLatency();
    if (wait.outcome == LatencyWait::noWaitable) {
        return;
    }
    // Every completed wait counts, a failed one too, so a failure report shows it.
    ++report_.statistics.frameLatencyWaits;
    switch (wait.outcome) {
        case LatencyWait::timedOut:
            ++report_.statistics.frameLatencyTimeouts;
            return;
        case LatencyWait::failed:
            throw std::runtime_error(wait.failure);
        case LatencyWait::noWaitable:
        case LatencyWait::signalled:
            return;
    }
}

void RenderDevice::BeginFrame(const Camera& camera, f32 time) {
    WaitForFrameLatency();
    frameStart_ = Clock::now();
    camera_ = camera;
    frameTime_ = time;
    view_ = lookAtLeftHanded(camera.eye, camera.target, camera.up);
    projection_ = perspectiveLeftHanded(camera.fieldOfViewYRadians, static_cast<f32>(viewportWidthPixels_),
                                        static_cast<f32>(viewportHeightPixels_), camera.nearPlane, camera.farPlane);
    backend_->beginPass(kClearColor);
}

void RenderDevice::SetDrawState(const Matrix4& world, TextureHandle textureHandle, const Color& tint, u32 alphaMode,
                                bool doubleSided, bool depthTest, bool additive, bool gpuSkinned) {
    const bool blended = alphaMode == kAlphaModeBlended;
    SceneConstants constants;
    constants.worldViewProjection = multiply(multiply(world, view_), projection_);
    constants.world = world;
    constants.tint = tint;
    // Blended surfaces (effects, bars, grid lines) are unlit: full ambient, no sun.
    constants.lightAndTexture = {blended ? 1.0f : kLitAmbient, blended ? 0.0f : kLitDirectional,
                                 textureHandle == kWhiteTexture ? 0.0f : 1.0f,
                                 alphaMode == kAlphaModeTested ? kAlphaTestCutoff : 0.0f};
    backend_->writeSceneConstants(constants);

    DrawState state;
    state.path = gpuSkinned ? VertexPath::gpuSkinned : VertexPath::primitive;
    state.raster = doubleSided ? RasterMode::doubleSided : RasterMode::cullBack;
    state.blend = additive ? BlendMode::additive : blended ? BlendMode::alpha : BlendMode::opaque;
    state.depth = !depthTest ? DepthMode::disabled : blended ? DepthMode::readOnly : DepthMode::readWrite;
    state.texture = Texture(textureHandle).texture;
    backend_->applyDrawState(state);
}

u64 grownCapacity(u64 current, u64 needed, u64 minimum, u64 limit) {
    const u64 wanted = std::max(2 * current, needed);
    if (wanted >= limit) {
        throw std::overflow_error("D3D11 buffer size is invalid or exceeds UINT_MAX.");
    }
    return std::max(wanted, minimum);
}

void RenderDevice::growBuffer(GpuBuffer& buffer, u64& capacity, const GrowableBuffer& kind, u64 needed) {
    if (needed <= capacity) {
        return;
    }
    const u64 grown = grownCapacity(capacity, needed, kind.minimumCount, kind.limitCount);
    // Released first: if creating the larger one fails, nothing refers to the old buffer.
    backend_->releaseBuffer(std::exchange(buffer, GpuBuffer::none));
    capacity = 0;
    buffer = backend_->createBuffer(
        {kind.binding, BufferUsage::dynamic, static_cast<u32>(grown * kind.elementBytes), {}, kind.operation});
    capacity = grown;
}

bool RenderDevice::uploadPrimitives(std::span<const PrimitiveVertex> vertices, std::span<const u32> indices) {
    if (vertices.empty() || indices.empty()) {
        return false;
    }
    // An index past the vertices reads outside the buffer on the GPU; OpenGL leaves that undefined.
    const u32 highestIndex = *std::max_element(indices.begin(), indices.end());
    if (highestIndex >= vertices.size()) {
        throw std::invalid_argument("Primitive index exceeds the vertex count.");
    }
    growBuffer(primitiveVertexBuffer_, primitiveVertexCapacity_, kPrimitiveVertices, vertices.size());
    growBuffer(primitiveIndexBuffer_, primitiveIndexCapacity_, kPrimitiveIndices, indices.size());
    backend_->writeBuffer(primitiveVertexBuffer_, std::as_bytes(vertices),
                          "ID3D11DeviceContext::Map(primitive vertices)");
    backend_->writeBuffer(primitiveIndexBuffer_, std::as_bytes(indices), "ID3D11DeviceContext::Map(primitive indices)");
    return true;
}

void RenderDevice::drawUploadedPrimitives(u32 indexCount) {
    backend_->drawIndexed({primitiveVertexBuffer_, kPrimitiveStrideBytes, primitiveIndexBuffer_, indexCount});
    ++report_.statistics.drawCalls;
    report_.statistics.triangles += indexCount / 3;
}

void RenderDevice::DrawPrimitives(std::span<const PrimitiveVertex> vertices, std::span<const u32> indices,
                                  TextureHandle textureHandle, bool alphaBlend, bool depthTest, const Matrix4& world,
                                  const Color& tint, bool additive) {
    if (!uploadPrimitives(vertices, indices)) {
        return;
    }
    SetDrawState(world, textureHandle, tint, alphaBlend ? kAlphaModeBlended : kAlphaModeOpaque, true, depthTest,
                 additive, false);
    drawUploadedPrimitives(static_cast<u32>(indices.size()));
}

void RenderDevice::DrawScreenPrimitives(std::span<const PrimitiveVertex> vertices, std::span<const u32> indices,
                                        TextureHandle textureHandle) {
    if (viewportWidthPixels_ == 0 || viewportHeightPixels_ == 0 || !uploadPrimitives(vertices, indices)) {
        return;
    }
    // Pixels to clip space: x from 0..width to -1..1, y from 0..height to 1..-1, z at mid depth.
    SceneConstants constants;
    Matrix4& toClip = constants.worldViewProjection;
    toClip[0] = 2.0f / static_cast<f32>(viewportWidthPixels_);
    toClip[5] = -2.0f / static_cast<f32>(viewportHeightPixels_);
    toClip[12] = -1.0f;
    toClip[13] = 1.0f;
    toClip[14] = 0.5f;
    toClip[15] = 1.0f;
    constants.world = identityMatrix();
    constants.tint = kWhiteTint;
    constants.lightAndTexture = {1.0f, 0.0f, textureHandle == kWhiteTexture ? 0.0f : 1.0f, 0.0f};
    backend_->writeSceneConstants(constants);

    DrawState state;
    state.raster = RasterMode::doubleSided;
    state.blend = BlendMode::alpha;
    state.depth = DepthMode::disabled;
    state.texture = Texture(textureHandle).texture;
    backend_->applyDrawState(state);
    drawUploadedPrimitives(static_cast<u32>(indices.size()));
}

// ---- Section: Present, resize, screenshot ----

void RenderDevice::WriteScreenshot(const std::filesystem::path& path) {
    ScreenshotFileWriter writer(path);
    backend_->readBackBuffer(writer);
}

void RenderDevice::Present(u8 syncInterval) {
    if (backend_->resolve()) {
        ++report_.statistics.antiAliasingResolves;
    }
    if (!screenshotPath_.empty()) {
        WriteScreenshot(screenshotPath_);
        screenshotPath_.clear();
    }
    RenderStatistics& stats = report_.statistics;
    const Clock::time_point beforePresent = Clock::now();
    if (frameStart_) {
        const f64 cpuMs = millisecondsBetween(*frameStart_, beforePresent);
        stats.renderCpuMillisecondsTotal += cpuMs;
        stats.renderCpuMillisecondsMaximum = std::max(stats.renderCpuMillisecondsMaximum, cpuMs);
    }
    const Clock::time_point t0 = Clock::now();
    const u32 status = backend_->present(syncInterval);
    const f64 presentMs = millisecondsBetween(t0, Clock::now());
    stats.presentMillisecondsTotal += presentMs;
    stats.presentMillisecondsMaximum = std::max(stats.presentMillisecondsMaximum, presentMs);
    backend_->checkPresent(status);
    ++stats.presentedFrames;
}

void RenderDevice::Resize(u32 widthPixels, u32 heightPixels) {
    if (widthPixels == 0 || heightPixels == 0 || !created_) {
        return;
    }
    report_.info.msaaSampleCount = backend_->resizeTargets(widthPixels, heightPixels);
    viewportWidthPixels_ = widthPixels;
    viewportHeightPixels_ = heightPixels;
}

void RenderDevice::RequestScreenshot(const std::filesystem::path& path) { screenshotPath_ = path; }

// ---- Section: Shapes ----

void RenderDevice::drawBatch(TextureHandle textureHandle, bool alphaBlend, bool depthTest, bool additive) {
    DrawPrimitives(scratch_.vertices, scratch_.indices, textureHandle, alphaBlend, depthTest, identityMatrix(),
                   kWhiteTint, additive);
}

void RenderDevice::DrawGroundGrid(const Vec3& center, f32 halfExtent) {
    scratch_.clear();
    buildGroundFloor(scratch_, center, halfExtent);
    drawBatch(kWhiteTexture, false, true, false);
    scratch_.clear();
    buildGroundGrid(scratch_, center, halfExtent);
    drawBatch(kWhiteTexture, true, true, false);
}

void RenderDevice::DrawRing(const Vec3& center, f32 radius, f32 width, const Color& color, u32 segments,
                            bool additive) {
    scratch_.clear();
    if (buildRing(scratch_, center, radius, width, color, segments)) {
        drawBatch(kWhiteTexture, true, true, additive);
    }
}

void RenderDevice::DrawBillboard(TextureHandle textureHandle, const Vec3& center, f32 width, f32 height,
                                 const Color& color, f32 angleRadians, bool additive) {
    scratch_.clear();
    buildBillboard(scratch_, cameraFacingBasis(camera_), center, width, height, color, angleRadians);
    drawBatch(textureHandle, true, true, additive);
}

void RenderDevice::DrawStatusBar(const Vec3& position, f32 fraction, bool highlighted) {
    const CameraBasis basis = cameraFacingBasis(camera_);
    scratch_.clear();
    buildStatusBarBackground(scratch_, basis, position, highlighted);
    drawBatch(kWhiteTexture, true, false, false);
    scratch_.clear();
    buildStatusBarFill(scratch_, basis, position, fraction);
    drawBatch(kWhiteTexture, true, false, false);
}

void RenderDevice::DrawPlaceholderFrame(f64 time, u8 syncInterval) {
    const f32 frameTime = static_cast<f32>(time);
    BeginFrame(placeholderCamera(), frameTime);
    scratch_.clear();
    buildPlaceholderTriangle(scratch_);
    const f32 pulse = placeholderPulse(frameTime);
    DrawPrimitives(scratch_.vertices, scratch_.indices, kWhiteTexture, false, true, identityMatrix(),
                   {pulse, pulse, pulse, 1.0f}, false);
    Present(syncInterval);
}

}  // namespace kestrune::render
