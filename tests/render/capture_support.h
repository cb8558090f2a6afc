#pragma once
// Read-back images as the suites of both backends check them: sRGB bytes expected from
// linear colours, where a world point lands, per-pixel comparison of two frames, and the
// test of a multisampled edge; and the frames both backends draw and check the same way.
// Portable: a backend hands its back buffer to Capture through readBackBuffer, and each
// suite says how a presented frame is captured (`Present`).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "base/little_endian.h"
#include "render/render_device.h"
#include "render/test_models.h"
#include "render/test_support.h"

namespace kestrune::render::testing {

inline int srgbByte(f32 linear) {
    const f32 c = std::clamp(linear, 0.0f, 1.0f);
    const f32 encoded = c <= 0.0031308f ? c * 12.92f : 1.055f * std::pow(c, 1.0f / 2.4f) - 0.055f;
    return static_cast<int>(std::lround(encoded * 255.0f));
}

struct Pixel { int r = 0, g = 0, b = 0; };

inline Pixel encoded(const Color& linear) { return {srgbByte(linear[0]), srgbByte(linear[1]), srgbByte(linear[2])}; }

// Looking along +z at the origin from `distance` in front of it.
inline Camera frontCamera(f32 distance = 5.0f) {
    return {{0.0f, 0.0f, -distance}, {0.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, 0.9f, 0.05f, 250.0f};
}
inline constexpr Camera kCharacterCamera{{1.3f, 1.5f, -3.0f}, {0, 0.95f, 0}, {0, 1, 0}, 0.75f, 0.05f, 100.0f};

class Capture final : public ReadbackConsumer {
public:
    void consume(const ReadbackImage& image) override {
        std::tie(width, height, pitch) = std::tuple(image.widthPixels, image.heightPixels, image.rowPitchBytes);
        bytes.assign(image.rgba.begin(), image.rgba.end());
    }
    Pixel at(int x, int y) const {
        const std::byte* p = bytes.data() + pitch * static_cast<std::size_t>(y) + 4 * static_cast<std::size_t>(x);
        return {static_cast<int>(p[0]), static_cast<int>(p[1]), static_cast<int>(p[2])};
    }
    u32 width = 0, height = 0;
    std::size_t pitch = 0;
    std::vector<std::byte> bytes;
};

// The pixel where a world point lands in a frame drawn with `device`'s camera (x right, y down).
inline Pixel pixelAt(const RenderDevice& device, const Capture& image, const Vec3& world) {
    const auto clip = transformPoint(multiply(device.viewMatrix(), device.projectionMatrix()), world);
    const f32 x = (clip[0] / clip[3] * 0.5f + 0.5f) * static_cast<f32>(image.width);
    const f32 y = (0.5f - clip[1] / clip[3] * 0.5f) * static_cast<f32>(image.height);
    return image.at(static_cast<int>(x), static_cast<int>(y));
}

// A quad in the z = depth plane as one primitive draw (appendQuad gives it an upward normal).
inline void drawQuad(RenderDevice& device, f32 x0, f32 y0, f32 x1, f32 y1, f32 depth, const Color& color,
                     bool alphaBlend, bool additive = false) {
    PrimitiveBatch batch;
    const std::array<std::array<f32, 2>, 4> uvs{};
    appendQuad(batch, {x0, y0, depth}, {x1, y0, depth}, {x1, y1, depth}, {x0, y1, depth}, color, uvs);
    device.DrawPrimitives(batch.vertices, batch.indices, kWhiteTexture, alphaBlend, true, identityMatrix(), kWhite,
                          additive);
}

inline void expectBytes(const Pixel& actual, const Pixel& expected, int tolerance) {
    EXPECT_NEAR(actual.r, expected.r, tolerance);
    EXPECT_NEAR(actual.g, expected.g, tolerance);
    EXPECT_NEAR(actual.b, expected.b, tolerance);
}
inline void expectPixel(const Pixel& actual, const Color& linear, int tolerance = 2) {
    expectBytes(actual, encoded(linear), tolerance);
}

// A screenshot file (BMP v3, 24 bits, rows top to bottom) read back as a capture; an
// unreadable file gives an empty one (0 x 0).
inline Capture readScreenshot(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> chars{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto* file = reinterpret_cast<const std::byte*>(chars.data());
    Capture image;
    const i32 width = chars.size() < 54 || chars[0] != 'B' || chars[1] != 'M' ? 0 : loadI32le(file + 18);
    const i32 height = width <= 0 ? 0 : -loadI32le(file + 22);
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    if (width <= 0 || height <= 0 || chars.size() < 54 + rowBytes * static_cast<std::size_t>(height)) {
        return image;
    }
    std::tie(image.width, image.height) = std::tuple(static_cast<u32>(width), static_cast<u32>(height));
    image.pitch = image.width * std::size_t{4};
    image.bytes.resize(image.pitch * image.height, std::byte{0xFF});
    for (std::size_t y = 0; y < image.height; ++y) {
        for (std::size_t x = 0; x < image.width; ++x) {
            const std::byte* bgr = file + 54 + rowBytes * y + 3 * x;
            std::reverse_copy(bgr, bgr + 3, image.bytes.data() + image.pitch * y + 4 * x);
        }
    }
    return image;
}

// Calls `visit(x, y, pixel)` for every pixel of `image`, row by row.
template <class Visit>
void forEachPixel(const Capture& image, Visit visit) {
    for (int y = 0; y < static_cast<int>(image.height); ++y) {
        for (int x = 0; x < static_cast<int>(image.width); ++x) {
            visit(x, y, image.at(x, y));
        }
    }
}

// How two captures of the same size differ: pixels apart by more than `threshold` in any
// channel, and the largest difference.
struct ImageDifference { u32 pixels = 0; int largest = 0; };

inline ImageDifference compare(const Capture& a, const Capture& b, int threshold) {
    ImageDifference difference;
    forEachPixel(a, [&](int x, int y, const Pixel& p) {
        const Pixel q = b.at(x, y);
        const int channel = std::max({std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)});
        difference.largest = std::max(difference.largest, channel);
        difference.pixels += channel > threshold ? 1 : 0;
    });
    return difference;
}

// Pixels that differ from the clear colour.
inline u32 coveredPixels(const Capture& image, const Color& clearColor) {
    u32 covered = 0;
    const Pixel clear = encoded(clearColor);
    forEachPixel(image, [&](int, int, const Pixel& p) {
        covered += std::abs(p.r - clear.r) + std::abs(p.g - clear.g) + std::abs(p.b - clear.b) > 6 ? 1 : 0;
    });
    return covered;
}

// ---- Frames both backends draw and check alike ----

using Present = std::function<Capture()>;  // presents the frame begun and captures it

// A lit opaque surface of this colour and normal: ambient plus the sun (which lies towards
// (-0.38, 0.82, -0.42)) by N.L.
inline Color lit(const Color& c, const Vec3& normal) {
    const f32 sunLength = std::sqrt(0.38f * 0.38f + 0.82f * 0.82f + 0.42f * 0.42f);
    const f32 diffuse = std::max(0.0f, (-0.38f * normal[0] + 0.82f * normal[1] - 0.42f * normal[2]) / sunLength);
    const f32 light = kLitAmbient + kLitDirectional * diffuse;
    return {c[0] * light, c[1] * light, c[2] * light, 1.0f};
}

// Over an opaque grey quad, half-transparent red mixes on the left and adds on the right.
// Neither writes depth, so an opaque green quad drawn after them but behind them covers
// their tops.
inline void expectBlendingWithoutDepthWrites(RenderDevice& device, const Present& present) {
    const Color base{0.2f, 0.2f, 0.2f, 1.0f}, overlay{0.5f, 0.0f, 0.0f, 0.5f}, green{0.1f, 0.8f, 0.1f, 1.0f};
    device.BeginFrame(frontCamera(), 0.0f);
    drawQuad(device, -2.0f, -2.0f, 2.0f, 2.0f, 1.0f, base, true);
    drawQuad(device, -1.0f, -1.0f, 0.0f, 1.0f, 0.5f, overlay, true, false);
    drawQuad(device, 0.0f, -1.0f, 1.0f, 1.0f, 0.5f, overlay, true, true);
    drawQuad(device, -1.0f, 0.5f, 1.0f, 1.0f, 0.75f, green, false);
    const Capture image = present();
    expectPixel(pixelAt(device, image, {-0.5f, 0.0f, 0.5f}), {0.35f, 0.1f, 0.1f, 1.0f});
    expectPixel(pixelAt(device, image, {0.5f, 0.0f, 0.5f}), {0.45f, 0.2f, 0.2f, 1.0f});
    expectPixel(pixelAt(device, image, {1.5f, 1.5f, 1.0f}), base);
    expectPixel(pixelAt(device, image, {-0.5f, 0.75f, 0.75f}), lit(green, {0.0f, 1.0f, 0.0f}));
}

// An unlit red triangle over the clear colour whose long edge crosses the frame at a slant,
// resolved from `samples` samples per pixel the way Direct3D does (the stored sRGB-encoded
// values averaged as UNORM): every pixel lies, in encoded values, k/samples of the way from
// the clear colour to red for some k, within 1 per channel, and with samples more than
// half a row of pixels lie strictly between (the edge).
inline void expectResolvedRedEdge(RenderDevice& device, const Present& present, u32 samples) {
    const Vec3 normal{0.0f, 0.0f, -1.0f};
    const std::vector<PrimitiveVertex> vertices = {
        {{-4.0f, -4.0f, 0.0f}, normal, {}, kRed}, {{4.0f, -4.0f, 0.0f}, normal, {}, kRed},
        {{-4.0f, 3.0f, 0.0f}, normal, {}, kRed}};
    device.BeginFrame(frontCamera(), 0.0f);
    device.DrawPrimitives(vertices, std::vector<u32>{0, 1, 2}, kWhiteTexture, true, true, identityMatrix(), kWhite,
                          false);
    const Capture image = present();
    // The clear colour in a corner is encoded: the target is drawn through its sRGB view.
    expectPixel(image.at(static_cast<int>(image.width) - 1, 0), kClearColor);
    const Pixel clear = encoded(kClearColor), red = encoded(kRed);
    const auto within = [&](int value, int from, int to, u32 k) {
        return std::abs(value - (from + (to - from) * static_cast<double>(k) / samples)) <= 1.0;
    };
    u32 misfits = 0, edgePixels = 0;
    forEachPixel(image, [&](int, int, const Pixel& p) {
        u32 k = 0;
        while (k <= samples &&
               !(within(p.r, clear.r, red.r, k) && within(p.g, clear.g, red.g, k) && within(p.b, clear.b, red.b, k))) {
            ++k;
        }
        misfits += k > samples ? 1 : 0;
        edgePixels += k > 0 && k < samples ? 1 : 0;
    });
    EXPECT_EQ(misfits, 0u);
    if (samples > 1) {
        EXPECT_GT(edgePixels, image.width / 2);
    }
}

// The test character mid-walk (or in its bind pose for a negative time), drawn but not presented.
inline void drawCharacter(RenderDevice& device, f64 timeSeconds) {
    const content::Model character = testCharacter();
    const ModelHandle handle = device.UploadModel(character, ".");
    const std::vector<Matrix4> pose = timeSeconds < 0 ? bindPose(character) : clipPose(character, "walk", timeSeconds);
    device.BeginFrame(kCharacterCamera, 0.0f);
    device.DrawModel(handle, character, pose, identityMatrix(), kWhite, {}, kNoTexture, false);
}

// The character mid-walk skinned by the model vertex program and on the CPU, and its bind
// pose on the GPU path, each on a new 256 x 256 device from `open`: each frame took the
// path it names, the character covers a good part of the frame, the two paths agree but
// for a few edge pixels, and the walk differs from the bind pose. `present` also writes
// the frames as screenshots named after them, for a look by eye.
inline constexpr u32 kSkinningFrameSize = 256;
inline void expectSkinningPathsAgree(const std::function<RenderDevice&(bool gpuSkinning)>& open,
                                     const std::function<Capture(const std::string& name)>& present) {
    // timeSeconds: negative: the bind pose
    const struct { const char* name; bool gpuSkinning; f64 timeSeconds; } frames[] = {
        {"walk-gpu", true, 0.3}, {"walk-cpu", false, 0.3}, {"bind-gpu", true, -1.0}};
    std::vector<Capture> images;
    for (const auto& frame : frames) {
        SCOPED_TRACE(frame.name);
        RenderDevice& device = open(frame.gpuSkinning);
        drawCharacter(device, frame.timeSeconds);
        images.push_back(present(frame.name));
        ASSERT_EQ(images.back().width, kSkinningFrameSize);
        EXPECT_EQ(std::tuple(device.Statistics().gpuSkinnedVertices, device.Statistics().cpuSkinnedVertices),
                  frame.gpuSkinning ? std::tuple(240u, 0u) : std::tuple(0u, 240u));
    }
    const u32 total = kSkinningFrameSize * kSkinningFrameSize;
    EXPECT_GT(coveredPixels(images[0], kClearColor), total / 50);
    const ImageDifference paths = compare(images[0], images[1], 8);
    EXPECT_LT(paths.pixels, total / 500) << "largest difference " << paths.largest;
    EXPECT_GT(compare(images[0], images[2], 8).pixels, total / 100);
}

// The placeholder frame at a fixed time (pulse 1), written where the cross-backend parity
// check reads it (KESTRUNE_PARITY_SCREENSHOT, else `fallback`) and read back from there.
inline constexpr u32 kParitySize = 256;
inline Capture writeParityFrame(RenderDevice& device, const std::filesystem::path& fallback) {
    const char* requested = std::getenv("KESTRUNE_PARITY_SCREENSHOT");
    const std::filesystem::path path = requested != nullptr ? std::filesystem::path(requested) : fallback;
    device.RequestScreenshot(path);
    device.DrawPlaceholderFrame(0.25, 0);
    return readScreenshot(path);
}

}  // namespace kestrune::render::testing
