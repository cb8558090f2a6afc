#pragma once
// Screen quads and the text laid out of them. A QuadBatch holds a fixed number of quads in
// pixels of the window (origin at the top left, y down), allocated once and drawn with
// RenderDevice::DrawScreenPrimitives; a full batch refuses more rather than growing, so a
// frame allocates nothing. TextPainter lays UTF-8 out with the baked font: the strike
// nearest the wanted size, its advances and kerning, glyphs the font lacks (and bytes that
// are not UTF-8) drawn as its fallback glyph.

#include <span>
#include <string_view>
#include <vector>

#include "base/types.h"
#include "content/font_atlas.h"
#include "render/render_types.h"

namespace kestrune::hud {

struct ScreenRect {
    f32 x = 0.0f;  // left, pixels
    f32 y = 0.0f;  // top
    f32 width = 0.0f;
    f32 height = 0.0f;
};

class QuadBatch {
public:
    explicit QuadBatch(u32 quadCapacity);

    void clear() noexcept { quads_ = 0; }
    // Appends a quad with texture coordinates (u0, v0) at its top left and (u1, v1) at its
    // bottom right; false, and counted, when the batch is full.
    bool add(const ScreenRect& rect, f32 u0, f32 v0, f32 u1, f32 v1, const render::Color& color) noexcept;
    bool addSolid(const ScreenRect& rect, const render::Color& color) noexcept {
        return add(rect, 0.0f, 0.0f, 0.0f, 0.0f, color);
    }

    std::span<const render::PrimitiveVertex> vertices() const noexcept {
        return std::span(vertices_).first(std::size_t{quads_} * 4);
    }
    std::span<const u32> indices() const noexcept { return std::span(indices_).first(std::size_t{quads_} * 6); }
    u32 quadCount() const noexcept { return quads_; }
    u64 refusedQuads() const noexcept { return refused_; }

private:
    std::vector<render::PrimitiveVertex> vertices_;
    std::vector<u32> indices_;  // every quad's two triangles, written once
    u32 quads_ = 0;
    u64 refused_ = 0;
};

enum class TextAlign : u8 { left, centre, right };

// The strike text of a wanted size is drawn from, and how much it is scaled.
struct TextSizing {
    const content::FontStrike* strike = nullptr;
    f32 scale = 1.0f;
};

class TextPainter {
public:
    // The font must outlive the painter; it holds at least one strike (the decoder's promise).
    explicit TextPainter(const content::FontAtlas& font) noexcept : font_(&font) {}

    // A strike within a tenth of the wanted size is drawn unscaled (crisp); otherwise the
    // smallest strike larger than it is scaled down, or the largest one up.
    TextSizing sizing(f32 pixelSize) const noexcept;
    // Pixels from the baseline up to the top of the tallest letters, and the line's height.
    f32 ascent(f32 pixelSize) const noexcept;
    f32 lineHeight(f32 pixelSize) const noexcept;
    f32 measure(std::string_view text, f32 pixelSize) const noexcept;
    // Lays `text` out with its baseline at `baselineY`, starting, centred or ending at `x`;
    // returns its width. Unscaled text starts on whole pixels.
    f32 draw(QuadBatch& batch, std::string_view text, f32 x, f32 baselineY, f32 pixelSize, TextAlign align,
             const render::Color& color) const noexcept;

private:
    const content::FontAtlas* font_;
};

// The next character of `text` from `at` (moved past it): a well-formed UTF-8 sequence's
// code point, or the fallback for a byte that starts none.
u32 nextCodepoint(std::string_view text, std::size_t& at) noexcept;

}  // namespace kestrune::hud
