// The Direct3D 11 backend: its feature-level decisions as tables, then the device on the
// machine's own runtime. The test scripts run this suite on DXVK over lavapipe (they name
// that runtime in KESTRUNE_D3D11_RUNTIME), where every device test must run. Plain Wine 8
// lacks IDXGISwapChain2: there the device tests skip with that reason.
//
// Frames are checked through screenshots, which hold the resolved frame before it is
// presented; a flip-model back buffer read after Present is not the frame just drawn.

#include "render/d3d11/backend_d3d11.h"

#include <gtest/gtest.h>

#include <cctype>
#include <stdexcept>

#include "content/png_writer.h"
#include "render/bmp_encoder.h"
#include "render/capture_support.h"
#include "render/hlsl_sources.h"

namespace kestrune::render {
namespace {

using namespace testing;

// A PNG file of one row of `widthPixels` grey pixels, for textures wider than the shared
// test data holds, written to `path`, which it returns.
std::filesystem::path solidRowPng(const std::filesystem::path& path, u32 widthPixels) {
    const std::vector<u8> rgba(4 * std::size_t{widthPixels}, 200);
    writeFileBytes(path, content::encodePng(widthPixels, 1, content::PngPixels::rgba8, rgba));
    return path;
}

constexpr char kMissingSwapChain2[] = "IDXGISwapChain1::QueryInterface(IDXGISwapChain2) failed with HRESULT 0x80004002";

// ---- Feature-level decisions ----

// A device that reports 4x for both formats at every level: what each level makes of it.
TEST(D3d11FeatureLevels, DecideNameSamplesRasterizerTexturesAndViewPerLevel) {
    const d3d11::SampleQualityProbe fourAndTwo[] = {{4, 3, 2}, {2, 1, 1}};
    constexpr UINT kSrgbTarget = D3D11_FORMAT_SUPPORT_TEXTURE2D | D3D11_FORMAT_SUPPORT_RENDER_TARGET;
    const struct {
        const char16_t* name; u32 level, samples, quality; bool multisampleEnable, gpuSkinning; u32 maxTexture;
        DXGI_FORMAT viewWithoutSrgbTarget;
    } cases[] = {
        {u"unsupported", D3D_FEATURE_LEVEL_9_1, 1, 0, false, false, 2048, DXGI_FORMAT_R8G8B8A8_UNORM},
        {u"9_3", D3D_FEATURE_LEVEL_9_3, 1, 0, false, false, 4096, DXGI_FORMAT_R8G8B8A8_UNORM},
        {u"10_0", D3D_FEATURE_LEVEL_10_0, 4, 1, true, true, 8192, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB},
        {u"10_1", D3D_FEATURE_LEVEL_10_1, 4, 1, false, true, 8192, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB},
        {u"11_0", D3D_FEATURE_LEVEL_11_0, 4, 1, false, true, 16384, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB},
        {u"11_1", D3D_FEATURE_LEVEL_11_1, 4, 1, false, true, 16384, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB},
        {u"unsupported", 0xC000, 4, 1, false, true, 16384, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB},  // 12_0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        const d3d11::SampleMode mode = d3d11::chooseSampleMode(c.level, fourAndTwo);
        const d3d11::FeatureLevelCaps caps = d3d11::featureLevelCaps(c.level);
        // One sample never turns multisampled rasterization on.
        EXPECT_EQ(std::tuple(d3d11::featureLevelText(c.level), mode.count, mode.quality,
                             d3d11::rasterizerMultisampleEnable(c.level, mode.count),
                             d3d11::rasterizerMultisampleEnable(c.level, 1)),
                  std::tuple(c.name, c.samples, c.quality, c.multisampleEnable, false));
        EXPECT_EQ(std::tuple(caps.multisampledTargets, caps.gpuSkinning, caps.maxTextureDimensionPixels,
                             d3d11::backBufferViewFormat(c.level, kSrgbTarget),
                             d3d11::backBufferViewFormat(c.level, D3D11_FORMAT_SUPPORT_TEXTURE2D)),
                  std::tuple(c.samples > 1, c.gpuSkinning, c.maxTexture, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB,
                             c.viewWithoutSrgbTarget));
    }
}

TEST(D3d11FeatureLevels, SampleModeTakesTheFirstCountBothFormatsHave) {
    const struct { const char* name; std::vector<d3d11::SampleQualityProbe> probes; u32 samples, quality; } cases[] = {
        {"4x with one quality level each", {{4, 1, 1}, {2, 1, 1}}, 4, 0},
        {"quality from the smaller count (depth)", {{4, 8, 3}, {2, 1, 1}}, 4, 2},
        {"quality from the smaller count (colour)", {{4, 2, 5}, {2, 1, 1}}, 4, 1},
        {"4x without depth falls to 2x", {{4, 4, 0}, {2, 2, 2}}, 2, 1},
        {"4x without colour falls to 2x", {{4, 0, 4}, {2, 1, 3}}, 2, 0},
        {"neither count", {{4, 0, 4}, {2, 2, 0}}, 1, 0}, {"nothing probed", {}, 1, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const d3d11::SampleMode mode = d3d11::chooseSampleMode(D3D_FEATURE_LEVEL_11_0, c.probes);
        EXPECT_EQ(std::tuple(mode.count, mode.quality), std::tuple(c.samples, c.quality));
    }
}

// ---- Shaders ----

TEST(D3d11Shaders, CompileErrorsCarryTheCompilersTextWithoutItsLineBreak) {
    try {
        d3d11::CompileShader("float4 main() : SV_POSITION { return undefinedName; }\n", kPrimitiveVertexProfile);
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        const std::string message = error.what();
        EXPECT_TRUE(message.starts_with("D3DCompile: ") && message.size() > 12) << message;
        EXPECT_TRUE(std::isprint(static_cast<unsigned char>(message.back()))) << message;  // no line break, no NUL
    }
}

// ---- Devices ----

bool underPreparedRuntime() { return std::getenv("KESTRUNE_D3D11_RUNTIME") != nullptr; }

class D3d11DeviceTest : public ::testing::Test {
protected:
    static constexpr const wchar_t* kWindowClass = L"KestruneRenderTestWindow";

    void SetUp() override {
        output_ = scratchDirectory();
        WNDCLASSW windowClass{
            .lpfnWndProc = DefWindowProcW, .hInstance = GetModuleHandleW(nullptr), .lpszClassName = kWindowClass};
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, kWindowClass, L"render test", WS_OVERLAPPEDWINDOW, 0, 0, 96, 96, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
        ASSERT_NE(window_, nullptr);
        try {
            reopen({}, 64);
        } catch (const std::runtime_error& error) {
            if (std::string(error.what()) == kMissingSwapChain2 && !underPreparedRuntime()) {
                GTEST_SKIP() << "this Direct3D runtime has no IDXGISwapChain2 (Wine 8): " << error.what();
            }
            throw;
        }
    }
    void TearDown() override {
        device_.reset();
        DestroyWindow(window_);
        UnregisterClassW(kWindowClass, GetModuleHandleW(nullptr));
    }

    // A new device of `sizePixels` square on the same window.
    RenderDevice& reopen(const d3d11::D3d11Options& options, u32 sizePixels) {
        device_.reset();
        device_ = std::make_unique<RenderDevice>(std::make_unique<d3d11::D3d11Backend>(options));
        sizePixels_ = sizePixels;
        device_->Create({window_}, sizePixels, sizePixels, false);
        return *device_;
    }

    // Presents the frame drawn since BeginFrame and reads back its screenshot.
    Capture presentAndCapture(const std::string& name) {
        const std::filesystem::path path = output_ / (name + ".bmp");
        device_->RequestScreenshot(path);
        device_->Present(0);
        EXPECT_EQ(std::filesystem::file_size(path), 54 + ((sizePixels_ * 3 + 3) & ~3u) * sizePixels_) << name;
        return readScreenshot(path);
    }
    Present presenting(const std::string& name) { return [this, name] { return presentAndCapture(name); }; }

    HWND window_ = nullptr;
    std::unique_ptr<RenderDevice> device_;
    u32 sizePixels_ = 0;
    std::filesystem::path output_;
};

TEST_F(D3d11DeviceTest, GpuAndCpuSkinningDrawTheSameCharacter) {
    expectSkinningPathsAgree(
        [&](bool gpuSkinning) -> RenderDevice& { return reopen({.gpuSkinning = gpuSkinning}, kSkinningFrameSize); },
        [&](const std::string& name) { return presentAndCapture(name); });
}

TEST_F(D3d11DeviceTest, BlendingWritesNoDepthAndEdgesResolveInEncodedValues) {
    expectBlendingWithoutDepthWrites(reopen({}, 128), presenting("blending"));
    const u32 samples = device_->report().info.msaaSampleCount;
    ASSERT_GT(samples, 1u);
    expectResolvedRedEdge(*device_, presenting("edge"), samples);
}

// A device from the default creation list (11_1 on the prepared runtime; elsewhere the
// machine decides, so that row is skipped) and devices from a one-entry list, as machines
// of those levels give them: the level's sample count, skinning path and shader profile,
// presented frames with their screenshots, paced and resolved (the triangle's edge resolved
// where there are samples, the character on the level's path), a device that keeps drawing
// after a resize (a zero size is ignored), and the texture limit's message for a PNG one
// pixel too wide.
TEST_F(D3d11DeviceTest, FeatureLevelsPresentWithTheirLimits) {
    static constexpr D3D_FEATURE_LEVEL kLevel10_0[] = {D3D_FEATURE_LEVEL_10_0};
    static constexpr D3D_FEATURE_LEVEL kLevel9_3[] = {D3D_FEATURE_LEVEL_9_3};
    // maxTexture: 0: not tried (16384 is also the PNG loader's own limit, whose message comes first)
    const struct {
        std::span<const D3D_FEATURE_LEVEL> levels; const char16_t* text; u32 samples; bool gpuSkinning; u32 maxTexture;
    } cases[] = {
        {d3d11::kFeatureLevels, u"11_1", 4, true, 0}, {kLevel10_0, u"10_0", 4, true, 8192},
        {kLevel9_3, u"9_3", 1, false, 4096}};
    for (const auto& c : cases) {
        const std::string level(c.text, c.text + std::char_traits<char16_t>::length(c.text));
        SCOPED_TRACE(level);
        if (c.levels.size() > 1 && !underPreparedRuntime()) {
            continue;
        }
        reopen({.featureLevels = c.levels}, 64);
        EXPECT_EQ(std::tuple(device_->featureLevelText(), device_->report().info.msaaSampleCount,
                             device_->report().info.gpuSkinningEnabled), std::tuple(c.text, c.samples, c.gpuSkinning));
        EXPECT_TRUE(device_->driverText() == u"hardware" || device_->driverText() == u"warp");
        EXPECT_EQ(device_->shaderProfileText(),
                  c.gpuSkinning ? u"model vs_4_0 GPU skinning + primitive/ps_4_0_level_9_3"
                                : u"vs/ps_4_0_level_9_3 (CPU skinning fallback)");

        expectResolvedRedEdge(*device_, presenting("triangle-" + level), c.samples);
        drawCharacter(*device_, 0.3);
        EXPECT_GT(coveredPixels(presentAndCapture("character-" + level), kClearColor), 64u);
        const RenderStatistics& stats = device_->Statistics();
        EXPECT_EQ(std::tuple(stats.presentedFrames, stats.frameLatencyWaits, stats.drawCalls,
                             stats.antiAliasingResolves, stats.gpuSkinnedVertices, stats.cpuSkinnedVertices),
                  std::tuple(2u, 2u, 3u, c.samples > 1 ? 2u : 0u, c.gpuSkinning ? 240u : 0u,
                             c.gpuSkinning ? 0u : 240u));
        device_->Resize(0, 0);
        device_->Resize(80, 40);
        device_->DrawPlaceholderFrame(0.5, 0);
        EXPECT_EQ(stats.presentedFrames, 3u);
        if (c.maxTexture == 0) {
            continue;
        }
        const std::filesystem::path wide = solidRowPng(output_ / (level + "-wide.png"), c.maxTexture + 1);
        EXPECT_EQ(device_->LoadTexture(solidRowPng(output_ / (level + ".png"), c.maxTexture)), TextureHandle{1});
        expectThrow<std::runtime_error>([&] { device_->LoadTexture(wide); },
                                        "PNG texture of " + std::to_string(c.maxTexture + 1) +
                                            " x 1 pixels exceeds this device's limit of " +
                                            std::to_string(c.maxTexture) + " pixels a side: " + wide.string());
    }
}

TEST_F(D3d11DeviceTest, WritesThePlaceholderParityFrame) {
    const Capture image = writeParityFrame(reopen({}, kParitySize), output_ / "placeholder-d3d11.bmp");
    ASSERT_EQ(std::tuple(image.width, image.height), std::tuple(kParitySize, kParitySize));
    EXPECT_GT(coveredPixels(image, kClearColor), kParitySize * kParitySize / 100);  // the triangle: some 2 %
}

}  // namespace
}  // namespace kestrune::render
