#pragma once
// The small interface between the portable RenderDevice and one graphics API. A backend
// creates, writes, binds, draws, resolves, reads back and presents; every choice (which
// state a draw uses, buffer sizes, handle spaces, statistics, fallbacks) is the front
// end's. Backend objects cross this boundary only as u32 ids. Everything runs on the
// window thread. Failures throw std::runtime_error with the operation's name.

#include <span>
#include <string>
#include <utility>

#include "base/types.h"
#include "render/render_types.h"

namespace kestrune::render {

// Ids of backend objects; 0 names nothing.
enum class GpuBuffer : u32 { none = 0 };
enum class GpuTexture : u32 { none = 0 };

enum class BufferBinding : u8 { vertex, index };
enum class BufferUsage : u8 { immutable, dynamic };

struct BufferDesc {
    BufferBinding binding = BufferBinding::vertex;
    BufferUsage usage = BufferUsage::dynamic;
    u32 sizeBytes = 0;
    std::span<const std::byte> initialData;  // the whole contents when immutable; empty when dynamic
    const char* operation = "";               // named in the error when creation fails
};

// RGBA8, sRGB-encoded, one mip level, immutable, sampled at register t0.
struct TextureDesc {
    u32 widthPixels = 0;
    u32 heightPixels = 0;
    u32 rowPitchBytes = 0;
    std::span<const std::byte> pixels;  // rows top to bottom, red first
    const char* textureOperation = "";
    const char* viewOperation = "";
};

enum class VertexPath : u8 { primitive, gpuSkinned };
enum class RasterMode : u8 { cullBack, doubleSided };  // counter-clockwise triangles face front
enum class BlendMode : u8 { opaque, alpha, additive };
enum class DepthMode : u8 { readWrite, readOnly, disabled };

// The fixed-state choice of one draw; the default is a lit opaque primitive draw.
struct DrawState {
    VertexPath path = VertexPath::primitive;
    RasterMode raster = RasterMode::cullBack;
    BlendMode blend = BlendMode::opaque;
    DepthMode depth = DepthMode::readWrite;
    GpuTexture texture = GpuTexture::none;
};

struct DrawCall {
    GpuBuffer vertices = GpuBuffer::none;
    u32 vertexStrideBytes = 0;
    GpuBuffer indices = GpuBuffer::none;  // 32-bit indices
    u32 indexCount = 0;
};

enum class LatencyWait : u8 { noWaitable, signalled, timedOut, failed };

// One frame-latency wait. A wait that failed carries its complete message: the front end
// counts every completed wait, a failed one included, before it throws.
struct LatencyWaitResult {
    LatencyWaitResult(LatencyWait waitOutcome) : outcome(waitOutcome) {}  // NOLINT: a plain outcome converts
    explicit LatencyWaitResult(std::string failureMessage)
        : outcome(LatencyWait::failed), failure(std::move(failureMessage)) {}

    LatencyWait outcome;
    std::string failure;  // empty unless failed
};

struct DeviceFacts {
    std::u16string adapterText;
    std::u16string driverText;        // "hardware" or "warp"
    std::u16string featureLevelText;  // "11_0", "gl4.5", ...
    bool gpuSkinningSupported = false;
    u32 maxTextureDimensionPixels = 16'384;  // the widest and tallest texture the device takes
};

// The presented image as stored (sRGB-encoded RGBA8), rows top to bottom.
struct ReadbackImage {
    u32 widthPixels = 0;
    u32 heightPixels = 0;
    std::size_t rowPitchBytes = 0;
    std::span<const std::byte> rgba;
};

class ReadbackConsumer {
public:
    virtual void consume(const ReadbackImage& image) = 0;

protected:
    ~ReadbackConsumer() = default;
};

// The window a backend presents into: an HWND on Windows, an SDL_Window* on Linux.
struct NativeWindow {
    void* handle = nullptr;
};

class RenderBackend {
public:
    virtual ~RenderBackend() = default;

    // ---- Creation (one attempt each; the front end decides about retries) ----
    virtual DeviceFacts createDevice(NativeWindow window, u32 widthPixels, u32 heightPixels, bool useWarp) = 0;
    // Back-buffer view, viewport, multisampled colour target and depth buffer; returns the sample count.
    virtual u32 createTargets(u32 widthPixels, u32 heightPixels) = 0;
    // Programs, input layouts, constant buffers and fixed states; returns the shader profile text.
    virtual std::u16string createPipeline(bool gpuSkinning) = 0;
    // Releases everything the backend still holds; safe to call twice and after a failed creation.
    virtual void destroy() noexcept = 0;
    virtual bool hasSkinConstants() const noexcept = 0;

    // ---- Resources ----
    virtual GpuBuffer createBuffer(const BufferDesc& desc) = 0;
    // Replaces the first bytes of a dynamic buffer, discarding its previous contents.
    virtual void writeBuffer(GpuBuffer buffer, std::span<const std::byte> bytes, const char* operation) = 0;
    // Maps a whole dynamic buffer for writing, its previous contents discarded, so a producer
    // can write straight into it; unmapBuffer must follow before the buffer is drawn.
    virtual std::span<std::byte> mapBuffer(GpuBuffer buffer, const char* operation) = 0;
    virtual void unmapBuffer(GpuBuffer buffer) noexcept = 0;
    virtual void releaseBuffer(GpuBuffer buffer) noexcept = 0;
    virtual GpuTexture createTexture(const TextureDesc& desc) = 0;
    virtual void releaseTexture(GpuTexture texture) noexcept = 0;

    // ---- Frame ----
    virtual LatencyWaitResult waitForFrameLatency() = 0;
    // Binds the colour (multisampled when available) and depth targets and the viewport, then clears.
    virtual void beginPass(const Color& clearColor) = 0;
    virtual void writeSceneConstants(const SceneConstants& constants) = 0;
    virtual void writeSkinConstants(std::span<const std::byte, kSkinConstantsBytes> bytes) = 0;
    virtual void applyDrawState(const DrawState& state) = 0;
    virtual void drawIndexed(const DrawCall& call) = 0;
    // Resolves the multisampled target into the back buffer; false when there is none.
    virtual bool resolve() = 0;
    virtual void readBackBuffer(ReadbackConsumer& consumer) = 0;
    // Returns the platform's status of the present call (0 for success); checkPresent throws
    // for failures, so the caller can time the call itself first.
    virtual u32 present(u8 syncInterval) = 0;
    virtual void checkPresent(u32 status) = 0;
    // Rebuilds the size-dependent targets; returns the new sample count.
    virtual u32 resizeTargets(u32 widthPixels, u32 heightPixels) = 0;
};

}  // namespace kestrune::render
