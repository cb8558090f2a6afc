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

// D3DCompile with entry point "main"; throws std::runtime_error "D3DCompile" (followed by
// ": " and the compiler's messages when it gave any).
ComPtr<ID3DBlob> CompileShader(std::string_view source, const char* profile);

class D3d11Backend final : public RenderBackend {
public:
    D3d11Backend() = default;
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
