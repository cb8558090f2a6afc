#pragma once
// D3d11Backend: the renderer's Direct3D 11 backend for Windows: a flip-model DXGI swap
// chain with a frame-latency waitable object on the game window, an optional 4x/2x
// multisampled colour target resolved at present, HLSL compiled at start-up, and fixed
// state objects. Every failing call throws through ThrowHResultError with the call's name.
//
// It mirrors GlBackend member for member.

#include <d3d11.h>
#include <dxgi1_3.h>
#include <windows.h>
#include <wrl/client.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "render/render_backend.h"
#include "render/slot_list.h"

namespace kestrune::render::d3d11 {

using Microsoft::WRL::ComPtr;

inline constexpr DWORD kFrameLatencyWaitMs = 1000;
inline constexpr UINT kSwapChainBufferCount = 3;

// "11_1", "11_0", "10_1", "10_0", "9_3" or "unsupported".
std::u16string featureLevelText(u32 featureLevel);

// ---- Section: Feature-level decisions (no device needed) ----

// What the device may be asked for at a feature level.
struct FeatureLevelCaps {
    bool multisampledTargets = false;  // 9_x cannot make the TYPELESS multisampled colour texture
    bool gpuSkinning = false;          // the model program needs vs_4_0
    u32 maxTextureDimensionPixels = 0;
};
FeatureLevelCaps featureLevelCaps(u32 featureLevel);

// The quality levels a device reported for one sample count; 0 when it refused it or the
// query failed.
struct SampleQualityProbe {
    u32 samples = 0;
    u32 colorLevels = 0;
    u32 depthLevels = 0;
};
struct SampleMode {
    u32 count = 1;
    u32 quality = 0;
};
// The first probe (in order) whose colour and depth formats both have quality levels, at one
// less than the smaller count; one sample where none has or the level allows no multisampled
// targets.
SampleMode chooseSampleMode(u32 featureLevel, std::span<const SampleQualityProbe> probes);

// MultisampleEnable of both rasterizer states. Below 10_1 it switches multisampled
// rasterization of triangles, so it is on whenever the target has samples; from 10_1 on it
// only selects the line algorithm and stays off.
bool rasterizerMultisampleEnable(u32 featureLevel, u32 sampleCount);

// The back buffer's render-target view: sRGB, so shader output is encoded on write, unless a
// device below 10_0 reports no render-target support for the sRGB format (`srgbSupport`,
// from CheckFormatSupport); then UNORM, and colours are stored unencoded.
DXGI_FORMAT backBufferViewFormat(u32 featureLevel, UINT srgbSupport);

// The device creation list: 11_1, 11_0, 10_1, 10_0, 9_3. A runtime that refuses 11_1 with
// E_INVALIDARG is asked again without it.
inline constexpr D3D_FEATURE_LEVEL kFeatureLevels[] = {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0,
                                                       D3D_FEATURE_LEVEL_10_1, D3D_FEATURE_LEVEL_10_0,
                                                       D3D_FEATURE_LEVEL_9_3};

struct D3d11Options {
    std::span<const D3D_FEATURE_LEVEL> featureLevels = kFeatureLevels;  // tests pin a single level
    bool gpuSkinning = true;  // false skins every mesh on the CPU, to compare the two paths
};

// D3DCompile with entry point "main"; throws std::runtime_error "D3DCompile" (followed by
// ": " and the compiler's messages when it gave any).
ComPtr<ID3DBlob> CompileShader(std::string_view source, const char* profile);

class D3d11Backend final : public RenderBackend {
public:
    explicit D3d11Backend(const D3d11Options& options = {}) : options_(options) {}
    ~D3d11Backend() override;
    D3d11Backend(const D3d11Backend&) = delete;
    D3d11Backend& operator=(const D3d11Backend&) = delete;

    DeviceFacts createDevice(NativeWindow window, u32 widthPixels, u32 heightPixels, bool useWarp) override;
    u32 createTargets(u32 widthPixels, u32 heightPixels) override;
    std::u16string createPipeline(bool gpuSkinning) override;
    void destroy() noexcept override;
    bool hasSkinConstants() const noexcept override { return skinConstants_ != nullptr; }

