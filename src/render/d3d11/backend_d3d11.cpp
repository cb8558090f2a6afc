#include "render/d3d11/backend_d3d11.h"

#include <d3dcompiler.h>

#include <array>
#include <cfloat>
#include <cstring>
#include <stdexcept>

#include "base/text_format.h"
#include "render/hlsl_sources.h"
#include "render/hresult_error.h"
#include "render/platform_backend.h"

namespace kestrune::render {

std::unique_ptr<RenderBackend> createPlatformBackend() { return std::make_unique<d3d11::D3d11Backend>(); }

namespace d3d11 {

namespace {

constexpr UINT kCompileFlags = D3DCOMPILE_ENABLE_STRICTNESS | D3DCOMPILE_OPTIMIZATION_LEVEL3;
static_assert(kCompileFlags == 0x8800, "strict, fully optimised compilation");
constexpr UINT kMakeWindowAssociationFlags = DXGI_MWA_NO_WINDOW_CHANGES | DXGI_MWA_NO_ALT_ENTER;
static_assert(kMakeWindowAssociationFlags == 3, "the game window handles its own mode changes");
constexpr std::array<UINT, 2> kProbedSampleCounts{4, 2};
constexpr u32 kSkinningFeatureLevel = D3D_FEATURE_LEVEL_10_0;
constexpr u32 kMultisampledTargetLevel = D3D_FEATURE_LEVEL_10_0;
constexpr u32 kLineOnlyMultisampleEnableLevel = D3D_FEATURE_LEVEL_10_1;
// The largest 2D texture a side, per feature level.
constexpr u32 kMaxTextureDimension9_1 = 2048;
constexpr u32 kMaxTextureDimension9_3 = 4096;
constexpr u32 kMaxTextureDimension10 = 8192;
constexpr u32 kMaxTextureDimension11 = 16384;

void throwIfFailed(HRESULT hr, const char* operation) {
    if (FAILED(hr)) {
        ThrowHResultError(operation, static_cast<u32>(hr));
    }
}

const D3D11_INPUT_ELEMENT_DESC kPrimitiveElements[] = {
    {"POSITION", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, 0, D3D11_INPUT_PER_VERTEX_DATA, 0},
    {"NORMAL", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, 12, D3D11_INPUT_PER_VERTEX_DATA, 0},
    {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 24, D3D11_INPUT_PER_VERTEX_DATA, 0},
    {"COLOR", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, 32, D3D11_INPUT_PER_VERTEX_DATA, 0},
};

const D3D11_INPUT_ELEMENT_DESC kSkinnedElements[] = {
    {"POSITION", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, 0, D3D11_INPUT_PER_VERTEX_DATA, 0},
    {"NORMAL", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, 12, D3D11_INPUT_PER_VERTEX_DATA, 0},
    {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 24, D3D11_INPUT_PER_VERTEX_DATA, 0},
    {"BLENDINDICES", 0, DXGI_FORMAT_R16G16B16A16_UINT, 0, 32, D3D11_INPUT_PER_VERTEX_DATA, 0},
    {"BLENDWEIGHT", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, 40, D3D11_INPUT_PER_VERTEX_DATA, 0},
};

D3D11_BUFFER_DESC dynamicConstantBuffer(UINT sizeBytes) {
    D3D11_BUFFER_DESC desc{};
    desc.ByteWidth = sizeBytes;
    desc.Usage = D3D11_USAGE_DYNAMIC;
    desc.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
    return desc;
}

// Unmaps on every path out of a readback, the consumer's exceptions included.
class MappedResource {
public:
    MappedResource(ID3D11DeviceContext* context, ID3D11Resource* resource) : context_(context), resource_(resource) {}
    ~MappedResource() { context_->Unmap(resource_, 0); }
    MappedResource(const MappedResource&) = delete;
    MappedResource& operator=(const MappedResource&) = delete;

private:
    ID3D11DeviceContext* context_;
    ID3D11Resource* resource_;
};

}  // namespace

std::u16string featureLevelText(u32 featureLevel) {
    switch (featureLevel) {
        case D3D_FEATURE_LEVEL_9_3: return u"9_3";
        case D3D_FEATURE_LEVEL_10_0: return u"10_0";
        case D3D_FEATURE_LEVEL_10_1: return u"10_1";
        case D3D_FEATURE_LEVEL_11_0: return u"11_0";
        case D3D_FEATURE_LEVEL_11_1: return u"11_1";
        default: return u"unsupported";
    }
}

FeatureLevelCaps featureLevelCaps(u32 featureLevel) {
    FeatureLevelCaps caps;
    caps.multisampledTargets = featureLevel >= kMultisampledTargetLevel;
    caps.gpuSkinning = featureLevel >= kSkinningFeatureLevel;
    caps.maxTextureDimensionPixels = featureLevel >= D3D_FEATURE_LEVEL_11_0   ? kMaxTextureDimension11
                                     : featureLevel >= D3D_FEATURE_LEVEL_10_0 ? kMaxTextureDimension10
                                     : featureLevel >= D3D_FEATURE_LEVEL_9_3  ? kMaxTextureDimension9_3
                                                                              : kMaxTextureDimension9_1;
    return caps;
}

SampleMode chooseSampleMode(u32 featureLevel, std::span<const SampleQualityProbe> probes) {
    if (!featureLevelCaps(featureLevel).multisampledTargets) {
        return {};
    }
    for (const SampleQualityProbe& probe : probes) {
        if (probe.colorLevels > 0 && probe.depthLevels > 0) {
            return {probe.samples, std::min(probe.colorLevels, probe.depthLevels) - 1};
        }
    }
    return {};
}

bool rasterizerMultisampleEnable(u32 featureLevel, u32 sampleCount) {
    return sampleCount > 1 && featureLevel < kLineOnlyMultisampleEnableLevel;
}

DXGI_FORMAT backBufferViewFormat(u32 featureLevel, UINT srgbSupport) {
    if (featureLevel >= D3D_FEATURE_LEVEL_10_0 || (srgbSupport & D3D11_FORMAT_SUPPORT_RENDER_TARGET) != 0) {
        return DXGI_FORMAT_R8G8B8A8_UNORM_SRGB;
    }
    return DXGI_FORMAT_R8G8B8A8_UNORM;
}

ComPtr<ID3DBlob> CompileShader(std::string_view source, const char* profile) {
    ComPtr<ID3DBlob> code;
    ComPtr<ID3DBlob> errors;
    const HRESULT hr = D3DCompile(source.data(), source.size(), nullptr, nullptr, nullptr, kHlslEntryPoint, profile,
                                  kCompileFlags, 0, code.ReleaseAndGetAddressOf(), errors.GetAddressOf());
    if (FAILED(hr)) {
        std::string message = "D3DCompile";
        if (errors != nullptr) {
            std::string text(static_cast<const char*>(errors->GetBufferPointer()), errors->GetBufferSize());
            // The compiler ends its text with a NUL and a line break; the message ends with the text.
            while (!text.empty() && (text.back() == '\0' || text.back() == '\n' || text.back() == '\r')) {
                text.pop_back();
            }
            message += ": " + text;
        }
        throw std::runtime_error(message);
    }
    return code;
}

D3d11Backend::~D3d11Backend() { destroy(); }

// ---- Section: Creation ----

void D3d11Backend::createDeviceAndSwapChain(D3D_DRIVER_TYPE driverType, const char* creationOperation) {
    context_.Reset();
    device_.Reset();
    std::span<const D3D_FEATURE_LEVEL> levels = options_.featureLevels;
    HRESULT hr = D3D11CreateDevice(nullptr, driverType, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, levels.data(),
                                   static_cast<UINT>(levels.size()), D3D11_SDK_VERSION, &device_, &featureLevel_,
                                   &context_);
    if (hr == E_INVALIDARG && levels.size() > 1 && levels.front() == D3D_FEATURE_LEVEL_11_1) {
        // Runtimes older than 11.1 refuse a list that names 11_1.
        context_.Reset();
        device_.Reset();
        levels = levels.subspan(1);
        hr = D3D11CreateDevice(nullptr, driverType, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, levels.data(),
                               static_cast<UINT>(levels.size()), D3D11_SDK_VERSION, &device_, &featureLevel_,
                               &context_);
    }
    throwIfFailed(hr, creationOperation);

    ComPtr<IDXGIDevice> dxgiDevice;
    throwIfFailed(device_.As(&dxgiDevice), "ID3D11Device::QueryInterface(IDXGIDevice)");
    ComPtr<IDXGIAdapter> adapter;
    throwIfFailed(dxgiDevice->GetAdapter(&adapter), "IDXGIDevice::GetAdapter");
    ComPtr<IDXGIFactory2> factory;
    throwIfFailed(adapter->GetParent(IID_PPV_ARGS(&factory)), "IDXGIAdapter::GetParent(IDXGIFactory2)");

    DXGI_SWAP_CHAIN_DESC1 desc{};
    desc.Width = widthPixels_;
    desc.Height = heightPixels_;
    desc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
    desc.Stereo = FALSE;
    desc.SampleDesc = {1, 0};
    desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    desc.BufferCount = kSwapChainBufferCount;
    desc.Scaling = DXGI_SCALING_STRETCH;
    desc.SwapEffect = DXGI_SWAP_EFFECT_FLIP_DISCARD;
    desc.AlphaMode = DXGI_ALPHA_MODE_IGNORE;
    desc.Flags = DXGI_SWAP_CHAIN_FLAG_FRAME_LATENCY_WAITABLE_OBJECT;
    ComPtr<IDXGISwapChain1> swapChain1;
    throwIfFailed(factory->CreateSwapChainForHwnd(device_.Get(), window_, &desc, nullptr, nullptr, &swapChain1),
                  "IDXGIFactory2::CreateSwapChainForHwnd");
    throwIfFailed(swapChain1.As(&swapChain_), "IDXGISwapChain1::QueryInterface(IDXGISwapChain2)");
    throwIfFailed(swapChain_->SetMaximumFrameLatency(1), "IDXGISwapChain2::SetMaximumFrameLatency");
    frameLatencyWaitable_ = swapChain_->GetFrameLatencyWaitableObject();
    if (frameLatencyWaitable_ == nullptr) {
        throw std::runtime_error("Flip-model swap chain did not expose its frame-latency waitable object.");
    }
    factory->MakeWindowAssociation(window_, kMakeWindowAssociationFlags);  // advisory; its result does not matter
}

void D3d11Backend::describeAdapter(bool isHardware, DeviceFacts& facts) {
    ComPtr<IDXGIDevice> dxgiDevice;
    throwIfFailed(device_.As(&dxgiDevice), "ID3D11Device::QueryInterface(IDXGIDevice)");
    ComPtr<IDXGIAdapter> adapter;
    throwIfFailed(dxgiDevice->GetAdapter(&adapter), "IDXGIDevice::GetAdapter");
    DXGI_ADAPTER_DESC desc{};
    throwIfFailed(adapter->GetDesc(&desc), "IDXGIAdapter::GetDesc");
    const std::size_t length = wcsnlen(desc.Description, std::size(desc.Description));
    facts.adapterText.assign(desc.Description, desc.Description + length);
    facts.driverText = isHardware ? u"hardware" : u"warp";
    facts.featureLevelText = featureLevelText(static_cast<u32>(featureLevel_));
    const FeatureLevelCaps caps = featureLevelCaps(static_cast<u32>(featureLevel_));
    facts.gpuSkinningSupported = caps.gpuSkinning && options_.gpuSkinning;
    facts.maxTextureDimensionPixels = caps.maxTextureDimensionPixels;
}

DeviceFacts D3d11Backend::createDevice(NativeWindow window, u32 widthPixels, u32 heightPixels, bool useWarp) {
    window_ = static_cast<HWND>(window.handle);
    widthPixels_ = widthPixels;
    heightPixels_ = heightPixels;
    createDeviceAndSwapChain(useWarp ? D3D_DRIVER_TYPE_WARP : D3D_DRIVER_TYPE_HARDWARE,
                             useWarp ? "D3D11 WARP device creation" : "D3D11 hardware device creation");
    DeviceFacts facts;
    describeAdapter(!useWarp, facts);
    return facts;
}

void D3d11Backend::createBackBufferView() {
    backBuffer_.Reset();
    throwIfFailed(swapChain_->GetBuffer(0, IID_PPV_ARGS(&backBuffer_)), "IDXGISwapChain::GetBuffer");
    backBufferView_.Reset();
    // The swap chain stores UNORM bytes; drawing through an sRGB view encodes linear shader output.
    UINT srgbSupport = 0;
    if (FAILED(device_->CheckFormatSupport(DXGI_FORMAT_R8G8B8A8_UNORM_SRGB, &srgbSupport))) {
        srgbSupport = 0;
    }
    D3D11_RENDER_TARGET_VIEW_DESC view{};
    view.Format = backBufferViewFormat(static_cast<u32>(featureLevel_), srgbSupport);
    view.ViewDimension = D3D11_RTV_DIMENSION_TEXTURE2D;
    view.Texture2D.MipSlice = 0;
    throwIfFailed(device_->CreateRenderTargetView(backBuffer_.Get(), &view, &backBufferView_),
                  "ID3D11Device::CreateRenderTargetView");
    viewport_ = {0.0f, 0.0f, static_cast<FLOAT>(widthPixels_), static_cast<FLOAT>(heightPixels_), 0.0f, 1.0f};
}

void D3d11Backend::createMultisampledTargets() {
    msaaColorView_.Reset();
    msaaColor_.Reset();
    depthView_.Reset();
    depthBuffer_.Reset();
    std::array<SampleQualityProbe, kProbedSampleCounts.size()> probes{};
    for (std::size_t i = 0; i < kProbedSampleCounts.size(); ++i) {
        SampleQualityProbe& probe = probes[i];
        probe.samples = kProbedSampleCounts[i];
        if (FAILED(device_->CheckMultisampleQualityLevels(DXGI_FORMAT_R8G8B8A8_UNORM, probe.samples,
                                                          &probe.colorLevels))) {
            probe.colorLevels = 0;
        }
        if (FAILED(device_->CheckMultisampleQualityLevels(DXGI_FORMAT_D24_UNORM_S8_UINT, probe.samples,
                                                          &probe.depthLevels))) {
            probe.depthLevels = 0;
        }
    }
    // Below 10_0 a device may report 2x or 4x for the UNORM format and still have no
    // multisampled TYPELESS texture to back the sRGB view: it draws with one sample.
    const SampleMode mode = chooseSampleMode(static_cast<u32>(featureLevel_), probes);
    msaaSampleCount_ = mode.count;
    msaaQuality_ = mode.quality;

    if (msaaSampleCount_ > 1) {
        D3D11_TEXTURE2D_DESC color{};
        color.Width = widthPixels_;
        color.Height = heightPixels_;
        color.MipLevels = 1;
        color.ArraySize = 1;
        color.Format = DXGI_FORMAT_R8G8B8A8_TYPELESS;
        color.SampleDesc = {msaaSampleCount_, msaaQuality_};
        color.Usage = D3D11_USAGE_DEFAULT;
        color.BindFlags = D3D11_BIND_RENDER_TARGET;
        throwIfFailed(device_->CreateTexture2D(&color, nullptr, &msaaColor_),
                      "ID3D11Device::CreateTexture2D(MSAA color)");
        D3D11_RENDER_TARGET_VIEW_DESC view{};
        view.Format = DXGI_FORMAT_R8G8B8A8_UNORM_SRGB;
        view.ViewDimension = D3D11_RTV_DIMENSION_TEXTURE2DMS;
        throwIfFailed(device_->CreateRenderTargetView(msaaColor_.Get(), &view, &msaaColorView_),
                      "ID3D11Device::CreateRenderTargetView(MSAA color)");
    }

    D3D11_TEXTURE2D_DESC depth{};
    depth.Width = widthPixels_;
    depth.Height = heightPixels_;
    depth.MipLevels = 1;
    depth.ArraySize = 1;
    depth.Format = DXGI_FORMAT_D24_UNORM_S8_UINT;
    depth.SampleDesc = {msaaSampleCount_, msaaQuality_};  // must match the colour target's
    depth.Usage = D3D11_USAGE_DEFAULT;
    depth.BindFlags = D3D11_BIND_DEPTH_STENCIL;
    throwIfFailed(device_->CreateTexture2D(&depth, nullptr, &depthBuffer_), "ID3D11Device::CreateTexture2D(depth)");
    throwIfFailed(device_->CreateDepthStencilView(depthBuffer_.Get(), nullptr, &depthView_),
                  "ID3D11Device::CreateDepthStencilView");
}

u32 D3d11Backend::createTargets(u32 widthPixels, u32 heightPixels) {
    widthPixels_ = widthPixels;
    heightPixels_ = heightPixels;
    createBackBufferView();
    createMultisampledTargets();
    return msaaSampleCount_;
}

void D3d11Backend::CreateShaders(bool gpuSkinning) {
    const ComPtr<ID3DBlob> primitiveCode = CompileShader(kPrimitiveVertexHlsl, kPrimitiveVertexProfile);
    const ComPtr<ID3DBlob> pixelCode = CompileShader(kPixelHlsl, kPixelProfile);
    throwIfFailed(device_->CreateVertexShader(primitiveCode->GetBufferPointer(), primitiveCode->GetBufferSize(),
                                              nullptr, &primitiveVertexShader_),
                  "ID3D11Device::CreateVertexShader");
    throwIfFailed(device_->CreatePixelShader(pixelCode->GetBufferPointer(), pixelCode->GetBufferSize(), nullptr,
                                             &pixelShader_),
                  "ID3D11Device::CreatePixelShader");
    throwIfFailed(device_->CreateInputLayout(kPrimitiveElements, static_cast<UINT>(std::size(kPrimitiveElements)),
                                             primitiveCode->GetBufferPointer(), primitiveCode->GetBufferSize(),
                                             &primitiveInputLayout_),
                  "ID3D11Device::CreateInputLayout");
    if (gpuSkinning) {
        const ComPtr<ID3DBlob> modelCode = CompileShader(kModelVertexHlsl, kModelVertexProfile);
        throwIfFailed(device_->CreateVertexShader(modelCode->GetBufferPointer(), modelCode->GetBufferSize(), nullptr,
                                                  &modelVertexShader_),
                      "ID3D11Device::CreateVertexShader(model)");
        throwIfFailed(device_->CreateInputLayout(kSkinnedElements, static_cast<UINT>(std::size(kSkinnedElements)),
                                                 modelCode->GetBufferPointer(), modelCode->GetBufferSize(),
                                                 &modelInputLayout_),
                      "ID3D11Device::CreateInputLayout(model)");
        const D3D11_BUFFER_DESC skin = dynamicConstantBuffer(kSkinConstantsBytes);
        throwIfFailed(device_->CreateBuffer(&skin, nullptr, &skinConstants_),
                      "ID3D11Device::CreateBuffer(skin constants)");
    }
    const D3D11_BUFFER_DESC scene = dynamicConstantBuffer(sizeof(SceneConstants));
    throwIfFailed(device_->CreateBuffer(&scene, nullptr, &sceneConstants_), "ID3D11Device::CreateBuffer(constants)");
}

void D3d11Backend::CreatePipelineStates() {
    D3D11_SAMPLER_DESC sampler{};
    sampler.Filter = D3D11_FILTER_MIN_MAG_MIP_LINEAR;
    sampler.AddressU = D3D11_TEXTURE_ADDRESS_WRAP;
    sampler.AddressV = D3D11_TEXTURE_ADDRESS_WRAP;
    sampler.AddressW = D3D11_TEXTURE_ADDRESS_WRAP;
    sampler.MaxLOD = FLT_MAX;
    throwIfFailed(device_->CreateSamplerState(&sampler, &linearSampler_), "ID3D11Device::CreateSamplerState");

    D3D11_RASTERIZER_DESC raster{};
    raster.FillMode = D3D11_FILL_SOLID;
    raster.CullMode = D3D11_CULL_BACK;
    raster.FrontCounterClockwise = TRUE;
    raster.DepthClipEnable = TRUE;
    // The sample count is the device's, the same after every resize's probe.
    raster.MultisampleEnable =
        rasterizerMultisampleEnable(static_cast<u32>(featureLevel_), msaaSampleCount_) ? TRUE : FALSE;
    throwIfFailed(device_->CreateRasterizerState(&raster, &cullRasterizer_),
                  "ID3D11Device::CreateRasterizerState(cull)");
    raster.CullMode = D3D11_CULL_NONE;
    throwIfFailed(device_->CreateRasterizerState(&raster, &doubleSidedRasterizer_),
                  "ID3D11Device::CreateRasterizerState(double-sided)");

    D3D11_BLEND_DESC blend{};
    blend.RenderTarget[0].RenderTargetWriteMask = D3D11_COLOR_WRITE_ENABLE_ALL;
    throwIfFailed(device_->CreateBlendState(&blend, &opaqueBlend_), "ID3D11Device::CreateBlendState(opaque)");
    D3D11_RENDER_TARGET_BLEND_DESC& target = blend.RenderTarget[0];
    target.BlendEnable = TRUE;
    target.SrcBlend = D3D11_BLEND_SRC_ALPHA;
    target.DestBlend = D3D11_BLEND_INV_SRC_ALPHA;
    target.BlendOp = D3D11_BLEND_OP_ADD;
    target.SrcBlendAlpha = D3D11_BLEND_ONE;
    target.DestBlendAlpha = D3D11_BLEND_INV_SRC_ALPHA;
    target.BlendOpAlpha = D3D11_BLEND_OP_ADD;
    throwIfFailed(device_->CreateBlendState(&blend, &alphaBlend_), "ID3D11Device::CreateBlendState(alpha)");
    target.DestBlend = D3D11_BLEND_ONE;
    target.DestBlendAlpha = D3D11_BLEND_ONE;
    throwIfFailed(device_->CreateBlendState(&blend, &additiveBlend_), "ID3D11Device::CreateBlendState(additive)");

    D3D11_DEPTH_STENCIL_DESC depth{};
    depth.DepthEnable = TRUE;
    depth.DepthWriteMask = D3D11_DEPTH_WRITE_MASK_ALL;
    depth.DepthFunc = D3D11_COMPARISON_LESS_EQUAL;
    depth.StencilEnable = FALSE;
    throwIfFailed(device_->CreateDepthStencilState(&depth, &depthReadWrite_),
                  "ID3D11Device::CreateDepthStencilState(read-write)");
    depth.DepthWriteMask = D3D11_DEPTH_WRITE_MASK_ZERO;
    throwIfFailed(device_->CreateDepthStencilState(&depth, &depthReadOnly_),
                  "ID3D11Device::CreateDepthStencilState(read-only)");
    depth.DepthEnable = FALSE;
    throwIfFailed(device_->CreateDepthStencilState(&depth, &depthDisabled_),
                  "ID3D11Device::CreateDepthStencilState(disabled)");
}

std::u16string D3d11Backend::createPipeline(bool gpuSkinning) {
    CreateShaders(gpuSkinning);
    CreatePipelineStates();
    return gpuSkinning ? u"model vs_4_0 GPU skinning + primitive/ps_4_0_level_9_3"
                       : u"vs/ps_4_0_level_9_3 (CPU skinning fallback)";
}

void D3d11Backend::releaseTargets() noexcept {
    depthView_.Reset();
    depthBuffer_.Reset();
    msaaColorView_.Reset();
    msaaColor_.Reset();
    backBufferView_.Reset();
    backBuffer_.Reset();
}

void D3d11Backend::destroy() noexcept {
    if (context_ != nullptr) {
        context_->ClearState();
        context_->Flush();
    }
    buffers_.clear();
    textures_.clear();
    depthDisabled_.Reset();
    depthReadOnly_.Reset();
    depthReadWrite_.Reset();
    alphaBlend_.Reset();
    additiveBlend_.Reset();
    opaqueBlend_.Reset();
    doubleSidedRasterizer_.Reset();
    cullRasterizer_.Reset();
    linearSampler_.Reset();
    skinConstants_.Reset();
    sceneConstants_.Reset();
    modelInputLayout_.Reset();
    primitiveInputLayout_.Reset();
    pixelShader_.Reset();
    modelVertexShader_.Reset();
    primitiveVertexShader_.Reset();
    releaseTargets();
    if (frameLatencyWaitable_ != nullptr) {
        CloseHandle(frameLatencyWaitable_);
        frameLatencyWaitable_ = nullptr;
    }
    swapChain_.Reset();
    context_.Reset();
    device_.Reset();
    msaaSampleCount_ = 1;
    msaaQuality_ = 0;
}

// ---- Section: Resources ----

GpuBuffer D3d11Backend::createBuffer(const BufferDesc& desc) {
    D3D11_BUFFER_DESC buffer{};
    buffer.ByteWidth = desc.sizeBytes;
    buffer.BindFlags = desc.binding == BufferBinding::vertex ? D3D11_BIND_VERTEX_BUFFER : D3D11_BIND_INDEX_BUFFER;
    const bool immutable = desc.usage == BufferUsage::immutable;
    buffer.Usage = immutable ? D3D11_USAGE_IMMUTABLE : D3D11_USAGE_DYNAMIC;
    buffer.CPUAccessFlags = immutable ? 0 : D3D11_CPU_ACCESS_WRITE;
    D3D11_SUBRESOURCE_DATA initial{};
    initial.pSysMem = desc.initialData.data();
    ComPtr<ID3D11Buffer> created;
    throwIfFailed(device_->CreateBuffer(&buffer, immutable ? &initial : nullptr, &created), desc.operation);
    return static_cast<GpuBuffer>(buffers_.add(std::move(created)));
}

void D3d11Backend::writeDynamic(ID3D11Resource* resource, std::span<const std::byte> bytes, const char* operation) {
    D3D11_MAPPED_SUBRESOURCE mapped{};
    throwIfFailed(context_->Map(resource, 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped), operation);
    std::memcpy(mapped.pData, bytes.data(), bytes.size());
    context_->Unmap(resource, 0);
}

void D3d11Backend::writeBuffer(GpuBuffer buffer, std::span<const std::byte> bytes, const char* operation) {
    writeDynamic(buffers_.at(static_cast<u32>(buffer)).Get(), bytes, operation);
}

std::span<std::byte> D3d11Backend::mapBuffer(GpuBuffer buffer, const char* operation) {
    ID3D11Buffer* target = buffers_.at(static_cast<u32>(buffer)).Get();
    D3D11_MAPPED_SUBRESOURCE mapped{};
    throwIfFailed(context_->Map(target, 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped), operation);
    D3D11_BUFFER_DESC desc{};
    target->GetDesc(&desc);
    return {static_cast<std::byte*>(mapped.pData), desc.ByteWidth};
}

void D3d11Backend::unmapBuffer(GpuBuffer buffer) noexcept {
    context_->Unmap(buffers_.at(static_cast<u32>(buffer)).Get(), 0);
}

void D3d11Backend::releaseBuffer(GpuBuffer buffer) noexcept {
    if (buffer != GpuBuffer::none && !buffers_.empty()) {
        buffers_.release(static_cast<u32>(buffer));
    }
}

GpuTexture D3d11Backend::createTexture(const TextureDesc& desc) {
    D3D11_TEXTURE2D_DESC texture{};
    texture.Width = desc.widthPixels;
    texture.Height = desc.heightPixels;
    texture.MipLevels = 1;
    texture.ArraySize = 1;
    texture.Format = DXGI_FORMAT_R8G8B8A8_UNORM_SRGB;
    texture.SampleDesc = {1, 0};
    texture.Usage = D3D11_USAGE_IMMUTABLE;
    texture.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    D3D11_SUBRESOURCE_DATA initial{};
    initial.pSysMem = desc.pixels.data();
    initial.SysMemPitch = desc.rowPitchBytes;
    ComPtr<ID3D11Texture2D> created;
    throwIfFailed(device_->CreateTexture2D(&texture, &initial, &created), desc.textureOperation);
    ComPtr<ID3D11ShaderResourceView> view;
    throwIfFailed(device_->CreateShaderResourceView(created.Get(), nullptr, &view), desc.viewOperation);
    return static_cast<GpuTexture>(textures_.add(std::move(view)));
}

void D3d11Backend::releaseTexture(GpuTexture texture) noexcept {
    if (texture != GpuTexture::none && !textures_.empty()) {
        textures_.release(static_cast<u32>(texture));
    }
}

// ---- Section: Frame ----

LatencyWaitResult D3d11Backend::waitForFrameLatency() {
    if (frameLatencyWaitable_ == nullptr) {
        return LatencyWait::noWaitable;
    }
    DWORD result = WAIT_IO_COMPLETION;
    // The wait is alertable: queued APCs run inside it, after which it simply starts again.
    while (result == WAIT_IO_COMPLETION) {
        result = WaitForSingleObjectEx(frameLatencyWaitable_, kFrameLatencyWaitMs, TRUE);
    }
    switch (result) {
        case WAIT_OBJECT_0:
            return LatencyWait::signalled;
        case WAIT_TIMEOUT:
            return LatencyWait::timedOut;
        case WAIT_FAILED:
            return LatencyWaitResult(formatText("Frame-latency wait failed with Win32 error %lu.", GetLastError()));
        default:
            return LatencyWaitResult(std::string("Frame-latency wait returned an unexpected result."));
    }
}

void D3d11Backend::beginPass(const Color& clearColor) {
    ID3D11RenderTargetView* target = msaaColorView_ != nullptr ? msaaColorView_.Get() : backBufferView_.Get();
    context_->OMSetRenderTargets(1, &target, depthView_.Get());
    context_->RSSetViewports(1, &viewport_);
    context_->ClearRenderTargetView(target, clearColor.data());
    context_->ClearDepthStencilView(depthView_.Get(), D3D11_CLEAR_DEPTH | D3D11_CLEAR_STENCIL, 1.0f, 0);
}

void D3d11Backend::writeSceneConstants(const SceneConstants& constants) {
    writeDynamic(sceneConstants_.Get(), std::as_bytes(std::span(&constants, 1)), "ID3D11DeviceContext::Map(constants)");
}

void D3d11Backend::writeSkinConstants(std::span<const std::byte, kSkinConstantsBytes> bytes) {
    writeDynamic(skinConstants_.Get(), bytes, "ID3D11DeviceContext::Map(skin constants)");
}

void D3d11Backend::applyDrawState(const DrawState& state) {
    const bool gpuSkinned = state.path == VertexPath::gpuSkinned;
    context_->IASetInputLayout(gpuSkinned ? modelInputLayout_.Get() : primitiveInputLayout_.Get());
    context_->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
    context_->VSSetShader(gpuSkinned ? modelVertexShader_.Get() : primitiveVertexShader_.Get(), nullptr, 0);
    context_->PSSetShader(pixelShader_.Get(), nullptr, 0);
    ID3D11Buffer* scene = sceneConstants_.Get();
    context_->VSSetConstantBuffers(0, 1, &scene);
    if (gpuSkinned) {
        ID3D11Buffer* skin = skinConstants_.Get();
        context_->VSSetConstantBuffers(1, 1, &skin);
    }
    context_->PSSetConstantBuffers(0, 1, &scene);
    ID3D11SamplerState* sampler = linearSampler_.Get();
    context_->PSSetSamplers(0, 1, &sampler);
    ID3D11ShaderResourceView* view = textures_.at(static_cast<u32>(state.texture)).Get();
    context_->PSSetShaderResources(0, 1, &view);
    context_->RSSetState(state.raster == RasterMode::doubleSided ? doubleSidedRasterizer_.Get()
                                                                : cullRasterizer_.Get());
    ID3D11BlendState* blend = state.blend == BlendMode::additive ? additiveBlend_.Get()
                              : state.blend == BlendMode::alpha  ? alphaBlend_.Get()
                                                                 : opaqueBlend_.Get();
    constexpr FLOAT kBlendFactor[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    context_->OMSetBlendState(blend, kBlendFactor, 0xFFFF'FFFFu);
    ID3D11DepthStencilState* depth = state.depth == DepthMode::readWrite  ? depthReadWrite_.Get()
                                     : state.depth == DepthMode::readOnly ? depthReadOnly_.Get()
                                                                          : depthDisabled_.Get();
    context_->OMSetDepthStencilState(depth, 0);
}

void D3d11Backend::drawIndexed(const DrawCall& call) {
    ID3D11Buffer* vertices = buffers_.at(static_cast<u32>(call.vertices)).Get();
    const UINT stride = call.vertexStrideBytes;
    const UINT offset = 0;
    context_->IASetVertexBuffers(0, 1, &vertices, &stride, &offset);
    context_->IASetIndexBuffer(buffers_.at(static_cast<u32>(call.indices)).Get(), DXGI_FORMAT_R32_UINT, 0);
    context_->DrawIndexed(call.indexCount, 0, 0);
}

bool D3d11Backend::resolve() {
    if (msaaColor_ == nullptr) {
        return false;
    }
    context_->OMSetRenderTargets(0, nullptr, nullptr);
    context_->ResolveSubresource(backBuffer_.Get(), 0, msaaColor_.Get(), 0, DXGI_FORMAT_R8G8B8A8_UNORM);
    return true;
}

void D3d11Backend::readBackBuffer(ReadbackConsumer& consumer) {
    ComPtr<ID3D11Texture2D> buffer;
    throwIfFailed(swapChain_->GetBuffer(0, IID_PPV_ARGS(&buffer)), "IDXGISwapChain::GetBuffer(screenshot)");
    D3D11_TEXTURE2D_DESC desc{};
    buffer->GetDesc(&desc);
    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    desc.MiscFlags = 0;
    ComPtr<ID3D11Texture2D> staging;
    throwIfFailed(device_->CreateTexture2D(&desc, nullptr, &staging), "ID3D11Device::CreateTexture2D(screenshot)");
    context_->CopyResource(staging.Get(), buffer.Get());
    D3D11_MAPPED_SUBRESOURCE mapped{};
    throwIfFailed(context_->Map(staging.Get(), 0, D3D11_MAP_READ, 0, &mapped), "ID3D11DeviceContext::Map(screenshot)");
    const MappedResource unmapOnExit(context_.Get(), staging.Get());
    const std::size_t mappedBytes = std::size_t{mapped.RowPitch} * desc.Height;
    consumer.consume({desc.Width, desc.Height, mapped.RowPitch,
                      std::span(static_cast<const std::byte*>(mapped.pData), mappedBytes)});
}

u32 D3d11Backend::present(u8 syncInterval) { return static_cast<u32>(swapChain_->Present(syncInterval, 0)); }

void D3d11Backend::checkPresent(u32 status) {
    const auto hr = static_cast<HRESULT>(status);
    if (hr == DXGI_ERROR_DEVICE_REMOVED || hr == DXGI_ERROR_DEVICE_RESET) {
        // The present result only says "lost"; the removal reason says why.
        ThrowHResultError("D3D11 device lost", static_cast<u32>(device_->GetDeviceRemovedReason()));
    }
    if (FAILED(hr)) {
        ThrowHResultError("IDXGISwapChain::Present", status);
    }
}

u32 D3d11Backend::resizeTargets(u32 widthPixels, u32 heightPixels) {
    if (swapChain_ == nullptr) {
        return msaaSampleCount_;
    }
    context_->OMSetRenderTargets(0, nullptr, nullptr);
    // ResizeBuffers fails while any view of the back buffer is alive, so all of them go first.
    releaseTargets();
    context_->Flush();
    throwIfFailed(swapChain_->ResizeBuffers(0, widthPixels, heightPixels, DXGI_FORMAT_UNKNOWN,
                                            DXGI_SWAP_CHAIN_FLAG_FRAME_LATENCY_WAITABLE_OBJECT),
                  "IDXGISwapChain::ResizeBuffers");
    return createTargets(widthPixels, heightPixels);
}

}  // namespace d3d11
}  // namespace kestrune::render