    GpuBuffer createBuffer(const BufferDesc& desc) override;
    void writeBuffer(GpuBuffer buffer, std::span<const std::byte> bytes, const char* operation) override;
    std::span<std::byte> mapBuffer(GpuBuffer buffer, const char* operation) override;
    void unmapBuffer(GpuBuffer buffer) noexcept override;
    void releaseBuffer(GpuBuffer buffer) noexcept override;
    GpuTexture createTexture(const TextureDesc& desc) override;
    void releaseTexture(GpuTexture texture) noexcept override;

    LatencyWaitResult waitForFrameLatency() override;
    void beginPass(const Color& clearColor) override;
    void writeSceneConstants(const SceneConstants& constants) override;
    void writeSkinConstants(std::span<const std::byte, kSkinConstantsBytes> bytes) override;
    void applyDrawState(const DrawState& state) override;
    void drawIndexed(const DrawCall& call) override;
    bool resolve() override;
    void readBackBuffer(ReadbackConsumer& consumer) override;
    u32 present(u8 syncInterval) override;
    void checkPresent(u32 status) override;
    u32 resizeTargets(u32 widthPixels, u32 heightPixels) override;

private:
    void createDeviceAndSwapChain(D3D_DRIVER_TYPE driverType, const char* creationOperation);
    void describeAdapter(bool isHardware, DeviceFacts& facts);
    void createBackBufferView();
    void createMultisampledTargets();
    void releaseTargets() noexcept;
    void CreateShaders(bool gpuSkinning);
    void CreatePipelineStates();
    void writeDynamic(ID3D11Resource* resource, std::span<const std::byte> bytes, const char* operation);

    D3d11Options options_;
    HWND window_ = nullptr;
    ComPtr<ID3D11Device> device_;
    ComPtr<ID3D11DeviceContext> context_;
    ComPtr<IDXGISwapChain2> swapChain_;
    HANDLE frameLatencyWaitable_ = nullptr;
    D3D_FEATURE_LEVEL featureLevel_ = D3D_FEATURE_LEVEL_9_1;

    // Targets (rebuilt by resize).
    u32 widthPixels_ = 0;
    u32 heightPixels_ = 0;
    ComPtr<ID3D11Texture2D> backBuffer_;
    ComPtr<ID3D11RenderTargetView> backBufferView_;
    ComPtr<ID3D11Texture2D> msaaColor_;
    ComPtr<ID3D11RenderTargetView> msaaColorView_;
    ComPtr<ID3D11Texture2D> depthBuffer_;
    ComPtr<ID3D11DepthStencilView> depthView_;
    D3D11_VIEWPORT viewport_{};
    u32 msaaSampleCount_ = 1;
    u32 msaaQuality_ = 0;

    // Pipeline.
    ComPtr<ID3D11VertexShader> primitiveVertexShader_;
    ComPtr<ID3D11VertexShader> modelVertexShader_;
    ComPtr<ID3D11PixelShader> pixelShader_;
    ComPtr<ID3D11InputLayout> primitiveInputLayout_;
    ComPtr<ID3D11InputLayout> modelInputLayout_;
    ComPtr<ID3D11Buffer> sceneConstants_;
    ComPtr<ID3D11Buffer> skinConstants_;
    ComPtr<ID3D11SamplerState> linearSampler_;
    ComPtr<ID3D11RasterizerState> cullRasterizer_;
    ComPtr<ID3D11RasterizerState> doubleSidedRasterizer_;
    ComPtr<ID3D11BlendState> opaqueBlend_;
    ComPtr<ID3D11BlendState> alphaBlend_;
    ComPtr<ID3D11BlendState> additiveBlend_;
    ComPtr<ID3D11DepthStencilState> depthReadWrite_;
    ComPtr<ID3D11DepthStencilState> depthReadOnly_;
    ComPtr<ID3D11DepthStencilState> depthDisabled_;

    SlotList<ComPtr<ID3D11Buffer>> buffers_;
    SlotList<ComPtr<ID3D11ShaderResourceView>> textures_;
};

}  // namespace kestrune::render::d3d11
